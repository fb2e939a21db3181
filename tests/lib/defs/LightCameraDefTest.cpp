#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Korvane.DefTypes.Light.h"
#include "ModelStandIn.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::TTestModel;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

int CountPairs(const TJSONObject& obj, const char* name)
{
    int count = 0;
    for (const TJSONPair& pair : obj) count += pair.Name() == name;
    return count;
}

std::vector<std::string> ValuesOf(const TJSONObject& obj, const char* name)
{
    std::vector<std::string> values;
    for (const TJSONPair& pair : obj)
        if (pair.Name() == name) values.push_back(pair.JsonValue()->Value());
    return values;
}

class LightCameraModel : public test::ModelFixture {};

} // namespace

TEST_F(LightCameraModel, ReadLightsAndCamerasJoinTheModel)
{
    auto model = MakeOwned<TTestModel>();
    model->Read(*Obj(R"({"Id": "Model_1", "Lights": [{"Type": "Korvane.DefTypes.TLightDef", "Id": "Sun"}],
                         "Cameras": [{"Type": "Korvane.DefTypes.TCameraDef", "Id": "Cam"}]})"));
    ASSERT_EQ(model->Lights.size(), 1u);
    ASSERT_EQ(model->Cameras.size(), 1u);
    const TLightDef& light = *model->Lights[0];
    EXPECT_EQ(light.Id(), "Sun");
    EXPECT_EQ(light.Owner(), model.get());
    EXPECT_EQ(light.GetModel(), model->AsModelDef());
    EXPECT_EQ(light.LightType, TLightType::Point);
    EXPECT_EQ(light.Direction, TPoint3D(0, 1, 0));
    EXPECT_EQ(light.Diffuse, TAlphaColorF(1, 1, 1, 1));
    EXPECT_EQ(light.Ambient, TAlphaColorF(0, 0, 0, 1));
    EXPECT_EQ(light.Intensity, 100);
    EXPECT_EQ(light.ConstantAttenuation, 1);
    EXPECT_EQ(light.ScatteringExposure, 0.0034f);
    EXPECT_EQ(light.ScatteringDensity, 0.84f);
    EXPECT_EQ(light.SpotCutOff, 180);
    const TCameraDef& camera = *model->Cameras[0];
    EXPECT_EQ(camera.Owner(), model.get()) << "no \"Owner\" read: the camera keeps its model";
    EXPECT_EQ(camera._Type, TCameraType::PerspectiveCamera);
    EXPECT_EQ(camera.FOV, 45);
    EXPECT_EQ(camera.AspectRatio, 1.777778f);
    EXPECT_EQ(camera.NearPlane, 1);
    EXPECT_EQ(camera.FarPlane, 1000);
}

TEST(LightDef, LightTypeAndDirectionTexts)
{
    struct Case {
        const char* Json;
        TLightType Type;
        TPoint3D Direction;
    };
    const Case cases[] = {
        {R"({"LightType": "Spot"})", TLightType::Spot, {0, 1, 0}},
        {R"({"LightType": "spot"})", TLightType::Point, {0, 1, 0}},
        {R"({"LightType": "Directional", "Direction": "1 2"})", TLightType::Directional, {1, 2, 0}},
        {R"({"Direction": "1,2,3"})", TLightType::Point, {1, 2, 3}},
        {R"({"Direction": "1 2 3 4"})", TLightType::Point, {1, 2, 3}},
        {R"({"Direction": ""})", TLightType::Point, {0, 1, 0}},
    };
    for (const Case& c : cases) {
        test::Owned<TLightDef> light(new TLightDef(nullptr));
        light->LightType = TLightType::Directional;
        light->FromJSON(nullptr, *Obj(c.Json));
        EXPECT_EQ(light->LightType, c.Type) << c.Json;
        EXPECT_EQ(light->Direction, c.Direction) << c.Json;
    }
}

