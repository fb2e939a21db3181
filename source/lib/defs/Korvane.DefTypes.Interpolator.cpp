#include "Korvane.DefTypes.Interpolator.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "Korvane.DefTypes.Animation.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.Utils.Math.h"
#include "Korvane.Utils.Quaternions.h"

namespace korvane {

namespace {

constexpr std::string_view UnitPrefix = "Korvane.DefTypes.";

std::string MeshValueText(const std::vector<TPoint3D>& A) { return Point3DArrayToString(A, ' '); }
std::string PointText(const TPoint3D& P) { return Point3DToString(P, ' '); }
std::string VectorText(const TVector3D& V) { return Vector3DToString(V, ' '); }
std::string QuaternionText(const TQuaternion3D& Q) { return Quaternion3DToString(Q, ' '); }
std::string MatrixText(const TMatrix3D& M) { return Matrix3DToString(M, nullptr, ' '); }

TPoint3D Lerp(const TPoint3D& A, const TPoint3D& B, float F) { return A + (B - A) * F; }

// The rotation quaternion of a transformation. Its scale is divided out of the
// rows first: the quaternion of a scaled rotation matrix is not the rotation's.
TVector3D RotationOf(const TMatrix3D& M)
{
    const TPoint3D scale = ExtractScale(M);
    TMatrix3D rotation = M;
    const float factors[3] = {scale.X, scale.Y, scale.Z};
    for (int row = 0; row < 3; ++row)
        if (factors[row] != 0)
            for (int column = 0; column < 3; ++column) rotation.M[row][column] /= factors[row];
    return QuaternionFromMatrix(rotation);
}

} // namespace

namespace units {
void DefTypesInterpolatorInitialize()
{
    RegisterClasses({TPoint3DInterpolatorDef::StaticClass(), TVector3DInterpolatorDef::StaticClass(),
                     TQuaternion3DInterpolatorDef::StaticClass(), TTransformationInterpolatorDef::StaticClass(),
                     TMeshInterpolatorDef::StaticClass()});
}
} // namespace units

KORVANE_IMPLEMENT_CLASS(TCustomInterpolatorDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TPoint3DInterpolatorDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TVector3DInterpolatorDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TQuaternion3DInterpolatorDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TTransformationInterpolatorDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TMeshInterpolatorDef, DefTypesUnitName)

// ---- TInterpolatorKeyDef ----

template <typename T>
std::unique_ptr<TJSONObject> TInterpolatorKeyDef<T>::ToJSON(TSerializeFunc ASerialize) const
{
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Key", std::make_unique<TJSONNumber>(FKey));
    obj->AddPair("Interpolation", std::make_unique<TJSONNumber>(static_cast<int32_t>(FInterpolation)));
    obj->AddPair("Value", ASerialize(FValue));
    return obj;
}

template <typename T>
void TInterpolatorKeyDef<T>::FromJSON(TModelDef*, const TJSONObject& AValue, TUnserializeFunc AUnserialize)
{
    const TJSONValue* key = AValue.GetValue("Key");
    if (!key) throw Exception("failed to load interpolator key - key value not found");
    key->As<TJSONNumber>();
    FKey = TCustomDef::JSONGetSingle(AValue, "Key", FKey);

    if (!TCustomDef::JSONHasKeyOfClass<TJSONNumber>(AValue, "Interpolation"))
        throw Exception("failed to load interpolator key - key interpolation method not found");
    // An ordinal beyond the easing kinds would name no kind at all.
    FInterpolation = JSONGetOrdinal(AValue, "Interpolation", TInterpolationType::Linear, TInterpolationType::Bounce);

    // A key without "Value" reads the empty text: the zero value (the identity for matrices).
    FValue = AUnserialize(TCustomDef::JSONGetText(AValue, "Value", ""));
}

template class TInterpolatorKeyDef<TPoint3D>;
template class TInterpolatorKeyDef<TVector3D>;
template class TInterpolatorKeyDef<TQuaternion3D>;
template class TInterpolatorKeyDef<TMatrix3D>;
template class TInterpolatorKeyDef<std::vector<TPoint3D>>;

// ---- TCustomInterpolatorDef ----

std::unique_ptr<TJSONObject> TCustomInterpolatorDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Type", ClassName());
    if (FStage) obj->AddPair("Stage", FStage->Id());
    else obj->AddPair("Stage", std::make_unique<TJSONNull>());
    obj->AddPair("Duration", std::make_unique<TJSONNumber>(FDuration));
    obj->AddPair("Loop", TJSONBool::Create(FLoop));
    obj->AddPair("Path", FPath);
    obj->AddPair("Keys", KeysToJSON());
    return obj;
}

void TCustomInterpolatorDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    FDuration = JSONGetSingle(AValue, "Duration", 1);
    FLoop = JSONGetBoolean(AValue, "Loop", false);
    if (!JSONHasKeyOfClass<TJSONString>(AValue, "Path"))
        throw Exception("failed to load interpolator path - property path value not found");
    FPath = JSONGetString(AValue, "Path", "");
    if (const TJSONArray* keys = JSONGetArray(AValue, "Keys"))
        for (const auto& element : *keys) AddKeyFromJSON(AModel, element->As<TJSONObject>());
}

// ---- TInterpolatorDef ----

template <typename T>
typename TInterpolatorDef<T>::TKey* TInterpolatorDef<T>::AddKey(float AKey, T AValue, TInterpolationType AInterpolation)
{
    FKeys.push_back(std::make_unique<TKey>(AKey, std::move(AValue), AInterpolation));
    return FKeys.back().get();
}

template <typename T>
typename TInterpolatorDef<T>::TKey* TInterpolatorDef<T>::AddEmptyKey()
{
    FKeys.push_back(std::make_unique<TKey>());
    return FKeys.back().get();
}

template <typename T>
void TInterpolatorDef<T>::AddKeys(const std::vector<float>& AKeyTimes, const std::vector<T>& AKeyValues,
                                  const std::vector<TInterpolationType>& AIntVals)
{
    if (AKeyTimes.size() != AKeyValues.size() && AKeyValues.empty())
        throw Exception("failed to add multiple interpolator keys - array length differs");
    for (size_t i = 0; i < AKeyTimes.size(); ++i) {
        const TInterpolationType easing = i < AIntVals.size() ? AIntVals[i] : TInterpolationType::Linear;
        const T& value = i < AKeyValues.size() ? AKeyValues[i] : AKeyValues.back();
        AddKey(AKeyTimes[i], value, easing);
    }
}

template <typename T>
void TInterpolatorDef<T>::NormalizeKeyTimeValues()
{
    if (FKeys.empty()) return;
    if (FKeys.size() == 1) {
        const TKey& only = *FKeys.front();
        AddKey(1, only.Value(), only.Interpolation());
        if (Duration() <= 0) SetDuration(1);
        return;
    }
    const float last = FKeys.back()->Key();
    SetDuration(last);
    if (last <= 0 || std::fabs(double(last) - 1.0) <= 1E-6) return;
    for (auto& key : FKeys) key->SetKey(static_cast<float>(double(key->Key()) / double(last)));
}

template <typename T>
bool TInterpolatorDef<T>::FindKeys(float ADelta, TKey*& AKeyStart, TKey*& AKeyStop) const
{
    AKeyStart = nullptr;
    AKeyStop = nullptr;
    for (size_t i = 0; i + 1 < FKeys.size(); ++i) {
        const double from = FKeys[i]->Key(), to = FKeys[i + 1]->Key();
        if (from <= double(ADelta) && double(ADelta) <= to) {
            AKeyStart = FKeys[i].get();
            AKeyStop = FKeys[i + 1].get();
            return true;
        }
    }
    return false;
}

template <typename T>
bool TInterpolatorDef<T>::FindSegment(float ADelta, const T*& AStart, const T*& AStop, float& AFraction) const
{
    TKey *start, *stop;
    if (!FindKeys(ADelta, start, stop)) return false;
    AStart = &start->Value();
    AStop = &stop->Value();
    const double span = double(stop->Key()) - double(start->Key());
    AFraction = span == 0 ? 0.0f : static_cast<float>((double(ADelta) - double(start->Key())) / span);
    return true;
}

template <typename T>
int64_t TInterpolatorDef<T>::GetSize() const
{
    int64_t size = TCustomDef::GetSize() + static_cast<int64_t>(sizeof(FKeys));
    for (const auto& key : FKeys) size += key->GetSize();
    return size;
}

template <typename T>
std::unique_ptr<TJSONArray> TInterpolatorDef<T>::KeysToJSON() const
{
    auto array = std::make_unique<TJSONArray>();
    array->Reserve(KeyCount());
    for (const auto& key : FKeys) array->Add(key->ToJSON(FSerialize));
    return array;
}

template <typename T>
void TInterpolatorDef<T>::AddKeyFromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    // Keys read before a failure stay: the key joins the list before it reads.
    AddEmptyKey()->FromJSON(AModel, AValue, FUnserialize);
}

