#pragma once
// Interpolator definitions: one key-frame track of an animation stage. A track
// animates one property path of the stage's joint or transform with timed
// keys; the typed tracks fix the value type, its JSON text and how a value
// between two keys is computed.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Korvane.DefTypes.h"

namespace korvane {

class TAnimationStageDef;

// The easing kinds of the animation layer, stored by ordinal in keys.
enum class TInterpolationType : uint8_t {
    Linear,
    Quadratic,
    Cubic,
    Quartic,
    Quintic,
    Sinusoidal,
    Exponential,
    Circular,
    Elastic,
    Back,
    Bounce
};

// One timed value of a track.
template <typename T>
class TInterpolatorKeyDef {
public:
    using TSerializeFunc = std::string (*)(const T&);
    using TUnserializeFunc = T (*)(std::string_view);

    // An empty key: time 0, Linear, the zero value.
    TInterpolatorKeyDef() = default;
    TInterpolatorKeyDef(float AKey, T AValue, TInterpolationType AInterpolation)
        : FKey(AKey), FInterpolation(AInterpolation), FValue(std::move(AValue)) {}
    virtual ~TInterpolatorKeyDef() = default;

    float Key() const { return FKey; }
    void SetKey(float AValue) { FKey = AValue; }
    TInterpolationType Interpolation() const { return FInterpolation; }
    void SetInterpolation(TInterpolationType AValue) { FInterpolation = AValue; }
    const T& Value() const { return FValue; }
    void SetValue(T AValue) { FValue = std::move(AValue); }

    // The instance size only, also for array values.
    virtual int64_t GetSize() const { return sizeof(*this); }
    // {"Key", "Interpolation" (the ordinal), "Value" (the value's text)}.
    virtual std::unique_ptr<TJSONObject> ToJSON(TSerializeFunc ASerialize) const;
    // Raises "failed to load interpolator key - ..." for a missing time or
    // easing and a clear exception for an easing ordinal outside the kinds.
    virtual void FromJSON(TModelDef* AModel, const TJSONObject& AValue, TUnserializeFunc AUnserialize);

private:
    float FKey = 0;
    TInterpolationType FInterpolation = TInterpolationType::Linear;
    T FValue{};
};

// What every track has, whatever its value type: the stage, duration, loop
// flag and property path, and the JSON of those.
class TCustomInterpolatorDef : public TCustomDef {
    KORVANE_CLASS(TCustomInterpolatorDef, TCustomDef)

    explicit TCustomInterpolatorDef(TAnimationStageDef* AStage) : FStage(AStage) {}
    ~TCustomInterpolatorDef() override { FStage = nullptr; }

    TAnimationStageDef* Stage() const { return FStage; }
    float Duration() const { return FDuration; }
    void SetDuration(float AValue) { FDuration = AValue; }
    bool Loop() const { return FLoop; }
    void SetLoop(bool AValue) { FLoop = AValue; }
    const std::string& Path() const { return FPath; }
    void SetPath(std::string AValue) { FPath = std::move(AValue); }
    virtual int KeyCount() const = 0;
    // Key times made fractions of the duration (see the typed tracks).
    virtual void NormalizeKeyTimeValues() = 0;

    // "Type", "Id", the class name as a second "Type", "Stage", "Duration",
    // "Loop", "Path" and "Keys".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // "Duration" defaults to 1, "Loop" to false; "Path" must be a string
    // ("failed to load interpolator path - property path value not found");
    // the keys of "Keys" are appended to those there already.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TCustomInterpolatorDef); }
    virtual std::unique_ptr<TJSONArray> KeysToJSON() const = 0;
    // Appends an empty key and reads it from AValue.
    virtual void AddKeyFromJSON(TModelDef* AModel, const TJSONObject& AValue) = 0;

private:
    TAnimationStageDef* FStage = nullptr;
    float FDuration = 1;
    bool FLoop = true;
    std::string FPath;
};

template <typename T>
class TInterpolatorDef : public TCustomInterpolatorDef {
public:
    using TKey = TInterpolatorKeyDef<T>;
    using TKeyList = std::vector<std::unique_ptr<TKey>>;

    const TKeyList& Keys() const { return FKeys; }
    int KeyCount() const override { return static_cast<int>(FKeys.size()); }

    // Appends a key (no sorting) and returns it.
    TKey* AddKey(float AKey, T AValue, TInterpolationType AInterpolation);
    TKey* AddEmptyKey();
    // One key per time: easing AIntVals[i] or Linear, value AKeyValues[i] or
    // the last value. Raises "failed to add multiple interpolator keys - array
    // length differs" (adding nothing) when there are times but no values.
    virtual void AddKeys(const std::vector<float>& AKeyTimes, const std::vector<T>& AKeyValues,
                         const std::vector<TInterpolationType>& AIntVals);
    // One key gets a second at time 1; with more, the duration becomes the
    // last key's time and every time is divided by it unless it is not
    // positive or already 1.
    void NormalizeKeyTimeValues() override;
    // The first pair of neighbouring keys whose times enclose ADelta; false
    // (both nullptr) before the first key, after the last and with fewer than two keys.
    bool FindKeys(float ADelta, TKey*& AKeyStart, TKey*& AKeyStop) const;
    // The value at ADelta between the enclosing keys, with AKey := ADelta and
    // AInterpolation := Linear; false, outputs unchanged, when no pair encloses it.
    virtual bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation, T& AValue) = 0;

