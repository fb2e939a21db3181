#pragma once
// The smaller definitions: named tags (TMetaDef) and a model's descriptive
// metadata (TModelMetaDef); tree nodes that carry authoring information
// (TGroupDef) or refer to another node (TSegmentDef); stored material
// behaviours (TBehaviourDef) and named property bags (TExtensionDef); and the
// bitmap cache through which a model's pictures are handed around.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Korvane.DefTypes.h"
#include "Platform.Bitmaps.h"

namespace korvane {

// An open set of named tags. A tag holds a string, an integer (up to 64 bits),
// a floating-point number or a Boolean; names compare exactly.
class TMetaDef : public TCustomDef {
    KORVANE_CLASS(TMetaDef, TCustomDef)

    using TTags = std::map<std::string, TValue, std::less<>>;

    TMetaDef() = default;

    const TTags& Tags() const { return FTags; }
    void Clear() { FTags.clear(); }
    // The tag, or the empty value.
    TValue GetTag(std::string_view AIndex) const;
    // Adds or replaces the tag. A value of any other kind raises "TMetaDef.SetTag():
    // invalid meta tag type - only string, int, float and bool allowed".
    void SetTag(const std::string& AIndex, const TValue& AValue);

    // Readers give "", 0, 0.0 and false for a missing tag; the value converts
    // by the tagged value's rules (EInvalidCast when it does not).
    std::string TagAsString(std::string_view AIndex) const;
    int64_t TagAsInt(std::string_view AIndex) const;
    double TagAsFloat(std::string_view AIndex) const;
    bool TagAsBool(std::string_view AIndex) const;
    void SetTagAsString(const std::string& AIndex, const std::string& AValue) { SetTag(AIndex, TValue::From(AValue)); }
    void SetTagAsInt(const std::string& AIndex, int64_t AValue) { SetTag(AIndex, TValue::From(AValue)); }
    void SetTagAsFloat(const std::string& AIndex, double AValue) { SetTag(AIndex, TValue::From(AValue)); }
    void SetTagAsBool(const std::string& AIndex, bool AValue) { SetTag(AIndex, TValue::From(AValue)); }

    // "Type", "Id", then one pair per tag in name order. A name that starts
    // with a double quote is written quoted, so that it reads back as itself.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Replaces every tag by the pairs of AValue ("Type" and "Id" included): a
    // number with "." or "," gives a float, another number a 64-bit integer (0
    // when its text is none), true and false a Boolean, a string a string; null,
    // arrays and objects give no tag. A later pair of a name wins.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TMetaDef); }

private:
    TTags FTags;
};

class TModelMetaDef : public TMetaDef {
    KORVANE_CLASS(TModelMetaDef, TMetaDef)

    TModelMetaDef() = default;

    std::string Title() const { return TagAsString("Title"); }
    void SetTitle(const std::string& AValue) { SetTagAsString("Title", AValue); }
    std::string Descr() const { return TagAsString("Descr"); }
    void SetDescr(const std::string& AValue) { SetTagAsString("Descr", AValue); }
    std::string Author() const { return TagAsString("Author"); }
    void SetAuthor(const std::string& AValue) { SetTagAsString("Author", AValue); }
    std::string License() const { return TagAsString("License"); }
    void SetLicense(const std::string& AValue) { SetTagAsString("License", AValue); }
    int64_t Polygons() const { return TagAsInt("Polygons"); }
    void SetPolygons(int64_t AValue) { SetTagAsInt("Polygons", AValue); }
    int64_t Vertices() const { return TagAsInt("Vertices"); }
    void SetVertices(int64_t AValue) { SetTagAsInt("Vertices", AValue); }
    bool MobileSuitable() const { return TagAsBool("MobileSuitable"); }
    void SetMobileSuitable(bool AValue) { SetTagAsBool("MobileSuitable", AValue); }

protected:
    int64_t InstanceSize() const override { return sizeof(TModelMetaDef); }
};

// The platform's date-time: days since 30 December 1899, the fraction the time of day.
using TDateTime = double;

// "yyyy-mm-dd hh:nn:ss" (seconds truncated); EConvertError outside the years 1 to 9999.
std::string TimestampToString(TDateTime AValue);
// The text of exactly that form, whatever the locale; false for anything else
// (also for impossible dates and times).
bool TryStringToTimestamp(std::string_view AText, TDateTime& AValue);

// A tree node with authoring information.
class TGroupDef : public TTransformDef {
    KORVANE_CLASS(TGroupDef, TTransformDef)

    explicit TGroupDef(TCustomDef* AOwner) : TTransformDef(AOwner) {}

    std::string Author;
    // 0: no time stamp.
    TDateTime Timestamp = 0;
    std::string Version;
    std::string License;
    std::string Link;
    std::string Descr;

    // The transform pairs, then "Author", "Timestamp" (when above 0), "Version",
    // "License", "Link" and "Descr", each only when not empty.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // A missing text empties its field; a missing "Timestamp" or one of another
    // form gives 0, an empty one keeps the time stamp.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TGroupDef); }
};

// A tree node that refers to another node of its model by Id.
class TSegmentDef : public TTransformDef {
    KORVANE_CLASS(TSegmentDef, TTransformDef)

    explicit TSegmentDef(TCustomDef* AOwner) : TTransformDef(AOwner) {}

    const std::string& ReferenceId() const { return FReferenceId; }
    void SetReferenceId(std::string AValue) { FReferenceId = std::move(AValue); }
    TTransformDef* Reference() const { return FReference; }
    void SetReference(TTransformDef* AValue) { FReference = AValue; }

