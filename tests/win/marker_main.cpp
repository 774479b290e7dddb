// A stand-in for an outside program that the suite starts: it appends its own path and the folder
// it was started in to "<its own path>.ran", so that a test sees whether, and as what, it ran.
#include <cstdio>
#include <string>

#include "platform/types.h"
#include "platform/win32/os.h"

int wmain() {
  wchar_t self[MAX_PATH] = {}, folder[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  const std::wstring marker = std::wstring(self) + L".ran";
  std::FILE* f = ::_wfopen(marker.c_str(), L"ab");
  if (!f) return 1;
  std::fprintf(f, "%ls|%ls\n", self, folder);
  std::fclose(f);
  return 0;
}
