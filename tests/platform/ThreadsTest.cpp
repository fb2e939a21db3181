#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform.Threads.h"

using namespace korvane;
using namespace std::chrono_literals;

namespace {

// A thread that runs a given body.
class TWorker : public TThread {
public:
    explicit TWorker(std::function<void(TWorker&)> Body) : FBody(std::move(Body)) {}
    using TThread::SetReturnValue;
    using TThread::SleepFor;

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TWorker&)> FBody;
};

// Leaves nothing queued for the next test.
class ThreadsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        while (CheckSynchronize(0)) {
        }
    }
};

} // namespace

TEST_F(ThreadsTest, QueuedWorkRunsOnTheMainThreadInOrderWhenDrained)
{
    ASSERT_TRUE(TThread::CurrentThreadIsMain());
    std::vector<int> ran;
    std::vector<std::thread::id> where;
    std::promise<void> posted;
    auto* worker = new TWorker([&](TWorker&) {
        for (int i = 0; i < 50; ++i)
            TThread::Queue([&, i] {
                ran.push_back(i);
                where.push_back(std::this_thread::get_id());
            });
        posted.set_value();
    });
    worker->Start();
    posted.get_future().wait();
    EXPECT_TRUE(ran.empty()); // nothing runs before the main thread drains the queue

    EXPECT_TRUE(CheckSynchronize(0));
    ASSERT_EQ(ran.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[size_t(i)], i);
    for (auto id : where) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_FALSE(CheckSynchronize(0));
    worker->Free();

    // On the main thread Queue and Synchronize run at once.
    int now = 0;
    TThread::Queue([&] { now = 1; });
    EXPECT_EQ(now, 1);
    TThread::Synchronize([&] { now = 2; });
    EXPECT_EQ(now, 2);
}

TEST_F(ThreadsTest, SynchronizeBlocksTheWorkerUntilTheMainThreadRunsIt)
{
    std::atomic<bool> returned{false};
    std::atomic<bool> returnedWhileRunning{true};
    std::thread::id ranOn;
    std::promise<void> aboutToSync;
    auto* worker = new TWorker([&](TWorker&) {
        aboutToSync.set_value();
        TThread::Synchronize([&] {
            ranOn = std::this_thread::get_id();
            returnedWhileRunning = returned.load();
        });
        returned = true;
    });
    worker->Start();
    aboutToSync.get_future().wait();
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned); // still blocked: nobody has drained the queue

    EXPECT_TRUE(CheckSynchronize(10000)); // waits for the posted work, then runs it
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(returnedWhileRunning);
    worker->WaitFor();
    EXPECT_TRUE(returned);
    worker->Free();
}

TEST_F(ThreadsTest, QueueAndSynchronizeShareOneOrder)
{
    std::vector<std::string> ran;
    auto* worker = new TWorker([&](TWorker&) {
        TThread::Queue([&] { ran.push_back("queued 1"); });
        TThread::Synchronize([&] { ran.push_back("synchronized"); });
        TThread::Queue([&] { ran.push_back("queued 2"); });
    });
    worker->Start();
    worker->WaitFor(); // on the main thread WaitFor serves the queue
    CheckSynchronize(0);
    EXPECT_EQ(ran, (std::vector<std::string>{"queued 1", "synchronized", "queued 2"}));
    worker->Free();
}

TEST_F(ThreadsTest, ExceptionsCrossToTheRightThread)
{
    // Raised by synchronized work: raised again in the worker.
    std::string caught;
    auto* worker = new TWorker([&](TWorker&) {
        try {
            TThread::Synchronize([] { throw Exception("main thread says no"); });
        } catch (const Exception& e) {
            caught = e.Message();
        }
        throw EAbort("worker gives up");
    });
    worker->Start();
    worker->WaitFor();
    EXPECT_EQ(caught, "main thread says no");
    ASSERT_TRUE(worker->FatalException());
    EXPECT_THROW(std::rethrow_exception(worker->FatalException()), EAbort);
    worker->Free();

    // Raised by queued work: out of CheckSynchronize, the rest stays queued.
    std::vector<int> ran;
    auto* poster = new TWorker([&](TWorker&) {
        TThread::Queue([&] { ran.push_back(1); });
        TThread::Queue([] { throw Exception("bad queued work"); });
        TThread::Queue([&] { ran.push_back(3); });
    });
    poster->Start();
    while (!poster->Finished()) std::this_thread::sleep_for(1ms);
    EXPECT_THROW(CheckSynchronize(0), Exception);
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_TRUE(CheckSynchronize(0));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    poster->Free();

    // Only the main thread drains.
    std::string fromWorker;
    auto* drainer = new TWorker([&](TWorker&) {
        try {
            CheckSynchronize(0);
        } catch (const EThread& e) {
            fromWorker = e.Message();
        }
    });
    drainer->Start();
    drainer->WaitFor();
    EXPECT_EQ(fromWorker, "CheckSynchronize called from a thread that is not the main thread");
    drainer->Free();
}

