// What the fuzz targets share: a scratch notebook folder for the process (with the simulated modem
// registered and the long waits scaled down), modem.ini writing, and a device-service model that
// answers with bytes the fuzzer chose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "sim/service_model.h"

namespace txlfuzz {

// Once per process: a fresh folder under the temporary folder (removed at exit), TXL_TIME_SCALE
// (unless the caller set one) and the simulated modem registered with the platform. Returns the
// folder; every later call returns the same.
const std::filesystem::path& ScratchRoot();

// A notebook folder below the scratch root with the given modem.ini (none for empty text).
std::filesystem::path MakeNotebook(const std::string& name, const std::string& modem_ini);

// Points the simulated notebook (TXL_MACHINE_DIR) at a folder.
void UseNotebook(const std::filesystem::path& dir);

void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// Puts a notebook's modem back to the factory state and empties its registry, so that one input
// always meets the same modem: what an earlier input wrote cannot decide what a later one does.
void ResetNotebook(const std::filesystem::path& dir);

// A modem reply taken from the input: a status (mostly success, sometimes a failure, E_PENDING or
// none of the usual), sometimes no byte array at all, and the payload bytes.
sim::ServiceReply ConsumeReply(FuzzedDataProvider& data, std::size_t max_payload);

// Answers queries and sets with the replies it was given, in order; once they run out, with a
// success without payload. Called on the simulator's thread.
class QueuedReplies final : public sim::ServiceModel {
 public:
  explicit QueuedReplies(std::deque<sim::ServiceReply> replies) : replies_(std::move(replies)) {}
  sim::ServiceReply Query(std::uint32_t, const std::vector<std::uint8_t>&) override { return Next(); }
  sim::ServiceReply Set(std::uint32_t, const std::vector<std::uint8_t>&) override { return Next(); }

 private:
  sim::ServiceReply Next();
  std::mutex mutex_;
  std::deque<sim::ServiceReply> replies_;
};

// The rest of a line of modem.ini: the text with the characters that would end the line or the
// value (CR, LF, NUL) taken out.
std::string IniValue(std::string text);

}  // namespace txlfuzz

namespace txlfuzz {

// The control library's identification starts over: the interface manager it keeps (and with it
// the modem texts of the notebook it was made on) is released, the texts and the module type
// forgotten, and the entry points bound to the bridge linked into this process (or to `osprey` and
// `kestrel` when given).
void ResetIdentification(int (*osprey)(const char16_t*, char16_t*, int*, void*) = nullptr,
                         int (*kestrel)(const char16_t*, char16_t*, int*, void*) = nullptr);

}  // namespace txlfuzz
