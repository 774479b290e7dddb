#include "platform/posix/mbim/mbim_link.h"

#include <libmbim-glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "platform/mbim_status.h"
#include "platform/sync.h"

namespace plat::mbim_os {

namespace {

constexpr std::uint32_t kCommandTimeoutS = 10;
constexpr std::uint32_t kOpenTimeoutS = 30;
constexpr HRESULT kTimedOut = HresultFromWin32(1460);         // ERROR_TIMEOUT
constexpr HRESULT kDeviceGone = HresultFromWin32(1167);       // ERROR_DEVICE_NOT_CONNECTED

// libmbim counts its time-outs in whole seconds; each guards the device's answer, a round trip.
std::uint32_t ScaledSeconds(std::uint32_t seconds) {
  const DWORD ms = Timeout::RoundTrip(seconds * 1000).Scaled();
  return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::ceil(ms / 1000.0)));
}

// The error a Windows caller of the Mobile Broadband API would see for what libmbim reports.
HRESULT FromError(const GError* error) {
  if (!error) return E_FAIL;
  if (error->domain == MBIM_STATUS_ERROR) return HresultFromMbimStatus(static_cast<std::uint32_t>(error->code));
  if (error->domain == MBIM_CORE_ERROR) {
    if (error->code == MBIM_CORE_ERROR_TIMEOUT) return kTimedOut;
    if (error->code == MBIM_CORE_ERROR_WRONG_STATE || error->code == MBIM_CORE_ERROR_ABORTED) return kDeviceGone;
  }
  if (error->domain == G_IO_ERROR) return kDeviceGone;
  return E_FAIL;
}

MbimUuid ToMbimUuid(const GUID& g) {
  MbimUuid u{};
  const GuidBytes bytes = GuidToBytes(g);
  static_assert(sizeof u == sizeof bytes);
  std::memcpy(&u, bytes.data(), sizeof u);
  return u;
}

// libmbim knows its services by number; one it does not know is registered once per process.
MbimService ServiceFor(const GUID& guid) {
  static std::mutex mu;
  const MbimUuid uuid = ToMbimUuid(guid);
  std::lock_guard<std::mutex> lock(mu);
  const MbimService known = mbim_uuid_to_service(&uuid);
  if (known != MBIM_SERVICE_INVALID) return known;
  gchar* text = mbim_uuid_get_printable(&uuid);
  const std::string nickname = std::string("txl-") + (text ? text : "service");
  g_free(text);
  return static_cast<MbimService>(mbim_register_custom_service(&uuid, nickname.c_str()));
}

struct Call {
  std::function<void()> fn;
};

gboolean RunCall(gpointer data) {
  static_cast<Call*>(data)->fn();
  return G_SOURCE_REMOVE;
}
void DeleteCall(gpointer data) { delete static_cast<Call*>(data); }

}  // namespace

// At least twice the least of the completion waits above the link (the bridge's and the control
// library's), so that at any time scale the caller's own wait decides and the link only makes sure
// that nothing stays pending.
std::uint32_t CommandTimeoutSeconds() {
  return std::min(kCommandTimeoutS, std::max(ScaledSeconds(kCommandTimeoutS), 2 * kRoundTripFloorMs / 1000));
}

struct MbimLink::State {
  std::string path;
  bool proxy = false;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  std::thread thread;
  // Touched on the link's thread only:
  MbimDevice* device = nullptr;
  std::atomic<bool> removed{false};  // set on the link's thread, read anywhere
  std::set<GCancellable*> pending;  // commands sent and not yet answered

  // Runs fn on the link's thread.
  void Invoke(std::function<void()> fn) {
    g_main_context_invoke_full(context, G_PRIORITY_DEFAULT, RunCall, new Call{std::move(fn)}, DeleteCall);
  }
};

namespace {

struct Opening {
  MbimLink::State* state;
  std::promise<HRESULT> done;
};

void Opened(GObject* source, GAsyncResult* res, gpointer data) {
  auto* o = static_cast<Opening*>(data);
  GError* error = nullptr;
  const bool ok = mbim_device_open_full_finish(MBIM_DEVICE(source), res, &error);
  o->done.set_value(ok ? S_OK : FromError(error));
  if (error) g_error_free(error);
}

// libmbim gives up on a device that went away without failing the commands it had in flight; they
// would wait out their time-out. They end now, as on Windows, where a removed device's requests
// complete at once.
void Removed(MbimDevice*, gpointer data) {
  auto* s = static_cast<MbimLink::State*>(data);
  s->removed = true;
  // A cancelled command may complete inside g_cancellable_cancel and leave the set: cancel from a
  // copy that holds its own references.
  std::vector<GCancellable*> now;
  for (GCancellable* c : s->pending) now.push_back(G_CANCELLABLE(g_object_ref(c)));
  for (GCancellable* c : now) {
    g_cancellable_cancel(c);
    g_object_unref(c);
  }
}

void Created(GObject*, GAsyncResult* res, gpointer data) {
  auto* o = static_cast<Opening*>(data);
  GError* error = nullptr;
  o->state->device = mbim_device_new_finish(res, &error);
  if (!o->state->device) {
    o->done.set_value(error ? FromError(error) : E_FAIL);
    if (error) g_error_free(error);
    return;
  }
  g_signal_connect(o->state->device, MBIM_DEVICE_SIGNAL_REMOVED, G_CALLBACK(Removed), o->state);
  const auto flags = o->state->proxy ? MBIM_DEVICE_OPEN_FLAGS_PROXY : MBIM_DEVICE_OPEN_FLAGS_NONE;
  mbim_device_open_full(o->state->device, flags, ScaledSeconds(kOpenTimeoutS), nullptr, Opened, o);
}

struct Pending {
  MbimLink::State* state;
  GCancellable* cancel;
  MbimLink::Done done;
  ~Pending() {
    state->pending.erase(cancel);
    g_object_unref(cancel);
  }
};

void Answered(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Pending> p(static_cast<Pending*>(data));
  GError* error = nullptr;
  MbimLink::Result result;
  MbimMessage* response = mbim_device_command_finish(MBIM_DEVICE(source), res, &error);
  if (!response) {
    result.status = FromError(error);
  } else if (!mbim_message_response_get_result(response, MBIM_MESSAGE_TYPE_COMMAND_DONE, &error)) {
    result.status = FromError(error);
  } else {
    guint32 length = 0;
    const guint8* bytes = mbim_message_command_done_get_raw_information_buffer(response, &length);
    if (bytes && length) result.information.assign(bytes, bytes + length);
  }
  if (error) g_error_free(error);
  if (response) mbim_message_unref(response);
  p->done(std::move(result));
}

void Closed(GObject* source, GAsyncResult* res, gpointer data) {
  mbim_device_close_finish(MBIM_DEVICE(source), res, nullptr);
  static_cast<std::promise<void>*>(data)->set_value();
}

}  // namespace

