#include "Korvane.DefTypes.Texture.h"

#include <algorithm>
#include <filesystem>

#include "Korvane.DefTypes.Material.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TSamplerDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TTextureDef, DefTypesUnitName)

namespace {

const char* const TextureKindNames[] = {"Texture2D", "Texture3D", "CubeMap", "ImageTexture3D", "Array2D"};
const char* const WrapNames[] = {"Clamp", "ClampToEdge", "ClampToBorder", "Repeated", "MirroredRepeat"};

template <typename E, size_t N>
const char* NameOf(const char* const (&ANames)[N], E AValue)
{
    const auto i = static_cast<size_t>(AValue);
    return i < N ? ANames[i] : "";
}

// The value whose name equals ALowerText in lower case, or AOther.
template <typename E, size_t N>
E ValueOfLowerName(const char* const (&ANames)[N], const std::string& AText, E AOther)
{
    const std::string lower = LowerCase(AText);
    for (size_t i = 0; i < N; ++i)
        if (LowerCase(ANames[i]) == lower) return static_cast<E>(i);
    return AOther;
}

// The stored file name of an asset is a name safe to write a file under: the
// text after the last backslash or colon of its original name, so
// "scan:01.png" gives "01.png". A stand-alone asset is read back beside the
// model under the last part of its original name when that part gives the
// stored file name (the answer here), so that a name holding a colon comes
// back as it was written; "" when the two do not agree.
std::string StoredAssetName(const TKorvaneTextureAsset& AAsset)
{
    const std::string& original = AAsset.OriginalFilename();
    const size_t delimiter = original.find_last_of("\\/");
    std::string last = delimiter == std::string::npos ? original : original.substr(delimiter + 1);
    // A drive mark ("C:name.png") is no part of the name.
    if (delimiter == std::string::npos && last.size() >= 2 && last[1] == ':') last.erase(0, 2);
    return !AAsset.Filename().empty() && ExtractAssetFileName(last) == AAsset.Filename() ? last : std::string();
}

const char* FilterName(TTextureFilter AFilter) { return AFilter == TTextureFilter::Nearest ? "Nearest" : "Linear"; }

void ReadFilter(const TJSONObject& AValue, std::string_view AName, TTextureFilter& AFilter)
{
    const std::string text = TCustomDef::JSONGetString(AValue, AName, "");
    if (!text.empty()) AFilter = LowerCase(text) == "nearest" ? TTextureFilter::Nearest : TTextureFilter::Linear;
}

void ReadWrap(const TJSONObject& AValue, std::string_view AName, TKorvaneTextureWrap& AWrap)
{
    const std::string text = TCustomDef::JSONGetString(AValue, AName, "");
    if (!text.empty()) AWrap = ValueOfLowerName(WrapNames, text, TKorvaneTextureWrap::ClampToEdge);
}

// Mirrors the picture top to bottom (AVertical) or left to right.
void FlipBitmap(TBitmap& ABitmap, bool AVertical)
{
    TBitmapData data;
    if (!ABitmap.Map(TMapAccess::ReadWrite, data)) return;
    const size_t rowBytes = size_t(data.Width) * TBitmapData::BytesPerPixel;
    if (AVertical) {
        std::vector<uint8_t> row(rowBytes);
        for (int top = 0, bottom = data.Height - 1; top < bottom; ++top, --bottom) {
            std::copy_n(data.GetScanline(top), rowBytes, row.data());
            std::copy_n(data.GetScanline(bottom), rowBytes, data.GetScanline(top));
            std::copy_n(row.data(), rowBytes, data.GetScanline(bottom));
        }
    } else {
        for (int y = 0; y < data.Height; ++y) {
            auto* pixels = reinterpret_cast<uint32_t*>(data.GetScanline(y));
            std::reverse(pixels, pixels + data.Width);
        }
    }
    ABitmap.Unmap(data);
}

// The folder part of a file name, its last delimiter included ("" without one).
std::string ExtractFolder(const std::string& AFilename)
{
    const size_t pos = AFilename.find_last_of("\\/:");
    return pos == std::string::npos ? std::string() : AFilename.substr(0, pos + 1);
}

bool FileExists(const std::string& AFilename)
{
    std::error_code error;
    return !AFilename.empty() && std::filesystem::is_regular_file(AFilename, error);
}

} // namespace

// ---- TSamplerDef ----

