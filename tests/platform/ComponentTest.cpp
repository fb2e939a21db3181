#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {

// Records what happens to components, in order.
std::vector<std::string> Events;

// A component that may hold a reference to another and tracks notifications.
class TProbe : public TComponent {
    KORVANE_CLASS(TProbe, TComponent)

    explicit TProbe(TComponent* AOwner, const std::string& AName = "") : TComponent(AOwner)
    {
        if (!AName.empty()) SetName(AName);
    }
    ~TProbe() override { Events.push_back("deleted " + Name()); }

    TComponent* Target() const { return FTarget; }
    void SetTarget(TComponent* Value)
    {
        if (FTarget) FTarget->RemoveFreeNotification(this);
        FTarget = Value;
        if (FTarget) FTarget->FreeNotification(this);
    }

    void Notification(TComponent* AComponent, TOperation Operation) override
    {
        inherited::Notification(AComponent, Operation);
        if (AComponent != this)
            Events.push_back(Name() + (Operation == opRemove ? " told remove " : " told insert ") + AComponent->Name());
        if (Operation == opRemove && AComponent == FTarget) FTarget = nullptr;
    }

protected:
    void BeforeDestruction() override
    {
        Events.push_back("destroying " + Name() + (ComponentState().Contains(csDestroying) ? " (marked)" : ""));
        inherited::BeforeDestruction();
    }

private:
    TComponent* FTarget = nullptr;
};
KORVANE_IMPLEMENT_CLASS(TProbe, "Tests.Components")

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override { Events.clear(); }
    static bool Happened(const std::string& e) { return std::find(Events.begin(), Events.end(), e) != Events.end(); }
    static int IndexOf(const std::string& e)
    {
        auto it = std::find(Events.begin(), Events.end(), e);
        return it == Events.end() ? -1 : int(it - Events.begin());
    }
};

} // namespace

TEST_F(ComponentTest, OwnerFreesWhatItOwnsLastFirstAndDepthFirst)
{
    auto* form = new TProbe(nullptr, "Form");
    auto* a = new TProbe(form, "A");
    new TProbe(a, "A1");
    new TProbe(form, "B");
    ASSERT_EQ(form->ComponentCount(), 2);
    EXPECT_EQ(form->Components(1)->Name(), "B");
    EXPECT_EQ(a->ComponentIndex(), 0);
    EXPECT_EQ(a->Owner(), form);

    Events.clear();
    form->Free();
    // Every component ran its destroy-time work already marked as destroying,
    // and was deleted; the owner's list is worked from the end.
    for (const char* n : {"Form", "A", "A1", "B"}) {
        EXPECT_TRUE(Happened(std::string("destroying ") + n + " (marked)")) << n;
        EXPECT_TRUE(Happened(std::string("deleted ") + n)) << n;
    }
    EXPECT_LT(IndexOf("deleted B"), IndexOf("deleted A"));
    EXPECT_LT(IndexOf("deleted A1"), IndexOf("deleted A"));
    EXPECT_LT(IndexOf("deleted A"), IndexOf("deleted Form"));
    // The owner is told about each owned component that leaves it.
    EXPECT_TRUE(Happened("Form told remove B"));
}

TEST_F(ComponentTest, FreeingAnOwnedComponentLeavesTheOwnerAndTellsTheSiblings)
{
    auto owner = std::make_unique<TProbe>(nullptr, "Owner");
    auto* a = new TProbe(owner.get(), "A");
    auto* b = new TProbe(nullptr, "B");
    owner->InsertComponent(b);
    EXPECT_TRUE(Happened("Owner told insert B"));
    EXPECT_TRUE(Happened("A told insert B")); // siblings hear about insertions too
    a->SetTarget(b);

    b->Free();
    EXPECT_EQ(owner->ComponentCount(), 1);
    EXPECT_EQ(owner->FindComponent("B"), nullptr);
    EXPECT_EQ(a->Target(), nullptr);
    EXPECT_TRUE(Happened("Owner told remove B"));
    EXPECT_TRUE(Happened("A told remove B"));
}

TEST_F(ComponentTest, FreeNotificationClearsReferencesToAFreedComponent)
{
    // Unrelated owners: only the free-notification link tells the holder.
    auto* holder = new TProbe(nullptr, "Holder");
    auto* camera = new TProbe(nullptr, "Camera");
    auto* other = new TProbe(nullptr, "Other");
    holder->SetTarget(camera);
    other->SetTarget(camera);

    camera->Free();
    EXPECT_EQ(holder->Target(), nullptr);
    EXPECT_EQ(other->Target(), nullptr);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "Holder told remove Camera"), 1);

    // The link works both ways: freeing the holder first leaves nothing dangling
    // in the referenced component (the sanitizer would see a stale pointer).
    auto* light = new TProbe(nullptr, "Light");
    holder->SetTarget(light);
    holder->Free();
    EXPECT_TRUE(Happened("Light told remove Holder"));
    light->Free();

    // After RemoveFreeNotification the component is no longer told.
    auto* watcher = new TProbe(nullptr, "Watcher");
    auto* lamp = new TProbe(nullptr, "Lamp");
    lamp->FreeNotification(watcher);
    lamp->RemoveFreeNotification(watcher);
    Events.clear();
    lamp->Free();
    EXPECT_FALSE(Happened("Watcher told remove Lamp"));
    watcher->Free();
    other->Free();
}

