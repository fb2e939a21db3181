#include "Platform.Controls.h"

#include <algorithm>

#include "Platform.Forms.h"
#include "Platform.Threads.h"

namespace korvane {

std::function<bool(TKeyboardKey)> KeyIsDown = [](TKeyboardKey) { return false; };

// ---------------------------------------------------------------- TBounds

void TBounds::Assign(const TPersistent* Source)
{
    if (const auto* b = dynamic_cast<const TBounds*>(Source)) {
        Left = b->Left;
        Top = b->Top;
        Right = b->Right;
        Bottom = b->Bottom;
        if (OnChange) OnChange();
        return;
    }
    TPersistent::Assign(Source);
}

TClass TBounds::StaticClass()
{
    static const TClassInfo<TBounds> info("Platform.Controls", [](auto& c) {
        c.Property("Left", [](const TBounds& b) { return b.Left; }, &TBounds::SetLeft, TValue::From(0.0f));
        c.Property("Top", [](const TBounds& b) { return b.Top; }, &TBounds::SetTop, TValue::From(0.0f));
        c.Property("Right", [](const TBounds& b) { return b.Right; }, &TBounds::SetRight, TValue::From(0.0f));
        c.Property("Bottom", [](const TBounds& b) { return b.Bottom; }, &TBounds::SetBottom, TValue::From(0.0f));
    });
    return &info;
}

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* AOwner) : TTreeObject(AOwner), FMargins(MakeOwned<TBounds>()), FPadding(MakeOwned<TBounds>())
{
    FMargins->OnChange = [this] { RealignIfParent(); };
    FPadding->OnChange = [this] { Realign(); };
}

TClass TControl::StaticClass()
{
    static const TClassInfo<TControl> info("Platform.Controls", [](auto& c) {
        c.Property("Align", &TControl::Align, &TControl::SetAlign, TValue::From(TAlignLayout::None));
        c.Property("Position.X", &TControl::X, &TControl::SetX, TValue::From(0.0f));
        c.Property("Position.Y", &TControl::Y, &TControl::SetY, TValue::From(0.0f));
        c.Property("Width", &TControl::Width, &TControl::SetWidth);
        c.Property("Height", &TControl::Height, &TControl::SetHeight);
        c.Property("Margins", &TControl::Margins);
        c.Property("Padding", &TControl::Padding);
        c.Property("Visible", &TControl::Visible, &TControl::SetVisible, TValue::From(true));
        c.Property("Opacity", &TControl::Opacity, &TControl::SetOpacity, TValue::From(1.0f));
        c.Property("HitTest", &TControl::HitTest, &TControl::SetHitTest, TValue::From(true));
        c.Property("Enabled", &TControl::Enabled, &TControl::SetEnabled, TValue::From(true));
        c.Event("OnMouseDown", &TControl::OnMouseDown);
        c.Event("OnMouseMove", &TControl::OnMouseMove);
        c.Event("OnMouseUp", &TControl::OnMouseUp);
        c.Event("OnMouseWheel", &TControl::OnMouseWheel);
        c.Event("OnClick", &TControl::OnClick);
        c.Event("OnResize", &TControl::OnResize);
    });
    return &info;
}

TForm* TControl::Root() const
{
    const TControl* c = this;
    while (TControl* p = c->ParentControl()) c = p;
    return const_cast<TForm*>(dynamic_cast<const TForm*>(c));
}

void TControl::SetParentComponent(TComponent* AParent)
{
    if (AParent && !dynamic_cast<TControl*>(AParent))
        throw EComponentError(Format("%s cannot be nested in %s", ClassName(), AParent->ClassName()));
    TTreeObject::SetParentComponent(AParent);
}

void TControl::CollectControls()
{
    FControls.clear();
    for (TTreeObject* child : ChildList())
        if (auto* control = dynamic_cast<TControl*>(child)) FControls.push_back(control);
}

void TControl::DoAddObject(TTreeObject* AObject)
{
    TTreeObject::DoAddObject(AObject);
    if (auto* control = dynamic_cast<TControl*>(AObject)) {
        FControls.push_back(control);
        if (!Destroying()) Realign();
    }
}

void TControl::DoInsertObject(int Index, TTreeObject* AObject)
{
    TTreeObject::DoInsertObject(Index, AObject);
    if (dynamic_cast<TControl*>(AObject)) {
        CollectControls();
        if (!Destroying()) Realign();
    }
}

void TControl::DoRemoveObject(TTreeObject* AObject)
{
    TTreeObject::DoRemoveObject(AObject);
    if (auto* control = dynamic_cast<TControl*>(AObject)) {
        FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
        if (!Destroying()) {
            Realign();
            Invalidate();
        }
    }
}

