#pragma once
// Mesh definitions: the geometry of one mesh of the definition model.
//
// TCustomMeshDef holds an interleaved vertex source and an index source, their
// formats, the face orientation, a material reference, instances, the map from
// source position indices to vertices and a cached bounding box; once made
// static, a GPU mesh buffer object holds a copy of the sources. TMeshDef adds
// sub-meshes (its child definitions), the combined bounding box, the triangle
// tree and the building operations (polygons, normals, tangents, texture
// coordinates, ray casts, baking transformations). TVertexGroupDef is a
// sub-mesh with indices only that draws from its owner's vertices.
//
// GPU buffer objects are created, filled and freed on the main thread only:
// the work is handed over with TThread::Queue. Work still queued when its
// definition is freed is dropped.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Korvane.DefTypes.h"
#include "Korvane.DefTypes.Material.h"
#include "Korvane.DefTypes.VertexCache.h"
#include "Korvane.Context.Types.h"
#include "Platform.MeshBuffers.h"

namespace korvane {

class TMeshBufferObject;
struct TBVHGeometry;
class TCustomMeshDef;

enum class TFaceOrientation : uint8_t { FrontFace = 0, BackFace = 1, TwoFace = 2 };

// One placement of a mesh that is drawn several times. The mesh is not owned.
class TMeshInstanceDef : public TCustomDef {
    KORVANE_CLASS(TMeshInstanceDef, TCustomDef)

    explicit TMeshInstanceDef(TCustomMeshDef* AOwner = nullptr) : FMeshRef(AOwner) {}

    TCustomMeshDef* MeshRef() const { return FMeshRef; }
    void SetMeshRef(TCustomMeshDef* AValue) { FMeshRef = AValue; }
    TPoint3D Position, Scale, RotationAngle, RotationCenter;

    // "Type", "Id", "MeshRef" (only with a mesh), "Position", "Scale",
    // "RotationAngle", "RotationCenter".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // The four points, each (0, 0, 0) when missing; "MeshRef" is not read.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TMeshInstanceDef); }

private:
    TCustomMeshDef* FMeshRef;
};

// Queued main-thread work of a mesh holds this; the mesh marks it dead when it
// goes, and the work runs under its lock so that the mesh cannot go meanwhile.
struct TMeshDefWorkToken {
    std::recursive_mutex Lock;
    TCustomMeshDef* Mesh = nullptr;
};

class TCustomMeshDef : public TTransformDef {
    KORVANE_CLASS(TCustomMeshDef, TTransformDef)

    static constexpr TVertexFormats DefaultVertexFormat{TVertexFormat::Vertex,    TVertexFormat::Normal,
                                                        TVertexFormat::ColorF0,   TVertexFormat::TexCoord0,
                                                        TVertexFormat::BiNormal,  TVertexFormat::Tangent};

    explicit TCustomMeshDef(TCustomDef* AOwner);
    ~TCustomMeshDef() override;

    TVertexFormats VertexFormat() const { return FVertexFormat; }
    void SetVertexFormat(TVertexFormats AValue) { FVertexFormat = AValue; }
    TIndexFormat IndexFormat() const { return FIndexFormat; }
    TFaceOrientation FaceOrientation() const { return FFaceOrientation; }
    void SetFaceOrientation(TFaceOrientation AValue) { FFaceOrientation = AValue; }
    bool IsStatic() const { return FIsStatic; }
    TMeshBufferObject* BufferObject() const { return FBufferObject.get(); }
    TVertexIndexMap* VertexIndexMap() const { return FVertexIndexMap.get(); }
    TMaterialRefDef* Material() const { return FMaterial.get(); }
    const std::vector<TOwned<TMeshInstanceDef>>& Instances() const { return FInstances; }
    // Appends the instance; the mesh owns it from now on.
    TMeshInstanceDef* AddInstance(TOwned<TMeshInstanceDef> AInstance);
    // The face normals of the last normal computation.
    const std::vector<TPoint3D>& FaceNormals() const { return FFaceNormals; }
    // The mesh's own sources (a vertex group's vertex source is its owner's: GetVertexSource).
    TVertexBuffer* VertexSource() const { return FVertexSource; }
    TIndexBuffer* IndexSource() const { return FIndexSource; }

