// The notebook's registry file as any process of the suite reads it: whatever the bytes, reading
// never fails hard, and what was read survives being written back whole and read again (a process
// that rewrites the file under its lock must not lose or change what another process stored).
// One input in four is also put on the notebook and changed through the platform's registry, as
// the bridge stores its switch values: a file with lines that could not be read is never
// rewritten, and any other keeps every key and value besides the one stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "platform/common/registry_file.h"
#include "platform/registry.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace rf = plat::regfile;

std::filesystem::path g_dir;

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ThroughThePlatform(std::string_view bytes, const rf::Document& read) {
  const auto file = g_dir / "registry.reg";
  txlfuzz::WriteFile(file, bytes);
  const std::u16string subkey = u"SOFTWARE\\OEM\\Corvid\\SAR";
  std::unique_ptr<plat::RegistryKey> key;
  if (plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, subkey, &key) == 0 && key) {
    plat::DWORD value = 0;
    std::u16string text;
    (void)key->QueryDword(u"Body_Sar_ON", &value);
    (void)key->QueryString(u"Body_Sar_Profile", &text);
    (void)key->CountSubkeys(&value);
  }
  key.reset();
  const plat::LONG stored = plat::CreateRegistryKey(plat::RegistryHive::kLocalMachine, subkey, &key);
  if (stored == 0 && key) (void)key->SetDword(u"Body_Sar_ON", 1);
  key.reset();

  const std::string after = ReadAll(file);
  if (!read.problems().empty()) {
    if (after != bytes) std::abort();
    return;
  }
  const rf::Document now = rf::Parse(after);
  if (!now.problems().empty()) std::abort();
  for (const auto& [path, was] : read.keys()) {
    const rf::Key* is = now.Find(path);
    if (!is) std::abort();
    for (const rf::Value& v : was.values) {
      const rf::Value* kept = is->FindValue(v.name);
      if (!kept) std::abort();
      const bool the_stored_one = rf::NamesEqual(path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR") &&
                                  rf::NamesEqual(v.name, u"Body_Sar_ON");
      if (!the_stored_one && !(*kept == v)) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_dir = txlfuzz::MakeNotebook("registry", "");
  txlfuzz::UseNotebook(g_dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  const rf::Document read = rf::Parse(text);
  const std::string written = rf::Format(read);
  const rf::Document reread = rf::Parse(written);
  // Writing never produces a line the reader refuses, and the keys and values come back as they were.
  if (!reread.problems().empty() || reread.keys() != read.keys()) std::abort();
  if (rf::Format(reread) != written) std::abort();
  // The disk is far slower than the reader: one input in four.
  if (size % 4 == 0) ThroughThePlatform(text, read);
  return 0;
}