void TControl::ParentChanged(TTreeObject* AOldParent)
{
    TTreeObject::ParentChanged(AOldParent);
    if (ParentControl()) Invalidate();
}

void TControl::SetBounds(float AX, float AY, float AWidth, float AHeight)
{
    AWidth = std::max(AWidth, 0.0f);
    AHeight = std::max(AHeight, 0.0f);
    const bool resized = AWidth != FWidth || AHeight != FHeight;
    const bool moved = AX != FX || AY != FY;
    if (!resized && !moved) return;
    FX = AX;
    FY = AY;
    FWidth = AWidth;
    FHeight = AHeight;
    if (resized) {
        Realign();
        Resize();
    }
    if (!FPlacing) RealignIfParent();
    Invalidate();
}

void TControl::Resize() { OnResize(this); }

void TControl::Loaded()
{
    TTreeObject::Loaded();
    Realign();
}

TRectF TControl::AbsoluteRect() const
{
    float x = 0, y = 0;
    for (const TControl* c = this; c && c->ParentControl(); c = c->ParentControl()) {
        x += c->FX;
        y += c->FY;
    }
    return TRectF(x, y, x + FWidth, y + FHeight);
}

TPointF TControl::AbsoluteToLocal(const TPointF& P) const
{
    const TRectF r = AbsoluteRect();
    return TPointF(P.X - r.Left, P.Y - r.Top);
}

void TControl::SetAlign(TAlignLayout V)
{
    if (FAlign == V) return;
    FAlign = V;
    RealignIfParent();
}

void TControl::SetVisible(bool V)
{
    if (FVisible == V) return;
    FVisible = V;
    RealignIfParent();
    Invalidate();
}

void TControl::SetOpacity(float V)
{
    FOpacity = std::clamp(V, 0.0f, 1.0f);
    Invalidate();
}

void TControl::RealignIfParent()
{
    if (TControl* parent = ParentControl()) parent->Realign();
}

// Aligned children take their place in the order of their alignment's rank,
// and among equal ranks in child order: the Most* alignments first (top,
// bottom, left, right), then top, bottom, left, right, then client, contents
// and centre, which share what is left (contents the whole client area).
void TControl::Realign()
{
    if (FRealigning || FControls.empty()) return;
    if (ComponentState().Contains(csLoading) || ComponentState().Contains(csDestroying)) return;
    FRealigning = true;
    const TRectF full(FPadding->Left, FPadding->Top, FWidth - FPadding->Right, FHeight - FPadding->Bottom);
    TRectF rest = full;
    static const TAlignLayout order[] = {TAlignLayout::MostTop, TAlignLayout::MostBottom, TAlignLayout::MostLeft,
                                         TAlignLayout::MostRight, TAlignLayout::Top,      TAlignLayout::Bottom,
                                         TAlignLayout::Left,      TAlignLayout::Right,    TAlignLayout::Client,
                                         TAlignLayout::Contents,  TAlignLayout::Center};
    for (TAlignLayout a : order) {
        for (TControl* c : FControls) {
            if (c->FAlign != a || !c->FVisible) continue;
            const TBounds& m = *c->FMargins;
            float x = c->FX, y = c->FY, w = c->FWidth, h = c->FHeight;
            switch (a) {
            case TAlignLayout::MostTop:
            case TAlignLayout::Top:
                x = rest.Left + m.Left;
                y = rest.Top + m.Top;
                w = rest.Width() - m.Left - m.Right;
                rest.Top = std::min(rest.Bottom, y + h + m.Bottom);
                break;
            case TAlignLayout::MostBottom:
            case TAlignLayout::Bottom:
                x = rest.Left + m.Left;
                y = rest.Bottom - m.Bottom - h;
                w = rest.Width() - m.Left - m.Right;
                rest.Bottom = std::max(rest.Top, y - m.Top);
                break;
            case TAlignLayout::MostLeft:
            case TAlignLayout::Left:
                x = rest.Left + m.Left;
                y = rest.Top + m.Top;
                h = rest.Height() - m.Top - m.Bottom;
                rest.Left = std::min(rest.Right, x + w + m.Right);
                break;
            case TAlignLayout::MostRight:
            case TAlignLayout::Right:
                x = rest.Right - m.Right - w;
                y = rest.Top + m.Top;
                h = rest.Height() - m.Top - m.Bottom;
                rest.Right = std::max(rest.Left, x - m.Left);
                break;
            case TAlignLayout::Client:
                x = rest.Left + m.Left;
                y = rest.Top + m.Top;
                w = rest.Width() - m.Left - m.Right;
                h = rest.Height() - m.Top - m.Bottom;
                break;
            case TAlignLayout::Contents:
                x = full.Left + m.Left;
                y = full.Top + m.Top;
                w = full.Width() - m.Left - m.Right;
                h = full.Height() - m.Top - m.Bottom;
                break;
            case TAlignLayout::Center:
                x = rest.Left + (rest.Width() - w) / 2;
                y = rest.Top + (rest.Height() - h) / 2;
                break;
            case TAlignLayout::None: break;
            }
            c->FPlacing = true;
            c->SetBounds(x, y, w, h);
            c->FPlacing = false;
        }
    }
    FRealigning = false;
}

