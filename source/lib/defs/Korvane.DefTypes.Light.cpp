#include "Korvane.DefTypes.Light.h"

namespace korvane {

namespace {

const char* const LightTypeNames[] = {"Directional", "Point", "Spot"};

std::unique_ptr<TJSONNumber> Number(float AValue) { return std::make_unique<TJSONNumber>(AValue); }

void ReadSingle(const TJSONObject& AValue, std::string_view AName, float& AField)
{
    AField = TCustomDef::JSONGetSingle(AValue, AName, AField);
}

std::string OwnerIdOf(const TTransformDef& ADef)
{
    const TCustomDef* owner = ADef.GetOwnerRef();
    return owner ? owner->Id() : std::string();
}

// The identifier of the Id, or APrefix and the definition's address.
std::string ComponentName(const TCustomDef& ADef, const char* APrefix)
{
    const std::string name = MakeIdentifierName(ADef.Id());
    if (!name.empty()) return name;
    return Format("%s%d", APrefix, static_cast<int64_t>(reinterpret_cast<intptr_t>(&ADef)));
}

// The owner an owner id without owner names in the complete model, or nullptr.
TCustomDef* FindOwner(const TTransformDef& ADef, TModelDef* AModel)
{
    const auto& services = ModelDefServices();
    if (ADef.OwnerId().empty() || ADef.GetOwnerRef() || !AModel || !services.FindDefById) return nullptr;
    return services.FindDefById(AModel, ADef.OwnerId());
}

} // namespace

namespace units {
void DefTypesLightInitialize() { RegisterClasses({TLightDef::StaticClass(), TCameraDef::StaticClass()}); }
} // namespace units

TClass TLightDef::StaticClass()
{
    static const TChildDefClassInfo<TLightDef> info;
    return &info;
}

TClass TCameraDef::StaticClass()
{
    static const TChildDefClassInfo<TCameraDef> info;
    return &info;
}

// ---- TLightDef ----

TLightDef::TLightDef(TTransformDef* AOwner)
    : TTransformDef(AOwner), LightType(TLightType::Point), Direction(0, 1, 0), Diffuse{1, 1, 1, 1},
      Ambient{0, 0, 0, 1}, Specular{1, 1, 1, 1}, Intensity(100), ConstantAttenuation(1), ScatteringIntensity(0.1f),
      ScatteringExposure(0.0034f), ScatteringDecay(1), ScatteringDensity(0.84f), SpotCutOff(180)
{
    const auto& services = ModelDefServices();
    if (TModelDef* model = GetModel(); model && services.AddLight) services.AddLight(model, this);
}

std::string TLightDef::GetQualifiedComponentName() const { return ComponentName(*this, "Light_"); }

std::unique_ptr<TJSONObject> TLightDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    obj->AddPair("Owner", OwnerIdOf(*this));
    obj->AddPair("LightType", LightTypeNames[static_cast<size_t>(LightType)]);
    obj->AddPair("Direction", Point3DToString(Direction));
    obj->AddPair("Diffuse", AlphaColorFToString(Diffuse));
    obj->AddPair("Ambient", AlphaColorFToString(Ambient));
    obj->AddPair("Specular", AlphaColorFToString(Specular));
    obj->AddPair("Intensity", Number(Intensity));
    obj->AddPair("ConstantAttenuation", Number(ConstantAttenuation));
    obj->AddPair("LinearAttenuation", Number(LinearAttenuation));
    obj->AddPair("QuadraticAttenuation", Number(QuadraticAttenuation));
    obj->AddPair("ScatteringIntensity", Number(ScatteringIntensity));
    obj->AddPair("ScatteringExposure", Number(ScatteringExposure));
    obj->AddPair("ScatteringDecay", Number(ScatteringDecay));
    obj->AddPair("ScatteringDensity", Number(ScatteringDensity));
    obj->AddPair("SpotCutOff", Number(SpotCutOff));
    obj->AddPair("SpotExponent", Number(SpotExponent));
    return obj;
}

void TLightDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    const std::string type = JSONGetString(AValue, "LightType", "");
    LightType = TLightType::Point;
    for (size_t i = 0; i < std::size(LightTypeNames); ++i)
        if (type == LightTypeNames[i]) LightType = static_cast<TLightType>(i);
    Direction = JSONGetPoint3D(AValue, "Direction", Direction);
    Diffuse = JSONGetColorF(AValue, "Diffuse", Diffuse);
    Ambient = JSONGetColorF(AValue, "Ambient", Ambient);
    Specular = JSONGetColorF(AValue, "Specular", Specular);
    ReadSingle(AValue, "Intensity", Intensity);
    ReadSingle(AValue, "ConstantAttenuation", ConstantAttenuation);
    ReadSingle(AValue, "LinearAttenuation", LinearAttenuation);
    ReadSingle(AValue, "QuadraticAttenuation", QuadraticAttenuation);
    ReadSingle(AValue, "SpotCutOff", SpotCutOff);
    ReadSingle(AValue, "SpotExponent", SpotExponent);
    ReadSingle(AValue, "ScatteringIntensity", ScatteringIntensity);
    ReadSingle(AValue, "ScatteringExposure", ScatteringExposure);
    ReadSingle(AValue, "ScatteringDecay", ScatteringDecay);
    ReadSingle(AValue, "ScatteringDensity", ScatteringDensity);
}

bool TLightDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    const bool result = TTransformDef::LateResolveFromJSON(AModel, AValue);
    if (TCustomDef* owner = FindOwner(*this, AModel)) {
        // The id stays the one that was read.
        const std::string id = OwnerId();
        DoSetOwner(owner);
        SetOwnerId(id);
    }
    return result;
}

// ---- TCameraDef ----

TCameraDef::TCameraDef(TTransformDef* AOwner)
    : TTransformDef(AOwner), FOV(45), AspectRatio(1.777778f), NearPlane(1), FarPlane(1000)
{
    const auto& services = ModelDefServices();
    if (TModelDef* model = GetModel(); model && services.AddCamera) services.AddCamera(model, this);
}

std::string TCameraDef::GetQualifiedComponentName() const { return ComponentName(*this, "Camera_"); }

std::unique_ptr<TJSONObject> TCameraDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    obj->AddPair("Owner", OwnerIdOf(*this));
    obj->AddPair("Type", _Type == TCameraType::OrthographicCamera ? "Orthographic" : "Perspective");
    obj->AddPair("Target", Target);
    obj->AddPair("FOV", Number(FOV));
    obj->AddPair("AspectRatio", Number(AspectRatio));
    obj->AddPair("NearPlane", Number(NearPlane));
    obj->AddPair("FarPlane", Number(FarPlane));
    return obj;
}

void TCameraDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    // The owner named by "Owner" is resolved once the whole model is read. A
    // camera that already has that owner, or reads no "Owner", keeps its owner
    // (a child keeps its parent, a camera of the model its model).
    const std::string ownerId = JSONGetString(AValue, "Owner", "");
    if (JSONHasKey(AValue, "Owner") && (!GetOwnerRef() || GetOwnerRef()->Id() != ownerId)) {
        DoSetOwner(nullptr);
        SetOwnerId(ownerId);
    }
    // The first "Type" is the class name; the camera's own type is the pair
    // after it. An object with a single "Type" is read from that one.
    const TJSONValue* type = nullptr;
    int typePairs = 0;
    for (const TJSONPair& pair : AValue)
        if (pair.Name() == "Type" && typePairs++ < 2) type = pair.JsonValue();
    const bool orthographic =
        type && (type->Kind() == TJSONValue::TKind::String || type->Kind() == TJSONValue::TKind::Number) &&
        type->Value() == "Orthographic";
    _Type = orthographic ? TCameraType::OrthographicCamera : TCameraType::PerspectiveCamera;
    Target = JSONGetString(AValue, "Target", Target);
    ReadSingle(AValue, "FOV", FOV);
    ReadSingle(AValue, "AspectRatio", AspectRatio);
    ReadSingle(AValue, "NearPlane", NearPlane);
    ReadSingle(AValue, "FarPlane", FarPlane);
}

bool TCameraDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    const bool result = TTransformDef::LateResolveFromJSON(AModel, AValue);
    if (TCustomDef* owner = FindOwner(*this, AModel)) {
        // The id stays the one that was read.
        const std::string id = OwnerId();
        DoSetOwner(owner);
        SetOwnerId(id);
    }
    return result;
}

} // namespace korvane
