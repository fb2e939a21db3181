#include "Korvane.Material.Default.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "Korvane.Context.Shader.h"
#include "Korvane.Context.h"
#include "Korvane.Controller.Kinds.h"
#include "Korvane.Utils.Dialogs.h"
#include "Korvane.Utils.Math.h"
#include "Platform.Log.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneDefaultMaterial, "Korvane.Material.Default")

namespace {

constexpr const char* ToneMappingDefines[] = {
    nullptr,
    "TONEMAP_EXPOSURE",
    "TONEMAP_ACES_NARKOWICZ",
    "TONEMAP_ACES_HILL",
    "TONEMAP_ACES_HILL_EXPOSURE_BOOST",
    "TONEMAP_REINHARD",
    "TONEMAP_LUMABASED_REINHARD",
    "TONEMAP_WP_LUMABASED_REINHARD",
    "TONEMAP_ROMBINDAHOUSE",
    "TONEMAP_FILMIC",
    "TONEMAP_UNCHARTED2",
};
static_assert(std::size(ToneMappingDefines) == size_t(TKorvaneTonemapping::tmUncharted2) + 1);

// Features that sample textures or read texture coordinates, which the shaders
// declare only while "USE_TEXTURE" is defined. Switching texturing off leaves
// these defines in place (their getters then answer False), so the text of a
// stage without "USE_TEXTURE" is taken without them: a feature the material
// reports as off contributes nothing, and the shader compiles.
constexpr const char* TextureOnlyDefines[] = {
    "REFLECTION",        "REFRACTION",       "SHADOWMAPPING",     "VARIANCESHADOWMAPPING",
    "BUMP",              "USE_TEXTURE_ATLAS", "SPECULARMAP",      "PBR_TEX_ALBEDO",
    "PBR_TEX_METALLIC",  "PBR_TEX_ROUGHNESS", "PBR_TEX_AO",       "PBR_TEX_EMISSIVE",
    "SpecularMapTexture",
};

float Clamp(float AValue, float AMin, float AMax) { return std::min(std::max(AValue, AMin), AMax); }

// The seconds of a stopwatch time stamp.
float Seconds(int64_t ATicks) { return float(double(ATicks) / double(TStopwatch::Frequency)); }

TVector3D Corner(const TPoint3D& APoint) { return TVector3D(APoint.X, APoint.Y, APoint.Z, 1); }

} // namespace

std::string KorvaneDefaultShaderName(const void* AMaterial, const char* AExtension)
{
    char key[32];
    std::snprintf(key, sizeof key, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(AMaterial));
    return std::string("default-") + key + AExtension;
}

// ---------------------------------------------------------------------------
// Construction

TKorvaneDefaultMaterial::TKorvaneDefaultMaterial(TMaterialSource* ASource)
    : FSource(ASource), FDefaultSource(dynamic_cast<TKorvaneDefaultMaterialSource*>(ASource)),
      FShaderData(InitShaderData())
{
}

void TKorvaneDefaultMaterial::AfterConstruction()
{
    Initialize();
    FStopWatch.Start();
    const float now = Seconds(TStopwatch::GetTimeStamp());
    FShaderData.TimeInfo = TVector3D(now, now, now, 0);
    FNormalIntensity = 1.0f;
    FInverseNormalMapping = false;
    FShaderData.PassData._NormalIntensity = 1.0f;
    FShaderData.PassData._ParallaxLevels = 16;
    FShaderData.PassData._PBRMetallic = 0.25f;
    FShaderData.PassData._PBRRoughness = 0.75f;
    FShaderData.PassData._PBRAO = 1.0f;
}

TKorvaneDefaultMaterial::~TKorvaneDefaultMaterial()
{
    FBehaviours.reset();
    FTextures.reset();
    // The registered shaders belong to this instance alone: their GL stages go with it.
    try {
        TShaderManager::UnregisterShader(ShaderName(".fvs"));
        TShaderManager::UnregisterShader(ShaderName(".fps"));
    } catch (const Exception& e) {
        Log::d("<ERROR> TKorvaneDefaultMaterial.Destroy: %s", e.Message());
    }
}


void TKorvaneDefaultMaterial::DoUpdateDefaultBitmaps()
{
    if (TKorvaneDefaultMaterialSource* source = DefaultSource(); source && source->DefaultMaterial() == this)
        source->UpdateDefaultBitmaps();
}

std::string TKorvaneDefaultMaterial::ShaderName(const char* AExtension) const
{
    return KorvaneDefaultShaderName(this, AExtension);
}

void TKorvaneDefaultMaterial::DoInitialize()
{
    DoInitTexturePool();
    if (!FBehaviours) FBehaviours.reset(new TKorvaneMaterialBehaviourCollection(this));
    DoCreateVertexShaderBuilder();
    DoUpdateVertexShader();
    DoCreateFragmentShaderBuilder();
    DoUpdateFragmentShader();
}

