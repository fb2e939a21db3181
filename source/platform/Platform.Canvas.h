#pragma once
// The canvas layer of the platform: what draws on a bitmap, and the
// program-wide canvas lock, which serialises scene rendering with canvas
// drawing. The lock is recursive, so the thread that holds it may take it again
// (nested scenes).

#include "Platform.Classes.h"

namespace korvane {

class TBitmap;

class TCanvas : public TObject {
    KORVANE_CLASS(TCanvas, TObject)

    explicit TCanvas(TBitmap* ABitmap) : FBitmap(ABitmap) {}
    TBitmap* Bitmap() const { return FBitmap; }

    // A scene is open between BeginScene and EndScene; while one is open the
    // bitmap keeps its resources.
    bool BeginScene();
    void EndScene();
    int BeginSceneCount() const { return FBeginSceneCount; }

    // The program-wide canvas lock.
    static void Lock();
    static void Unlock();
    // Takes the lock when it is free; answers whether it did.
    static bool TryLock();

private:
    TBitmap* FBitmap;
    int FBeginSceneCount = 0;
};

} // namespace korvane
