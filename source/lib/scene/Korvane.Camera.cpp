#include "Korvane.Camera.h"

#include <cmath>
#include <utility>

#include "Korvane.Control.h"
#include "Korvane.SceneDefs.h"
#include "Platform.SysUtils.h"

namespace korvane {

// ---------------------------------------------------------------- TKorvaneCamera

TClass TKorvaneCamera::StaticClass()
{
    using T = TKorvaneCamera;
    static const TClassInfo<T> info("Korvane.Camera", [](auto& c) {
        c.Property("FOV", &T::FOV, &T::SetFOV, TValue::From(45.0f));
        // Older form data carries the planes: each is read and dropped, and
        // never written.
        const auto never = [](const T&) { return false; };
        c.Property("NearPlane", [](const T&) { return 0.0f; }, [](T&, float) {}, TValue(), never);
        c.Property("FarPlane", [](const T&) { return 0.0f; }, [](T&, float) {}, TValue(), never);
    });
    return &info;
}

TKorvaneCamera::TKorvaneCamera(TComponent* AOwner) : TCamera(AOwner)
{
    FSelfDef = CreateOwnDefinition<TCameraDef>(AOwner, FDefIsStandalone);
    FDef = FSelfDef;
}

void TKorvaneCamera::BeforeDestruction()
{
    FDef = nullptr;
    if (FDefIsStandalone && FSelfDef) FSelfDef->Free();
    FSelfDef = nullptr;
    TCamera::BeforeDestruction();
}

TMatrix3D TKorvaneCamera::PerspectiveMatrix() const
{
    throw Exception("");
}

void TKorvaneCamera::LoadFromDefinition(const TCameraDef* ADef)
{
    if (!ADef) throw EArgumentException("TKorvaneCamera.LoadFromDefinition(): no definition");
    FDef = const_cast<TCameraDef*>(ADef);
    if (Name().empty()) TComponent::SetName(ADef->GetQualifiedComponentName());
    // The global lookup knows only top-level components (forms, data
    // modules): a node inside a form is not found and leaves no target.
    SetTarget(dynamic_cast<TControl3D*>(FindGlobalComponent(ADef->Target)));
    SetFOV(ADef->FOV);
    ApplyLocalMatrix(this, ADef->Transform(), true, true, true, true);
}

void TKorvaneCamera::AssignFrom(const TPersistent* Src)
{
    const auto* source = dynamic_cast<const TCamera*>(Src);
    if (!source) return;
    TPoint3D position = source->AbsolutePosition();
    if (const auto* parent = dynamic_cast<const TControl3D*>(Parent())) position = parent->AbsoluteToLocal(position);
    const TPoint3D angles = source->RotationAngle().Point();
    TControl3D* target = source->Target();
    const float angleOfView = source->AngleOfView();
    const bool framework = dynamic_cast<const TKorvaneCamera*>(source) != nullptr;

    Position().SetPoint(position);
    ResetRotationAngle();
    RotationAngle().SetPoint(angles);
    SetTarget(target);
    SetAngleOfView(angleOfView);
    if (framework) FUpdateNeeded = true;
}

void TKorvaneCamera::MatrixChanged(TObject* Sender)
{
    FUpdateNeeded = true;
    TCamera::MatrixChanged(Sender);
}

// ---------------------------------------------------------------- TKorvaneSmoothCameraController

namespace {

using TType = TKorvaneSmoothCameraControlType;
constexpr float OriginTolerance = 1e-7f;
const TPoint3D StartPosition{0, -10, -25};

bool IsZeroPoint(const TPoint3D& P, float AEpsilon)
{
    return std::fabs(P.X) <= AEpsilon && std::fabs(P.Y) <= AEpsilon && std::fabs(P.Z) <= AEpsilon;
}

} // namespace

TClass TKorvaneSmoothCameraController::StaticClass()
{
    using T = TKorvaneSmoothCameraController;
    static const TClassInfo<T> info("Korvane.Camera", [](auto& c) {
        c.Property("Camera", &T::Camera, &T::SetCamera);
        c.Property("Viewport", &T::Viewport, &T::SetViewport);
        c.Property("Interval", &T::GetInterval, &T::SetInterval, TValue::From(33));
        c.Property("Enabled", &T::GetEnabled, &T::SetEnabled, TValue::From(true));
        c.Property("ShowController", &T::ShowController, &T::SetShowController, TValue::From(false));
        c.Property("Types", &T::Types, &T::SetTypes);
        c.Property("ImpulseLimitRotate", &T::ImpulseLimitRotate, &T::SetImpulseLimitRotate, TValue::From(75.0f));
        c.Property("ImpulseLimitUpAndDown", &T::ImpulseLimitUpAndDown, &T::SetImpulseLimitUpAndDown,
                   TValue::From(50.0f));
        c.Property("ImpulseLimitZoom", &T::ImpulseLimitZoom, &T::SetImpulseLimitZoom, TValue::From(50.0f));
        c.Property("IntensityRotate", &T::IntensityRotate, &T::SetIntensityRotate, TValue::From(15.0f));
        c.Property("IntensityUpAndDown", &T::IntensityUpAndDown, &T::SetIntensityUpAndDown, TValue::From(1.0f));
        c.Property("IntensityZoom", &T::IntensityZoom, &T::SetIntensityZoom, TValue::From(1.0f));
        c.Property("DampingRotate", &T::DampingRotate, &T::SetDampingRotate, TValue::From(1.5f));
        c.Property("DampingUpAndDown", &T::DampingUpAndDown, &T::SetDampingUpAndDown, TValue::From(1.5f));
        c.Property("DampingZoom", &T::DampingZoom, &T::SetDampingZoom, TValue::From(1.0f));
        c.Property("LimitRotationMin", &T::LimitRotationMin, &T::SetLimitRotationMin, TValue::From(0.0f));
        c.Property("LimitRotationMax", &T::LimitRotationMax, &T::SetLimitRotationMax, TValue::From(360.0f));
        c.Property("LimitUpAndDownMin", &T::LimitUpAndDownMin, &T::SetLimitUpAndDownMin, TValue::From(-10.0f));
        c.Property("LimitUpAndDownMax", &T::LimitUpAndDownMax, &T::SetLimitUpAndDownMax, TValue::From(10.0f));
        c.Property("LimitZoomMin", &T::LimitZoomMin, &T::SetLimitZoomMin, TValue::From(-100.0f));
        c.Property("LimitZoomMax", &T::LimitZoomMax, &T::SetLimitZoomMax, TValue::From(-1.0f));
        c.Property("ShiftImpulseLimit", &T::ShiftImpulseLimit, &T::SetShiftImpulseLimit, TValue::From(65.0f));
        c.Property("ShiftDamping", &T::ShiftDamping, &T::SetShiftDamping, TValue::From(1.5f));
        c.Property("ShiftIntensity", &T::ShiftIntensity, &T::SetShiftIntensity, TValue::From(0.5f));
        c.Event("OnBeforeModify", &T::OnBeforeModify);
        c.Event("OnAfterModify", &T::OnAfterModify);
    });
    return &info;
}

TKorvaneSmoothCameraController::TKorvaneSmoothCameraController(TComponent* AOwner)
    : TDummy(AOwner),
      FTypes{TType::scctRotateY, TType::scctMoveY, TType::scctZoom, TType::scctShiftX, TType::scctShiftY,
             TType::scctShiftZ}
{
    FTimer.reset(new TTimer(nullptr));
    FTimer->OnTimer = [this](TObject*) { DoStep(); };
    FTimer->SetInterval(33);
    FTimer->SetEnabled(true);
    FStopWatch = TStopwatch::StartNew();
}

void TKorvaneSmoothCameraController::BeforeDestruction()
{
    SetViewport(nullptr);
    SetCamera(nullptr);
    if (FTimer) {
        FTimer->SetEnabled(false);
        FTimer.reset();
    }
    TDummy::BeforeDestruction();
}

void TKorvaneSmoothCameraController::SetCamera(TCamera* Value)
{
    if (FCamera && FCamera != Value) RemoveFreeNotification(FCamera);
    FCamera = Value;
    if (!Value) return;
    FreeNotification(Value);
    Value->SetParent(this);
    Value->SetTarget(this);
    if (IsZeroPoint(Value->Position().Point(), OriginTolerance)) Value->Position().SetPoint(StartPosition);
}

void TKorvaneSmoothCameraController::SetViewport(TControl* Value)
{
    if (Value && !dynamic_cast<IViewport3D*>(Value)) return;
    if (Value == FViewport) return;
    if (FViewport) {
        UnhookViewport();
        RemoveFreeNotification(FViewport);
    }
    FViewport = Value;
    if (FViewport) {
        FreeNotification(FViewport);
        HookViewport();
    }
}

void TKorvaneSmoothCameraController::HookViewport()
{
    FOnStoredMouseDown = std::as_const(FViewport->OnMouseDown);
    FOnStoredMouseUp = std::as_const(FViewport->OnMouseUp);
    FOnStoredMouseMove = std::as_const(FViewport->OnMouseMove);
    FOnStoredMouseWheel = std::as_const(FViewport->OnMouseWheel);
    FViewport->OnMouseDown = TDownHandler{this};
    FViewport->OnMouseUp = TUpHandler{this};
    FViewport->OnMouseMove = TMoveHandler{this};
    FViewport->OnMouseWheel = TWheelHandler{this};
}

void TKorvaneSmoothCameraController::UnhookViewport()
{
    // A handler the viewport's user installed since the hook stays.
    auto restore = [this](auto& AEvent, auto& AStored, auto AHandlerTag) {
        using THandler = decltype(AHandlerTag);
        const THandler* current = AEvent.template Target<THandler>();
        if (current && current->Self == this) AEvent = std::as_const(AStored);
        AStored = std::remove_reference_t<decltype(AStored)>();
    };
    restore(FViewport->OnMouseDown, FOnStoredMouseDown, TDownHandler{});
    restore(FViewport->OnMouseUp, FOnStoredMouseUp, TUpHandler{});
    restore(FViewport->OnMouseMove, FOnStoredMouseMove, TMoveHandler{});
    restore(FViewport->OnMouseWheel, FOnStoredMouseWheel, TWheelHandler{});
}

void TKorvaneSmoothCameraController::Notification(TComponent* AComponent, TOperation Operation)
{
    TDummy::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == FCamera) FCamera = nullptr;
    if (AComponent == FViewport) SetViewport(nullptr);
}

