// The transform node: taking a matrix apart, the rotation properties, and the
// shared property keys of transform definitions.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "Korvane.DefTypes.h"
#include "Korvane.Transform.h"
#include "Korvane.Utils.Math.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

using test::MessageOf;
using test::NearPoint;
using test::Owned;

::testing::AssertionResult NearMatrix(const TMatrix3D& A, const TMatrix3D& B, float Tol = 1e-5f)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (std::fabs(A.M[i][j] - B.M[i][j]) > Tol)
                return ::testing::AssertionFailure() << "m" << i + 1 << j + 1 << ": " << A.M[i][j] << " vs "
                                                     << B.M[i][j];
    return ::testing::AssertionSuccess();
}

TMatrix3D Compose(const TPoint3D& AScale, const TMatrix3D& ARotation, const TPoint3D& APosition)
{
    return TMatrix3D::CreateScaling(AScale) * ARotation * TMatrix3D::CreateTranslation(APosition);
}

TEST(TransformMatrix, ScaleRotationAboutXAndTranslationComeApart)
{
    const TMatrix3D m = Compose({2, 2, 2}, TMatrix3D::CreateRotationX(DegToRad(90)), {1, 2, 3});
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    node->SetTransformMatrix(m);
    EXPECT_TRUE(NearPoint(node->Position().Point(), {1, 2, 3}));
    EXPECT_TRUE(NearPoint(node->Scale().Point(), {2, 2, 2}));
    EXPECT_TRUE(NearPoint(node->RotationAngle().Point(), {90, 0, 0}, 1e-4f));
    EXPECT_EQ(node->LocalMatrix(), m); // exactly the given matrix
    EXPECT_EQ(node->TransformMatrix(), m);
}

TEST(TransformMatrix, AnglesTakenFromAMatrixRebuildTheSameMatrix)
{
    // Setting the decomposed values again with notification must not turn the
    // node: the angles mean what RotationAngle means to the control.
    struct Case {
        TPoint3D Scale;
        TMatrix3D Rotation;
        TPoint3D Position;
    };
    const Case cases[] = {
        {{1, 1, 1}, TMatrix3D::CreateRotationY(DegToRad(90)), {0, 0, 0}},
        {{1, 2, 3}, TMatrix3D::CreateRotationZ(DegToRad(-45)), {4, 5, 6}},
        {{0.5f, 0.5f, 0.5f}, RotationAnglesToQuaternion({20, -35, 110}).ToMatrix3D(), {-7, 0, 2}},
        {{3, 3, 3}, TMatrix3D::CreateRotation({1, 1, 1}, 2.0f), {1, 1, 1}},
    };
    for (const Case& c : cases) {
        const TMatrix3D m = Compose(c.Scale, c.Rotation, c.Position);
        Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
        node->SetTransformMatrix(m);
        node->SetAngles(node->Angles());
        EXPECT_TRUE(NearMatrix(node->LocalMatrix(), m, 2e-5f * 8));
        // And the node's Rotation is the rotation of the matrix (up to sign).
        const TQuaternion3D q = TQuaternion3D::Create(c.Rotation);
        const TVector3D r = node->Rotation();
        const double dot = double(r.X) * q.ImagPart.X + double(r.Y) * q.ImagPart.Y + double(r.Z) * q.ImagPart.Z +
                           double(r.W) * q.RealPart;
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-5);
    }
}

TEST(TransformRotation, SettingAQuaternionKeepsItAndTurnsTheMatrix)
{
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    node->Position().SetPoint({1, 0, 0});
    const TQuaternion3D about = TQuaternion3D::Create(TPoint3D(0, 0, 1), DegToRad(90));
    // Not normalised: stored as given, the matrix uses its rotation.
    const TVector3D doubled(about.ImagPart.X * 2, about.ImagPart.Y * 2, about.ImagPart.Z * 2, about.RealPart * 2);
    node->SetRotation(doubled);
    EXPECT_EQ(node->Quaternion(), TQuaternion3D(TPoint3D(doubled.X, doubled.Y, doubled.Z), doubled.W));
    EXPECT_TRUE(NearPoint(node->RotationAngle().Point(), {0, 0, 90}, 1e-4f));
    EXPECT_TRUE(NearPoint(TPoint3D(1, 0, 0) * node->LocalMatrix(), {1, 1, 0}, 1e-5f));
    // Read back: the quaternion of the angles, here the normalised one.
    const TVector3D r = node->Rotation();
    EXPECT_NEAR(std::fabs(r.Z), std::fabs(about.ImagPart.Z), 1e-5);
    EXPECT_NEAR(std::fabs(r.W), std::fabs(about.RealPart), 1e-5);
}

