#pragma once
// TKorvaneTransform: the scene node of a transform definition. It adds to the
// node base the rotation as a quaternion, the rotation angles as a point, the
// local matrix as a property that is taken apart into Position, Scale and
// RotationAngle when it is set, and the definition contract for the
// properties every node shares.

#include <string>

#include "Korvane.Control.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Math3D.h"

namespace korvane {

class TCustomDef;

class TKorvaneTransform : public TKorvaneControl {
    KORVANE_CLASS(TKorvaneTransform, TKorvaneControl)

    // Hit tests off.
    explicit TKorvaneTransform(TComponent* AOwner);

    // The quaternion of the current RotationAngle (X, Y, Z the imaginary
    // part, W the real part), computed anew at every read.
    TVector3D Rotation() const;
    // The quaternion becomes Value as it is (not normalised), RotationAngle its
    // angles (without notification), and the local matrix is rebuilt.
    void SetRotation(const TVector3D& Value);
    TPoint3D Angles() const { return RotationAngle().Point(); }
    // RotationAngle with notification: the matrix follows.
    void SetAngles(const TPoint3D& Value) { RotationAngle().SetPoint(Value); }
    const TMatrix3D& TransformMatrix() const { return LocalMatrix(); }
    void SetTransformMatrix(const TMatrix3D& Value) { SetLocalTransformMatrix(Value); }

    // Builds the child nodes of a definition's children; the node classes
    // with children implement it (here it raises EAbstractError).
    virtual void LoadHierarchyFromDefinition(TCustomDef* ADef);
    // Reads the shared property keys present in the definition's Properties;
    // "Position", "Scale" and "RotationAngle" override the matrix.
    virtual void LoadPropertiesFromDefinition(TCustomDef* ADef);
    // The local matrix becomes AMatrix exactly; Position, Scale, the
    // quaternion and RotationAngle are taken from it without notification.
    virtual void SetLocalTransformMatrix(const TMatrix3D& AMatrix);

    // Raises "unexpected definition - no transformdef submitted" for anything
    // but a transform definition; keeps the definition, takes its matrix and
    // its properties. Children are not built here.
    void LoadFromDefinition(TCustomDef* ADef) override;
    // For a transform definition: its matrix and every shared property key;
    // any other definition is left alone.
    void StoreToDefinition(TCustomDef* ADef) override;
};

} // namespace korvane
