// Mesh nodes drawn on the surfaceless context into a 64 x 64 frame buffer,
// with identity camera and projection so that positions are clip coordinates
// (x and y from -1 to 1 across the frame).

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.Material.Default.h"
#include "Korvane.Mesh.h"
#include "Korvane.Plane.h"
#include "SceneTestClasses.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

const std::array<uint8_t, 4> Clear{0, 0, 255, 255};
const std::array<uint8_t, 4> Red{255, 0, 0, 255};

// An unlit default material of one colour.
class TUnlitSource : public TMaterialSource {
public:
    explicit TUnlitSource(TAlphaColorF AColor) : TMaterialSource(nullptr), FColor(AColor) {}

protected:
    TMaterial* CreateMaterial() override
    {
        auto* m = TKorvaneDefaultMaterial::Create(this);
        m->SetEmissive(TAlphaColorF(0, 0, 0, 1));
        m->SetAmbient(TAlphaColorF(0, 0, 0, 1));
        m->SetDiffuse(FColor);
        return m;
    }

private:
    TAlphaColorF FColor;
};

// A material whose apply fails.
class TFailingMaterial : public TMaterial {
protected:
    void DoApply(TContext3D*) override { throw Exception("no program"); }
};

class TFailingSource : public TMaterialSource {
public:
    TFailingSource() : TMaterialSource(nullptr) {}

protected:
    TMaterial* CreateMaterial() override { return new TFailingMaterial(); }
};

struct TStats {
    int64_t Calls, Instances;
    static TStats Now() { return {ContextDrawCalls.load(), ContextDrawInstances.load()}; }
};

class MeshRender : public ::testing::Test {
protected:
    static constexpr int Size = 64;

    void SetUp() override
    {
        ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
        FTexture = std::make_unique<TTexture>();
        FTexture->SetSize(Size, Size);
        FContext.reset(static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(FTexture.get(), TMultisample::None, true)));
        FFrame = std::make_unique<OffscreenFramebuffer>(Size, Size);
        glDisable(GL_BLEND);
        FContext->SetContextState(TContextState::csZTestOff);
        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF0000FF, 1.0f, 0); // opaque blue
        FContext->SetProjectionMatrix(TMatrix3D::Identity());
        FViewport.reset(new TKorvaneViewport(nullptr));
        FViewport->Context = FContext.get();
        FSource.reset(new TUnlitSource(TAlphaColorF(1, 0, 0, 1)));
    }

    void TearDown() override
    {
        FViewport.reset();
        FSource.reset();
        FFrame.reset();
        FContext.reset();
        FTexture.reset();
    }

    // A plane of AWidth x AHeight under the viewport, drawn in red.
    template <class TNode = TKorvanePlane>
    TNode* AddNode(float AWidth, float AHeight)
    {
        auto* node = new TNode(FViewport.get());
        node->SetParent(FViewport.get());
        node->SetSize(AWidth, AHeight, 1);
        node->SetMaterialSource(FSource.get());
        return node;
    }

    // The pixel at clip coordinates (x, y).
    std::array<uint8_t, 4> At(float x, float y)
    {
        return FFrame->ReadPixel(int((x + 1) / 2 * Size), int((y + 1) / 2 * Size));
    }

    bool CornersClear()
    {
        for (auto [x, y] : {std::pair{0, 0}, {Size - 1, 0}, {0, Size - 1}, {Size - 1, Size - 1}})
            if (!NearColor(FFrame->ReadPixel(x, y), Clear)) return false;
        return true;
    }

    // A mesh with one quad of its own definition (not static), covering the
    // middle of the frame; its triangles are wound so that culling of back
    // faces keeps them while the quad faces the viewer.
    TKorvaneMesh* AddQuad()
    {
        auto* mesh = AddNode<TKorvaneMesh>(1, 1);
        mesh->SetWrapMode(TMeshWrapMode::Resize);
        TMeshData data(TKorvaneMesh::VertexFormat, 4, 6);
        const TPoint3D corners[4] = {{-0.5f, -0.5f, 0}, {0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}, {-0.5f, 0.5f, 0}};
        for (int i = 0; i < 4; ++i) data.VertexBuffer().SetVertices(i, corners[i]);
        const uint32_t order[6] = {0, 2, 1, 0, 3, 2};
        for (int i = 0; i < 6; ++i) data.IndexBuffer().SetIndices(i, order[i]);
        auto* def = new TMeshDef(nullptr); // standalone: the node frees it
        def->ApplyFromMeshData(&data);
        mesh->SetDef(def);
        mesh->CopyDefinitionToMeshData(def, &mesh->MeshData());
        return mesh;
    }

    std::unique_ptr<TTexture> FTexture;
    Owned<TKorvaneContext> FContext;
    std::unique_ptr<OffscreenFramebuffer> FFrame;
    Owned<TKorvaneViewport> FViewport;
    Owned<TUnlitSource> FSource;
};

} // namespace

