#include "Korvane.Controller.Passes.Deferred.h"

#include <algorithm>

#include "Korvane.Context.Shader.h"
#include "Korvane.Context.h"
#include "Korvane.Controller.Passes.GlobalIllumBlur.h"
#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TDeferredCompositeMaterial, "Korvane.Controller.Passes.Deferred")
KORVANE_IMPLEMENT_CLASS(TDeferredCompositeMaterialSource, "Korvane.Controller.Passes.Deferred")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassDeferredComposite, "Korvane.Controller.Passes.Deferred")

namespace {

// The sampler order is the texture-unit order.
enum : size_t { AlbedoSlot, TranslucentAlbedoSlot, AlphaSlot, PositionSlot, NormalsSlot, EmissiveSlot, GISlot };

const char* const CompositeDeclarations = R"(
struct Light {
    int _LightType;
    vec4 _Position;
    vec4 _Direction;
    vec4 _Ambient;
    vec4 _Diffuse;
    vec4 _Specular;
    vec4 _Scattering;
    float _SpotCutOff;
    float _SpotCosCutoff;
    float _SpotExponent;
    float _ConstantAttenuation;
    float _LinearAttenuation;
    float _QuadraticAttenuation;
    float _Intensity;
    int _Enabled;
};

#define MAX_LIGHTS 8

layout(std140, binding = 0) uniform CompositeShaderData {
    vec3 _VoxelCenter;
    int _GlobalIllum;
    vec3 _Saturation;
    int _EmissiveBlur;
    int _VoxelSize;
    float _ShadowLimit;
    float _Reflection;
    int _NumberOfLights;
    Light _Lights[MAX_LIGHTS];
};
)";

const char* const CompositeFunctions = R"(
const vec3 W = vec3(0.2125, 0.7154, 0.0721);

vec3 saturate(vec3 c, vec3 w, float s)
{
    return mix(vec3(dot(c, w)), c, s);
}

vec3 mergeRenderingChannels(vec2 uv)
{
    vec4 l_Accum = tex2D(_TranslucentAlbedoTexture, uv);
    float l_Weight = l_Accum.a;
    vec3 l_ColorNT = tex2D(_AlbedoTexture, uv).rgb;
    if (_Saturation.x > 0.001)
        l_ColorNT = saturate(l_ColorNT, W, _Saturation.x);
    if (l_Weight <= 0.00000001)
        return l_ColorNT;
    float l_Alpha = tex2D(_AlphaTexture, uv).r;
    vec3 l_Color = l_Accum.rgb / l_Weight;
    if (_Saturation.y > 0.001)
        l_Color = saturate(l_Color, W, _Saturation.y);
    l_ColorNT = l_ColorNT * (1.0 - l_Alpha) + l_Color * l_Alpha;
    if (_Saturation.z > 0.001)
        l_ColorNT = saturate(l_ColorNT, W, _Saturation.z);
    return l_ColorNT;
}
)";

const char* const CompositeMain = R"(
void main()
{
    vec3 l_Merged = mergeRenderingChannels(TEX0.xy);
    if (_EmissiveBlur > 0)
        l_Merged += tex2D(_EmissiveTexture, TEX0.xy).rgb;
    if (_GlobalIllum > 0) {
        vec4 l_GIClr = tex2D(_GlobalIllumination, TEX0.xy);
        l_Merged += l_GIClr.rgb * _Reflection;
        l_Merged *= clamp(1.0 - l_GIClr.a, _ShadowLimit, 1.0);
    }
    o_FragColor = vec4(l_Merged, 1.0);
}
)";

} // namespace

// ---------------------------------------------------------------------------
// TDeferredCompositeMaterial

TDeferredCompositeMaterial::TDeferredCompositeMaterial(TKorvaneRenderPassMaterialSource* ASource)
    : TKorvaneRenderPassMaterial(ASource)
{
    FShaderData.ShadowLimit = 0.1f;
    FShaderData.Reflection = 1.0f;
    FTextures = {{"AlbedoTexture"},  {"TranslucentAlbedoTexture"}, {"AlphaTexture"},      {"PositionTexture"},
                 {"NormalsTexture"}, {"EmissiveTexture"},          {"GlobalIllumination"}};
}

void TDeferredCompositeMaterial::SetAlbedoTexture(TTexture* AValue)
{
    FAlbedoTexture = AValue;
    DoChange();
}

void TDeferredCompositeMaterial::SetTranslucentAlbedoTexture(TTexture* AValue)
{
    FTranslucentAlbedoTexture = AValue;
    DoChange();
}

void TDeferredCompositeMaterial::SetAlphaTexture(TTexture* AValue)
{
    FAlphaTexture = AValue;
    DoChange();
}

void TDeferredCompositeMaterial::SetPositionTexture(TTexture* AValue)
{
    FPositionTexture = AValue;
    DoChange();
}

void TDeferredCompositeMaterial::SetNormalsTexture(TTexture* AValue)
{
    FNormalsTexture = AValue;
    DoChange();
}

void TDeferredCompositeMaterial::SetEmissiveTexture(TTexture* AValue)
{
    FEmissiveTexture = AValue;
    DoChange();
}