TEST(LightDef, JSONHoldsTwoOwnerPairsAndCamerasTwoTypePairs)
{
    TTransformDef parent(nullptr);
    parent.SetId("Arm");
    test::Owned<TLightDef> light(new TLightDef(&parent));
    light->Intensity = 0.35f;
    auto json = light->ToJSON();
    EXPECT_EQ(ValuesOf(*json, "Owner"), (std::vector<std::string>{"Arm", "Arm"}));
    EXPECT_EQ(json->GetValue("Intensity")->Value(), "0.349999994039536");
    EXPECT_EQ(CountPairs(*test::Owned<TLightDef>(new TLightDef(nullptr))->ToJSON(), "Owner"), 2);

    for (const TCameraType type : {TCameraType::PerspectiveCamera, TCameraType::OrthographicCamera}) {
        test::Owned<TCameraDef> camera(new TCameraDef(nullptr));
        camera->_Type = type;
        camera->Target = "Chair";
        camera->FOV = 60;
        json = camera->ToJSON();
        const bool ortho = type == TCameraType::OrthographicCamera;
        EXPECT_EQ(ValuesOf(*json, "Type"),
                  (std::vector<std::string>{"Korvane.DefTypes.TCameraDef", ortho ? "Orthographic" : "Perspective"}));
        EXPECT_EQ(ValuesOf(*json, "Owner"), (std::vector<std::string>{"null", ""}));
        // Read back through the camera's own second "Type".
        test::Owned<TCameraDef> back(new TCameraDef(nullptr));
        back->FromJSON(nullptr, *json);
        EXPECT_EQ(back->_Type, type);
        EXPECT_EQ(back->Target, "Chair");
        EXPECT_EQ(back->FOV, 60);
        EXPECT_EQ(back->ToJSON()->ToJSON(), json->ToJSON());
    }
    // A camera object with a single "Type" pair is read from that one.
    test::Owned<TCameraDef> single(new TCameraDef(nullptr));
    single->FromJSON(nullptr, *Obj(R"({"Type": "Orthographic"})"));
    EXPECT_EQ(single->_Type, TCameraType::OrthographicCamera);
}

TEST(LightDef, ComponentNames)
{
    struct Case {
        const char* Id;
        std::string Light, Camera;
    };
    const Case cases[] = {
        {"Sun", "Sun", "Sun"},
        {"1 lamp", "_1_lamp", "_1_lamp"},
        {"", "Light_", "Camera_"},
    };
    for (const Case& c : cases) {
        test::Owned<TLightDef> light(new TLightDef(nullptr));
        test::Owned<TCameraDef> camera(new TCameraDef(nullptr));
        light->SetId(c.Id);
        camera->SetId(c.Id);
        const std::string lightName = light->GetQualifiedComponentName();
        const std::string cameraName = camera->GetQualifiedComponentName();
        if (*c.Id) {
            EXPECT_EQ(lightName, c.Light);
            EXPECT_EQ(cameraName, c.Camera);
            continue;
        }
        // The prefix and the object's own address in decimal: different for two live definitions.
        EXPECT_EQ(lightName, "Light_" + std::to_string(reinterpret_cast<intptr_t>(light.get())));
        EXPECT_EQ(cameraName, "Camera_" + std::to_string(reinterpret_cast<intptr_t>(camera.get())));
        test::Owned<TLightDef> other(new TLightDef(nullptr));
        EXPECT_NE(other->GetQualifiedComponentName(), lightName);
    }
}

TEST_F(LightCameraModel, CameraOwnerLaterInTheModelResolvesInTheLatePass)
{
    auto model = MakeOwned<TTestModel>();
    // The cameras are read after the tree in the model reader; the owner is
    // still left to the late pass, and one that names nothing stays unset.
    model->Read(*Obj(R"({"Id": "Model_1",
        "Cameras": [{"Id": "Cam", "Owner": "#rig", "Type": "Korvane.DefTypes.TCameraDef", "Type": "Orthographic"},
                    {"Id": "Lost", "Owner": "Nowhere"}],
        "Lights": [{"Id": "Lamp", "Owner": "Cam"}],
        "Children": [{"Type": "Korvane.DefTypes.TTransformDef", "Id": "RIG",
                      "Children": [{"Type": "Korvane.DefTypes.TLightDef", "Id": "Child", "Owner": "RIG"},
                                   {"Type": "Korvane.DefTypes.TCameraDef", "Id": "ChildCam", "Owner": "RIG"}]}]})"));
    ASSERT_EQ(model->Cameras.size(), 2u) << "children do not join the model's lists";
    ASSERT_EQ(model->Lights.size(), 1u);
    TTransformDef* rig = model->FindChildById("RIG", true);
    const TCameraDef& cam = *model->Cameras[0];
    EXPECT_EQ(cam.Owner(), rig);
    EXPECT_EQ(cam.OwnerId(), "#rig") << "the id stays the one read";
    EXPECT_EQ(cam._Type, TCameraType::OrthographicCamera);
    EXPECT_EQ(model->Cameras[1]->Owner(), nullptr);
    EXPECT_EQ(model->Cameras[1]->OwnerId(), "Nowhere");
    EXPECT_EQ(model->Lights[0]->Owner(), model.get()) << "a light keeps the owner it was made with";

    // Children start from zero and keep their parent.
    auto* child = dynamic_cast<TLightDef*>(model->FindChildById("Child", true));
    auto* childCam = dynamic_cast<TCameraDef*>(model->FindChildById("ChildCam", true));
    ASSERT_TRUE(child && childCam);
    EXPECT_EQ(child->Owner(), rig);
    EXPECT_EQ(childCam->Owner(), rig);
    EXPECT_EQ(child->LightType, TLightType::Point) << "a missing light type reads as Point";
    EXPECT_EQ(child->Intensity, 0);
    EXPECT_EQ(child->Diffuse, TAlphaColorF(0, 0, 0, 0));
    EXPECT_EQ(childCam->FOV, 0);
}

