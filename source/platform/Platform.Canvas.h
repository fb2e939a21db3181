#pragma once
// The canvas layer of the platform: what draws on a bitmap, and the
// program-wide canvas lock, which serialises scene rendering with canvas
// drawing. The lock is recursive, so the thread that holds it may take it again
// (nested scenes).
//
// Drawing is a small software rasteriser over the bitmap's 32-bit BGRA pixels:
// deterministic, so tests can check pixels. Colours blend "source over" with
// straight (not premultiplied) alpha; shapes are anti-aliased by 4 x 4
// samples per pixel, so a pixel the shape does not touch keeps its value.

#include <string>

#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.Rtti.h"

namespace korvane {

class TBitmap;

enum class TTextAlign : uint8_t { Center, Leading, Trailing };
KORVANE_ENUM_NAMES(TTextAlign, "Center", "Leading", "Trailing");

enum TCorner : uint8_t { TopLeft, TopRight, BottomLeft, BottomRight };
using TCorners = TSet<TCorner>;
inline const TCorners AllCorners{TopLeft, TopRight, BottomLeft, BottomRight};
enum class TCornerType : uint8_t { Round, Bevel };

struct TBrush {
    TAlphaColor Color = 0xFFFFFFFF;
};
struct TCanvasFont {
    float Size = 12;
};

class TCanvas : public TObject {
    KORVANE_CLASS(TCanvas, TObject)

    explicit TCanvas(TBitmap* ABitmap) : FBitmap(ABitmap) {}
    TBitmap* Bitmap() const { return FBitmap; }

    // A scene is open between BeginScene and EndScene; while one is open the
    // bitmap keeps its resources. The bitmap tells its change at the end of the
    // outermost scene (or after each drawing call made outside a scene).
    bool BeginScene();
    void EndScene();
    int BeginSceneCount() const { return FBeginSceneCount; }

    TBrush Fill;
    TCanvasFont Font;

    // Every pixel becomes AColor (no blending).
    void Clear(TAlphaColor AColor);
    // Fills ARect with Fill.Color; the corners in ACorners are rounded (or
    // bevelled) with the radii; AOpacity scales the colour's alpha.
    void FillRect(const TRectF& ARect, float AXRadius, float AYRadius, const TCorners& ACorners, float AOpacity,
                  TCornerType ACornerType = TCornerType::Round);
    // ASrcRect of ABitmap scaled into ADstRect (nearest sample with
    // AHighSpeed, else bilinear).
    void DrawBitmap(const TBitmap& ABitmap, const TRectF& ASrcRect, const TRectF& ADstRect, float AOpacity,
                    bool AHighSpeed = false);
    // Text in Fill.Color and Font.Size, clipped to ARect, aligned in it; with
    // AWordWrap lines break at blanks to fit the width.
    void FillText(const TRectF& ARect, const std::string& AText, bool AWordWrap, float AOpacity,
                  TTextAlign AHAlign = TTextAlign::Leading, TTextAlign AVAlign = TTextAlign::Center);

    // The program-wide canvas lock.
    static void Lock();
    static void Unlock();
    // Takes the lock when it is free; answers whether it did.
    static bool TryLock();

private:
    struct TTarget;
    template <class F>
    void Draw(F&& AWork);

    TBitmap* FBitmap;
    int FBeginSceneCount = 0;
    bool FChanged = false;
};

} // namespace korvane
