#include "bridge/mbn/interface_selection.h"

#include <algorithm>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/session_api.h"

namespace vexel {

char16_t g_DetectedInterfaceID[256] = {};

plat::HRESULT DetectMbInterface() {
  static const char* const kName = "DetectMbInterface";
  _MBIMIDS ids[kMaxEnumeratedInterfaces] = {};
  long count = 0;
  const long hr = EnumInterface(&count, ids);
  if (hr < 0) {
    LogLine("%s: EnumInterface FAILED\n", kName);
    return plat::E_FAIL;
  }
  LogLine("%s: Succeeded Found %d interfaces\n", kName, static_cast<int>(count));
  if (count > 0) {
    std::fill(std::begin(g_DetectedInterfaceID), std::end(g_DetectedInterfaceID), u'\0');
    std::copy(std::begin(ids[0].InterfaceID), std::end(ids[0].InterfaceID), g_DetectedInterfaceID);
    LogLine("%s: Interface set to %ls\n", kName, g_DetectedInterfaceID);
    return static_cast<plat::HRESULT>(hr);
  }
  LogLine("%s: Interface INVALID\n", kName);
  return plat::E_FAIL;
}

plat::HRESULT ConnectMBIMInterface() {
  LogLine("ConnectMBIMInterface\n");
  if (DetectMbInterface() != 0) return plat::E_FAIL;
  return static_cast<plat::HRESULT>(ConnectInterface(ApiText(g_DetectedInterfaceID)));
}

ConnectionScope::~ConnectionScope() { DisconnectInterface(); }

plat::HRESULT ConnectionScope::Connect() { return ConnectMBIMInterface(); }

void ConnectionScope::Disconnect() { DisconnectInterface(); }

namespace {

// 0 when the service accepts a command session, else 50 with the open's result logged.
long OpenForProbe(const char* name, const char16_t* service) {
  const long open = OpenCommandSession(ApiText(service));
  if (open == 0) return 0;
  LogLine("%s: OpenCommandSession FAILED: 0x%X\n", name, static_cast<unsigned>(open));
  return static_cast<long>(plat::ERROR_NOT_SUPPORTED);
}

}  // namespace

long ProbeCommandSessions(const char* name, const char16_t* first, const char16_t* second) {
  ConnectionScope connection;
  if (connection.Connect() >= 0) {
    if (const long refused = OpenForProbe(name, first); refused != 0) return refused;
  }
  connection.Disconnect();
  const plat::HRESULT hr = connection.Connect();
  if (hr < 0) return hr;
  return OpenForProbe(name, second);
}

}  // namespace vexel
