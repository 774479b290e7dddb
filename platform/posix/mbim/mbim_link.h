// One MBIM control device opened through libmbim, directly or through libmbim's proxy (which lets
// the suite share the device with ModemManager). Every libmbim call runs on the link's own thread,
// in its own GLib main context; callers on any thread get their answers through callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"

namespace plat::mbim_os {

class MbimLink {
 public:
  struct Result {
    HRESULT status = S_OK;
    std::vector<std::uint8_t> information;
  };
  using Done = std::function<void(Result)>;

  // Opens the device at `path`; null, with the reason in *error, when it cannot be opened.
  static std::shared_ptr<MbimLink> Open(const std::string& path, bool through_proxy, HRESULT* error);
  ~MbimLink();
  MbimLink(const MbimLink&) = delete;
  MbimLink& operator=(const MbimLink&) = delete;

  // Sends one command of `service` and calls `done` once, on the link's thread, with the device's
  // answer, or with the error of a command the device refused, never answered in time or could not
  // take because it went away. Nothing waits for ever.
  void Command(const GUID& service, std::uint32_t cid, bool set, std::vector<std::uint8_t> information, Done done);
  // The same, waiting for the answer.
  Result CommandAndWait(const GUID& service, std::uint32_t cid, bool set, std::vector<std::uint8_t> information);

  const std::string& path() const;
  // Whether the caller runs on the link's own thread, where the link must not be destroyed (its
  // destructor ends and joins that thread).
  bool OnOwnThread() const;
  // The device went away under the link; every command on it fails, and a new link must be opened
  // when the device comes back (a module that resets comes back as a new device on the same node).
  bool gone() const;

  struct State;

 private:
  explicit MbimLink(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// How long a command may take before it completes as timed out, in seconds: ten, shortened by
// TXL_TIME_SCALE to no less than twice plat::kRoundTripFloorMs.
std::uint32_t CommandTimeoutSeconds();

}  // namespace plat::mbim_os
