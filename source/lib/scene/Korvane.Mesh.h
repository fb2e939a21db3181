#pragma once
// TKorvaneMesh: the scene node that draws geometry. It owns the platform mesh
// data (an interleaved vertex buffer of position, normal, float colour 0,
// texture coordinate 0, binormal and tangent, and 32-bit indices), its
// instances and the designer's read-only collections. A mesh built from a mesh
// definition that is static draws from the definition's GPU buffer object and
// keeps no vertices of its own.
//
// Sub-meshes: a mesh whose parent is a mesh registers in the parent's
// sub-mesh list; settings such as wrap mode, opacity, visibility, shading and
// the material source are passed down that list.
//
// The mesh matrix maps the mesh data into the node's box according to the
// wrap mode; the model matrix of a draw is the mesh matrix followed by the
// node's absolute matrix.

#include <map>
#include <string>
#include <vector>

#include "Korvane.DefTypes.VertexCache.h"
#include "Korvane.MeshInstances.h"
#include "Korvane.Transform.h"
#include "Platform.Materials3D.h"
#include "Platform.MeshBuffers.h"

namespace korvane {

class TMeshDef;
class TKorvaneContext;

// Vertex index -> new vertex data (only the position is taken).
using TVertexDataDictionary = std::map<int, TVertexData>;

class TKorvaneMesh : public TKorvaneTransform {
    KORVANE_CLASS(TKorvaneMesh, TKorvaneTransform)

    // The vertex format of the mesh data.
    static constexpr TVertexFormats VertexFormat{TVertexFormat::Vertex,    TVertexFormat::Normal,
                                                 TVertexFormat::ColorF0,   TVertexFormat::TexCoord0,
                                                 TVertexFormat::BiNormal,  TVertexFormat::Tangent};

    // Empty mesh data of the mesh format, no instances, wrap mode Original.
    // A failure is raised as "TKorvaneMesh.Create(): " and the cause.
    explicit TKorvaneMesh(TComponent* AOwner);
    ~TKorvaneMesh() override;

    // --- properties ----------------------------------------------------------

    TMeshData& MeshData() { return GetMeshData(); }
    TKorvaneMeshInstances* Instances() const { return FInstances.get(); }
    // Copies the items of the given collection.
    void SetInstances(const TKorvaneMeshInstances* AValue) { FInstances->Assign(AValue); }
    TMeshWrapMode WrapMode() const { return FWrapMode; }
    virtual void SetWrapMode(TMeshWrapMode Value);
    TMaterialSource* MaterialSource() const { return GetMaterialSource(); }
    virtual TMaterialSource* GetMaterialSource() const { return FMaterialSource; }
    // Linked by free notification: a freed source is dropped.
    virtual void SetMaterialSource(TMaterialSource* Value);
    const std::string& ReferencedName() const { return FReferencedName; }
    void SetReferencedName(const std::string& Value) { FReferencedName = Value; }
    const std::vector<TKorvaneMesh*>& Meshes() const { return FMeshes; }
    bool ShowNormals() const { return FShowNormals; }
    void SetShowNormals(bool Value) { FShowNormals = Value; }
    TAlphaColor NormalsColor() const { return FNormalsColor; }
    void SetNormalsColor(TAlphaColor Value) { FNormalsColor = Value; }
    bool FlatShading() const { return FFlatShading; }
    // Stores the flag; recomputes flat or smooth normals of the definition and
    // of the mesh data, then tangents; sub-meshes follow.
    virtual void SetFlatShading(bool Value);
    bool IsStatic() const { return GetIsStatic(); }
    virtual bool GetIsStatic() const;
    // Nothing without a definition; see the unit's description.
    virtual void SetIsStatic(bool Value);
    TKorvaneMeshMaterialCollection* Materials() const { return FMaterials.get(); }
    TKorvaneMeshBehaviourCollection* Behaviours() const { return FBehaviours.get(); }
    TKorvaneMeshCollection* MeshCollection() const { return FMeshCollection.get(); }
    // The model node this mesh belongs to, found up the mesh chain and cached.
    TKorvaneControl* Model() { return GetModel(); }
    virtual TKorvaneControl* GetModel();
    // The definition as a mesh definition; nil for none or another class.
    TMeshDef* MeshDef() const;

    // --- vertices ------------------------------------------------------------

    // The positions of the mesh data's vertices, in order.
    virtual std::vector<TPoint3D> GetCoordinates();
    // Only with a mesh definition: position i goes to every vertex the
    // definition's index map lists for i, else to vertex i.
    virtual void SetCoordinates(const std::vector<TPoint3D>& Value);
    // Position of each listed vertex := the entry's Position; an index at or
    // beyond the vertex count raises "failed to set vertices in mesh - invalid index".
    virtual void SetVertices(const TVertexDataDictionary& Value);

