#pragma once
// Threads, the main-thread queue, clocks, stopwatches and locks.
//
// The main thread. Components and GL live on one thread: the thread that runs
// the program's start-up (korvane::InitializeUnits calls SetMainThread), or
// before that the first thread that asks. TThread::Synchronize and
// TThread::Queue run their work at once when called on the main thread; from
// any other thread they post it to the main-thread queue, which the
// application loop (or a test) drains with CheckSynchronize(). Work runs in
// the order it was posted.
//
// Clocks. Stopwatches, timers and thread sleeps take their time from a TClock:
// the real monotonic clock by default, or one that tests install
// (SetDefaultClock / TDefaultClockScope), typically a TManualClock that
// moves only when told to. Waits use the operating system's timed waits on
// condition variables, never a busy loop; a wait through a manual clock ends
// when Advance() reaches its deadline. Lock timeouts (TMonitor.TryEnter,
// TMonitor.Wait) and CheckSynchronize's timeout are real time.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

class EThread : public Exception { using Exception::Exception; };
class EMonitorLockException : public Exception {
public:
    explicit EMonitorLockException(std::string message = "Object lock not owned") : Exception(std::move(message)) {}
};

// A wait without a time limit.
constexpr int64_t INFINITE = -1;

// ---------------------------------------------------------------- clocks

class TClock {
public:
    static constexpr int64_t TicksPerMillisecond = 10000; // ticks are 100 ns
    static constexpr int64_t TicksPerSecond = 10000000;
    static constexpr int64_t NoDeadline = INT64_MAX;

    virtual ~TClock() = default;
    // Monotonic time in 100-ns ticks.
    virtual int64_t NowTicks() const = 0;
    int64_t NowMilliseconds() const { return NowTicks() / TicksPerMillisecond; }

    // With Lock held: waits on Cond until Ready() holds or this clock reaches
    // DeadlineTicks (NoDeadline: no limit). Returns Ready(). Whoever makes
    // Ready() true changes its state under Lock's mutex and notifies Cond.
    virtual bool WaitUntil(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t DeadlineTicks,
                           const std::function<bool()>& Ready) = 0;
    // As WaitUntil, for Milliseconds from now (INFINITE: no limit).
    bool WaitFor(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t Milliseconds,
                 const std::function<bool()>& Ready);
    // Blocks the calling thread for Milliseconds of this clock.
    void Sleep(int64_t Milliseconds);
    // The deadline Milliseconds from now, saturating; NoDeadline for INFINITE.
    int64_t DeadlineAfter(int64_t Milliseconds) const;
};

// The operating system's monotonic clock.
class TRealClock : public TClock {
public:
    int64_t NowTicks() const override;
    bool WaitUntil(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t DeadlineTicks,
                   const std::function<bool()>& Ready) override;
};

// A clock that stands still until Advance() moves it; waits through it wake
// when it reaches their deadline. Do not call Advance() while holding a lock
// that a waiter's Ready() needs.
class TManualClock : public TClock {
public:
    explicit TManualClock(int64_t StartTicks = 0) : FNow(StartTicks) {}
    int64_t NowTicks() const override { return FNow.load(); }
    bool WaitUntil(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t DeadlineTicks,
                   const std::function<bool()>& Ready) override;
    void Advance(int64_t Ticks);
    void AdvanceMilliseconds(int64_t Milliseconds) { Advance(Milliseconds * TicksPerMillisecond); }

private:
    struct TWaiter {
        std::mutex* Mutex;
        std::condition_variable* Cond;
    };
    std::atomic<int64_t> FNow;
    std::mutex FWaitersLock;
    std::vector<TWaiter*> FWaiters;
};

// The clock in effect: the real clock unless one was installed.
TClock* GetDefaultClock();
// Installs Clock (nil: the real clock again) and returns the previous one.
// The caller keeps Clock alive while it is installed.
TClock* SetDefaultClock(TClock* Clock);

// Installs a clock for the lifetime of the scope.
class TDefaultClockScope {
public:
    explicit TDefaultClockScope(TClock* Clock) : FPrevious(SetDefaultClock(Clock)) {}
    ~TDefaultClockScope() { SetDefaultClock(FPrevious); }
    TDefaultClockScope(const TDefaultClockScope&) = delete;
    TDefaultClockScope& operator=(const TDefaultClockScope&) = delete;

private:
    TClock* FPrevious;
};

// ---------------------------------------------------------------- TStopwatch

// Measures elapsed time on a clock: the one given, or else the default clock
// in effect when it starts. Ticks are 100 ns (Frequency 10,000,000 per second).
class TStopwatch {
public:
    static constexpr int64_t Frequency = TClock::TicksPerSecond;
    static constexpr bool IsHighResolution = true;

    explicit TStopwatch(TClock* Clock = nullptr) : FClock(Clock) {}
    static TStopwatch Create(TClock* Clock = nullptr) { return TStopwatch(Clock); }
    static TStopwatch StartNew(TClock* Clock = nullptr);
    // The default clock's current time in ticks.
    static int64_t GetTimeStamp();

    void Start();
    void Stop();
    // Stops and clears the elapsed time.
    void Reset();
    bool IsRunning() const { return FRunning; }
    int64_t ElapsedTicks() const;
    int64_t ElapsedMilliseconds() const { return ElapsedTicks() / TClock::TicksPerMillisecond; }

private:
    TClock* FClock;
    TClock* FRunningClock = nullptr;
    int64_t FElapsed = 0;
    int64_t FStartTicks = 0;
    bool FRunning = false;
};