void TKorvaneDefaultMaterial::DoInitTexturePool()
{
    if (!FTextures) FTextures.reset(new TKorvaneTexturePool(nullptr, TKorvaneTexturePoolEntry::StaticClass()));
    FTextures->Clear();
}

void TKorvaneDefaultMaterial::DoCreateVertexShaderBuilder()
{
    FUpdateShaderProgram = true;
    FVSNode = TKorvaneGLSLVertexShader::Create(this);
}

void TKorvaneDefaultMaterial::DoCreateFragmentShaderBuilder()
{
    FUpdateShaderProgram = true;
    FFSNode = TKorvaneGLSLFragmentShader::Create(this);
}

void TKorvaneDefaultMaterial::SetBehaviours(const TKorvaneMaterialBehaviourCollection* AValue)
{
    if (FBehaviours) FBehaviours->Assign(AValue);
}

// ---------------------------------------------------------------------------
// Shader generation

void TKorvaneDefaultMaterial::DoChange()
{
    DoUpdateVertexShader();
    DoUpdateFragmentShader();
    TCustomMaterial::DoChange();
}

void TKorvaneDefaultMaterial::UpdateShaderProgram()
{
    FUpdateShaderProgram = true;
    DoChange();
}

void TKorvaneDefaultMaterial::DoUpdateVertexShader()
{
    DoBuildVertexShader();
    if (FBehaviours)
        for (int i = 0; i < FBehaviours->Count(); ++i)
            FBehaviours->Items(i)->OnUpdateShader(FVSNode.get(), TContextShaderKind::VertexShader);
    FUpdateShaderProgram = true;
}

void TKorvaneDefaultMaterial::DoUpdateFragmentShader()
{
    DoBuildFragmentShader();
    if (FBehaviours)
        for (int i = 0; i < FBehaviours->Count(); ++i)
            FBehaviours->Items(i)->OnUpdateShader(FFSNode.get(), TContextShaderKind::PixelShader);
    FUpdateShaderProgram = true;
}

void TKorvaneDefaultMaterial::ApplyShadingModelDefines(TKorvaneNodeBuilder& ABuilder) const
{
    static constexpr const char* models[] = {"PHONG", "BLINNPHONG", "PBR"};
    // Lambert (0) has none of the three; the others have exactly their own.
    const int model = FShaderData.ShadingModel;
    for (int i = 0; i < 3; ++i) {
        if (model == i + 1) ABuilder.AddDefine(models[i]);
        else ABuilder.RemoveDefine(models[i]);
    }
}

