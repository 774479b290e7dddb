// The vendor NVM read and write messages and the vendor AT tunnel. None of them connects: the
// caller has connected with ConnectMBIMInterface and disconnects afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

struct nvm_read_data {
  std::uint32_t nvm_id;
  std::uint32_t nvm_offset;
  std::uint32_t dataBuffer_size;
};

// Filled in for the caller; `data` points at `capacity` bytes of the caller's record.
struct nvm_read_result {
  std::uint32_t nvm_id;
  std::uint32_t dataBuffer_size;
  std::uint8_t* data;
  std::size_t capacity;
};

struct nvm_write_data {
  std::uint32_t nvm_id;
  std::uint32_t nvm_offset;
  std::uint32_t dataBuffer_size;
  const std::uint8_t* data;
};

// Reads a byte range of an item: 0 with the record filled (or, for an empty response, 0 with the
// record untouched), else the request's failure. A range larger than the record or than one
// response can carry is refused before any traffic (E_INVALIDARG); a response whose data does not
// match what it claims is refused (0x8007000D) and copies nothing.
long Query_MBIM_NVM_READ(const nvm_read_data& request, nvm_read_result* result);
long Query_MBIM_NVM_READ_MTPM(const nvm_read_data& request, nvm_read_result* result);
long Query_MBIM_NVM_READ_STA(const nvm_read_data& request, nvm_read_result* result);

// Writes a byte range of an item; more than 4084 data bytes are refused (E_INVALIDARG).
long Set_MBIM_NVM_WRITE(const nvm_write_data& request);
long Set_MBIM_NVM_WRITE_MTPM(const nvm_write_data& request);
long Set_MBIM_NVM_WRITE_STA(const nvm_write_data& request);

// Passes the command text (as received) to the modem and puts its reply, widened, into the reply
// buffer (kReplyChars units). An empty reply gives E_FAIL; a text longer than one 4096-byte
// message is refused (E_INVALIDARG) with nothing sent.
long VEXEL_ATTUNNEL_MBIM_Extension(const char16_t* command, char16_t* reply);

}  // namespace vexel