TControl* TControl::ObjectAtPoint(const TPointF& P)
{
    if (!FVisible) return nullptr;
    if (!AbsoluteRect().Contains(P) && ParentControl()) return nullptr;
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it)
        if (TControl* hit = (*it)->ObjectAtPoint(P)) return hit;
    return CheckHitTest(FHitTest) ? this : nullptr;
}

TTreeObject* TControl::FindTarget(const TPointF& P, const TDragObject& AData)
{
    if (!FVisible) return nullptr;
    if (!AbsoluteRect().Contains(P) && ParentControl()) return nullptr;
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it)
        if (TTreeObject* target = (*it)->FindTarget(P, AData)) return target;
    return CheckHitTest(FHitTest) && DragOver(AData, P) ? this : nullptr;
}

bool TControl::DragOver(const TDragObject& AData, const TPointF& P)
{
    bool accept = false;
    OnDragOver(this, AData, P, accept);
    return accept;
}

void TControl::MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    OnMouseDown(this, AButton, AShift, AX, AY);
}

void TControl::MouseMove(TShiftState AShift, float AX, float AY) { OnMouseMove(this, AShift, AX, AY); }

void TControl::MouseUp(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    OnMouseUp(this, AButton, AShift, AX, AY);
}

void TControl::MouseWheel(TShiftState AShift, int AWheelDelta, bool& AHandled)
{
    OnMouseWheel(this, AShift, AWheelDelta, AHandled);
}

void TControl::Click() { OnClick(this); }

void TControl::Paint(TControlPainter&, const TRectF&) {}

void TControl::PaintTo(TControlPainter& APainter)
{
    if (!FVisible || FOpacity <= 0) return;
    const TRectF r = AbsoluteRect();
    APainter.PushClip(r);
    Paint(APainter, r);
    if (OnPaint) OnPaint(this, APainter, r);
    for (TControl* c : FControls) c->PaintTo(APainter);
    APainter.PopClip();
}

void TControl::Invalidate()
{
    if (TForm* f = Root()) f->InvalidateForm();
}

void TControl::Repaint()
{
    if (TForm* f = Root()) f->PaintNow();
}

// ---------------------------------------------------------------- standard controls

TPanel::TPanel(TComponent* AOwner) : TControl(AOwner)
{
    SetWidth(120);
    SetHeight(100);
}

TClass TPanel::StaticClass()
{
    static const TClassInfo<TPanel> info("Platform.Controls", [](auto& c) {
        c.Property("Color", &TPanel::Color, &TPanel::Color, TValue::From(TAlphaColor(0xFF2B2B2B)));
    });
    return &info;
}

void TPanel::Paint(TControlPainter& APainter, const TRectF& ARect) { APainter.FillRect(ARect, Color); }

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner)
{
    SetWidth(120);
    SetHeight(17);
    SetHitTest(false);
}

TClass TLabel::StaticClass()
{
    static const TClassInfo<TLabel> info("Platform.Controls", [](auto& c) {
        c.Property("Text", &TLabel::Text, &TLabel::SetText, TValue::From(std::string()));
        c.Property("FontColor", &TLabel::FontColor, &TLabel::FontColor, TValue::From(TAlphaColor(0xFFFFFFFF)));
        c.Property("TextAlign", &TLabel::TextAlign, &TLabel::TextAlign, TValue::From(TTextAlign::Leading));
    });
    return &info;
}

void TLabel::SetText(const std::string& V)
{
    FText = V;
    Invalidate();
}

void TLabel::Paint(TControlPainter& APainter, const TRectF& ARect)
{
    APainter.DrawText(ARect, FText, FontColor, TextAlign, TTextAlign::Center);
}

TButton::TButton(TComponent* AOwner) : TControl(AOwner)
{
    SetWidth(80);
    SetHeight(22);
}

