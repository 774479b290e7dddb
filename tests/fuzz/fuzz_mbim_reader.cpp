// The simulated notebook's MBIM reader against hostile bytes: the first byte sets the size of the
// pieces the stream arrives in, the rest is the stream. Whatever is read must not crash or leak,
// and every whole command read must survive being written again and read back, in fragments of
// any size a host may ask for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/mbim/wire.h"

using namespace sim::mbim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);
  StreamReader reader;
  Assembler assembler;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    reader.Append(stream.subspan(at, std::min(chunk, stream.size() - at)));
    Bytes raw;
    for (;;) {
      const StreamReader::Result r = reader.Take(&raw);
      if (r != StreamReader::Result::kMessage) break;
      const Assembler::Outcome o = assembler.Feed(raw);
      if (o.kind != Assembler::Outcome::Kind::kMessage || o.message.type != MessageType::kCommand) continue;
      const Message& m = o.message;
      const std::uint32_t transfer = kMinControlTransfer + (data[0] * 37u) % (kMaxControlTransfer - kMinControlTransfer);
      Assembler again;
      Assembler::Outcome back;
      for (const Bytes& f : EncodeCommand(m.transaction_id, m.service, m.cid, static_cast<CommandType>(m.command_type),
                                          m.information, transfer)) {
        if (f.size() > transfer) std::abort();
        back = again.Feed(f);
      }
      if (back.kind != Assembler::Outcome::Kind::kMessage || back.message.information != m.information ||
          back.message.cid != m.cid || back.message.service != m.service || back.message.command_type != m.command_type ||
          back.message.transaction_id != m.transaction_id)
        std::abort();
    }
  }
  return 0;
}
