#include "Korvane.DefTypes.Material.h"

#include <algorithm>

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TShaderDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TBehaviourRefDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TMaterialDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TMaterialRefDef, DefTypesUnitName)

namespace {

const char* const ShaderKindNames[] = {"VertexShader", "PixelShader", "GeometryShader"};
const char* const LanguageNames[] = {"GLSL", "HLSL", "MSL"};
const char* const NotLayeredAdd = "cannot add submaterial to none layered material - set \"<TMaterialDef>.Kind\" at "
                                  "first to \"TMaterialDefKind.Layered\"";
const char* const NotLayeredGet = "cannot get submaterial of none layered material - set \"<TMaterialDef>.Kind\" at "
                                  "first to \"TMaterialDefKind.Layered\"";

std::unique_ptr<TJSONNumber> Number(float AValue) { return std::make_unique<TJSONNumber>(AValue); }
std::unique_ptr<TJSONNumber> Number(int AValue) { return std::make_unique<TJSONNumber>(AValue); }

float ReadSingle(const TJSONObject& AValue, std::string_view AName, float ADefault)
{
    return TCustomDef::JSONGetSingle(AValue, AName, ADefault);
}

// Reads every element of AArray (objects only, else EInvalidCast) into a new
// item made by AMake, appending it to AList once it is read.
template <typename T, typename Make>
void ReadList(TModelDef* AModel, const TJSONArray& AArray, std::vector<TOwned<T>>& AList, Make&& AMake)
{
    for (const auto& element : AArray) {
        const auto* object = element->TryAs<TJSONObject>();
        if (!object) throw EInvalidCast();
        TOwned<T> item = AMake();
        item->FromJSON(AModel, *object);
        AList.push_back(std::move(item));
    }
}

template <typename T>
std::unique_ptr<TJSONArray> ListToJSON(const std::vector<TOwned<T>>& AList)
{
    auto array = std::make_unique<TJSONArray>();
    array->Reserve(static_cast<int>(AList.size()));
    for (const auto& item : AList) array->Add(item->ToJSON());
    return array;
}

template <typename T>
int64_t ListSize(const std::optional<std::vector<T>>& AList)
{
    if (!AList) return 0;
    int64_t size = sizeof(std::vector<T>);
    for (const auto& item : *AList) size += item->GetSize();
    return size;
}

// The last item of AList that APredicate accepts, or nullptr.
template <typename T, typename Predicate>
T* FindLast(const std::optional<std::vector<TOwned<T>>>& AList, Predicate&& APredicate)
{
    if (!AList) return nullptr;
    for (auto it = AList->rbegin(); it != AList->rend(); ++it)
        if (APredicate(**it)) return it->get();
    return nullptr;
}

template <typename T, typename Predicate>
void RemoveIf(std::optional<std::vector<TOwned<T>>>& AList, Predicate&& APredicate)
{
    if (AList) std::erase_if(*AList, [&](const TOwned<T>& item) { return APredicate(*item); });
}

} // namespace

// ---- TShaderDef ----

void TShaderDef::SetSourceText(std::string_view AText)
{
    SourceCode.clear();
    size_t start = 0;
    while (start < AText.size()) {
        const size_t end = AText.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            SourceCode.emplace_back(AText.substr(start));
            break;
        }
        SourceCode.emplace_back(AText.substr(start, end - start));
        start = end + (AText[end] == '\r' && end + 1 < AText.size() && AText[end + 1] == '\n' ? 2 : 1);
    }
}

std::string TShaderDef::SourceText() const
{
    std::string text;
    for (const auto& line : SourceCode) text += line + "\r\n";
    return text;
}

std::unique_ptr<TJSONObject> TShaderDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    if (static_cast<size_t>(Kind) < std::size(ShaderKindNames))
        obj->AddPair("Kind", ShaderKindNames[static_cast<size_t>(Kind)]);
    obj->AddPair("Language", LanguageNames[static_cast<size_t>(Language)]);
    obj->AddPair("SourceCode", SourceText());
    return obj;
}

void TShaderDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    const std::string kind = JSONGetString(AValue, "Kind", "");
    for (size_t i = 0; i < std::size(ShaderKindNames); ++i)
        if (SameText(kind, ShaderKindNames[i])) Kind = static_cast<TContextShaderKindEx>(i);
    const std::string language = JSONGetString(AValue, "Language", "GLSL");
    for (size_t i = 0; i < std::size(LanguageNames); ++i)
        if (SameText(language, LanguageNames[i])) Language = static_cast<TShaderLanguage>(i);
    SetSourceText(JSONGetString(AValue, "SourceCode", ""));
}

// ---- references ----

std::unique_ptr<TJSONObject> TBehaviourRefDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Name", DisplayName);
    if (Reference()) obj->AddPair("Reference", Reference()->Id());
    return obj;
}

void TBehaviourRefDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    DisplayName = JSONGetString(AValue, "Name", "");
    const auto& services = ModelDefServices();
    if (!AModel) return;
    if (services.FindBehaviourById) SetReference(services.FindBehaviourById(AModel, Id()));
    // A behaviour further on in the model resolves once everything is read.
    if (!Reference() && services.AddLateResolve) services.AddLateResolve(AModel, this, AValue);
}

bool TBehaviourRefDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject&)
{
    const auto& services = ModelDefServices();
    if (!Reference() && AModel && services.FindBehaviourById) SetReference(services.FindBehaviourById(AModel, Id()));
    return true;
}

std::unique_ptr<TJSONObject> TMaterialRefDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    if (Reference()) obj->AddPair("Reference", Reference()->Id());
    return obj;
}

bool TMaterialRefDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject&)
{
    const auto& services = ModelDefServices();
    if (!Reference() && AModel && services.FindMaterialById)
        SetReference(services.FindMaterialById(AModel, Id()));
    return true;
}

// ---- TMaterialDef ----

TMaterialDef::TMaterialDef(TModelDef* AModel, const std::string& AId) : FModel(AModel)
{
    SetId(AId);
    RegisterWithModel();
}

TMaterialDef::~TMaterialDef()
{
    FTextures.reset();
    FShaders.reset();
    FBehaviourRefs.reset();
    FExtensions.reset();
    ClearLayeredMaterials();
    // A sub-material the model frees leaves its parent's list, which would
    // otherwise free it a second time.
    if (FParentMaterial && FParentMaterial->FMaterials)
        std::erase(*FParentMaterial->FMaterials, this);
}

void TMaterialDef::RegisterWithModel()
{
    const auto& services = ModelDefServices();
    if (!FModel || Id().empty() || !services.AddMaterial) return;
    services.AddMaterial(FModel, Id(), this);
    FRegistered = true;
}

TTextureDef* TMaterialDef::AddTexture(TOwned<TTextureDef> ATexDef)
{
    if (!FTextures) FTextures.emplace();
    FTextures->push_back(std::move(ATexDef));
    return FTextures->back().get();
}

TTextureDef* TMaterialDef::AddTexture(TColorChannelDef AChannel, TKorvaneTextureAsset* AAsset, bool AIsAssetOwner)
{
    return AddTexture(MakeOwned<TTextureDef>(this, AChannel, AAsset, AIsAssetOwner));
}

TTextureDef* TMaterialDef::AddTexture(TColorChannelDef AChannel, TOwned<TKorvaneTextureAsset> AAsset)
{
    TTextureDef* texture = AddTexture(MakeOwned<TTextureDef>(this, AChannel, nullptr, true));
    texture->AdoptAsset(std::move(AAsset));
    return texture;
}

TTextureDef* TMaterialDef::GetTexture(TColorChannelDef AChannel) const
{
    if (!FTextures) return nullptr;
    for (const auto& texture : *FTextures)
        if (texture->Channel() == AChannel) return texture.get();
    return nullptr;
}

