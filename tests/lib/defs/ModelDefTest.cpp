#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Korvane.AssetsManager.h"
#include "Korvane.DefTypes.Model.h"
#include "LogCapture.h"
#include "Platform.Threads.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

TOwned<TModelDef> ReadModel(std::string_view AText)
{
    auto model = MakeOwned<TModelDef>();
    model->FromJSON(*Obj(AText));
    return model;
}

std::vector<std::string> KeysOf(const TJSONObject& AObject)
{
    std::vector<std::string> keys;
    for (const TJSONPair& pair : AObject) keys.emplace_back(pair.Name());
    return keys;
}

// A model with everything a model file holds. Meshes name materials that
// come later in the text; the layered material holds two layers; the camera
// belongs to a joint of the armature read after the cameras; the skin's controller is named by the
// armature before the controllers are read; two animations move a joint and
// a mesh.
constexpr const char* CompleteModelJSON = R"({"Type": "Korvane.DefTypes.TModelDef", "Id": "Robot",
  "Filename": "C%3A%5Cmodels%5Crobot+one.kvr",
  "Children": [
    {"Type": "Korvane.DefTypes.TMeshDef", "Id": "Body", "Material": "Layered",
     "VertexFormat": "Vertex", "VertexCount": 3, "VerticesDataType": "Values",
     "Vertices": {"Positions": [0, 0, 0, 1, 0, 0, 0, 1, 0]},
     "IndexFormat": 1, "IndexCount": 3, "IndicesDataType": "Values", "Indices": [0, 1, 2],
     "Meshes": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "Visor", "Material": "Glass"}]},
    {"Type": "Korvane.DefTypes.TMeshDef", "Id": "Arm", "Material": "Steel"},
    {"Type": "Korvane.DefTypes.TTransformDef", "Id": "Mount"}],
  "Behaviours": [{"Type": "TMaterialBehaviourDef", "Id": "Glow1", "PrefabClass": "TGlowPrefab",
                  "Properties": [{"Name": "Speed", "Value": 2}]}],
  "Materials": [
    {"Type": "Korvane.Material.Layered", "Id": "Layered", "Kind": 7, "Materials": [
      {"Type": "Korvane.Material.Default", "Id": "Rust", "Kind": 0, "Diffuse": "1 0.5 0 1"},
      {"Type": "Korvane.Material.Default", "Id": "Paint", "Kind": 2}]},
    {"Type": "Korvane.Material.Default", "Id": "Steel", "Kind": 3,
     "BehaviourRefs": [{"Type": "Korvane.DefTypes.TBehaviourRefDef", "Id": "Glow1", "Name": "Glow"}],
     "Textures": [{"Type": "Korvane.DefTypes.TTextureDef", "Id": "T1", "Channel": 0,
       "Asset": {"Type": "Korvane.AssetsManager.TKorvaneTextureAsset",
                 "Id": "{9A1D1E5B-0C1F-4D7A-8E55-2B3C4D5E6F70}", "Version": "1.3",
                 "Filename": "steel.png", "Extension": ".png", "OriginalFilename": "steel.png"}}]},
    {"Type": "Korvane.Material.Default", "Id": "Glass", "Kind": 0, "UseOpacity": true, "Opacity": 0.25,
     "Textures": [{"Type": "Korvane.DefTypes.TTextureDef", "Id": "T2", "Channel": 0,
       "Asset": {"Type": "Korvane.AssetsManager.TKorvaneTextureAsset",
                 "Id": "{9A1D1E5B-0C1F-4D7A-8E55-2B3C4D5E6F71}", "Version": "1.3",
                 "Filename": "steel.png", "Extension": ".png", "OriginalFilename": "steel.png"}}]}],
  "Lights": [{"Type": "Korvane.DefTypes.TLightDef", "Id": "Lamp", "Owner": "Eye", "LightType": "Spot",
              "Intensity": 40}],
  "Cameras": [{"Type": "Korvane.DefTypes.TCameraDef", "Id": "Eye", "Owner": "Head", "Type": "Perspective",
               "FOV": 60}],
  "Armatures": [{"Type": "Korvane.DefTypes.TArmatureDef", "Id": "Rig",
    "Root": {"Type": "Korvane.DefTypes.TJointDef", "Id": "Hips",
      "Joints": [{"Id": "Spine", "Joints": [{"Id": "Head"}]}, {"Id": "Leg"}]},
    "Controllers": ["Skin1"]}],
  "Controllers": [{"Type": "Korvane.DefTypes.TControllerDef", "Id": "Skin1", "Target": "Body",
    "Skin": {"Id": "BodySkin",
      "LinkedJoints": [{"Joint": "Hips", "Weights": "0.75 1", "Indices": "0 1"},
                       {"Joint": "Head", "Weights": "0.25", "Indices": "2"}],
      "Skeletons": ["Hips"], "BindPoses": ["1 0 0 0 0 1 0 0 0 0 1 0 0 1 0 1", ""]}}],
  "Animations": [
    {"Type": "Korvane.DefTypes.TAnimationDef", "Id": "Nod", "Stages": [
      {"Id": "HeadStage", "Reference": "Head", "Interpolators": [
        {"Type": "Korvane.DefTypes.TPoint3DInterpolatorDef", "Id": "Move", "Path": "Position.Point", "Duration": 1,
         "Keys": [{"Key": 0, "Interpolation": 0, "Value": "0 0 0"}, {"Key": 1, "Interpolation": 1, "Value": "0 1 0"}]}]}]},
    {"Type": "Korvane.DefTypes.TAnimationDef", "Id": "Wave", "Stages": [
      {"Id": "ArmStage", "Reference": "Arm", "Interpolators": [
        {"Type": "TTransformationInterpolatorDef", "Id": "Whole", "Path": "",
         "Keys": [{"Key": 0.5, "Interpolation": 1, "Value": "1 0 0 0 0 1 0 0 0 0 1 0 3 0 0 1"}]}]}]}],
  "MetaData": {"Type": "Korvane.DefTypes.TModelMetaDef", "Id": "", "Title": "Robot", "Polygons": 1200}})";

