// One AT exchange over a serial port through the control library's serial channel, for the Wine
// stage: serial_probe PORT. Prints the set-up step that failed (if any) and the reply; exits 0
// when the exchange worked, 1 when it failed, 2 on a bad command line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/support/global_tools.h"
#include "api/support/serial/serial.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int port = std::atoi(argv[1]);
  void* object = nullptr;
  if (!IGlobalTools::CreateToolObject(IGlobalTools::CLSID_CSerial, &object) || !object) return 1;
  auto* serial = static_cast<IGlobalTools::IDeviceMsg*>(object);
  const plat::HRESULT opened = serial->OpenPort(port);
  std::printf("open 0x%08X\n", static_cast<unsigned>(opened));
  std::string reply;
  static const std::uint8_t kCommand[] = {'A', 'T', '\r', '\n'};
  const plat::HRESULT done = plat::Succeeded(opened) ? serial->Transact(kCommand, sizeof kCommand, &reply) : opened;
  std::printf("transact 0x%08X reply [", static_cast<unsigned>(done));
  for (const char c : reply) {
    if (c == '\r') std::printf("\\r");
    else if (c == '\n') std::printf("\\n");
    else std::putchar(c);
  }
  std::printf("]\n");
  serial->ClosePort();
  serial->Release();
  return plat::Succeeded(done) ? 0 : 1;
}