    // --- settings passed to every sub-mesh ------------------------------------

    void SetFrustumCullingCheck(bool Value) override;
    virtual void SetTwoSide(bool AValue);
    // Above 1: opaque with opacity 1; 1 or below: translucent with that opacity.
    virtual void SetOpacityValue(float AValue);
    virtual void SetVisibility(bool AValue);
    virtual void SetHitTestValue(bool AValue);
    void ApplyMaterialSource(TMaterialSource* ASource);
    void ApplyMaterialToAll(TMaterialSource* AMaterial) { ApplyMaterialSource(AMaterial); }
    // The definition's tangents (when there is one), then the mesh data's.
    void ComputeTangentsAndBinormals();
    // Face normals and tangents of the definition and the mesh data.
    void ComputeAllNormalsAndTangents();

    // --- instances -----------------------------------------------------------

    // A raw instance (no item); its index in the instance cache.
    int AddInstance(const TMatrix3D& ATransform);
    // An item of that display name and transform; its item index.
    int AddInstanceItem(const std::string& AName, const TMatrix3D& ATransform);
    TKorvaneMeshInstance* AddInstanceItem(const std::string& AName);
    // False for an index outside the items.
    bool DeleteInstance(int AIndex);
    void ClearInstances() { FInstances->ClearInstances(); }
    TMatrix3D GetInstance(int AIndex) const { return FInstances->GetInstance(AIndex); }
    void SetInstance(int AIndex, const TMatrix3D& AValue) { FInstances->SetInstance(AIndex, AValue); }
    // Every sub-mesh (recursively) takes over AInstances moved by ABaseTransform.
    virtual void UpdateChildInstanceCaches(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances);

    // --- geometry --------------------------------------------------------------

    // Maps the mesh data into the node's box by wrap mode; the identity on
    // any failure and for an inverted box.
    virtual TMatrix3D GetMeshMatrix();
    // The source box through the mesh matrix, united with the sub-meshes' boxes.
    TBoundingBox GetBoundingBox() const override;
    // The source box without the mesh matrix, united with the sub-meshes'.
    virtual TBoundingBox GetUnwrappedBoundingBox();
    // The nearest hit of the sub-meshes and of the own geometry.
    virtual bool RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, TPoint3D& AIntersection,
                                  TPoint3D& ANormal);

    // The definition's geometry into AMeshData (both must be given).
    virtual void CopyDefinitionToMeshData(TCustomDef* ADef, TMeshData* AMeshData);

    // --- platform overrides ------------------------------------------------------

    void SetWidth(float Value) override;
    void SetHeight(float Value) override;
    void SetDepth(float Value) override;
    void Render() override;
    void RenderChildren() override {}
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // Rebuilds the three read-only collections.
    void UpdateCollections();

protected:
    virtual TMeshData& GetMeshData();
    virtual void AddToParentMeshes();
    virtual void RemoveFromParentMeshes();
    // The draw itself: the model matrix, the material, the instances, the data.
    virtual void RenderMeshData(TKorvaneContext* AContext);
    bool DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) override;
    void DoAddObject(TTreeObject* AObject) override;
    void DoInsertObject(int Index, TTreeObject* AObject) override;
    void DoRemoveObject(TTreeObject* AObject) override;
    void BeforeDestruction() override;

    // The box the mesh matrix starts from: the static definition's (moved up
    // by half its height) or the mesh data's.
    TBoundingBox SourceBox() const;
    // Calls AProc for every sub-mesh.
    template <typename F>
    void ForEachSubMesh(F&& AProc)
    {
        const std::vector<TKorvaneMesh*> meshes = FMeshes;
        for (TKorvaneMesh* m : meshes) AProc(m);
    }

    TKorvaneControl* FModel = nullptr;
    TMeshData FData;
    TOwned<TKorvaneMeshInstances> FInstances;
    TMeshWrapMode FWrapMode = TMeshWrapMode::Original;
    bool FShowNormals = false;
    TAlphaColor FNormalsColor = 0xFFFF0000;
    TMaterialSource* FMaterialSource = nullptr;
    std::string FReferencedName;
    std::vector<TKorvaneMesh*> FMeshes;
    bool FFlatShading = false;
    TOwned<TKorvaneMeshMaterialCollection> FMaterials;
    TOwned<TKorvaneMeshBehaviourCollection> FBehaviours;
    TOwned<TKorvaneMeshCollection> FMeshCollection;
};

} // namespace korvane
