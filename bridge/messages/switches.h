// The four switch commands (enable, mode, on/off, profile), the MS SAR configuration message they
// send, and the two settings the bridge keeps in the registry.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/messages/records.h"
#include "platform/registry.h"

namespace vexel {

// The configuration record every command starts from (ResetMsSarConfig) and the handlers adjust.
extern MsSarConfig g_MsSarConfig;
void ResetMsSarConfig();

inline constexpr char16_t kSarRegistryKey[] = u"SOFTWARE\\OEM\\Corvid\\SAR";
inline constexpr char16_t kBodySarOnValue[] = u"Body_Sar_ON";
inline constexpr char16_t kBodySarProfileValue[] = u"Body_Sar_Profile";

// Reads a REG_DWORD into *value, which holds the caller's default and keeps it when the read fails.
// Returns 1 in every case.
int ReadRegistryDWORD(plat::RegistryHive hive, const std::u16string& subkey, const std::u16string& name,
                      std::uint32_t* value);
// Stores a REG_DWORD, creating the key when needed: 1 when stored, 0 otherwise.
int WriteRegistryDWORD(plat::RegistryHive hive, const std::u16string& subkey, const std::u16string& name,
                       std::uint32_t value);
// A stored switch value as every reader sees it: missing or unreadable 1, 2 or more 1.
std::uint32_t ReadSwitchValue(const char16_t* name);

// Sends the configuration with SetCommand; "OK" or "ERROR" in the reply; SetCommand's result.
long Set_MBIM_CID_MS_SAR_CONFIG(const MsSarConfig& config, char16_t* reply);

// The handlers: the lower-cased command text and the reply buffer.
long ApiHandleBodySarEnable(const char16_t* command, char16_t* reply);
long ApiHandleBodySarMode(const char16_t* command, char16_t* reply);
long ApiHandleBodySarON(const char16_t* command, char16_t* reply);
long ApiHandleBodySarProfile(const char16_t* command, char16_t* reply);

// The first of the characters `known` that occurs anywhere in the text, tried in their order;
// 0 when none does.
char16_t SelectArgument(const char16_t* command, std::u16string_view known);

}  // namespace vexel
