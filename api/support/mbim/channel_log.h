// The channel log as the channel object and its event sink each hold it (one reference of their
// own), and the forms their lines give numbers in.
#pragma once

#include <memory>

#include "api/support/global_tools.h"
#include "platform/com.h"

namespace IGlobalTools {

// Releases one reference on the channel log.
struct ChannelLogRelease {
  void operator()(ILog* log) const {
    if (log) log->Release();
  }
};
using ChannelLogRef = std::unique_ptr<ILog, ChannelLogRelease>;

// An HRESULT for "0x%x".
inline unsigned Bits(plat::HRESULT hr) { return static_cast<unsigned>(hr); }
// A request id for "%d".
inline int AsInt(plat::ULONG v) { return static_cast<int>(v); }

}  // namespace IGlobalTools