TEST_F(ThreadsTest, ThreadLifecycle)
{
    auto* worker = new TWorker([](TWorker& self) {
        while (self.SleepFor(INFINITE)) {
        }
        self.SetReturnValue(7);
    });
    EXPECT_TRUE(worker->Suspended());
    EXPECT_FALSE(worker->Started());
    worker->SetPriority(tpHigher);
    EXPECT_EQ(worker->Priority(), tpHigher);
    worker->SetSuspended(false); // starts it
    EXPECT_TRUE(worker->Started());
    EXPECT_THROW(worker->Start(), EThread);
    EXPECT_FALSE(worker->Finished());
    worker->Terminate(); // wakes the endless sleep
    EXPECT_EQ(worker->WaitFor(), 7);
    EXPECT_TRUE(worker->Finished());
    EXPECT_TRUE(worker->Terminated());
    worker->Free();

    // Free() terminates and waits for a running thread.
    std::atomic<bool> ended{false};
    auto* sleeper = new TWorker([&](TWorker& self) {
        while (self.SleepFor(INFINITE)) {
        }
        ended = true;
    });
    sleeper->Start();
    sleeper->Free();
    EXPECT_TRUE(ended);

    // A thread never started is freed without fuss.
    (new TWorker([](TWorker&) {}))->Free();
}

TEST_F(ThreadsTest, SleepsFollowTheInstalledClock)
{
    TManualClock clock;
    TDefaultClockScope scope(&clock);
    std::atomic<int> wakeups{0};
    auto* worker = new TWorker([&](TWorker& self) {
        while (self.SleepFor(1000)) ++wakeups;
    });
    worker->Start();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(wakeups, 0); // the clock stands still

    clock.AdvanceMilliseconds(1000);
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (wakeups == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
    EXPECT_GE(wakeups, 1);
    worker->Free(); // ends the current sleep at once

    // Suspension pauses the thread at its next sleep; resuming continues it.
    std::atomic<int> passes{0};
    auto* pausing = new TWorker([&](TWorker& self) {
        while (self.SleepFor(0)) ++passes;
    });
    pausing->Start();
    pausing->SetSuspended(true);
    std::this_thread::sleep_for(10ms);
    const int frozen = passes;
    std::this_thread::sleep_for(30ms);
    EXPECT_LE(passes - frozen, 1);
    pausing->SetSuspended(false);
    while (passes < frozen + 5 && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
    EXPECT_GE(passes, frozen + 5);
    pausing->Free();
}

TEST(TStopwatch, TakesItsTimeFromTheClock)
{
    TManualClock clock(123456789);
    TStopwatch s = TStopwatch::StartNew(&clock);
    EXPECT_TRUE(s.IsRunning());
    EXPECT_EQ(s.ElapsedTicks(), 0);
    clock.AdvanceMilliseconds(1500);
    EXPECT_EQ(s.ElapsedMilliseconds(), 1500);
    EXPECT_EQ(s.ElapsedTicks(), 1500 * 10000);
    EXPECT_EQ(TStopwatch::Frequency, 10000000);

    s.Stop();
    clock.AdvanceMilliseconds(700); // not counted while stopped
    EXPECT_EQ(s.ElapsedMilliseconds(), 1500);
    s.Start();
    clock.Advance(5); // 500 ns
    EXPECT_EQ(s.ElapsedTicks(), 15000005);
    EXPECT_EQ(s.ElapsedMilliseconds(), 1500);
    s.Reset();
    EXPECT_FALSE(s.IsRunning());
    EXPECT_EQ(s.ElapsedTicks(), 0);

    // Without a clock of its own a stopwatch uses the default clock.
    TManualClock installed;
    TDefaultClockScope scope(&installed);
    TStopwatch d;
    d.Start();
    installed.AdvanceMilliseconds(16);
    EXPECT_EQ(d.ElapsedMilliseconds(), 16);
    EXPECT_EQ(TStopwatch::GetTimeStamp(), installed.NowTicks());
}

TEST(TMonitor, ReentrantLockWithWaitAndPulse)
{
    TMonitor m;
    m.Enter();
    m.Enter(); // re-entrant
    EXPECT_TRUE(m.TryEnter(0));

    std::atomic<int> other{-1};
    std::thread t([&] {
        other = m.TryEnter(20) ? 1 : 0; // held elsewhere: times out
        try {
            m.Exit();
            other = 2;
        } catch (const EMonitorLockException& e) {
            if (e.Message() == "Object lock not owned" && other == 0) other = 3;
        }
    });
    t.join();
    EXPECT_EQ(other, 3);
    m.Exit();
    m.Exit();
    m.Exit();
    EXPECT_THROW(m.Exit(), EMonitorLockException);
    EXPECT_THROW(m.Wait(0), EMonitorLockException);
    EXPECT_THROW(m.Pulse(), EMonitorLockException);

    // A consumer waits (releasing the lock fully) until a producer pulses.
    std::vector<int> items;
    std::thread consumer([&] {
        std::lock_guard guard(m);
        m.Enter(); // depth 2, restored after the wait
        while (items.empty()) m.Wait();
        items.push_back(-items.front());
        m.Exit();
    });
    std::this_thread::sleep_for(10ms);
    {
        std::lock_guard guard(m);
        items.push_back(5);
        m.Pulse();
    }
    consumer.join();
    EXPECT_EQ(items, (std::vector<int>{5, -5}));

    std::lock_guard guard(m);
    EXPECT_FALSE(m.Wait(10)); // no pulse: times out, lock held again
    m.PulseAll();             // no waiters: nothing happens
}

TEST(TCriticalSection, ReentrantAndExclusive)
{
    TCriticalSection cs;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                std::lock_guard outer(cs);
                cs.Enter();
                ++counter;
                cs.Leave();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 4000);
    EXPECT_TRUE(cs.TryEnter());
    cs.Release();
}
