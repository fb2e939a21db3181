// The mesh node without drawing: the primitives' geometry, the mesh matrix of
// each wrap mode, the instance cache, opacity, vertices and sub-meshes.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Korvane.Cube.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.Mesh.h"
#include "Korvane.Plane.h"
#include "TestHelpers.h"

using namespace korvane;
using test::MessageOf;
using test::Owned;

namespace {

void ExpectNear(const TPoint3D& AActual, const TPoint3D& AExpected, const std::string& AWhat, float ATolerance = 1e-4f)
{
    EXPECT_NEAR(AActual.X, AExpected.X, ATolerance) << AWhat;
    EXPECT_NEAR(AActual.Y, AExpected.Y, ATolerance) << AWhat;
    EXPECT_NEAR(AActual.Z, AExpected.Z, ATolerance) << AWhat;
}

void ExpectMatrixNear(const TMatrix3D& A, const TMatrix3D& B, const std::string& AWhat)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(A.M[r][c], B.M[r][c], 1e-4f) << AWhat << " at " << r << "," << c;
}

// The geometry a primitive moved into its definition.
struct TCounts {
    int Vertices, Indices;
};

template <class TPrimitive>
TCounts CountsOf(TPrimitive& AMesh)
{
    TMeshDef* def = AMesh.MeshDef();
    if (!def || !def->VertexSource() || !def->IndexSource()) return {-1, -1};
    return {def->VertexSource()->Length(), def->IndexSource()->Length()};
}

} // namespace

// ---------------------------------------------------------------- primitives

TEST(Primitives, CubeAndPlaneCountsFollowTheSubdivisions)
{
    struct TCase {
        int W, H, D;
        int Vertices, Indices;
    };
    const TCase cubes[] = {{1, 1, 1, 24, 36}, {2, 3, 4, 208, 312}, {0, -3, 1, 24, 36}};
    for (const TCase& c : cubes) {
        Owned<TKorvaneCube> cube(new TKorvaneCube(nullptr));
        cube->SetSubdivisionsWidth(c.W);
        cube->SetSubdivisionsHeight(c.H);
        cube->SetSubdivisionsDepth(c.D);
        const TCounts counts = CountsOf(*cube);
        EXPECT_EQ(counts.Vertices, c.Vertices) << c.W << "x" << c.H << "x" << c.D;
        EXPECT_EQ(counts.Indices, c.Indices) << c.W << "x" << c.H << "x" << c.D;
        EXPECT_GE(cube->SubdivisionsHeight(), 1);
        // The geometry lives in the definition only.
        EXPECT_EQ(cube->MeshData().VertexBuffer().Length(), 0);
        EXPECT_TRUE(cube->IsStatic());
    }
    const TCase planes[] = {{1, 1, 0, 8, 12}, {4, 2, 0, 30, 96}, {0, 0, 0, 8, 12}, {-2, 1, 0, 8, 12}};
    for (const TCase& c : planes) {
        Owned<TKorvanePlane> plane(new TKorvanePlane(nullptr));
        plane->SetSubdivisionsWidth(c.W);
        plane->SetSubdivisionsHeight(c.H);
        const TCounts counts = CountsOf(*plane);
        EXPECT_EQ(counts.Vertices, c.Vertices) << c.W << "x" << c.H;
        EXPECT_EQ(counts.Indices, c.Indices) << c.W << "x" << c.H;
        EXPECT_EQ(plane->SubdivisionsWidth(), c.W <= 0 ? 1 : c.W);
    }
}

