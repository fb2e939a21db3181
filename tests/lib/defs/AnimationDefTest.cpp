#include <gtest/gtest.h>

#include "Korvane.DefTypes.Animation.h"
#include "LogCapture.h"
#include "ModelStandIn.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::TTestModel;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

// A stage with one track of each duration.
TAnimationStageDef* AddStage(TAnimationDef& AAnimation, const std::string& AId, std::initializer_list<float> ADurations)
{
    auto* stage = new TAnimationStageDef(&AAnimation);
    stage->SetId(AId);
    for (float duration : ADurations) {
        auto* track = new TPoint3DInterpolatorDef(stage);
        track->SetDuration(duration);
        stage->AddInterpolator(track);
    }
    AAnimation.AddStage(stage);
    return stage;
}

TPoint3DInterpolatorDef* AddPointTrack(TAnimationStageDef& AStage, const char* APath,
                                       std::vector<std::pair<float, TPoint3D>> AKeys)
{
    auto* track = new TPoint3DInterpolatorDef(&AStage);
    track->SetPath(APath);
    for (const auto& [time, value] : AKeys) track->AddKey(time, value, TInterpolationType::Linear);
    AStage.AddInterpolator(track);
    return track;
}

// A model with a rig, a skinned mesh and an animation of three track kinds.
constexpr const char* AnimatedModelJSON = R"({"Id": "Model_1",
  "Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "Body"},
               {"Type": "Korvane.DefTypes.TTransformDef", "Id": "Prop"}],
  "Armatures": [{"Type": "Korvane.DefTypes.TArmatureDef", "Id": "Rig",
    "Root": {"Type": "Korvane.DefTypes.TJointDef", "Id": "Hips",
      "Joints": [{"Id": "Spine", "Joints": [{"Id": "Head"}]}, {"Id": "Leg"}]},
    "Controllers": ["Skin1"]}],
  "Controllers": [{"Id": "Skin1", "Target": "Body", "Skin": {"Id": "BodySkin",
    "LinkedJoints": [{"Joint": "Hips", "Weights": "0.75 1", "Indices": "0 1", "LowerLimit": "-1", "UpperLimit": "1",
                      "InvBindMatrix": "1 0 0 0 0 1 0 0 0 0 1 0 0 -1 0 1", "InvBindMatAvail": true},
                     {"Joint": "Head", "Weights": "0.25", "Indices": "0"}],
    "Skeletons": ["Hips"], "BindShapeMatrix": "2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1",
    "BindPoses": ["1 0 0 0 0 1 0 0 0 0 1 0 0 1 0 1", ""]}}],
  "Animations": [{"Type": "Korvane.DefTypes.TAnimationDef", "Id": "Walk", "Stages": [
    {"Id": "HeadStage", "Reference": "Head", "Interpolators": [
      {"Type": "Korvane.DefTypes.TPoint3DInterpolatorDef", "Id": "Move", "Path": "Position.Point", "Duration": 2,
       "Loop": true, "Keys": [{"Key": 0, "Interpolation": 0, "Value": "0 0 0"},
                             {"Key": 1, "Interpolation": 3, "Value": "0 1 0"}]},
      {"Type": "TQuaternion3DInterpolatorDef", "Id": "Turn", "Path": "Quaternion",
       "Keys": [{"Key": 0, "Interpolation": 0, "Value": "0 0 0 1"}]}]},
    {"Id": "PropStage", "Reference": "Prop", "Interpolators": [
      {"Type": "TTransformationInterpolatorDef", "Id": "Whole", "Path": "",
       "Keys": [{"Key": 0.5, "Interpolation": 1, "Value": "1 0 0 0 0 1 0 0 0 0 1 0 3 0 0 1"}]}]},
    {"Id": "Free", "Reference": null, "Interpolators": []}]}]})";

class AnimationModel : public test::ModelFixture {};

} // namespace

TEST(AnimationDef, DurationAndFrameCount)
{
    TAnimationDef animation(nullptr);
    EXPECT_EQ(animation.GetDurationInSeconds(), 0);
    AddStage(animation, "A", {2});
    AddStage(animation, "B", {1, 3.5f});
    EXPECT_EQ(animation.GetDurationInSeconds(), 3.5);
    EXPECT_EQ(animation.GetDurationInMilliseconds(), 3500);
    EXPECT_EQ(animation.FrameCount(), 0) << "only after preparing";
    animation.PrepareAnimationData();
    EXPECT_EQ(animation.FrameCount(), 210);
    EXPECT_EQ(animation.Duration(), 3.5);

    AddStage(animation, "C", {10});
    animation.SetFrameRate(60);
    EXPECT_EQ(animation.FrameCount(), 210) << "the same rate changes nothing";
    animation.SetFrameRate(30);
    EXPECT_EQ(animation.FrameCount(), 300);
    EXPECT_EQ(animation.ComputeFrameCount(3.5), 105);
    EXPECT_EQ(animation.ComputeFrameCountMS(3500), 105);

    AddStage(animation, "Endless", {3e38f});
    EXPECT_THROW(animation.PrepareAnimationData(), Exception) << "no frame count fits";
}

