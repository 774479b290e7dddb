// txlsim mbim: the simulated notebook's modem on an MBIM device node, a pseudo-terminal that MBIM
// hosts (libmbim, mbimcli, the suite with TXL_MODEM=os) open by its path. Hosts are served one
// after another until a stop request or the end of standard input.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/process.h"
#include "platform/pty.h"
#include "platform/sync.h"
#include "sim/mbim/endpoint.h"
#include "sim/mbim/sim_device.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

int Mbim(const std::vector<std::string>& args) {
  std::string link;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--link" && i + 1 < args.size()) {
      link = args[++i];
    } else {
      std::fprintf(stderr, "txlsim: mbim takes [--link PATH] (txlsim --help)\n");
      return kUsageExit;
    }
  }
  const std::unique_ptr<plat::PseudoTerminal> pty = plat::OpenPseudoTerminal();
  if (!pty) {
    std::fprintf(stderr, "txlsim: no pseudo-terminal for the MBIM device (error %lu)\n",
                 static_cast<unsigned long>(plat::GetLastError()));
    return kFailedExit;
  }
  if (!link.empty() && !plat::MakeSymbolicLink(link, pty->path())) {
    std::fprintf(stderr, "txlsim: cannot link %s to %s (error %lu)\n", link.c_str(), pty->path().c_str(),
                 static_cast<unsigned long>(plat::GetLastError()));
    return kFailedExit;
  }
  // The path first, alone on its line: a script waits for it before it starts a host.
  std::printf("%s\n", pty->path().c_str());
  std::fflush(stdout);

  plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
  int result = 0;
  {
    sim::mbim::SimDevice device;
    sim::mbim::Endpoint endpoint(device);
    for (bool serving = true; serving;) {
      switch (pty->WaitForInput(plat::INFINITE)) {
        case plat::PseudoTerminal::Wait::kData: {
          std::uint8_t buffer[4096];
          const long n = pty->Read(buffer, sizeof buffer);
          if (n < 0) {
            result = kFailedExit;
            serving = false;
            break;
          }
          for (const sim::mbim::Bytes& out : endpoint.Receive(std::span(buffer, static_cast<std::size_t>(n))))
            if (!pty->Write(out)) break;  // the host went away; its successor starts afresh
          break;
        }
        case plat::PseudoTerminal::Wait::kNoHost:
          endpoint.Disconnected();
          break;
        case plat::PseudoTerminal::Wait::kTimeout:
          break;
        case plat::PseudoTerminal::Wait::kFailed:
          result = kFailedExit;
          serving = false;
          break;
        case plat::PseudoTerminal::Wait::kInputClosed:
        case plat::PseudoTerminal::Wait::kStopRequested:
          serving = false;
          break;
      }
    }
  }
  if (!link.empty()) plat::RemoveSymbolicLink(link, pty->path());
  plat::CoUninitialize();
  return result;
}

}  // namespace txlsim
