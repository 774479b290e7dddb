// The Windows Mobile Broadband API interfaces, declared once with Windows' names, methods and method
// order. On Windows these are the operating system's COM interfaces; on POSIX (and with
// TXL_MODEM=sim on Windows) the simulated notebook implements them.
#pragma once

#include <cstddef>

#include "platform/com.h"

namespace plat {

// ---- Class and interface ids -------------------------------------------------------------------

inline constexpr GUID CLSID_MbnInterfaceManager = {
    0xBDFEE05B, 0x4418, 0x11DD, {0x90, 0xED, 0x00, 0x1C, 0x25, 0x7C, 0xCF, 0xF1}};
inline constexpr GUID CLSID_MbnConnectionManager = {
    0xBDFEE05C, 0x4418, 0x11DD, {0x90, 0xED, 0x00, 0x1C, 0x25, 0x7C, 0xCF, 0xF1}};
inline constexpr GUID CLSID_MbnConnectionProfileManager = {
    0xBDFEE05A, 0x4418, 0x11DD, {0x90, 0xED, 0x00, 0x1C, 0x25, 0x7C, 0xCF, 0xF1}};
inline constexpr GUID CLSID_MbnDeviceServicesManager = {
    0x2269DAA3, 0x2A9F, 0x4165, {0xA5, 0x01, 0xCE, 0x00, 0xA6, 0xF7, 0xA7, 0x5B}};

#define TXL_MBN_IID(name, d1, d2)                                                       \
  inline constexpr GUID IID_##name = {d1, d2, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, \
                                                       0xF6, 0xFA}}
TXL_MBN_IID(IMbnInterfaceManager, 0xDCBBBAB6, 0x201B);
TXL_MBN_IID(IMbnInterfaceManagerEvents, 0xDCBBBAB6, 0x201C);
TXL_MBN_IID(IMbnInterface, 0xDCBBBAB6, 0x2001);
TXL_MBN_IID(IMbnInterfaceEvents, 0xDCBBBAB6, 0x2002);
TXL_MBN_IID(IMbnSignal, 0xDCBBBAB6, 0x2003);
TXL_MBN_IID(IMbnSignalEvents, 0xDCBBBAB6, 0x2004);
TXL_MBN_IID(IMbnRegistration, 0xDCBBBAB6, 0x2009);
TXL_MBN_IID(IMbnRegistrationEvents, 0xDCBBBAB6, 0x200A);
TXL_MBN_IID(IMbnConnection, 0xDCBBBAB6, 0x200D);
TXL_MBN_IID(IMbnConnectionEvents, 0xDCBBBAB6, 0x200E);
TXL_MBN_IID(IMbnConnectionProfileManager, 0xDCBBBAB6, 0x200F);
TXL_MBN_IID(IMbnConnectionManager, 0xDCBBBAB6, 0x201D);
TXL_MBN_IID(IMbnConnectionManagerEvents, 0xDCBBBAB6, 0x201E);
TXL_MBN_IID(IMbnConnectionProfileManagerEvents, 0xDCBBBAB6, 0x201F);
TXL_MBN_IID(IMbnRadio, 0xDCCCCAB6, 0x201F);        // look-alike of the two 201F ids above
TXL_MBN_IID(IMbnRadioEvents, 0xDCDDDAB6, 0x201F);  // look-alike of the two 201F ids above
#undef TXL_MBN_IID

inline constexpr GUID IID_IMbnSubscriberInformation = {
    0x459ECC43, 0xBCF5, 0x11DC, {0xA8, 0xA8, 0x00, 0x13, 0x21, 0xF1, 0x40, 0x5F}};
inline constexpr GUID IID_IMbnDeviceServicesManager = {
    0x20A26258, 0x6811, 0x4478, {0xAC, 0x1D, 0x13, 0x32, 0x4E, 0x45, 0xE4, 0x1C}};
