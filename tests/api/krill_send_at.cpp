// Sends AT texts through the library's own MBIM channel from a process of its own, so that tests
// can run several senders at once. Usage: krill_send_at TEXT [COUNT]; "\r" and "\n" in TEXT stand
// for carriage return and line feed. Prints "<result> <reply bytes in hex>" per send and exits
// with the last result.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/support/global_tools.h"

namespace {

std::string Unescape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (p[0] == '\\' && (p[1] == 'r' || p[1] == 'n')) {
      out += p[1] == 'r' ? '\r' : '\n';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: krill_send_at TEXT [COUNT]\n");
    return 64;
  }
  const std::string command = Unescape(argv[1]);
  const int count = argc > 2 ? std::atoi(argv[2]) : 1;
  int result = 0;
  for (int i = 0; i < count; ++i) {
    std::string reply;
    result = IGlobalTools::SendAtCommand(command, &reply);
    std::printf("%d ", result);
    for (unsigned char c : reply) std::printf("%02X", static_cast<unsigned>(c));
    std::printf("\n");
  }
  return result;
}
