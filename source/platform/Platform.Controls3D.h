#pragma once
// The 3D control tree: TControl3D and the controls built on it (TDummy,
// TCamera, TLight, TProxyObject), the change-notifying TPosition3D that
// carries positions, scales and rotation angles, and IViewport3D, the
// interface of the 2D control that hosts a 3D scene.
//
// Matrices (row vectors: a point is (x, y, z, 1) x M, A x B applies A first,
// translation in m41..m43):
// - The local matrix is made from Scale, the rotation quaternion and Position,
//   in that order: LocalMatrix = S x R x T (ComposeLocalMatrix). A scale
//   within 1E-4 of 1 on every axis and a position within 1E-3 of 0 on every
//   axis are left out of the product, so such a node's matrix is the rotation
//   alone, without rounding from the identity factors.
// - The quaternion follows RotationAngle (degrees): about X first, then Y,
//   then Z (RotationAnglesToQuaternion). It can also be set on its own
//   (SetQuaternion), as the scene nodes do when they take a matrix apart.
// - The absolute matrix is the local matrix followed by the parent's absolute
//   matrix: Absolute = Local x Parent.Absolute, where a parent that is not a 3D
//   control counts as the identity. It is cached; any change of a node's local
//   matrix or parent marks the node and everything below it for recalculation
//   (RecalcAbsolute), and the next read recomputes it.

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Controls.h"
#include "Platform.Math3D.h"
#include "Platform.Tree.h"
#include "Platform.Types3D.h"

namespace korvane {

class TControl3D;
class TCamera;
class TLight;

using TNotifyEvent = TEvent<TObject*>;

enum class TDragMode : uint8_t { dmManual, dmAutomatic };
// Mouse events of a 3D object: the screen point and the pick ray (world space) under it.
using TMouseEvent3D = TEvent<TObject*, TMouseButton, TShiftState, float, float, TVector3D, TVector3D>;
using TMouseMoveEvent3D = TEvent<TObject*, TShiftState, float, float, TVector3D, TVector3D>;
// A mouse cursor shape; 0 is the default cursor.
using TCursor = int32_t;
inline constexpr TCursor crDefault = 0;

// A point whose changes are announced. Setting X, Y or Z calls OnChangeX (Y,
// Z) when set, else OnChange; setting the whole point calls OnChange. The
// NoChange setters store without any notification.
class TPosition3D : public TPersistent {
    KORVANE_CLASS(TPosition3D, TPersistent)

    explicit TPosition3D(const TPoint3D& ADefaultValue = TPoint3D());

    float X() const { return FPoint.X; }
    float Y() const { return FPoint.Y; }
    float Z() const { return FPoint.Z; }
    void SetX(float Value);
    void SetY(float Value);
    void SetZ(float Value);
    const TPoint3D& Point() const { return FPoint; }
    void SetPoint(const TPoint3D& Value);
    void SetPointNoChange(const TPoint3D& Value) { FPoint = Value; }
    TVector3D Vector() const { return TVector3D(FPoint, 1); }
    void SetVector(const TVector3D& Value) { SetPoint(Value.ToPoint3D()); }
    const TPoint3D& DefaultValue() const { return FDefaultValue; }
    bool Empty() const { return FPoint == FDefaultValue; }

    // Copies the point of another TPosition3D, with notification.
    void Assign(const TPersistent* Source) override;

    TNotifyEvent OnChange;
    TNotifyEvent OnChangeX;
    TNotifyEvent OnChangeY;
    TNotifyEvent OnChangeZ;

private:
    void Changed(const TNotifyEvent& AAxisEvent);

