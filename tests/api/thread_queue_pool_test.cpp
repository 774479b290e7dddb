// The job queue and the thread pool: order, concurrency, growth, shutdown, bursts.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "api/support/jobs/jobs.h"
#include "platform/clock.h"
#include "tests/api/queue_pool_jobs.h"
#include "tests/platform/test_support.h"

namespace {

using IGlobalTools::CThreadPools;
using IGlobalTools::CThreadQueue;
using txl_test::Ledger;
using txl_test::Patience;
using txl_test::RecordingJob;

constexpr int kProducers = 4;
constexpr int kJobsEach = 2500;
constexpr int kBurst = kProducers * kJobsEach;

std::unique_ptr<plat::Event> ManualEvent() { return plat::CreateEventObject(true, false); }

// kProducers threads offer kJobsEach jobs each, ids producer * kJobsEach + i in order.
template <typename Offer>
void Burst(Ledger* ledger, Offer offer) {
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p)
    producers.emplace_back([=] {
      for (int i = 0; i < kJobsEach; ++i) offer(new RecordingJob(ledger, p * kJobsEach + i));
    });
  for (auto& t : producers) t.join();
}

void ExpectEachRanOnceAndWasReleased(Ledger& ledger, int count) {
  int wrong = 0;
  for (int id = 0; id < count; ++id)
    if (ledger.Runs(static_cast<std::size_t>(id)) != 1 || ledger.Releases(static_cast<std::size_t>(id)) != 1) ++wrong;
  EXPECT_EQ(wrong, 0) << "jobs lost or run twice";
}

TEST(ThreadQueue, RunsJobsInArrivalOrderIncludingThoseHeldBeforeStart) {
  Ledger ledger(50);
  CThreadQueue queue;
  for (int id = 0; id < 3; ++id) queue.AddJob(new RecordingJob(&ledger, id));
  queue.AddJob(nullptr);
  ASSERT_TRUE(queue.Start());
  for (int id = 3; id < 50; ++id) queue.AddJob(new RecordingJob(&ledger, id));
  ASSERT_TRUE(ledger.WaitReleased(50));
  std::vector<int> expected(50);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(ledger.Order(), expected);
  ExpectEachRanOnceAndWasReleased(ledger, 50);
  queue.Stop();
}

TEST(ThreadQueue, StopReleasesQueuedJobsWithoutRunningThem) {
  Ledger ledger(5);
  auto started = ManualEvent();
  auto gate = ManualEvent();
  auto* queue = new CThreadQueue;
  ASSERT_TRUE(queue->Start());
  queue->AddJob(new RecordingJob(&ledger, 0, started.get(), gate.get()));
  for (int id = 1; id <= 3; ++id) queue->AddJob(new RecordingJob(&ledger, id));
  ASSERT_EQ(started->Wait(Patience()), plat::WAIT_OBJECT_0);

  std::thread stopper([&] { queue->Stop(); });
  // The queued jobs go while the running one still holds the worker.
  EXPECT_TRUE(ledger.WaitReleased(3));
  gate->Set();
  stopper.join();
  EXPECT_EQ(ledger.Runs(0), 1);
  for (std::size_t id = 1; id <= 3; ++id) {
    EXPECT_EQ(ledger.Runs(id), 0) << id;
    EXPECT_EQ(ledger.Releases(id), 1) << id;
  }
  // A stopped queue holds a new job; releasing the queue releases it unrun.
  queue->AddJob(new RecordingJob(&ledger, 4));
  queue->Release();
  EXPECT_EQ(ledger.Releases(4), 1);
  EXPECT_EQ(ledger.Runs(4), 0);
}

TEST(ThreadQueue, BurstFromSeveralThreadsLosesNothingAndKeepsEachProducersOrder) {
  Ledger ledger(kBurst);
  CThreadQueue queue;
  ASSERT_TRUE(queue.Start());
  Burst(&ledger, [&](RecordingJob* job) { queue.AddJob(job); });
  ASSERT_TRUE(ledger.WaitReleased(kBurst));
  queue.Stop();
  ExpectEachRanOnceAndWasReleased(ledger, kBurst);
  std::vector<int> last(kProducers, -1);
  bool ordered = true;
  for (int id : ledger.Order()) {
    ordered = ordered && id > last[static_cast<std::size_t>(id / kJobsEach)];
    last[static_cast<std::size_t>(id / kJobsEach)] = id;
  }
  EXPECT_TRUE(ordered);
}

TEST(ThreadQueue, JobsBeyondTheSemaphoresMaximumStillRun) {
  // With the worker held, the signals stop counting at the maximum; the jobs past it must not be
  // left behind once it goes on.
  constexpr int kJobs = CThreadQueue::kMaxSignals + 10;
  Ledger ledger(kJobs);
  auto started = ManualEvent();
  auto gate = ManualEvent();
  CThreadQueue queue;
  ASSERT_TRUE(queue.Start());
  queue.AddJob(new RecordingJob(&ledger, 0, started.get(), gate.get()));
  ASSERT_EQ(started->Wait(Patience()), plat::WAIT_OBJECT_0);
  for (int id = 1; id < kJobs; ++id) queue.AddJob(new RecordingJob(&ledger, id));
  gate->Set();
  EXPECT_TRUE(ledger.WaitReleased(kJobs));
  queue.Stop();
  ExpectEachRanOnceAndWasReleased(ledger, kJobs);
}

TEST(ThreadPools, SizeFollowsTheProcessorCount) {
  for (const auto& [processors, workers] : {std::pair{1u, 4u}, {4u, 10u}}) {
    CThreadPools pool(processors);
    EXPECT_EQ(pool.Start(), 1);
    EXPECT_EQ(pool.WorkerCount(), workers) << processors;
    EXPECT_EQ(pool.Stop(), 1);
    EXPECT_EQ(pool.WorkerCount(), 0u);
  }
  EXPECT_GE(CThreadPools::MachineProcessors(), 1u);
}

