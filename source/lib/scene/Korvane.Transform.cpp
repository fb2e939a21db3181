#include "Korvane.Transform.h"

#include <string>

#include "Korvane.DefTypes.h"
#include "Korvane.Utils.Math.h"
#include "Platform.Rtti.h"
#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

namespace {

using T = TKorvaneTransform;

// One shared property key of a transform definition: how the node's value is
// read into a tagged value and how a stored value is put back. Keys without a
// setter are written only.
struct TPropertyKey {
    const char* Key;
    TValue (*Get)(const T& ANode);
    void (*Set)(T& ANode, const TValue& AValue);
};

float AsSingle(const TValue& V) { return float(V.AsExtended()); }

// In the order they are written and read.
const TPropertyKey PropertyKeys[] = {
    {"ExtendedClassName", [](const T& n) { return TValue::From(n.ClassType()->QualifiedClassName()); }, nullptr},
    {"FrustumCullingCheck", [](const T& n) { return TValue::From(n.FrustumCullingCheck()); },
     [](T& n, const TValue& v) { n.SetFrustumCullingCheck(v.AsBoolean()); }},
    {"HitTest", [](const T& n) { return TValue::From(n.HitTest()); },
     [](T& n, const TValue& v) { n.SetHitTest(v.AsBoolean()); }},
    {"Locked", [](const T& n) { return TValue::From(n.Locked()); },
     [](T& n, const TValue& v) { n.SetLocked(v.AsBoolean()); }},
    {"Opaque", [](const T& n) { return TValue::From(n.Opaque()); },
     [](T& n, const TValue& v) { n.SetOpaque(v.AsBoolean()); }},
    {"Opacity", [](const T& n) { return TValue::From(n.Opacity()); },
     [](T& n, const TValue& v) { n.SetOpacity(AsSingle(v)); }},
    {"VisibleContextMenu", [](const T& n) { return TValue::From(n.VisibleContextMenu()); },
     [](T& n, const TValue& v) { n.SetVisibleContextMenu(v.AsBoolean()); }},
    {"TwoSide", [](const T& n) { return TValue::From(n.TwoSide()); },
     [](T& n, const TValue& v) { n.SetTwoSide(v.AsBoolean()); }},
    {"Visible", [](const T& n) { return TValue::From(n.Visible()); },
     [](T& n, const TValue& v) { n.SetVisible(v.AsBoolean()); }},
    {"ZWrite", [](const T& n) { return TValue::From(n.ZWrite()); },
     [](T& n, const TValue& v) { n.SetZWrite(v.AsBoolean()); }},
    {"Projection", [](const T& n) { return TValue::From(int32_t(n.Projection())); },
     [](T& n, const TValue& v) { n.SetProjection(TProjection(v.AsInteger())); }},
    {"Cursor", [](const T& n) { return TValue::From(int32_t(n.Cursor())); },
     [](T& n, const TValue& v) { n.SetCursor(TCursor(v.AsInteger())); }},
    {"DragMode", [](const T& n) { return TValue::From(int32_t(n.DragMode())); },
     [](T& n, const TValue& v) { n.SetDragMode(TDragMode(v.AsInteger())); }},
    {"Position", [](const T& n) { return TValue::From(n.Position().Point()); },
     [](T& n, const TValue& v) { n.Position().SetPoint(v.AsType<TPoint3D>()); }},
    {"Scale", [](const T& n) { return TValue::From(n.Scale().Point()); },
     [](T& n, const TValue& v) { n.Scale().SetPoint(v.AsType<TPoint3D>()); }},
    {"RotationAngle", [](const T& n) { return TValue::From(n.RotationAngle().Point()); },
     [](T& n, const TValue& v) { n.RotationAngle().SetPoint(v.AsType<TPoint3D>()); }},
    {"Width", [](const T& n) { return TValue::From(n.Width()); },
     [](T& n, const TValue& v) { n.SetWidth(AsSingle(v)); }},
    {"Height", [](const T& n) { return TValue::From(n.Height()); },
     [](T& n, const TValue& v) { n.SetHeight(AsSingle(v)); }},
    {"Depth", [](const T& n) { return TValue::From(n.Depth()); },
     [](T& n, const TValue& v) { n.SetDepth(AsSingle(v)); }},
};

TTransformDef& AsTransformDef(TCustomDef* ADef)
{
    auto* def = dynamic_cast<TTransformDef*>(ADef);
    if (!def) throw EInvalidCast();
    return *def;
}

} // namespace

TClass TKorvaneTransform::StaticClass()
{
    static const TClassInfo<TKorvaneTransform> info("Korvane.Transform", [](auto& c) {
        c.Property("Rotation", &T::Rotation, &T::SetRotation);
        c.Property("Angles", &T::Angles, &T::SetAngles);
        c.Property("TransformMatrix", &T::TransformMatrix, &T::SetTransformMatrix);
    });
    return &info;
}

TKorvaneTransform::TKorvaneTransform(TComponent* AOwner) : TKorvaneControl(AOwner)
{
    SetHitTest(false);
}

TVector3D TKorvaneTransform::Rotation() const
{
    const TQuaternion3D q = EulerAnglesToQuaternion(RotationAngle().Point(), RotationAngleOrder);
    return TVector3D(q.ImagPart, q.RealPart);
}

void TKorvaneTransform::SetRotation(const TVector3D& Value)
{
    const TQuaternion3D q(TPoint3D(Value.X, Value.Y, Value.Z), Value.W);
    const TPoint3D angles = QuaternionToEulerAngles(q, RotationAngleOrder);
    SetQuaternion(q);
    RotationAngle().SetPointNoChange(angles);
    korvane::RebuildLocalMatrix(this);
}

void TKorvaneTransform::SetLocalTransformMatrix(const TMatrix3D& AMatrix)
{
    ApplyLocalMatrix(this, AMatrix, true, true, true, false);
    RebuildRenderingList();
    Repaint();
}

void TKorvaneTransform::LoadHierarchyFromDefinition(TCustomDef*)
{
    throw EAbstractError("Abstract Error");
}

void TKorvaneTransform::LoadPropertiesFromDefinition(TCustomDef* ADef)
{
    const TProperties& properties = AsTransformDef(ADef).Properties();
    TValue value;
    for (const TPropertyKey& key : PropertyKeys)
        if (key.Set && properties.TryGetValue(key.Key, value)) key.Set(*this, value);
}

void TKorvaneTransform::LoadFromDefinition(TCustomDef* ADef)
{
    auto* def = dynamic_cast<TTransformDef*>(ADef);
    if (!def) throw Exception("unexpected definition - no transformdef submitted");
    SetDef(def);
    SetLocalTransformMatrix(def->Transform());
    LoadPropertiesFromDefinition(def);
}

void TKorvaneTransform::StoreToDefinition(TCustomDef* ADef)
{
    auto* def = dynamic_cast<TTransformDef*>(ADef);
    if (!def) return;
    def->SetTransform(LocalMatrix());
    for (const TPropertyKey& key : PropertyKeys) def->Properties().AddOrSetValue(key.Key, key.Get(*this));
}

namespace units {

void TransformInitialize()
{
    RegisterClass<TKorvaneTransform>();
}

void TransformFinalize()
{
    UnRegisterClass(TKorvaneTransform::StaticClass());
}

} // namespace units

} // namespace korvane
