#pragma once
// The blur pass: a full-screen pass that blurs one input texture into the
// pass's own target, with three kernels (a radial blur with tone mapping, a
// fast one-dimensional blur of fixed weights and a gaussian one-dimensional
// blur) and a ping-pong scheme that runs a one-dimensional kernel
// horizontally and then vertically over successive iterations.

#include "Korvane.Controller.h"

namespace korvane {

enum class TPassBlurType : uint8_t { RadialBlur, FastBlur, GaussianBlur };
enum class TPassBlurMode : uint8_t { Horizontal, Vertical };

// The fast kernel: 19 taps, one texel step (times the blur amount) apart,
// centred on the texel being drawn; the weights sum to 1.
struct TFastBlurKernel {
    static constexpr int FirstTap = -9;
    static constexpr int TapCount = 19;
    static const float Weights[TapCount];
};

class TBlurMaterial : public TKorvaneRenderPassMaterial {
    KORVANE_CLASS(TBlurMaterial, TKorvaneRenderPassMaterial)

    explicit TBlurMaterial(TKorvaneRenderPassMaterialSource* ASource);

    TPassBlurType BlurType() const { return FBlurType; }
    virtual void SetBlurType(TPassBlurType AValue) { FBlurType = AValue; }
    // The direction of a one-dimensional kernel outside ping-pong mode, and
    // the texture size that "Width" is computed from.
    TPassBlurMode BlurMode() const { return FBlurMode; }
    void SetBlurMode(TPassBlurMode AValue) { FBlurMode = AValue; }
    float BlurAmount() const { return FBlurAmount; }
    // Kept within 0 .. 15.
    virtual void SetBlurAmount(float AValue);
    float Exposure() const { return FExposure; }
    void SetExposure(float AValue) { FExposure = AValue; }
    TTexture* InputTexture() const { return FInputTexture; }
    // Stores the value and always tells the material's listener.
    void SetInputTexture(TTexture* AValue);
    // The texture to blur: the input pass's output when there is an input
    // pass, else the input texture, else the texture the context renders into.
    virtual TTexture* ResolveInputTexture(TContext3D* AContext);

    // The one-dimensional programs (made by the first use of the material).
    TContextShader* FastBlurH() const { return FFastBlurH; }
    TContextShader* FastBlurV() const { return FFastBlurV; }
    TContextShader* GaussBlurH() const { return FGaussBlurH; }
    TContextShader* GaussBlurV() const { return FGaussBlurV; }
    // The pixel program the next apply chooses.
    TContextShader* ChoosePixelShader() const;
    // The "Width" of the one-dimensional kernels for a texture of that size:
    // its width (its height when vertical) divided by the blur amount; 32
    // without a texture or without a blur amount.
    float KernelWidth(const TTexture* ATexture) const;

protected:
    void DoInitialize() override;
    void DoApply(TContext3D* AContext) override;

    TPassBlurType FBlurType = TPassBlurType::RadialBlur;
    TPassBlurMode FBlurMode = TPassBlurMode::Horizontal;
    TContextShader* FFastBlurH = nullptr;
    TContextShader* FFastBlurV = nullptr;
    TContextShader* FGaussBlurH = nullptr;
    TContextShader* FGaussBlurV = nullptr;
    float FBlurAmount = 3.0f;
    TTexture* FInputTexture = nullptr;
    float FExposure = 1.0f;
};

class TBlurMaterialSource : public TKorvaneRenderPassMaterialSource {
    KORVANE_CLASS(TBlurMaterialSource, TKorvaneRenderPassMaterialSource)

    // Listens for context resets: the input pass's output is then made anew.
    explicit TBlurMaterialSource(TKorvaneRenderPassController* AOwnerPass);

    TBlurMaterial* BlurMaterial() { return static_cast<TBlurMaterial*>(Material()); }
    // The iteration being drawn, written by the pass before each one.
    int Iteration() const { return FIteration; }
    void SetIteration(int AValue) { FIteration = AValue; }
    TPassBlurType BlurType() { return BlurMaterial()->BlurType(); }
    void SetBlurType(TPassBlurType AValue) { BlurMaterial()->SetBlurType(AValue); }
    float Exposure() { return BlurMaterial()->Exposure(); }
    void SetExposure(float AValue) { BlurMaterial()->SetExposure(AValue); }

protected:
    TMaterial* CreateMaterial() override;
    // With an input pass, its output becomes the material's input texture.
    void DoPassesChanged() override;
    void BeforeDestruction() override;

private:
    int FContextResetOvrId = 0;
    int FIteration = 0;
};

class TKorvaneRenderPassBlur : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassBlur, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassBlur(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    TBlurMaterialSource* BlurSource() const { return FSource.get(); }
    TBlurMaterial* BlurMaterial() const { return FSource->BlurMaterial(); }
    TPassBlurType BlurType() const { return BlurMaterial()->BlurType(); }
    // Also sets the iterations: 2 for the one-dimensional kernels (one
    // horizontal, one vertical run in ping-pong mode), 1 for the radial one.
    void SetBlurType(TPassBlurType AValue);
    TPassBlurMode BlurMode() const { return BlurMaterial()->BlurMode(); }
    void SetBlurMode(TPassBlurMode AValue) { BlurMaterial()->SetBlurMode(AValue); }
    float BlurAmount() const { return BlurMaterial()->BlurAmount(); }
    void SetBlurAmount(float AValue) { BlurMaterial()->SetBlurAmount(AValue); }
    float Exposure() const { return BlurMaterial()->Exposure(); }
    void SetExposure(float AValue) { BlurMaterial()->SetExposure(AValue); }
    bool PingPongMode() const { return FPingPongMode; }
    void SetPingPongMode(bool AValue) { FPingPongMode = AValue; }
    // The radial blur keeps one iteration whatever is asked.
    void SetIterations(int AValue);
    // The blurred result: in ping-pong mode with a renderer, the renderer's
    // composite texture; otherwise the output texture.
    TTexture* GetFinalOutputTexture();

    // The pass's own renderer has no G-buffer and no internal passes.
    void CreateRenderer() override;
    void BeginSetup(int ACount, TRenderPass* APass) override;
    void EndSetup(int ACount, TRenderPass* APass) override;

protected:
    void InitDefaults() override;
    TKorvaneRenderPassMaterialSource* CreateShader() override;
    void BeforeDestruction() override;

    TOwned<TBlurMaterialSource> FSource;
    bool FPingPongMode = true;
    // The input of the even iterations, remembered at the first one.
    TTexture* FBaseTexture = nullptr;
};

} // namespace korvane