    TPoint3D FPoint;
    TPoint3D FDefaultValue;
};

// What a 3D control needs of the control that hosts its scene.
class IViewport3D {
public:
    virtual ~IViewport3D() = default;
    // The hosting control itself.
    virtual TTreeObject* GetObject() = 0;
    // The render context; nil while there is none.
    virtual TContext3D* GetContext() = 0;
    // The camera the scene is seen through; nil when there is none.
    virtual TCamera* GetCurrentCamera() = 0;
    // A screen point in the hosting control's own coordinates.
    virtual TPointF ScreenToLocal(const TPointF& P) = 0;
    // Asks for the scene to be drawn again.
    virtual void NeedRender() = 0;
    // A light entering or leaving the host's tree, at any depth: the 3D
    // controls report each light of a subtree whose host changed.
    virtual void AddLight(TLight*) {}
    virtual void RemoveLight(TLight*) {}
};

// The hit test in progress: the projection it works in and the distance of
// the nearest hit so far. The host sets both before it asks its objects; a
// hit nearer than GlobalDistance becomes the new nearest.
extern TProjection GlobalProjection;
extern float GlobalDistance;
// The starting distance of a hit test: farther than any hit.
inline constexpr float MaxHitDistance = std::numeric_limits<float>::max();

class TControl3D : public TTreeObject {
    KORVANE_CLASS(TControl3D, TTreeObject)

    explicit TControl3D(TComponent* AOwner);
    ~TControl3D() override;

    // --- transformation ------------------------------------------------------

    TPosition3D& Position() const { return *FPosition; }
    TPosition3D& Scale() const { return *FScale; }
    TPosition3D& RotationAngle() const { return *FRotationAngle; }
    void SetPosition(const TPosition3D* Value) { FPosition->Assign(Value); }
    void SetScale(const TPosition3D* Value) { FScale->Assign(Value); }
    void SetRotationAngle(const TPosition3D* Value) { FRotationAngle->Assign(Value); }

    const TQuaternion3D& Quaternion() const { return FQuaternion; }
    // Stores the rotation without touching RotationAngle or the matrices.
    void SetQuaternion(const TQuaternion3D& Value) { FQuaternion = Value; }
    // Quaternion and RotationAngle back to no rotation; the matrix follows.
    void ResetRotationAngle();

    // The local matrix made from the three parts (see the top of this file).
    static TMatrix3D ComposeLocalMatrix(const TPoint3D& AScale, const TQuaternion3D& ARotation,
                                        const TPoint3D& APosition);

    const TMatrix3D& LocalMatrix() const { return FLocalMatrix; }
    // Stores the matrix as it is; Position, Scale and the rotation keep their
    // values. Call RecalcAbsolute (and Repaint) afterwards.
    void SetLocalMatrix(const TMatrix3D& Value) { FLocalMatrix = Value; }
    // LocalMatrix := ComposeLocalMatrix(Scale, Quaternion, Position); then the
    // absolute matrices are marked, the rendering list rebuilt and a repaint asked for.
    void RebuildLocalMatrix();
    // Called when Position, Scale or RotationAngle changed with notification.
    virtual void MatrixChanged(TObject* Sender);

    const TMatrix3D& AbsoluteMatrix() const;
    const TMatrix3D& InvAbsoluteMatrix() const;
    // Marks this node's absolute matrix and every 3D descendant's as stale.
    void RecalcAbsolute();
    TPoint3D AbsolutePosition() const;
    // The node's axes in world space, normalised: its +Z, +Y and +X rows.
    TPoint3D AbsoluteDirection() const;
    TPoint3D AbsoluteUp() const;
    TPoint3D AbsoluteLeft() const;
    // World point to the node's own space and back.
    TPoint3D AbsoluteToLocal(const TPoint3D& P) const;
    TPoint3D LocalToAbsolute(const TPoint3D& P) const;

    // --- size and looks ------------------------------------------------------

    float Width() const { return FWidth; }
    float Height() const { return FHeight; }
    float Depth() const { return FDepth; }
    virtual void SetWidth(float Value);
    virtual void SetHeight(float Value);
    virtual void SetDepth(float Value);
    void SetSize(float AWidth, float AHeight, float ADepth);
    // The box of Width x Height x Depth centred on the origin of the node.
    TBoundingBox SizeBox() const;

