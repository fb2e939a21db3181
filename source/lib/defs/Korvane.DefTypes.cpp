#include "Korvane.DefTypes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace korvane {

namespace {

const char* const CodecClassName = "TCustomDef";

bool HasDecimalMark(std::string_view text) { return text.find_first_of(".,") != std::string_view::npos; }

// Halves go to the even neighbour; the result must fit 32 bits.
int32_t RoundToInt32(double value, std::string_view text)
{
    double r = std::round(value);
    if (std::fabs(value - std::trunc(value)) == 0.5) r = 2.0 * std::round(value / 2.0);
    if (!(r >= INT32_MIN && r <= INT32_MAX))
        throw EConvertError(Format("'%s' is not a valid integer value", text));
    return static_cast<int32_t>(r);
}

// The integer rule of the read operations and the codec.
int32_t IntegerOfNumber(const TJSONNumber& number)
{
    const std::string_view text = number.Text();
    if (HasDecimalMark(text)) return RoundToInt32(number.AsDouble(), text);
    return StrToInt(text);
}

std::unique_ptr<TJSONArray> NumberArray(std::initializer_list<float> values)
{
    auto array = std::make_unique<TJSONArray>();
    for (float v : values) array->Add(std::make_unique<TJSONNumber>(v));
    return array;
}

std::unique_ptr<TJSONObject> RecordObject(const char* recordType, std::unique_ptr<TJSONArray> value)
{
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("RecordType", recordType);
    obj->AddPair("Value", std::move(value));
    return obj;
}

std::unique_ptr<TJSONValue> RecordToJSON(const TValue& v)
{
    if (v.IsType<TPoint>()) {
        const auto p = v.AsType<TPoint>();
        auto array = std::make_unique<TJSONArray>();
        array->Add(std::make_unique<TJSONNumber>(p.X));
        array->Add(std::make_unique<TJSONNumber>(p.Y));
        return RecordObject("TPoint", std::move(array));
    }
    if (v.IsType<TPointF>()) {
        const auto p = v.AsType<TPointF>();
        return RecordObject("TPointF", NumberArray({p.X, p.Y}));
    }
    if (v.IsType<TPoint3D>()) {
        const auto p = v.AsType<TPoint3D>();
        return RecordObject("TPoint3D", NumberArray({p.X, p.Y, p.Z}));
    }
    if (v.IsType<TVector3D>()) {
        const auto p = v.AsType<TVector3D>();
        return RecordObject("TVector3D", NumberArray({p.X, p.Y, p.Z, p.W}));
    }
    if (v.IsType<TMatrix>()) {
        const auto m = v.AsType<TMatrix>();
        return RecordObject("TMatrix", NumberArray({m.m11, m.m12, m.m13, m.m21, m.m22, m.m23, m.m31, m.m32, m.m33}));
    }
    if (v.IsType<TMatrix3D>()) {
        const auto m = v.AsType<TMatrix3D>();
        return RecordObject("TMatrix3D", NumberArray({m.m11, m.m12, m.m13, m.m14, m.m21, m.m22, m.m23, m.m24, m.m31,
                                                      m.m32, m.m33, m.m34, m.m41, m.m42, m.m43, m.m44}));
    }
    if (v.IsType<TAlphaColorF>()) {
        const auto c = v.AsType<TAlphaColorF>();
        return RecordObject("TAlphaColorF", NumberArray({c.R, c.G, c.B, c.A}));
    }
    if (v.IsType<TUBOUniformDef>()) {
        const auto u = v.AsType<TUBOUniformDef>();
        auto obj = std::make_unique<TJSONObject>();
        obj->AddPair("RecordType", "TUBOUniformDef");
        obj->AddPair("Name", u.Name);
        obj->AddPair("DataType", std::make_unique<TJSONNumber>(u.DataType));
        obj->AddPair("Layout", std::make_unique<TJSONNumber>(u.Layout));
        obj->AddPair("ArrayLength", std::make_unique<TJSONNumber>(u.ArrayLength));
        obj->AddPair("ValueAsString", u.ValueAsString);
        return obj;
    }
    // Records without a JSON form of their own keep their text form.
    return std::make_unique<TJSONString>(v.ToString());
}

std::unique_ptr<TJSONValue> AlphaColorToJSON(TAlphaColor c)
{
    auto array = std::make_unique<TJSONArray>();
    for (int channel : {RedOf(c), GreenOf(c), BlueOf(c), AlphaOf(c)}) array->Add(std::make_unique<TJSONNumber>(channel));
    return RecordObject("TAlphaColor", std::move(array));
}

// The "Value" array of a record object with exactly `count` elements.
const TJSONArray& RecordValues(const TJSONValue* value, const std::string& recordType, int count)
{
    const auto* array = value->TryAs<TJSONArray>();
    if (!array || array->Count() != count)
        throw Exception(Format("Unexpected value type in RecordType \"%s\" found in JSONToRttiValue of %s", recordType,
                               CodecClassName));
    return *array;
}

// A number narrowed to single precision. Values that round to a finite single
// are taken (the 15-digit text of the largest single lies just above it);
// anything beyond raises EConvertError rather than becoming infinite.
// context names where the number was read: a record type or a pair.
float NarrowToSingle(const TJSONNumber& number, const std::string& context)
{
    // Half a unit in the last place above the largest single: from here on
    // narrowing rounds to infinity.
    constexpr double Overflow = 0x1.ffffffp127;
    const double d = number.AsDouble();
    if (!(std::fabs(d) < Overflow))
        throw EConvertError(Format("'%s' is outside the range of Single in %s", number.Text(), context));
    const double max = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(d, -max, max));
}

