// MBIM control messages as they travel on a device node: the twelve-byte header, the fragments
// of commands and their answers, and the reading of a byte stream that a character device or a
// pseudo-terminal delivers in arbitrary pieces.
//
// Everything here is pure: bytes in, messages or a protocol error out. The simulated notebook's
// MBIM server is built on it, and the fuzz targets drive the reader with hostile bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/com.h"

namespace sim::mbim {

using Bytes = std::vector<std::uint8_t>;

enum class MessageType : std::uint32_t {
  kOpen = 0x1,
  kClose = 0x2,
  kCommand = 0x3,
  kHostError = 0x4,
  kOpenDone = 0x80000001,
  kCloseDone = 0x80000002,
  kCommandDone = 0x80000003,
  kFunctionError = 0x80000004,
  kIndicateStatus = 0x80000007,
};

enum class ProtocolError : std::uint32_t {
  kTimeoutFragment = 1,
  kFragmentOutOfSequence = 2,
  kLengthMismatch = 3,
  kDuplicatedTid = 4,
  kNotOpened = 5,
  kUnknown = 6,
  kCancel = 7,
  kMaxTransfer = 8,
};

// Status of a completed command (MBIM_STATUS_*), the ones the modem answers with.
enum class Status : std::uint32_t {
  kSuccess = 0,
  kBusy = 1,
  kFailure = 2,
  kNoDeviceSupport = 9,
  kNotInitialized = 14,
  kInvalidParameters = 21,
  kReadFailure = 22,
  kWriteFailure = 23,
  kOperationNotAllowed = 28,
};

enum class CommandType : std::uint32_t { kQuery = 0, kSet = 1 };

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kFragmentHeaderSize = 8;
// The smallest and largest control transfer a host may ask for at OPEN; a device keeps to the
// host's value within these.
inline constexpr std::uint32_t kMinControlTransfer = 64;
inline constexpr std::uint32_t kMaxControlTransfer = 4096;
// The most a joined message may carry: far above any command the modem takes, and a bound on what
// a host's endless fragments can make a device hold.
inline constexpr std::size_t kMaxJoinedBody = 65536;

// A device-service id as it travels (plat::GuidToBytes and plat::GuidFromBytes convert).
using Uuid = plat::GuidBytes;
// "a289cc33-bcbb-8b4f-b6b0-133ec2aae6df"
std::string UuidText(const Uuid& uuid);

// The basic-connect service and the commands of it the modem answers.
inline constexpr Uuid kBasicConnect = {0xa2, 0x89, 0xcc, 0x33, 0xbc, 0xbb, 0x8b, 0x4f,
                                       0xb6, 0xb0, 0x13, 0x3e, 0xc2, 0xaa, 0xe6, 0xdf};
inline constexpr std::uint32_t kCidDeviceCaps = 1;
inline constexpr std::uint32_t kCidSubscriberReadyStatus = 2;
inline constexpr std::uint32_t kCidDeviceServices = 16;

// One whole message (its fragments joined), host to device or device to host.
struct Message {
  MessageType type = MessageType::kOpen;
  std::uint32_t transaction_id = 0;
  // OPEN: the maximum control transfer; OPEN_DONE, CLOSE_DONE: the status; FUNCTION_ERROR,
  // HOST_ERROR: the protocol error.
  std::uint32_t value = 0;
  // COMMAND, COMMAND_DONE, INDICATE_STATUS:
  Uuid service{};
  std::uint32_t cid = 0;
  std::uint32_t command_type = 0;  // COMMAND: query or set; COMMAND_DONE: the status
  Bytes information;
};

// Splits a byte stream into single control messages by the length in their headers.
class StreamReader {
 public:
  enum class Result { kMessage, kNeedMore, kMalformed };
  void Append(std::span<const std::uint8_t> bytes);
  // kMessage: *message holds the next one whole. kMalformed: a header whose length cannot be (less
  // than a header, or more than kMaxControlTransfer); the stream has no boundary to find again and
  // is dropped.
  Result Take(Bytes* message);
  std::size_t buffered() const { return buffer_.size(); }

 private:
  Bytes buffer_;
};

// Joins fragments into whole messages, of either direction: a server feeds it what the host
// writes, a client what the device answers.
class Assembler {
 public:
  struct Outcome {
    enum class Kind { kMessage, kNeedMore, kError } kind = Kind::kNeedMore;
    Message message;                        // kMessage
    ProtocolError error = ProtocolError::kUnknown;  // kError
    std::uint32_t transaction_id = 0;       // kError: the transaction the error answers
  };
  // One control message as StreamReader cut it.
  Outcome Feed(std::span<const std::uint8_t> raw);

 private:
  bool assembling_ = false;
  std::uint32_t tid_ = 0;
  std::uint32_t total_ = 0;
  std::uint32_t next_ = 0;
  Bytes body_;
};

// Device-to-host messages. Commands' answers are cut into fragments of at most `max_transfer`
// bytes each (the value the host gave at OPEN).
Bytes EncodeOpenDone(std::uint32_t tid, Status status);
Bytes EncodeCloseDone(std::uint32_t tid, Status status);
Bytes EncodeFunctionError(std::uint32_t tid, ProtocolError error);
std::vector<Bytes> EncodeCommandDone(std::uint32_t tid, const Uuid& service, std::uint32_t cid, Status status,
                                     std::span<const std::uint8_t> information, std::uint32_t max_transfer);

// Host-to-device messages, for clients and tests.
Bytes EncodeOpen(std::uint32_t tid, std::uint32_t max_transfer);
Bytes EncodeClose(std::uint32_t tid);
std::vector<Bytes> EncodeCommand(std::uint32_t tid, const Uuid& service, std::uint32_t cid, CommandType type,
                                 std::span<const std::uint8_t> information, std::uint32_t max_transfer);

}  // namespace sim::mbim