TEST_F(ComponentTest, NamesAreUniquePerOwnerIgnoringCase)
{
    TProbe owner(nullptr, "Owner");
    auto* box = new TProbe(&owner, "Box");
    auto* other = new TProbe(&owner);

    for (const char* dup : {"Box", "box", "BOX"}) {
        EXPECT_EQ(test::MessageOf<EComponentError>([&] { other->SetName(dup); }),
                  std::string("A component named ") + dup + " already exists");
        EXPECT_EQ(other->Name(), "");
    }
    EXPECT_EQ(owner.FindComponent("bOx"), box);
    box->SetName("BOX"); // a component may change the case of its own name
    EXPECT_EQ(box->Name(), "BOX");
    other->SetName("Box_1");
    EXPECT_EQ(owner.FindComponent("box_1"), other);

    // Another owner is another name space; moving a clashing name there fails
    // and leaves the component where it was.
    TProbe second(nullptr, "Second");
    auto* clash = new TProbe(&second, "box");
    EXPECT_THROW(owner.InsertComponent(clash), EComponentError);
    EXPECT_EQ(clash->Owner(), &second);
    clash->SetName("Moved");
    owner.InsertComponent(clash);
    EXPECT_EQ(clash->Owner(), &owner);
    EXPECT_EQ(second.ComponentCount(), 0);
}

TEST_F(ComponentTest, InvalidNamesRaise)
{
    TProbe c(nullptr);
    for (const char* bad : {"1abc", "a b", "a-b", "x.y", "\xC3\xA4"}) {
        EXPECT_EQ(test::MessageOf<EComponentError>([&] { c.SetName(bad); }),
                  std::string("'") + bad + "' is not a valid component name");
    }
    for (const char* good : {"_a", "Abc9", "x_1_1", ""}) {
        EXPECT_NO_THROW(c.SetName(good));
        EXPECT_EQ(c.Name(), good);
    }
}

namespace {
class TShape : public TComponent {
    KORVANE_CLASS(TShape, TComponent)
    using TComponent::TComponent;
    virtual std::string Kind() const { return "shape"; }

protected:
    void BeforeDestruction() override
    {
        Events.push_back("TShape.BeforeDestruction sees " + Kind());
        inherited::BeforeDestruction();
    }
};
class TCircle : public TShape {
    KORVANE_CLASS(TCircle, TShape)
    using TShape::TShape;
    std::string Kind() const override { return "circle"; }
    ~TCircle() override { Events.push_back("~TCircle"); }

protected:
    void BeforeDestruction() override
    {
        Events.push_back("TCircle.BeforeDestruction");
        inherited::BeforeDestruction();
    }
};
KORVANE_IMPLEMENT_CLASS(TShape, "Tests.Components")
KORVANE_IMPLEMENT_CLASS(TCircle, "Tests.Components")
} // namespace

TEST_F(ComponentTest, FreeRunsTheMostDerivedDestroyTimeWork)
{
    TComponent* c = new TCircle(nullptr);
    c->Free();
    EXPECT_EQ(Events, (std::vector<std::string>{"TCircle.BeforeDestruction", "TShape.BeforeDestruction sees circle",
                                                "~TCircle"}));
}

TEST_F(ComponentTest, DeletingWithoutFreeStillFreesOwnedAndLeavesOwner)
{
    TProbe owner(nullptr, "Owner");
    auto child = std::make_unique<TProbe>(&owner, "Child");
    new TProbe(child.get(), "Grandchild");
    child.reset();
    EXPECT_TRUE(Happened("deleted Grandchild"));
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_TRUE(Happened("Owner told remove Child"));
}

TEST_F(ComponentTest, FailingDestroyTimeWorkIsLoggedAndTheObjectStillGoes)
{
    class TFaulty : public TProbe {
    public:
        using TProbe::TProbe;

    protected:
        void BeforeDestruction() override { throw Exception("disk on fire"); }
    };
    test::LogCapture log;
    auto* owner = new TFaulty(nullptr, "Faulty");
    new TProbe(owner, "Kid");
    auto* watcher = new TProbe(nullptr, "Watcher");
    watcher->SetTarget(owner);
    owner->Free();
    EXPECT_TRUE(log.Contains("disk on fire"));
    // The component's own part of destruction still ran, from its destructor.
    EXPECT_TRUE(Happened("deleted Kid"));
    EXPECT_EQ(watcher->Target(), nullptr);
    watcher->Free();
}