// Elements of the single-precision records: numbers, narrowed to float.
template <size_t N>
void ReadSingles(const TJSONArray& array, const std::string& recordType, float (&out)[N])
{
    for (size_t i = 0; i < N; ++i)
        out[i] = NarrowToSingle(array.Items(static_cast<int>(i))->As<TJSONNumber>(), "RecordType \"" + recordType + "\"");
}

// A single-precision record of type T made of the N numbers of its "Value" array, in order.
template <typename T, size_t N>
TValue SingleRecord(const TJSONValue* value, const std::string& recordType)
{
    float v[N];
    ReadSingles(RecordValues(value, recordType, int(N)), recordType, v);
    const auto make = [&]<size_t... I>(std::index_sequence<I...>) { return TValue::From(T(v[I]...)); };
    return make(std::make_index_sequence<N>{});
}

// Elements of the integer records: numbers under the integer rule.
template <size_t N>
void ReadIntegers(const TJSONArray& array, const char* recordType, int32_t (&out)[N])
{
    for (size_t i = 0; i < N; ++i) {
        const auto* number = array.Items(static_cast<int>(i))->TryAs<TJSONNumber>();
        if (!number)
            throw Exception(Format("TCustomDef.JSONToRttiValue(%s) - unexpected value found \"%s\"", recordType,
                                   array.ToJSON()));
        out[i] = IntegerOfNumber(*number);
    }
}