void TMaterialDef::ClearTextures()
{
    if (FTextures) FTextures->clear();
}

TShaderDef* TMaterialDef::AddShader(const std::string& AId, TContextShaderKindEx AKind, std::string_view ASourceCode,
                                    TShaderLanguage ALanguage)
{
    auto shader = MakeOwned<TShaderDef>();
    shader->SetId(AId);
    shader->Kind = AKind;
    shader->Language = ALanguage;
    shader->SetSourceText(ASourceCode);
    if (!FShaders) FShaders.emplace();
    FShaders->push_back(std::move(shader));
    return FShaders->back().get();
}

TShaderDef* TMaterialDef::GetShader(std::string_view AId) const
{
    if (FShaders)
        for (const auto& shader : *FShaders)
            if (shader->Id() == AId) return shader.get();
    return nullptr;
}

TShaderDef* TMaterialDef::GetShader(TContextShaderKindEx AKind) const
{
    if (FShaders)
        for (const auto& shader : *FShaders)
            if (shader->Kind == AKind) return shader.get();
    return nullptr;
}

void TMaterialDef::RemoveShader(std::string_view AId)
{
    RemoveIf(FShaders, [&](const TShaderDef& shader) { return shader.Id() == AId; });
}

void TMaterialDef::RemoveShaders(TContextShaderKindEx AKind)
{
    RemoveIf(FShaders, [&](const TShaderDef& shader) { return shader.Kind == AKind; });
}

void TMaterialDef::ClearShaders()
{
    if (FShaders) FShaders->clear();
}

TBehaviourRefDef* TMaterialDef::AddMaterialBehaviourRef(const std::string& ADisplayName, TBehaviourDef* ABehaviour)
{
    if (ADisplayName.empty() || !ABehaviour) return nullptr;
    auto ref = MakeOwned<TBehaviourRefDef>();
    ref->SetId(ABehaviour->Id());
    ref->DisplayName = ADisplayName;
    ref->SetReference(ABehaviour);
    if (!FBehaviourRefs) FBehaviourRefs.emplace();
    FBehaviourRefs->push_back(std::move(ref));
    return FBehaviourRefs->back().get();
}

TBehaviourRefDef* TMaterialDef::GetMaterialBehaviourRef(std::string_view AUniqueID) const
{
    return FindLast(FBehaviourRefs, [&](const TBehaviourRefDef& ref) { return ref.Id() == AUniqueID; });
}

TBehaviourRefDef* TMaterialDef::GetMaterialBehaviourRef(const TBehaviourDef* ABehaviour) const
{
    return FindLast(FBehaviourRefs, [&](const TBehaviourRefDef& ref) { return ref.Reference() == ABehaviour; });
}

TBehaviourRefDef* TMaterialDef::GetMaterialBehaviourRefByDisplayName(std::string_view ADisplayName) const
{
    return FindLast(FBehaviourRefs, [&](const TBehaviourRefDef& ref) { return ref.DisplayName == ADisplayName; });
}

void TMaterialDef::RemoveMaterialBehaviourRef(std::string_view AId)
{
    RemoveIf(FBehaviourRefs, [&](const TBehaviourRefDef& ref) { return ref.Id() == AId; });
}

void TMaterialDef::RemoveMaterialBehaviourRef(const TBehaviourDef* ABehaviour)
{
    RemoveIf(FBehaviourRefs, [&](const TBehaviourRefDef& ref) { return ref.Reference() == ABehaviour; });
}

void TMaterialDef::ClearMaterialBehaviourRefs()
{
    if (FBehaviourRefs) FBehaviourRefs->clear();
}

