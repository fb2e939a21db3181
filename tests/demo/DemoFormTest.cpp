// The demo's form: what its resource builds, painting the splat map with the
// mouse, when the painted image reaches the material, the camera rig's timer,
// and what the rendered plane shows.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "DemoTestSupport.h"
#include "TestHelpers.h"
#include "Korvane.Camera.h"
#include "Korvane.Light.h"
#include "Korvane.Plane.h"
#include "Platform.Controls.h"
#include "Platform.Controls3D.h"
#include "Platform.FormResources.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr uint32_t Black = 0xFF000000;
constexpr uint32_t Red = 0xFFFF0000;

// ---------------------------------------------------------------- the form resource

TEST_F(DemoFormTest, TheResourceBuildsTheSceneAndPanelItDescribes)
{
    EXPECT_EQ(Form->ClientWidth(), 1024);
    EXPECT_EQ(Form->ClientHeight(), 640);
    EXPECT_EQ(Form->Caption(), "Form2");

    TKorvaneViewport* vp = Form->KorvaneViewport1;
    EXPECT_EQ(vp->Width(), 704) << "the viewport fills what the panel leaves";
    EXPECT_EQ(vp->Height(), 640);
    EXPECT_EQ(vp->RendererType(), TRendererType::ForwardRenderer);
    EXPECT_TRUE(vp->UseFixedFrameRate());
    EXPECT_EQ(vp->FixedFrameRate(), 60);
    EXPECT_FLOAT_EQ(vp->NearPlane(), 0.1f);
    EXPECT_FLOAT_EQ(vp->FarPlane(), 10000);
    EXPECT_FLOAT_EQ(vp->TranslucentSaturation(), 1.5f);
    EXPECT_FLOAT_EQ(vp->GetShadowStrength(), 0.4f);
    EXPECT_EQ(vp->GetFXAA(), 1);
    EXPECT_EQ(vp->Camera(), Form->KorvaneCamera1);
    EXPECT_FALSE(vp->UsingDesignCamera());
    EXPECT_EQ(vp->Color().Value, Black);

    // The rig: the camera on the dummy, the light on the camera, the plane beside them.
    EXPECT_EQ(Form->KorvaneCamera1->Parent(), Form->Dummy1);
    EXPECT_EQ(Form->KorvaneLight1->Parent(), Form->KorvaneCamera1);
    EXPECT_EQ(Form->Dummy1->Parent(), vp);
    EXPECT_EQ(Form->KorvanePlane1->Parent(), vp);
    EXPECT_EQ(Form->KorvaneCamera1->Target(), Form->Dummy1);
    EXPECT_TRUE(NearPoint(Form->KorvaneCamera1->Position().Point(), TPoint3D(0, -25, -50)));
    EXPECT_FLOAT_EQ(Form->KorvanePlane1->RotationAngle().X(), 270);
    EXPECT_FLOAT_EQ(Form->KorvanePlane1->Width(), 50);
    EXPECT_FLOAT_EQ(Form->KorvanePlane1->Height(), 50);
    EXPECT_FALSE(Form->KorvanePlane1->HitTest());
    EXPECT_EQ(Form->KorvanePlane1->MaterialSource(), Form->KorvaneSplatMapMaterialSource1);

    TKorvaneSplatMapMaterialSource* source = Form->KorvaneSplatMapMaterialSource1;
    EXPECT_EQ(source->ShadingModel(), TKorvaneShadingModel::smBlinnPhong);
    EXPECT_FLOAT_EQ(source->Shininess(), 32);
    EXPECT_EQ(source->Specular().Value, 0xFFBFBFBFu);
    EXPECT_EQ(source->Ambient().Value, 0xFF808080u);
    EXPECT_EQ(source->ParallaxLevels(), 16);
    EXPECT_FLOAT_EQ(source->MetallicBias(), 0.25f);
    EXPECT_FLOAT_EQ(source->RoughnessBias(), 0.75f);
    EXPECT_TRUE(source->UseTexture0());
    EXPECT_FALSE(source->Shadows());

    // The pool: four terrain images compiled into the program, then the control texture.
    struct TEntry {
        const char* Name;
        float Tiling;
        int Side;
        bool IgnoreInArray;
    };
    const TEntry entries[] = {{"SplatTexture0", 4, 512, false},
                              {"SplatTexture1", 1, 256, false},
                              {"SplatTexture2", 4, 512, false},
                              {"SplatTexture3", 2, 512, false},
                              {"Texture0", 1, -1, true}};
    ASSERT_EQ(source->Bitmaps()->Count(), 5);
    for (int i = 0; i < 5; ++i) {
        const TEntry& e = entries[i];
        TKorvaneBitmapPoolEntry* entry = source->Bitmaps()->Items(i);
        EXPECT_EQ(entry->Name(), e.Name) << i;
        EXPECT_FLOAT_EQ(entry->TilingX(), e.Tiling) << e.Name;
        EXPECT_FLOAT_EQ(entry->TilingY(), e.Tiling) << e.Name;
        EXPECT_EQ(entry->IgnoreInArray(), e.IgnoreInArray) << e.Name;
        EXPECT_EQ(entry->WrapS(), TKorvaneTextureWrap::Clamp) << e.Name;
        EXPECT_EQ(entry->MinFilter(), TTextureFilter::Linear) << e.Name;
        if (e.Side > 0) {
            EXPECT_EQ(entry->Bitmap()->Width(), e.Side) << e.Name;
            EXPECT_EQ(entry->Bitmap()->Height(), e.Side) << e.Name;
        }
    }

    // The panel beside the viewport, top to bottom.
    struct TPlace {
        TControl* Control;
        TRectF Bounds;
    };
    const TPlace places[] = {{Form->Panel1, TRectF(0, 0, 320, 640)},
                             {Form->ComboBox1, TRectF(0, 0, 320, 40)},
                             {Form->PaintBox1, TRectF(0, Form->Label1->AbsoluteRect().Bottom + 16, 320,
                                                      Form->Label1->AbsoluteRect().Bottom + 16 + 320)},
                             {Form->Button1, TRectF(0, 608, 320, 640)},
                             {Form->KorvaneViewport1, TRectF(320, 0, 1024, 640)}};
    for (const TPlace& p : places) EXPECT_EQ(p.Control->AbsoluteRect(), p.Bounds) << p.Control->Name();
    EXPECT_EQ(Form->Label1->AbsoluteRect().Left, 8);
    EXPECT_EQ(Form->Label1->AbsoluteRect().Top, 56) << "below the combo box and the label's top margin";

    EXPECT_EQ(Form->Timer1->Interval(), 33);
    EXPECT_EQ(Form->Panel1->Width(), 320);
    EXPECT_EQ(Form->ComboBox1->ItemIndex(), 0);
    EXPECT_EQ(Form->ComboBox1->Items().size(), 4u);
    EXPECT_EQ(Form->Label1->Text(), "Draw your SplatMap here ...");
    EXPECT_EQ(Form->PaintBox1->Width(), 320);
    EXPECT_EQ(Form->PaintBox1->Height(), 320);
    EXPECT_EQ(Form->Button1->Text(), "Clear");
}

