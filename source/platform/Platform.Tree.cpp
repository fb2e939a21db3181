#include "Platform.Tree.h"

#include <algorithm>

#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TTreeObject, "Platform.Tree")

TTreeObject::TTreeObject(TComponent* AOwner) : TComponent(AOwner) {}

TTreeObject* TTreeObject::Children(int Index) const
{
    if (Index < 0 || Index >= ChildrenCount()) throw EListError(Format("List index out of bounds (%d)", Index));
    return FChildren[size_t(Index)];
}

int TTreeObject::IndexOfChild(const TTreeObject* AChild) const
{
    auto it = std::find(FChildren.begin(), FChildren.end(), AChild);
    return it == FChildren.end() ? -1 : int(it - FChildren.begin());
}

void TTreeObject::SetParent(TTreeObject* Value)
{
    if (Value == FParent) return;
    if (Value) Value->AddObject(this);
    else FParent->RemoveObject(this);
}

void TTreeObject::SetParentComponent(TComponent* AParent)
{
    auto* parent = dynamic_cast<TTreeObject*>(AParent);
    if (AParent && !parent)
        throw EComponentError(Format("%s cannot be nested in %s", ClassName(), AParent->ClassName()));
    SetParent(parent);
}

void TTreeObject::CheckNewChild(TTreeObject* AObject) const
{
    for (const TTreeObject* p = this; p; p = p->FParent)
        if (p == AObject) throw EInvalidOperation("An object cannot be the parent of itself or of its parent");
}

void TTreeObject::Attach(int Index, TTreeObject* AObject)
{
    if (!AObject || AObject->FParent == this) return;
    CheckNewChild(AObject);
    TTreeObject* old = AObject->FParent;
    if (old) old->DoRemoveObject(AObject);
    if (Index < 0) DoAddObject(AObject);
    else DoInsertObject(std::min(Index, ChildrenCount()), AObject);
    AObject->ParentChanged(old);
}

void TTreeObject::AddObject(TTreeObject* AObject)
{
    Attach(-1, AObject);
}

void TTreeObject::InsertObject(int Index, TTreeObject* AObject)
{
    Attach(std::max(Index, 0), AObject);
}

void TTreeObject::RemoveObject(TTreeObject* AObject)
{
    if (!AObject || AObject->FParent != this) return;
    DoRemoveObject(AObject);
    AObject->ParentChanged(this);
}

void TTreeObject::DoAddObject(TTreeObject* AObject)
{
    FChildren.push_back(AObject);
    AObject->FParent = this;
}

void TTreeObject::DoInsertObject(int Index, TTreeObject* AObject)
{
    FChildren.insert(FChildren.begin() + Index, AObject);
    AObject->FParent = this;
}

void TTreeObject::DoRemoveObject(TTreeObject* AObject)
{
    auto it = std::find(FChildren.begin(), FChildren.end(), AObject);
    if (it != FChildren.end()) FChildren.erase(it);
    AObject->FParent = nullptr;
}

void TTreeObject::ParentChanged(TTreeObject*) {}

void TTreeObject::DeleteChildren()
{
    while (!FChildren.empty()) {
        TTreeObject* c = FChildren.back();
        if (c->Destroying()) {
            // Already on its way out further up the stack: only let it go.
            FChildren.pop_back();
            c->FParent = nullptr;
            continue;
        }
        c->Free();
        if (!FChildren.empty() && FChildren.back() == c) FChildren.pop_back();
    }
}

void TTreeObject::BeforeDestruction()
{
    Guarded(this, "DeleteChildren()", [this] { DeleteChildren(); });
    Guarded(this, "SetParent()", [this] {
        if (FParent) FParent->RemoveObject(this);
    });
    TComponent::BeforeDestruction();
}

TTreeObject::~TTreeObject()
{
    // Reached without Free(): the children go, and the object leaves its parent
    // without any virtual notification (the derived parts are gone already).
    while (!FChildren.empty()) {
        TTreeObject* c = FChildren.back();
        FChildren.pop_back();
        c->FParent = nullptr;
        if (!c->Destroying()) c->Free();
    }
    if (FParent) {
        auto& siblings = FParent->FChildren;
        auto it = std::find(siblings.begin(), siblings.end(), this);
        if (it != siblings.end()) siblings.erase(it);
        FParent = nullptr;
    }
}

} // namespace korvane
