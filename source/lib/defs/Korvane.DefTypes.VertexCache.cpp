#include "Korvane.DefTypes.VertexCache.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <zlib.h>

#include "Korvane.DefTypes.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.DefTypes.Utils.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

// The index of the entry just appended to a list.
template <typename T>
int LastIndex(const std::vector<T>& AList)
{
    return static_cast<int>(AList.size()) - 1;
}

void RequireValues(const std::vector<float>& ASource, size_t ACount, const char* AWhat)
{
    if (ASource.size() < ACount)
        throw EArgumentException(Format("%s source needs %d values, %d given", AWhat, int(ACount), int(ASource.size())));
}

// Entry AIndex of a non-empty list; beyond it the list's range error.
template <typename T>
const T& ListItem(const std::vector<T>& AList, int32_t AIndex)
{
    if (AIndex < 0 || static_cast<size_t>(AIndex) >= AList.size())
        throw EListError(Format("List index out of bounds (%d)", AIndex));
    return AList[static_cast<size_t>(AIndex)];
}

std::vector<TPoint3D> Triples(const std::vector<float>& ASource)
{
    std::vector<TPoint3D> out;
    out.reserve(ASource.size() / 3);
    for (size_t i = 0; i + 2 < ASource.size(); i += 3) out.emplace_back(ASource[i], ASource[i + 1], ASource[i + 2]);
    return out;
}

bool Near(float A, float B, double ATolerance) { return std::fabs(double(A) - double(B)) <= ATolerance; }

bool NearPoint(const TPoint3D& A, const TPoint3D& B)
{
    return Near(A.X, B.X, 0.0001) && Near(A.Y, B.Y, 0.0001) && Near(A.Z, B.Z, 0.0001);
}

// Texture coordinates compare relative to the smaller magnitude.
bool NearRelative(float A, float B)
{
    double e = std::min(std::fabs(double(A)), std::fabs(double(B))) * 1.25e-6;
    if (e == 0) e = 6.25e-37;
    return std::fabs(double(A) - double(B)) <= e;
}

void PutFloats(uint8_t*& APos, std::initializer_list<float> AValues)
{
    for (float v : AValues) {
        std::memcpy(APos, &v, 4);
        APos += 4;
    }
}

TPoint3D RequiredVector(const TJSONObject& AValue, const char* AKey, const char* AWhat)
{
    const TJSONValue* v = AValue.GetValue(AKey);
    if (!v) throw Exception(Format("failed to load vertexdata from json - %s not found", AWhat));
    return StringToPoint3D(v->Value());
}

} // namespace

// ---- TVertexData ----

std::unique_ptr<TJSONObject> TVertexData::ToJSON() const
{
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Position", Point3DToString(Position));
    obj->AddPair("Normal", Point3DToString(Normal));
    obj->AddPair("Binormal", Point3DToString(Binormal));
    obj->AddPair("Tangent", Point3DToString(Tangent));
    if (!TexCoords.empty()) {
        auto array = std::make_unique<TJSONArray>();
        for (const TPointF& t : TexCoords) array->Add(PointFToString(t));
        obj->AddPair("TexCoords", std::move(array));
    }
    if (!Colors.empty()) {
        auto array = std::make_unique<TJSONArray>();
        for (const TAlphaColorF& c : Colors) array->Add(AlphaColorFToString(c));
        obj->AddPair("Colors", std::move(array));
    }
    obj->AddPair("SmoothGroup", std::make_unique<TJSONNumber>(SmoothGroup));
    return obj;
}

void TVertexData::FromJSON(const TJSONObject& AValue)
{
    Position = RequiredVector(AValue, "Position", "position");
    Normal = RequiredVector(AValue, "Normal", "normal");
    Binormal = RequiredVector(AValue, "Binormal", "binormal");
    Tangent = RequiredVector(AValue, "Tangent", "tangent");

    TexCoords.clear();
    if (const auto* array = TCustomDef::JSONHasKeyOfClass<TJSONArray>(AValue, "TexCoords")
                                ? &AValue.GetValue("TexCoords")->As<TJSONArray>()
                                : nullptr) {
        TexCoords.reserve(static_cast<size_t>(array->Count()));
        for (const auto& item : *array) TexCoords.push_back(StringToPointF(item->Value()));
    }
    Colors.clear();
    if (const auto* array = TCustomDef::JSONHasKeyOfClass<TJSONArray>(AValue, "Colors")
                                ? &AValue.GetValue("Colors")->As<TJSONArray>()
                                : nullptr) {
        Colors.reserve(static_cast<size_t>(array->Count()));
        for (const auto& item : *array) Colors.push_back(StringToAlphaColorF(item->Value()));
    }

    const TJSONValue* smooth = AValue.GetValue("SmoothGroup");
    if (!smooth) throw Exception("failed to load vertexdata from json - smoothgroup not found");
    if (smooth->Kind() != TJSONValue::TKind::Number)
        throw Exception("failed to load vertexdata from json - smoothgroup contains invalid value");
    SmoothGroup = TCustomDef::JSONGetInteger(AValue, "SmoothGroup", 0);
}

