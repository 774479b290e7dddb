#include <dlfcn.h>

#include "platform/dll.h"
#include "platform/process.h"
#include "platform/text.h"

namespace plat {

namespace {

class PosixLibrary final : public DynamicLibrary {
 public:
  explicit PosixLibrary(void* h) : h_(h) {}
  ~PosixLibrary() override { ::dlclose(h_); }
  void* Symbol(const char* name) override { return ::dlsym(h_, name); }

 private:
  void* h_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::u16string& path) {
  void* h = ::dlopen(ToAnsi(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return std::make_unique<PosixLibrary>(h);
}

std::u16string SharedLibraryFileName(const std::u16string& base) { return base + u".so"; }

}  // namespace plat
