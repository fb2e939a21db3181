// The 3D control tree: parents and children, change-notifying points, local
// and absolute matrices, size-box ray tests, hit tests, cameras, lights and
// proxies.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Platform.Controls3D.h"
#include "Platform.Tree.h"
#include "Platform.Types3D.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

using test::NearPoint;

constexpr float Rad90 = 1.5707963267948966f;

::testing::AssertionResult NearMatrix(const TMatrix3D& A, const TMatrix3D& B, float Tol = 1e-5f)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (std::fabs(A.M[i][j] - B.M[i][j]) > Tol)
                return ::testing::AssertionFailure() << "m" << i + 1 << j + 1 << ": " << A.M[i][j] << " vs "
                                                     << B.M[i][j];
    return ::testing::AssertionSuccess();
}

// A host of a scene for the tests: a tree object with a context and a camera.
class TTestViewport : public TTreeObject, public IViewport3D {
public:
    explicit TTestViewport(TComponent* AOwner) : TTreeObject(AOwner) {}
    TTreeObject* GetObject() override { return this; }
    TContext3D* GetContext() override { return Context; }
    TCamera* GetCurrentCamera() override { return Camera; }
    TPointF ScreenToLocal(const TPointF& P) override { return P - Origin; }
    void NeedRender() override { ++RenderRequests; }

    TContext3D* Context = nullptr;
    TCamera* Camera = nullptr;
    TPointF Origin;
    int RenderRequests = 0;
};

// ---------------------------------------------------------------- tree

TEST(TreeObject, ChildrenKeepTheirOrderAndMoveBetweenParents)
{
    test::Owned<TTreeObject> a(new TTreeObject(nullptr)), b(new TTreeObject(nullptr));
    auto* x = new TTreeObject(nullptr);
    auto* y = new TTreeObject(nullptr);
    auto* z = new TTreeObject(nullptr);
    a->AddObject(x);
    a->AddObject(y);
    a->InsertObject(0, z);
    EXPECT_EQ(a->ChildList(), (std::vector<TTreeObject*>{z, x, y}));
    x->SetParent(b.get());
    EXPECT_EQ(a->ChildList(), (std::vector<TTreeObject*>{z, y}));
    EXPECT_EQ(b->ChildList(), (std::vector<TTreeObject*>{x}));
    EXPECT_EQ(x->Parent(), b.get());
    a->RemoveObject(y);
    EXPECT_EQ(y->Parent(), nullptr);
    EXPECT_EQ(a->IndexOfChild(y), -1);
    y->Free();
}

TEST(TreeObject, CyclesAreRefused)
{
    test::Owned<TTreeObject> a(new TTreeObject(nullptr));
    auto* b = new TTreeObject(nullptr);
    auto* c = new TTreeObject(nullptr);
    a->AddObject(b);
    b->AddObject(c);
    EXPECT_THROW(c->AddObject(a.get()), EInvalidOperation);
    EXPECT_THROW(b->SetParent(b), EInvalidOperation);
    EXPECT_EQ(c->Parent(), b);
    EXPECT_EQ(a->Parent(), nullptr);
}

TEST(TreeObject, FreeingAParentFreesItsChildrenAndAChildLeavesItsParent)
{
    // Under ASan: the children (owned elsewhere or not at all) are freed once.
    test::Owned<TComponent> owner(new TComponent(nullptr));
    auto* parent = new TTreeObject(owner.get());
    auto* owned = new TTreeObject(owner.get());
    auto* loose = new TTreeObject(nullptr);
    parent->AddObject(owned);
    parent->AddObject(loose);
    loose->Free();
    EXPECT_EQ(parent->ChildList(), (std::vector<TTreeObject*>{owned}));
    parent->Free();
    EXPECT_EQ(owner->ComponentCount(), 0);
}

// ---------------------------------------------------------------- TPosition3D