uint64_t TVertexData::GetHash() const
{
    uint8_t buffer[104] = {};
    uint8_t* pos = buffer;
    for (const TPoint3D* p : {&Position, &Normal, &Binormal, &Tangent}) PutFloats(pos, {p->X, p->Y, p->Z});
    for (size_t i = 0; i < std::min<size_t>(2, TexCoords.size()); ++i) PutFloats(pos, {TexCoords[i].X, TexCoords[i].Y});
    for (size_t i = 0; i < std::min<size_t>(2, Colors.size()); ++i)
        PutFloats(pos, {Colors[i].R, Colors[i].G, Colors[i].B, Colors[i].A});
    std::memcpy(pos, &SmoothGroup, 4);
    pos += 4;
    const uint32_t flags = static_cast<uint32_t>(Flags.Bits() & 0xFFu);
    std::memcpy(pos, &flags, 4);
    return crc32(0, buffer, sizeof(buffer));
}

bool TVertexData::Equals(const TVertexData& V) const
{
    if (!NearPoint(Position, V.Position) || !NearPoint(Normal, V.Normal) || !NearPoint(Binormal, V.Binormal) ||
        !NearPoint(Tangent, V.Tangent))
        return false;
    if (SmoothGroup != V.SmoothGroup || Flags != V.Flags) return false;
    if (TexCoords.size() != V.TexCoords.size() || Colors.size() != V.Colors.size()) return false;
    for (size_t i = 0; i < TexCoords.size(); ++i)
        if (!NearRelative(TexCoords[i].X, V.TexCoords[i].X) || !NearRelative(TexCoords[i].Y, V.TexCoords[i].Y))
            return false;
    constexpr double colorTolerance = 1.5259e-05;
    for (size_t i = 0; i < Colors.size(); ++i) {
        const TAlphaColorF &a = Colors[i], &b = V.Colors[i];
        if (!Near(a.R, b.R, colorTolerance) || !Near(a.G, b.G, colorTolerance) || !Near(a.B, b.B, colorTolerance) ||
            !Near(a.A, b.A, colorTolerance))
            return false;
    }
    return true;
}

// ---- TVertexID ----

uint64_t TVertexID::GetHash() const
{
    std::string key = Format("%d;%d;%d;%d;%d;", Position, Normal, Binormal, Tangent, SmoothGroup);
    const int textures = std::clamp<int>(Textures.Count, 0, int(Textures.Indices.size()));
    for (int i = 0; i < textures; ++i) key += std::to_string(Textures.Indices[size_t(i)]) + ';';
    const int colors = std::clamp<int>(Colors.Count, 0, int(Colors.Indices.size()));
    for (int i = 0; i < colors; ++i) key += std::to_string(Colors.Indices[size_t(i)]) + ';';
    uint64_t h = 0;
    for (unsigned char c : key) {
        uint64_t code = c;
        if (c >= 'A' && c <= 'Z') code |= 0x20;
        h ^= code;
        h = (h >> 27) | (h << 5);
    }
    return h;
}

// ---- TVertexIndexMap ----

void TVertexIndexMap::Add(uint32_t AKey, TIndices AValue)
{
    if (!FItems.emplace(AKey, std::move(AValue)).second) throw EListError("Duplicates not allowed");
}

const TVertexIndexMap::TIndices& TVertexIndexMap::Items(uint32_t AKey) const
{
    const TIndices* found = Find(AKey);
    if (!found) throw EListError("Item not found");
    return *found;
}

const TVertexIndexMap::TIndices* TVertexIndexMap::Find(uint32_t AKey) const
{
    const auto it = FItems.find(AKey);
    return it == FItems.end() ? nullptr : &it->second;
}

void TVertexIndexMap::AddIndex(uint32_t AOriginal, uint32_t ACurrent)
{
    TIndices& indices = FItems[AOriginal];
    if (std::find(indices.begin(), indices.end(), ACurrent) == indices.end()) indices.push_back(ACurrent);
}

