#pragma once
// A small model for the definition tests: a tree root that owns a material
// table, behaviours, lights, cameras, armatures, skin controllers, animations,
// metadata and texture assets, answers the
// model services the definitions call, and reads and writes those parts of a
// model JSON with one late-resolution pass at the end of reading.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Korvane.AssetsManager.h"
#include "Korvane.DefTypes.Animation.h"
#include "Korvane.DefTypes.Light.h"
#include "Korvane.DefTypes.Material.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.DefTypes.Skin.h"

namespace korvane::test {

class TTestModel : public TTransformDef {
public:
    TTestModel() : TTransformDef(nullptr), MetaData(MakeOwned<TModelMetaDef>()) { SetId("Model_1"); }
    ~TTestModel() override
    {
        MetaData.reset();
        Controllers.clear();
        Armatures.clear();
        Animations.clear();
        Behaviours.clear();
        Materials.clear();
        for (TKorvaneTextureAsset* asset : TextureAssets)
            if (asset->IsStandalone()) asset->Free();
        Lights.clear();
        Cameras.clear();
    }

    TModelDef* AsModelDef() { return reinterpret_cast<TModelDef*>(this); }
    static TTestModel* Of(TModelDef* AModel) { return reinterpret_cast<TTestModel*>(AModel); }

    std::map<std::string, TOwned<TMaterialDef>> Materials;
    std::vector<TOwned<TBehaviourDef>> Behaviours;
    std::vector<TOwned<TLightDef>> Lights;
    std::vector<TOwned<TCameraDef>> Cameras;
    std::vector<TOwned<TArmatureDef>> Armatures;
    std::vector<TOwned<TControllerDef>> Controllers;
    std::vector<TOwned<TAnimationDef>> Animations;
    TOwned<TModelMetaDef> MetaData;
    // A prefab group's authoring data, under "Group".
    TOwned<TGroupDef> Group;
    std::vector<TKorvaneTextureAsset*> TextureAssets;
    TKorvaneAssetsPackage* Package = nullptr;
    TKorvaneAsset* Asset = nullptr;
    std::string Filename;
    std::vector<std::pair<TCustomDef*, const TJSONObject*>> LateList;

    TCustomDef* FindDefById(const std::string& AId)
    {
        if (Id() == AId) return this;
        if (TTransformDef* node = FindChildById(AId, false)) return node;
        for (const auto& light : Lights)
            if (light->Id() == AId) return light.get();
        for (const auto& camera : Cameras)
            if (camera->Id() == AId) return camera.get();
        for (const auto& animation : Animations)
            if (animation->Id() == AId) return animation.get();
        if (TControllerDef* controller = FindControllerById(AId, false)) return controller;
        for (const auto& armature : Armatures)
            if (armature->Id() == AId) return armature.get();
        return FindJointById(AId);
    }

    TJointDef* FindJointById(const std::string& AId) const
    {
        for (const auto& armature : Armatures)
            if (TJointDef* joint = armature->FindJointById(AId)) return joint;
        return nullptr;
    }

    TControllerDef* FindControllerById(const std::string& AId, bool AThrowException) const
    {
        for (const auto& controller : Controllers)
            if (SameText(controller->Id(), AId) || SameText("#" + controller->Id(), AId)) return controller.get();
        if (AThrowException) throw Exception(Format("controller with id \"%s\" not found", AId));
        return nullptr;
    }

    // Behaviours, materials, the tree, lights, cameras, metadata, then the late pass.
    void Read(const TJSONObject& AValue)
    {
        const auto readEach = [&](const char* AName, auto&& AMake) {
            if (const TJSONArray* array = JSONGetArray(AValue, AName))
                for (const auto& element : *array) {
                    const auto& object = element->As<TJSONObject>();
                    TCustomDef* def = AMake();
                    def->FromJSON(AsModelDef(), object);
                    LateList.emplace_back(def, &object);
                }
        };
        readEach("Behaviours", [&] {
            Behaviours.push_back(MakeOwned<TMaterialBehaviourDef>());
            return Behaviours.back().get();
        });
        // A new material joins the table when its Id is read.
        readEach("Materials", [&] { return new TMaterialDef(AsModelDef()); });
        TTransformDef::FromJSON(AsModelDef(), AValue);
        // A new light or camera joins its list in its constructor.
        readEach("Lights", [&] { return new TLightDef(this); });
        readEach("Cameras", [&] { return new TCameraDef(this); });
        readEach(JSONGetArray(AValue, "Armatures") ? "Armatures" : "Humanoids", [&] {
            Armatures.push_back(MakeOwned<TArmatureDef>(AsModelDef()));
            return Armatures.back().get();
        });
        if (const TJSONArray* array = JSONGetArray(AValue, "Controllers"))
            for (const auto& element : *array) {
                const auto& object = element->As<TJSONObject>();
                std::string target = JSONGetString(object, "Target", "");
                if (target.empty()) target = JSONGetString(object, "Mesh", "");
                if (target.empty())
                    throw Exception(Format("failed to load controller %s - mesh id not set", JSONGetString(object, "Id", "")));
                auto controller = MakeOwned<TControllerDef>(FindChildById(target, true));
                controller->FromJSON(AsModelDef(), object);
                controller->SetIndex(int(Controllers.size()));
                Controllers.push_back(std::move(controller));
                LateList.emplace_back(Controllers.back().get(), &object);
            }
        readEach("Animations", [&] {
            Animations.push_back(MakeOwned<TAnimationDef>(AsModelDef()));
            return Animations.back().get();
        });
        if (const TJSONValue* group = AValue.GetValue("Group")) {
            Group.reset(new TGroupDef(this));
            Group->FromJSON(AsModelDef(), group->As<TJSONObject>());
        }
        if (const TJSONValue* meta = AValue.GetValue("MetaData"))
            if (const auto* object = meta->TryAs<TJSONObject>()) MetaData->FromJSON(AsModelDef(), *object);
        // Each entry exactly once, in reverse order to show that order does not matter.
        std::vector<std::pair<TCustomDef*, const TJSONObject*>> list;
        list.swap(LateList);
        for (auto it = list.rbegin(); it != list.rend(); ++it) it->first->LateResolveFromJSON(AsModelDef(), *it->second);
    }

