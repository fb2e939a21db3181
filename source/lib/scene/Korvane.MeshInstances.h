#pragma once
// The instances of a mesh node and the read-only collections a mesh shows the
// designer.
//
// A mesh draws all its instances in one instanced draw call from one
// contiguous array of matrices. Element 0 of the array is the mesh itself
// (identity in the cache; the mesh writes its model matrix there just before
// each draw); elements 1 to n are the instance items' matrices in item order,
// or the raw matrices appended without items. Raw instances skip the items and
// their change events, and are lost whenever the array is rebuilt from the
// items (any change of an item).
//
// The read-only collections list, for the designer, the material sources,
// the material behaviours and the direct sub-meshes found under a mesh; the
// mesh refills them after loading and after every notification.

#include <string>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls3D.h"
#include "Platform.Materials3D.h"
#include "Platform.Math3D.h"

namespace korvane {

class TKorvaneMesh;
class TKorvaneMeshInstances;
class TKorvaneMaterialBehaviour;

class TKorvaneMeshInstance : public TCollectionItem {
    KORVANE_CLASS(TKorvaneMeshInstance, TCollectionItem)

    // Identity transform; the owning collection rebuilds its cache.
    explicit TKorvaneMeshInstance(TCollection* ACollection);

    std::string DisplayName() const override { return FName; }
    void SetDisplayName(const std::string& Value) override;
    TPosition3D& Position() const { return *FPosition; }
    TPosition3D& Scale() const { return *FScale; }
    TPosition3D& RotationAngle() const { return *FRotationAngle; }
    TPosition3D& RotationCenter() const { return *FRotationCenter; }
    void SetPosition(const TPosition3D* Value) { FPosition->Assign(Value); }
    void SetScale(const TPosition3D* Value) { FScale->Assign(Value); }
    void SetRotationAngle(const TPosition3D* Value) { FRotationAngle->Assign(Value); }
    void SetRotationCenter(const TPosition3D* Value) { FRotationCenter->Assign(Value); }
    const TMatrix3D& Transform() const { return FTransform; }
    const TQuaternion3D& Quaternion() const { return FQuaternion; }

    // Takes position, scale, rotation and its angles from the matrix (the
    // rotation centre becomes the origin), all without notification, keeps
    // the matrix as it is and rebuilds the collection's cache.
    void SetTransform(const TMatrix3D& ATransform);
    // No rotation: identity quaternion, angles (0, 0, 0); nothing while updating.
    virtual void ResetRotationAngle();
    // Rebuilds the matrix from scale, rotation and position; nothing while updating.
    virtual void MatrixChanged(TObject* Sender);

    // Another instance: copies every part of its transform into this one,
    // then recomputes that instance's matrix.
    void Assign(const TPersistent* Source) override;

protected:
    void BeforeDestruction() override;

private:
    void RotationChanged(TObject* Sender);
    void RotationAxisChanged(int AAxis);
    TKorvaneMeshInstances* Instances() const;

    std::string FName;
    TMatrix3D FTransform = TMatrix3D::Identity();
    TOwned<TPosition3D> FPosition;
    TQuaternion3D FQuaternion = TQuaternion3D::Identity();
    TOwned<TPosition3D> FRotationAngle;
    TPoint3D FSavedRotationAngle;
    TOwned<TPosition3D> FScale;
    TOwned<TPosition3D> FRotationCenter;
    int FUpdating = 0;
};

class TKorvaneMeshInstances : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneMeshInstances, TOwnedCollection)

    // AOwner is the mesh (or nothing).
    explicit TKorvaneMeshInstances(TKorvaneMesh* AOwner);

    TKorvaneMeshInstance* Items(int AIndex) const { return static_cast<TKorvaneMeshInstance*>(TCollection::Items(AIndex)); }
    bool CacheUpdated() const { return FCacheUpdated; }
    void SetCacheUpdated(bool AValue) { FCacheUpdated = AValue; }
    // The matrices the context receives; an empty cache first becomes one identity.
    const TMatrix3D* CachedInstancesPtr();
    int CachedInstancesCount();

    // Marks the cache stale and rebuilds it.
    void Changed();
    // Nothing when up to date; else [identity, item matrices...], handed on to
    // every sub-mesh of the owning mesh.
    void UpdateInstanceCache();
    // The cache := every matrix of AInstances multiplied by ABaseTransform.
    void UpdateInstanceCache(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances);
    // A copy of the cache, brought up to date first.
    std::vector<TMatrix3D> ToArray();
    // Raises "failed to get instance transformation - invalid instance index".
    TMatrix3D GetInstance(int AIndex) const;
    // Raises "failed to set instance transformation - invalid instance index";
    // the cache stays marked up to date.
    void SetInstance(int AIndex, const TMatrix3D& AValue);
    // With ACreateItem: a new item of that transform and display name, and its
    // item index. Without: a raw matrix appended to the cache, and its index there.
    int AddInstance(const TMatrix3D& ATransform, bool ACreateItem, const std::string& AName);
    // With items: deletes item AIndex; without: removes raw element AIndex
    // (element 0 is only reset). False for an index that does not exist.
    bool DeleteInstance(int AIndex);
    // No items; the cache is one identity matrix.
    void ClearInstances();

protected:
    void Update(TCollectionItem* Item) override;

private:
    std::vector<TMatrix3D> FCachedInstances;
    bool FCacheUpdated = false;
};

// ---------------------------------------------------------------- read-only collections