std::unique_ptr<TJSONObject> TSamplerDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Kind", NameOf(TextureKindNames, TextureKind));
    obj->AddPair("InternalFormat", std::make_unique<TJSONNumber>(static_cast<int>(InternalFormat)));
    obj->AddPair("Format", std::make_unique<TJSONNumber>(static_cast<int>(Format)));
    obj->AddPair("DataType", std::make_unique<TJSONNumber>(static_cast<int>(DataType)));
    obj->AddPair("BorderColor", AlphaColorFToString(BorderColor));
    obj->AddPair("MinFilter", FilterName(MinFilter));
    obj->AddPair("MagFilter", FilterName(MagFilter));
    obj->AddPair("WrapS", NameOf(WrapNames, WrapS));
    obj->AddPair("WrapT", NameOf(WrapNames, WrapT));
    obj->AddPair("WrapR", NameOf(WrapNames, WrapR));
    return obj;
}

void TSamplerDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    TextureKind = ValueOfLowerName(TextureKindNames, JSONGetString(AValue, "Kind", "Texture2D"),
                                   TKorvaneTextureKind::Texture2D);
    constexpr auto LastFormat = TPixelFormatEx(PixelFormatExCount - 1);
    InternalFormat = JSONGetOrdinal(AValue, "InternalFormat", TPixelFormatEx::RGBA8, LastFormat);
    Format = JSONGetOrdinal(AValue, "Format", TPixelFormatEx::BGRA, LastFormat);
    DataType = JSONGetOrdinal(AValue, "DataType", TKorvaneTextureDataType::dtUnsignedByte,
                              TKorvaneTextureDataType::dtDouble);
    const std::string border = JSONGetString(AValue, "BorderColor", "");
    if (!border.empty()) BorderColor = StringToAlphaColorF(border);
    ReadFilter(AValue, "MinFilter", MinFilter);
    ReadFilter(AValue, "MagFilter", MagFilter);
    ReadWrap(AValue, "WrapS", WrapS);
    ReadWrap(AValue, "WrapT", WrapT);
    ReadWrap(AValue, "WrapR", WrapR);
}

// ---- TTextureBitmapInstance ----

TTextureBitmapInstance TTextureBitmapInstance::Borrowed(TBitmap* ABitmap)
{
    TTextureBitmapInstance instance;
    instance.FBorrowed = ABitmap;
    return instance;
}

TTextureBitmapInstance TTextureBitmapInstance::Owned(TOwned<TBitmap> ABitmap)
{
    TTextureBitmapInstance instance;
    instance.FOwned = std::move(ABitmap);
    return instance;
}

TOwned<TBitmap> TTextureBitmapInstance::Release()
{
    if (!FOwned) throw EInvalidOperation("a lent texture bitmap cannot be handed over");
    return std::move(FOwned);
}

// ---- TTextureDef ----

TTextureDef::TTextureDef(TMaterialDef* AMaterial, TColorChannelDef AChannel, TKorvaneTextureAsset* AAsset,
                         bool AIsAssetOwner)
    : FMaterial(AMaterial), FChannel(AChannel), FSampler(MakeOwned<TSamplerDef>())
{
    SetAssetRef(AAsset);
    FIsAssetOwner = AIsAssetOwner;
}

TTextureDef::~TTextureDef() { FAssetRef = nullptr; }

TModelDef* TTextureDef::Model() const { return FMaterial ? FMaterial->Model() : nullptr; }

void TTextureDef::SetAssetRef(TKorvaneTextureAsset* AValue)
{
    FAssetRef = AValue;
    TModelDef* model = Model();
    if (!AValue || !model) return;
    if (FIsAssetOwner) AValue->SetIsStandalone(true);
    if (const auto& services = ModelDefServices(); services.RegisterTextureAsset)
        services.RegisterTextureAsset(model, AValue);
}

void TTextureDef::AdoptAsset(TOwned<TKorvaneTextureAsset> AAsset)
{
    FIsAssetOwner = true;
    SetAssetRef(AAsset.get());
    if (Model() && ModelDefServices().RegisterTextureAsset) AAsset.release();
    else FOwnedAsset = std::move(AAsset);
}

TExtensionDef* TTextureDef::AddExtension(const std::string& AId)
{
    if (!FExtensions) FExtensions = std::make_unique<TExtensionDefList>();
    auto extension = MakeOwned<TExtensionDef>();
    extension->SetId(AId);
    return FExtensions->Add(std::move(extension));
}

