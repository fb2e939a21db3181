#include "Platform.Threads.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>

namespace korvane {

namespace {

using TTicks = std::chrono::duration<int64_t, std::ratio<1, TClock::TicksPerSecond>>;

// ---------------------------------------------------------------- the main thread and its queue

std::atomic<std::thread::id>& MainThread()
{
    static std::atomic<std::thread::id> id{std::this_thread::get_id()};
    return id;
}

struct TSyncEntry {
    TThreadProcedure Proc;
    bool Synchronous = false;
    bool Done = false; // guarded by the queue's mutex
    std::exception_ptr Error;
};

struct TSyncQueue {
    std::mutex Mutex;
    // Signalled when work is posted, when synchronous work is done and when a thread finishes.
    std::condition_variable Changed;
    std::deque<std::shared_ptr<TSyncEntry>> Entries;
};

TSyncQueue& SyncQueue()
{
    static TSyncQueue queue;
    return queue;
}

std::atomic<void (*)()> GWakeMainThread{nullptr};

void Post(const std::shared_ptr<TSyncEntry>& Entry)
{
    auto& q = SyncQueue();
    {
        std::lock_guard lock(q.Mutex);
        q.Entries.push_back(Entry);
    }
    q.Changed.notify_all();
    // An application loop waiting in the window system's wait is woken too.
    if (auto wake = GWakeMainThread.load()) wake();
}

TRealClock& RealClock()
{
    static TRealClock clock;
    return clock;
}

std::atomic<TClock*>& DefaultClockSlot()
{
    static std::atomic<TClock*> slot{nullptr};
    return slot;
}

} // namespace

// ---------------------------------------------------------------- TClock

int64_t TClock::DeadlineAfter(int64_t Milliseconds) const
{
    if (Milliseconds < 0) return NoDeadline;
    const int64_t now = NowTicks();
    int64_t span = 0, deadline = 0;
    if (__builtin_mul_overflow(Milliseconds, TicksPerMillisecond, &span) ||
        __builtin_add_overflow(now, span, &deadline))
        return NoDeadline;
    return deadline;
}

bool TClock::WaitFor(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t Milliseconds,
                     const std::function<bool()>& Ready)
{
    return WaitUntil(Lock, Cond, DeadlineAfter(Milliseconds), Ready);
}

void TClock::Sleep(int64_t Milliseconds)
{
    if (Milliseconds <= 0) return;
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock lock(m);
    WaitFor(lock, cv, Milliseconds, [] { return false; });
}

int64_t TRealClock::NowTicks() const
{
    return std::chrono::duration_cast<TTicks>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool TRealClock::WaitUntil(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond, int64_t DeadlineTicks,
                           const std::function<bool()>& Ready)
{
    if (DeadlineTicks == NoDeadline) {
        Cond.wait(Lock, Ready);
        return true;
    }
    const auto deadline = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(TTicks(DeadlineTicks)));
    return Cond.wait_until(Lock, deadline, Ready);
}

bool TManualClock::WaitUntil(std::unique_lock<std::mutex>& Lock, std::condition_variable& Cond,
                             int64_t DeadlineTicks, const std::function<bool()>& Ready)
{
    if (Ready()) return true;
    if (NowTicks() >= DeadlineTicks) return false;
    // Register without holding the caller's mutex: Advance() takes the
    // registry first and each waiter's mutex second, never the other way.
    TWaiter waiter{Lock.mutex(), &Cond};
    Lock.unlock();
    {
        std::lock_guard g(FWaitersLock);
        FWaiters.push_back(&waiter);
    }
    Lock.lock();
    while (!Ready() && NowTicks() < DeadlineTicks) Cond.wait(Lock);
    const bool result = Ready();
    Lock.unlock();
    {
        std::lock_guard g(FWaitersLock);
        FWaiters.erase(std::find(FWaiters.begin(), FWaiters.end(), &waiter));
    }
    Lock.lock();
    return result;
}

void TManualClock::Advance(int64_t Ticks)
{
    std::lock_guard g(FWaitersLock);
    FNow += std::max<int64_t>(Ticks, 0);
    for (TWaiter* w : FWaiters) {
        // Taking the waiter's mutex orders this wake-up after its last check.
        std::lock_guard m(*w->Mutex);
        w->Cond->notify_all();
    }
}

TClock* GetDefaultClock()
{
    TClock* c = DefaultClockSlot().load();
    return c ? c : &RealClock();
}

TClock* SetDefaultClock(TClock* Clock)
{
    return DefaultClockSlot().exchange(Clock);
}

// ---------------------------------------------------------------- TStopwatch

TStopwatch TStopwatch::StartNew(TClock* Clock)
{
    TStopwatch s(Clock);
    s.Start();
    return s;
}

int64_t TStopwatch::GetTimeStamp()
{
    return GetDefaultClock()->NowTicks();
}

void TStopwatch::Start()
{
    if (FRunning) return;
    FRunningClock = FClock ? FClock : GetDefaultClock();
    FStartTicks = FRunningClock->NowTicks();
    FRunning = true;
}

void TStopwatch::Stop()
{
    if (!FRunning) return;
    FElapsed += std::max<int64_t>(0, FRunningClock->NowTicks() - FStartTicks);
    FRunning = false;
}

void TStopwatch::Reset()
{
    FElapsed = 0;
    FRunning = false;
}

int64_t TStopwatch::ElapsedTicks() const
{
    if (!FRunning) return FElapsed;
    return FElapsed + std::max<int64_t>(0, FRunningClock->NowTicks() - FStartTicks);
}

// ---------------------------------------------------------------- TMonitor

void TMonitor::Enter()
{
    TryEnter(INFINITE);
}

bool TMonitor::TryEnter(int64_t TimeoutMs)
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(FMutex);
    if (FCount > 0 && FOwner == me) {
        ++FCount;
        return true;
    }
    auto isFree = [this] { return FCount == 0; };
    if (TimeoutMs < 0) FFree.wait(lock, isFree);
    else if (!FFree.wait_for(lock, std::chrono::milliseconds(TimeoutMs), isFree)) return false;
    FOwner = me;
    FCount = 1;
    return true;
}

