// The scene-node base: unique names, the sub-control registry and its deep
// searches, the unit's search routines, record text, the hierarchy dump,
// bounding boxes and the translucent render states.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvane.Context.Types.h"
#include "Korvane.Control.h"
#include "Korvane.DefTypes.h"
#include "Korvane.Mesh.h"
#include "Korvane.Utils.Math.h"
#include "SceneTestClasses.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

using test::MessageOf;
using test::Owned;
using test::SceneClasses;
using test::TKorvaneModel;
using test::TKorvaneViewport;

// A framework node under AParent, registered there as AQualifiedName.
// "KorvaneMesh_" and 32 lower-case hexadecimal digits.
bool IsGeneratedMeshName(const std::string& AName)
{
    const std::string prefix = "KorvaneMesh_";
    if (AName.size() != prefix.size() + 32 || AName.compare(0, prefix.size(), prefix) != 0) return false;
    for (size_t i = prefix.size(); i < AName.size(); ++i)
        if (!((AName[i] >= '0' && AName[i] <= '9') || (AName[i] >= 'a' && AName[i] <= 'f'))) return false;
    return true;
}

template <class T = TKorvaneControl>
T* Node(TTreeObject* AParent, const std::string& AQualifiedName, TComponent* AOwner = nullptr)
{
    auto* n = new T(AOwner);
    if (AParent) AParent->AddObject(n);
    if (!AQualifiedName.empty()) n->SetQualifiedName(AQualifiedName);
    return n;
}

std::vector<std::string> Keys(const TKorvaneControl& ANode)
{
    std::vector<std::string> keys;
    for (const auto& entry : ANode.Controls()) keys.push_back(entry.first);
    return keys;
}

// ---------------------------------------------------------------- names

using Names = SceneClasses;

TEST_F(Names, TakenNamesAreReplacedByClassNameAndGuid)
{
    Owned<TComponent> owner(new TComponent(nullptr));
    auto* first = new TKorvaneMesh(owner.get());
    first->SetName("Wheel");
    EXPECT_EQ(first->Name(), "Wheel");

    auto* second = new TKorvaneMesh(owner.get());
    second->SetName("");
    EXPECT_EQ(second->Name(), "");
    second->SetName("wheel"); // the owner's lookup ignores letter case
    EXPECT_TRUE(IsGeneratedMeshName(second->Name())) << second->Name();

    // Assigning a node its own name again: the owner holds it (the node itself).
    first->SetName("Wheel");
    EXPECT_TRUE(IsGeneratedMeshName(first->Name())) << first->Name();
    EXPECT_NE(first->Name(), second->Name());

    // A name the global components know is replaced as well, without an owner.
    const auto saved = IsUniqueGlobalComponentNameProc;
    IsUniqueGlobalComponentNameProc = [](std::string_view AName) { return AName != "Global"; };
    Owned<TKorvaneMesh> loose(new TKorvaneMesh(nullptr));
    loose->SetName("Global");
    IsUniqueGlobalComponentNameProc = saved;
    EXPECT_TRUE(IsGeneratedMeshName(loose->Name())) << loose->Name();
}

// ---------------------------------------------------------------- registry

using Registry = SceneClasses;

TEST_F(Registry, DuplicateKeysAreRefusedWithTheNodesNames)
{
    Owned<TKorvaneControl> root(Node(nullptr, "root"));
    TKorvaneControl* a = Node(root.get(), "a");
    TKorvaneControl* b = Node(root.get(), "");
    EXPECT_EQ(MessageOf([&] { b->SetQualifiedName("a"); }), "control \"a\" already exists in root");
    EXPECT_EQ(MessageOf([&] { a->SetQualifiedName("a"); }), "control \"a\" already exists in root");
    EXPECT_EQ(MessageOf([&] { root->AddControl("a", b); }), "control \"a\" already exists in root");
    EXPECT_EQ(root->Controls().at("a"), a);
    EXPECT_EQ(root->GetControlName(b), "");
}

