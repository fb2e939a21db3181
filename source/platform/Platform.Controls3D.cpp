#include "Platform.Controls3D.h"

#include <algorithm>
#include <cmath>

namespace korvane {

TProjection GlobalProjection = TProjection::Camera;
float GlobalDistance = MaxHitDistance;

namespace {

// Parts of the local matrix closer than this to their neutral value are left out.
constexpr float ScaleTolerance = 1E-4f;
constexpr float PositionTolerance = 1E-3f;

bool DiffersFrom(const TPoint3D& P, float AValue, float ATolerance)
{
    return std::fabs(P.X - AValue) > ATolerance || std::fabs(P.Y - AValue) > ATolerance ||
           std::fabs(P.Z - AValue) > ATolerance;
}

TPoint3D Row(const TMatrix3D& M, int ARow)
{
    return TPoint3D(M.M[ARow][0], M.M[ARow][1], M.M[ARow][2]).Normalize();
}

} // namespace

// ---------------------------------------------------------------- TPosition3D

TClass TPosition3D::StaticClass()
{
    static const TClassInfo<TPosition3D> info("Platform.Controls3D", [](auto& c) {
        c.Property("X", &TPosition3D::X, &TPosition3D::SetX, TValue::From(0.0f));
        c.Property("Y", &TPosition3D::Y, &TPosition3D::SetY, TValue::From(0.0f));
        c.Property("Z", &TPosition3D::Z, &TPosition3D::SetZ, TValue::From(0.0f));
    });
    return &info;
}

TPosition3D::TPosition3D(const TPoint3D& ADefaultValue) : FPoint(ADefaultValue), FDefaultValue(ADefaultValue) {}

void TPosition3D::Changed(const TNotifyEvent& AAxisEvent)
{
    if (AAxisEvent) AAxisEvent(this);
    else if (OnChange) OnChange(this);
}

void TPosition3D::SetX(float Value)
{
    if (FPoint.X == Value) return;
    FPoint.X = Value;
    Changed(OnChangeX);
}

void TPosition3D::SetY(float Value)
{
    if (FPoint.Y == Value) return;
    FPoint.Y = Value;
    Changed(OnChangeY);
}

void TPosition3D::SetZ(float Value)
{
    if (FPoint.Z == Value) return;
    FPoint.Z = Value;
    Changed(OnChangeZ);
}

void TPosition3D::SetPoint(const TPoint3D& Value)
{
    FPoint = Value;
    if (OnChange) OnChange(this);
}

void TPosition3D::Assign(const TPersistent* Source)
{
    if (const auto* src = dynamic_cast<const TPosition3D*>(Source)) SetPoint(src->FPoint);
    else TPersistent::Assign(Source);
}

// ---------------------------------------------------------------- TControl3D

TClass TControl3D::StaticClass()
{
    using C = TControl3D;
    static const TClassInfo<C> info("Platform.Controls3D", [](auto& c) {
        c.Property("Position", [](const C& o) { return &o.Position(); });
        c.Property("Scale", [](const C& o) { return &o.Scale(); });
        c.Property("RotationAngle", [](const C& o) { return &o.RotationAngle(); });
        c.Property("Width", &C::Width, &C::SetWidth, TValue::From(1.0f));
        c.Property("Height", &C::Height, &C::SetHeight, TValue::From(1.0f));
        c.Property("Depth", &C::Depth, &C::SetDepth, TValue::From(1.0f));
        c.Property("Opaque", &C::Opaque, &C::SetOpaque, TValue::From(false));
        c.Property("Opacity", &C::Opacity, &C::SetOpacity, TValue::From(1.0f));
        c.Property("Visible", &C::Visible, &C::SetVisible, TValue::From(true));
        c.Property("HitTest", &C::HitTest, &C::SetHitTest, TValue::From(true));
        c.Property("ZWrite", &C::ZWrite, &C::SetZWrite, TValue::From(true));
        c.Property("TwoSide", &C::TwoSide, &C::SetTwoSide, TValue::From(false));
        c.Property("Locked", &C::Locked, &C::SetLocked, TValue::From(false));
        c.Property("Projection", &C::Projection, &C::SetProjection, TValue::From(TProjection::Camera));
        c.Property("VisibleContextMenu", &C::VisibleContextMenu, &C::SetVisibleContextMenu, TValue::From(true));
        c.Property("Cursor", &C::Cursor, &C::SetCursor, TValue::From(crDefault));
        c.Property("DragMode", &C::DragMode, &C::SetDragMode, TValue::From(TDragMode::dmManual));
    });
    return &info;
}

TControl3D::TControl3D(TComponent* AOwner)
    : TTreeObject(AOwner), FPosition(MakeOwned<TPosition3D>()), FScale(MakeOwned<TPosition3D>(TPoint3D(1, 1, 1))),
      FRotationAngle(MakeOwned<TPosition3D>())
{
    FPosition->OnChange = [this](TObject* Sender) { MatrixChanged(Sender); };
    FScale->OnChange = [this](TObject* Sender) { MatrixChanged(Sender); };
    FRotationAngle->OnChange = [this](TObject* Sender) { RotationChanged(Sender); };
}

TControl3D::~TControl3D() = default;

TMatrix3D TControl3D::ComposeLocalMatrix(const TPoint3D& AScale, const TQuaternion3D& ARotation,
                                         const TPoint3D& APosition)
{
    TMatrix3D M = TMatrix3D::Identity();
    if (DiffersFrom(AScale, 1, ScaleTolerance)) M = M * TMatrix3D::CreateScaling(AScale);
    M = M * ARotation.ToMatrix3D();
    if (DiffersFrom(APosition, 0, PositionTolerance)) M = M * TMatrix3D::CreateTranslation(APosition);
    return M;
}

void TControl3D::RebuildLocalMatrix()
{
    FLocalMatrix = ComposeLocalMatrix(FScale->Point(), FQuaternion, FPosition->Point());
    RecalcAbsolute();
    RebuildRenderingList();
    Repaint();
}

void TControl3D::MatrixChanged(TObject*)
{
    RebuildLocalMatrix();
}

void TControl3D::RotationChanged(TObject* Sender)
{
    FQuaternion = RotationAnglesToQuaternion(FRotationAngle->Point());
    MatrixChanged(Sender);
}

void TControl3D::ResetRotationAngle()
{
    FQuaternion = TQuaternion3D::Identity();
    FRotationAngle->SetPointNoChange(TPoint3D());
    MatrixChanged(FRotationAngle.get());
}

const TMatrix3D& TControl3D::AbsoluteMatrix() const
{
    if (FRecalcAbsolute) {
        const TControl3D* parent = ParentControl3D();
        FAbsoluteMatrix = parent ? FLocalMatrix * parent->AbsoluteMatrix() : FLocalMatrix;
        FInvAbsoluteMatrix = FAbsoluteMatrix.Inverse();
        FRecalcAbsolute = false;
    }
    return FAbsoluteMatrix;
}

const TMatrix3D& TControl3D::InvAbsoluteMatrix() const
{
    AbsoluteMatrix();
    return FInvAbsoluteMatrix;
}

void TControl3D::RecalcAbsolute()
{
    FRecalcAbsolute = true;
    for (TTreeObject* child : ChildList())
        if (auto* c = dynamic_cast<TControl3D*>(child)) c->RecalcAbsolute();
}

TPoint3D TControl3D::AbsolutePosition() const
{
    const TMatrix3D& M = AbsoluteMatrix();
    return {M.m41, M.m42, M.m43};
}

TPoint3D TControl3D::AbsoluteDirection() const { return Row(AbsoluteMatrix(), 2); }
TPoint3D TControl3D::AbsoluteUp() const { return Row(AbsoluteMatrix(), 1); }
TPoint3D TControl3D::AbsoluteLeft() const { return Row(AbsoluteMatrix(), 0); }
TPoint3D TControl3D::AbsoluteToLocal(const TPoint3D& P) const { return P * InvAbsoluteMatrix(); }
TPoint3D TControl3D::LocalToAbsolute(const TPoint3D& P) const { return P * AbsoluteMatrix(); }

void TControl3D::SetWidth(float Value)
{
    if (FWidth == Value) return;
    FWidth = Value;
    Resize3D();
    Repaint();
}

void TControl3D::SetHeight(float Value)
{
    if (FHeight == Value) return;
    FHeight = Value;
    Resize3D();
    Repaint();
}

void TControl3D::SetDepth(float Value)
{
    if (FDepth == Value) return;
    FDepth = Value;
    Resize3D();
    Repaint();
}

void TControl3D::SetSize(float AWidth, float AHeight, float ADepth)
{
    SetWidth(AWidth);
    SetHeight(AHeight);
    SetDepth(ADepth);
}

TBoundingBox TControl3D::SizeBox() const
{
    return TBoundingBox(-FWidth / 2, -FHeight / 2, -FDepth / 2, FWidth / 2, FHeight / 2, FDepth / 2);
}

void TControl3D::SetOpaque(bool Value)
{
    if (FOpaque == Value) return;
    FOpaque = Value;
    if (auto* parent = ParentControl3D()) parent->RebuildRenderingList();
    Repaint();
}

void TControl3D::SetOpacity(float Value)
{
    Value = std::clamp(Value, 0.0f, 1.0f);
    if (FOpacity == Value) return;
    FOpacity = Value;
    Repaint();
}

float TControl3D::AbsoluteOpacity() const
{
    const TControl3D* parent = ParentControl3D();
    return parent ? float(double(FOpacity) * parent->AbsoluteOpacity()) : FOpacity;
}

void TControl3D::SetVisible(bool Value)
{
    if (FVisible == Value) return;
    FVisible = Value;
    Repaint();
}

void TControl3D::SetZWrite(bool Value)
{
    if (FZWrite == Value) return;
    FZWrite = Value;
    Repaint();
}

void TControl3D::SetTwoSide(bool Value)
{
    if (FTwoSide == Value) return;
    FTwoSide = Value;
    Repaint();
}

void TControl3D::SetProjection(TProjection Value)
{
    if (FProjection == Value) return;
    FProjection = Value;
    Repaint();
}

IViewport3D* TControl3D::Viewport() const
{
    for (TTreeObject* p = Parent(); p; p = p->Parent())
        if (auto* vp = dynamic_cast<IViewport3D*>(p)) return vp;
    return nullptr;
}

TContext3D* TControl3D::Context() const
{
    IViewport3D* vp = Viewport();
    return vp ? vp->GetContext() : nullptr;
}

void TControl3D::Repaint()
{
    if (IsLoading() || Destroying()) return;
    if (FUpdating > 0) {
        FRepaintHeld = true;
        return;
    }
    if (IViewport3D* vp = Viewport()) vp->NeedRender();
}

void TControl3D::EndUpdate()
{
    if (FUpdating == 0 || --FUpdating > 0 || !FRepaintHeld) return;
    FRepaintHeld = false;
    Repaint();
}

const std::vector<TControl3D*>& TControl3D::RenderingList() const
{
    if (!FRenderingListValid) {
        FRenderingList.clear();
        for (int pass = 0; pass < 2; ++pass)
            for (TTreeObject* child : ChildList())
                if (auto* c = dynamic_cast<TControl3D*>(child); c && c->Opaque() == (pass == 0))
                    FRenderingList.push_back(c);
        FRenderingListValid = true;
    }
    return FRenderingList;
}

void TControl3D::RebuildRenderingList()
{
    FRenderingListValid = false;
}

void TControl3D::RenderInternal()
{
    TContext3D* ctx = Context();
    if (!ctx || !(FVisible || IsDesigning())) return;
    ctx->SetMatrix(AbsoluteMatrix());
    Render();
    if (OnRender) OnRender(this, ctx);
    RenderChildren();
}

void TControl3D::RenderChildren()
{
    // Copied: drawing may change the children.
    const std::vector<TControl3D*> list = RenderingList();
    for (TControl3D* c : list)
        if (IndexOfChild(c) >= 0) c->RenderInternal();
}

bool TControl3D::RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection)
{
    return DoRayCastIntersect(RayPos, RayDir, Intersection);
}