TEST(Primitives, CubeIndicesStayInsideTheVerticesAndEveryFaceKeepsItsNormal)
{
    Owned<TKorvaneCube> cube(new TKorvaneCube(nullptr));
    cube->SetSubdivisionsWidth(2);
    cube->SetSubdivisionsDepth(3);
    TMeshDef* def = cube->MeshDef();
    const TVertexBuffer& vb = *def->VertexSource();
    const TIndexBuffer& ib = *def->IndexSource();
    for (int32_t i = 0; i < ib.Length(); ++i) ASSERT_LT(ib.Indices(i), uint32_t(vb.Length())) << i;
    // Every vertex lies on the face its normal names.
    for (int32_t v = 0; v < vb.Length(); ++v) {
        const TPoint3D p = vb.Vertices(v), n = vb.Normals(v);
        EXPECT_NEAR(p.DotProduct(n), 0.5f, 1e-5f) << v;
    }
    const TBoundingBox box = def->GetBoundingBox();
    ExpectNear(box.MinPoint(), TPoint3D(-0.5f, -0.5f, -0.5f), "cube min");
    ExpectNear(box.MaxPoint(), TPoint3D(0.5f, 0.5f, 0.5f), "cube max");
}

TEST(Primitives, PlaneFrontFacesMinusZWithTextureOriginAtItsLowCorner)
{
    Owned<TKorvanePlane> plane(new TKorvanePlane(nullptr));
    plane->SetSubdivisionsWidth(2);
    TMeshDef* def = plane->MeshDef();
    const TVertexBuffer& vb = *def->VertexSource();
    ExpectNear(vb.Vertices(0), TPoint3D(-0.5f, -0.5f, 0), "vertex 0");
    EXPECT_EQ(vb.TexCoord0(0), TPointF(0, 0));
    ExpectNear(vb.Normals(0), TPoint3D(0, 0, -1), "front normal");
    const int32_t n = vb.Length() / 2;
    ExpectNear(vb.Normals(n), TPoint3D(0, 0, 1), "back normal");
    // The winding agrees with the stored normals: the first half of the
    // triangles faces -Z, the second +Z.
    def->CalcFaceNormals(false, false);
    const std::vector<TPoint3D>& faces = def->FaceNormals();
    ASSERT_EQ(faces.size(), 8u);
    for (size_t t = 0; t < 4; ++t) ExpectNear(faces[t], TPoint3D(0, 0, -1), "front triangle " + std::to_string(t));
    for (size_t t = 4; t < 8; ++t) ExpectNear(faces[t], TPoint3D(0, 0, 1), "back triangle " + std::to_string(t));
}

TEST(Primitives, WidthScalesThePlaneThroughTheMeshMatrixOnly)
{
    Owned<TKorvanePlane> plane(new TKorvanePlane(nullptr));
    const std::vector<TPoint3D> before = plane->MeshDef()->GetVertexPositions();
    plane->SetWidth(3);
    EXPECT_EQ(plane->MeshDef()->GetVertexPositions(), before);
    ExpectNear(TPoint3D(0.5f, 0.5f, 0) * plane->GetMeshMatrix(), TPoint3D(1.5f, 0.5f, 0), "corner");
}

// ---------------------------------------------------------------- mesh matrix

TEST(MeshMatrix, EachWrapModeMapsTheDataBoxIntoTheNodeBox)
{
    struct TCase {
        const char* Name;
        TMeshWrapMode Mode;
        TPoint3D DataMin, DataMax;
        TPoint3D Size;
        TPoint3D ExpectedMin, ExpectedMax;
    };
    const TCase cases[] = {
        {"original scales unit data", TMeshWrapMode::Original, {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}, {50, 50, 1},
         {-25, -25, -0.5f}, {25, 25, 0.5f}},
        {"resize draws unscaled", TMeshWrapMode::Resize, {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}, {50, 50, 1},
         {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}},
        {"stretch keeps the flat axis and centres it", TMeshWrapMode::Stretch, {0, 0, 0}, {2, 4, 0}, {4, 2, 3},
         {-2, -1, -1.5f}, {2, 1, -1.5f}},
        {"fit scales up keeping proportions", TMeshWrapMode::Fit, {0, 0, 0}, {2, 1, 1}, {4, 4, 4}, {-2, -1, -1},
         {2, 1, 1}},
        {"fit scales down to the narrowest axis", TMeshWrapMode::Fit, {-1, -1, -1}, {1, 1, 1}, {1, 2, 4},
         {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}},
    };
    for (const TCase& c : cases) {
        Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
        TVertexBuffer& vb = mesh->MeshData().VertexBuffer();
        vb.SetLength(2);
        vb.SetVertices(0, c.DataMin);
        vb.SetVertices(1, c.DataMax);
        mesh->SetSize(c.Size.X, c.Size.Y, c.Size.Z);
        mesh->SetWrapMode(c.Mode);
        const TMatrix3D m = mesh->GetMeshMatrix();
        ExpectNear(c.DataMin * m, c.ExpectedMin, std::string(c.Name) + ": min");
        ExpectNear(c.DataMax * m, c.ExpectedMax, std::string(c.Name) + ": max");
    }
}