template class TInterpolatorDef<TPoint3D>;
template class TInterpolatorDef<TVector3D>;
template class TInterpolatorDef<TQuaternion3D>;
template class TInterpolatorDef<TMatrix3D>;
template class TInterpolatorDef<std::vector<TPoint3D>>;

// ---- typed tracks ----

TPoint3DInterpolatorDef::TPoint3DInterpolatorDef(TAnimationStageDef* AStage)
    : TInterpolatorDef<TPoint3D>(AStage, PointText, StringToPoint3D)
{
}

bool TPoint3DInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                                     TPoint3D& AValue)
{
    return Interpolate(ADelta, AKey, AInterpolation, AValue, [](const TPoint3D& a, const TPoint3D& b, float f) { return Lerp(a, b, f); });
}

TVector3DInterpolatorDef::TVector3DInterpolatorDef(TAnimationStageDef* AStage)
    : TInterpolatorDef<TVector3D>(AStage, VectorText, StringToVector3D)
{
}

bool TVector3DInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                                      TVector3D& AValue)
{
    return Interpolate(ADelta, AKey, AInterpolation, AValue, [](const TVector3D& a, const TVector3D& b, float f) { return QuaternionSlerp(f, a, b); });
}

TQuaternion3DInterpolatorDef::TQuaternion3DInterpolatorDef(TAnimationStageDef* AStage)
    : TInterpolatorDef<TQuaternion3D>(AStage, QuaternionText, StringToQuaternion3D)
{
}

bool TQuaternion3DInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey,
                                                          TInterpolationType& AInterpolation, TQuaternion3D& AValue)
{
    return Interpolate(ADelta, AKey, AInterpolation, AValue, [](const TQuaternion3D& a, const TQuaternion3D& b, float f) {
        // Through the rotation matrix, so that any scale or sign of the keys
        // drops out. The matrix is read back transposed: reading the
        // row-vector matrix directly gives the inverse rotation, and a track
        // would then play its keys backwards.
        const auto rotation = [](const TQuaternion3D& q) { return QuaternionFromMatrix(q.ToMatrix3D().Transpose()); };
        return QuaternionToQuaternion3D(QuaternionSlerp(f, rotation(a), rotation(b)));
    });
}

TTransformationInterpolatorDef::TTransformationInterpolatorDef(TAnimationStageDef* AStage)
    : TInterpolatorDef<TMatrix3D>(AStage, MatrixText, StringToMatrix3D)
{
}

bool TTransformationInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey,
                                                            TInterpolationType& AInterpolation, TMatrix3D& AValue)
{
    return Interpolate(ADelta, AKey, AInterpolation, AValue, [](const TMatrix3D& a, const TMatrix3D& b, float f) {
        const TPoint3D t = Lerp(ExtractTranslation(a), ExtractTranslation(b), f);
        const TPoint3D s = Lerp(ExtractScale(a), ExtractScale(b), f);
        // The quaternion of a row-vector matrix is that of its transpose: the
        // rotation matrix made from it is transposed back.
        const TMatrix3D r =
            QuaternionToQuaternion3D(QuaternionSlerp(f, RotationOf(a), RotationOf(b))).ToMatrix3D();
        return TMatrix3D::CreateScaling(s) * r.Transpose() * TMatrix3D::CreateTranslation(t);
    });
}

TMeshInterpolatorDef::TMeshInterpolatorDef(TAnimationStageDef* AStage)
    : TInterpolatorDef<std::vector<TPoint3D>>(AStage, MeshValueText, StringToPoint3DArray)
{
}

bool TMeshInterpolatorDef::ComputeInterpolatedKey(float, float&, TInterpolationType&, std::vector<TPoint3D>&)
{
    throw Exception("TMeshInterpolatorDef.ComputeInterpolatedKey not implemented yet");
}

TCustomInterpolatorDef* CreateInterpolatorDef(const std::string& AType, TAnimationStageDef* AStage)
{
    std::string_view name = AType;
    if (name.substr(0, UnitPrefix.size()) == UnitPrefix) name.remove_prefix(UnitPrefix.size());
    if (name == "TTransformationInterpolatorDef") return new TTransformationInterpolatorDef(AStage);
    if (name == "TPoint3DInterpolatorDef") return new TPoint3DInterpolatorDef(AStage);
    if (name == "TVector3DInterpolatorDef") return new TVector3DInterpolatorDef(AStage);
    if (name == "TQuaternion3DInterpolatorDef") return new TQuaternion3DInterpolatorDef(AStage);
    if (name == "TMeshInterpolatorDef") return new TMeshInterpolatorDef(AStage);
    return nullptr;
}

} // namespace korvane
