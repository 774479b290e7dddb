// Jobs for the runner tests that record what a runner did with them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "api/support/jobs/jobs.h"
#include "platform/sync.h"

namespace txl_test {

// Long enough for any machine, whatever TXL_TIME_SCALE says.
inline plat::DWORD Patience() { return static_cast<plat::DWORD>(10000 / plat::TimeScale()); }

// What happened to each of `count` jobs.
class Ledger {
 public:
  explicit Ledger(std::size_t count) : runs_(count), releases_(count), released_(plat::CreateEventObject(false, false)) {}

  int Runs(std::size_t id) const { return runs_[id].load(); }
  int Releases(std::size_t id) const { return releases_[id].load(); }
  std::vector<int> Order() {
    std::lock_guard<std::mutex> lock(mu_);
    return order_;
  }
  // True once `count` releases happened in all.
  bool WaitReleased(int count) {
    while (released_total_.load() < count)
      if (released_->Wait(Patience()) != plat::WAIT_OBJECT_0) return released_total_.load() >= count;
    return true;
  }

  void Ran(int id) {
    ++runs_[static_cast<std::size_t>(id)];
    std::lock_guard<std::mutex> lock(mu_);
    order_.push_back(id);
  }
  void Released(int id) {
    ++releases_[static_cast<std::size_t>(id)];
    ++released_total_;
    released_->Set();
  }

 private:
  std::vector<std::atomic<int>> runs_;
  std::vector<std::atomic<int>> releases_;
  std::atomic<int> released_total_{0};
  std::unique_ptr<plat::Event> released_;
  std::mutex mu_;
  std::vector<int> order_;
};

// Records itself; optionally tells that it started and waits for a gate before it ends.
class RecordingJob final : public IGlobalTools::IJob {
 public:
  RecordingJob(Ledger* ledger, int id, plat::Event* started = nullptr, plat::Event* gate = nullptr)
      : ledger_(ledger), id_(id), started_(started), gate_(gate) {}

  void Run() override {
    if (started_) started_->Set();
    if (gate_) gate_->Wait(Patience());
    ledger_->Ran(id_);
  }
  void Release() override {
    ledger_->Released(id_);
    delete this;
  }

 private:
  Ledger* ledger_;
  int id_;
  plat::Event* started_;
  plat::Event* gate_;
};

}  // namespace txl_test
