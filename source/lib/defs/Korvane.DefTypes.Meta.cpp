#include "Korvane.DefTypes.Meta.h"

#include <cmath>

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TMetaDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TModelMetaDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TBehaviourDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TMaterialBehaviourDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TExtensionDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TKorvaneBitmapCacheEntry, DefTypesUnitName)

// Made with its owner only, never through the registry (whose factories would
// take the owner for a component).
TClass TKorvaneBitmapCache::StaticClass()
{
    static const TMetaClass info(StaticClassName(), DefTypesUnitName, TOwnedCollection::StaticClass());
    return &info;
}

TClass TGroupDef::StaticClass()
{
    static const TTransformDefClassInfo<TGroupDef> info;
    return &info;
}

TClass TSegmentDef::StaticClass()
{
    static const TTransformDefClassInfo<TSegmentDef> info;
    return &info;
}

namespace units {
void DefTypesMetaInitialize() { RegisterClasses({TGroupDef::StaticClass(), TSegmentDef::StaticClass()}); }
} // namespace units

namespace {

const char* const InvalidTagType = "TMetaDef.SetTag(): invalid meta tag type - only string, int, float and bool allowed";

bool IsTagKind(const TValue& AValue)
{
    switch (AValue.Kind()) {
    case tkInteger:
    case tkInt64:
    case tkFloat:
    case tkString:
        return true;
    case tkEnumeration:
        return AValue.IsType<bool>();
    default:
        return false;
    }
}

// A name that starts with a double quote is read as a quoted text: up to the
// closing quote, "" standing for one quote, the rest dropped. No closing quote
// keeps the name whole.
std::string TagName(std::string_view APairName)
{
    std::string name(APairName);
    if (!name.empty() && name[0] == '"') {
        std::string unquoted;
        for (size_t i = 1; i < name.size(); ++i) {
            if (name[i] != '"') {
                unquoted += name[i];
                continue;
            }
            if (i + 1 < name.size() && name[i + 1] == '"') {
                unquoted += '"';
                ++i;
                continue;
            }
            name = unquoted;
            break;
        }
    }
    return Trim(name);
}

std::string QuotedName(const std::string& AName)
{
    std::string quoted = "\"";
    for (char c : AName) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + '"';
}

// A float in the JSON number form that reads back as a float: the general
// text, with ".0" before an exponent that has no point in front of it ("1E20"
// would read back as an integer).
std::unique_ptr<TJSONNumber> FloatTagNumber(double AValue)
{
    std::string text(TJSONNumber(AValue).Text());
    const size_t e = text.find_first_of("eE");
    if (e != std::string::npos && text.find('.') == std::string::npos) text.insert(e, ".0");
    return TJSONNumber::FromText(text);
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

// TDateTime counts from 1899-12-30, 25569 days before 1970-01-01.
constexpr int64_t DateTimeEpochOffset = 25569;
constexpr int64_t MillisecondsPerDay = 86400000;

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

} // namespace

// ---- time stamps ----

std::string TimestampToString(TDateTime AValue)
{
    const double first = double(DaysFromCivil(1, 1, 1) + DateTimeEpochOffset);
    const double last = double(DaysFromCivil(9999, 12, 31) + DateTimeEpochOffset + 1);
    if (!(AValue >= first && AValue < last)) throw EConvertError(Format("Invalid time stamp %g", AValue));
    int64_t ms = std::llround(AValue * double(MillisecondsPerDay));
    int64_t days = ms / MillisecondsPerDay;
    int64_t msOfDay = ms % MillisecondsPerDay;
    if (msOfDay < 0) {
        msOfDay += MillisecondsPerDay;
        --days;
    }
    int64_t y = 0;
    int m = 0, d = 0;
    CivilFromDays(days - DateTimeEpochOffset, y, m, d);
    if (y > 9999) throw EConvertError(Format("Invalid time stamp %g", AValue));
    const int64_t seconds = msOfDay / 1000;
    return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", y, m, d, seconds / 3600, seconds / 60 % 60, seconds % 60);
}

bool TryStringToTimestamp(std::string_view AText, TDateTime& AValue)
{
    static constexpr std::string_view Pattern = "dddd-dd-dd dd:dd:dd";
    if (AText.size() != Pattern.size()) return false;
    for (size_t i = 0; i < Pattern.size(); ++i) {
        const bool digit = AText[i] >= '0' && AText[i] <= '9';
        if (Pattern[i] == 'd' ? !digit : AText[i] != Pattern[i]) return false;
    }
    const auto number = [&](size_t pos, size_t len) {
        int v = 0;
        for (size_t i = pos; i < pos + len; ++i) v = v * 10 + (AText[i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    const double days = double(DaysFromCivil(year, month, day) + DateTimeEpochOffset);
    AValue = days + double(hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

// ---- TMetaDef ----

TValue TMetaDef::GetTag(std::string_view AIndex) const
{
    const auto it = FTags.find(AIndex);
    return it == FTags.end() ? TValue() : it->second;
}

void TMetaDef::SetTag(const std::string& AIndex, const TValue& AValue)
{
    if (!IsTagKind(AValue)) throw Exception(InvalidTagType);
    FTags[AIndex] = AValue;
}

std::string TMetaDef::TagAsString(std::string_view AIndex) const
{
    const TValue tag = GetTag(AIndex);
    if (tag.IsEmpty()) return {};
    return tag.Kind() == tkString ? tag.AsString() : tag.ToString();
}

int64_t TMetaDef::TagAsInt(std::string_view AIndex) const { return GetTag(AIndex).AsInt64(); }

double TMetaDef::TagAsFloat(std::string_view AIndex) const { return GetTag(AIndex).AsExtended(); }

bool TMetaDef::TagAsBool(std::string_view AIndex) const { return GetTag(AIndex).AsBoolean(); }

std::unique_ptr<TJSONObject> TMetaDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    for (const auto& [name, value] : FTags) {
        const std::string key = !name.empty() && name[0] == '"' ? QuotedName(name) : name;
        switch (value.Kind()) {
        case tkInteger:
        case tkInt64:
            obj->AddPair(key, std::make_unique<TJSONNumber>(value.AsInt64()));
            break;
        case tkFloat:
            obj->AddPair(key, FloatTagNumber(value.AsExtended()));
            break;
        case tkString:
            obj->AddPair(key, value.AsString());
            break;
        case tkEnumeration:
            if (value.IsType<bool>()) obj->AddPair(key, TJSONBool::Create(value.AsBoolean()));
            break;
        default:
            break;
        }
    }
    return obj;
}

void TMetaDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    Clear();
    TCustomDef::FromJSON(AModel, AValue);
    for (const TJSONPair& pair : AValue) {
        const TJSONValue& value = *pair.JsonValue();
        TValue tag;
        switch (value.Kind()) {
        case TJSONValue::TKind::Number: {
            const std::string_view text = value.As<TJSONNumber>().Text();
            if (text.find_first_of(".,") != std::string_view::npos) {
                double d = 0;
                if (!TryStrToFloat(text, d)) throw EConvertError(Format("'%s' is not a valid floating point value", text));
                tag = TValue::From(d);
            } else {
                int64_t i = 0;
                tag = TValue::From(TryStrToInt64(text, i) ? i : int64_t(0));
            }
            break;
        }
        case TJSONValue::TKind::True:
        case TJSONValue::TKind::False:
            tag = TValue::From(value.Kind() == TJSONValue::TKind::True);
            break;
        case TJSONValue::TKind::String:
            tag = TValue::From(value.Value());
            break;
        default:
            continue;
        }
        SetTag(TagName(pair.Name()), tag);
    }
}

// ---- TGroupDef ----

std::unique_ptr<TJSONObject> TGroupDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    if (!Author.empty()) obj->AddPair("Author", Author);
    if (Timestamp > 0) obj->AddPair("Timestamp", TimestampToString(Timestamp));
    if (!Version.empty()) obj->AddPair("Version", Version);
    if (!License.empty()) obj->AddPair("License", License);
    if (!Link.empty()) obj->AddPair("Link", Link);
    if (!Descr.empty()) obj->AddPair("Descr", Descr);
    return obj;
}

void TGroupDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    Author = JSONGetString(AValue, "Author", "");
    // The text is always "yyyy-mm-dd hh:nn:ss", so it is parsed as exactly that
    // form: the user's locale has no say in how a stored file reads.
    const std::string stamp = JSONGetString(AValue, "Timestamp", "0000-00-00 00:00:00");
    if (!stamp.empty()) {
        TDateTime value = 0;
        Timestamp = TryStringToTimestamp(stamp, value) ? value : 0;
    }
    Version = JSONGetString(AValue, "Version", "");
    License = JSONGetString(AValue, "License", "");
    Link = JSONGetString(AValue, "Link", "");
    Descr = JSONGetString(AValue, "Descr", "");
}

// ---- TSegmentDef ----

std::unique_ptr<TJSONObject> TSegmentDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    obj->AddPair("Reference", FReferenceId);
    return obj;
}

void TSegmentDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    FReferenceId = JSONGetString(AValue, "Reference", "");
    if (FReferenceId.empty()) return;
    const auto& services = ModelDefServices();
    TTransformDef* root = AModel && services.Root ? services.Root(AModel) : nullptr;
    FReference = root ? root->FindChildById(FReferenceId, false) : nullptr;
}

