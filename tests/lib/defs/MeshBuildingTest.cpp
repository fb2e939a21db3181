#include <gtest/gtest.h>

#include <cmath>

#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.Utils.Geometry.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::Owned;

namespace {

void ExpectNear(const TPoint3D& A, const TPoint3D& B, const char* AWhat, float ATolerance = 1e-5f)
{
    EXPECT_NEAR(A.X, B.X, ATolerance) << AWhat;
    EXPECT_NEAR(A.Y, B.Y, ATolerance) << AWhat;
    EXPECT_NEAR(A.Z, B.Z, ATolerance) << AWhat;
}

// A mesh of the given positions (default format) and indices.
Owned<TMeshDef> MakeMesh(const std::vector<TPoint3D>& APositions, const std::vector<uint32_t>& AIndices,
                         TCustomDef* AOwner = nullptr)
{
    Owned<TMeshDef> mesh(new TMeshDef(AOwner));
    TVertexBuffer vb(TCustomMeshDef::DefaultVertexFormat, int32_t(APositions.size()));
    for (size_t i = 0; i < APositions.size(); ++i) vb.SetVertices(int32_t(i), APositions[i]);
    TIndexBuffer ib(int32_t(AIndices.size()), TIndexFormat::UInt32);
    for (size_t i = 0; i < AIndices.size(); ++i) ib.SetIndices(int32_t(i), AIndices[i]);
    mesh->SetVertices(&vb);
    mesh->SetIndices(&ib);
    return mesh;
}

TEST(MeshBuilding, Polygons)
{
    struct Case {
        const char* Name;
        T3DPolygon Points;
        int Vertices;
    };
    const Case cases[] = {
        {"triangle", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, 3},
        {"quad", {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}, 6},
        {"pentagon", {{0, 0, 0}, {2, 0, 0}, {3, 1, 0}, {1, 3, 0}, {-1, 1, 0}}, 9},
    };
    for (const Case& c : cases) {
        Owned<TMeshDef> mesh = MakeMesh({{5, 5, 5}}, {0});
        mesh->AddPolygon(c.Points);
        const TVertexBuffer& vb = *mesh->VertexSource();
        const TIndexBuffer& ib = *mesh->IndexSource();
        ASSERT_EQ(vb.Length(), 1 + c.Vertices) << c.Name;
        ASSERT_EQ(ib.Length(), 1 + c.Vertices) << c.Name;
        for (int k = 0; k < c.Vertices; ++k) EXPECT_EQ(ib.Indices(1 + k), uint32_t(1 + k)) << c.Name;
        // Fan triangle t is (p0, p[t + 1], p[t + 2]) with its own flat normal.
        for (int t = 0; t < c.Vertices / 3; ++t) {
            const TPoint3D& a = c.Points[0];
            const TPoint3D& b = c.Points[size_t(t + 1)];
            const TPoint3D& d = c.Points[size_t(t + 2)];
            EXPECT_EQ(vb.Vertices(1 + 3 * t), a) << c.Name;
            EXPECT_EQ(vb.Vertices(2 + 3 * t), b) << c.Name;
            EXPECT_EQ(vb.Vertices(3 + 3 * t), d) << c.Name;
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(vb.Normals(1 + 3 * t + k), TMeshDef::GetNormalVectorFromPoints(a, b, d)) << c.Name;
        }
    }

    // Texture coordinates are sphere-mapped around the box computed at the first polygon.
    Owned<TMeshDef> fresh(new TMeshDef(nullptr));
    fresh->AddPolygon(TPolygon{{0, 0}, {2, 0}, {2, 2}, {0, 2}});
    EXPECT_EQ(fresh->GetBoundingBox(), TBoundingBox(0, 0, 0, 2, 2, 0));
    const double a = std::asin(-1 / std::sqrt(2.0)) / Pi + 0.5;
    EXPECT_NEAR(fresh->VertexSource()->TexCoord0(0).X, a, 1e-6);
    EXPECT_NEAR(fresh->VertexSource()->TexCoord0(0).Y, a, 1e-6);
    EXPECT_NEAR(fresh->VertexSource()->TexCoord0(2).X, 1 - a, 1e-6);

    // Given texture coordinates and normals are taken as they are.
    fresh->AddPolygon(T3DPolygon{{0, 0, 1}, {1, 0, 1}, {0, 1, 1}}, TPolygon{{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}},
                      T3DPolygon{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    EXPECT_EQ(fresh->VertexSource()->TexCoord0(7), TPointF(0.3f, 0.4f));
    EXPECT_EQ(fresh->VertexSource()->Normals(8), TPoint3D(0, 0, 1));

    struct Bad {
        const char* Name;
        std::function<void(TMeshDef&)> Call;
        const char* Message;
    };
    const Bad bad[] = {
        {"2 points", [](TMeshDef& m) { m.AddPolygon(T3DPolygon{{0, 0, 0}, {1, 0, 0}}); },
         "invalid polygon length - at least 3 vertices needed"},
        {"2D 2 points", [](TMeshDef& m) { m.AddPolygon(TPolygon{{0, 0}, {1, 0}}); },
         "invalid polygon length - at least 3 vertices needed"},
        {"texture count",
         [](TMeshDef& m) { m.AddPolygon(T3DPolygon{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, TPolygon{{0, 0}}, {}); },
         "invalid polygon texture coordinates length - number of texture coordinates not equal to number of vertices"},
        {"normal count",
         [](TMeshDef& m) { m.AddPolygon(T3DPolygon{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, T3DPolygon{{0, 0, 1}}); },
         "invalid polygon normals length - number of normals not equal to number of vertices"},
    };
    for (const Bad& b : bad) {
        Owned<TMeshDef> mesh = MakeMesh({{5, 5, 5}}, {0});
        EXPECT_EQ(MessageOf([&] { b.Call(*mesh); }), b.Message) << b.Name;
        EXPECT_EQ(mesh->VertexSource()->Length(), 1) << b.Name << ": unchanged";
        EXPECT_EQ(mesh->IndexSource()->Length(), 1) << b.Name << ": unchanged";
    }
}

TEST(MeshBuilding, FaceNormalsOppositeToThePointNormal)
{
    const TPoint3D a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);
    EXPECT_EQ(TMeshDef::GetNormalVectorFromPoints(a, b, c), TPoint3D(0, 0, 1));
    Owned<TMeshDef> mesh = MakeMesh({a, b, c}, {0, 1, 2});
    auto* child = MakeMesh({a, c, b}, {0, 1, 2}, mesh.get()).release();
    mesh->AddMesh(child);
    mesh->CalcFaceNormals(true, true);
    ASSERT_EQ(mesh->FaceNormals().size(), 1u);
    EXPECT_EQ(mesh->FaceNormals()[0], TPoint3D(0, 0, -1));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mesh->VertexSource()->Normals(i), TPoint3D(0, 0, -1));
    EXPECT_EQ(child->VertexSource()->Normals(0), TPoint3D(0, 0, 1)) << "sub-meshes too";
    // A degenerate triangle gives a zero normal.
    Owned<TMeshDef> flat = MakeMesh({a, b, TPoint3D(2, 0, 0)}, {0, 1, 2});
    flat->CalcFaceNormals(true, false);
    EXPECT_EQ(flat->FaceNormals()[0], TPoint3D());
    // An index beyond the vertices is the buffer's range error.
    Owned<TMeshDef> broken = MakeMesh({a, b, c}, {0, 1, 7});
    EXPECT_THROW(broken->CalcFaceNormals(true, false), EArgumentException);
}

TEST(MeshBuilding, SmoothNormalMethods)
{
    // Two triangles sharing the edge (0,0,0)-(1,0,0) through different
    // vertices, folded by 90 degrees: one in the XY plane, one in the XZ plane.
    const std::vector<TPoint3D> positions = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}};
    const TPoint3D n0(0, 0, 1), n1(0, 1, 0); // the face normals of the two triangles
    const TPoint3D welded = (n0 + n1).Normalize();
    struct Case {
        TMeshDefCalculateNormalMethod Method;
        TPoint3D Vertex0, Vertex3, Vertex1;
    };
    const Case cases[] = {
        {TMeshDefCalculateNormalMethod::cnmDefault, welded, welded, n0},
        {TMeshDefCalculateNormalMethod::cnmFastest, n0, n1, n0},
        {TMeshDefCalculateNormalMethod::cnmSlowest, n0, n1, n0},
    };
    for (const Case& c : cases) {
        Owned<TMeshDef> mesh = MakeMesh(positions, {0, 1, 2, 3, 4, 5});
        mesh->CalcSmoothNormals(c.Method, 0.001f, false);
        ExpectNear(mesh->VertexSource()->Normals(0), c.Vertex0, "vertex 0");
        ExpectNear(mesh->VertexSource()->Normals(3), c.Vertex3, "vertex 3");
        ExpectNear(mesh->VertexSource()->Normals(1), c.Vertex1, "vertex 1");
    }

    // cnmSlowest: one shared vertex, two coplanar triangles and one
    // perpendicular: each direction counts once.
    const std::vector<TPoint3D> fan = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 0, 1}};
    for (float epsilon : {0.001f, 0.0f}) {
        Owned<TMeshDef> mesh = MakeMesh(fan, {0, 1, 2, 0, 4, 3, 0, 2, 5});
        mesh->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmSlowest, epsilon, false);
        ExpectNear(mesh->VertexSource()->Normals(0), welded, "shared vertex");
        Owned<TMeshDef> fastest = MakeMesh(fan, {0, 1, 2, 0, 4, 3, 0, 2, 5});
        fastest->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, epsilon, false);
        ExpectNear(fastest->VertexSource()->Normals(0), (n0 * 2 + n1).Normalize(), "fastest counts every face");
    }
}