TEST(Position3D, AxisEventsFallBackToTheWholeEventAndNoChangeSettersStaySilent)
{
    TPosition3D p(TPoint3D(1, 1, 1));
    std::vector<std::string> calls;
    p.OnChange = [&](TObject*) { calls.push_back("all"); };
    p.OnChangeY = [&](TObject*) { calls.push_back("y"); };
    p.SetX(2);
    p.SetY(3);
    p.SetY(3); // unchanged: no event
    p.SetPoint(TPoint3D(4, 5, 6));
    p.SetPointNoChange(TPoint3D(7, 8, 9));
    EXPECT_EQ(calls, (std::vector<std::string>{"all", "y", "all"}));
    EXPECT_EQ(p.Point(), TPoint3D(7, 8, 9));
    EXPECT_EQ(p.DefaultValue(), TPoint3D(1, 1, 1));
}

// ---------------------------------------------------------------- matrices

TEST(Math3DRotationAngles, TurnAboutXThenYThenZ)
{
    const TPoint3D cases[] = {{90, 0, 0}, {0, 90, 0}, {0, 0, 90}, {30, 45, 60}, {-120, 10, 200}};
    for (const TPoint3D& a : cases) {
        const TMatrix3D expected = TMatrix3D::CreateRotationX(DegToRad(a.X)) * TMatrix3D::CreateRotationY(DegToRad(a.Y)) *
                                   TMatrix3D::CreateRotationZ(DegToRad(a.Z));
        EXPECT_TRUE(NearMatrix(RotationAnglesToQuaternion(a).ToMatrix3D(), expected))
            << a.X << ", " << a.Y << ", " << a.Z;
    }
    // 90 degrees about X takes +Y to +Z (right-handed).
    EXPECT_TRUE(NearPoint(TPoint3D(0, 1, 0) * RotationAnglesToQuaternion({90, 0, 0}).ToMatrix3D(), {0, 0, 1}));
}

TEST(Control3DMatrix, LocalMatrixIsScaleThenRotationThenTranslation)
{
    struct Case {
        TPoint3D Scale, Angles, Position;
    };
    const Case cases[] = {
        {{1, 1, 1}, {0, 0, 0}, {0, 0, 0}},
        {{2, 3, 4}, {0, 0, 0}, {0, 0, 0}},
        {{1, 1, 1}, {0, 0, 90}, {5, 6, 7}},
        {{2, 1, 0.5f}, {30, 45, 60}, {-1, 2, -3}},
    };
    for (const Case& c : cases) {
        test::Owned<TControl3D> n(new TControl3D(nullptr));
        n->Scale().SetPoint(c.Scale);
        n->RotationAngle().SetPoint(c.Angles);
        n->Position().SetPoint(c.Position);
        const TMatrix3D expected = TMatrix3D::CreateScaling(c.Scale) * RotationAnglesToQuaternion(c.Angles).ToMatrix3D() *
                                   TMatrix3D::CreateTranslation(c.Position);
        EXPECT_TRUE(NearMatrix(n->LocalMatrix(), expected));
        // A point of the node's space lands where the three steps put it.
        const TPoint3D p(1, 2, 3);
        const TPoint3D scaled(p.X * c.Scale.X, p.Y * c.Scale.Y, p.Z * c.Scale.Z);
        EXPECT_TRUE(NearPoint(p * n->LocalMatrix(),
                              scaled * RotationAnglesToQuaternion(c.Angles).ToMatrix3D() + c.Position, 1e-4f));
    }
}

TEST(Control3DMatrix, NearlyNeutralScaleAndPositionAreLeftOut)
{
    test::Owned<TControl3D> n(new TControl3D(nullptr));
    n->RotationAngle().SetPoint({0, 0, 90});
    const TMatrix3D rotation = n->LocalMatrix();
    n->Scale().SetPoint({1.00005f, 1, 0.99995f});
    n->Position().SetPoint({0.0005f, 0, -0.0005f});
    EXPECT_EQ(n->LocalMatrix(), rotation); // exactly: no factor was multiplied in
    n->Position().SetPoint({0.002f, 0, 0});
    EXPECT_FLOAT_EQ(n->LocalMatrix().m41, 0.002f);
}

