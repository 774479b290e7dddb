// The simulated modem behind an MBIM device node: every command goes through the same
// mobile-broadband objects the suite's own libraries reach in-process (sessions, completions on the
// simulator's thread, faults, latency, the trace), so a host that speaks MBIM meets the same modem.
#pragma once

#include <memory>

#include "sim/mbim/endpoint.h"

namespace sim::mbim {

class SimDevice final : public Device {
 public:
  SimDevice();
  ~SimDevice() override;
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  CommandReply Command(const Uuid& service, std::uint32_t cid, CommandType type, const Bytes& information) override;
  // Closes the command sessions opened for the host that is gone.
  void HostGone() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sim::mbim