int TKorvaneSmoothCameraController::GetInterval() const { return FTimer ? FTimer->Interval() : 0; }

void TKorvaneSmoothCameraController::SetInterval(int Value)
{
    if (FTimer) FTimer->SetInterval(Value);
}

bool TKorvaneSmoothCameraController::GetEnabled() const { return FTimer && FTimer->Enabled(); }

void TKorvaneSmoothCameraController::SetEnabled(bool Value)
{
    if (!FTimer) return;
    FTimer->SetEnabled(Value);
    if (Value) FStopWatch = TStopwatch::StartNew();
}

void TKorvaneSmoothCameraController::AddImpulse(const TPointF& AOfs)
{
    FImpulse.X += AOfs.X;
    FImpulse.Y -= AOfs.Y;
}

float TKorvaneSmoothCameraController::AxisStep(float& AImpulse, float AValue, float ALimit, float ADamping,
                                               float AIntensity, float AMin, float AMax, bool AWrapAngle, TType AType)
{
    if (OnBeforeModify) OnBeforeModify(this, AType, AValue);
    const double sign = AImpulse > 0 ? 1.0 : AImpulse < 0 ? -1.0 : 0.0;
    if (std::fabs(AImpulse) > ALimit) AImpulse = float(sign * ALimit);
    // No impulse, no change (the logarithm of 0 would make every value NaN).
    const double k = sign == 0 ? 0.0 : sign * std::log(std::fabs(double(AImpulse))) * ADamping;
    AImpulse = float(AImpulse - k);
    double value = AValue + sign * AIntensity * std::sqrt(std::fabs(k));
    if (AWrapAngle) {
        value = std::fmod(value, 360.0);
        if (value < 0) value += 360.0;
    }
    float result = float(value);
    if (AWrapAngle && result >= 360.0f) result = 0; // a tiny negative angle rounds up to 360
    if (result < AMin) result = AMin;
    if (result > AMax) result = AMax;
    if (OnAfterModify) OnAfterModify(this, AType, result);
    return result;
}

