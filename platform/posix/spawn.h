// Starting a program detached from this process, for the posix backend.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace plat::posix {

struct DetachedStart {
  std::string program;                // path of the program file
  std::vector<std::string> argv;      // argv[0] first
  std::vector<std::string> set_env;   // "NAME=value" added to (or replacing in) this environment
  std::vector<std::string> unset_env;  // names removed from it
  std::string output_file;            // standard output and error appended here; empty: inherited
  std::string working_folder;         // empty: this process's
  bool new_session = false;           // leave this process's session (no controlling terminal)
};

// Starts the program as a grandchild, so that it is never this process's zombie and outlives it.
// Returns its pid, or -1 with errno set when it could not be started (exec failures included).
pid_t StartDetached(const DetachedStart& start);

// True while the process exists and has not exited (a zombie counts as exited).
bool ProcessAlive(pid_t pid);

}  // namespace plat::posix