    bool Opaque() const { return FOpaque; }
    void SetOpaque(bool Value);
    float Opacity() const { return FOpacity; }
    // Kept within 0 .. 1.
    void SetOpacity(float Value);
    // The opacity times the parent 3D control's absolute opacity.
    float AbsoluteOpacity() const;
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    bool HitTest() const { return FHitTest; }
    void SetHitTest(bool Value) { FHitTest = Value; }
    bool ZWrite() const { return FZWrite; }
    void SetZWrite(bool Value);
    bool TwoSide() const { return FTwoSide; }
    void SetTwoSide(bool Value);
    bool Locked() const { return FLocked; }
    void SetLocked(bool Value) { FLocked = Value; }
    TProjection Projection() const { return FProjection; }
    void SetProjection(TProjection Value);
    bool VisibleContextMenu() const { return FVisibleContextMenu; }
    void SetVisibleContextMenu(bool Value) { FVisibleContextMenu = Value; }
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor Value) { FCursor = Value; }
    TDragMode DragMode() const { return FDragMode; }
    void SetDragMode(TDragMode Value) { FDragMode = Value; }

    bool IsDesigning() const { return ComponentState().Contains(csDesigning); }
    bool IsLoading() const { return ComponentState().Contains(csLoading); }

    // --- scene ---------------------------------------------------------------

    // The nearest object up the parent chain that hosts a scene; nil when none.
    IViewport3D* Viewport() const;
    // The viewport's render context; nil without one.
    TContext3D* Context() const;
    // Asks the viewport to draw again (nothing without one, or while loading).
    // Between BeginUpdate and EndUpdate the request is held back, and the
    // outermost EndUpdate makes it once.
    void Repaint();
    void BeginUpdate() { ++FUpdating; }
    void EndUpdate();
    bool IsUpdating() const { return FUpdating > 0; }

    // The children that are 3D controls, in the order they are drawn: opaque
    // ones first, then translucent ones, each group in child order. Rebuilt on
    // demand after RebuildRenderingList or a change of children.
    const std::vector<TControl3D*>& RenderingList() const;
    void RebuildRenderingList();
    void ClearRenderingList() { FRenderingList.clear(); FRenderingListValid = false; }
    bool HasRenderingList() const { return FRenderingListValid; }

    // Draws the node: with a context and while visible (or designing), sets
    // the context's model matrix to the absolute matrix, calls Render, then
    // OnRender, then RenderChildren.
    void RenderInternal();
    // The drawing after RenderInternal set the matrix (overrides draw here).
    virtual void Render() {}
    // Draws the rendering list's children through their RenderInternal.
    virtual void RenderChildren();
    std::function<void(TObject* Sender, TContext3D* AContext)> OnRender;
    // Mouse handlers; the host fires them for the object under the mouse.
    TMouseEvent3D OnMouseDown, OnMouseUp;
    TMouseMoveEvent3D OnMouseMove;

    // --- hit tests -----------------------------------------------------------

    // Whether the ray (in the node's own space) hits the node; the hit point,
    // in the same space, goes to Intersection. Asks DoRayCastIntersect.
    bool RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection);
    // Whether the node takes part in hit tests: HitTest, or designing.
    virtual bool CheckHitTest(bool AHitTest) const;
    // The nearest object under the screen point P: the children's answers
    // first (last child first); without one, the node itself when the pick ray
    // hits it nearer than GlobalDistance in the GlobalProjection.
    virtual TControl3D* ObjectAtPoint(const TPointF& P);
    // The drop target under P, found as ObjectAtPoint finds its object but
    // taking only objects that accept the drag (DragOver).
    virtual TControl3D* FindTarget(const TPointF& P, const TDragObject& AData);
    // Whether the node takes the drag at P: asks OnDragOver.
    virtual bool DragOver(const TDragObject& AData, const TPointF& P);
    TDragOverEvent OnDragOver;
    // The node's own part of that test: with a context, visible, in the
    // GlobalProjection and passing CheckHitTest, the pick ray through P (in
    // world space) is tested against the node; a hit nearer than
    // GlobalDistance (from the ray's origin for the screen projection, from
    // the viewport camera for the camera projection) becomes the nearest and
    // answers True. The ray and the hit point (world space) are handed back.
    bool HitAtPoint(const TPointF& P, TVector3D& RayPos, TVector3D& RayDir, TPoint3D& Intersection);

    void Loaded() override;