void TMonitor::Exit()
{
    std::unique_lock lock(FMutex);
    if (!OwnedByCaller()) throw EMonitorLockException();
    if (--FCount == 0) {
        FOwner = std::thread::id();
        lock.unlock();
        FFree.notify_all();
    }
}

bool TMonitor::Wait(int64_t TimeoutMs)
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(FMutex);
    if (!OwnedByCaller()) throw EMonitorLockException();
    const int depth = FCount;
    FCount = 0;
    FOwner = std::thread::id();
    FFree.notify_all();

    TWaiter waiter;
    FWaiters.push_back(&waiter);
    auto signaled = [&waiter] { return waiter.Signaled; };
    if (TimeoutMs < 0) FPulsed.wait(lock, signaled);
    else FPulsed.wait_for(lock, std::chrono::milliseconds(TimeoutMs), signaled);
    if (!waiter.Signaled) FWaiters.erase(std::find(FWaiters.begin(), FWaiters.end(), &waiter));

    FFree.wait(lock, [this] { return FCount == 0; });
    FOwner = me;
    FCount = depth;
    return waiter.Signaled;
}

void TMonitor::Pulse()
{
    std::lock_guard lock(FMutex);
    if (!OwnedByCaller()) throw EMonitorLockException();
    if (FWaiters.empty()) return;
    FWaiters.front()->Signaled = true;
    FWaiters.pop_front();
    FPulsed.notify_all();
}

void TMonitor::PulseAll()
{
    std::lock_guard lock(FMutex);
    if (!OwnedByCaller()) throw EMonitorLockException();
    for (TWaiter* w : FWaiters) w->Signaled = true;
    FWaiters.clear();
    FPulsed.notify_all();
}

// ---------------------------------------------------------------- TThread

TThread::~TThread()
{
    Shutdown();
}

void TThread::BeforeDestruction()
{
    Shutdown();
}

void TThread::Shutdown() noexcept
{
    if (!FStarted || FJoined) return;
    try {
        Terminate();
    } catch (...) {
        FTerminated = true; // a failing TerminatedSet() still ends the loop
    }
    if (std::this_thread::get_id() == FThreadID) {
        // Destroyed from its own body: nobody can wait for it any more.
        FThread.detach();
        FJoined = true;
        return;
    }
    // WaitFor raises only what queued work raised while it served the queue;
    // keep waiting until the thread has ended.
    while (!FJoined) Guarded(this, "WaitFor()", [this] { WaitFor(); });
}

void TThread::Start()
{
    if (FStarted) throw EThread("Cannot call Start on a running or terminated thread");
    try {
        FThread = std::thread(&TThread::Run, this);
    } catch (const std::system_error& e) {
        throw EThread(Format("Thread creation error: %s", e.what()));
    }
    FThreadID = FThread.get_id();
    FStarted = true;
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    auto& q = SyncQueue();
    {
        std::lock_guard lock(q.Mutex);
        FFinished = true;
    }
    q.Changed.notify_all();
}

void TThread::Terminate()
{
    {
        std::lock_guard lock(FLock);
        FTerminated = true;
    }
    FWake.notify_all();
    TerminatedSet();
}

