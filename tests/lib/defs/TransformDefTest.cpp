#include <gtest/gtest.h>

#include "Korvane.DefTypes.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {

const char* const IdentityText = "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 "
                                 "0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000";

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

using TDefPtr = test::Owned<TTransformDef>;

TDefPtr NewNode(const char* id, TCustomDef* owner = nullptr)
{
    TDefPtr node(new TTransformDef(owner));
    node->SetId(id);
    return node;
}

// Adds a child with Id to parent and returns it.
TTransformDef* AddNode(TTransformDef* parent, const char* id)
{
    auto* child = new TTransformDef(parent);
    child->SetId(id);
    parent->AddChild(child);
    return child;
}

// Stand-ins for tree node classes of the child table that are not built into
// this program, so that the table can be checked row by row.
inline constexpr const char* StandInNames[] = {"TSegmentDef", "TArmatureDef", "TJointDef",  "TSkinDef",
                                               "TMeshDef",    "TVertexGroupDef", "TLightDef", "TCameraDef"};

template <int N>
class TStandInDef : public TTransformDef {
public:
    using inherited = TTransformDef;
    static constexpr const char* StaticClassName() { return StandInNames[N]; }
    static TClass StaticClass()
    {
        static const TTransformDefClassInfo<TStandInDef> info;
        return &info;
    }
    TClass ClassType() const override { return StaticClass(); }
    std::string ClassName() const override { return StaticClassName(); }
    explicit TStandInDef(TCustomDef* AOwner) : TTransformDef(AOwner) {}
};

template <int... N>
std::vector<TClass> StandInClasses(std::integer_sequence<int, N...>)
{
    return {TStandInDef<N>::StaticClass()...};
}

// Registers a stand-in for every row class the program does not know yet.
class ChildTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (TClass c : StandInClasses(std::make_integer_sequence<int, 8>()))
            if (!GetClass(c->QualifiedClassName())) {
                RegisterClass(c);
                FRegistered.push_back(c);
            }
    }
    void TearDown() override
    {
        for (TClass c : FRegistered) UnRegisterClass(c);
    }
    std::vector<TClass> FRegistered;
};

// A model stand-in for the model services: a tree whose root answers FindDefById.
class ModelServices : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = ModelDefServices();
        FModelRoot = NewNode("Model_1");
        AddNode(AddNode(FModelRoot.get(), "Parent"), "Deep");
        ModelDefServices().FindDefById = [](TModelDef* AModel, const std::string& AId) -> TCustomDef* {
            auto* root = reinterpret_cast<TTransformDef*>(AModel);
            if (root->Id() == AId) return root;
            return root->FindChildById(AId, false);
        };
        ModelDefServices().AsModel = [](TCustomDef* ADef) -> TModelDef* {
            return ADef->Id().rfind("Model_", 0) == 0 ? reinterpret_cast<TModelDef*>(ADef) : nullptr;
        };
    }
    void TearDown() override { ModelDefServices() = FSaved; }
    TModelDef* Model() { return reinterpret_cast<TModelDef*>(FModelRoot.get()); }

    TModelDefServices FSaved;
    TDefPtr FModelRoot;
};

} // namespace

TEST(TransformDef, NewNodeJSON)
{
    auto node = NewNode("");
    EXPECT_EQ(node->ToJSON()->ToJSON(), std::string(R"({"Type":"Korvane.DefTypes.TTransformDef","Id":"",)") +
                                            R"("Owner":null,"Properties":[],"Transform":")" + IdentityText + "\"}");
    EXPECT_EQ(node->Children(), nullptr);
    EXPECT_EQ(node->CopyCount(), 0);
    EXPECT_EQ(node->Transform(), TMatrix3D::Identity());
    EXPECT_EQ(node->GetSize(), static_cast<int64_t>(sizeof(TTransformDef)));

    // A child list that exists is written, also when empty.
    auto* child = AddNode(node.get(), "c");
    EXPECT_EQ(node->AddChild(child), -1) << "a node already in the list is not added again";
    EXPECT_EQ(node->Children()->Count(), 1);
    node->ClearChildren();
    const auto json = node->ToJSON();
    ASSERT_NE(json->GetValue("Children"), nullptr);
    EXPECT_EQ(json->GetValue("Children")->ToJSON(), "[]");
    EXPECT_EQ(json->Pairs(json->Count() - 1).Name(), "Children");
}

