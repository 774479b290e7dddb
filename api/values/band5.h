// The band-5 work-around that follows a successful direct-road table write on an Osprey module: the
// modem's band-5 handling, the band-6 element that mirrors band 5 in its calibration item, and the
// band-5 value copied into it.
#pragma once

#include <string>

namespace krill {

// Set when the library is loaded; cleared once the five one-time commands have all succeeded in one
// run, so later runs in the process skip them. Unguarded: the exports run one at a time.
extern bool g_bBand5OneTime;

// Sends `command` over the library's own channel up to `attempts` times, stopping at the first
// reply that holds "OK" and no "ERROR": kSucceeded then, else the result of the last attempt, where
// a reply that holds "ERROR" or lacks "OK" counts as kUnusableReply.
int SendPlanBCommand(const std::string& command, int attempts);

// The whole sequence: kSucceeded, the result of the first failing step, or kNotServed when the
// modem's read-back is refused, lacks "OK" or holds no plain band-5 value in 0..235 (no further
// command is sent then).
int ATGTBAND5WAPlanB();

}  // namespace krill
