// The notebook's registry file as any process of the suite reads it: whatever the bytes, reading
// never fails hard, and what was read survives being written back whole and read again (a process
// that rewrites the file under its lock must not lose or change what another process stored).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/common/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  namespace rf = plat::regfile;
  const rf::Document read = rf::Parse(std::string_view(reinterpret_cast<const char*>(bytes), size));
  const std::string written = rf::Format(read);
  const rf::Document reread = rf::Parse(written);
  // Writing never produces a line the reader refuses, and the keys and values come back as they were.
  if (!reread.problems().empty() || reread.keys() != read.keys()) std::abort();
  if (rf::Format(reread) != written) std::abort();
  return 0;
}