TMaterialDef* MaterialOf(TModelDef& AModel, const std::string& AMesh)
{
    auto* mesh = dynamic_cast<TMeshDef*>(AModel.FindChildById(AMesh, true));
    return mesh && mesh->Material() ? mesh->Material()->Reference() : nullptr;
}

} // namespace

TEST(ModelDef, NewModelHasItsIdMetadataAndOnlyTheListsItStartsWith)
{
    auto model = MakeOwned<TModelDef>();
    auto other = MakeOwned<TModelDef>();
    const std::string& id = model->Id();
    EXPECT_TRUE(id.size() > 6 && id.rfind("Model_", 0) == 0 &&
                id.find_first_not_of("0123456789", 6) == std::string::npos)
        << id;
    EXPECT_NE(model->Id(), other->Id()) << "unique among live models";
    EXPECT_TRUE(model->Materials().empty());
    EXPECT_TRUE(model->Behaviours().empty());
    ASSERT_NE(model->MetaData(), nullptr);
    ASSERT_NE(model->TextureAssets(), nullptr);
    EXPECT_EQ(model->Lights(), nullptr);
    EXPECT_EQ(model->Cameras(), nullptr);
    EXPECT_EQ(model->Armatures(), nullptr);
    EXPECT_EQ(model->Controllers(), nullptr);
    EXPECT_EQ(model->Animations(), nullptr);

    // The mesh part's pairs, then the model's own.
    auto json = model->ToJSON();
    std::vector<std::string> expected = KeysOf(*MakeOwned<TMeshDef>(nullptr)->ToJSON());
    for (const char* key : {"Filename", "Behaviours", "Materials", "MetaData"}) expected.push_back(key);
    EXPECT_EQ(KeysOf(*json), expected);
    EXPECT_EQ(json->GetValue("Type")->Value(), "Korvane.DefTypes.TModelDef");
    EXPECT_EQ(json->GetValue("Filename")->Value(), "");
    EXPECT_EQ(json->GetValue("Behaviours")->ToJSON(), "[]");
    EXPECT_EQ(json->GetValue("Materials")->ToJSON(), "[]");

    // A list that comes into being is written.
    model->AddEmptyAnimation("Idle");
    EXPECT_NE(model->ToJSON()->GetValue("Animations"), nullptr);
    EXPECT_EQ(model->ToJSON()->GetValue("Lights"), nullptr);
}

TEST(ModelDef, FilenameIsURLEncodedInJSON)
{
    struct Case {
        std::string name, encoded;
    };
    const Case cases[] = {
        {"C:\\my model.kvr", "C%3A%5Cmy+model.kvr"},
        {"a@b!$'()*-._Z9", "a@b!$'()*-._Z9"},
        {"d/\xC3\xA4+%.kvr", "d%2F%C3%A4%2B%25.kvr"},
        {"", ""},
    };
    for (const Case& c : cases) {
        auto model = MakeOwned<TModelDef>();
        model->SetFilename(c.name);
        auto json = model->ToJSON();
        EXPECT_EQ(json->GetValue("Filename")->Value(), c.encoded) << c.name;
        auto back = MakeOwned<TModelDef>();
        back->FromJSON(*json);
        EXPECT_EQ(back->Filename(), c.name);
    }
    EXPECT_THROW(ReadModel(R"({"Filename": "bad%4"})"), EConvertError);
}

TEST(ModelDef, ArmaturesAreReadFromHumanoidsOnlyWithoutArmatures)
{
    struct Case {
        const char* json;
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {R"({"Humanoids": [{"Id": "H1"}, {"Id": "H2"}]})", {"H1", "H2"}},
        {R"({"Armatures": [{"Id": "A"}], "Humanoids": [{"Id": "H"}]})", {"A"}},
        {R"({"Armatures": {"Id": "A"}, "Humanoids": [{"Id": "H"}]})", {"H"}},
        {R"({"Armatures": []})", {}},
    };
    for (const Case& c : cases) {
        auto model = ReadModel(c.json);
        std::vector<std::string> ids;
        if (model->Armatures())
            for (const auto& armature : *model->Armatures()) ids.push_back(armature->Id());
        EXPECT_EQ(ids, c.ids) << c.json;
        EXPECT_EQ(model->Humanoids(), model->Armatures());
        auto written = model->ToJSON();
        EXPECT_EQ(written->GetValue("Humanoids"), nullptr) << "never written";
    }
}

