#pragma once
// TTreeObject: a component that sits in the control tree, with a parent and an
// ordered list of children.
//
// The parent is not the owner: ownership decides who frees a component, the
// parent decides where it sits (and, for 3D controls, which matrix it follows).
// Freeing an object frees its children (the last first), then it leaves its
// parent, then the component part of destruction runs (free notifications,
// owned components, the owner).
//
// Every change of parent goes through the new parent's DoAddObject or
// DoInsertObject, or the old parent's DoRemoveObject; after it the child hears
// ParentChanged with its former parent.

#include <string>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"

namespace korvane {

class TTreeObject : public TComponent {
    KORVANE_CLASS(TTreeObject, TComponent)

    explicit TTreeObject(TComponent* AOwner);
    ~TTreeObject() override;

    TTreeObject* Parent() const { return FParent; }
    // Moves the object under Value (nil: out of the tree). Raises
    // EInvalidOperation when Value is the object itself or below it.
    virtual void SetParent(TTreeObject* Value);

    int ChildrenCount() const { return int(FChildren.size()); }
    // The child at Index; raises EListError out of range.
    TTreeObject* Children(int Index) const;
    const std::vector<TTreeObject*>& ChildList() const { return FChildren; }
    // The child's position in this object's list, -1 when it is not a child.
    int IndexOfChild(const TTreeObject* AChild) const;

    // Appends AObject to the children (leaving its former parent first).
    void AddObject(TTreeObject* AObject);
    // Inserts AObject at Index (clamped to the list).
    void InsertObject(int Index, TTreeObject* AObject);
    // Takes AObject out of the children; nothing when it is not a child.
    void RemoveObject(TTreeObject* AObject);
    // Frees every child, the last first.
    void DeleteChildren();

    // Form reading nests a component in the tree object it is written under.
    TComponent* GetParentComponent() const override { return FParent; }
    // Raises EComponentError when AParent is not a tree object.
    void SetParentComponent(TComponent* AParent) override;

protected:
    // The list work of the three operations above; overrides call the inherited
    // step and may do more around it.
    virtual void DoAddObject(TTreeObject* AObject);
    virtual void DoInsertObject(int Index, TTreeObject* AObject);
    virtual void DoRemoveObject(TTreeObject* AObject);
    // Told after the object's parent changed; AOldParent may be nil.
    virtual void ParentChanged(TTreeObject* AOldParent);

    void BeforeDestruction() override;

private:
    void CheckNewChild(TTreeObject* AObject) const;
    void Attach(int Index, TTreeObject* AObject);

    TTreeObject* FParent = nullptr;
    std::vector<TTreeObject*> FChildren;
};

} // namespace korvane