void TKorvaneSmoothCameraController::DoStep()
{
    if (!FCamera || FIsUpdating) return;
    if (FViewport) FViewport->BeginUpdate();
    BeginUpdate();
    FIsUpdating = true;
    struct TEnd {
        TKorvaneSmoothCameraController* Self;
        ~TEnd()
        {
            Self->FIsUpdating = false;
            Self->EndUpdate();
            if (Self->FViewport) Self->FViewport->EndUpdate();
        }
    } end{this};

    const double dt = double(FStopWatch.ElapsedMilliseconds()) / 1000.0;
    FStopWatch = TStopwatch::StartNew();

    TPoint3D amount{0, 0, 0};
    const TType shiftTypes[3] = {TType::scctShiftX, TType::scctShiftY, TType::scctShiftZ};
    for (int axis = 0; axis < 3; ++axis)
        if (FTypes.Contains(shiftTypes[axis]) && std::fabs(FShiftImpulse[axis]) >= FShiftDamping + 0.01f)
            amount[axis] = AxisStep(FShiftImpulse[axis], 0, FShiftImpulseLimit, FShiftDamping,
                                    float(FShiftIntensity * dt), -1000, 1000, false, shiftTypes[axis]);
    Position().SetPoint(Position().Point() + FCamera->AbsoluteLeft() * amount.X +
                        FCamera->AbsoluteDirection() * amount.Z + FCamera->AbsoluteUp() * amount.Y);

    if (FTypes.Contains(TType::scctRotateY) && std::fabs(FImpulse.X) >= 2 * FDamping.X + 0.01f)
        RotationAngle().SetY(AxisStep(FImpulse.X, RotationAngle().Y(), FImpulseLimit.X, FDamping.X,
                                      float(FIntensity.X * dt), FLimitX.X, FLimitX.Y, true, TType::scctRotateY));
    // The camera may have left during a handler of the steps above.
    if (FCamera && FTypes.Contains(TType::scctMoveY) && std::fabs(FImpulse.Y) >= FDamping.Y + 0.01f)
        FCamera->Position().SetY(AxisStep(FImpulse.Y, FCamera->Position().Y(), FImpulseLimit.Y, FDamping.Y,
                                          float(FIntensity.Y * dt), FLimitY.X, FLimitY.Y, false, TType::scctMoveY));
    if (FCamera && FTypes.Contains(TType::scctZoom) && std::fabs(FImpulse.Z) >= FDamping.Z + 0.01f)
        FCamera->Position().SetZ(AxisStep(FImpulse.Z, FCamera->Position().Z(), FImpulseLimit.Z, FDamping.Z,
                                          float(FIntensity.Z * dt), FLimitZ.X, FLimitZ.Y, false, TType::scctZoom));
}

