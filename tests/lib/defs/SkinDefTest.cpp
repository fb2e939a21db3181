#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Korvane.DefTypes.Skin.h"
#include "LogCapture.h"
#include "ModelStandIn.h"
#include "Platform.Bitmaps.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::TTestModel;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

// A rig of four joints under "Hips" and a mesh "Body" skinned by "Skin1".
constexpr const char* RigJSON = R"({"Id": "Model_1",
  "Children": [{"Type": "Korvane.DefTypes.TMeshDef", "Id": "Body"}],
  "Armatures": [{"Type": "Korvane.DefTypes.TArmatureDef", "Id": "Rig",
    "Root": {"Type": "Korvane.DefTypes.TJointDef", "Id": "Hips", "Joints": [
      {"Id": "Spine", "Transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 2 0 1", "Joints": [{"Id": "Head"}]},
      {"Id": "Leg"}]},
    "Controllers": ["Skin1"]}],
  "Controllers": [{"Id": "Skin1", "Target": "Body", "Skin": {"Id": "BodySkin",
    "LinkedJoints": [{"Joint": "Hips", "Weights": "0.5 1", "Indices": "0 1"},
                     {"Joint": "Spine", "Weights": "0.25", "Indices": "0"}],
    "Skeletons": ["Hips"]}}]})";

class SkinModel : public test::ModelFixture {
protected:
    void SetUp() override
    {
        test::ModelFixture::SetUp();
        Model = MakeOwned<TTestModel>();
        Model->Read(*Obj(RigJSON));
        Controller = Model->Controllers.at(0).get();
        Skin = Controller->Skin();
        Body = dynamic_cast<TMeshDef*>(Model->FindChildById("Body", true));
    }
    void TearDown() override
    {
        Model.reset();
        test::ModelFixture::TearDown();
    }

    // Gives the body AVertices vertices (with texture coordinates) and triangles.
    void GiveBodyVertices(int AVertices)
    {
        Body->CreateVertexSource(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::TexCoord0});
        Body->VertexSource()->SetLength(AVertices);
        for (int i = 0; i < AVertices; ++i) Body->VertexSource()->SetVertices(i, TPoint3D(float(i), 0, 0));
        Body->CreateIndexSource(TIndexFormat::UInt16);
    }

    TOwned<TTestModel> Model;
    TControllerDef* Controller = nullptr;
    TSkinDef* Skin = nullptr;
    TMeshDef* Body = nullptr;
};

} // namespace

TEST(VertexJoints, SlotsHoldSixteenDistinctJoints)
{
    TArmatureDef armature(nullptr);
    std::vector<TOwned<TJointDef>> joints;
    for (int i = 0; i < 17; ++i) joints.push_back(MakeOwned<TJointDef>(&armature));

    TVertexJoints record = TVertexJoints::Create(5);
    EXPECT_TRUE(record.JointExists(nullptr)) << "free slots hold nothing";
    record.Add(joints[0].get(), 0.5f);
    record.Add(joints[0].get(), 0.9f);
    EXPECT_EQ(record.JointsCount, 1);
    EXPECT_EQ(record.WeightsArray[0], 0.5f) << "the second weight of a joint is not stored";
    for (int i = 1; i < 16; ++i) record.Add(joints[size_t(i)].get(), 0.1f);
    EXPECT_EQ(record.JointsCount, 16);
    EXPECT_FALSE(record.JointExists(nullptr)) << "every slot is taken";
    EXPECT_EQ(MessageOf([&] { record.Add(joints[16].get(), 0.1f); }),
              "TVertexJoints.Add(): failed to add joint for vertex - range exceeded - too many joints on a single vertex");
    record.Free();
    EXPECT_EQ(record.JointsCount, 0);
    EXPECT_EQ(record.JointsArray[0], nullptr);

    TVertexJointsList list(nullptr, 3);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_THROW(list.GetItemPtr(3), EListError);
}

