// txlctl's road to one device service: the bridge's exported session API, with the bridge loaded
// from beside the program as TxlApply finds its libraries and bound by its exported names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace txlctl {

// Why a session or a request did not go through: the exit code (2 nothing to talk to, 3 the
// request failed) and the words for it.
struct SessionFailure {
  int code = 0;
  std::string why;
};

// Connected to the interface the bridge lists first (the one it chooses itself) with the command
// session of one service open; closed and disconnected when the object goes.
class ServiceSession {
 public:
  // Null, with *failure filled, when the bridge, its session API or a modem interface is missing
  // or the connection or the session cannot be opened.
  static std::unique_ptr<ServiceSession> Open(const char16_t* service, SessionFailure* failure);
  ~ServiceSession();
  ServiceSession(const ServiceSession&) = delete;
  ServiceSession& operator=(const ServiceSession&) = delete;

  // One request and its answer; false, with *failure filled, when the bridge fails it.
  bool Query(std::uint32_t cid, const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>* answer,
             SessionFailure* failure);
  bool Set(std::uint32_t cid, const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>* answer,
           SessionFailure* failure);

 private:
  struct Impl;
  explicit ServiceSession(std::unique_ptr<Impl> impl);
  bool Request(bool set, std::uint32_t cid, const std::vector<std::uint8_t>& payload,
               std::vector<std::uint8_t>* answer, SessionFailure* failure);
  std::unique_ptr<Impl> impl_;
};

}  // namespace txlctl