TEST(TransformDef, TreeRoundTripsThroughText)
{
    auto root = NewNode("Root");
    root->SetTransform(TMatrix3D::CreateTranslation(TPoint3D(1, 2, 3)));
    root->Properties().Add("Kind", TValue::From(std::string("root")));
    auto* a = AddNode(root.get(), "A \"quoted\" C:\\path/x\n");
    a->SetTransform(TMatrix3D::CreateScaling(TPoint3D(2, 0.35f, 1)));
    a->Properties().Add("Weight", TValue::From(0.35f));
    a->Properties().Add("Origin", TValue::From(TPoint3D(1, 2, 3)));
    AddNode(a, "A1");
    AddNode(AddNode(a, "A2"), "A2a");
    AddNode(root.get(), "B");

    const std::string text = root->ToJSON()->Format();
    auto read = NewNode("");
    read->FromJSON(nullptr, *TJSONObject::ParseJSONObject(text));
    EXPECT_EQ(read->ToJSON()->Format(), text);

    ASSERT_EQ(read->Children()->Count(), 2);
    TTransformDef* ra = read->Children()->Items(0);
    EXPECT_EQ(ra->ClassType(), TTransformDef::StaticClass());
    EXPECT_EQ(ra->Id(), "A \"quoted\" C:\\path/x\n");
    EXPECT_EQ(ra->Owner(), read.get()) << "children are owned by the node that read them";
    EXPECT_EQ(ra->Children()->Items(1)->Children()->Items(0)->Owner(), ra->Children()->Items(1));
    EXPECT_NEAR(ra->Transform().m22, 0.35f, 1e-7);
    EXPECT_TRUE(ra->Properties().Items("Origin") == TValue::From(TPoint3D(1, 2, 3)));
    EXPECT_EQ(read->Transform(), root->Transform());
    // The written "Owner" of a child is its parent's Id.
    const auto json = read->ToJSON();
    const auto& children = json->GetValue("Children")->As<TJSONArray>();
    EXPECT_EQ(children.Items(1)->As<TJSONObject>().GetValue("Owner")->Value(), "Root");

    // Reading again appends to the children there are.
    read->FromJSON(nullptr, *TJSONObject::ParseJSONObject(text));
    EXPECT_EQ(read->Children()->Count(), 4);
}

TEST(TransformDef, ReadingKeepsWhatTheJSONDoesNotSay)
{
    auto node = NewNode("N");
    const TMatrix3D m = TMatrix3D::CreateTranslation(TPoint3D(5, 6, 7));
    node->SetTransform(m);
    node->FromJSON(nullptr, *Obj(R"({"Transform":""})"));
    EXPECT_EQ(node->Transform(), m);
    EXPECT_EQ(node->Id(), "N");
    node->FromJSON(nullptr, *Obj(R"({"Transform":[1,2]})"));
    EXPECT_EQ(node->Transform(), m);
    node->FromJSON(nullptr, *Obj(R"({"Transform":"2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1","Children":{"x":1}})"));
    EXPECT_EQ(node->Transform(), TMatrix3D::CreateScaling(TPoint3D(2, 2, 2)));
    EXPECT_EQ(node->Children(), nullptr) << "\"Children\" that is not an array adds nothing";
}

