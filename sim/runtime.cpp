#include "sim/runtime.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/fs.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "sim/trace.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// A service not modelled yet answers a query or set with the bytes it was sent.
class EchoModel final : public ServiceModel {
 public:
  ServiceReply Query(std::uint32_t, const std::vector<std::uint8_t>& data) override { return Echo(data); }
  ServiceReply Set(std::uint32_t, const std::vector<std::uint8_t>& data) override { return Echo(data); }

 private:
  static ServiceReply Echo(const std::vector<std::uint8_t>& data) {
    ServiceReply reply;
    reply.payload = data;
    return reply;
  }
};

std::shared_ptr<ServiceModel> MakeDefaultModel(const std::filesystem::path& machine_dir, const ModemConfig& config,
                                               ServiceKind kind) {
  if (auto model = MakeServiceModel(machine_dir, config, kind)) return model;
  return std::make_shared<EchoModel>();
}

class Dispatcher {
 public:
  void Post(const std::string& queue, std::uint32_t latency_ms, std::unique_ptr<Completion> completion) {
    const Clock::time_point due = Clock::now() + std::chrono::milliseconds(plat::ScaleMs(latency_ms));
    std::lock_guard<std::mutex> lock(mu_);
    if (!started_) {
      // Never joined: the process may end while it waits.
      std::thread([this] { Run(); }).detach();
      started_ = true;
    }
    queues_[queue].push_back(Entry{generation_, due, false, std::move(completion)});
    cv_.notify_one();
  }

  void DiscardPending() {
    std::map<std::string, std::deque<Entry>> dropped;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++generation_;
      dropped.swap(queues_);
    }
    // Released here, outside the lock: a completion holds COM references.
  }

 private:
  struct Entry {
    std::uint64_t generation;
    Clock::time_point due;
    bool prepared;
    std::unique_ptr<Completion> completion;
  };

  void Run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      auto next = queues_.end();
      for (auto it = queues_.begin(); it != queues_.end(); ++it)
        if (!it->second.empty() && (next == queues_.end() || it->second.front().due < next->second.front().due))
          next = it;
      if (next == queues_.end()) {
        cv_.wait(lock);
        continue;
      }
      if (const Clock::time_point due = next->second.front().due; due > Clock::now()) {
        // A copy: wait_until reads its deadline again after waking, when DiscardPending may have
        // freed the entry.
        cv_.wait_until(lock, due);
        continue;
      }
      const std::string queue = next->first;
      Entry entry = std::move(next->second.front());
      next->second.pop_front();
      if (next->second.empty()) queues_.erase(next);
      const bool stale = entry.generation != generation_;
      lock.unlock();

      if (!stale) {
        if (!entry.prepared) {
          entry.prepared = true;
          if (const std::uint32_t extra = entry.completion->Prepare()) {
            // Waits at the head of its queue, so the later completions of the service wait too.
            entry.due = Clock::now() + std::chrono::milliseconds(plat::ScaleMs(extra));
            lock.lock();
            if (entry.generation == generation_) {
              queues_[queue].push_front(std::move(entry));
              continue;
            }
            lock.unlock();
          } else {
            entry.completion->Deliver();
          }
        } else {
          entry.completion->Deliver();
        }
      }
      entry.completion.reset();
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  bool started_ = false;
  std::uint64_t generation_ = 0;
  std::map<std::string, std::deque<Entry>> queues_;
};

struct Runtime {
  std::mutex mu;
  std::array<std::shared_ptr<ServiceModel>, kServiceCount> overrides;
  std::map<std::pair<std::u16string, std::size_t>, SessionState> sessions;
  std::vector<testing::RecordedRequest> requests;
  std::atomic<std::uint32_t> next_request_id{1};
  Dispatcher dispatcher;
};

// Never destroyed: the dispatcher thread may still be running when the process ends.
Runtime& R() {
  static Runtime* runtime = new Runtime;
  return *runtime;
}

std::pair<std::u16string, std::size_t> SessionKey(std::u16string_view iface, ServiceKind kind) {
  std::u16string id(iface);
  for (auto& c : id) c = plat::AsciiUpper(c);
  return {std::move(id), Index(kind)};
}

}  // namespace

std::shared_ptr<const Modem> LoadModem() {
  auto modem = std::make_shared<Modem>();
  modem->machine_dir = plat::MachineDir();
  modem->config = LoadModemConfig(modem->machine_dir);
  for (std::size_t i = 0; i < kServiceCount; ++i)
    modem->models[i] = MakeDefaultModel(modem->machine_dir, modem->config, static_cast<ServiceKind>(i));
  return modem;
}

std::shared_ptr<ServiceModel> ModelFor(const Modem& modem, ServiceKind kind) {
  {
    std::lock_guard<std::mutex> lock(R().mu);
    if (auto model = R().overrides[Index(kind)]) return model;
  }
  return modem.models[Index(kind)];
}

std::uint32_t NextRequestId() {
  std::uint32_t id = 0;
  while (id == 0) id = R().next_request_id.fetch_add(1, std::memory_order_relaxed);
  return id;
}

SessionState Session(std::u16string_view iface, ServiceKind kind) {
  std::lock_guard<std::mutex> lock(R().mu);
  const auto it = R().sessions.find(SessionKey(iface, kind));
  return it == R().sessions.end() ? SessionState{} : it->second;
}

void SetCommandSession(std::u16string_view iface, ServiceKind kind, bool open) {
  std::lock_guard<std::mutex> lock(R().mu);
  R().sessions[SessionKey(iface, kind)].command_open = open;
}

void SetDataSession(std::u16string_view iface, ServiceKind kind, bool open) {
  std::lock_guard<std::mutex> lock(R().mu);
  R().sessions[SessionKey(iface, kind)].data_open = open;
}

void RecordRequest(const Modem& modem, testing::RecordedRequest request) {
  const bool traced = request.op == "open" || request.op == "close" || request.op == "query" || request.op == "set";
  if (traced && plat::GetEnv("TXL_SIM_TRACE").value_or("") == "1")
    trace::Append(modem.machine_dir, trace::Line{request.op, plat::Utf16ToUtf8(request.iface),
                                                 plat::Utf16ToUtf8(request.service), request.cid, request.data});
  std::lock_guard<std::mutex> lock(R().mu);
  R().requests.push_back(std::move(request));
}

void PostCompletion(const std::string& queue, std::uint32_t latency_ms, std::unique_ptr<Completion> completion) {
  R().dispatcher.Post(queue, latency_ms, std::move(completion));
}

namespace testing {

void SetServiceModel(ServiceKind kind, std::shared_ptr<ServiceModel> model) {
  std::lock_guard<std::mutex> lock(R().mu);
  R().overrides[Index(kind)] = std::move(model);
}

void ResetAll() {
  R().dispatcher.DiscardPending();
  std::array<std::shared_ptr<ServiceModel>, kServiceCount> overrides;
  {
    std::lock_guard<std::mutex> lock(R().mu);
    overrides.swap(R().overrides);
    R().sessions.clear();
    R().requests.clear();
  }
}

std::vector<RecordedRequest> Requests() {
  std::lock_guard<std::mutex> lock(R().mu);
  return R().requests;
}

bool IsCommandSessionOpen(std::u16string_view service_id) {
  const auto kind = ServiceKindFromId(service_id);
  return kind && Session(InterfaceId(0), *kind).command_open;
}

}  // namespace testing

}  // namespace sim
