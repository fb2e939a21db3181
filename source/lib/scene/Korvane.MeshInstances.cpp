#include "Korvane.MeshInstances.h"

#include <algorithm>
#include <cmath>

#include "Korvane.Control.h"
#include "Korvane.Material.Behaviour.h"
#include "Korvane.Material.Default.h"
#include "Korvane.Mesh.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

// An angle in degrees brought into [0, 360).
float NormalizeAngle(float ADegrees)
{
    double a = std::fmod(double(ADegrees), 360.0);
    if (a < 0) a += 360.0;
    if (a >= 360.0) a = 0;
    return float(a);
}

const TPoint3D Axes[3] = {TPoint3D(1, 0, 0), TPoint3D(0, 1, 0), TPoint3D(0, 0, 1)};

bool Differs(const TPoint3D& A, const TPoint3D& B, float AEpsilon)
{
    return std::fabs(A.X - B.X) > AEpsilon || std::fabs(A.Y - B.Y) > AEpsilon || std::fabs(A.Z - B.Z) > AEpsilon;
}

} // namespace

// ---------------------------------------------------------------- TKorvaneMeshInstance

KORVANE_IMPLEMENT_CLASS(TKorvaneMeshInstance, "Korvane.MeshInstances")

TKorvaneMeshInstance::TKorvaneMeshInstance(TCollection* ACollection)
    : TCollectionItem(ACollection), FPosition(MakeOwned<TPosition3D>(TPoint3D(0, 0, 0))),
      FRotationAngle(MakeOwned<TPosition3D>(TPoint3D(0, 0, 0))), FScale(MakeOwned<TPosition3D>(TPoint3D(1, 1, 1))),
      FRotationCenter(MakeOwned<TPosition3D>(TPoint3D(0, 0, 0)))
{
    auto matrixChanged = [this](TObject* Sender) { MatrixChanged(Sender); };
    FPosition->OnChange = matrixChanged;
    FScale->OnChange = matrixChanged;
    FRotationCenter->OnChange = matrixChanged;
    FRotationAngle->OnChange = [this](TObject* Sender) { RotationChanged(Sender); };
    FRotationAngle->OnChangeX = [this](TObject*) { RotationAxisChanged(0); };
    FRotationAngle->OnChangeY = [this](TObject*) { RotationAxisChanged(1); };
    FRotationAngle->OnChangeZ = [this](TObject*) { RotationAxisChanged(2); };
    if (TKorvaneMeshInstances* instances = Instances()) instances->Changed();
}

void TKorvaneMeshInstance::BeforeDestruction()
{
    // Leaving the collection rebuilds its cache.
    TCollectionItem::BeforeDestruction();
}

TKorvaneMeshInstances* TKorvaneMeshInstance::Instances() const
{
    return dynamic_cast<TKorvaneMeshInstances*>(Collection());
}

void TKorvaneMeshInstance::SetDisplayName(const std::string& Value)
{
    FName = Value;
}

void TKorvaneMeshInstance::SetTransform(const TMatrix3D& ATransform)
{
    FTransform = ATransform;
    TPoint3D position, scale, angles;
    TQuaternion3D rotation;
    DecomposeMatrix(ATransform, position, scale, rotation, angles);
    FPosition->SetPointNoChange(position);
    FScale->SetPointNoChange(scale);
    FRotationCenter->SetPointNoChange(TPoint3D(0, 0, 0));
    FQuaternion = rotation;
    FRotationAngle->SetPointNoChange(angles);
    FSavedRotationAngle = TPoint3D(0, 0, 0);
    if (TKorvaneMeshInstances* instances = Instances()) instances->Changed();
}

void TKorvaneMeshInstance::ResetRotationAngle()
{
    if (FUpdating > 0) return;
    FQuaternion = TQuaternion3D::Identity();
    MatrixChanged(this);
    FRotationAngle->SetPointNoChange(TPoint3D(0, 0, 0));
    FSavedRotationAngle = TPoint3D(0, 0, 0);
}

void TKorvaneMeshInstance::MatrixChanged(TObject*)
{
    if (FUpdating > 0) return;
    TMatrix3D m = TMatrix3D::Identity();
    if (Differs(FScale->Point(), TPoint3D(1, 1, 1), 1e-4f)) m = m * TMatrix3D::CreateScaling(FScale->Point());
    if (!Differs(FRotationAngle->Point(), TPoint3D(0, 0, 0), 1e-4f)) {
        FSavedRotationAngle = TPoint3D(0, 0, 0);
        FQuaternion = TQuaternion3D::Identity();
    } else {
        const TMatrix3D r = FQuaternion.ToMatrix3D();
        const TPoint3D centre = FRotationCenter->Point();
        if (!Differs(centre, TPoint3D(0, 0, 0), 1e-3f)) m = m * r;
        else m = m * TMatrix3D::CreateTranslation(-centre) * r * TMatrix3D::CreateTranslation(centre);
    }
    if (Differs(FPosition->Point(), TPoint3D(0, 0, 0), 1e-3f)) m = m * TMatrix3D::CreateTranslation(FPosition->Point());
    FTransform = m;
    if (TKorvaneMeshInstances* instances = Instances()) instances->Changed();
}

