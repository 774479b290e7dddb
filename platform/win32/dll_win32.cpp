#include <cstring>

#include "platform/dll.h"
#include "platform/types.h"
#include "win32/os.h"

namespace plat {

namespace {

class Win32Library final : public DynamicLibrary {
 public:
  explicit Win32Library(HMODULE h) : h_(h) {}

  void* Symbol(const char* name) override {
    const FARPROC f = ::GetProcAddress(h_.get(), name);
    // A function address handed out as void*, as dlsym does; copied because the language does not
    // promise a cast between function and object pointers.
    void* p = nullptr;
    static_assert(sizeof p == sizeof f);
    std::memcpy(&p, &f, sizeof p);
    return p;
  }

 private:
  win32::UniqueHmodule h_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::u16string& path) {
  // The library's own imports are looked for beside it and in the system's folders only, never
  // in the current folder or along the path, where another user may have put a file of that name.
  HMODULE h = ::LoadLibraryExW(win32::W(path.c_str()), nullptr,
                               LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  // A system without these search flags refuses them as a parameter; it gets the plain load.
  if (!h && ::GetLastError() == ERROR_INVALID_PARAMETER) h = ::LoadLibraryW(win32::W(path.c_str()));
  if (!h) return nullptr;  // the system has set the last error
  return std::make_unique<Win32Library>(h);
}

std::u16string SharedLibraryFileName(const std::u16string& base) { return base + u".dll"; }

}  // namespace plat
