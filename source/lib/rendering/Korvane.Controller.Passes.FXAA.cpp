#include "Korvane.Controller.Passes.FXAA.h"

#include "Korvane.Context.Texturing.h"
#include "Korvane.Context.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TFXAAMaterial, "Korvane.Controller.Passes.FXAA")
KORVANE_IMPLEMENT_CLASS(TFXAAMaterialSource, "Korvane.Controller.Passes.FXAA")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassFXAA, "Korvane.Controller.Passes.FXAA")

namespace {

const char* const FXAADeclarations = "in vec4 v_Position;\n";

const char* const FXAAFunctions = R"(
#define FXAA_REDUCE_MIN (1.0 / 128.0)
#define FXAA_REDUCE_MUL (1.0 / 8.0)
#define FXAA_SPAN_MAX 8.0

vec4 fxaa(sampler2D tex, vec2 uv)
{
    vec2 resolution = vec2(textureSize(tex, 0));
    vec2 inverseVP = vec2(1.0 / resolution.x, 1.0 / resolution.y);
    float val = 1.0;
    vec3 rgbNW = tex2D(tex, uv + vec2(-val, -val) * inverseVP).xyz;
    vec3 rgbNE = tex2D(tex, uv + vec2(val, -val) * inverseVP).xyz;
    vec3 rgbSW = tex2D(tex, uv + vec2(-val, val) * inverseVP).xyz;
    vec3 rgbSE = tex2D(tex, uv + vec2(val, val) * inverseVP).xyz;
    vec4 rgbaM = tex2D(tex, uv);
    vec3 luma = vec3(0.299, 0.587, 0.114);
    float lumaNW = dot(rgbNW, luma);
    float lumaNE = dot(rgbNE, luma);
    float lumaSW = dot(rgbSW, luma);
    float lumaSE = dot(rgbSE, luma);
    float lumaM = dot(rgbaM.xyz, luma);
    float lumaMin = min(lumaM, min(min(lumaNW, lumaNE), min(lumaSW, lumaSE)));
    float lumaMax = max(lumaM, max(max(lumaNW, lumaNE), max(lumaSW, lumaSE)));

    vec2 dir;
    dir.x = -((lumaNW + lumaNE) - (lumaSW + lumaSE));
    dir.y = ((lumaNW + lumaSW) - (lumaNE + lumaSE));

    float dirReduce = max((lumaNW + lumaNE + lumaSW + lumaSE) * (0.25 * FXAA_REDUCE_MUL), FXAA_REDUCE_MIN);
    float rcpDirMin = 1.0 / (min(abs(dir.x), abs(dir.y)) + dirReduce);
    dir = clamp(dir * rcpDirMin, vec2(-FXAA_SPAN_MAX), vec2(FXAA_SPAN_MAX)) * inverseVP;

    vec4 rgbA = 0.5 * (tex2D(tex, uv + dir * (1.0 / 3.0 - 0.5)) + tex2D(tex, uv + dir * (2.0 / 3.0 - 0.5)));
    vec4 rgbB = rgbA * 0.5 + 0.25 * (tex2D(tex, uv + dir * (0.0 / 3.0 - 0.5)) + tex2D(tex, uv + dir * (3.0 / 3.0 - 0.5)));
    float lumaB = dot(rgbB.xyz, luma);
    if ((lumaB < lumaMin) || (lumaB > lumaMax))
        return rgbA;
    return rgbB;
}
)";

const char* const FXAAMain = R"(
void main()
{
    o_FragColor = fxaa(_Input, TEX0.xy);
}
)";

} // namespace

// ---------------------------------------------------------------------------
// TFXAAMaterial

TFXAAMaterial::TFXAAMaterial(TKorvaneRenderPassMaterialSource* ASource) : TKorvaneRenderPassMaterial(ASource)
{
    FTextures = {{"Input"}};
}

void TFXAAMaterial::SetInputTexture(TTexture* AValue)
{
    FInputTexture = AValue;
    DoChange();
}

TTexture* TFXAAMaterial::ResolveInputTexture(TContext3D* AContext)
{
    if (!FInputTexture) {
        if (TKorvaneRenderPassController* input = FSource ? FSource->InputPass() : nullptr)
            FInputTexture = input->GetOutputTexture();
        else if (AContext)
            FInputTexture = AContext->Texture();
    }
    return FInputTexture;
}

void TFXAAMaterial::DoInitialize()
{
    BuildPassShaders("FXAA", FXAADeclarations, FXAAFunctions, FXAAMain, PassVertexBodyWithPosition);
}

