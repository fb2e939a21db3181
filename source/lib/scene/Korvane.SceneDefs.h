#pragma once
// The camera and light definitions as far as the scene's camera and light
// read them: a definition tree node with the parameters of its kind and the
// component name a node made from it takes. Their JSON form is the transform
// definition's; the definition model's full light and camera classes (with
// their own JSON pairs) take the place of this unit.
//
// Also the rule by which a camera or light makes a definition of its own.

#include <string>

#include "Korvane.DefTypes.h"
#include "Platform.Math3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TCameraDef : public TTransformDef {
    KORVANE_CLASS(TCameraDef, TTransformDef)

    explicit TCameraDef(TTransformDef* AOwner);

    // The name of the component the camera looks at.
    std::string Target;
    // The vertical field of view in degrees.
    float FOV = 45;

    // The Id made an identifier; for an empty one "Camera_" and the object's
    // address as a signed decimal number, so that live definitions differ.
    std::string GetQualifiedComponentName() const override;

protected:
    int64_t InstanceSize() const override { return sizeof(TCameraDef); }
};

// A white point light shining along +Y: intensity 100, constant attenuation
// 1, scattering (0.1, 0.0034, 1, 0.84). Direction is the way the light
// shines (not normalised).
class TLightDef : public TTransformDef {
    KORVANE_CLASS(TLightDef, TTransformDef)

    explicit TLightDef(TTransformDef* AOwner);

    TLightType LightType = TLightType::Point;
    TPoint3D Direction{0, 1, 0};
    TAlphaColorF Diffuse{1, 1, 1, 1};
    TAlphaColorF Ambient{0, 0, 0, 1};
    TAlphaColorF Specular{1, 1, 1, 1};
    float Intensity = 100;
    float ConstantAttenuation = 1;
    float LinearAttenuation = 0;
    float QuadraticAttenuation = 0;
    float ScatteringIntensity = 0.1f;
    float ScatteringExposure = 0.0034f;
    float ScatteringDecay = 1;
    float ScatteringDensity = 0.84f;

    // As the camera's, with "Light_".
    std::string GetQualifiedComponentName() const override;

protected:
    int64_t InstanceSize() const override { return sizeof(TLightDef); }
};

// The definition a camera or light makes for itself when it is created by
// AOwner: its definition owner is AOwner's mesh definition when AOwner is a
// mesh node, else nothing. The node frees the definition itself unless a
// model took it into its lists (AStandalone).
template <class TDef>
TDef* CreateOwnDefinition(TComponent* AOwner, bool& AStandalone);

// The mesh definition of AOwner when it is a mesh node that has one, else nil.
TTransformDef* OwnerMeshDefinition(TComponent* AOwner);

template <class TDef>
TDef* CreateOwnDefinition(TComponent* AOwner, bool& AStandalone)
{
    auto* def = new TDef(OwnerMeshDefinition(AOwner));
    AStandalone = def->GetModel() == nullptr;
    return def;
}

} // namespace korvane