TEST(MeshBuilding, TangentsAndTextureCoordinates)
{
    Owned<TMeshDef> mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    TVertexBuffer& vb = *mesh->VertexSource();
    vb.SetTexCoord0(0, {0, 0});
    vb.SetTexCoord0(1, {1, 0});
    vb.SetTexCoord0(2, {0, 1});
    mesh->CalcTangentBinormals(false);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(vb.Tangents(i), TPoint3D(1, 0, 0));
        EXPECT_EQ(vb.BiNormals(i), TPoint3D(0, 1, 0));
    }
    vb.SetTexCoord0(1, {0, 0}); // r = 0
    mesh->CalcTangentBinormals(false);
    EXPECT_EQ(vb.Tangents(0), TPoint3D());

    // The centre of the box maps to (0.5, 0.5); +X to (1, 0.5).
    Owned<TMeshDef> box = MakeMesh({{-1, -1, -1}, {1, 1, 1}, {0, 0, 0}, {1, 0, 0}}, {0, 1, 2});
    box->CalcTextureCoordinates();
    EXPECT_EQ(box->VertexSource()->TexCoord0(2), TPointF(0.5f, 0.5f));
    EXPECT_EQ(box->VertexSource()->TexCoord0(3), TPointF(1.0f, 0.5f));
}