TEST_F(Registry, RenameReparentAndFreeKeepEveryRegistryConsistent)
{
    // Run under ASan: a stale key would be a freed node that the searches walk into.
    Owned<TKorvaneControl> root(Node(nullptr, "root"));
    TKorvaneControl* a = Node(root.get(), "a");
    TKorvaneControl* b = Node(a, "b");
    TKorvaneControl* c = Node(b, "c");

    b->SetQualifiedName("b2"); // rename: the old key goes
    EXPECT_EQ(Keys(*a), (std::vector<std::string>{"b2"}));
    EXPECT_EQ(root->FindControlByDeepSearch("b"), nullptr);
    EXPECT_EQ(root->FindControlByDeepSearch("b2"), b);

    b->SetParent(root.get()); // re-parent: the keys move along
    EXPECT_TRUE(a->Controls().empty());
    EXPECT_EQ(Keys(*root), (std::vector<std::string>{"a", "b2"}));
    EXPECT_EQ(a->FindControlByDeepSearch("c"), nullptr);
    EXPECT_EQ(root->FindControlByDeepSearch("c"), c);

    TKorvaneControl* clash = Node(a, "b2"); // the name is taken at the new parent
    clash->SetParent(root.get());
    EXPECT_EQ(root->Controls().at("b2"), b);
    EXPECT_EQ(root->GetControlName(clash), "");

    // A node known under an extra key elsewhere leaves that registry too.
    a->AddControl("alias", c);
    b->Free(); // frees c with it
    EXPECT_EQ(Keys(*root), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(a->Controls().empty());
    EXPECT_EQ(root->FindControlByDeepSearch("c"), nullptr);
    EXPECT_EQ(root->FindControlByDeepSearch("alias"), nullptr);
    TComponentMatches matches;
    root->FindControlsByDeepSearch("c", &matches);
    EXPECT_TRUE(matches.empty());

    a->Free();
    EXPECT_TRUE(root->Controls().empty());
}

TEST_F(Registry, RemoveAndMoveControls)
{
    Owned<TKorvaneControl> root(Node(nullptr, "root"));
    TKorvaneControl* a = Node(root.get(), "a");
    TKorvaneControl* other = Node(root.get(), "other");
    TKorvaneControl* b = Node(a, "b");
    a->AddControl("b-alias", b);
    a->RemoveControl("absent"); // no error
    a->RemoveControl(b);        // every key of b
    EXPECT_TRUE(a->Controls().empty());

    a->AddControl("moved", b);
    a->MoveControlTo(b, other);
    EXPECT_TRUE(a->Controls().empty());
    EXPECT_EQ(Keys(*other), (std::vector<std::string>{"moved"}));
    EXPECT_EQ(b->Owner(), other);
    EXPECT_EQ(b->Parent(), other);
}

// ---------------------------------------------------------------- deep searches

using DeepSearch = SceneClasses;

TEST_F(DeepSearch, ByNameNeverAnswersTheNodeItself)
{
    Owned<TKorvaneControl> top(Node(nullptr, "top"));
    TKorvaneControl* root = Node(top.get(), "x");
    TKorvaneControl* child = Node(root, "child");
    TKorvaneControl* grandchild = Node(child, "x");
    EXPECT_EQ(root->FindControlByDeepSearch("x"), grandchild);
    EXPECT_EQ(grandchild->FindControlByDeepSearch("x"), nullptr);
    EXPECT_EQ(child->FindControlByDeepSearch("child"), nullptr);
    EXPECT_EQ(top->FindControlByDeepSearch("child"), child);
    EXPECT_EQ(top->FindControlByDeepSearch(""), nullptr);
}

TEST_F(DeepSearch, ByDefinitionAnswersTheNodeOrOneBelow)
{
    TTransformDef own(nullptr), deep(nullptr), unknown(nullptr);
    Owned<TKorvaneControl> root(Node(nullptr, "root"));
    TKorvaneControl* child = Node(root.get(), "child");
    TKorvaneControl* grandchild = Node(child, "grandchild");
    root->SetDef(&own);
    grandchild->SetDef(&deep);
    EXPECT_EQ(root->FindControlByDefDeepSearch(&own), root.get());
    EXPECT_EQ(root->FindControlByDefDeepSearch(&deep), grandchild);
    EXPECT_EQ(root->FindControlByDefDeepSearch(&unknown), nullptr);
    EXPECT_EQ(root->FindControlByDefDeepSearch(nullptr), nullptr);
}

TEST_F(DeepSearch, AllMatchesMarkReferencedNamesTrueAndKeysFalse)
{
    Owned<TKorvaneControl> root(Node(nullptr, "root"));
    auto* mesh = Node<TKorvaneMesh>(root.get(), "body");
    mesh->SetReferencedName("wheel");
    TKorvaneControl* keyed = Node(mesh, "wheel");
    auto* plainMesh = Node<TKorvaneMesh>(keyed, "axle");
    plainMesh->SetReferencedName("axle-ref");

    TComponentMatches matches;
    root->FindControlsByDeepSearch("wheel", &matches);
    EXPECT_EQ(matches, (TComponentMatches{{mesh, true}, {keyed, false}}));

    EXPECT_EQ(MessageOf([&] { root->FindControlsByDeepSearch("wheel", nullptr); }), "result list not assigned");
    root->FindControlsByDeepSearch("", nullptr); // an empty name does nothing at all

    // The same control met twice is an error of the result dictionary.
    TComponentMatches twice;
    root->AddControl("axle", plainMesh);
    EXPECT_THROW(root->FindControlsByDeepSearch("axle", &twice), EListError);
}

// ---------------------------------------------------------------- unit searches

using UnitSearches = SceneClasses;

TEST_F(UnitSearches, OwnerTreeIsWalkedDepthFirstInIndexOrder)
{
    Owned<TComponent> root(new TComponent(nullptr));
    root->SetName("root");
    auto* a = new TKorvaneControl(root.get());
    a->SetName("a");
    auto* a1 = new TKorvaneMesh(a);
    a1->SetName("a1");
    auto* b = new TKorvaneMesh(root.get());
    b->SetName("b");

    std::vector<std::string> visited;
    TComponent* found = FindComponentDeepSearchByFilter(root.get(), [&](TComponent* c) {
        visited.push_back(c->Name());
        return c->Name() == "b";
    });
    EXPECT_EQ(found, b);
    EXPECT_EQ(visited, (std::vector<std::string>{"root", "a", "a1", "b"}));
    EXPECT_EQ(FindComponentDeepSearchByFilter(root.get(), nullptr), nullptr);

    EXPECT_EQ(FindComponentDeepSearch(root.get(), "a1"), a1);
    EXPECT_EQ(FindComponentDeepSearch(root.get(), "A1"), nullptr); // exact case
    EXPECT_EQ(FindComponentDeepSearchByClass(root.get(), TKorvaneMesh::StaticClass()), a1);
    std::vector<TComponent*> all;
    FindAllComponentsByClass(root.get(), TKorvaneControl::StaticClass(), all);
    EXPECT_EQ(all, (std::vector<TComponent*>{a, a1, b}));
}

TEST_F(UnitSearches, UpwardsByQualifiedClassNameAlongParentsThenOwner)
{
    Owned<TKorvaneModel> model(new TKorvaneModel(nullptr));
    TKorvaneControl* middle = Node(model.get(), "");
    TKorvaneControl* leaf = Node(middle, "");
    EXPECT_EQ(FindComponentUpwards(leaf, "Korvane.Model.TKorvaneModel"), model.get());
    EXPECT_EQ(FindComponentUpwards(leaf, TKorvaneControl::StaticClass()), middle);
    EXPECT_EQ(FindComponentUpwards(model.get(), "Korvane.Model.TKorvaneModel"), nullptr); // never itself
    EXPECT_EQ(FindComponentUpwards(leaf, "Korvane.Nothing.TNothing"), nullptr);

    // Without a parent the walk starts at the owner.
    auto* ownedOnly = new TKorvaneControl(middle);
    EXPECT_EQ(FindComponentUpwards(ownedOnly, "Korvane.Model.TKorvaneModel"), model.get());
    // An owner outside the control tree ends the walk.
    Owned<TComponent> plainOwner(new TComponent(nullptr));
    auto* orphan = new TKorvaneControl(plainOwner.get());
    EXPECT_EQ(FindComponentUpwards(orphan, TKorvaneControl::StaticClass()), nullptr);
}

TEST_F(UnitSearches, TopOwnerFollowsParentsAndViewportIsFoundUpTheChain)
{
    Owned<TKorvaneViewport> viewport(new TKorvaneViewport(nullptr));
    auto* dummy = new TDummy(nullptr);
    viewport->AddObject(dummy);
    TKorvaneControl* node = Node(dummy, "");
    EXPECT_EQ(FindViewport(node), viewport.get());
    EXPECT_EQ(FindTopOwner(node), viewport.get());
    EXPECT_EQ(FindTopOwner(viewport.get()), nullptr);

    // An owner is no parent.
    Owned<TKorvaneControl> owner(new TKorvaneControl(nullptr));
    auto* owned = new TKorvaneControl(owner.get());
    EXPECT_EQ(FindTopOwner(owned), nullptr);
    EXPECT_EQ(FindViewport(owned), nullptr);
}

TEST(LogComponentHierarchy, IndentDoublesAtEachLevel)
{
    Owned<TComponent> root(new TComponent(nullptr));
    root->SetName("Root");
    auto* a = new TKorvaneControl(root.get());
    a->SetName("A");
    auto* b = new TKorvaneTransform(a);
    b->SetName("B");
    std::string text;
    LogComponentHierarchy(root.get(), text, "  ");
    EXPECT_EQ(text, "  Root (TComponent)\r\n    A (TKorvaneControl)\r\n        B (TKorvaneTransform)\r\n");
    std::string flat;
    LogComponentHierarchy(root.get(), flat, "");
    EXPECT_EQ(flat, "Root (TComponent)\r\nA (TKorvaneControl)\r\nB (TKorvaneTransform)\r\n");
}

TEST(Designing, EnableAndDisableReachOwnedComponents)
{
    Owned<TKorvaneControl> root(new TKorvaneControl(nullptr));
    auto* owned = new TKorvaneControl(root.get());
    EnableDesigning(root.get());
    EXPECT_TRUE(owned->IsDesigning());
    DisableDesigning(root.get());
    EXPECT_FALSE(owned->IsDesigning());
    EXPECT_FALSE(root->IsDesigning());
}

// ---------------------------------------------------------------- record text

TEST(RecordText, WritesInvariantGeneralFloatsAndIntegers)
{
    test::CommaDecimalLocale comma; // the process locale must not matter
    EXPECT_EQ(WritePoint3DField({0.1f, -2, 1e20f}), "(0.100000001490116,-2,1.00000002004088E20)");
    EXPECT_EQ(WritePointField({3, -4}), "(3,-4)");
    EXPECT_EQ(WritePointFField({0.5f, 1}), "(0.5,1)");
    EXPECT_EQ(WriteSize3DField(TSize3D::Create(5, 6, 7)), "(5,6,7)");
    EXPECT_EQ(WriteVector3DField({1, 2, 3, 4}), "(1,2,3,4)");
    EXPECT_EQ(WriteQuaternionField(TQuaternion3D(TPoint3D(1, 2, 3), 4)), "(1,2,3,4)");
    EXPECT_EQ(WriteAlphaColorFField({0.25f, 0.5f, 0.75f, 1}), "(0.25,0.5,0.75,1)");
    EXPECT_EQ(WritePlaneFField(TPlaneF::Create(TPoint3D(0, 1, 0), -2)), "(0,1,0,-2)");
}

TEST(RecordText, ReadsComponentsInOrderAndKeepsTheRestOnErrors)
{
    struct Case {
        const char* Text;
        TPoint3D Expected;
    };
    const TPoint3D start(7, 8, 9);
    const Case cases[] = {
        {"(1.5,2)", {1.5f, 2, 9}},         // fewer components: Z keeps its value
        {"(1,2,3)", {1, 2, 3}},
        {"(1,x,3)", {1, 8, 9}},            // a bad component ends the reading
        {"", {7, 8, 9}},
        {"(1e2,-0.5,.25)", {100, -0.5f, 0.25f}},
        {"(1,2,3,4,5)", {1, 2, 3}},        // extra components are ignored
    };
    for (const Case& c : cases) {
        TPoint3D p = start;
        ReadPoint3DField(c.Text, p);
        EXPECT_EQ(p, c.Expected) << c.Text;
    }

    TSize3D size = TSize3D::Create(1, 1, 1);
    ReadSize3DField("(2.5,3.5,4)", size); // halves to even
    EXPECT_EQ(size.Width, 2);
    EXPECT_EQ(size.Height, 4);
    EXPECT_EQ(size.Depth, 4);
    ReadSize3DField("(1e12,5,6)", size); // too large for an integer: nothing read
    EXPECT_EQ(size.Width, 2);

    TPoint pt(1, 1);
    ReadPointField("(3,4.5)", pt); // an integer field does not take a fraction
    EXPECT_EQ(pt, TPoint(3, 1));

    TQuaternion3D q;
    ReadQuaternionField(WriteQuaternionField(TQuaternion3D(TPoint3D(0.1f, 0.2f, 0.3f), 0.9f)), q);
    EXPECT_EQ(q, TQuaternion3D(TPoint3D(0.1f, 0.2f, 0.3f), 0.9f)); // 15 digits bring a Single back exactly
    TPlaneF plane = TPlaneF::Create(TPoint3D(), 0);
    ReadPlaneFField("(0,0,1,-3)", plane);
    EXPECT_EQ(plane, TPlaneF::Create(TPoint3D(0, 0, 1), -3));
}

// ---------------------------------------------------------------- boxes, rendering, duplication

TEST(KorvaneControl, AbsoluteBoundingBoxEnclosesTheTurnedCorners)
{
    Owned<TKorvaneControl> node(new TKorvaneControl(nullptr));
    node->SetSize(2, 4, 6);
    EXPECT_EQ(node->GetBoundingBox(), TBoundingBox(-1, -2, -3, 1, 2, 3));
    node->RotationAngle().SetPoint({0, 0, 90});
    node->Position().SetPoint({10, 0, 0});
    const TBoundingBox box = node->GetAbsoluteBoundingBox();
    EXPECT_NEAR(box.Left, 8, 1e-5);
    EXPECT_NEAR(box.Right, 12, 1e-5);
    EXPECT_NEAR(box.Top, -1, 1e-5);
    EXPECT_NEAR(box.Bottom, 1, 1e-5);
    EXPECT_NEAR(box.Near, -3, 1e-5);
    EXPECT_NEAR(box.Far, 3, 1e-5);
}

using Rendering = SceneClasses;

TEST_F(Rendering, TranslucentNodesWritingDepthSetTheTransparencyStates)
{
    Owned<TContext3D> context(new TContext3D());
    Owned<TKorvaneViewport> viewport(new TKorvaneViewport(nullptr));
    viewport->Context = context.get();
    TKorvaneControl* node = Node(viewport.get(), "");
    const TContextStates translucent{TContextState::csZTestOn, TContextState::csZWriteOff, TContextState::csAllFace};

    struct Case {
        bool Opaque, ZWrite, Expect;
    };
    for (const Case& c : {Case{true, true, false}, Case{false, false, false}, Case{false, true, true}}) {
        context->SetContextState(TContextState::csZTestOff);
        context->SetContextState(TContextState::csZWriteOn);
        context->SetContextState(TContextState::csBackFace);
        node->SetOpaque(c.Opaque);
        node->SetZWrite(c.ZWrite);
        node->RenderInternal();
        EXPECT_EQ((context->CurrentStates() * translucent) == translucent, c.Expect)
            << "opaque " << c.Opaque << ", zwrite " << c.ZWrite;
    }
}

TEST_F(Rendering, RayCastObjectAtPointAsksChildrenFirstThenTheControl)
{
    Owned<TContext3D> context(new TContext3D());
    context->SetSize(100, 100);
    Owned<TKorvaneViewport> viewport(new TKorvaneViewport(nullptr));
    viewport->Context = context.get();
    TKorvaneControl* parent = Node(viewport.get(), "");
    TKorvaneControl* child = Node(parent, "");
    for (TKorvaneControl* n : {parent, child}) {
        n->SetProjection(TProjection::Screen);
        n->SetHitTest(true);
    }
    parent->Position().SetPoint({0, 0, 5});
    child->Position().SetPoint({0, 0, 2}); // at z = 7 in the world
    GlobalProjection = TProjection::Screen;

    // The centre pixel's screen ray runs from (0, 0, -1) along +Z.
    GlobalDistance = MaxHitDistance;
    TVector3D pos, dir;
    TPoint3D hit;
    EXPECT_EQ(RayCastObjectAtPoint(parent, {50, 50}, pos, dir, hit), child);
    child->SetVisible(false);
    GlobalDistance = MaxHitDistance;
    EXPECT_EQ(RayCastObjectAtPoint(parent, {50, 50}, pos, dir, hit), parent);
    EXPECT_TRUE(test::NearPoint(pos.ToPoint3D(), {0, 0, -1}));
    EXPECT_TRUE(test::NearPoint(hit, {0, 0, 4.5f}));
    EXPECT_FLOAT_EQ(GlobalDistance, 5.5f);
    GlobalDistance = MaxHitDistance;
    EXPECT_EQ(RayCastObjectAtPoint(parent, {2, 2}, pos, dir, hit), nullptr);
    GlobalProjection = TProjection::Camera;
}

TEST(KorvaneControl, ChildrenAreNotDrawnThroughTheNode)
{
    Owned<TContext3D> context(new TContext3D());
    Owned<TKorvaneViewport> viewport(new TKorvaneViewport(nullptr));
    viewport->Context = context.get();
    auto* node = new TKorvaneControl(nullptr);
    viewport->AddObject(node);
    auto* child = new TKorvaneControl(nullptr);
    node->AddObject(child);
    int drawn = 0;
    child->OnRender = [&](TObject*, TContext3D*) { ++drawn; };
    node->RenderInternal();
    EXPECT_EQ(drawn, 0);
    child->RenderInternal();
    EXPECT_EQ(drawn, 1);
}

TEST(KorvaneControl, DuplicateAsProxyAndDeepCopiesNotYet)
{
    Owned<TComponent> owner(new TComponent(nullptr));
    Owned<TKorvaneControl> node(new TKorvaneControl(nullptr));
    auto* proxy = dynamic_cast<TProxyObject*>(node->Duplicate(owner.get(), true));
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->Owner(), owner.get());
    EXPECT_EQ(proxy->SourceObject(), node.get());
    EXPECT_THROW(node->Duplicate(owner.get(), false), EInvalidOperation);
}