TEST(MeshMatrix, AnInvertedOrEmptyBoxGivesTheIdentity)
{
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    mesh->SetSize(5, 5, 5);
    // No vertices: the box is the empty one at the origin, which Fit cannot scale.
    mesh->SetWrapMode(TMeshWrapMode::Fit);
    ExpectMatrixNear(mesh->GetMeshMatrix(), TMatrix3D::Identity(), "empty fit");
}

TEST(MeshMatrix, SubMeshesTakeTheWrapModeAndTheBoundingBoxUnitesThem)
{
    Owned<TKorvaneMesh> parent(new TKorvaneMesh(nullptr));
    auto* child = new TKorvaneMesh(parent.get());
    child->SetParent(parent.get());
    ASSERT_EQ(parent->Meshes().size(), 1u);
    EXPECT_EQ(parent->Meshes()[0], child);
    parent->SetWrapMode(TMeshWrapMode::Resize);
    EXPECT_EQ(child->WrapMode(), TMeshWrapMode::Resize);

    TVertexBuffer& pv = parent->MeshData().VertexBuffer();
    pv.SetLength(2);
    pv.SetVertices(0, TPoint3D(0, 0, 0));
    pv.SetVertices(1, TPoint3D(1, 1, 1));
    TVertexBuffer& cv = child->MeshData().VertexBuffer();
    cv.SetLength(2);
    cv.SetVertices(0, TPoint3D(-2, 0, 0));
    cv.SetVertices(1, TPoint3D(0, 3, 0.5f));
    const TBoundingBox box = parent->GetBoundingBox();
    ExpectNear(box.MinPoint(), TPoint3D(-2, 0, 0), "united min");
    ExpectNear(box.MaxPoint(), TPoint3D(1, 3, 1), "united max");

    // A freed sub-mesh leaves its parent's list (the parent would draw it otherwise).
    child->Free();
    EXPECT_TRUE(parent->Meshes().empty());
    ExpectNear(parent->GetBoundingBox().MinPoint(), TPoint3D(0, 0, 0), "own min");
}

// ---------------------------------------------------------------- instances

