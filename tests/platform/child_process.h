// Running a helper program of the build as a separate process and reading how it ended.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace txl_test {

// A started child; Wait gives the raw wait status.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
  }
  ~ChildProcess() {
    if (pid_ > 0 && !waited_) Wait();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  int Wait() {
    if (pid_ <= 0) return -1;
    if (!waited_) {
      while (::waitpid(pid_, &status_, 0) < 0) {
      }
      waited_ = true;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool waited_ = false;
};

// Runs a child to its end: its wait status.
inline int RunChild(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  return child.Wait();
}

}  // namespace txl_test