void TKorvaneMeshInstance::RotationChanged(TObject*)
{
    if (FUpdating > 0) return;
    const TPoint3D angles = FRotationAngle->Point();
    TPoint3D normalised = angles;
    bool changed = false;
    for (int axis = 0; axis < 3; ++axis) {
        const float delta = NormalizeAngle(angles[axis] - FSavedRotationAngle[axis]);
        if (delta == 0) continue;
        FQuaternion = FQuaternion * TQuaternion3D::Create(Axes[axis], DegToRad(delta));
        normalised[axis] = NormalizeAngle(angles[axis]);
        changed = true;
    }
    if (!changed) return;
    FSavedRotationAngle = angles;
    FRotationAngle->SetPointNoChange(normalised);
    MatrixChanged(this);
}

void TKorvaneMeshInstance::RotationAxisChanged(int AAxis)
{
    if (FUpdating > 0) return;
    const float angle = FRotationAngle->Point()[AAxis];
    const float delta = NormalizeAngle(angle - FSavedRotationAngle[AAxis]);
    if (delta == 0) return;
    FQuaternion = FQuaternion * TQuaternion3D::Create(Axes[AAxis], DegToRad(delta));
    FSavedRotationAngle[AAxis] = angle;
    MatrixChanged(this);
    TPoint3D stored = FRotationAngle->Point();
    stored[AAxis] = NormalizeAngle(angle);
    FRotationAngle->SetPointNoChange(stored);
}

void TKorvaneMeshInstance::Assign(const TPersistent* Source)
{
    const auto* src = dynamic_cast<const TKorvaneMeshInstance*>(Source);
    if (!src) {
        TCollectionItem::Assign(Source);
        return;
    }
    auto* source = const_cast<TKorvaneMeshInstance*>(src);
    ++source->FUpdating;
    FTransform = src->FTransform;
    FPosition->SetPointNoChange(src->FPosition->Point());
    FQuaternion = src->FQuaternion;
    FRotationAngle->SetPointNoChange(src->FRotationAngle->Point());
    FSavedRotationAngle = src->FSavedRotationAngle;
    FScale->SetPointNoChange(src->FScale->Point());
    FRotationCenter->SetPointNoChange(src->FRotationCenter->Point());
    --source->FUpdating;
    source->MatrixChanged(source);
    // This instance's own collection must draw the copied matrix too.
    if (TKorvaneMeshInstances* instances = Instances(); instances && instances != source->Instances())
        instances->Changed();
}

// ---------------------------------------------------------------- TKorvaneMeshInstances

KORVANE_IMPLEMENT_CLASS(TKorvaneMeshInstances, "Korvane.MeshInstances")

TKorvaneMeshInstances::TKorvaneMeshInstances(TKorvaneMesh* AOwner)
    : TOwnedCollection(AOwner, TKorvaneMeshInstance::StaticClass())
{
}

void TKorvaneMeshInstances::Update(TCollectionItem*)
{
    Changed();
}

void TKorvaneMeshInstances::Changed()
{
    FCacheUpdated = false;
    UpdateInstanceCache();
}

void TKorvaneMeshInstances::UpdateInstanceCache()
{
    if (FCacheUpdated) return;
    FCachedInstances.assign(size_t(Count()) + 1, TMatrix3D::Identity());
    for (int i = 0; i < Count(); ++i) FCachedInstances[size_t(i) + 1] = Items(i)->Transform();
    FCacheUpdated = true;
    if (auto* mesh = dynamic_cast<TKorvaneMesh*>(GetOwner()); mesh && !mesh->Destroying())
        mesh->UpdateChildInstanceCaches(TMatrix3D::Identity(), FCachedInstances);
}

void TKorvaneMeshInstances::UpdateInstanceCache(const TMatrix3D& ABaseTransform,
                                                const std::vector<TMatrix3D>& AInstances)
{
    FCachedInstances.resize(AInstances.size());
    for (size_t i = 0; i < AInstances.size(); ++i) FCachedInstances[i] = AInstances[i] * ABaseTransform;
    FCacheUpdated = true;
}

std::vector<TMatrix3D> TKorvaneMeshInstances::ToArray()
{
    if (!FCacheUpdated) UpdateInstanceCache();
    return FCachedInstances;
}

const TMatrix3D* TKorvaneMeshInstances::CachedInstancesPtr()
{
    if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D::Identity());
    return FCachedInstances.data();
}

