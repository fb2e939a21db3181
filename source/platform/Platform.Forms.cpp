#include "Platform.Forms.h"

#include <algorithm>
#include <cstdlib>

#include "Platform.FormResources.h"
#include "Platform.Log.h"
#include "Platform.Threads.h"

namespace korvane {

// ---------------------------------------------------------------- TForm

TForm::TForm(TComponent* AOwner) : TControl(AOwner)
{
    SetBounds(0, 0, 640, 480);
}

TClass TForm::StaticClass()
{
    static const TClassInfo<TForm> info("Platform.Forms", [](auto& c) {
        c.Property("Caption", &TForm::Caption, &TForm::SetCaption, TValue::From(std::string()));
        c.Property("ClientWidth", &TForm::ClientWidth, &TForm::SetClientWidth);
        c.Property("ClientHeight", &TForm::ClientHeight, &TForm::SetClientHeight);
        c.Property("Fill.Color", &TForm::Fill, &TForm::Fill, TValue::From(TAlphaColor(0xFF1E1E1E)));
        c.Event("OnCreate", &TForm::OnCreate);
        c.Event("OnShow", &TForm::OnShow);
        c.Event("OnClose", &TForm::OnClose);
    });
    return &info;
}

void TForm::BeforeDestruction()
{
    FWindow.reset();
    TApplication::Instance().FormClosed(this);
    TControl::BeforeDestruction();
}

void TForm::Loaded()
{
    TControl::Loaded();
    Realign();
}

void TForm::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl::Notification(AComponent, Operation);
    if (Operation == opRemove) {
        if (AComponent == FCaptured) FCaptured = nullptr;
        if (AComponent == FHover) FHover = nullptr;
        if (AComponent == FDroppedDown) FDroppedDown = nullptr;
    }
}

void TForm::SetCaption(const std::string& V)
{
    FCaption = V;
    if (FWindow) FWindow->SetCaption(V);
}

void TForm::Show()
{
    if (FShowing) return;
    FShowing = true;
    if (!TApplication::Instance().Headless() && !FWindow) {
        FWindow = std::make_unique<TFormWindow>(*this);
        FWindow->SetCaption(FCaption);
    }
    Realign();
    OnShow(this);
    FNeedsPaint = true;
}

void TForm::Close()
{
    if (!FShowing) return;
    OnClose(this);
    FShowing = false;
    FWindow.reset();
    TApplication::Instance().FormClosed(this);
}

TControl* TForm::InputTarget(float AX, float AY)
{
    if (FCaptured) return FCaptured;
    TControl* c = ObjectAtPoint(TPointF(AX, AY));
    while (c && !c->Enabled()) c = c->ParentControl();
    return c;
}

void TForm::MouseDownAt(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    // An open list takes the click first; a click outside it only closes it.
    if (FDroppedDown && !FCaptured) {
        TComboBox* combo = FDroppedDown;
        if (combo->ListClick(TPointF(AX, AY))) {
            // The release of this press belongs to the list too.
            FSwallowUp = true;
            return;
        }
    }
    TControl* target = InputTarget(AX, AY);
    if (!target) return;
    // The control under the button keeps receiving the mouse until it is released.
    FCaptured = target;
    FreeNotification(target);
    const TPointF p = target->AbsoluteToLocal(TPointF(AX, AY));
    target->MouseDown(AButton, AShift, p.X, p.Y);
}

void TForm::MouseMoveAt(TShiftState AShift, float AX, float AY)
{
    // An open list covers what lies below it.
    if (!FCaptured && FDroppedDown && FDroppedDown->ListContains(TPointF(AX, AY))) return;
    TControl* target = InputTarget(AX, AY);
    if (target != FHover) {
        if (FHover) FHover->FMouseOver = false;
        FHover = target;
        if (target) {
            target->FMouseOver = true;
            FreeNotification(target);
        }
    }
    if (!target) return;
    const TPointF p = target->AbsoluteToLocal(TPointF(AX, AY));
    target->MouseMove(AShift, p.X, p.Y);
}

void TForm::MouseUpAt(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    if (FSwallowUp) {
        FSwallowUp = false;
        return;
    }
    TControl* target = InputTarget(AX, AY);
    FCaptured = nullptr;
    if (!target) return;
    const TPointF p = target->AbsoluteToLocal(TPointF(AX, AY));
    target->MouseUp(AButton, AShift, p.X, p.Y);
}

void TForm::ClickAt(float AX, float AY)
{
    MouseMoveAt(TShiftState(), AX, AY);
    MouseDownAt(TMouseButton::mbLeft, TShiftState{ssLeft}, AX, AY);
    MouseUpAt(TMouseButton::mbLeft, TShiftState(), AX, AY);
}

void TForm::Paint(TControlPainter& APainter, const TRectF& ARect) { APainter.FillRect(ARect, Fill); }

