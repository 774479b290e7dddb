#include "platform/fs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"
#endif

#include "platform/common/name_order.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/whole_file.h"
#include "test_support.h"

namespace {

using txl_test::TempFolder;

void WriteText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(Path, FolderOfKeepsTheTrailingSeparator) {
  const std::u16string sep(1, plat::kPathSep);
  EXPECT_EQ(plat::FolderOf(sep + u"opt" + sep + u"bin" + sep + u"tool"), sep + u"opt" + sep + u"bin" + sep);
  EXPECT_EQ(plat::FolderOf(u"a" + sep), u"a" + sep);
  EXPECT_EQ(plat::FolderOf(u"plain"), u"plain");  // no separator: the whole path
  EXPECT_EQ(plat::FolderOf(u""), u"");
  EXPECT_TRUE(plat::IsPathSeparator(plat::kPathSep));
  EXPECT_FALSE(plat::IsPathSeparator(u':'));
}

TEST(Folder, AccessibleOnlyForAnExistingReadWriteFolder) {
  TempFolder tmp;
  EXPECT_TRUE(plat::FolderAccessible(tmp.Wide()));
  EXPECT_FALSE(plat::FolderAccessible(tmp.Wide("missing")));
  WriteText(tmp.path() / "file", "x");
  EXPECT_FALSE(plat::FolderAccessible(tmp.Wide("file"))) << "a file is not a folder";
  // The check leaves nothing behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
}

TEST(Folder, MakeFolderCreatesOneLevelAndReportsWhy) {
  TempFolder tmp;
  ASSERT_TRUE(plat::MakeFolder(tmp.Wide("logs")));
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "logs"));

  plat::SetLastError(0);
  EXPECT_FALSE(plat::MakeFolder(tmp.Wide("logs")));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS);

  plat::SetLastError(0);
  EXPECT_FALSE(plat::MakeFolder(tmp.Wide("no/such/parent")));
  EXPECT_NE(plat::GetLastError(), 0u);
  EXPECT_FALSE(std::filesystem::exists(tmp.path() / "no"));
}

TEST(Folder, ListsDotsFirstThenNamesInNtfsOrder) {
  TempFolder tmp;
  for (const char* name : {"beta.txt", "Alpha.txt", "_under", "alpha2.txt", "Zulu", "10.bin", "9.bin"})
    WriteText(tmp.path() / name, "x");
  std::filesystem::create_directory(tmp.path() / "Charlie");
  std::filesystem::create_directory(tmp.path() / "delta");

  std::vector<plat::FolderEntry> entries;
  ASSERT_TRUE(plat::ListFolder(tmp.Wide(), &entries));
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(plat::Utf16ToUtf8(e.name));
  // Upper-cased comparison puts '_' (0x5F) after the letters and digits before them.
  const std::vector<std::string> expected = {".",          "..",      "10.bin", "9.bin", "Alpha.txt", "alpha2.txt",
                                             "beta.txt",   "Charlie", "delta",  "Zulu",  "_under"};
  EXPECT_EQ(names, expected);

  for (const auto& e : entries) {
    const std::string n = plat::Utf16ToUtf8(e.name);
    const bool dir = n == "." || n == ".." || n == "Charlie" || n == "delta";
    EXPECT_EQ(e.is_directory, dir) << n;
    EXPECT_EQ(e.is_regular_file, !dir) << n;
  }

  // The same listing whether or not the folder is given with a trailing separator.
  std::vector<plat::FolderEntry> again;
  ASSERT_TRUE(plat::ListFolder(tmp.Wide() + plat::kPathSep, &again));
  ASSERT_EQ(again.size(), entries.size());
  for (std::size_t i = 0; i < again.size(); ++i) EXPECT_EQ(again[i].name, entries[i].name);
}

