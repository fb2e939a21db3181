#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "Korvane.Utils.Timer.h"
#include "SteppingClock.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;
using namespace std::chrono_literals;

namespace {

// Drains the main-thread queue for Duration of real time, as an application loop would.
void Pump(std::chrono::milliseconds Duration)
{
    const auto end = TSteady::now() + Duration;
    while (TSteady::now() < end) CheckSynchronize(5);
}

// Counts handler calls and checks where they run and whom they name.
struct THandlerLog {
    std::atomic<int> Calls{0};
    std::atomic<int> WrongThread{0};
    std::atomic<int> WrongSender{0};

    TOnTimerEvent Handler(TKorvaneTimer* Timer, std::function<void()> Extra = {})
    {
        return [this, Timer, Extra](TObject* ASender) {
            ++Calls;
            if (!TThread::CurrentThreadIsMain()) ++WrongThread;
            // Touches the sender, so a call for a freed timer shows under ASan.
            if (ASender != Timer || static_cast<TKorvaneTimer*>(ASender)->Interval() < -1000000) ++WrongSender;
            if (Extra) Extra();
        };
    }
};

int64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A timer that measures the CPU time its own thread spends.
class TMeasuredTimer : public TKorvaneTimer {
public:
    std::atomic<int64_t> CpuNs{0};
    std::atomic<int64_t> WallNs{0};

protected:
    void Execute() override
    {
        const int64_t cpu0 = ThreadCpuNs();
        const auto wall0 = TSteady::now();
        TKorvaneTimer::Execute();
        CpuNs = ThreadCpuNs() - cpu0;
        WallNs = std::chrono::duration_cast<std::chrono::nanoseconds>(TSteady::now() - wall0).count();
    }
};

// Frees a timer when a test ends, also when an assertion ends it early (the
// timer must stop before the clock it runs on goes).
template <typename T = TKorvaneTimer>
using TOwnedTimer = test::Owned<T>;

// A new timer on a stepping clock that is the default clock while it lives,
// and a log for its handler. The members go in reverse order: the timer stops
// before the clock it runs on goes.
struct TSteppedTimer {
    TSteppingClock Clock;
    TDefaultClockScope Scope{&Clock};
    THandlerLog Log;
    TOwnedTimer<> Owner{new TKorvaneTimer()};
    TKorvaneTimer* const Timer = Owner.get();

    // Hooks Log's handler (running Extra after its checks) and switches the timer on.
    void Start(int32_t AInterval, TKorvaneTimerMode AMode = TKorvaneTimerMode::Synchronized,
               std::function<void()> Extra = {})
    {
        Timer->SetOnTimer(Log.Handler(Timer, std::move(Extra)));
        Timer->SetInterval(AInterval);
        Timer->SetMode(AMode);
        Timer->SetActive(true);
    }
};

class TimerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        while (CheckSynchronize(0)) {
        }
    }
};

} // namespace

TEST_F(TimerTest, NewTimerIsInactiveWithDefaults)
{
    TOwnedTimer<> owner(new TKorvaneTimer());
    auto* timer = owner.get();
    EXPECT_FALSE(timer->Active());
    EXPECT_FALSE(timer->Started());
    EXPECT_EQ(timer->Interval(), 1000);
    EXPECT_EQ(timer->Mode(), TKorvaneTimerMode::Synchronized);
    EXPECT_EQ(timer->FPS(), 0.0f);
    EXPECT_EQ(timer->Priority(), tpHigher);
    EXPECT_FALSE(timer->OnTimer());
    EXPECT_EQ(timer->ClassName(), "TKorvaneTimer");

    timer->SetInterval(16);
    timer->SetMode(TKorvaneTimerMode::Enqueued);
    EXPECT_EQ(timer->Interval(), 16);
    EXPECT_EQ(timer->Mode(), TKorvaneTimerMode::Enqueued);
    timer->SetActive(false); // switching off a timer never started starts nothing
    EXPECT_FALSE(timer->Started());
}