std::string TKorvaneDefaultMaterial::BuilderText(TKorvaneNodeBuilder& ABuilder) const
{
    if (ABuilder.Defined("USE_TEXTURE")) return ABuilder.ToString();
    std::vector<std::pair<std::string, TValue>> held;
    for (const char* define : TextureOnlyDefines)
        if (auto found = ABuilder.Defines().find(define); found != ABuilder.Defines().end()) held.push_back(*found);
    for (const auto& define : held) ABuilder.RemoveDefine(define.first);
    auto restore = [&] {
        for (const auto& define : held) ABuilder.AddDefine(define.first, define.second);
    };
    std::string text;
    try {
        text = ABuilder.ToString();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return text;
}

TContextShaderSource TKorvaneDefaultMaterial::BuildStageSource(TKorvaneNodeBuilder& ABuilder,
                                                               TContextShaderKind AKind, int& AVarIndex)
{
    ABuilder.AddDefine("CLIPPINGPLANE");
    ApplyShadingModelDefines(ABuilder);
    AVarIndex = 0;
    std::vector<TContextShaderVariable> variables = DoGetTextureShaderVariables(AKind, AVarIndex);
    TContextShaderSource source(TContextShaderArch::GLSL, BuilderText(ABuilder), {});
    AddShaderSourceVariables(source, variables);
    return source;
}

void TKorvaneDefaultMaterial::DoBuildVertexShader()
{
    if (FVSNode) FVSShaderSource = BuildStageSource(*FVSNode, TContextShaderKind::VertexShader, FVSVarIndex);
}

void TKorvaneDefaultMaterial::DoBuildFragmentShader()
{
    if (FFSNode) FFSShaderSource = BuildStageSource(*FFSNode, TContextShaderKind::PixelShader, FFSVarIndex);
}

std::unique_ptr<TKorvaneGLSLTextureUniformNode> TKorvaneDefaultMaterial::DoCreateTextureUniformNode(
    TKorvaneNodeBuilder* ABuilder, const TKorvaneTexturePoolEntry* AEntry, const std::string& AName)
{
    auto node = std::make_unique<TKorvaneGLSLTextureUniformNode>(ABuilder);
    if (AEntry) node->SetTextureKind(AEntry->TextureKind());
    node->SetId(AName.empty() && AEntry ? AEntry->DisplayName() : AName);
    return node;
}

std::vector<TContextShaderVariable> TKorvaneDefaultMaterial::DoGetTextureShaderVariables(TContextShaderKind AKind,
                                                                                        int& AVarIndex)
{
    TKorvaneNodeBuilder* builder = nullptr;
    if (AKind == TContextShaderKind::VertexShader) builder = FVSNode.get();
    else if (AKind == TContextShaderKind::PixelShader) builder = FFSNode.get();
    else throw Exception("TKorvaneDefaultMaterial.DoGetTextureShaderVariables - invalid shader kind");
    TKorvaneCompositeNode* list =
        builder && builder->Globals() && builder->Globals()->Uniforms() ? builder->Globals()->Uniforms()->Textures()
                                                                         : nullptr;
    if (!list) throw Exception("texture node not found in uniform globals");
    list->Clear();

    std::vector<TContextShaderVariable> variables;
    if (!FTextures) return variables;
    const bool asArray = FTextures->DeclareAsArray();
    const int stage = static_cast<int>(AKind);
    int slots = 0;
    auto addNode = [&](std::unique_ptr<TKorvaneGLSLTextureUniformNode> ANode) {
        if (!builder->Globals()->Uniforms()->Textures())
            throw Exception("texture node not assigned - failed to reinitialize textures");
        list->Add(std::move(ANode));
    };
    for (int e = 0; e < FTextures->Count(); ++e) {
        const TKorvaneTexturePoolEntry* entry = FTextures->Items(e);
        if (entry->ShaderKind() != AKind) continue;
        if (!asArray || entry->IsDynamic() || entry->IgnoreInArray()) {
            // A pool that is not an array lists only named entries; in an array,
            // dynamic and ignored entries keep samplers of their own.
            if (!asArray && entry->DisplayName().empty()) continue;
            addNode(DoCreateTextureUniformNode(builder, entry, {}));
            TContextShaderVariable v = TContextShaderVariable::Create(
                entry->DisplayName(), TContextShaderVariableKind::Texture, AVarIndex++, 0);
            if (asArray) v.ShaderKind = stage;
            variables.push_back(std::move(v));
        } else {
            TContextShaderVariable v = TContextShaderVariable::Create(
                Format("PoolTexture[%d]", slots++), TContextShaderVariableKind::Texture, AVarIndex++, 0);
            v.ShaderKind = stage;
            variables.push_back(std::move(v));
        }
    }
    if (asArray) {
        // The array declaration; the pixel stage declares one slot even when empty.
        if (slots > 0) addNode(DoCreateTextureUniformNode(builder, nullptr, Format("PoolTexture[%d]", slots)));
        else if (AKind == TContextShaderKind::PixelShader)
            addNode(DoCreateTextureUniformNode(builder, nullptr, "PoolTexture[1]"));
        FShaderData.Material._PoolTextures = slots;
    } else {
        FShaderData.Material._PoolTextures = 0;
    }
    return variables;
}

void TKorvaneDefaultMaterial::DoUpdateAllowedTextures()
{
    FAllowDisplacementMapTexture = FVSNode && FVSNode->Defined("DISPLACEMENT");
    if (!FFSNode) return;
    const auto has = [this](const char* ADefine) { return FFSNode->Defined(ADefine); };
    FAllowTexture0 = has("USE_TEXTURE0");
    FAllowNormalMapTexture = has("NORMALMAP");
    FAllowDepthTexture = has("DEPTH");
    FAllowReflectionTexture = has("REFLECTION");
    FAllowRefractionTexture = has("REFRACTION");
    FAllowEnvironmentTexture = has("ENVIRONMENT");
    FAllowShadowMapTexture = has("SHADOW") && (has("SHADOWMAPPING") || has("VARIANCESHADOWMAPPING"));
}

TKorvaneTexturePoolEntry* TKorvaneDefaultMaterial::FindTexturePoolEntryByName(const std::string& AName) const
{
    if (!FTextures) return nullptr;
    for (int i = 0; i < FTextures->Count(); ++i)
        if (FTextures->Items(i)->DisplayName() == AName) return FTextures->Items(i);
    return nullptr;
}

void TKorvaneDefaultMaterial::DoCopyBitmapPool(const TKorvaneBitmapPool* ABitmaps)
{
    if (!ABitmaps || !FTextures) return;
    FTextures->Clear();
    for (int i = 0; i < ABitmaps->Count(); ++i) FTextures->Add()->Assign(ABitmaps->Items(i));
}

// ---------------------------------------------------------------------------
// Program registration

void TKorvaneDefaultMaterial::DoReleaseShaders()
{
    if (TKorvaneContext* context = TKorvaneContext::CurrentContext())
        context->RemoveProgram(FVertexShader, FPixelShader);
    FVertexShader = nullptr;
    FPixelShader = nullptr;
}

void TKorvaneDefaultMaterial::DoCreateShaderProgram()
{
    FErrorOnBuildingShader = false;
    DoReleaseShaders();
    FVertexShader = TShaderManager::RegisterShaderFromData(ShaderName(".fvs"), TContextShaderKind::VertexShader, "",
                                                           {FVSShaderSource});
    FPixelShader = TShaderManager::RegisterShaderFromData(ShaderName(".fps"), TContextShaderKind::PixelShader, "",
                                                          {FFSShaderSource});
    FUpdateShaderProgram = false;
}

void TKorvaneDefaultMaterial::DoRegisterUniformBuffers(TContext3D* AContext, TShaderProgram* AProgram)
{
    if (!AProgram) return;
    AProgram->RegisterUniformBuffer("ShaderData", &FShaderData, sizeof(FShaderData));
    if (FBehaviours)
        for (int i = 0; i < FBehaviours->Count(); ++i)
            FBehaviours->Items(i)->OnRegisterUniformBuffer(this, AContext, AProgram);
}

// ---------------------------------------------------------------------------
// Apply

void TKorvaneDefaultMaterial::DoApply(TContext3D* AContext)
{
    const bool registered = FUpdateShaderProgram;
    if (registered) DoCreateShaderProgram();
    if (FErrorOnBuildingShader) return;
    TShaderProgram* program = nullptr;
    try {
        TCustomMaterial::DoApply(AContext);
        program = TKorvaneContext::GetCurrentProgram();
    } catch (const Exception& e) {
        // While its source is being designed a broken shader is shown to the
        // designer once; the material then stays inert until its sources change.
        TKorvaneDefaultMaterialSource* source = DefaultSource();
        if (!source || !source->Designing()) throw;
        const std::string name =
            Format("%s (%s)", source->Name().empty() ? std::string("?") : source->Name(), source->ClassName());
        TLoggingForm::Open(Format("%s - failed to compile shader ...", name), e.Message(), true);
        FErrorOnBuildingShader = true;
        return;
    }
    // A program made anew (the cache may have dropped the old one) has no blocks yet.
    if (registered || (program && program->IndexOfUniformBuffer("ShaderData") < 0))
        DoRegisterUniformBuffers(AContext, program);
    TKorvaneContext* context = TKorvaneContext::Cast(AContext);
    if (!context) return;
    DoApplyBehaviours(context);
    if (FMeasureTime) DoUpdateTimeInfo(context);
    DoApplyMatrices(context);
    DoApplyPoolTextures(context);
    DoApplyInputTextures(context);
    DoApplyShadowMaps(context);
    DoApplyReflection(context);
    DoApplyRefraction(context);
    DoApplyDepthTexture(context);
    DoApplyEnvironment(context);
    DoApplyLights(context);
    DoApplyFog(context);
    if (program) program->PushUniformBuffers();
}

void TKorvaneDefaultMaterial::DoApplyBehaviours(TKorvaneContext* AContext)
{
    if (!FBehaviours) return;
    for (int i = 0; i < FBehaviours->Count(); ++i) FBehaviours->Items(i)->Apply(this, AContext);
}

void TKorvaneDefaultMaterial::DoUpdateTimeInfo(TKorvaneContext*)
{
    FShaderData.TimeInfo.Z = FShaderData.TimeInfo.Y;
    FShaderData.TimeInfo.Y = Seconds(TStopwatch::GetTimeStamp());
    FShaderData.TimeInfo.W = Seconds(FStopWatch.ElapsedTicks());
}

void TKorvaneDefaultMaterial::DoApplyMatrices(TKorvaneContext* AContext)
{
    const TMatrix3D model = AContext->CurrentMatrix();
    const TMatrix3D view = AContext->CurrentCameraMatrix();
    const TMatrix3D projection = AContext->CurrentProjectionMatrix();
    if (AContext->InstanceCount() <= 0) AContext->SetInstances(1, &model);

    const TBoundingBox scene = AContext->GetSceneBoundary();
    const TBoundingBox frustum = AContext->GetFrustumBoundary();
    FShaderData.SceneMin = Corner(scene.MinPoint());
    FShaderData.SceneMax = Corner(scene.MaxPoint());
    FShaderData.FrustumMin = Corner(frustum.MinPoint());
    FShaderData.FrustumMax = Corner(frustum.MaxPoint());
    FShaderData.BoundaryMin = TVector3D(std::max(scene.Left, frustum.Left), std::max(scene.Top, frustum.Top),
                                        std::max(scene.Near, frustum.Near), 1);
    FShaderData.BoundaryMax = TVector3D(std::min(scene.Right, frustum.Right), std::min(scene.Bottom, frustum.Bottom),
                                        std::min(scene.Far, frustum.Far), 1);
    FShaderData.ViewSize = TVector3D(float(AContext->Width()), float(AContext->Height()), AContext->NearPlane(),
                                     AContext->FarPlane());

    FShaderData.Options = 0;
    const PClipPlaneF clip = AContext->GetClippingPlane(0);
    if (clip && clip->Enabled) {
        FShaderData.ClippingPlane = clip->Plane.AsVector3D();
        FShaderData.Options |= ShaderOptionClipPlane;
    } else {
        FShaderData.ClippingPlane = TVector3D(0, 0, 0, 0);
    }
    if (AContext->IsTranslucentRendering()) FShaderData.Options |= ShaderOptionTranslucent;

    FShaderData.ModelViewProjectionMatrix = AContext->CurrentModelViewProjectionMatrix();
    FShaderData.ViewMatrix = view;
    FShaderData.ProjectionMatrix = projection;
    FShaderData.EyePos = Corner(AContext->CurrentCameraEyePosition());
    FShaderData.ViewDir = ExtractViewDirection(view);
    FShaderData.PassData._NormalIntensity = FInverseNormalMapping ? -FNormalIntensity : FNormalIntensity;
}

void TKorvaneDefaultMaterial::DoApplyPoolTextures(TKorvaneContext* AContext)
{
    FShaderData.Material._Features.X = AContext->CurrentOpacity();
    FShaderData.PassData._TranslucentDistance = AContext->TranslucentDistance();
    if (!FTextures) return;
    FShaderData.Material._Textures = FTextures->Count();
    const bool asArray = FTextures->DeclareAsArray();
    int slots = 0;
    for (int i = 0; i < FTextures->Count(); ++i) {
        const TKorvaneTexturePoolEntry* entry = FTextures->Items(i);
        if (i < int(std::size(FShaderData.Material._Texture))) FShaderData.Material._Texture[i]._Tiling = entry->Tiling();
        // A dynamic entry's texture comes from a render pass.
        if (entry->IsDynamic()) continue;
        const std::string name = !asArray || entry->IgnoreInArray() ? entry->DisplayName()
                                                                    : Format("PoolTexture[%d]", slots++);
        AContext->SetShaderVariable(name, entry->Texture());
    }
}

namespace {

constexpr std::string_view ShadowMapPrefix = "ShadowMapTexture";

bool IsShadowMapInput(const std::string& AName) { return AName.compare(0, ShadowMapPrefix.size(), ShadowMapPrefix) == 0; }

// The index after "ShadowMapTexture": a whole decimal number, -1 for anything else.
int ShadowMapIndex(const std::string& AName)
{
    const std::string rest = AName.substr(ShadowMapPrefix.size());
    if (rest.empty() || rest.size() > 9 || rest.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(rest);
}

template <class T>
bool IsA(const TKorvaneRenderPassController* APass)
{
    return dynamic_cast<const T*>(APass) != nullptr;
}

bool Active(const TKorvaneRenderPassController* APass) { return APass && APass->Enabled(); }

} // namespace

void TKorvaneDefaultMaterial::DoApplyInputTextures(TKorvaneContext* AContext)
{
    const TKorvaneDefaultMaterialSource* source = DefaultSource();
    if (!source) return;
    for (const auto& [name, pass] : source->Inputs()) {
        // Shadow maps are bound by their own step, and only while shadows are on.
        if (IsShadowMapInput(name) || !pass) continue;
        AContext->SetShaderVariable(name, pass->GetOutputTexture());
    }
}

void TKorvaneDefaultMaterial::DoApplyShadowMaps(TKorvaneContext* AContext)
{
    const TKorvaneDefaultMaterialSource* source = DefaultSource();
    if (!source || !FShadows) return;
    for (const auto& [name, pass] : source->Inputs()) {
        if (!IsShadowMapInput(name)) continue;
        const int index = ShadowMapIndex(name);
        if (index < 0 || index >= int(std::size(FShaderData.PassData._ShadowMapMatrix))) continue;
        TMatrix3D matrix;
        TTexture* texture = nullptr;
        if (IsA<TKorvaneRenderPassSMStoreDepth>(pass) || IsA<TKorvaneRenderPassVSMStoreDepth>(pass)) {
            matrix = pass->GetTextureMatrix(AContext, true);
            texture = pass->GetOutputTexture();
        } else if (IsA<TKorvaneRenderPassVSMBlur>(pass) && IsA<TKorvaneRenderPassVSMStoreDepth>(pass->GetInputPass())) {
            matrix = pass->GetInputPass()->GetTextureMatrix(AContext, true);
            texture = pass->GetOutputTexture();
        } else {
            continue;
        }
        FShaderData.PassData._ShadowMapMatrix[index] = matrix;
        AContext->SetShaderVariable(name, texture);
    }
}

void TKorvaneDefaultMaterial::DoApplyReflection(TKorvaneContext* AContext)
{
    // The flags first: asking the builder for a define is a look-up by name.
    const TKorvaneDefaultMaterialSource* source = DefaultSource();
    if (!FReflections || !source || !DefinedFragment("REFLECTION")) return;
    const TKorvaneRenderPassController* pass = source->ReflectionPass();
    if (!Active(pass) || ReflectionPower() <= 0) return;
    if (IsA<TKorvaneRenderPassReflection>(pass))
        FShaderData.PassData._ReflectTextureMatrix = pass->GetTextureMatrix(AContext, true);
    else if (IsA<TKorvaneRenderPassReflection>(pass->GetInputPass()))
        FShaderData.PassData._ReflectTextureMatrix = pass->GetInputPass()->GetTextureMatrix(AContext, true);
}

void TKorvaneDefaultMaterial::DoApplyRefraction(TKorvaneContext* AContext)
{
    const TKorvaneDefaultMaterialSource* source = DefaultSource();
    if (!FRefractions || !source || !DefinedFragment("REFRACTION")) return;
    const TKorvaneRenderPassController* pass = source->RefractionPass();
    if (Active(pass) && RefractionPower() > 0 && IsA<TKorvaneRenderPassRefraction>(pass))
        FShaderData.PassData._RefractTextureMatrix = pass->GetTextureMatrix(AContext, false);
}

void TKorvaneDefaultMaterial::DoApplyDepthTexture(TKorvaneContext* AContext)
{
    const TKorvaneDefaultMaterialSource* source = DefaultSource();
    if (!source) return;
    TKorvaneRenderPassController* pass = source->DepthPass();
    if (!Active(pass) || !IsA<TKorvaneRenderPassCustomDepth>(pass) || !DefinedFragment("DEPTH")) return;
    if (TTexture* texture = pass->GetOutputTexture()) AContext->SetShaderVariable("DepthTexture", texture);
}

void TKorvaneDefaultMaterial::DoApplyEnvironment(TKorvaneContext*)
{
    const TKorvaneDefaultMaterialSource* source = DefaultSource();
    if (!FEnvironment || !source || !DefinedFragment("ENVIRONMENT")) return;
    const TKorvaneRenderPassController* pass = source->EnvironmentPass();
    if (Active(pass) && IsA<TKorvaneRenderPassEnvironment>(pass))
        FShaderData.PassData._ReflectTextureMatrix = KorvaneBiasMatrix();
}

void TKorvaneDefaultMaterial::DoApplyLights(TKorvaneContext* AContext)
{
    int count = 0;
    for (const TKorvaneShaderLight& light : AContext->ShaderLights()) {
        if (count >= int(std::size(FShaderData.Lights))) break;
        if (light.IsEnabled()) FShaderData.Lights[count++] = light;
    }
    FShaderData.LightsCount = count;
}

void TKorvaneDefaultMaterial::DoApplyFog(TKorvaneContext* AContext)
{
    const TKorvaneFogSettings& fog = AContext->Fog();
    FShaderData.FogMode = (fog.Enabled ? 1 : 0) | int32_t(fog.Mode);
    FShaderData.FogDensity = fog.Density;
    FShaderData.FogStart = std::max(0.1f, std::min(1000.0f, fog.FogStart));
    FShaderData.FogEnd = std::max(0.1f, std::min(1000.0f, fog.FogEnd));
    FShaderData.FogColor = fog.Color;
}

// ---------------------------------------------------------------------------
// Define helpers

void TKorvaneDefaultMaterial::SetBoth(const char* ADefine, bool AOn)
{
    for (TKorvaneNodeBuilder* b : {static_cast<TKorvaneNodeBuilder*>(FVSNode.get()),
                                   static_cast<TKorvaneNodeBuilder*>(FFSNode.get())}) {
        if (!b) continue;
        if (AOn) b->AddDefine(ADefine);
        else b->RemoveDefine(ADefine);
    }
}

void TKorvaneDefaultMaterial::SetFragment(const char* ADefine, bool AOn)
{
    if (!FFSNode) return;
    if (AOn) FFSNode->AddDefine(ADefine);
    else FFSNode->RemoveDefine(ADefine);
}

bool TKorvaneDefaultMaterial::DefinedBoth(const char* ADefine) const
{
    return FVSNode && FFSNode && FVSNode->Defined(ADefine) && FFSNode->Defined(ADefine);
}

bool TKorvaneDefaultMaterial::DefinedFragment(const char* ADefine) const
{
    return FFSNode && FFSNode->Defined(ADefine);
}

void TKorvaneDefaultMaterial::EnsureTexturing()
{
    if (!DefinedBoth("USE_TEXTURE")) SetBoth("USE_TEXTURE", true);
}

void TKorvaneDefaultMaterial::SetTextureMap(std::initializer_list<const char*> ADefines, bool AOn)
{
    if (AOn) EnsureTexturing();
    for (const char* d : ADefines) SetBoth(d, AOn);
    DoChange();
}

bool TKorvaneDefaultMaterial::TextureMap(std::initializer_list<const char*> ADefines) const
{
    if (!DefinedBoth("USE_TEXTURE")) return false;
    for (const char* d : ADefines)
        if (!DefinedBoth(d)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Switches

TKorvaneShadingModel TKorvaneDefaultMaterial::ShadingModel() const
{
    return static_cast<TKorvaneShadingModel>(FShaderData.ShadingModel);
}

void TKorvaneDefaultMaterial::SetShadingModel(TKorvaneShadingModel AValue)
{
    FShaderData.ShadingModel = static_cast<int32_t>(AValue);
    DoChange();
}

void TKorvaneDefaultMaterial::SetShadingIntensity(float AValue) { FShaderData.ShadingIntensity = Clamp(AValue, 0, 10); }
void TKorvaneDefaultMaterial::SetBrightness(float AValue) { FShaderData.Brightness = Clamp(AValue, 0, 10); }
void TKorvaneDefaultMaterial::SetShininess(float AValue) { FShaderData.Material._Shininess = Clamp(AValue, 0, 100); }
void TKorvaneDefaultMaterial::SetNormalIntensity(float AValue) { FNormalIntensity = Clamp(AValue, 0, 10); }
void TKorvaneDefaultMaterial::SetParallaxLevels(int AValue)
{
    FShaderData.PassData._ParallaxLevels = std::min(std::max(AValue, 4), 256);
}
void TKorvaneDefaultMaterial::SetTonemappingExposure(float AValue)
{
    FShaderData.Material._ToneMapExp = Clamp(AValue, 0, 10);
}
void TKorvaneDefaultMaterial::SetMetallicBias(float AValue) { FShaderData.PassData._PBRMetallic = Clamp(AValue, 0, 1); }
void TKorvaneDefaultMaterial::SetRoughnessBias(float AValue)
{
    FShaderData.PassData._PBRRoughness = Clamp(AValue, 0, 1);
}
void TKorvaneDefaultMaterial::SetAOBias(float AValue) { FShaderData.PassData._PBRAO = Clamp(AValue, 0, 1); }

void TKorvaneDefaultMaterial::SetMeasureTime(bool AValue)
{
    FMeasureTime = AValue;
    if (!AValue) return;
    FStopWatch.Reset();
    FStopWatch.Start();
    const float now = Seconds(TStopwatch::GetTimeStamp());
    FShaderData.TimeInfo = TVector3D(now, now, now, 0);
}

bool TKorvaneDefaultMaterial::UseLighting() const { return DefinedBoth("LIGHTING"); }
void TKorvaneDefaultMaterial::SetUseLighting(bool AValue)
{
    SetBoth("LIGHTING", AValue);
    DoChange();
}

bool TKorvaneDefaultMaterial::UseSpecular() const { return DefinedBoth("USE_SPECULAR"); }
void TKorvaneDefaultMaterial::SetUseSpecular(bool AValue)
{
    SetBoth("USE_SPECULAR", AValue);
    DoChange();
}

bool TKorvaneDefaultMaterial::UseTexturing() const { return DefinedBoth("USE_TEXTURE"); }
void TKorvaneDefaultMaterial::SetUseTexturing(bool AValue)
{
    SetBoth("USE_TEXTURE", AValue);
    if (!AValue) SetFragment("USE_TEXTURE0", false);
    DoChange();
}

bool TKorvaneDefaultMaterial::UseTexture0() const
{
    return DefinedBoth("USE_TEXTURE") && DefinedFragment("USE_TEXTURE0");
}
void TKorvaneDefaultMaterial::SetUseTexture0(bool AValue)
{
    if (AValue) EnsureTexturing();
    SetFragment("USE_TEXTURE0", AValue);
    DoChange();
}

bool TKorvaneDefaultMaterial::UseVertexColor() const { return DefinedBoth("USE_VERTEXCOLOR"); }
void TKorvaneDefaultMaterial::SetUseVertexColor(bool AValue)
{
    SetBoth("USE_VERTEXCOLOR", AValue);
    DoChange();
}

bool TKorvaneDefaultMaterial::UseDisplacementMapping() const { return TextureMap({"DISPLACEMENT"}); }
void TKorvaneDefaultMaterial::SetUseDisplacementMapping(bool AValue) { SetTextureMap({"DISPLACEMENT"}, AValue); }
bool TKorvaneDefaultMaterial::UseNormalMapping() const { return TextureMap({"NORMALMAP", "BUMP"}); }
void TKorvaneDefaultMaterial::SetUseNormalMapping(bool AValue) { SetTextureMap({"NORMALMAP", "BUMP"}, AValue); }
bool TKorvaneDefaultMaterial::UseSpecularMapping() const { return TextureMap({"SPECULARMAP"}); }
void TKorvaneDefaultMaterial::SetUseSpecularMapping(bool AValue) { SetTextureMap({"SPECULARMAP"}, AValue); }
bool TKorvaneDefaultMaterial::UseEmissiveTexture() const { return TextureMap({"EMISSIVEMAP"}); }
void TKorvaneDefaultMaterial::SetUseEmissiveTexture(bool AValue) { SetTextureMap({"EMISSIVEMAP"}, AValue); }
bool TKorvaneDefaultMaterial::UseDepthMap() const { return TextureMap({"DEPTH"}); }
void TKorvaneDefaultMaterial::SetUseDepthMap(bool AValue) { SetTextureMap({"DEPTH"}, AValue); }

bool TKorvaneDefaultMaterial::UseParallaxOcclusion() const { return DefinedFragment("POM"); }
void TKorvaneDefaultMaterial::SetUseParallaxOcclusion(bool AValue)
{
    SetBoth("POM", AValue);
    DoChange();
}

#define KORVANE_FRAGMENT_SWITCH(Name, Define)                                                                        \
    bool TKorvaneDefaultMaterial::Name() const { return DefinedFragment(Define); }                                   \
    void TKorvaneDefaultMaterial::Set##Name(bool AValue)                                                             \
    {                                                                                                                \
        SetFragment(Define, AValue);                                                                                 \
        DoChange();                                                                                                  \
    }
KORVANE_FRAGMENT_SWITCH(UsePBRAlbedoTexture, "PBR_TEX_ALBEDO")
KORVANE_FRAGMENT_SWITCH(UsePBRMetallicTexture, "PBR_TEX_METALLIC")
KORVANE_FRAGMENT_SWITCH(UsePBRRoughnessTexture, "PBR_TEX_ROUGHNESS")
KORVANE_FRAGMENT_SWITCH(UsePBRAOTexture, "PBR_TEX_AO")
KORVANE_FRAGMENT_SWITCH(UsePBREmissiveTexture, "PBR_TEX_EMISSIVE")
KORVANE_FRAGMENT_SWITCH(UsePBRSpecularTexture, "SpecularMapTexture")
KORVANE_FRAGMENT_SWITCH(UseColorClipping, "USE_COLORCLIP")
#undef KORVANE_FRAGMENT_SWITCH

bool TKorvaneDefaultMaterial::UseAlphaCutoff() const { return DefinedFragment("USE_ALPHACUTOFF"); }
void TKorvaneDefaultMaterial::SetUseAlphaCutoff(bool AValue)
{
    SetFragment("USE_ALPHACUTOFF", AValue);
    FShaderData.Material._AlphaCutoff.X = AValue ? 1.0f : 0.0f;
    DoChange();
}

void TKorvaneDefaultMaterial::SetTonemapping(TKorvaneTonemapping AValue)
{
    for (const char* define : ToneMappingDefines)
        if (define) SetFragment(define, false);
    FTonemapping = AValue;
    const auto index = static_cast<size_t>(AValue);
    if (index < std::size(ToneMappingDefines) && ToneMappingDefines[index]) SetFragment(ToneMappingDefines[index], true);
    DoChange();
}

void TKorvaneDefaultMaterial::SetShadows(bool AValue)
{
    FShadows = AValue;
    if (AValue) {
        SetBoth("SHADOW", true);
        SetBoth("USE_TEXTURE", true);
        const bool variance = FShadowMethod == TKorvaneShadowMethod::VarianceShadowMapping;
        SetBoth(variance ? "SHADOWMAPPING" : "VARIANCESHADOWMAPPING", false);
        SetBoth(variance ? "VARIANCESHADOWMAPPING" : "SHADOWMAPPING", true);
    } else {
        for (const char* define : {"SHADOW", "SHADOWMAPPING", "VARIANCESHADOWMAPPING"}) SetBoth(define, false);
    }
    DoChange();
}

void TKorvaneDefaultMaterial::SetShadowMethod(TKorvaneShadowMethod AValue)
{
    FShadowMethod = AValue;
    SetShadows(FShadows);
}

void TKorvaneDefaultMaterial::SetDepthMapping(bool AValue)
{
    FDepthMapping = AValue;
    if (AValue) EnsureTexturing();
    SetBoth("DEPTH", AValue);
    DoChange();
}

void TKorvaneDefaultMaterial::SetReflections(bool AValue)
{
    if (AValue) {
        if (FEnvironment) {
            FEnvironment = false;
            SetBoth("ENVIRONMENT", false);
        }
        EnsureTexturing();
    }
    FReflections = AValue;
    SetBoth("REFLECTION", AValue);
    DoUpdateDefaultBitmaps();
    DoChange();
}

void TKorvaneDefaultMaterial::SetRefractions(bool AValue)
{
    if (AValue) {
        if (FEnvironment) {
            FEnvironment = false;
            SetBoth("ENVIRONMENT", false);
        }
        EnsureTexturing();
    }
    FRefractions = AValue;
    SetBoth("REFRACTION", AValue);
    DoUpdateDefaultBitmaps();
    DoChange();
}

void TKorvaneDefaultMaterial::SetEnvironment(bool AValue)
{
    if (AValue) {
        if (FReflections) {
            FReflections = false;
            SetBoth("REFLECTION", false);
        }
        if (FRefractions) {
            FRefractions = false;
            SetBoth("REFRACTION", false);
        }
        EnsureTexturing();
    }
    FEnvironment = AValue;
    SetBoth("ENVIRONMENT", AValue);
    DoUpdateDefaultBitmaps();
    DoChange();
}

} // namespace korvane