TEST(ModelDef, ControllersFindTheirTargetInTheTree)
{
    constexpr const char* tree = R"("Children": [{"Type": "Korvane.DefTypes.TTransformDef", "Id": "Node",
        "Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "Deep"}]}])";
    struct Case {
        std::string controller, target, error;
    };
    const Case cases[] = {
        {R"({"Id": "C", "Target": "", "Mesh": "Deep"})", "Deep", ""},
        {R"({"Id": "C", "Mesh": "#deep"})", "Deep", ""},
        {R"({"Id": "C", "Target": "Node", "Mesh": "Deep"})", "Node", ""},
        {R"({"Id": "C", "Target": "", "Mesh": ""})", "", "failed to load controller C - mesh id not set"},
        {R"({"Id": "C"})", "", "failed to load controller C - mesh id not set"},
        {R"({"Id": "C", "Target": "Missing"})", "", "transform with id \"Missing\" not found"},
    };
    for (const Case& c : cases) {
        const std::string json = "{" + std::string(tree) + R"(, "Controllers": [)" + c.controller + "]}";
        auto model = MakeOwned<TModelDef>();
        if (!c.error.empty()) {
            EXPECT_EQ(MessageOf([&] { model->FromJSON(*Obj(json)); }), c.error) << c.controller;
            continue;
        }
        model->FromJSON(*Obj(json));
        ASSERT_NE(model->Controllers(), nullptr);
        const TControllerDef& controller = *(*model->Controllers())[0];
        EXPECT_EQ(controller.Target(), model->FindChildById(c.target, true)) << c.controller;
        EXPECT_EQ(controller.Index(), 0);
    }
}

TEST(ModelDef, ControllerReferencesResolveLikeTheLookupsTheyStandFor)
{
    // Two nodes named Twin: the controller gets the one the tree search gives;
    // the armature names its controller with "#" and another case.
    auto model = ReadModel(R"({"Children": [{"Type": "Korvane.DefTypes.TTransformDef", "Id": "Twin",
          "Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "twin"}]}],
        "Armatures": [{"Id": "Rig", "Controllers": ["#SKIN1", "Skin2"]}],
        "Controllers": [{"Id": "Skin1", "Target": "TWIN"}, {"Id": "Skin2", "Target": "#twin"}]})");
    const auto& controllers = *model->Controllers();
    EXPECT_EQ(controllers[0]->Target(), model->FindChildById("TWIN", false));
    EXPECT_EQ(controllers[1]->Target(), model->FindChildById("#twin", false));
    EXPECT_EQ(model->FindArmatureById("Rig")->Controllers(),
              (std::vector<TControllerDef*>{controllers[0].get(), controllers[1].get()}));
}

TEST(ModelDef, ControllerLookups)
{
    auto model = ReadModel(R"({"Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "A"},
                                             {"Type": "Korvane.DefTypes.TMeshDef", "Id": "B"}],
                               "Controllers": [{"Id": "skin1", "Target": "A"}, {"Id": "Skin2", "Target": "A"}]})");
    TControllerDef* first = (*model->Controllers())[0].get();
    EXPECT_EQ((*model->Controllers())[1]->Index(), 1);
    struct Case {
        const char* name;
        TControllerDef* found;
    };
    const Case cases[] = {{"#Skin1", first}, {"SKIN1", first}, {"skin1", first}, {"##skin1", nullptr}, {"", nullptr}};
    for (const Case& c : cases) EXPECT_EQ(model->FindControllerById(c.name, false), c.found) << c.name;
    EXPECT_EQ(MessageOf([&] { model->FindControllerById("Nope", true); }), "controller with id \"Nope\" not found");

    TTransformDef* a = model->FindChildById("A", true);
    TTransformDef* b = model->FindChildById("B", true);
    EXPECT_EQ(model->FindControllerByTransform(a, true), first);
    EXPECT_EQ(model->FindControllerByTransform(b, false), nullptr);
    EXPECT_EQ(MessageOf([&] { model->FindControllerByTransform(b, true); }), "controller for mesh \"B\" not found");
    auto bare = ReadModel(R"({"Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "B"}]})");
    EXPECT_EQ(MessageOf([&] { bare->FindControllerByTransform(bare->FindChildById("B", true), true); }),
              "controller for transform \"B\" not found");
    EXPECT_EQ(MessageOf([&] { bare->FindControllerById("#Skin1", true); }), "controller with id \"#Skin1\" not found");
}

TEST(ModelDef, FindDefByIdSearchesInItsOrder)
{
    // "Shared" is a mesh and a light; "Lamp" a light and a camera; "Clip" an
    // animation and a controller; "Rig" a controller and an armature.
    auto model = ReadModel(R"({"Id": "M",
        "Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "Shared"},
                     {"Type": "Korvane.DefTypes.TMeshDef", "Id": "Body"}],
        "Lights": [{"Id": "Shared"}, {"Id": "Lamp"}],
        "Cameras": [{"Id": "Lamp"}, {"Id": "Cam"}],
        "Armatures": [{"Id": "Rig", "Root": {"Id": "Hips", "Joints": [{"Id": "Knee"}]}}],
        "Controllers": [{"Id": "Clip", "Target": "Body"}, {"Id": "Rig", "Target": "Body"}],
        "Animations": [{"Id": "Clip"}]})");
    struct Case {
        const char* id;
        TCustomDef* found;
    };
    const Case cases[] = {
        {"M", model.get()},
        {"Shared", model->FindChildById("Shared", true)},
        {"#shared", model->FindChildById("Shared", true)},
        {"Lamp", model->FindLightById("Lamp")},
        {"Cam", model->FindCameraById("Cam")},
        {"Clip", model->FindAnimationById("Clip")},
        {"Rig", (*model->Controllers())[1].get()},
        {"Knee", model->FindJointById("Knee")},
        {"Hips", model->FindJointById("Hips")},
        {"Nothing", nullptr},
        {"m", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_NE(std::string(c.id) == "Nothing" || std::string(c.id) == "m", c.found != nullptr) << c.id;
        EXPECT_EQ(model->FindDefById(c.id), c.found) << c.id;
    }
    EXPECT_EQ(model->FindArmatureById("Rig"), (*model->Armatures())[0].get());
    EXPECT_EQ(model->FindArmatureById(""), nullptr);
    EXPECT_EQ(model->GetArmatureBySkeleton(model->FindJointById("Knee")), model->FindArmatureById("Rig"));
    EXPECT_EQ(model->GetArmatureBySkeleton(nullptr), nullptr);
    EXPECT_EQ(model->GetLight(1), model->FindLightById("Lamp"));
    for (int index : {-1, 2}) EXPECT_EQ(model->GetCamera(index), nullptr) << index;
}