    int64_t GetSize() const override;

protected:
    explicit TInterpolatorDef(TAnimationStageDef* AStage, typename TKey::TSerializeFunc ASerialize,
                              typename TKey::TUnserializeFunc AUnserialize)
        : TCustomInterpolatorDef(AStage), FSerialize(ASerialize), FUnserialize(AUnserialize) {}

    std::unique_ptr<TJSONArray> KeysToJSON() const override;
    void AddKeyFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;
    // The key pair enclosing ADelta and the fraction of the way from the first
    // to the second (0 when both have the same time).
    bool FindSegment(float ADelta, const T*& AStart, const T*& AStop, float& AFraction) const;
    // ComputeInterpolatedKey with ACompute(start value, stop value, fraction).
    template <typename Compute>
    bool Interpolate(float ADelta, float& AKey, TInterpolationType& AInterpolation, T& AValue, Compute&& ACompute) const
    {
        const T *start, *stop;
        float fraction;
        if (!FindSegment(ADelta, start, stop, fraction)) return false;
        AKey = ADelta;
        AInterpolation = TInterpolationType::Linear;
        AValue = ACompute(*start, *stop, fraction);
        return true;
    }

private:
    TKeyList FKeys;
    typename TKey::TSerializeFunc FSerialize;
    typename TKey::TUnserializeFunc FUnserialize;
};

extern template class TInterpolatorKeyDef<TPoint3D>;
extern template class TInterpolatorKeyDef<TVector3D>;
extern template class TInterpolatorKeyDef<TQuaternion3D>;
extern template class TInterpolatorKeyDef<TMatrix3D>;
extern template class TInterpolatorKeyDef<std::vector<TPoint3D>>;
extern template class TInterpolatorDef<TPoint3D>;
extern template class TInterpolatorDef<TVector3D>;
extern template class TInterpolatorDef<TQuaternion3D>;
extern template class TInterpolatorDef<TMatrix3D>;
extern template class TInterpolatorDef<std::vector<TPoint3D>>;

// Points, interpolated linearly.
class TPoint3DInterpolatorDef : public TInterpolatorDef<TPoint3D> {
    KORVANE_CLASS(TPoint3DInterpolatorDef, TCustomInterpolatorDef)
    explicit TPoint3DInterpolatorDef(TAnimationStageDef* AStage);
    bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                TPoint3D& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TPoint3DInterpolatorDef); }
};

// Four-component vectors read as quaternions (X, Y, Z imaginary, W real),
// interpolated by slerp.
class TVector3DInterpolatorDef : public TInterpolatorDef<TVector3D> {
    KORVANE_CLASS(TVector3DInterpolatorDef, TCustomInterpolatorDef)
    explicit TVector3DInterpolatorDef(TAnimationStageDef* AStage);
    bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                TVector3D& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TVector3DInterpolatorDef); }
};

// Rotations, each key normalised through its rotation matrix, interpolated by slerp.
class TQuaternion3DInterpolatorDef : public TInterpolatorDef<TQuaternion3D> {
    KORVANE_CLASS(TQuaternion3DInterpolatorDef, TCustomInterpolatorDef)
    explicit TQuaternion3DInterpolatorDef(TAnimationStageDef* AStage);
    bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                TQuaternion3D& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TQuaternion3DInterpolatorDef); }
};

// Whole transformations: translation and scale linear, rotation by slerp.
class TTransformationInterpolatorDef : public TInterpolatorDef<TMatrix3D> {
    KORVANE_CLASS(TTransformationInterpolatorDef, TCustomInterpolatorDef)
    explicit TTransformationInterpolatorDef(TAnimationStageDef* AStage);
    bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                TMatrix3D& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TTransformationInterpolatorDef); }
};

// Vertex positions of a whole mesh; stored and written, not interpolated.
class TMeshInterpolatorDef : public TInterpolatorDef<std::vector<TPoint3D>> {
    KORVANE_CLASS(TMeshInterpolatorDef, TCustomInterpolatorDef)
    explicit TMeshInterpolatorDef(TAnimationStageDef* AStage);
    // Always raises "TMeshInterpolatorDef.ComputeInterpolatedKey not implemented yet".
    bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                std::vector<TPoint3D>& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TMeshInterpolatorDef); }
};

// The track class of a stage element's "Type" (with or without the unit
// prefix), made for AStage; nullptr for any other type.
TCustomInterpolatorDef* CreateInterpolatorDef(const std::string& AType, TAnimationStageDef* AStage);

} // namespace korvane