void TVertexIndexMap::Assign(const TVertexIndexMap* AMap)
{
    if (AMap == this) return;
    FItems.clear();
    if (AMap) FItems = AMap->FItems;
}

std::vector<uint32_t> TVertexIndexMap::SortedKeys() const
{
    std::vector<uint32_t> keys;
    keys.reserve(FItems.size());
    for (const auto& entry : FItems) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// ---- TVertexCache ----

KORVANE_IMPLEMENT_CLASS(TVertexCache, DefTypesUnitName)

TVertexCache::TVertexCache(uint32_t ADefaultCapacity)
{
    for (auto* list : {&PositionSource, &NormalSource, &BinormalSource, &TangentSource}) list->reserve(ADefaultCapacity);
    for (auto& list : FTextureSources) list.reserve(ADefaultCapacity);
    for (auto& list : FColorSources) list.reserve(ADefaultCapacity);
    IndexMap.Reserve(ADefaultCapacity);
    Vertices.reserve(ADefaultCapacity);
    Indices.reserve(ADefaultCapacity);
    PointIndices.reserve(ADefaultCapacity);
}

void TVertexCache::ClearBuffers()
{
    NormalsAvailable = TangentsAvailable = BinormalsAvailable = TexCoordsAvailable = TexCoordsST = false;
    for (auto* list : {&PositionSource, &NormalSource, &BinormalSource, &TangentSource}) list->clear();
    for (auto& list : FTextureSources) list.clear();
    for (auto& list : FColorSources) list.clear();
    ClearMaps();
}

void TVertexCache::ClearAll()
{
    ClearBuffers();
    Vertices.clear();
    Indices.clear();
}

void TVertexCache::ClearMaps()
{
    IndexMap.Clear();
    FBuckets.clear();
}

void TVertexCache::ClearVirtualData()
{
    ClearMaps();
    NormalsAvailable = TangentsAvailable = BinormalsAvailable = TexCoordsAvailable = TexCoordsST = false;
    Vertices.clear();
    Indices.clear();
}

void TVertexCache::DoOnCreateSubMesh(TMeshDef*, TMeshDef*) {}

TMaterialDef* TVertexCache::DoOnCreateDefaultMaterial(TMeshDef*) { return nullptr; }

TMaterialRefDef* TVertexCache::DoOnCreateMaterialRef(TMeshDef* AMesh, TMaterialDef* AMaterial)
{
    return AMesh && AMaterial ? AMesh->Material() : nullptr;
}

std::vector<TPointF>& TVertexCache::TextureList(int AIndex)
{
    if (auto* list = GetTextureSourceArray(AIndex)) return *list;
    throw EArgumentException(Format("texture channel %d out of range", AIndex));
}

std::vector<TAlphaColorF>& TVertexCache::ColorList(int AIndex)
{
    if (auto* list = GetColorSourceArray(AIndex)) return *list;
    throw EArgumentException(Format("colour channel %d out of range", AIndex));
}

std::vector<TPointF>* TVertexCache::GetTextureSourceArray(int AIndex)
{
    if (AIndex < 0 || AIndex >= TextureChannels) return nullptr;
    return &FTextureSources[size_t(AIndex)];
}

std::vector<TAlphaColorF>* TVertexCache::GetColorSourceArray(int AIndex)
{
    if (AIndex < 0 || AIndex >= ColorChannels) return nullptr;
    return &FColorSources[size_t(AIndex)];
}

TVertexData TVertexCache::GetVertex(const TVertexID& AVertex) const
{
    if (AVertex.Position < 0 || static_cast<size_t>(AVertex.Position) >= PositionSource.size())
        throw Exception(Format("invalid index for vertex position coordinate: %d < %d", AVertex.Position,
                               int(PositionSource.size())));
    TVertexData v;
    v.Position = PositionSource[size_t(AVertex.Position)];
    v.SmoothGroup = AVertex.SmoothGroup;

    const int textures = std::clamp<int>(AVertex.Textures.Count, 0, TextureChannels);
    if (textures < 1) v.Flags.Include(TVertexDataFlag::CalcTexCoords);
    v.TexCoords.resize(size_t(textures));
    for (int i = 0; i < textures; ++i) {
        const int32_t index = AVertex.Textures.Indices[size_t(i)];
        const auto& list = FTextureSources[size_t(i)];
        if (index >= 0 && static_cast<size_t>(index) < list.size()) v.TexCoords[size_t(i)] = list[size_t(index)];
    }

    if (AVertex.Normal < 0 || static_cast<size_t>(AVertex.Normal) >= NormalSource.size())
        v.Flags.Include(TVertexDataFlag::CalcNormals);
    else
        v.Normal = NormalSource[size_t(AVertex.Normal)];

    if (AVertex.Binormal >= 0 && !BinormalSource.empty()) v.Binormal = ListItem(BinormalSource, AVertex.Binormal);

    if (AVertex.Tangent < 0 || TangentSource.empty())
        v.Flags.Include(TVertexDataFlag::CalcTangents);
    else
        v.Tangent = ListItem(TangentSource, AVertex.Tangent);

    const int colors = std::clamp<int>(AVertex.Colors.Count, 0, ColorChannels);
    v.Colors.assign(size_t(colors), TAlphaColorF(0, 0, 0, 1));
    for (int i = 0; i < colors; ++i) {
        const int32_t index = AVertex.Colors.Indices[size_t(i)];
        const auto& list = FColorSources[size_t(i)];
        if (index >= 0 && static_cast<size_t>(index) < list.size()) v.Colors[size_t(i)] = list[size_t(index)];
    }
    return v;
}

uint32_t TVertexCache::AddUniqueVertex(const TVertexData& AVertex, std::vector<TVertexData>& AVertices)
{
    std::vector<int32_t>& bucket = FBuckets[AVertex.GetHash()];
    for (int32_t index : bucket)
        if (index >= 0 && static_cast<size_t>(index) < AVertices.size() && AVertices[size_t(index)].Equals(AVertex))
            return static_cast<uint32_t>(index);
    AVertices.push_back(AVertex);
    const auto index = static_cast<int32_t>(AVertices.size() - 1);
    bucket.push_back(index);
    return static_cast<uint32_t>(index);
}

int TVertexCache::AddTriangle(int AIndexOffset, const TTriangleID& ATriangle, std::vector<TVertexData>& AVertices,
                              std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder)
{
    static constexpr int CWOrder[3] = {1, 2, 0};
    static constexpr int CCWOrder[3] = {0, 2, 1};
    const int* order = AVertexOrder == TVertexOrder::CW ? CWOrder : CCWOrder;
    TTriangleIndex triangle{};
    for (int k = 0; k < 3; ++k) triangle[size_t(k)] = AddUniqueVertex(GetVertex(ATriangle[size_t(order[k])]), AVertices);
    AIndices.push_back(triangle);
    for (int k = 0; k < 3; ++k)
        IndexMap.AddIndex(static_cast<uint32_t>(ATriangle[size_t(order[k])].Position), triangle[size_t(k)]);
    return AIndexOffset + 3;
}

int TVertexCache::AddPolygon(int AIndexOffset, const TPolygonID& APolygon, std::vector<TVertexData>& AVertices,
                             std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder)
{
    const size_t n = APolygon.size();
    if (n < 3) return AIndexOffset;
    if (n == 3) return AddTriangle(AIndexOffset, {APolygon[0], APolygon[1], APolygon[2]}, AVertices, AIndices,
                                   AVertexOrder);
    int offset = AIndexOffset;
    for (size_t i = 1; i + 1 < n; ++i) {
        // The fan triangle (corner 0, corner i, corner i + 1) as AddTriangle
        // orders corners: CW gives (i, i + 1, 0), CCW (0, i + 1, i).
        offset = AddTriangle(offset, {APolygon[0], APolygon[i], APolygon[i + 1]}, AVertices, AIndices, AVertexOrder);
    }
    return offset;
}

int TVertexCache::AddPoints(int AIndexOffset, std::vector<TVertexData>& AVertices, std::vector<uint32_t>& AIndices)
{
    int last = 0;
    for (int i = std::max(AIndexOffset, 0); static_cast<size_t>(i) < PositionSource.size(); ++i) {
        TVertexData v;
        v.Position = PositionSource[size_t(i)];
        v.Normal = ListItem(NormalSource, i);
        v.TexCoords.push_back(ListItem(FTextureSources[0], i));
        v.Colors.push_back(ListItem(FColorSources[0], i));
        AVertices.push_back(std::move(v));
        last = static_cast<int>(AVertices.size() - 1);
        AIndices.push_back(static_cast<uint32_t>(last));
    }
    return last;
}

void TVertexCache::SetPositionSource(const std::vector<float>& ASource) { PositionSource = Triples(ASource); }

void TVertexCache::SetNormalSource(const std::vector<float>& ASource) { NormalSource = Triples(ASource); }

void TVertexCache::SetNormalSource(const std::vector<float>& ASource, const TMatrix3D& ATransform)
{
    NormalSource = Triples(ASource);
    for (TPoint3D& n : NormalSource) n = n.TransformDirection(ATransform).Normalize();
}

void TVertexCache::SetBiNormalSource(const std::vector<float>& ASource) { BinormalSource = Triples(ASource); }

void TVertexCache::SetTangentSource(const std::vector<float>& ASource) { TangentSource = Triples(ASource); }

void TVertexCache::SetTextureSource(int AIndex, const std::vector<float>& ASource, bool AConvertToUV, int AStride)
{
    if (AStride < 2) throw EArgumentException(Format("texture source stride %d is below 2", AStride));
    auto& list = TextureList(AIndex);
    list.clear();
    const size_t stride = size_t(AStride);
    const size_t count = ASource.size() / stride;
    list.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        const float u = ASource[k * stride], v = ASource[k * stride + 1];
        list.emplace_back(u, AConvertToUV ? 1.0f - v : v);
    }
}

