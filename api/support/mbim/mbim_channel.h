// The library's own MBIM command channel: one command exchange at a time with a device service of
// the first mobile-broadband interface, serialised across processes by the machine-wide lock, and
// the event sink that collects the service's answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/support/global_tools.h"
#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/sync.h"

namespace IGlobalTools {

// The modem's vendor AT command service and its one command.
inline constexpr char16_t kAtCommandServiceId[] = u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}";
inline constexpr std::uint32_t kAtCommandId = 1;

// Waits of the channel, in milliseconds before time scaling.
inline constexpr plat::DWORD kSendAtDelayMs = 1000;
inline constexpr plat::DWORD kSessionWaitMs = 5000;
inline constexpr plat::DWORD kResponseWaitMs = 5000;
inline constexpr plat::DWORD kRequestPublishWaitMs = 20480;
inline constexpr plat::DWORD kDataSessionWaitMs = 5000;

// Releases one reference on the channel log.
struct ChannelLogRelease {
  void operator()(ILog* log) const {
    if (log) log->Release();
  }
};
using ChannelLogRef = std::unique_ptr<ILog, ChannelLogRelease>;

// The sink of the device-services events. It refers to nothing of the channel that advised it, so
// a completion the platform delivers after the channel is gone finds everything it touches alive
// (the platform holds a reference on the sink for the length of each call).
class CDefaultServiceEvent final : public plat::IMbnDeviceServicesEvents {
 public:
  // Takes a reference of its own on `log` (which may be null).
  explicit CDefaultServiceEvent(ILog* log);
  CDefaultServiceEvent(const CDefaultServiceEvent&) = delete;
  CDefaultServiceEvent& operator=(const CDefaultServiceEvent&) = delete;

  // False when an event could not be made; such a sink is not advised.
  bool Usable() const;

  // Forgets everything of an earlier command before a new one starts.
  void ResetForCommand();
  // Tells the set completion which request it belongs to.
  void PublishRequest(plat::ULONG request_id);
  // WAIT_OBJECT_0 when a session completion came in time.
  plat::DWORD WaitSession();
  plat::DWORD WaitDataSession();
  // Waits for the response; 0 with the collected bytes moved into *reply, else the wait's result.
  // The request is finished either way: a completion that comes later is not taken.
  plat::DWORD TakeResponse(std::string* reply);
  // Called before the sink is unadvised: a set completion still waiting for its request id stops
  // waiting and takes nothing, so that the disconnect is not held up by it.
  void Detach();

  // IUnknown: only IID_IMbnDeviceServicesEvents is answered.
  plat::HRESULT TXL_STDCALL QueryInterface(plat::REFIID riid, void** ppvObject) override;
  plat::ULONG TXL_STDCALL AddRef() override;
  plat::ULONG TXL_STDCALL Release() override;

