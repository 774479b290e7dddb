// The control library's AT reply parser object, created through the class-id factory as a client
// of the support objects gets it, every operation fed text from the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/support/global_tools.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  void* object = nullptr;
  if (!IGlobalTools::CreateToolObject(IGlobalTools::CLSID_CKrillParser, &object) || !object) __builtin_trap();
  auto* parser = static_cast<IGlobalTools::IAtParser*>(object);

  const std::string a = data.ConsumeRandomLengthString(512);
  const std::string b = data.ConsumeRandomLengthString(16);
  const std::string c = data.ConsumeRandomLengthString(16);
  const std::vector<std::uint8_t> reply = data.ConsumeRemainingBytes<std::uint8_t>();

  std::string parsed;
  parser->ParseReply(reply.data(), reply.size(), &parsed);
  if (parsed.size() > reply.size()) __builtin_trap();
  (void)parser->KeepChars(a, b);
  (void)parser->RemoveChars(a, b);
  (void)parser->HexToDecimal(a);
  std::vector<std::string> parts;
  parser->SplitText(a, b, &parts);
  (void)parser->TextBetween(a, b, c);
  parser->Release();
  return 0;
}