int TKorvaneMeshInstances::CachedInstancesCount()
{
    if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D::Identity());
    return int(FCachedInstances.size());
}

TMatrix3D TKorvaneMeshInstances::GetInstance(int AIndex) const
{
    if (AIndex < 0 || size_t(AIndex) >= FCachedInstances.size())
        throw Exception("failed to get instance transformation - invalid instance index");
    return FCachedInstances[size_t(AIndex)];
}

void TKorvaneMeshInstances::SetInstance(int AIndex, const TMatrix3D& AValue)
{
    if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D::Identity());
    if (AIndex < 0 || size_t(AIndex) >= FCachedInstances.size())
        throw Exception("failed to set instance transformation - invalid instance index");
    FCachedInstances[size_t(AIndex)] = AValue;
}

int TKorvaneMeshInstances::AddInstance(const TMatrix3D& ATransform, bool ACreateItem, const std::string& AName)
{
    if (ACreateItem) {
        auto* item = static_cast<TKorvaneMeshInstance*>(Add());
        item->SetTransform(ATransform);
        item->SetDisplayName(AName);
        return item->Index();
    }
    FCacheUpdated = true;
    if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D::Identity());
    FCachedInstances.push_back(ATransform);
    return int(FCachedInstances.size()) - 1;
}

bool TKorvaneMeshInstances::DeleteInstance(int AIndex)
{
    if (Count() > 0) {
        if (AIndex < 0 || AIndex >= Count()) return false;
        Delete(AIndex);
        Changed();
        return true;
    }
    if (AIndex < 0 || size_t(AIndex) >= FCachedInstances.size()) return false;
    // Element 0 is the mesh itself: it stays, as the identity.
    if (AIndex == 0) FCachedInstances[0] = TMatrix3D::Identity();
    else FCachedInstances.erase(FCachedInstances.begin() + AIndex);
    return true;
}

void TKorvaneMeshInstances::ClearInstances()
{
    Clear();
    FCachedInstances.assign(1, TMatrix3D::Identity());
    FCacheUpdated = true;
}

// ---------------------------------------------------------------- read-only collection items

KORVANE_IMPLEMENT_CLASS(TKorvaneReadOnlyCollection, "Korvane.MeshInstances")
KORVANE_IMPLEMENT_CLASS(TKorvaneMeshMaterialCollectionItem, "Korvane.MeshInstances")
KORVANE_IMPLEMENT_CLASS(TKorvaneMeshBehaviourCollectionItem, "Korvane.MeshInstances")
KORVANE_IMPLEMENT_CLASS(TKorvaneMeshCollectionItem, "Korvane.MeshInstances")
KORVANE_IMPLEMENT_CLASS(TKorvaneMeshMaterialCollection, "Korvane.MeshInstances")
KORVANE_IMPLEMENT_CLASS(TKorvaneMeshBehaviourCollection, "Korvane.MeshInstances")
KORVANE_IMPLEMENT_CLASS(TKorvaneMeshCollection, "Korvane.MeshInstances")

std::string TKorvaneMeshMaterialCollectionItem::DisplayName() const
{
    return FMaterial ? FMaterial->Name() : std::string();
}

void TKorvaneMeshMaterialCollectionItem::Assign(const TPersistent* Source)
{
    if (const auto* src = dynamic_cast<const TKorvaneMeshMaterialCollectionItem*>(Source)) FMaterial = src->FMaterial;
    else TCollectionItem::Assign(Source);
}

std::string TKorvaneMeshBehaviourCollectionItem::DisplayName() const
{
    if (!FBehaviour) return std::string();
    return FBehaviour->Name().empty() ? FBehaviour->UniqueID() : FBehaviour->Name();
}

void TKorvaneMeshBehaviourCollectionItem::Assign(const TPersistent* Source)
{
    if (const auto* src = dynamic_cast<const TKorvaneMeshBehaviourCollectionItem*>(Source)) FBehaviour = src->FBehaviour;
    else TCollectionItem::Assign(Source);
}

std::string TKorvaneMeshCollectionItem::DisplayName() const
{
    if (!FMesh) return std::string();
    return FMesh->Name().empty() ? FMesh->QualifiedName() : FMesh->Name();
}

void TKorvaneMeshCollectionItem::Assign(const TPersistent* Source)
{
    if (const auto* src = dynamic_cast<const TKorvaneMeshCollectionItem*>(Source)) FMesh = src->FMesh;
    else TCollectionItem::Assign(Source);
}

// ---------------------------------------------------------------- read-only collections

TKorvaneMeshMaterialCollection::TKorvaneMeshMaterialCollection(TKorvaneMesh* AOwner)
    : TKorvaneReadOnlyCollection(AOwner, TKorvaneMeshMaterialCollectionItem::StaticClass())
{
}

