#pragma once
// The object model: TObject, TPersistent, TComponent (ownership, names, free
// notifications, component state) and collections of items.
//
// Objects are destroyed through Free(): it marks the object as destroying,
// runs BeforeDestruction() while the object is still its most-derived type
// (so destroy-time work lives in overrides, which call the inherited one
// last), then deletes it. For a component the inherited BeforeDestruction()
// tells every component linked by FreeNotification that it goes (opRemove),
// frees the components it owns and leaves its owner. Free() never throws: a
// failure of destroy-time work goes to the debug log and the object is still
// deleted. Objects handled by Free() must have been created with new.
//
// Deleting a component directly (delete, std::unique_ptr) still notifies,
// frees the owned components and leaves the owner, but from ~TComponent, when
// the derived parts are already gone; prefer Free().
//
// Every class that wants a metaclass (registration, factories, property table)
// declares itself with KORVANE_CLASS(ThisClass, ParentClass) in its body and
// defines its StaticClass() with TClassInfo (Platform.ClassRegistry.h).

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Platform.SysUtils.h"

namespace korvane {

class TMetaClass;
// A class reference: the metaclass object of a class.
using TClass = const TMetaClass*;

class EListError : public Exception { using Exception::Exception; };
class EComponentError : public Exception { using Exception::Exception; };
class EFilerError : public EStreamError { using EStreamError::EStreamError; };
class EClassNotFound : public EFilerError { using EFilerError::EFilerError; };

// A set of the values of an enumeration with at most 64 values.
template <typename E>
class TSet {
    static_assert(std::is_enum_v<E>, "TSet holds enumeration values");

public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items)
    {
        for (E e : items) Include(e);
    }
    constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
    constexpr TSet& Include(E e)
    {
        FBits |= Bit(e);
        return *this;
    }
    constexpr TSet& Exclude(E e)
    {
        FBits &= ~Bit(e);
        return *this;
    }
    constexpr bool IsEmpty() const { return FBits == 0; }
    constexpr TSet operator+(TSet o) const { return FromBits(FBits | o.FBits); }
    constexpr TSet operator-(TSet o) const { return FromBits(FBits & ~o.FBits); }
    constexpr TSet operator*(TSet o) const { return FromBits(FBits & o.FBits); }
    constexpr bool operator==(const TSet&) const = default;
    constexpr uint64_t Bits() const { return FBits; }

private:
    static constexpr uint64_t Bit(E e)
    {
        const auto i = static_cast<std::underlying_type_t<E>>(e);
        return (i >= 0 && i < 64) ? (uint64_t(1) << i) : 0;
    }
    static constexpr TSet FromBits(uint64_t b)
    {
        TSet s;
        s.FBits = b;
        return s;
    }
    uint64_t FBits = 0;
};