void TDeferredCompositeMaterial::DoInitialize()
{
    BuildPassShaders("deferred.composite", CompositeDeclarations, CompositeFunctions, CompositeMain);
}

void TDeferredCompositeMaterial::DoApply(TContext3D* AContext)
{
    auto* context = dynamic_cast<TKorvaneContext*>(AContext);
    TCustomMaterial::DoApply(AContext);
    if (!context) return;
    // A program made anew (a context reset empties the program cache) has no
    // blocks: the block is registered with whichever program is current.
    TShaderProgram* program = TKorvaneContext::GetCurrentProgram();
    if (program && program->IndexOfUniformBuffer(BlockName) < 0)
        program->RegisterUniformBuffer(BlockName, &FShaderData, sizeof(FShaderData));
    TKorvaneRenderPassController* pass = FSource ? FSource->OwnerPass() : nullptr;
    if (!pass) return;

    int count = 0;
    for (const TKorvaneShaderLight& light : context->ShaderLights()) {
        if (count == TCompositeShaderData::MaxLights) break;
        if (light.IsEnabled()) FShaderData.Lights[count++] = light;
    }
    FShaderData.NumberOfLights = count;

    FTextures[AlbedoSlot].Texture = FAlbedoTexture;
    FTextures[TranslucentAlbedoSlot].Texture = FTranslucentAlbedoTexture;
    FTextures[AlphaSlot].Texture = FAlphaTexture;
    FTextures[PositionSlot].Texture = FPositionTexture;
    FTextures[NormalsSlot].Texture = FNormalsTexture;
    FTextures[EmissiveSlot].Texture = FEmissiveTexture;
    FTextures[GISlot].Texture = nullptr;
    auto* composite = dynamic_cast<TKorvaneRenderPassDeferredComposite*>(pass);
    if (TKorvaneRenderPassController* gi = composite ? composite->GlobalIllumPass() : nullptr) {
        FShaderData.GlobalIllum = 1;
        auto* blur = dynamic_cast<TKorvaneRenderPassGlobalIllumBlur*>(gi);
        FTextures[GISlot].Texture = blur ? blur->GetFinalOutputTexture() : gi->GetOutputTexture();
    } else {
        FShaderData.VoxelCenter = TPoint3D(0, 0, 0);
        FShaderData.GlobalIllum = 0;
    }
    ApplyPassVariables(AContext);
    if (program) program->PushUniformBuffers();
}

// ---------------------------------------------------------------------------
// TDeferredCompositeMaterialSource

TMaterial* TDeferredCompositeMaterialSource::CreateMaterial()
{
    FHasMaterial = true;
    return new TDeferredCompositeMaterial(this);
}

// ---------------------------------------------------------------------------
// TKorvaneRenderPassDeferredComposite

void TKorvaneRenderPassDeferredComposite::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
    FShader = CreateShader();
}

TKorvaneRenderPassMaterialSource* TKorvaneRenderPassDeferredComposite::CreateShader()
{
    if (!FSource) FSource.reset(new TDeferredCompositeMaterialSource(this));
    return FSource.get();
}

void TKorvaneRenderPassDeferredComposite::BeforeDestruction()
{
    TKorvaneRenderPassController::BeforeDestruction();
    FShader = nullptr;
    FSource.reset();
}

TDeferredCompositeMaterial* TKorvaneRenderPassDeferredComposite::CompositeMaterial() const
{
    return FSource->CompositeMaterial();
}

void TKorvaneRenderPassDeferredComposite::SetEmissiveBlur(int AValue)
{
    CompositeMaterial()->SetEmissiveBlur(std::clamp(AValue, 0, 15));
}

void TKorvaneRenderPassDeferredComposite::SetGlobalIllumPass(TKorvaneRenderPassController* AValue)
{
    if (AValue == FGlobalIllumPass) return;
    if (FGlobalIllumPass) FGlobalIllumPass->RemoveFreeNotification(this);
    FGlobalIllumPass = AValue;
    if (FGlobalIllumPass) FGlobalIllumPass->FreeNotification(this);
}

void TKorvaneRenderPassDeferredComposite::Notification(TComponent* AComponent, TOperation Operation)
{
    TKorvaneRenderPassController::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent && AComponent == FGlobalIllumPass) FGlobalIllumPass = nullptr;
}

void TKorvaneRenderPassDeferredComposite::CreateRenderer() { FOwnsRenderer = false; }

void TKorvaneRenderPassDeferredComposite::BeginSetup(int ACount, TRenderPass* APass)
{
    TKorvaneRenderPassController::BeginSetup(ACount, APass);
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (!context) return;
    if (TFrameBufferObject* fbo = FRenderer->DefaultFrameBuf()) {
        fbo->Clear({TRenderTarget::Color_0, TRenderTarget::Depth}, TAlphaColorF::Create(TAlphaColors::Black), 1.0f, 0,
                   true);
        fbo->Prepare({TRenderTarget::Color_0});
    }
    context->SetCameraMatrix(TMatrix3D::Identity());
    if (TCamera* camera = FViewport ? FViewport->GetViewportCurrentCamera() : nullptr)
        context->SetCameraAngleOfView(camera->AngleOfView());
}

} // namespace korvane