inline constexpr GUID IID_IMbnDeviceServicesContext = {
    0xFC5AC347, 0x1592, 0x4068, {0x80, 0xBB, 0x6A, 0x57, 0x58, 0x01, 0x50, 0xD8}};
inline constexpr GUID IID_IMbnDeviceService = {
    0xB3BB9A71, 0xDC70, 0x4BE9, {0xA4, 0xDA, 0x78, 0x86, 0xAE, 0x8B, 0x19, 0x1B}};
inline constexpr GUID IID_IMbnDeviceServicesEvents = {
    0x0A900C19, 0x6824, 0x4E97, {0xB7, 0x6E, 0xCF, 0x23, 0x9D, 0x0C, 0xA6, 0x42}};

// ---- Enumerations (all 32-bit) ------------------------------------------------------------------

enum MBN_READY_STATE : std::int32_t {
  MBN_READY_STATE_OFF = 0,
  MBN_READY_STATE_INITIALIZED = 1,
  MBN_READY_STATE_SIM_NOT_INSERTED = 2,
  MBN_READY_STATE_BAD_SIM = 3,
  MBN_READY_STATE_FAILURE = 4,
  MBN_READY_STATE_NOT_ACTIVATED = 5,
  MBN_READY_STATE_DEVICE_LOCKED = 6,
  MBN_READY_STATE_DEVICE_BLOCKED = 7,
  MBN_READY_STATE_NO_ESIM_PROFILE = 8,
};
enum MBN_DEVICE_SERVICES_INTERFACE_STATE : std::int32_t {
  MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL = 0,
  MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL = 1,
};
enum MBN_RADIO : std::int32_t { MBN_RADIO_OFF = 0, MBN_RADIO_ON = 1 };
enum MBN_REGISTER_STATE : std::int32_t {
  MBN_REGISTER_STATE_NONE = 0,
  MBN_REGISTER_STATE_DEREGISTERED = 1,
  MBN_REGISTER_STATE_SEARCHING = 2,
  MBN_REGISTER_STATE_HOME = 3,
  MBN_REGISTER_STATE_ROAMING = 4,
  MBN_REGISTER_STATE_PARTNER = 5,
  MBN_REGISTER_STATE_DENIED = 6,
};
enum MBN_REGISTER_MODE : std::int32_t {
  MBN_REGISTER_MODE_NONE = 0,
  MBN_REGISTER_MODE_AUTOMATIC = 1,
  MBN_REGISTER_MODE_MANUAL = 2,
};
enum MBN_ACTIVATION_STATE : std::int32_t {
  MBN_ACTIVATION_STATE_NONE = 0,
  MBN_ACTIVATION_STATE_ACTIVATED = 1,
  MBN_ACTIVATION_STATE_ACTIVATING = 2,
  MBN_ACTIVATION_STATE_DEACTIVATED = 3,
  MBN_ACTIVATION_STATE_DEACTIVATING = 4,
};
enum MBN_CONNECTION_MODE : std::int32_t {
  MBN_CONNECTION_MODE_PROFILE = 0,
  MBN_CONNECTION_MODE_TMP_PROFILE = 1,
};
enum MBN_VOICE_CALL_STATE : std::int32_t {
  MBN_VOICE_CALL_STATE_NONE = 0,
  MBN_VOICE_CALL_STATE_IN_PROGRESS = 1,
  MBN_VOICE_CALL_STATE_HANGUP = 2,
};
enum MBN_CELLULAR_CLASS : std::int32_t {
  MBN_CELLULAR_CLASS_NONE = 0,
  MBN_CELLULAR_CLASS_GSM = 1,
  MBN_CELLULAR_CLASS_CDMA = 2,
};
enum MBN_VOICE_CLASS : std::int32_t {
  MBN_VOICE_CLASS_NONE = 0,
  MBN_VOICE_CLASS_NO_VOICE = 1,
  MBN_VOICE_CLASS_SEPARATE_VOICE_DATA = 2,
  MBN_VOICE_CLASS_SIMULTANEOUS_VOICE_DATA = 3,
};

