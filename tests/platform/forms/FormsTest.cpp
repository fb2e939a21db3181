// Forms read from resources, their layout, headless input, timers and freeing.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "FormsTestSupport.h"
#include "Platform.Controls3D.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

class Forms : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterFormsTestClasses();
        Application().SetHeadless(true);
        Application().Initialize();
        Application().Reset();
    }
    void TearDown() override
    {
        Application().DestroyComponents();
        Application().Reset();
    }
    TTestPanelForm* NewForm() { return Application().CreateForm<TTestPanelForm>(); }
};

TEST_F(Forms, AResourceWithEveryValueKindReadsIntoTheExpectedTree)
{
    auto* f = NewForm();
    EXPECT_EQ(f->Name(), "TestPanelForm");
    EXPECT_EQ(f->Caption(), "Panel \xE2\x80\x93 test");
    EXPECT_EQ(f->ClientWidth(), 1024);
    EXPECT_EQ(f->ClientHeight(), 640);
    EXPECT_EQ(f->Created, 1);

    auto* area = f->Find<TTestArea>("Area");
    ASSERT_NE(area, nullptr);
    // A reference to a component the resource names later.
    EXPECT_EQ(area->Buddy, f->FindComponent("Button1"));
    EXPECT_EQ(area->Kinds, (TShiftState{ssShift, ssLeft}));
    EXPECT_DOUBLE_EQ(area->Ratio, 1500.0);
    EXPECT_EQ(area->Count, -42);
    EXPECT_EQ(area->Big, 0x7FFFFFFFFFLL);
    EXPECT_EQ(area->Tint.Value, 0xFF112233u);
    EXPECT_EQ(area->Mode, TAlignLayout::Center);
    EXPECT_EQ(area->Note, "it's joined\r\nhere");
    ASSERT_EQ(area->Entries()->Count(), 2);
    auto* second = static_cast<TTestEntry*>(area->Entries()->Items(1));
    EXPECT_EQ(second->Label, "second");
    EXPECT_DOUBLE_EQ(second->Weight, 2.0);
    ASSERT_EQ(area->Data()->Width(), 1);
    TBitmapData d;
    ASSERT_TRUE(area->Data()->Map(TMapAccess::Read, d));
    EXPECT_EQ(d.GetPixel(0, 0).Value, 0xFF102030u);
    area->Data()->Unmap(d);
    EXPECT_EQ(area->LoadedCalls, 1);
    EXPECT_FALSE(area->ComponentState().Contains(csLoading));

    auto* combo = f->Find<TComboBox>("ComboBox1");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->Items().size(), 4u);
    EXPECT_EQ(combo->Selected(), "Texture #1 (Red)");
    // Setting the index while reading is not a user's change.
    EXPECT_EQ(f->Changes, 0);
    EXPECT_EQ(combo->OnChange.MethodName(), "ComboBoxChange");
    auto* image = f->Find<TImage>("Image1");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Bitmap()->Width(), 8);
    EXPECT_EQ(f->Find<TTimer>("Timer1")->Interval(), 33);
    EXPECT_EQ(f->Find<TLabel>("Label1")->ParentControl(), f->FindComponent("Panel1"));
}

TEST_F(Forms, WritingTheReadTreeAndReadingItAgainGivesTheSameTree)
{
    auto* first = NewForm();
    const std::string text = WriteComponentResource(first);
    // Defaults are left out, values in the resource's own notation come back.
    EXPECT_NE(text.find("    Kinds = [ssShift, ssLeft]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Items.Strings = ("), std::string::npos);
    EXPECT_EQ(text.find("Opacity"), std::string::npos);

    auto* second = new TTestPanelForm(nullptr);
    test::Owned<TTestPanelForm> owned(second);
    ReadComponentResource(second, text);
    EXPECT_EQ(WriteComponentResource(second), text);
    EXPECT_EQ(second->Find<TTestArea>("Area")->Buddy, second->FindComponent("Button1"));
}

