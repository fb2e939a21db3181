// A lit frame on the surfaceless context: a plane under the point light that
// a camera on its rig carries, drawn through the render context's draw path
// with the default material's generated Blinn-Phong shaders (taken from the
// context's program cache) and the light's shader record in the "ShaderData"
// uniform block.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <string>

#include "GLTestHarness.h"
#include "Korvane.Camera.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Light.h"
#include "Korvane.Material.Default.GLSL.h"
#include "Korvane.Material.Types.h"
#include "Platform.Materials3D.h"
#include "Platform.MeshBuffers.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

using test::Owned;

Owned<TContextShader> GLSLStage(TContextShaderKind AKind, const std::string& ACode)
{
    return Owned<TContextShader>(
        new TContextShader(AKind, "lit plane", {TContextShaderSource(TContextShaderArch::GLSL, ACode, {})}));
}

// The default material's shading as far as this frame needs it: the generated
// lighting shaders and the per-draw uniform block, filled by the test.
class TBlinnPhongMaterial : public TMaterial {
public:
    TBlinnPhongMaterial()
    {
        TKorvaneContextGLStrings strings;
        auto vs = TKorvaneGLSLVertexShader::Create(nullptr, &strings);
        auto fs = TKorvaneGLSLFragmentShader::Create(nullptr, &strings);
        for (const char* define : {"CLIPPINGPLANE", "LIGHTING", "BLINNPHONG", "USE_SPECULAR"}) {
            vs->AddDefine(define);
            fs->AddDefine(define);
        }
        VS = GLSLStage(TContextShaderKind::VertexShader, vs->ToString());
        PS = GLSLStage(TContextShaderKind::PixelShader, fs->ToString());
        Data = InitShaderData();
    }

    Owned<TContextShader> VS, PS;
    TKorvaneShaderData Data;
    TShaderProgram* Program = nullptr;

protected:
    void DoApply(TContext3D* AContext) override
    {
        AContext->SetShaders(VS.get(), PS.get());
        Program = TKorvaneContext::GetCurrentProgram();
        if (!Program) return;
        Program->RegisterUniformBuffer("ShaderData", &Data, sizeof Data);
        Program->PushUniformBuffers();
    }
};

class LitRender : public ::testing::Test {
protected:
    static constexpr int Size = 64;

    void SetUp() override
    {
        ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        FTexture = std::make_unique<TTexture>();
        FTexture->SetSize(Size, Size);
        FContext.reset(static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(FTexture.get(), TMultisample::None, true)));
        FFrame = std::make_unique<test::OffscreenFramebuffer>(Size, Size);
        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, TAlphaColors::Black, 1.0f, 0);
    }

    void TearDown() override
    {
        FFrame.reset();
        FContext.reset();
        FTexture.reset();
        TKorvaneContext::FreeProgramCache();
    }

    // The plane z = 0 from -AHalf to AHalf, facing -Z, drawn at the identity.
    void DrawPlane(float AHalf, TMaterial* AMaterial)
    {
        TVertexBuffer vertices({TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0,
                                TVertexFormat::Tangent},
                               4);
        const TPoint3D corners[4] = {{-AHalf, -AHalf, 0}, {AHalf, -AHalf, 0}, {AHalf, AHalf, 0}, {-AHalf, AHalf, 0}};
        for (int i = 0; i < 4; ++i) {
            vertices.SetVertices(i, corners[i]);
            vertices.SetNormals(i, {0, 0, -1});
            vertices.SetTexCoord0(i, {corners[i].X > 0 ? 1.0f : 0.0f, corners[i].Y > 0 ? 1.0f : 0.0f});
            vertices.SetTangents(i, {1, 0, 0});
        }
        TIndexBuffer indices(6);
        const uint16_t quad[6] = {0, 1, 2, 0, 2, 3};
        for (int i = 0; i < 6; ++i) indices.SetIndices(i, quad[i]);
        const TMatrix3D model = TMatrix3D::Identity();
        FContext->SetInstances(1, &model);
        FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, AMaterial, 1.0f);
    }

    std::unique_ptr<TTexture> FTexture;
    Owned<TKorvaneContext> FContext;
    std::unique_ptr<test::OffscreenFramebuffer> FFrame;
};

TEST_F(LitRender, APlaneIsBrighterUnderTheCameraCarriedLightThanAtItsFarCorners)
{
    // The rig at the origin; its camera 2 units in front of the plane looks at
    // it with a 90-degree field of view and carries the point light.
    Owned<TKorvaneSmoothCameraController> rig(new TKorvaneSmoothCameraController(nullptr));
    rig->SetEnabled(false);
    auto* camera = new TKorvaneCamera(rig.get());
    camera->Position().SetPoint({0, 0, -2});
    rig->SetCamera(camera);
    camera->SetFOV(90);
    auto* light = new TKorvaneLight(rig.get());
    light->SetParent(camera);
    light->SetIntensity(1);
    light->SetConstantAttenuation(1);

    TBlinnPhongMaterial material;
    TKorvaneShaderData& data = material.Data;
    FContext->SetCameraMatrix(camera->CameraMatrix());
    FContext->SetCameraAngleOfView(camera->FOV());
    data.ViewMatrix = camera->CameraMatrix();
    data.ProjectionMatrix = FContext->CurrentProjectionMatrix();
    data.ModelViewProjectionMatrix = data.ViewMatrix * data.ProjectionMatrix;
    data.EyePos = TVector3D(camera->AbsolutePosition(), 1);
    data.Material._Emissive = TAlphaColorF(0, 0, 0, 1);
    data.Material._Ambient = TAlphaColorF(0, 0, 0, 1);
    data.Material._Diffuse = TAlphaColorF(0.6f, 0.6f, 0.6f, 1);
    data.Material._Specular = TAlphaColorF(0.4f, 0.4f, 0.4f, 1);
    data.Material._Shininess = 32;
    data.Lights[0] = light->LightDescriptionEx();
    data.LightsCount = 1;
    ASSERT_TRUE(test::NearPoint(data.Lights[0].Position.ToPoint3D(), camera->AbsolutePosition()));

    DrawPlane(1.8f, &material);
    ASSERT_NE(material.Program, nullptr) << "the generated shaders built and linked";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const auto centre = FFrame->ReadPixel(Size / 2, Size / 2);
    // 0.6 x 255 from the diffuse colour where N.L is 1.
    EXPECT_GE(centre[0], 150) << "under the light";
    // The plane's corners lie inside the view (half-size 1.8 of the 2.0 the
    // camera sees), where the light falls at a slant: N.L is about 0.64.
    for (auto [x, y] : {std::pair{5, 5}, {Size - 6, 5}, {5, Size - 6}, {Size - 6, Size - 6}}) {
        const auto corner = FFrame->ReadPixel(x, y);
        EXPECT_GT(corner[0], 30) << x << "," << y << ": lit";
        EXPECT_GT(int(centre[0]) - int(corner[0]), 40) << x << "," << y;
        EXPECT_EQ(corner[0], corner[1]);
        EXPECT_EQ(corner[0], corner[2]);
    }
    // Outside the plane nothing is drawn.
    EXPECT_TRUE(test::NearColor(FFrame->ReadPixel(0, 0), {0, 0, 0, 255}));

    // Without the light record the plane goes dark (the block is uploaded anew).
    data.LightsCount = 0;
    FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, TAlphaColors::Black, 1.0f, 0);
    DrawPlane(1.8f, &material);
    EXPECT_LT(FFrame->ReadPixel(Size / 2, Size / 2)[0], 10);
}

} // namespace
} // namespace korvane