  // IMbnDeviceServicesEvents
  plat::HRESULT TXL_STDCALL OnQuerySupportedCommandsComplete(plat::IMbnDeviceService* deviceService,
                                                             plat::SAFEARRAY* commandIDList, plat::HRESULT status,
                                                             plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnOpenCommandSessionComplete(plat::IMbnDeviceService* deviceService,
                                                         plat::HRESULT status, plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnCloseCommandSessionComplete(plat::IMbnDeviceService* deviceService,
                                                          plat::HRESULT status, plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnSetCommandComplete(plat::IMbnDeviceService* deviceService, plat::ULONG responseID,
                                                 plat::SAFEARRAY* deviceServiceData, plat::HRESULT status,
                                                 plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnQueryCommandComplete(plat::IMbnDeviceService* deviceService, plat::ULONG responseID,
                                                   plat::SAFEARRAY* deviceServiceData, plat::HRESULT status,
                                                   plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnEventNotification(plat::IMbnDeviceService* deviceService, plat::ULONG eventID,
                                                plat::SAFEARRAY* deviceServiceData) override;
  plat::HRESULT TXL_STDCALL OnOpenDataSessionComplete(plat::IMbnDeviceService* deviceService, plat::HRESULT status,
                                                      plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnCloseDataSessionComplete(plat::IMbnDeviceService* deviceService,
                                                       plat::HRESULT status, plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnWriteDataComplete(plat::IMbnDeviceService* deviceService, plat::HRESULT status,
                                                plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnReadData(plat::IMbnDeviceService* deviceService,
                                       plat::SAFEARRAY* deviceServiceData) override;
  plat::HRESULT TXL_STDCALL OnInterfaceStateChange(plat::BSTR interfaceID,
                                                   plat::MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange) override;

 private:
  ~CDefaultServiceEvent() = default;  // Release destroys

  // Appends the array's bytes to the buffer (lock held); false when the array cannot be read.
  bool AppendLocked(plat::SAFEARRAY* data, long* appended);
  template <class... Args>
  void Log(int level, const char* format, Args... args) const {
    if (log_) log_->WriteLog(level, format, args...);
  }

  // Guards the buffer, the expected id and the detached mark: completions come on platform threads.
  std::mutex lock_;
  std::string buffer_;
  std::unique_ptr<plat::Event> response_;        // auto-reset
  std::unique_ptr<plat::Event> session_;         // auto-reset
  std::unique_ptr<plat::Event> data_session_;    // auto-reset
  std::unique_ptr<plat::Event> published_;       // manual-reset
  ChannelLogRef log_;
  plat::ULONG expected_id_ = 0;  // 0: no request waits
  plat::RefCount refs_;
  bool detached_ = false;
};

// The channel. Made by NewMbimDeviceEx, destroyed by Close.
class CMbimDeviceEx final : public IMbimChannel {
 public:
  // Adopts one reference on the channel log.
  explicit CMbimDeviceEx(ILog* channel_log);
  CMbimDeviceEx(const CMbimDeviceEx&) = delete;
  CMbimDeviceEx& operator=(const CMbimDeviceEx&) = delete;

  plat::HRESULT Open() override;
  plat::HRESULT ExecuteCmd(const std::uint8_t* data, std::size_t length, std::string* reply, IAtParser* parser,
                           const char16_t* service_id, std::uint32_t command_id) override;
  plat::HRESULT OpenCommandSession(const char16_t* service_id) override;
  plat::HRESULT SendData(const std::uint8_t* data, std::size_t length, std::uint32_t command_id) override;
  plat::HRESULT Recvmsg(std::string* reply) override;
  void CloseCommandSession() override;
  plat::HRESULT OpenDataSession(const char16_t* service_id) override;
  plat::HRESULT RecvDataMsg(std::string* reply) override;
  IMbimChannel* CloseDataSession() override;
  void Close() override;

  // 0 closed, 1 opened by this object, 2 found open already.
  int CommandSessionState() const { return command_session_; }

 private:
  ~CMbimDeviceEx() override;  // Close destroys

  struct Advised {
    plat::ComPtr<CDefaultServiceEvent> sink;
    plat::ComPtr<plat::IConnectionPoint> point;
    plat::DWORD cookie = 0;
  };

  plat::ComPtr<plat::IMbnInterface> GetFirstInterface();
  // Finds the interface, its context and the service; 0 or the failure to report.
  plat::HRESULT AcquireService(const char16_t* service_id, const char* who);
  void ReleaseService();
  template <class... Args>
  void Log(int level, const char* format, Args... args) const {
    if (log_) log_->WriteLog(level, format, args...);
  }

  std::mutex sinks_lock_;
  std::vector<Advised> advised_;
  plat::ComPtr<plat::IMbnDeviceServicesManager> services_manager_;
  plat::ComPtr<plat::IMbnInterfaceManager> interface_manager_;
  plat::ComPtr<CDefaultServiceEvent> sink_;
  plat::ComPtr<plat::IMbnInterface> interface_;
  plat::ComPtr<plat::IMbnDeviceServicesContext> context_;
  plat::ComPtr<plat::IMbnDeviceService> service_;
  int command_session_ = 0;
  bool data_session_ = false;
  ChannelLogRef log_;
  ProcessLock process_lock_;
  bool com_initialized_ = false;
};

}  // namespace IGlobalTools
