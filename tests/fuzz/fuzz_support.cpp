#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/process.h"
#include "sim/sim.h"

namespace txlfuzz {

namespace fs = std::filesystem;

namespace {

void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(ScratchRoot(), ec);
}

}  // namespace

const fs::path& ScratchRoot() {
  static const fs::path root = [] {
    // Scaled so that the 5000 ms request wait lasts 25 ms and the channel's 1000 ms pause 5 ms:
    // a modem that answers at all answers well within that.
    if (!plat::GetEnv("TXL_TIME_SCALE")) plat::SetEnv("TXL_TIME_SCALE", "0.005");
    // A gate run names the folder itself: paths reach the comparisons libFuzzer learns from, so a
    // name that changes with the process id would change what the run explores.
    const auto given = plat::GetEnv("TXL_FUZZ_SCRATCH");
    fs::path dir = given && !given->empty()
                       ? fs::path(*given)
                       : fs::temp_directory_path() / ("txl-fuzz-" + std::to_string(plat::CurrentProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    sim::RegisterWithPlatform();
    return dir;
  }();
  static const bool cleaned_at_exit = std::atexit(RemoveScratch) == 0;
  (void)cleaned_at_exit;
  return root;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path MakeNotebook(const std::string& name, const std::string& modem_ini) {
  const fs::path dir = ScratchRoot() / name;
  fs::create_directories(dir / "modem");
  if (!modem_ini.empty()) WriteFile(dir / "modem" / "modem.ini", modem_ini);
  return dir;
}

void ResetNotebook(const fs::path& dir) {
  std::error_code ec;
  fs::remove_all(dir / "modem" / "nvm", ec);
  fs::remove(dir / "modem" / "body_sar_on.bin", ec);
  fs::remove(dir / "modem" / "body_sar_profile.bin", ec);
  fs::remove(dir / "modem" / "ms_sar.bin", ec);
  fs::remove(dir / "registry.reg", ec);
}

void UseNotebook(const fs::path& dir) { plat::SetEnv("TXL_MACHINE_DIR", dir.string().c_str()); }

sim::ServiceReply ConsumeReply(FuzzedDataProvider& data, std::size_t max_payload) {
  sim::ServiceReply reply;
  switch (data.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: reply.status = plat::Hr(0x80004005u); break;  // E_FAIL
    case 1: reply.status = plat::Hr(0x8000000Au); break;  // E_PENDING
    case 2: reply.status = static_cast<plat::HRESULT>(data.ConsumeIntegral<std::uint32_t>()); break;
    case 3: reply.has_payload = false; break;
    default: break;
  }
  reply.payload = data.ConsumeBytes<std::uint8_t>(data.ConsumeIntegralInRange<std::size_t>(0, max_payload));
  return reply;
}

sim::ServiceReply QueuedReplies::Next() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (replies_.empty()) {
    sim::ServiceReply none;
    none.has_payload = false;
    return none;
  }
  sim::ServiceReply next = std::move(replies_.front());
  replies_.pop_front();
  return next;
}

std::string IniValue(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r' && c != '\n' && c != '\0') out += c;
  return out;
}

}  // namespace txlfuzz
