#include "api/identify/identify.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/exports.h"
#include "api/support/global_tools.h"
#include "platform/com.h"
#include "platform/dll.h"
#include "platform/fs.h"
#include "platform/mbn.h"
#include "platform/process.h"
#include "platform/setup_api.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace krill {

std::uint32_t ntype = kTypeUnknown;
std::int32_t g_ulRetValue = 1;
AtSendFun vexelAtSendFun = nullptr;
AtSendFun KestrelVexelAtSendFun = nullptr;
MoblieBandInfo g_MoblieBandInfo;
// Kept: releasing it would tear the platform's objects down between calls.
plat::IMbnInterfaceManager* g_InterfaceManager = nullptr;

namespace {

using IGlobalTools::kLevelFailure;
using IGlobalTools::kLevelInformation;

// Every bridge library ever loaded stays loaded: the bound entry points point into it.
std::vector<std::unique_ptr<plat::DynamicLibrary>>& LoadedBridges() {
  static auto* libraries = new std::vector<std::unique_ptr<plat::DynamicLibrary>>();
  return *libraries;
}

template <class... Args>
void Log(int level, const char* format, Args... args) {
  if (IGlobalTools::ILogEx* log = IGlobalTools::GetApiLog()) log->WriteLog(level, format, args...);
}

std::string Narrow(plat::BSTR text) {
  return text ? plat::ToAnsi(std::u16string_view(text, plat::SysStringLen(text))) : std::string();
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(plat::AsciiUpper(static_cast<unsigned char>(c)));
  return text;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

constexpr char kKestrelDevice[] = "VEN_1D5A&DEV_5120";
constexpr char kOspreyDevice[] = "VEN_1D5A&DEV_5140";

// Walks the present devices: `visit` gets each upper-cased instance id and answers true to stop.
// False when the device list cannot be had (logged, ntype 0).
bool EnumeratePresentDevices(const std::function<bool(const std::string&)>& visit) {
  const auto devices = plat::OpenPresentDeviceList();
  if (!devices) {
    Log(kLevelFailure, "[Information][GetDeviceInfo]SetupDiGetClassDevs Failed! GetLastError=%d",
        static_cast<int>(plat::GetLastError()));
    ntype = kTypeUnknown;
    return false;
  }
  // A device whose id cannot be read is judged by the id read before it, as the buffer still
  // holds that one.
  std::string buffer;
  for (plat::DWORD index = 0; devices->Exists(index); ++index) {
    if (!devices->InstanceId(index, &buffer))
      Log(kLevelInformation, "[Information][GetDeviceInfo] SetupDiGetDeviceInstanceId Failed! GetLastError=%d",
          static_cast<int>(plat::GetLastError()));
    if (visit(Upper(buffer))) break;
  }
  return true;
}

// Frees what GetInterfaceCapability handed out, on every path.
struct InterfaceCaps {
  plat::MBN_INTERFACE_CAPS caps{};
  ~InterfaceCaps() { plat::FreeInterfaceCaps(&caps); }
};

int BindEntryPoint(const char* export_name, const char* pointer_name, const char* operation, AtSendFun* slot) {
  Log(kLevelInformation, "[Information] %s Enter", operation);
  // Beside the program that loaded us, not beside this library.
  const std::u16string path =
      plat::FolderOf(plat::HostExecutablePath()) + plat::SharedLibraryFileName(u"VexelSarDll");
  const std::string narrow_path = plat::ToAnsi(path);
  auto library = plat::LoadDynamicLibrary(path);
  if (!library) {
    Log(kLevelInformation, "[Information] NULL == dllHandle ErrorCode =%d dllpath=%s",
        static_cast<int>(plat::GetLastError()), narrow_path.c_str());
    return kNotAvailable;
  }
  void* symbol = library->Symbol(export_name);
  LoadedBridges().push_back(std::move(library));
  AtSendFun fun = nullptr;
  static_assert(sizeof fun == sizeof symbol);
  std::memcpy(&fun, &symbol, sizeof fun);
  *slot = fun;
  if (!fun) {
    Log(kLevelInformation, "[Information] NULL == %s ErrorCode =%d dllpath=%s", pointer_name,
        static_cast<int>(plat::GetLastError()), narrow_path.c_str());
    return kNotAvailable;
  }
  Log(kLevelInformation, "[Information] %s done", operation);
  return kSucceeded;
}

// The readiness probe through a bound entry point: kSucceeded answered, kNoBridgeRoad, or
// kCommandFailed.
int Probe(AtSendFun fun, const char* token, unsigned int* flag) {
  const BridgeReply reply = CallBridge(fun, "at\r\n", nullptr);
  if (reply.result == kSucceeded) {
    *flag = 1;
    Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-%s-OK-WOutIno=%s-len=%d.", token, reply.text.c_str(),
        reply.length);
    return kSucceeded;
  }
  if (reply.result == kNoBridgeRoad) {
    Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-%s-ERROR_NOT_SUPPORTED-WOutIno=%s-len=%d.", token,
        reply.text.c_str(), reply.length);
    return kNoBridgeRoad;
  }
  const int error = static_cast<int>(plat::GetLastError());
  *flag = 0;
  Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-%s-fail-hr=%d, WOutIno=%s-len=%d-ErrorCode=%d.", token,
      reply.result, reply.text.c_str(), reply.length, error);
  return kCommandFailed;
}