inline constexpr ULONG MBN_DATA_CLASS_NONE = 0x00000000;
inline constexpr ULONG MBN_DATA_CLASS_GPRS = 0x00000001;
inline constexpr ULONG MBN_DATA_CLASS_EDGE = 0x00000002;
inline constexpr ULONG MBN_DATA_CLASS_UMTS = 0x00000004;
inline constexpr ULONG MBN_DATA_CLASS_HSDPA = 0x00000008;
inline constexpr ULONG MBN_DATA_CLASS_HSUPA = 0x00000010;
inline constexpr ULONG MBN_DATA_CLASS_LTE = 0x00000020;
inline constexpr ULONG MBN_DATA_CLASS_CUSTOM = 0x80000000;

inline constexpr ULONG MBN_DEVICEID_LEN = 18;
inline constexpr ULONG MBN_MANUFACTURER_LEN = 32;
inline constexpr ULONG MBN_MODEL_LEN = 32;
inline constexpr ULONG MBN_FIRMWARE_LEN = 32;

// ---- Structures (natural alignment, as in the SDK header) ---------------------------------------

struct MBN_INTERFACE_CAPS {
  MBN_CELLULAR_CLASS cellularClass;
  MBN_VOICE_CLASS voiceClass;
  ULONG dataClass;
  BSTR customDataClass;
  ULONG gsmBandClass;
  ULONG cdmaBandClass;
  BSTR customBandClass;
  ULONG smsCaps;
  ULONG controlCaps;
  BSTR deviceID;
  BSTR manufacturer;
  BSTR model;
  BSTR firmwareInfo;
};

struct MBN_PROVIDER {
  BSTR providerID;
  ULONG providerState;
  BSTR providerName;
  ULONG dataClass;
};

struct MBN_DEVICE_SERVICE {
  BSTR deviceServiceID;
  VARIANT_BOOL dataWriteSupported;
  VARIANT_BOOL dataReadSupported;
};

// The layouts the system's Mobile Broadband API hands over, field by field, for both Windows
// architectures (natural alignment: 4-byte pointers on x86, 8-byte ones on x64 with padding before
// each pointer that follows a 32-bit field). A record read with the wrong offsets would hand the
// library another field's string to free.
static_assert(sizeof(MBN_READY_STATE) == 4 && sizeof(MBN_CELLULAR_CLASS) == 4 && sizeof(MBN_VOICE_CLASS) == 4 &&
              sizeof(MBN_DEVICE_SERVICES_INTERFACE_STATE) == 4);
static_assert(sizeof(VARIANT_BOOL) == 2 && sizeof(BOOL) == 4 && sizeof(ULONG) == 4 && sizeof(HRESULT) == 4);
static_assert(offsetof(MBN_INTERFACE_CAPS, cellularClass) == 0 && offsetof(MBN_INTERFACE_CAPS, voiceClass) == 4 &&
              offsetof(MBN_INTERFACE_CAPS, dataClass) == 8);
#if defined(_WIN32) && !defined(_WIN64)
// 32-bit Windows.
static_assert(sizeof(void*) == 4);
static_assert(sizeof(MBN_INTERFACE_CAPS) == 52);
static_assert(offsetof(MBN_INTERFACE_CAPS, customDataClass) == 12);
static_assert(offsetof(MBN_INTERFACE_CAPS, gsmBandClass) == 16);
static_assert(offsetof(MBN_INTERFACE_CAPS, cdmaBandClass) == 20);
static_assert(offsetof(MBN_INTERFACE_CAPS, customBandClass) == 24);
static_assert(offsetof(MBN_INTERFACE_CAPS, smsCaps) == 28);
static_assert(offsetof(MBN_INTERFACE_CAPS, controlCaps) == 32);
static_assert(offsetof(MBN_INTERFACE_CAPS, deviceID) == 36);
static_assert(offsetof(MBN_INTERFACE_CAPS, manufacturer) == 40);
static_assert(offsetof(MBN_INTERFACE_CAPS, model) == 44);
static_assert(offsetof(MBN_INTERFACE_CAPS, firmwareInfo) == 48);
static_assert(sizeof(MBN_PROVIDER) == 16);
static_assert(offsetof(MBN_PROVIDER, providerState) == 4 && offsetof(MBN_PROVIDER, providerName) == 8 &&
              offsetof(MBN_PROVIDER, dataClass) == 12);
