// The reply text of the AT-style entry points: a buffer of kReplyChars UTF-16 units.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexel {

// Replaces the reply with text (cut to fit, always terminated).
void WriteReply(char16_t* reply, std::u16string_view text);
// Replaces the reply with a decimal number.
void WriteReplyNumber(char16_t* reply, std::uint32_t value);
// A command's result as its handler returns it: a failed one answers "ERROR", whatever the
// handler had written.
long AnswerResult(char16_t* reply, long result);

}  // namespace vexel