    // The Material property: frees the old reference and takes AValue.
    virtual void SetMaterial(TOwned<TMaterialRefDef> AValue);
    // See the static build below.
    virtual void SetIsStatic(bool Value);
    virtual TIndexBuffer* GetIndexSource() const { return FIndexSource; }
    virtual TVertexBuffer* GetVertexSource() const { return FVertexSource; }
    // Marks the box stale and computes it at once.
    virtual void BoundingBoxChanged();
    // The box of the own vertices through Transform, computed when stale.
    virtual TBoundingBox GetBoundingBox();
    // A copy of AVertices, or an empty source of VertexFormat for nullptr.
    virtual void SetVertices(const TVertexBuffer* AVertices);
    // A copy of AIndices, or an empty source of IndexFormat for nullptr.
    virtual void SetIndices(const TIndexBuffer* AIndices);
    // A new vertex source of ACount vertices from AVertices[AIndex] on, in the
    // format of AVertices[0]; an empty array leaves the mesh without one.
    // A range outside the array raises EArgumentException.
    virtual void AddVertices(const std::vector<TVertexData>& AVertices, int AIndex, int ACount);
    // As AddVertices, lengthening an existing source (which keeps its layout).
    virtual void AppendVertices(const std::vector<TVertexData>& AVertices, int AIndex, int ACount);
    // A new index source of ACount indices AIndices[AIndex + k] - AOffset.
    virtual void AddIndices(const std::vector<uint32_t>& AIndices, int AIndex, int ACount, int AOffset);
    // A new index source of the corners of ACount triangles, minus AOffset.
    virtual void AddIndices(const std::vector<TTriangleIndex>& ATriangles, int AIndex, int ACount, int AOffset);
    virtual void AppendIndices(const std::vector<uint32_t>& AIndices, int AIndex, int ACount, int AOffset);
    virtual void AppendIndices(const std::vector<TTriangleIndex>& ATriangles, int AIndex, int ACount, int AOffset);
    // The positions of the own vertices.
    virtual std::vector<TPoint3D> GetVertexPositions() const;
    // With AOffset 0 the map becomes a copy of AMap; otherwise AMap's entries,
    // raised by AOffset, are inserted (a key already there raises EListError).
    virtual void AddVertexIndexMap(const TVertexIndexMap& AMap, uint32_t AOffset);
    virtual void AppendVertexIndexMap(const TVertexIndexMap& AMap, uint32_t AOffset);
    // Transform := Transform x AMatrix; the vertices stay.
    virtual void ApplyTransformation(const TMatrix3D& AMatrix);
    // Refers to AMaterial (nothing for nullptr).
    virtual void SetMaterialReference(TMaterialDef* AMaterial);

    // Frees the vertex source and creates an empty one of AFormat.
    void CreateVertexSource(TVertexFormats AFormat);
    void CreateIndexSource(TIndexFormat AFormat);
    // The vertex format of a resolved vertex: position, normal, binormal,
    // tangent, one texture channel per coordinate and one float-colour channel
    // per colour (at most four each). Nothing for nullptr.
    void SetVertexFormatByVertexData(const TVertexData* AVertex);

    // Frees the buffer object at once; then builds a new one on the main
    // thread when static and both sources are filled.
    void UpdateMeshBuffer();
    // Pushes the sources into the existing buffer object (handed to the main
    // thread with ASync).
    void RefreshMeshBuffer(bool ASync);
    // Borrows AVertices and AIndices as the sources and shares the components
    // of ABufferObject; the mesh becomes static.
    void LinkMeshBuffer(TMeshBufferObject* ABufferObject, TVertexBuffer* AVertices, TIndexBuffer* AIndices);
    void UnlinkMeshBuffer();

