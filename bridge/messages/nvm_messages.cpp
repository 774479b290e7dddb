#include "bridge/messages/nvm_messages.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/mbn/session_api.h"
#include "bridge/messages/device_services.h"
#include "bridge/messages/records.h"
#include "bridge/messages/reply.h"
#include "platform/bytes.h"
#include "platform/text.h"
#include "platform/types.h"

namespace vexel {

namespace {

using plat::E_FAIL;
using plat::E_INVALIDARG;

constexpr long kBadResponse = static_cast<long>(plat::HresultFromWin32(13));  // ERROR_INVALID_DATA

long NvmRead(const char* name, const nvm_read_data& request, nvm_read_result* result) {
  LogLine("%s \n", name);
  if (!result || request.dataBuffer_size > kMaxNvmReadData || request.dataBuffer_size > result->capacity)
    return E_INVALIDARG;
  std::uint8_t message[NvmReadRequestLayout::kBytes] = {};
  plat::LeWriter(message)
      .U32(NvmReadRequestLayout::kNvmId, request.nvm_id)
      .U32(NvmReadRequestLayout::kOffset, request.nvm_offset)
      .U32(NvmReadRequestLayout::kSize, request.dataBuffer_size);
  std::vector<std::uint8_t> response(kMessageBytes);
  unsigned int length = static_cast<unsigned int>(response.size());
  const long hr = QueryCommand(ApiText(g_DetectedInterfaceID), ApiText(kNvmServiceId), kDeviceServiceCid,
                               sizeof message, message, &length, response.data());
  if (hr != 0 || length == 0) return hr;
  if (length < NvmReadResponseLayout::kData) return kBadResponse;
  plat::LeReader fields(std::span<const std::uint8_t>(response.data(), length));
  const std::uint32_t id = fields.U32(NvmReadResponseLayout::kNvmId);
  const std::uint32_t size = fields.U32(NvmReadResponseLayout::kSize);
  // The data must be there and must fit the caller's record.
  if (size > length - NvmReadResponseLayout::kData || size > result->capacity) return kBadResponse;
  result->nvm_id = id;
  LogLine("%s: NVM ID: %x\n", name, id);
  result->dataBuffer_size = size;
  LogLine("%s: dataBuffer_size: %u\n", name, size);
  // An empty record may have no storage at all: nothing to copy then.
  if (size > 0) std::memcpy(result->data, response.data() + NvmReadResponseLayout::kData, size);
  return 0;
}

long NvmWrite(const char* name, const nvm_write_data& request) {
  LogLine("%s \n", name);
  if (request.dataBuffer_size > kMaxNvmWriteData || (request.dataBuffer_size > 0 && !request.data))
    return E_INVALIDARG;
  std::vector<std::uint8_t> message(kMessageBytes, 0);
  plat::LeWriter(message)
      .U32(NvmWriteRequestLayout::kNvmId, request.nvm_id)
      .U32(NvmWriteRequestLayout::kOffset, request.nvm_offset)
      .U32(NvmWriteRequestLayout::kSize, request.dataBuffer_size);
  if (request.dataBuffer_size > 0)
    std::memcpy(message.data() + NvmWriteRequestLayout::kData, request.data, request.dataBuffer_size);
  std::vector<std::uint8_t> response(kMessageBytes);
  unsigned int length = static_cast<unsigned int>(response.size());
  return SetCommand(ApiText(g_DetectedInterfaceID), ApiText(kNvmServiceId), kDeviceServiceCid,
                    static_cast<unsigned int>(NvmWriteRequestLayout::kData + request.dataBuffer_size), message.data(),
                    &length, response.data());
}

}  // namespace

long Query_MBIM_NVM_READ(const nvm_read_data& request, nvm_read_result* result) {
  return NvmRead("Query_MBIM_NVM_READ", request, result);
}

long Query_MBIM_NVM_READ_MTPM(const nvm_read_data& request, nvm_read_result* result) {
  return NvmRead("Query_MBIM_NVM_READ_MTPM", request, result);
}

long Query_MBIM_NVM_READ_STA(const nvm_read_data& request, nvm_read_result* result) {
  const long hr = NvmRead("Query_MBIM_NVM_READ_STA", request, result);
  LogLine("%s exit\n", "Query_MBIM_NVM_READ_STA");
  return hr;
}

long Set_MBIM_NVM_WRITE(const nvm_write_data& request) { return NvmWrite("Set_MBIM_NVM_WRITE", request); }
long Set_MBIM_NVM_WRITE_MTPM(const nvm_write_data& request) { return NvmWrite("Set_MBIM_NVM_WRITE_MTPM", request); }
long Set_MBIM_NVM_WRITE_STA(const nvm_write_data& request) { return NvmWrite("Set_MBIM_NVM_WRITE_STA", request); }

long VEXEL_ATTUNNEL_MBIM_Extension(const char16_t* command, char16_t* reply) {
  static const char* const kName = "VEXEL_ATTUNNEL_MBIM_Extension";
  LogLine("%s ++\n", kName);
  const std::string text = plat::ToAnsi(std::u16string_view(command, plat::WideLength(command)));
  long hr = E_INVALIDARG;
  if (text.size() <= kMessageBytes) {
    std::vector<std::uint8_t> message(kMessageBytes, 0);
    std::memcpy(message.data(), text.data(), text.size());
    std::vector<std::uint8_t> response(kMessageBytes);
    unsigned int length = static_cast<unsigned int>(response.size());
    hr = SetCommand(ApiText(g_DetectedInterfaceID), ApiText(kAtTunnelServiceId), kDeviceServiceCid,
                    static_cast<unsigned int>(message.size()), message.data(), &length, response.data());
    if (hr == 0 && length > 0) {
      const std::u16string wide =
          plat::FromAnsi(std::string_view(reinterpret_cast<const char*>(response.data()), length));
      WriteReply(reply, wide);
    } else if (hr == 0) {
      LogLine("%s: ulResponseLength is 0\n", kName);
      hr = E_FAIL;
    }
  }
  LogLine("%s --\n", kName);
  return hr;
}

}  // namespace vexel