TExtensionDef* TMaterialDef::AddExtension(const std::string& AId)
{
    if (!FExtensions) FExtensions = std::make_unique<TExtensionDefList>();
    auto extension = MakeOwned<TExtensionDef>();
    extension->SetId(AId);
    return FExtensions->Add(std::move(extension));
}

TExtensionDef* TMaterialDef::GetExtension(std::string_view AId) const
{
    return FExtensions ? FExtensions->FindLastExtensionById(AId) : nullptr;
}

void TMaterialDef::RemoveExtension(std::string_view AId)
{
    if (FExtensions) FExtensions->RemoveAll(AId);
}

void TMaterialDef::ClearExtensions()
{
    if (FExtensions) FExtensions->Clear();
}

void TMaterialDef::AddLayeredMaterial(TMaterialDef* AMaterial)
{
    if (Kind != TMaterialDefKind::mkLayered) throw Exception(NotLayeredAdd);
    if (!FMaterials) FMaterials.emplace();
    FMaterials->push_back(AMaterial);
    AMaterial->FParentMaterial = this;
}

TMaterialDef* TMaterialDef::GetLayeredMaterial(std::string_view AId) const
{
    if (Kind != TMaterialDefKind::mkLayered) throw Exception(NotLayeredGet);
    if (FMaterials)
        for (TMaterialDef* material : *FMaterials)
            if (material->Id() == AId) return material;
    return nullptr;
}

TMaterialDef* TMaterialDef::GetLayeredMaterialByIndex(int AIdx) const
{
    if (Kind != TMaterialDefKind::mkLayered) throw Exception(NotLayeredGet);
    if (!FMaterials || AIdx < 0 || AIdx >= static_cast<int>(FMaterials->size())) return nullptr;
    return (*FMaterials)[static_cast<size_t>(AIdx)];
}

void TMaterialDef::ClearLayeredMaterials()
{
    if (!FMaterials) return;
    std::vector<TMaterialDef*> materials = std::move(*FMaterials);
    FMaterials.reset();
    for (TMaterialDef* material : materials) {
        material->FParentMaterial = nullptr;
        // The model's table frees what it holds.
        if (!material->FRegistered) material->Free();
    }
}

int64_t TMaterialDef::GetSize() const
{
    int64_t size = TCustomDef::GetSize() + ListSize(FTextures) + ListSize(FShaders) + ListSize(FBehaviourRefs) +
                   ListSize(FMaterials);
    if (FExtensions) size += FExtensions->GetSize();
    return size;
}