TEST_F(ChildTable, EveryRowCreatesItsClassAndAnythingElseAMesh)
{
    std::string children;
    std::vector<std::string> expected;
    auto add = [&](const std::string& typePair, const std::string& className) {
        if (!children.empty()) children += ',';
        children += "{" + typePair + "\"Id\":\"c" + std::to_string(expected.size()) + "\"}";
        expected.push_back(className);
    };
    add(R"("Type":"Korvane.DefTypes.TTransformDef",)", "TTransformDef");
    for (const char* name : StandInNames) add(std::string("\"Type\":\"Korvane.DefTypes.") + name + "\",", name);
    add(R"("Type":"TMeshDef",)", "TMeshDef");                         // without the unit name
    add(R"("Type":"Korvane.DefTypes.TGroupDef",)", "TMeshDef");       // not in the table
    add(R"("Type":"Korvane.DefTypes.TModelDef",)", "TMeshDef");
    add(R"("Type":"korvane.deftypes.TLightDef",)", "TMeshDef");       // compared with letter case
    add("", "TMeshDef");                                              // no "Type"
    add(R"("Type":7,)", "TMeshDef");
    add(R"("Type":"Korvane.DefTypes.TLightDef","Type":"x",)", "TLightDef"); // the first "Type" counts

    auto root = NewNode("root");
    root->FromJSON(nullptr, *Obj("{\"Children\":[" + children + "]}"));
    ASSERT_EQ(root->Children()->Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < root->Children()->Count(); ++i) {
        TTransformDef* child = root->Children()->Items(i);
        EXPECT_EQ(child->ClassName(), expected[static_cast<size_t>(i)]) << "child " << i;
        EXPECT_EQ(child->GetOwnerRef(), root.get());
        EXPECT_EQ(child->Id(), "c" + std::to_string(i));
    }
}

TEST(TransformDef, BadChildrenFailAndKeepWhatWasRead)
{
    auto root = NewNode("root");
    EXPECT_THROW(root->FromJSON(nullptr, *Obj(R"({"Children":[{"Id":"ok","Type":"Korvane.DefTypes.TTransformDef"},
                                                               5,{"Id":"never"}]})")),
                 EInvalidCast);
    ASSERT_EQ(root->Children()->Count(), 1);
    EXPECT_EQ(root->Children()->Items(0)->Id(), "ok");

    // A failure deep inside a child passes through; the failed child is freed, not added.
    auto other = NewNode("other");
    EXPECT_THROW(other->FromJSON(nullptr, *Obj(R"({"Children":[
        {"Id":"first","Type":"Korvane.DefTypes.TTransformDef"},
        {"Id":"second","Type":"Korvane.DefTypes.TTransformDef",
         "Properties":[{"Name":"P","Value":{"RecordType":"TPoint3D","Value":[1]}}]}]})")),
                 Exception);
    ASSERT_EQ(other->Children()->Count(), 1);
    EXPECT_EQ(other->Children()->Items(0)->Id(), "first");
}

TEST(TransformDef, DeepTreesFromHostileInputFailCleanly)
{
    // Children nested beyond the reader's depth bound fail in the reader, before any definition is made.
    std::string text;
    const int levels = 2000;
    for (int i = 0; i < levels; ++i) text += R"({"Type":"Korvane.DefTypes.TTransformDef","Children":[)";
    text += "{}";
    for (int i = 0; i < levels; ++i) text += "]}";
    EXPECT_THROW(TJSONObject::ParseJSONObject(text), EJSONParseException);

    // The deepest tree the reader accepts is read and written back.
    std::string ok;
    const int allowed = JSONMaxDepth / 2 - 1;
    for (int i = 0; i < allowed; ++i) ok += R"({"Type":"Korvane.DefTypes.TTransformDef","Children":[)";
    ok += R"({"Type":"Korvane.DefTypes.TTransformDef"})";
    for (int i = 0; i < allowed; ++i) ok += "]}";
    auto root = NewNode("");
    root->FromJSON(nullptr, *TJSONObject::ParseJSONObject(ok));
    EXPECT_NO_THROW(root->ToJSON()->ToJSON());
}

TEST(TransformDef, FindChildById)
{
    auto root = NewNode("root");
    auto* a = AddNode(root.get(), "A");
    auto* abc = AddNode(a, "ABC");
    auto* b = AddNode(root.get(), "B");
    auto* dupB = AddNode(AddNode(b, "B1"), "dup");
    auto* c = AddNode(root.get(), "C");
    auto* dupC = AddNode(c, "dup");
    AddNode(dupC, "dup"); // below a match: the walk of that list has ended

    struct Case {
        const char* id;
        TTransformDef* expected;
    };
    const Case cases[] = {
        {"#abc", abc}, {"abc", abc}, {"ABC", abc},   {"a", a},     {"#A", a},
        {"dup", dupC}, {"root", nullptr} /* the node itself is never a match */,
        {"##A", nullptr}, {"", nullptr},
    };
    for (const auto& x : cases) EXPECT_EQ(root->FindChildById(x.id, false), x.expected) << x.id;
    EXPECT_EQ(b->FindChildById("dup", false), dupB);
    try {
        root->FindChildById("x", true);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "transform with id \"x\" not found");
    }
    auto leaf = NewNode("leaf");
    EXPECT_EQ(leaf->FindChildById("leaf", false), nullptr);
    EXPECT_THROW(leaf->FindChildById("leaf", true), Exception);
}