// ---------------------------------------------------------------- locks

// A re-entrant lock with a condition: the holder may Wait (releasing the lock
// completely) until another holder Pulses. Works with std::lock_guard and
// std::unique_lock through lock()/unlock()/try_lock().
class TMonitor {
public:
    TMonitor() = default;
    TMonitor(const TMonitor&) = delete;
    TMonitor& operator=(const TMonitor&) = delete;

    void Enter();
    // Waits up to TimeoutMs (0: not at all; INFINITE: no limit) for the lock.
    bool TryEnter(int64_t TimeoutMs = 0);
    // Raises EMonitorLockException "Object lock not owned" when the calling thread does not hold it.
    void Exit();
    // Releases the lock, waits for a Pulse (or TimeoutMs), takes the lock again
    // at its old depth. False on timeout. Raises when the lock is not held.
    bool Wait(int64_t TimeoutMs = INFINITE);
    // Wakes the longest waiting thread; PulseAll wakes all. The lock must be held.
    void Pulse();
    void PulseAll();

    void lock() { Enter(); }
    void unlock() { Exit(); }
    bool try_lock() { return TryEnter(0); }

private:
    struct TWaiter {
        bool Signaled = false;
    };
    bool OwnedByCaller() const { return FCount > 0 && FOwner == std::this_thread::get_id(); }

    std::mutex FMutex;
    std::condition_variable FFree;   // the lock became free
    std::condition_variable FPulsed; // a waiter was signaled
    std::thread::id FOwner;
    int FCount = 0;
    std::deque<TWaiter*> FWaiters;
};

// A re-entrant critical section.
class TCriticalSection {
public:
    void Acquire() { FMutex.lock(); }
    void Release() { FMutex.unlock(); }
    void Enter() { Acquire(); }
    void Leave() { Release(); }
    bool TryEnter() { return FMutex.try_lock(); }

    void lock() { Acquire(); }
    void unlock() { Release(); }
    bool try_lock() { return TryEnter(); }

private:
    std::recursive_mutex FMutex;
};

// ---------------------------------------------------------------- TThread

using TThreadProcedure = std::function<void()>;

// Priorities are kept as a value; the thread runs at the process's priority.
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A thread whose body is Execute(). A new thread is suspended: Start() (or
// SetSuspended(false)) runs it. Free() terminates it and waits for it.
class TThread : public TObject {
public:
    TThread() = default;
    ~TThread() override;
    std::string ClassName() const override { return "TThread"; }

    // Raises EThread when the thread was started before.
    void Start();
    // Asks Execute to end: sets Terminated and wakes SleepFor.
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }
    // Waits until Execute has ended and returns ReturnValue. On the main thread
    // the main-thread queue is served meanwhile, so the thread may Synchronize.
    // Raises EThread when called from the thread itself.
    int WaitFor();

    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished.load(); }
    // A thread not yet started is suspended. Suspending a running thread takes
    // effect at its next SleepFor; resuming a thread never started starts it.
    bool Suspended() const;
    void SetSuspended(bool Value);
    TThreadPriority Priority() const { return FPriority; }
    void SetPriority(TThreadPriority Value) { FPriority = Value; }
    int ReturnValue() const { return FReturnValue.load(); }
    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const;
    std::thread::id ThreadID() const { return FThreadID; }

    // Runs Proc on the main thread: at once there, else posted and waited for;
    // an exception raised by Proc is raised again in the calling thread.
    static void Synchronize(const TThreadProcedure& Proc);
    // Runs Proc on the main thread: at once there, else posted without waiting.
    static void Queue(TThreadProcedure Proc);
    static bool CurrentThreadIsMain();
    // Makes the calling thread the main thread.
    static void SetMainThread();
    static std::thread::id MainThreadID();
    // Sleeps for Milliseconds of the default clock.
    static void Sleep(int64_t Milliseconds);
    static void Yield() { std::this_thread::yield(); }

protected:
    virtual void Execute() = 0;
    // Called by Terminate() after Terminated was set.
    virtual void TerminatedSet() {}
    void SetReturnValue(int Value) { FReturnValue = Value; }
    // For Execute: waits up to Milliseconds of the default clock, ending early
    // when the thread is terminated or suspended; while suspended it waits to
    // be resumed. Returns false once the thread is terminated.
    bool SleepFor(int64_t Milliseconds);
    void BeforeDestruction() override;

private:
    void Run();
    void Shutdown() noexcept;

    std::thread FThread;
    std::thread::id FThreadID;
    bool FStarted = false;
    bool FJoined = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<int> FReturnValue{0};
    TThreadPriority FPriority = tpNormal;
    std::exception_ptr FFatalException;
    std::mutex FLock; // suspension and sleeping
    std::condition_variable FWake;
    bool FSuspended = false;
};

// Runs the work posted to the main-thread queue, in order. Waits up to
// TimeoutMs (real time) for work when there is none. True when something ran.
// Must be called on the main thread (else EThread). When queued work raises,
// the rest stays queued and the exception propagates.
bool CheckSynchronize(int64_t TimeoutMs = 0);
// True when work waits in the main-thread queue.
bool HasPendingSynchronize();
// Called (from the posting thread) whenever work is posted, so that a loop that
// waits elsewhere than in CheckSynchronize (the window system's event wait) wakes.
void SetWakeMainThreadHook(void (*AHook)());

} // namespace korvane