// ---- TBehaviourDef ----

TBehaviourDef::TBehaviourDef() { SetId(GUIDToString(CreateGUID())); }

std::unique_ptr<TJSONObject> TBehaviourDef::ToJSON() const
{
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Type", ClassName());
    obj->AddPair("Id", Id());
    obj->AddPair("PrefabClass", PrefabClass);
    FProperties.ToJSON(*obj);
    return obj;
}

void TBehaviourDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    PrefabClass = JSONGetString(AValue, "PrefabClass", "");
    FProperties.FromJSON(AValue);
}

// ---- TExtensionDef ----

int64_t TExtensionDef::GetSize() const { return TCustomDef::GetSize() + FProperties.GetSize(); }

std::unique_ptr<TJSONObject> TExtensionDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    FProperties.ToJSON(*obj);
    return obj;
}

void TExtensionDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    FProperties.FromJSON(AValue);
}

TExtensionDef* TExtensionDefList::Add(TOwned<TExtensionDef> AItem)
{
    FItems.push_back(std::move(AItem));
    return FItems.back().get();
}

TExtensionDef* TExtensionDefList::FindExtensionById(std::string_view AId) const
{
    for (const auto& item : FItems)
        if (item->Id() == AId) return item.get();
    return nullptr;
}

TExtensionDef* TExtensionDefList::FindLastExtensionById(std::string_view AId) const
{
    for (auto it = FItems.rbegin(); it != FItems.rend(); ++it)
        if ((*it)->Id() == AId) return it->get();
    return nullptr;
}

