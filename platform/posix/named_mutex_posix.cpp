// A Windows mutex of the machine, built from an advisory lock on a file under the simulated
// notebook's locks/ folder (which the system drops when the holding process dies, as Windows
// abandons a mutex) and, inside the process, one owner thread with a recursion count per name.
// flock alone would not do: it belongs to the open file, not to a thread, so threads of one
// process would neither exclude each other nor re-enter as a Windows mutex lets its owner.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/machine.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/text.h"
#include "posix/errno_map.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

// What every handle of one name in this process shares; the lock file stays open while any
// handle does.
struct SharedMutex {
  explicit SharedMutex(posix::UniqueFd file) : fd(std::move(file)) {}
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  const posix::UniqueFd fd;
  std::mutex mu;
  std::condition_variable cv;
  // True from the moment a thread starts taking the file lock until the owner lets go, so that
  // only one thread of the process waits on the file.
  bool busy = false;
  std::thread::id owner;
  unsigned long count = 0;
};

struct Registry {
  std::mutex mu;
  std::map<std::string, std::weak_ptr<SharedMutex>> by_file;
};
Registry& TheRegistry() {
  static auto* r = new Registry;  // handles may outlive static destruction
  return *r;
}

// A mutex name as a file name: Windows allows any character but '\' in a mutex name after its
// namespace prefix; only the portable ones are kept.
std::string FileNameOf(const std::u16string& name) {
  std::string out;
  for (const char16_t c : name) {
    const bool keep = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
                      c == u'{' || c == u'}' || c == u'-' || c == u'_' || c == u'.';
    out.push_back(keep ? static_cast<char>(c) : '_');
  }
  if (out.empty() || out == "." || out == "..") out = "_" + out;
  return out;
}

class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(std::shared_ptr<SharedMutex> shared) : s_(std::move(shared)) {}

  DWORD Wait() override {
    std::unique_lock<std::mutex> lock(s_->mu);
    const auto me = std::this_thread::get_id();
    if (s_->owner == me) {
      ++s_->count;
      return WAIT_OBJECT_0;
    }
    s_->cv.wait(lock, [this] { return !s_->busy; });
    s_->busy = true;
    lock.unlock();
    int rc;
    while ((rc = ::flock(s_->fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    const int err = errno;
    lock.lock();
    if (rc != 0) {
      s_->busy = false;
      s_->cv.notify_one();
      SetLastError(Win32ErrorFromErrno(err));
      return WAIT_FAILED;
    }
    s_->owner = me;
    s_->count = 1;
    return WAIT_OBJECT_0;
  }

  bool Release() override {
    std::lock_guard<std::mutex> lock(s_->mu);
    if (s_->owner != std::this_thread::get_id()) {
      SetLastError(ERROR_NOT_OWNER);
      return false;
    }
    if (--s_->count == 0) {
      ::flock(s_->fd.get(), LOCK_UN);
      s_->owner = std::thread::id();
      s_->busy = false;
      s_->cv.notify_one();
    }
    return true;
  }

 private:
  std::shared_ptr<SharedMutex> s_;
};

}  // namespace

std::unique_ptr<NamedMutex> OpenNamedMutex(const std::u16string& name) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::filesystem::path folder = MachineDir() / "locks";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::string file = (folder / FileNameOf(name)).string();

  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  std::erase_if(r.by_file, [](const auto& entry) { return entry.second.expired(); });
  std::shared_ptr<SharedMutex> shared = r.by_file[file].lock();
  if (!shared) {
    posix::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd) {
      SetLastError(Win32ErrorFromErrno(errno));
      return nullptr;
    }
    shared = std::make_shared<SharedMutex>(std::move(fd));
    r.by_file[file] = shared;
  }
  return std::make_unique<PosixNamedMutex>(std::move(shared));
}

}  // namespace plat