static_assert(sizeof(MBN_DEVICE_SERVICE) == 8);
static_assert(offsetof(MBN_DEVICE_SERVICE, dataWriteSupported) == 4 &&
              offsetof(MBN_DEVICE_SERVICE, dataReadSupported) == 6);
#elif defined(_WIN64) || (defined(__LP64__) && !defined(_WIN32))
// 64-bit Windows and the 64-bit POSIX build share the layout (8-byte pointers).
static_assert(sizeof(void*) == 8);
static_assert(sizeof(MBN_INTERFACE_CAPS) == 80);
static_assert(offsetof(MBN_INTERFACE_CAPS, customDataClass) == 16);
static_assert(offsetof(MBN_INTERFACE_CAPS, gsmBandClass) == 24);
static_assert(offsetof(MBN_INTERFACE_CAPS, cdmaBandClass) == 28);
static_assert(offsetof(MBN_INTERFACE_CAPS, customBandClass) == 32);
static_assert(offsetof(MBN_INTERFACE_CAPS, smsCaps) == 40);
static_assert(offsetof(MBN_INTERFACE_CAPS, controlCaps) == 44);
static_assert(offsetof(MBN_INTERFACE_CAPS, deviceID) == 48);
static_assert(offsetof(MBN_INTERFACE_CAPS, manufacturer) == 56);
static_assert(offsetof(MBN_INTERFACE_CAPS, model) == 64);
static_assert(offsetof(MBN_INTERFACE_CAPS, firmwareInfo) == 72);
static_assert(sizeof(MBN_PROVIDER) == 32);
static_assert(offsetof(MBN_PROVIDER, providerState) == 8 && offsetof(MBN_PROVIDER, providerName) == 16 &&
              offsetof(MBN_PROVIDER, dataClass) == 24);
static_assert(sizeof(MBN_DEVICE_SERVICE) == 16);
static_assert(offsetof(MBN_DEVICE_SERVICE, dataWriteSupported) == 8 &&
              offsetof(MBN_DEVICE_SERVICE, dataReadSupported) == 10);
#endif

// ---- Interfaces ----------------------------------------------------------------------------------

struct IMbnInterface;
struct IMbnSubscriberInformation;
struct IMbnConnection;
struct IMbnConnectionProfile;
struct IMbnRadio;
struct IMbnRegistration;
struct IMbnSignal;
struct IMbnDeviceServicesContext;
struct IMbnDeviceService;

#define TXL_IFACE_TAIL(name)                      \
  static constexpr const GUID& kIid = IID_##name; \
                                                  \
 protected:                                       \
  ~name() = default

struct IMbnInterfaceManager : IUnknown {
  virtual HRESULT TXL_STDCALL GetInterface(const char16_t* interfaceID, IMbnInterface** mbnInterface) = 0;
  virtual HRESULT TXL_STDCALL GetInterfaces(SAFEARRAY** mbnInterfaces) = 0;
  TXL_IFACE_TAIL(IMbnInterfaceManager);
};