protected:
    // The node's own ray test in local space; the default hits the size box.
    virtual bool DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection);
    // Called after a change of Width, Height or Depth.
    virtual void Resize3D() {}
    void DoAddObject(TTreeObject* AObject) override;
    void DoInsertObject(int Index, TTreeObject* AObject) override;
    void DoRemoveObject(TTreeObject* AObject) override;
    void ParentChanged(TTreeObject* AOldParent) override;
    // The parent as a 3D control, nil when it is something else.
    TControl3D* ParentControl3D() const { return dynamic_cast<TControl3D*>(Parent()); }
    void InvalidateRenderingList() { FRenderingListValid = false; }

private:
    void RotationChanged(TObject* Sender);

    TOwned<TPosition3D> FPosition;
    TOwned<TPosition3D> FScale;
    TOwned<TPosition3D> FRotationAngle;
    TQuaternion3D FQuaternion = TQuaternion3D::Identity();
    TMatrix3D FLocalMatrix = TMatrix3D::Identity();
    mutable TMatrix3D FAbsoluteMatrix = TMatrix3D::Identity();
    mutable TMatrix3D FInvAbsoluteMatrix = TMatrix3D::Identity();
    mutable bool FRecalcAbsolute = true;
    mutable std::vector<TControl3D*> FRenderingList;
    mutable bool FRenderingListValid = false;

    int FUpdating = 0;
    bool FRepaintHeld = false;
    float FWidth = 1, FHeight = 1, FDepth = 1;
    bool FOpaque = false;
    float FOpacity = 1;
    bool FVisible = true;
    bool FHitTest = true;
    bool FZWrite = true;
    bool FTwoSide = false;
    bool FLocked = false;
    TProjection FProjection = TProjection::Camera;
    bool FVisibleContextMenu = true;
    TCursor FCursor = crDefault;
    TDragMode FDragMode = TDragMode::dmManual;
};

// A control that draws nothing: a handle to group and move other controls.
class TDummy : public TControl3D {
    KORVANE_CLASS(TDummy, TControl3D)
    explicit TDummy(TComponent* AOwner) : TControl3D(AOwner) {}
};

// A camera: the view matrix of its node, or, with a target, of a look-at from
// its absolute position to the target's with the world's up (0, -1, 0).
class TCamera : public TControl3D {
    KORVANE_CLASS(TCamera, TControl3D)

    explicit TCamera(TComponent* AOwner);

    TControl3D* Target() const { return FTarget; }
    // Linked by free notification: a freed target is dropped.
    void SetTarget(TControl3D* Value);
    // The vertical field of view in degrees (45 by default).
    float AngleOfView() const { return FAngleOfView; }
    void SetAngleOfView(float Value);
    // The view matrix (world to camera space).
    TMatrix3D CameraMatrix() const;

    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TControl3D* FTarget = nullptr;
    float FAngleOfView = 45;
};

// A light of the scene; its position and direction are those of its node.
class TLight : public TControl3D {
    KORVANE_CLASS(TLight, TControl3D)

    explicit TLight(TComponent* AOwner);

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    TLightType LightType() const { return FLightType; }
    void SetLightType(TLightType Value);
    TAlphaColor Color() const { return FColor; }
    void SetColor(TAlphaColor Value);
    float SpotCutOff() const { return FSpotCutOff; }
    void SetSpotCutOff(float Value);
    float SpotExponent() const { return FSpotExponent; }
    void SetSpotExponent(float Value);
    // The light as the context keeps it: absolute position and direction.
    TLightDescription LightDescription() const;

private:
    bool FEnabled = true;
    TLightType FLightType = TLightType::Point;
    TAlphaColor FColor = TAlphaColors::White;
    float FSpotCutOff = 180;
    float FSpotExponent = 0;
};

// Draws another control (the source) with the proxy's own matrix, so one
// object can appear in several places; ray tests go to the source.
class TProxyObject : public TControl3D {
    KORVANE_CLASS(TProxyObject, TControl3D)

    explicit TProxyObject(TComponent* AOwner) : TControl3D(AOwner) {}

    TControl3D* SourceObject() const { return FSourceObject; }
    // Linked by free notification: a freed source is dropped. A proxy cannot
    // show itself or one of its own parents (EInvalidOperation).
    void SetSourceObject(TControl3D* Value);
    void Render() override;

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    bool DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) override;

private:
    TControl3D* FSourceObject = nullptr;
};

} // namespace korvane