TEST(TransformRotation, AnglesPropertyAndTheControlsOwnRotationAgree)
{
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    for (const TPoint3D& a : {TPoint3D(30, 0, 0), TPoint3D(0, 0, -60), TPoint3D(10, 20, 30)}) {
        node->SetAngles(a);
        EXPECT_TRUE(NearMatrix(node->LocalMatrix(), RotationAnglesToQuaternion(a).ToMatrix3D()));
        const TVector3D r = node->Rotation();
        EXPECT_TRUE(NearMatrix(TQuaternion3D(TPoint3D(r.X, r.Y, r.Z), r.W).ToMatrix3D(), node->LocalMatrix()));
    }
}

// ---------------------------------------------------------------- definitions

// Every shared key with a value that differs from the node's default.
void FillProperties(TProperties& P)
{
    P.AddOrSetValue("FrustumCullingCheck", TValue::From(false));
    P.AddOrSetValue("HitTest", TValue::From(true));
    P.AddOrSetValue("Locked", TValue::From(true));
    P.AddOrSetValue("Opaque", TValue::From(false));
    P.AddOrSetValue("Opacity", TValue::From(0.25f));
    P.AddOrSetValue("VisibleContextMenu", TValue::From(false));
    P.AddOrSetValue("TwoSide", TValue::From(true));
    P.AddOrSetValue("Visible", TValue::From(false));
    P.AddOrSetValue("ZWrite", TValue::From(false));
    P.AddOrSetValue("Projection", TValue::From(int32_t(TProjection::Screen)));
    P.AddOrSetValue("Cursor", TValue::From(int32_t(-21)));
    P.AddOrSetValue("DragMode", TValue::From(int32_t(TDragMode::dmAutomatic)));
    P.AddOrSetValue("Position", TValue::From(TPoint3D(1, 2, 3)));
    P.AddOrSetValue("Scale", TValue::From(TPoint3D(2, 2, 2)));
    P.AddOrSetValue("RotationAngle", TValue::From(TPoint3D(0, 0, 30)));
    P.AddOrSetValue("Width", TValue::From(4.0f));
    P.AddOrSetValue("Height", TValue::From(5.0f));
    P.AddOrSetValue("Depth", TValue::From(6.0f));
}

void ExpectLoaded(const TKorvaneTransform& N)
{
    EXPECT_FALSE(N.FrustumCullingCheck());
    EXPECT_TRUE(N.HitTest());
    EXPECT_TRUE(N.Locked());
    EXPECT_FALSE(N.Opaque());
    EXPECT_FLOAT_EQ(N.Opacity(), 0.25f);
    EXPECT_FALSE(N.VisibleContextMenu());
    EXPECT_TRUE(N.TwoSide());
    EXPECT_FALSE(N.Visible());
    EXPECT_FALSE(N.ZWrite());
    EXPECT_EQ(N.Projection(), TProjection::Screen);
    EXPECT_EQ(N.Cursor(), -21);
    EXPECT_EQ(N.DragMode(), TDragMode::dmAutomatic);
    EXPECT_EQ(N.Position().Point(), TPoint3D(1, 2, 3));
    EXPECT_EQ(N.Scale().Point(), TPoint3D(2, 2, 2));
    EXPECT_EQ(N.RotationAngle().Point(), TPoint3D(0, 0, 30));
    EXPECT_FLOAT_EQ(N.Width(), 4);
    EXPECT_FLOAT_EQ(N.Height(), 5);
    EXPECT_FLOAT_EQ(N.Depth(), 6);
    EXPECT_TRUE(NearMatrix(N.LocalMatrix(), Compose({2, 2, 2}, RotationAnglesToQuaternion({0, 0, 30}).ToMatrix3D(),
                                                    {1, 2, 3})));
}

TEST(TransformDefinition, PropertiesOverrideTheMatrixAndEveryKeyIsRead)
{
    TTransformDef def(nullptr);
    def.SetTransform(TMatrix3D::CreateTranslation({9, 9, 9}));
    FillProperties(def.Properties());
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    node->LoadFromDefinition(&def);
    EXPECT_EQ(node->Def(), &def);
    ExpectLoaded(*node);
}