// A collection that only mirrors what it is filled with: setting a display
// name does nothing.
class TKorvaneReadOnlyCollection : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneReadOnlyCollection, TOwnedCollection)
    TKorvaneReadOnlyCollection(TPersistent* AOwner, TClass AItemClass) : TOwnedCollection(AOwner, AItemClass) {}

    // True when this call opened the update (the outermost one).
    bool BeginUpdate()
    {
        TCollection::BeginUpdate();
        return ++FUpdating == 1;
    }
    void EndUpdate()
    {
        if (FUpdating > 0) --FUpdating;
        TCollection::EndUpdate();
    }

private:
    int FUpdating = 0;
};

class TKorvaneMeshMaterialCollectionItem : public TCollectionItem {
    KORVANE_CLASS(TKorvaneMeshMaterialCollectionItem, TCollectionItem)
    explicit TKorvaneMeshMaterialCollectionItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    TMaterialSource* Material() const { return FMaterial; }
    void SetMaterial(TMaterialSource* AValue) { FMaterial = AValue; }
    // The source's name; empty without one.
    std::string DisplayName() const override;
    void SetDisplayName(const std::string&) override {}
    void Assign(const TPersistent* Source) override;

private:
    TMaterialSource* FMaterial = nullptr;
};

class TKorvaneMeshBehaviourCollectionItem : public TCollectionItem {
    KORVANE_CLASS(TKorvaneMeshBehaviourCollectionItem, TCollectionItem)
    explicit TKorvaneMeshBehaviourCollectionItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    TKorvaneMaterialBehaviour* Behaviour() const { return FBehaviour; }
    // The behaviour's name, or its unique identifier when the name is empty.
    std::string DisplayName() const override;
    void SetDisplayName(const std::string&) override {}
    void Assign(const TPersistent* Source) override;

private:
    friend class TKorvaneMeshBehaviourCollection;
    TKorvaneMaterialBehaviour* FBehaviour = nullptr;
};

class TKorvaneMeshCollectionItem : public TCollectionItem {
    KORVANE_CLASS(TKorvaneMeshCollectionItem, TCollectionItem)
    explicit TKorvaneMeshCollectionItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    TKorvaneMesh* Mesh() const { return FMesh; }
    void SetMesh(TKorvaneMesh* AValue) { FMesh = AValue; }
    // The mesh's name, or its qualified name when the name is empty.
    std::string DisplayName() const override;
    void SetDisplayName(const std::string&) override {}
    void Assign(const TPersistent* Source) override;

private:
    TKorvaneMesh* FMesh = nullptr;
};

class TKorvaneMeshMaterialCollection : public TKorvaneReadOnlyCollection {
    KORVANE_CLASS(TKorvaneMeshMaterialCollection, TKorvaneReadOnlyCollection)
    explicit TKorvaneMeshMaterialCollection(TKorvaneMesh* AOwner);

    TKorvaneMeshMaterialCollectionItem* Items(int AIndex) const
    {
        return static_cast<TKorvaneMeshMaterialCollectionItem*>(TCollection::Items(AIndex));
    }
    // Clears the collection, then lists the mesh's material source and,
    // recursively, its sub-meshes' (each once).
    static void Update(TKorvaneMeshMaterialCollection* ACollection, TKorvaneMesh* AMesh);
    bool MaterialExists(const TMaterialSource* AMaterial) const;
    // Items drop a removed component.
    void Notification(TComponent* AComponent, TOperation AOperation);

private:
    static void Fill(TKorvaneMeshMaterialCollection* ACollection, TKorvaneMesh* AMesh);
};

class TKorvaneMeshBehaviourCollection : public TKorvaneReadOnlyCollection {
    KORVANE_CLASS(TKorvaneMeshBehaviourCollection, TKorvaneReadOnlyCollection)
    explicit TKorvaneMeshBehaviourCollection(TKorvaneMesh* AOwner);

    TKorvaneMeshBehaviourCollectionItem* Items(int AIndex) const
    {
        return static_cast<TKorvaneMeshBehaviourCollectionItem*>(TCollection::Items(AIndex));
    }
    // Clears the collection, then lists the behaviours of the mesh's material
    // and, recursively, of its sub-meshes' (each once, nil skipped).
    static void Update(TKorvaneMeshBehaviourCollection* ACollection, TKorvaneMesh* AMesh);
    bool BehaviourExists(const TKorvaneMaterialBehaviour* ABehaviour) const;
    void Notification(TComponent* AComponent, TOperation AOperation);

private:
    static void Fill(TKorvaneMeshBehaviourCollection* ACollection, TKorvaneMesh* AMesh);
};

class TKorvaneMeshCollection : public TKorvaneReadOnlyCollection {
    KORVANE_CLASS(TKorvaneMeshCollection, TKorvaneReadOnlyCollection)
    explicit TKorvaneMeshCollection(TKorvaneMesh* AOwner);

    TKorvaneMeshCollectionItem* Items(int AIndex) const
    {
        return static_cast<TKorvaneMeshCollectionItem*>(TCollection::Items(AIndex));
    }
    // Clears the collection, then lists the direct sub-meshes (one level);
    // nothing while the collection is already updating.
    static void Update(TKorvaneMeshCollection* ACollection, TKorvaneMesh* AMesh);
    bool MeshExists(const TKorvaneMesh* AMesh) const;
    void Notification(TComponent* AComponent, TOperation AOperation);
};

} // namespace korvane