TExtensionDef* TTextureDef::GetExtension(std::string_view AId) const
{
    return FExtensions ? FExtensions->FindExtensionById(AId) : nullptr;
}

void TTextureDef::RemoveExtension(std::string_view AId)
{
    if (FExtensions) FExtensions->RemoveFirst(AId);
}

void TTextureDef::ClearExtensions()
{
    if (FExtensions) FExtensions->Clear();
}

TTextureBitmapInstance TTextureDef::GetAssetBitmapInstance(bool ADoClone)
{
    if (!FAssetRef) return {};
    TBitmap* bitmap = FAssetRef->GetBitmap();
    if (!bitmap || bitmap->IsEmpty())
        throw Exception("failed to request bitmap instance of texture asset - texture was not loaded physically yet");
    if (FAssetRef->Cached() && FAssetRef->IsStandalone()) ADoClone = true;
    if (ADoClone) {
        TOwned<TBitmap> copy(TKorvaneTextureBitmap::Create());
        copy->Assign(bitmap);
        return TTextureBitmapInstance::Owned(std::move(copy));
    }
    if (auto* texture = dynamic_cast<TKorvaneTextureBitmap*>(bitmap)) {
        texture->WrapS = FSampler->WrapS;
        texture->WrapT = FSampler->WrapT;
        texture->WrapR = FSampler->WrapR;
    }
    for (const TTextureFlipping flip : {TTextureFlipping::Vertical, TTextureFlipping::Horizontal}) {
        const bool wanted = FFlipping.Contains(flip);
        if (wanted == FFlipState.Contains(flip)) continue;
        if (wanted) FFlipState.Include(flip);
        else FFlipState.Exclude(flip);
        FlipBitmap(*bitmap, flip == TTextureFlipping::Vertical);
    }
    return TTextureBitmapInstance::Borrowed(bitmap);
}

int64_t TTextureDef::GetSize() const
{
    return TCustomDef::GetSize() + (FExtensions ? FExtensions->GetSize() : 0);
}

TObject* TTextureDef::GetAssetsPackage() const
{
    if (!FMaterial) throw Exception("failed to get package - material of TTextureDef not assigned");
    TModelDef* model = Model();
    const auto& services = ModelDefServices();
    return model && services.Package ? services.Package(model) : nullptr;
}

std::unique_ptr<TJSONObject> TTextureDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Channel", std::make_unique<TJSONNumber>(static_cast<int>(FChannel)));
    obj->AddPair("Flipping", TextureFlippingsToString(FFlipping));
    obj->AddPair("Tiling", PointFToString(Tiling));
    obj->AddPair("IsDynamic", TJSONBool::Create(IsDynamic));
    obj->AddPair("IgnoreInArray", TJSONBool::Create(IgnoreInArray));
    obj->AddPair("Destination", Destination == TContextShaderKind::VertexShader ? "VertexShader" : "PixelShader");
    obj->AddPair("Sampler", FSampler->ToJSON());
    if (FAssetRef) obj->AddPair("Asset", FAssetRef->ToJSON());
    else obj->AddPair("Asset", std::make_unique<TJSONNull>());
    if (FExtensions) FExtensions->ToJSON(*obj);
    return obj;
}

void TTextureDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    FChannel = JSONGetOrdinal(AValue, "Channel", TColorChannelDef::Diffuse, TColorChannelDef::UserSpecific);
    const std::string flipping = JSONGetString(AValue, "Flipping", "");
    FFlipping = flipping.empty() ? TTextureFlippings() : StringToTextureFlippings(flipping);
    // Older files kept the wrap modes on the texture; a "Sampler" read below wins.
    if (const std::string wrap = JSONGetString(AValue, "WrapS", ""); !wrap.empty()) FSampler->WrapS = StrToTextureWrap(wrap);
    if (const std::string wrap = JSONGetString(AValue, "WrapT", ""); !wrap.empty()) FSampler->WrapT = StrToTextureWrap(wrap);
    if (const std::string tiling = JSONGetString(AValue, "Tiling", ""); !tiling.empty()) Tiling = StringToPointF(tiling);
    IsDynamic = JSONGetBoolean(AValue, "IsDynamic", false);
    IgnoreInArray = JSONGetBoolean(AValue, "IgnoreInArray", false);
    Destination = LowerCase(JSONGetString(AValue, "Destination", "PixelShader")) == "vertexshader"
                      ? TContextShaderKind::VertexShader
                      : TContextShaderKind::PixelShader;
    if (const TJSONValue* sampler = AValue.GetValue("Sampler"))
        if (const auto* object = sampler->TryAs<TJSONObject>()) FSampler->FromJSON(AModel, *object);
    if (const TJSONValue* asset = AValue.GetValue("Asset"))
        if (const auto* object = asset->TryAs<TJSONObject>()) ReadAsset(*object);
    if (const TJSONArray* extensions = JSONGetArray(AValue, "Extensions")) {
        if (!FExtensions) FExtensions = std::make_unique<TExtensionDefList>();
        FExtensions->FromJSON(AModel, *extensions);
    }
}