TEST_F(LightCameraModel, ModelJSONReadsWritesAndReadsBackEqual)
{
    // The seed of the definitions' fuzz target: materials (one layered with two
    // sub-materials), a behaviour, lights, cameras, a group and metadata.
    const std::filesystem::path seed = std::filesystem::path(KORVANE_SOURCE_DIR) / "../fuzz/corpus/Definitions/model.json";
    std::ifstream file(seed);
    ASSERT_TRUE(file) << seed;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    auto first = MakeOwned<TTestModel>();
    first->Read(*Obj(text));
    ASSERT_EQ(first->Materials.size(), 4u) << "sub-materials are in the model's table too";
    const TMaterialDef& layers = *first->Materials.at("Layers");
    ASSERT_NE(layers.LayeredMaterials(), nullptr);
    EXPECT_EQ(layers.LayeredMaterials()->size(), 2u);
    EXPECT_EQ(first->Materials.at("Layer1")->ParentMaterial(), &layers);
    const TMaterialDef& wood = *first->Materials.at("Wood");
    EXPECT_EQ(wood.GetMaterialBehaviourRefByDisplayName("Wave")->Reference(), first->Behaviours[0].get());
    EXPECT_EQ(wood.GetTexture(TColorChannelDef::Normal)->AssetRef(), first->TextureAssets.at(0));
    EXPECT_EQ(first->Lights.size(), 1u);
    EXPECT_EQ(first->Cameras.at(0)->Owner(), first->FindChildById("Rig", true));
    EXPECT_EQ(first->Cameras.at(0)->_Type, TCameraType::OrthographicCamera);
    EXPECT_EQ(first->Group->Author, "Ann");
    EXPECT_EQ(first->MetaData->Title(), "Chair");

    const std::string written = first->Write()->ToJSON();
    auto second = MakeOwned<TTestModel>();
    second->Read(*Obj(written));
    EXPECT_EQ(second->Write()->ToJSON(), written);
    EXPECT_EQ(second->Materials.size(), 4u);
    EXPECT_EQ(TimestampToString(second->Group->Timestamp), "2024-03-05 14:07:09");
}

// A number past the float range would narrow to infinity, which no writer can
// store again: reading refuses it and names the pair, while the largest float
// itself still reads.
TEST(LightDef, SinglePairsRefuseNumbersBeyondTheFloatRange)
{
    struct Case {
        const char* Json;
        bool Fails;
    };
    const Case cases[] = {
        {R"({"Intensity": 1e39})", true},
        {R"({"SpotCutOff": -1e300})", true},
        {R"({"Intensity": 3.4028234e38})", false},
    };
    for (const Case& c : cases) {
        test::Owned<TLightDef> light(new TLightDef(nullptr));
        if (c.Fails)
            EXPECT_THROW(
                try { light->FromJSON(nullptr, *Obj(c.Json)); } catch (const EConvertError& e) {
                    EXPECT_NE(e.Message().find("outside the range of Single in pair"), std::string::npos) << e.Message();
                    throw;
                },
                EConvertError)
                << c.Json;
        else
            EXPECT_NO_THROW(light->FromJSON(nullptr, *Obj(c.Json))) << c.Json;
    }
    test::Owned<TCameraDef> camera(new TCameraDef(nullptr));
    EXPECT_THROW(camera->FromJSON(nullptr, *Obj(R"({"FOV": 1e39})")), EConvertError);
}
