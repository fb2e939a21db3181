#include "Korvane.Mesh.h"

#include <algorithm>
#include <cmath>

#include "Korvane.Context.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.DefTypes.Utils.h"
#include "Korvane.Utils.Geometry.h"
#include "Platform.Rtti.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

using T = TKorvaneMesh;

// The model node class, once its unit is registered; nil before.
TClass ModelClass()
{
    return GetClass("Korvane.Model.TKorvaneModel");
}

bool IsModelDef(const TCustomDef* ADef)
{
    TClass cls = GetClass("Korvane.DefTypes.TModelDef");
    return ADef && cls && ADef->InheritsFrom(cls);
}

bool IsInverted(const TBoundingBox& B)
{
    return B.Left > B.Right || B.Top > B.Bottom || B.Near > B.Far;
}

bool IsEmptyBox(const TBoundingBox& B)
{
    return std::fabs(B.Right - B.Left) <= 1e-4f && std::fabs(B.Bottom - B.Top) <= 1e-4f &&
           std::fabs(B.Far - B.Near) <= 1e-4f;
}

// Whether ADef is ARoot or lies in ARoot's tree of child definitions.
bool DefBelongsTo(const TCustomDef* ADef, const TCustomDef* ARoot)
{
    for (auto* d = dynamic_cast<const TTransformDef*>(ADef); d; d = dynamic_cast<const TTransformDef*>(d->GetOwnerRef()))
        if (d == ARoot) return true;
    return false;
}

// Clears the definition of every framework node below AControl in the parent
// tree that is about to go with ARoot. A node bound to a definition of its own
// (a primitive's) keeps it, so that it can still free it.
void ClearDefsBelow(TTreeObject* AControl, const TCustomDef* ARoot)
{
    for (TTreeObject* child : AControl->ChildList()) {
        if (auto* node = dynamic_cast<TKorvaneControl*>(child); node && DefBelongsTo(node->Def(), ARoot))
            node->SetDef(nullptr);
        ClearDefsBelow(child, ARoot);
    }
}

// Runs AWork; any failure is raised again as AFormat with its message.
template <typename F>
void Wrapped(const char* AFormat, F&& AWork)
{
    try {
        AWork();
    } catch (const Exception& e) {
        throw Exception(Format(AFormat, e.Message()));
    }
}

} // namespace

TClass TKorvaneMesh::StaticClass()
{
    static const TClassInfo<TKorvaneMesh> info("Korvane.Mesh", [](auto& c) {
        c.Property("FrustumCullingCheck", &T::FrustumCullingCheck, &T::SetFrustumCullingCheck, TValue::From(true));
        c.Property("WrapMode", &T::WrapMode, &T::SetWrapMode, TValue::From(TMeshWrapMode::Original));
        c.Property("MaterialSource", &T::MaterialSource, &T::SetMaterialSource);
        c.Property("ReferencedName", &T::ReferencedName, &T::SetReferencedName, TValue::From(std::string()));
    });
    return &info;
}

TKorvaneMesh::TKorvaneMesh(TComponent* AOwner)
    : TKorvaneTransform(AOwner), FData(VertexFormat, 0, 0, TIndexFormat::UInt32)
{
    FInstances.reset(new TKorvaneMeshInstances(this));
    FMaterials.reset(new TKorvaneMeshMaterialCollection(this));
    FBehaviours.reset(new TKorvaneMeshBehaviourCollection(this));
    FMeshCollection.reset(new TKorvaneMeshCollection(this));
}

TKorvaneMesh::~TKorvaneMesh() = default;

void TKorvaneMesh::BeforeDestruction()
{
    // A parent mesh must not keep drawing a freed sub-mesh.
    RemoveFromParentMeshes();
    FMeshes.clear();
    FInstances.reset();
    FMaterials.reset();
    FBehaviours.reset();
    FMeshCollection.reset();
    // A definition that belongs to no model belongs to the node made from it.
    auto* def = dynamic_cast<TMeshDef*>(Def());
    if (def && !IsModelDef(def) && !def->GetModel()) {
        SetDef(nullptr);
        ClearDefsBelow(this, def);
        def->Free();
    }
    TKorvaneTransform::BeforeDestruction();
}