TEST(DemoResources, TheFormAndTheTerrainImagesAreCompiledIn)
{
    // Registered by the demo's start-up: nothing of the demo is read from disk.
    EXPECT_FALSE(FormResourceFor("TForm2").empty());
    for (const char* name : {"terrain0-grass.png", "terrain1-rock.png", "terrain2-ice.png", "terrain3-sand.png"})
        EXPECT_TRUE(HasResource(name)) << name;
}

// ---------------------------------------------------------------- painting

TEST_F(DemoFormTest, AfterShowTheImageAndTheControlTextureAreOpaqueBlack)
{
    Form->Show();
    ASSERT_EQ(Image().Width(), TForm2::SplatMapSize);
    ASSERT_EQ(Image().Height(), TForm2::SplatMapSize);
    EXPECT_EQ(CountOther(Image(), Black), 0);
    EXPECT_EQ(ControlTexture().Width(), TForm2::SplatMapSize);
    EXPECT_EQ(CountOther(ControlTexture(), Black), 0);
}

TEST_F(DemoFormTest, AStrokeAtAPointPaintsARoundedSquareAroundIt)
{
    Form->Show();
    Down(100, 100);
    Move(100, 100);
    EXPECT_EQ(PixelAt(Image(), 100, 100), Red);
    EXPECT_EQ(PixelAt(Image(), 93, 100), Red) << "the square's left edge";
    EXPECT_EQ(PixelAt(Image(), 109, 100), Black) << "one past the right edge";
    EXPECT_EQ(PixelAt(Image(), 92, 92), Black) << "the rounded corner";
    EXPECT_EQ(PixelAt(Image(), 100, 92), Red) << "the top edge away from the corner";
    Up(100, 100);
    EXPECT_TRUE(SamePixels(ControlTexture(), Image())) << "the release uploads";
    EXPECT_EQ(PixelAt(ControlTexture(), 100, 100), Red);
}

