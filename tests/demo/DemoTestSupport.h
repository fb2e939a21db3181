#pragma once
// The demo's form, created headless from its resource on a manual clock, with
// synthetic input in the paint image's own coordinates and helpers that read
// pixels and hues of bitmaps and rendered frames.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Korvane.Material.SplatMap.h"
#include "Korvane.Viewport.h"
#include "Platform.Bitmaps.h"
#include "Platform.Forms.h"
#include "Platform.Threads.h"
#include "Unit1.h"

namespace korvane::test {

// The colour at (AX, AY) of a bitmap, as $AARRGGBB.
uint32_t PixelAt(TBitmap& ABitmap, int AX, int AY);
// The number of pixels that are not AColor; -1 for an empty bitmap.
int64_t CountOther(TBitmap& ABitmap, uint32_t AColor);
// Whether the two images are the same size with the same pixels.
bool SamePixels(TBitmap& A, TBitmap& B);

// Hue in degrees 0..360 of an RGB colour; -1 when it is too grey or too dark
// to have a hue worth comparing.
double HueOf(uint8_t R, uint8_t G, uint8_t B);

// What a region of a rendered frame holds, by hue band.
struct THueCount {
    int64_t Sand = 0;  // the fourth terrain (warm yellow-brown)
    int64_t Grass = 0; // the first terrain (green)
    int64_t Other = 0; // lit pixels of any other hue
    int64_t Lit() const { return Sand + Grass + Other; }
};
bool IsSandHue(double AHue);
bool IsGrassHue(double AHue);
THueCount CountHues(TBitmap& AFrame);
// Per-pixel hue counts of the pixels whose colour differs between two frames of equal size.
THueCount CountChangedHues(TBitmap& ABefore, TBitmap& AAfter);

// The mean position of the grass-hued pixels of a frame; (-1, -1) without any.
TPointF GrassCentroid(TBitmap& AFrame);

// The forward renderer does not draw a whole frame yet: until it does, the
// frames of these tests go through the legacy renderer.
inline constexpr bool RenderThroughLegacyRenderer = false;

class DemoFormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Mouse input on the paint image at image pixel (AX, AY), routed by the form.
    void Down(float AX, float AY);
    void Move(float AX, float AY, bool ALeftHeld = true);
    void Up(float AX, float AY);
    // A press, one move and a release at one point.
    void Dab(float AX, float AY);

    TBitmap& Image() const { return *Form->PaintBox1->Bitmap(); }
    // The control texture "Texture0" of the plane's material.
    TBitmap& ControlTexture() const;
    // One frame through the viewport's frame-timer tick; the frame bitmap after it.
    TBitmap& RenderFrame();

    TManualClock Clock;
    TDefaultClockScope ClockScope{&Clock};
    TForm2* Form = nullptr;
};

} // namespace korvane::test
