#include <filesystem>
#include <system_error>

#include "platform/known_folders.h"
#include "platform/process.h"
#include "platform/text.h"
#include "posix/errno_map.h"
#include "posix/windows_path.h"

namespace plat {

std::u16string CommonAppDataFolder() {
  const std::filesystem::path dir = posix::CommonAppDataDir();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    SetLastError(Win32ErrorFromErrno(ec.value()));
    return std::u16string();
  }
  return Utf8ToUtf16(dir.string());
}

}  // namespace plat
