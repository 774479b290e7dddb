#include "bridge/front_door/readiness_probe.h"

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/messages/device_services.h"
#include "bridge/messages/reply.h"

namespace vexel {

long ApiHandleIsMBIMReady(char16_t* reply) {
  LogLine("Handle get_IsMBIMReady\n");
  WriteReply(reply, u"OK");
  return AnswerResult(reply, ProbeCommandSessions("ApiHandleIsMBIMReady", kMsSarServiceId, kNvmServiceId));
}

}  // namespace vexel