std::unique_ptr<TJSONObject> TMaterialDef::ToJSON() const
{
    // The material's own "Type" is the only one: the material source's class name.
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Type", TypeName);
    obj->AddPair("Id", Id());
    const auto& services = ModelDefServices();
    TTransformDef* model = FModel && services.Root ? services.Root(FModel) : nullptr;
    obj->AddPair("Model", model ? model->Id() : std::string());
    obj->AddPair("Kind", Number(static_cast<int>(Kind)));
    if (Kind == TMaterialDefKind::mkCustom) {
        obj->AddPair("ShadingModel", Number(static_cast<int>(ShadingModel)));
        obj->AddPair("UseTexturing", TJSONBool::Create(UseTexturing));
        obj->AddPair("UseTexture0", TJSONBool::Create(UseTexture0));
        obj->AddPair("UseLighting", TJSONBool::Create(UseLighting));
        obj->AddPair("UseVertexColor", TJSONBool::Create(UseVertexColor));
        obj->AddPair("UseSpecular", TJSONBool::Create(UseSpecular));
    }
    obj->AddPair("UseOpacity", TJSONBool::Create(UseOpacity));
    obj->AddPair("Opacity", Number(Opacity));
    obj->AddPair("DoubleSided", TJSONBool::Create(DoubleSided));
    obj->AddPair("Diffuse", AlphaColorFToString(Diffuse));
    obj->AddPair("Ambient", AlphaColorFToString(Ambient));
    obj->AddPair("Emissive", AlphaColorFToString(Emissive));
    obj->AddPair("Specular", AlphaColorFToString(Specular));
    obj->AddPair("SpecPow", Number(SpecPow));
    obj->AddPair("Brightness", Number(Brightness));
    obj->AddPair("ReflectionColor", AlphaColorFToString(ReflectionColor));
    obj->AddPair("ReflectionPower", Number(ReflectionPower));
    obj->AddPair("UseReflection", TJSONBool::Create(UseReflection));
    obj->AddPair("RefractionColor", AlphaColorFToString(RefractionColor));
    obj->AddPair("RefractionPower", Number(RefractionPower));
    obj->AddPair("UseRefraction", TJSONBool::Create(UseRefraction));
    obj->AddPair("Metallic", Number(Metallic));
    obj->AddPair("Roughness", Number(Roughness));
    obj->AddPair("AO", Number(AO));
    obj->AddPair("UseClipping", TJSONBool::Create(UseClipping));
    obj->AddPair("Clipping", AlphaColorFToString(Clipping));
    obj->AddPair("UseAlphaCutoff", TJSONBool::Create(UseAlphaCutoff));
    obj->AddPair("AlphaCutoff", Number(AlphaCutoff));
    obj->AddPair("ParallaxOcclusionMapping", TJSONBool::Create(ParallaxOcclusionMapping));
    obj->AddPair("ParallaxLevels", Number(ParallaxLevels));
    obj->AddPair("NormalIntensity", Number(NormalIntensity));
    obj->AddPair("Tonemapping", Number(static_cast<int>(Tonemapping)));
    obj->AddPair("TonemappingExposure", Number(TonemappingExposure));
    if (FTextures) obj->AddPair("Textures", ListToJSON(*FTextures));
    if (FShaders) obj->AddPair("Shaders", ListToJSON(*FShaders));
    if (FBehaviourRefs) obj->AddPair("BehaviourRefs", ListToJSON(*FBehaviourRefs));
    if (FExtensions) FExtensions->ToJSON(*obj);
    if (FMaterials) {
        auto array = std::make_unique<TJSONArray>();
        array->Reserve(static_cast<int>(FMaterials->size()));
        for (const TMaterialDef* material : *FMaterials) array->Add(material->ToJSON());
        obj->AddPair("Materials", std::move(array));
    }
    return obj;
}

void TMaterialDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    TypeName = JSONGetString(AValue, "Type", "");
    if (!FRegistered) RegisterWithModel();

    Kind = JSONGetOrdinal(AValue, "Kind", TMaterialDefKind::mkDefault, TMaterialDefKind::mkPBR);
    if (Kind == TMaterialDefKind::mkCustom) {
        ShadingModel = JSONGetOrdinal(AValue, "ShadingModel", TKorvaneShadingModel::smLambert,
                                      TKorvaneShadingModel::smPBR);
        UseTexturing = JSONGetBoolean(AValue, "UseTexturing", false);
        UseTexture0 = JSONGetBoolean(AValue, "UseTexture0", false);
        UseLighting = JSONGetBoolean(AValue, "UseLighting", false);
        UseVertexColor = JSONGetBoolean(AValue, "UseVertexColor", false);
        UseSpecular = JSONGetBoolean(AValue, "UseSpecular", false);
    }
    UseOpacity = JSONGetBoolean(AValue, "UseOpacity", false);
    Opacity = ReadSingle(AValue, "Opacity", 1);
    DoubleSided = JSONGetBoolean(AValue, "DoubleSided", false);
    Diffuse = JSONGetColorF(AValue, "Diffuse", Diffuse);
    Ambient = JSONGetColorF(AValue, "Ambient", Ambient);
    Emissive = JSONGetColorF(AValue, "Emissive", Emissive);
    Specular = JSONGetColorF(AValue, "Specular", Specular);
    SpecPow = ReadSingle(AValue, "SpecPow", SpecPow);
    Brightness = ReadSingle(AValue, "Brightness", Brightness);
    ReflectionColor = JSONGetColorF(AValue, "ReflectionColor", ReflectionColor);
    ReflectionPower = ReadSingle(AValue, "ReflectionPower", ReflectionPower);
    UseReflection = JSONGetBoolean(AValue, "UseReflection", false);
    RefractionColor = JSONGetColorF(AValue, "RefractionColor", RefractionColor);
    RefractionPower = ReadSingle(AValue, "RefractionPower", RefractionPower);
    UseRefraction = JSONGetBoolean(AValue, "UseRefraction", false);
    Metallic = ReadSingle(AValue, "Metallic", Metallic);
    Roughness = ReadSingle(AValue, "Roughness", Roughness);
    AO = ReadSingle(AValue, "AO", AO);
    Clipping = JSONGetColorF(AValue, "Clipping", Clipping);
    // Older files have no "UseClipping": a visible clipping colour switches it on.
    UseClipping = JSONHasKey(AValue, "UseClipping") ? JSONGetBoolean(AValue, "UseClipping", false) : Clipping.A > 0;
    AlphaCutoff = ReadSingle(AValue, "AlphaCutoff", 0);
    UseAlphaCutoff = JSONGetBoolean(AValue, "UseAlphaCutoff", false);
    ParallaxOcclusionMapping = JSONGetBoolean(AValue, "ParallaxOcclusionMapping", false);
    ParallaxLevels = JSONGetInteger(AValue, "ParallaxLevels", 16);
    NormalIntensity = ReadSingle(AValue, "NormalIntensity", 0);
    Tonemapping = JSONGetOrdinal(AValue, "Tonemapping", TKorvaneTonemapping::tmNone, TKorvaneTonemapping::tmUncharted2);
    TonemappingExposure = ReadSingle(AValue, "TonemappingExposure", 0);

    if (const TJSONArray* array = JSONGetArray(AValue, "Textures")) {
        if (!FTextures) FTextures.emplace();
        ReadList(AModel, *array, *FTextures,
                 [this] { return MakeOwned<TTextureDef>(this, TColorChannelDef::Diffuse, nullptr, false); });
    }
    if (const TJSONArray* array = JSONGetArray(AValue, "Shaders")) {
        if (!FShaders) FShaders.emplace();
        ReadList(AModel, *array, *FShaders, [] { return MakeOwned<TShaderDef>(); });
    }
    if (const TJSONArray* array = JSONGetArray(AValue, "BehaviourRefs")) {
        if (!FBehaviourRefs) FBehaviourRefs.emplace();
        ReadList(AModel, *array, *FBehaviourRefs, [] { return MakeOwned<TBehaviourRefDef>(); });
    }
    if (const TJSONArray* array = JSONGetArray(AValue, "Extensions")) {
        if (!FExtensions) FExtensions = std::make_unique<TExtensionDefList>();
        FExtensions->FromJSON(AModel, *array);
    }
    if (const TJSONArray* array = JSONGetArray(AValue, "Materials")) ReadLayeredMaterials(AModel, *array);
}

void TMaterialDef::ReadLayeredMaterials(TModelDef* AModel, const TJSONArray& AArray)
{
    for (const auto& element : AArray) {
        const auto* object = element->TryAs<TJSONObject>();
        if (!object) throw EInvalidCast();
        TOwned<TMaterialDef> material(new TMaterialDef(FModel));
        // Once registered, the model's table owns the sub-material, also when
        // its reading or adding fails; until then this reading does.
        try {
            material->FromJSON(AModel, *object);
        } catch (...) {
            if (material->FRegistered) static_cast<void>(material.release());
            throw;
        }
        TMaterialDef* added = material->FRegistered ? material.release() : material.get();
        AddLayeredMaterial(added);
        static_cast<void>(material.release());
    }
}

} // namespace korvane
