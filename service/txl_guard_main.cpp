// TXLGuard's entry: the wide argument vector.
#include <string>
#include <vector>

#include "platform/text.h"
#include "service/installer.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return txlguard::RunTxlGuard(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) args.push_back(plat::Utf8ToUtf16(argv[i]));
  return txlguard::RunTxlGuard(args);
}
#endif