TEST(MeshBuilding, BakingTransformations)
{
    Owned<TMeshDef> mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}}, {0, 1, 1});
    mesh->VertexSource()->SetNormals(0, {0, 1, 0});
    mesh->VertexSource()->SetTangents(0, {1, 0, 0});
    mesh->VertexSource()->SetBiNormals(0, {0, 0, 1});
    const TMatrix3D move = TMatrix3D::CreateTranslation({1, 2, 3});

    mesh->ApplyTransformationMatrixToVertices(move, false);
    EXPECT_EQ(mesh->Transform(), move);
    EXPECT_EQ(mesh->VertexSource()->Vertices(1), TPoint3D(1, 0, 0)) << "without modifying only Transform changes";

    mesh->SetTransform(TMatrix3D::Identity());
    mesh->ApplyTransformationMatrixToVertices(move, true);
    EXPECT_EQ(mesh->Transform(), TMatrix3D::Identity());
    EXPECT_EQ(mesh->VertexSource()->Vertices(0), TPoint3D(1, 2, 3));
    EXPECT_EQ(mesh->VertexSource()->Vertices(1), TPoint3D(2, 2, 3));
    EXPECT_EQ(mesh->VertexSource()->Normals(0), TPoint3D(0, 1, 0));
    EXPECT_EQ(mesh->VertexSource()->Tangents(0), TPoint3D(1, 0, 0));
    EXPECT_EQ(mesh->VertexSource()->BiNormals(0), TPoint3D(0, 0, 1));

    // A zero Transform counts as the identity.
    mesh->SetTransform(TMatrix3D());
    mesh->ApplyTransformationMatrixToVertices(move, false);
    EXPECT_EQ(mesh->Transform(), move);

    // Pivot: the combined box (2,2,2)-(4,4,4), the child holding one corner.
    Owned<TMeshDef> parent = MakeMesh({{2, 2, 2}, {3, 3, 3}}, {0, 1, 1});
    auto* child = MakeMesh({{4, 4, 4}}, {0}, parent.get()).release();
    parent->AddMesh(child);
    parent->MoveVerticesToPivot();
    EXPECT_EQ(parent->GetCombinedBoundingBox(), TBoundingBox(-1, -1, -1, 1, 1, 1));
    EXPECT_EQ(child->VertexSource()->Vertices(0), TPoint3D(1, 1, 1));
}