TEST(Control3DMatrix, AbsoluteMatrixFollowsTheParentChain)
{
    struct Case {
        const char* Name;
        TPoint3D ParentAngles, ParentPosition, ChildPosition;
        TPoint3D ChildOriginInWorld;
    };
    // Worked by hand: the child's origin is turned by the parent, then moved.
    const Case cases[] = {
        {"translated", {0, 0, 0}, {10, 0, 0}, {1, 2, 3}, {11, 2, 3}},
        {"turned 90 about Z", {0, 0, 90}, {10, 0, 0}, {1, 0, 0}, {10, 1, 0}},
        {"turned 90 about X", {90, 0, 0}, {0, 5, 0}, {0, 1, 0}, {0, 5, 1}},
        {"turned 180 about Y", {0, 180, 0}, {0, 0, 0}, {1, 0, 2}, {-1, 0, -2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        test::Owned<TControl3D> parent(new TControl3D(nullptr));
        auto* child = new TControl3D(nullptr);
        parent->AddObject(child);
        parent->RotationAngle().SetPoint(c.ParentAngles);
        parent->Position().SetPoint(c.ParentPosition);
        child->Position().SetPoint(c.ChildPosition);
        EXPECT_TRUE(NearPoint(child->AbsolutePosition(), c.ChildOriginInWorld, 1e-4f));
        EXPECT_TRUE(NearMatrix(child->AbsoluteMatrix(), child->LocalMatrix() * parent->LocalMatrix()));
        EXPECT_TRUE(NearPoint(child->AbsoluteToLocal(c.ChildOriginInWorld), {0, 0, 0}, 1e-4f));
        // The parent moves: the child's cached matrix follows.
        parent->Position().SetPoint(c.ParentPosition + TPoint3D(0, 0, 100));
        EXPECT_TRUE(NearPoint(child->AbsolutePosition(), c.ChildOriginInWorld + TPoint3D(0, 0, 100), 1e-4f));
    }
}

TEST(Control3DMatrix, ReparentingRecomputesTheAbsoluteMatrix)
{
    test::Owned<TControl3D> a(new TControl3D(nullptr)), b(new TControl3D(nullptr));
    a->Position().SetPoint({1, 0, 0});
    b->Position().SetPoint({0, 1, 0});
    auto* child = new TControl3D(nullptr);
    a->AddObject(child);
    EXPECT_TRUE(NearPoint(child->AbsolutePosition(), {1, 0, 0}));
    b->AddObject(child);
    EXPECT_TRUE(NearPoint(child->AbsolutePosition(), {0, 1, 0}));
    b->RemoveObject(child);
    EXPECT_TRUE(NearPoint(child->AbsolutePosition(), {0, 0, 0}));
    child->Free();
}

TEST(Control3DMatrix, ResetRotationAngleClearsQuaternionAndAngles)
{
    test::Owned<TControl3D> n(new TControl3D(nullptr));
    n->RotationAngle().SetPoint({10, 20, 30});
    n->ResetRotationAngle();
    EXPECT_EQ(n->RotationAngle().Point(), TPoint3D());
    EXPECT_EQ(n->Quaternion(), TQuaternion3D::Identity());
    EXPECT_TRUE(NearMatrix(n->LocalMatrix(), TMatrix3D::Identity()));
}

// ---------------------------------------------------------------- looks and opacity

TEST(Control3D, OpacityIsClampedAndMultipliedDownTheChain)
{
    test::Owned<TControl3D> parent(new TControl3D(nullptr));
    auto* child = new TControl3D(nullptr);
    parent->AddObject(child);
    parent->SetOpacity(0.5f);
    child->SetOpacity(2);
    EXPECT_FLOAT_EQ(child->Opacity(), 1);
    EXPECT_FLOAT_EQ(child->AbsoluteOpacity(), 0.5f);
    child->SetOpacity(-1);
    EXPECT_FLOAT_EQ(child->AbsoluteOpacity(), 0);
}

TEST(Control3D, RenderingListPutsOpaqueChildrenFirst)
{
    test::Owned<TControl3D> parent(new TControl3D(nullptr));
    auto* a = new TControl3D(nullptr);
    auto* b = new TControl3D(nullptr);
    auto* c = new TControl3D(nullptr);
    parent->AddObject(a);
    parent->AddObject(b);
    parent->AddObject(c);
    b->SetOpaque(true);
    EXPECT_EQ(parent->RenderingList(), (std::vector<TControl3D*>{b, a, c}));
    c->Free();
    EXPECT_EQ(parent->RenderingList(), (std::vector<TControl3D*>{b, a}));
}

// ---------------------------------------------------------------- ray tests

TEST(Control3DRayCast, SizeBoxIsHitAtItsEntryPoint)
{
    struct Case {
        const char* Name;
        TPoint3D Pos, Dir;
        bool Hit;
        TPoint3D At;
    };
    // A box 2 x 4 x 6 around the origin.
    const Case cases[] = {
        {"from -Z", {0, 0, -10}, {0, 0, 1}, true, {0, 0, -3}},
        {"from +X, off centre", {5, 1.5f, 2}, {-1, 0, 0}, true, {1, 1.5f, 2}},
        {"passes beside", {5, 3, 0}, {-1, 0, 0}, false, {}},
        {"points away", {0, 0, -10}, {0, 0, -1}, false, {}},
        {"starts inside", {0.5f, 0, 0}, {0, 1, 0}, true, {0.5f, 0, 0}},
    };
    test::Owned<TControl3D> n(new TControl3D(nullptr));
    n->SetSize(2, 4, 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPoint3D at(99, 99, 99);
        EXPECT_EQ(n->RayCastIntersect(c.Pos, c.Dir, at), c.Hit);
        if (c.Hit) {
            EXPECT_TRUE(NearPoint(at, c.At));
        }
    }
}

struct HitTestScene : ::testing::Test {
    void SetUp() override
    {
        context.reset(new TContext3D());
        context->SetSize(100, 100);
        viewport.reset(new TTestViewport(nullptr));
        viewport->Context = context.get();
        camera = new TCamera(nullptr);
        viewport->AddObject(camera);
        viewport->Camera = camera;
        GlobalProjection = TProjection::Camera;
        GlobalDistance = MaxHitDistance;
    }
    TControl3D* AddBox(TTreeObject* AParent, const TPoint3D& APosition)
    {
        auto* box = new TControl3D(nullptr);
        AParent->AddObject(box);
        box->Position().SetPoint(APosition);
        return box;
    }
    test::Owned<TContext3D> context;
    test::Owned<TTestViewport> viewport;
    TCamera* camera = nullptr;
};

TEST_F(HitTestScene, NearestObjectOnThePickRayWins)
{
    // With identity camera and projection the centre pixel looks along +Z.
    TControl3D* far = AddBox(viewport.get(), {0, 0, 8});
    TControl3D* nearBox = AddBox(viewport.get(), {0, 0, 4});
    TControl3D* root = AddBox(viewport.get(), {0, 0, -50}); // behind the camera: never hit
    root->AddObject(far);
    root->AddObject(nearBox);
    far->Position().SetPoint({0, 0, 58});
    nearBox->Position().SetPoint({0, 0, 54});
    EXPECT_EQ(root->ObjectAtPoint({50, 50}), nearBox);
    EXPECT_FLOAT_EQ(GlobalDistance, 3.5f);

    GlobalDistance = MaxHitDistance;
    nearBox->SetHitTest(false);
    EXPECT_EQ(root->ObjectAtPoint({50, 50}), far);
    GlobalDistance = MaxHitDistance;
    EXPECT_EQ(root->ObjectAtPoint({5, 5}), nullptr); // the ray misses both
}

TEST_F(HitTestScene, HitAtPointHandsBackTheRayAndTheWorldHit)
{
    viewport->Origin = {10, 20};
    TControl3D* box = AddBox(viewport.get(), {0, 0, 5});
    box->RotationAngle().SetPoint({0, 0, 45});
    TVector3D pos, dir;
    TPoint3D hit;
    ASSERT_TRUE(box->HitAtPoint({60, 70}, pos, dir, hit)); // the centre pixel once made local
    EXPECT_TRUE(NearPoint(pos.ToPoint3D(), {0, 0, 0}));
    EXPECT_TRUE(NearPoint(dir.ToPoint3D(), {0, 0, 1}));
    EXPECT_TRUE(NearPoint(hit, {0, 0, 4.5f}));
    box->SetProjection(TProjection::Screen); // not the projection of this test
    EXPECT_FALSE(box->HitAtPoint({60, 70}, pos, dir, hit));
}

// ---------------------------------------------------------------- viewport, camera, light, proxy

TEST_F(HitTestScene, ChangesAskTheViewportToRenderAndContextIsFoundUpTheChain)
{
    TControl3D* box = AddBox(viewport.get(), {});
    auto* inner = new TControl3D(nullptr);
    box->AddObject(inner);
    EXPECT_EQ(inner->Context(), context.get());
    const int before = viewport->RenderRequests;
    inner->Position().SetX(3);
    inner->SetVisible(false);
    EXPECT_EQ(viewport->RenderRequests, before + 2);
    test::Owned<TControl3D> alone(new TControl3D(nullptr));
    EXPECT_EQ(alone->Context(), nullptr);
}

TEST_F(HitTestScene, RenderInternalDrawsVisibleNodesWithTheirAbsoluteMatrix)
{
    TControl3D* box = AddBox(viewport.get(), {1, 2, 3});
    auto* child = new TControl3D(nullptr);
    box->AddObject(child);
    child->Position().SetPoint({0, 0, 1});
    std::vector<TMatrix3D> seen;
    auto record = [&](TObject*, TContext3D* ctx) { seen.push_back(ctx->CurrentMatrix()); };
    box->OnRender = record;
    child->OnRender = record;
    box->RenderInternal();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(NearMatrix(seen[0], box->AbsoluteMatrix()));
    EXPECT_TRUE(NearMatrix(seen[1], child->AbsoluteMatrix()));
    child->SetVisible(false);
    seen.clear();
    box->RenderInternal();
    EXPECT_EQ(seen.size(), 1u);
}

TEST(Camera, ViewMatrixWithAndWithoutTarget)
{
    test::Owned<TCamera> camera(new TCamera(nullptr));
    camera->Position().SetPoint({0, 0, 10});
    // Without a target: the inverse of the node's matrix.
    EXPECT_TRUE(NearPoint(TPoint3D(0, 0, 10) * camera->CameraMatrix(), {0, 0, 0}));
    auto* target = new TDummy(nullptr);
    target->Position().SetPoint({0, 0, -5});
    camera->SetTarget(target);
    // With a target: the target lies straight ahead, along the view's -Z.
    const TPoint3D inView = TPoint3D(0, 0, -5) * camera->CameraMatrix();
    EXPECT_TRUE(NearPoint(inView, {0, 0, -15}, 1e-4f));
    target->Free();
    EXPECT_EQ(camera->Target(), nullptr);
}

TEST(Light, DescriptionTakesPositionAndDirectionFromTheNode)
{
    test::Owned<TLight> light(new TLight(nullptr));
    light->SetLightType(TLightType::Spot);
    light->Position().SetPoint({1, 2, 3});
    light->RotationAngle().SetPoint({0, 90, 0}); // the node's +Z turns to +X
    const TLightDescription d = light->LightDescription();
    EXPECT_EQ(d.LightType, TLightType::Spot);
    EXPECT_TRUE(NearPoint(d.Position, {1, 2, 3}));
    EXPECT_TRUE(NearPoint(d.Direction, {1, 0, 0}));
}

TEST(ProxyObject, ShowsItsSourceUntilTheSourceIsFreed)
{
    test::Owned<TProxyObject> proxy(new TProxyObject(nullptr));
    auto* source = new TControl3D(nullptr);
    source->SetSize(2, 2, 2);
    proxy->SetSourceObject(source);
    TPoint3D hit;
    EXPECT_TRUE(proxy->RayCastIntersect({0, 0, -5}, {0, 0, 1}, hit));
    EXPECT_TRUE(NearPoint(hit, {0, 0, -1}));
    source->Free();
    EXPECT_EQ(proxy->SourceObject(), nullptr);
    EXPECT_FALSE(proxy->RayCastIntersect({0, 0, -5}, {0, 0, 1}, hit));
    EXPECT_THROW(proxy->SetSourceObject(proxy.get()), EInvalidOperation);
    auto* inner = new TProxyObject(nullptr);
    proxy->AddObject(inner);
    EXPECT_THROW(inner->SetSourceObject(proxy.get()), EInvalidOperation);
}

} // namespace
} // namespace korvane
