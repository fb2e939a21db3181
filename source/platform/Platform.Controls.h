#pragma once
// The 2D controls of the platform: a control tree with alignment layout,
// mouse input in control-local coordinates, painting through a painter
// interface, and the standard controls the framework and its programs use
// (panel, label, button, combo box, image), the form timer and the message
// manager.
//
// State, layout and events belong to these classes. Drawing goes through
// TControlPainter, so a window can paint with Dear ImGui and a test can record
// or rasterise the same calls.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "Platform.Bitmaps.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Tree.h"
#include "Platform.Math3D.h"

namespace korvane {

class TForm;
class TControl;

enum class TAlignLayout : uint8_t {
    None, Top, Left, Right, Bottom, MostTop, MostBottom, MostLeft, MostRight, Client, Contents, Center
};
KORVANE_ENUM_NAMES(TAlignLayout, "None", "Top", "Left", "Right", "Bottom", "MostTop", "MostBottom", "MostLeft",
                   "MostRight", "Client", "Contents", "Center");

enum class TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
KORVANE_ENUM_NAMES(TMouseButton, "mbLeft", "mbRight", "mbMiddle");

enum TShiftStateItem : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
KORVANE_ENUM_NAMES(TShiftStateItem, "ssShift", "ssAlt", "ssCtrl", "ssLeft", "ssRight", "ssMiddle", "ssDouble");
using TShiftState = TSet<TShiftStateItem>;

// Keys whose state a control may ask for outside a key event.
enum class TKeyboardKey : uint8_t { LeftAlt };
// Whether AKey is held down, as the window system last saw it with the mouse
// (false without a window system). The window system installs the query;
// tests may replace it.
extern std::function<bool(TKeyboardKey)> KeyIsDown;


using TNotifyEvent = TEvent<TObject*>;
using TMouseEvent = TEvent<TObject*, TMouseButton, TShiftState, float, float>;
using TMouseMoveEvent = TEvent<TObject*, TShiftState, float, float>;
// (Sender, Shift, WheelDelta, Handled): a handler that consumes the turn sets Handled.
using TMouseWheelEvent = TEvent<TObject*, TShiftState, int, bool&>;

// What a drag carries to the control it may be dropped on.
struct TDragObject {
    TObject* Source = nullptr;
    std::vector<std::string> Files;
    std::string Data;
};
// (Sender, Data, P in form coordinates, Accept): a handler that would take the
// drop sets Accept.
using TDragOverEvent = TEvent<TObject*, const TDragObject&, const TPointF&, bool&>;

// Four distances around a rectangle (margins, padding).
class TBounds : public TPersistent {
    KORVANE_CLASS(TBounds, TPersistent)

    TBounds() = default;
    float Left = 0, Top = 0, Right = 0, Bottom = 0;
    // Runs after a change made through the property setters.
    std::function<void()> OnChange;
    void SetLeft(float V) { Set(Left, V); }
    void SetTop(float V) { Set(Top, V); }
    void SetRight(float V) { Set(Right, V); }
    void SetBottom(float V) { Set(Bottom, V); }
    void Assign(const TPersistent* Source) override;
    bool operator==(const TBounds& O) const
    {
        return Left == O.Left && Top == O.Top && Right == O.Right && Bottom == O.Bottom;
    }

private:
    void Set(float& F, float V)
    {
        if (F == V) return;
        F = V;
        if (OnChange) OnChange();
    }
};

// What a control paints with. Coordinates are the form's client coordinates.
class TControlPainter {
public:
    virtual ~TControlPainter() = default;
    virtual void FillRect(const TRectF& R, TAlphaColor AColor, float ARadius = 0) = 0;
    virtual void FrameRect(const TRectF& R, TAlphaColor AColor, float AThickness = 1) = 0;
    virtual void DrawText(const TRectF& R, const std::string& AText, TAlphaColor AColor, TTextAlign AHorz,
                          TTextAlign AVert) = 0;
    // The bitmap scaled into R (nothing for an empty bitmap).
    virtual void DrawBitmap(const TRectF& R, const TBitmap& ABitmap, float AOpacity = 1) = 0;
    // Limits drawing to R until PopClip (clips nest).
    virtual void PushClip(const TRectF& R) = 0;
    virtual void PopClip() = 0;
};

// A 2D control. It sits in the same tree as the 3D objects, so a control
// that hosts a scene (a viewport) takes 3D objects as children; Controls are
// the children that are 2D controls, which the control lays out and paints.
class TControl : public TTreeObject {
    KORVANE_CLASS(TControl, TTreeObject)

    explicit TControl(TComponent* AOwner);

