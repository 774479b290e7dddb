// The notebook's service database, shared by its control manager (service_controller_posix.cpp)
// and the dispatcher a service process runs (service_dispatcher_posix.cpp). See platform/service.h.
//
// Each service is a folder under MachineDir()/services named by its lower-cased name: "config"
// (identity), "status" (the last report), "history" (every report of the current run), "pid",
// "output.log", and two FIFOs. Every reader and writer holds the database lock.
//
// Controls travel over a FIFO per service that the service's dispatcher holds open for reading
// while the process lives: a controller writes {control, sequence} and waits for the sequence to
// come back over a second FIFO once the handler has returned, as Windows' ControlService waits for
// the handler. A status report of SERVICE_STOPPED wakes the dispatcher with a message of its own.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/fs.h"
#include "platform/service.h"
#include "platform/types.h"
#include "posix/unique_fd.h"

namespace plat::posix {

inline constexpr DWORD ERROR_INVALID_NAME = 123;
// The dispatcher's own message: the service has reported SERVICE_STOPPED.
inline constexpr std::uint32_t kWakeStopped = 0xFFFFFFFFu;
// Set for the process the manager starts: the name of the service it runs.
inline constexpr char kControlVariable[] = "TXL_SERVICE_CONTROL";

struct ServiceConfig {
  std::u16string name;
  std::u16string display_name;
  DWORD service_type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::u16string binary_path;
  bool deleted = false;
};

// MachineDir()/services, created when missing.
std::filesystem::path ServicesRoot();
bool ValidServiceName(const std::u16string& name);
// Names compare case-insensitively, as on Windows: the folder carries the name in lower case.
std::filesystem::path ServiceFolder(const std::u16string& name);
std::string ControlFifo(const std::filesystem::path& folder);
std::string ReplyFifo(const std::filesystem::path& folder);
// Opens a FIFO of the service folder, creating it first when missing.
UniqueFd OpenFifo(const std::string& path, int flags);

std::unique_ptr<InterProcessFileLock> LockDatabase();

// A file of the service folder, replaced whole.
bool WriteText(const std::filesystem::path& file, const std::string& text);
bool ReadText(const std::filesystem::path& file, std::string* text);
bool ReadConfig(const std::filesystem::path& folder, ServiceConfig* config);
bool WriteConfig(const std::filesystem::path& folder, const ServiceConfig& config);

std::string StatusLine(const ServiceStatusRecord& s);
bool ParseStatusLine(const std::string& line, ServiceStatusRecord* s);
pid_t ReadPid(const std::filesystem::path& folder);
ServiceStatusRecord StoppedStatus(const ServiceConfig& config, DWORD exit_code);

// The status as a caller sees it, under the database lock: a service whose process is gone
// without reporting SERVICE_STOPPED has stopped (and a service marked for deletion goes with it).
ServiceStatusRecord CurrentStatus(const std::filesystem::path& folder, const ServiceConfig& config);

// Sets the last error; false.
bool FailWith(DWORD code);

}  // namespace plat::posix
