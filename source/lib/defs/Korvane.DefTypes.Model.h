#pragma once
// The model definition: the mesh definition at the root of a model. Besides
// its own mesh data and child meshes it holds what a model file describes:
// the file name, materials by Id, material behaviours, lights, cameras,
// armatures, skin controllers, animations, metadata and the texture assets
// its materials use. It is the model every definition reads itself into: the
// definitions register with it, find each other through it and leave
// references that cannot be resolved yet on its late-resolve list, which is
// worked off once the whole model is read.
//
// Ownership: the model owns its materials, behaviours, lights, cameras,
// armatures, controllers, animations, metadata and the stand-alone texture
// assets of its list; the package and the model asset are only referred to.
//
// Baking: CacheAnimations may run on another thread than the one that frees
// the model. Freeing then cancels the bake and waits for it to leave before
// anything is released.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Korvane.DefTypes.Animation.h"
#include "Korvane.DefTypes.Light.h"
#include "Korvane.DefTypes.Material.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.DefTypes.Skin.h"

namespace korvane {

class TComponent;
class TKorvaneAsset;
class TKorvaneAssetsPackage;
class TKorvaneTextureAsset;
class TKorvaneBitmapCache;

// Makes the object that bakes a model's animations for one CacheAnimations
// run; the animation unit installs it. AModel is the model node (may be nullptr).
using TAnimationCachingFactory =
    std::function<TOwned<TAnimationCaching>(TModelDef* ADef, TAnimationCachingFlags AFlags, TComponent* AModel)>;

class TModelDef : public TMeshDef {
    KORVANE_CLASS(TModelDef, TMeshDef)

    // The material table in the order the materials were added.
    using TMaterialList = std::vector<std::pair<std::string, TOwned<TMaterialDef>>>;

    // Id "Model_" and the object's address; an empty material table and
    // behaviour list, new metadata; no light, camera, armature, controller or
    // animation list yet. APackage is not owned.
    explicit TModelDef(TMeshDef* AOwner = nullptr, TKorvaneAssetsPackage* APackage = nullptr);
    ~TModelDef() override;

    TKorvaneAssetsPackage* Package() const { return FPackage; }
    void SetPackage(TKorvaneAssetsPackage* AValue) { FPackage = AValue; }
    TKorvaneAsset* Asset() const { return FAsset; }
    void SetAsset(TKorvaneAsset* AValue) { FAsset = AValue; }
    bool IsStandalone() const { return FIsStandalone; }
    void SetIsStandalone(bool AValue) { FIsStandalone = AValue; }
    const std::string& Filename() const { return FFilename; }
    void SetFilename(std::string AValue) { FFilename = std::move(AValue); }
    TModelMetaDef* MetaData() const { return FMetaData.get(); }
    TAnimationDef* CurrentAnimation() const { return FCurrentAnimation; }
    void SetCurrentAnimation(TAnimationDef* AValue) { FCurrentAnimation = AValue; }

    // The lists; nullptr while absent.
    const std::vector<TKorvaneTextureAsset*>* TextureAssets() const { return FTextureAssets.get(); }
    const TMaterialList& Materials() const { return FMaterials; }
    const std::vector<TOwned<TBehaviourDef>>& Behaviours() const { return FBehaviours; }
    const std::vector<TOwned<TLightDef>>* Lights() const { return FLights.get(); }
    const std::vector<TOwned<TCameraDef>>* Cameras() const { return FCameras.get(); }
    const std::vector<TOwned<TArmatureDef>>* Armatures() const { return FArmatures.get(); }
    const std::vector<TOwned<TArmatureDef>>* Humanoids() const { return FArmatures.get(); }
    const std::vector<TOwned<TControllerDef>>* Controllers() const { return FControllers.get(); }
    const std::vector<TOwned<TAnimationDef>>* Animations() const { return FAnimations.get(); }