TValue RecordFromJSON(const TJSONObject& obj, const std::string& recordType)
{
    if (recordType == "TUBOUniformDef") {
        TUBOUniformDef u;
        auto text = [&](const char* name, std::string& field) {
            const TJSONValue* v = obj.GetValue(name);
            if (v && v->Kind() == TJSONValue::TKind::String) field = v->Value();
        };
        auto integer = [&](const char* name, int32_t& field) {
            const TJSONValue* v = obj.GetValue(name);
            if (v && v->Kind() == TJSONValue::TKind::Number) field = IntegerOfNumber(v->As<TJSONNumber>());
        };
        text("Name", u.Name);
        integer("DataType", u.DataType);
        integer("Layout", u.Layout);
        integer("ArrayLength", u.ArrayLength);
        text("ValueAsString", u.ValueAsString);
        return TValue::From(u);
    }

    const TJSONValue* value = obj.GetValue("Value");
    if (!value)
        throw Exception(Format("Missing value in RecordType \"%s\" in JSONToRttiValue of %s", recordType, CodecClassName));

    if (recordType == "TPoint") {
        int32_t v[2];
        ReadIntegers(RecordValues(value, recordType, 2), "TPoint", v);
        return TValue::From(TPoint(v[0], v[1]));
    }
    if (recordType == "TPointF") return SingleRecord<TPointF, 2>(value, recordType);
    if (recordType == "TPoint3D") return SingleRecord<TPoint3D, 3>(value, recordType);
    if (recordType == "TVector3D") return SingleRecord<TVector3D, 4>(value, recordType);
    if (recordType == "TMatrix") return SingleRecord<TMatrix, 9>(value, recordType);
    if (recordType == "TMatrix3D") return SingleRecord<TMatrix3D, 16>(value, recordType);
    if (recordType == "TAlphaColor") {
        int32_t v[4];
        ReadIntegers(RecordValues(value, recordType, 4), "TAlphaColor", v);
        const auto low8 = [](int32_t x) { return static_cast<uint8_t>(static_cast<uint32_t>(x) & 0xFFu); };
        return TValue::From<TAlphaColor>(MakeAlphaColor(low8(v[0]), low8(v[1]), low8(v[2]), low8(v[3])));
    }
    if (recordType == "TAlphaColorF") return SingleRecord<TAlphaColorF, 4>(value, recordType);
    throw Exception(Format("Unsupported RecordType \"%s\" found in JSONToRttiValue of %s", recordType, CodecClassName));
}

// The classes a "Children" element may name, in the order they are compared;
// anything else is read as a mesh definition.
const char* const ChildClassTable[] = {
    "Korvane.DefTypes.TTransformDef",   "Korvane.DefTypes.TSegmentDef", "Korvane.DefTypes.TArmatureDef",
    "Korvane.DefTypes.TJointDef",       "Korvane.DefTypes.TSkinDef",    "Korvane.DefTypes.TMeshDef",
    "Korvane.DefTypes.TVertexGroupDef", "Korvane.DefTypes.TLightDef",   "Korvane.DefTypes.TCameraDef",
};
const char* const DefaultChildClass = "Korvane.DefTypes.TMeshDef";

} // namespace

namespace units {
void DefTypesInitialize() { RegisterClass<TTransformDef>(); }
} // namespace units

// ---- TProperties ----

void TProperties::Add(const std::string& Key, const TValue& Value)
{
    if (!FItems.emplace(Key, Value).second) throw EListError("Duplicates not allowed");
}

bool TProperties::TryGetValue(std::string_view Key, TValue& Value) const
{
    const auto it = FItems.find(Key);
    if (it == FItems.end()) return false;
    Value = it->second;
    return true;
}

const TValue& TProperties::Items(std::string_view Key) const
{
    const auto it = FItems.find(Key);
    if (it == FItems.end()) throw EListError("Item not found");
    return it->second;
}

void TProperties::Remove(std::string_view Key)
{
    const auto it = FItems.find(Key);
    if (it != FItems.end()) FItems.erase(it);
}

int64_t TProperties::GetSize() const { return static_cast<int64_t>(sizeof(TProperties)) + 44 * Count(); }

void TProperties::ToJSON(TJSONObject& AJSON) const
{
    auto array = std::make_unique<TJSONArray>();
    for (const auto& [key, value] : FItems) {
        auto entry = std::make_unique<TJSONObject>();
        entry->AddPair("Name", key);
        entry->AddPair("Value", TCustomDef::RttiValueToJSON(value));
        array->Add(std::move(entry));
    }
    AJSON.AddPair("Properties", std::move(array));
}

