#pragma once
// Assets and asset packages: a package holds numbered groups of assets (group 1
// holds textures); an asset may hold sub-groups of its own (a model asset keeps
// its textures in its sub-group 1). A texture asset records the file it came
// from and holds its picture, loaded when first asked for or handed over as a
// cached bitmap.
//
// Ownership: a package owns its groups, a group owns its assets, an asset owns
// its sub-groups and its picture. An asset without a group belongs to whoever
// holds it.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.Bitmaps.h"
#include "Platform.Classes.h"
#include "Platform.JSON.h"
#include "Platform.Streams.h"
#include "Platform.SysUtils.h"

namespace korvane {

class EKorvaneAssetsException : public Exception {
public:
    using Exception::Exception;
};

class TKorvaneAsset;
class TKorvaneAssetsGroup;
class TKorvaneAssetsPackage;

// The class of a group's assets: makes a new asset in the group.
using TKorvaneAssetFactory = TKorvaneAsset* (*)(TKorvaneAssetsGroup* AGroup);

// Characters A-Z, a-z, 0-9, "@" and ! $ ' ( ) * - . _ stay; a blank becomes
// "+"; every other byte becomes "%" and two upper-case hexadecimal digits.
std::string URLEncode(std::string_view AText);
// Reverses URLEncode; a "%" without two hexadecimal digits raises EConvertError.
std::string URLDecode(std::string_view AText);
// What follows the last backslash, slash or colon (the whole text without any).
std::string ExtractAssetFileName(std::string_view AFilename);
// The extension of the file-name part, its point included ("" without one).
std::string ExtractAssetFileExt(std::string_view AFilename);

class TKorvaneAsset : public TObject {
    KORVANE_CLASS(TKorvaneAsset, TObject)

    // An asset in AGroup (which does not take it: the group's AddEmptyAsset
    // does); without a group the asset belongs to no package.
    explicit TKorvaneAsset(TKorvaneAssetsGroup* AGroup);
    ~TKorvaneAsset() override;

    const TGUID& Id() const { return FId; }
    void SetId(const TGUID& AId) { FId = AId; }
    TKorvaneAssetsGroup* Group() const { return FGroup; }
    // The package of the asset's group, or nullptr.
    TKorvaneAssetsPackage* Package() const;

    // Appends an empty sub-group whose assets AAssetClass makes (nullptr: none).
    TKorvaneAssetsGroup* AddSubGroup(TKorvaneAssetFactory AAssetClass);
    int SubGroupCount() const { return static_cast<int>(FSubGroups.size()); }
    // The sub-group at AIdx, or nullptr outside the range.
    TKorvaneAssetsGroup* GetSubGroup(int AIdx) const;

private:
    TGUID FId;
    TKorvaneAssetsGroup* FGroup;
    std::vector<TOwned<TKorvaneAssetsGroup>> FSubGroups;
};

class TKorvaneAssetsGroup : public TObject {
    KORVANE_CLASS(TKorvaneAssetsGroup, TObject)

    // A group of APackage (for a sub-group: of AOwnerAsset, whose package it uses).
    TKorvaneAssetsGroup(TKorvaneAssetsPackage* APackage, TKorvaneAsset* AOwnerAsset, TKorvaneAssetFactory AAssetClass);
    ~TKorvaneAssetsGroup() override;

    TKorvaneAssetsPackage* Package() const;
    TKorvaneAsset* OwnerAsset() const { return FOwnerAsset; }
    TKorvaneAssetFactory AssetClass() const { return FAssetClass; }
    int Count() const { return static_cast<int>(FAssets.size()); }
    // Raises EListError outside the range.
    TKorvaneAsset* Items(int AIdx) const;
    // The first asset with that id, or nullptr.
    TKorvaneAsset* FindAsset(const TGUID& AId) const;
    // A new asset of the group's class with that id, added to the group between
    // the package's before- and after-modify handlers; nullptr when the group
    // has no asset class.
    TKorvaneAsset* AddEmptyAsset(const TGUID& AId);

private:
    TKorvaneAssetsPackage* FPackage;
    TKorvaneAsset* FOwnerAsset;
    TKorvaneAssetFactory FAssetClass;
    std::vector<TOwned<TKorvaneAsset>> FAssets;
};

class TKorvaneAssetsPackage : public TObject {
    KORVANE_CLASS(TKorvaneAssetsPackage, TObject)

