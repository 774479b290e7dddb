// The two job runners: a queue with one worker thread that runs jobs in arrival order, and a pool
// of worker threads with a dispatcher that hands each job to a free worker and grows the pool
// when none is free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "api/support/global_tools.h"
#include "platform/sync.h"

namespace IGlobalTools {

// A unit of work. A runner calls Run and then Release for every job it executes, and only Release
// for a job it discards at shutdown; a job belongs to the runner once accepted.
struct IJob {
  virtual ~IJob() = default;
  virtual void Run() = 0;
  virtual void Release() = 0;
};

// A job a runner has accepted: released when the runner lets go of it, run or not.
struct JobRelease {
  void operator()(IJob* job) const {
    if (job) job->Release();
  }
};
using JobRef = std::unique_ptr<IJob, JobRelease>;

struct IThreadQueue {
  virtual ~IThreadQueue() = default;
  // True when the worker thread runs.
  virtual bool Start() = 0;
  // Ends the worker after the job it is running and releases every queued job without running it.
  virtual void Stop() = 0;
  // Queues the job (a null job is ignored). Jobs offered while the queue is not running are held
  // and run after the next Start, or released by Stop or Release.
  virtual void AddJob(IJob* job) = 0;
  virtual void Release() = 0;
};

struct IThreadPools {
  virtual ~IThreadPools() = default;
  // True when the job was accepted; false (the caller keeps it) for a null job or a pool that is
  // not running.
  virtual bool AddJob(IJob* job) = 0;
  virtual int Start() = 0;  // always 1
  virtual int Stop() = 0;   // always 1
  virtual void Release() = 0;
};

class CThreadQueue final : public IThreadQueue {
 public:
  static constexpr plat::LONG kMaxSignals = 65535;

  CThreadQueue() = default;
  ~CThreadQueue() override;
  CThreadQueue(const CThreadQueue&) = delete;
  CThreadQueue& operator=(const CThreadQueue&) = delete;

  bool Start() override;
  void Stop() override;
  void AddJob(IJob* job) override;
  void Release() override;

 private:
  void WorkerLoop();
  // Runs queued jobs until the queue is empty or a stop is under way.
  void RunQueued();

  std::thread worker_;
  std::unique_ptr<plat::Event> stop_;
  std::unique_ptr<plat::Semaphore> signal_;
  std::mutex lock_;  // guards the queue and the two handles above
  std::deque<JobRef> jobs_;
  bool stopping_ = false;  // guarded by lock_
};

class CThreadPools final : public IThreadPools {
 public:
  static constexpr plat::LONG kMaxSignals = 0xFFFFFFF;
  static constexpr plat::DWORD kGrowthDelayMs = 300;

  // The machine's processor count (at least 1).
  static unsigned MachineProcessors();

  // A pool of 2 × processors + 2 workers.
  explicit CThreadPools(unsigned processors = MachineProcessors());
  ~CThreadPools() override;
  CThreadPools(const CThreadPools&) = delete;
  CThreadPools& operator=(const CThreadPools&) = delete;

  bool AddJob(IJob* job) override;
  int Start() override;
  int Stop() override;
  void Release() override;

  // How many worker threads the pool has.
  std::size_t WorkerCount();

 private:
  struct Worker;
  enum class Dispatched { kNothing, kHanded, kNoFreeWorker };

  std::unique_ptr<Worker> MakeWorker();
  void WorkerLoop(Worker* worker);
  void DispatcherLoop();
  Dispatched Dispatch(bool may_grow);
  bool StopRequested();

  const unsigned processors_;
  std::deque<Worker*> free_workers_;               // guarded by workers_lock_
  std::deque<std::unique_ptr<Worker>> all_workers_;  // guarded by workers_lock_
  std::mutex jobs_lock_;                           // taken before workers_lock_
  std::deque<JobRef> jobs_;                        // guarded by jobs_lock_
  std::mutex workers_lock_;
  // Manual-reset: AddJob's test must leave the signal for the dispatcher.
  std::unique_ptr<plat::Event> stop_;         // guarded by jobs_lock_ once the pool runs
  std::thread dispatcher_;
  std::unique_ptr<plat::Semaphore> signal_;  // guarded by jobs_lock_ once the pool runs
  bool started_ = false;
};

}  // namespace IGlobalTools