void TVertexCache::SetColorSource(int AIndex, const std::vector<float>& ASource)
{
    auto& list = ColorList(AIndex);
    list.clear();
    list.reserve(ASource.size() / 4);
    for (size_t i = 0; i + 3 < ASource.size(); i += 4)
        list.emplace_back(ASource[i], ASource[i + 1], ASource[i + 2], ASource[i + 3]);
}

int TVertexCache::AddPositionSource(const std::vector<float>& ASource)
{
    RequireValues(ASource, 3, "position");
    return AddPositionSource(TPoint3D(ASource[0], ASource[1], ASource[2]));
}

int TVertexCache::AddPositionSource(const TPoint3D& ASource)
{
    PositionSource.push_back(ASource);
    return LastIndex(PositionSource);
}

int TVertexCache::AddNormalSource(const std::vector<float>& ASource)
{
    RequireValues(ASource, 3, "normal");
    return AddNormalSource(TPoint3D(ASource[0], ASource[1], ASource[2]));
}

int TVertexCache::AddNormalSource(const TPoint3D& ASource)
{
    NormalSource.push_back(ASource);
    return LastIndex(NormalSource);
}

int TVertexCache::AddBinormalSource(const std::vector<float>& ASource)
{
    RequireValues(ASource, 3, "binormal");
    return AddBinormalSource(TPoint3D(ASource[0], ASource[1], ASource[2]));
}