// ---------------------------------------------------------------- mouse

void TKorvaneSmoothCameraController::TDownHandler::operator()(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                                               float X, float Y) const
{
    Self->FMouseMove = true;
    Self->FLastMousePos = TPointF(X, Y);
    Self->FOnStoredMouseDown(Sender, Button, Shift, X, Y);
}

void TKorvaneSmoothCameraController::TUpHandler::operator()(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                                             float X, float Y) const
{
    Self->FMouseMove = false;
    Self->FOnStoredMouseUp(Sender, Button, Shift, X, Y);
}

void TKorvaneSmoothCameraController::TMoveHandler::operator()(TObject* Sender, TShiftState Shift, float X,
                                                               float Y) const
{
    if (Self->FMouseMove) {
        const TPointF delta = TPointF(X, Y) - Self->FLastMousePos;
        if (Shift.Contains(ssLeft)) Self->AddImpulse(delta);
        else if (Shift.Contains(ssRight)) {
            if (Shift.Contains(ssShift)) Self->Shift(TPoint3D(delta.X, delta.Y, 0));
            else Self->Shift(TPoint3D(delta.X, 0, -delta.Y));
        }
    }
    Self->FLastMousePos = TPointF(X, Y);
    Self->FOnStoredMouseMove(Sender, Shift, X, Y);
}

void TKorvaneSmoothCameraController::TWheelHandler::operator()(TObject* Sender, TShiftState Shift, int WheelDelta,
                                                                bool& Handled) const
{
    Self->Zoom(float(WheelDelta) * (Shift.Contains(ssShift) ? 2.0f : 0.15f));
    Handled = true;
    Self->FOnStoredMouseWheel(Sender, Shift, WheelDelta, Handled);
}

namespace units {

void CameraInitialize()
{
    RegisterClass<TKorvaneCamera>();
    RegisterClass<TKorvaneSmoothCameraController>();
}

void CameraFinalize()
{
    UnRegisterClass(TKorvaneSmoothCameraController::StaticClass());
    UnRegisterClass(TKorvaneCamera::StaticClass());
}

} // namespace units

} // namespace korvane