TEST(TransformDefinition, AbsentKeysLeaveTheMatrixValues)
{
    TTransformDef def(nullptr);
    def.SetTransform(TMatrix3D::CreateTranslation({9, 8, 7}));
    def.Properties().AddOrSetValue("Width", TValue::From(3.0f));
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    node->LoadFromDefinition(&def);
    EXPECT_EQ(node->Position().Point(), TPoint3D(9, 8, 7));
    EXPECT_EQ(node->LocalMatrix(), TMatrix3D::CreateTranslation({9, 8, 7}));
    EXPECT_FLOAT_EQ(node->Width(), 3);
    EXPECT_FALSE(node->HitTest()); // the transform's own default
}

TEST(TransformDefinition, StoredNodeLoadsBackWithEveryKeyAlsoThroughJSON)
{
    TTransformDef source(nullptr);
    FillProperties(source.Properties());
    Owned<TKorvaneTransform> original(new TKorvaneTransform(nullptr));
    original->LoadFromDefinition(&source);

    TTransformDef stored(nullptr);
    original->StoreToDefinition(&stored);
    const char* keys[] = {"ExtendedClassName", "FrustumCullingCheck", "HitTest", "Locked", "Opaque", "Opacity",
                          "VisibleContextMenu", "TwoSide", "Visible", "ZWrite", "Projection", "Cursor", "DragMode",
                          "Position", "Scale", "RotationAngle", "Width", "Height", "Depth"};
    EXPECT_EQ(stored.Properties().Count(), int(std::size(keys)));
    for (const char* key : keys) EXPECT_TRUE(stored.Properties().ContainsKey(key)) << key;
    EXPECT_EQ(stored.Properties().Items("ExtendedClassName").AsString(), "Korvane.Transform.TKorvaneTransform");
    EXPECT_EQ(stored.Transform(), original->LocalMatrix());

    Owned<TKorvaneTransform> copy(new TKorvaneTransform(nullptr));
    copy->LoadFromDefinition(&stored);
    ExpectLoaded(*copy);

    // The definition's JSON form carries the same keys.
    std::unique_ptr<TJSONObject> json = stored.ToJSON();
    TTransformDef reread(nullptr);
    reread.FromJSON(nullptr, *json);
    Owned<TKorvaneTransform> fromJSON(new TKorvaneTransform(nullptr));
    fromJSON->LoadFromDefinition(&reread);
    ExpectLoaded(*fromJSON);
}

TEST(TransformDefinition, WrongDefinitionsAndValues)
{
    Owned<TKorvaneTransform> node(new TKorvaneTransform(nullptr));
    TCustomDef plain;
    EXPECT_EQ(MessageOf([&] { node->LoadFromDefinition(&plain); }), "unexpected definition - no transformdef submitted");
    EXPECT_EQ(MessageOf([&] { node->LoadFromDefinition(nullptr); }), "unexpected definition - no transformdef submitted");
    EXPECT_EQ(node->Def(), nullptr);
    node->StoreToDefinition(&plain); // ignored
    node->StoreToDefinition(nullptr);

    TTransformDef def(nullptr);
    def.Properties().AddOrSetValue("Visible", TValue::From(int32_t(1)));
    EXPECT_THROW(node->LoadFromDefinition(&def), EInvalidCast);
    EXPECT_THROW(node->LoadHierarchyFromDefinition(&def), EAbstractError);
}

TEST(TransformRegistration, TheClassIsKnownByItsQualifiedName)
{
    TClass cls = GetClass("Korvane.Transform.TKorvaneTransform");
    ASSERT_EQ(cls, TKorvaneTransform::StaticClass());
    Owned<TComponent> made(cls->CreateComponent(nullptr));
    auto* node = dynamic_cast<TKorvaneTransform*>(made.get());
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->HitTest());
    const TPropertyInfo* matrix = cls->FindProperty("TransformMatrix");
    ASSERT_NE(matrix, nullptr);
    matrix->SetValue(node, TValue::From(TMatrix3D::CreateTranslation({1, 2, 3})));
    EXPECT_EQ(node->Position().Point(), TPoint3D(1, 2, 3));
}

} // namespace
} // namespace korvane
