#include "bridge/front_door/interface_selection.h"

#include <algorithm>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/session_api.h"
#include "bridge/messages/device_services.h"
#include "bridge/messages/reply.h"

namespace vexel {

char16_t g_DetectedInterfaceID[256] = {};

namespace {
unsigned short* Us(const char16_t* s) { return reinterpret_cast<unsigned short*>(const_cast<char16_t*>(s)); }
}  // namespace

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
  return static_cast<plat::HRESULT>(ConnectInterface(Us(g_DetectedInterfaceID)));
}

long ApiHandleIsMBIMReady(char16_t* reply) {
  static const char* const kName = "ApiHandleIsMBIMReady";
  LogLine("Handle get_IsMBIMReady\n");
  WriteReply(reply, u"OK");
  long result = 0;
  bool done = false;
  if (ConnectMBIMInterface() >= 0) {
    const long open = OpenCommandSession(Us(kMsSarServiceId));
    if (open != 0) {
      LogLine("%s: OpenCommandSession FAILED: 0x%X\n", kName, static_cast<unsigned>(open));
      result = static_cast<long>(plat::ERROR_NOT_SUPPORTED);
      done = true;
    }
  }
  if (!done) {
    DisconnectInterface();
    const plat::HRESULT hr = ConnectMBIMInterface();
    if (hr < 0) {
      result = hr;
    } else {
      const long open = OpenCommandSession(Us(kNvmServiceId));
      if (open != 0) {
        LogLine("%s: OpenCommandSession FAILED: 0x%X\n", kName, static_cast<unsigned>(open));
        result = static_cast<long>(plat::ERROR_NOT_SUPPORTED);
      }
    }
  }
  DisconnectInterface();
  if (result != 0) WriteReply(reply, u"ERROR");
  return result;
}

}  // namespace vexel
