#include "tool/txlctl_session.h"

#include <cstring>
#include <string>

#include "api/result.h"
#include "bridge/mbn/session_symbols.h"
#include "platform/dll.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"

namespace txlctl {

namespace {

namespace sym = vexel::symbols;

// The bridge's answers are HRESULTs; shown as Windows shows them.
std::string Hresult(long hr) {
  return plat::Format("0x%08X", static_cast<unsigned>(static_cast<unsigned long>(hr) & 0xFFFFFFFFul));
}

SessionFailure Failed(int code, std::string why) { return SessionFailure{code, std::move(why)}; }

}  // namespace

struct ServiceSession::Impl {
  sym::SessionApi api;
  char16_t interface_id[64] = {};
  char16_t service[64] = {};
  bool connected = false;
  bool session_open = false;

  unsigned short* Interface() { return reinterpret_cast<unsigned short*>(interface_id); }
  unsigned short* Service() { return reinterpret_cast<unsigned short*>(service); }
};

ServiceSession::ServiceSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ServiceSession::~ServiceSession() {
  if (impl_->session_open) impl_->api.close_session(impl_->Service());
  if (impl_->connected) impl_->api.disconnect();
}

std::unique_ptr<ServiceSession> ServiceSession::Open(const char16_t* service, SessionFailure* failure) {
  const std::u16string path =
      plat::FolderOf(plat::HostExecutablePath()) + plat::SharedLibraryFileName(u"VexelSarDll");
  // Kept for the life of the process, as the control library keeps the bridge: its completion
  // thread may still be finishing when a session ends.
  static plat::DynamicLibrary* const bridge = plat::LoadDynamicLibrary(path).release();
  if (!bridge) {
    *failure = Failed(krill::kNotAvailable, "cannot load the bridge " + plat::Utf16ToUtf8(path));
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  if (!impl->api.Bind(*bridge)) {
    *failure = Failed(krill::kNotAvailable, "the bridge does not export its session API");
    return nullptr;
  }
  const std::u16string service_text(service);
  if (service_text.size() >= std::size(impl->service)) {
    *failure = Failed(krill::kNotAvailable, "service id too long");
    return nullptr;
  }
  std::memcpy(impl->service, service_text.c_str(), (service_text.size() + 1) * sizeof(char16_t));

  static _MBIMIDS ids[kMaxEnumeratedInterfaces];
  long count = 0;
  long hr = impl->api.enum_interface(&count, ids);
  if (hr != 0) {
    *failure = Failed(krill::kCommandFailed, "listing the modem interfaces failed (" + Hresult(hr) + ")");
    return nullptr;
  }
  if (count <= 0) {
    *failure = Failed(krill::kNotAvailable, "no modem interface");
    return nullptr;
  }
  std::memcpy(impl->interface_id, ids[0].InterfaceID, sizeof impl->interface_id);
  impl->interface_id[std::size(impl->interface_id) - 1] = u'\0';

  std::unique_ptr<ServiceSession> session(new ServiceSession(std::move(impl)));
  Impl& s = *session->impl_;
  // Disconnected on every path once a connection was tried: a failed connect may leave parts of
  // it behind, and disconnecting what is not connected does nothing.
  s.connected = true;
  if ((hr = s.api.connect(s.Interface())) != 0) {
    *failure = Failed(krill::kCommandFailed, "connecting to the modem failed (" + Hresult(hr) + ")");
    return nullptr;
  }
  if ((hr = s.api.open_session(s.Service())) != 0) {
    *failure = Failed(krill::kCommandFailed, "opening the service's command session failed (" + Hresult(hr) + ")");
    return nullptr;
  }
  s.session_open = true;
  return session;
}

bool ServiceSession::Query(std::uint32_t cid, const std::vector<std::uint8_t>& payload,
                           std::vector<std::uint8_t>* answer, SessionFailure* failure) {
  return Request(false, cid, payload, answer, failure);
}

bool ServiceSession::Set(std::uint32_t cid, const std::vector<std::uint8_t>& payload,
                         std::vector<std::uint8_t>* answer, SessionFailure* failure) {
  return Request(true, cid, payload, answer, failure);
}

bool ServiceSession::Request(bool set, std::uint32_t cid, const std::vector<std::uint8_t>& payload,
                             std::vector<std::uint8_t>* answer, SessionFailure* failure) {
  // The largest completion the bridge passes on.
  std::vector<std::uint8_t> buffer(4096);
  std::vector<std::uint8_t> request = payload;
  request.reserve(1);  // an empty query still passes a valid pointer
  auto length = static_cast<unsigned int>(buffer.size());
  const auto call = set ? impl_->api.set : impl_->api.query;
  const long hr = call(impl_->Interface(), impl_->Service(), cid, static_cast<unsigned int>(request.size()),
                       request.data(), &length, buffer.data());
  if (hr != 0) {
    *failure = Failed(krill::kCommandFailed, std::string(set ? "the set" : "the query") + " of command " +
                                                 std::to_string(cid) + " failed (" + Hresult(hr) + ")");
    return false;
  }
  buffer.resize(length < buffer.size() ? length : buffer.size());
  *answer = std::move(buffer);
  return true;
}

}  // namespace txlctl
