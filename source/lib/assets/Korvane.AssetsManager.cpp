#include "Korvane.AssetsManager.h"

#include <filesystem>
#include <fstream>

#include "Korvane.Context.Texturing.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneAsset, "Korvane.AssetsManager")
KORVANE_IMPLEMENT_CLASS(TKorvaneAssetsGroup, "Korvane.AssetsManager")
KORVANE_IMPLEMENT_CLASS(TKorvaneAssetsPackage, "Korvane.AssetsManager")
KORVANE_IMPLEMENT_CLASS(TKorvaneTextureAsset, "Korvane.AssetsManager")

namespace {

bool IsURLSafe(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("@!$'()*-._").find(static_cast<char>(c)) != std::string_view::npos;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string URLEncode(std::string_view AText)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(AText.size());
    for (const char ch : AText) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsURLSafe(c)) result += ch;
        else if (c == ' ') result += '+';
        else {
            result += '%';
            result += Hex[c >> 4];
            result += Hex[c & 15];
        }
    }
    return result;
}

std::string URLDecode(std::string_view AText)
{
    std::string result;
    result.reserve(AText.size());
    for (size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '+') result += ' ';
        else if (c == '%') {
            const int hi = i + 2 < AText.size() ? HexDigit(AText[i + 1]) : -1;
            const int lo = hi >= 0 ? HexDigit(AText[i + 2]) : -1;
            if (lo < 0) throw EConvertError(Format("Invalid URL encoded character (%s) at position %d",
                                                   std::string(AText.substr(i, 3)), int64_t(i)));
            result += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else result += c;
    }
    return result;
}

std::string ExtractAssetFileName(std::string_view AFilename)
{
    const size_t pos = AFilename.find_last_of("\\/:");
    return std::string(pos == std::string_view::npos ? AFilename : AFilename.substr(pos + 1));
}

