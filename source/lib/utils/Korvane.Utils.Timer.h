#pragma once
// The frame timer: a cadence timer on a thread of its own that fires OnTimer
// on the main thread every Interval milliseconds and measures how many times
// per second it fired.
//
// Timing. The timer takes its time from the default clock in effect when it
// is created (keep that clock alive until the timer is freed). Between ticks it
// blocks in a timed wait on that clock until the next tick is due, so an idle
// timer costs no CPU. Setting Interval, switching Active off and terminating
// end the wait at once, so a new Interval takes effect immediately; switching
// Active on resumes the held thread. The cadence stopwatch restarts when a
// tick fires, before OnTimer runs: in Synchronized mode the handler's run time
// counts towards the next interval, and a tick that is late (a slow handler, a
// busy machine) fires once and is not made up.
//
// Interval 0 or less: every pass of the loop fires a tick, and the thread
// waits one millisecond of its clock between passes (ending early like any
// other wait) so that it never spins a core; such a timer fires at most about
// a thousand times a second.
//
// Rate. The ticks are counted over measurement windows of at least one
// second, closed on the first pass after the second is over; a window that
// saw ticks sets FPS := ticks / (elapsed milliseconds / 1000), one without
// ticks leaves FPS unchanged. The time between switching Active off and on
// again counts towards no window, so FPS carries on across a pause.
//
// Threads. OnTimer always runs on the main thread, which must drain the
// main-thread queue (CheckSynchronize): Synchronized makes the timer thread
// wait until the main thread has run the handler, Enqueued posts the call and
// goes on. A posted call runs the OnTimer assigned when it runs, and none runs
// once the timer's destruction has begun; free the timer on the main thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Platform.Threads.h"

namespace korvane {

enum class TKorvaneTimerMode : uint8_t {
    Synchronized, // the main thread runs OnTimer while the timer thread waits
    Enqueued,     // the call is queued to the main thread; the timer goes on at once
};

using TOnTimerEvent = std::function<void(TObject* ASender)>;

class TKorvaneTimer : public TThread {
public:
    // Inactive (the thread is created suspended), Interval 1000, Synchronized,
    // priority tpHigher.
    TKorvaneTimer();
    ~TKorvaneTimer() override;
    std::string ClassName() const override { return "TKorvaneTimer"; }

    TKorvaneTimerMode Mode() const { return FMode.load(); }
    void SetMode(TKorvaneTimerMode Value);
    // Milliseconds between ticks.
    int32_t Interval() const { return FInterval.load(); }
    void SetInterval(int32_t Value);
    TOnTimerEvent OnTimer() const;
    void SetOnTimer(TOnTimerEvent Value);
    // The thread has been started and is not suspended. Setting it true the
    // first time starts the thread; false suspends it, true resumes it.
    bool Active() const;
    void SetActive(bool Value);
    // The last measured ticks per second; 0 until the first measurement.
    float FPS() const { return FFPS.load(); }

protected:
    void Execute() override;
    void TerminatedSet() override;
    void BeforeDestruction() override;

private:
    // Shared with the calls posted to the main thread, which may outlive the timer.
    struct TLifeToken {
        std::atomic<bool> Alive{true};
    };

    void Shutdown() noexcept;
    // Ends the timer thread's current wait.
    void WakeUp();
    void FireOnTimer();

    mutable TMonitor FMonitor; // guards the settings while they are written, and OnTimer
    std::atomic<TKorvaneTimerMode> FMode{TKorvaneTimerMode::Synchronized};
    std::atomic<int32_t> FInterval{1000};
    TStopwatch FStopwatch;  // cadence; used by the timer thread only
    int64_t FTickCount = 0; // ticks of the current window; timer thread only
    std::atomic<float> FFPS{0.0f};
    TOnTimerEvent FOnTimer;

    TClock* const FClock;    // the default clock when the timer was created
    bool FPaused = false;    // switched off through Active; guarded by FMonitor
    int64_t FPauseStart = 0; // guarded by FMonitor
    std::atomic<int64_t> FPausedTicks{0}; // switched-off time not yet taken out of the window
    std::shared_ptr<TLifeToken> FLife = std::make_shared<TLifeToken>();
    std::mutex FWaitLock;
    std::condition_variable FWaitCond;
    uint64_t FWakeCount = 0; // guarded by FWaitLock; bumped to end a wait
};

} // namespace korvane
