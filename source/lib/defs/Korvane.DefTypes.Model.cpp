#include "Korvane.DefTypes.Model.h"

#include <algorithm>

#include "Korvane.AssetsManager.h"
#include "Platform.Log.h"
#include "Platform.Threads.h"

namespace korvane {

namespace {

TModelDef* AsModel(TCustomDef* ADef) { return dynamic_cast<TModelDef*>(ADef); }

// Slashes become backslashes, then each pair of backslashes one (a single
// pass from left to right, so four become two).
std::string NormalizePath(std::string_view APath)
{
    std::string slashed(APath);
    std::replace(slashed.begin(), slashed.end(), '/', '\\');
    std::string result;
    result.reserve(slashed.size());
    for (size_t i = 0; i < slashed.size(); ++i) {
        result += slashed[i];
        if (slashed[i] == '\\' && i + 1 < slashed.size() && slashed[i + 1] == '\\') ++i;
    }
    return result;
}

// The text after the last backslash or colon.
std::string_view FileNamePart(std::string_view APath)
{
    const size_t pos = APath.find_last_of("\\:");
    return pos == std::string_view::npos ? APath : APath.substr(pos + 1);
}

template <typename T>
T* FindById(const std::unique_ptr<std::vector<TOwned<T>>>& AList, const std::string& AId)
{
    if (AList)
        for (const auto& item : *AList)
            if (item->Id() == AId) return item.get();
    return nullptr;
}

template <typename T>
T* ItemAt(const std::unique_ptr<std::vector<TOwned<T>>>& AList, int AIndex)
{
    if (!AList || AIndex < 0 || static_cast<size_t>(AIndex) >= AList->size()) return nullptr;
    return (*AList)[size_t(AIndex)].get();
}

template <typename T>
void Append(std::unique_ptr<std::vector<TOwned<T>>>& AList, T* AItem)
{
    if (!AList) AList = std::make_unique<std::vector<TOwned<T>>>();
    AList->emplace_back(AItem);
}

template <typename T>
bool Holds(const std::unique_ptr<std::vector<TOwned<T>>>& AList, const T* AItem)
{
    return AList && std::any_of(AList->begin(), AList->end(), [&](const auto& item) { return item.get() == AItem; });
}

template <typename T>
void WriteList(TJSONObject& AObj, const char* AName, const std::unique_ptr<std::vector<TOwned<T>>>& AList)
{
    if (!AList) return;
    auto array = std::make_unique<TJSONArray>();
    array->Reserve(static_cast<int>(AList->size()));
    for (const auto& item : *AList) array->Add(item->ToJSON());
    AObj.AddPair(AName, std::move(array));
}

template <typename T>
int64_t ListSize(const std::unique_ptr<std::vector<TOwned<T>>>& AList)
{
    if (!AList) return 0;
    int64_t size = int64_t(sizeof(*AList));
    for (const auto& item : *AList) size += item->GetSize();
    return size;
}

// The key of an Id in the lookup indexes: A-Z ignoring case, as SameText compares.
std::string LookupKey(std::string_view AId)
{
    std::string key(AId);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

// Calls AProc for each element of the array under AName, which must be an object.
template <typename F>
void ForEachObject(const TJSONObject& AValue, const char* AName, F&& AProc)
{
    const TJSONValue* value = AValue.GetValue(AName);
    const auto* array = value ? value->TryAs<TJSONArray>() : nullptr;
    if (!array) return;
    for (const auto& element : *array) AProc(element->As<TJSONObject>());
}

void InstallModelServices()
{
    auto& s = ModelDefServices();
    s.AsModel = AsModel;
    s.FindDefById = [](TModelDef* AModel, const std::string& AId) { return AModel->FindDefById(AId); };
    s.Root = [](TModelDef* AModel) -> TTransformDef* { return AModel; };
    s.FindMaterialById = [](TModelDef* AModel, const std::string& AId) { return AModel->FindMaterialById(AId); };
    s.AddLateResolve = [](TModelDef* AModel, TCustomDef* ADef, const TJSONObject& AValue) {
        AModel->AddLateResolve(ADef, AValue);
    };
    s.AddMaterial = [](TModelDef* AModel, const std::string& AId, TMaterialDef* AMaterial) {
        AModel->AddMaterial(AId, AMaterial);
    };
    s.FindBehaviourById = [](TModelDef* AModel, const std::string& AId) { return AModel->FindBehaviourById(AId); };
    s.AddLight = [](TModelDef* AModel, TLightDef* ALight) { AModel->AddLight(ALight); };
    s.AddCamera = [](TModelDef* AModel, TCameraDef* ACamera) { AModel->AddCamera(ACamera); };
    s.RegisterTextureAsset = [](TModelDef* AModel, TKorvaneTextureAsset* AAsset) { AModel->RegisterTextureAsset(AAsset); };
    s.TryGetTextureAsset = [](TModelDef* AModel, TKorvaneTextureAsset* AAsset) {
        return AModel->TryGetTextureAsset(AAsset);
    };
    s.Package = [](TModelDef* AModel) { return AModel->Package(); };
    s.Asset = [](TModelDef* AModel) { return AModel->Asset(); };
    s.Filename = [](TModelDef* AModel) { return AModel->Filename(); };
    s.FindJointById = [](TModelDef* AModel, const std::string& AId) { return AModel->FindJointById(AId); };
    s.FindControllerById = [](TModelDef* AModel, const std::string& AId, bool AThrowException) {
        return AModel->FindControllerById(AId, AThrowException);
    };
}

} // namespace

namespace units {
void DefTypesModelInitialize()
{
    RegisterClass(TModelDef::StaticClass());
    InstallModelServices();
}
void DefTypesModelFinalize()
{
    ModelDefServices() = TModelDefServices{};
    TModelDef::AnimationCachingFactory() = nullptr;
}
} // namespace units

TClass TModelDef::StaticClass()
{
    // A model is never read as a child node: its class has no node constructor.
    static const TClassInfo<TModelDef, TTransformDefMetaClass> info(DefTypesUnitName);
    return &info;
}

TAnimationCachingFactory& TModelDef::AnimationCachingFactory()
{
    static TAnimationCachingFactory factory;
    return factory;
}

// ---- construction and destruction ----

TModelDef::TModelDef(TMeshDef* AOwner, TKorvaneAssetsPackage* APackage)
    : TMeshDef(AOwner), FPackage(APackage),
      FTextureAssets(std::make_unique<std::vector<TKorvaneTextureAsset*>>()), FMetaData(MakeOwned<TModelMetaDef>())
{
    SetId(Format("Model_%d", static_cast<int64_t>(reinterpret_cast<intptr_t>(this))));
}

TModelDef::~TModelDef() { ReleaseAll(); }

void TModelDef::BeforeDestruction()
{
    // Everything goes while the model is still a model: its definitions look
    // it up (and their queued work checks it) on the way out.
    ReleaseAll();
    TMeshDef::BeforeDestruction();
}

void TModelDef::CancelBaking()
{
    FCancelBake = true;
    if (FAnimations)
        for (const auto& animation : *FAnimations) animation->CancelCaching();
    std::unique_lock lock(FBakeLock);
    if (FBakers == 0) return;
    if (std::find(FBakeThreads.begin(), FBakeThreads.end(), std::this_thread::get_id()) != FBakeThreads.end()) {
        // The bake that frees its own model cannot be waited for; it stops
        // storing frames, and its caller must not touch the model again.
        Log::d("<ERROR> model %s freed by its own animation bake", Id());
        return;
    }
    FBakeDone.wait(lock, [&] { return FBakers == 0; });
}

void TModelDef::ReleaseAll()
{
    if (FReleased) return;
    FReleased = true;
    CancelBaking();
    FCurrentAnimation = nullptr;
    FMetaData.reset();
    FBehaviours.clear();
    // The table frees its materials; a sub-material it frees leaves its parent.
    FMaterialIndex.clear();
    FMaterials.clear();
    FUnlistedMaterials.clear();
    ClearTextureAssets();
    FControllers.reset();
    FArmatures.reset();
    FAnimations.reset();
    FLights.reset();
    FCameras.reset();
}

// ---- texture assets ----

bool TModelDef::TextureAssetExists(TObject* AAsset) const
{
    auto* asset = dynamic_cast<TKorvaneTextureAsset*>(AAsset);
    if (!asset || !FTextureAssets) return false;
    const auto& list = *FTextureAssets;
    return std::find(list.begin(), list.end(), asset) != list.end() ||
           std::any_of(list.begin(), list.end(),
                       [&](auto* item) { return item->OriginalFilename() == asset->OriginalFilename(); }) ||
           std::any_of(list.begin(), list.end(), [&](auto* item) { return item->Filename() == asset->Filename(); });
}

void TModelDef::RegisterTextureAsset(TKorvaneTextureAsset* AAsset)
{
    if (!AAsset || TextureAssetExists(AAsset)) return;
    if (!FTextureAssets) FTextureAssets = std::make_unique<std::vector<TKorvaneTextureAsset*>>();
    FTextureAssets->push_back(AAsset);
}

TKorvaneTextureAsset* TModelDef::TryGetTextureAsset(TObject* AAsset) const
{
    auto* asset = dynamic_cast<TKorvaneTextureAsset*>(AAsset);
    if (!asset || !FTextureAssets) return nullptr;
    const auto& list = *FTextureAssets;
    if (std::find(list.begin(), list.end(), asset) != list.end()) return asset;
    const std::string original = NormalizePath(asset->OriginalFilename());
    for (auto* item : list)
        if (NormalizePath(item->OriginalFilename()) == original) return item;
    const std::string name = NormalizePath(asset->Filename());
    for (auto* item : list)
        if (FileNamePart(NormalizePath(item->Filename())) == FileNamePart(name)) return item;
    return nullptr;
}

void TModelDef::ClearTextureAssets()
{
    if (!FTextureAssets) return;
    for (TKorvaneTextureAsset* asset : *FTextureAssets)
        if (asset->IsStandalone()) asset->Free();
    FTextureAssets.reset();
}

// ---- materials ----

void TModelDef::AddMaterial(const std::string& AId, TMaterialDef* AMaterial)
{
    if (FMaterialIndex.count(AId)) throw EListError("Duplicates not allowed");
    FMaterials.emplace_back(AId, TOwned<TMaterialDef>(AMaterial));
    FMaterialIndex.emplace(AId, AMaterial);
}

TMaterialDef* TModelDef::FindMaterialById(const std::string& AId) const
{
    const auto it = FMaterialIndex.find(AId);
    return it == FMaterialIndex.end() ? nullptr : it->second;
}

// ---- behaviours ----

void TModelDef::AddBehaviour(TBehaviourDef* ABehaviour)
{
    if (ABehaviour) FBehaviours.emplace_back(ABehaviour);
}

TMaterialBehaviourDef* TModelDef::AddNewMaterialBehaviour()
{
    auto* behaviour = new TMaterialBehaviourDef();
    AddBehaviour(behaviour);
    return behaviour;
}

int TModelDef::IndexOfBehaviourById(const std::string& AUniqueId) const
{
    for (size_t i = 0; i < FBehaviours.size(); ++i)
        if (FBehaviours[i]->Id() == AUniqueId) return static_cast<int>(i);
    return -1;
}

TBehaviourDef* TModelDef::FindBehaviourById(const std::string& AUniqueId) const
{
    const int index = IndexOfBehaviourById(AUniqueId);
    return index < 0 ? nullptr : FBehaviours[size_t(index)].get();
}

TBehaviourDef* TModelDef::GetBehaviour(const TBehaviourRefDef* ARef) const
{
    return ARef ? FindBehaviourById(ARef->Id()) : nullptr;
}

void TModelDef::RemoveBehaviour(const TBehaviourRefDef* ARef)
{
    if (ARef) RemoveBehaviourById(ARef->Id());
}

void TModelDef::RemoveBehaviourById(const std::string& AUniqueId)
{
    const int index = IndexOfBehaviourById(AUniqueId);
    if (index >= 0) FBehaviours.erase(FBehaviours.begin() + index);
}

// ---- lights, cameras, armatures, controllers, animations ----

void TModelDef::AddLight(TLightDef* ALight) { Append(FLights, ALight); }
void TModelDef::AddCamera(TCameraDef* ACamera) { Append(FCameras, ACamera); }
void TModelDef::AddAnimation(TAnimationDef* AAnimation) { Append(FAnimations, AAnimation); }

void TModelDef::AddArmature(TArmatureDef* AArmature)
{
    if (!FArmatures) FArmatures = std::make_unique<std::vector<TOwned<TArmatureDef>>>();
    if (!Holds(FArmatures, AArmature)) FArmatures->emplace_back(AArmature);
}

void TModelDef::AddController(TControllerDef* AController)
{
    Append(FControllers, AController);
    AController->SetIndex(static_cast<int>(FControllers->size()) - 1);
}

TAnimationDef* TModelDef::AddEmptyAnimation(const std::string& AId)
{
    auto* animation = new TAnimationDef(this);
    animation->SetId(AId);
    AddAnimation(animation);
    return animation;
}

TLightDef* TModelDef::GetLight(int AIndex) const { return ItemAt(FLights, AIndex); }
TCameraDef* TModelDef::GetCamera(int AIndex) const { return ItemAt(FCameras, AIndex); }
TLightDef* TModelDef::FindLightById(const std::string& AId) const { return FindById(FLights, AId); }
TCameraDef* TModelDef::FindCameraById(const std::string& AId) const { return FindById(FCameras, AId); }
TAnimationDef* TModelDef::FindAnimationById(const std::string& AId) const { return FindById(FAnimations, AId); }

TArmatureDef* TModelDef::FindArmatureById(const std::string& AId) const
{
    return AId.empty() ? nullptr : FindById(FArmatures, AId);
}

TArmatureDef* TModelDef::GetArmatureBySkeleton(TJointDef* ASkeletonJoint) const
{
    if (!ASkeletonJoint) return nullptr;
    if (TArmatureDef* own = ASkeletonJoint->Armature()) return own;
    if (FArmatures)
        for (const auto& armature : *FArmatures)
            if (armature->Root() == ASkeletonJoint) return armature.get();
    return nullptr;
}

TJointDef* TModelDef::FindJointById(const std::string& AName) const
{
    if (FArmatures)
        for (const auto& armature : *FArmatures)
            if (TJointDef* joint = armature->FindJointById(AName)) return joint;
    return nullptr;
}

TControllerDef* TModelDef::FindControllerById(const std::string& AName, bool AThrowException) const
{
    if (FControllerIndex && FControllers) {
        const auto it = FControllerIndex->find(LookupKey(AName));
        if (it != FControllerIndex->end()) return (*FControllers)[it->second].get();
    } else if (FControllers) {
        for (const auto& controller : *FControllers) {
            const std::string& id = controller->Id();
            if (SameText(id, AName) ||
                (AName.size() == id.size() + 1 && AName[0] == '#' && SameText(id, std::string_view(AName).substr(1))))
                return controller.get();
        }
    }
    if (AThrowException) throw Exception(Format("controller with id \"%s\" not found", AName));
    return nullptr;
}

TControllerDef* TModelDef::FindControllerByTransform(const TTransformDef* ATransform, bool AThrowException) const
{
    if (FControllers)
        for (const auto& controller : *FControllers)
            if (controller->Target() == ATransform) return controller.get();
    if (!AThrowException) return nullptr;
    const std::string id = ATransform ? ATransform->Id() : std::string();
    if (FControllers) throw Exception(Format("controller for mesh \"%s\" not found", id));
    throw Exception(Format("controller for transform \"%s\" not found", id));
}

TCustomDef* TModelDef::FindDefById(const std::string& AId)
{
    if (Id() == AId) return this;
    if (TTransformDef* node = FindChildById(AId, false)) return node;
    if (TLightDef* light = FindLightById(AId)) return light;
    if (TCameraDef* camera = FindCameraById(AId)) return camera;
    if (TAnimationDef* animation = FindAnimationById(AId)) return animation;
    if (TControllerDef* controller = FindControllerById(AId, false)) return controller;
    if (TArmatureDef* armature = FindArmatureById(AId)) return armature;
    return FindJointById(AId);
}

// ---- geometry over the child meshes ----

void TModelDef::CalcFaceNormals(bool PropagateFaceNormalsToVertices)
{
    ForEachChildMesh([&](TMeshDef* mesh) { mesh->CalcFaceNormals(PropagateFaceNormalsToVertices, true); });
}

void TModelDef::CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon)
{
    ForEachChildMesh([&](TMeshDef* mesh) { mesh->CalcSmoothNormals(Method, WeldEpsilon, true); });
}

void TModelDef::CalcTangentBinormals()
{
    ForEachChildMesh([&](TMeshDef* mesh) { mesh->CalcTangentBinormals(true); });
}

// ---- bitmap cache ----

void TModelDef::RequestBitmapCache(TKorvaneBitmapCache* ACache)
{
    if (!ACache) return;
    ACache->Clear();
    if (!FTextureAssets) return;
    for (TKorvaneTextureAsset* asset : *FTextureAssets)
        ACache->Add()->SetBitmapReference(asset->OriginalFilename(), asset->GetBitmap());
}

void TModelDef::ApplyBitmapCache(TKorvaneBitmapCache* ACache)
{
    if (!ACache) return;
    for (int i = 0; i < ACache->Count(); ++i) {
        TKorvaneBitmapCacheEntry* entry = ACache->Items(i);
        // The asset takes the entry's own bitmap; a bitmap the entry only
        // borrows belongs to someone else, so the asset gets a copy of it.
        TOwned<TBitmap> bitmap;
        if (entry->Bitmap() && entry->IsOnlyRef()) {
            bitmap = MakeOwned<TBitmap>();
            bitmap->Assign(entry->Bitmap());
        }
        auto asset = MakeOwned<TKorvaneTextureAsset>(nullptr);
        asset->ImportFromCachedBitmap(entry->Filename(), bitmap ? std::move(bitmap) : TOwned<TBitmap>(entry->Bitmap()));
        entry->SetIsOnlyRef(true);
        if (!FTextureAssets) FTextureAssets = std::make_unique<std::vector<TKorvaneTextureAsset*>>();
        FTextureAssets->push_back(asset.release());
    }
}

// ---- animation baking ----

void TModelDef::CacheAnimations(const std::vector<TValue>& ASelected, TAnimationCachingFlags AFlags, TComponent* AModel)
{
    const int64_t start = TStopwatch::GetTimeStamp();
    if (!FAnimations || FAnimations->empty()) return;
    {
        std::lock_guard lock(FBakeLock);
        if (FCancelBake) return;
        ++FBakers;
        FBakeThreads.push_back(std::this_thread::get_id());
    }
    // The model waits for this run to leave before it frees anything.
    struct TLeave {
        TModelDef* Model;
        ~TLeave()
        {
            std::lock_guard lock(Model->FBakeLock);
            auto& threads = Model->FBakeThreads;
            threads.erase(std::find(threads.begin(), threads.end(), std::this_thread::get_id()));
            if (--Model->FBakers == 0) Model->FBakeDone.notify_all();
        }
    } leave{this};

    std::vector<std::string> selected;
    for (const TValue& value : ASelected)
        if (value.IsType<std::string>()) selected.push_back(value.AsString());
    const auto isSelected = [&](const TAnimationDef& AAnimation) {
        return ASelected.empty() || std::find(selected.begin(), selected.end(), AAnimation.Id()) != selected.end();
    };

    const TAnimationCachingFactory& factory = AnimationCachingFactory();
    if (!factory) throw Exception("failed to cache model animations - no animation caching installed");
    TOwned<TAnimationCaching> caching = factory(this, AFlags, AModel);
    int count = 0;
    for (const auto& animation : *FAnimations) {
        if (FCancelBake) break;
        if (!isSelected(*animation) || animation->BufferingState() != TAnimationBufferingState::None) continue;
        animation->Cache(caching.get());
        ++count;
    }
    caching.reset();
    const double elapsed = double(TStopwatch::GetTimeStamp() - start) * 1000.0 / double(TStopwatch::Frequency);
    Log::d("Caching %d animations: elapsed time %n ms", count, elapsed);
}

// ---- JSON ----

void TModelDef::AddLateResolve(TCustomDef* ADef, const TJSONObject& AValue)
{
    if (!FLateResolve || !ADef) return;
    auto& list = *FLateResolve;
    if (const auto it = list.Index.find(ADef); it != list.Index.end()) {
        list.Items[it->second].second = &AValue;
        return;
    }
    list.Index.emplace(ADef, list.Items.size());
    list.Items.emplace_back(ADef, &AValue);
}

void TModelDef::FromJSON(const TJSONObject& AValue)
{
    FLateResolve = std::make_unique<TLateResolveList>();
    const auto finish = [this] {
        FLateResolve.reset();
        FTargetIndex.reset();
        FControllerIndex.reset();
    };
    try {
        ReadModel(AValue);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

TTransformDef* TModelDef::FindControllerTarget(const std::string& AId)
{
    if (!FTargetIndex) {
        FTargetIndex = std::make_unique<std::unordered_map<std::string, std::vector<TTransformDef*>>>();
        Traverse(true, [&](TTransformDef*, int, TTransformDef* AChild) {
            const std::string key = LookupKey(AChild->Id());
            (*FTargetIndex)[key].push_back(AChild);
            (*FTargetIndex)["#" + key].push_back(AChild);
            return true;
        });
    }
    const auto it = FTargetIndex->find(LookupKey(AId));
    // Several nodes of that Id: the walk that stops at a match decides which.
    if (it == FTargetIndex->end() || it->second.size() > 1) return FindChildById(AId, true);
    return it->second.front();
}

void TModelDef::ReadModel(const TJSONObject& AValue)
{
    FFilename = URLDecode(JSONGetString(AValue, "Filename", ""));

    ForEachObject(AValue, "Behaviours", [&](const TJSONObject& AObject) {
        const std::string type = JSONGetString(AObject, "Type", "TMaterialBehaviourDef");
        if (type != "TMaterialBehaviourDef")
            throw Exception(Format("reading model data failed - unsupported behaviour class \"%s\" found", type));
        TMaterialBehaviourDef* behaviour = AddNewMaterialBehaviour();
        behaviour->FromJSON(this, AObject);
        AddLateResolve(behaviour, AObject);
    });

    ForEachObject(AValue, "Materials", [&](const TJSONObject& AObject) {
        // The table takes the material when it registers under its Id.
        auto material = MakeOwned<TMaterialDef>(this);
        try {
            material->FromJSON(this, AObject);
        } catch (...) {
            if (material->RegisteredWithModel()) material.release();
            throw;
        }
        TMaterialDef* read = material.get();
        // No one can refer to a material without an Id; the model still
        // frees it (and what of it waits for late resolution stays valid).
        if (material->RegisteredWithModel()) material.release();
        else FUnlistedMaterials.push_back(std::move(material));
        AddLateResolve(read, AObject);
    });

    TMeshDef::FromJSON(this, AValue);

    // A new light or camera joins its model's list in its constructor.
    ForEachObject(AValue, "Lights", [&](const TJSONObject& AObject) {
        auto* light = new TLightDef(this);
        if (!Holds(FLights, light)) AddLight(light);
        light->FromJSON(this, AObject);
        AddLateResolve(light, AObject);
    });
    ForEachObject(AValue, "Cameras", [&](const TJSONObject& AObject) {
        auto* camera = new TCameraDef(this);
        if (!Holds(FCameras, camera)) AddCamera(camera);
        camera->FromJSON(this, AObject);
        AddLateResolve(camera, AObject);
    });

    // Definitions join their lists before they read, so that what a failed
    // reading made is the model's to free.
    const TJSONValue* armatures = AValue.GetValue("Armatures");
    const char* armatureKey = armatures && armatures->TryAs<TJSONArray>() ? "Armatures" : "Humanoids";
    ForEachObject(AValue, armatureKey, [&](const TJSONObject& AObject) {
        auto* armature = new TArmatureDef(this);
        AddArmature(armature);
        armature->FromJSON(this, AObject);
        AddLateResolve(armature, AObject);
    });

    ForEachObject(AValue, "Controllers", [&](const TJSONObject& AObject) {
        std::string target = JSONGetString(AObject, "Target", "");
        if (target.empty()) target = JSONGetString(AObject, "Mesh", "");
        if (target.empty())
            throw Exception(Format("failed to load controller %s - mesh id not set", JSONGetString(AObject, "Id", "")));
        auto* controller = new TControllerDef(FindControllerTarget(target));
        AddController(controller);
        controller->FromJSON(this, AObject);
        AddLateResolve(controller, AObject);
    });

    ForEachObject(AValue, "Animations", [&](const TJSONObject& AObject) {
        auto* animation = new TAnimationDef(this);
        AddAnimation(animation);
        animation->FromJSON(this, AObject);
        AddLateResolve(animation, AObject);
    });

    if (!FMetaData) FMetaData = MakeOwned<TModelMetaDef>();
    if (const TJSONValue* meta = AValue.GetValue("MetaData"))
        if (const auto* object = meta->TryAs<TJSONObject>()) FMetaData->FromJSON(this, *object);

    // Late resolution looks controllers up by Id, once per reference.
    FControllerIndex = std::make_unique<std::unordered_map<std::string, size_t>>();
    if (FControllers)
        for (size_t i = 0; i < FControllers->size(); ++i) {
            const std::string key = LookupKey((*FControllers)[i]->Id());
            FControllerIndex->emplace(key, i);
            FControllerIndex->emplace("#" + key, i);
        }

    // Each definition exactly once; a resolution may still add entries.
    auto& list = FLateResolve->Items;
    for (size_t i = 0; i < list.size(); ++i) {
        const auto [def, json] = list[i];
        def->LateResolveFromJSON(this, *json);
    }
}

std::unique_ptr<TJSONObject> TModelDef::ToJSON() const
{
    auto obj = TMeshDef::ToJSON();
    obj->AddPair("Filename", URLEncode(FFilename));
    auto behaviours = std::make_unique<TJSONArray>();
    for (const auto& behaviour : FBehaviours) behaviours->Add(behaviour->ToJSON());
    obj->AddPair("Behaviours", std::move(behaviours));
    // A sub-material is written inside its layered material; writing it here
    // too would make the model refuse it as a duplicate when read back.
    auto materials = std::make_unique<TJSONArray>();
    for (const auto& [id, material] : FMaterials)
        if (!material->ParentMaterial()) materials->Add(material->ToJSON());
    obj->AddPair("Materials", std::move(materials));
    WriteList(*obj, "Lights", FLights);
    WriteList(*obj, "Cameras", FCameras);
    WriteList(*obj, "Armatures", FArmatures);
    WriteList(*obj, "Controllers", FControllers);
    WriteList(*obj, "Animations", FAnimations);
    if (FMetaData) obj->AddPair("MetaData", FMetaData->ToJSON());
    return obj;
}

int64_t TModelDef::GetSize() const
{
    int64_t size = TMeshDef::GetSize() + StringByteSize(FFilename);
    size += int64_t(sizeof(FMaterials));
    for (const auto& [id, material] : FMaterials) size += StringByteSize(id) + material->GetSize();
    return size + ListSize(FArmatures) + ListSize(FControllers) + ListSize(FAnimations);
}

} // namespace korvane
