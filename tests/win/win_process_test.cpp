// What takes a second process on Windows: the named mutex between processes and the crash record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/os.h"
#include "win_child.h"

#include <dbghelp.h>

// From here on the Windows headers name the result codes (as macros of the same values).
namespace {

using txl_win_test::Child;

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The exception a minidump was written for, from its exception stream; none when the record has
// no such stream or ends before it.
std::optional<MINIDUMP_EXCEPTION> RecordedException(const std::string& record) {
  MINIDUMP_HEADER header;
  if (record.size() < sizeof header) return std::nullopt;
  std::memcpy(&header, record.data(), sizeof header);
  for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry;
    const std::size_t at = header.StreamDirectoryRva + std::size_t{i} * sizeof entry;
    if (at + sizeof entry > record.size()) return std::nullopt;
    std::memcpy(&entry, record.data() + at, sizeof entry);
    if (entry.StreamType != ExceptionStream) continue;
    MINIDUMP_EXCEPTION_STREAM stream;
    if (entry.Location.Rva + std::size_t{sizeof stream} > record.size()) return std::nullopt;
    std::memcpy(&stream, record.data() + entry.Location.Rva, sizeof stream);
    return stream.ExceptionRecord;
  }
  return std::nullopt;
}

// Polls for a condition, at most 30 s: the child's progress shows in a file.
template <class F>
bool Eventually(F done) {
  for (int i = 0; i < 3000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

class WinProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("txl-win-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::filesystem::path folder_;
  const std::wstring mutex_name_ =
      L"Global\\TxlWinTest" + std::to_wstring(::GetCurrentProcessId()) + L"MutexLock";
};

TEST_F(WinProcessTest, AnotherProcessWaitsForTheMutexUntilTheOwnerReleases) {
  const auto marker = folder_ / "marker.txt";
  auto mine = plat::OpenNamedMutex(plat::win32::U(mutex_name_.c_str()));
  ASSERT_TRUE(mine);
  ASSERT_EQ(mine->Wait(), WAIT_OBJECT_0);

  Child child({L"take", mutex_name_, marker.wstring()});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(Eventually([&] { return ReadText(marker) == "ready\n"; })) << ReadText(marker);
  // The child stands at the mutex: it must neither get in nor end while this process holds it.
  EXPECT_FALSE(child.EndsWithin(300));
  EXPECT_EQ(ReadText(marker), "ready\n");

  ASSERT_TRUE(mine->Release());
  EXPECT_EQ(child.ExitCode(), 0u);
  EXPECT_EQ(ReadText(marker), "ready\nin\n");
  EXPECT_EQ(mine->Wait(), WAIT_OBJECT_0) << "the child gave it back";
  EXPECT_TRUE(mine->Release());
}

TEST_F(WinProcessTest, AHolderThatEndsGivesTheMutexUp) {
  Child child({L"take-and-die", mutex_name_});
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.ExitCode(), 7u);
  auto mine = plat::OpenNamedMutex(plat::win32::U(mutex_name_.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->Wait(), WAIT_OBJECT_0);
  EXPECT_TRUE(mine->Release());
}

// A crash is recorded once: the first process's minidump names its exception and the process ends
// with that exception's code; a second one that finds the file leaves it as it was. Crashed by the
// processor's fault (a write through null) and by the same access violation raised in software.
// Under a CPU emulator (TXL_TEST_CPU_EMULATOR, which the Wine stage sets when 32-bit programs run
// through one) the processor's fault can reach the system as another exception: QEMU's user mode
// gives a 32-bit signal handler no trap number, and Wine takes a page fault without one for an
// illegal instruction. There the raised row alone shows the access violation itself.
TEST_F(WinProcessTest, ACrashIsRecordedAsAMinidumpOnlyWhenNoneIsThere) {
  const char* emulator = std::getenv("TXL_TEST_CPU_EMULATOR");
  const struct {
    const char* name;
    const wchar_t* mode;
    bool processor_fault;
  } crashes[] = {
      {"write through null", L"fault", true},
      {"access violation raised", L"raise", false},
  };
  for (const auto& crash : crashes) {
    SCOPED_TRACE(crash.name);
    const auto dump = folder_ / (std::wstring(crash.mode) + L"-krillTXLApi.dump");
    Child first({crash.mode, dump.wstring()});
    ASSERT_TRUE(first.started());
    const ::DWORD code = first.ExitCode();
    const std::string record = ReadText(dump);
    ASSERT_GE(record.size(), 4u);
    EXPECT_EQ(record.substr(0, 4), "MDMP") << "a minidump";
    const auto exception = RecordedException(record);
    ASSERT_TRUE(exception) << "the minidump has an exception stream";
    EXPECT_EQ(exception->ExceptionCode, code) << "the process ended with the recorded exception's code";
    if (crash.processor_fault && emulator && *emulator) {
      std::printf("note: under %s the write through null reached the filter as exception 0x%08lX\n", emulator,
                  static_cast<unsigned long>(code));
    } else {
      EXPECT_EQ(code, static_cast<::DWORD>(EXCEPTION_ACCESS_VIOLATION));
      EXPECT_EQ(exception->NumberParameters, 2u);
      EXPECT_EQ(exception->ExceptionInformation[0], 1u) << "a write";
      EXPECT_EQ(exception->ExceptionInformation[1], 0u) << "at address 0";
    }

    Child second({crash.mode, dump.wstring()});
    ASSERT_TRUE(second.started());
    EXPECT_NE(second.ExitCode(), 0u);
    EXPECT_EQ(ReadText(dump), record) << "the first crash's record stays";
  }
}

}  // namespace
