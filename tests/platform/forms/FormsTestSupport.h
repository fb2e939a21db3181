#pragma once
// A form class with published handlers and a control with a property of every
// kind a form resource can set, for the form tests.

#include <string>
#include <vector>

#include "Platform.Forms.h"
#include "Platform.FormResources.h"

// Registers the embedded test files (the build generates it).
void RegisterFormsTestResources();

namespace korvane::test {

// Registers the test classes (and the embedded files) once.
void RegisterFormsTestClasses();

class TTestEntry : public TCollectionItem {
    KORVANE_CLASS(TTestEntry, TCollectionItem)
    explicit TTestEntry(TCollection* C) : TCollectionItem(C) {}
    std::string Label;
    double Weight = 0;
};

class TTestArea : public TControl {
    KORVANE_CLASS(TTestArea, TControl)
    explicit TTestArea(TComponent* AOwner);
    TComponent* Buddy = nullptr;
    TShiftState Kinds;
    double Ratio = 0;
    int32_t Count = 0;
    int64_t Big = 0;
    TAlphaColor Tint = 0;
    TAlignLayout Mode = TAlignLayout::None;
    std::string Note;
    TCollection* Entries() const { return FEntries.get(); }
    TBitmap* Data() const { return FData.get(); }
    int LoadedCalls = 0;

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TOwned<TCollection> FEntries;
    TOwned<TBitmap> FData;
};

struct TMouseRecord {
    std::string Kind; // "down", "move", "up"
    TShiftState Shift;
    float X, Y;
};

class TTestPanelForm : public TForm {
    KORVANE_CLASS(TTestPanelForm, TForm)
    explicit TTestPanelForm(TComponent* AOwner) : TForm(AOwner) {}

    void FormCreate(TObject*) { ++Created; }
    void ComboBoxChange(TObject*) { ++Changes; }
    void ButtonClick(TObject*) { ++Clicks; }
    void TimerTick(TObject*) { ++Ticks; }
    void ImageMouseDown(TObject*, TMouseButton, TShiftState S, float X, float Y) { Mouse.push_back({"down", S, X, Y}); }
    void ImageMouseMove(TObject*, TShiftState S, float X, float Y) { Mouse.push_back({"move", S, X, Y}); }
    void ImageMouseUp(TObject*, TMouseButton, TShiftState S, float X, float Y) { Mouse.push_back({"up", S, X, Y}); }

    int Created = 0, Changes = 0, Clicks = 0, Ticks = 0;
    std::vector<TMouseRecord> Mouse;

    template <class T>
    T* Find(const char* AName) const
    {
        return dynamic_cast<T*>(FindComponent(AName));
    }
};

} // namespace korvane::test
