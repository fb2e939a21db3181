#include "Korvane.Controller.Passes.CustomBlur.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Korvane.Context.Texturing.h"
#include "Korvane.Context.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TBlurMaterial, "Korvane.Controller.Passes.CustomBlur")
KORVANE_IMPLEMENT_CLASS(TBlurMaterialSource, "Korvane.Controller.Passes.CustomBlur")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassBlur, "Korvane.Controller.Passes.CustomBlur")

// Nine falling weights on either side of the centre, mirrored. They sum to 1
// and their centroid is the centre texel, so a blur moves nothing.
const float TFastBlurKernel::Weights[TapCount] = {
    0.0388725400f, 0.0431734808f, 0.0473619401f, 0.0513192490f, 0.0549249202f, 0.0580626540f, 0.0606265292f,
    0.0625268966f, 0.0636955872f, 0.0388725400f, 0.0636955872f, 0.0625268966f, 0.0606265292f, 0.0580626540f,
    0.0549249202f, 0.0513192490f, 0.0473619401f, 0.0431734808f, 0.0388725400f};

namespace {

const char* const RadialDeclarations = R"(
uniform vec2 _Radius;
uniform float _Exposure;
in vec4 v_Position;
)";

const char* const LinearDeclarations = R"(
uniform float _Width;
in vec4 v_Position;
)";

const char* const ToneMapping = R"(
const float GAMMA = 2.2;
const float INV_GAMMA = 1.0 / GAMMA;

vec3 linearTosRGB(vec3 color) { return pow(color, vec3(INV_GAMMA)); }
vec3 sRGBToLinear(vec3 srgbIn) { return pow(srgbIn, vec3(GAMMA)); }
vec4 sRGBToLinear(vec4 srgbIn) { return vec4(sRGBToLinear(srgbIn.xyz), srgbIn.w); }
float sFloatToLinear(float value) { return pow(value, GAMMA); }

vec3 toneMapACES_Narkowicz(vec3 color)
{
    const float A = 2.51;
    const float B = 0.03;
    const float C = 2.43;
    const float D = 0.59;
    const float E = 0.14;
    return clamp((color * (A * color + B)) / (color * (C * color + D) + E), 0.0, 1.0);
}

const mat3 ACESInputMat = mat3(
    0.59719, 0.07600, 0.02840,
    0.35458, 0.90834, 0.13383,
    0.04823, 0.01566, 0.83777);

const mat3 ACESOutputMat = mat3(
    1.60475, -0.10208, -0.00327,
    -0.53108, 1.10813, -0.07276,
    -0.07367, -0.00605, 1.07602);

vec3 RRTAndODTFit(vec3 color)
{
    vec3 a = color * (color + 0.0245786) - 0.000090537;
    vec3 b = color * (0.983729 * color + 0.4329510) + 0.238081;
    return a / b;
}

vec3 toneMapACES_Hill(vec3 color)
{
    color = ACESInputMat * color;
    color = RRTAndODTFit(color);
    color = ACESOutputMat * color;
    return clamp(color, 0.0, 1.0);
}

vec3 toneMap(vec3 color, float exposure)
{
    color *= exposure;
    color = toneMapACES_Narkowicz(color);
    return linearTosRGB(color);
}
)";

const char* const RadialMain = R"(
void main()
{
    const float Pi = 6.28318530718;
    const float l_Directions = 32.0;
    const float l_Quality = 8.0;
    vec4 l_Color = tex2D(_Input, TEX0.xy);
    for (float d = 0.0; d < Pi; d += Pi / l_Directions)
        for (float i = 1.0 / l_Quality; i <= 1.0; i += 1.0 / l_Quality)
            l_Color += tex2D(_Input, TEX0.xy + vec2(cos(d), sin(d)) * _Radius * i);
    l_Color /= l_Quality * l_Directions - 15.0;
    l_Color.rgb = toneMap(l_Color.rgb, _Exposure);
    o_FragColor = l_Color;
}
)";

// The fast kernel along one axis, its taps clamped to the texture.
std::string FastMain(bool AVertical)
{
    std::string text = "\nvoid main()\n{\n    vec4 l_Sum = vec4(0.0);\n";
    char line[200];
    for (int i = 0; i < TFastBlurKernel::TapCount; ++i) {
        const int k = TFastBlurKernel::FirstTap + i;
        std::snprintf(line, sizeof line,
                      "    l_Sum += tex2D(_Input, clamp(TEX0.xy + vec2(%s%d.0 / _Width%s), 0.0, 1.0)) * %.10f;\n",
                      AVertical ? "0.0, " : "", k, AVertical ? "" : ", 0.0", double(TFastBlurKernel::Weights[i]));
        text += line;
    }
    return text + "    o_FragColor = l_Sum;\n}\n";
}

const char* const GaussianFunctions = R"(
const float PI = 3.14159265;
#define KERNEL_SIZE 35

float gauss(float x, float sigma)
{
    return 1.0 / (2.0 * PI * sigma * sigma) * exp(-(x * x) / (2.0 * sigma * sigma));
}

