#pragma once
// Resolved vertices and the de-duplicating mesh builder that model loaders fill.
//
// TVertexData is one fully resolved vertex; TVertexID is a vertex as an
// indexed model file describes it (one index per attribute list). A loader
// puts a file's attribute arrays into a TVertexCache, feeds faces as
// triangles, polygons or runs of points, and takes back the unique vertices
// and the index triples (or point indices). TVertexIndexMap records, for every
// source position index, the unique vertices that were made from it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.ClassRegistry.h"
#include "Platform.JSON.h"
#include "Platform.Math3D.h"

namespace korvane {

class TMeshDef;
class TMaterialDef;
class TMaterialRefDef;

enum class TVertexDataFlag : uint8_t { CalcNormals, CalcTangents, CalcTexCoords };
using TVertexDataFlags = TSet<TVertexDataFlag>;

struct TVertexData {
    TPoint3D Position;
    TPoint3D Normal;
    TPoint3D Binormal;
    TPoint3D Tangent;
    std::vector<TPointF> TexCoords;
    std::vector<TAlphaColorF> Colors;
    int32_t SmoothGroup = 0;
    TVertexDataFlags Flags;

    // Every field zero: zero vectors, no channels, smoothing group 0, no flags.
    static TVertexData Create() { return {}; }

    // "Position", "Normal", "Binormal", "Tangent" as vector texts, "TexCoords"
    // and "Colors" (only when there is a channel) as arrays of texts, and
    // "SmoothGroup"; the flags are not part of the form.
    std::unique_ptr<TJSONObject> ToJSON() const;
    // Fields read before a failure keep their new values.
    void FromJSON(const TJSONObject& AValue);

    // CRC-32 over a 104-byte image: the four vectors, the first two texture
    // coordinates and colours, the smoothing group and the flag byte.
    uint64_t GetHash() const;
    // The same vertex within tolerances: 1E-4 per vector component, a relative
    // 1.25E-6 per texture coordinate component, 1.5259E-5 per colour channel;
    // smoothing group, flags and channel counts exactly.
    bool Equals(const TVertexData& V) const;
};

struct TVertexIDTextures {
    int8_t Count = 0;
    std::array<int32_t, 32> Indices{};
};

struct TVertexIDColors {
    int8_t Count = 0;
    std::array<int32_t, 4> Indices{};
};

struct TVertexID {
    int32_t Position = 0;
    int32_t Normal = -1;
    TVertexIDTextures Textures;
    int32_t Binormal = -1;
    int32_t Tangent = -1;
    TVertexIDColors Colors;
    int32_t SmoothGroup = 0;

    // A hash of the key text "P;N;B;T;S;" followed by the texture and colour indices.
    uint64_t GetHash() const;
};

using TTriangleID = std::array<TVertexID, 3>;
using TPolygonID = std::vector<TVertexID>;
using TTriangleIndex = std::array<uint32_t, 3>;
enum class TVertexOrder : uint8_t { CW, CCW };
enum class TCacheIndexKind : uint8_t { ikTriangleIndex, ikPointIndex };

// Source position index -> the vertex indices made from it, each array without
// duplicates and in the order of first insertion.
class TVertexIndexMap {
public:
    using TIndices = std::vector<uint32_t>;
    using TMap = std::unordered_map<uint32_t, TIndices>;

    int Count() const { return static_cast<int>(FItems.size()); }
    bool ContainsKey(uint32_t AKey) const { return FItems.find(AKey) != FItems.end(); }
    // Raises EListError "Duplicates not allowed" when the key is there already.
    void Add(uint32_t AKey, TIndices AValue);
    void AddOrSetValue(uint32_t AKey, TIndices AValue) { FItems[AKey] = std::move(AValue); }
    // Raises EListError "Item not found" for a missing key.
    const TIndices& Items(uint32_t AKey) const;
    const TIndices* Find(uint32_t AKey) const;
    void Clear() { FItems.clear(); }
    void Reserve(size_t ACount) { FItems.reserve(ACount); }
    // Records that vertex ACurrent was made from position AOriginal.
    void AddIndex(uint32_t AOriginal, uint32_t ACurrent);
    // Becomes a copy of AMap; empty for nullptr.
    void Assign(const TVertexIndexMap* AMap);
    // The keys in ascending order (the order the maps are written in).
    std::vector<uint32_t> SortedKeys() const;
    TMap::const_iterator begin() const { return FItems.begin(); }
    TMap::const_iterator end() const { return FItems.end(); }
    friend bool operator==(const TVertexIndexMap& A, const TVertexIndexMap& B) { return A.FItems == B.FItems; }

private:
    TMap FItems;
};

// The mesh builder of the model loaders.
class TVertexCache : public TObject {
    KORVANE_CLASS(TVertexCache, TObject)

    static constexpr int TextureChannels = 32;
    static constexpr int ColorChannels = 4;

    explicit TVertexCache(uint32_t ADefaultCapacity = 0);

