// The modem's device services the bridge talks to, as their ids are written on the wire.
#pragma once

namespace vexel {

inline constexpr char16_t kMsSarServiceId[] = u"{68223D04-9F6C-4E0F-822D-28441FB72340}";
inline constexpr char16_t kNvmServiceId[] = u"{e10ff51b-ac2d-4104-86f6-8d621b430189}";
inline constexpr char16_t kAtTunnelServiceId[] = u"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}";
// Every request of these services uses this command id.
inline constexpr unsigned int kDeviceServiceCid = 1;

// The reply buffer of the AT-style entry points, in UTF-16 units.
inline constexpr int kReplyChars = 4096;

}  // namespace vexel
