#include "platform/launch.h"

namespace plat {

std::vector<std::u16string> SplitCommandLine(const std::u16string& command_line) {
  std::vector<std::u16string> args;
  std::u16string current;
  bool in_argument = false;
  bool quoted = false;
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  while (i < n) {
    const char16_t c = command_line[i];
    if (c == u'\\') {
      std::size_t run = 0;
      while (i < n && command_line[i] == u'\\') {
        ++run;
        ++i;
      }
      in_argument = true;
      if (i < n && command_line[i] == u'"') {
        current.append(run / 2, u'\\');
        if (run % 2 == 1) {
          current.push_back(u'"');
          ++i;
        }
        // An even run leaves the quote to the next round, where it opens or closes a group.
      } else {
        current.append(run, u'\\');
      }
      continue;
    }
    if (c == u'"') {
      in_argument = true;
      // "" inside a quoted group is a literal quote (and the group goes on).
      if (quoted && i + 1 < n && command_line[i + 1] == u'"') {
        current.push_back(u'"');
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    if ((c == u' ' || c == u'\t') && !quoted) {
      if (in_argument) args.push_back(std::move(current));
      current.clear();
      in_argument = false;
      ++i;
      continue;
    }
    current.push_back(c);
    in_argument = true;
    ++i;
  }
  if (in_argument) args.push_back(std::move(current));
  return args;
}

}  // namespace plat