void TProperties::FromJSON(const TJSONObject& AValue)
{
    Clear();
    const TJSONValue* properties = AValue.GetValue("Properties");
    const auto* array = properties ? properties->TryAs<TJSONArray>() : nullptr;
    if (!array) return;
    for (const auto& element : *array) {
        const auto* entry = element->TryAs<TJSONObject>();
        if (!entry) continue;
        const TJSONValue* name = entry->GetValue("Name");
        if (!name || name->Kind() != TJSONValue::TKind::String) continue;
        const TJSONValue* value = entry->GetValue("Value");
        if (!value) continue;
        Add(Trim(name->Value()), TCustomDef::JSONToRttiValue(*value));
    }
}

// ---- TCustomDef ----

int64_t TCustomDef::GetSize() const { return InstanceSize() + StringByteSize(FId); }

TObject* TCustomDef::GetAssetsPackage() const
{
    throw Exception(Format("TODO: override TCustomDef.GetAssetsPackage() in %s", ClassName()));
}

std::unique_ptr<TJSONObject> TCustomDef::ToJSON() const
{
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Type", QualifiedClassName());
    obj->AddPair("Id", FId);
    return obj;
}

void TCustomDef::FromJSON(TModelDef*, const TJSONObject& AValue) { FId = JSONGetString(AValue, "Id", FId); }

bool TCustomDef::LateResolveFromJSON(TModelDef*, const TJSONObject&) { return true; }

std::string TCustomDef::JSONGetText(const TJSONObject& AJSON, std::string_view AName, const std::string& ADefault)
{
    const TJSONValue* v = AJSON.GetValue(AName);
    return v ? v->Value() : ADefault;
}

std::string TCustomDef::JSONGetString(const TJSONObject& AJSON, std::string_view AName, const std::string& ADefault)
{
    const TJSONValue* v = AJSON.GetValue(AName);
    if (v && (v->Kind() == TJSONValue::TKind::String || v->Kind() == TJSONValue::TKind::Number)) return v->Value();
    return ADefault;
}

double TCustomDef::JSONGetFloat(const TJSONObject& AJSON, std::string_view AName, double ADefault)
{
    const TJSONValue* v = AJSON.GetValue(AName);
    if (v && v->Kind() == TJSONValue::TKind::Number) return v->As<TJSONNumber>().AsDouble();
    return ADefault;
}

float TCustomDef::JSONGetSingle(const TJSONObject& AJSON, std::string_view AName, float ADefault)
{
    const TJSONValue* v = AJSON.GetValue(AName);
    if (v && v->Kind() == TJSONValue::TKind::Number) return NarrowToSingle(v->As<TJSONNumber>(), "pair \"" + std::string(AName) + "\"");
    return ADefault;
}

int32_t TCustomDef::JSONGetInteger(const TJSONObject& AJSON, std::string_view AName, int32_t ADefault)
{
    const TJSONValue* v = AJSON.GetValue(AName);
    if (v && v->Kind() == TJSONValue::TKind::Number) return IntegerOfNumber(v->As<TJSONNumber>());
    return ADefault;
}

bool TCustomDef::JSONGetBoolean(const TJSONObject& AJSON, std::string_view AName, bool ADefault)
{
    const TJSONValue* v = AJSON.GetValue(AName);
    if (const auto* b = v ? v->TryAs<TJSONBool>() : nullptr) return b->AsBoolean();
    return ADefault;
}

namespace {

// The text of AName read by AParse; ADefault when the key is missing or its text is empty.
template <typename T, typename Parse>
T JSONGetParsed(const TJSONObject& AJSON, std::string_view AName, const T& ADefault, Parse&& AParse)
{
    const std::string text = TCustomDef::JSONGetText(AJSON, AName, "");
    return text.empty() ? ADefault : T(AParse(text));
}

} // namespace

