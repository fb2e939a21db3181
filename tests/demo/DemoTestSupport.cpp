#include "DemoTestSupport.h"

#include <algorithm>
#include <cmath>

#include "Platform.Controls.h"

namespace korvane::test {

uint32_t PixelAt(TBitmap& ABitmap, int AX, int AY)
{
    TBitmapData d;
    if (!ABitmap.Map(TMapAccess::Read, d)) return 0;
    const uint32_t value = d.GetPixel(AX, AY).Value;
    ABitmap.Unmap(d);
    return value;
}

int64_t CountOther(TBitmap& ABitmap, uint32_t AColor)
{
    TBitmapData d;
    if (!ABitmap.Map(TMapAccess::Read, d)) return -1;
    int64_t count = 0;
    for (int y = 0; y < ABitmap.Height(); ++y)
        for (int x = 0; x < ABitmap.Width(); ++x)
            if (d.GetPixel(x, y).Value != AColor) ++count;
    ABitmap.Unmap(d);
    return count;
}

bool SamePixels(TBitmap& A, TBitmap& B)
{
    return A.Width() == B.Width() && A.Height() == B.Height() && A.ToRGBA() == B.ToRGBA();
}

double HueOf(uint8_t R, uint8_t G, uint8_t B)
{
    const double r = R / 255.0, g = G / 255.0, b = B / 255.0;
    const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
    const double chroma = hi - lo;
    if (hi < 0.08 || chroma < 0.06 || chroma / hi < 0.15) return -1;
    double h;
    if (hi == r) h = std::fmod((g - b) / chroma, 6.0);
    else if (hi == g) h = (b - r) / chroma + 2;
    else h = (r - g) / chroma + 4;
    h *= 60;
    return h < 0 ? h + 360 : h;
}

// The terrain images: sand lies around 35 to 40 degrees, grass around 95 to
// 115 (see scripts/make-terrain-textures); lighting changes brightness, not hue.
bool IsSandHue(double AHue) { return AHue >= 20 && AHue <= 60; }
bool IsGrassHue(double AHue) { return AHue >= 75 && AHue <= 140; }

namespace {

void Tally(THueCount& ACount, uint8_t R, uint8_t G, uint8_t B)
{
    const double hue = HueOf(R, G, B);
    if (hue < 0) return;
    if (IsSandHue(hue)) ++ACount.Sand;
    else if (IsGrassHue(hue)) ++ACount.Grass;
    else ++ACount.Other;
}

} // namespace

THueCount CountHues(TBitmap& AFrame)
{
    THueCount count;
    const std::vector<uint8_t> rgba = AFrame.ToRGBA();
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) Tally(count, rgba[i], rgba[i + 1], rgba[i + 2]);
    return count;
}

THueCount CountChangedHues(TBitmap& ABefore, TBitmap& AAfter)
{
    THueCount count;
    const std::vector<uint8_t> before = ABefore.ToRGBA(), after = AAfter.ToRGBA();
    if (before.size() != after.size()) return count;
    for (size_t i = 0; i + 3 < after.size(); i += 4) {
        const int delta = std::abs(int(before[i]) - int(after[i])) + std::abs(int(before[i + 1]) - int(after[i + 1])) +
                          std::abs(int(before[i + 2]) - int(after[i + 2]));
        if (delta > 24) Tally(count, after[i], after[i + 1], after[i + 2]);
    }
    return count;
}

TPointF GrassCentroid(TBitmap& AFrame)
{
    const std::vector<uint8_t> rgba = AFrame.ToRGBA();
    double sx = 0, sy = 0;
    int64_t n = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
        if (!IsGrassHue(HueOf(rgba[i], rgba[i + 1], rgba[i + 2]))) continue;
        const size_t pixel = i / 4;
        sx += double(pixel % size_t(AFrame.Width()));
        sy += double(pixel / size_t(AFrame.Width()));
        ++n;
    }
    if (n == 0) return TPointF(-1, -1);
    return TPointF(float(sx / n), float(sy / n));
}

void DemoFormTest::SetUp()
{
    Application().SetHeadless(true);
    Application().Initialize();
    Application().Reset();
    Form = Application().CreateForm<TForm2>();
    ASSERT_NE(Form, nullptr);
}

void DemoFormTest::TearDown()
{
    Application().DestroyComponents();
    Application().Reset();
    while (CheckSynchronize(0)) {
    }
}

namespace {

TPointF FormPoint(TForm2* AForm, float AX, float AY)
{
    const TRectF r = AForm->PaintBox1->AbsoluteRect();
    return TPointF(r.Left + AX, r.Top + AY);
}

} // namespace

void DemoFormTest::Down(float AX, float AY)
{
    const TPointF p = FormPoint(Form, AX, AY);
    Form->MouseDownAt(TMouseButton::mbLeft, TShiftState{ssLeft}, p.X, p.Y);
}

void DemoFormTest::Move(float AX, float AY, bool ALeftHeld)
{
    const TPointF p = FormPoint(Form, AX, AY);
    Form->MouseMoveAt(ALeftHeld ? TShiftState{ssLeft} : TShiftState{}, p.X, p.Y);
}

void DemoFormTest::Up(float AX, float AY)
{
    const TPointF p = FormPoint(Form, AX, AY);
    Form->MouseUpAt(TMouseButton::mbLeft, TShiftState{}, p.X, p.Y);
}

void DemoFormTest::Dab(float AX, float AY)
{
    Down(AX, AY);
    Move(AX, AY);
    Up(AX, AY);
}

TBitmap& DemoFormTest::ControlTexture() const
{
    TBitmap* texture = Form->KorvaneSplatMapMaterialSource1->Texture();
    EXPECT_NE(texture, nullptr) << "the material has no Texture0";
    return *texture;
}

TBitmap& DemoFormTest::RenderFrame()
{
    TKorvaneViewport* vp = Form->KorvaneViewport1;
    if (RenderThroughLegacyRenderer && vp->RendererType() != TRendererType::LegacyRenderer) {
        vp->SetRendererType(TRendererType::LegacyRenderer);
        vp->ForceResize();
    }
    vp->FixedIntervalTick(vp);
    return *vp->FrameBitmap();
}

} // namespace korvane::test