struct pixel_info {
    vec2 uv;
    vec2 texelSize;
};

vec4 GaussianBlur(sampler2D tex, pixel_info pinfo, float sigma, vec2 dir)
{
    vec4 l_Sum = vec4(0.0);
    float l_Weights = 0.0;
    for (int i = -KERNEL_SIZE / 2; i <= KERNEL_SIZE / 2; ++i) {
        float l_Step = float(i);
        float weight = gauss(l_Step, sigma) + gauss(l_Step + 1.0, sigma);
        l_Sum += tex2D(tex, pinfo.uv + l_Step * pinfo.texelSize * dir) * weight;
        l_Weights += weight;
    }
    return l_Sum / l_Weights;
}
)";

std::string GaussianMain(bool AVertical)
{
    return std::string(R"(
void main()
{
    pixel_info l_Info;
    l_Info.uv = TEX0.xy;
    l_Info.texelSize = 1.0 / vec2(_Width);
    float l_Sigma = 7.0;
    o_FragColor = GaussianBlur(_Input, l_Info, l_Sigma, )") +
           (AVertical ? "vec2(0.0, 1.0)" : "vec2(1.0, 0.0)") + ");\n}\n";
}

bool Designing(TKorvaneRenderPassMaterialSource* ASource)
{
    TKorvaneRenderPassController* pass = ASource ? ASource->OwnerPass() : nullptr;
    return (pass && pass->IsDesigning()) || TKorvaneContext::IsInDesignTime();
}

} // namespace

// ---------------------------------------------------------------------------
// TBlurMaterial

TBlurMaterial::TBlurMaterial(TKorvaneRenderPassMaterialSource* ASource) : TKorvaneRenderPassMaterial(ASource)
{
    FTextures = {{"Input"}};
}

void TBlurMaterial::SetBlurAmount(float AValue) { FBlurAmount = std::clamp(AValue, 0.0f, 15.0f); }

void TBlurMaterial::SetInputTexture(TTexture* AValue)
{
    FInputTexture = AValue;
    DoChange();
}

TTexture* TBlurMaterial::ResolveInputTexture(TContext3D* AContext)
{
    if (TKorvaneRenderPassController* input = FSource ? FSource->InputPass() : nullptr) {
        FInputTexture = input->GetOutputTexture();
        return FInputTexture;
    }
    if (FInputTexture) return FInputTexture;
    return AContext ? AContext->Texture() : nullptr;
}

void TBlurMaterial::DoInitialize()
{
    using K = TContextShaderVariableKind;
    const std::vector<TContextShaderVariable> radial = {TContextShaderVariable::Create("Radius", K::Float2, 1, 1),
                                                        TContextShaderVariable::Create("Exposure", K::Float, 2, 1)};
    const std::vector<TContextShaderVariable> linear = {TContextShaderVariable::Create("Width", K::Float, 1, 1)};
    BuildPassVertexShader("CustomBlur", PassVertexBodyWithPosition);
    FPixelShader = BuildPassPixelShader("CustomRadialBlurH", RadialDeclarations, ToneMapping, RadialMain, radial);
    FFastBlurH = BuildPassPixelShader("CustomFastBlurH", LinearDeclarations, "", FastMain(false), linear);
    FFastBlurV = BuildPassPixelShader("CustomFastBlurV", LinearDeclarations, "", FastMain(true), linear);
    FGaussBlurH = BuildPassPixelShader("CustomGaussBlurH", LinearDeclarations, GaussianFunctions, GaussianMain(false),
                                       linear);
    FGaussBlurV = BuildPassPixelShader("CustomGaussBlurV", LinearDeclarations, GaussianFunctions, GaussianMain(true),
                                       linear);
}

TContextShader* TBlurMaterial::ChoosePixelShader() const
{
    if (FBlurType == TPassBlurType::RadialBlur) return FPixelShader;
    bool vertical = FBlurMode == TPassBlurMode::Vertical;
    auto* pass = dynamic_cast<TKorvaneRenderPassBlur*>(FSource ? FSource->OwnerPass() : nullptr);
    if (pass && pass->PingPongMode()) {
        auto* source = dynamic_cast<TBlurMaterialSource*>(FSource);
        vertical = source && source->Iteration() % 2 != 0;
    }
    if (FBlurType == TPassBlurType::FastBlur) return vertical ? FFastBlurV : FFastBlurH;
    return vertical ? FGaussBlurV : FGaussBlurH;
}

float TBlurMaterial::KernelWidth(const TTexture* ATexture) const
{
    if (!ATexture || FBlurAmount <= 0) return 32.0f;
    const int size = FBlurMode == TPassBlurMode::Vertical ? ATexture->Height() : ATexture->Width();
    return float(size) / FBlurAmount;
}

void TBlurMaterial::DoApply(TContext3D* AContext)
{
    AContext->SetShaders(FVertexShader, ChoosePixelShader());
    auto* context = dynamic_cast<TKorvaneContext*>(AContext);
    if (!context) return;
    TTexture* texture = ResolveInputTexture(AContext);
    if (!texture && !Designing(FSource)) throw Exception("blur pass - input texture empty");
    FTextures[0].Texture = texture;
    ApplyPassVariables(AContext);
    context->SetShaderVariable("Exposure", {TVector3D(FExposure, 0, 0, 0)});
    if (FBlurType == TPassBlurType::RadialBlur) {
        const float r = FBlurAmount * 4;
        const bool ownSize = texture && FBlurAmount > 0;
        const float w = float(ownSize ? texture->Width() : AContext->Width());
        const float h = float(ownSize ? texture->Height() : AContext->Height());
        context->SetShaderVariable("Radius", {TVector3D(w > 0 ? r / w : 0, h > 0 ? r / h : 0, 0, 0)});
    } else {
        context->SetShaderVariable("Width", {TVector3D(KernelWidth(texture), 0, 0, 0)});
    }
}

// ---------------------------------------------------------------------------
// TBlurMaterialSource

TBlurMaterialSource::TBlurMaterialSource(TKorvaneRenderPassController* AOwnerPass)
    : TKorvaneRenderPassMaterialSource(AOwnerPass)
{
    FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
        [this](TObject*, const TMessageBase&) { DoPassesChanged(); });
}