TEST(MeshInstances, TheCacheFollowsItemsAndRawInstances)
{
    const TMatrix3D a = TMatrix3D::CreateTranslation(TPoint3D(1, 2, 3));
    const TMatrix3D b = TMatrix3D::CreateScaling(TPoint3D(2, 2, 2));
    const TMatrix3D c = TMatrix3D::CreateTranslation(TPoint3D(-4, 0, 0));
    const TMatrix3D I = TMatrix3D::Identity();
    struct TCase {
        const char* Name;
        std::function<void(TKorvaneMesh&)> Act;
        std::vector<TMatrix3D> Expected;
    };
    const TCase cases[] = {
        {"no instances draws once", [](TKorvaneMesh&) {}, {I}},
        {"two items follow the mesh's own element",
         [&](TKorvaneMesh& m) {
             m.AddInstanceItem("a", a);
             m.AddInstanceItem("b", b);
         },
         {I, a, b}},
        {"a raw instance on an empty cache is element 1",
         [&](TKorvaneMesh& m) { EXPECT_EQ(m.AddInstance(a), 1); },
         {I, a}},
        {"an item added afterwards rebuilds from the items",
         [&](TKorvaneMesh& m) {
             m.AddInstance(a);
             EXPECT_EQ(m.AddInstanceItem("b", b), 0);
         },
         {I, b}},
        {"deleting element 0 of raw instances resets it",
         [&](TKorvaneMesh& m) {
             m.AddInstance(a);
             m.SetInstance(0, c);
             EXPECT_TRUE(m.Instances()->DeleteInstance(0));
         },
         {I, a}},
        {"deleting a raw element removes it",
         [&](TKorvaneMesh& m) {
             m.AddInstance(a);
             m.AddInstance(b);
             EXPECT_TRUE(m.Instances()->DeleteInstance(1));
             EXPECT_FALSE(m.Instances()->DeleteInstance(2));
         },
         {I, b}},
        {"deleting an item rebuilds",
         [&](TKorvaneMesh& m) {
             m.AddInstanceItem("a", a);
             m.AddInstanceItem("b", b);
             EXPECT_TRUE(m.DeleteInstance(0));
             EXPECT_FALSE(m.DeleteInstance(1));
         },
         {I, b}},
        {"clearing leaves the mesh alone",
         [&](TKorvaneMesh& m) {
             m.AddInstanceItem("a", a);
             m.ClearInstances();
         },
         {I}},
    };
    for (const TCase& tc : cases) {
        Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
        tc.Act(*mesh);
        TKorvaneMeshInstances* instances = mesh->Instances();
        ASSERT_EQ(instances->CachedInstancesCount(), int(tc.Expected.size())) << tc.Name;
        for (size_t i = 0; i < tc.Expected.size(); ++i)
            ExpectMatrixNear(instances->GetInstance(int(i)), tc.Expected[i], std::string(tc.Name) + " #" + std::to_string(i));
    }
}

TEST(MeshInstances, ItemPartsComposeTheMatrixAndRotationsWrapAround)
{
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    TKorvaneMeshInstance* item = mesh->AddInstanceItem("one");
    EXPECT_EQ(item->DisplayName(), "one");
    item->Scale().SetPoint(TPoint3D(2, 1, 1));
    item->Position().SetPoint(TPoint3D(0, 5, 0));
    item->RotationAngle().SetX(370);
    EXPECT_FLOAT_EQ(item->RotationAngle().X(), 10);
    const TMatrix3D expected = TMatrix3D::CreateScaling(TPoint3D(2, 1, 1)) *
                               TMatrix3D::CreateRotation(TPoint3D(1, 0, 0), DegToRad(10)) *
                               TMatrix3D::CreateTranslation(TPoint3D(0, 5, 0));
    ExpectMatrixNear(item->Transform(), expected, "item");
    ExpectMatrixNear(mesh->GetInstance(1), expected, "cache");
    // Another 10 degrees from the wrapped value turns 10 degrees more, not 350 back.
    item->RotationAngle().SetX(20);
    ExpectMatrixNear(item->Transform(),
                     TMatrix3D::CreateScaling(TPoint3D(2, 1, 1)) *
                         TMatrix3D::CreateRotation(TPoint3D(1, 0, 0), DegToRad(20)) *
                         TMatrix3D::CreateTranslation(TPoint3D(0, 5, 0)),
                     "second turn");
    // A rotation centre turns about that point.
    item->RotationCenter().SetPoint(TPoint3D(0, 1, 0));
    const TPoint3D onCentre = TPoint3D(0, 1, 0) * item->Transform();
    ExpectNear(onCentre, TPoint3D(0, 6, 0), "the centre stays in place");
}