bool TControl3D::DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection)
{
    // Slabs of the size box: the entry point of the ray, or the start when it
    // begins inside.
    const TBoundingBox box = SizeBox();
    const float lo[3] = {box.Left, box.Top, box.Near}, hi[3] = {box.Right, box.Bottom, box.Far};
    double tNear = 0, tFar = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 3; ++i) {
        const double o = RayPos[i], d = RayDir[i];
        if (d == 0) {
            if (o < lo[i] || o > hi[i]) return false;
            continue;
        }
        double t1 = (lo[i] - o) / d, t2 = (hi[i] - o) / d;
        if (t1 > t2) std::swap(t1, t2);
        tNear = std::max(tNear, t1);
        tFar = std::min(tFar, t2);
        if (tNear > tFar) return false;
    }
    Intersection = TPoint3D(float(RayPos.X + RayDir.X * tNear), float(RayPos.Y + RayDir.Y * tNear),
                            float(RayPos.Z + RayDir.Z * tNear));
    return true;
}

bool TControl3D::CheckHitTest(bool AHitTest) const
{
    return AHitTest || IsDesigning();
}

bool TControl3D::HitAtPoint(const TPointF& P, TVector3D& RayPos, TVector3D& RayDir, TPoint3D& Intersection)
{
    TContext3D* ctx = Context();
    if (!ctx || !FVisible || FProjection != GlobalProjection || !CheckHitTest(FHitTest)) return false;
    IViewport3D* vp = Viewport();
    const TPointF local = vp ? vp->ScreenToLocal(P) : P;
    ctx->Pick(local.X, local.Y, FProjection, RayPos, RayDir);
    const TPoint3D pos = AbsoluteToLocal(RayPos.ToPoint3D());
    const TPoint3D dir = RayDir.ToPoint3D().TransformDirection(InvAbsoluteMatrix());
    TPoint3D hit;
    if (!RayCastIntersect(pos, dir, hit)) return false;
    Intersection = LocalToAbsolute(hit);
    TPoint3D from = RayPos.ToPoint3D();
    if (FProjection == TProjection::Camera) {
        TCamera* camera = vp ? vp->GetCurrentCamera() : nullptr;
        if (!camera) return false;
        from = camera->AbsolutePosition();
    }
    const float distance = from.Distance(Intersection);
    if (!(distance < GlobalDistance)) return false;
    GlobalDistance = distance;
    return true;
}