TEST_F(Forms, ErrorsNameWhatIsWrongAndItsLine)
{
    struct Case {
        const char* Text;
        const char* Message;
    } cases[] = {
        {"object F: TTestPanelForm\n  object A: TNoSuchClass\n  end\nend\n", "Class TNoSuchClass not found (line 2)"},
        {"object F: TTestPanelForm\n\n  Colour = 1\nend\n", "Property Colour does not exist in TTestPanelForm (line 3)"},
        {"object F: TTestPanelForm\n  object P: TPanel\n    Align = Sideways\n  end\nend\n",
         "Error reading TPanel.Align: Invalid property value Sideways (line 3)"},
        {"object F: TTestPanelForm\n  OnCreate = NoSuchMethod\nend\n",
         "Method NoSuchMethod not found in TTestPanelForm (line 2)"},
        {"object F: TTestPanelForm\n  object B: TButton\n    OnClick = ImageMouseMove\n  end\nend\n",
         "Method ImageMouseMove does not match event OnClick (line 3)"},
        {"object F: TTestPanelForm\n  object A: TTestArea\n    Buddy = Nobody\n  end\nend\n",
         "Error reading TTestArea.Buddy: component Nobody not found (line 3)"},
        {"object F: TTestPanelForm\n  object A: TTestArea\n    Count = 'x'\n  end\nend\n",
         "Error reading TTestArea.Count: integer expected (line 3)"},
        {"object F: TTestPanelForm\n  object A: TTestArea\n", "object A not closed: \"end\" expected (line 3)"},
        {"object F: TTestPanelForm\n  Caption = 'open\nend\n", "unterminated string (line 2)"},
        {"object F: TForm\nend\n", "Form resource of class TForm cannot be read into a TTestPanelForm (line 1)"},
        {"object F: TTestPanelForm\n  object T: TTimer\n    object I: TImage\n    end\n  end\nend\n",
         "TImage cannot be nested in TTimer (line 3)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        test::Owned<TTestPanelForm> form(new TTestPanelForm(nullptr));
        EXPECT_EQ(MessageOf<EFormReadError>([&] { ReadComponentResource(form.get(), c.Text); }), c.Message);
        // A failed read leaves nothing half made behind.
        EXPECT_EQ(form->ComponentCount(), 0);
    }
}

TEST_F(Forms, NestingBeyondTheBoundIsRefused)
{
    std::string text;
    for (int i = 0; i < MaxFormNesting + 2; ++i) text += "object P" + std::to_string(i) + ": TPanel\n";
    for (int i = 0; i < MaxFormNesting + 2; ++i) text += "end\n";
    text = "object F: TTestPanelForm\n" + text + "end\n";
    test::Owned<TTestPanelForm> form(new TTestPanelForm(nullptr));
    EXPECT_NE(MessageOf<EFormReadError>([&] { ReadComponentResource(form.get(), text); }).find("nested too deeply"),
              std::string::npos);
}

TEST_F(Forms, TheDemoPanelLaysOutAsAligned)
{
    auto* f = NewForm();
    struct Case {
        const char* Name;
        TRectF Bounds;
    } cases[] = {
        {"Panel1", TRectF(0, 0, 320, 640)},
        {"ComboBox1", TRectF(0, 0, 320, 40)},
        {"Label1", TRectF(8, 56, 312, 73)},
        {"Image1", TRectF(0, 89, 320, 409)},
        {"Button1", TRectF(0, 608, 320, 640)},
        {"Area", TRectF(320, 0, 1024, 640)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto* control = f->Find<TControl>(c.Name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->AbsoluteRect(), c.Bounds);
    }
    // A new form size lays everything out again.
    f->SetClientHeight(500);
    EXPECT_EQ(f->Find<TControl>("Button1")->AbsoluteRect(), TRectF(0, 468, 320, 500));
    EXPECT_EQ(f->Find<TControl>("Area")->Height(), 500);
}

TEST_F(Forms, HeadlessMouseInputReachesControlsInTheirCoordinates)
{
    auto* f = NewForm();
    f->Show();
    // Image1 sits at (0, 89): form (100, 189) is image (100, 100).
    f->MouseMoveAt(TShiftState(), 100, 189);
    f->MouseDownAt(TMouseButton::mbLeft, TShiftState{ssLeft}, 100, 189);
    f->MouseMoveAt(TShiftState{ssLeft}, 110, 194);
    // Held, the image keeps the mouse even outside it.
    f->MouseMoveAt(TShiftState{ssLeft}, 400, 50);
    f->MouseUpAt(TMouseButton::mbLeft, TShiftState(), 400, 50);
    f->MouseMoveAt(TShiftState(), 400, 50);
    ASSERT_EQ(f->Mouse.size(), 5u);
    const TMouseRecord expected[] = {{"move", TShiftState(), 100, 100},       {"down", TShiftState{ssLeft}, 100, 100},
                                     {"move", TShiftState{ssLeft}, 110, 105}, {"move", TShiftState{ssLeft}, 400, -39},
                                     {"up", TShiftState(), 400, -39}};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f->Mouse[i].Kind, expected[i].Kind);
        EXPECT_EQ(f->Mouse[i].Shift, expected[i].Shift);
        EXPECT_FLOAT_EQ(f->Mouse[i].X, expected[i].X);
        EXPECT_FLOAT_EQ(f->Mouse[i].Y, expected[i].Y);
    }
    EXPECT_EQ(f->Captured(), nullptr);
}