TEST(ThreadPools, JobsRunConcurrently) {
  CThreadPools pool(1);  // four workers
  ASSERT_EQ(pool.Start(), 1);
  std::atomic<int> arrived{0};
  std::atomic<int> met{0};
  auto all_in = ManualEvent();
  auto done = plat::CreateSemaphoreObject(0, 4);
  struct Meeting final : IGlobalTools::IJob {
    Meeting(std::atomic<int>* a, std::atomic<int>* m, plat::Event* e, plat::Semaphore* d)
        : arrived(a), met(m), all_in(e), done(d) {}
    std::atomic<int>* arrived;
    std::atomic<int>* met;
    plat::Event* all_in;
    plat::Semaphore* done;
    void Run() override {
      if (++*arrived == 4) all_in->Set();
      if (all_in->Wait(Patience()) == plat::WAIT_OBJECT_0) ++*met;
    }
    void Release() override {
      done->Release(1);
      delete this;
    }
  };
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(pool.AddJob(new Meeting(&arrived, &met, all_in.get(), done.get())));
  for (int i = 0; i < 4; ++i) ASSERT_EQ(done->Wait(Patience()), plat::WAIT_OBJECT_0);
  pool.Stop();
  EXPECT_EQ(met.load(), 4) << "every job saw all four running at once";
}

TEST(ThreadPools, GrowsWhenEveryWorkerIsBusy) {
  Ledger ledger(3);
  CThreadPools pool(0);  // two workers
  ASSERT_EQ(pool.Start(), 1);
  auto gate = ManualEvent();
  std::unique_ptr<plat::Event> started[3] = {ManualEvent(), ManualEvent(), ManualEvent()};
  for (int id = 0; id < 2; ++id)
    ASSERT_TRUE(pool.AddJob(new RecordingJob(&ledger, id, started[id].get(), gate.get())));
  for (int id = 0; id < 2; ++id) ASSERT_EQ(started[id]->Wait(Patience()), plat::WAIT_OBJECT_0);

  testing::internal::CaptureStdout();
  const auto offered = plat::MonotonicMs();
  ASSERT_TRUE(pool.AddJob(new RecordingJob(&ledger, 2, started[2].get())));
  const bool third_started = started[2]->Wait(Patience()) == plat::WAIT_OBJECT_0;
  const auto waited = plat::MonotonicMs() - offered;
  const std::string console = testing::internal::GetCapturedStdout();
  gate->Set();
  ASSERT_TRUE(third_started) << "the third job ran beside the two busy ones";
  EXPECT_GE(waited, plat::ScaleMs(CThreadPools::kGrowthDelayMs));
  EXPECT_EQ(console,
            "get free thread fail \r\n"
            "get free thread fail, new a thread to execute job \r\n");
  EXPECT_EQ(pool.WorkerCount(), 3u);
  ASSERT_TRUE(ledger.WaitReleased(3));
  pool.Stop();
  ExpectEachRanOnceAndWasReleased(ledger, 3);
}

TEST(ThreadPools, StopReleasesQueuedJobsAndLaterOffersAreRefused) {
  // A pause before growing far longer than the test, so the queued job can only be released.
  txl_test::ScopedEnv slow("TXL_TIME_SCALE", "100");
  Ledger ledger(5);
  {
    CThreadPools never_started(1);
    RecordingJob refused(&ledger, 4);
    EXPECT_FALSE(never_started.AddJob(&refused));
    EXPECT_FALSE(never_started.AddJob(nullptr));
  }
  CThreadPools pool(0);
  ASSERT_EQ(pool.Start(), 1);
  auto gate = ManualEvent();
  std::unique_ptr<plat::Event> started[2] = {ManualEvent(), ManualEvent()};
  for (int id = 0; id < 2; ++id)
    ASSERT_TRUE(pool.AddJob(new RecordingJob(&ledger, id, started[id].get(), gate.get())));
  for (int id = 0; id < 2; ++id) ASSERT_EQ(started[id]->Wait(Patience()), plat::WAIT_OBJECT_0);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(pool.AddJob(new RecordingJob(&ledger, 2)));

  std::thread stopper([&] { pool.Stop(); });
  const bool queued_released = ledger.WaitReleased(1);
  gate->Set();
  stopper.join();
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(queued_released);
  EXPECT_EQ(ledger.Runs(2), 0);
  EXPECT_EQ(ledger.Releases(2), 1);
  EXPECT_EQ(ledger.Runs(0) + ledger.Runs(1), 2) << "the busy workers finished their jobs";

  auto* late = new RecordingJob(&ledger, 3);
  EXPECT_FALSE(pool.AddJob(late));
  EXPECT_EQ(ledger.Releases(3), 0) << "a refused job stays the caller's";
  late->Release();
}

TEST(ThreadPools, BurstFromSeveralThreadsLosesNothingAndRunsNothingTwice) {
  Ledger ledger(kBurst);
  CThreadPools pool(1);
  ASSERT_EQ(pool.Start(), 1);
  std::atomic<int> refused{0};
  testing::internal::CaptureStdout();  // growth lines, if any
  Burst(&ledger, [&](RecordingJob* job) {
    if (!pool.AddJob(job)) {
      ++refused;
      job->Release();
    }
  });
  const bool all_released = ledger.WaitReleased(kBurst);
  pool.Stop();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(refused.load(), 0);
  ASSERT_TRUE(all_released);
  ExpectEachRanOnceAndWasReleased(ledger, kBurst);
}

}  // namespace