TEST(Folder, NameOrderIsTotal) {
  // Names equal but for case can sit side by side off NTFS; they must still come out in one fixed
  // order, whatever order the directory gave them in.
  std::vector<std::u16string> names = {u"file", u"FILE", u"File", u"fIle"};
  std::sort(names.begin(), names.end());
  std::vector<std::u16string> first;
  do {
    std::vector<std::u16string> sorted = names;
    std::sort(sorted.begin(), sorted.end(), plat::NtfsNameLess);
    if (first.empty()) first = sorted;
    ASSERT_EQ(sorted, first);
  } while (std::next_permutation(names.begin(), names.end()));
  EXPECT_EQ(first, (std::vector<std::u16string>{u"FILE", u"File", u"fIle", u"file"}));

  EXPECT_TRUE(plat::NtfsNameLess(u"abc", u"ABCD")) << "a prefix goes first";
  EXPECT_FALSE(plat::NtfsNameLess(u"same", u"same"));
}

TEST(Folder, ListingAnEmptyOrMissingFolder) {
  TempFolder tmp;
  std::vector<plat::FolderEntry> entries{plat::FolderEntry{u"stale", false, true}};
  ASSERT_TRUE(plat::ListFolder(tmp.Wide(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, u".");
  EXPECT_EQ(entries[1].name, u"..");

  plat::SetLastError(0);
  EXPECT_FALSE(plat::ListFolder(tmp.Wide("missing"), &entries));
  EXPECT_NE(plat::GetLastError(), 0u);
  EXPECT_TRUE(entries.empty());
}

TEST(File, DeleteFileAt) {
  TempFolder tmp;
  WriteText(tmp.path() / "old.log", "x");
  EXPECT_TRUE(plat::DeleteFileAt(tmp.Wide("old.log")));
  EXPECT_FALSE(std::filesystem::exists(tmp.path() / "old.log"));
  plat::SetLastError(0);
  EXPECT_FALSE(plat::DeleteFileAt(tmp.Wide("old.log")));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
}

TEST(File, ExclusiveWriteTruncatesAndWrites) {
  TempFolder tmp;
  WriteText(tmp.path() / "a.log", "previous content that is longer");
  {
    auto f = plat::OpenExclusiveWriteFile(tmp.Wide("a.log"));
    ASSERT_TRUE(f);
    EXPECT_EQ(ReadText(tmp.path() / "a.log"), "") << "truncated on open";
    ASSERT_TRUE(f->Write("line 1\n", 7));
    ASSERT_TRUE(f->Write("line 2\n", 7));
    EXPECT_EQ(f->Flush(), 0);
    EXPECT_EQ(f->Sync(), 0);
    // Other openers may read while it is held.
    EXPECT_EQ(ReadText(tmp.path() / "a.log"), "line 1\nline 2\n");
  }
  EXPECT_EQ(ReadText(tmp.path() / "a.log"), "line 1\nline 2\n");
}

TEST(File, ExclusiveWriteRefusesASecondWriterWithoutHarm) {
  TempFolder tmp;
  const std::u16string path = tmp.Wide("held.log");
  auto first = plat::OpenExclusiveWriteFile(path);
  ASSERT_TRUE(first);
  ASSERT_TRUE(first->Write("kept", 4));

  plat::SetLastError(0);
  EXPECT_EQ(plat::OpenExclusiveWriteFile(path), nullptr);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadText(tmp.path() / "held.log"), "kept") << "the refused open must not truncate";

  first.reset();
  auto second = plat::OpenExclusiveWriteFile(path);
  ASSERT_TRUE(second) << "free again once the first writer closed";
  EXPECT_EQ(ReadText(tmp.path() / "held.log"), "");
}

TEST(File, ExclusiveWriteInMissingFolderFails) {
  TempFolder tmp;
  plat::SetLastError(0);
  EXPECT_EQ(plat::OpenExclusiveWriteFile(tmp.Wide("missing/a.log")), nullptr);
  EXPECT_NE(plat::GetLastError(), 0u);
}

TEST(Lock, ExcludesASecondHolderUntilReleased) {
  TempFolder tmp;
  const std::u16string path = tmp.Wide("suite.lock");
  auto held = plat::LockFile(path);
  ASSERT_TRUE(held);
  EXPECT_TRUE(std::filesystem::exists(tmp.path() / "suite.lock")) << "created when absent";

  std::atomic<bool> acquired{false};
  std::thread contender([&] {
    auto mine = plat::LockFile(path);
    acquired = mine != nullptr;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(acquired.load()) << "a second holder got the lock while it was held";
  held.reset();
  contender.join();
  EXPECT_TRUE(acquired.load());
}

TEST(Lock, FailsWhenTheLockFileCannotBeOpened) {
  TempFolder tmp;
  EXPECT_EQ(plat::LockFile(tmp.Wide("missing/suite.lock")), nullptr);
}

#if !defined(_WIN32)
TEST(Lock, ReleasedWhenTheHolderDies) {
  TempFolder tmp;
  const std::u16string path = tmp.Wide("suite.lock");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto lock = plat::LockFile(path);
    const char c = lock ? '1' : '0';
    (void)!::write(ready[1], &c, 1);
    for (;;) ::pause();  // killed while holding the lock
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(c, '1');
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  auto lock = plat::LockFile(path);  // would block for ever if the lock outlived its holder
  EXPECT_TRUE(lock);
}
#endif

// A file replaced whole is the new contents or, when that cannot be written, still the old ones;
// nothing is left beside it either way.
TEST(WholeFile, ReplacedOrLeftAsItWas) {
  using Bytes = std::vector<std::uint8_t>;
  struct Row {
    const char* name;
    const char* file;               // relative to the folder
    std::optional<Bytes> before;    // the file's contents first; nullopt: no file
    bool replaced;                  // what ReplaceFileContents answers
    std::optional<Bytes> after;     // what ReadFileContents reads then; nullopt: nothing readable
  };
  const Bytes old_bytes = {'o', 'l', 'd'};
  const Bytes new_bytes = {'n', 'e', 'w', 0, 0xFF};
  const Row rows[] = {
      {"a new file", "fresh.bin", std::nullopt, true, new_bytes},
      {"an existing file", "item.bin", old_bytes, true, new_bytes},
      {"in a folder that does not exist", "missing/item.bin", std::nullopt, false, std::nullopt},
      {"over a folder", "taken", std::nullopt, false, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder tmp;
    std::filesystem::create_directories(tmp.path() / "taken" / "inside");
    const std::filesystem::path file = tmp.path() / row.file;
    if (row.before) {
      ASSERT_TRUE(plat::ReplaceFileContents(file, *row.before));
    }
    plat::SetLastError(0);
    EXPECT_EQ(plat::ReplaceFileContents(file, new_bytes), row.replaced);
    if (!row.replaced) {
      EXPECT_NE(plat::GetLastError(), 0u);
    }
    Bytes read;
    EXPECT_EQ(plat::ReadFileContents(file, &read), row.after.has_value());
    if (row.after) {
      EXPECT_EQ(read, *row.after);
    }
    std::filesystem::path temp = file;
    temp += ".tmp";
    EXPECT_FALSE(std::filesystem::exists(temp));
  }
}

#if !defined(_WIN32)
// A descriptor is closed once, by its owner, and closing leaves errno as the failure set it.
TEST(UniqueFd, ClosesOnceAndKeepsErrno) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  plat::posix::UniqueFd read_end(pipe_ends[0]);
  plat::posix::UniqueFd write_end(pipe_ends[1]);
  ASSERT_TRUE(read_end);
  plat::posix::UniqueFd moved(std::move(write_end));
  EXPECT_FALSE(write_end);
  EXPECT_EQ(moved.get(), pipe_ends[1]);
  errno = ENOSPC;
  moved.reset();
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(moved);
  EXPECT_EQ(::fcntl(pipe_ends[1], F_GETFD), -1) << "closed by reset";
  // The reader sees end of file: the only writer is gone.
  char c = 0;
  EXPECT_EQ(::read(read_end.get(), &c, 1), 0);
  // A failed open is no descriptor.
  EXPECT_FALSE(plat::posix::UniqueFd(-1));
}
#endif

}  // namespace