    // The parent when it is a 2D control, else nil.
    TControl* ParentControl() const { return dynamic_cast<TControl*>(Parent()); }
    // A 2D control nests in 2D controls only (EComponentError otherwise).
    void SetParentComponent(TComponent* AParent) override;
    int ControlsCount() const { return int(FControls.size()); }
    TControl* Controls(int Index) const { return FControls.at(size_t(Index)); }
    // The form the control is on (itself for a form), nil when none.
    TForm* Root() const;

    // Position within the parent's client area, and size.
    float X() const { return FX; }
    float Y() const { return FY; }
    float Width() const { return FWidth; }
    float Height() const { return FHeight; }
    void SetX(float V) { SetBounds(V, FY, FWidth, FHeight); }
    void SetY(float V) { SetBounds(FX, V, FWidth, FHeight); }
    void SetWidth(float V) { SetBounds(FX, FY, V, FHeight); }
    void SetHeight(float V) { SetBounds(FX, FY, FWidth, V); }
    virtual void SetBounds(float AX, float AY, float AWidth, float AHeight);
    TRectF LocalRect() const { return TRectF(0, 0, FWidth, FHeight); }
    // The control's rectangle in its form's client coordinates.
    TRectF AbsoluteRect() const;
    TPointF AbsoluteToLocal(const TPointF& P) const;

    TAlignLayout Align() const { return FAlign; }
    void SetAlign(TAlignLayout V);
    TBounds* Margins() const { return FMargins.get(); }
    TBounds* Padding() const { return FPadding.get(); }
    bool Visible() const { return FVisible; }
    void SetVisible(bool V);
    float Opacity() const { return FOpacity; }
    void SetOpacity(float V);
    bool HitTest() const { return FHitTest; }
    void SetHitTest(bool V) { FHitTest = V; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool V) { FEnabled = V; }

    // Places the aligned children in the client area (the local rectangle less padding).
    void Realign();
    // The topmost visible, hit-testable control under P (form coordinates) in
    // this control's subtree, this control included; nil when none.
    TControl* ObjectAtPoint(const TPointF& P);
    // The drop target under P (form coordinates) in this subtree: the topmost
    // visible control that passes its hit test and accepts the drag; nil when
    // none. A control hosting a scene may answer one of its 3D objects.
    virtual TTreeObject* FindTarget(const TPointF& P, const TDragObject& AData);
    // Whether the control takes the drag at P: asks OnDragOver.
    virtual bool DragOver(const TDragObject& AData, const TPointF& P);
    TDragOverEvent OnDragOver;

    // Mouse input in control-local coordinates.
    virtual void MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY);
    virtual void MouseMove(TShiftState AShift, float AX, float AY);
    virtual void MouseUp(TMouseButton AButton, TShiftState AShift, float AX, float AY);
    // A turn of the mouse wheel (in wheel units, 120 per notch); answers Handled.
    virtual void MouseWheel(TShiftState AShift, int AWheelDelta, bool& AHandled);
    virtual void Click();
    bool IsMouseOver() const { return FMouseOver; }

    // Paints the control, then its children (clipped to the control).
    void PaintTo(TControlPainter& APainter);
    // Marks the control for painting at the next paint of its form.
    void Invalidate();
    // Paints the form now.
    void Repaint();

    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TMouseWheelEvent OnMouseWheel;
    TNotifyEvent OnClick, OnResize;

    // Brackets a batch of changes; IsUpdating holds until the outermost EndUpdate.
    void BeginUpdate() { ++FUpdating; }
    void EndUpdate()
    {
        if (FUpdating > 0) --FUpdating;
    }
    bool IsUpdating() const { return FUpdating > 0; }
    std::function<void(TControl* Sender, TControlPainter& Painter, const TRectF& ARect)> OnPaint;

protected:
    // Whether the control itself answers a hit test, given its HitTest.
    virtual bool CheckHitTest(bool AHitTest) const { return AHitTest; }
    // Paints the control itself into ARect (form coordinates).
    virtual void Paint(TControlPainter& APainter, const TRectF& ARect);
    virtual void Resize();
    // Lays the children out once reading is over: a control whose size the
    // form sets never resizes afterwards, so nothing else would.
    void Loaded() override;
    // A 2D child joins the laid-out controls; the control lays out again.
    void DoAddObject(TTreeObject* AObject) override;
    void DoInsertObject(int Index, TTreeObject* AObject) override;
    void DoRemoveObject(TTreeObject* AObject) override;
    void ParentChanged(TTreeObject* AOldParent) override;

private:
    friend class TForm;
    void RealignIfParent();
    // FControls again from the children, in their order.
    void CollectControls();

    std::vector<TControl*> FControls;
    float FX = 0, FY = 0, FWidth = 100, FHeight = 100;
    TAlignLayout FAlign = TAlignLayout::None;
    TOwned<TBounds> FMargins, FPadding;
    bool FVisible = true, FHitTest = true, FEnabled = true, FMouseOver = false;
    float FOpacity = 1;
    int FUpdating = 0;
    // Realigning its children; being placed by its parent's realignment.
    bool FRealigning = false, FPlacing = false;
};