TEST(JointDef, TreeCountsSearchesAndNumbersJoints)
{
    TArmatureDef armature(nullptr);
    auto* root = new TJointDef(&armature);
    armature.SetRoot(root);
    EXPECT_EQ(root->ArmatureIndex(), 1);
    root->FromJSONTree(nullptr, *Obj(R"({"Id": "Hips", "Joints": [
        {"Id": "Spine", "Joints": [{"Id": "Neck", "Joints": [{"Id": "Head"}]}]},
        {"Id": "Spine", "Transform": "2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1"},
        {"Id": "Leg"}]})"));
    ASSERT_NE(root->Joints(), nullptr);
    EXPECT_EQ(root->Joints()->size(), 2u) << "a second child of the same Id is not added";
    TJointDef* spine = root->FindJointById("Spine");
    ASSERT_NE(spine, nullptr);
    EXPECT_EQ(spine->Transform(), TMatrix3D::Identity()) << "the first Spine stays";
    EXPECT_EQ(root->JointsCount(), 4) << "all descendants";
    EXPECT_EQ(root->FindJointById("Hips"), nullptr) << "never the joint itself";
    EXPECT_EQ(armature.FindJointById("Hips"), root);
    TJointDef* head = armature.FindJointById("Head");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->Parent()->Id(), "Neck");
    EXPECT_EQ(head->Armature(), &armature);
    EXPECT_EQ(armature.JointsCount(), 6) << "every joint made for the armature counts, also the rejected one";

    TJointDef loose(nullptr);
    EXPECT_EQ(loose.ArmatureIndex(), 0);
    TTransformDef parent(nullptr);
    TJointDef child(&parent, TChildDefConstruction{});
    EXPECT_THROW(child.Armature(), EInvalidCast);
}

TEST(JointDef, GlobalTransformationAppliesTheParentAfterTheJoint)
{
    TArmatureDef armature(nullptr);
    auto* root = new TJointDef(&armature);
    armature.SetRoot(root);
    root->SetId("Root");
    root->SetTransform(TMatrix3D::CreateScaling(TPoint3D(2, 2, 2)));
    auto* child = new TJointDef(&armature);
    child->SetId("Child");
    child->SetParent(root);
    child->SetTransform(TMatrix3D::CreateTranslation(TPoint3D(1, 0, 0)));
    ASSERT_TRUE(root->AddJoint(child));
    // (0,0,0) moved by 1 along X, then scaled by 2.
    EXPECT_EQ(TPoint3D(0, 0, 0) * child->EvaluateGlobalTransformation(), TPoint3D(2, 0, 0));
}

TEST_F(SkinModel, ReadingResolvesJointsControllersAndArmatures)
{
    EXPECT_EQ(Controller->Target(), Body);
    EXPECT_EQ(Controller->Index(), 0);
    ASSERT_NE(Skin, nullptr);
    EXPECT_EQ(Skin->Controller(), Controller);
    ASSERT_EQ(Skin->LinkedJoints().size(), 2u);
    EXPECT_EQ(Skin->LinkedJoints()[1]->Joint(), Model->FindJointById("Spine"));
    EXPECT_EQ(Skin->LinkedJoints()[1]->LinkIndex(), 1);
    EXPECT_EQ(Skin->LinkedJoints()[0]->Weights(), (std::vector<float>{0.5f, 1}));
    ASSERT_EQ(Skin->Skeletons().size(), 1u);
    EXPECT_TRUE(Skin->Skeletons()[0]->IsStandalone());
    EXPECT_TRUE(Skin->LinkedJoints()[0]->IsSkeletonRoot(Skin));
    EXPECT_FALSE(Skin->LinkedJoints()[1]->IsSkeletonRoot(Skin));
    EXPECT_EQ(MessageOf([&] { Skin->LinkedJoints()[0]->IsSkeletonRoot(nullptr); }),
              "armature parameter expected - parameter is empty");
    const TArmatureDef& rig = *Model->Armatures[0];
    EXPECT_EQ(rig.Controllers(), (std::vector<TControllerDef*>{Controller})) << "held once";
    EXPECT_EQ(rig.FindControllerByTransform(Body), Controller);
    EXPECT_EQ(Skin->LinkedJointsToString(), "Hips, Spine");
}

TEST_F(SkinModel, JointReferencesByJointIdAndByOwnId)
{
    TJointRefDef* spineRef = Skin->LinkedJoints()[1].get();
    EXPECT_EQ(Skin->GetJointRef("Spine"), spineRef);
    EXPECT_EQ(Controller->GetJointRef(Model->FindJointById("Spine")), spineRef);
    EXPECT_EQ(Skin->GetJointIndex("Spine"), 1);
    EXPECT_EQ(Skin->GetJointIndex(Model->FindJointById("Hips")), 0);
    spineRef->SetId("Renamed");
    EXPECT_EQ(Skin->GetJointRef("Spine"), spineRef) << "by the joint's Id";
    EXPECT_EQ(Skin->GetJointIndex("Spine"), -1) << "by the reference's own Id";
    EXPECT_EQ(Skin->GetJointIndex("Renamed"), 1);
    EXPECT_EQ(Skin->GetJointRef("Leg"), nullptr);

    TJointDef* leg = Model->FindJointById("Leg");
    TJointRefDef* legRef = Skin->LinkJoint(leg);
    EXPECT_EQ(legRef->LinkIndex(), 2);
    EXPECT_EQ(legRef->Controller(), Controller);
    EXPECT_EQ(Skin->LinkJoint(leg), legRef) << "an existing reference is reused";
    EXPECT_EQ(Skin->LinkJoint(static_cast<TJointRefDef*>(nullptr)), nullptr);
    TOwned<TControllerDef> bare = MakeOwned<TControllerDef>(nullptr);
    EXPECT_THROW(bare->GetJointRef("Spine"), Exception);
}