TControl3D* TControl3D::ObjectAtPoint(const TPointF& P)
{
    TControl3D* result = nullptr;
    const std::vector<TTreeObject*> children = ChildList();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (auto* c = dynamic_cast<TControl3D*>(*it); c && c->Visible())
            if (TControl3D* hit = c->ObjectAtPoint(P)) result = hit;
    if (result) return result;
    TVector3D rayPos, rayDir;
    TPoint3D hit;
    return HitAtPoint(P, rayPos, rayDir, hit) ? this : nullptr;
}

TControl3D* TControl3D::FindTarget(const TPointF& P, const TDragObject& AData)
{
    TControl3D* result = nullptr;
    const std::vector<TTreeObject*> children = ChildList();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (auto* c = dynamic_cast<TControl3D*>(*it); c && c->Visible())
            if (TControl3D* target = c->FindTarget(P, AData)) result = target;
    if (result) return result;
    if (!DragOver(AData, P)) return nullptr;
    TVector3D rayPos, rayDir;
    TPoint3D hit;
    return HitAtPoint(P, rayPos, rayDir, hit) ? this : nullptr;
}

bool TControl3D::DragOver(const TDragObject& AData, const TPointF& P)
{
    bool accept = false;
    OnDragOver(this, AData, P, accept);
    return accept;
}