TEST(TransformDef, TraverseOrderAndStops)
{
    auto root = NewNode("root");
    auto* a = AddNode(root.get(), "a");
    AddNode(a, "a1");
    AddNode(a, "a2");
    AddNode(a, "a3");
    AddNode(root.get(), "b");

    auto walk = [&](bool deep, const std::string& stopAt) {
        std::string visited;
        root->Traverse(deep, [&](TTransformDef* parent, int index, TTransformDef* child) {
            EXPECT_EQ(parent->Children()->Items(index), child);
            visited += child->Id() + " ";
            return child->Id() != stopAt;
        });
        return visited;
    };
    EXPECT_EQ(walk(false, ""), "a b ");
    EXPECT_EQ(walk(true, ""), "a a1 a2 a3 b ");
    EXPECT_EQ(walk(true, "a2"), "a a1 a2 b ") << "false ends only the list it was returned for";
    EXPECT_EQ(walk(true, "a"), "a ") << "a false result does not descend";
    root->Traverse(true, nullptr);

    // A callback that frees children while the list is walked.
    int calls = 0;
    root->Traverse(true, [&](TTransformDef* parent, int, TTransformDef*) {
        ++calls;
        if (parent == a) a->ClearChildren();
        return true;
    });
    EXPECT_EQ(calls, 3) << "a, a1 (which clears a's list), b";
}

TEST(TransformDef, ChildListOwnership)
{
    auto root = NewNode("root");
    auto* a = AddNode(root.get(), "a");
    auto* b = AddNode(root.get(), "b");
    root->ExtractChild(a);
    EXPECT_EQ(root->Children()->Count(), 1);
    a->Free(); // extracted: ours to free
    root->RemoveChild(b); // freed by the list (the sanitizer build sees a leak or a double free)
    EXPECT_EQ(root->Children()->Count(), 0);
    auto stranger = NewNode("stranger");
    root->RemoveChild(stranger.get()); // not in the list: left alone
    root->ExtractChild(stranger.get());
    auto empty = NewNode("empty");
    empty->RemoveChild(stranger.get());
    empty->ClearChildren();
    EXPECT_EQ(empty->Children(), nullptr);
}

TEST(TransformDef, ManySiblingsAreReadInOrderAfterTheChildrenThereAlready)
{
    // A wide tree as a hostile file may hold it; reading appends every child
    // once, in order, behind the existing ones, and the list still refuses a
    // second entry for a node it holds.
    constexpr int Count = 50000;
    std::string text = R"({"Id":"root","Children":[)";
    for (int i = 0; i < Count; ++i)
        text += Format(R"(%s{"Type":"Korvane.DefTypes.TTransformDef","Id":"n%d"})", i ? "," : "", i);
    text += "]}";
    auto root = NewNode("root");
    AddNode(root.get(), "existing");
    root->FromJSON(nullptr, *Obj(text));
    ASSERT_EQ(root->Children()->Count(), Count + 1);
    EXPECT_EQ(root->Children()->Items(0)->Id(), "existing");
    for (int i = 0; i < Count; ++i) {
        TTransformDef* child = root->Children()->Items(i + 1);
        ASSERT_EQ(child->Id(), Format("n%d", i));
        ASSERT_EQ(child->Owner(), root.get());
    }
    TTransformDef* last = root->Children()->Items(Count);
    EXPECT_EQ(root->AddChild(last), -1);
    EXPECT_EQ(root->Children()->Count(), Count + 1);
    EXPECT_EQ(root->Children()->IndexOf(last), Count);
}

