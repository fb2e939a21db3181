// The default material source: the bitmap pool, the render-pass inputs and the
// properties it forwards to its material.

#include <array>
#include <string>

#include "Korvane.Control.h"
#include "Korvane.Controller.h"
#include "Korvane.Material.Default.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls.h"
#include "Platform.SysUtils.h"

namespace korvane {

TClass TKorvaneDefaultMaterialSource::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    // The settings a form resource streams; the bitmap pool streams as a collection.
    using T = TKorvaneDefaultMaterialSource;
    static const auto& info = *new TClassInfo<T, TKorvaneMaterialSourceClass>("Korvane.Material.Default", [](auto& c) {
        c.Property("ShadingModel", &T::ShadingModel, &T::SetShadingModel);
        c.Property("ShadingIntensity", &T::ShadingIntensity, &T::SetShadingIntensity);
        c.Property("Brightness", &T::Brightness, &T::SetBrightness);
        c.Property("Color", &T::Color, &T::SetColor);
        c.Property("Diffuse", &T::Diffuse, &T::SetDiffuse);
        c.Property("Emissive", &T::Emissive, &T::SetEmissive);
        c.Property("Ambient", &T::Ambient, &T::SetAmbient);
        c.Property("Specular", &T::Specular, &T::SetSpecular);
        c.Property("ClippingColor", &T::ClippingColor, &T::SetClippingColor);
        c.Property("Shininess", &T::Shininess, &T::SetShininess);
        c.Property("NormalIntensity", &T::NormalIntensity, &T::SetNormalIntensity);
        c.Property("ParallaxLevels", &T::ParallaxLevels, &T::SetParallaxLevels);
        c.Property("MetallicBias", &T::MetallicBias, &T::SetMetallicBias);
        c.Property("RoughnessBias", &T::RoughnessBias, &T::SetRoughnessBias);
        c.Property("AOBias", &T::AOBias, &T::SetAOBias);
        c.Property("NearLimit", &T::NearLimit, &T::SetNearLimit);
        c.Property("FarLimit", &T::FarLimit, &T::SetFarLimit);
        c.Property("Shadows", &T::Shadows, &T::SetShadows);
        c.Property("Reflections", &T::Reflections, &T::SetReflections);
        c.Property("Refractions", &T::Refractions, &T::SetRefractions);
        c.Property("Environment", &T::Environment, &T::SetEnvironment);
        c.Property("UseLighting", &T::UseLighting, &T::SetUseLighting);
        c.Property("UseSpecular", &T::UseSpecular, &T::SetUseSpecular);
        c.Property("UseTexturing", &T::UseTexturing, &T::SetUseTexturing);
        c.Property("UseTexture0", &T::UseTexture0, &T::SetUseTexture0);
        c.Property("UseVertexColor", &T::UseVertexColor, &T::SetUseVertexColor);
        c.Property("UseColorClipping", &T::UseColorClipping, &T::SetUseColorClipping);
        c.Property(
            "VertexShader",
            [](const T& s) { return s.VertexShader() ? *s.VertexShader() : std::vector<std::string>(); },
            [](T& s, const std::vector<std::string>& v) { s.SetVertexShader(v); });
        c.Property(
            "SurfaceShader",
            [](const T& s) { return s.SurfaceShader() ? *s.SurfaceShader() : std::vector<std::string>(); },
            [](T& s, const std::vector<std::string>& v) { s.SetSurfaceShader(v); });
        c.Property("Bitmaps", &T::Bitmaps);
    });
    return &info;
}

TComponent* TKorvaneMaterialSourceClass::CreateComponent(TComponent* AOwner) const
{
    TComponent* component = TMetaClass::CreateComponent(AOwner);
    auto* source = dynamic_cast<TKorvaneDefaultMaterialSource*>(component);
    if (!source) return component;
    return InitializeObject(source, [](TKorvaneDefaultMaterialSource* ASource) { ASource->AfterConstruction(); });
}

