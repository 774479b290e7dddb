// What the simulator's mobile-broadband classes share: the guard around every method body, the
// out-parameter helpers, the lookup of an interface id, and the creation of each manager class
// (mbn_interfaces.cpp: the interfaces and the connection managers; mbn_device_services.cpp: the
// device services).
#pragma once

#include <new>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "sim/modem_config.h"

namespace sim::mbn {

using plat::BSTR;
using plat::HRESULT;
using plat::ULONG;

// Runs the body of a COM method; nothing thrown inside (out of memory, no thread to be had) leaves
// the method other than as its result.
template <class Body>
HRESULT Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return plat::E_OUTOFMEMORY;
  } catch (...) {
    return plat::E_FAIL;
  }
}

HRESULT OutString(std::u16string_view text, BSTR* out);
BSTR AllocUtf8(const std::string& text);
// The interface of the configured modem whose id is `id` (letter case ignored); empty if none.
std::u16string FindInterface(const ModemConfig& config, std::u16string_view id);

// The four manager classes, created with their first reference handed out as `iid`.
HRESULT CreateInterfaceManager(plat::REFIID iid, void** ppv);
HRESULT CreateDeviceServicesManager(plat::REFIID iid, void** ppv);
HRESULT CreateConnectionManager(plat::REFIID iid, void** ppv);
HRESULT CreateConnectionProfileManager(plat::REFIID iid, void** ppv);

}  // namespace sim::mbn