void TFXAAMaterial::DoApply(TContext3D* AContext)
{
    TCustomMaterial::DoApply(AContext);
    if (!dynamic_cast<TKorvaneContext*>(AContext)) return;
    TTexture* input = ResolveInputTexture(AContext);
    TKorvaneRenderPassController* pass = FSource ? FSource->OwnerPass() : nullptr;
    if (!input && !(pass && pass->IsDesigning()) && !TKorvaneContext::IsInDesignTime())
        throw Exception("fxaa pass - input texture empty");
    FTextures[0].Texture = input;
    ApplyPassVariables(AContext);
}

// ---------------------------------------------------------------------------
// TFXAAMaterialSource

TFXAAMaterialSource::TFXAAMaterialSource(TKorvaneRenderPassController* AOwnerPass)
    : TKorvaneRenderPassMaterialSource(AOwnerPass)
{
    FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
        [this](TObject*, const TMessageBase&) { DoPassesChanged(); });
}

void TFXAAMaterialSource::BeforeDestruction()
{
    if (FContextResetOvrId) TMessageManager::DefaultManager().Unsubscribe(FContextResetOvrId);
    FContextResetOvrId = 0;
    TKorvaneRenderPassMaterialSource::BeforeDestruction();
}

TMaterial* TFXAAMaterialSource::CreateMaterial()
{
    FHasMaterial = true;
    return new TFXAAMaterial(this);
}

void TFXAAMaterialSource::DoPassesChanged()
{
    if (!FInputPass) return;
    // Through the pass, which also forgets the first iteration's remembered
    // input: it may be the texture the reset took away.
    if (auto* pass = dynamic_cast<TKorvaneRenderPassFXAA*>(FOwnerPass))
        pass->SetCompositeInputTexture(FInputPass->GetOutputTexture());
    else
        FXAAMaterial()->SetInputTexture(FInputPass->GetOutputTexture());
}

// ---------------------------------------------------------------------------
// TKorvaneRenderPassFXAA

void TKorvaneRenderPassFXAA::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
    FShader = nullptr;
    FSource.reset();
    FShader = CreateShader();
}

TKorvaneRenderPassMaterialSource* TKorvaneRenderPassFXAA::CreateShader()
{
    if (!FSource) FSource.reset(new TFXAAMaterialSource(this));
    return FSource.get();
}

void TKorvaneRenderPassFXAA::BeforeDestruction()
{
    TKorvaneRenderPassController::BeforeDestruction();
    FShader = nullptr;
    FSource.reset();
}

void TKorvaneRenderPassFXAA::CreateRenderer()
{
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
}

TTexture* TKorvaneRenderPassFXAA::GetFinalOutputTexture()
{
    if (!FRenderer) return GetOutputTexture();
    TKorvaneTextureBitmap* bitmap = FRenderer->CompositeTexture();
    return bitmap ? bitmap->Texture() : nullptr;
}

void TKorvaneRenderPassFXAA::SetCompositeInputTexture(TTexture* ATexture)
{
    if (!FSource) return;
    FBaseTexture = nullptr;
    FSource->FXAAMaterial()->SetInputTexture(ATexture);
}

void TKorvaneRenderPassFXAA::BeginSetup(int ACount, TRenderPass* APass)
{
    TKorvaneRenderPassController::BeginSetup(ACount, APass);
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (!context || !FSource) return;
    context->SetContextStates(
        {TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csColorWriteOn, TContextState::csFrontFace});
    if (TCamera* camera = FViewport ? FViewport->GetViewportCurrentCamera() : nullptr) {
        context->SetCameraMatrix(camera->CameraMatrix());
        context->SetCameraAngleOfView(camera->AngleOfView());
    }
    TFXAAMaterial* material = FSource->FXAAMaterial();
    // Each iteration smooths the previous one's result. The targets alternate
    // so that no iteration samples the texture it draws into, and the last
    // one of the run draws into the composite texture.
    const bool toComposite = (RunIterations() - 1 - ACount) % 2 == 0;
    if (ACount > 0) {
        TKorvaneTextureBitmap* bitmap = FBOTexture();
        material->SetInputTexture(toComposite ? PingPongTexture() : (bitmap ? bitmap->Texture() : nullptr));
        AttachIterationTarget(toComposite);
        return;
    }
    // The later iterations replace the input; the first one starts again
    // from the remembered base.
    if (FBaseTexture) material->SetInputTexture(FBaseTexture);
    else FBaseTexture = material->ResolveInputTexture(context);
    AttachIterationTarget(toComposite);
    if (TFrameBufferObject* fbo = FRenderer->DefaultFrameBuf())
        fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, true);
}

void TKorvaneRenderPassFXAA::EndSetup(int ACount, TRenderPass* APass)
{
    if (TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr)
        context->SetContextStates({TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csFrontFace});
    TKorvaneRenderPassController::EndSetup(ACount, APass);
}

} // namespace korvane