TEST_F(Forms, ButtonsClickAndComboBoxesChoose)
{
    auto* f = NewForm();
    f->Show();
    f->ClickAt(160, 620);
    EXPECT_EQ(f->Clicks, 1);
    // Pressed on the button, released elsewhere: no click.
    f->MouseDownAt(TMouseButton::mbLeft, TShiftState{ssLeft}, 160, 620);
    f->MouseUpAt(TMouseButton::mbLeft, TShiftState(), 160, 500);
    EXPECT_EQ(f->Clicks, 1);

    auto* combo = f->Find<TComboBox>("ComboBox1");
    f->ClickAt(160, 20);
    ASSERT_TRUE(combo->DroppedDown());
    const TRectF third = combo->ItemRect(2);
    f->ClickAt(160, (third.Top + third.Bottom) / 2);
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_EQ(combo->ItemIndex(), 2);
    EXPECT_EQ(f->Changes, 1);
    // The open list covers the controls below it: that click chose, it did not reach them.
    EXPECT_TRUE(f->Mouse.empty());
    EXPECT_THROW(combo->SetItemIndex(4), EArgumentException);
}

TEST_F(Forms, TimersFireFromTheDefaultClock)
{
    TManualClock clock;
    TDefaultClockScope scope(&clock);
    auto* f = NewForm();
    auto* timer = f->Find<TTimer>("Timer1");
    timer->SetEnabled(false);
    timer->SetEnabled(true); // restarts from the fake clock's now
    clock.AdvanceMilliseconds(100);
    Application().ProcessMessages();
    EXPECT_EQ(f->Ticks, 3);
    clock.AdvanceMilliseconds(31);
    Application().ProcessMessages();
    EXPECT_EQ(f->Ticks, 3);
    clock.AdvanceMilliseconds(1);
    Application().ProcessMessages();
    EXPECT_EQ(f->Ticks, 4);
    timer->SetEnabled(false);
    clock.AdvanceMilliseconds(1000);
    Application().ProcessMessages();
    EXPECT_EQ(f->Ticks, 4);
}

TEST_F(Forms, FreeingAFormFreesEverythingItOwnsAndClearsReferences)
{
    auto* f = NewForm();
    auto* area = f->Find<TTestArea>("Area");
    f->FindComponent("Button1")->Free();
    EXPECT_EQ(area->Buddy, nullptr);
    EXPECT_EQ(f->Find<TControl>("Panel1")->ControlsCount(), 3);
    const int before = Application().ComponentCount();
    f->Free();
    EXPECT_EQ(Application().ComponentCount(), before - 1);
    EXPECT_EQ(Application().MainForm(), nullptr);
}

// 2D controls and 3D objects share one tree: a control takes 3D children
// (which it neither lays out nor paints), 3D objects nest in each other, and
// a 2D control never nests in a 3D object.
TEST_F(Forms, APanelWhoseSizeTheResourceSetsLaysOutItsChildren)
{
    // The panel never resizes after reading (its size is the one the form
    // gives it), so only the end of reading can lay out its children.
    test::Owned<TTestPanelForm> form(new TTestPanelForm(nullptr));
    ReadComponentResource(form.get(), "object F: TTestPanelForm\n"
                                      "  ClientWidth = 400\n"
                                      "  ClientHeight = 300\n"
                                      "  object Host: TPanel\n"
                                      "    Align = MostLeft\n"
                                      "    Width = 100\n"
                                      "    Height = 300\n"
                                      "    object Top1: TButton\n"
                                      "      Align = Top\n"
                                      "      Height = 20\n"
                                      "    end\n"
                                      "    object Bottom1: TButton\n"
                                      "      Align = Bottom\n"
                                      "      Height = 30\n"
                                      "    end\n"
                                      "  end\n"
                                      "end\n");
    EXPECT_EQ(form->Find<TControl>("Host")->AbsoluteRect(), TRectF(0, 0, 100, 300));
    EXPECT_EQ(form->Find<TControl>("Top1")->AbsoluteRect(), TRectF(0, 0, 100, 20));
    EXPECT_EQ(form->Find<TControl>("Bottom1")->AbsoluteRect(), TRectF(0, 270, 100, 300));
}

