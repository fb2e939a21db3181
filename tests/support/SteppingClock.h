#pragma once
// A manual clock that reports when a thread blocks on it, and the helpers that
// drive a timer thread on it from the main thread without real-time latency.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "Platform.Threads.h"

namespace korvane::test {

using namespace std::chrono_literals;

using TSteady = std::chrono::steady_clock;
constexpr int64_t Ms = TClock::TicksPerMillisecond;

// A manual clock that tells the test when a thread blocks on it and until
// when, so the test can move it to exactly that deadline: a scheduler without
// latency, whatever the load on the machine.
class TSteppingClock : public TManualClock {
public:
    bool WaitUntil(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t DeadlineTicks,
                   const std::function<bool()>& Ready) override
    {
        const bool blocks = DeadlineTicks != NoDeadline && DeadlineTicks > NowTicks() && !Ready();
        if (blocks) Mark(DeadlineTicks);
        const bool result = TManualClock::WaitUntil(Lock, Cond, DeadlineTicks, Ready);
        if (blocks) Mark(-1);
        return result;
    }
    // The deadline a thread waits for, when it lies ahead of the clock; else -1.
    int64_t BlockedDeadline() const
    {
        std::lock_guard lock(FStateLock);
        return FDeadline > NowTicks() ? FDeadline : -1;
    }
    // Waits a little (real time) for a thread to start or stop waiting.
    void AwaitChange()
    {
        std::unique_lock lock(FStateLock);
        FChanged.wait_for(lock, 1ms);
    }

private:
    void Mark(int64_t Deadline)
    {
        {
            std::lock_guard lock(FStateLock);
            FDeadline = Deadline;
        }
        FChanged.notify_all();
    }

    mutable std::mutex FStateLock;
    std::condition_variable FChanged;
    int64_t FDeadline = -1;
};

// Serves the main-thread queue until the timer thread waits on Clock (for
// DeadlineTicks, when given). False after a generous real-time limit.
[[nodiscard]] inline bool Settle(TSteppingClock& Clock, int64_t DeadlineTicks = -1)
{
    const auto limit = TSteady::now() + 15s;
    for (;;) {
        while (CheckSynchronize(0)) {
        }
        const int64_t d = Clock.BlockedDeadline();
        if (d >= 0 && (DeadlineTicks < 0 || d == DeadlineTicks)) {
            // What the thread posted before it began to wait runs now.
            while (CheckSynchronize(0)) {
            }
            return true;
        }
        if (TSteady::now() > limit) return false;
        Clock.AwaitChange();
    }
}

// The application loop on a stepped clock: serves the main-thread queue and
// moves the clock to each deadline the timer waits for, until the clock has
// reached TargetMs and the timer waits again.
[[nodiscard]] inline bool RunUntil(TSteppingClock& Clock, int64_t TargetMs)
{
    for (;;) {
        if (!Settle(Clock)) return false;
        if (Clock.NowTicks() >= TargetMs * Ms) return true;
        const int64_t d = Clock.BlockedDeadline();
        if (d >= 0) Clock.Advance(d - Clock.NowTicks());
    }
}

// Lets Milliseconds of the clock pass while a handler runs on the main thread
// without serving the queue: the clock stops at every deadline the timer
// thread waits for, so a timer that is not held keeps ticking meanwhile.
// False when the timer thread never waits (it is held by the handler).
[[nodiscard]] inline bool ElapseStepping(TSteppingClock& Clock, int64_t Milliseconds)
{
    const int64_t target = Clock.NowTicks() + Milliseconds * Ms;
    const auto limit = TSteady::now() + 15s;
    while (Clock.NowTicks() < target) {
        const int64_t d = Clock.BlockedDeadline();
        if (d >= 0) Clock.Advance(std::min(d, target) - Clock.NowTicks());
        else if (TSteady::now() > limit) return false;
        else Clock.AwaitChange();
    }
    return true;
}

} // namespace korvane::test