bool TKorvaneMeshMaterialCollection::MaterialExists(const TMaterialSource* AMaterial) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Material() == AMaterial) return true;
    return false;
}

void TKorvaneMeshMaterialCollection::Fill(TKorvaneMeshMaterialCollection* ACollection, TKorvaneMesh* AMesh)
{
    if (TMaterialSource* source = AMesh->MaterialSource(); source && !ACollection->MaterialExists(source))
        static_cast<TKorvaneMeshMaterialCollectionItem*>(ACollection->Add())->SetMaterial(source);
    for (TKorvaneMesh* sub : AMesh->Meshes()) Fill(ACollection, sub);
}

void TKorvaneMeshMaterialCollection::Update(TKorvaneMeshMaterialCollection* ACollection, TKorvaneMesh* AMesh)
{
    if (!ACollection || !AMesh) return;
    ACollection->BeginUpdate();
    try {
        ACollection->Clear();
        Fill(ACollection, AMesh);
    } catch (...) {
        ACollection->EndUpdate();
        throw;
    }
    ACollection->EndUpdate();
}

void TKorvaneMeshMaterialCollection::Notification(TComponent* AComponent, TOperation AOperation)
{
    if (AOperation != opRemove) return;
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Material() == AComponent) Items(i)->SetMaterial(nullptr);
}

TKorvaneMeshBehaviourCollection::TKorvaneMeshBehaviourCollection(TKorvaneMesh* AOwner)
    : TKorvaneReadOnlyCollection(AOwner, TKorvaneMeshBehaviourCollectionItem::StaticClass())
{
}

bool TKorvaneMeshBehaviourCollection::BehaviourExists(const TKorvaneMaterialBehaviour* ABehaviour) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Behaviour() == ABehaviour) return true;
    return false;
}

void TKorvaneMeshBehaviourCollection::Fill(TKorvaneMeshBehaviourCollection* ACollection, TKorvaneMesh* AMesh)
{
    // The behaviours live with the default material of the mesh's source.
    if (auto* material = dynamic_cast<TKorvaneDefaultMaterial*>(TMaterialSource::ValidMaterial(AMesh->MaterialSource())))
        if (TKorvaneMaterialBehaviourCollection* behaviours = material->Behaviours())
            for (int i = 0; i < behaviours->Count(); ++i) {
                TKorvaneMaterialBehaviour* behaviour = behaviours->Items(i)->Behaviour();
                if (!behaviour || ACollection->BehaviourExists(behaviour)) continue;
                static_cast<TKorvaneMeshBehaviourCollectionItem*>(ACollection->Add())->FBehaviour = behaviour;
            }
    for (TKorvaneMesh* sub : AMesh->Meshes()) Fill(ACollection, sub);
}

void TKorvaneMeshBehaviourCollection::Update(TKorvaneMeshBehaviourCollection* ACollection, TKorvaneMesh* AMesh)
{
    if (!ACollection || !AMesh) return;
    ACollection->BeginUpdate();
    try {
        ACollection->Clear();
        Fill(ACollection, AMesh);
    } catch (...) {
        ACollection->EndUpdate();
        throw;
    }
    ACollection->EndUpdate();
}

void TKorvaneMeshBehaviourCollection::Notification(TComponent* AComponent, TOperation AOperation)
{
    if (AOperation != opRemove) return;
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->FBehaviour == AComponent) Items(i)->FBehaviour = nullptr;
}

TKorvaneMeshCollection::TKorvaneMeshCollection(TKorvaneMesh* AOwner)
    : TKorvaneReadOnlyCollection(AOwner, TKorvaneMeshCollectionItem::StaticClass())
{
}

bool TKorvaneMeshCollection::MeshExists(const TKorvaneMesh* AMesh) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Mesh() == AMesh) return true;
    return false;
}

void TKorvaneMeshCollection::Update(TKorvaneMeshCollection* ACollection, TKorvaneMesh* AMesh)
{
    if (!ACollection || !AMesh || ACollection->UpdateCount() > 0) return;
    ACollection->BeginUpdate();
    try {
        ACollection->Clear();
        for (TKorvaneMesh* sub : AMesh->Meshes())
            if (sub && !ACollection->MeshExists(sub))
                static_cast<TKorvaneMeshCollectionItem*>(ACollection->Add())->SetMesh(sub);
    } catch (...) {
        ACollection->EndUpdate();
        throw;
    }
    ACollection->EndUpdate();
}

void TKorvaneMeshCollection::Notification(TComponent* AComponent, TOperation AOperation)
{
    if (AOperation != opRemove) return;
    for (int i = 0; i < Count(); ++i)
        if (static_cast<TComponent*>(Items(i)->Mesh()) == AComponent) Items(i)->SetMesh(nullptr);
}

} // namespace korvane