    int64_t GetSize() const override;
    std::unique_ptr<TJSONObject> ToJSON() const override;
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    void BeforeDestruction() override;
    int64_t InstanceSize() const override { return sizeof(TCustomMeshDef); }
    // Builds the GPU copy of the sources when both are filled (on the main thread).
    void QueueStaticBuild(TKorvanePrimitivesKind AKind);
    // Reads "IndexCount", "IndicesDataType" and "Indices" into a new index
    // source of AFormat; AVertexLimit bounds the index values (-1: unchecked).
    void ReadIndices(const TJSONObject& AValue, TIndexFormat AFormat, int64_t AVertexLimit);

    TVertexFormats FVertexFormat = DefaultVertexFormat;
    TIndexFormat FIndexFormat = TIndexFormat::UInt32;
    TFaceOrientation FFaceOrientation = TFaceOrientation::FrontFace;
    bool FIsStatic = false;
    bool FLinked = false;
    TOwned<TMeshBufferObject> FBufferObject;
    bool FBoundingBoxStale = false;
    TBoundingBox FBoundingBox;
    std::vector<TPoint3D> FFaceNormals;
    TVertexBuffer* FVertexSource = nullptr;
    TIndexBuffer* FIndexSource = nullptr;
    // Sources borrowed by LinkMeshBuffer are not freed by the mesh.
    bool FVertexSourceBorrowed = false;
    bool FIndexSourceBorrowed = false;
    std::unique_ptr<TVertexIndexMap> FVertexIndexMap;
    TOwned<TMaterialRefDef> FMaterial;
    std::vector<TOwned<TMeshInstanceDef>> FInstances;

private:
    void FreeVertexSource();
    void FreeIndexSource();
    void WriteVertices(TVertexBuffer& ABuffer, int32_t AFirst, const std::vector<TVertexData>& AVertices, int AIndex,
                       int ACount);
    // Grows the index source (created when missing) by ACount and returns the first new position.
    int32_t GrowIndices(int64_t ACount);
    void ReadVertices(const TJSONObject& AValue, int32_t ACount);
    void ReadVertexIndexMap(const TJSONObject& AValue, int64_t AVertexCount);
    void ReadMaterial(TModelDef* AModel, const TJSONObject& AValue);
    // Takes the buffer object out and frees it on the main thread.
    void QueueRelease();

    std::shared_ptr<TMeshDefWorkToken> FWorkToken;
    // Raised by every change of the static state; queued builds of an older one are dropped.
    uint64_t FStaticGeneration = 0;
};

enum class TMeshDefCalculateNormalMethod : uint8_t { cnmDefault, cnmFastest, cnmSlowest };

enum class TCopyVertexOption : uint8_t { ExchangeYZ, ExchangeYX, ExchangeXZ };
using TCopyVertexOptions = TSet<TCopyVertexOption>;

// 2D points (or texture coordinates) and 3D points of a polygon.
using TPolygon = std::vector<TPointF>;
using T3DPolygon = std::vector<TPoint3D>;

class TMeshDef : public TCustomMeshDef {
    KORVANE_CLASS(TMeshDef, TCustomMeshDef)

    explicit TMeshDef(TCustomDef* AOwner);
    ~TMeshDef() override;

    TBVHGeometry* BVH() const { return FBVH.get(); }
    bool RenderByVertexGroups() const { return FRenderByVertexGroups; }
    // The sub-meshes: the child definitions.
    TTransformDefList* Meshes() const { return Children(); }
    TModelDef* Model() const { return GetModel(); }

