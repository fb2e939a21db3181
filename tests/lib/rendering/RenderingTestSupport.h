#pragma once
// A stand-in viewport for the renderer and pass tests: a texture context of
// its own, a list of render-pass controllers, a main and a current renderer.

#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <vector>

#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Texturing.h"
#include "Korvane.Controller.h"
#include "Korvane.Renderer.h"
#include "TestHelpers.h"

namespace korvane::test {

class TTestViewport : public TTreeObject, public IKorvaneViewport {
public:
    TTestViewport(int AWidth, int AHeight, float AScale = 1.0f)
        : TTreeObject(nullptr), FWidth(AWidth), FHeight(AHeight), FScale(AScale)
    {
        if (!TKorvaneContext::IsContextAvailable()) TCustomContextWindows::ResetSharedContextForTesting();
        FTexture.SetSize(AWidth, AHeight);
        FTexture.SetStyle({TTextureStyle::RenderTarget});
        FContext.reset(TContextManager::CreateFromTexture(&FTexture, TMultisample::None, true));
    }

    std::vector<TKorvaneRenderPassController*> Passes;
    TRenderer* MainRenderer = nullptr;
    TRenderer* Current = nullptr;
    TAlphaColor Color = TAlphaColors::Black;
    int LightSettings = 0;

    TKorvaneContext* Context() const { return static_cast<TKorvaneContext*>(FContext.get()); }

    TComponent* GetViewportComponent() override { return this; }
    TContext3D* GetViewportContext() override { return FContext.get(); }
    float GetViewportWidth() override { return float(FWidth); }
    float GetViewportHeight() override { return float(FHeight); }
    float GetViewportScale() override { return FScale; }
    TAlphaColor GetViewportColor() override { return Color; }
    TRenderer* GetMainRenderer() override { return MainRenderer; }
    TRenderer* GetCurrentRenderer() override { return Current ? Current : MainRenderer; }
    void SetCurrentRenderer(TRenderer* ARenderer) override { Current = ARenderer; }
    TCamera* GetViewportCurrentCamera() override { return nullptr; }
    void ApplyLightSettings(TContext3D*) override { ++LightSettings; }
    void AddRenderPass(TKorvaneRenderPassController* AController) override
    {
        if (std::find(Passes.begin(), Passes.end(), AController) == Passes.end()) Passes.push_back(AController);
        UpdateRenderPasses();
    }
    void RemoveRenderPass(TKorvaneRenderPassController* AController) override { std::erase(Passes, AController); }
    void UpdateRenderPasses() override
    {
        for (TKorvaneRenderPassController* pass : std::vector<TKorvaneRenderPassController*>(Passes))
            pass->UpdateRenderPass();
    }

private:
    int FWidth, FHeight;
    float FScale;
    TTexture FTexture;
    TOwned<TContext3D> FContext;
};

// The pixels of a 2D texture as RGBA bytes, rows bottom first.
inline std::vector<std::array<uint8_t, 4>> TexturePixels(const TTexture* ATexture)
{
    std::vector<uint8_t> bytes(size_t(ATexture->Width()) * ATexture->Height() * 4);
    glGetTextureImage(GLuint(ATexture->Handle()), 0, GL_RGBA, GL_UNSIGNED_BYTE, GLsizei(bytes.size()), bytes.data());
    std::vector<std::array<uint8_t, 4>> pixels(bytes.size() / 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = {bytes[i * 4], bytes[i * 4 + 1], bytes[i * 4 + 2], bytes[i * 4 + 3]};
    return pixels;
}

inline GLint TextureLevelParameter(const TTexture* ATexture, GLenum AWhat)
{
    GLint value = 0;
    glGetTextureLevelParameteriv(GLuint(ATexture->Handle()), 0, AWhat, &value);
    return value;
}

} // namespace korvane::test