// The newer family's bridge road needs firmware of sign 01 and number 13 or later around the last
// dot ("….01.13").
bool FirmwareOpensBridgeRoad(const std::string& firmware) {
  const auto dot = firmware.rfind('.');
  if (dot == std::string::npos || dot < 2) return false;
  const std::string strV2FWSign = firmware.substr(dot - 2, 2);
  Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-strV2FWSign=%s.", strV2FWSign.c_str());
  if (strV2FWSign != "01") return false;
  const std::string strV2FWSignNum = firmware.substr(dot + 1, 2);
  Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-strV2FWSignNum=%s.", strV2FWSignNum.c_str());
  return LeadingNumber(strV2FWSignNum) >= 13;
}

}  // namespace

long LeadingNumber(const std::string& text) {
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value > 100000000L) break;  // far beyond anything the modem reports; no overflow
    value = value * 10 + (c - '0');
  }
  return value;
}

BridgeReply CallBridge(AtSendFun fun, const std::string& command, void* table) {
  const std::u16string wide = plat::FromAnsi(command);
  // The entry point may write every character of the buffer.
  std::vector<char16_t> buffer(kBridgeReplyChars + 1, u'\0');
  BridgeReply reply;
  reply.result = fun(wide.c_str(), buffer.data(), &reply.length, table);
  buffer[kBridgeReplyChars] = u'\0';
  reply.text = plat::ToAnsi(std::u16string_view(buffer.data(), plat::WideLength(buffer.data())));
  return reply;
}

int GetMobilebandInfo(MoblieBandInfo* info) {
  Log(kLevelInformation, "[normallog]GetMobilebandInfo enter");
  plat::ComPtr<plat::IMbnInterface> last;
  plat::ComPtr<plat::IMbnSubscriberInformation> subscriber;
  [&] {
    if (!g_InterfaceManager) {
      if (plat::Failed(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED))) {
        Log(kLevelFailure, "[Fail][GetMobilebandInfo] CoInitializeEx Fail. Error Code %d",
            static_cast<int>(plat::GetLastError()));
        return;
      }
      void* manager = nullptr;
      if (plat::Failed(plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, nullptr, plat::CLSCTX_ALL,
                                              plat::IID_IMbnInterfaceManager, &manager)) ||
          !manager) {
        Log(kLevelFailure, "[Fail][GetMobilebandInfo] CoInitializeEx Fail. Error Code %d",
            static_cast<int>(plat::GetLastError()));
        return;
      }
      g_InterfaceManager = static_cast<plat::IMbnInterfaceManager*>(manager);
    }
    plat::UniqueSafeArray interfaces;
    plat::HRESULT hr = g_InterfaceManager->GetInterfaces(interfaces.put());
    if (plat::Failed(hr)) {
      Log(kLevelFailure, "[error][GetMobilebandInfo] Get All Interface Fail.Return value hr=0x%x",
          static_cast<unsigned>(hr));
      return;
    }
    plat::LONG lower = 0;
    plat::LONG upper = -1;
    if (interfaces) {
      plat::SafeArrayGetLBound(interfaces.get(), 1, &lower);
      plat::SafeArrayGetUBound(interfaces.get(), 1, &upper);
    }
    for (long long i = lower; i <= upper; ++i) {
      plat::LONG index = static_cast<plat::LONG>(i);
      plat::ComPtr<plat::IUnknown> element;
      hr = plat::SafeArrayGetElement(interfaces.get(), &index, element.put_void());
      plat::ComPtr<plat::IMbnInterface> mbn;
      if (plat::Succeeded(hr)) hr = element ? element.As(&mbn) : plat::E_POINTER;
      if (plat::Failed(hr)) {
        Log(kLevelFailure, "[error][GetMobilebandInfo] SafeArrayGetElement Fail. Error Result hr=0x%x",
            static_cast<unsigned>(hr));
        break;
      }
      last = mbn;
      plat::MBN_READY_STATE state{};
      hr = mbn->GetReadyState(&state);
      if (plat::Failed(hr)) {
        Log(kLevelFailure, "[error][GetMobilebandInfo] GetReadyState Fail.Error Result hr=0x%x",
            static_cast<unsigned>(hr));
        break;
      }
      InterfaceCaps caps;
      hr = mbn->GetInterfaceCapability(&caps.caps);
      if (plat::Failed(hr)) {
        Log(kLevelFailure, "[error][GetMobilebandInfo] GetInterfaceCapability Fail. Result hr=0x%x",
            static_cast<unsigned>(hr));
        break;
      }
      info->strFirmwareInfo = Narrow(caps.caps.firmwareInfo);
      info->strImeiInfo = Narrow(caps.caps.deviceID);
      info->strModem = Narrow(caps.caps.model);
      Log(kLevelInformation,
          "[normal][GetMobilebandInfo] GetInterfaceCapability success.caps.firmwareInfo=%s caps.manufacturer=%s "
          "strImeiInfo=%s caps.customDataClass=%s MoblieBandInfo.strModem=%s",
          info->strFirmwareInfo.c_str(), Narrow(caps.caps.manufacturer).c_str(), info->strImeiInfo.c_str(),
          Narrow(caps.caps.customDataClass).c_str(), info->strModem.c_str());
    }
    if (!last) {
      Log(kLevelFailure, "[error][CStateWork::GetSimInfo] Get mbim interface fail.");
    } else if (plat::Failed(last->GetSubscriberInformation(subscriber.put())) || !subscriber) {
      Log(kLevelFailure, "[error][CStateWork::GetSimInfo] GetSubscriberInformation Fail.");
    } else {
      plat::BStr iccid;
      if (plat::Succeeded(subscriber->get_SimIccID(iccid.put()))) info->strSimIccid = Narrow(iccid.get());
    }
  }();
  subscriber.reset();
  last.reset();
  Log(kLevelInformation, "[normallog]GetMobilebandInfo done");
  return kSucceeded;
}

