#pragma once
// The canvas layer of the platform. For now only the program-wide canvas lock:
// it serialises scene rendering with canvas drawing. The lock is recursive, so
// the thread that holds it may take it again (nested scenes).

namespace korvane {

class TCanvas {
public:
    static void Lock();
    static void Unlock();
    // Takes the lock when it is free; answers whether it did.
    static bool TryLock();
};

} // namespace korvane
