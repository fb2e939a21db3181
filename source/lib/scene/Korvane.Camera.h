#pragma once
// TKorvaneCamera: the framework's camera. A platform camera that carries a
// camera definition, can be loaded from one and remembers that its matrix
// changed (UpdateNeeded) until the viewport takes notice.
//
// TKorvaneSmoothCameraController: a dummy that a camera is parented to. A
// 33 ms timer turns accumulated impulses into smooth, damped motion: orbiting
// about the vertical axis (the controller's RotationAngle.Y), raising and
// lowering and zooming (the camera's Position.Y and Position.Z) and shifting
// (the controller's Position along the camera's axes). Each impulse decays
// logarithmically at every step:
//   k = sign(p) ln|p| D;  p -= k;  value += sign(p) I dt sqrt|k|
// (limit L caps |p| first; D the damping, I the intensity, dt the seconds
// since the previous step). An axis moves only while |p| is at least its
// threshold (D + 0.01, twice D + 0.01 for the rotation), which keeps |p|
// above 1 with the default dampings, so the logarithm stays positive. It can
// take over the mouse of a viewport: left drags orbit, right drags shift, the
// wheel zooms; the viewport's own handlers run after the controller's.

#include <string>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Controls.h"
#include "Platform.Controls3D.h"
#include "Platform.Math3D.h"
#include "Platform.Threads.h"

namespace korvane {

class TCameraDef;

class TKorvaneCamera : public TCamera {
    KORVANE_CLASS(TKorvaneCamera, TCamera)

    // Makes its own definition (see CreateOwnDefinition).
    explicit TKorvaneCamera(TComponent* AOwner);

    // The definition in use: its own or the one it was loaded from.
    TCameraDef* Def() const { return FDef; }
    bool UpdateNeeded() const { return FUpdateNeeded; }
    void SetUpdateNeeded(bool Value) { FUpdateNeeded = Value; }
    // The platform camera's AngleOfView.
    float FOV() const { return AngleOfView(); }
    void SetFOV(float Value) { SetAngleOfView(Value); }
    // Not available on this camera: raises Exception with an empty message.
    TMatrix3D PerspectiveMatrix() const;

    // Keeps ADef (not owned). An empty Name becomes the definition's component
    // name through the platform's name rules (a taken name raises). Target
    // becomes the global component the definition's Target names when that is
    // a 3D control, else nil; FOV and the local matrix (position, scale and
    // rotation) come from the definition.
    virtual void LoadFromDefinition(const TCameraDef* ADef);
    virtual void Update() {}
    // From another camera: absolute position, rotation angles, target and
    // angle of view; a framework camera as source also sets UpdateNeeded.
    void AssignFrom(const TPersistent* Src);

    void MatrixChanged(TObject* Sender) override;

protected:
    void BeforeDestruction() override;

private:
    TCameraDef* FDef = nullptr;
    TCameraDef* FSelfDef = nullptr;
    bool FDefIsStandalone = true;
    bool FUpdateNeeded = false;
};

enum class TKorvaneSmoothCameraControlType : uint8_t { scctRotateY, scctMoveY, scctZoom, scctShiftX, scctShiftY, scctShiftZ };
KORVANE_ENUM_NAMES(TKorvaneSmoothCameraControlType, "scctRotateY", "scctMoveY", "scctZoom", "scctShiftX",
                   "scctShiftY", "scctShiftZ");
using TKorvaneSmoothCameraControlTypes = TSet<TKorvaneSmoothCameraControlType>;
// (Sender, axis, value): a handler may change the value an axis step is about to use or give.
using TOnCameraControllerEvent = TEvent<TObject*, TKorvaneSmoothCameraControlType, float&>;

class TKorvaneSmoothCameraController : public TDummy {
    KORVANE_CLASS(TKorvaneSmoothCameraController, TDummy)

    // The defaults, and a running 33 ms timer on the default clock.
    explicit TKorvaneSmoothCameraController(TComponent* AOwner);

    TCamera* Camera() const { return FCamera; }
    // A camera is parented to the controller and targets it; one at the
    // origin (within 1e-7) moves to (0, -10, -25).
    virtual void SetCamera(TCamera* Value);
    // The viewport whose mouse the controller takes over: a control that hosts
    // a 3D scene (IViewport3D), or nil; anything else is ignored.
    TControl* Viewport() const { return FViewport; }
    virtual void SetViewport(TControl* Value);

    // The timer's; without a timer 0 and False.
    virtual int GetInterval() const;
    virtual void SetInterval(int Value);
    // Enabling restarts the stopwatch, so the first step after it sees no time passed.
    virtual bool GetEnabled() const;
    virtual void SetEnabled(bool Value);

    // One timer tick: applies the impulses (see the top of this file).
    virtual void DoStep();

    // X to the rotate impulse, -Y to the up-and-down impulse.
    virtual void AddImpulse(const TPointF& AOfs);
    virtual void AddXImpulse(float AAngle) { FImpulse.X += AAngle; }
    virtual void AddYImpulse(float AAngle) { FImpulse.Y -= AAngle; }
    virtual void Zoom(float AStrength) { FImpulse.Z += AStrength; }
    virtual void Shift(const TPoint3D& AOfs) { FShiftImpulse = FShiftImpulse + AOfs; }