void TTextureDef::ReadAsset(const TJSONObject& AAsset)
{
    if (!JSONHasKey(AAsset, "Type")) throw Exception("failed to load asset - type not set");
    const std::string type = JSONGetText(AAsset, "Type", "");
    if (type != TKorvaneTextureAsset::QualifiedName && type != TKorvaneTextureAsset::StaticClassName())
        throw Exception(korvane::Format("TextureDef contains a not compatible asset: %s", type));
    const TGUID id = JSONGetGUID(AAsset, "Id", TGUID::Empty());
    TObject* package = GetAssetsPackage();
    if (!package) {
        ReadStandaloneAsset(AAsset);
        return;
    }
    auto* assets = dynamic_cast<TKorvaneAssetsPackage*>(package);
    if (!assets) throw EInvalidCast();
    ReadPackageAsset(*assets, id, AAsset);
}

void TTextureDef::ReadPackageAsset(TKorvaneAssetsPackage& APackage, const TGUID& AId, const TJSONObject& AAsset)
{
    TModelDef* model = Model();
    const auto& services = ModelDefServices();
    TKorvaneAsset* owner = model && services.Asset ? services.Asset(model) : nullptr;
    const int group = TKorvaneAssetsPackage::TextureGroup;
    if (auto* found = dynamic_cast<TKorvaneTextureAsset*>(APackage.GetOwnerAssetFromId(owner, group, AId))) {
        SetAssetRef(found);
        return;
    }
    // GetOwnerAssetFromId has checked the owner's sub-group; the package's own
    // group may still be missing.
    TKorvaneAssetsGroup* textures = owner ? owner->GetSubGroup(group) : APackage.GetGroup(group);
    auto* asset = textures ? dynamic_cast<TKorvaneTextureAsset*>(textures->AddEmptyAsset(AId)) : nullptr;
    if (!asset)
        throw EKorvaneAssetsException(
            korvane::Format("invalid group name \"%d\" for asset \"%s\"", group, GUIDToString(AId)));
    SetAssetRef(asset);
    asset->FromJSON(AAsset);
    std::string filename = asset->Filename();
    if (!FileExists(filename) && model && services.Filename)
        filename = ExtractFolder(services.Filename(model)) + ExtractAssetFileName(filename);
    if (FileExists(filename)) asset->ImportFromFile(filename);
    else asset->ImportFromStream(filename);
}

void TTextureDef::ReadStandaloneAsset(const TJSONObject& AAsset)
{
    TModelDef* model = Model();
    const auto& services = ModelDefServices();
    auto asset = MakeOwned<TKorvaneTextureAsset>(nullptr);
    asset->FromJSON(AAsset);
    if (TKorvaneTextureAsset* known =
            model && services.TryGetTextureAsset ? services.TryGetTextureAsset(model, asset.get()) : nullptr) {
        FAssetRef = known;
        FIsAssetOwner = false;
        return;
    }
    std::string filename = asset->Filename();
    const std::string folder = ExtractFolder(filename);
    bool relative = folder.empty() || (folder[0] != '\\' && folder[0] != '/' && (folder.size() < 2 || folder[1] != ':'));
    if (std::string stored = StoredAssetName(*asset); !stored.empty()) {
        filename = std::move(stored);
        relative = true;
    }
    if (relative && model && services.Filename) filename = ExtractFolder(services.Filename(model)) + filename;
    asset->ImportFromStream(filename);
    FIsAssetOwner = true;
    SetAssetRef(asset.get());
    // With a model, its texture-asset list frees stand-alone assets; without
    // one nobody else holds it, so the texture does.
    if (model && services.RegisterTextureAsset) asset.release();
    else FOwnedAsset = std::move(asset);
}

} // namespace korvane