class TPanel : public TControl {
    KORVANE_CLASS(TPanel, TControl)
    explicit TPanel(TComponent* AOwner);
    TAlphaColor Color = 0xFF2B2B2B;

protected:
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;
};

class TLabel : public TControl {
    KORVANE_CLASS(TLabel, TControl)
    explicit TLabel(TComponent* AOwner);
    const std::string& Text() const { return FText; }
    void SetText(const std::string& V);
    TAlphaColor FontColor = 0xFFFFFFFF;
    TTextAlign TextAlign = TTextAlign::Leading;

protected:
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;

private:
    std::string FText;
};

class TButton : public TControl {
    KORVANE_CLASS(TButton, TControl)
    explicit TButton(TComponent* AOwner);
    const std::string& Text() const { return FText; }
    void SetText(const std::string& V);
    bool IsPressed() const { return FPressed; }
    void MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY) override;
    void MouseUp(TMouseButton AButton, TShiftState AShift, float AX, float AY) override;

protected:
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;

private:
    std::string FText;
    bool FPressed = false;
};

// A drop-down list: a click opens the list below the box, a click on an item
// chooses it (ItemIndex, OnChange), a click elsewhere closes it.
class TComboBox : public TControl {
    KORVANE_CLASS(TComboBox, TControl)
    explicit TComboBox(TComponent* AOwner);
    const std::vector<std::string>& Items() const { return FItems; }
    void SetItems(const std::vector<std::string>& V);
    int ItemIndex() const { return FItemIndex; }
    // -1 or an index of Items; other values raise EArgumentOutOfRange. A change fires OnChange.
    void SetItemIndex(int V);
    std::string Selected() const;
    bool DroppedDown() const { return FDroppedDown; }
    void SetDroppedDown(bool V);
    // The rectangle of item I in the open list, in form coordinates.
    TRectF ItemRect(int I) const;
    // True when the list is open and P (form coordinates) lies on it.
    bool ListContains(const TPointF& P) const;
    static constexpr float ItemHeight = 24;
    TNotifyEvent OnChange;

    void MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY) override;
    // A click while the list is open (form coordinates): chooses the item under
    // P or closes the list; answers whether the click was the list's.
    bool ListClick(const TPointF& P);
    // Paints the open list above everything else.
    void PaintList(TControlPainter& APainter);

protected:
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;

private:
    std::vector<std::string> FItems;
    int FItemIndex = -1;
    bool FDroppedDown = false;
};

// Shows a bitmap scaled to fit the control (keeping its proportions).
class TImage : public TControl {
    KORVANE_CLASS(TImage, TControl)
    explicit TImage(TComponent* AOwner);
    TBitmap* Bitmap() const { return FBitmap.get(); }
    // Copies (shares) the image of ABitmap.
    void SetBitmap(TBitmap* ABitmap);

protected:
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;

private:
    TOwned<TBitmap> FBitmap;
};

// A timer the application loop fires from the default clock.
class TTimer : public TComponent {
    KORVANE_CLASS(TTimer, TComponent)
    explicit TTimer(TComponent* AOwner);
    int Interval() const { return FInterval; }
    void SetInterval(int V);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool V);
    TNotifyEvent OnTimer;
    // The clock time (ms) of the next firing.
    int64_t DueMilliseconds() const { return FDue; }
    // Fires for every interval that has passed by ANowMs (the application loop calls it).
    void Fire(int64_t ANowMs);

protected:
    void BeforeDestruction() override;
    void Loaded() override;

private:
    void Restart();
    int FInterval = 1000;
    bool FEnabled = true;
    int64_t FDue = 0;
};

// Messages: subscribers are called with every message of their type.
class TMessageBase {
public:
    virtual ~TMessageBase() = default;
};
class TContextResetMessage : public TMessageBase {};
class TScaleChangedMessage : public TMessageBase {
public:
    explicit TScaleChangedMessage(float AScale = 1) : Scale(AScale) {}
    float Scale;
};

class TMessageManager {
public:
    using TListener = std::function<void(TObject* Sender, const TMessageBase& Message)>;
    static TMessageManager& DefaultManager();
    template <class M>
    int SubscribeToMessage(TListener AListener)
    {
        return Subscribe(typeid(M), std::move(AListener));
    }
    void Unsubscribe(int AId);
    // Calls every subscriber of the message's type, in subscription order.
    void SendMessage(TObject* Sender, const TMessageBase& Message);

private:
    int Subscribe(std::type_index AType, TListener AListener);
    struct TEntry {
        int Id;
        std::type_index Type;
        TListener Listener;
    };
    std::vector<TEntry> FEntries;
    int FNextId = 1;
};

} // namespace korvane