TEST_F(DemoFormTest, TheComboBoxPicksTheColourAndAnyOtherIndexPaintsBlack)
{
    Form->Show();
    struct TCase {
        int Index;
        uint32_t Color;
    };
    const TCase cases[] = {{0, 0xFFFF0000}, {1, 0xFF008000}, {2, 0xFF0000FF}, {3, Black}, {-1, Black}};
    float x = 20;
    for (const TCase& c : cases) {
        // Red first, so that black over it shows the stroke painted.
        Form->ComboBox1->SetItemIndex(0);
        Dab(x, 200);
        ASSERT_EQ(PixelAt(Image(), int(x), 200), Red);
        Form->ComboBox1->SetItemIndex(c.Index);
        Dab(x, 200);
        EXPECT_EQ(PixelAt(Image(), int(x), 200), c.Color) << "index " << c.Index;
        x += 40;
    }
}

TEST_F(DemoFormTest, WithoutAPressedStrokeMovesPaintNothing)
{
    Form->Show();
    Move(100, 100, true);
    Move(150, 150, false);
    EXPECT_EQ(CountOther(Image(), Black), 0) << "no press: no stroke";

    Down(100, 100);
    Move(100, 100, false);
    EXPECT_EQ(CountOther(Image(), Black), 0) << "left button not among the shift state";
    Up(100, 100);

    Move(60, 60, true);
    EXPECT_EQ(CountOther(Image(), Black), 0) << "the release ended the stroke";
}

TEST_F(DemoFormTest, PressingAndReleasingWithoutMovingUploadsOnceAndPaintsNothing)
{
    Form->Show();
    const int64_t before = Form->UploadCount();
    Down(100, 100);
    Up(100, 100);
    EXPECT_EQ(Form->UploadCount(), before + 1);
    EXPECT_EQ(CountOther(Image(), Black), 0);
    EXPECT_EQ(CountOther(ControlTexture(), Black), 0);
}

TEST_F(DemoFormTest, ClearMakesTheImageAndTheControlTextureBlack)
{
    Form->Show();
    for (float x = 40; x < 300; x += 10) Dab(x, x);
    ASSERT_GT(CountOther(ControlTexture(), Black), 0);
    const TRectF button = Form->Button1->AbsoluteRect();
    Form->ClickAt((button.Left + button.Right) / 2, (button.Top + button.Bottom) / 2);
    EXPECT_EQ(CountOther(Image(), Black), 0);
    EXPECT_EQ(CountOther(ControlTexture(), Black), 0);
    EXPECT_EQ(ControlTexture().Width(), TForm2::SplatMapSize);
}

// ---------------------------------------------------------------- uploads on the pressed time

TEST_F(DemoFormTest, AShortStrokeUploadsOnlyOnReleaseThenEveryMoveOnceHeldLongEnough)
{
    Form->Show();
    const int64_t start = Form->UploadCount();

    // First stroke: 240 ms pressed in all; no move uploads.
    Down(50, 50);
    for (int i = 0; i < 3; ++i) {
        Clock.AdvanceMilliseconds(80);
        Move(50 + 10 * i, 50);
    }
    EXPECT_EQ(Form->UploadCount(), start) << "moves within the first 250 ms of pressed time";
    EXPECT_EQ(CountOther(ControlTexture(), Black), 0) << "the material still has the black image";
    Up(70, 50);
    EXPECT_EQ(Form->UploadCount(), start + 1);
    EXPECT_TRUE(SamePixels(ControlTexture(), Image()));
    Clock.AdvanceMilliseconds(1000); // released time does not count

    // Second stroke: 240 + 10 = 250 ms is not more than 250; at 251 every move uploads.
    Down(100, 100);
    Clock.AdvanceMilliseconds(10);
    Move(100, 100);
    EXPECT_EQ(Form->UploadCount(), start + 1) << "exactly 250 ms";
    Clock.AdvanceMilliseconds(1);
    for (int i = 1; i <= 4; ++i) {
        Move(100 + 20 * i, 100);
        EXPECT_EQ(Form->UploadCount(), start + 1 + i) << "move " << i;
        EXPECT_TRUE(SamePixels(ControlTexture(), Image())) << "move " << i;
    }
    Up(180, 100);
    EXPECT_EQ(Form->UploadCount(), start + 6);
}