TEST_F(MeshRender, APlaneCoversTheCentreAndLeavesTheCorners)
{
    TKorvanePlane* plane = AddNode(1, 1);
    TKorvaneContext::ResetDrawCallDiagnostics();
    plane->RenderInternal();
    EXPECT_TRUE(NearColor(At(0, 0), Red));
    EXPECT_TRUE(NearColor(At(0.4f, -0.4f), Red));
    EXPECT_TRUE(NearColor(At(0.6f, 0), Clear)) << "outside the plane's half-unit extent";
    EXPECT_TRUE(CornersClear());
    EXPECT_EQ(TStats::Now().Calls, 1);
    EXPECT_EQ(FContext->CurrentCache(), nullptr) << "the static buffer served one draw";
}

TEST_F(MeshRender, TwoInstancesDrawThreeCopiesInOneCall)
{
    TKorvanePlane* plane = AddNode(0.5f, 0.5f);
    for (float x : {-0.65f, 0.65f}) {
        TKorvaneMeshInstance* item = plane->AddInstanceItem("side");
        item->Scale().SetPoint(TPoint3D(0.3f, 0.3f, 1));
        item->Position().SetPoint(TPoint3D(x, 0, 0));
    }
    TKorvaneContext::ResetDrawCallDiagnostics();
    plane->RenderInternal();
    for (float x : {-0.65f, 0.0f, 0.65f}) EXPECT_TRUE(NearColor(At(x, 0), Red)) << "copy at " << x;
    for (float x : {-0.4f, 0.4f}) EXPECT_TRUE(NearColor(At(x, 0), Clear)) << "gap at " << x;
    EXPECT_TRUE(CornersClear());
    const TStats s = TStats::Now();
    EXPECT_EQ(s.Calls, 1);
    EXPECT_EQ(s.Instances, 3);
}

TEST_F(MeshRender, ASubMeshDrawsWithItsParentsInstances)
{
    TKorvanePlane* parent = AddNode(0.5f, 0.5f);
    auto* child = new TKorvanePlane(parent);
    child->SetParent(parent);
    child->SetSize(1, 1, 1);
    child->SetMaterialSource(FSource.get());
    TKorvaneMeshInstance* item = parent->AddInstanceItem("right");
    item->Scale().SetPoint(TPoint3D(0.3f, 0.3f, 1));
    item->Position().SetPoint(TPoint3D(0.65f, 0, 0));
    TKorvaneContext::ResetDrawCallDiagnostics();
    // Only the sub-mesh is drawn.
    child->RenderInternal();
    EXPECT_TRUE(NearColor(At(0.65f, 0), Red)) << "the parent's instance";
    EXPECT_TRUE(NearColor(At(-0.2f, 0), Red)) << "the sub-mesh itself, larger than its parent";
    EXPECT_TRUE(NearColor(At(-0.65f, 0), Clear));
    EXPECT_EQ(TStats::Now().Instances, 2);
}

TEST_F(MeshRender, CullingFollowsTheDefinitionsFaceOrientation)
{
    TKorvaneMesh* quad = AddQuad();
    struct TCase {
        const char* Name;
        float TurnY;
        TFaceOrientation Faces;
        bool Drawn;
    };
    const TCase cases[] = {
        {"facing, back faces culled", 0, TFaceOrientation::FrontFace, true},
        {"turned away, back faces culled", 180, TFaceOrientation::FrontFace, false},
        {"turned away, front faces culled", 180, TFaceOrientation::BackFace, true},
        {"facing, front faces culled", 0, TFaceOrientation::BackFace, false},
        {"turned away, both faces", 180, TFaceOrientation::TwoFace, true},
    };
    for (const TCase& c : cases) {
        FContext->Clear({TClearTarget::Color}, 0xFF0000FF, 1.0f, 0);
        quad->RotationAngle().SetY(c.TurnY);
        quad->MeshDef()->SetFaceOrientation(c.Faces);
        quad->RenderInternal();
        EXPECT_TRUE(NearColor(At(0, 0), c.Drawn ? Red : Clear)) << c.Name;
    }
    FContext->SetContextState(TContextState::csAllFace);
}