int TThread::WaitFor()
{
    if (!FStarted) return ReturnValue();
    if (std::this_thread::get_id() == FThreadID) throw EThread("A thread cannot wait for itself");
    if (!FJoined) {
        auto& q = SyncQueue();
        if (CurrentThreadIsMain()) {
            // Serve the queue while waiting, so the thread can Synchronize.
            for (;;) {
                CheckSynchronize(0);
                std::unique_lock lock(q.Mutex);
                q.Changed.wait(lock, [&] { return FFinished.load() || !q.Entries.empty(); });
                if (FFinished && q.Entries.empty()) break;
            }
        } else {
            std::unique_lock lock(q.Mutex);
            q.Changed.wait(lock, [&] { return FFinished.load(); });
        }
        FThread.join();
        FJoined = true;
    }
    return ReturnValue();
}

bool TThread::Suspended() const
{
    return !FStarted || FSuspended;
}

void TThread::SetSuspended(bool Value)
{
    if (!FStarted) {
        if (!Value) Start();
        return;
    }
    {
        std::lock_guard lock(FLock);
        FSuspended = Value;
    }
    FWake.notify_all();
}

std::exception_ptr TThread::FatalException() const
{
    return FFinished ? FFatalException : nullptr;
}

bool TThread::SleepFor(int64_t Milliseconds)
{
    std::unique_lock lock(FLock);
    if (FSuspended && !FTerminated) {
        FWake.wait(lock, [this] { return FTerminated || !FSuspended; });
        return !FTerminated;
    }
    if (FTerminated) return false;
    GetDefaultClock()->WaitFor(lock, FWake, Milliseconds, [this] { return FTerminated || FSuspended; });
    return !FTerminated;
}

void TThread::Synchronize(const TThreadProcedure& Proc)
{
    if (!Proc) return;
    if (CurrentThreadIsMain()) {
        Proc();
        return;
    }
    auto entry = std::make_shared<TSyncEntry>();
    entry->Proc = Proc;
    entry->Synchronous = true;
    Post(entry);
    auto& q = SyncQueue();
    std::exception_ptr error;
    {
        std::unique_lock lock(q.Mutex);
        q.Changed.wait(lock, [&] { return entry->Done; });
        // Take the exception over, so that it is owned by this thread alone.
        error = std::move(entry->Error);
    }
    if (error) std::rethrow_exception(error);
}

void TThread::Queue(TThreadProcedure Proc)
{
    if (!Proc) return;
    if (CurrentThreadIsMain()) {
        Proc();
        return;
    }
    auto entry = std::make_shared<TSyncEntry>();
    entry->Proc = std::move(Proc);
    Post(entry);
}

bool TThread::CurrentThreadIsMain()
{
    return std::this_thread::get_id() == MainThread().load();
}

void TThread::SetMainThread()
{
    MainThread() = std::this_thread::get_id();
}

std::thread::id TThread::MainThreadID()
{
    return MainThread().load();
}

void TThread::Sleep(int64_t Milliseconds)
{
    GetDefaultClock()->Sleep(Milliseconds);
}

bool CheckSynchronize(int64_t TimeoutMs)
{
    if (!TThread::CurrentThreadIsMain())
        throw EThread("CheckSynchronize called from a thread that is not the main thread");
    auto& q = SyncQueue();
    std::deque<std::shared_ptr<TSyncEntry>> batch;
    {
        std::unique_lock lock(q.Mutex);
        if (q.Entries.empty() && TimeoutMs != 0) {
            auto posted = [&] { return !q.Entries.empty(); };
            if (TimeoutMs < 0) q.Changed.wait(lock, posted);
            else q.Changed.wait_for(lock, std::chrono::milliseconds(TimeoutMs), posted);
        }
        batch.swap(q.Entries);
    }
    if (batch.empty()) return false;
    while (!batch.empty()) {
        std::shared_ptr<TSyncEntry> entry = std::move(batch.front());
        batch.pop_front();
        if (entry->Synchronous) {
            try {
                entry->Proc();
            } catch (...) {
                entry->Error = std::current_exception();
            }
            {
                std::lock_guard lock(q.Mutex);
                entry->Done = true;
            }
            q.Changed.notify_all();
            continue;
        }
        try {
            entry->Proc();
        } catch (...) {
            // What was not run yet goes back in front of anything posted since.
            {
                std::lock_guard lock(q.Mutex);
                q.Entries.insert(q.Entries.begin(), batch.begin(), batch.end());
            }
            throw;
        }
    }
    return true;
}

void SetWakeMainThreadHook(void (*AHook)()) { GWakeMainThread.store(AHook); }

bool HasPendingSynchronize()
{
    auto& q = SyncQueue();
    std::lock_guard lock(q.Mutex);
    return !q.Entries.empty();
}

} // namespace korvane