TEST_F(SkinModel, BindPosesApplyByReferenceId)
{
    test::LogCapture log;
    Skin->SetBindPosesArrayLength(1);
    Skin->BindPoses()[0] = TMatrix3D::CreateTranslation(TPoint3D(0, -1, 0));
    Skin->ApplyBindPoses();
    EXPECT_TRUE(Skin->LinkedJoints()[0]->IsInvBindMatrixAvailable());
    EXPECT_EQ(Skin->LinkedJoints()[0]->InvBindMatrix(), Skin->BindPoses()[0]);
    EXPECT_FALSE(Skin->LinkedJoints()[1]->IsInvBindMatrixAvailable()) << "no pose for the second joint";
    EXPECT_TRUE(log.Contains("failed to apply bind pose - no bind pose for joint Spine (1 / 1)"));

    std::vector<TMatrix3D> transforms(2);
    EXPECT_THROW(Skin->GetSkeletonJointTransformations(transforms, TMatrix3D::Identity()), Exception)
        << "one bind pose for two joints";
    Skin->AdjustBindPosesArrayLength(1);
    EXPECT_EQ(Skin->BindPoses().size(), 2u);
    Skin->AdjustBindPosesArrayLength(0);
    EXPECT_EQ(Skin->BindPoses().size(), 2u) << "never shrinks";
    Skin->BindPoses()[1] = TMatrix3D::CreateTranslation(TPoint3D(0, 2, 0));
    Skin->GetSkeletonJointTransformations(transforms, TMatrix3D::Identity());
    // Spine sits at (0, 2, 0) and its bind pose at the same place: no movement.
    EXPECT_EQ(TPoint3D(1, 1, 1) * transforms[1], TPoint3D(1, 1, 1));

    Skin->LinkedJoints()[0]->ApplyBindPose(nullptr);
    EXPECT_FALSE(Skin->LinkedJoints()[0]->IsInvBindMatrixAvailable());
    EXPECT_EQ(Skin->LinkedJoints()[0]->InvBindMatrix(), TMatrix3D::Identity());
}

TEST_F(SkinModel, VertexJointsFromTheSkin)
{
    GiveBodyVertices(3);
    TOwned<TVertexJointsList> list(Skin->GenerateVertexJoints(TMatrix3D::Identity(), nullptr));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ(list->GetItem(2).Position, TPoint3D(2, 0, 0));
    Skin->ApplyVertexJointsRelation(list.get());
    const TVertexJoints first = list->GetItem(0);
    EXPECT_EQ(first.JointsCount, 2);
    EXPECT_EQ(first.JointsArray[1], Model->FindJointById("Spine"));
    EXPECT_EQ(first.WeightsArray[1], 0.25f);
    EXPECT_EQ(list->GetItem(2).JointsCount, 0);

    // A vertex number beyond the mesh stops with the count (the text has no closing parenthesis).
    Skin->LinkedJoints()[1]->SetIndices({3});
    TOwned<TVertexJointsList> again(Skin->GenerateVertexJoints(TMatrix3D::Identity(), nullptr));
    EXPECT_EQ(MessageOf([&] { Skin->ApplyVertexJointsRelation(again.get()); }),
              "TSkinDef.ApplyVertexJointsRelation - invalid index on TVertexJointsList (3 / 3");

    // Through a vertex index map, numbers of split vertices beyond the list are skipped.
    TVertexIndexMap map;
    map.Add(3, {0, 7});
    Body->AddVertexIndexMap(map, 0);
    TOwned<TVertexJointsList> mapped(Skin->GenerateVertexJoints(TMatrix3D::Identity(), nullptr));
    Skin->ApplyVertexJointsRelation(mapped.get());
    EXPECT_EQ(mapped->GetItem(0).JointsArray[0], Model->FindJointById("Spine"));

    TSkinDef orphan(nullptr);
    EXPECT_EQ(MessageOf([&] { orphan.GenerateVertexJoints(TMatrix3D::Identity(), nullptr); }),
              "missing target definition in skin ``");
}