    bool Destroyed = false;
    std::vector<TPoint3D> PositionSource, NormalSource, BinormalSource, TangentSource;
    TVertexIndexMap IndexMap;
    std::vector<TVertexData> Vertices;
    std::vector<TTriangleIndex> Indices;
    std::vector<uint32_t> PointIndices;
    TCacheIndexKind IndexKind = TCacheIndexKind::ikTriangleIndex;
    bool UseBuffersAsArray = false;
    bool NormalsAvailable = false, TangentsAvailable = false, BinormalsAvailable = false;
    bool TexCoordsAvailable = false, TexCoordsST = false;

    // The five availability flags false, every source list empty, then ClearMaps.
    virtual void ClearBuffers();
    // ClearBuffers, then Vertices and Indices empty.
    virtual void ClearAll();
    // IndexMap and the de-duplication buckets empty.
    virtual void ClearMaps();
    // ClearMaps, the availability flags false, Vertices and Indices empty; the sources stay.
    virtual void ClearVirtualData();
    // Loader hooks: nothing, nullptr, and the mesh's material reference when both are given.
    virtual void DoOnCreateSubMesh(TMeshDef* AMesh, TMeshDef* ASubMesh);
    virtual TMaterialDef* DoOnCreateDefaultMaterial(TMeshDef* AMesh);
    virtual TMaterialRefDef* DoOnCreateMaterialRef(TMeshDef* AMesh, TMaterialDef* AMaterial);

    // Resolves an index tuple against the sources. Raises "invalid index for
    // vertex position coordinate: %d < %d" for a position outside the source
    // and EListError for a binormal or tangent index beyond a non-empty source.
    TVertexData GetVertex(const TVertexID& AVertex) const;
    // Adds the face's unique vertices and index triples; the result is
    // AIndexOffset plus 3 per triangle added.
    int AddTriangle(int AIndexOffset, const TTriangleID& ATriangle, std::vector<TVertexData>& AVertices,
                    std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder);
    // A fan around corner 0; fewer than three corners add nothing.
    int AddPolygon(int AIndexOffset, const TPolygonID& APolygon, std::vector<TVertexData>& AVertices,
                   std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder);
    // One point vertex per position from AIndexOffset on, without de-duplication;
    // the result is the index of the last vertex added (0 when none).
    int AddPoints(int AIndexOffset, std::vector<TVertexData>& AVertices, std::vector<uint32_t>& AIndices);

    void SetPositionSource(const std::vector<float>& ASource);
    void SetNormalSource(const std::vector<float>& ASource);
    // Each normal as a direction through ATransform, then normalised.
    void SetNormalSource(const std::vector<float>& ASource, const TMatrix3D& ATransform);
    void SetBiNormalSource(const std::vector<float>& ASource);
    void SetTangentSource(const std::vector<float>& ASource);
    // Pairs at k x AStride and k x AStride + 1; the second flipped to 1 minus it
    // when AConvertToUV. AStride below 2 raises EArgumentException.
    void SetTextureSource(int AIndex, const std::vector<float>& ASource, bool AConvertToUV, int AStride = 2);
    void SetColorSource(int AIndex, const std::vector<float>& ASource);

    // Appends one entry and answers its index. The float-array forms need at
    // least 3 values (2 for texture coordinates, 4 for colours), else EArgumentException.
    int AddPositionSource(const std::vector<float>& ASource);
    int AddPositionSource(const TPoint3D& ASource);
    int AddNormalSource(const std::vector<float>& ASource);
    int AddNormalSource(const TPoint3D& ASource);
    int AddBinormalSource(const std::vector<float>& ASource);
    int AddBinormalSource(const TPoint3D& ASource);
    int AddTangentSource(const std::vector<float>& ASource);
    int AddTangentSource(const TPoint3D& ASource);
    // X, Y, Z of every vector; the index of the last one, -1 for none.
    int AddTangentSource(const std::vector<TVector3D>& ASource);
    int AddTextureSource(int AIndex, const std::vector<float>& ASource, bool AConvertToUV);
    int AddTextureSource(int AIndex, const TPointF& ASource, bool AConvertToUV);
    int AddColorSource(int AIndex, const std::vector<float>& ASource);
    int AddColorSource(int AIndex, const TAlphaColorF& ASource);

    // The list of a channel; nullptr outside 0 to 31 (texture) or 0 to 3 (colour).
    std::vector<TPointF>* GetTextureSourceArray(int AIndex);
    std::vector<TAlphaColorF>* GetColorSourceArray(int AIndex);

protected:
    void BeforeDestruction() override { Destroyed = true; }

private:
    // The index of the vertex in AVertices equal to AVertex, appending it when new.
    uint32_t AddUniqueVertex(const TVertexData& AVertex, std::vector<TVertexData>& AVertices);
    std::vector<TPointF>& TextureList(int AIndex);
    std::vector<TAlphaColorF>& ColorList(int AIndex);

    std::array<std::vector<TPointF>, TextureChannels> FTextureSources;
    std::array<std::vector<TAlphaColorF>, ColorChannels> FColorSources;
    std::unordered_map<uint64_t, std::vector<int32_t>> FBuckets;
};

} // namespace korvane