void TControl3D::Loaded()
{
    TTreeObject::Loaded();
    RebuildLocalMatrix();
}

void TControl3D::DoAddObject(TTreeObject* AObject)
{
    TTreeObject::DoAddObject(AObject);
    InvalidateRenderingList();
}

void TControl3D::DoInsertObject(int Index, TTreeObject* AObject)
{
    TTreeObject::DoInsertObject(Index, AObject);
    InvalidateRenderingList();
}

void TControl3D::DoRemoveObject(TTreeObject* AObject)
{
    TTreeObject::DoRemoveObject(AObject);
    InvalidateRenderingList();
}

namespace {

// The host of AObject's tree: AObject itself or its nearest parent that is one.
IViewport3D* HostOf(TTreeObject* AObject)
{
    for (TTreeObject* p = AObject; p; p = p->Parent())
        if (auto* vp = dynamic_cast<IViewport3D*>(p)) return vp;
    return nullptr;
}

void MoveLights(TTreeObject* AObject, IViewport3D* AFrom, IViewport3D* ATo)
{
    if (auto* light = dynamic_cast<TLight*>(AObject)) {
        if (AFrom) AFrom->RemoveLight(light);
        if (ATo) ATo->AddLight(light);
    }
    for (TTreeObject* child : AObject->ChildList()) MoveLights(child, AFrom, ATo);
}

} // namespace

void TControl3D::ParentChanged(TTreeObject* AOldParent)
{
    TTreeObject::ParentChanged(AOldParent);
    // Lights anywhere in the subtree follow it into its new host, however
    // deep the subtree sits and whenever it was built.
    IViewport3D* from = HostOf(AOldParent);
    IViewport3D* to = Viewport();
    if (from != to) MoveLights(this, from, to);
    RecalcAbsolute();
    Repaint();
}

// ---------------------------------------------------------------- TCamera

