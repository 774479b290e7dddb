// The remaining win32 backends against the system: the debugger output as a debug monitor reads
// it, the common application-data folder, the present-device list.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "platform/known_folders.h"
#include "platform/launch.h"
#include "platform/process.h"
#include "platform/setup_api.h"
#include "platform/text.h"
#include "platform/win32/os.h"

#include <setupapi.h>
#include <shlobj.h>

#include <thread>

namespace {

// The debug-monitor side of OutputDebugString: a 4096-byte buffer (process id, then the text in
// the ANSI code page) and two events that hand it back and forth.
class DebugMonitor {
 public:
  DebugMonitor()
      : buffer_ready_(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY")),
        data_ready_(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
        mapping_(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER")) {
    if (mapping_) view_ = ::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 4096);
  }
  ~DebugMonitor() {
    if (view_) ::UnmapViewOfFile(view_);
  }
  bool Ready() const { return buffer_ready_ && data_ready_ && view_; }
  // Lets one message in and returns it with its process id; false when none came.
  bool Next(DWORD* pid, std::string* text) {
    ::SetEvent(buffer_ready_.get());
    if (::WaitForSingleObject(data_ready_.get(), 10000) != WAIT_OBJECT_0) return false;
    std::memcpy(pid, view_, sizeof *pid);
    const char* chars = static_cast<const char*>(view_) + sizeof(DWORD);
    *text = std::string(chars, strnlen(chars, 4096 - sizeof(DWORD)));
    return true;
  }

 private:
  plat::win32::UniqueHandle buffer_ready_;
  plat::win32::UniqueHandle data_ready_;
  plat::win32::UniqueHandle mapping_;
  void* view_ = nullptr;
};

TEST(WinSystem, DebuggerOutputReachesADebugMonitorAndKeepsTheLastError) {
  DebugMonitor monitor;
  ASSERT_TRUE(monitor.Ready());
  // The monitor hands its buffer over from a second thread: OutputDebugString waits for it.
  std::string text;
  DWORD pid = 0;
  bool received = false;
  std::thread reader([&] { received = monitor.Next(&pid, &text); });
  ::SetLastError(1234);
  plat::OutputDebugText(u"PerformCmdWithID: Enter, build id 1810171610");
  EXPECT_EQ(::GetLastError(), 1234u);
  reader.join();
  ASSERT_TRUE(received);
  EXPECT_EQ(pid, ::GetCurrentProcessId());
  EXPECT_EQ(text, "PerformCmdWithID: Enter, build id 1810171610");
}

TEST(WinSystem, CommonAppDataIsTheSystemsFolder) {
  PWSTR expected = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &expected), S_OK);
  const std::u16string system_folder = plat::win32::U(expected);
  ::CoTaskMemFree(expected);
  EXPECT_EQ(plat::CommonAppDataFolder(), system_folder);
}

TEST(WinSystem, PresentDeviceListMatchesTheSystemsCount) {
  // The system's list, not the simulated notebook's, whatever the stage selected.
  const auto selected = plat::GetEnv("TXL_MODEM");
  plat::SetEnv("TXL_MODEM", "os");
  auto list = plat::OpenPresentDeviceList();
  plat::SetEnv("TXL_MODEM", selected ? selected->c_str() : nullptr);
  ASSERT_TRUE(list);
  DWORD count = 0;
  for (std::string id; list->Exists(count); ++count) {
    EXPECT_TRUE(list->InstanceId(count, &id)) << count;
    EXPECT_FALSE(id.empty()) << count;
    EXPECT_LT(id.size(), 260u);
  }
  HDEVINFO set = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  DWORD system_count = 0;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  while (::SetupDiEnumDeviceInfo(set, system_count, &data)) ++system_count;
  ::SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(count, system_count);
}

// Every kind of owner: what the system handed out is closed exactly once, the caller's last error
// survives the close, and a "no handle" value of the kind leaves the owner empty.
TEST(WinSystem, HandleOwnersCloseAndKeepTheLastError) {
  struct Row {
    const char* kind;
    std::function<bool()> owns_one_then_resets;  // true when the owner held a handle and let it go
  };
  const auto check = [](auto owner) {
    if (!owner) return false;
    ::SetLastError(4321);
    owner.reset();
    return !owner && ::GetLastError() == 4321;
  };
  WIN32_FIND_DATAW found{};
  HKEY key = nullptr;
  const Row rows[] = {
      {"kernel object",
       [&] { return check(plat::win32::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))); }},
      {"directory search",
       [&] { return check(plat::win32::UniqueFindHandle(::FindFirstFileW(L"C:\\windows\\*", &found))); }},
      {"registry key",
       [&] {
         if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
         return check(plat::win32::UniqueHkey(key));
       }},
      {"library", [&] { return check(plat::win32::UniqueHmodule(::LoadLibraryW(L"kernel32.dll"))); }},
      {"service manager",
       [&] { return check(plat::win32::UniqueScHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT))); }},
  };
  for (const Row& row : rows) EXPECT_TRUE(row.owns_one_then_resets()) << row.kind;

  // Failure either way is no handle: kernel functions report it as null or INVALID_HANDLE_VALUE.
  EXPECT_FALSE(plat::win32::UniqueHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(plat::win32::UniqueHandle(nullptr));
  EXPECT_FALSE(plat::win32::UniqueFindHandle(INVALID_HANDLE_VALUE));
  // Moving hands the one handle over; the source is empty.
  plat::win32::UniqueHandle first(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE raw = first.get();
  plat::win32::UniqueHandle second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(second.get(), raw);
}

}  // namespace