TClass TButton::StaticClass()
{
    static const TClassInfo<TButton> info("Platform.Controls", [](auto& c) {
        c.Property("Text", &TButton::Text, &TButton::SetText, TValue::From(std::string()));
    });
    return &info;
}

void TButton::SetText(const std::string& V)
{
    FText = V;
    Invalidate();
}

void TButton::MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    if (AButton == TMouseButton::mbLeft) FPressed = true;
    Invalidate();
    TControl::MouseDown(AButton, AShift, AX, AY);
}

void TButton::MouseUp(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    const bool click = FPressed && AButton == TMouseButton::mbLeft && LocalRect().Contains(TPointF(AX, AY));
    if (AButton == TMouseButton::mbLeft) FPressed = false;
    Invalidate();
    TControl::MouseUp(AButton, AShift, AX, AY);
    if (click && Enabled()) Click();
}

void TButton::Paint(TControlPainter& APainter, const TRectF& ARect)
{
    APainter.FillRect(ARect, FPressed ? 0xFF5A5A5A : 0xFF444444, 3);
    APainter.FrameRect(ARect, 0xFF7A7A7A);
    APainter.DrawText(ARect, FText, 0xFFFFFFFF, TTextAlign::Center, TTextAlign::Center);
}

TComboBox::TComboBox(TComponent* AOwner) : TControl(AOwner)
{
    SetWidth(100);
    SetHeight(22);
}

TClass TComboBox::StaticClass()
{
    static const TClassInfo<TComboBox> info("Platform.Controls", [](auto& c) {
        c.Property("Items", &TComboBox::Items, &TComboBox::SetItems);
        c.Property("ItemIndex", &TComboBox::ItemIndex, &TComboBox::SetItemIndex, TValue::From(-1));
        c.Event("OnChange", &TComboBox::OnChange);
    });
    return &info;
}

void TComboBox::SetItems(const std::vector<std::string>& V)
{
    FItems = V;
    if (FItemIndex >= int(FItems.size())) FItemIndex = -1;
    Invalidate();
}

void TComboBox::SetItemIndex(int V)
{
    // While a form is read the items may come after the index.
    if (!ComponentState().Contains(csLoading) && (V < -1 || V >= int(FItems.size())))
        throw EArgumentException(Format("Item index %d out of range", V));
    if (V == FItemIndex) return;
    FItemIndex = V;
    Invalidate();
    if (!ComponentState().Contains(csLoading)) OnChange(this);
}

std::string TComboBox::Selected() const
{
    return FItemIndex >= 0 && FItemIndex < int(FItems.size()) ? FItems[size_t(FItemIndex)] : std::string();
}

void TComboBox::SetDroppedDown(bool V)
{
    if (FDroppedDown == V) return;
    FDroppedDown = V;
    if (TForm* f = Root()) f->SetDroppedDownList(V ? this : nullptr);
    Invalidate();
}

TRectF TComboBox::ItemRect(int I) const
{
    const TRectF r = AbsoluteRect();
    const float top = r.Bottom + ItemHeight * float(I);
    return TRectF(r.Left, top, r.Right, top + ItemHeight);
}

bool TComboBox::ListContains(const TPointF& P) const
{
    if (!FDroppedDown || FItems.empty()) return false;
    const TRectF first = ItemRect(0), last = ItemRect(int(FItems.size()) - 1);
    return TRectF(first.Left, first.Top, last.Right, last.Bottom).Contains(P);
}

void TComboBox::MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    TControl::MouseDown(AButton, AShift, AX, AY);
    if (AButton == TMouseButton::mbLeft && Enabled()) SetDroppedDown(!FDroppedDown);
}

bool TComboBox::ListClick(const TPointF& P)
{
    if (!FDroppedDown) return false;
    for (int i = 0; i < int(FItems.size()); ++i)
        if (ItemRect(i).Contains(P)) {
            SetDroppedDown(false);
            SetItemIndex(i);
            return true;
        }
    SetDroppedDown(false);
    // A click on the box itself only closes the list.
    return AbsoluteRect().Contains(P);
}

void TComboBox::Paint(TControlPainter& APainter, const TRectF& ARect)
{
    APainter.FillRect(ARect, 0xFF3C3C3C, 2);
    APainter.FrameRect(ARect, 0xFF7A7A7A);
    TRectF text = ARect;
    text.Left += 6;
    APainter.DrawText(text, Selected(), 0xFFFFFFFF, TTextAlign::Leading, TTextAlign::Center);
}