    static constexpr int TextureGroup = 1;

    TKorvaneAssetsPackage() = default;
    ~TKorvaneAssetsPackage() override;

    // Appends an empty group whose assets AAssetClass makes (nullptr: none).
    TKorvaneAssetsGroup* AddGroup(TKorvaneAssetFactory AAssetClass);
    int GroupCount() const { return static_cast<int>(FGroups.size()); }
    // The group at AIdx, or nullptr outside the range.
    TKorvaneAssetsGroup* GetGroup(int AIdx) const;
    // With an owner asset: the asset with AId in its sub-group AGroup (which must
    // exist, else EKorvaneAssetsException "invalid group name "%d" for asset
    // "%s""); without: the asset with AId in the package's group AGroup.
    // nullptr when not found.
    TKorvaneAsset* GetOwnerAssetFromId(TKorvaneAsset* AOwner, int AGroup, const TGUID& AId) const;

    // Called around every change of the package's content.
    std::function<void(TKorvaneAssetsPackage* Sender)> OnBeforeModify;
    std::function<void(TKorvaneAssetsPackage* Sender)> OnAfterModify;

private:
    std::vector<TOwned<TKorvaneAssetsGroup>> FGroups;
};

// Flags of the texture asset's imports.
enum TKorvaneAssetImportFlag : uint32_t {
    // The stream's picture becomes the asset's cached bitmap.
    aifCacheBitmap = 2,
};

class TKorvaneTextureAsset : public TKorvaneAsset {
    KORVANE_CLASS(TKorvaneTextureAsset, TKorvaneAsset)

    // The qualified class name written as the asset's "Type".
    static constexpr const char* QualifiedName = "Korvane.AssetsManager.TKorvaneTextureAsset";
    // The most bytes a picture file or stream may hold.
    static constexpr int64_t MaxPictureBytes = int64_t(1) << 29;

    explicit TKorvaneTextureAsset(TKorvaneAssetsGroup* AGroup);
    ~TKorvaneTextureAsset() override;
    // The factory of texture groups.
    static TKorvaneAsset* CreateInGroup(TKorvaneAssetsGroup* AGroup) { return new TKorvaneTextureAsset(AGroup); }

    const std::string& OriginalFilename() const { return FOriginalFilename; }
    const std::string& Filename() const { return FFilename; }
    const std::string& Extension() const { return FExtension; }
    bool IsStandalone() const { return FIsStandalone; }
    void SetIsStandalone(bool AValue) { FIsStandalone = AValue; }
    bool Cached() const { return FCached; }

    // The asset's picture, owned by the asset. Without a cached bitmap the
    // picture is loaded from OriginalFilename on the first request when that
    // file exists (a file that is no picture raises EReadError); otherwise it is
    // empty.
    TBitmap* GetBitmap();

    // "Type", "Id" (registry form), "Version" "1.3", "Filename" (URL-encoded),
    // "Extension", "OriginalFilename" (URL-encoded).
    std::unique_ptr<TJSONObject> ToJSON() const;
    // "Id" must be there (else "failed to load asset - id not set") and be a
    // GUID; "Filename", "Extension" and "OriginalFilename" are taken when present.
    void FromJSON(const TJSONObject& AValue);

    // Records the names and loads the picture of the file (EReadError when it
    // cannot be read or is no picture).
    void ImportFromFile(const std::string& AFilename, uint32_t AFlags = 0);
    // Records the names (an empty name raises "AssetsManager.TextureAsset -
    // filename empty"); with aifCacheBitmap and a stream, the stream's picture
    // (from its position on) becomes the cached bitmap. An asset without group
    // takes the file's extension when it has none.
    void ImportFromStream(const std::string& AFilename, TStream* AStream = nullptr, uint32_t AFlags = 0);
    // Records the names and the extension, marks the asset cached and stand-alone
    // and keeps ABitmap itself as its picture.
    void ImportFromCachedBitmap(const std::string& AFilename, TOwned<TBitmap> ABitmap);

private:
    void SetNames(const std::string& AFilename);
    void LoadPicture(std::span<const uint8_t> ABytes);

    std::string FOriginalFilename;
    std::string FFilename;
    std::string FExtension;
    bool FIsStandalone = false;
    bool FCached = false;
    // A load from OriginalFilename was tried already.
    bool FLoadTried = false;
    TOwned<TBitmap> FBitmap;
};

} // namespace korvane