namespace {

using K = TKorvaneTextureKind;
using S = TContextShaderKind;
using F = TPixelFormatEx;

// One default bitmap: added while the material allows it, removed otherwise.
struct TDefaultBitmap {
    const char* Name;
    bool (TKorvaneDefaultMaterial::*Allowed)() const;
    TPixelFormatEx Format;
    bool IsDynamic;
    bool IgnoreInArray;
    bool ProtectFormatSettings;
    TContextShaderKind ShaderKind;
    TKorvaneTextureKind TextureKind;
};

constexpr std::array<TDefaultBitmap, 7> DefaultBitmaps = {{
    {"Texture0", &TKorvaneDefaultMaterial::AllowTexture0, F::BGRA, false, true, false, S::PixelShader, K::Texture2D},
    {"NormalMapTexture", &TKorvaneDefaultMaterial::AllowNormalMapTexture, F::RGBA, false, true, true, S::PixelShader,
     K::Texture2D},
    {"DisplacementMapTexture", &TKorvaneDefaultMaterial::AllowDisplacementMapTexture, F::RGBA, false, true, true,
     S::VertexShader, K::Texture2D},
    {"DepthTexture", &TKorvaneDefaultMaterial::AllowDepthTexture, F::BGRA, true, false, true, S::PixelShader,
     K::Texture2D},
    {"ReflectionTexture", &TKorvaneDefaultMaterial::AllowReflectionTexture, F::RGBA, true, false, true,
     S::PixelShader, K::Texture2D},
    {"RefractionTexture", &TKorvaneDefaultMaterial::AllowRefractionTexture, F::RGBA, true, false, true,
     S::PixelShader, K::Texture2D},
    {"EnvironmentTexture", &TKorvaneDefaultMaterial::AllowEnvironmentTexture, F::RGBA, true, false, true,
     S::PixelShader, K::CubeMap},
}};

constexpr int ShadowMapCount = 8;

std::string ShadowMapName(int AIndex) { return Format("%s%d", "ShadowMapTexture", AIndex); }

} // namespace

// ---------------------------------------------------------------------------
// Construction

TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource(TComponent* AOwner) : TMaterialSource(AOwner) {}

TKorvaneDefaultMaterialSource::~TKorvaneDefaultMaterialSource() = default;

void TKorvaneDefaultMaterialSource::AfterConstruction()
{
    FDefaultMaterial = dynamic_cast<TKorvaneDefaultMaterial*>(Material());
    if (!FDefaultMaterial) throw EInvalidCast(Format("%s - the material is not a default material", ClassName()));
    DoCreateBitmapPool();
    if (!ComponentState().Contains(csLoading)) DoUpdateDefaultBitmaps();
    FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
        [this](TObject*, const TMessageBase&) { DoContextResetHandler(); });
}

void TKorvaneDefaultMaterialSource::BeforeDestruction()
{
    if (FContextResetOvrId != 0) TMessageManager::DefaultManager().Unsubscribe(FContextResetOvrId);
    FContextResetOvrId = 0;
    // The texture pool refers to the bitmaps' textures: it goes before them.
    if (FDefaultMaterial && FDefaultMaterial->Textures()) FDefaultMaterial->Textures()->Clear();
    FDefaultMaterial = nullptr;
    FBitmaps.reset();
    for (auto& input : FInputs)
        if (input.second) input.second->RemoveFreeNotification(this);
    FInputs.clear();
    TMaterialSource::BeforeDestruction();
}

TMaterial* TKorvaneDefaultMaterialSource::CreateMaterial() { return TKorvaneDefaultMaterial::Create(this); }

void TKorvaneDefaultMaterialSource::Loaded()
{
    TMaterialSource::Loaded();
    DoUpdateDefaultBitmaps();
}

void TKorvaneDefaultMaterialSource::Notification(TComponent* AComponent, TOperation Operation)
{
    TMaterialSource::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (TKorvaneMaterialBehaviourCollection* behaviours = Behaviours())
        behaviours->Notification(AComponent, Operation);
    if (!AComponent) return;
    if (DepthPass() == AComponent) SetDepthPass(nullptr);
    if (ReflectionPass() == AComponent) SetReflectionPass(nullptr);
    if (RefractionPass() == AComponent) SetRefractionPass(nullptr);
    if (EnvironmentPass() == AComponent) SetEnvironmentPass(nullptr);
    for (int i = 0; i < ShadowMapCount; ++i)
        if (GetShadowMapPass(i) == AComponent) SetShadowMapPass(i, nullptr);
}

void TKorvaneDefaultMaterialSource::DoContextResetHandler() { DoSyncTexturePool(); }

// ---------------------------------------------------------------------------
// Forwarded properties with side effects

void TKorvaneDefaultMaterialSource::SetUseTexture0(bool AValue)
{
    FDefaultMaterial->SetUseTexture0(AValue);
    UpdateDefaultBitmaps();
}

void TKorvaneDefaultMaterialSource::SetShadows(bool AValue)
{
    FDefaultMaterial->SetShadows(AValue);
    UpdateDefaultBitmaps();
}

void TKorvaneDefaultMaterialSource::SetShadowMethod(TKorvaneShadowMethod AValue)
{
    FDefaultMaterial->SetShadowMethod(AValue);
    UpdateDefaultBitmaps();
}