// Two seconds at Interval 16 with the queue drained: a tick every 16 ms, and
// the windows close at the 63rd tick, 1008 ms in, so FPS is 62.5 - whether
// the handler is synchronised, queued or missing.
TEST_F(TimerTest, SettlesAtTheIntervalRate)
{
    struct TCase {
        const char* Name;
        TKorvaneTimerMode Mode;
        bool Handler;
    };
    for (const TCase& c : {TCase{"synchronized", TKorvaneTimerMode::Synchronized, true},
                           TCase{"enqueued", TKorvaneTimerMode::Enqueued, true},
                           TCase{"no handler", TKorvaneTimerMode::Synchronized, false}}) {
        SCOPED_TRACE(c.Name);
        TSteppedTimer t;
        t.Timer->SetInterval(16);
        t.Timer->SetMode(c.Mode);
        if (c.Handler) t.Timer->SetOnTimer(t.Log.Handler(t.Timer));
        t.Timer->SetActive(true);
        EXPECT_TRUE(t.Timer->Active());
        ASSERT_TRUE(RunUntil(t.Clock, 2000));
        EXPECT_FLOAT_EQ(t.Timer->FPS(), 62.5f);
        EXPECT_EQ(t.Log.Calls, c.Handler ? 125 : 0);
        EXPECT_EQ(t.Log.WrongThread, 0);
        EXPECT_EQ(t.Log.WrongSender, 0);
    }
}

// A handler taking 40 ms at Interval 16. Queued, it runs while the timer
// thread goes on, so the ticks keep their 16 ms; synchronised, it holds the
// thread and the next tick fires as soon as it returns: one tick per 40 ms,
// 25 in each window (the second runs from 1016 ms to 2016 ms).
TEST_F(TimerTest, SlowHandlerSlowsOnlySynchronizedTicks)
{
    struct TCase {
        const char* Name;
        TKorvaneTimerMode Mode;
        float Fps;
    };
    for (const TCase& c : {TCase{"enqueued", TKorvaneTimerMode::Enqueued, 62.5f},
                           TCase{"synchronized", TKorvaneTimerMode::Synchronized, 25.0f}}) {
        SCOPED_TRACE(c.Name);
        TSteppedTimer t;
        const bool held = c.Mode == TKorvaneTimerMode::Synchronized;
        t.Start(16, c.Mode, [&] {
            if (t.Clock.NowTicks() >= 2100 * Ms) return; // quick afterwards, so the backlog drains
            if (held) t.Clock.AdvanceMilliseconds(40);
            else EXPECT_TRUE(ElapseStepping(t.Clock, 40)) << "the timer thread waits for the handler";
        });
        ASSERT_TRUE(RunUntil(t.Clock, 2100));
        EXPECT_FLOAT_EQ(t.Timer->FPS(), c.Fps);
        EXPECT_GT(t.Log.Calls, 40);
        EXPECT_EQ(t.Log.WrongThread, 0);
    }
}

TEST_F(TimerTest, SwitchingOffAndOnResumesTheSameThread)
{
    TSteppedTimer t;
    t.Start(16);
    const auto threadId = t.Timer->ThreadID();
    ASSERT_TRUE(RunUntil(t.Clock, 1296)); // 81 ticks; a window closed at 1008 ms, 18 ticks since
    EXPECT_EQ(t.Log.Calls, 81);
    EXPECT_FLOAT_EQ(t.Timer->FPS(), 62.5f);

    t.Timer->SetActive(false);
    EXPECT_FALSE(t.Timer->Active());
    EXPECT_TRUE(t.Timer->Started());
    t.Clock.AdvanceMilliseconds(1500); // switched off for 1.5 s
    EXPECT_FALSE(CheckSynchronize(100));
    EXPECT_EQ(t.Log.Calls, 81);
    EXPECT_FLOAT_EQ(t.Timer->FPS(), 62.5f);

    t.Timer->SetActive(true);
    EXPECT_TRUE(t.Timer->Active());
    EXPECT_EQ(t.Timer->ThreadID(), threadId);
    // The overdue tick fires at once (at 2796 ms) and the cadence goes on from
    // it. The window open when switched off carries on without the pause: 18
    // ticks before it, 1 + 45 after it, over 1008 ms.
    ASSERT_TRUE(RunUntil(t.Clock, 3516));
    EXPECT_EQ(t.Log.Calls, 81 + 46);
    EXPECT_FLOAT_EQ(t.Timer->FPS(), float(64 / 1.008));
    EXPECT_EQ(t.Log.WrongThread, 0);
}