TPoint3D TCustomDef::JSONGetPoint3D(const TJSONObject& AJSON, std::string_view AName, const TPoint3D& ADefault)
{
    return JSONGetParsed(AJSON, AName, ADefault, [](const std::string& t) { return StringToPoint3D(t); });
}

TMatrix3D TCustomDef::JSONGetMatrix3D(const TJSONObject& AJSON, std::string_view AName, const TMatrix3D& ADefault)
{
    return JSONGetParsed(AJSON, AName, ADefault, [](const std::string& t) { return StringToMatrix3D(t); });
}

TAlphaColorF TCustomDef::JSONGetColorF(const TJSONObject& AJSON, std::string_view AName, const TAlphaColorF& ADefault)
{
    return JSONGetParsed(AJSON, AName, ADefault, [](const std::string& t) { return StringToAlphaColorF(t); });
}

TGUID TCustomDef::JSONGetGUID(const TJSONObject& AJSON, std::string_view AName, const TGUID& ADefault)
{
    return JSONGetParsed(AJSON, AName, ADefault, [](const std::string& t) { return StringToGUID(t); });
}

bool TCustomDef::JSONHasKey(const TJSONObject& AJSON, std::string_view AName) { return AJSON.Get(AName) != nullptr; }

std::unique_ptr<TJSONValue> TCustomDef::RttiValueToJSON(const TValue& AValue)
{
    if (AValue.IsType<TAlphaColor>()) return AlphaColorToJSON(AValue.AsType<TAlphaColor>());
    switch (AValue.Kind()) {
    case tkUnknown:
        return std::make_unique<TJSONNull>();
    case tkInteger:
        return std::make_unique<TJSONNumber>(static_cast<int32_t>(static_cast<uint32_t>(AValue.AsInt64())));
    case tkInt64:
        if (AValue.IsType<uint64_t>()) return std::make_unique<TJSONNumber>(AValue.AsUInt64());
        return std::make_unique<TJSONNumber>(AValue.AsInt64());
    case tkFloat:
        if (AValue.IsType<float>()) return std::make_unique<TJSONNumber>(AValue.AsType<float>());
        return std::make_unique<TJSONNumber>(AValue.AsExtended());
    case tkEnumeration:
        if (AValue.IsType<bool>()) return TJSONBool::Create(AValue.AsBoolean());
        return std::make_unique<TJSONString>(AValue.ToString());
    case tkString:
        return std::make_unique<TJSONString>(AValue.AsString());
    case tkRecord:
        return RecordToJSON(AValue);
    case tkClass:
        break;
    }
    return std::make_unique<TJSONString>(AValue.ToString());
}

TValue TCustomDef::JSONToRttiValue(const TJSONValue& AValue)
{
    using K = TJSONValue::TKind;
    switch (AValue.Kind()) {
    case K::Number: {
        const auto& number = AValue.As<TJSONNumber>();
        const std::string_view text = number.Text();
        // Texts with an exponent are floating-point values as well, so that
        // every float the writer produces ("1E-7") reads back.
        if (text.find_first_of(".,eE") != std::string_view::npos) return TValue::From(number.AsDouble());
        int32_t i = 0;
        if (TryStrToInt(text, i)) return TValue::From(i);
        // Integers beyond 32 bits, as the 64-bit ones are written, read back as 64-bit integers.
        return TValue::From(number.AsInt64());
    }
    case K::True:
        return TValue::From(true);
    case K::False:
        return TValue::From(false);
    case K::Array:
        return TValue::From(AValue.ToJSON());
    case K::Object: {
        const auto& obj = AValue.As<TJSONObject>();
        const TJSONValue* recordType = obj.GetValue("RecordType");
        if (recordType && recordType->Kind() == K::String) return RecordFromJSON(obj, recordType->Value());
        return TValue::From(AValue.ToJSON());
    }
    case K::String:
        return TValue::From(AValue.Value());
    case K::Null:
        break;
    }
    return TValue::From(std::string("null"));
}