void GetDeviceInfo(std::string* model) {
  std::string candidate;
  const bool listed = EnumeratePresentDevices([&](const std::string& id) {
    candidate = id;
    if (Contains(id, kKestrelDevice) || Contains(id, kOspreyDevice)) return true;
    ntype = kTypeOther;
    return false;
  });
  if (listed) *model = candidate;
}

int GetVexelAtFun() { return BindEntryPoint("AtSendInterface", "vexelAtSendFun", "GetVexelAtFun", &vexelAtSendFun); }

int GetKestrelVexelAtFun() {
  return BindEntryPoint("AtSendInterfaceSTA", "KestrelVexelAtSendFun", "GetKestrelVexelAtFun",
                        &KestrelVexelAtSendFun);
}

AtSendFun OspreyEntryPoint() {
  if (!vexelAtSendFun) GetVexelAtFun();
  return vexelAtSendFun;
}

AtSendFun KestrelEntryPoint() {
  if (!KestrelVexelAtSendFun) GetKestrelVexelAtFun();
  return KestrelVexelAtSendFun;
}

AtSendFun FamilyEntryPoint() { return ntype == kTypeKestrel ? KestrelEntryPoint() : OspreyEntryPoint(); }

const char* FamilyEntryPointName() { return ntype == kTypeKestrel ? "KestrelVexelAtSendFun" : "vexelAtSendFun"; }

void OwnChannelReadyCheck() {
  const bool listed = EnumeratePresentDevices([](const std::string& id) {
    if (Contains(id, kKestrelDevice)) {
      ntype = kTypeKestrel;
      return true;
    }
    if (Contains(id, kOspreyDevice)) {
      ntype = kTypeOsprey;
      return true;
    }
    ntype = kTypeOther;
    return false;
  });
  if (!listed) return;
  std::string reply;
  if (IGlobalTools::SendAtCommand("AT\r\n", &reply) != kSucceeded) ntype = kTypeUnknown;
}