// ---------------------------------------------------------------- the camera rig's timer

TEST_F(DemoFormTest, EachTimerTickTurnsTheRigByOneDegree)
{
    Form->Show();
    const TPoint3D eye0 = Form->KorvaneCamera1->AbsolutePosition();
    const float y0 = Form->Dummy1->RotationAngle().Y();
    struct TStep {
        int AdvanceMs;
        float Degrees; // in all, since the start
    };
    const TStep steps[] = {{32, 0}, {1, 1}, {33, 2}, {10, 2}, {23, 3}, {33 * 10, 13}};
    for (const TStep& s : steps) {
        Clock.AdvanceMilliseconds(s.AdvanceMs);
        Application().ProcessMessages();
        EXPECT_FLOAT_EQ(Form->Dummy1->RotationAngle().Y() - y0, s.Degrees);
    }
    // The camera rides the rig: its eye has turned 13 degrees about the vertical
    // axis through the dummy, keeping its height and distance.
    const TPoint3D eye = Form->KorvaneCamera1->AbsolutePosition();
    const double turned = std::atan2(double(eye.X), double(-eye.Z)) - std::atan2(double(eye0.X), double(-eye0.Z));
    EXPECT_NEAR(std::fabs(turned) * 180 / M_PI, 13.0, 0.01);
    EXPECT_NEAR(eye.Y, eye0.Y, 1e-3);
    EXPECT_NEAR(std::hypot(eye.X, eye.Z), std::hypot(eye0.X, eye0.Z), 1e-3);
}

// ---------------------------------------------------------------- rendered frames

TEST_F(DemoFormTest, AfterShowThePlaneShowsOnlyTheFourthTerrain)
{
    Form->Show();
    TBitmap& frame = RenderFrame();
    ASSERT_EQ(frame.Width(), 704);
    const THueCount hues = CountHues(frame);
    EXPECT_GT(hues.Sand, 704 * 640 / 10) << "the plane covers a good part of the view";
    EXPECT_EQ(hues.Grass, 0);
    EXPECT_LT(hues.Other, hues.Lit() / 100) << "sand " << hues.Sand << " other " << hues.Other;
}

TEST_F(DemoFormTest, AnUploadedRedStrokeShowsTheFirstTerrainInTheNextFrame)
{
    Form->Show();
    TOwned<TBitmap> before = MakeOwned<TBitmap>();
    before->Assign(&RenderFrame());
    Down(100, 100);
    Move(100, 100);
    // Painted but not uploaded: the frame stays as it was.
    TOwned<TBitmap> painted = MakeOwned<TBitmap>();
    painted->Assign(&RenderFrame());
    EXPECT_EQ(CountChangedHues(*before, *painted).Lit(), 0);
    Up(100, 100);
    TBitmap& after = RenderFrame();
    const THueCount changed = CountChangedHues(*before, after);
    // Inside the square grass; only its blended rim may read as something between.
    EXPECT_GT(changed.Grass, 100) << "the red square shows grass";
    EXPECT_GT(changed.Grass, 3 * (changed.Sand + changed.Other)) << "sand " << changed.Sand << " other " << changed.Other;
    EXPECT_LT(changed.Lit(), 704 * 640 / 100) << "only the square changed";
}

TEST_F(DemoFormTest, TheTimerTurnsTheRenderedViewOfThePlane)
{
    Form->Show();
    // A red patch away from the centre shows grass; where it shows moves as the rig turns.
    for (float y = 30; y <= 60; y += 10)
        for (float x = 130; x <= 190; x += 10) Dab(x, y);
    const TPointF at0 = GrassCentroid(RenderFrame());
    ASSERT_GE(at0.X, 0) << "the patch is in view";
    Clock.AdvanceMilliseconds(33 * 30);
    Application().ProcessMessages();
    ASSERT_FLOAT_EQ(Form->Dummy1->RotationAngle().Y(), 30);
    const TPointF at = GrassCentroid(RenderFrame());
    ASSERT_GE(at.X, 0);
    EXPECT_GT(std::hypot(at.X - at0.X, at.Y - at0.Y), 20) << "from (" << at0.X << ", " << at0.Y << ") to (" << at.X
                                                            << ", " << at.Y << ")";
}

} // namespace