TEST_F(MeshRender, FlatShadingGivesEachTriangleOneNormal)
{
    // Lit from the viewer: the brightness follows the normal's z.
    TKorvaneMesh* quad = AddQuad();
    quad->MeshDef()->SetFaceOrientation(TFaceOrientation::TwoFace);
    auto* lit = static_cast<TKorvaneDefaultMaterial*>(FSource->Material());
    lit->SetUseLighting(true);
    lit->SetDiffuse(TAlphaColorF(1, 1, 1, 1));
    lit->SetSpecular(TAlphaColorF(0, 0, 0, 1));
    FContext->AddLight(TLightDescription::Create(true, TAlphaColors::White, TLightType::Directional, 180, 0,
                                                 TPoint3D(0, 0, -5), TPoint3D(0, 0, 1)));
    // Normals bent apart, as a curved surface would have them.
    TVertexBuffer& vb = quad->MeshData().VertexBuffer();
    const TPoint3D bent[4] = {TPoint3D(-0.8f, 0, -0.6f), TPoint3D(0.8f, 0, -0.6f), TPoint3D(0.8f, 0, -0.6f),
                              TPoint3D(-0.8f, 0, -0.6f)};
    for (int i = 0; i < 4; ++i) vb.SetNormals(i, bent[i]);
    quad->RenderInternal();
    const auto bentCentre = At(0, 0.1f), bentEdge = At(-0.45f, 0.1f);

    quad->SetFlatShading(true);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(std::fabs(vb.Normals(i).Z), 1.0f, 1e-5f) << i;
    FContext->Clear({TClearTarget::Color}, 0xFF0000FF, 1.0f, 0);
    quad->RenderInternal();
    const auto flatCentre = At(0, 0.1f), flatEdge = At(-0.45f, 0.1f);
    FContext->ClearLights();
    FContext->SetContextState(TContextState::csAllFace);

    EXPECT_TRUE(NearColor(flatCentre, flatEdge, 3)) << "one normal, one brightness: " << int(flatCentre[0]) << " vs "
                                                    << int(flatEdge[0]);
    EXPECT_FALSE(NearColor(bentCentre, flatCentre, 3)) << "the bent normals shade differently: "
                                                       << int(bentCentre[0]) << " vs " << int(flatCentre[0]);
    EXPECT_FALSE(NearColor(bentCentre, bentEdge, 3) && NearColor(bentCentre, flatCentre, 3));
}

TEST_F(MeshRender, AMeshWithoutDefinitionDrawsNothing)
{
    auto* mesh = AddNode<TKorvaneMesh>(1, 1);
    TMeshData& data = mesh->MeshData();
    data.VertexBuffer().SetLength(3);
    data.IndexBuffer().SetLength(3);
    const TPoint3D corners[3] = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}};
    for (int i = 0; i < 3; ++i) {
        data.VertexBuffer().SetVertices(i, corners[i]);
        data.IndexBuffer().SetIndices(i, uint32_t(i));
    }
    TKorvaneContext::ResetDrawCallDiagnostics();
    mesh->RenderInternal();
    EXPECT_EQ(TStats::Now().Calls, 0);
    EXPECT_TRUE(NearColor(At(0, 0), Clear));
}

TEST_F(MeshRender, ADrawFailureNamesTheObjectInsideTheRenderStep)
{
    TKorvanePlane* plane = AddNode(1, 1);
    plane->SetName("Ground");
    TFailingSource failing;
    plane->SetMaterialSource(&failing);
    EXPECT_EQ(MessageOf([&] { plane->RenderInternal(); }),
              "TKorvaneMesh.Render(): failed to render object \"Ground\" : no program");
    EXPECT_EQ(FContext->CurrentCache(), nullptr) << "a failed draw leaves no cache to the next mesh";
    plane->SetMaterialSource(nullptr);
}
