// The body-SAR value operations behind set_BodySarValue and get_BodySarValue: the bridge road,
// where the library reads the family's record, changes it and writes it back, and the reads and
// conversions it is built from.
#pragma once

#include "api/values/value_records.h"

namespace krill {

// Bridge road: kSucceeded, kNotAvailable (entry point not bound), kCommandFailed (the entry point
// failed) or kNotServed (the record could not be read or the text applied, or the module type is
// not served); a Kestrel read-back also fails as reading the active profile (get_BodySarProfile)
// fails.
int set_BodySarValueV2Ex(const char* text);
int get_BodySarValueV2Ex(char* buffer);

// The modem's record through the bridge: kSucceeded, kNotAvailable, kCommandFailed, or kNotServed
// for a module type that has no such record.
int ReadKestrelBodySarValueFromModem(ProfilePowerImage* image);
int ReadOspreyBodySarValueFromModem(MaxTxPwrRecord* record);

// Reads the record and changes it in place as the text says (Kestrel: in the active profile's
// table): kSucceeded, or the first failure.
int InitKestrelBodySarValue(const char* text, ProfilePowerImage* image);
int InitOspreyBodySarValue(const char* text, MaxTxPwrRecord* record);

// Writes the read-back text of a record into a buffer of kBodySarValueTextBytes: kSucceeded, or
// (Kestrel) the failure to read the active profile.
int RetKestrelBodySarValue(const ProfilePowerImage& image, char* buffer);
int RetOspreyBodySarValue(const MaxTxPwrRecord& record, char* buffer);

}  // namespace krill
