#pragma once
// Helpers of the material tests: default materials owned by the test, texture
// pool entries for every sampler the generated shaders may read, and a texture
// context over an offscreen frame buffer that draws through the framework's
// own path (the context's draw entry, its program cache and attribute table).

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.h"
#include "Korvane.Material.Default.h"
#include "ShaderTestSupport.h"
#include "TestHelpers.h"

namespace korvane::test {

inline Owned<TKorvaneDefaultMaterial> NewMaterial()
{
    return Owned<TKorvaneDefaultMaterial>(TKorvaneDefaultMaterial::Create(nullptr));
}

// Appends a texture-pool entry named AName for the stage AKind.
inline TKorvaneTexturePoolEntry* AddPoolEntry(TKorvaneDefaultMaterial& AMaterial, const std::string& AName,
                                              TContextShaderKind AKind = TContextShaderKind::PixelShader,
                                              TKorvaneTextureKind ATextureKind = TKorvaneTextureKind::Texture2D)
{
    TKorvaneTexturePoolEntry* entry = AMaterial.Textures()->Add();
    entry->SetDisplayName(AName);
    entry->SetShaderKind(AKind);
    entry->SetPixelFormat(ATextureKind, TPixelFormatEx::RGBA8, TPixelFormatEx::RGBA,
                          TKorvaneTextureDataType::dtUnsignedByte);
    return entry;
}

// Declares every sampler the generated shaders may read (as a source whose
// user added every texture would), then regenerates the shader texts.
inline void AddEverySampler(TKorvaneDefaultMaterial& AMaterial)
{
    using K = TKorvaneTextureKind;
    for (const char* name : {"Texture0", "NormalMapTexture", "DepthTexture", "ReflectionTexture", "RefractionTexture",
                             "SpecularMapTexture", "EmissiveTexture", "POMTexture", "MetalnessTexture",
                             "RoughnessTexture", "AmbientOcclusionTexture"})
        AddPoolEntry(AMaterial, name);
    AddPoolEntry(AMaterial, "EnvironmentTexture", TContextShaderKind::PixelShader, K::CubeMap);
    for (int i = 0; i < 8; ++i) AddPoolEntry(AMaterial, "ShadowMapTexture" + std::to_string(i));
    AddPoolEntry(AMaterial, "DisplacementMapTexture", TContextShaderKind::VertexShader);
    AMaterial.UpdateShaderProgram();
}

// A texture context of the registered context class drawing into an offscreen
// frame buffer of the same size, with identity camera and projection so that
// positions are clip coordinates.
class TMaterialDrawFixture : public ::testing::Test {
protected:
    static constexpr int Size = 32;

    void SetUp() override
    {
        ASSERT_TRUE(TKorvaneContext::IsContextAvailable());
        FTexture = std::make_unique<TTexture>();
        FTexture->SetSize(Size, Size);
        FContext.reset(static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(FTexture.get(), TMultisample::None, true)));
        FFrame = std::make_unique<OffscreenFramebuffer>(Size, Size);
        glDisable(GL_BLEND);
        glDisable(GL_CULL_FACE);
        FContext->SetContextState(TContextState::csZTestOff);
        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF0000FF, 1.0f, 0); // opaque blue
        FContext->SetProjectionMatrix(TMatrix3D::Identity());
    }

    void TearDown() override
    {
        FFrame.reset();
        FContext.reset();
        FTexture.reset();
        DesignTimeMode = false;
    }

    // A quad over the middle half of the frame (x and y from -0.5 to 0.5),
    // facing +z, with texture coordinates 0..1 and tangents along x; with
    // AVertexColor every vertex also carries that colour.
    void DrawQuad(TMaterial* AMaterial, std::optional<TAlphaColor> AVertexColor = std::nullopt)
    {
        TVertexFormats formats = {TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0,
                                  TVertexFormat::Tangent};
        if (AVertexColor) formats.Include(TVertexFormat::Color0);
        TVertexBuffer vertices(formats, 4);
        const float corners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
        for (int i = 0; i < 4; ++i) {
            vertices.SetVertices(i, TPoint3D(corners[i][0], corners[i][1], 0));
            vertices.SetNormals(i, TPoint3D(0, 0, 1));
            vertices.SetTexCoord0(i, TPointF(corners[i][0] + 0.5f, corners[i][1] + 0.5f));
            vertices.SetTangents(i, TPoint3D(1, 0, 0));
            if (AVertexColor) vertices.SetColor(0, i, *AVertexColor);
        }
        TIndexBuffer indices(6);
        const uint32_t order[6] = {0, 1, 2, 0, 2, 3};
        for (int i = 0; i < 6; ++i) indices.SetIndices(i, order[i]);
        FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, AMaterial, 1.0f);
    }

    std::array<uint8_t, 4> Pixel(int x, int y) { return FFrame->ReadPixel(x, y); }

    std::unique_ptr<TTexture> FTexture;
    Owned<TKorvaneContext> FContext;
    std::unique_ptr<OffscreenFramebuffer> FFrame;
};

} // namespace korvane::test