    bool ShowController() const { return FShowController; }
    void SetShowController(bool Value) { FShowController = Value; }
    TKorvaneSmoothCameraControlTypes Types() const { return FTypes; }
    void SetTypes(TKorvaneSmoothCameraControlTypes Value) { FTypes = Value; }
    // X rotate, Y up and down, Z zoom.
    const TPoint3D& Impulse() const { return FImpulse; }
    void SetImpulse(const TPoint3D& Value) { FImpulse = Value; }
    const TPoint3D& ShiftImpulse() const { return FShiftImpulse; }
    void SetShiftImpulse(const TPoint3D& Value) { FShiftImpulse = Value; }

    float ImpulseLimitRotate() const { return FImpulseLimit.X; }
    void SetImpulseLimitRotate(float V) { FImpulseLimit.X = V; }
    float ImpulseLimitUpAndDown() const { return FImpulseLimit.Y; }
    void SetImpulseLimitUpAndDown(float V) { FImpulseLimit.Y = V; }
    float ImpulseLimitZoom() const { return FImpulseLimit.Z; }
    void SetImpulseLimitZoom(float V) { FImpulseLimit.Z = V; }
    float IntensityRotate() const { return FIntensity.X; }
    void SetIntensityRotate(float V) { FIntensity.X = V; }
    float IntensityUpAndDown() const { return FIntensity.Y; }
    void SetIntensityUpAndDown(float V) { FIntensity.Y = V; }
    float IntensityZoom() const { return FIntensity.Z; }
    void SetIntensityZoom(float V) { FIntensity.Z = V; }
    float DampingRotate() const { return FDamping.X; }
    void SetDampingRotate(float V) { FDamping.X = V; }
    float DampingUpAndDown() const { return FDamping.Y; }
    void SetDampingUpAndDown(float V) { FDamping.Y = V; }
    float DampingZoom() const { return FDamping.Z; }
    void SetDampingZoom(float V) { FDamping.Z = V; }
    float LimitRotationMin() const { return FLimitX.X; }
    void SetLimitRotationMin(float V) { FLimitX.X = V; }
    float LimitRotationMax() const { return FLimitX.Y; }
    void SetLimitRotationMax(float V) { FLimitX.Y = V; }
    float LimitUpAndDownMin() const { return FLimitY.X; }
    void SetLimitUpAndDownMin(float V) { FLimitY.X = V; }
    float LimitUpAndDownMax() const { return FLimitY.Y; }
    void SetLimitUpAndDownMax(float V) { FLimitY.Y = V; }
    float LimitZoomMin() const { return FLimitZ.X; }
    void SetLimitZoomMin(float V) { FLimitZ.X = V; }
    float LimitZoomMax() const { return FLimitZ.Y; }
    void SetLimitZoomMax(float V) { FLimitZ.Y = V; }
    float ShiftImpulseLimit() const { return FShiftImpulseLimit; }
    void SetShiftImpulseLimit(float V) { FShiftImpulseLimit = V; }
    float ShiftDamping() const { return FShiftDamping; }
    void SetShiftDamping(float V) { FShiftDamping = V; }
    float ShiftIntensity() const { return FShiftIntensity; }
    void SetShiftIntensity(float V) { FShiftIntensity = V; }

    TOnCameraControllerEvent OnBeforeModify;
    TOnCameraControllerEvent OnAfterModify;

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void BeforeDestruction() override;

private:
    // The handlers installed on a hooked viewport; distinct types, so that
    // unhooking can tell whether the viewport still holds them.
    struct TDownHandler {
        TKorvaneSmoothCameraController* Self;
        void operator()(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y) const;
    };
    struct TUpHandler {
        TKorvaneSmoothCameraController* Self;
        void operator()(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y) const;
    };
    struct TMoveHandler {
        TKorvaneSmoothCameraController* Self;
        void operator()(TObject* Sender, TShiftState Shift, float X, float Y) const;
    };
    struct TWheelHandler {
        TKorvaneSmoothCameraController* Self;
        void operator()(TObject* Sender, TShiftState Shift, int WheelDelta, bool& Handled) const;
    };

    void HookViewport();
    void UnhookViewport();
    // One axis step: decays AImpulse in place and answers the new value.
    float AxisStep(float& AImpulse, float AValue, float ALimit, float ADamping, float AIntensity, float AMin,
                   float AMax, bool AWrapAngle, TKorvaneSmoothCameraControlType AType);

    TCamera* FCamera = nullptr;
    TControl* FViewport = nullptr;
    TOwned<TTimer> FTimer;
    TStopwatch FStopWatch;
    bool FShowController = false;
    TKorvaneSmoothCameraControlTypes FTypes;
    TPoint3D FImpulse{0, 0, 0};
    TPoint3D FImpulseLimit{75, 50, 50};
    TPoint3D FIntensity{15, 1, 1};
    TPoint3D FDamping{1.5f, 1.5f, 1};
    TPointF FLimitX{0, 360};
    TPointF FLimitY{-10, 10};
    TPointF FLimitZ{-100, -1};
    TPoint3D FShiftImpulse{0, 0, 0};
    float FShiftImpulseLimit = 65;
    float FShiftDamping = 1.5f;
    float FShiftIntensity = 0.5f;
    bool FIsUpdating = false;
    bool FMouseMove = false;
    TPointF FLastMousePos{0, 0};
    TMouseEvent FOnStoredMouseDown, FOnStoredMouseUp;
    TMouseMoveEvent FOnStoredMouseMove;
    TMouseWheelEvent FOnStoredMouseWheel;
};

} // namespace korvane