    // ---- texture assets ----
    // False unless AAsset is a texture asset; true when the list holds that
    // object, or one of equal OriginalFilename, or one of equal Filename.
    bool TextureAssetExists(TObject* AAsset) const;
    // Appends the asset unless TextureAssetExists.
    void RegisterTextureAsset(TKorvaneTextureAsset* AAsset);
    // The same object, else the first of equal normalised OriginalFilename,
    // else the first whose normalised Filename has the same file-name part.
    TKorvaneTextureAsset* TryGetTextureAsset(TObject* AAsset) const;
    // Frees the stand-alone assets of the list and drops the list.
    void ClearTextureAssets();

    // ---- materials ----
    // The table takes AMaterial; an Id already there raises EListError
    // "Duplicates not allowed" (and the table does not take it).
    void AddMaterial(const std::string& AId, TMaterialDef* AMaterial);
    TMaterialDef* GetMaterial(const std::string& AId) const { return FindMaterialById(AId); }
    TMaterialDef* FindMaterialById(const std::string& AId) const;

    // ---- behaviours ----
    void AddBehaviour(TBehaviourDef* ABehaviour);
    TMaterialBehaviourDef* AddNewMaterialBehaviour();
    TBehaviourDef* FindBehaviourById(const std::string& AUniqueId) const;
    int IndexOfBehaviourById(const std::string& AUniqueId) const;
    TBehaviourDef* GetBehaviour(const TBehaviourRefDef* ARef) const;
    void RemoveBehaviour(const TBehaviourRefDef* ARef);
    void RemoveBehaviourById(const std::string& AUniqueId);
    void ClearBehaviours() { FBehaviours.clear(); }

    // ---- lights, cameras, armatures, controllers, animations ----
    void AddLight(TLightDef* ALight);
    void AddCamera(TCameraDef* ACamera);
    void AddAnimation(TAnimationDef* AAnimation);
    // Appends unless the armature is listed already.
    void AddArmature(TArmatureDef* AArmature);
    void AddHumanoid(TArmatureDef* AArmature) { AddArmature(AArmature); }
    // Appends and sets the controller's Index to its position.
    void AddController(TControllerDef* AController);
    TAnimationDef* AddEmptyAnimation(const std::string& AId);
    TLightDef* GetLight(int AIndex) const;
    TCameraDef* GetCamera(int AIndex) const;
    TLightDef* FindLightById(const std::string& AId) const;
    TCameraDef* FindCameraById(const std::string& AId) const;
    TArmatureDef* FindArmatureById(const std::string& AId) const;
    TArmatureDef* FindHumanoidById(const std::string& AId) const { return FindArmatureById(AId); }
    TArmatureDef* GetArmatureBySkeleton(TJointDef* ASkeletonJoint) const;
    TArmatureDef* GetHumanoidBySkeleton(TJointDef* ASkeletonJoint) const { return GetArmatureBySkeleton(ASkeletonJoint); }

    // ---- bitmap cache ----
    // Empties the cache and lends it every texture asset's bitmap under the
    // asset's OriginalFilename.
    void RequestBitmapCache(TKorvaneBitmapCache* ACache);
    // Takes every entry's bitmap into a new stand-alone texture asset of the
    // model; the entries keep only a reference.
    void ApplyBitmapCache(TKorvaneBitmapCache* ACache);

    // ---- operations over the model ----
    virtual void CalcFaceNormals(bool PropagateFaceNormalsToVertices);
    virtual void CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon);
    virtual void CalcTangentBinormals();
    using TMeshDef::CalcFaceNormals;
    using TMeshDef::CalcSmoothNormals;
    using TMeshDef::CalcTangentBinormals;
    // Id or "#" and Id, ignoring case; without a match raises "controller with
    // id "%s" not found" or gives nullptr.
    virtual TControllerDef* FindControllerById(const std::string& AName, bool AThrowException) const;
    virtual TControllerDef* FindControllerByTransform(const TTransformDef* ATransform, bool AThrowException) const;
    virtual TJointDef* FindJointById(const std::string& AName) const;
    virtual TAnimationDef* FindAnimationById(const std::string& AId) const;
    // The model, then the tree, lights, cameras, animations, controllers,
    // armatures and joints; nullptr when nothing has that Id.
    virtual TCustomDef* FindDefById(const std::string& AId);

