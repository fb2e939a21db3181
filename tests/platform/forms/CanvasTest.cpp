// The software canvas of bitmaps: rounded fills, opacity, bitmaps and text.

#include <gtest/gtest.h>

#include "Platform.Bitmaps.h"
#include "Platform.Canvas.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {

struct Canvas : ::testing::Test {
    test::Owned<TBitmap> Bitmap{new TBitmap(200, 200)};
    void SetUp() override { Bitmap->Canvas()->Clear(0xFF000000); }
    uint32_t At(int X, int Y)
    {
        TBitmapData d;
        EXPECT_TRUE(Bitmap->Map(TMapAccess::Read, d));
        const uint32_t v = d.GetPixel(X, Y).Value;
        Bitmap->Unmap(d);
        return v;
    }
};

TEST_F(Canvas, ARoundedSquareCoversItsInsideAndSparesItsCorners)
{
    TCanvas* c = Bitmap->Canvas();
    ASSERT_TRUE(c->BeginScene());
    c->Fill.Color = 0xFFFF0000;
    c->FillRect(TRectF(92, 92, 108, 108), 4, 4, AllCorners, 1);
    c->EndScene();
    const struct {
        int X, Y;
        uint32_t Expected;
    } cases[] = {
        {100, 100, 0xFFFF0000}, {92, 100, 0xFFFF0000}, {107, 100, 0xFFFF0000}, {100, 92, 0xFFFF0000},
        {92, 92, 0xFF000000},   {107, 92, 0xFF000000}, {92, 107, 0xFF000000},  {107, 107, 0xFF000000},
        {91, 100, 0xFF000000},  {108, 100, 0xFF000000}, {109, 100, 0xFF000000}, {100, 108, 0xFF000000},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.X << ", " << k.Y);
        EXPECT_EQ(At(k.X, k.Y), k.Expected);
    }
    // The rounding is anti-aliased: next to a corner the colour is partly there.
    const uint32_t edge = At(93, 93);
    EXPECT_GT((edge >> 16) & 0xFF, 0u);
    EXPECT_LT((edge >> 16) & 0xFF, 255u);
}

TEST_F(Canvas, OpacityAndCornerSelectionBlend)
{
    TCanvas* c = Bitmap->Canvas();
    c->Fill.Color = 0xFFFFFFFF;
    c->FillRect(TRectF(0, 0, 10, 10), 0, 0, AllCorners, 0.5f);
    EXPECT_EQ(At(5, 5), 0xFF808080u);
    // Only the top-left corner rounded: the other three stay square.
    c->Fill.Color = 0xFF00FF00;
    c->FillRect(TRectF(20, 20, 40, 40), 8, 8, TCorners{TopLeft}, 1);
    EXPECT_EQ(At(20, 20), 0xFF000000u);
    EXPECT_EQ(At(39, 20), 0xFF00FF00u);
    EXPECT_EQ(At(20, 39), 0xFF00FF00u);
    EXPECT_EQ(At(39, 39), 0xFF00FF00u);
}

TEST_F(Canvas, TextDrawsOnlyInsideItsRectangle)
{
    TCanvas* c = Bitmap->Canvas();
    c->Fill.Color = 0xFFFFFFFF;
    c->Font.Size = 20;
    const TRectF box(10, 10, 60, 30);
    c->FillText(box, "Clipped text that is far too long", false, 1, TTextAlign::Leading, TTextAlign::Center);
    int inside = 0, outside = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool lit = At(x, y) != 0xFF000000u;
            const bool in = x >= 10 && x < 60 && y >= 10 && y < 30;
            (in ? inside : outside) += lit ? 1 : 0;
        }
    EXPECT_GT(inside, 40);
    EXPECT_EQ(outside, 0);
}

TEST_F(Canvas, BitmapsScaleIntoTheTargetRectangle)
{
    test::Owned<TBitmap> src(new TBitmap(2, 2));
    src->Canvas()->Clear(0xFF0000FF);
    src->Canvas()->Fill.Color = 0xFFFFFF00;
    src->Canvas()->FillRect(TRectF(1, 0, 2, 2), 0, 0, AllCorners, 1);
    Bitmap->Canvas()->DrawBitmap(*src, TRectF(0, 0, 2, 2), TRectF(100, 100, 120, 110), 1, true);
    EXPECT_EQ(At(100, 100), 0xFF0000FFu);
    EXPECT_EQ(At(119, 109), 0xFFFFFF00u);
    EXPECT_EQ(At(120, 100), 0xFF000000u);
    EXPECT_EQ(At(99, 105), 0xFF000000u);
}

} // namespace