TMeshDef* TKorvaneMesh::MeshDef() const
{
    return dynamic_cast<TMeshDef*>(Def());
}

TMeshData& TKorvaneMesh::GetMeshData()
{
    return FData;
}

// ---------------------------------------------------------------- life cycle

void TKorvaneMesh::Loaded()
{
    TKorvaneTransform::Loaded();
    AddToParentMeshes();
    FInstances->Changed();
    UpdateCollections();
}

void TKorvaneMesh::Notification(TComponent* AComponent, TOperation Operation)
{
    TKorvaneTransform::Notification(AComponent, Operation);
    if (Destroying()) return;
    if (Operation == opRemove) {
        if (AComponent == static_cast<TComponent*>(FModel)) FModel = nullptr;
        if (AComponent == FMaterialSource) FMaterialSource = nullptr;
    }
    if (!FMaterials || !FBehaviours || !FMeshCollection) return;
    FMaterials->Notification(AComponent, Operation);
    FBehaviours->Notification(AComponent, Operation);
    FMeshCollection->Notification(AComponent, Operation);
    UpdateCollections();
}

void TKorvaneMesh::UpdateCollections()
{
    if (!FMaterials || !FBehaviours || !FMeshCollection) return;
    TKorvaneMeshMaterialCollection::Update(FMaterials.get(), this);
    TKorvaneMeshBehaviourCollection::Update(FBehaviours.get(), this);
    TKorvaneMeshCollection::Update(FMeshCollection.get(), this);
}

// ---------------------------------------------------------------- sub-meshes

void TKorvaneMesh::AddToParentMeshes()
{
    auto* parent = dynamic_cast<TKorvaneMesh*>(Parent());
    if (parent && std::find(parent->FMeshes.begin(), parent->FMeshes.end(), this) == parent->FMeshes.end())
        parent->FMeshes.push_back(this);
}

void TKorvaneMesh::RemoveFromParentMeshes()
{
    auto* parent = dynamic_cast<TKorvaneMesh*>(Parent());
    if (parent) std::erase(parent->FMeshes, this);
}

void TKorvaneMesh::DoAddObject(TTreeObject* AObject)
{
    Wrapped("TKorvaneMesh.DoAddObject(): %s", [&] {
        TKorvaneTransform::DoAddObject(AObject);
        if (FindViewport(this)) {
            RecalcAbsolute();
            Repaint();
        }
        AddToParentMeshes();
        // A mesh added at run time is a sub-mesh from now on.
        if (auto* mesh = dynamic_cast<TKorvaneMesh*>(AObject); mesh && !Destroying())
            if (std::find(FMeshes.begin(), FMeshes.end(), mesh) == FMeshes.end()) FMeshes.push_back(mesh);
    });
}

void TKorvaneMesh::DoInsertObject(int Index, TTreeObject* AObject)
{
    Wrapped("TKorvaneMesh.DoInsertObject(): %s", [&] {
        TKorvaneTransform::DoInsertObject(Index, AObject);
        if (FindViewport(this)) {
            RecalcAbsolute();
            Repaint();
        }
        AddToParentMeshes();
        if (auto* mesh = dynamic_cast<TKorvaneMesh*>(AObject); mesh && !Destroying())
            if (std::find(FMeshes.begin(), FMeshes.end(), mesh) == FMeshes.end()) FMeshes.push_back(mesh);
    });
}

void TKorvaneMesh::DoRemoveObject(TTreeObject* AObject)
{
    Wrapped("TKorvaneMesh.DoRemoveObject(): %s", [&] {
        TKorvaneTransform::DoRemoveObject(AObject);
        // The removed child must not stay listed: it may be freed next.
        std::erase(FMeshes, static_cast<TKorvaneMesh*>(dynamic_cast<TKorvaneMesh*>(AObject)));
        if (Destroying()) return;
        if (FindViewport(this)) {
            RecalcAbsolute();
            Repaint();
        }
    });
}

