#include "posix/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "posix/unique_fd.h"
#include "posix/write_all.h"

extern char** environ;

namespace plat::posix {

namespace {

bool NameMatches(const char* entry, const std::string& name) {
  return std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
}


}  // namespace

pid_t StartDetached(const DetachedStart& start) {
  // Everything the children need is built before fork: after it only async-signal-safe calls.
  std::vector<std::string> env_text;
  for (char** e = environ; e && *e; ++e) {
    bool drop = false;
    for (const auto& name : start.unset_env) drop = drop || NameMatches(*e, name);
    for (const auto& assignment : start.set_env) {
      drop = drop || NameMatches(*e, assignment.substr(0, assignment.find('=')));
    }
    if (!drop) env_text.emplace_back(*e);
  }
  for (const auto& assignment : start.set_env) env_text.push_back(assignment);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_text = start.argv;
  if (argv_text.empty()) argv_text.push_back(start.program);
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  UniqueFd report_read(report[0]);
  UniqueFd report_write(report[1]);
  const pid_t middle = ::fork();
  if (middle < 0) return -1;  // the pipe goes with errno kept
  // The children leave by _exit or exec: no destructor runs there.
  if (middle == 0) {
    report_read.reset();
    if (start.new_session) ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      int failure = 0;
      if (!start.working_folder.empty() && ::chdir(start.working_folder.c_str()) != 0) failure = errno;
      const int null_in = ::open("/dev/null", O_RDONLY);
      if (null_in >= 0) ::dup2(null_in, 0);
      if (failure == 0 && !start.output_file.empty()) {
        const int out = ::open(start.output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out < 0) {
          failure = errno;
        } else {
          ::dup2(out, 1);
          ::dup2(out, 2);
        }
      }
      if (failure == 0) {
        ::execve(start.program.c_str(), argv.data(), envp.data());
        failure = errno;
      }
      const std::int32_t code = -failure;
      WriteAll(report_write.get(), &code, sizeof code);
      ::_exit(127);
    }
    const std::int32_t reported = grandchild < 0 ? -errno : static_cast<std::int32_t>(grandchild);
    WriteAll(report_write.get(), &reported, sizeof reported);
    ::_exit(0);
  }
  report_write.reset();
  int middle_status = 0;
  while (::waitpid(middle, &middle_status, 0) < 0 && errno == EINTR) {
  }
  // The middle process reports the grandchild's pid, the grandchild an exec failure, in either
  // order; end of file after the pid alone means the program is running.
  pid_t pid = -1;
  int failure = 0;
  for (int i = 0; i < 2; ++i) {
    std::int32_t value = 0;
    if (!ReadAll(report_read.get(), &value, sizeof value)) break;
    if (value > 0) {
      pid = static_cast<pid_t>(value);
    } else if (failure == 0) {
      failure = -value;
    }
  }
  report_read.reset();
  if (failure != 0 || pid < 0) {
    errno = failure != 0 ? failure : ECHILD;
    return -1;
  }
  return pid;
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  // A process nobody has reaped yet still answers kill: its state in /proc tells.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return ::kill(pid, 0) == 0 || errno == EPERM;
  std::string line;
  std::getline(stat, line);
  const auto close_paren = line.rfind(')');
  if (close_paren == std::string::npos || close_paren + 2 >= line.size()) return true;
  const char state = line[close_paren + 2];
  return state != 'Z' && state != 'X';
}

}  // namespace plat::posix
