// Shows the bridge at work: loads VexelSarDll from beside this program and either
//   - with no argument, binds its session API by the exported names and walks one connection
//     through it: enumerate the modem interfaces, connect to the first, open a command session,
//     send a query and a set, close, disconnect; or
//   - with "--at TEXT..." (or "--at-sta TEXT..."), sends each AT-style command text through
//     AtSendInterface (AtSendInterfaceSTA), "\r" and "\n" standing for CR and LF,
// printing what each step returned.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/mbn/session_symbols.h"
#include "platform/dll.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

namespace sym = vexel::symbols;

// The vendor NVM access service; the walk reads and writes through it.
const char16_t kNvmService[] = u"{e10ff51b-ac2d-4104-86f6-8d621b430189}";

std::string Hex(const unsigned char* bytes, unsigned int n) {
  std::string s;
  for (unsigned int i = 0; i < n; ++i) s += plat::Format("%02X", bytes[i]);
  return s.empty() ? "(none)" : s;
}

unsigned short* Us(char16_t* s) { return reinterpret_cast<unsigned short*>(s); }

template <class Fn>
Fn Bind(plat::DynamicLibrary& lib, const char* name) {
  return reinterpret_cast<Fn>(lib.Symbol(name));
}

using AtSendFn = int (*)(const char16_t*, char16_t*, int*, void*);

std::u16string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
      out.push_back(text[++i] == 'r' ? '\r' : '\n');
    } else {
      out.push_back(text[i]);
    }
  }
  return plat::FromAnsi(out);
}

std::string Visible(const std::u16string& text) {
  std::string out;
  for (char c : plat::ToAnsi(text)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out.push_back(c);
  }
  return out;
}

// Sends each command through an AT-style entry point; the exit code is the last result's.
int SendCommands(plat::DynamicLibrary& lib, bool sta, int count, char** texts) {
  auto send = Bind<AtSendFn>(lib, sta ? "AtSendInterfaceSTA" : "AtSendInterface");
  if (!send) {
    std::printf("the bridge does not export its AT entry points\n");
    return 2;
  }
  // Large enough for either family's power-table record.
  static unsigned char table[2048];
  static char16_t reply[4096];
  int result = 0;
  for (int i = 0; i < count; ++i) {
    const std::u16string command = Unescape(texts[i]);
    int length = 0;
    result = send(command.c_str(), reply, &length, table);
    std::printf("== %s(\"%s\") -> %d (0x%08X), reply \"%s\" (%d characters)\n",
                sta ? "AtSendInterfaceSTA" : "AtSendInterface", Visible(command).c_str(), result,
                static_cast<unsigned>(result), Visible(std::u16string(reply)).c_str(), length);
  }
  return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::u16string folder = plat::FolderOf(plat::HostExecutablePath());
  const std::u16string path = folder + plat::SharedLibraryFileName(u"VexelSarDll");
  std::printf("== loading %s\n", plat::ToAnsi(path).c_str());
  // Kept loaded for the life of the process, as the control library keeps it.
  static plat::DynamicLibrary* const lib = plat::LoadDynamicLibrary(path).release();
  if (!lib) {
    std::printf("cannot load the bridge (error %u)\n", plat::GetLastError());
    return 2;
  }
  if (argc >= 2 && (std::strcmp(argv[1], "--at") == 0 || std::strcmp(argv[1], "--at-sta") == 0))
    return SendCommands(*lib, std::strcmp(argv[1], "--at-sta") == 0, argc - 2, argv + 2);

  sym::SessionApi api;
  if (!api.Bind(*lib)) {
    std::printf("the bridge does not export the session API\n");
    return 2;
  }
  const auto enum_interface = api.enum_interface;
  const auto connect = api.connect;
  const auto disconnect = api.disconnect;
  const auto open_session = api.open_session;
  const auto close_session = api.close_session;
  const auto query = api.query;
  const auto set = api.set;

  // The bridge lists at most kMaxEnumeratedInterfaces; the count is still not trusted as an index.
  static _MBIMIDS ids[kMaxEnumeratedInterfaces];
  long count = 0;
  long hr = enum_interface(&count, ids);
  std::printf("== EnumInterface -> 0x%08lX, %ld interface(s)\n", static_cast<unsigned long>(hr) & 0xFFFFFFFFul, count);
  for (long i = 0; i < count && i < kMaxEnumeratedInterfaces; ++i)
    std::printf("   [%ld] %s\n", i, plat::Utf16ToUtf8(ids[i].InterfaceID).c_str());
  if (hr != 0 || count == 0) return 1;

  char16_t service[64] = {};
  std::memcpy(service, kNvmService, sizeof kNvmService);
  hr = connect(Us(ids[0].InterfaceID));
  std::printf("== ConnectInterface -> 0x%08lX\n", static_cast<unsigned long>(hr) & 0xFFFFFFFFul);
  if (hr != 0) return 1;
  hr = open_session(Us(service));
  std::printf("== OpenCommandSession(NVM) -> 0x%08lX\n", static_cast<unsigned long>(hr) & 0xFFFFFFFFul);

  // Read bytes 0 and 1 of the modem's SAR parameter item (0x103d0000): item id, offset, length.
  unsigned char request[12] = {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 2, 0, 0, 0};
  unsigned char response[4096] = {};
  unsigned int length = sizeof response;
  hr = query(Us(ids[0].InterfaceID), Us(service), 1, sizeof request, request, &length, response);
  std::printf("== QueryCommand(cid 1, %s) -> 0x%08lX, %u byte(s): %s\n", Hex(request, sizeof request).c_str(),
              static_cast<unsigned long>(hr) & 0xFFFFFFFFul, length, Hex(response, hr == 0 ? length : 0).c_str());

  // Write 1 to byte 0 of the same item (the body-SAR enable flag): item id, offset, length, data.
  unsigned char change[13] = {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 1, 0, 0, 0, 1};
  length = sizeof response;
  hr = set(Us(ids[0].InterfaceID), Us(service), 1, sizeof change, change, &length, response);
  std::printf("== SetCommand(cid 1, %s) -> 0x%08lX, %u byte(s): %s\n", Hex(change, sizeof change).c_str(),
              static_cast<unsigned long>(hr) & 0xFFFFFFFFul, length, Hex(response, hr == 0 ? length : 0).c_str());

  const int closed = close_session(Us(service));
  std::printf("== CloseCommandSession(NVM) -> %d\n", closed);
  const int result = disconnect();
  std::printf("== DisconnectInterface -> %d\n", result);
  return 0;
}
