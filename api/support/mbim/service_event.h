// The event sink of the library's own MBIM channel: it collects the answers of the device service
// that the channel's requests go to and wakes the channel when they are in.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "api/support/global_tools.h"
#include "api/support/mbim/channel_log.h"
#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/mbn_events.h"
#include "platform/sync.h"

namespace IGlobalTools {

// Waits of the sink, in milliseconds before time scaling.
inline constexpr plat::DWORD kSessionWaitMs = 5000;
inline constexpr plat::DWORD kResponseWaitMs = 5000;
inline constexpr plat::DWORD kRequestPublishWaitMs = 20480;
inline constexpr plat::DWORD kDataSessionWaitMs = 5000;

// The sink of the device-services events. It refers to nothing of the channel that advised it, so
// a completion the platform delivers after the channel is gone finds everything it touches alive
// (the platform holds a reference on the sink for the length of each call).
class CDefaultServiceEvent final : public plat::DeviceServicesEventsDefaults {
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
  plat::HRESULT TXL_STDCALL OnOpenDataSessionComplete(plat::IMbnDeviceService* deviceService, plat::HRESULT status,
                                                      plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnCloseDataSessionComplete(plat::IMbnDeviceService* deviceService,
                                                       plat::HRESULT status, plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnReadData(plat::IMbnDeviceService* deviceService,
                                       plat::SAFEARRAY* deviceServiceData) override;

 private:
  ~CDefaultServiceEvent() = default;  // Release destroys

  // Appends the array's bytes to the buffer (lock held); false, with nothing appended, when there
  // is no array or it is no readable byte array.
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

}  // namespace IGlobalTools