    std::unique_ptr<TJSONObject> Write() const
    {
        auto obj = TTransformDef::ToJSON();
        const auto writeEach = [&](const char* AName, const auto& AList) {
            auto array = std::make_unique<TJSONArray>();
            for (const auto& def : AList) array->Add(def->ToJSON());
            obj->AddPair(AName, std::move(array));
        };
        writeEach("Behaviours", Behaviours);
        // Sub-materials are written inside their layered material.
        auto materials = std::make_unique<TJSONArray>();
        for (const auto& [id, material] : Materials)
            if (!material->ParentMaterial()) materials->Add(material->ToJSON());
        obj->AddPair("Materials", std::move(materials));
        writeEach("Lights", Lights);
        writeEach("Cameras", Cameras);
        writeEach("Armatures", Armatures);
        writeEach("Controllers", Controllers);
        writeEach("Animations", Animations);
        if (Group) obj->AddPair("Group", Group->ToJSON());
        obj->AddPair("MetaData", MetaData->ToJSON());
        return obj;
    }
};

// Installs the model services for TTestModel for the time of a test.
class ModelFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = ModelDefServices();
        auto& s = ModelDefServices();
        s.AsModel = [](TCustomDef* ADef) -> TModelDef* {
            auto* model = dynamic_cast<TTestModel*>(ADef);
            return model ? model->AsModelDef() : nullptr;
        };
        s.Root = [](TModelDef* AModel) -> TTransformDef* { return TTestModel::Of(AModel); };
        s.FindDefById = [](TModelDef* AModel, const std::string& AId) { return TTestModel::Of(AModel)->FindDefById(AId); };
        s.FindMaterialById = [](TModelDef* AModel, const std::string& AId) -> TMaterialDef* {
            auto& materials = TTestModel::Of(AModel)->Materials;
            const auto it = materials.find(AId);
            return it == materials.end() ? nullptr : it->second.get();
        };
        s.AddLateResolve = [](TModelDef* AModel, TCustomDef* ADef, const TJSONObject& AValue) {
            TTestModel::Of(AModel)->LateList.emplace_back(ADef, &AValue);
        };
        s.AddMaterial = [](TModelDef* AModel, const std::string& AId, TMaterialDef* AMaterial) {
            auto& materials = TTestModel::Of(AModel)->Materials;
            if (materials.count(AId)) throw EListError("Duplicates not allowed");
            materials.emplace(AId, TOwned<TMaterialDef>(AMaterial));
        };
        s.FindBehaviourById = [](TModelDef* AModel, const std::string& AId) -> TBehaviourDef* {
            for (const auto& behaviour : TTestModel::Of(AModel)->Behaviours)
                if (behaviour->Id() == AId) return behaviour.get();
            return nullptr;
        };
        s.AddLight = [](TModelDef* AModel, TLightDef* ALight) {
            TTestModel::Of(AModel)->Lights.emplace_back(ALight);
        };
        s.AddCamera = [](TModelDef* AModel, TCameraDef* ACamera) {
            TTestModel::Of(AModel)->Cameras.emplace_back(ACamera);
        };
        s.RegisterTextureAsset = [](TModelDef* AModel, TKorvaneTextureAsset* AAsset) {
            auto& assets = TTestModel::Of(AModel)->TextureAssets;
            if (std::find(assets.begin(), assets.end(), AAsset) == assets.end()) assets.push_back(AAsset);
        };
        s.TryGetTextureAsset = [](TModelDef* AModel, TKorvaneTextureAsset* AAsset) -> TKorvaneTextureAsset* {
            for (TKorvaneTextureAsset* asset : TTestModel::Of(AModel)->TextureAssets)
                if (asset == AAsset || asset->OriginalFilename() == AAsset->OriginalFilename() ||
                    ExtractAssetFileName(asset->Filename()) == ExtractAssetFileName(AAsset->Filename()))
                    return asset;
            return nullptr;
        };
        s.Package = [](TModelDef* AModel) { return TTestModel::Of(AModel)->Package; };
        s.Asset = [](TModelDef* AModel) { return TTestModel::Of(AModel)->Asset; };
        s.Filename = [](TModelDef* AModel) { return TTestModel::Of(AModel)->Filename; };
        s.FindJointById = [](TModelDef* AModel, const std::string& AId) {
            return TTestModel::Of(AModel)->FindJointById(AId);
        };
        s.FindControllerById = [](TModelDef* AModel, const std::string& AId, bool AThrowException) {
            return TTestModel::Of(AModel)->FindControllerById(AId, AThrowException);
        };
    }
    void TearDown() override { ModelDefServices() = FSaved; }

    TModelDefServices FSaved;
};

} // namespace korvane::test
