#include "Platform.Canvas.h"

#include <mutex>

#include "Platform.ClassRegistry.h"

namespace korvane {

namespace {
std::recursive_mutex& CanvasLock()
{
    static std::recursive_mutex lock;
    return lock;
}
} // namespace

KORVANE_IMPLEMENT_CLASS(TCanvas, "Platform.Canvas")

bool TCanvas::BeginScene()
{
    ++FBeginSceneCount;
    return true;
}

void TCanvas::EndScene()
{
    if (FBeginSceneCount > 0) --FBeginSceneCount;
}

void TCanvas::Lock() { CanvasLock().lock(); }
void TCanvas::Unlock() { CanvasLock().unlock(); }
bool TCanvas::TryLock() { return CanvasLock().try_lock(); }

} // namespace korvane