// Declares the metaclass members of a class; place it first in the class body
// (it leaves the access at public). `inherited` names the parent class.
#define KORVANE_CLASS(ThisClass, ParentClass)                                              \
public:                                                                                    \
    using inherited = ParentClass;                                                         \
    static constexpr const char* StaticClassName() { return #ThisClass; }                  \
    static ::korvane::TClass StaticClass();                                                \
    ::korvane::TClass ClassType() const override { return ThisClass::StaticClass(); }      \
    std::string ClassName() const override { return #ThisClass; }

class TObject {
public:
    static constexpr const char* StaticClassName() { return "TObject"; }
    static TClass StaticClass();

    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // The one destruction entry for heap objects (TOwned frees through it).
    void Free();
    bool Destroying() const { return FDestroying; }

    // The class name as the design writes it ("TKorvaneMesh"); the registry
    // and streaming use it.
    virtual std::string ClassName() const { return "TObject"; }
    // The metaclass of the object's class (of the nearest class that declares one).
    virtual TClass ClassType() const { return StaticClass(); }
    bool InheritsFrom(TClass AClass) const;

protected:
    // First step of Free(), before BeforeDestruction(): marks destroying state.
    virtual void MarkDestroying() {}
    // Runs before the object is deleted, while virtual calls still reach the
    // most-derived overrides.
    virtual void BeforeDestruction() {}

private:
    bool FDestroying = false;
};

// The one owned-pointer type for framework objects: frees through Free(), so
// destroy-time work in BeforeDestruction() runs on the most-derived object.
// Use it for every member, local or container slot that owns an object nobody
// else owns (components with an owner are freed by that owner instead).
struct TFreeObject {
    void operator()(TObject* AObject) const noexcept
    {
        if (AObject) AObject->Free();
    }
};
template <typename T>
using TOwned = std::unique_ptr<T, TFreeObject>;

template <typename T, typename... Args>
TOwned<T> MakeOwned(Args&&... AArgs)
{
    return TOwned<T>(new T(std::forward<Args>(AArgs)...));
}

namespace classes_detail {
// Logs the exception being handled as "<ERROR> Class.Operation: reason".
void LogGuardedFailure(const TObject* Who, const char* Operation) noexcept;
} // namespace classes_detail

// Runs work that must not stop the caller (destroy-time work): a failure goes
// to the debug log as "<ERROR> Class.Operation: reason" instead of propagating.
template <typename F>
void Guarded(const TObject* Who, const char* Operation, F&& Work) noexcept
{
    try {
        Work();
    } catch (...) {
        classes_detail::LogGuardedFailure(Who, Operation);
    }
}

// Runs ABody on AObject, just made, and answers it; frees the object when the
// body raises, so that a constructor body that fails leaves nothing behind.
template <typename T, typename Body>
T* InitializeObject(T* AObject, Body&& ABody)
{
    try {
        ABody(AObject);
    } catch (...) {
        AObject->Free();
        throw;
    }
    return AObject;
}

class TPersistent : public TObject {
    KORVANE_CLASS(TPersistent, TObject)

    // Copies the state of Source; raises when the classes do not know each other.
    virtual void Assign(const TPersistent* Source);
    // The object this one belongs to (a component's owner, an item's collection).
    virtual TPersistent* GetOwner() const { return nullptr; }

protected:
    // Lets Dest copy from this object when Dest does not know the class.
    virtual void AssignTo(TPersistent* Dest) const;
};

class TComponent;

enum TOperation : uint8_t { opInsert, opRemove };

enum TComponentStateItem : uint8_t {
    csLoading,    // being read from a form resource; Loaded() ends it
    csDesigning,  // in the designer
    csDestroying, // Free() has begun
};
using TComponentState = TSet<TComponentStateItem>;

// True for a Pascal identifier: a letter or "_", then letters, digits and "_".
bool IsValidIdent(std::string_view Ident);

class TComponent : public TPersistent {
    KORVANE_CLASS(TComponent, TPersistent)

    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const { return FOwner; }
    TPersistent* GetOwner() const override { return FOwner; }
    int ComponentCount() const { return int(FComponents.size()); }
    // The owned component at Index; raises EListError out of range.
    TComponent* Components(int Index) const;
    // This component's index in its owner's list, -1 without owner.
    int ComponentIndex() const;

    const std::string& Name() const { return FName; }
    // Raises EComponentError for a name that is not an identifier or that
    // another component of the same owner already has (letter case ignored).
    virtual void SetName(const std::string& NewName);
    // The owned component of that name (letter case ignored), nil when none.
    TComponent* FindComponent(std::string_view AName) const;

    TComponentState ComponentState() const { return FComponentState; }
    // Designing state, for this component and (by default) all it owns.
    void SetDesigning(bool Value, bool SetChildren = true);
    // Loading state; form reading sets it before reading and Loaded() clears it.
    void SetLoading(bool Value);

    // Links this component and AComponent so that each is told
    // (Notification(x, opRemove)) when the other is destroyed.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    // Takes AComponent into the owned list (leaving its former owner);
    // raises for a duplicate name or an ownership cycle.
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);
    // Frees every owned component, the last first.
    void DestroyComponents();

    intptr_t Tag() const { return FTag; }
    void SetTag(intptr_t Value) { FTag = Value; }
    // A free object reference for the component's user; not owned, not tracked.
    TObject* TagObject() const { return FTagObject; }
    void SetTagObject(TObject* Value) { FTagObject = Value; }

    // Called after the component was read from a form resource, once all its
    // properties and references are in place; clears csLoading.
    virtual void Loaded();

    // The component this one is nested in within a form resource (a control's
    // parent); nil by default. Form reading calls SetParentComponent with the
    // component of the enclosing "object" block; by default nesting is ignored.
    virtual TComponent* GetParentComponent() const { return nullptr; }
    virtual void SetParentComponent(TComponent* AParent);

    // Told when AComponent is inserted into or removed from this component's
    // owner tree (owned components and free-notification links). The default
    // drops the free-notification link of a removed component and passes the
    // notification on to every owned component.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

protected:
    void MarkDestroying() override;
    // Sends opRemove to linked components, frees owned components and leaves
    // the owner. Overrides do their own work first, then call this.
    void BeforeDestruction() override;
    void ValidateRename(TComponent* AComponent, const std::string& CurName, const std::string& NewName) const;

private:
    void Cleanup() noexcept;
    void RemoveFreeNotifications() noexcept;
    void DetachFromOwner() noexcept;
    void NotifySafely(TComponent* Target, TComponent* AComponent, TOperation Operation) noexcept;

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    std::string FName;
    TComponentState FComponentState;
    intptr_t FTag = 0;
    TObject* FTagObject = nullptr;
    bool FCleanedUp = false;
};

class TCollection;

// An item of a TCollection; the collection owns it. Constructing an item with a
// collection appends it there; freeing it takes it out.
class TCollectionItem : public TPersistent {
    KORVANE_CLASS(TCollectionItem, TPersistent)

    explicit TCollectionItem(TCollection* ACollection);
    ~TCollectionItem() override;

    TCollection* Collection() const { return FCollection; }
    // Moves the item to another collection (nil: no collection, the caller owns it).
    void SetCollection(TCollection* Value);
    TPersistent* GetOwner() const override;
    int Index() const;
    void SetIndex(int Value);
    // A number unique within the collection, kept when the item moves in it.
    int ID() const { return FID; }
    virtual std::string DisplayName() const;
    virtual void SetDisplayName(const std::string& Value);

protected:
    void BeforeDestruction() override;
    // Tells the collection that this item (or, with AllItems, everything) changed.
    void Changed(bool AllItems);

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
    int FID = 0;
};

// A list of items of one item class, owned by the collection.
class TCollection : public TPersistent {
    KORVANE_CLASS(TCollection, TPersistent)

    // AItemClass must descend from TCollectionItem and be creatable with a collection.
    explicit TCollection(TClass AItemClass);
    ~TCollection() override;

    TClass ItemClass() const { return FItemClass; }
    int Count() const { return int(FItems.size()); }
    // The item at Index; raises EListError out of range.
    TCollectionItem* Items(int Index) const;
    TCollectionItem* Add();
    TCollectionItem* Insert(int Index);
    void Delete(int Index);
    void Clear();
    TCollectionItem* FindItemID(int ID) const;
    // Replaces the items with copies of Source's (item by item through Assign).
    void Assign(const TPersistent* Source) override;

    // Change notifications are held back between BeginUpdate and EndUpdate.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

protected:
    void BeforeDestruction() override;
    // Called after a change: Item is the changed item, nil for the whole collection.
    virtual void Update(TCollectionItem* Item);
    void Changed();

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* Item);
    void RemoveItem(TCollectionItem* Item);
    void ItemChanged(TCollectionItem* Item);

    TClass FItemClass;
    std::vector<TCollectionItem*> FItems;
    int FNextID = 0;
    int FUpdateCount = 0;
};

// A collection that knows the object it belongs to (GetOwner).
class TOwnedCollection : public TCollection {
    KORVANE_CLASS(TOwnedCollection, TCollection)

    TOwnedCollection(TPersistent* AOwner, TClass AItemClass);
    TPersistent* GetOwner() const override { return FOwner; }

private:
    TPersistent* FOwner;
};

// Components the application knows by name (forms, data modules): lookups
// registered here are asked in order of registration.
using TFindGlobalComponent = TComponent* (*)(std::string_view Name);
void RegisterFindGlobalComponentProc(TFindGlobalComponent AProc);
void UnregisterFindGlobalComponentProc(TFindGlobalComponent AProc);
// The first component a registered lookup finds; nil when none knows the name.
TComponent* FindGlobalComponent(std::string_view Name);
// An installable check whether a name is free among the global components;
// when set, it alone decides. Nil by default.
using TIsUniqueGlobalComponentName = bool (*)(std::string_view Name);
extern TIsUniqueGlobalComponentName IsUniqueGlobalComponentNameProc;
// Whether Name is free among the global components: the installed check when
// there is one, else no registered lookup knows the name.
bool IsUniqueGlobalComponentName(std::string_view Name);

} // namespace korvane
