#pragma once
// Controllers of the render pipeline. A render-pass controller drives one named
// render pass of a context: it decides whether the pass runs this frame, binds
// and releases its render target around the pass, sizes it, and may replace the
// material of everything the pass draws.
//
// The members below are what the render context and its pass table rely on;
// the concrete passes (depth and shadow maps, reflection, refraction, blurs,
// composites) derive from TKorvaneRenderPassController and fill in the rest.

#include <cstdint>

#include "Korvane.Context.Rendering.h"
#include "Platform.Classes.h"
#include "Platform.Materials3D.h"
#include "Platform.Math3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TKorvaneContext;

class TKorvaneController : public TComponent {
    KORVANE_CLASS(TKorvaneController, TComponent)

    explicit TKorvaneController(TComponent* AOwner) : TComponent(AOwner) {}

    // Whether the controller takes part in rendering.
    virtual bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool AValue) { FEnabled = AValue; }

private:
    bool FEnabled = true;
};

class TKorvaneRenderPassController : public TKorvaneController {
    KORVANE_CLASS(TKorvaneRenderPassController, TKorvaneController)

    explicit TKorvaneRenderPassController(TComponent* AOwner) : TKorvaneController(AOwner) {}

    // How many times the context runs the pass per frame.
    int Iterations = 0;
    TRenderPassMethod Method = TRenderPassMethod::RenderListToFBO;
    TRenderPassRenderingProc RenderProc = TRenderPassRenderingProc::DefaultRendering;

    // Frames counted by the pass's scene begin, skipped ones included.
    int64_t FrameCount() const { return FFrameCount; }
    void IncFrameCount() { ++FFrameCount; }
    // Skips the pass for the next frame.
    void SkipRendering() { FSkipRendering = true; }
    bool RenderingSkipped() const { return FSkipRendering; }
    // Clears the skip flag and nothing else.
    void ResetSkippedRendering() { FSkipRendering = false; }

    // The material source that replaces the materials of what the pass draws, or nullptr.
    virtual TMaterialSource* Shader() const = 0;
    // The base draws every primitive kind.
    virtual bool IsPrimitivesKindSupported(TPrimitivesKind) const { return true; }

    // Binds the controller's render target for the pass / releases it.
    virtual void BeginRenderPassRendering(TContext3D* AContext, TAlphaColor AFill, float ADepth,
                                          uint32_t AStencil) = 0;
    virtual void EndRenderPassRendering(TContext3D* AContext) = 0;
    // The viewport size the pass renders at.
    virtual TPoint ComputeRenderingSize(TContext3D* AContext, int AWidth, int AHeight) = 0;
    // The texture the pass renders into, or nullptr.
    virtual TTexture* GetOutputTexture() = 0;
    // Draws ARect of ATexture as one quad with the pass material (method RectToFBO).
    virtual void RenderToContext(TKorvaneContext* AContext, TTexture* ATexture, const TRect& ARect,
                                 const TPoint& ADstPos) = 0;

    // The texture matrix of the pass (kept up to date by the pass while it
    // renders), times the bias matrix when AUseBias: materials that sample
    // the pass's output project their positions with it.
    virtual TMatrix3D GetTextureMatrix(TContext3D* AContext, bool AUseBias) const;
    void SetTextureMatrix(const TMatrix3D& AValue) { FTextureMatrix = AValue; }
    // The pass that feeds this one, or nullptr.
    virtual TKorvaneRenderPassController* GetInputPass() const { return nullptr; }

private:
    int64_t FFrameCount = 0;
    bool FSkipRendering = false;
    TMatrix3D FTextureMatrix = TMatrix3D::Identity();
};

// Maps clip coordinates (-1..1) to texture coordinates (0..1): 0.5 on the
// diagonal of the first three rows, 0.5 in the translation row.
TMatrix3D KorvaneBiasMatrix();

} // namespace korvane
