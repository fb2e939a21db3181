#pragma once
// TKorvaneControl: the base of the framework's scene nodes. A 3D control with
// a registry of named sub-controls and deep searches through it, a frustum-
// culling flag, bounding boxes, and the contract by which every node is built
// from, and written back to, a definition.
//
// The unit's free routines serve the whole framework: deep searches over the
// owner tree, upward searches over the parent chain, a hierarchy dump for the
// log, small records as parenthesised text, picking, and the two local-matrix
// routines shared by the transform, camera and mesh nodes.
//
// The registry: a node registers under its QualifiedName in its parent's
// registry (when the parent is a framework node). The registry stays
// consistent with the tree:
// - renaming a node replaces its old key by the new one;
// - moving a node to another parent takes its keys out of the old parent's
//   registry and registers it under its QualifiedName in the new one (unless
//   the new parent already knows it under some key; a name taken there by
//   another node is logged and the node stays unregistered there);
// - a freed node disappears from every registry that holds it (the registry's
//   owner hears of it through the free notification set up by AddControl).

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Controls3D.h"
#include "Platform.Math3D.h"
#include "Platform.Tree.h"

namespace korvane {

class TCustomDef;
class TKorvaneControl;
struct TPlaneF;
struct TSize3D;

// A filter of the deep searches.
using TComponentSearchFunc = std::function<bool(TComponent* AComponent)>;
// The registry of sub-controls by qualified name; it does not own them.
using TKorvaneControls = std::map<std::string, TKorvaneControl*, std::less<>>;
// The matches of FindControlsByDeepSearch: True when found through a mesh's
// referenced name, False when found by registry key.
using TComponentMatches = std::map<TComponent*, bool>;

// The order of the math unit's Euler conversions in which the angles turn
// about the same axes as a 3D control's RotationAngle (X about X first, then
// Y, then Z); the scene nodes convert rotation angles in this order.
inline constexpr uint8_t RotationAngleOrder = 1;

// What the node base needs of the mesh node, which is built on this unit: the
// mesh unit installs it when it starts. Until then no node is a mesh.
struct TMeshNodeServices {
    // True when AControl is a mesh node; its referenced name goes to AName.
    bool (*GetReferencedName)(const TKorvaneControl* AControl, std::string& AName) = nullptr;
};
TMeshNodeServices& MeshNodeServices();

class TKorvaneControl : public TControl3D {
    KORVANE_CLASS(TKorvaneControl, TControl3D)

    // Opaque, with frustum culling on.
    explicit TKorvaneControl(TComponent* AOwner);

    // A name the owner (or the global components) already knows is replaced
    // by the class name without its leading "T", "_" and 32 lower-case
    // hexadecimal digits of a new GUID (up to 11 attempts; after that the name
    // stays unchanged). The empty name is always accepted.
    void SetName(const std::string& Value) override;

    const std::string& QualifiedName() const { return FQualifiedName; }
    // Stores the name; with a framework parent, registers the node there under
    // it (raising "control "%s" already exists in %s" when the parent holds the
    // key, the name staying stored) and drops the node's previous key.
    void SetQualifiedName(const std::string& Value);
    // The platform's change of parent, then DoUpdateParent.
    void SetParent(TTreeObject* Value) override;

    const TKorvaneControls& Controls() const { return FControls; }
    // The definition the node was loaded from or bound to; not owned.
    TCustomDef* Def() const { return FDef; }
    void SetDef(TCustomDef* Value) { FDef = Value; }
    bool FrustumCullingCheck() const { return FFrustumCullingCheck; }
    virtual void SetFrustumCullingCheck(bool Value);

    // A hook after a change of parent or size; empty here.
    virtual void DoUpdateParent(TTreeObject* AParent);

    // Build the node from a definition, or write it back; every node class
    // implements both (here they raise EAbstractError).
    virtual void LoadFromDefinition(TCustomDef* ADef);
    virtual void StoreToDefinition(TCustomDef* ADef);

    // The first key under which AControl is registered; empty when none.
    virtual std::string GetControlName(const TKorvaneControl* AControl) const;
    // Raises "control "%s" already exists in %s" when the key is taken, and
    // EArgumentException for a nil control.
    virtual void AddControl(const std::string& AName, TKorvaneControl* AControl);
    // An absent key is no error.
    virtual void RemoveControl(const std::string& AName);
    // Removes every key under which AControl is registered.
    virtual void RemoveControl(const TKorvaneControl* AControl);
    // Moves AControl's registration to ANewOwner, which then owns it and
    // becomes its parent.
    virtual void MoveControlTo(TKorvaneControl* AControl, TKorvaneControl* ANewOwner);

    // Searches through the registries below this node (never the node itself).
    virtual TComponent* FindControlByDeepSearch(std::string_view AName) const;
    // This node when ADef is its definition, else the first node below.
    virtual TComponent* FindControlByDefDeepSearch(const TCustomDef* ADef) const;
    // Adds every match below this node to AResult; raises "result list not
    // assigned" for a nil AResult and EListError when a control is met twice.
    virtual void FindControlsByDeepSearch(std::string_view AName, TComponentMatches* AResult) const;

    // The node's box in its own space (the size box here).
    virtual TBoundingBox GetBoundingBox() const;
    // The box around the eight corners of GetBoundingBox in world space.
    virtual TBoundingBox GetAbsoluteBoundingBox() const;

    // With AAsProxy, a TProxyObject owned by AOwner that shows this node.
    // Deep copies are not supported yet (EInvalidOperation).
    TComponent* Duplicate(TComponent* AOwner, bool AAsProxy);
    // Frees every owned component except instances of the given classes (and
    // of their descendants).
    void DestroyComponentsButIgnoreClass(std::initializer_list<TClass> AClasses);