// Stopwatch and clock: a late tick fires once and the cadence restarts from
// it; the restart comes before the handler runs; a new Interval takes effect
// at once.
TEST_F(TimerTest, CadenceRestartsAtEachTick)
{
    std::atomic<int64_t> handlerTakesMs{0};
    TSteppedTimer t;
    // The handler takes handlerTakesMs of the clock, once.
    t.Start(100, TKorvaneTimerMode::Synchronized, [&] { t.Clock.AdvanceMilliseconds(handlerTakesMs.exchange(0)); });
    ASSERT_TRUE(Settle(t.Clock, 100 * Ms));
    EXPECT_EQ(t.Log.Calls, 0);

    // Three intervals late: one tick, none made up; the next is due 100 ms after it.
    t.Clock.AdvanceMilliseconds(350);
    ASSERT_TRUE(Settle(t.Clock, 450 * Ms));
    EXPECT_EQ(t.Log.Calls, 1);

    // A handler taking 60 ms: the next tick is still due 100 ms after this one fired.
    handlerTakesMs = 60;
    t.Clock.AdvanceMilliseconds(100);
    ASSERT_TRUE(Settle(t.Clock, 550 * Ms));
    EXPECT_EQ(t.Log.Calls, 2);

    // A handler taking 150 ms (from the tick at 550 ms): the next tick fires as
    // soon as it returns.
    handlerTakesMs = 150;
    t.Clock.AdvanceMilliseconds(40);
    ASSERT_TRUE(Settle(t.Clock, 800 * Ms));
    EXPECT_EQ(t.Log.Calls, 4);

    // A long interval shortened while waiting: the tick fires without the clock moving.
    t.Timer->SetInterval(10000);
    ASSERT_TRUE(Settle(t.Clock, 10700 * Ms));
    t.Clock.AdvanceMilliseconds(500);
    t.Timer->SetInterval(300);
    ASSERT_TRUE(Settle(t.Clock, 1500 * Ms));
    EXPECT_EQ(t.Log.Calls, 5);
}

// Interval 0 or less fires on every pass, and passes are a millisecond of
// the clock apart.
TEST_F(TimerTest, NonPositiveIntervalFiresEveryPass)
{
    for (int32_t interval : {0, -5}) {
        SCOPED_TRACE(interval);
        TSteppedTimer t;
        t.Start(interval);
        ASSERT_TRUE(Settle(t.Clock, 1 * Ms)); // the first tick fires at once
        EXPECT_EQ(t.Log.Calls, 1);
        t.Clock.AdvanceMilliseconds(1);
        ASSERT_TRUE(Settle(t.Clock, 2 * Ms));
        EXPECT_EQ(t.Log.Calls, 2);
        t.Clock.AdvanceMilliseconds(5); // late: one tick, not five
        ASSERT_TRUE(Settle(t.Clock, 7 * Ms)); // from the tick at 6 ms
        EXPECT_EQ(t.Log.Calls, 3);
    }
}

// FPS is ticks / (elapsed ms / 1000) over windows of at least a second; a
// window without ticks leaves it as it was. With ticks further apart than a
// second, the window runs to the next tick, so FPS is the true rate.
TEST_F(TimerTest, MeasuresTicksPerSecondOverWindows)
{
    TSteppedTimer t;
    t.Start(1250);
    ASSERT_TRUE(Settle(t.Clock, 1250 * Ms));
    EXPECT_EQ(t.Timer->FPS(), 0.0f);

    t.Clock.AdvanceMilliseconds(1250);
    ASSERT_TRUE(Settle(t.Clock, 2500 * Ms));
    EXPECT_FLOAT_EQ(t.Timer->FPS(), 0.8f);

    // 1100 ms on, a new Interval wakes the thread for a pass without a tick:
    // it closes the empty window and keeps FPS.
    t.Clock.AdvanceMilliseconds(1100);
    t.Timer->SetInterval(5000);
    ASSERT_TRUE(Settle(t.Clock, 6250 * Ms));
    EXPECT_FLOAT_EQ(t.Timer->FPS(), 0.8f);

    // The next window runs from there (2350 ms) to the tick at 6250 ms.
    t.Clock.AdvanceMilliseconds(3900);
    ASSERT_TRUE(Settle(t.Clock, 11250 * Ms));
    EXPECT_FLOAT_EQ(t.Timer->FPS(), float(1 / 3.9));
    EXPECT_EQ(t.Log.Calls, 2);
}