TEST(MeshInstances, IndexFailuresAndSubMeshesSharingTheCache)
{
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    EXPECT_EQ(MessageOf([&] { mesh->GetInstance(1); }),
              "failed to get instance transformation - invalid instance index");
    EXPECT_EQ(MessageOf([&] { mesh->SetInstance(-1, TMatrix3D::Identity()); }),
              "failed to set instance transformation - invalid instance index");

    auto* child = new TKorvaneMesh(mesh.get());
    child->SetParent(mesh.get());
    const TMatrix3D a = TMatrix3D::CreateTranslation(TPoint3D(3, 0, 0));
    mesh->AddInstanceItem("a", a);
    ASSERT_EQ(child->Instances()->CachedInstancesCount(), 2);
    ExpectMatrixNear(child->GetInstance(1), a, "the sub-mesh's copy");
}

// ---------------------------------------------------------------- settings and vertices

TEST(MeshSettings, OpacityValueAboveOneMakesTheMeshOpaque)
{
    struct TCase {
        float Value;
        bool Opaque;
        float Opacity;
    };
    const TCase cases[] = {{1.0f, false, 1.0f}, {1.5f, true, 1.0f}, {0.25f, false, 0.25f}};
    for (const TCase& c : cases) {
        Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
        auto* child = new TKorvaneMesh(mesh.get());
        child->SetParent(mesh.get());
        mesh->SetOpacityValue(c.Value);
        for (TKorvaneMesh* m : {mesh.get(), child}) {
            EXPECT_EQ(m->Opaque(), c.Opaque) << c.Value;
            EXPECT_FLOAT_EQ(m->Opacity(), c.Opacity) << c.Value;
        }
    }
}

TEST(MeshSettings, VisibilityHitTestAndTwoSideReachEverySubMesh)
{
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    auto* child = new TKorvaneMesh(mesh.get());
    child->SetParent(mesh.get());
    auto* grandChild = new TKorvaneMesh(mesh.get());
    grandChild->SetParent(child);
    mesh->SetVisibility(false);
    mesh->SetHitTestValue(true);
    mesh->SetTwoSide(true);
    for (TKorvaneMesh* m : {mesh.get(), child, grandChild}) {
        EXPECT_FALSE(m->Visible());
        EXPECT_TRUE(m->HitTest());
        EXPECT_TRUE(m->TwoSide());
    }
}

TEST(MeshSettings, SetVerticesMovesListedVerticesAndRefusesAnIndexPastTheEnd)
{
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    TVertexBuffer& vb = mesh->MeshData().VertexBuffer();
    vb.SetLength(3);
    TVertexData moved;
    moved.Position = TPoint3D(7, 8, 9);
    mesh->SetVertices({{1, moved}});
    EXPECT_EQ(mesh->GetCoordinates(), (std::vector<TPoint3D>{TPoint3D(), TPoint3D(7, 8, 9), TPoint3D()}));
    for (int bad : {3, -1})
        EXPECT_EQ(MessageOf([&] { mesh->SetVertices({{0, moved}, {bad, moved}}); }),
                  "failed to set vertices in mesh - invalid index")
            << bad;
    // A refused call changes nothing.
    EXPECT_EQ(vb.Vertices(0), TPoint3D());
}

TEST(MeshSettings, RayCastHitsTheNearestTriangleOfTheData)
{
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    TMeshData& data = mesh->MeshData();
    data.VertexBuffer().SetLength(6);
    data.IndexBuffer().SetLength(6);
    const TPoint3D corners[6] = {{-1, -1, 2}, {1, -1, 2}, {0, 1, 2}, {-1, -1, 1}, {1, -1, 1}, {0, 1, 1}};
    for (int i = 0; i < 6; ++i) {
        data.VertexBuffer().SetVertices(i, corners[i]);
        data.IndexBuffer().SetIndices(i, uint32_t(i));
    }
    TPoint3D hit, normal;
    ASSERT_TRUE(mesh->RayCastIntersect(TPoint3D(0, 0, -5), TPoint3D(0, 0, 1), hit, normal));
    ExpectNear(hit, TPoint3D(0, 0, 1), "nearest hit");
    ExpectNear(normal, TPoint3D(0, 0, -1), "normal towards the ray");
    EXPECT_FALSE(mesh->RayCastIntersect(TPoint3D(5, 5, -5), TPoint3D(0, 0, 1), hit, normal));
    EXPECT_FALSE(mesh->RayCastIntersect(TPoint3D(0, 0, 5), TPoint3D(0, 0, 1), hit, normal)) << "behind the ray";
}