    // Bakes the selected animations (the strings of ASelected are animation
    // Ids; none selects all) that are not baked yet, and logs the time taken.
    void CacheAnimations(const std::vector<TValue>& ASelected, TAnimationCachingFlags AFlags, TComponent* AModel);
    static TAnimationCachingFactory& AnimationCachingFactory();

    // ---- JSON ----
    // Reads a whole model (see the .cpp); the late-resolve list lives only
    // while it runs.
    virtual void FromJSON(const TJSONObject& AValue);
    using TMeshDef::FromJSON;
    // The mesh part, "Filename" (URL-encoded), the lists that exist and "MetaData".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    int64_t GetSize() const override;

    // Puts ADef with its JSON object on the late-resolve list (one entry per
    // definition); nothing while no model is being read.
    void AddLateResolve(TCustomDef* ADef, const TJSONObject& AValue);

protected:
    void BeforeDestruction() override;
    int64_t InstanceSize() const override { return sizeof(TModelDef); }

private:
    // The late-resolve list: definitions in the order they were first put there.
    struct TLateResolveList {
        std::vector<std::pair<TCustomDef*, const TJSONObject*>> Items;
        std::unordered_map<TCustomDef*, size_t> Index;
    };

    void ReadModel(const TJSONObject& AValue);
    // FindChildById(AId, true) for the reading of many controllers: one index
    // of the tree instead of one walk of the whole tree per controller.
    TTransformDef* FindControllerTarget(const std::string& AId);
    // Cancels a bake that runs on another thread and waits until it has left.
    void CancelBaking();
    void ReleaseAll();

    std::unique_ptr<TLateResolveList> FLateResolve;
    // While a model is read: the tree's nodes by lower-case Id and "#" and
    // Id (all nodes of that key, in walk order), and the controllers' first
    // positions by the same keys once all controllers are read.
    std::unique_ptr<std::unordered_map<std::string, std::vector<TTransformDef*>>> FTargetIndex;
    std::unique_ptr<std::unordered_map<std::string, size_t>> FControllerIndex;
    TKorvaneAssetsPackage* FPackage = nullptr;
    TKorvaneAsset* FAsset = nullptr;
    bool FIsStandalone = false;
    std::string FFilename;
    std::unique_ptr<std::vector<TKorvaneTextureAsset*>> FTextureAssets;
    TMaterialList FMaterials;
    std::unordered_map<std::string, TMaterialDef*> FMaterialIndex;
    // Materials read without an Id: no table takes them, the model frees them.
    std::vector<TOwned<TMaterialDef>> FUnlistedMaterials;
    std::vector<TOwned<TBehaviourDef>> FBehaviours;
    std::unique_ptr<std::vector<TOwned<TLightDef>>> FLights;
    std::unique_ptr<std::vector<TOwned<TCameraDef>>> FCameras;
    std::unique_ptr<std::vector<TOwned<TArmatureDef>>> FArmatures;
    std::unique_ptr<std::vector<TOwned<TControllerDef>>> FControllers;
    std::unique_ptr<std::vector<TOwned<TAnimationDef>>> FAnimations;
    TAnimationDef* FCurrentAnimation = nullptr;
    TOwned<TModelMetaDef> FMetaData;

    // Baking state: how many CacheAnimations runs are inside, on which thread
    // the last one started, and whether the model is going.
    std::mutex FBakeLock;
    std::condition_variable FBakeDone;
    int FBakers = 0;
    std::vector<std::thread::id> FBakeThreads;
    std::atomic<bool> FCancelBake{false};
    bool FReleased = false;
};

} // namespace korvane