// ---- model services and metaclasses ----

TModelDefServices& ModelDefServices()
{
    static TModelDefServices services;
    return services;
}

KORVANE_IMPLEMENT_CLASS(TCustomDef, DefTypesUnitName)

TClass TTransformDef::StaticClass()
{
    static const TTransformDefClassInfo<TTransformDef> info;
    return &info;
}

TTransformDef* TTransformDefMetaClass::CreateDef(TCustomDef* AOwner) const
{
    if (!FCreateDef) throw EInvalidOperation(Format("Cannot create an instance of %s", ClassName()));
    return FCreateDef(AOwner);
}

const TTransformDefMetaClass& TransformDefChildClass(const std::string& AType)
{
    const char* name = DefaultChildClass;
    for (const char* row : ChildClassTable)
        if (AType == row) {
            name = row;
            break;
        }
    const auto* meta = dynamic_cast<const TTransformDefMetaClass*>(FindClass(name));
    if (!meta) throw EClassNotFound(Format("Class %s not found", name));
    return *meta;
}

// ---- TTransformDefList ----

TTransformDef* TTransformDefList::Items(int Index) const
{
    if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
    return FItems[static_cast<size_t>(Index)];
}

int TTransformDefList::IndexOf(const TTransformDef* Item) const
{
    const auto it = std::find(FItems.begin(), FItems.end(), Item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

int TTransformDefList::Add(TTransformDef* Item)
{
    FItems.push_back(Item);
    return Count() - 1;
}

void TTransformDefList::Remove(TTransformDef* Item)
{
    if (TTransformDef* removed = Extract(Item)) removed->Free();
}

TTransformDef* TTransformDefList::Extract(TTransformDef* Item)
{
    const auto it = std::find(FItems.begin(), FItems.end(), Item);
    if (it == FItems.end()) return nullptr;
    FItems.erase(it);
    return Item;
}

void TTransformDefList::Clear()
{
    std::vector<TTransformDef*> items;
    items.swap(FItems);
    for (TTransformDef* item : items) item->Free();
}

// ---- TTransformDef ----

TTransformDef::TTransformDef(TCustomDef* AOwner) : FProperties(std::make_unique<TProperties>())
{
    // Not the virtual DoSetOwner: no override may run before its class is built.
    FOwner = AOwner;
    FOwnerId = AOwner ? AOwner->Id() : std::string();
}

TTransformDef::~TTransformDef() = default;

void TTransformDef::DoSetOwner(TCustomDef* ADef)
{
    FOwner = ADef;
    FOwnerId = ADef ? ADef->Id() : std::string();
}

TTransformDef* TTransformDef::GetOwner() const
{
    if (!FOwner) return nullptr;
    auto* owner = dynamic_cast<TTransformDef*>(FOwner);
    if (!owner) throw EInvalidCast();
    return owner;
}

void TTransformDef::SetOwner(TTransformDef* AValue) { DoSetOwner(AValue); }

void TTransformDef::SetOwnerRef(TCustomDef* AValue) { DoSetOwner(AValue); }

std::string TTransformDef::GetQualifiedComponentName() const
{
    std::string name = MakeUniqueChildName(nullptr, Id());
    if (FCopyCount > 0) name += "_Copy" + IntToStr(FCopyCount);
    return name;
}

TModelDef* TTransformDef::GetModel() const
{
    if (!FOwner) return nullptr;
    const auto& services = ModelDefServices();
    if (services.AsModel)
        if (TModelDef* model = services.AsModel(FOwner)) return model;
    if (auto* owner = dynamic_cast<TTransformDef*>(FOwner)) return owner->GetModel();
    return nullptr;
}

int TTransformDef::AddChild(TTransformDef* ATransform)
{
    if (!FChildren) FChildren = std::make_unique<TTransformDefList>();
    if (FChildren->IndexOf(ATransform) >= 0) return -1;
    return FChildren->Add(ATransform);
}

void TTransformDef::RemoveChild(TTransformDef* ATransform)
{
    if (FChildren) FChildren->Remove(ATransform);
}

void TTransformDef::ExtractChild(TTransformDef* ATransform)
{
    if (FChildren) FChildren->Extract(ATransform);
}

void TTransformDef::ClearChildren()
{
    if (FChildren) FChildren->Clear();
}

void TTransformDef::Traverse(bool ADeepTraverse, const TTransformTraverseProc& AProc)
{
    if (!FChildren || !AProc) return;
    const int count = FChildren->Count();
    // The callback may remove or free children: never step past the list's
    // current end, and descend only into a child that is still in its place.
    for (int i = 0; i < count && i < FChildren->Count(); ++i) {
        TTransformDef* child = FChildren->Items(i);
        if (!AProc(this, i, child)) return;
        if (ADeepTraverse && i < FChildren->Count() && FChildren->Items(i) == child)
            child->Traverse(ADeepTraverse, AProc);
    }
}

TTransformDef* TTransformDef::FindChildById(std::string_view AId, bool AThrowException)
{
    TTransformDef* found = nullptr;
    Traverse(true, [&](TTransformDef*, int, TTransformDef* child) {
        if (SameText(child->Id(), AId) || SameText("#" + child->Id(), AId)) {
            found = child;
            return false;
        }
        return true;
    });
    if (!found && AThrowException)
        throw Exception(Format("transform with id \"%s\" not found", std::string(AId)));
    return found;
}

TMatrix3D TTransformDef::GetAbsoluteTransformation() const
{
    const TTransformDef* owner = GetOwner();
    if (!owner) return FTransform;
    return owner->GetAbsoluteTransformation() * FTransform;
}

std::unique_ptr<TJSONObject> TTransformDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    if (FOwner) obj->AddPair("Owner", FOwner->Id());
    else obj->AddPair("Owner", std::make_unique<TJSONNull>());
    FProperties->ToJSON(*obj);
    obj->AddPair("Transform", Matrix3DToString(FTransform, nullptr, ' '));
    if (FChildren) {
        auto children = std::make_unique<TJSONArray>();
        for (const TTransformDef* child : *FChildren) children->Add(child->ToJSON());
        obj->AddPair("Children", std::move(children));
    }
    return obj;
}

void TTransformDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    if (!FOwner) {
        FOwnerId = JSONGetString(AValue, "Owner", "");
        // Without a model the owner cannot be resolved; the id is kept.
        const auto& services = ModelDefServices();
        if (!FOwnerId.empty() && AModel && services.FindDefById) FOwner = services.FindDefById(AModel, FOwnerId);
    } else if (FOwnerId.empty()) {
        FOwnerId = FOwner->Id();
    }
    FProperties->FromJSON(AValue);
    FTransform = JSONGetMatrix3D(AValue, "Transform", FTransform);

    const TJSONValue* children = AValue.GetValue("Children");
    const auto* array = children ? children->TryAs<TJSONArray>() : nullptr;
    if (!array) return;
    for (const auto& element : *array) {
        const auto* childJSON = element->TryAs<TJSONObject>();
        if (!childJSON) throw EInvalidCast();
        const TTransformDefMetaClass& childClass = TransformDefChildClass(JSONGetString(*childJSON, "Type", ""));
        // The child is ours only once it is added: a failed reading frees it.
        TOwned<TTransformDef> child(childClass.CreateDef(this));
        child->FromJSON(AModel, *childJSON);
        // A node just made cannot be in the list yet: it is appended without
        // the duplicate scan of AddChild, which would make reading quadratic
        // in the number of siblings.
        if (!FChildren) FChildren = std::make_unique<TTransformDefList>();
        FChildren->Add(child.release());
    }
}

} // namespace korvane