TEST_F(SkinModel, WeightsNormalisePerVertex)
{
    GiveBodyVertices(2);
    Skin->NormalizeJointVertexWeights(1e-5f);
    const auto& hips = Skin->LinkedJoints()[0]->Weights();
    const auto& spine = Skin->LinkedJoints()[1]->Weights();
    EXPECT_NEAR(hips[0], 2.0 / 3, 1e-6);
    EXPECT_NEAR(spine[0], 1.0 / 3, 1e-6);
    EXPECT_EQ(hips[1], 1) << "a vertex summing to 1 stays";

    GiveBodyVertices(3);
    EXPECT_EQ(MessageOf([&] { Skin->NormalizeJointVertexWeights(1e-5f); }),
              "TSkinDef.NormalizeJointVertexWeights: failed to normalize weights for vertex 2");
}

TEST_F(SkinModel, NormalisingMoreThanSixteenWeightsIsRefused)
{
    GiveBodyVertices(1);
    for (int i = 0; i < 15; ++i) {
        auto* joint = new TJointDef(Model->Armatures[0].get());
        joint->SetId("Extra" + std::to_string(i));
        ASSERT_TRUE(Model->Armatures[0]->Root()->AddJoint(joint));
        TJointRefDef* ref = Skin->LinkJoint(joint);
        ref->SetIndices({0});
        ref->SetWeights({0.1f});
    }
    EXPECT_EQ(MessageOf([&] { Skin->NormalizeJointVertexWeights(1e-5f); }),
              "TSkinDef.NormalizeJointVertexWeights: vertex 0 has 17 weights, more than 16");
}

TEST_F(SkinModel, AttachmentCheckCodes)
{
    test::LogCapture log;
    TSkinDef orphan(nullptr);
    EXPECT_EQ(orphan.CheckMeshVerticesToBeAttachedCorrectly(1e-3f), 0);
    EXPECT_TRUE(log.Lines().empty());

    EXPECT_EQ(Skin->CheckMeshVerticesToBeAttachedCorrectly(1e-3f), 4) << "no vertices";
    GiveBodyVertices(2);
    EXPECT_EQ(Skin->CheckMeshVerticesToBeAttachedCorrectly(1e-3f), 0) << "the last vertex sums to 1";
    EXPECT_TRUE(log.Contains("vertex #0 - invalid weight = 0.75 (error = 2)"));

    TVertexIndexMap map;
    map.Add(0, {0, 5});
    Body->AddVertexIndexMap(map, 0);
    EXPECT_EQ(Skin->CheckMeshVerticesToBeAttachedCorrectly(1e-3f), -1);
    EXPECT_TRUE(log.Contains("TSkinDef.CheckMeshVerticesToBeAttachedCorrectly(): unexpected exception for vertex - "
                             "vertex index map names vertex 5 of 2"));
}

TEST_F(SkinModel, WeightMapsHaveTheRequestedSize)
{
    GiveBodyVertices(2);
    Body->VertexSource()->SetTexCoord0(0, TPointF(0.5f, 0.5f));
    TBitmap bitmap(4, 4);
    Skin->DrawJointWeights(Skin->LinkedJoints()[0].get(), &bitmap);
    TBitmapData data;
    ASSERT_TRUE(bitmap.Map(TMapAccess::Read, data));
    // Vertex 0 (weight 0.5) at (2, 2) and vertex 1 (weight 1) at (0, 0).
    EXPECT_EQ(RedOf(data.GetPixel(2, 2)), 127);
    EXPECT_EQ(RedOf(data.GetPixel(0, 0)), 255);
    EXPECT_EQ(data.GetPixel(3, 3), MakeAlphaColor(0, 0, 0, 255));
    bitmap.Unmap(data);

    Skin->LinkedJoints()[1]->SetId("../Spine");
    for (const auto& [requested, size] : {std::pair{64, 256}, {16, 16}}) {
        test::TempFolder folder;
        Skin->SaveJointWeightMaps(folder.Folder().string(), requested);
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Folder())) {
            ++files;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            TBitmap image;
            image.LoadFromMemory(bytes);
            EXPECT_EQ(image.Width(), size) << entry.path();
            EXPECT_EQ(image.Height(), size);
        }
        EXPECT_EQ(files, 2);
        EXPECT_TRUE(std::filesystem::exists(folder.Path("Hips.jpg")));
        EXPECT_TRUE(std::filesystem::exists(folder.Path(".._Spine.jpg"))) << "an Id names no other folder";
    }
}

