// The results of the control library, named once: what its exports answer (api/exports.h says
// which export answers which), what the library's own channel answers its callers, and the one
// answer of the bridge that the library reads as more than a failure.
//
// Plain numbers rather than an enum: they cross the library's boundary as 32-bit ints, they are
// compared with the bridge's own int results, and their values are fixed for every client.
#pragma once

#include "platform/types.h"

namespace krill {

// Done.
inline constexpr int kSucceeded = 0;
// The library's own channel: no channel object could be made.
inline constexpr int kNoChannelObject = 1;
// Nothing to ask: the module is not identified, the bridge library or the family's entry point
// cannot be bound, or the library's own channel cannot be opened.
inline constexpr int kNotAvailable = 2;
// A command did not go through: the bridge's entry point failed it (the readiness probe
// included), or the own channel could not carry it.
inline constexpr int kCommandFailed = 3;
// The modem's reply is of no use: empty, refused ("ERROR"), unconfirmed (no "OK" where one is
// needed), or without a value text, or one too long for the caller's buffer.
inline constexpr int kUnusableReply = 4;
// Not served: an export called before identification or for a module type it does not serve, a
// null buffer, a table text that cannot be applied or would not fit its command, a reply that
// holds no IMEI or band-5 value.
inline constexpr int kNotServed = 5;

// The bridge's ERROR_NOT_SUPPORTED, from the readiness probe: the module offers no bridge road,
// the library's own channel serves it instead. The identification answers it too when the
// firmware closes the bridge road. Never returned by an export.
inline constexpr int kNoBridgeRoad = static_cast<int>(plat::ERROR_NOT_SUPPORTED);
static_assert(kNoBridgeRoad == 50);

}  // namespace krill