TEST(AnimationDef, StagesAreUniqueById)
{
    TAnimationDef animation(nullptr);
    TAnimationStageDef* stage = AddStage(animation, "S", {});
    animation.AddStage(stage);
    animation.AddStage(nullptr);
    EXPECT_EQ(animation.Stages().size(), 1u);
    TOwned<TAnimationStageDef> twin = MakeOwned<TAnimationStageDef>(&animation);
    twin->SetId("S");
    EXPECT_EQ(MessageOf([&] { animation.AddStage(twin.get()); }), "TAnimationDef: Stage with id S already exists");
    EXPECT_EQ(animation.FindStageById("S"), stage);
    EXPECT_EQ(animation.FindStageById("s"), nullptr);
}

TEST_F(AnimationModel, StageInterpolatorTypes)
{
    TOwned<TTestModel> model = MakeOwned<TTestModel>();
    model->Read(*Obj(AnimatedModelJSON));
    TAnimationDef animation(model->AsModelDef());
    struct Case {
        const char* type;
        const char* error;
    };
    const Case cases[] = {
        {"TPoint3DInterpolatorDef", nullptr},
        {"Korvane.DefTypes.TPoint3DInterpolatorDef", nullptr},
        {"tpoint3dinterpolatordef", "failed to load animation stage S - invalid interpolator type found: tpoint3dinterpolatordef"},
        {"Korvane.DefTypes.Korvane.DefTypes.TPoint3DInterpolatorDef",
         "failed to load animation stage S - invalid interpolator type found: "
         "Korvane.DefTypes.Korvane.DefTypes.TPoint3DInterpolatorDef"},
    };
    for (const Case& c : cases) {
        TAnimationStageDef stage(&animation);
        const std::string json =
            std::string(R"({"Id": "S", "Interpolators": [{"Type": ")") + c.type + R"(", "Path": "Position.Point"}]})";
        if (c.error) {
            EXPECT_EQ(MessageOf([&] { stage.FromJSON(model->AsModelDef(), *Obj(json)); }), c.error);
            continue;
        }
        stage.FromJSON(model->AsModelDef(), *Obj(json));
        ASSERT_EQ(stage.Interpolators().size(), 1u);
        EXPECT_NE(dynamic_cast<TPoint3DInterpolatorDef*>(stage.Interpolators()[0].get()), nullptr) << c.type;
    }
    TAnimationStageDef stage(&animation);
    EXPECT_EQ(MessageOf([&] { stage.FromJSON(model->AsModelDef(), *Obj(R"({"Id": "S", "Reference": "Nothing"})")); }),
              "failed to load animation stage S - transform with id \"Nothing\" not found");
    EXPECT_EQ(MessageOf([&] { stage.FromJSON(model->AsModelDef(), *Obj(R"({"Id": "S", "Interpolators": [
        {"Type": "TPoint3DInterpolatorDef"}]})")); }),
              "failed to load animation stage S - failed to load interpolator path - property path value not found");
}

TEST(AnimationDef, UnifyingMergesPositionAndScaleTracks)
{
    TAnimationDef animation(nullptr);
    TAnimationStageDef* stage = AddStage(animation, "Arm", {});
    AddPointTrack(*stage, "Position.Point", {{0, {0, 0, 0}}, {0.25f, {1, 0, 0}}, {1, {4, 0, 0}}});
    AddPointTrack(*stage, "Scale.Point", {{0, {1, 1, 1}}, {1, {3, 3, 3}}});
    TPoint3DInterpolatorDef* color = AddPointTrack(*stage, "Color", {{0, {0, 0, 0}}, {1, {1, 1, 1}}});
    TAnimationStageDef* colorOnly = AddStage(animation, "Paint", {});
    AddPointTrack(*colorOnly, "Color", {{0, {0, 0, 0}}, {1, {1, 1, 1}}});

    std::vector<float> seen;
    animation.UnifyInterpolators({}, [&](TAnimationStageDef* AStage, float& AKey, TMatrix3D&, TInterpolationType&) {
        EXPECT_EQ(AStage, stage);
        seen.push_back(AKey);
    });

    ASSERT_EQ(stage->Interpolators().size(), 2u) << "the colour track and the merged track";
    EXPECT_EQ(stage->Interpolators()[0].get(), color);
    auto* merged = dynamic_cast<TTransformationInterpolatorDef*>(stage->Interpolators()[1].get());
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->Id(), "Arm_transform_merged_3");
    ASSERT_EQ(merged->KeyCount(), 3);
    // Key i at max(position key time, i / 2); scale sampled at 0, 0.5, 1.
    const std::tuple<float, float, float> expected[] = {{0, 1, 0}, {0.5f, 2, 1}, {1, 3, 4}};
    for (int i = 0; i < 3; ++i) {
        const auto& [time, scale, x] = expected[i];
        const auto& key = *merged->Keys()[size_t(i)];
        EXPECT_EQ(key.Key(), time) << i;
        EXPECT_EQ(TPoint3D(1, 0, 0) * key.Value(), TPoint3D(scale + x, 0, 0)) << i;
    }
    EXPECT_EQ(seen, (std::vector<float>{0, 0.5f, 1}));
    EXPECT_EQ(colorOnly->Interpolators().size(), 1u) << "a stage without transform tracks stays";
}

TEST(AnimationDef, UnifyingAppliesTheBaseTransform)
{
    TTransformDef node(nullptr);
    node.SetTransform(TMatrix3D::CreateTranslation(TPoint3D(0, 5, 0)));
    struct Case {
        TKeyUnifyFlags flags;
        TPoint3D origin;
    };
    const Case cases[] = {
        {{}, {1, 5, 0}},
        {{TKeyUnifyFlag::AbsoluteKeyTransform}, {1, 0, 0}},
        {{TKeyUnifyFlag::InverseTransform}, {-1, 5, 0}},
    };
    for (const Case& c : cases) {
        TAnimationDef animation(nullptr);
        TAnimationStageDef* stage = AddStage(animation, "S", {});
        stage->SetReference(&node);
        stage->SetKeyUnifyFlags(c.flags);
        AddPointTrack(*stage, "Position.Point", {{0, {1, 0, 0}}, {1, {1, 0, 0}}});
        animation.UnifyInterpolators({}, nullptr);
        const auto* merged = dynamic_cast<TTransformationInterpolatorDef*>(stage->Interpolators().back().get());
        ASSERT_NE(merged, nullptr);
        EXPECT_EQ(TPoint3D(0, 0, 0) * merged->Keys()[0]->Value(), c.origin);
    }
}

TEST_F(AnimationModel, ModelReadsWritesAndReadsBackEqual)
{
    TOwned<TTestModel> model = MakeOwned<TTestModel>();
    model->Read(*Obj(AnimatedModelJSON));
    ASSERT_EQ(model->Animations.size(), 1u);
    const TAnimationDef& walk = *model->Animations[0];
    ASSERT_EQ(walk.Stages().size(), 3u);
    EXPECT_EQ(walk.Stages()[0]->Reference(), model->FindJointById("Head")) << "joints before transforms";
    EXPECT_EQ(walk.Stages()[1]->Reference(), model->FindChildById("Prop", false));
    EXPECT_EQ(walk.Stages()[2]->Reference(), nullptr);
    const auto* move = dynamic_cast<TPoint3DInterpolatorDef*>(walk.Stages()[0]->Interpolators()[0].get());
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(move->Stage(), walk.Stages()[0].get());
    EXPECT_EQ(move->Keys()[1]->Interpolation(), TInterpolationType::Quartic);
    const TSkinDef& skin = *model->Controllers[0]->Skin();
    EXPECT_EQ(skin.BindPoses().size(), 2u);
    EXPECT_EQ(skin.BindPoses()[1], TMatrix3D::Identity()) << "an empty matrix text reads as the identity";
    EXPECT_TRUE(skin.LinkedJoints()[0]->IsInvBindMatrixAvailable());
    EXPECT_EQ(skin.LinkedJoints()[0]->LowerLimit(), std::vector<float>{-1});

    const auto written = model->Write();
    TOwned<TTestModel> back = MakeOwned<TTestModel>();
    back->Read(*written);
    const auto again = back->Write();
    for (const char* name : {"Children", "Armatures", "Controllers", "Animations"})
        EXPECT_EQ(again->GetValue(name)->ToJSON(), written->GetValue(name)->ToJSON()) << name;
    EXPECT_EQ(back->Armatures[0]->Controllers()[0], back->Controllers[0].get());
    EXPECT_EQ(back->Animations[0]->GetSize(), walk.GetSize());
    EXPECT_EQ(back->Controllers[0]->GetSize(), model->Controllers[0]->GetSize());
}