TEST_F(Forms, ThreeDObjectsNestUnderControlsInOneTree)
{
    test::Owned<TTestPanelForm> form(new TTestPanelForm(nullptr));
    ReadComponentResource(form.get(), "object F: TTestPanelForm\n"
                                      "  object Host: TPanel\n"
                                      "    object Rig: TDummy\n"
                                      "      object Inner: TDummy\n"
                                      "      end\n"
                                      "    end\n"
                                      "    object Side: TLabel\n"
                                      "    end\n"
                                      "  end\n"
                                      "end\n");
    auto* host = form->Find<TPanel>("Host");
    auto* rig = form->Find<TDummy>("Rig");
    auto* inner = form->Find<TDummy>("Inner");
    ASSERT_TRUE(host && rig && inner);
    EXPECT_EQ(rig->Parent(), host);
    EXPECT_EQ(inner->Parent(), rig);
    EXPECT_EQ(host->ChildrenCount(), 2);
    ASSERT_EQ(host->ControlsCount(), 1) << "only 2D children are laid out and painted";
    EXPECT_EQ(host->Controls(0), form->FindComponent("Side"));

    // Written back and read again, the nesting is kept.
    test::Owned<TTestPanelForm> again(new TTestPanelForm(nullptr));
    ReadComponentResource(again.get(), WriteComponentResource(form.get()));
    ASSERT_NE(again->Find<TDummy>("Inner"), nullptr);
    EXPECT_EQ(again->Find<TDummy>("Inner")->Parent(), again->FindComponent("Rig"));
    EXPECT_EQ(again->Find<TDummy>("Rig")->Parent(), again->FindComponent("Host"));

    test::Owned<TTestPanelForm> wrong(new TTestPanelForm(nullptr));
    EXPECT_EQ(MessageOf<EFormReadError>([&] {
                  ReadComponentResource(wrong.get(), "object F: TTestPanelForm\n  object D: TDummy\n"
                                                     "    object L: TLabel\n    end\n  end\nend\n");
              }),
              "TLabel cannot be nested in TDummy (line 3)");

    // Freeing the host frees its whole subtree, 3D objects included.
    host->Free();
    EXPECT_EQ(form->FindComponent("Rig"), nullptr);
    EXPECT_EQ(form->FindComponent("Inner"), nullptr);
}

TEST_F(Forms, CloseEndsTheLoopOfTheMainForm)
{
    auto* f = NewForm();
    bool closed = false;
    f->OnClose = [&](TObject*) { closed = true; };
    // Another thread asks the loop to close the form; the waiting loop wakes for it.
    std::thread worker;
    f->OnShow = [&](TObject*) { worker = std::thread([f] { TThread::Queue([f] { f->Close(); }); }); };
    Application().Run();
    worker.join();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(f->Showing());
}

TEST_F(Forms, AHeadlessFormPaintsItsControls)
{
    auto* f = NewForm();
    f->Show();
    test::Owned<TBitmap> shot(new TBitmap());
    f->PaintToBitmap(*shot);
    ASSERT_EQ(shot->Width(), 1024);
    ASSERT_EQ(shot->Height(), 640);
    TBitmapData d;
    ASSERT_TRUE(shot->Map(TMapAccess::Read, d));
    // The panel's colour beside the label, the checker image scaled up in
    // Image1 (red top-left quarter), the form's fill on the right.
    EXPECT_EQ(d.GetPixel(2, 80).Value, 0xFF2B2B2Bu);
    EXPECT_EQ(d.GetPixel(20, 110).Value, 0xFFFF0000u);
    EXPECT_EQ(d.GetPixel(300, 390).Value, 0xFFFF0000u);
    EXPECT_EQ(d.GetPixel(300, 110).Value, 0xFF0000FFu);
    EXPECT_EQ(d.GetPixel(900, 300).Value, 0xFF1E1E1Eu);
    // The label's text: some pixels of its line are lighter than the panel.
    int lighter = 0;
    for (int x = 8; x < 312; ++x)
        for (int y = 56; y < 73; ++y)
            if ((d.GetPixel(x, y).Value & 0xFF) > 0x80) ++lighter;
    EXPECT_GT(lighter, 50);
    shot->Unmap(d);
}

} // namespace
