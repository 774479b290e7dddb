#include <cstdio>
#include <system_error>
#include <utility>

#include "api/support/jobs/jobs.h"

namespace IGlobalTools {

namespace {

constexpr char kNoFreeWorker[] = "get free thread fail \r\n";
constexpr char kGrowing[] = "get free thread fail, new a thread to execute job \r\n";

void Console(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

}  // namespace

struct CThreadPools::Worker {
  std::unique_ptr<plat::Event> exit_event;
  std::unique_ptr<plat::Event> job_event;
  std::thread thread;
  JobRef job;  // handed over under the workers lock, then announced by job_event
  CThreadPools* pool = nullptr;
  std::uint64_t jobs_run = 0;
};

unsigned CThreadPools::MachineProcessors() {
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

CThreadPools::CThreadPools(unsigned processors) : processors_(processors) {}

CThreadPools::~CThreadPools() { Stop(); }

std::unique_ptr<CThreadPools::Worker> CThreadPools::MakeWorker() {
  auto worker = std::make_unique<Worker>();
  worker->pool = this;
  worker->exit_event = plat::CreateEventObject(false, false);
  worker->job_event = plat::CreateEventObject(false, false);
  if (!worker->exit_event || !worker->job_event) return nullptr;
  try {
    worker->thread = std::thread(&CThreadPools::WorkerLoop, this, worker.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return worker;
}

int CThreadPools::Start() {
  if (started_) return 1;
  const std::size_t count = 2 * static_cast<std::size_t>(processors_) + 2;
  for (std::size_t i = 0; i < count; ++i) {
    std::unique_ptr<Worker> worker = MakeWorker();
    if (!worker) continue;  // a smaller pool
    std::lock_guard<std::mutex> lock(workers_lock_);
    free_workers_.push_back(worker.get());
    all_workers_.push_back(std::move(worker));
  }
  bool have_worker = false;
  {
    std::lock_guard<std::mutex> lock(workers_lock_);
    have_worker = !free_workers_.empty();
  }
  if (have_worker) {
    auto stop = plat::CreateEventObject(true, false);
    auto signal = plat::CreateSemaphoreObject(0, kMaxSignals);
    if (stop && signal) {
      {
        std::lock_guard<std::mutex> lock(jobs_lock_);
        stop_ = std::move(stop);
        signal_ = std::move(signal);
      }
      try {
        dispatcher_ = std::thread(&CThreadPools::DispatcherLoop, this);
        started_ = true;
      } catch (const std::system_error&) {
      }
    }
  }
  if (!started_) Stop();
  return 1;
}

bool CThreadPools::AddJob(IJob* job) {
  if (!job) return false;
  std::lock_guard<std::mutex> lock(jobs_lock_);
  // A zero-time look that leaves the (manual-reset) stop signal in place for the dispatcher.
  if (!stop_ || !signal_ || stop_->Wait(0) != plat::WAIT_TIMEOUT) return false;
  jobs_.emplace_back(job);
  // At the maximum a wake-up is pending anyway, and the dispatcher empties the queue on each.
  signal_->Release(1);
  return true;
}

bool CThreadPools::StopRequested() { return stop_->Wait(0) == plat::WAIT_OBJECT_0; }

void CThreadPools::DispatcherLoop() {
  for (;;) {
    // The stop event comes first: with both signalled the dispatcher ends.
    const plat::DWORD woke = plat::WaitForAny({stop_.get(), signal_.get()}, plat::INFINITE);
    if (woke == plat::WAIT_OBJECT_0) return;
    if (woke != plat::WAIT_OBJECT_0 + 1) continue;
    // Every queued job is placed on each wake-up, so that one whose signal was refused at the
    // semaphore's maximum is not left behind.
    while (!StopRequested()) {
      const Dispatched placed = Dispatch(false);
      if (placed == Dispatched::kNothing) break;
      if (placed == Dispatched::kHanded) continue;
      Console(kNoFreeWorker);
      // The pause before growing, cut short by Stop.
      if (stop_->Wait(kGrowthDelayMs) == plat::WAIT_OBJECT_0) return;
      // When even a new worker cannot be made the job stays at the front for the next round.
      Dispatch(true);
    }
  }
}

CThreadPools::Dispatched CThreadPools::Dispatch(bool may_grow) {
  std::lock_guard<std::mutex> jobs_lock(jobs_lock_);
  std::lock_guard<std::mutex> workers_lock(workers_lock_);
  if (jobs_.empty()) {
    // The signals of the jobs placed without a wake-up of their own: left behind, they would wake
    // the dispatcher to an empty queue once each. Under the jobs lock no signal of a job still
    // queued can be among them.
    while (signal_->Wait(0) == plat::WAIT_OBJECT_0) {
    }
    return Dispatched::kNothing;
  }
  if (!jobs_.front()) {
    jobs_.pop_front();
    return Dispatched::kHanded;
  }
  if (!free_workers_.empty()) {
    Worker* worker = free_workers_.front();
    free_workers_.pop_front();
    worker->job = std::move(jobs_.front());
    worker->job_event->Set();
    jobs_.pop_front();
    return Dispatched::kHanded;
  }
  if (!may_grow) return Dispatched::kNoFreeWorker;
  Console(kGrowing);
  std::unique_ptr<Worker> worker = MakeWorker();
  if (!worker) return Dispatched::kNoFreeWorker;
  worker->job = std::move(jobs_.front());
  worker->job_event->Set();
  // Busy from birth: it joins the free queue when this job is done.
  all_workers_.push_back(std::move(worker));
  jobs_.pop_front();
  return Dispatched::kHanded;
}

void CThreadPools::WorkerLoop(Worker* worker) {
  for (;;) {
    // The job event comes first: a job already handed over runs before the worker ends.
    const plat::DWORD woke = plat::WaitForAny({worker->job_event.get(), worker->exit_event.get()}, plat::INFINITE);
    if (woke == plat::WAIT_OBJECT_0 + 1) return;
    if (woke != plat::WAIT_OBJECT_0) continue;
    JobRef job;
    {
      std::lock_guard<std::mutex> lock(workers_lock_);
      job = std::move(worker->job);
    }
    if (job) {
      ++worker->jobs_run;
      job->Run();
      job.reset();
    }
    std::lock_guard<std::mutex> lock(workers_lock_);
    free_workers_.push_back(worker);
  }
}

int CThreadPools::Stop() {
  // The dispatcher ends first, so that no job is handed to a worker from here on.
  if (stop_) stop_->Set();
  if (dispatcher_.joinable()) dispatcher_.join();

  std::deque<std::unique_ptr<Worker>> workers;
  std::deque<JobRef> discarded;
  {
    // The same order as Dispatch, though the dispatcher has ended: one order, no deadlock.
    std::lock_guard<std::mutex> jobs_lock(jobs_lock_);
    std::lock_guard<std::mutex> workers_lock(workers_lock_);
    workers.swap(all_workers_);
    free_workers_.clear();
    discarded.swap(jobs_);
    stop_.reset();
    signal_.reset();
    started_ = false;
  }
  // Outside the locks: a job's Release may offer new work (which is refused now).
  discarded.clear();
  // Without the workers lock, which a worker finishing its job needs to return to the pool.
  for (const auto& worker : workers) {
    worker->exit_event->Set();
    worker->thread.join();
  }
  {
    std::lock_guard<std::mutex> workers_lock(workers_lock_);
    free_workers_.clear();  // the ended workers that came back meanwhile
  }
  return 1;
}

void CThreadPools::Release() { delete this; }

std::size_t CThreadPools::WorkerCount() {
  std::lock_guard<std::mutex> lock(workers_lock_);
  return all_workers_.size();
}

}  // namespace IGlobalTools