TVector3D TKorvaneDefaultMaterialSource::Displacement() const
{
    return FDefaultMaterial->ShaderData().Material._Displacement;
}

void TKorvaneDefaultMaterialSource::SetDisplacement(const TVector3D& AValue)
{
    FDefaultMaterial->ShaderData().Material._Displacement = AValue;
}

// ---------------------------------------------------------------------------
// Bitmap pool

void TKorvaneDefaultMaterialSource::DoCreateBitmapPool()
{
    if (!FBitmaps) FBitmaps.reset(new TKorvaneBitmapPool(this, TKorvaneBitmapPoolEntry::StaticClass()));
    FBitmaps->OnUpdate = [this](TObject*) { DoSyncTexturePool(); };
}

void TKorvaneDefaultMaterialSource::SetBitmaps(const TKorvaneBitmapPool* AValue)
{
    DoCreateBitmapPool();
    FBitmaps->Assign(AValue);
}

TKorvaneBitmapPoolEntry* TKorvaneDefaultMaterialSource::FindBitmapEntryByName(const std::string& AName) const
{
    if (!FBitmaps) return nullptr;
    for (int i = 0; i < FBitmaps->Count(); ++i)
        if (FBitmaps->Items(i)->DisplayName() == AName) return FBitmaps->Items(i);
    return nullptr;
}

TKorvaneTextureBitmap* TKorvaneDefaultMaterialSource::FindBitmapByName(const std::string& AName) const
{
    const TKorvaneBitmapPoolEntry* entry = FindBitmapEntryByName(AName);
    return entry ? entry->Bitmap() : nullptr;
}

TKorvaneBitmapPoolEntry* TKorvaneDefaultMaterialSource::AddBitmap(
    const std::string& AName, TPixelFormatEx AInternalFormat, TPixelFormatEx AFormat,
    TKorvaneTextureDataType ADataType, bool AIsDynamic, bool AIgnoreInArray, bool AProtectFormatSettings,
    TContextShaderKind AShaderKind, TKorvaneTextureKind ATextureKind)
{
    DoCreateBitmapPool();
    // The limit comes first: a full pool refuses even a name it holds.
    if (FBitmaps->Count() >= MaxPoolEntries)
        throw Exception(
            Format("failed to add bitmap to pool - maximum number of textures in pool reached = %d", MaxPoolEntries));
    if (AName.empty()) throw Exception("failed to add bitmap to pool - no entry name supplied!");
    TKorvaneBitmapPoolEntry* entry = FindBitmapEntryByName(AName);
    if (entry && entry->TextureKind() != ATextureKind) {
        RemoveBitmap(AName);
        entry = nullptr;
    }
    if (!entry) {
        entry = FBitmaps->Add();
        entry->SetName(AName);
    }
    entry->SetIsDynamic(AIsDynamic);
    entry->SetIgnoreInArray(AIgnoreInArray);
    entry->SetShaderKind(AShaderKind);
    entry->SetPixelFormat(ATextureKind, AInternalFormat, AFormat, ADataType, AProtectFormatSettings);
    return entry;
}

void TKorvaneDefaultMaterialSource::RemoveBitmap(const std::string& AName)
{
    TKorvaneBitmapPoolEntry* entry = FindBitmapEntryByName(AName);
    if (!entry) return;
    if (TKorvaneTexturePool* textures = FDefaultMaterial ? FDefaultMaterial->Textures() : nullptr) {
        const int index = textures->IndexOfTexture(entry->Bitmap()->TextureReference());
        if (index >= 0) textures->Delete(index);
    }
    FBitmaps->Delete(entry->Index());
}

void TKorvaneDefaultMaterialSource::DoUpdateDefaultBitmaps()
{
    if (!FDefaultMaterial) return;
    FDefaultMaterial->DoUpdateAllowedTextures();
    DoCreateDefaultBitmaps();
}

void TKorvaneDefaultMaterialSource::DoCreateDefaultBitmaps()
{
    if (!FDefaultMaterial) return;
    auto row = [&](const std::string& AName, bool AAllowed, const TDefaultBitmap& ARow) {
        if (AAllowed)
            AddBitmap(AName, F::RGBA8, ARow.Format, TKorvaneTextureDataType::dtUnsignedByte, ARow.IsDynamic,
                      ARow.IgnoreInArray, ARow.ProtectFormatSettings, ARow.ShaderKind, ARow.TextureKind);
        else RemoveBitmap(AName);
    };
    for (const TDefaultBitmap& r : DefaultBitmaps) row(r.Name, (FDefaultMaterial->*r.Allowed)(), r);
    const TDefaultBitmap shadow{"", nullptr, F::RGBA, true, false, true, S::PixelShader, K::Texture2D};
    for (int i = 0; i < ShadowMapCount; ++i)
        row(ShadowMapName(i), FDefaultMaterial->AllowShadowMapTexture(), shadow);
    DoSyncTexturePool();
}