TClass TCamera::StaticClass()
{
    static const TClassInfo<TCamera> info("Platform.Controls3D", [](auto& c) {
        c.Property("AngleOfView", &TCamera::AngleOfView, &TCamera::SetAngleOfView, TValue::From(45.0f));
        c.Property("Target", &TCamera::Target, &TCamera::SetTarget);
    });
    return &info;
}

TCamera::TCamera(TComponent* AOwner) : TControl3D(AOwner)
{
    SetHitTest(false);
}

void TCamera::SetTarget(TControl3D* Value)
{
    if (FTarget == Value) return;
    if (FTarget) RemoveFreeNotification(FTarget);
    FTarget = Value;
    if (FTarget) FreeNotification(FTarget);
    Repaint();
}

void TCamera::SetAngleOfView(float Value)
{
    if (FAngleOfView == Value) return;
    FAngleOfView = Value;
    Repaint();
}

TMatrix3D TCamera::CameraMatrix() const
{
    if (FTarget) return TMatrix3D::CreateLookAtRH(AbsolutePosition(), FTarget->AbsolutePosition(), TPoint3D(0, -1, 0));
    return InvAbsoluteMatrix();
}

void TCamera::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl3D::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FTarget) FTarget = nullptr;
}

// ---------------------------------------------------------------- TLight

TClass TLight::StaticClass()
{
    static const TClassInfo<TLight> info("Platform.Controls3D", [](auto& c) {
        c.Property("Enabled", &TLight::Enabled, &TLight::SetEnabled, TValue::From(true));
        c.Property("LightType", &TLight::LightType, &TLight::SetLightType, TValue::From(TLightType::Point));
        c.Property("Color", &TLight::Color, &TLight::SetColor);
        c.Property("SpotCutOff", &TLight::SpotCutOff, &TLight::SetSpotCutOff, TValue::From(180.0f));
        c.Property("SpotExponent", &TLight::SpotExponent, &TLight::SetSpotExponent, TValue::From(0.0f));
    });
    return &info;
}

TLight::TLight(TComponent* AOwner) : TControl3D(AOwner)
{
    SetHitTest(false);
}

void TLight::SetEnabled(bool Value)
{
    FEnabled = Value;
    Repaint();
}

void TLight::SetLightType(TLightType Value)
{
    FLightType = Value;
    Repaint();
}

void TLight::SetColor(TAlphaColor Value)
{
    FColor = Value;
    Repaint();
}

void TLight::SetSpotCutOff(float Value)
{
    FSpotCutOff = Value;
    Repaint();
}

void TLight::SetSpotExponent(float Value)
{
    FSpotExponent = Value;
    Repaint();
}

TLightDescription TLight::LightDescription() const
{
    return TLightDescription::Create(FEnabled, FColor, FLightType, FSpotCutOff, FSpotExponent, AbsolutePosition(),
                                     AbsoluteDirection());
}

// ---------------------------------------------------------------- TProxyObject

KORVANE_IMPLEMENT_CLASS(TProxyObject, "Platform.Controls3D")

void TProxyObject::SetSourceObject(TControl3D* Value)
{
    if (FSourceObject == Value) return;
    for (const TTreeObject* p = this; p; p = p->Parent())
        if (p == Value) throw EInvalidOperation("A proxy cannot show itself or one of its parents");
    if (FSourceObject) RemoveFreeNotification(FSourceObject);
    FSourceObject = Value;
    if (FSourceObject) FreeNotification(FSourceObject);
    Repaint();
}

void TProxyObject::Render()
{
    // RenderInternal has set this node's matrix; the source draws with it.
    if (FSourceObject) FSourceObject->Render();
}

bool TProxyObject::DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection)
{
    return FSourceObject && FSourceObject->RayCastIntersect(RayPos, RayDir, Intersection);
}

void TProxyObject::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl3D::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FSourceObject) FSourceObject = nullptr;
}

KORVANE_IMPLEMENT_CLASS(TDummy, "Platform.Controls3D")

namespace units {
// The plain 3D classes a form resource can name (a rig of dummies holds cameras
// and lights in the demo's scene).
void PlatformControls3DInitialize() { RegisterClasses({TDummy::StaticClass(), TProxyObject::StaticClass()}); }
void PlatformControls3DFinalize()
{
    UnRegisterClass(TProxyObject::StaticClass());
    UnRegisterClass(TDummy::StaticClass());
}
} // namespace units

} // namespace korvane