TEST_F(ComponentTest, ComponentState)
{
    auto* root = new TProbe(nullptr, "Root");
    auto* child = new TProbe(root, "Child");
    root->SetDesigning(true);
    EXPECT_TRUE(child->ComponentState().Contains(csDesigning));
    auto* late = new TProbe(root, "Late"); // joins a designed owner: designed too
    EXPECT_TRUE(late->ComponentState().Contains(csDesigning));
    root->SetDesigning(false, false);
    EXPECT_FALSE(root->ComponentState().Contains(csDesigning));
    EXPECT_TRUE(child->ComponentState().Contains(csDesigning));

    child->SetLoading(true);
    EXPECT_EQ(child->ComponentState(), (TComponentState{csDesigning, csLoading}));
    child->Loaded();
    EXPECT_EQ(child->ComponentState(), TComponentState{csDesigning});
    root->Free();
}

TEST_F(ComponentTest, OwnershipCyclesAreRefused)
{
    TProbe a(nullptr, "A");
    auto* b = new TProbe(&a, "B");
    auto* c = new TProbe(b, "C");
    EXPECT_THROW(c->InsertComponent(&a), EComponentError);
    EXPECT_THROW(b->InsertComponent(b), EComponentError);
    EXPECT_EQ(a.Owner(), nullptr);
    EXPECT_THROW(a.Components(2), EListError);
    EXPECT_THROW(a.Components(-1), EListError);
}

TEST_F(ComponentTest, TagAndTagObject)
{
    TProbe a(nullptr), b(nullptr);
    a.SetTag(-42);
    a.SetTagObject(&b);
    EXPECT_EQ(a.Tag(), -42);
    EXPECT_EQ(a.TagObject(), &b);
}

// ---------------------------------------------------------------- collections

namespace {
class TEntry : public TCollectionItem {
    KORVANE_CLASS(TEntry, TCollectionItem)
    using TCollectionItem::TCollectionItem;
    ~TEntry() override { Events.push_back("deleted entry " + FText); }
    std::string FText;
    std::string DisplayName() const override { return FText; }
    void Assign(const TPersistent* Source) override
    {
        if (auto* e = dynamic_cast<const TEntry*>(Source)) FText = e->FText;
        else TCollectionItem::Assign(Source);
    }
};
KORVANE_IMPLEMENT_CLASS(TEntry, "Tests.Components")

class TEntries : public TOwnedCollection {
public:
    TEntries(TPersistent* AOwner) : TOwnedCollection(AOwner, TEntry::StaticClass()) {}
    int Updates = 0;
    TEntry* Add(const std::string& Text)
    {
        auto* e = static_cast<TEntry*>(TCollection::Add());
        e->FText = Text;
        return e;
    }
    std::string Texts() const
    {
        std::string s;
        for (int i = 0; i < Count(); ++i) s += static_cast<TEntry*>(Items(i))->FText;
        return s;
    }

protected:
    void Update(TCollectionItem*) override { ++Updates; }
};
} // namespace

TEST_F(ComponentTest, CollectionOwnsItsItems)
{
    TProbe owner(nullptr, "Owner");
    auto* list = new TEntries(&owner);
    EXPECT_EQ(list->GetOwner(), &owner);
    TEntry* a = list->Add("a");
    list->Add("b");
    TEntry* c = list->Add("c");
    EXPECT_EQ(list->Count(), 3);
    EXPECT_EQ(c->Index(), 2);
    EXPECT_EQ(c->Collection(), list);
    EXPECT_EQ(c->GetOwner(), list);
    EXPECT_EQ(list->FindItemID(a->ID()), a);

    list->Delete(1);
    EXPECT_EQ(list->Texts(), "ac");
    EXPECT_TRUE(Happened("deleted entry b"));
    EXPECT_EQ(c->Index(), 1);

    static_cast<TEntry*>(list->Insert(0))->FText = "z";
    EXPECT_EQ(list->Texts(), "zac");
    c->SetIndex(0);
    EXPECT_EQ(list->Texts(), "cza");
    a->Free(); // an item freed on its own leaves the collection
    EXPECT_EQ(list->Texts(), "cz");
    // IDs are never reused: a, b, c and z took 0 to 3.
    EXPECT_EQ(list->Add("n")->ID(), 4);

    EXPECT_THROW(list->Items(3), EListError);
    EXPECT_THROW(list->Delete(-1), EListError);
    EXPECT_THROW(list->Insert(9), EListError);

    Events.clear();
    list->Free();
    EXPECT_EQ(std::count_if(Events.begin(), Events.end(), [](const std::string& e) { return e.rfind("deleted entry", 0) == 0; }), 3);
}

TEST_F(ComponentTest, CollectionChangesAndAssign)
{
    TEntries list(nullptr);
    list.Add("a");
    list.Add("b");
    const int before = list.Updates;
    list.BeginUpdate();
    list.Add("c");
    list.Delete(0);
    EXPECT_EQ(list.Updates, before); // held back
    list.EndUpdate();
    EXPECT_EQ(list.Updates, before + 1);

    TEntries copy(nullptr);
    copy.Add("old");
    copy.Assign(&list);
    EXPECT_EQ(copy.Texts(), "bc");
    EXPECT_EQ(list.Texts(), "bc");
    TProbe notACollection(nullptr);
    EXPECT_THROW(copy.Assign(&notACollection), EConvertError);
    EXPECT_THROW(TCollection(TProbe::StaticClass()), EInvalidOperation);
}
