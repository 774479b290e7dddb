// A client of the built krillTXLApi, run from a folder of its own beside a VexelSarDll: each
// argument is one export call, and each call prints one line "<call> -> <result> <value>".
//   ready  set-enable=N  get-enable  set-on=N  get-on  set-mode=N  get-mode  set-profile=N
//   get-profile  clear  imei  set-value=TABLE-TEXT  get-value
// get-value prints its text with carriage returns and line feeds as \r and \n.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/exports.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto eq = arg.find('=');
    const std::string op = arg.substr(0, eq);
    const int n = eq == std::string::npos ? 0 : std::atoi(arg.c_str() + eq + 1);
    int value = -7;  // never an answer of the modem: shows an out value left alone
    unsigned int unsigned_value = 7;
    char imei[64] = "untouched";
    int result = -1;
    std::string shown;
    if (op == "ready") {
      result = get_IsMBIMReady(&unsigned_value);
      shown = std::to_string(unsigned_value);
    } else if (op == "set-enable") {
      result = set_BodySarEnable(n);
    } else if (op == "get-enable") {
      result = get_BodySarEnable(&value);
      shown = std::to_string(value);
    } else if (op == "set-on") {
      result = set_BodySarON(n);
    } else if (op == "get-on") {
      result = get_BodySarON(&value);
      shown = std::to_string(value);
    } else if (op == "set-mode") {
      result = set_BodySarMode(n);
    } else if (op == "get-mode") {
      result = get_BodySarMode(&value);
      shown = std::to_string(value);
    } else if (op == "set-profile") {
      result = set_BodySarProfile(n);
    } else if (op == "get-profile") {
      result = get_BodySarProfile(&unsigned_value);
      shown = std::to_string(unsigned_value);
    } else if (op == "clear") {
      result = set_BodySarClear();
    } else if (op == "set-value") {
      std::string text = arg.substr(eq == std::string::npos ? arg.size() : eq + 1);
      result = set_BodySarValue(text.data());
    } else if (op == "get-value") {
      static char text[kBodySarValueTextBytes];
      std::strcpy(text, "untouched");
      result = get_BodySarValue(text);
      for (const char* p = text; *p; ++p) shown += *p == '\r' ? "\\r" : *p == '\n' ? "\\n" : std::string(1, *p);
    } else if (op == "imei") {
      result = get_ImeiInfo(imei);
      shown = imei;
    } else {
      std::fprintf(stderr, "unknown call %s\n", argv[i]);
      return 2;
    }
    std::printf("%s -> %d%s%s\n", arg.c_str(), result, shown.empty() ? "" : " ", shown.c_str());
    std::fflush(stdout);
  }
  return 0;
}
