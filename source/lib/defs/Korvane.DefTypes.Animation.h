#pragma once
// Animation definitions: one named animation of a model is a list of stages,
// each animating one joint or transform definition with key-frame tracks. The
// animation computes its duration and frame count and can merge a stage's
// separate position, rotation and scale tracks into one transformation track.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Korvane.DefTypes.Interpolator.h"

namespace korvane {

class TAnimationDef;

// How UnifyInterpolators turns Euler-angle tracks into rotations (orders 0 to 5).
enum class TUnifyInterpolatorOption : uint8_t { EulerXYZ, EulerYXZ, EulerZXY, EulerZYX, EulerYZX, EulerXZY };
using TUnifyInterpolatorOptions = TSet<TUnifyInterpolatorOption>;

// How the keys of a stage's merged track are built from its base transform.
enum class TKeyUnifyFlag : uint8_t {
    AbsoluteKeyTransform,
    EqualBaseTransformCheck,
    InverseTransform,
    InverseBaseTransform,
    EvaluateGlobalTransform
};
using TKeyUnifyFlags = TSet<TKeyUnifyFlag>;

class TAnimationStageDef;
// Called for every merged key with the stage, its time, matrix and easing, all
// three of which the callee may change.
using TUnifyInterpolatorTransformationProc =
    std::function<void(TAnimationStageDef* AStage, float& AKey, TMatrix3D& AMatrix, TInterpolationType& AInterpolation)>;

// The tracks that animate one joint or transform definition.
class TAnimationStageDef : public TCustomDef {
    KORVANE_CLASS(TAnimationStageDef, TCustomDef)

    using TInterpolatorList = std::vector<TOwned<TCustomDef>>;

    explicit TAnimationStageDef(TAnimationDef* AAnimation) : FAnimation(AAnimation) {}
    ~TAnimationStageDef() override;

    TAnimationDef* Animation() const { return FAnimation; }
    const TInterpolatorList& Interpolators() const { return FInterpolators; }
    // The animated definition (not owned).
    TCustomDef* Reference() const { return FReference; }
    virtual void SetReference(TCustomDef* AValue) { FReference = AValue; }
    TKeyUnifyFlags KeyUnifyFlags() const { return FKeyUnifyFlags; }
    void SetKeyUnifyFlags(TKeyUnifyFlags AValue) { FKeyUnifyFlags = AValue; }

    // Appends the track; the stage owns it.
    virtual void AddInterpolator(TCustomDef* AInter);
    // Removes the track and frees it; nothing when it is not in the stage.
    void RemoveInterpolator(TCustomDef* AInter);
    // The first track of that Id (case-sensitive), or nullptr.
    virtual TCustomDef* FindInterpolatorById(std::string_view AName) const;
    // The longest duration among the stage's tracks; 0 without tracks.
    float GetDurationInSeconds() const;

    int64_t GetSize() const override;
    // "Type", "Id", "Animation", "Reference" (its Id or null), "Interpolators".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Failures after the Id are raised as "failed to load animation stage %s - %s".
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TAnimationStageDef); }

private:
    void ReadStage(const TJSONObject& AValue);

    TAnimationDef* FAnimation = nullptr;
    TCustomDef* FReference = nullptr;
    TInterpolatorList FInterpolators;
    TKeyUnifyFlags FKeyUnifyFlags;
};

// One named animation of a model.
class TAnimationDef : public TCustomDef {
    KORVANE_CLASS(TAnimationDef, TCustomDef)

    using TStageList = std::vector<TOwned<TAnimationStageDef>>;

    // 60 frames per second, no stages.
    explicit TAnimationDef(TModelDef* AModel) : FModel(AModel) {}
    ~TAnimationDef() override;

    TModelDef* Model() const { return FModel; }
    const TStageList& Stages() const { return FStages; }
    // Both valid after PrepareAnimationData.
    int FrameCount() const { return FFrameCount; }
    double Duration() const { return FDuration; }
    int FrameRate() const { return FFrameRate; }
    // A new rate prepares the animation data again.
    void SetFrameRate(int AValue);

    // Appends the stage (the animation owns it from then on); nothing for
    // nullptr or a stage listed already; raises "TAnimationDef: Stage with id
    // %s already exists" for another stage of the same Id (the caller keeps it).
    void AddStage(TAnimationStageDef* AStage);
    TAnimationStageDef* FindStageById(std::string_view AId) const;
    // The longest stage; 0 without stages.
    double GetDurationInSeconds() const;
    int64_t GetDurationInMilliseconds() const;
    // ceil(seconds x frame rate); raises when that is not a frame count
    // (negative, not finite or beyond 32 bits).
    int ComputeFrameCount(double ADurationInSeconds) const;
    int ComputeFrameCountMS(int64_t ADurationInMS) const { return ComputeFrameCount(double(ADurationInMS) / 1000); }
    int ComputeFrameCount() const { return ComputeFrameCount(GetDurationInSeconds()); }
    // Duration and frame count from the stages.
    void PrepareAnimationData();
    // Merges each stage's position, rotation and scale tracks into one
    // transformation track; a stage that fails is logged and left.
    virtual void UnifyInterpolators(TUnifyInterpolatorOptions AOptions,
                                    const TUnifyInterpolatorTransformationProc& ACallback);

    int64_t GetSize() const override;
    // "Type", "Id", "Stages"; rates, counts and baked frames are not stored.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TAnimationDef); }

private:
    void UnifyStage(TAnimationStageDef& AStage, uint8_t AOrder, const TUnifyInterpolatorTransformationProc& ACallback);

    TModelDef* FModel = nullptr;
    TStageList FStages;
    int FFrameRate = 60;
    int FFrameCount = 0;
    double FDuration = 0;
};

} // namespace korvane
