#include "Korvane.Utils.Timer.h"

#include <algorithm>

namespace korvane {

namespace {

constexpr int64_t TicksPerMs = TClock::TicksPerMillisecond;
constexpr int64_t MeasureWindowMs = 1000;
// The wait between passes when Interval is 0 or less.
constexpr int64_t MinimumPassTicks = TicksPerMs;

} // namespace

TKorvaneTimer::TKorvaneTimer() : FClock(GetDefaultClock())
{
    SetPriority(tpHigher);
}

TKorvaneTimer::~TKorvaneTimer()
{
    // Deleted without Free(): the thread must still end before the fields go.
    Shutdown();
}

void TKorvaneTimer::BeforeDestruction()
{
    Shutdown();
}

void TKorvaneTimer::Shutdown() noexcept
{
    // Calls already posted to the main thread find the timer gone and do nothing.
    FLife->Alive = false;
    TThread::BeforeDestruction(); // terminates and waits for the thread
}

void TKorvaneTimer::SetMode(TKorvaneTimerMode Value)
{
    std::lock_guard guard(FMonitor);
    FMode = Value;
}

void TKorvaneTimer::SetInterval(int32_t Value)
{
    {
        std::lock_guard guard(FMonitor);
        FInterval = Value;
    }
    WakeUp(); // the current wait was measured against the old interval
}

TOnTimerEvent TKorvaneTimer::OnTimer() const
{
    std::lock_guard guard(FMonitor);
    return FOnTimer;
}

void TKorvaneTimer::SetOnTimer(TOnTimerEvent Value)
{
    std::lock_guard guard(FMonitor);
    FOnTimer = std::move(Value);
}

bool TKorvaneTimer::Active() const
{
    return Started() && !Suspended();
}

void TKorvaneTimer::SetActive(bool Value)
{
    {
        std::lock_guard guard(FMonitor);
        if (!Value && Active()) {
            FPaused = true;
            FPauseStart = FClock->NowTicks();
        }
        SetSuspended(!Value);
        if (Value && FPaused) {
            FPaused = false;
            FPausedTicks += FClock->NowTicks() - FPauseStart;
        }
    }
    // A suspension takes hold at the thread's next pass: end its wait. (The
    // thread waits to be resumed inside TThread, which wakes it itself.)
    if (!Value) WakeUp();
}

void TKorvaneTimer::TerminatedSet()
{
    WakeUp();
}

void TKorvaneTimer::WakeUp()
{
    {
        std::lock_guard lock(FWaitLock);
        ++FWakeCount;
    }
    FWaitCond.notify_all();
}

void TKorvaneTimer::FireOnTimer()
{
    {
        std::lock_guard guard(FMonitor);
        if (!FOnTimer) return;
    }
    // The handler is looked up when the call runs on the main thread, so one
    // that was unhooked meanwhile is not called.
    auto call = [life = FLife, this] {
        if (!life->Alive) return;
        const TOnTimerEvent handler = OnTimer();
        if (handler) handler(this);
    };
    if (FMode.load() == TKorvaneTimerMode::Synchronized) Synchronize(call);
    else Queue(std::move(call));
}

void TKorvaneTimer::Execute()
{
    TClock* const clock = FClock;
    FTickCount = 0;
    FStopwatch = TStopwatch::Create(clock);
    FStopwatch.Start();
    int64_t windowStart = clock->NowTicks();

    while (!Terminated()) {
        uint64_t seen;
        {
            std::lock_guard lock(FWaitLock);
            seen = FWakeCount;
        }

        // The thread is held here while suspended. The time it spent switched
        // off counts towards no window.
        if (!SleepFor(0)) break;

        // Switched-off time is taken out of the window, including a switch-off
        // that happened after this pass got past the suspension point: then the
        // pass neither fires nor measures and goes back to be held.
        int64_t now;
        bool paused;
        {
            std::lock_guard guard(FMonitor);
            now = clock->NowTicks();
            paused = FPaused;
            int64_t pausedTicks = FPausedTicks.exchange(0);
            if (paused) {
                pausedTicks += now - FPauseStart;
                FPauseStart = now;
            }
            windowStart = std::min(windowStart + pausedTicks, now);
        }
        if (paused) continue;

        const int64_t interval = FInterval.load();
        if (interval <= 0 || FStopwatch.ElapsedMilliseconds() >= interval) {
            ++FTickCount;
            FStopwatch.Reset();
            FStopwatch.Start();
            FireOnTimer();
            now = clock->NowTicks();
        }

        const int64_t elapsedMs = (now - windowStart) / TicksPerMs;
        if (elapsedMs >= MeasureWindowMs) {
            if (FTickCount > 0) FFPS = float(double(FTickCount) / (double(elapsedMs) / 1000.0));
            FTickCount = 0;
            windowStart = now;
        }

        // Wait until the next tick is due, counted from the last tick (when
        // Interval is 0 or less: the shortest pass). The time is read before
        // the stopwatch, so the deadline is never later than the tick.
        const int64_t period = interval > 0 ? interval * TicksPerMs : MinimumPassTicks;
        const int64_t at = clock->NowTicks();
        const int64_t deadline = at + (period - FStopwatch.ElapsedTicks());
        std::unique_lock lock(FWaitLock);
        clock->WaitUntil(lock, FWaitCond, deadline, [this, seen] { return FWakeCount != seen; });
    }
}

} // namespace korvane