TEST(MeshData, SmoothNormalsWeldCornersAndTangentsFollowTextureCoordinates)
{
    // Two triangles meeting at an edge with a right angle between them.
    TMeshData data(TKorvaneMesh::VertexFormat, 6, 6);
    TVertexBuffer& vb = data.VertexBuffer();
    const TPoint3D p[6] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const TPointF uv[6] = {{0, 0}, {1, 0}, {0, 1}, {0, 0}, {1, 0}, {0, 1}};
    for (int i = 0; i < 6; ++i) {
        vb.SetVertices(i, p[i]);
        vb.SetTexCoord0(i, uv[i]);
        data.IndexBuffer().SetIndices(i, uint32_t(i));
    }
    data.CalcSmoothNormals(0.001f);
    const float s = 1 / std::sqrt(2.0f);
    // The shared corners (0,0,0) and (0,1,0) average both faces; the others keep their own.
    ExpectNear(vb.Normals(0), TPoint3D(s, 0, s), "shared corner");
    ExpectNear(vb.Normals(4), TPoint3D(s, 0, s), "shared corner, second triangle");
    ExpectNear(vb.Normals(1), TPoint3D(0, 0, 1), "first face only");
    ExpectNear(vb.Normals(5), TPoint3D(1, 0, 0), "second face only");
    data.CalcTangentBinormals();
    ExpectNear(vb.Tangents(1), TPoint3D(1, 0, 0), "tangent along u");
    ExpectNear(vb.BiNormals(1), TPoint3D(0, 1, 0), "binormal along v");
    const TBoundingBox box = data.BoundingBox();
    ExpectNear(box.MaxPoint(), TPoint3D(1, 1, 1), "box");
    // Without vertices the box last found stays.
    vb.SetLength(0);
    ExpectNear(data.BoundingBox().MaxPoint(), TPoint3D(1, 1, 1), "kept box");
}

TEST(MeshData, FitIntoKeepsProportionsAndCentres)
{
    float ratio = 0;
    const TBoundingBox fitted = TBoundingBox(0, 0, 0, 4, 2, 1).FitInto(TBoundingBox(-1, -1, -1, 1, 1, 1), ratio);
    EXPECT_FLOAT_EQ(ratio, 2);
    ExpectNear(fitted.MinPoint(), TPoint3D(-1, -0.5f, -0.25f), "min");
    ExpectNear(fitted.MaxPoint(), TPoint3D(1, 0.5f, 0.25f), "max");
    TBoundingBox(1, 1, 1, 1, 1, 1).FitInto(TBoundingBox(-1, -1, -1, 1, 1, 1), ratio);
    EXPECT_EQ(ratio, 0) << "a box without extent cannot be scaled";
}

TEST(MeshRegistration, TheNodeClassesAreKnownByQualifiedName)
{
    EXPECT_EQ(GetClass("Korvane.Mesh.TKorvaneMesh"), TKorvaneMesh::StaticClass());
    EXPECT_EQ(GetClass("Korvane.Cube.TKorvaneCube"), TKorvaneCube::StaticClass());
    EXPECT_EQ(GetClass("Korvane.Plane.TKorvanePlane"), TKorvanePlane::StaticClass());
    // Made through the registry, a plane comes with its geometry.
    Owned<TComponent> made(GetClass("TKorvanePlane")->CreateComponent(nullptr));
    auto* plane = dynamic_cast<TKorvanePlane*>(made.get());
    ASSERT_NE(plane, nullptr);
    EXPECT_EQ(CountsOf(*plane).Vertices, 8);
}
