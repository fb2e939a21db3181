#pragma once
// Light and camera definitions: tree nodes that add the parameters of a light
// source or a camera. The model holds them in its light and camera lists.
//
// Made with their own constructor they start at the defaults below and, when
// their owner chain leads to a model, join that model's list (which owns them
// from then on). Made as an element of a node's "Children", they start with
// every parameter zero, belong to their parent alone and join no list.

#include <cstdint>
#include <memory>
#include <string>

#include "Korvane.DefTypes.h"
#include "Platform.Types3D.h"

namespace korvane {

enum class TCameraType : uint8_t { PerspectiveCamera, OrthographicCamera };

// Selects the construction of a node read from a parent's "Children".
struct TChildDefConstruction {};

// The metaclass of nodes that need an owner of a narrower type: a node read
// from a parent's "Children" gets the child construction, so that it belongs
// to its parent alone.
template <class T>
class TChildDefClassInfo : public TClassInfo<T, TTransformDefMetaClass> {
public:
    TChildDefClassInfo() : TClassInfo<T, TTransformDefMetaClass>(DefTypesUnitName)
    {
        this->FCreateDef = [](TCustomDef* AOwner) -> TTransformDef* { return new T(AOwner, TChildDefConstruction{}); };
    }
};

class TLightDef : public TTransformDef {
    KORVANE_CLASS(TLightDef, TTransformDef)

    explicit TLightDef(TTransformDef* AOwner);
    // Every parameter zero; not registered with a model.
    TLightDef(TCustomDef* AOwner, TChildDefConstruction) : TTransformDef(AOwner) {}

    TLightType LightType = TLightType::Directional;
    TPoint3D Direction{0, 0, 0};
    TAlphaColorF Diffuse{0, 0, 0, 0};
    TAlphaColorF Ambient{0, 0, 0, 0};
    TAlphaColorF Specular{0, 0, 0, 0};
    float Intensity = 0;
    float ConstantAttenuation = 0;
    float LinearAttenuation = 0;
    float QuadraticAttenuation = 0;
    float ScatteringIntensity = 0;
    float ScatteringExposure = 0;
    float ScatteringDecay = 0;
    float ScatteringDensity = 0;
    float SpotCutOff = 0;
    float SpotExponent = 0;

    // The Id made an identifier; "Light_" and the object's address without an Id.
    std::string GetQualifiedComponentName() const override;
    // The transform pairs, a second "Owner" (the owner's Id or ""), "LightType",
    // "Direction", the colours and the numbers.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // "LightType" compares case-sensitively (anything else gives Point); other
    // missing keys keep their values. The owner given at construction stays.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;
    // Resolves an owner id that had no owner yet; always true.
    bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TLightDef); }
};

class TCameraDef : public TTransformDef {
    KORVANE_CLASS(TCameraDef, TTransformDef)

    explicit TCameraDef(TTransformDef* AOwner);
    // Every parameter zero; not registered with a model.
    TCameraDef(TCustomDef* AOwner, TChildDefConstruction) : TTransformDef(AOwner) {}

    TCameraType _Type = TCameraType::PerspectiveCamera;
    // The name of what the camera looks at.
    std::string Target;
    float FOV = 0;
    float AspectRatio = 0;
    float NearPlane = 0;
    float FarPlane = 0;

    // The Id made an identifier; "Camera_" and the object's address without an Id.
    std::string GetQualifiedComponentName() const override;
    // The transform pairs, a second "Owner", a second "Type" ("Orthographic" or
    // "Perspective"), "Target", "FOV", "AspectRatio", "NearPlane", "FarPlane".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // The owner is resolved by the late resolution from the first "Owner"; the
    // camera type is the second "Type" pair (the first holds the class name).
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;
    // Resolves an owner id that had no owner yet; always true.
    bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TCameraDef); }
};

} // namespace korvane