// Freeing or deleting a timer, running or switched off, with calls pending on
// the main thread: the thread is joined, and no call reaches the freed timer.
TEST_F(TimerTest, DestroyingJoinsTheThreadAndDropsPendingCalls)
{
    struct TCase {
        const char* Name;
        TKorvaneTimerMode Mode;
        bool SwitchOff;
        bool Delete;
    };
    for (const TCase& c : {TCase{"synchronized", TKorvaneTimerMode::Synchronized, false, false},
                           TCase{"enqueued", TKorvaneTimerMode::Enqueued, false, false},
                           TCase{"switched off", TKorvaneTimerMode::Synchronized, true, false},
                           TCase{"deleted, synchronized", TKorvaneTimerMode::Synchronized, false, true},
                           TCase{"deleted, enqueued", TKorvaneTimerMode::Enqueued, false, true}}) {
        SCOPED_TRACE(c.Name);
        auto* timer = new TKorvaneTimer();
        THandlerLog log;
        timer->SetOnTimer(log.Handler(timer));
        timer->SetInterval(5);
        timer->SetMode(c.Mode);
        timer->SetActive(true);
        const auto limit = TSteady::now() + 15s;
        while (log.Calls < 3 && TSteady::now() < limit) CheckSynchronize(5);
        ASSERT_GE(log.Calls, 3);
        if (c.SwitchOff) {
            timer->SetActive(false);
            Pump(50ms);
        }
        // Leave calls waiting: a synchronised one holds the thread, queued ones pile up.
        std::this_thread::sleep_for(100ms);
        const int callsBefore = log.Calls;
        if (c.Delete) delete timer;
        else timer->Free();
        Pump(50ms);
        EXPECT_EQ(log.Calls, callsBefore);
        EXPECT_EQ(log.WrongSender, 0);
    }

    // A timer never started goes without fuss.
    (new TKorvaneTimer())->Free();
}

// A handler unhooked while its calls wait on the main thread is not called.
TEST_F(TimerTest, QueuedCallsRunTheCurrentHandler)
{
    THandlerLog second;
    TSteppedTimer t; // its Log is the first handler's
    t.Start(10, TKorvaneTimerMode::Enqueued);
    ASSERT_TRUE(ElapseStepping(t.Clock, 30)); // three ticks queued, none run yet
    EXPECT_EQ(t.Log.Calls, 0);
    t.Timer->SetOnTimer(second.Handler(t.Timer));
    ASSERT_TRUE(Settle(t.Clock));
    EXPECT_EQ(t.Log.Calls, 0);
    EXPECT_EQ(second.Calls, 3);
    t.Timer->SetOnTimer(nullptr);
    ASSERT_TRUE(ElapseStepping(t.Clock, 30));
    ASSERT_TRUE(Settle(t.Clock));
    EXPECT_EQ(second.Calls, 3);
}

// On the real clock the timer thread sleeps between ticks instead of polling:
// its CPU time stays a small share of the time it runs.
TEST_F(TimerTest, WaitsWithoutSpinning)
{
    struct TCase {
        int32_t Interval;
        float MinFps, MaxFps;
        double MaxCpuShare;
    };
    // The rates are loose: this runs in real time on a shared machine.
    for (const TCase& c : {TCase{16, 30.0f, 70.0f, 0.05}, TCase{0, 50.0f, 1001.0f, 0.30}}) {
        SCOPED_TRACE(c.Interval);
        THandlerLog log;
        TOwnedTimer<TMeasuredTimer> owner(new TMeasuredTimer());
        auto* timer = owner.get();
        timer->SetOnTimer(log.Handler(timer));
        timer->SetInterval(c.Interval);
        timer->SetActive(true);
        Pump(1500ms);
        timer->Terminate();
        timer->WaitFor();
        EXPECT_GE(timer->FPS(), c.MinFps);
        EXPECT_LE(timer->FPS(), c.MaxFps);
        ASSERT_GT(timer->WallNs, 1000000000);
        const double share = double(timer->CpuNs) / double(timer->WallNs);
        EXPECT_LT(share, c.MaxCpuShare) << "CPU " << timer->CpuNs / 1000000 << " ms over "
                                         << timer->WallNs / 1000000 << " ms";
    }
}