struct IMbnInterface : IUnknown {
  virtual HRESULT TXL_STDCALL get_InterfaceID(BSTR* InterfaceID) = 0;
  virtual HRESULT TXL_STDCALL GetInterfaceCapability(MBN_INTERFACE_CAPS* interfaceCaps) = 0;
  virtual HRESULT TXL_STDCALL GetSubscriberInformation(IMbnSubscriberInformation** subscriberInformation) = 0;
  virtual HRESULT TXL_STDCALL GetReadyState(MBN_READY_STATE* readyState) = 0;
  virtual HRESULT TXL_STDCALL InEmergencyMode(VARIANT_BOOL* emergencyMode) = 0;
  virtual HRESULT TXL_STDCALL GetHomeProvider(MBN_PROVIDER* homeProvider) = 0;
  virtual HRESULT TXL_STDCALL GetPreferredProviders(SAFEARRAY** preferredProviders) = 0;
  virtual HRESULT TXL_STDCALL SetPreferredProviders(SAFEARRAY* preferredProviders, ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL GetVisibleProviders(ULONG* age, SAFEARRAY** visibleProviders) = 0;
  virtual HRESULT TXL_STDCALL ScanNetwork(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL GetConnection(IMbnConnection** mbnConnection) = 0;
  TXL_IFACE_TAIL(IMbnInterface);
};

struct IMbnSubscriberInformation : IUnknown {
  virtual HRESULT TXL_STDCALL get_SubscriberID(BSTR* SubscriberID) = 0;
  virtual HRESULT TXL_STDCALL get_SimIccID(BSTR* SimIccID) = 0;
  virtual HRESULT TXL_STDCALL get_TelephoneNumbers(SAFEARRAY** TelephoneNumbers) = 0;
  TXL_IFACE_TAIL(IMbnSubscriberInformation);
};

struct IMbnDeviceServicesManager : IUnknown {
  virtual HRESULT TXL_STDCALL GetDeviceServicesContext(BSTR networkInterfaceID,
                                                       IMbnDeviceServicesContext** mbnDevicesContext) = 0;
  TXL_IFACE_TAIL(IMbnDeviceServicesManager);
};

struct IMbnDeviceServicesContext : IUnknown {
  virtual HRESULT TXL_STDCALL EnumerateDeviceServices(SAFEARRAY** deviceServices) = 0;
  virtual HRESULT TXL_STDCALL GetDeviceService(BSTR deviceServiceID, IMbnDeviceService** mbnDeviceService) = 0;
  virtual HRESULT TXL_STDCALL get_MaxCommandSize(ULONG* maxCommandSize) = 0;
  virtual HRESULT TXL_STDCALL get_MaxDataSize(ULONG* maxDataSize) = 0;
  TXL_IFACE_TAIL(IMbnDeviceServicesContext);
};

struct IMbnDeviceService : IUnknown {
  virtual HRESULT TXL_STDCALL QuerySupportedCommands(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL OpenCommandSession(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL CloseCommandSession(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL SetCommand(ULONG commandID, SAFEARRAY* deviceServiceData, ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL QueryCommand(ULONG commandID, SAFEARRAY* deviceServiceData, ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL OpenDataSession(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL CloseDataSession(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL WriteData(SAFEARRAY* deviceServiceData, ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL get_InterfaceID(BSTR* InterfaceID) = 0;
  virtual HRESULT TXL_STDCALL get_DeviceServiceID(BSTR* DeviceServiceID) = 0;
  virtual HRESULT TXL_STDCALL get_IsCommandSessionOpen(BOOL* value) = 0;
  virtual HRESULT TXL_STDCALL get_IsDataSessionOpen(BOOL* value) = 0;
  TXL_IFACE_TAIL(IMbnDeviceService);
};

// Device-services completions put status before requestID; the older event interfaces below put
// requestID before status.
struct IMbnDeviceServicesEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnQuerySupportedCommandsComplete(IMbnDeviceService* deviceService,
                                                               SAFEARRAY* commandIDList, HRESULT status,
                                                               ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnOpenCommandSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                           ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnCloseCommandSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                            ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnSetCommandComplete(IMbnDeviceService* deviceService, ULONG responseID,
                                                   SAFEARRAY* deviceServiceData, HRESULT status,
                                                   ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnQueryCommandComplete(IMbnDeviceService* deviceService, ULONG responseID,
                                                     SAFEARRAY* deviceServiceData, HRESULT status,
                                                     ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnEventNotification(IMbnDeviceService* deviceService, ULONG eventID,
                                                  SAFEARRAY* deviceServiceData) = 0;
  virtual HRESULT TXL_STDCALL OnOpenDataSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                        ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnCloseDataSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                         ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnWriteDataComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                  ULONG requestID) = 0;
  virtual HRESULT TXL_STDCALL OnReadData(IMbnDeviceService* deviceService, SAFEARRAY* deviceServiceData) = 0;
  virtual HRESULT TXL_STDCALL OnInterfaceStateChange(BSTR interfaceID,
                                                     MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange) = 0;
  TXL_IFACE_TAIL(IMbnDeviceServicesEvents);
};

struct IMbnRadio : IUnknown {
  virtual HRESULT TXL_STDCALL get_SoftwareRadioState(MBN_RADIO* SoftwareRadioState) = 0;
  virtual HRESULT TXL_STDCALL get_HardwareRadioState(MBN_RADIO* HardwareRadioState) = 0;
  virtual HRESULT TXL_STDCALL SetSoftwareRadioState(MBN_RADIO radioState, ULONG* requestID) = 0;
  TXL_IFACE_TAIL(IMbnRadio);
};

struct IMbnRadioEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnRadioStateChange(IMbnRadio* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnSetSoftwareRadioStateComplete(IMbnRadio* newInterface, ULONG requestID,
                                                              HRESULT status) = 0;
  TXL_IFACE_TAIL(IMbnRadioEvents);
};

struct IMbnRegistration : IUnknown {
  virtual HRESULT TXL_STDCALL GetRegisterState(MBN_REGISTER_STATE* registerState) = 0;
  virtual HRESULT TXL_STDCALL GetRegisterMode(MBN_REGISTER_MODE* registerMode) = 0;
  virtual HRESULT TXL_STDCALL GetProviderID(BSTR* providerID) = 0;
  virtual HRESULT TXL_STDCALL GetProviderName(BSTR* providerName) = 0;
  virtual HRESULT TXL_STDCALL GetRoamingText(BSTR* roamingText) = 0;
  virtual HRESULT TXL_STDCALL GetAvailableDataClasses(ULONG* availableDataClasses) = 0;
  virtual HRESULT TXL_STDCALL GetCurrentDataClass(ULONG* currentDataClass) = 0;
  virtual HRESULT TXL_STDCALL GetRegistrationNetworkError(ULONG* registrationNetworkError) = 0;
  virtual HRESULT TXL_STDCALL GetPacketAttachNetworkError(ULONG* packetAttachNetworkError) = 0;
  virtual HRESULT TXL_STDCALL SetRegisterMode(MBN_REGISTER_MODE registerMode, const char16_t* providerID,
                                              ULONG dataClass, ULONG* requestID) = 0;
  TXL_IFACE_TAIL(IMbnRegistration);
};

struct IMbnRegistrationEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnRegisterModeAvailable(IMbnRegistration* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnRegisterStateChange(IMbnRegistration* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnPacketServiceStateChange(IMbnRegistration* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnSetRegisterModeComplete(IMbnRegistration* newInterface, ULONG requestID,
                                                        HRESULT status) = 0;
  TXL_IFACE_TAIL(IMbnRegistrationEvents);
};

struct IMbnSignal : IUnknown {
  virtual HRESULT TXL_STDCALL GetSignalStrength(ULONG* signalStrength) = 0;
  virtual HRESULT TXL_STDCALL GetSignalError(ULONG* signalError) = 0;
  TXL_IFACE_TAIL(IMbnSignal);
};

struct IMbnSignalEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnSignalStateChange(IMbnSignal* newInterface) = 0;
  TXL_IFACE_TAIL(IMbnSignalEvents);
};

struct IMbnInterfaceEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnInterfaceCapabilityAvailable(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnSubscriberInformationChange(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnReadyStateChange(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnEmergencyModeChange(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnHomeProviderAvailable(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnPreferredProvidersChange(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnSetPreferredProvidersComplete(IMbnInterface* newInterface, ULONG requestID,
                                                              HRESULT status) = 0;
  virtual HRESULT TXL_STDCALL OnScanNetworkComplete(IMbnInterface* newInterface, ULONG requestID,
                                                    HRESULT status) = 0;
  TXL_IFACE_TAIL(IMbnInterfaceEvents);
};

struct IMbnInterfaceManagerEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnInterfaceArrival(IMbnInterface* newInterface) = 0;
  virtual HRESULT TXL_STDCALL OnInterfaceRemoval(IMbnInterface* oldInterface) = 0;
  TXL_IFACE_TAIL(IMbnInterfaceManagerEvents);
};

struct IMbnConnection : IUnknown {
  virtual HRESULT TXL_STDCALL get_ConnectionID(BSTR* ConnectionID) = 0;
  virtual HRESULT TXL_STDCALL get_InterfaceID(BSTR* InterfaceID) = 0;
  virtual HRESULT TXL_STDCALL Connect(MBN_CONNECTION_MODE connectionMode, const char16_t* strProfile,
                                      ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL Disconnect(ULONG* requestID) = 0;
  virtual HRESULT TXL_STDCALL GetConnectionState(MBN_ACTIVATION_STATE* ConnectionState, BSTR* ProfileName) = 0;
  virtual HRESULT TXL_STDCALL GetVoiceCallState(MBN_VOICE_CALL_STATE* voiceCallState) = 0;
  virtual HRESULT TXL_STDCALL GetActivationNetworkError(ULONG* networkError) = 0;
  TXL_IFACE_TAIL(IMbnConnection);
};

struct IMbnConnectionEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnConnectComplete(IMbnConnection* newConnection, ULONG requestID,
                                                HRESULT status) = 0;
  virtual HRESULT TXL_STDCALL OnDisconnectComplete(IMbnConnection* newConnection, ULONG requestID,
                                                   HRESULT status) = 0;
  virtual HRESULT TXL_STDCALL OnConnectStateChange(IMbnConnection* newConnection) = 0;
  virtual HRESULT TXL_STDCALL OnVoiceCallStateChange(IMbnConnection* newConnection) = 0;
  TXL_IFACE_TAIL(IMbnConnectionEvents);
};

struct IMbnConnectionManager : IUnknown {
  virtual HRESULT TXL_STDCALL GetConnection(const char16_t* connectionID, IMbnConnection** mbnConnection) = 0;
  virtual HRESULT TXL_STDCALL GetConnections(SAFEARRAY** mbnConnections) = 0;
  TXL_IFACE_TAIL(IMbnConnectionManager);
};

struct IMbnConnectionManagerEvents : IUnknown {
  virtual HRESULT TXL_STDCALL OnConnectionArrival(IMbnConnection* newConnection) = 0;
  virtual HRESULT TXL_STDCALL OnConnectionRemoval(IMbnConnection* oldConnection) = 0;
  TXL_IFACE_TAIL(IMbnConnectionManagerEvents);
};

struct IMbnConnectionProfileManager : IUnknown {
  virtual HRESULT TXL_STDCALL GetConnectionProfiles(IMbnInterface* mbnInterface, SAFEARRAY** connectionProfiles) = 0;
  virtual HRESULT TXL_STDCALL GetConnectionProfile(IMbnInterface* mbnInterface, const char16_t* profileName,
                                                   IMbnConnectionProfile** connectionProfile) = 0;
  virtual HRESULT TXL_STDCALL CreateConnectionProfile(const char16_t* xmlProfile) = 0;
  TXL_IFACE_TAIL(IMbnConnectionProfileManager);
};

#undef TXL_IFACE_TAIL

// Frees the strings GetInterfaceCapability handed out and clears the record.
void FreeInterfaceCaps(MBN_INTERFACE_CAPS* caps);

}  // namespace plat