void TForm::PaintControls(TControlPainter& APainter)
{
    PaintTo(APainter);
    if (FDroppedDown) FDroppedDown->PaintList(APainter);
    FNeedsPaint = false;
}

void TForm::PaintToBitmap(TBitmap& ABitmap) { forms_platform::RenderFormToBitmap(*this, ABitmap); }

void TForm::PaintNow()
{
    if (FWindow) FWindow->Paint();
    FNeedsPaint = false;
}

// ---------------------------------------------------------------- TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

KORVANE_IMPLEMENT_CLASS(TApplication, "Platform.Forms")

TApplication& TApplication::Instance()
{
    // Lives for the whole run: forms and timers leave it as they are freed.
    static TApplication* application = new TApplication(nullptr);
    return *application;
}

void TApplication::Initialize()
{
    if (FInitialized) return;
    FInitialized = true;
    if (!FModeChosen) FHeadless = !forms_platform::OpenDisplay();
    else if (!FHeadless && !forms_platform::OpenDisplay()) {
        Log::d("<WARNING> no display: running headless");
        FHeadless = true;
    }
    if (!FHeadless) SetWakeMainThreadHook(&forms_platform::Wake);
}

TForm* TApplication::CreateForm(TClass AClass)
{
    if (!AClass || !AClass->InheritsFrom(TForm::StaticClass()))
        throw EInvalidOperation(Format("%s is not a form class", AClass ? AClass->ClassName() : std::string("nil")));
    TComponent* c = AClass->CreateComponent(this);
    auto* form = static_cast<TForm*>(c);
    // A form class with an embedded form resource is read from it.
    const std::string_view text = FormResourceFor(AClass->ClassName());
    if (!text.empty()) {
        try {
            ReadComponentResource(form, text);
        } catch (...) {
            form->Free();
            throw;
        }
    }
    if (!FMainForm) FMainForm = form;
    // A form read from a resource ran OnCreate after its reading.
    if (!form->FCreated) {
        form->FCreated = true;
        form->OnCreate(form);
    }
    return form;
}

void TApplication::Run()
{
    if (!FInitialized) Initialize();
    if (FMainForm) FMainForm->Show();
    while (!FTerminated && FMainForm && FMainForm->Showing()) {
        const int64_t next = NextTimerDelay();
        HandleMessage(next < 0 ? 100 : int(std::min<int64_t>(next, 100)));
    }
}

void TApplication::ProcessMessages() { HandleMessage(0); }

void TApplication::HandleMessage(int AMaxWaitMs)
{
    if (!FHeadless) forms_platform::PumpEvents(HasPendingSynchronize() ? 0 : AMaxWaitMs);
    else if (AMaxWaitMs > 0)
        CheckSynchronize(AMaxWaitMs);
    CheckSynchronize(0);
    FireTimers();
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* f = dynamic_cast<TForm*>(Components(i)); f && f->Showing() && f->NeedsPaint()) f->PaintNow();
}

void TApplication::Reset()
{
    FMainForm = nullptr;
    FTerminated = false;
}

void TApplication::AddTimer(TTimer* ATimer) { FTimers.push_back(ATimer); }

void TApplication::RemoveTimer(TTimer* ATimer) { std::erase(FTimers, ATimer); }

void TApplication::FireTimers()
{
    const int64_t now = GetDefaultClock()->NowMilliseconds();
    // A handler may free timers: fire from a copy and skip the ones gone.
    const std::vector<TTimer*> timers = FTimers;
    for (TTimer* t : timers)
        if (std::find(FTimers.begin(), FTimers.end(), t) != FTimers.end()) t->Fire(now);
}

int64_t TApplication::NextTimerDelay() const
{
    const int64_t now = GetDefaultClock()->NowMilliseconds();
    int64_t best = -1;
    for (const TTimer* t : FTimers) {
        if (!t->Enabled() || t->Interval() <= 0) continue;
        const int64_t d = std::max<int64_t>(0, t->DueMilliseconds() - now);
        if (best < 0 || d < best) best = d;
    }
    return best;
}

void TApplication::FormClosed(TForm* AForm)
{
    if (AForm == FMainForm && AForm->Destroying()) FMainForm = nullptr;
}

namespace units {
void PlatformFormsInitialize()
{
    RegisterClasses({TControl::StaticClass(), TPanel::StaticClass(), TLabel::StaticClass(), TButton::StaticClass(),
                     TComboBox::StaticClass(), TImage::StaticClass(), TTimer::StaticClass(), TForm::StaticClass()});
}
void PlatformFormsFinalize()
{
    // Forms go before the GL context they may have drawn with.
    TApplication& app = TApplication::Instance();
    app.DestroyComponents();
    app.Reset();
    forms_platform::ReleasePainter();
    SetWakeMainThreadHook(nullptr);
    forms_platform::CloseDisplay();
}
} // namespace units

} // namespace korvane