TEST(TransformDef, OwnersAndAbsoluteTransformation)
{
    auto owner = NewNode("owner");
    owner->SetTransform(TMatrix3D::CreateTranslation(TPoint3D(1, 0, 0)));
    auto node = NewNode("node", owner.get());
    node->SetTransform(TMatrix3D::CreateScaling(TPoint3D(2, 2, 2)));
    EXPECT_EQ(node->Owner(), owner.get());
    EXPECT_EQ(node->OwnerId(), "owner");
    EXPECT_EQ(node->GetAbsoluteTransformation(), owner->Transform() * node->Transform());
    EXPECT_EQ(node->GetAbsoluteTransformation(), TMatrix3D(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 2, 0, 0, 1));
    EXPECT_EQ(node->EvaluateGlobalTransformation(), node->Transform());
    EXPECT_EQ(owner->GetAbsoluteTransformation(), owner->Transform());

    TCustomDef plain;
    plain.SetId("controller");
    node->SetOwnerRef(&plain);
    EXPECT_EQ(node->GetOwnerRef(), &plain);
    EXPECT_EQ(node->OwnerId(), "controller");
    EXPECT_THROW(node->GetOwner(), EInvalidCast);
    EXPECT_THROW(node->GetAbsoluteTransformation(), EInvalidCast);
    EXPECT_EQ(node->GetModel(), nullptr);
    EXPECT_EQ(node->ToJSON()->GetValue("Owner")->Value(), "controller");
    node->SetOwner(nullptr);
    EXPECT_EQ(node->OwnerId(), "");
}

TEST(TransformDef, QualifiedComponentName)
{
    auto node = NewNode("Box 1");
    EXPECT_EQ(node->GetQualifiedComponentName(), "Box_1");
    node->IncCopyCount();
    node->IncCopyCount();
    EXPECT_EQ(node->CopyCount(), 2);
    EXPECT_EQ(node->GetQualifiedComponentName(), "Box_1_Copy2");

    IsUniqueGlobalComponentNameProc = [](std::string_view name) { return name != "Box_1"; };
    EXPECT_EQ(node->GetQualifiedComponentName(), "Box_1_1_Copy2");
    IsUniqueGlobalComponentNameProc = nullptr;
}

TEST_F(ModelServices, OwnerIdsResolveThroughTheModel)
{
    struct Case {
        const char* json;
        TCustomDef* owner;
        const char* ownerId;
    };
    TCustomDef* parent = FModelRoot->FindChildById("Parent", true);
    const Case cases[] = {
        {R"({"Owner":"Parent"})", parent, "Parent"},
        {R"({"Owner":"Model_1"})", FModelRoot.get(), "Model_1"},
        {R"({"Owner":"Nowhere"})", nullptr, "Nowhere"}, // unknown: no owner, the id stays
        {R"({"Owner":null})", nullptr, ""},
        {R"({})", nullptr, ""},
        {R"({"Owner":5})", nullptr, "5"},
    };
    for (const auto& c : cases) {
        auto node = NewNode("n");
        node->FromJSON(Model(), *Obj(c.json));
        EXPECT_EQ(node->GetOwnerRef(), c.owner) << c.json;
        EXPECT_EQ(node->OwnerId(), c.ownerId) << c.json;
    }
    // Without a model the id is kept and nothing is resolved.
    auto lone = NewNode("n");
    lone->FromJSON(nullptr, *Obj(R"({"Owner":"Parent"})"));
    EXPECT_EQ(lone->GetOwnerRef(), nullptr);
    EXPECT_EQ(lone->OwnerId(), "Parent");

    // A node with an owner ignores "Owner"; an empty owner id takes the owner's Id.
    auto owner = NewNode("");
    auto owned = NewNode("n", owner.get());
    owner->SetId("Later");
    owned->FromJSON(Model(), *Obj(R"({"Owner":"Parent"})"));
    EXPECT_EQ(owned->GetOwnerRef(), owner.get());
    EXPECT_EQ(owned->OwnerId(), "Later");
}

TEST_F(ModelServices, ModelOfANode)
{
    TTransformDef* deep = FModelRoot->FindChildById("Deep", true);
    EXPECT_EQ(deep->GetModel(), Model());
    EXPECT_EQ(FModelRoot->FindChildById("Parent", true)->GetModel(), Model());
    EXPECT_EQ(FModelRoot->GetModel(), nullptr) << "the model itself has no owner";
    auto lone = NewNode("lone");
    EXPECT_EQ(lone->GetModel(), nullptr);
}
