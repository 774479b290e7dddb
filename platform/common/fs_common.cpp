#include "platform/fs.h"

namespace plat {

bool IsPathSeparator(char16_t c) {
#if defined(_WIN32)
  return c == u'\\' || c == u'/';
#else
  return c == u'/';
#endif
}

std::u16string FolderOf(const std::u16string& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
  return path;
}

}  // namespace plat
