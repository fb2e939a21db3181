#pragma once
// Helpers shared by the draw tests: a texture context over an offscreen frame
// buffer, a flat-colour material on a raw GL program, material sources and a
// render-pass controller double.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Controller.h"
#include "Platform.Materials3D.h"
#include "TestHelpers.h"

namespace korvane::test {

// A program that draws a_Position (optionally moved by the per-instance model
// matrix) in one colour.
GLuint FlatColorProgram();

// The GL state a material found when it was applied.
struct TAppliedState {
    bool DepthTest = false;
    bool Blend0 = false;
    GLint BlendSrcRGB = 0, BlendDstRGB = 0, BlendSrcAlpha = 0, BlendDstAlpha = 0;
};

// Draws in one colour; counts its applies and resets and records the state it met.
class TColorMaterial : public TMaterial {
public:
    explicit TColorMaterial(std::array<float, 4> AColor, bool AInstanced = false)
        : Color(AColor), Instanced(AInstanced) {}
    std::array<float, 4> Color;
    bool Instanced;
    int Applied = 0, Resets = 0;
    std::vector<TAppliedState> States;

protected:
    void DoApply(TContext3D* AContext) override;
    void DoReset(TContext3D*) override { ++Resets; }
};

// Owns one TColorMaterial.
class TColorMaterialSource : public TMaterialSource {
public:
    TColorMaterialSource(std::array<float, 4> AColor) : TMaterialSource(nullptr), FColor(AColor) {}
    TColorMaterial* ColorMaterial() { return static_cast<TColorMaterial*>(Material()); }

protected:
    TMaterial* CreateMaterial() override { return new TColorMaterial(FColor); }

private:
    std::array<float, 4> FColor;
};

// A render-pass controller that records what the context asks of it.
class TPassControllerDouble : public TKorvaneRenderPassController {
public:
    TPassControllerDouble() : TKorvaneRenderPassController(nullptr) {}

    TMaterialSource* Source = nullptr;
    bool RefuseTriangles = false;
    TPoint RenderingSize{16, 8};
    int Begins = 0, Ends = 0, RectRenders = 0;
    TContext3D* BeganWith = nullptr;

    TMaterialSource* Shader() const override { return Source; }
    bool IsPrimitivesKindSupported(TPrimitivesKind AKind) const override
    {
        return !(RefuseTriangles && AKind == TPrimitivesKind::Triangles);
    }
    void BeginRenderPassRendering(TContext3D* AContext, TAlphaColor, float, uint32_t) override
    {
        ++Begins;
        BeganWith = AContext;
    }
    void EndRenderPassRendering(TContext3D*) override { ++Ends; }
    TPoint ComputeRenderingSize(TContext3D*, int, int) override { return RenderingSize; }
    TTexture* GetOutputTexture() override { return nullptr; }
    void RenderToContext(TKorvaneContext*, TTexture*, const TRect&, const TPoint&) override { ++RectRenders; }
};

// A texture context of the registered context class, drawing into an
// offscreen frame buffer of the same size.
class TDrawFixture : public ::testing::Test {
protected:
    static constexpr int Size = 32;
    void SetUp() override;
    void TearDown() override;

    // A triangle of positions only (x, y, z per vertex) with 16-bit indices 0, 1, 2.
    void DrawTriangle(const std::array<float, 9>& APositions, TMaterial* AMaterial);
    std::array<uint8_t, 4> Pixel(int x, int y) { return FFrame->ReadPixel(x, y); }

    std::unique_ptr<TTexture> FTexture;
    Owned<TKorvaneContext> FContext;
    std::unique_ptr<OffscreenFramebuffer> FFrame;
};

// A triangle over the middle of the frame that leaves the corners free.
inline constexpr std::array<float, 9> CentreTriangle{-0.5f, -0.5f, 0.5f, 0.5f, -0.5f, 0.5f, 0.0f, 0.6f, 0.5f};

} // namespace korvane::test