TEST(KorvaneControl, DestroyComponentsButIgnoreClassKeepsThoseClasses)
{
    Owned<TKorvaneControl> node(new TKorvaneControl(nullptr));
    auto* keptTransform = new TKorvaneTransform(node.get());
    new TKorvaneControl(node.get());
    auto* keptDummy = new TDummy(node.get());
    new TComponent(node.get());
    node->DestroyComponentsButIgnoreClass({TKorvaneTransform::StaticClass(), TDummy::StaticClass()});
    ASSERT_EQ(node->ComponentCount(), 2);
    EXPECT_EQ(node->Components(0), keptTransform);
    EXPECT_EQ(node->Components(1), keptDummy);
}

TEST(KorvaneControl, DefaultsRegistrationAndTheAbstractDefinitionContract)
{
    Owned<TKorvaneControl> node(new TKorvaneControl(nullptr));
    EXPECT_TRUE(node->Opaque());
    EXPECT_TRUE(node->FrustumCullingCheck());
    EXPECT_TRUE(node->Visible());
    EXPECT_TRUE(node->ZWrite());
    EXPECT_TRUE(node->VisibleContextMenu());
    EXPECT_EQ(GetClass("Korvane.Control.TKorvaneControl"), TKorvaneControl::StaticClass());
    TTransformDef def(nullptr);
    EXPECT_THROW(node->LoadFromDefinition(&def), EAbstractError);
    EXPECT_THROW(node->StoreToDefinition(&def), EAbstractError);
    // Streaming sets properties through the registry's table.
    const TPropertyInfo* name = TKorvaneControl::StaticClass()->FindProperty("QualifiedName");
    ASSERT_NE(name, nullptr);
    name->SetValue(node.get(), TValue::From("streamed"));
    EXPECT_EQ(node->QualifiedName(), "streamed");
}

} // namespace
} // namespace korvane