void TExtensionDefList::RemoveFirst(std::string_view AId)
{
    for (auto it = FItems.begin(); it != FItems.end(); ++it)
        if ((*it)->Id() == AId) {
            FItems.erase(it);
            return;
        }
}

void TExtensionDefList::RemoveAll(std::string_view AId)
{
    std::erase_if(FItems, [&](const TOwned<TExtensionDef>& item) { return item->Id() == AId; });
}

int64_t TExtensionDefList::GetSize() const
{
    int64_t size = sizeof(TExtensionDefList);
    for (const auto& item : FItems) size += item->GetSize();
    return size;
}

void TExtensionDefList::ToJSON(TJSONObject& AJSON) const
{
    auto array = std::make_unique<TJSONArray>();
    array->Reserve(Count());
    for (const auto& item : FItems) array->Add(item->ToJSON());
    AJSON.AddPair("Extensions", std::move(array));
}

void TExtensionDefList::FromJSON(TModelDef* AModel, const TJSONArray& AValue)
{
    for (const auto& element : AValue) {
        const auto* object = element->TryAs<TJSONObject>();
        if (!object) throw EInvalidCast();
        auto extension = MakeOwned<TExtensionDef>();
        extension->FromJSON(AModel, *object);
        Add(std::move(extension));
    }
}

