#pragma once
// Animation definitions: one named animation of a model is a list of stages,
// each animating one joint or transform definition with key-frame tracks. The
// animation computes its duration and frame count and can merge a stage's
// separate position, rotation and scale tracks into one transformation track.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Korvane.DefTypes.Interpolator.h"
#include "Korvane.DefTypes.Mesh.h"

namespace korvane {

class TAnimationDef;
class TMeshBufferObject;

// How frames are baked: the whole vertex block or the positions only, plain or compressed.
enum class TAnimationCachingFlag : uint8_t { AllAttributes, Compressed, VertexPosition };
using TAnimationCachingFlags = TSet<TAnimationCachingFlag>;
// The baking of an animation: None, then Started, Caching and Cached as buffers
// fill, Ready once finished.
enum class TAnimationBufferingState : uint8_t { None, Started, Caching, Cached, Ready };

// The object that bakes an animation frame by frame. The animation's Cache
// hands itself to Execute while it holds the animation's lock.
class TAnimationCaching : public TObject {
    KORVANE_CLASS(TAnimationCaching, TObject)

    virtual TAnimationCachingFlags Flags() const = 0;
    virtual void Execute(TAnimationDef* AAnimDef) = 0;
};

// The baked frames of one mesh: one mesh buffer object per frame.
class TAnimationBuffer : public TObject {
    KORVANE_CLASS(TAnimationBuffer, TObject)

    // The most frames a buffer holds: a longer animation is refused rather
    // than allocated.
    static constexpr int MaxFrameCount = 1 << 20;

    // Marks the mesh static; no frames.
    TAnimationBuffer(TMeshDef* AMesh, TAnimationDef* AAnim);
    ~TAnimationBuffer() override;

    TMeshDef* Mesh() const { return FMesh; }
    TAnimationDef* Animation() const { return FAnimation; }
    bool IsBuffered() const { return FIsBuffered; }
    void SetIsBuffered(bool AValue) { FIsBuffered = AValue; }
    const std::vector<TOwned<TMeshBufferObject>>& Frames() const { return FFrames; }
    int BufferedFrames() const { return FBufferedFrames; }
    // Nothing for the current count; otherwise the stored frames are dropped
    // and AFrameCount empty ones made. Raises beyond MaxFrameCount.
    void SetFrameCount(int AFrameCount);

private:
    friend class TAnimationDef;
    std::mutex FLock;
    TMeshDef* FMesh = nullptr;
    TAnimationDef* FAnimation = nullptr;
    bool FIsBuffered = false;
    std::vector<TOwned<TMeshBufferObject>> FFrames;
    int FBufferedFrames = 0;
};

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
    // Duration and frame count from the stages; existing frame buffers are resized.
    void PrepareAnimationData();

    TAnimationCachingFlags CachingFlags() const { return FCachingFlags; }
    TAnimationBufferingState BufferingState() const { return FBufferingState; }
    const std::map<TMeshDef*, TOwned<TAnimationBuffer>>* Buffers() const { return FBuffers.get(); }
    bool IsCached() const { return FBufferingState != TAnimationBufferingState::None; }
    bool IsCacheable() const { return !FCachingFlags.IsEmpty(); }
    // Bakes the animation with ACache (a TAnimationCaching, else EInvalidCast)
    // under the animation's lock.
    void Cache(TObject* ACache);
    // A frame buffer for AMesh (unless it is the model) and, recursively, its
    // mesh children; the state becomes Started.
    void InitializeCaching(TMeshDef* AMesh);
    // AMesh's buffer; nullptr once Ready, without buffers or once cancelled.
    TAnimationBuffer* StartCaching(TMeshDef* AMesh);
    // Stops a running bake from storing further frames: StartCaching hands
    // out no buffer and CacheFrame stores nothing from then on. The model
    // calls it before it frees a model that is being baked on another thread.
    void CancelCaching() { FCachingCancelled = true; }
    bool CachingCancelled() const { return FCachingCancelled; }
    // Stores the mesh's current shape as the buffer's next frame.
    void CacheFrame(TAnimationBuffer* ABuffer, const TVertexBuffer* AVertices, const TIndexBuffer* AIndices,
                    TAnimationCachingFlags AFlags);
    void StopCaching(TAnimationBuffer* ABuffer);
    void FinalizeCaching() { FBufferingState = TAnimationBufferingState::Ready; }
    // Frame AFrame of AMesh (the first one for a number outside the frames)
    // once Ready; nullptr before, or for a mesh without buffer.
    TMeshBufferObject* GetNextCacheFrame(TMeshDef* AMesh, int AFrame);
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
    void InitializeBuffers(TMeshDef* AMesh);
    void UnifyStage(TAnimationStageDef& AStage, uint8_t AOrder, const TUnifyInterpolatorTransformationProc& ACallback);

    TModelDef* FModel = nullptr;
    TStageList FStages;
    std::recursive_mutex FLock;
    TAnimationCachingFlags FCachingFlags;
    TAnimationBufferingState FBufferingState = TAnimationBufferingState::None;
    std::atomic<bool> FCachingCancelled{false};
    std::unique_ptr<std::map<TMeshDef*, TOwned<TAnimationBuffer>>> FBuffers;
    int FFrameRate = 60;
    int FFrameCount = 0;
    double FDuration = 0;
};

} // namespace korvane