std::string ExtractAssetFileExt(std::string_view AFilename)
{
    const std::string name = ExtractAssetFileName(AFilename);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// ---- TKorvaneAsset ----

TKorvaneAsset::TKorvaneAsset(TKorvaneAssetsGroup* AGroup) : FGroup(AGroup) {}

TKorvaneAsset::~TKorvaneAsset() = default;

TKorvaneAssetsPackage* TKorvaneAsset::Package() const { return FGroup ? FGroup->Package() : nullptr; }

TKorvaneAssetsGroup* TKorvaneAsset::AddSubGroup(TKorvaneAssetFactory AAssetClass)
{
    FSubGroups.push_back(MakeOwned<TKorvaneAssetsGroup>(Package(), this, AAssetClass));
    return FSubGroups.back().get();
}

TKorvaneAssetsGroup* TKorvaneAsset::GetSubGroup(int AIdx) const
{
    if (AIdx < 0 || AIdx >= SubGroupCount()) return nullptr;
    return FSubGroups[static_cast<size_t>(AIdx)].get();
}

// ---- TKorvaneAssetsGroup ----

TKorvaneAssetsGroup::TKorvaneAssetsGroup(TKorvaneAssetsPackage* APackage, TKorvaneAsset* AOwnerAsset,
                                         TKorvaneAssetFactory AAssetClass)
    : FPackage(APackage), FOwnerAsset(AOwnerAsset), FAssetClass(AAssetClass)
{
}

TKorvaneAssetsGroup::~TKorvaneAssetsGroup() = default;

TKorvaneAssetsPackage* TKorvaneAssetsGroup::Package() const
{
    // A sub-group follows its owner asset into whatever package that is in.
    if (FOwnerAsset) return FOwnerAsset->Package();
    return FPackage;
}

TKorvaneAsset* TKorvaneAssetsGroup::Items(int AIdx) const
{
    if (AIdx < 0 || AIdx >= Count()) throw EListError(Format("List index out of bounds (%d)", AIdx));
    return FAssets[static_cast<size_t>(AIdx)].get();
}

TKorvaneAsset* TKorvaneAssetsGroup::FindAsset(const TGUID& AId) const
{
    for (const auto& asset : FAssets)
        if (asset->Id() == AId) return asset.get();
    return nullptr;
}

TKorvaneAsset* TKorvaneAssetsGroup::AddEmptyAsset(const TGUID& AId)
{
    if (!FAssetClass) return nullptr;
    TKorvaneAssetsPackage* package = Package();
    if (package && package->OnBeforeModify) package->OnBeforeModify(package);
    TOwned<TKorvaneAsset> asset(FAssetClass(this));
    asset->SetId(AId);
    FAssets.push_back(std::move(asset));
    TKorvaneAsset* added = FAssets.back().get();
    if (package && package->OnAfterModify) package->OnAfterModify(package);
    return added;
}

// ---- TKorvaneAssetsPackage ----

TKorvaneAssetsPackage::~TKorvaneAssetsPackage() = default;

TKorvaneAssetsGroup* TKorvaneAssetsPackage::AddGroup(TKorvaneAssetFactory AAssetClass)
{
    FGroups.push_back(MakeOwned<TKorvaneAssetsGroup>(this, nullptr, AAssetClass));
    return FGroups.back().get();
}

TKorvaneAssetsGroup* TKorvaneAssetsPackage::GetGroup(int AIdx) const
{
    if (AIdx < 0 || AIdx >= GroupCount()) return nullptr;
    return FGroups[static_cast<size_t>(AIdx)].get();
}

TKorvaneAsset* TKorvaneAssetsPackage::GetOwnerAssetFromId(TKorvaneAsset* AOwner, int AGroup, const TGUID& AId) const
{
    TKorvaneAssetsGroup* group = nullptr;
    if (AOwner) {
        group = AOwner->GetSubGroup(AGroup);
        if (!group)
            throw EKorvaneAssetsException(
                Format("invalid group name \"%d\" for asset \"%s\"", AGroup, GUIDToString(AId)));
    } else group = GetGroup(AGroup);
    return group ? group->FindAsset(AId) : nullptr;
}

// ---- TKorvaneTextureAsset ----

TKorvaneTextureAsset::TKorvaneTextureAsset(TKorvaneAssetsGroup* AGroup) : TKorvaneAsset(AGroup) {}

TKorvaneTextureAsset::~TKorvaneTextureAsset() = default;

TBitmap* TKorvaneTextureAsset::GetBitmap()
{
    if (!FBitmap) FBitmap.reset(new TKorvaneTextureBitmap());
    if (!FCached && !FLoadTried && FBitmap->IsEmpty() && !FOriginalFilename.empty()) {
        FLoadTried = true;
        std::error_code error;
        if (std::filesystem::is_regular_file(FOriginalFilename, error)) ImportFromFile(FOriginalFilename);
    }
    return FBitmap.get();
}

std::unique_ptr<TJSONObject> TKorvaneTextureAsset::ToJSON() const
{
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Type", QualifiedName);
    obj->AddPair("Id", GUIDToString(Id()));
    obj->AddPair("Version", "1.3");
    obj->AddPair("Filename", URLEncode(FFilename));
    obj->AddPair("Extension", FExtension);
    obj->AddPair("OriginalFilename", URLEncode(FOriginalFilename));
    return obj;
}

void TKorvaneTextureAsset::FromJSON(const TJSONObject& AValue)
{
    const TJSONValue* id = AValue.GetValue("Id");
    if (!id) throw Exception("failed to load asset - id not set");
    SetId(StringToGUID(id->Value()));
    if (const TJSONValue* v = AValue.GetValue("Filename")) FFilename = URLDecode(v->Value());
    if (const TJSONValue* v = AValue.GetValue("Extension")) FExtension = v->Value();
    if (const TJSONValue* v = AValue.GetValue("OriginalFilename")) FOriginalFilename = URLDecode(v->Value());
}

void TKorvaneTextureAsset::SetNames(const std::string& AFilename)
{
    if (AFilename.empty()) throw EKorvaneAssetsException("AssetsManager.TextureAsset - filename empty");
    FOriginalFilename = AFilename;
    FFilename = ExtractAssetFileName(AFilename);
}

void TKorvaneTextureAsset::LoadPicture(std::span<const uint8_t> ABytes)
{
    auto bitmap = TOwned<TBitmap>(new TKorvaneTextureBitmap());
    bitmap->LoadFromMemory(ABytes);
    FBitmap = std::move(bitmap);
}

void TKorvaneTextureAsset::ImportFromFile(const std::string& AFilename, uint32_t AFlags)
{
    SetNames(AFilename);
    if (!Group() && FExtension.empty()) FExtension = ExtractAssetFileExt(AFilename);
    std::ifstream file(AFilename, std::ios::binary | std::ios::ate);
    if (!file) throw EReadError(Format("Cannot open file \"%s\"", AFilename));
    const std::streamoff size = file.tellg();
    if (size < 0 || size > MaxPictureBytes)
        throw EReadError(Format("Picture file \"%s\" is too big", AFilename));
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size))
        throw EReadError(Format("Cannot read file \"%s\"", AFilename));
    LoadPicture(bytes);
    FLoadTried = true;
    if (AFlags & aifCacheBitmap) FCached = true;
}

void TKorvaneTextureAsset::ImportFromStream(const std::string& AFilename, TStream* AStream, uint32_t AFlags)
{
    SetNames(AFilename);
    if (AStream && (AFlags & aifCacheBitmap)) {
        const int64_t size = AStream->Remaining();
        if (size > MaxPictureBytes) throw EReadError("Picture stream is too big");
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        AStream->ReadBuffer(bytes.data(), size);
        LoadPicture(bytes);
        FCached = true;
    }
    if (!Group() && FExtension.empty()) FExtension = ExtractAssetFileExt(AFilename);
}

void TKorvaneTextureAsset::ImportFromCachedBitmap(const std::string& AFilename, TOwned<TBitmap> ABitmap)
{
    SetNames(AFilename);
    FExtension = ExtractAssetFileExt(AFilename);
    FCached = true;
    FIsStandalone = true;
    FBitmap = std::move(ABitmap);
}

} // namespace korvane
