#include "Platform.Canvas.h"

#include <mutex>

namespace korvane {

namespace {
std::recursive_mutex& CanvasLock()
{
    static std::recursive_mutex lock;
    return lock;
}
} // namespace

void TCanvas::Lock() { CanvasLock().lock(); }
void TCanvas::Unlock() { CanvasLock().unlock(); }
bool TCanvas::TryLock() { return CanvasLock().try_lock(); }

} // namespace korvane