int32_t CheckedOrdinal(int32_t AValue, int32_t AMax, std::string_view AName)
{
    if (AValue < 0 || AValue > AMax) throw Exception(Format("invalid value for \"%s\": %d", AName, AValue));
    return AValue;
}

const TJSONArray* JSONGetArray(const TJSONObject& AValue, std::string_view AName)
{
    const TJSONValue* value = AValue.GetValue(AName);
    if (!value) return nullptr;
    const auto* array = value->TryAs<TJSONArray>();
    if (!array) throw EInvalidCast();
    return array;
}

// ---- TKorvaneBitmapCacheEntry ----

TKorvaneBitmapCacheEntry::TKorvaneBitmapCacheEntry(TCollection* ACollection)
    : TCollectionItem(ACollection), FBitmap(new TBitmap())
{
}

TKorvaneBitmapCacheEntry::~TKorvaneBitmapCacheEntry() { FreeOwnedBitmap(); }

void TKorvaneBitmapCacheEntry::FreeOwnedBitmap()
{
    if (!FIsOnlyRef && FBitmap) FBitmap->Free();
    FBitmap = nullptr;
}

void TKorvaneBitmapCacheEntry::SetBitmap(const TBitmap* AValue)
{
    if (FIsOnlyRef) return;
    if (!FBitmap) FBitmap = new TBitmap();
    FBitmap->Assign(AValue);
}

void TKorvaneBitmapCacheEntry::SetBitmapReference(const std::string& AFilename, TBitmap* AReference)
{
    FreeOwnedBitmap();
    FIsOnlyRef = true;
    FBitmap = AReference;
    FFilename = AFilename;
}

void TKorvaneBitmapCacheEntry::AssignTo(TPersistent* Dest) const
{
    auto* entry = dynamic_cast<TKorvaneBitmapCacheEntry*>(Dest);
    if (!entry) {
        TCollectionItem::AssignTo(Dest);
        return;
    }
    if (entry->FIsOnlyRef || !entry->FBitmap) {
        entry->FBitmap = new TBitmap();
        entry->FIsOnlyRef = false;
    }
    entry->FBitmap->Assign(FBitmap);
}

// ---- TKorvaneBitmapCache ----

TKorvaneBitmapCache::TKorvaneBitmapCache(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TKorvaneBitmapCacheEntry::StaticClass())
{
}

TKorvaneBitmapCacheEntry* TKorvaneBitmapCache::Items(int AIdx) const
{
    return static_cast<TKorvaneBitmapCacheEntry*>(TOwnedCollection::Items(AIdx));
}

TKorvaneBitmapCacheEntry* TKorvaneBitmapCache::Add()
{
    return static_cast<TKorvaneBitmapCacheEntry*>(TOwnedCollection::Add());
}

TKorvaneBitmapCacheEntry* TKorvaneBitmapCache::FindBitmap(std::string_view AFilename) const
{
    // Windows paths: a forward slash does not separate the file-name part.
    const auto namePart = [](std::string_view AText) {
        const size_t pos = AText.find_last_of("\\:");
        return pos == std::string_view::npos ? AText : AText.substr(pos + 1);
    };
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Filename() == AFilename) return Items(i);
    const std::string_view name = namePart(AFilename);
    for (int i = 0; i < Count(); ++i)
        if (namePart(Items(i)->Filename()) == name) return Items(i);
    return nullptr;
}

} // namespace korvane
