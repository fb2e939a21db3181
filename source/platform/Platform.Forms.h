#pragma once
// Forms and the application: a form is the root control of a window (or of a
// headless surface), routes mouse input to its controls with capture while a
// button is held, and paints them. The application owns the forms, runs the
// loop (main-thread queue, timers, window events, painting) and knows whether
// a display is there.
//
// With a display a form shows in a window of the window system whose client
// area is the form's size; the program's one OpenGL context is made current on
// the window to present it. Headless, a form paints into an offscreen frame
// buffer on request and takes synthetic input through the same entry points
// the window uses.

#include <memory>
#include <string>
#include <vector>

#include "Platform.Controls.h"

namespace korvane {

class TFormWindow;

class TForm : public TControl {
    KORVANE_CLASS(TForm, TControl)

    explicit TForm(TComponent* AOwner);

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& V);
    int ClientWidth() const { return int(Width()); }
    int ClientHeight() const { return int(Height()); }
    void SetClientWidth(int V) { SetWidth(float(V)); }
    void SetClientHeight(int V) { SetHeight(float(V)); }
    TAlphaColor Fill = 0xFF1E1E1E;

    // Shows the form (a window when the application has a display); OnShow runs.
    void Show();
    // Hides the form; OnClose runs. Closing the main form ends Application.Run.
    void Close();
    bool Showing() const { return FShowing; }

    // Input in form client coordinates, from the window or synthetic: the
    // control under the pointer (or the one holding the capture) gets it in
    // its own coordinates. The shift state carries the buttons held.
    void MouseDownAt(TMouseButton AButton, TShiftState AShift, float AX, float AY);
    void MouseMoveAt(TShiftState AShift, float AX, float AY);
    void MouseUpAt(TMouseButton AButton, TShiftState AShift, float AX, float AY);
    // A full left click at that point.
    void ClickAt(float AX, float AY);
    TControl* Captured() const { return FCaptured; }

    // Paints every control through APainter (the open drop-down list last).
    void PaintControls(TControlPainter& APainter);
    // Renders the form with the GL painter into an offscreen frame buffer and
    // copies the pixels into ABitmap (sized to the form).
    void PaintToBitmap(TBitmap& ABitmap);
    bool NeedsPaint() const { return FNeedsPaint; }
    void InvalidateForm() { FNeedsPaint = true; }
    // Paints the window now (headless: nothing to present).
    void PaintNow();
    // The window, nil when headless or not shown.
    TFormWindow* Window() const { return FWindow.get(); }

    TNotifyEvent OnCreate, OnShow, OnClose;

protected:
    void BeforeDestruction() override;
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;

private:
    friend class TComboBox;
    friend class TApplication;
    void SetDroppedDownList(TComboBox* ACombo) { FDroppedDown = ACombo; }
    TControl* InputTarget(float AX, float AY);

    std::string FCaption;
    bool FShowing = false, FNeedsPaint = true, FCreated = false, FSwallowUp = false;
    TControl* FCaptured = nullptr;
    TControl* FHover = nullptr;
    TComboBox* FDroppedDown = nullptr;
    std::unique_ptr<TFormWindow> FWindow;
};

class TApplication : public TComponent {
    KORVANE_CLASS(TApplication, TComponent)

    static TApplication& Instance();

    // Decides the mode: a display when one can be opened (and headless mode was
    // not asked for), else headless.
    void Initialize();
    bool Headless() const { return FHeadless; }
    // Asks for headless mode before Initialize (tests, screenshots without a display).
    void SetHeadless(bool V)
    {
        FHeadless = V;
        FModeChosen = true;
        FInitialized = false;
    }

    // Creates a form of AClass owned by the application (the first becomes the
    // main form) and runs its OnCreate.
    TForm* CreateForm(TClass AClass);
    template <class T>
    T* CreateForm()
    {
        return static_cast<T*>(CreateForm(T::StaticClass()));
    }
    TForm* MainForm() const { return FMainForm; }

    // Shows the main form and runs the loop until it closes or Terminate.
    void Run();
    // One pass of the loop without waiting: window events, the main-thread
    // queue, due timers, painting.
    void ProcessMessages();
    // One pass that first waits up to AMaxWaitMs (real time) for something to do.
    void HandleMessage(int AMaxWaitMs);
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // Forgets the main form and the terminated state (tests).
    void Reset();

    void AddTimer(TTimer* ATimer);
    void RemoveTimer(TTimer* ATimer);
    // Fires the timers that are due by the default clock.
    void FireTimers();
    // Milliseconds (default clock) until the next enabled timer is due; -1 when none.
    int64_t NextTimerDelay() const;

private:
    explicit TApplication(TComponent* AOwner);
    friend class TForm;
    void FormClosed(TForm* AForm);

    bool FHeadless = true, FModeChosen = false, FInitialized = false, FTerminated = false;
    TForm* FMainForm = nullptr;
    std::vector<TTimer*> FTimers;
};

inline TApplication& Application() { return TApplication::Instance(); }

// ---------------------------------------------------------------- the window system side
// (Platform.Forms.OpenGL.cpp: GLFW, EGL surfaces and the Dear ImGui painter)

namespace forms_platform {
// Opens the window system; false when no display can be had.
bool OpenDisplay();
void CloseDisplay();
// Waits up to AMaxWaitMs for window events (0: poll) and dispatches them.
void PumpEvents(int AMaxWaitMs);
// Wakes a PumpEvents wait from any thread.
void Wake();
// Renders a form's controls into a frame buffer of the form's size and reads
// the pixels back into ABitmap.
void RenderFormToBitmap(TForm& AForm, TBitmap& ABitmap);
// Frees the painter's GL resources and Dear ImGui state (at shut-down).
void ReleasePainter();
} // namespace forms_platform

class TFormWindow {
public:
    explicit TFormWindow(TForm& AForm);
    ~TFormWindow();
    TFormWindow(const TFormWindow&) = delete;
    TFormWindow& operator=(const TFormWindow&) = delete;
    void SetCaption(const std::string& ACaption);
    void SetClientSize(int AWidth, int AHeight);
    // Paints the form into the window and presents it.
    void Paint();
    // The last presented frame, read back before it was presented.
    void Screenshot(TBitmap& ABitmap) const;
    // The window system's id of the window (an X11 window).
    unsigned long NativeId() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace korvane
