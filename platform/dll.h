// Dynamic libraries: loading one and finding an export by name, and the hook through which a
// library learns that it was attached to or detached from a process.
#pragma once

#include <memory>
#include <string>

namespace plat {

class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;
  // The address of an export, null when absent.
  virtual void* Symbol(const char* name) = 0;
};
// Null (last error set) when the library cannot be loaded. The library is unloaded when the
// returned object is destroyed; a caller that keeps a library for the life of the process keeps
// the object.
std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::u16string& path);

// The file name of a shared library of the suite on this platform: "Name.dll" on Windows,
// "Name.so" on POSIX.
std::u16string SharedLibraryFileName(const std::u16string& base);

}  // namespace plat

// Declares the process attach and detach handlers of a shared library: DllMain on Windows, a
// constructor and destructor on POSIX. Use once per library, at namespace scope.
#if defined(_WIN32)
#define TXL_DLL_ENTRY(on_attach, on_detach)                                                    \
  extern "C" int __stdcall DllMain(void*, unsigned long reason, void*) {                      \
    if (reason == 1) on_attach();                                                              \
    if (reason == 0) on_detach();                                                              \
    return 1;                                                                                  \
  }
#else
#define TXL_DLL_ENTRY(on_attach, on_detach)                                                    \
  __attribute__((constructor)) static void txl_dll_attach() { on_attach(); }                   \
  __attribute__((destructor)) static void txl_dll_detach() { on_detach(); }
#endif

// Marks a function exported from a shared library (every other symbol stays hidden).
#if defined(_WIN32)
#define TXL_EXPORT __declspec(dllexport)
#else
#define TXL_EXPORT __attribute__((visibility("default")))
#endif