void TKorvaneDefaultMaterialSource::DoSyncTexturePool()
{
    if (!FDefaultMaterial) return;
    if (FDefaultMaterial->Textures()) {
        DoCreateBitmapPool();
        // Every texture is made and uploaded anew from its bitmap.
        for (int i = 0; i < FBitmaps->Count(); ++i) FBitmaps->Items(i)->Bitmap()->UnsetTextureReference();
        FDefaultMaterial->DoCopyBitmapPool(FBitmaps.get());
    }
    FDefaultMaterial->UpdateShaderProgram();
}

TKorvaneTextureBitmap* TKorvaneDefaultMaterialSource::NamedBitmap(const std::string& AName,
                                                                  const char* AMissing) const
{
    if (TKorvaneTextureBitmap* bitmap = FindBitmapByName(AName)) return bitmap;
    if (Designing()) return nullptr;
    throw Exception(AMissing);
}

TKorvaneTextureBitmap* TKorvaneDefaultMaterialSource::Texture() const
{
    return NamedBitmap("Texture0", "Texture0 not activated in material");
}

void TKorvaneDefaultMaterialSource::SetTexture(const TBitmap* AValue)
{
    if (TKorvaneTextureBitmap* bitmap = Texture()) {
        bitmap->Assign(AValue);
        return;
    }
    // Designing without "Texture0": make the default bitmaps first.
    if (!AValue || !FDefaultMaterial) return;
    FDefaultMaterial->DoUpdateAllowedTextures();
    DoCreateDefaultBitmaps();
    if (TKorvaneTextureBitmap* bitmap = FindBitmapByName("Texture0")) bitmap->Assign(AValue);
}

TKorvaneTextureBitmap* TKorvaneDefaultMaterialSource::NormalMap() const
{
    return NamedBitmap("NormalMapTexture", "NormalMapTexture not activated in material");
}

void TKorvaneDefaultMaterialSource::SetNormalMap(const TBitmap* AValue)
{
    if (TKorvaneTextureBitmap* bitmap = NormalMap()) bitmap->Assign(AValue);
}

TKorvaneTextureBitmap* TKorvaneDefaultMaterialSource::DisplacementMap() const
{
    return NamedBitmap("DisplacementMapTexture", "DisplacementMapTexture not activated in material");
}

void TKorvaneDefaultMaterialSource::SetDisplacementMap(const TBitmap* AValue)
{
    if (TKorvaneTextureBitmap* bitmap = DisplacementMap()) bitmap->Assign(AValue);
}

TPointF TKorvaneDefaultMaterialSource::GetTextureTiling(int AIndex) const
{
    if (!FBitmaps) return TPointF(0, 0);
    return static_cast<TKorvaneBitmapPoolEntry*>(FBitmaps->Items(AIndex))->Tiling();
}

void TKorvaneDefaultMaterialSource::SetTextureTiling(int AIndex, const TPointF& AValue)
{
    if (!FBitmaps) return;
    FBitmaps->Items(AIndex)->SetTiling(AValue);
    DoSyncTexturePool();
}

// ---------------------------------------------------------------------------
// Render-pass inputs

TKorvaneRenderPassController* TKorvaneDefaultMaterialSource::Input(const std::string& AName) const
{
    const auto found = FInputs.find(AName);
    return found == FInputs.end() ? nullptr : found->second;
}

void TKorvaneDefaultMaterialSource::SetInput(const std::string& AName, TKorvaneRenderPassController* AValue)
{
    TKorvaneRenderPassController*& slot = FInputs[AName];
    if (slot == AValue) return;
    TKorvaneRenderPassController* previous = slot;
    slot = AValue;
    // The link goes only when no other input refers to the pass any more.
    if (previous && previous != AValue) {
        bool stillUsed = false;
        for (const auto& input : FInputs) stillUsed = stillUsed || input.second == previous;
        if (!stillUsed) previous->RemoveFreeNotification(this);
    }
    if (AValue) AValue->FreeNotification(this);
}

void TKorvaneDefaultMaterialSource::SetDepthPass(TKorvaneRenderPassController* AValue)
{
    SetInput("DepthTexture", AValue);
    FDefaultMaterial->SetDepthMapping(AValue != nullptr);
}

