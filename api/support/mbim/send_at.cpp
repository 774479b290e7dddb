// SendAtCommand, the exports' one way onto the library's own channel, and how the exports count
// its result together with the modem's reply.
#include <memory>
#include <string>

#include "api/result.h"
#include "api/support/global_tools.h"
#include "api/support/mbim/mbim_channel.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace IGlobalTools {

namespace {

using krill::kCommandFailed;
using krill::kNoChannelObject;
using krill::kNotAvailable;
using krill::kSucceeded;
using krill::kUnusableReply;

template <class... Args>
void ApiLog(int level, const char* format, Args... args) {
  if (ILogEx* log = GetApiLog()) log->WriteLog(level, format, args...);
}

struct ChannelClose {
  void operator()(IMbimChannel* channel) const {
    if (channel) channel->Close();
  }
};

std::string HexBytes(const std::string& bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) hex += plat::Format("%02X", static_cast<unsigned>(c));
  return hex;
}

}  // namespace

int SendAtCommand(const std::string& command, std::string* reply) {
  int result = kNoChannelObject;
  std::string collected;
  try {
    ApiLog(kLevelInformation, "[Information] SendAtCommand ==========================================================enter.");
    plat::SleepMs(kSendAtDelayMs);
    void* object = nullptr;
    if (CreateToolObject(CLSID_CMbimDeviceEx, &object) && object) {
      std::unique_ptr<IMbimChannel, ChannelClose> channel(static_cast<IMbimChannel*>(object));
      if (channel->Open() != plat::S_OK) {
        ApiLog(kLevelFailure, "[ErrorInfo][SendAtCommand] OpenMbimChannel Fail.");
        result = kNotAvailable;
      } else {
        ApiLog(kLevelInformation, "[Information][SendAtCommand] OpenMbimChannel Success.");
        ApiLog(kLevelInformation, "[Information][SendAtCommand] AT= %s, len = %d.", command.c_str(),
               static_cast<int>(command.size()));
        const plat::HRESULT hr =
            channel->ExecuteCmd(reinterpret_cast<const std::uint8_t*>(command.data()), command.size(), &collected,
                                nullptr, kAtCommandServiceId, kAtCommandId);
        if (hr != plat::S_OK) {
          ApiLog(kLevelInformation, "[Information][SendAtCommand] Execute %s Error*******************.",
                 command.c_str());
          result = kCommandFailed;
        } else if (collected.empty()) {
          result = kUnusableReply;
        } else {
          result = kSucceeded;
          ApiLog(kLevelInformation, "[Information][SendAtCommand] ExecuteCmd Success,Response Data=%s, ParseData=%s",
                 collected.c_str(), HexBytes(collected).c_str());
        }
      }
    }
  } catch (...) {
    // Out of memory on the way: the channel is closed by now and the caller gets what came.
  }
  try {
    if (reply) *reply = collected;
    ApiLog(kLevelInformation, "[Information] SendAtCommand ==========================================================done. ");
  } catch (...) {
  }
  return result;
}

int DirectReplyResult(int sent, const std::string& reply, bool ok_required) {
  if (sent != kSucceeded) return sent;
  if (reply.find("ERROR") != std::string::npos) return kUnusableReply;
  if (ok_required && reply.find("OK") == std::string::npos) return kUnusableReply;
  return kSucceeded;
}

}  // namespace IGlobalTools
