#include "bridge/messages/reply.h"

#include <algorithm>
#include <string>

#include "bridge/messages/device_services.h"

namespace vexel {

void WriteReply(char16_t* reply, std::u16string_view text) {
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(kReplyChars - 1));
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), reply);
  reply[n] = u'\0';
}

void WriteReplyNumber(char16_t* reply, std::uint32_t value) {
  const std::string digits = std::to_string(value);
  WriteReply(reply, std::u16string(digits.begin(), digits.end()));
}

long AnswerResult(char16_t* reply, long result) {
  if (result != 0) WriteReply(reply, u"ERROR");
  return result;
}

}  // namespace vexel
