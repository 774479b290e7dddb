// The body-SAR value operations behind set_BodySarValue and get_BodySarValue: the bridge road,
// where the library reads the family's record, changes it and writes it back, and the reads and
// conversions it is built from.
#pragma once

#include "api/values/value_records.h"

namespace krill {

// Bridge road: 0, 2 (entry point not bound), 3 (the entry point failed) or 5 (the text could not
// be applied, or the module type is not served).
int set_BodySarValueV2Ex(const char* text);
int get_BodySarValueV2Ex(char* buffer);

// The modem's record through the bridge: 0, 2, 3, or 5 for a module type that has no such record.
int ReadKestrelBodySarValueFromModem(ProfilePowerImage* image);
int ReadOspreyBodySarValueFromModem(MaxTxPwrRecord* record);

// Reads the record and changes it in place as the text says (Kestrel: in the active profile's
// table): 0, or the first failure.
int InitKestrelBodySarValue(const char* text, ProfilePowerImage* image);
int InitOspreyBodySarValue(const char* text, MaxTxPwrRecord* record);

// Writes the read-back text of a record into a buffer of kBodySarValueTextBytes.
int RetKestrelBodySarValue(const ProfilePowerImage& image, char* buffer);
int RetOspreyBodySarValue(const MaxTxPwrRecord& record, char* buffer);

}  // namespace krill