namespace {

// A baking double: records the animations it executes and advances the
// installed clock by 250 ms for each, so the logged time is known.
struct BakeRecord {
    std::vector<std::string> Executed;
    int Made = 0;
    int Freed = 0;
    TComponent* Component = nullptr;
    TAnimationCachingFlags Flags;
    std::string FailOn;
};

class TRecordingCaching : public TAnimationCaching {
public:
    TRecordingCaching(BakeRecord& ARecord, TManualClock* AClock, TAnimationCachingFlags AFlags)
        : FRecord(ARecord), FClock(AClock), FFlags(AFlags)
    {
        ++FRecord.Made;
    }
    ~TRecordingCaching() override { ++FRecord.Freed; }
    TAnimationCachingFlags Flags() const override { return FFlags; }
    void Execute(TAnimationDef* AAnimDef) override
    {
        FRecord.Executed.push_back(AAnimDef->Id());
        if (AAnimDef->Id() == FRecord.FailOn) throw Exception("bake failed");
        AAnimDef->FinalizeCaching();
        if (FClock) FClock->AdvanceMilliseconds(250);
    }

private:
    BakeRecord& FRecord;
    TManualClock* FClock;
    TAnimationCachingFlags FFlags;
};

class ModelBaking : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = TModelDef::AnimationCachingFactory();
        TModelDef::AnimationCachingFactory() = [this](TModelDef*, TAnimationCachingFlags AFlags, TComponent* AModel) {
            Record.Component = AModel;
            Record.Flags = AFlags;
            return TOwned<TAnimationCaching>(new TRecordingCaching(Record, &Clock, AFlags));
        };
        for (const char* id : {"Walk", "Run", "Jump"}) Model->AddEmptyAnimation(id);
    }
    void TearDown() override { TModelDef::AnimationCachingFactory() = FSaved; }

    std::vector<std::string> States() const
    {
        std::vector<std::string> states;
        for (const auto& animation : *Model->Animations())
            states.push_back(animation->BufferingState() == TAnimationBufferingState::Ready ? "Ready" : "None");
        return states;
    }

    TManualClock Clock{1'000'000};
    TDefaultClockScope ClockScope{&Clock};
    BakeRecord Record;
    TOwned<TModelDef> Model = MakeOwned<TModelDef>();
    TAnimationCachingFactory FSaved;
};

} // namespace

TEST_F(ModelBaking, CachesTheSelectedAnimationsThatAreNotBakedYet)
{
    constexpr TAnimationCachingFlags flags{TAnimationCachingFlag::Compressed};
    struct Case {
        std::vector<TValue> selected;
        std::vector<std::string> executed;
        std::string log;
    };
    // Each row runs on the state the rows before left.
    const Case cases[] = {
        {{TValue::From(std::string("Run"))}, {"Run"}, "Caching 1 animations: elapsed time 250.00 ms"},
        {{TValue::From(7), TValue::From(std::string("walk"))}, {}, "Caching 0 animations: elapsed time 0.00 ms"},
        {{}, {"Walk", "Jump"}, "Caching 2 animations: elapsed time 500.00 ms"},
        {{}, {}, "Caching 0 animations: elapsed time 0.00 ms"},
    };
    for (const Case& c : cases) {
        Record.Executed.clear();
        test::LogCapture log;
        Model->CacheAnimations(c.selected, flags, nullptr);
        EXPECT_EQ(Record.Executed, c.executed) << c.log;
        EXPECT_EQ(log.Lines(), std::vector<std::string>{c.log});
        EXPECT_EQ(Record.Made, Record.Freed) << "the caching object goes after every run";
    }
    EXPECT_EQ(Record.Flags, flags);
    EXPECT_EQ(States(), (std::vector<std::string>{"Ready", "Ready", "Ready"}));
    EXPECT_TRUE((*Model->Animations())[0]->CachingFlags().Contains(TAnimationCachingFlag::Compressed));
}

TEST_F(ModelBaking, ModelWithoutAnimationsLogsNothingAndAFailedBakeFreesTheCaching)
{
    auto empty = MakeOwned<TModelDef>();
    {
        test::LogCapture log;
        empty->CacheAnimations({}, {}, nullptr);
        EXPECT_TRUE(log.Lines().empty());
        EXPECT_EQ(Record.Made, 0);
    }
    Record.FailOn = "Run";
    test::LogCapture log;
    EXPECT_EQ(MessageOf([&] { Model->CacheAnimations({}, {}, nullptr); }), "bake failed");
    EXPECT_EQ(Record.Executed, (std::vector<std::string>{"Walk", "Run"}));
    EXPECT_EQ(Record.Made, 1);
    EXPECT_EQ(Record.Freed, 1);
    EXPECT_TRUE(log.Lines().empty());

    TModelDef::AnimationCachingFactory() = nullptr;
    EXPECT_EQ(MessageOf([&] { Model->CacheAnimations({}, {}, nullptr); }),
              "failed to cache model animations - no animation caching installed");
}