TKorvaneControl* TKorvaneMesh::GetModel()
{
    if (FModel) return FModel;
    TTreeObject* parent = Parent();
    TClass model = ModelClass();
    if (parent && model && parent->InheritsFrom(model)) FModel = static_cast<TKorvaneControl*>(parent);
    else if (auto* mesh = dynamic_cast<TKorvaneMesh*>(parent)) FModel = mesh->GetModel();
    if (FModel) FreeNotification(FModel);
    return FModel;
}

void TKorvaneMesh::SetWidth(float Value)
{
    TKorvaneTransform::SetWidth(Value);
    DoUpdateParent(Parent());
}

void TKorvaneMesh::SetHeight(float Value)
{
    TKorvaneTransform::SetHeight(Value);
    DoUpdateParent(Parent());
}

void TKorvaneMesh::SetDepth(float Value)
{
    TKorvaneTransform::SetDepth(Value);
    DoUpdateParent(Parent());
}

// ---------------------------------------------------------------- settings

void TKorvaneMesh::SetMaterialSource(TMaterialSource* Value)
{
    if (FMaterialSource == Value) return;
    if (FMaterialSource) FMaterialSource->RemoveFreeNotification(this);
    FMaterialSource = Value;
    if (Value) Value->FreeNotification(this);
    UpdateCollections();
    Repaint();
}

void TKorvaneMesh::SetWrapMode(TMeshWrapMode Value)
{
    FWrapMode = Value;
    Repaint();
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetWrapMode(Value); });
}

void TKorvaneMesh::SetFrustumCullingCheck(bool Value)
{
    TKorvaneTransform::SetFrustumCullingCheck(Value);
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetFrustumCullingCheck(Value); });
}

bool TKorvaneMesh::GetIsStatic() const
{
    const TMeshDef* def = MeshDef();
    return def && def->IsStatic();
}

void TKorvaneMesh::SetIsStatic(bool Value)
{
    TMeshDef* def = MeshDef();
    if (!def) return;
    const bool was = def->IsStatic();
    // Only this definition: the sub-meshes set their own below.
    def->TCustomMeshDef::SetIsStatic(Value);
    if (Value) {
        FData.CalcBoundingBox();
        DoUpdateParent(Parent());
        FData.VertexBuffer().SetLength(0);
        FData.IndexBuffer().SetLength(0);
    } else if (was) {
        CopyDefinitionToMeshData(def, &FData);
    }
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetIsStatic(Value); });
}

void TKorvaneMesh::SetFlatShading(bool Value)
{
    FFlatShading = Value;
    if (TMeshDef* def = MeshDef()) {
        if (Value) def->CalcFaceNormals(true, true);
        else def->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmSlowest, 0.001f, true);
    }
    if (Value) FData.CalcFaceNormals(true);
    else FData.CalcSmoothNormals(0.001f);
    ComputeTangentsAndBinormals();
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetFlatShading(Value); });
}

void TKorvaneMesh::SetTwoSide(bool AValue)
{
    TKorvaneTransform::SetTwoSide(AValue);
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetTwoSide(AValue); });
}

void TKorvaneMesh::SetOpacityValue(float AValue)
{
    if (AValue > 1) {
        SetOpaque(true);
        SetOpacity(1);
    } else {
        SetOpaque(false);
        SetOpacity(AValue);
    }
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetOpacityValue(AValue); });
}

void TKorvaneMesh::SetVisibility(bool AValue)
{
    SetVisible(AValue);
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetVisibility(AValue); });
}

void TKorvaneMesh::SetHitTestValue(bool AValue)
{
    SetHitTest(AValue);
    ForEachSubMesh([&](TKorvaneMesh* m) { m->SetHitTestValue(AValue); });
}