TKorvaneRenderPassController* TKorvaneDefaultMaterialSource::GetShadowMapPass(int AIndex) const
{
    return Input(ShadowMapName(AIndex));
}

void TKorvaneDefaultMaterialSource::SetShadowMapPass(int AIndex, TKorvaneRenderPassController* AValue)
{
    SetInput(ShadowMapName(AIndex), AValue);
}

// ---------------------------------------------------------------------------
// User shader code

std::vector<std::string>* TKorvaneDefaultMaterialSource::VertexShader() const
{
    TKorvaneNodeBuilder* builder = FDefaultMaterial ? FDefaultMaterial->VertexShaderNode() : nullptr;
    if (!builder || !builder->Globals()) return nullptr;
    auto* node = builder->Globals()->FindNode<TKorvaneVertexShaderFuncNode>({}, true);
    return node ? &node->SourceCode() : nullptr;
}

void TKorvaneDefaultMaterialSource::SetVertexShader(const std::vector<std::string>& AValue)
{
    if (std::vector<std::string>* lines = VertexShader()) {
        *lines = AValue;
        FDefaultMaterial->UpdateShaderProgram();
    }
}

std::vector<std::string>* TKorvaneDefaultMaterialSource::SurfaceShader() const
{
    TKorvaneNodeBuilder* builder = FDefaultMaterial ? FDefaultMaterial->FragmentShaderNode() : nullptr;
    if (!builder || !builder->Globals()) return nullptr;
    auto* node = builder->Globals()->FindNode<TKorvaneSurfaceShaderFuncNode>({}, true);
    return node ? &node->SourceCode() : nullptr;
}

void TKorvaneDefaultMaterialSource::SetSurfaceShader(const std::vector<std::string>& AValue)
{
    if (std::vector<std::string>* lines = SurfaceShader()) {
        *lines = AValue;
        FDefaultMaterial->UpdateShaderProgram();
    }
}

// ---------------------------------------------------------------------------
// Behaviours

TKorvaneMaterialBehaviourCollection* TKorvaneDefaultMaterialSource::Behaviours() const
{
    if (ComponentState().Contains(csDestroying) || !FDefaultMaterial) return nullptr;
    return FDefaultMaterial->Behaviours();
}

void TKorvaneDefaultMaterialSource::SetBehaviours(const TKorvaneMaterialBehaviourCollection* AValue)
{
    if (ComponentState().Contains(csDestroying) || !FDefaultMaterial) return;
    FDefaultMaterial->SetBehaviours(AValue);
}

int TKorvaneDefaultMaterialSource::IndexOfMaterialBehaviour(TKorvaneMaterialBehaviour* ABehaviour) const
{
    const TKorvaneMaterialBehaviourCollection* behaviours = Behaviours();
    if (!behaviours) return -1;
    for (int i = 0; i < behaviours->Count(); ++i)
        if (behaviours->Items(i)->Behaviour() == ABehaviour) return i;
    return -1;
}

bool TKorvaneDefaultMaterialSource::MaterialBehaviourAttached(TKorvaneMaterialBehaviour* ABehaviour) const
{
    return IndexOfMaterialBehaviour(ABehaviour) >= 0;
}

void TKorvaneDefaultMaterialSource::AttachMaterialBehaviour(TKorvaneMaterialBehaviour* ABehaviour)
{
    TKorvaneMaterialBehaviourCollection* behaviours = Behaviours();
    if (!behaviours || MaterialBehaviourAttached(ABehaviour)) return;
    TKorvaneMaterialBehaviourItem* item = behaviours->Add();
    item->SetDisplayName(Format("%s_%s", Name(), ABehaviour ? ABehaviour->Name() : std::string()));
    item->SetBehaviour(ABehaviour);
}

void TKorvaneDefaultMaterialSource::DetachMaterialBehaviour(TKorvaneMaterialBehaviour* ABehaviour)
{
    const int index = IndexOfMaterialBehaviour(ABehaviour);
    if (index >= 0) Behaviours()->Delete(index);
}

void TKorvaneDefaultMaterialSource::ClearMaterialsBehaviours()
{
    if (TKorvaneMaterialBehaviourCollection* behaviours = Behaviours()) behaviours->Clear();
}

TComponent* TKorvaneDefaultMaterialSource::FindModel()
{
    return FindComponentUpwards(this, "Korvane.Model.TKorvaneModel");
}

} // namespace korvane

namespace korvane::units {

void MaterialDefaultInitialize() { RegisterClass<TKorvaneDefaultMaterialSource>(); }

void MaterialDefaultFinalize() { UnRegisterClass(TKorvaneDefaultMaterialSource::StaticClass()); }

} // namespace korvane::units
