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

namespace {

// Windows compares paths without regard to case; POSIX exactly.
char16_t FoldForCompare(char16_t c) {
#if defined(_WIN32)
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
#endif
  return c;
}

}  // namespace

bool LinkBelow(const std::u16string& root, const std::u16string& path) {
  std::u16string base = root;
  while (!base.empty() && IsPathSeparator(base.back())) base.pop_back();
  if (base.empty() || path.size() <= base.size() || !IsPathSeparator(path[base.size()])) return false;
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (FoldForCompare(path[i]) != FoldForCompare(base[i])) return false;
  }
  // Each component below the root, from the top down, the path itself last.
  for (std::size_t at = base.size() + 1; at <= path.size(); ++at) {
    if (at != path.size() && !IsPathSeparator(path[at])) continue;
    if (IsPathSeparator(path[at - 1])) continue;  // a doubled or trailing separator
    if (IsLink(path.substr(0, at))) return true;
  }
  return false;
}

}  // namespace plat
