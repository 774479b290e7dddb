// A fresh notebook per test, and an event sink that records what the simulated stack delivers.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/process.h"
#include "sim/sim.h"
#include "sim/testing.h"

namespace simtest {

inline constexpr char16_t kNvmId[] = u"{e10ff51b-ac2d-4104-86f6-8d621b430189}";
inline constexpr char16_t kMsSarId[] = u"{68223D04-9F6C-4E0F-822D-28441FB72340}";
inline constexpr char16_t kAtTunnelId[] = u"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}";
inline constexpr char16_t kAtCommandId[] = u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}";

struct Delivered {
  std::string kind;  // "open", "close", "query", "set", "open_data", "close_data", "write_data", "read"
  plat::HRESULT status = plat::S_OK;
  plat::ULONG request_id = 0;
  bool had_array = false;
  std::vector<std::uint8_t> data;
};

class RecordingSink final : public plat::IMbnDeviceServicesEvents {
 public:
  // Runs inside every callback, after the event is recorded.
  std::function<void(const Delivered&)> on_event;
  // Set once the sink has been unadvised; a callback after that is counted as a violation.
  std::atomic<bool> unadvised{false};
  std::atomic<int> calls_after_unadvise{0};

  plat::HRESULT TXL_STDCALL QueryInterface(plat::REFIID riid, void** ppv) override {
    if (!ppv) return plat::E_POINTER;
    *ppv = nullptr;
    if (riid != plat::IID_IUnknown && riid != plat::IID_IMbnDeviceServicesEvents) return plat::E_NOINTERFACE;
    *ppv = static_cast<plat::IMbnDeviceServicesEvents*>(this);
    AddRef();
    return plat::S_OK;
  }
  plat::ULONG TXL_STDCALL AddRef() override { return refs_.Inc(); }
  plat::ULONG TXL_STDCALL Release() override {
    const plat::ULONG n = refs_.Dec();
    if (n == 0) delete this;
    return n;
  }
  plat::ULONG refs() const { return refs_.Get(); }

  using Service = plat::IMbnDeviceService;
  using Array = plat::SAFEARRAY;
  using Hr = plat::HRESULT;
  using Id = plat::ULONG;
  Hr TXL_STDCALL OnQuerySupportedCommandsComplete(Service*, Array*, Hr, Id) override { return plat::S_OK; }
  Hr TXL_STDCALL OnOpenCommandSessionComplete(Service*, Hr st, Id id) override { return Add("open", st, id, nullptr); }
  Hr TXL_STDCALL OnCloseCommandSessionComplete(Service*, Hr st, Id id) override {
    return Add("close", st, id, nullptr);
  }
  Hr TXL_STDCALL OnSetCommandComplete(Service*, Id, Array* a, Hr st, Id id) override { return Add("set", st, id, a); }
  Hr TXL_STDCALL OnQueryCommandComplete(Service*, Id, Array* a, Hr st, Id id) override {
    return Add("query", st, id, a);
  }
  Hr TXL_STDCALL OnEventNotification(Service*, Id, Array*) override { return plat::S_OK; }
  Hr TXL_STDCALL OnOpenDataSessionComplete(Service*, Hr st, Id id) override {
    return Add("open_data", st, id, nullptr);
  }
  Hr TXL_STDCALL OnCloseDataSessionComplete(Service*, Hr st, Id id) override {
    return Add("close_data", st, id, nullptr);
  }
  Hr TXL_STDCALL OnWriteDataComplete(Service*, Hr st, Id id) override { return Add("write_data", st, id, nullptr); }
  Hr TXL_STDCALL OnReadData(Service*, Array* a) override { return Add("read", plat::S_OK, 0, a); }
  Hr TXL_STDCALL OnInterfaceStateChange(plat::BSTR, plat::MBN_DEVICE_SERVICES_INTERFACE_STATE) override {
    return plat::S_OK;
  }

  // Waits (real time) until at least n events arrived; false on time-out.
  bool WaitFor(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return events_.size() >= n; });
  }
  std::vector<Delivered> events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }

 private:
  plat::HRESULT Add(const char* kind, plat::HRESULT status, plat::ULONG id, plat::SAFEARRAY* array) {
    if (unadvised) ++calls_after_unadvise;
    Delivered d{kind, status, id, array != nullptr, {}};
    if (array) {
      void* p = nullptr;
      if (plat::Succeeded(plat::SafeArrayAccessData(array, &p))) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        d.data.assign(b, b + array->rgsabound[0].cElements);
        plat::SafeArrayUnaccessData(array);
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      events_.push_back(d);
    }
    cv_.notify_all();
    if (on_event) on_event(d);
    return plat::S_OK;
  }

  plat::RefCount refs_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Delivered> events_;
};

// Every test gets its own notebook folder, no trace, and the simulator's defaults.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plat::Succeeded(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED)));
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("txl-sim-" + std::to_string(plat::CurrentProcessId()) + "-" + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    plat::SetEnv("TXL_MACHINE_DIR", dir_.string().c_str());
    plat::SetEnv("TXL_SIM_TRACE", nullptr);
    if (!plat::GetEnv("TXL_TIME_SCALE")) plat::SetEnv("TXL_TIME_SCALE", "0.01");
    sim::testing::ResetAll();
  }
  void TearDown() override {
    sim::testing::ResetAll();
    plat::CoUninitialize();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void WriteIni(const std::string& text) {
    std::filesystem::create_directories(dir_ / "modem");
    std::ofstream(dir_ / "modem" / "modem.ini", std::ios::binary) << text;
  }

  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

template <class T>
plat::ComPtr<T> Create(const plat::CLSID& clsid) {
  plat::ComPtr<T> p;
  EXPECT_EQ(plat::S_OK, plat::CoCreateInstance(clsid, nullptr, plat::CLSCTX_ALL, T::kIid, p.put_void()));
  return p;
}

}  // namespace simtest