std::shared_ptr<MbimLink> MbimLink::Open(const std::string& path, bool through_proxy, HRESULT* error) {
  auto state = std::make_unique<State>();
  state->path = path;
  state->proxy = through_proxy;
  state->context = g_main_context_new();
  state->loop = g_main_loop_new(state->context, FALSE);
  State* s = state.get();
  state->thread = std::thread([s] {
    g_main_context_push_thread_default(s->context);
    g_main_loop_run(s->loop);
    g_main_context_pop_thread_default(s->context);
  });
  std::shared_ptr<MbimLink> link(new MbimLink(std::move(state)));
  Opening opening{s, {}};
  std::future<HRESULT> opened = opening.done.get_future();
  s->Invoke([s, &opening] {
    GFile* file = g_file_new_for_path(s->path.c_str());
    mbim_device_new(file, nullptr, Created, &opening);
    g_object_unref(file);
  });
  // libmbim's own time-out ends the open; the wait only guards against a callback that never comes.
  const HRESULT hr = opened.wait_for(std::chrono::seconds(ScaledSeconds(kOpenTimeoutS) + 5)) == std::future_status::ready
                         ? opened.get()
                         : kTimedOut;
  if (error) *error = hr;
  if (Failed(hr)) return nullptr;
  return link;
}

MbimLink::MbimLink(std::unique_ptr<State> state) : state_(std::move(state)) {}

MbimLink::~MbimLink() {
  State* s = state_.get();
  if (s->device) {
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    s->Invoke([s, &closed] { mbim_device_close(s->device, ScaledSeconds(5), nullptr, Closed, &closed); });
    done.wait_for(std::chrono::seconds(ScaledSeconds(5) + 5));
  }
  s->Invoke([s] { g_main_loop_quit(s->loop); });
  if (s->thread.joinable()) s->thread.join();
  if (s->device) g_object_unref(s->device);
  g_main_loop_unref(s->loop);
  g_main_context_unref(s->context);
}

const std::string& MbimLink::path() const { return state_->path; }

bool MbimLink::gone() const { return state_->removed.load(); }

bool MbimLink::OnOwnThread() const { return std::this_thread::get_id() == state_->thread.get_id(); }

void MbimLink::Command(const GUID& service, std::uint32_t cid, bool set, std::vector<std::uint8_t> information,
                       Done done) {
  State* s = state_.get();
  s->Invoke([s, service, cid, set, information = std::move(information), done = std::move(done)]() mutable {
    if (!s->device || s->removed) {
      done(Result{kDeviceGone, {}});
      return;
    }
    MbimMessage* message = mbim_message_command_new(mbim_device_get_next_transaction_id(s->device), ServiceFor(service),
                                                    cid, set ? MBIM_MESSAGE_COMMAND_TYPE_SET : MBIM_MESSAGE_COMMAND_TYPE_QUERY);
    if (!information.empty())
      mbim_message_command_append(message, information.data(), static_cast<guint32>(information.size()));
    auto* pending = new Pending{s, g_cancellable_new(), std::move(done)};
    s->pending.insert(pending->cancel);
    mbim_device_command(s->device, message, CommandTimeoutSeconds(), pending->cancel, Answered, pending);
    mbim_message_unref(message);
  });
}

MbimLink::Result MbimLink::CommandAndWait(const GUID& service, std::uint32_t cid, bool set,
                                          std::vector<std::uint8_t> information) {
  auto answer = std::make_shared<std::promise<Result>>();
  std::future<Result> result = answer->get_future();
  Command(service, cid, set, std::move(information), [answer](Result r) { answer->set_value(std::move(r)); });
  if (result.wait_for(std::chrono::seconds(CommandTimeoutSeconds() + 5)) != std::future_status::ready)
    return Result{kTimedOut, {}};
  return result.get();
}

}  // namespace plat::mbim_os