    // A translucent node that writes depth draws with depth test on, depth
    // writes off and both faces; then the platform's step.
    void Render() override;
    // Nothing: the viewport draws every node from its own rendering list.
    void RenderChildren() override;

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void Resize3D() override;
    void ParentChanged(TTreeObject* AOldParent) override;

private:
    TKorvaneControl* ParentNode() const { return dynamic_cast<TKorvaneControl*>(Parent()); }

    std::string FQualifiedName;
    TKorvaneControls FControls;
    TCustomDef* FDef = nullptr;
    bool FFrustumCullingCheck = true;
};

// ---------------------------------------------------------------- searches

// Depth first and pre-order over the components a component owns: the
// component itself first, then its owned components in index order.

// The first component whose Name equals AName exactly; nil when none.
TComponent* FindComponentDeepSearch(TComponent* AComp, std::string_view AName);
// The first instance of AClass or of a descendant.
TComponent* FindComponentDeepSearchByClass(TComponent* AComp, TClass AClass);
// The first component the filter accepts; nil for a nil filter.
TComponent* FindComponentDeepSearchByFilter(TComponent* AComp, const TComponentSearchFunc& ACallback);
// Appends every instance of AClass or of a descendant, in the walk's order.
void FindAllComponentsByClass(TComponent* AComp, TClass AClass, std::vector<TComponent*>& AList);
// Appends "<indent>Name (ClassName)" and CR LF for the component, then the same
// for each owned component with the indent doubled.
void LogComponentHierarchy(TComponent* AComp, std::string& AText, const std::string& AIndent);
// Design state for the component and everything it owns.
void EnableDesigning(TComponent* AComp);
void DisableDesigning(TComponent* AComp);

// Starting at the parent (or, without one, at the owner when that is in the
// control tree), the first object of the parent chain that is AClass or a
// descendant; nil when the chain ends.
TTreeObject* FindComponentUpwards(TComponent* AObj, TClass AClass);
// The same with a qualified class name ("Korvane.Model.TKorvaneModel") looked
// up in the class registry; nil for a name it does not know.
TTreeObject* FindComponentUpwards(TComponent* AObj, std::string_view AClassName);
// The viewport control above AObj.
TTreeObject* FindViewport(TComponent* AObj);
// The last object of the parent chain; nil without a parent (owners do not count).
TTreeObject* FindTopOwner(TComponent* AObj);

// Empties the rendering list of a 3D control (nothing for nil).
void ClearRenderingList(TControl3D* AControl);
// The 3D hit test of one control at the screen point P: the children's answers
// first (last child first), else the control itself. The pick ray and the hit
// point (world space) are handed back when the control itself was hit.
TControl3D* RayCastObjectAtPoint(TControl3D* AControl, const TPointF& P, TVector3D& ARayPos, TVector3D& ARayDir,
                                 TPoint3D& AIntersection);

// LocalMatrix := Scale, then the quaternion's rotation, then Position (the
// rules of TControl3D::ComposeLocalMatrix); marks the absolute matrices,
// rebuilds the rendering list and repaints. Nothing while it is being destroyed.
void RebuildLocalMatrix(TControl3D* AControl);
// LocalMatrix := AMatrix; with APosition / AScale, Position / Scale are taken
// from it; with ARotation, the quaternion and RotationAngle are, else both
// become no rotation. All without change notification; then the absolute
// matrices are marked and, with ARepaint, a repaint is asked for.
void ApplyLocalMatrix(TControl3D* AControl, const TMatrix3D& AMatrix, bool APosition, bool AScale, bool ARotation,
                      bool ARepaint);
// Position, Scale and RotationAngle of a matrix: its translation, its row
// lengths and the angles of its rotation with the scale divided out.
void DecomposeMatrix(const TMatrix3D& AMatrix, TPoint3D& APosition, TPoint3D& AScale, TQuaternion3D& ARotation,
                     TPoint3D& AAngles);

// ---------------------------------------------------------------- record text

// Records as "(c1,c2,...)": floats in the general format with 15 significant
// digits of the value widened to double, integers in decimal. Reading splits
// at ",", "(" and ")", drops the text before "(" and parses the components in
// order; a component that does not parse ends the reading, keeping the ones
// read before it (a TSize3D takes floats rounded to the nearest, ties to even).
std::string WritePointField(const TPoint& AValue);
void ReadPointField(std::string_view AText, TPoint& AValue);
std::string WritePointFField(const TPointF& AValue);
void ReadPointFField(std::string_view AText, TPointF& AValue);
std::string WritePoint3DField(const TPoint3D& AValue);
void ReadPoint3DField(std::string_view AText, TPoint3D& AValue);
std::string WriteSize3DField(const TSize3D& AValue);
void ReadSize3DField(std::string_view AText, TSize3D& AValue);
std::string WriteVector3DField(const TVector3D& AValue);
void ReadVector3DField(std::string_view AText, TVector3D& AValue);
// The imaginary part X, Y, Z, then the real part.
std::string WriteQuaternionField(const TQuaternion3D& AValue);
void ReadQuaternionField(std::string_view AText, TQuaternion3D& AValue);
std::string WriteAlphaColorFField(const TAlphaColorF& AValue);
void ReadAlphaColorFField(std::string_view AText, TAlphaColorF& AValue);
// NX, NY, NZ, D.
std::string WritePlaneFField(const TPlaneF& AValue);
void ReadPlaneFField(std::string_view AText, TPlaneF& AValue);

} // namespace korvane