TEST(ModelDefAssets, RegistrationKeepsOneAssetPerFile)
{
    auto model = MakeOwned<TModelDef>();
    // An asset of that original file name and file name (by default its name part).
    const auto asset = [](const std::string& AOriginal, const std::string& AFilename, bool AStandalone = true) {
        auto* result = new TKorvaneTextureAsset(nullptr);
        TJSONObject json;
        json.AddPair("Id", GUIDToString(CreateGUID()));
        json.AddPair("Filename", URLEncode(AFilename.empty() ? ExtractAssetFileName(AOriginal) : AFilename));
        json.AddPair("OriginalFilename", URLEncode(AOriginal));
        result->FromJSON(json);
        result->SetIsStandalone(AStandalone);
        return result;
    };
    TKorvaneTextureAsset* wood = asset("C:\\tex\\wood.png", "");
    model->RegisterTextureAsset(wood);
    model->RegisterTextureAsset(wood);
    EXPECT_EQ(model->TextureAssets()->size(), 1u) << "the same asset twice";
    TOwned<TKorvaneTextureAsset> sameName(asset("C:\\tex\\wood.png", "other.png"));
    EXPECT_TRUE(model->TextureAssetExists(sameName.get()));
    model->RegisterTextureAsset(sameName.get());
    EXPECT_EQ(model->TextureAssets()->size(), 1u) << "another asset of the same original file name";
    TOwned<TKorvaneTextureAsset> sameFile(asset("D:\\elsewhere\\x.png", "wood.png"));
    EXPECT_TRUE(model->TextureAssetExists(sameFile.get())) << "the same file name";

    // Lookups normalise the paths and compare file-name parts.
    TKorvaneTextureAsset* stone = asset("C:/tex//stone.png", "");
    model->RegisterTextureAsset(stone);
    ASSERT_EQ(model->TextureAssets()->size(), 2u);
    struct Case {
        std::string original, filename;
        TKorvaneTextureAsset* found;
    };
    const Case cases[] = {
        {"C:\\tex\\stone.png", "", stone},
        {"C:\\\\tex\\\\stone.png", "zzz.png", stone},
        {"C:\\\\tex\\\\\\\\stone.png", "zzz.png", nullptr},
        {"Q:\\other\\stone.png", "", stone},
        {"Q:\\other\\wood.png", "D:\\maps\\wood.png", wood},
        {"Q:\\other\\brick.png", "", nullptr},
    };
    for (const Case& c : cases) {
        TOwned<TKorvaneTextureAsset> probe(asset(c.original, c.filename));
        EXPECT_EQ(model->TryGetTextureAsset(probe.get()), c.found) << c.original << " / " << c.filename;
    }
    TOwned<TKorvaneAsset> plain = MakeOwned<TKorvaneAsset>(nullptr);
    EXPECT_FALSE(model->TextureAssetExists(plain.get())) << "not a texture asset";
    EXPECT_EQ(model->TryGetTextureAsset(plain.get()), nullptr);
    EXPECT_EQ(model->TryGetTextureAsset(wood), wood);

    // Only stand-alone assets are the model's to free (ASan checks both ways).
    TOwned<TKorvaneTextureAsset> lent(asset("C:\\lent.png", "", false));
    model->RegisterTextureAsset(lent.get());
    model->ClearTextureAssets();
    EXPECT_EQ(model->TextureAssets(), nullptr);
    EXPECT_EQ(lent->OriginalFilename(), "C:\\lent.png");
}

TEST(ModelDefAssets, TexturesOfOneFileShareOneAssetWhenRead)
{
    auto model = ReadModel(CompleteModelJSON);
    ASSERT_EQ(model->TextureAssets()->size(), 1u);
    TKorvaneTextureAsset* asset = (*model->TextureAssets())[0];
    EXPECT_EQ(asset->OriginalFilename(), "C:\\models\\steel.png") << "next to the model file";
    EXPECT_EQ(model->FindMaterialById("Steel")->GetTexture(TColorChannelDef::Diffuse)->AssetRef(), asset);
    EXPECT_EQ(model->FindMaterialById("Glass")->GetTexture(TColorChannelDef::Diffuse)->AssetRef(), asset);
}

// A texture asset's original file name is the model's key for it; its stored
// file name, a name safe to write a file under, drops everything up to the
// last colon. Written and read back, a name beside the model comes back
// exactly, colon and all, and keeps coming back the same.
TEST(ModelDefAssets, OriginalFileNamesRoundTripThroughTheModel)
{
    struct Case {
        std::string model, original, readBack, filename;
    };
    const Case cases[] = {
        {"C:\\models\\robot.kvr", "C:\\models\\steel.png", "C:\\models\\steel.png", "steel.png"},
        {"C:\\models\\robot.kvr", "C:\\models\\scan:01.png", "C:\\models\\scan:01.png", "01.png"},
        {"/data/robot.kvr", "/data/scan:01.png", "/data/scan:01.png", "01.png"},
        {"/data/robot.kvr", "/data/a:b:c.png", "/data/a:b:c.png", "c.png"},
        {"/data/robot.kvr", "/data/x:y.png", "/data/x:y.png", "y.png"}, // not a drive mark
        {"", "scan:01.png", "scan:01.png", "01.png"},
        {"", "C:wood.png", "wood.png", "wood.png"}, // a drive mark
        // From another folder the asset is found beside the model.
        {"C:\\models\\robot.kvr", "D:\\maps\\scan:01.png", "C:\\models\\scan:01.png", "01.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model + " / " + c.original);
        const std::string text =
            R"({"Type": "Korvane.DefTypes.TModelDef", "Id": "Robot", "Filename": ")" + URLEncode(c.model) +
            R"(", "Materials": [{"Type": "Korvane.Material.Default", "Id": "Steel", "Kind": 0, "Textures": [)"
            R"({"Type": "Korvane.DefTypes.TTextureDef", "Id": "T1", "Channel": 0, "Asset": {)"
            R"("Type": "Korvane.AssetsManager.TKorvaneTextureAsset", "Id": "{9A1D1E5B-0C1F-4D7A-8E55-2B3C4D5E6F70}",)"
            R"( "Version": "1.3", "Filename": ")" +
            URLEncode(ExtractAssetFileName(c.original)) + R"(", "Extension": ".png", "OriginalFilename": ")" +
            URLEncode(c.original) + R"("}}]}]})";
        auto model = ReadModel(text);
        ASSERT_NE(model->TextureAssets(), nullptr);
        ASSERT_EQ(model->TextureAssets()->size(), 1u);
        const TKorvaneTextureAsset* asset = (*model->TextureAssets())[0];
        EXPECT_EQ(asset->OriginalFilename(), c.readBack);
        EXPECT_EQ(asset->Filename(), c.filename);

        // Written and read back twice (the first reading adds tags to the
        // metadata only): the names stay, and so does the whole text.
        auto again = ReadModel(model->ToJSON()->ToJSON());
        ASSERT_EQ(again->TextureAssets()->size(), 1u);
        EXPECT_EQ((*again->TextureAssets())[0]->OriginalFilename(), c.readBack);
        EXPECT_EQ((*again->TextureAssets())[0]->Filename(), c.filename);
        const std::string written = again->ToJSON()->ToJSON();
        EXPECT_EQ(ReadModel(written)->ToJSON()->ToJSON(), written);
    }
}

