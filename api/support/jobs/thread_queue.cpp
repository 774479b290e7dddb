#include <system_error>
#include <utility>

#include "api/support/jobs/jobs.h"

namespace IGlobalTools {

CThreadQueue::~CThreadQueue() { Stop(); }

bool CThreadQueue::Start() {
  std::lock_guard<std::mutex> lock(lock_);
  if (worker_.joinable()) return true;
  auto stop = plat::CreateEventObject(false, false);
  auto signal = plat::CreateSemaphoreObject(0, kMaxSignals);
  if (!stop || !signal) return false;
  // Jobs held while the queue was not running need one wake-up: each one empties the queue.
  if (!jobs_.empty()) signal->Release(1);
  stop_ = std::move(stop);
  signal_ = std::move(signal);
  stopping_ = false;
  try {
    worker_ = std::thread(&CThreadQueue::WorkerLoop, this);
  } catch (const std::system_error&) {
    stop_.reset();
    signal_.reset();
    return false;
  }
  return true;
}

void CThreadQueue::WorkerLoop() {
  for (;;) {
    // The stop event comes first: with both signalled, the worker ends rather than run a job.
    const plat::DWORD woke = plat::WaitForAny({stop_.get(), signal_.get()}, plat::INFINITE);
    if (woke == plat::WAIT_OBJECT_0) return;
    if (woke == plat::WAIT_OBJECT_0 + 1) RunQueued();
  }
}

void CThreadQueue::RunQueued() {
  // Emptying the queue on every wake-up keeps a job whose signal was refused at the semaphore's
  // maximum from waiting behind later ones for ever.
  for (;;) {
    JobRef job;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (stopping_) return;
      if (jobs_.empty()) {
        // The signals of the jobs taken without a wake-up of their own: left behind, they would
        // wake the worker to an empty queue once each, a spin through thousands of them after a
        // busy spell. Under the lock no signal of a job still queued can be among them.
        while (signal_->Wait(0) == plat::WAIT_OBJECT_0) {
        }
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job->Run();
  }
}

void CThreadQueue::AddJob(IJob* job) {
  if (!job) return;
  std::lock_guard<std::mutex> lock(lock_);
  jobs_.emplace_back(job);
  // At the maximum a wake-up is pending anyway, and it takes this job too.
  if (signal_) signal_->Release(1);
}

void CThreadQueue::Stop() {
  bool running = false;
  std::deque<JobRef> discarded;
  {
    std::lock_guard<std::mutex> lock(lock_);
    running = worker_.joinable();
    if (running) {
      stopping_ = true;
      stop_->Set();
    }
    discarded.swap(jobs_);
  }
  // Released at once rather than after the running job, and outside the lock: a job's Release
  // may offer new work to this queue (held until the next Start).
  discarded.clear();
  if (running) worker_.join();
  std::lock_guard<std::mutex> lock(lock_);
  stop_.reset();
  signal_.reset();
  stopping_ = false;
}

void CThreadQueue::Release() { delete this; }

}  // namespace IGlobalTools
