// txlsim trace: modem/trace.jsonl decoded, one request a line.
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/machine.h"
#include "sim/trace.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

int Trace() {
  const std::filesystem::path file = sim::trace::TraceFile(plat::MachineDir());
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::printf("no trace at %s (requests are traced when TXL_SIM_TRACE=1)\n", PathText(file).c_str());
    return 0;
  }
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const auto parsed = sim::trace::Parse(line);
    const auto described = parsed ? sim::trace::Describe(*parsed) : std::nullopt;
    std::printf("%s\n", described ? described->c_str() : ("raw " + line).c_str());
  }
  return 0;
}

}  // namespace txlsim
