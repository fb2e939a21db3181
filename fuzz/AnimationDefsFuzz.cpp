// Armatures with their joint trees, skin controllers and animations with their
// key-frame tracks, read from arbitrary JSON laid out like a model: a
// "Children" tree, then "Armatures", "Controllers" and "Animations" arrays and
// the late resolution of the armatures' controllers. Reading raises framework
// exceptions only; what was read writes text that reads back to the same text.
// The skinning and track operations then run on what was read and may only
// fail with framework exceptions.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Animation.h"
#include "Korvane.DefTypes.Skin.h"
#include "Korvane.Units.h"
#include "Platform.Log.h"

using korvane::fuzz::Fail;

using namespace korvane;

namespace {

// A model root with the lists the skinning definitions look each other up in.
class TFuzzModel : public TTransformDef {
public:
    TFuzzModel() : TTransformDef(nullptr) { SetId("Model"); }
    ~TFuzzModel() override
    {
        Controllers.clear();
        Armatures.clear();
        Animations.clear();
    }

    TModelDef* AsModel() { return reinterpret_cast<TModelDef*>(this); }
    static TFuzzModel* Of(TModelDef* AModel) { return reinterpret_cast<TFuzzModel*>(AModel); }

    std::vector<TOwned<TArmatureDef>> Armatures;
    std::vector<TOwned<TControllerDef>> Controllers;
    std::vector<TOwned<TAnimationDef>> Animations;

    TJointDef* FindJointById(const std::string& AId) const
    {
        for (const auto& armature : Armatures)
            if (TJointDef* joint = armature->FindJointById(AId)) return joint;
        return nullptr;
    }

    TControllerDef* FindControllerById(const std::string& AId, bool AThrow) const
    {
        for (const auto& controller : Controllers)
            if (SameText(controller->Id(), AId) || SameText("#" + controller->Id(), AId)) return controller.get();
        if (AThrow) throw Exception(Format("controller with id \"%s\" not found", AId));
        return nullptr;
    }

    void Read(const TJSONObject& AValue)
    {
        TTransformDef::FromJSON(AsModel(), AValue);
        std::vector<std::pair<TArmatureDef*, const TJSONObject*>> late;
        const char* armatures = JSONGetArray(AValue, "Armatures") ? "Armatures" : "Humanoids";
        if (const TJSONArray* array = JSONGetArray(AValue, armatures))
            for (const auto& element : *array) {
                const auto& object = element->As<TJSONObject>();
                Armatures.push_back(MakeOwned<TArmatureDef>(AsModel()));
                Armatures.back()->FromJSON(AsModel(), object);
                late.emplace_back(Armatures.back().get(), &object);
            }
        if (const TJSONArray* array = JSONGetArray(AValue, "Controllers"))
            for (const auto& element : *array) {
                const auto& object = element->As<TJSONObject>();
                std::string target = JSONGetString(object, "Target", "");
                if (target.empty()) target = JSONGetString(object, "Mesh", "");
                if (target.empty()) throw Exception("controller without target");
                auto controller = MakeOwned<TControllerDef>(FindChildById(target, true));
                controller->FromJSON(AsModel(), object);
                controller->SetIndex(int(Controllers.size()));
                Controllers.push_back(std::move(controller));
            }
        if (const TJSONArray* array = JSONGetArray(AValue, "Animations"))
            for (const auto& element : *array) {
                Animations.push_back(MakeOwned<TAnimationDef>(AsModel()));
                Animations.back()->FromJSON(AsModel(), element->As<TJSONObject>());
            }
        for (const auto& [armature, object] : late) armature->LateResolveFromJSON(AsModel(), *object);
    }

    std::string Write() const
    {
        auto obj = TTransformDef::ToJSON();
        const auto writeEach = [&](const char* AName, const auto& AList) {
            auto array = std::make_unique<TJSONArray>();
            for (const auto& def : AList) array->Add(def->ToJSON());
            obj->AddPair(AName, std::move(array));
        };
        writeEach("Armatures", Armatures);
        writeEach("Controllers", Controllers);
        writeEach("Animations", Animations);
        return obj->ToJSON();
    }

    // The operations that use what was read; framework exceptions are fine.
    void Exercise()
    {
        const auto guarded = [](auto&& AOperation) {
            try {
                AOperation();
            } catch (const Exception&) {
            }
        };
        for (const auto& controller : Controllers) {
            TSkinDef* skin = controller->Skin();
            if (!skin) continue;
            skin->CheckMeshVerticesToBeAttachedCorrectly(1e-3f);
            guarded([&] {
                TOwned<TVertexJointsList> list(skin->GenerateVertexJoints(skin->BindShapeMatrix(), nullptr));
                skin->ApplyVertexJointsRelation(list.get());
            });
            guarded([&] { skin->NormalizeJointVertexWeights(1e-3f); });
            guarded([&] {
                std::vector<TMatrix3D> transforms(skin->LinkedJoints().size());
                skin->GetSkeletonJointTransformations(transforms, TMatrix3D::Identity());
            });
            skin->ApplyBindPoses();
        }
        for (const auto& animation : Animations) {
            guarded([&] { animation->PrepareAnimationData(); });
            animation->UnifyInterpolators({}, nullptr);
        }
    }
};

void InstallServices()
{
    auto& s = ModelDefServices();
    s.AsModel = [](TCustomDef* ADef) -> TModelDef* {
        auto* model = dynamic_cast<TFuzzModel*>(ADef);
        return model ? model->AsModel() : nullptr;
    };
    s.Root = [](TModelDef* AModel) -> TTransformDef* { return TFuzzModel::Of(AModel); };
    s.FindDefById = [](TModelDef* AModel, const std::string& AId) -> TCustomDef* {
        TFuzzModel* model = TFuzzModel::Of(AModel);
        if (model->Id() == AId) return model;
        return model->FindChildById(AId, false);
    };
    s.FindJointById = [](TModelDef* AModel, const std::string& AId) { return TFuzzModel::Of(AModel)->FindJointById(AId); };
    s.FindControllerById = [](TModelDef* AModel, const std::string& AId, bool AThrow) {
        return TFuzzModel::Of(AModel)->FindControllerById(AId, AThrow);
    };
}

std::string ReadWrite(std::string_view AText, bool AMayFail, bool& AFailed, bool AExercise = false)
{
    TOwned<TFuzzModel> model = MakeOwned<TFuzzModel>();
    try {
        model->Read(*TJSONObject::ParseJSONObject(AText));
    } catch (const Exception& e) {
        if (!AMayFail) Fail("written definitions do not read back", e.Message() + "\n" + std::string(AText));
        AFailed = true;
        return {};
    }
    std::string text;
    try {
        text = model->Write();
    } catch (const Exception& e) {
        Fail("definitions that were read cannot be written", e.Message());
    }
    if (AExercise) model->Exercise();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeUnits();
    InstallServices();
    // The operations report per-vertex problems to the debug log: keep it quiet.
    Log::SetSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bool failed = false;
    const std::string first = ReadWrite(std::string_view(reinterpret_cast<const char*>(data), size), true, failed);
    if (failed) return 0;
    const std::string second = ReadWrite(first, false, failed, true);
    if (second != first) Fail("definitions read back write different text", first + "\n" + second);
    return 0;
}
