#include "Platform.Classes.h"

#include <algorithm>
#include <exception>

#include "Platform.ClassRegistry.h"
#include "Platform.Log.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

template <typename T>
void EraseOne(std::vector<T*>& List, T* Item)
{
    auto it = std::find(List.begin(), List.end(), Item);
    if (it != List.end()) List.erase(it);
}

template <typename T>
void AddOnce(std::vector<T*>& List, T* Item)
{
    if (std::find(List.begin(), List.end(), Item) == List.end()) List.push_back(Item);
}

// The position of Item in List, -1 when it is not there.
template <typename T>
int IndexOf(const std::vector<T*>& List, const T* Item)
{
    auto it = std::find(List.begin(), List.end(), Item);
    return it == List.end() ? -1 : int(it - List.begin());
}

[[noreturn]] void ListIndexError(int Index)
{
    throw EListError(Format("List index out of bounds (%d)", Index));
}

} // namespace

// ---------------------------------------------------------------- TObject

namespace classes_detail {

void LogGuardedFailure(const TObject* Who, const char* Operation) noexcept
{
    try {
        throw;
    } catch (const std::exception& e) {
        try {
            Log::d("<ERROR> %s.%s: %s", Who->ClassName(), Operation, e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            Log::d("<ERROR> %s.%s: unknown exception", Who->ClassName(), Operation);
        } catch (...) {
        }
    }
}

} // namespace classes_detail

void TObject::Free()
{
    if (FDestroying) return;
    FDestroying = true;
    Guarded(this, "Free()", [this] {
        MarkDestroying();
        BeforeDestruction();
    });
    delete this;
}

bool TObject::InheritsFrom(TClass AClass) const
{
    return ClassType()->InheritsFrom(AClass);
}

// ---------------------------------------------------------------- TPersistent

void TPersistent::Assign(const TPersistent* Source)
{
    if (Source) Source->AssignTo(this);
    else throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* Dest) const
{
    throw EConvertError("Cannot assign a " + ClassName() + " to a " + (Dest ? Dest->ClassName() : std::string("nil")));
}

// ---------------------------------------------------------------- TComponent

bool IsValidIdent(std::string_view Ident)
{
    if (Ident.empty()) return false;
    auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!alpha(Ident[0])) return false;
    return std::all_of(Ident.begin() + 1, Ident.end(), [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

TComponent::TComponent(TComponent* AOwner)
{
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent()
{
    // Reached without Free() (delete, unique_ptr, a throwing constructor of a
    // subclass): do the component's part of destruction here.
    if (!FCleanedUp) {
        FComponentState.Include(csDestroying);
        Cleanup();
    }
}

TComponent* TComponent::Components(int Index) const
{
    if (Index < 0 || Index >= ComponentCount()) ListIndexError(Index);
    return FComponents[size_t(Index)];
}

int TComponent::ComponentIndex() const
{
    return FOwner ? IndexOf(FOwner->FComponents, this) : -1;
}

void TComponent::SetName(const std::string& NewName)
{
    if (FName == NewName) return;
    if (!NewName.empty() && !IsValidIdent(NewName))
        throw EComponentError(Format("'%s' is not a valid component name", NewName));
    if (FOwner) FOwner->ValidateRename(this, FName, NewName);
    FName = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName, const std::string& NewName) const
{
    if (NewName.empty() || SameText(CurName, NewName)) return;
    TComponent* other = FindComponent(NewName);
    if (other && other != AComponent) throw EComponentError(Format("A component named %s already exists", NewName));
}

TComponent* TComponent::FindComponent(std::string_view AName) const
{
    if (AName.empty()) return nullptr;
    for (TComponent* c : FComponents)
        if (SameText(c->FName, AName)) return c;
    return nullptr;
}

void TComponent::SetDesigning(bool Value, bool SetChildren)
{
    if (Value) FComponentState.Include(csDesigning);
    else FComponentState.Exclude(csDesigning);
    if (SetChildren)
        for (TComponent* c : FComponents) c->SetDesigning(Value, true);
}

void TComponent::SetLoading(bool Value)
{
    if (Value) FComponentState.Include(csLoading);
    else FComponentState.Exclude(csLoading);
}

void TComponent::Loaded()
{
    FComponentState.Exclude(csLoading);
}

void TComponent::FreeNotification(TComponent* AComponent)
{
    if (!AComponent || AComponent == this) return;
    AddOnce(FFreeNotifies, AComponent);
    AddOnce(AComponent->FFreeNotifies, static_cast<TComponent*>(this));
}

void TComponent::RemoveFreeNotification(TComponent* AComponent)
{
    if (!AComponent) return;
    EraseOne(FFreeNotifies, AComponent);
    EraseOne(AComponent->FFreeNotifies, static_cast<TComponent*>(this));
}

void TComponent::InsertComponent(TComponent* AComponent)
{
    if (!AComponent || AComponent->FOwner == this) return;
    for (const TComponent* o = this; o; o = o->FOwner)
        if (o == AComponent) throw EComponentError("A component cannot own itself or its owner");
    ValidateRename(AComponent, std::string(), AComponent->FName);
    if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent)
{
    if (!AComponent || AComponent->FOwner != this) return;
    AComponent->DetachFromOwner();
}

void TComponent::DetachFromOwner() noexcept
{
    TComponent* owner = FOwner;
    if (!owner) return;
    owner->NotifySafely(owner, this, opRemove);
    // The notification may already have moved this component elsewhere.
    if (FOwner == owner) {
        EraseOne(owner->FComponents, this);
        FOwner = nullptr;
    }
}

void TComponent::DestroyComponents()
{
    while (!FComponents.empty()) {
        TComponent* c = FComponents.back();
        if (c->TObject::Destroying()) {
            // Already on its way out further up the stack: only let it go.
            FComponents.pop_back();
            c->FOwner = nullptr;
            continue;
        }
        c->Free();
        // Free() leaves the owner; make sure the loop advances in any case.
        if (!FComponents.empty() && FComponents.back() == c) FComponents.pop_back();
    }
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation)
{
    if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
    // Owned components may come and go while they are told: walk by index.
    for (size_t i = FComponents.size(); i-- > 0;) {
        if (i >= FComponents.size()) continue;
        FComponents[i]->Notification(AComponent, Operation);
    }
}

void TComponent::NotifySafely(TComponent* Target, TComponent* AComponent, TOperation Operation) noexcept
{
    Guarded(Target, "Notification()", [&] { Target->Notification(AComponent, Operation); });
}

void TComponent::MarkDestroying()
{
    FComponentState.Include(csDestroying);
    for (TComponent* c : FComponents) c->MarkDestroying();
}

void TComponent::BeforeDestruction()
{
    Cleanup();
}

void TComponent::Cleanup() noexcept
{
    if (FCleanedUp) return;
    FCleanedUp = true;
    RemoveFreeNotifications();
    Guarded(this, "DestroyComponents()", [this] { DestroyComponents(); });
    DetachFromOwner();
}

void TComponent::RemoveFreeNotifications() noexcept
{
    while (!FFreeNotifies.empty()) {
        TComponent* c = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        EraseOne(c->FFreeNotifies, static_cast<TComponent*>(this));
        NotifySafely(c, this, opRemove);
    }
}

// ---------------------------------------------------------------- TCollectionItem

TCollectionItem::TCollectionItem(TCollection* ACollection)
{
    SetCollection(ACollection);
}

TCollectionItem::~TCollectionItem()
{
    if (FCollection) FCollection->RemoveItem(this);
}

void TCollectionItem::BeforeDestruction()
{
    SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* Value)
{
    if (FCollection == Value) return;
    if (FCollection) FCollection->RemoveItem(this);
    if (Value) Value->InsertItem(this);
}

TPersistent* TCollectionItem::GetOwner() const
{
    return FCollection;
}

int TCollectionItem::Index() const
{
    return FCollection ? IndexOf(FCollection->FItems, this) : -1;
}

void TCollectionItem::SetIndex(int Value)
{
    const int cur = Index();
    if (cur < 0 || cur == Value) return;
    auto& items = FCollection->FItems;
    if (Value < 0 || Value >= int(items.size())) ListIndexError(Value);
    items.erase(items.begin() + cur);
    items.insert(items.begin() + Value, this);
    Changed(true);
}

std::string TCollectionItem::DisplayName() const
{
    return ClassName();
}

void TCollectionItem::SetDisplayName(const std::string&)
{
    Changed(false);
}

void TCollectionItem::Changed(bool AllItems)
{
    if (FCollection) FCollection->ItemChanged(AllItems ? nullptr : this);
}

// ---------------------------------------------------------------- TCollection

TCollection::TCollection(TClass AItemClass) : FItemClass(AItemClass)
{
    if (!AItemClass || !AItemClass->InheritsFrom(TCollectionItem::StaticClass()))
        throw EInvalidOperation("TCollection: the item class must descend from TCollectionItem");
}

TCollection::~TCollection()
{
    // Without Free() the items are still here: free them now (they are whole objects).
    while (!FItems.empty()) {
        TCollectionItem* item = FItems.back();
        FItems.pop_back();
        item->FCollection = nullptr;
        item->Free();
    }
}

void TCollection::BeforeDestruction()
{
    FUpdateCount = 1; // no change notifications while tearing down
    Guarded(this, "Clear()", [this] { Clear(); });
}

TCollectionItem* TCollection::Items(int Index) const
{
    if (Index < 0 || Index >= Count()) ListIndexError(Index);
    return FItems[size_t(Index)];
}

TCollectionItem* TCollection::Add()
{
    TCollectionItem* item = FItemClass->CreateCollectionItem(this);
    Changed();
    return item;
}

TCollectionItem* TCollection::Insert(int Index)
{
    if (Index < 0 || Index > Count()) ListIndexError(Index);
    TCollectionItem* item = FItemClass->CreateCollectionItem(this);
    // The new item was appended; move it into place.
    FItems.pop_back();
    FItems.insert(FItems.begin() + Index, item);
    Changed();
    return item;
}

void TCollection::Delete(int Index)
{
    Items(Index)->Free();
}

void TCollection::Clear()
{
    if (FItems.empty()) return;
    BeginUpdate();
    while (!FItems.empty()) {
        TCollectionItem* item = FItems.back();
        item->Free();
        if (!FItems.empty() && FItems.back() == item) FItems.pop_back();
    }
    EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int ID) const
{
    for (TCollectionItem* item : FItems)
        if (item->FID == ID) return item;
    return nullptr;
}

void TCollection::Assign(const TPersistent* Source)
{
    const auto* src = dynamic_cast<const TCollection*>(Source);
    if (!src) {
        TPersistent::Assign(Source);
        return;
    }
    if (src == this) return;
    BeginUpdate();
    try {
        Clear();
        for (TCollectionItem* item : src->FItems) Add()->Assign(item);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TCollection::BeginUpdate()
{
    ++FUpdateCount;
}

void TCollection::EndUpdate()
{
    if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Changed()
{
    if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::ItemChanged(TCollectionItem* Item)
{
    if (FUpdateCount == 0) Update(Item);
}

void TCollection::InsertItem(TCollectionItem* Item)
{
    FItems.push_back(Item);
    Item->FCollection = this;
    Item->FID = FNextID++;
}

void TCollection::RemoveItem(TCollectionItem* Item)
{
    EraseOne(FItems, Item);
    Item->FCollection = nullptr;
    Changed();
}

TOwnedCollection::TOwnedCollection(TPersistent* AOwner, TClass AItemClass) : TCollection(AItemClass), FOwner(AOwner) {}

// ---- global component lookup ----

namespace {
std::vector<TFindGlobalComponent>& FindGlobalComponentProcs()
{
    static std::vector<TFindGlobalComponent> procs;
    return procs;
}
} // namespace

TIsUniqueGlobalComponentName IsUniqueGlobalComponentNameProc = nullptr;

void RegisterFindGlobalComponentProc(TFindGlobalComponent AProc)
{
    auto& procs = FindGlobalComponentProcs();
    if (AProc && std::find(procs.begin(), procs.end(), AProc) == procs.end()) procs.push_back(AProc);
}

void UnregisterFindGlobalComponentProc(TFindGlobalComponent AProc)
{
    auto& procs = FindGlobalComponentProcs();
    procs.erase(std::remove(procs.begin(), procs.end(), AProc), procs.end());
}

TComponent* FindGlobalComponent(std::string_view Name)
{
    for (TFindGlobalComponent proc : FindGlobalComponentProcs())
        if (TComponent* found = proc(Name)) return found;
    return nullptr;
}

bool IsUniqueGlobalComponentName(std::string_view Name)
{
    if (IsUniqueGlobalComponentNameProc) return IsUniqueGlobalComponentNameProc(Name);
    return FindGlobalComponent(Name) == nullptr;
}
// Components without a tree of their own keep only their owner.
void TComponent::SetParentComponent(TComponent*) {}

} // namespace korvane