void TComboBox::PaintList(TControlPainter& APainter)
{
    if (!FDroppedDown || FItems.empty()) return;
    const TRectF all(ItemRect(0).Left, ItemRect(0).Top, ItemRect(0).Right, ItemRect(int(FItems.size()) - 1).Bottom);
    APainter.PushClip(all);
    APainter.FillRect(all, 0xFF303030);
    for (int i = 0; i < int(FItems.size()); ++i) {
        TRectF r = ItemRect(i);
        if (i == FItemIndex) APainter.FillRect(r, 0xFF2F5F8F);
        r.Left += 6;
        APainter.DrawText(r, FItems[size_t(i)], 0xFFFFFFFF, TTextAlign::Leading, TTextAlign::Center);
    }
    APainter.FrameRect(all, 0xFF7A7A7A);
    APainter.PopClip();
}

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FBitmap(MakeOwned<TBitmap>())
{
    FBitmap->OnChange = [this](TObject*) { Invalidate(); };
}

TClass TImage::StaticClass()
{
    static const TClassInfo<TImage> info("Platform.Controls", [](auto& c) {
        c.Property("Bitmap", &TImage::Bitmap, [](TImage& i, TBitmap* b) { i.SetBitmap(b); });
    });
    return &info;
}

void TImage::SetBitmap(TBitmap* ABitmap) { FBitmap->Assign(ABitmap); }

void TImage::Paint(TControlPainter& APainter, const TRectF& ARect)
{
    if (FBitmap->IsEmpty()) return;
    const float scale = std::min(ARect.Width() / float(FBitmap->Width()), ARect.Height() / float(FBitmap->Height()));
    const float w = float(FBitmap->Width()) * scale, h = float(FBitmap->Height()) * scale;
    const float x = ARect.Left + (ARect.Width() - w) / 2, y = ARect.Top + (ARect.Height() - h) / 2;
    APainter.DrawBitmap(TRectF(x, y, x + w, y + h), *FBitmap, Opacity());
}

// ---------------------------------------------------------------- TTimer

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner)
{
    Restart();
    TApplication::Instance().AddTimer(this);
}

TClass TTimer::StaticClass()
{
    static const TClassInfo<TTimer> info("Platform.Controls", [](auto& c) {
        c.Property("Interval", &TTimer::Interval, &TTimer::SetInterval, TValue::From(1000));
        c.Property("Enabled", &TTimer::Enabled, &TTimer::SetEnabled, TValue::From(true));
        c.Event("OnTimer", &TTimer::OnTimer);
    });
    return &info;
}

void TTimer::BeforeDestruction()
{
    TApplication::Instance().RemoveTimer(this);
    TComponent::BeforeDestruction();
}

void TTimer::Restart() { FDue = GetDefaultClock()->NowMilliseconds() + std::max(FInterval, 1); }

void TTimer::SetInterval(int V)
{
    if (V < 0) throw EArgumentException(Format("Invalid timer interval %d", V));
    FInterval = V;
    Restart();
}

void TTimer::SetEnabled(bool V)
{
    if (FEnabled == V) return;
    FEnabled = V;
    if (V) Restart();
}

void TTimer::Loaded()
{
    TComponent::Loaded();
    Restart();
}

void TTimer::Fire(int64_t ANowMs)
{
    if (!FEnabled || FInterval <= 0 || ComponentState().Contains(csLoading)) return;
    // Every interval that passed fires once, up to a bound, so that a stalled
    // loop does not spin through thousands of late firings.
    for (int n = 0; n < 1000 && FEnabled && ANowMs >= FDue; ++n) {
        FDue += FInterval;
        OnTimer(this);
    }
    if (ANowMs >= FDue) FDue = ANowMs + FInterval;
}

// ---------------------------------------------------------------- TMessageManager

TMessageManager& TMessageManager::DefaultManager()
{
    static TMessageManager manager;
    return manager;
}

int TMessageManager::Subscribe(std::type_index AType, TListener AListener)
{
    FEntries.push_back({FNextId, AType, std::move(AListener)});
    return FNextId++;
}

void TMessageManager::Unsubscribe(int AId)
{
    std::erase_if(FEntries, [AId](const TEntry& e) { return e.Id == AId; });
}

void TMessageManager::SendMessage(TObject* Sender, const TMessageBase& Message)
{
    const std::type_index type(typeid(Message));
    // A listener may subscribe or unsubscribe while it runs: walk a copy of the ids.
    std::vector<int> ids;
    for (const auto& e : FEntries)
        if (e.Type == type) ids.push_back(e.Id);
    for (int id : ids) {
        auto it = std::find_if(FEntries.begin(), FEntries.end(), [id](const TEntry& e) { return e.Id == id; });
        if (it != FEntries.end()) {
            TListener l = it->Listener;
            l(Sender, Message);
        }
    }
}

} // namespace korvane
