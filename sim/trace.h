// The request trace of the simulated modem, modem/trace.jsonl: one JSON object a line for every
// command-session request (when TXL_SIM_TRACE=1), written by the stack and read back by txlsim and
// by outside tools. Its encoding and its decoding live together here, so they cannot drift apart.
//
//   {"op":"set","iface":"{…}","service":"{…}","cid":1,"data":"00003D10…"}
//
// op is open, close, query or set; data the request's bytes in upper-case hexadecimal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sim::trace {

struct Line {
  std::string op;
  std::string iface;    // UTF-8
  std::string service;  // UTF-8, as the caller spelled it
  std::uint32_t cid = 0;
  std::vector<std::uint8_t> data;
};

// The file of a notebook's trace.
std::filesystem::path TraceFile(const std::filesystem::path& machine_dir);

// One line of the file, with its line end.
std::string Encode(const Line& line);
// A line as Encode wrote it (a CR before the line end is tolerated); nullopt for anything else.
std::optional<Line> Parse(const std::string& text);
// What a person reads: the service by name and the payload decoded ("set NVM item 0x103d0000
// offset 1 length 2: write 2 bytes", "set AT tunnel \"AT+CGSN\\r\\n\""); nullopt for a service
// the modem does not offer.
std::optional<std::string> Describe(const Line& line);

// Appends a line to the notebook's trace; other processes append too, under the trace's lock.
// False (and a word on standard error) when it cannot.
bool Append(const std::filesystem::path& machine_dir, const Line& line);

}  // namespace sim::trace
