// The library's own MBIM command channel: one command exchange at a time with a device service of
// the first mobile-broadband interface, serialised across processes by the machine-wide lock. Its
// event sink (service_event.h) collects the service's answers; SendAtCommand (send_at.cpp) is its
// one user among the exports.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "api/support/global_tools.h"
#include "api/support/mbim/channel_log.h"
#include "api/support/mbim/service_event.h"
#include "platform/com.h"
#include "platform/mbn.h"

namespace IGlobalTools {

// The modem's vendor AT command service and its one command.
inline constexpr char16_t kAtCommandServiceId[] = u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}";
inline constexpr std::uint32_t kAtCommandId = 1;

// The pause before each SendAtCommand, in milliseconds before time scaling (the sink's waits are
// declared with it).
inline constexpr plat::DWORD kSendAtDelayMs = 1000;

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

  // The sink advised on the services manager's connection point: told to stop waiting (Detach) and
  // unadvised when the advice goes.
  class Advice {
   public:
    Advice(plat::ComPtr<plat::IConnectionPoint> point, plat::ComPtr<CDefaultServiceEvent> sink, plat::DWORD cookie);
    Advice(Advice&& other) noexcept;
    Advice& operator=(Advice&&) = delete;
    ~Advice();

   private:
    plat::ComPtr<plat::IConnectionPoint> point_;  // null once moved from
    plat::ComPtr<CDefaultServiceEvent> sink_;
    plat::DWORD cookie_;
  };

  // The COM apartment Open entered on the calling thread, left when the channel is destroyed.
  struct Apartment {
    Apartment() = default;
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment();
    bool entered = false;
  };

  enum class Session { kCommand, kData };

  plat::ComPtr<plat::IMbnInterface> GetFirstInterface();
  // Finds the interface, its context and the service; 0 or the failure to report.
  plat::HRESULT AcquireService(const char16_t* service_id, const char* who);
  // Finds the service and opens a session of the kind on it, unless one is open already
  // (*found_open); S_OK or the failure to report.
  plat::HRESULT OpenSession(Session kind, const char16_t* service_id, bool* found_open);
  void ReleaseService();
  template <class... Args>
  void Log(int level, const char* format, Args... args) const {
    if (log_) log_->WriteLog(level, format, args...);
  }

  // First: destroyed after every COM reference below.
  Apartment apartment_;
  std::mutex sinks_lock_;
  std::vector<Advice> advised_;
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
};

}  // namespace IGlobalTools
