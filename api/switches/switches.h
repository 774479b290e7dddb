// The body-SAR switches (enable, back-off on/off, mode, profile), the clear operation and the
// IMEI, over the bridge road or the library's own channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/values/value_records.h"  // the record sizes the library reserves

namespace krill {

// A direct-road query reply ("+BODYSARON: 1"): 1 when the character after the colon (and an
// optional blank) is the digit 1, else 0.
int ParseSwitchReply(const std::string& reply);

// The Osprey clear record (`MaxTxPwrRecord`): the default 3G and 4G override elements.
std::vector<std::uint8_t> DefaultMaxTxPwrRecord();
// Puts the Kestrel defaults into profile tables 0 and 1 of a `ProfilePowerImage`; everything
// else of the image keeps what it holds (what the modem reported).
void ApplyDefaultProfilePowerImage(std::vector<std::uint8_t>* image);

// The six-command clear over the bridge: kSucceeded, kNotAvailable (not bound) or kCommandFailed
// (the table read or a command failed).
int set_BodySarClearV2Ex();

}  // namespace krill