    // The transform pairs, then "Reference": ReferenceId (always).
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // "Reference" names the node; it is looked up at once in the model's tree as
    // far as it has been read (nothing found: no reference, the Id stays).
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TSegmentDef); }

private:
    std::string FReferenceId;
    TTransformDef* FReference = nullptr;
};

// The stored form of a material behaviour: a prefab class name and a property bag.
class TBehaviourDef : public TCustomDef {
    KORVANE_CLASS(TBehaviourDef, TCustomDef)

    // The Id is a new GUID in the registry form.
    TBehaviourDef();

    std::string PrefabClass;
    TProperties& Properties() { return FProperties; }
    const TProperties& Properties() const { return FProperties; }

    // "Type" (the plain class name, the only "Type" pair), "Id", "PrefabClass", "Properties".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // "Id", "PrefabClass" (empty when missing) and the bag; "Type" is the reader's to check.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TBehaviourDef); }

private:
    TProperties FProperties;
};

class TMaterialBehaviourDef : public TBehaviourDef {
    KORVANE_CLASS(TMaterialBehaviourDef, TBehaviourDef)

    TMaterialBehaviourDef() = default;

protected:
    int64_t InstanceSize() const override { return sizeof(TMaterialBehaviourDef); }
};

// A named property bag; its Id is its name.
class TExtensionDef : public TCustomDef {
    KORVANE_CLASS(TExtensionDef, TCustomDef)

    TExtensionDef() = default;

    TProperties& Properties() { return FProperties; }
    const TProperties& Properties() const { return FProperties; }

    // The base size plus the bag's.
    int64_t GetSize() const override;
    // "Type", "Id", "Properties".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // The bag is replaced from "Properties".
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TExtensionDef); }

private:
    TProperties FProperties;
};

// An owning list of extensions.
class TExtensionDefList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TExtensionDef* Items(int AIdx) const { return FItems.at(static_cast<size_t>(AIdx)).get(); }
    TExtensionDef* Add(TOwned<TExtensionDef> AItem);
    // The first extension with that Id, or nullptr.
    TExtensionDef* FindExtensionById(std::string_view AId) const;
    // The last extension with that Id, or nullptr.
    TExtensionDef* FindLastExtensionById(std::string_view AId) const;
    // Frees the first (or every) extension with that Id.
    void RemoveFirst(std::string_view AId);
    void RemoveAll(std::string_view AId);
    void Clear() { FItems.clear(); }
    int64_t GetSize() const;
    // Appends "Extensions": the extensions' objects.
    void ToJSON(TJSONObject& AJSON) const;
    // Appends one extension per element of the array AValue (elements must be
    // objects, else EInvalidCast).
    void FromJSON(TModelDef* AModel, const TJSONArray& AValue);
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TOwned<TExtensionDef>> FItems;
};

// The ordinal under AName (JSONGetInteger with ADefault's ordinal) as an E up
// to AMax; an ordinal outside 0..AMax raises "invalid value for "%s": %d".
int32_t CheckedOrdinal(int32_t AValue, int32_t AMax, std::string_view AName);
template <typename E>
E JSONGetOrdinal(const TJSONObject& AValue, std::string_view AName, E ADefault, E AMax)
{
    return E(CheckedOrdinal(TCustomDef::JSONGetInteger(AValue, AName, int32_t(ADefault)), int32_t(AMax), AName));
}

// The array under AName of AValue: nullptr when the pair is missing,
// EInvalidCast when it holds anything but an array.
const TJSONArray* JSONGetArray(const TJSONObject& AValue, std::string_view AName);

// A picture under a file name: owned by the entry, or only referred to.
class TKorvaneBitmapCacheEntry : public TCollectionItem {
    KORVANE_CLASS(TKorvaneBitmapCacheEntry, TCollectionItem)

    // Appends the entry to ACollection with a new, empty bitmap of its own.
    explicit TKorvaneBitmapCacheEntry(TCollection* ACollection);
    ~TKorvaneBitmapCacheEntry() override;

    const std::string& Filename() const { return FFilename; }
    void SetFilename(std::string AValue) { FFilename = std::move(AValue); }
    // True when the bitmap belongs to someone else (who has taken it over or
    // lent it); only an owned bitmap is freed with the entry.
    bool IsOnlyRef() const { return FIsOnlyRef; }
    void SetIsOnlyRef(bool AValue) { FIsOnlyRef = AValue; }
    TBitmap* Bitmap() const { return FBitmap; }
    // The owned bitmap takes a copy of AValue's picture; nothing while the entry only refers.
    void SetBitmap(const TBitmap* AValue);
    // Frees the owned bitmap and refers to AReference (may be nullptr) under AFilename.
    void SetBitmapReference(const std::string& AFilename, TBitmap* AReference);

protected:
    // Into another entry: that entry's picture becomes a copy of this one's.
    // An entry that only refers (or has no bitmap) gets a bitmap of its own
    // first, so that a lent picture is never overwritten.
    void AssignTo(TPersistent* Dest) const override;

private:
    void FreeOwnedBitmap();

    std::string FFilename;
    bool FIsOnlyRef = false;
    TBitmap* FBitmap = nullptr;
};

class TKorvaneBitmapCache : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneBitmapCache, TOwnedCollection)

    explicit TKorvaneBitmapCache(TPersistent* AOwner);

    TKorvaneBitmapCacheEntry* Items(int AIdx) const;
    TKorvaneBitmapCacheEntry* Add();
    // The first entry named AFilename exactly; else the first whose file-name
    // part (after the last backslash or colon) equals AFilename's; else nullptr.
    TKorvaneBitmapCacheEntry* FindBitmap(std::string_view AFilename) const;
};

} // namespace korvane
