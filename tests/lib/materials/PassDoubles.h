#pragma once
// Render passes of a given kind that record what a material asks of them: the
// output texture they hand out (and how often), the matrices they answer and
// the pass that feeds them.

#include <memory>

#include "Korvane.Controller.Kinds.h"
#include "Platform.Types3D.h"

namespace korvane::test {

template <class TKind>
class TRecordingPass : public TKind {
public:
    explicit TRecordingPass(TComponent* AOwner) : TKind(AOwner) {}

    TTexture* Output = nullptr;
    TKorvaneRenderPassController* InputPass = nullptr;
    int OutputRequests = 0;

    TMaterialSource* Shader() const override { return nullptr; }
    void BeginRenderPassRendering(TContext3D*, TAlphaColor, float, uint32_t) override {}
    void EndRenderPassRendering(TContext3D*) override {}
    TPoint ComputeRenderingSize(TContext3D*, int AWidth, int AHeight) override { return TPoint(AWidth, AHeight); }
    TTexture* GetOutputTexture() override
    {
        ++OutputRequests;
        return Output;
    }
    void RenderToContext(TKorvaneContext*, TTexture*, const TRect&, const TPoint&) override {}
    TKorvaneRenderPassController* GetInputPass() const override { return InputPass; }
};

} // namespace korvane::test
