#include <algorithm>

#include "platform/whole_file.h"
#include "platform/types.h"
#include "win32/os.h"

namespace plat {

bool ReplaceFileContents(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::path temp = file;
  temp += ".tmp";
  ::DWORD error = ERROR_SUCCESS;
  {
    const win32::UniqueHandle h(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return false;  // the system has set the last error
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (ok && left > 0) {
      const ::DWORD chunk = static_cast<::DWORD>(std::min<std::size_t>(left, 1u << 30));
      ::DWORD written = 0;
      ok = ::WriteFile(h.get(), p, chunk, &written, nullptr) != 0 && written != 0;
      p += written;
      left -= written;
    }
    // The data reaches the disk before the rename, so after a crash the file is either the old
    // one or the new one.
    if (!ok || !::FlushFileBuffers(h.get())) {
      error = ::GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;  // a disk file never takes nothing
    }
  }  // closed here: the half-written file can go only once it is no longer open
  if (error != ERROR_SUCCESS) {
    ::DeleteFileW(temp.c_str());
    ::SetLastError(error);
    return false;
  }
  // Write-through: the rename is on the disk when the call returns.
  if (!::MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const ::DWORD move_error = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    ::SetLastError(move_error);
    return false;
  }
  return true;
}

}  // namespace plat