int get_IsMBIMReadyV2Ex(unsigned int* flag) {
  Log(kLevelInformation, "[Information] get_IsMBIMReadyV2Ex-ntype=%d g_ulRetValue=%d Enter.", static_cast<int>(ntype),
      g_ulRetValue);
  GetMobilebandInfo(&g_MoblieBandInfo);
  if (g_MoblieBandInfo.strModem.empty()) GetDeviceInfo(&g_MoblieBandInfo.strModem);
  const MoblieBandInfo& info = g_MoblieBandInfo;
  if (info.strModem.empty()) {
    *flag = 0;
    Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-g_MoblieBandInfo.strModem is null.");
    return g_ulRetValue = kNotAvailable;
  }

  if (Contains(info.strModem, "5120") || Contains(info.strModem, "Kestrel") ||
      Contains(info.strFirmwareInfo, "41200")) {
    ntype = kTypeKestrel;
  } else if (Contains(info.strModem, "5140") || Contains(info.strModem, "Osprey") ||
             Contains(info.strFirmwareInfo, "41400")) {
    Log(kLevelInformation, "[Information]get_IsMBIMReadyV2Ex-g_MoblieBandInfo.strModem =%s.", info.strModem.c_str());
    ntype = kTypeOsprey;
  } else {
    ntype = kTypeOther;
  }

  if (ntype == kTypeOsprey || ntype == kTypeKestrel) {
    const bool kestrel = ntype == kTypeKestrel;
    if (!kestrel && !FirmwareOpensBridgeRoad(info.strFirmwareInfo)) return g_ulRetValue = kNoBridgeRoad;
    const AtSendFun fun = FamilyEntryPoint();
    if (!fun) {
      *flag = 0;
      Log(kLevelInformation,
          kestrel ? "[Information]get_IsMBIMReadyV2Ex-GetKestrelVexelAtFun-fail-ErrorCode=%d."
                  : "[Information]get_IsMBIMReadyV2Ex-vexelAtSendFun-fail-ErrorCode=%d.",
          0);
      return g_ulRetValue = kNotAvailable;
    }
    const int probed = Probe(fun, FamilyEntryPointName(), flag);
    if (probed != kSucceeded) return g_ulRetValue = probed;
  }

  Log(kLevelInformation, "[Information] get_IsMBIMReadyV2Ex-module ntype=%d Done.", static_cast<int>(ntype));
  return g_ulRetValue = kSucceeded;
}

int IsMsSarInterface(unsigned int* bRet) {
  Log(kLevelInformation, "[Infomation][IsMsSarInterface] begin");
  int result = get_IsMBIMReadyV2Ex(bRet);
  if (result == kNoBridgeRoad) {
    result = kSucceeded;
    *bRet = 0;
  }
  Log(kLevelInformation, "[Infomation][IsMsSarInterface] done");
  return result;
}

bool TypeServed(bool serves_other) {
  return ntype == kTypeKestrel || ntype == kTypeOsprey || (ntype == kTypeOther && serves_other);
}

Road ChooseRoad(const char* name, bool serves_other, const char* refusal_field, int* result) {
  if (!TypeServed(serves_other)) {
    *result = kNotServed;
    return Road::kRefused;
  }
  if (ntype == kTypeOther) return Road::kDirectType1;
  unsigned int bRet = 0;
  const int identified = IsMsSarInterface(&bRet);
  if (identified != kSucceeded) {
    const std::string format =
        std::string("[Information] ") + name + " SUCESS !=IsMsSarInterface bRet=%d -" + refusal_field + "=%d.";
    Log(kLevelInformation, format.c_str(), static_cast<int>(bRet), identified);
    *result = identified;
    return Road::kRefused;
  }
  return bRet == 1 ? Road::kBridge : Road::kDirect;
}

}  // namespace krill

using namespace krill;

extern "C" int get_IsMBIMReady(unsigned int* bValue) {
  IGlobalTools::InstallCrashDumpFilter();
  Log(kLevelInformation, "[Information] get_IsMBIMReady processId =%d enter.",
      static_cast<int>(plat::CurrentProcessId()));
  unsigned int value = bValue ? *bValue : 0;
  int ulret = kSucceeded;
  {
    const IGlobalTools::ProcessLockScope modem_work;
    ulret = get_IsMBIMReadyV2Ex(&value);
  }
  if (ulret == kNoBridgeRoad) {
    // Not held over the pause, which gives the modem time rather than exchanging anything: other
    // processes may use the modem meanwhile.
    plat::SleepMs(10000);
    const IGlobalTools::ProcessLockScope modem_work;
    ntype = kTypeUnknown;
    OwnChannelReadyCheck();
    value = ntype != kTypeUnknown ? 1 : 0;
    Log(kLevelInformation, "[Information] get_IsMBIMReady done. ");
  } else {
    // A module of neither family answers no probe: nothing says it is ready.
    if (ulret == kSucceeded && ntype == kTypeOther) value = 0;
    Log(kLevelInformation, "[Information] get_IsMBIMReady ulret=%d, bValue=%d done.", ulret, static_cast<int>(value));
  }
  if (bValue) *bValue = value;
  return kSucceeded;
}
