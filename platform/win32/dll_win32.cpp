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
  const HMODULE h = ::LoadLibraryW(win32::W(path.c_str()));
  if (!h) return nullptr;  // the system has set the last error
  return std::make_unique<Win32Library>(h);
}

std::u16string SharedLibraryFileName(const std::u16string& base) { return base + u".dll"; }

}  // namespace plat