    void AddMesh(TMeshDef* AMesh) override;
    void SetIsStatic(bool Value) override;
    // Removes and frees the child.
    virtual void RemoveMesh(TMeshDef* AMesh);
    // FindChildById over the subtree; a match that is no mesh raises
    // "transform with id "%s" found, but not a mesh node" or gives nullptr.
    virtual TMeshDef* FindMeshById(const std::string& AName, bool AThrowException);
    virtual void ApplyToMeshData(TMeshData* AData);
    virtual void ApplyFromMeshData(TMeshData* AData);
    virtual void ApplyToMeshDef(TMeshDef* ADef, TCopyVertexOptions AOptions);
    // Sphere-mapped texture coordinates 0 around the box centre.
    virtual void CalcTextureCoordinates();
    virtual void CalcTextureCoordinates(int AStartIdx, int AStopIdx);
    static void CalcTextureCoordinates(TVertexBuffer* AVertexBuffer, const TBoundingBox& ABoundingBox, int AStartIdx,
                                       int AStopIdx);
    // One normal per triangle, normalise((p1 - p0) x (p1 - p2)).
    virtual void CalcFaceNormals(bool PropagateFaceNormalsToVertices, bool ASubMeshes);
    virtual void CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon, bool ASubMeshes);
    // Per-triangle tangents and binormals from texture coordinates 0.
    static void CalcTangentBinormals(TVertexBuffer* AVertexBuffer, const TIndexBuffer* AIndexBuffer);
    virtual void CalcTangentBinormals(bool ASubMeshes);
    virtual void CalcTangentBinormals(TMeshData* AData);
    // The own box united with the combined boxes of the child meshes.
    virtual TBoundingBox GetCombinedBoundingBox();
    virtual void AcquireBVH();
    virtual void UpdateBVH();
    virtual void ReleaseBVH();
    // Casts the ray (in the space AMeshMatrix leads to) at the mesh; the hit
    // point and normal come out through AMeshMatrix and AAbsoluteMatrix.
    virtual bool RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, const TMatrix3D& AMeshMatrix,
                                  const TMatrix3D& AAbsoluteMatrix, TPoint3D& AIntersection, TPoint3D& ANormal);
    // Fans the polygon into triangles of vertices of their own. Fewer than 3
    // points raise "invalid polygon length - at least 3 vertices needed".
    virtual void AddPolygon(const TPolygon& APoly);
    virtual void AddPolygon(const T3DPolygon& APoly);
    virtual void AddPolygon(const TPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals);
    virtual void AddPolygon(const T3DPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals);
    // Transform x ATransform, baked into the vertices (and the children's) with AModfiyVertices.
    virtual void ApplyTransformationMatrixToVertices(const TMatrix3D& ATransform, bool AModfiyVertices);
    // Moves the vertices so that the combined box is centred on the origin.
    virtual void MoveVerticesToPivot();

    // normalise((B - A) x (C - A)).
    static TPoint3D GetNormalVectorFromPoints(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C);

    int64_t GetSize() const override;
    // The mesh's pairs, then sub-meshes from "Meshes" (read like "Children").
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    void BeforeDestruction() override;
    int64_t InstanceSize() const override { return sizeof(TMeshDef); }
    void UpdateRenderByVertexGroups();
    // Calls AProc for every direct child that is a mesh definition.
    template <typename F>
    void ForEachChildMesh(F&& AProc)
    {
        if (!Children()) return;
        for (TTransformDef* child : *Children())
            if (auto* mesh = dynamic_cast<TMeshDef*>(child)) AProc(mesh);
    }

private:
    void BuildBVH();

    std::unique_ptr<TBVHGeometry> FBVH;
    bool FRenderByVertexGroups = false;
};

class TVertexGroupDef : public TMeshDef {
    KORVANE_CLASS(TVertexGroupDef, TMeshDef)

    explicit TVertexGroupDef(TCustomDef* AOwner);

    // The owner's vertex source.
    TVertexBuffer* GetVertexSource() const override;
    // Copies only the indices into the mesh data.
    void ApplyToMeshData(TMeshData* AData) override;
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TVertexGroupDef); }
};

} // namespace korvane
