#include "Korvane.DefTypes.Mesh.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "Korvane.Context.Buffers.h"
#include "Korvane.DefTypes.Utils.h"
#include "Korvane.Utils.Geometry.h"
#include "Platform.SysUtils.h"
#include "Platform.Threads.h"

namespace korvane {

namespace units {
void DefTypesMeshInitialize()
{
    RegisterClasses({TMeshDef::StaticClass(), TVertexGroupDef::StaticClass()});
}
} // namespace units

namespace {

// One array of the per-attribute vertex form: its key, the component and the
// numbers per vertex. Float colours follow the twelve arrays of the form only
// when the format holds them, so that they are not lost.
struct TAttributeArray {
    const char* Key;
    TVertexFormat Format;
    int Group;
};

const TAttributeArray AttributeArrays[] = {
    {"Positions", TVertexFormat::Vertex, 3},   {"Normals", TVertexFormat::Normal, 3},
    {"Binormals", TVertexFormat::BiNormal, 3}, {"Tangents", TVertexFormat::Tangent, 3},
    {"TexCoord0", TVertexFormat::TexCoord0, 2}, {"TexCoord1", TVertexFormat::TexCoord1, 2},
    {"TexCoord2", TVertexFormat::TexCoord2, 2}, {"TexCoord3", TVertexFormat::TexCoord3, 2},
    {"Color0", TVertexFormat::Color0, 1},      {"Color1", TVertexFormat::Color1, 1},
    {"Color2", TVertexFormat::Color2, 1},      {"Color3", TVertexFormat::Color3, 1},
    {"ColorF0", TVertexFormat::ColorF0, 4},    {"ColorF1", TVertexFormat::ColorF1, 4},
    {"ColorF2", TVertexFormat::ColorF2, 4},    {"ColorF3", TVertexFormat::ColorF3, 4},
};
constexpr int WrittenAlwaysCount = 12;
constexpr size_t AttributeArrayCount = std::size(AttributeArrays);

// The array of each attribute in a "Vertices" object, or nullptr: the first
// pair of its name counts, as for a lookup by name. One pass over the pairs,
// which come in the table's order when the model wrote them, instead of a
// lookup of every name.
std::array<const TJSONArray*, AttributeArrayCount> AttributeArraysOf(const TJSONObject& AObject)
{
    static const auto keys = [] {
        std::array<std::string_view, AttributeArrayCount> k;
        for (size_t i = 0; i < AttributeArrayCount; ++i) k[i] = AttributeArrays[i].Key;
        return k;
    }();
    std::array<const TJSONArray*, AttributeArrayCount> arrays{};
    std::array<bool, AttributeArrayCount> seen{};
    size_t next = 0;
    for (const TJSONPair& pair : AObject) {
        const std::string_view name = pair.Name();
        for (size_t k = 0; k < AttributeArrayCount; ++k) {
            const size_t at = (next + k) % AttributeArrayCount;
            if (name != keys[at]) continue;
            if (!seen[at]) {
                seen[at] = true;
                const TJSONValue* value = pair.JsonValue();
                if (value->Kind() == TJSONValue::TKind::Array) arrays[at] = static_cast<const TJSONArray*>(value);
            }
            next = at + 1;
            break;
        }
    }
    return arrays;
}

bool IsFloatArray(const TAttributeArray& A) { return A.Group != 1; }

int ChannelOf(TVertexFormat AFirst, TVertexFormat AFormat) { return int(AFormat) - int(AFirst); }

// The floats of one component of a vertex (3, 2 or 4 of them).
void GetFloats(const TVertexBuffer& ABuffer, const TAttributeArray& A, int32_t AIndex, float* AOut)
{
    std::memcpy(AOut, ABuffer.Attribute(A.Format, AIndex), size_t(A.Group) * sizeof(float));
}

// The value as a number. Its kind tells a number without a dynamic cast,
// which mattered: reading a mesh converts millions of them.
[[noreturn, gnu::noinline]] void RaiseNotNumber(const char* AKey)
{
    throw Exception(Format("invalid json data type in \"%s\" - number expected", AKey));
}

inline const TJSONNumber& NumberValue(const TJSONValue* AValue, const char* AKey)
{
    if (!AValue || AValue->Kind() != TJSONValue::TKind::Number) RaiseNotNumber(AKey);
    return static_cast<const TJSONNumber&>(*AValue);
}

// Exact powers of ten a double holds: 10^0 .. 10^22.
constexpr double ExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Whether eight little-endian bytes are all ASCII digits.
bool EightDigits(uint64_t AChunk)
{
    return ((AChunk & 0xF0F0F0F0F0F0F0F0) | (((AChunk + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ==
           0x3333333333333333;
}

// The value of eight ASCII digits in little-endian bytes, first digit most significant.
uint32_t EightDigitValue(uint64_t AChunk)
{
    AChunk -= 0x3030303030303030;
    AChunk = (AChunk * 10) + (AChunk >> 8);
    AChunk = (((AChunk & 0x000000FF000000FF) * 0x000F424000000064) +
              (((AChunk >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >> 32;
    return uint32_t(AChunk);
}

// The largest mantissa that every double below it holds exactly.
constexpr uint64_t MaxExactMantissa = uint64_t(1) << 53;

// Below this a mantissa takes eight more digits without overflowing 64 bits.
constexpr uint64_t RoomForEightDigits = 100'000'000'000;

constexpr uint32_t PowersOfTenBelowEight[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// The value of a plain decimal text ("-12.5", "3e-4") whose digits make an
// integer of at most 2^53 scaled by at most 10^22: both are exact doubles, so
// one multiplication or division gives the correctly rounded value, the same
// one a full conversion gives. False for any other text, which then takes
// the full conversion; mesh data is almost all such short decimals.
inline bool TryShortDecimal(std::string_view AText, double& AValue)
{
    const char* const begin = AText.data();
    const char* p = begin;
    const char* const end = p + AText.size();
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    // The mantissa only grows digit by digit: once past 2^53 the text cannot
    // take this way, which also keeps it far from overflowing.
    uint64_t mantissa = 0;
    int scale = 0;
    const char* const intStart = p;
    for (; p != end && unsigned(*p - '0') < 10; ++p) {
        if (mantissa > MaxExactMantissa) return false;
        mantissa = mantissa * 10 + unsigned(*p - '0');
    }
    if (p == intStart) return false;
    if (p != end && *p == '.') {
        const char* const fracStart = ++p;
        if constexpr (std::endian::native == std::endian::little) {
            // Eight digits at a time while the mantissa has room for them.
            uint64_t chunk;
            while (end - p >= 8 && mantissa < RoomForEightDigits && (std::memcpy(&chunk, p, 8), EightDigits(chunk))) {
                mantissa = mantissa * 100000000 + EightDigitValue(chunk);
                p += 8;
                scale -= 8;
            }
            // One to seven digits that end the text: the eight bytes that end
            // it, those before the digits taken as zeros.
            const ptrdiff_t rest = end - p;
            if (rest > 0 && rest < 8 && end - begin >= 8 && mantissa < RoomForEightDigits) {
                std::memcpy(&chunk, end - 8, 8);
                const uint64_t before = (uint64_t(1) << (8 * (8 - rest))) - 1;
                chunk = (chunk & ~before) | (0x3030303030303030 & before);
                if (EightDigits(chunk)) {
                    mantissa = mantissa * PowersOfTenBelowEight[rest] + EightDigitValue(chunk);
                    p = end;
                    scale -= int(rest);
                }
            }
        }
        for (; p != end && unsigned(*p - '0') < 10; ++p, --scale) {
            if (mantissa > MaxExactMantissa) return false;
            mantissa = mantissa * 10 + unsigned(*p - '0');
        }
        if (p == fracStart) return false;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negativeExponent = p != end && *p == '-';
        if (p != end && (*p == '-' || *p == '+')) ++p;
        const char* const expStart = p;
        int exponent = 0;
        for (; p != end && unsigned(*p - '0') < 10; ++p) {
            if (exponent > 1000) return false;
            exponent = exponent * 10 + (*p - '0');
        }
        if (p == expStart) return false;
        scale += negativeExponent ? -exponent : exponent;
    }
    if (p != end || mantissa > MaxExactMantissa) return false;
    double value = double(mantissa);
    if (mantissa != 0) {
        if (scale < -22 || scale > 22) return false;
        value = scale < 0 ? value / ExactPowersOfTen[-scale] : value * ExactPowersOfTen[scale];
    }
    AValue = negative ? -value : value;
    return true;
}

// The general conversion of a number's text, for what TryShortDecimal leaves.
[[gnu::noinline]] double GeneralNumber(const TJSONNumber& ANumber)
{
    // A number the JSON reader made is plain JSON number text, which
    // from_chars takes whole; anything else goes the general way (and raises
    // its error there).
    const std::string_view text = ANumber.Text();
    double value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty() && text[0] != '+' &&
        std::isfinite(value))
        return value;
    return ANumber.AsDouble();
}

inline double NumberOf(const TJSONValue* AValue, const char* AKey)
{
    const TJSONNumber& number = NumberValue(AValue, AKey);
    double value;
    if (TryShortDecimal(number.Text(), value)) return value;
    return GeneralNumber(number);
}

// A JSON number under the integer rule: rounded (halves to even) when written
// with "." or ","; otherwise an integer text.
int64_t IntegerOf(const TJSONValue* AValue, const char* AKey)
{
    const TJSONNumber* number = &NumberValue(AValue, AKey);
    const std::string_view text = number->Text();
    if (text.find_first_of(".,") != std::string_view::npos) {
        const double r = std::nearbyint(number->AsDouble());
        if (!(r >= -9.0e18 && r <= 9.0e18)) throw Exception(Format("invalid value in \"%s\": %s", AKey, text));
        return static_cast<int64_t>(r);
    }
    try {
        return number->AsInt64();
    } catch (const Exception&) {
        throw Exception(Format("invalid value in \"%s\": %s", AKey, text));
    }
}

// An index of "Indices" or "VertexIndexMap" by the integer rule. Indices are
// almost all texts of a few plain digits, which convert directly; any other
// text takes the rule in full.
inline int64_t IndexNumberOf(const TJSONValue* AValue, const char* AKey)
{
    const std::string_view text = NumberValue(AValue, AKey).Text();
    if (!text.empty() && text.size() <= 9) {
        uint32_t value = 0;
        size_t i = 0;
        for (; i < text.size() && unsigned(text[i] - '0') < 10; ++i) value = value * 10 + unsigned(text[i] - '0');
        if (i == text.size()) return value;
    }
    return IntegerOf(AValue, AKey);
}

// An index value of "Indices" or "VertexIndexMap": within 0 .. ALimit - 1 and, for
// 16-bit indices, within 16 bits.
[[noreturn, gnu::noinline]] void RaiseIndexOutside(int64_t AValue, int64_t ALimit, const char* AKey)
{
    throw Exception(Format("invalid index in \"%s\": %d is outside the %d vertices", AKey, AValue, ALimit));
}

inline uint32_t IndexValue(int64_t AValue, int64_t ALimit, const char* AKey)
{
    if (AValue < 0 || AValue > int64_t(UINT32_MAX) || (ALimit >= 0 && AValue >= ALimit))
        RaiseIndexOutside(AValue, ALimit, AKey);
    return static_cast<uint32_t>(AValue);
}

// The values of a float array of AGroup numbers a vertex, in one pass over its
// elements straight into the buffer.
template <int AGroup>
void ReadFloatArray(const TJSONArray& AArray, const char* AKey, TVertexBuffer& ABuffer, TVertexFormat AFormat)
{
    const size_t stride = size_t(ABuffer.VertexSize());
    uint8_t* out = ABuffer.Buffer() + ABuffer.ComponentOffset(AFormat);
    const TJSONElement* item = AArray.begin();
    for (int32_t i = 0; i < ABuffer.Length(); ++i, out += stride) {
        float values[AGroup];
        for (int c = 0; c < AGroup; ++c, ++item) {
            values[c] = static_cast<float>(NumberOf(item->get(), AKey));
            if (!std::isfinite(values[c]))
                throw Exception(Format("invalid value in \"%s\" at vertex %d - beyond the range of a float", AKey, i));
        }
        std::memcpy(out, values, sizeof(values));
    }
}

int32_t EnumValue(int32_t AValue, int32_t AMax, const char* AKey)
{
    if (AValue < 0 || AValue > AMax) throw Exception(Format("invalid value for \"%s\": %d", AKey, AValue));
    return AValue;
}

void CheckRange(size_t ASize, int AIndex, int ACount, const char* AWhat)
{
    if (AIndex < 0 || ACount < 0 || int64_t(AIndex) + ACount > int64_t(ASize))
        throw EArgumentException(
            Format("%s range %d..%d is outside the %d given", AWhat, AIndex, AIndex + ACount - 1, int(ASize)));
}

int32_t CheckedLength(int64_t ALength, const char* AWhat)
{
    if (ALength < 0 || ALength > INT32_MAX) throw EArgumentException(Format("%s count %d is too large", AWhat, ALength));
    return static_cast<int32_t>(ALength);
}

// Inserts every entry of ASource with its vertex indices raised by AOffset.
void InsertRaised(TVertexIndexMap& ATarget, const TVertexIndexMap& ASource, uint32_t AOffset)
{
    for (const auto& [key, indices] : ASource) {
        TVertexIndexMap::TIndices raised(indices);
        for (uint32_t& index : raised) index += AOffset;
        ATarget.Add(key, std::move(raised));
    }
}

} // namespace

// ---- TTransformDef.AddMesh: mesh definitions are declared here, after the tree nodes ----

void TTransformDef::AddMesh(TMeshDef* AMesh) { AddChild(AMesh); }

// ---- TMeshInstanceDef ----

KORVANE_IMPLEMENT_CLASS(TMeshInstanceDef, DefTypesUnitName)

std::unique_ptr<TJSONObject> TMeshInstanceDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    if (FMeshRef) obj->AddPair("MeshRef", FMeshRef->Id());
    obj->AddPair("Position", Point3DToString(Position));
    obj->AddPair("Scale", Point3DToString(Scale));
    obj->AddPair("RotationAngle", Point3DToString(RotationAngle));
    obj->AddPair("RotationCenter", Point3DToString(RotationCenter));
    return obj;
}

void TMeshInstanceDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    Position = JSONGetPoint3D(AValue, "Position", TPoint3D());
    Scale = JSONGetPoint3D(AValue, "Scale", TPoint3D());
    RotationAngle = JSONGetPoint3D(AValue, "RotationAngle", TPoint3D());
    RotationCenter = JSONGetPoint3D(AValue, "RotationCenter", TPoint3D());
}

// ---- TCustomMeshDef ----

TClass TCustomMeshDef::StaticClass()
{
    static const TTransformDefClassInfo<TCustomMeshDef> info;
    return &info;
}

TCustomMeshDef::TCustomMeshDef(TCustomDef* AOwner)
    : TTransformDef(AOwner), FVertexIndexMap(std::make_unique<TVertexIndexMap>()),
      FWorkToken(std::make_shared<TMeshDefWorkToken>())
{
    FWorkToken->Mesh = this;
}

TCustomMeshDef::~TCustomMeshDef()
{
    {
        std::lock_guard<std::recursive_mutex> lock(FWorkToken->Lock);
        FWorkToken->Mesh = nullptr;
    }
    UnlinkMeshBuffer();
    FBufferObject.reset();
    FMaterial.reset();
    FInstances.clear();
    FreeIndexSource();
    FreeVertexSource();
}

void TCustomMeshDef::BeforeDestruction()
{
    // Queued work must not start on a mesh that is going.
    {
        std::lock_guard<std::recursive_mutex> lock(FWorkToken->Lock);
        FWorkToken->Mesh = nullptr;
    }
    TTransformDef::BeforeDestruction();
}

void TCustomMeshDef::FreeVertexSource()
{
    if (FVertexSource && !FVertexSourceBorrowed) FVertexSource->Free();
    FVertexSource = nullptr;
    FVertexSourceBorrowed = false;
}

void TCustomMeshDef::FreeIndexSource()
{
    if (!FIndexSourceBorrowed) delete FIndexSource;
    FIndexSource = nullptr;
    FIndexSourceBorrowed = false;
}

TMeshInstanceDef* TCustomMeshDef::AddInstance(TOwned<TMeshInstanceDef> AInstance)
{
    FInstances.push_back(std::move(AInstance));
    return FInstances.back().get();
}

void TCustomMeshDef::SetMaterial(TOwned<TMaterialRefDef> AValue) { FMaterial = std::move(AValue); }

void TCustomMeshDef::SetMaterialReference(TMaterialDef* AMaterial)
{
    if (!AMaterial) return;
    if (!FMaterial) FMaterial = MakeOwned<TMaterialRefDef>();
    FMaterial->SetId(AMaterial->Id());
    FMaterial->SetReference(AMaterial);
}

void TCustomMeshDef::CreateVertexSource(TVertexFormats AFormat)
{
    FreeVertexSource();
    FVertexFormat = AFormat;
    FVertexSource = new TVertexBuffer(AFormat, 0);
}

void TCustomMeshDef::CreateIndexSource(TIndexFormat AFormat)
{
    FreeIndexSource();
    FIndexFormat = AFormat;
    FIndexSource = new TIndexBuffer(0, AFormat);
}

void TCustomMeshDef::SetVertices(const TVertexBuffer* AVertices)
{
    auto* copy = new TVertexBuffer(AVertices ? AVertices->Format() : FVertexFormat, 0);
    if (AVertices) copy->Assign(*AVertices);
    FreeVertexSource();
    FVertexSource = copy;
}

void TCustomMeshDef::SetIndices(const TIndexBuffer* AIndices)
{
    auto copy = std::make_unique<TIndexBuffer>(0, AIndices ? AIndices->IndexFormat() : FIndexFormat);
    if (AIndices) copy->Assign(*AIndices);
    FreeIndexSource();
    FIndexSource = copy.release();
}

void TCustomMeshDef::SetVertexFormatByVertexData(const TVertexData* AVertex)
{
    if (!AVertex) return;
    TVertexFormats format{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::BiNormal, TVertexFormat::Tangent};
    const size_t textures = std::min<size_t>(AVertex->TexCoords.size(), 4);
    for (size_t i = 0; i < textures; ++i) format.Include(TVertexFormat(unsigned(TVertexFormat::TexCoord0) + unsigned(i)));
    const size_t colors = std::min<size_t>(AVertex->Colors.size(), 4);
    for (size_t i = 0; i < colors; ++i) format.Include(TVertexFormat(unsigned(TVertexFormat::ColorF0) + unsigned(i)));
    FVertexFormat = format;
}

void TCustomMeshDef::WriteVertices(TVertexBuffer& ABuffer, int32_t AFirst, const std::vector<TVertexData>& AVertices,
                                   int AIndex, int ACount)
{
    for (int k = 0; k < ACount; ++k) {
        const TVertexData& v = AVertices[size_t(AIndex + k)];
        const int32_t at = AFirst + k;
        // A lengthened source keeps its own layout: components it lacks are left out.
        if (ABuffer.HasFormat(TVertexFormat::Vertex)) ABuffer.SetVertices(at, v.Position);
        if (ABuffer.HasFormat(TVertexFormat::Normal)) ABuffer.SetNormals(at, v.Normal);
        if (ABuffer.HasFormat(TVertexFormat::BiNormal)) ABuffer.SetBiNormals(at, v.Binormal);
        if (ABuffer.HasFormat(TVertexFormat::Tangent)) ABuffer.SetTangents(at, v.Tangent);
        for (size_t i = 0; i < std::min<size_t>(v.TexCoords.size(), 4); ++i)
            if (ABuffer.HasFormat(TVertexFormat(unsigned(TVertexFormat::TexCoord0) + unsigned(i))))
                ABuffer.SetTexCoord(int(i), at, v.TexCoords[i]);
        for (size_t i = 0; i < std::min<size_t>(v.Colors.size(), 4); ++i)
            if (ABuffer.HasFormat(TVertexFormat(unsigned(TVertexFormat::Color0) + unsigned(i))) ||
                ABuffer.HasFormat(TVertexFormat(unsigned(TVertexFormat::ColorF0) + unsigned(i))))
                ABuffer.SetColor(int(i), at, v.Colors[i].ToAlphaColor());
    }
}

void TCustomMeshDef::AddVertices(const std::vector<TVertexData>& AVertices, int AIndex, int ACount)
{
    if (AVertices.empty()) {
        FreeVertexSource();
        return;
    }
    CheckRange(AVertices.size(), AIndex, ACount, "vertex");
    SetVertexFormatByVertexData(&AVertices[0]);
    auto* buffer = new TVertexBuffer(FVertexFormat, ACount);
    TOwned<TVertexBuffer> guard(buffer);
    WriteVertices(*buffer, 0, AVertices, AIndex, ACount);
    FreeVertexSource();
    FVertexSource = guard.release();
}

void TCustomMeshDef::AppendVertices(const std::vector<TVertexData>& AVertices, int AIndex, int ACount)
{
    if (AVertices.empty()) return;
    if (!FVertexSource) {
        AddVertices(AVertices, AIndex, ACount);
        return;
    }
    CheckRange(AVertices.size(), AIndex, ACount, "vertex");
    SetVertexFormatByVertexData(&AVertices[0]);
    const int32_t first = FVertexSource->Length();
    FVertexSource->SetLength(CheckedLength(int64_t(first) + ACount, "vertex"));
    WriteVertices(*FVertexSource, first, AVertices, AIndex, ACount);
}

int32_t TCustomMeshDef::GrowIndices(int64_t ACount)
{
    if (!FIndexSource) CreateIndexSource(FIndexFormat);
    const int32_t first = FIndexSource->Length();
    FIndexSource->SetLength(CheckedLength(first + ACount, "index"));
    return first;
}

void TCustomMeshDef::AddIndices(const std::vector<uint32_t>& AIndices, int AIndex, int ACount, int AOffset)
{
    CheckRange(AIndices.size(), AIndex, ACount, "index");
    FreeIndexSource();
    AppendIndices(AIndices, AIndex, ACount, AOffset);
}

void TCustomMeshDef::AddIndices(const std::vector<TTriangleIndex>& ATriangles, int AIndex, int ACount, int AOffset)
{
    CheckRange(ATriangles.size(), AIndex, ACount, "triangle");
    FreeIndexSource();
    AppendIndices(ATriangles, AIndex, ACount, AOffset);
}

void TCustomMeshDef::AppendIndices(const std::vector<uint32_t>& AIndices, int AIndex, int ACount, int AOffset)
{
    CheckRange(AIndices.size(), AIndex, ACount, "index");
    const int32_t first = GrowIndices(ACount);
    for (int k = 0; k < ACount; ++k)
        FIndexSource->SetIndices(first + k, AIndices[size_t(AIndex + k)] - static_cast<uint32_t>(AOffset));
}

void TCustomMeshDef::AppendIndices(const std::vector<TTriangleIndex>& ATriangles, int AIndex, int ACount,
                                   int AOffset)
{
    CheckRange(ATriangles.size(), AIndex, ACount, "triangle");
    const int32_t first = GrowIndices(int64_t(ACount) * 3);
    for (int t = 0; t < ACount; ++t)
        for (int c = 0; c < 3; ++c)
            FIndexSource->SetIndices(first + 3 * t + c,
                                     ATriangles[size_t(AIndex + t)][size_t(c)] - static_cast<uint32_t>(AOffset));
}

std::vector<TPoint3D> TCustomMeshDef::GetVertexPositions() const
{
    std::vector<TPoint3D> positions;
    if (!FVertexSource) return positions;
    positions.reserve(size_t(FVertexSource->Length()));
    for (int32_t i = 0; i < FVertexSource->Length(); ++i) positions.push_back(FVertexSource->Vertices(i));
    return positions;
}

void TCustomMeshDef::AddVertexIndexMap(const TVertexIndexMap& AMap, uint32_t AOffset)
{
    if (!FVertexIndexMap) FVertexIndexMap = std::make_unique<TVertexIndexMap>();
    if (AOffset == 0) {
        FVertexIndexMap->Assign(&AMap);
        return;
    }
    InsertRaised(*FVertexIndexMap, AMap, AOffset);
}

void TCustomMeshDef::AppendVertexIndexMap(const TVertexIndexMap& AMap, uint32_t AOffset)
{
    if (!FVertexIndexMap) {
        AddVertexIndexMap(AMap, AOffset);
        return;
    }
    InsertRaised(*FVertexIndexMap, AMap, AOffset);
}

void TCustomMeshDef::ApplyTransformation(const TMatrix3D& AMatrix) { SetTransform(Transform() * AMatrix); }

void TCustomMeshDef::BoundingBoxChanged()
{
    FBoundingBoxStale = true;
    GetBoundingBox();
}

TBoundingBox TCustomMeshDef::GetBoundingBox()
{
    if (!FBoundingBoxStale) return FBoundingBox;
    FBoundingBoxStale = false;
    if (!FVertexSource || FVertexSource->Size() == 0 || FVertexSource->Length() == 0 ||
        !FVertexSource->HasFormat(TVertexFormat::Vertex)) {
        FBoundingBox = TBoundingBox();
        return FBoundingBox;
    }
    TPoint3D lo = FVertexSource->Vertices(0) * Transform(), hi = lo;
    for (int32_t i = 1; i < FVertexSource->Length(); ++i) {
        const TPoint3D p = FVertexSource->Vertices(i) * Transform();
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    FBoundingBox = TBoundingBox(lo.X, lo.Y, lo.Z, hi.X, hi.Y, hi.Z).Normalize();
    return FBoundingBox;
}

// ---- the GPU copy ----

namespace {

bool SourcesFilled(const TVertexBuffer* AVertices, const TIndexBuffer* AIndices)
{
    return AVertices && AIndices && AVertices->Length() > 0 && AIndices->Length() > 0;
}

} // namespace

void TCustomMeshDef::QueueRelease()
{
    if (!FBufferObject) return;
    auto released = std::make_shared<TOwned<TMeshBufferObject>>(std::move(FBufferObject));
    TThread::Queue([released] { released->reset(); });
}

void TCustomMeshDef::QueueStaticBuild(TKorvanePrimitivesKind AKind)
{
    std::shared_ptr<TMeshDefWorkToken> token = FWorkToken;
    const uint64_t generation = ++FStaticGeneration;
    TThread::Queue([token, generation, AKind] {
        std::lock_guard<std::recursive_mutex> lock(token->Lock);
        TCustomMeshDef* mesh = token->Mesh;
        // Dropped when the mesh went, or a later change of its static state superseded it.
        if (!mesh || !mesh->FIsStatic || mesh->FStaticGeneration != generation) return;
        if (!SourcesFilled(mesh->FVertexSource, mesh->FIndexSource)) return;
        auto buffer = MakeOwned<TMeshBufferObject>();
        buffer->Kind = AKind;
        buffer->PushData(TMeshBufferComponent::All, mesh->FVertexSource);
        buffer->PushData(TMeshBufferComponent::Indices, mesh->FIndexSource->Buffer(),
                         static_cast<intptr_t>(mesh->FIndexSource->Size()));
        buffer->StaticBuffer = buffer.get();
        mesh->FBufferObject = std::move(buffer);
    });
}

void TCustomMeshDef::SetIsStatic(bool Value)
{
    TOwned<TMeshBufferObject> freed;
    {
        std::lock_guard<std::recursive_mutex> lock(FWorkToken->Lock);
        if (!Value) {
            freed = std::move(FBufferObject);
            FIsStatic = false;
            ++FStaticGeneration;
        } else {
            if (FIsStatic && FBufferObject) return;
            const TKorvanePrimitivesKind kind = FBufferObject ? FBufferObject->Kind : TKorvanePrimitivesKind::Triangles;
            QueueRelease();
            if (SourcesFilled(FVertexSource, FIndexSource)) {
                FIsStatic = true;
                QueueStaticBuild(kind);
            }
        }
    }
    // Freed outside the lock: freeing synchronises with the main thread, which
    // may be waiting for the lock in queued work.
    freed.reset();
}

void TCustomMeshDef::UpdateMeshBuffer()
{
    TOwned<TMeshBufferObject> freed;
    {
        std::lock_guard<std::recursive_mutex> lock(FWorkToken->Lock);
        const TKorvanePrimitivesKind kind = FBufferObject ? FBufferObject->Kind : TKorvanePrimitivesKind::Triangles;
        freed = std::move(FBufferObject);
        ++FStaticGeneration;
        if (FIsStatic && SourcesFilled(FVertexSource, FIndexSource)) QueueStaticBuild(kind);
    }
    freed.reset();
}

void TCustomMeshDef::RefreshMeshBuffer(bool ASync)
{
    if (!FIsStatic || !FBufferObject || !SourcesFilled(FVertexSource, FIndexSource)) return;
    auto push = [](TCustomMeshDef* mesh) {
        if (!mesh->FBufferObject || !SourcesFilled(mesh->FVertexSource, mesh->FIndexSource)) return;
        mesh->FBufferObject->PushData(TMeshBufferComponent::All, mesh->FVertexSource);
        mesh->FBufferObject->PushData(TMeshBufferComponent::Indices, mesh->FIndexSource->Buffer(),
                                      static_cast<intptr_t>(mesh->FIndexSource->Size()));
    };
    if (!ASync) {
        push(this);
        return;
    }
    std::shared_ptr<TMeshDefWorkToken> token = FWorkToken;
    TThread::Queue([token, push] {
        std::lock_guard<std::recursive_mutex> lock(token->Lock);
        if (token->Mesh) push(token->Mesh);
    });
}

void TCustomMeshDef::LinkMeshBuffer(TMeshBufferObject* ABufferObject, TVertexBuffer* AVertices,
                                    TIndexBuffer* AIndices)
{
    UnlinkMeshBuffer();
    FLinked = true;
    auto buffer = MakeOwned<TMeshBufferObject>();
    if (ABufferObject) buffer->AssignBufferObject(ABufferObject);
    FreeVertexSource();
    FreeIndexSource();
    FVertexSource = AVertices;
    FVertexSourceBorrowed = AVertices != nullptr;
    FIndexSource = AIndices;
    FIndexSourceBorrowed = AIndices != nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(FWorkToken->Lock);
        ++FStaticGeneration;
        FBufferObject = std::move(buffer);
        FIsStatic = true;
    }
}

void TCustomMeshDef::UnlinkMeshBuffer()
{
    if (!FLinked) return;
    if (FBufferObject) {
        FBufferObject->ClearAssignedBufferObject();
        FBufferObject.reset();
    }
    if (FVertexSourceBorrowed) FVertexSource = nullptr, FVertexSourceBorrowed = false;
    if (FIndexSourceBorrowed) FIndexSource = nullptr, FIndexSourceBorrowed = false;
}

// ---- size and JSON ----

int64_t TCustomMeshDef::GetSize() const
{
    int64_t size = TTransformDef::GetSize();
    if (FBufferObject) size += int64_t(sizeof(TMeshBufferObject));
    if (FVertexSource) size += int64_t(sizeof(TVertexBuffer)) + FVertexSource->Size();
    if (FIndexSource) size += int64_t(sizeof(TIndexBuffer)) + int64_t(FIndexSource->Size());
    if (FMaterial) size += int64_t(sizeof(TMaterialRefDef));
    return size;
}

std::unique_ptr<TJSONObject> TCustomMeshDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    obj->AddPair("IsStatic", TJSONBool::Create(FIsStatic));
    // The format that describes the data written below.
    obj->AddPair("VertexFormat", VertexFormatsToString(FVertexSource ? FVertexSource->Format() : FVertexFormat));
    obj->AddPair("VertexCount", std::make_unique<TJSONNumber>(FVertexSource ? FVertexSource->Length() : 0));
    obj->AddPair("VerticesDataType", "Values");
    auto vertices = std::make_unique<TJSONObject>();
    if (FVertexSource) {
        const TVertexBuffer& vb = *FVertexSource;
        int n = 0;
        for (const TAttributeArray& a : AttributeArrays) {
            const bool present = vb.HasFormat(a.Format);
            if (n++ >= WrittenAlwaysCount && !present) continue;
            auto array = std::make_unique<TJSONArray>();
            if (present) {
                array->Reserve(vb.Length() * a.Group);
                for (int32_t i = 0; i < vb.Length(); ++i) {
                    if (!IsFloatArray(a)) {
                        const uint32_t color = vb.Color(ChannelOf(TVertexFormat::Color0, a.Format), i);
                        array->Add(std::make_unique<TJSONNumber>(color));
                        continue;
                    }
                    float v[4];
                    GetFloats(vb, a, i, v);
                    for (int c = 0; c < a.Group; ++c) array->Add(std::make_unique<TJSONNumber>(v[c]));
                }
            }
            vertices->AddPair(a.Key, std::move(array));
        }
    }
    obj->AddPair("Vertices", std::move(vertices));
    obj->AddPair("IndexFormat",
                 std::make_unique<TJSONNumber>(int(FIndexSource ? FIndexSource->IndexFormat() : FIndexFormat)));
    obj->AddPair("IndexCount", std::make_unique<TJSONNumber>(FIndexSource ? FIndexSource->Length() : 0));
    obj->AddPair("IndicesDataType", "Values");
    auto indices = std::make_unique<TJSONArray>();
    if (FIndexSource) indices->Reserve(FIndexSource->Length());
    if (FIndexSource)
        for (int32_t i = 0; i < FIndexSource->Length(); ++i)
            indices->Add(std::make_unique<TJSONNumber>(FIndexSource->Indices(i)));
    obj->AddPair("Indices", std::move(indices));
    auto map = std::make_unique<TJSONObject>();
    if (FVertexIndexMap)
        for (uint32_t key : FVertexIndexMap->SortedKeys()) {
            auto array = std::make_unique<TJSONArray>();
            for (uint32_t index : FVertexIndexMap->Items(key)) array->Add(std::make_unique<TJSONNumber>(index));
            map->AddPair(std::to_string(key), std::move(array));
        }
    obj->AddPair("VertexIndexMap", std::move(map));
    obj->AddPair("FaceOrientation", std::make_unique<TJSONNumber>(int(FFaceOrientation)));
    if (FMaterial) obj->AddPair("Material", FMaterial->Id());
    else obj->AddPair("Material", std::make_unique<TJSONNull>());
    auto instances = std::make_unique<TJSONArray>();
    for (const auto& instance : FInstances) instances->Add(instance->ToJSON());
    obj->AddPair("Instances", std::move(instances));
    return obj;
}

void TCustomMeshDef::ReadVertices(const TJSONObject& AValue, int32_t ACount)
{
    const TVertexFormats format = FVertexFormat;
    const int vertexSize = GetVertexSize(format);
    const bool perValue = JSONGetString(AValue, "VerticesDataType", "") == "Values";
    const TJSONValue* data = AValue.GetValue("Vertices");
    const int64_t expectedBytes = int64_t(ACount) * vertexSize;

    if (!perValue) {
        const std::vector<uint8_t> bytes = StringToByteArray(JSONGetText(AValue, "Vertices", ""));
        if (int64_t(bytes.size()) != expectedBytes)
            throw Exception(Format("invalid json data for \"Vertices\" - %d bytes given for %d vertices of %d bytes",
                                   int64_t(bytes.size()), ACount, vertexSize));
        auto buffer = TOwned<TVertexBuffer>(new TVertexBuffer(format, ACount));
        if (!bytes.empty()) std::memcpy(buffer->Buffer(), bytes.data(), bytes.size());
        // Every float must be a number that the writer can write back.
        for (const TAttributeArray& a : AttributeArrays) {
            if (!IsFloatArray(a) || !buffer->HasFormat(a.Format)) continue;
            for (int32_t i = 0; i < ACount; ++i) {
                float v[4];
                GetFloats(*buffer, a, i, v);
                for (int c = 0; c < a.Group; ++c)
                    if (!std::isfinite(v[c]))
                        throw Exception(Format("invalid json data for \"Vertices\" - vertex %d holds a value that is "
                                               "not a finite number",
                                               i));
            }
        }
        FreeVertexSource();
        FVertexSource = buffer.release();
        return;
    }

    const auto* object = data ? data->TryAs<TJSONObject>() : nullptr;
    if (!object) throw Exception("invalid json data type for \"Vertices\"");
    const auto arrays = AttributeArraysOf(*object);
    // Every array agrees with the count before anything is allocated.
    bool anyData = false;
    for (size_t k = 0; k < AttributeArrayCount; ++k) {
        const TAttributeArray& a = AttributeArrays[k];
        const TJSONArray* array = arrays[k];
        if (!array || array->Count() == 0 || !format.Contains(a.Format)) continue;
        if (int64_t(array->Count()) != int64_t(ACount) * a.Group)
            throw Exception(Format("invalid json data for \"%s\" - %d values given for %d vertices", a.Key,
                                   array->Count(), ACount));
        anyData = true;
    }
    if (!anyData && expectedBytes > 0)
        throw Exception(Format("invalid json data for \"Vertices\" - no values given for %d vertices", ACount));

    auto buffer = TOwned<TVertexBuffer>(new TVertexBuffer(format, ACount));
    for (size_t k = 0; k < AttributeArrayCount; ++k) {
        const TAttributeArray& a = AttributeArrays[k];
        const TJSONArray* array = arrays[k];
        if (!array || array->Count() == 0 || !format.Contains(a.Format)) continue;
        switch (a.Group) {
        case 2: ReadFloatArray<2>(*array, a.Key, *buffer, a.Format); continue;
        case 3: ReadFloatArray<3>(*array, a.Key, *buffer, a.Format); continue;
        case 4: ReadFloatArray<4>(*array, a.Key, *buffer, a.Format); continue;
        default: break;
        }
        for (int32_t i = 0; i < ACount; ++i) {
            const double color = NumberOf(array->Items(i), a.Key);
            if (!(color >= 0 && color <= 4294967295.0) || color != std::floor(color))
                throw Exception(Format("invalid colour in \"%s\" at vertex %d", a.Key, i));
            buffer->SetColor(ChannelOf(TVertexFormat::Color0, a.Format), i, TAlphaColor(static_cast<uint32_t>(color)));
        }
    }
    FreeVertexSource();
    FVertexSource = buffer.release();
}

void TCustomMeshDef::ReadIndices(const TJSONObject& AValue, TIndexFormat AFormat, int64_t AVertexLimit)
{
    const int32_t count = JSONGetInteger(AValue, "IndexCount", 0);
    if (count <= 0) return;
    const bool perValue = JSONGetString(AValue, "IndicesDataType", "") == "Values";
    auto buffer = std::make_unique<TIndexBuffer>(0, AFormat);
    const int64_t limit = AFormat == TIndexFormat::UInt16 && (AVertexLimit < 0 || AVertexLimit > 65536) ? 65536
                                                                                                        : AVertexLimit;
    if (perValue) {
        const TJSONValue* data = AValue.GetValue("Indices");
        const auto* array = data ? data->TryAs<TJSONArray>() : nullptr;
        if (!array) throw Exception("invalid json data type for \"Indices\"");
        if (array->Count() != count)
            throw Exception(
                Format("invalid json data for \"Indices\" - %d values given for %d indices", array->Count(), count));
        buffer->SetLength(count);
        // Every value is below the limit, which for 16-bit indices is 2^16 at most.
        uint8_t* out = buffer->Buffer();
        const TJSONElement* item = array->begin();
        if (AFormat == TIndexFormat::UInt16)
            for (int32_t i = 0; i < count; ++i, ++item, out += 2) {
                const uint16_t index = uint16_t(IndexValue(IndexNumberOf(item->get(), "Indices"), limit, "Indices"));
                std::memcpy(out, &index, 2);
            }
        else
            for (int32_t i = 0; i < count; ++i, ++item, out += 4) {
                const uint32_t index = IndexValue(IndexNumberOf(item->get(), "Indices"), limit, "Indices");
                std::memcpy(out, &index, 4);
            }
    } else {
        const std::vector<uint8_t> bytes = StringToByteArray(JSONGetText(AValue, "Indices", ""));
        const int64_t expected = int64_t(count) * (AFormat == TIndexFormat::UInt16 ? 2 : 4);
        if (int64_t(bytes.size()) != expected)
            throw Exception(Format("invalid json data for \"Indices\" - %d bytes given for %d indices",
                                   int64_t(bytes.size()), count));
        buffer->SetLength(count);
        std::memcpy(buffer->Buffer(), bytes.data(), bytes.size());
        for (int32_t i = 0; i < count; ++i) IndexValue(buffer->Indices(i), limit, "Indices");
    }
    FreeIndexSource();
    FIndexFormat = AFormat;
    FIndexSource = buffer.release();
}

void TCustomMeshDef::ReadVertexIndexMap(const TJSONObject& AValue, int64_t AVertexCount)
{
    const TJSONValue* data = AValue.GetValue("VertexIndexMap");
    const auto* object = data ? data->TryAs<TJSONObject>() : nullptr;
    if (!object) return;
    if (!FVertexIndexMap) FVertexIndexMap = std::make_unique<TVertexIndexMap>();
    for (const auto& pair : *object) {
        const std::string_view name = pair.Name();
        int64_t key = -1;
        if (!name.empty() && name.size() <= 10 && name.find_first_not_of("0123456789") == std::string_view::npos)
            key = std::stoll(std::string(name));
        if (key < 0 || key > int64_t(UINT32_MAX))
            throw Exception(
                Format("unexpected value in VertexIndexMap - ordinal values expected, but \"%s\" found", name));
        const auto* array = pair.JsonValue()->TryAs<TJSONArray>();
        if (!array) throw Exception(Format("invalid json data type in \"VertexIndexMap\" for \"%s\"", name));
        TVertexIndexMap::TIndices indices;
        indices.reserve(size_t(array->Count()));
        for (const auto& element : *array)
            indices.push_back(
                IndexValue(IndexNumberOf(element.get(), "VertexIndexMap"), AVertexCount, "VertexIndexMap"));
        FVertexIndexMap->Add(static_cast<uint32_t>(key), std::move(indices));
    }
}

void TCustomMeshDef::ReadMaterial(TModelDef* AModel, const TJSONObject& AValue)
{
    const TJSONValue* data = AValue.GetValue("Material");
    if (!data || data->Kind() != TJSONValue::TKind::String) return;
    auto ref = MakeOwned<TMaterialRefDef>();
    ref->SetId(data->Value());
    const auto& services = ModelDefServices();
    if (AModel && services.FindMaterialById) ref->SetReference(services.FindMaterialById(AModel, ref->Id()));
    TMaterialRefDef* added = ref.get();
    FMaterial = std::move(ref);
    // Without a model nothing can resolve it; the Id is kept.
    if (!added->Reference() && AModel && services.AddLateResolve) services.AddLateResolve(AModel, added, AValue);
}

void TCustomMeshDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    FVertexFormat = StringToVertexFormats(JSONGetString(AValue, "VertexFormat", ""));
    const int32_t vertexCount = JSONGetInteger(AValue, "VertexCount", 0);
    if (vertexCount > 0) {
        ReadVertices(AValue, vertexCount);
        const auto format = TIndexFormat(EnumValue(JSONGetInteger(AValue, "IndexFormat", 0), 1, "IndexFormat"));
        FIndexFormat = format;
        if (JSONGetInteger(AValue, "IndexCount", 0) > 0) {
            ReadIndices(AValue, format, vertexCount);
            ReadVertexIndexMap(AValue, vertexCount);
        }
    }
    FFaceOrientation = TFaceOrientation(EnumValue(JSONGetInteger(AValue, "FaceOrientation", 0), 2, "FaceOrientation"));
    ReadMaterial(AModel, AValue);
    const TJSONValue* data = AValue.GetValue("Instances");
    if (const auto* array = data ? data->TryAs<TJSONArray>() : nullptr)
        for (const auto& element : *array) {
            const auto* object = element->TryAs<TJSONObject>();
            if (!object) continue;
            auto instance = MakeOwned<TMeshInstanceDef>(this);
            instance->FromJSON(AModel, *object);
            AddInstance(std::move(instance));
        }
    FBoundingBoxStale = true;
}

// ---- TMeshDef ----

TClass TMeshDef::StaticClass()
{
    static const TTransformDefClassInfo<TMeshDef> info;
    return &info;
}

TMeshDef::TMeshDef(TCustomDef* AOwner) : TCustomMeshDef(AOwner) { FBoundingBoxStale = true; }

TMeshDef::~TMeshDef() { ReleaseBVH(); }

void TMeshDef::BeforeDestruction()
{
    ReleaseBVH();
    TCustomMeshDef::BeforeDestruction();
}

void TMeshDef::UpdateRenderByVertexGroups()
{
    FRenderByVertexGroups = false;
    if (!Children()) return;
    for (TTransformDef* child : *Children())
        if (dynamic_cast<TVertexGroupDef*>(child)) FRenderByVertexGroups = true;
}

void TMeshDef::AddMesh(TMeshDef* AMesh)
{
    TCustomMeshDef::AddMesh(AMesh);
    UpdateRenderByVertexGroups();
}

void TMeshDef::RemoveMesh(TMeshDef* AMesh)
{
    RemoveChild(AMesh);
    UpdateRenderByVertexGroups();
}

TMeshDef* TMeshDef::FindMeshById(const std::string& AName, bool AThrowException)
{
    TTransformDef* found = FindChildById(AName, AThrowException);
    if (!found) return nullptr;
    if (auto* mesh = dynamic_cast<TMeshDef*>(found)) return mesh;
    if (AThrowException) throw Exception(Format("transform with id \"%s\" found, but not a mesh node", AName));
    return nullptr;
}

void TMeshDef::SetIsStatic(bool Value)
{
    TCustomMeshDef::SetIsStatic(Value);
    ForEachChildMesh([&](TMeshDef* child) { child->SetIsStatic(Value); });
}

TBoundingBox TMeshDef::GetCombinedBoundingBox()
{
    const auto isEmpty = [](const TBoundingBox& b) {
        return b.Left > b.Right || b.Top > b.Bottom || b.Near > b.Far || std::fabs(b.Right - b.Left) <= 0.0001f ||
               std::fabs(b.Bottom - b.Top) <= 0.0001f || std::fabs(b.Far - b.Near) <= 0.0001f;
    };
    TBoundingBox box = GetBoundingBox();
    ForEachChildMesh([&](TMeshDef* child) {
        const TBoundingBox childBox = child->GetCombinedBoundingBox();
        box = isEmpty(box) ? childBox : box.Union(childBox);
    });
    return box;
}

int64_t TMeshDef::GetSize() const
{
    int64_t size = TCustomMeshDef::GetSize();
    if (Children())
        for (const TTransformDef* child : *Children()) size += int64_t(sizeof(TTransformDefList)) + child->GetSize();
    return size;
}

void TMeshDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomMeshDef::FromJSON(AModel, AValue);
    const TJSONValue* data = AValue.GetValue("Meshes");
    if (const auto* array = data ? data->TryAs<TJSONArray>() : nullptr)
        for (const auto& element : *array) {
            const auto* childJSON = element->TryAs<TJSONObject>();
            if (!childJSON) throw EInvalidCast();
            const TTransformDefMetaClass& childClass = TransformDefChildClass(JSONGetString(*childJSON, "Type", ""));
            TOwned<TTransformDef> child(childClass.CreateDef(this));
            child->FromJSON(AModel, *childJSON);
            AddChild(child.release());
        }
    // Vertex groups index their owner's vertices, which are read only now.
    const int64_t vertices = FVertexSource ? FVertexSource->Length() : 0;
    ForEachChildMesh([&](TMeshDef* child) {
        if (!dynamic_cast<TVertexGroupDef*>(child) || !child->IndexSource()) return;
        const TIndexBuffer& indices = *child->IndexSource();
        for (int32_t i = 0; i < indices.Length(); ++i)
            if (int64_t(indices.Indices(i)) >= vertices)
                throw Exception(Format("invalid index in \"Indices\" of vertex group \"%s\": %u is outside the %d "
                                       "vertices of its owner",
                                       child->Id(), indices.Indices(i), vertices));
    });
    UpdateRenderByVertexGroups();
}

// ---- TVertexGroupDef ----

TClass TVertexGroupDef::StaticClass()
{
    static const TTransformDefClassInfo<TVertexGroupDef> info;
    return &info;
}

TVertexGroupDef::TVertexGroupDef(TCustomDef* AOwner) : TMeshDef(AOwner)
{
    const auto* owner = dynamic_cast<TMeshDef*>(AOwner);
    CreateIndexSource(owner ? owner->IndexFormat() : TIndexFormat::UInt32);
}

TVertexBuffer* TVertexGroupDef::GetVertexSource() const
{
    const auto* owner = dynamic_cast<TMeshDef*>(GetOwnerRef());
    return owner ? owner->GetVertexSource() : nullptr;
}

void TVertexGroupDef::ApplyToMeshData(TMeshData* AData)
{
    if (AData && IndexSource()) AData->IndexBuffer().Assign(*IndexSource());
}

void TVertexGroupDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TMeshDef::FromJSON(AModel, AValue);
    const auto format = TIndexFormat(EnumValue(JSONGetInteger(AValue, "IndexFormat", 0), 1, "IndexFormat"));
    FIndexFormat = format;
    // The owner's vertices are not read yet: the owner checks the index values.
    if (JSONGetInteger(AValue, "IndexCount", 0) > 0 && JSONHasKey(AValue, "Indices")) ReadIndices(AValue, format, -1);
}

} // namespace korvane
