#include "platform/known_folders.h"
#include "platform/process.h"
#include "platform/types.h"
#include "win32/os.h"

#include <shlobj.h>

namespace plat {

std::u16string CommonAppDataFolder() {
  wchar_t buf[MAX_PATH] = {};
  const ::HRESULT hr = ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf);
  if (FAILED(hr)) {
    SetLastError(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_PATH_NOT_FOUND);
    return std::u16string();
  }
  return std::u16string(win32::U(buf));
}

}  // namespace plat