void TKorvaneMesh::ApplyMaterialSource(TMaterialSource* ASource)
{
    SetMaterialSource(ASource);
    ForEachSubMesh([&](TKorvaneMesh* m) { m->ApplyMaterialSource(ASource); });
}

void TKorvaneMesh::ComputeTangentsAndBinormals()
{
    if (TMeshDef* def = MeshDef()) {
        def->CalcTangentBinormals(false);
        // A static definition draws from its GPU copy: it must see the new vectors.
        def->RefreshMeshBuffer(false);
    }
    FData.CalcTangentBinormals();
    ForEachSubMesh([&](TKorvaneMesh* m) { m->ComputeTangentsAndBinormals(); });
}

void TKorvaneMesh::ComputeAllNormalsAndTangents()
{
    if (TMeshDef* def = MeshDef()) {
        def->CalcFaceNormals(true, true);
        def->CalcTangentBinormals(false);
    }
    FData.CalcFaceNormals(true);
    ComputeTangentsAndBinormals();
    ForEachSubMesh([&](TKorvaneMesh* m) { m->ComputeAllNormalsAndTangents(); });
}

// ---------------------------------------------------------------- vertices

std::vector<TPoint3D> TKorvaneMesh::GetCoordinates()
{
    const TVertexBuffer& vb = GetMeshData().VertexBuffer();
    std::vector<TPoint3D> result;
    result.reserve(size_t(vb.Length()));
    for (int32_t i = 0; i < vb.Length(); ++i) result.push_back(vb.Vertices(i));
    return result;
}

void TKorvaneMesh::SetCoordinates(const std::vector<TPoint3D>& Value)
{
    TMeshDef* def = MeshDef();
    if (!def || Value.empty()) return;
    TVertexBuffer& vb = GetMeshData().VertexBuffer();
    const TVertexIndexMap* map = def->VertexIndexMap();
    for (size_t i = 0; i < Value.size(); ++i) {
        const TVertexIndexMap::TIndices* listed = map ? map->Find(uint32_t(i)) : nullptr;
        if (listed) {
            for (uint32_t v : *listed) vb.SetVertices(int32_t(v), Value[i]);
        } else {
            vb.SetVertices(int32_t(i), Value[i]);
        }
    }
    Repaint();
}

void TKorvaneMesh::SetVertices(const TVertexDataDictionary& Value)
{
    TVertexBuffer& vb = GetMeshData().VertexBuffer();
    // Checked before anything is written, so that a bad entry leaves the mesh as it was.
    for (const auto& [index, data] : Value)
        if (index < 0 || index >= vb.Length()) throw Exception("failed to set vertices in mesh - invalid index");
    for (const auto& [index, data] : Value) vb.SetVertices(index, data.Position);
    Repaint();
}

// ---------------------------------------------------------------- instances

int TKorvaneMesh::AddInstance(const TMatrix3D& ATransform)
{
    return FInstances->AddInstance(ATransform, false, std::string());
}

int TKorvaneMesh::AddInstanceItem(const std::string& AName, const TMatrix3D& ATransform)
{
    return FInstances->AddInstance(ATransform, true, AName);
}

TKorvaneMeshInstance* TKorvaneMesh::AddInstanceItem(const std::string& AName)
{
    return FInstances->Items(FInstances->AddInstance(TMatrix3D::Identity(), true, AName));
}

bool TKorvaneMesh::DeleteInstance(int AIndex)
{
    if (AIndex < 0 || AIndex >= FInstances->Count()) return false;
    FInstances->Delete(AIndex);
    return true;
}

void TKorvaneMesh::UpdateChildInstanceCaches(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances)
{
    ForEachSubMesh([&](TKorvaneMesh* m) {
        m->FInstances->UpdateInstanceCache(ABaseTransform, AInstances);
        m->UpdateChildInstanceCaches(ABaseTransform, AInstances);
    });
}

// ---------------------------------------------------------------- geometry