TEST(ModelDefAssets, BitmapCacheExchange)
{
    auto model = MakeOwned<TModelDef>();
    TKorvaneBitmapCache cache(nullptr);
    model->RequestBitmapCache(nullptr);
    model->ApplyBitmapCache(nullptr);

    // Two entries with bitmaps of their own, one that only borrows its bitmap.
    TBitmap borrowed(3, 3);
    for (const char* name : {"a.png", "C:\\maps\\b.png"}) {
        TKorvaneBitmapCacheEntry* entry = cache.Add();
        entry->SetFilename(name);
        TBitmap picture(2, 1);
        entry->SetBitmap(&picture);
    }
    cache.Add()->SetBitmapReference("lent.png", &borrowed);
    std::vector<TBitmap*> bitmaps;
    for (int i = 0; i < cache.Count(); ++i) bitmaps.push_back(cache.Items(i)->Bitmap());

    model->ApplyBitmapCache(&cache);
    ASSERT_EQ(model->TextureAssets()->size(), 3u);
    for (int i = 0; i < 3; ++i) {
        TKorvaneTextureAsset* asset = (*model->TextureAssets())[size_t(i)];
        EXPECT_TRUE(cache.Items(i)->IsOnlyRef()) << i;
        EXPECT_EQ(asset->OriginalFilename(), cache.Items(i)->Filename());
        EXPECT_TRUE(asset->IsStandalone());
        EXPECT_TRUE(asset->Cached());
        EXPECT_EQ(asset->Group(), nullptr);
        if (i < 2) EXPECT_EQ(asset->GetBitmap(), bitmaps[size_t(i)]) << "the entry's own bitmap is handed over";
        else EXPECT_TRUE(asset->GetBitmap() != &borrowed && asset->GetBitmap()->SharesImageWith(borrowed))
                 << "a borrowed bitmap is copied, not taken";
    }
    EXPECT_EQ((*model->TextureAssets())[1]->Filename(), "b.png");

    // Requesting gives one entry per asset, each lending the asset's bitmap.
    TKorvaneBitmapCache requested(nullptr);
    requested.Add()->SetFilename("stale.png");
    model->RequestBitmapCache(&requested);
    ASSERT_EQ(requested.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        TKorvaneTextureAsset* asset = (*model->TextureAssets())[size_t(i)];
        EXPECT_EQ(requested.Items(i)->Filename(), asset->OriginalFilename());
        EXPECT_EQ(requested.Items(i)->Bitmap(), asset->GetBitmap());
        EXPECT_TRUE(requested.Items(i)->IsOnlyRef());
    }
    // The entries of the first cache refer to bitmaps the model frees: they go first.
    cache.Clear();
    requested.Clear();
}

TEST(ModelDef, NormalsAreComputedForTheChildMeshesOnly)
{
    auto model = MakeOwned<TModelDef>();
    const T3DPolygon triangle{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const TPoint3D marker{9, 9, 9};
    const auto mark = [&](TMeshDef& AMesh) {
        AMesh.AddPolygon(triangle);
        for (int i = 0; i < 3; ++i) AMesh.VertexSource()->SetNormals(i, marker);
    };
    mark(*model);
    auto* child = new TMeshDef(model.get());
    model->AddMesh(child);
    mark(*child);
    auto* grandchild = new TMeshDef(child);
    child->AddMesh(grandchild);
    mark(*grandchild);

    using Op = std::function<void(TModelDef&)>;
    const std::pair<const char*, Op> ops[] = {
        {"smooth", [](TModelDef& M) { M.CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmDefault, 0.001f); }},
        {"face", [](TModelDef& M) { M.CalcFaceNormals(true); }},
    };
    for (const auto& [name, op] : ops) {
        for (TMeshDef* mesh : {static_cast<TMeshDef*>(model.get()), child, grandchild})
            for (int i = 0; i < 3; ++i) mesh->VertexSource()->SetNormals(i, marker);
        op(*model);
        for (TMeshDef* mesh : {child, grandchild}) {
            const TPoint3D n = mesh->VertexSource()->Normals(0);
            EXPECT_NEAR(std::fabs(n.Z), 1.0f, 1e-5f) << name << " " << (mesh == child ? "child" : "grandchild");
        }
        EXPECT_EQ(model->VertexSource()->Normals(0), marker) << name << ": the model's own vertices stay";
    }
}