int TVertexCache::AddBinormalSource(const TPoint3D& ASource)
{
    BinormalSource.push_back(ASource);
    return LastIndex(BinormalSource);
}

int TVertexCache::AddTangentSource(const std::vector<float>& ASource)
{
    RequireValues(ASource, 3, "tangent");
    return AddTangentSource(TPoint3D(ASource[0], ASource[1], ASource[2]));
}

int TVertexCache::AddTangentSource(const TPoint3D& ASource)
{
    TangentSource.push_back(ASource);
    return LastIndex(TangentSource);
}

int TVertexCache::AddTangentSource(const std::vector<TVector3D>& ASource)
{
    int last = -1;
    for (const TVector3D& v : ASource) last = AddTangentSource(TPoint3D(v.X, v.Y, v.Z));
    return last;
}

int TVertexCache::AddTextureSource(int AIndex, const std::vector<float>& ASource, bool AConvertToUV)
{
    RequireValues(ASource, 2, "texture");
    return AddTextureSource(AIndex, TPointF(ASource[0], ASource[1]), AConvertToUV);
}

int TVertexCache::AddTextureSource(int AIndex, const TPointF& ASource, bool AConvertToUV)
{
    auto& list = TextureList(AIndex);
    list.emplace_back(ASource.X, AConvertToUV ? 1.0f - ASource.Y : ASource.Y);
    return LastIndex(list);
}

int TVertexCache::AddColorSource(int AIndex, const std::vector<float>& ASource)
{
    RequireValues(ASource, 4, "colour");
    return AddColorSource(AIndex, TAlphaColorF(ASource[0], ASource[1], ASource[2], ASource[3]));
}

int TVertexCache::AddColorSource(int AIndex, const TAlphaColorF& ASource)
{
    auto& list = ColorList(AIndex);
    list.push_back(ASource);
    return LastIndex(list);
}

} // namespace korvane