TBoundingBox TKorvaneMesh::SourceBox() const
{
    const TMeshDef* def = MeshDef();
    if (def && def->IsStatic()) {
        TBoundingBox box = const_cast<TMeshDef*>(def)->GetBoundingBox();
        const float up = box.Height() / 2;
        box.Top += up;
        box.Bottom += up;
        return box;
    }
    return FData.BoundingBox();
}

TMatrix3D TKorvaneMesh::GetMeshMatrix()
{
    try {
        if (FWrapMode == TMeshWrapMode::Resize) return TMatrix3D::Identity();
        TBoundingBox box = SourceBox();
        if (IsInverted(box)) return TMatrix3D::Identity();
        TPoint3D pre, scale(1, 1, 1), post;
        switch (FWrapMode) {
        case TMeshWrapMode::Original:
            scale = TPoint3D(Width(), Height(), Depth());
            break;
        case TMeshWrapMode::Fit: {
            if (auto* parent = dynamic_cast<TKorvaneMesh*>(Parent())) box = parent->GetUnwrappedBoundingBox();
            const TBoundingBox area(-Width() / 2, -Height() / 2, -Depth() / 2, Width() / 2, Height() / 2,
                                    Depth() / 2);
            float ratio = 0;
            const TBoundingBox fitted = box.FitInto(area, ratio);
            // A box without extent cannot be fitted: draw it as it is.
            if (!(ratio > 0) || !std::isfinite(1 / ratio)) return TMatrix3D::Identity();
            scale = TPoint3D(1 / ratio, 1 / ratio, 1 / ratio);
            pre = -box.MinPoint();
            post = fitted.MinPoint();
            break;
        }
        case TMeshWrapMode::Stretch: {
            const float extents[3] = {box.Width(), box.Height(), box.Depth()};
            const float sizes[3] = {Width(), Height(), Depth()};
            for (int axis = 0; axis < 3; ++axis)
                if (extents[axis] > 1e-4f) scale[axis] = sizes[axis] / extents[axis];
            pre = -box.MinPoint();
            post = TPoint3D(-Width() / 2, -Height() / 2, -Depth() / 2);
            break;
        }
        case TMeshWrapMode::Resize:
            break;
        }
        return TMatrix3D::CreateTranslation(pre) * TMatrix3D::CreateScaling(scale) * TMatrix3D::CreateTranslation(post);
    } catch (const Exception&) {
        return TMatrix3D::Identity();
    }
}

TBoundingBox TKorvaneMesh::GetBoundingBox() const
{
    auto* self = const_cast<TKorvaneMesh*>(this);
    const TMeshDef* def = MeshDef();
    const TBoundingBox source = def ? const_cast<TMeshDef*>(def)->GetBoundingBox() : FData.BoundingBox().Normalize();
    TBoundingBox box = TransformedBoundingBox(TAABB::FromBoundingBox(source), self->GetMeshMatrix());
    for (TKorvaneMesh* m : FMeshes) {
        const TBoundingBox sub = m->GetBoundingBox();
        box = IsEmptyBox(box) ? sub : box.Union(sub);
    }
    return box;
}

TBoundingBox TKorvaneMesh::GetUnwrappedBoundingBox()
{
    const TMeshDef* def = MeshDef();
    TBoundingBox box = def ? const_cast<TMeshDef*>(def)->GetBoundingBox() : FData.BoundingBox().Normalize();
    for (TKorvaneMesh* m : FMeshes) box = box.Union(m->GetUnwrappedBoundingBox());
    return box;
}