TEST(ModelDef, CompleteModelReadsWithEveryReferenceResolved)
{
    auto model = ReadModel(CompleteModelJSON);
    EXPECT_EQ(model->Id(), "Robot");
    EXPECT_EQ(model->Filename(), "C:\\models\\robot one.kvr");

    // Materials: the layered one with its layers, all in the table.
    ASSERT_EQ(model->Materials().size(), 5u);
    TMaterialDef* layered = model->FindMaterialById("Layered");
    ASSERT_NE(layered, nullptr);
    ASSERT_NE(layered->LayeredMaterials(), nullptr);
    ASSERT_EQ(layered->LayeredMaterials()->size(), 2u);
    EXPECT_EQ((*layered->LayeredMaterials())[0], model->FindMaterialById("Rust"));
    EXPECT_EQ((*layered->LayeredMaterials())[1], model->FindMaterialById("Paint"));
    EXPECT_EQ(MaterialOf(*model, "Body"), layered);
    EXPECT_EQ(MaterialOf(*model, "Visor"), model->FindMaterialById("Glass"));
    EXPECT_EQ(MaterialOf(*model, "Arm"), model->FindMaterialById("Steel"));
    ASSERT_NE(model->FindMaterialById("Steel")->BehaviourRefs(), nullptr);
    EXPECT_EQ((*model->FindMaterialById("Steel")->BehaviourRefs())[0]->Reference(), model->FindBehaviourById("Glow1"));
    EXPECT_EQ(model->FindBehaviourById("Glow1")->PrefabClass, "TGlowPrefab");

    // Lights and cameras with owners read after them.
    TLightDef* lamp = model->FindLightById("Lamp");
    TCameraDef* eye = model->FindCameraById("Eye");
    ASSERT_TRUE(lamp && eye);
    EXPECT_EQ(lamp->LightType, TLightType::Spot);
    EXPECT_EQ(lamp->GetOwnerRef(), model.get()) << "a light keeps the owner it was made with";
    EXPECT_EQ(eye->GetOwnerRef(), model->FindJointById("Head"));
    EXPECT_EQ(eye->FOV, 60);

    // The rig, its skin and controller.
    TArmatureDef* rig = model->FindArmatureById("Rig");
    ASSERT_NE(rig, nullptr);
    TControllerDef* skin1 = model->FindControllerById("Skin1", true);
    EXPECT_EQ(rig->Controllers(), std::vector<TControllerDef*>{skin1});
    EXPECT_EQ(skin1->Target(), model->FindChildById("Body", true));
    ASSERT_NE(skin1->Skin(), nullptr);
    ASSERT_EQ(skin1->Skin()->LinkedJoints().size(), 2u);
    EXPECT_EQ(skin1->Skin()->LinkedJoints()[1]->Joint(), model->FindJointById("Head"));
    EXPECT_EQ(model->FindJointById("Head")->Armature(), rig);

    // The animations reach a joint and a mesh.
    ASSERT_EQ(model->Animations()->size(), 2u);
    EXPECT_EQ(model->FindAnimationById("Nod")->Stages()[0]->Reference(), model->FindJointById("Head"));
    EXPECT_EQ(model->FindAnimationById("Wave")->Stages()[0]->Reference(), model->FindChildById("Arm", true));
    EXPECT_EQ(model->FindAnimationById("Nod")->Model(), model.get());

    EXPECT_EQ(model->MetaData()->Title(), "Robot");
    EXPECT_EQ(model->MetaData()->Polygons(), 1200);
    EXPECT_EQ(model->FindChildById("Body", true)->GetModel(), model.get());
}

TEST(ModelDef, CompleteModelWritesAndReadsBackEqual)
{
    auto model = ReadModel(CompleteModelJSON);
    const auto written = model->ToJSON();
    // Layers are written inside their layered material only.
    EXPECT_EQ(written->GetValue("Materials")->As<TJSONArray>().Count(), 3);
    auto back = MakeOwned<TModelDef>();
    back->FromJSON(*written);
    EXPECT_EQ(back->ToJSON()->ToJSON(), written->ToJSON());
    EXPECT_EQ(back->GetSize(), model->GetSize());
    EXPECT_EQ(MaterialOf(*back, "Body"), back->FindMaterialById("Layered"));

    // The same text read twice gives equal models.
    auto again = ReadModel(CompleteModelJSON);
    EXPECT_EQ(again->ToJSON()->ToJSON(), written->ToJSON());
}

TEST(ModelDef, SizeCountsMaterialsArmaturesControllersAndAnimationsOnly)
{
    auto model = MakeOwned<TModelDef>();
    model->SetId("M");
    const int64_t empty = model->GetSize();
    model->SetFilename("abcd");
    EXPECT_EQ(model->GetSize(), empty + 8);
    new TLightDef(model.get());
    model->AddNewMaterialBehaviour();
    EXPECT_EQ(model->GetSize(), empty + 8) << "lights and behaviours are not counted";
    auto* material = new TMaterialDef(model.get(), "Mat");
    EXPECT_EQ(model->GetSize(), empty + 8 + 6 + material->GetSize());
    TAnimationDef* animation = model->AddEmptyAnimation("A");
    EXPECT_EQ(model->GetSize(),
              empty + 8 + 6 + material->GetSize() + int64_t(sizeof(std::vector<TOwned<TAnimationDef>>)) +
                  animation->GetSize());
}

TEST(ModelDef, ReadingFailuresReportAndKeepWhatWasRead)
{
    struct Case {
        const char* json;
        std::string error;
    };
    const Case cases[] = {
        {R"({"Behaviours": [{"Type": "TOtherBehaviourDef"}]})",
         "reading model data failed - unsupported behaviour class \"TOtherBehaviourDef\" found"},
        {R"({"Materials": [{"Id": "A"}, {"Id": "A"}]})", "Duplicates not allowed"},
        {R"({"Lights": [3]})", "Conversion from TJSONNumber to TJSONObject is not supported"},
        {R"({"Animations": [{"Id": "A", "Stages": [{"Id": "S", "Reference": "Nowhere"}]}]})",
         "failed to load animation stage S - transform with id \"Nowhere\" not found"},
        {R"({"Armatures": [{"Id": "R", "Controllers": ["Missing"]}]})", "controller with id \"Missing\" not found"},
    };
    for (const Case& c : cases) {
        auto model = MakeOwned<TModelDef>();
        EXPECT_EQ(MessageOf([&] { model->FromJSON(*Obj(c.json)); }), c.error) << c.json;
    }
    // What was read before the failure stays; the model can read again.
    auto model = MakeOwned<TModelDef>();
    EXPECT_THROW(model->FromJSON(*Obj(R"({"Materials": [{"Id": "A"}, {"Id": "A"}]})")), EListError);
    EXPECT_NE(model->FindMaterialById("A"), nullptr);
    model->FromJSON(*Obj(R"({"Materials": [{"Id": "B"}], "Children": [{"Id": "M", "Material": "B"}]})"));
    EXPECT_EQ(MaterialOf(*model, "M"), model->FindMaterialById("B"));
    // A material without an Id is in no table; the model still frees it.
    model->FromJSON(*Obj(R"({"Materials": [{"Kind": 1}]})"));
    EXPECT_EQ(model->Materials().size(), 2u);
}