TEST(MeshBuilding, RayCasts)
{
    // Two triangles facing +Z at z = 0 and z = 1 (written so that the cast's
    // corner order (third, second, first) faces the ray coming from +Z).
    Owned<TMeshDef> mesh =
        MakeMesh({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 1}, {1, 0, 1}}, {0, 1, 2, 3, 4, 5});
    const TMatrix3D identity = TMatrix3D::Identity();
    TPoint3D hit, normal;
    for (bool tree : {false, true}) {
        if (tree) mesh->AcquireBVH();
        ASSERT_TRUE(mesh->RayCastIntersect({0.2f, 0.2f, 5}, {0, 0, -1}, identity, identity, hit, normal)) << tree;
        ExpectNear(hit, {0.2f, 0.2f, 1}, "the nearer triangle");
        ExpectNear(normal, {0, 0, 1}, "its normal");
        EXPECT_FALSE(mesh->RayCastIntersect({5, 5, 5}, {0, 0, -1}, identity, identity, hit, normal)) << tree;
        EXPECT_EQ(hit, TPoint3D());
    }
    // The mesh matrix moves the mesh; the hit comes back in world space.
    const TMatrix3D moved = TMatrix3D::CreateTranslation({10, 0, 0});
    ASSERT_TRUE(mesh->RayCastIntersect({10.2f, 0.2f, 5}, {0, 0, -1}, moved, identity, hit, normal));
    ExpectNear(hit, {10.2f, 0.2f, 1}, "moved");

    // Tree acquire, update and release.
    TBVHGeometry* first = mesh->BVH();
    mesh->AcquireBVH();
    EXPECT_EQ(mesh->BVH(), first) << "one tree";
    mesh->ApplyTransformationMatrixToVertices(TMatrix3D::CreateTranslation({0, 0, 3}), true);
    mesh->UpdateBVH();
    ASSERT_TRUE(mesh->RayCastIntersect({0.2f, 0.2f, 9}, {0, 0, -1}, identity, identity, hit, normal));
    ExpectNear(hit, {0.2f, 0.2f, 4}, "moved vertices after UpdateBVH");
    mesh->ReleaseBVH();
    EXPECT_EQ(mesh->BVH(), nullptr);

    // Without a tree, a definition Transform does not move the rejecting box
    // away from the triangles that are tested.
    Owned<TMeshDef> shifted = MakeMesh({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {0, 1, 2});
    shifted->SetTransform(TMatrix3D::CreateTranslation({100, 0, 0}));
    EXPECT_TRUE(shifted->RayCastIntersect({0.2f, 0.2f, 5}, {0, 0, -1}, identity, identity, hit, normal));

    Owned<TMeshDef> empty(new TMeshDef(nullptr));
    EXPECT_FALSE(empty->RayCastIntersect({0, 0, 5}, {0, 0, -1}, identity, identity, hit, normal));
}

TEST(MeshBuilding, MeshDataCopies)
{
    Owned<TMeshDef> mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    TMeshData data;
    mesh->ApplyToMeshData(&data);
    EXPECT_EQ(data.VertexBuffer().Format(), TCustomMeshDef::DefaultVertexFormat);
    EXPECT_EQ(data.VertexBuffer().Normals(0), TPoint3D(0, 0, 1)) << "zero normals make the data compute them";
    EXPECT_EQ(mesh->VertexSource()->Normals(0), TPoint3D()) << "the mesh keeps its own";

    mesh->VertexSource()->SetNormals(0, {1, 0, 0});
    mesh->VertexSource()->SetTangents(0, {0, 1, 0});
    TMeshData unchanged;
    mesh->ApplyToMeshData(&unchanged);
    EXPECT_EQ(unchanged.VertexBuffer().Normals(0), TPoint3D(1, 0, 0));
    EXPECT_EQ(unchanged.VertexBuffer().Tangents(0), TPoint3D(0, 1, 0));

    Owned<TMeshDef> back(new TMeshDef(nullptr));
    back->ApplyFromMeshData(&unchanged);
    EXPECT_EQ(back->GetBoundingBox(), TBoundingBox(0, 0, 0, 1, 1, 0));

    Owned<TMeshDef> copy(new TMeshDef(nullptr));
    mesh->ApplyToMeshDef(copy.get(), {TCopyVertexOption::ExchangeYZ});
    EXPECT_EQ(copy->VertexSource()->Vertices(2), TPoint3D(0, 0, 1));
    EXPECT_EQ(mesh->VertexSource()->Vertices(2), TPoint3D(0, 1, 0));
}

} // namespace