bool TKorvaneMesh::RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, TPoint3D& AIntersection,
                                    TPoint3D& ANormal)
{
    AIntersection = TPoint3D(0, 0, 0);
    ANormal = TPoint3D(0, -1, 0);
    float best = 1000000;
    bool result = false;
    for (TKorvaneMesh* m : FMeshes) {
        if (!m->HitTest()) continue;
        TPoint3D hit, normal;
        if (m->RayCastIntersect(ARayPos, ARayDir, hit, normal) && hit.Distance(ARayPos) < best) {
            best = hit.Distance(ARayPos);
            AIntersection = hit;
            ANormal = normal;
            result = true;
        }
    }
    if (TMeshDef* def = MeshDef()) {
        TPoint3D hit, normal;
        if (def->RayCastIntersect(ARayPos, ARayDir, GetMeshMatrix(), AbsoluteMatrix(), hit, normal) &&
            hit.Distance(ARayPos) < best) {
            AIntersection = hit;
            ANormal = normal;
            return true;
        }
        return result;
    }
    TPoint3D hit;
    if (FData.RayCastIntersect(ARayPos, ARayDir, hit)) {
        AIntersection = hit;
        ANormal = (ARayPos - hit).Normalize();
        return true;
    }
    return result;
}

bool TKorvaneMesh::DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection)
{
    TPoint3D normal;
    return RayCastIntersect(RayPos, RayDir, Intersection, normal);
}

void TKorvaneMesh::CopyDefinitionToMeshData(TCustomDef* ADef, TMeshData* AMeshData)
{
    auto* def = dynamic_cast<TMeshDef*>(ADef);
    if (!def || !AMeshData) return;
    def->ApplyToMeshData(AMeshData);
}

// ---------------------------------------------------------------- drawing

void TKorvaneMesh::Render()
{
    auto* ctx = dynamic_cast<TKorvaneContext*>(Context());
    if (!ctx || !ctx->KorvaneClassType().Valid()) return;
    TMeshDef* def = MeshDef();
    if (!def || def->RenderByVertexGroups()) return;
    try {
        // A static definition draws from its GPU copy; otherwise the context
        // keeps no cache and the mesh data is drawn.
        if (def->IsStatic()) ctx->SetCurrentCache(def->BufferObject());
        TKorvaneTransform::Render();
        TClass model = ModelClass();
        if (model && InheritsFrom(model)) return;
        switch (def->FaceOrientation()) {
        case TFaceOrientation::FrontFace: ctx->SetContextState(TContextState::csFrontFace); break;
        case TFaceOrientation::BackFace: ctx->SetContextState(TContextState::csBackFace); break;
        case TFaceOrientation::TwoFace: ctx->SetContextState(TContextState::csAllFace); break;
        }
        if (FFlatShading) ctx->SetFlatShading();
        try {
            RenderMeshData(ctx);
        } catch (...) {
            ctx->SetSmoothShading();
            throw;
        }
        ctx->SetSmoothShading();
    } catch (const Exception& e) {
        // The cache serves one draw only: a failed draw must not leave it to the next mesh.
        ctx->SetCurrentCache(nullptr);
        throw Exception(Format("TKorvaneMesh.Render(): %s", e.Message()));
    }
}

void TKorvaneMesh::RenderMeshData(TKorvaneContext* AContext)
{
    AContext->SetMatrix(GetMeshMatrix() * AbsoluteMatrix());
    TMaterial* material = TMaterialSource::ValidMaterial(MaterialSource());
    try {
        FInstances->SetInstance(0, AContext->CurrentMatrix());
        AContext->SetInstances(FInstances->CachedInstancesCount(), FInstances->CachedInstancesPtr());
        GetMeshData().Render(AContext, material, AbsoluteOpacity());
    } catch (const Exception& e) {
        throw Exception(Format("failed to render object \"%s\" : %s", Name(), e.Message()));
    }
}

// ---------------------------------------------------------------- start-up

namespace units {

void MeshInitialize()
{
    RegisterClass<TKorvaneMesh>();
    MeshNodeServices().GetReferencedName = [](const TKorvaneControl* AControl, std::string& AName) {
        const auto* mesh = dynamic_cast<const TKorvaneMesh*>(AControl);
        if (!mesh) return false;
        AName = mesh->ReferencedName();
        return true;
    };
}

void MeshFinalize()
{
    MeshNodeServices().GetReferencedName = nullptr;
    UnRegisterClass(TKorvaneMesh::StaticClass());
}

} // namespace units

} // namespace korvane
