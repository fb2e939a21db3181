#include "FormsTestSupport.h"

namespace korvane::test {

TClass TTestEntry::StaticClass()
{
    static const TClassInfo<TTestEntry> info("FormsTest", [](auto& c) {
        c.Property("Label", &TTestEntry::Label, &TTestEntry::Label, TValue::From(std::string()));
        c.Property("Weight", &TTestEntry::Weight, &TTestEntry::Weight, TValue::From(0.0));
    });
    return &info;
}

TTestArea::TTestArea(TComponent* AOwner)
    : TControl(AOwner), FEntries(MakeOwned<TCollection>(TTestEntry::StaticClass())), FData(MakeOwned<TBitmap>())
{
}

TClass TTestArea::StaticClass()
{
    static const TClassInfo<TTestArea> info("FormsTest", [](auto& c) {
        c.Property("Buddy", [](const TTestArea& a) { return a.Buddy; },
                   [](TTestArea& a, TComponent* v) {
                       a.Buddy = v;
                       if (v) a.FreeNotification(v);
                   });
        c.Property("Kinds", &TTestArea::Kinds, &TTestArea::Kinds);
        c.Property("Ratio", &TTestArea::Ratio, &TTestArea::Ratio, TValue::From(0.0));
        c.Property("Count", &TTestArea::Count, &TTestArea::Count, TValue::From(0));
        c.Property("Big", &TTestArea::Big, &TTestArea::Big, TValue::From(int64_t(0)));
        c.Property("Tint", &TTestArea::Tint, &TTestArea::Tint, TValue::From(TAlphaColor(0)));
        c.Property("Mode", &TTestArea::Mode, &TTestArea::Mode, TValue::From(TAlignLayout::None));
        c.Property("Note", &TTestArea::Note, &TTestArea::Note, TValue::From(std::string()));
        c.Property("Entries", &TTestArea::Entries);
        c.Property("Data", &TTestArea::Data);
    });
    return &info;
}

void TTestArea::Loaded()
{
    TControl::Loaded();
    ++LoadedCalls;
}

void TTestArea::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == Buddy) Buddy = nullptr;
}

TClass TTestPanelForm::StaticClass()
{
    static const TClassInfo<TTestPanelForm> info("FormsTest", [](auto& c) {
        c.Method("FormCreate", &TTestPanelForm::FormCreate);
        c.Method("ComboBoxChange", &TTestPanelForm::ComboBoxChange);
        c.Method("ButtonClick", &TTestPanelForm::ButtonClick);
        c.Method("TimerTick", &TTestPanelForm::TimerTick);
        c.Method("ImageMouseDown", &TTestPanelForm::ImageMouseDown);
        c.Method("ImageMouseMove", &TTestPanelForm::ImageMouseMove);
        c.Method("ImageMouseUp", &TTestPanelForm::ImageMouseUp);
    });
    return &info;
}

void RegisterFormsTestClasses()
{
    static const bool done = [] {
        ::RegisterFormsTestResources();
        RegisterClasses({TTestArea::StaticClass(), TTestEntry::StaticClass(), TTestPanelForm::StaticClass()});
        return true;
    }();
    (void)done;
}

} // namespace korvane::test