void TBlurMaterialSource::BeforeDestruction()
{
    if (FContextResetOvrId) TMessageManager::DefaultManager().Unsubscribe(FContextResetOvrId);
    FContextResetOvrId = 0;
    TKorvaneRenderPassMaterialSource::BeforeDestruction();
}

TMaterial* TBlurMaterialSource::CreateMaterial()
{
    FHasMaterial = true;
    return new TBlurMaterial(this);
}

void TBlurMaterialSource::DoPassesChanged()
{
    if (FInputPass) BlurMaterial()->SetInputTexture(FInputPass->GetOutputTexture());
}

// ---------------------------------------------------------------------------
// TKorvaneRenderPassBlur

void TKorvaneRenderPassBlur::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
    FShader = CreateShader();
    Iterations = 1;
    FPingPongMode = true;
}

TKorvaneRenderPassMaterialSource* TKorvaneRenderPassBlur::CreateShader()
{
    if (!FSource) FSource.reset(new TBlurMaterialSource(this));
    return FSource.get();
}

void TKorvaneRenderPassBlur::BeforeDestruction()
{
    TKorvaneRenderPassController::BeforeDestruction();
    FShader = nullptr;
    FSource.reset();
}

void TKorvaneRenderPassBlur::CreateRenderer()
{
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
}

void TKorvaneRenderPassBlur::SetBlurType(TPassBlurType AValue)
{
    BlurMaterial()->SetBlurType(AValue);
    Iterations = AValue == TPassBlurType::RadialBlur ? 1 : 2;
}

void TKorvaneRenderPassBlur::SetIterations(int AValue)
{
    Iterations = BlurType() == TPassBlurType::RadialBlur ? 1 : AValue;
}

TTexture* TKorvaneRenderPassBlur::GetFinalOutputTexture()
{
    if (FPingPongMode && FRenderer) {
        TKorvaneTextureBitmap* bitmap = FRenderer->CompositeTexture();
        return bitmap ? bitmap->Texture() : nullptr;
    }
    return GetOutputTexture();
}

void TKorvaneRenderPassBlur::BeginSetup(int ACount, TRenderPass* APass)
{
    TKorvaneRenderPassController::BeginSetup(ACount, APass);
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (!context || !FSource) return;
    context->SetMemoryBarrierBits(AllMemoryBarrierFlags());
    context->SetContextStates(
        {TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csColorWriteOn, TContextState::csFrontFace});
    if (TCamera* camera = FViewport ? FViewport->GetViewportCurrentCamera() : nullptr) {
        context->SetCameraMatrix(camera->CameraMatrix());
        context->SetCameraAngleOfView(camera->AngleOfView());
    }
    FSource->SetIteration(ACount);
    if (!FPingPongMode) return;
    TBlurMaterial* material = BlurMaterial();
    // An even iteration blurs the base input, the odd one after it blurs that
    // result again (the other direction). The even one draws into a scratch
    // target that the odd one reads, so that no draw samples its own target;
    // every odd iteration, and an even one that ends the run, draws into the
    // composite texture.
    if (ACount % 2 != 0) {
        material->SetInputTexture(PingPongTexture());
        AttachIterationTarget(true);
        return;
    }
    if (FBaseTexture) material->SetInputTexture(FBaseTexture);
    else FBaseTexture = material->InputTexture();
    AttachIterationTarget(ACount == RunIterations() - 1);
    if (TFrameBufferObject* fbo = FRenderer->DefaultFrameBuf())
        fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, true);
}

void TKorvaneRenderPassBlur::EndSetup(int ACount, TRenderPass* APass)
{
    if (TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr)
        context->SetContextStates({TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csFrontFace});
    TKorvaneRenderPassController::EndSetup(ACount, APass);
}

} // namespace korvane
