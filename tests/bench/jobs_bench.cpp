// The two job runners with tiny jobs, each beside a plain baseline over the same number of
// threads (one mutex, one condition variable, one queue): throughput for bursts of jobs, and the
// dispatch latency of one job from AddJob until it runs.
//
// The pool's bursts are half its size. A job that finds every worker busy waits the pool's
// specified 300 ms before a thread is made for it (or a worker has come back), which is the
// pool's behaviour under overload, not its throughput; with at most half the workers asked for at
// once, the front of the free-worker queue always holds workers that were idle before the burst.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "api/support/jobs/jobs.h"

namespace {

using IGlobalTools::IJob;

// Counts down a shared counter when its runner lets go of it (Release comes after Run and is the
// runner's last touch), so that a burst is over only when no runner holds any of its jobs.
struct TinyJob final : IJob {
  std::atomic<int>* left = nullptr;
  void Run() override {}
  void Release() override {
    if (left->fetch_sub(1, std::memory_order_acq_rel) == 1) left->notify_all();
  }
};

// The jobs of one benchmark and their counter, made before the runner so that they outlive it:
// a worker may still be inside notify_all when the waiter has seen the count reach zero.
struct Jobs {
  explicit Jobs(int n) : jobs(static_cast<std::size_t>(n)) {
    for (auto& j : jobs) j.left = &left;
  }
  std::vector<TinyJob> jobs;
  std::atomic<int> left{0};
};

void WaitDone(std::atomic<int>& left) {
  for (int v = left.load(std::memory_order_acquire); v != 0; v = left.load(std::memory_order_acquire)) left.wait(v);
}

// The baseline: N threads taking jobs from one locked queue.
class Baseline {
 public:
  explicit Baseline(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
  }
  ~Baseline() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
  }
  void AddJob(IJob* job) {
    {
      std::lock_guard<std::mutex> lock(lock_);
      jobs_.push_back(job);
    }
    ready_.notify_one();
  }

 private:
  void Loop() {
    for (;;) {
      IJob* job = nullptr;
      {
        std::unique_lock<std::mutex> lock(lock_);
        ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = jobs_.front();
        jobs_.pop_front();
      }
      job->Run();
      job->Release();
    }
  }
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<IJob*> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Each iteration hands every job to `add` and waits until the runner has let go of every one.
void Throughput(benchmark::State& state, Jobs& jobs, const std::function<void(IJob*)>& add) {
  const int burst = static_cast<int>(jobs.jobs.size());
  for (auto _ : state) {
    jobs.left.store(burst, std::memory_order_release);
    for (auto& j : jobs.jobs) add(&j);
    WaitDone(jobs.left);
  }
  state.SetItemsProcessed(state.iterations() * burst);
}

// The queue has no pause: its bursts are long.
constexpr int kQueueBurst = 256;

void Latency(benchmark::State& state, Jobs& one, const std::function<void(IJob*)>& add) { Throughput(state, one, add); }

unsigned PoolThreads() { return 2 * IGlobalTools::CThreadPools::MachineProcessors() + 2; }
int PoolBurst() { return static_cast<int>(PoolThreads() / 2); }

void BM_PoolThroughput(benchmark::State& state) {
  Jobs jobs(PoolBurst());
  IGlobalTools::CThreadPools pool;
  pool.Start();
  Throughput(state, jobs, [&](IJob* j) { pool.AddJob(j); });
  pool.Stop();
}
void BM_PoolBaselineThroughput(benchmark::State& state) {
  Jobs jobs(PoolBurst());
  Baseline baseline(PoolThreads());
  Throughput(state, jobs, [&](IJob* j) { baseline.AddJob(j); });
}
void BM_PoolDispatchLatency(benchmark::State& state) {
  Jobs one(1);
  IGlobalTools::CThreadPools pool;
  pool.Start();
  Latency(state, one, [&](IJob* j) { pool.AddJob(j); });
  pool.Stop();
}
void BM_PoolBaselineDispatchLatency(benchmark::State& state) {
  Jobs one(1);
  Baseline baseline(PoolThreads());
  Latency(state, one, [&](IJob* j) { baseline.AddJob(j); });
}

void BM_QueueThroughput(benchmark::State& state) {
  Jobs jobs(kQueueBurst);
  IGlobalTools::CThreadQueue queue;
  queue.Start();
  Throughput(state, jobs, [&](IJob* j) { queue.AddJob(j); });
  queue.Stop();
}
void BM_QueueBaselineThroughput(benchmark::State& state) {
  Jobs jobs(kQueueBurst);
  Baseline baseline(1);
  Throughput(state, jobs, [&](IJob* j) { baseline.AddJob(j); });
}
void BM_QueueDispatchLatency(benchmark::State& state) {
  Jobs one(1);
  IGlobalTools::CThreadQueue queue;
  queue.Start();
  Latency(state, one, [&](IJob* j) { queue.AddJob(j); });
  queue.Stop();
}
void BM_QueueBaselineDispatchLatency(benchmark::State& state) {
  Jobs one(1);
  Baseline baseline(1);
  Latency(state, one, [&](IJob* j) { baseline.AddJob(j); });
}

}  // namespace

BENCHMARK(BM_PoolThroughput)->UseRealTime();
BENCHMARK(BM_PoolBaselineThroughput)->UseRealTime();
BENCHMARK(BM_PoolDispatchLatency)->UseRealTime();
BENCHMARK(BM_PoolBaselineDispatchLatency)->UseRealTime();
BENCHMARK(BM_QueueThroughput)->UseRealTime();
BENCHMARK(BM_QueueBaselineThroughput)->UseRealTime();
BENCHMARK(BM_QueueDispatchLatency)->UseRealTime();
BENCHMARK(BM_QueueBaselineDispatchLatency)->UseRealTime();