namespace {

// Bakes on a worker until the animation refuses further frames, telling the
// test once it has started.
class TEndlessCaching : public TAnimationCaching {
public:
    explicit TEndlessCaching(TModelDef* AModel) : FModel(AModel) {}
    ~TEndlessCaching() override { Freed.store(true); }
    TAnimationCachingFlags Flags() const override
    {
        return {TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition};
    }
    void Execute(TAnimationDef* AAnimDef) override
    {
        AAnimDef->PrepareAnimationData();
        AAnimDef->InitializeCaching(FModel);
        TMeshDef* mesh = AAnimDef->Buffers()->begin()->first;
        TVertexBuffer vertices(TVertexFormats{TVertexFormat::Vertex}, 3);
        TIndexBuffer indices(3, TIndexFormat::UInt16);
        Started.store(true);
        // Frames wrap around: without a cancel this bake never ends.
        while (TAnimationBuffer* buffer = AAnimDef->StartCaching(mesh)) {
            AAnimDef->CacheFrame(buffer, &vertices, &indices, Flags());
            if (AAnimDef->BufferingState() == TAnimationBufferingState::Cached) buffer->SetFrameCount(0);
            if (buffer->Frames().empty()) buffer->SetFrameCount(AAnimDef->FrameCount());
            ++Frames;
        }
        AAnimDef->FinalizeCaching();
    }

    static inline std::atomic<bool> Started{false};
    static inline std::atomic<bool> Freed{false};
    static inline std::atomic<int> Frames{0};

private:
    TModelDef* FModel;
};

} // namespace

TEST(ModelDefLifetime, FreeingAModelWhileAWorkerBakesItWaitsForTheBakeToStop)
{
    TAnimationCachingFactory saved = TModelDef::AnimationCachingFactory();
    TModelDef::AnimationCachingFactory() = [](TModelDef* ADef, TAnimationCachingFlags, TComponent*) {
        return TOwned<TAnimationCaching>(new TEndlessCaching(ADef));
    };
    TEndlessCaching::Started = false;
    TEndlessCaching::Freed = false;
    TEndlessCaching::Frames = 0;
    auto model = ReadModel(CompleteModelJSON);
    test::LogCapture log;
    std::thread worker([&] { model->CacheAnimations({}, {}, nullptr); });
    while (!TEndlessCaching::Started) std::this_thread::yield();
    EXPECT_FALSE(TEndlessCaching::Freed);
    model.reset();
    // The bake frees its caching object and logs before it leaves the model.
    EXPECT_TRUE(TEndlessCaching::Freed) << "the model waited for the bake to leave";
    EXPECT_EQ(log.Lines().size(), 1u);
    worker.join();
    EXPECT_GT(TEndlessCaching::Frames.load(), 0);
    TModelDef::AnimationCachingFactory() = saved;
}

TEST(ModelDefLifetime, QueuedWorkAndBakedFramesGoWithTheModel)
{
    // Meshes made static on a worker queue their builds for the main thread;
    // the bake's buffers hold frames of every mesh.
    TAnimationCachingFactory saved = TModelDef::AnimationCachingFactory();
    TModelDef::AnimationCachingFactory() = [](TModelDef* ADef, TAnimationCachingFlags, TComponent*) {
        struct TOneFrame : TAnimationCaching {
            TModelDef* Model;
            explicit TOneFrame(TModelDef* AModel) : Model(AModel) {}
            TAnimationCachingFlags Flags() const override { return {TAnimationCachingFlag::Compressed}; }
            void Execute(TAnimationDef* AAnimDef) override
            {
                AAnimDef->PrepareAnimationData();
                AAnimDef->InitializeCaching(Model);
                for (const auto& [mesh, buffer] : *AAnimDef->Buffers())
                    if (mesh->VertexSource() && mesh->IndexSource())
                        AAnimDef->CacheFrame(buffer.get(), mesh->VertexSource(), mesh->IndexSource(), Flags());
                AAnimDef->FinalizeCaching();
            }
        };
        return TOwned<TAnimationCaching>(new TOneFrame(ADef));
    };
    auto model = ReadModel(CompleteModelJSON);
    std::thread worker([&] { model->CacheAnimations({}, {}, nullptr); });
    worker.join();
    TAnimationDef* nod = model->FindAnimationById("Nod");
    auto* body = dynamic_cast<TMeshDef*>(model->FindChildById("Body", true));
    ASSERT_EQ(nod->BufferingState(), TAnimationBufferingState::Ready);
    EXPECT_EQ(nod->Buffers()->at(body)->BufferedFrames(), 1);
    // Buffers for the meshes under the model (and theirs), none for the model.
    EXPECT_FALSE(nod->Buffers()->count(model.get()));
    EXPECT_TRUE(nod->Buffers()->count(dynamic_cast<TMeshDef*>(model->FindChildById("Visor", true))));
    EXPECT_EQ(nod->Buffers()->size(), 3u);
    EXPECT_TRUE(body->IsStatic());
    EXPECT_EQ(body->BufferObject(), nullptr) << "its build waits in the main-thread queue";
    model.reset();
    // The queued builds find their meshes gone (ASan watches the frames and meshes).
    int drained = 0;
    while (CheckSynchronize()) ++drained;
    EXPECT_GT(drained, 0);
    TModelDef::AnimationCachingFactory() = saved;
}