TEST_F(SkinModel, SkinReadingFailuresNameTheSkin)
{
    struct Case {
        const char* skin;
        const char* message;
    };
    const Case cases[] = {
        {R"({"Id": "S", "LinkedJoints": [{"Joint": "Tail"}]})",
         "failed to load skin definition S - joint Tail not found in model"},
        {R"({"Id": "S", "LinkedJoints": [{"Joint": 7}]})", "failed to load skin definition S - joint 7 not found in model"},
        {R"({"Id": "S", "LinkedJoints": [{"Joint": null}]})",
         "failed to load skin definition S - invalid json value for \"Joint\""},
        {R"({"Id": "S", "LinkedJoints": [1]})", "failed to load skin definition S - invalid json value"},
        {R"({"Id": "S", "Skeleton": "Tail"})", "failed to load skin definition S - skeleton joint Tail not found in model"},
        {R"({"Id": "S", "LinkedJoints": [{"Joint": "Hips", "Weights": "1", "Indices": "0 1"}]})",
         "failed to load skin definition S - joint reference Hips: \"Weights\" holds 1 values for 2 \"Indices\""},
        {R"({"Id": "S", "LinkedJoints": [{"Joint": "Hips"}], "BindPoses": ["", ""]})",
         "failed to load skin definition S - \"BindPoses\" holds 2 matrices for 1 linked joints"},
    };
    for (const Case& c : cases) {
        TSkinDef skin(Controller);
        EXPECT_EQ(MessageOf([&] { skin.FromJSON(Model->AsModelDef(), *Obj(c.skin)); }), c.message) << c.skin;
    }
    TSkinDef skin(Controller);
    EXPECT_EQ(MessageOf([&] { skin.FromJSON(nullptr, *Obj(R"({"Id": "S", "LinkedJoints": [{"Joint": "Hips"}]})")); }),
              "failed to load skin definition S - model not assigned in controller-mesh");
}

TEST_F(SkinModel, ArmatureReadingEdgeCases)
{
    TArmatureDef bare(Model->AsModelDef());
    EXPECT_EQ(bare.Id(), "default");
    EXPECT_EQ(bare.Model(), Model->AsModelDef());
    bare.FromJSON(Model->AsModelDef(), *Obj(R"({"Id": "Empty"})"));
    EXPECT_EQ(bare.Root(), nullptr);
    EXPECT_EQ(bare.FindJointById("Hips"), nullptr);

    auto json = Obj(R"({"Id": "Rig2", "Controllers": ["#SKIN1", 5, "Missing"]})");
    EXPECT_EQ(MessageOf([&] { bare.LateResolveFromJSON(Model->AsModelDef(), *json); }),
              "controller with id \"Missing\" not found");
    EXPECT_EQ(bare.Controllers(), (std::vector<TControllerDef*>{Controller})) << "matched ignoring case and \"#\"";

    TOwned<TTestModel> model = MakeOwned<TTestModel>();
    std::string text = RigJSON;
    text.replace(text.find(R"("Controllers": ["Skin1"])"), 24, R"("Controllers": ["Skin2"])");
    EXPECT_EQ(MessageOf([&] { model->Read(*Obj(text)); }), "controller with id \"Skin2\" not found");

    TTransformDef parent(nullptr);
    parent.FromJSON(nullptr, *Obj(R"({"Children": [{"Type": "Korvane.DefTypes.TArmatureDef",
        "Root": {"Id": "R", "Joints": [{"Id": "C"}]}}, {"Type": "Korvane.DefTypes.TSkinDef"}]})"));
    auto* child = dynamic_cast<TArmatureDef*>(parent.Children()->Items(0));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Id(), "") << "made as a child: no \"default\" Id";
    EXPECT_EQ(child->FindJointById("C")->ArmatureIndex(), 2);
    auto* skin = dynamic_cast<TSkinDef*>(parent.Children()->Items(1));
    ASSERT_NE(skin, nullptr);
    EXPECT_FALSE(skin->BindShapeMatrixIsIdentity()) << "made as a child: every field zero";
    EXPECT_EQ(skin->ToJSON()->GetValue("Controller")->Value(), "");
}
