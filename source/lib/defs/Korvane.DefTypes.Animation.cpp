#include "Korvane.DefTypes.Animation.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "Korvane.Context.Buffers.h"
#include "Korvane.DefTypes.Cache.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.DefTypes.Skin.h"
#include "Korvane.Utils.Math.h"
#include "Korvane.Utils.Quaternions.h"
#include "Platform.Log.h"

namespace korvane {

namespace units {
void DefTypesAnimationInitialize()
{
    RegisterClasses({TAnimationDef::StaticClass(), TAnimationStageDef::StaticClass(), TAnimationBuffer::StaticClass()});
}
} // namespace units

KORVANE_IMPLEMENT_CLASS(TAnimationStageDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TAnimationDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TAnimationCaching, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TAnimationBuffer, DefTypesUnitName)

// ---- TAnimationBuffer ----

TAnimationBuffer::TAnimationBuffer(TMeshDef* AMesh, TAnimationDef* AAnim) : FMesh(AMesh), FAnimation(AAnim)
{
    if (FMesh) FMesh->SetIsStatic(true);
}

TAnimationBuffer::~TAnimationBuffer() { FFrames.clear(); }

void TAnimationBuffer::SetFrameCount(int AFrameCount)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (static_cast<size_t>(std::max(AFrameCount, 0)) == FFrames.size()) return;
    if (AFrameCount > MaxFrameCount)
        throw Exception(Format("animation buffer of %s: %d frames are more than %d", FMesh ? FMesh->Id() : std::string(),
                               AFrameCount, MaxFrameCount));
    FIsBuffered = false;
    FBufferedFrames = 0;
    FFrames.clear();
    TMeshBufferObject* shared = FMesh ? FMesh->BufferObject() : nullptr;
    for (int i = 0; i < AFrameCount; ++i) FFrames.push_back(MakeOwned<TMeshBufferObject>(shared));
}

// ---- TAnimationStageDef ----

TAnimationStageDef::~TAnimationStageDef()
{
    FAnimation = nullptr;
    FInterpolators.clear();
}

void TAnimationStageDef::AddInterpolator(TCustomDef* AInter) { FInterpolators.emplace_back(AInter); }

void TAnimationStageDef::RemoveInterpolator(TCustomDef* AInter)
{
    const auto it = std::find_if(FInterpolators.begin(), FInterpolators.end(),
                                 [&](const TOwned<TCustomDef>& item) { return item.get() == AInter; });
    if (it != FInterpolators.end()) FInterpolators.erase(it);
}

TCustomDef* TAnimationStageDef::FindInterpolatorById(std::string_view AName) const
{
    for (const auto& inter : FInterpolators)
        if (inter->Id() == AName) return inter.get();
    return nullptr;
}

float TAnimationStageDef::GetDurationInSeconds() const
{
    float duration = 0;
    bool any = false;
    for (const auto& inter : FInterpolators)
        if (const auto* track = dynamic_cast<const TCustomInterpolatorDef*>(inter.get())) {
            duration = any ? std::max(duration, track->Duration()) : track->Duration();
            any = true;
        }
    return duration;
}

int64_t TAnimationStageDef::GetSize() const
{
    int64_t size = TCustomDef::GetSize() + static_cast<int64_t>(sizeof(FInterpolators));
    for (const auto& inter : FInterpolators) size += inter->GetSize();
    return size;
}

std::unique_ptr<TJSONObject> TAnimationStageDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Animation", FAnimation ? FAnimation->Id() : std::string());
    if (FReference) obj->AddPair("Reference", FReference->Id());
    else obj->AddPair("Reference", std::make_unique<TJSONNull>());
    auto interpolators = std::make_unique<TJSONArray>();
    interpolators->Reserve(static_cast<int>(FInterpolators.size()));
    for (const auto& inter : FInterpolators) interpolators->Add(inter->ToJSON());
    obj->AddPair("Interpolators", std::move(interpolators));
    return obj;
}

void TAnimationStageDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    try {
        ReadStage(AValue);
    } catch (const Exception& e) {
        throw Exception(Format("failed to load animation stage %s - %s", Id(), e.Message()));
    }
}

void TAnimationStageDef::ReadStage(const TJSONObject& AValue)
{
    TModelDef* model = FAnimation ? FAnimation->Model() : nullptr;
    const std::string reference = JSONGetString(AValue, "Reference", "");
    // A stage written without reference (null) reads back without one.
    if (!reference.empty()) {
        const auto& services = ModelDefServices();
        if (!model || !services.Root) throw Exception("animation without model cannot resolve its stage references");
        TCustomDef* found = services.FindJointById ? services.FindJointById(model, reference) : nullptr;
        SetReference(found ? found : services.Root(model)->FindChildById(reference, true));
    }

    const TJSONArray* interpolators = JSONGetArray(AValue, "Interpolators");
    if (!interpolators) return;
    for (const auto& element : *interpolators) {
        const auto& object = element->As<TJSONObject>();
        const std::string type = JSONGetString(object, "Type", "");
        TCustomInterpolatorDef* inter = CreateInterpolatorDef(type, this);
        if (!inter) throw EAbort(Format("invalid interpolator type found: %s", type));
        // The track is the stage's before it reads: what it read stays on failure.
        AddInterpolator(inter);
        inter->FromJSON(model, object);
    }
}

// ---- TAnimationDef ----

TAnimationDef::~TAnimationDef()
{
    FStages.clear();
    FBuffers.reset();
}

void TAnimationDef::SetFrameRate(int AValue)
{
    if (AValue == FFrameRate) return;
    FFrameRate = AValue;
    PrepareAnimationData();
}

void TAnimationDef::AddStage(TAnimationStageDef* AStage)
{
    if (!AStage) return;
    for (const auto& stage : FStages) {
        if (stage.get() == AStage) return;
        if (stage->Id() == AStage->Id())
            throw Exception(Format("TAnimationDef: Stage with id %s already exists", AStage->Id()));
    }
    FStages.emplace_back(AStage);
}

TAnimationStageDef* TAnimationDef::FindStageById(std::string_view AId) const
{
    for (const auto& stage : FStages)
        if (stage->Id() == AId) return stage.get();
    return nullptr;
}

double TAnimationDef::GetDurationInSeconds() const
{
    double duration = 0;
    for (size_t i = 0; i < FStages.size(); ++i) {
        const double stage = FStages[i]->GetDurationInSeconds();
        duration = i == 0 ? stage : std::max(duration, stage);
    }
    return duration;
}

int64_t TAnimationDef::GetDurationInMilliseconds() const
{
    const double ms = std::ceil(GetDurationInSeconds() * 1000);
    // Durations come from files: one beyond the 64-bit range is no duration.
    if (!(std::fabs(ms) < 9.2e18)) throw Exception(Format("animation %s: duration out of range", Id()));
    return static_cast<int64_t>(ms);
}

int TAnimationDef::ComputeFrameCount(double ADurationInSeconds) const
{
    const double frames = std::ceil(ADurationInSeconds * FFrameRate);
    // Frame buffers are sized by this count: it must be a count at all.
    if (!(frames >= 0 && frames <= INT_MAX))
        throw Exception(Format("animation %s: %g seconds at %d frames per second give no valid frame count", Id(),
                               ADurationInSeconds, FFrameRate));
    return static_cast<int>(frames);
}

void TAnimationDef::PrepareAnimationData()
{
    FDuration = GetDurationInSeconds();
    FFrameCount = ComputeFrameCount(FDuration);
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (FBuffers)
        for (auto& [mesh, buffer] : *FBuffers) buffer->SetFrameCount(FFrameCount);
}

void TAnimationDef::Cache(TObject* ACache)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    auto* caching = dynamic_cast<TAnimationCaching*>(ACache);
    if (!caching) throw EInvalidCast();
    FCachingFlags = caching->Flags();
    caching->Execute(this);
}

void TAnimationDef::InitializeCaching(TMeshDef* AMesh)
{
    if (!AMesh) return;
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!FBuffers) FBuffers = std::make_unique<std::map<TMeshDef*, TOwned<TAnimationBuffer>>>();
    InitializeBuffers(AMesh);
    FBufferingState = TAnimationBufferingState::Started;
}

void TAnimationDef::InitializeBuffers(TMeshDef* AMesh)
{
    const auto& services = ModelDefServices();
    const bool isModel = services.AsModel && services.AsModel(AMesh);
    if (!isModel) {
        if (FBuffers->count(AMesh)) throw EListError("Duplicates not allowed");
        auto buffer = MakeOwned<TAnimationBuffer>(AMesh, this);
        buffer->SetFrameCount(FFrameCount);
        FBuffers->emplace(AMesh, std::move(buffer));
    }
    if (TTransformDefList* children = AMesh->Children())
        for (TTransformDef* child : *children)
            if (auto* mesh = dynamic_cast<TMeshDef*>(child)) InitializeBuffers(mesh);
}

TAnimationBuffer* TAnimationDef::StartCaching(TMeshDef* AMesh)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (FBufferingState == TAnimationBufferingState::Ready || !FBuffers || FCachingCancelled) return nullptr;
    const auto it = FBuffers->find(AMesh);
    return it == FBuffers->end() ? nullptr : it->second.get();
}

void TAnimationDef::CacheFrame(TAnimationBuffer* ABuffer, const TVertexBuffer* AVertices, const TIndexBuffer* AIndices,
                               TAnimationCachingFlags AFlags)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!ABuffer || !AVertices || !AIndices || FCachingCancelled) return;
    std::lock_guard<std::mutex> bufferLock(ABuffer->FLock);
    const int frames = static_cast<int>(ABuffer->FFrames.size());
    if (ABuffer->FBufferedFrames >= std::min(FFrameCount, frames)) {
        FBufferingState = TAnimationBufferingState::Cached;
        return;
    }
    FBufferingState = TAnimationBufferingState::Caching;
    TMeshBufferObject& frame = *ABuffer->FFrames[size_t(ABuffer->FBufferedFrames)];
    const bool positions = AFlags.Contains(TAnimationCachingFlag::VertexPosition);
    if (AFlags.Contains(TAnimationCachingFlag::Compressed)) {
        TMemoryStream* stream = positions ? TAnimationFrameCompression::Compress(TVertexFormat::Vertex, AVertices)
                                          : TAnimationFrameCompression::Compress(AVertices->Buffer(), AVertices->Size());
        frame.SetCompressed(positions ? TMeshBufferComponent::Vertex : TMeshBufferComponent::All, stream);
    } else if (positions) {
        frame.PushData(TMeshBufferComponent::Vertex, AVertices);
    } else {
        frame.PushData(TMeshBufferComponent::All, AVertices->Buffer(), static_cast<intptr_t>(AVertices->Size()));
    }
    if (++ABuffer->FBufferedFrames >= FFrameCount) FBufferingState = TAnimationBufferingState::Cached;
}

void TAnimationDef::StopCaching(TAnimationBuffer* ABuffer)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (ABuffer) ABuffer->SetIsBuffered(true);
}

TMeshBufferObject* TAnimationDef::GetNextCacheFrame(TMeshDef* AMesh, int AFrame)
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    try {
        if (FBufferingState != TAnimationBufferingState::Ready || !FBuffers) return nullptr;
        const auto it = FBuffers->find(AMesh);
        if (it == FBuffers->end()) return nullptr;
        const auto& frames = it->second->Frames();
        if (frames.empty()) return nullptr;
        if (AFrame < 0 || static_cast<size_t>(AFrame) >= frames.size()) AFrame = 0;
        return frames[size_t(AFrame)].get();
    } catch (const Exception& e) {
        Log::d("GetNextCacheFrame failed - %s", e.Message());
        throw;
    }
}

int64_t TAnimationDef::GetSize() const
{
    int64_t size = TCustomDef::GetSize() + static_cast<int64_t>(sizeof(FStages));
    for (const auto& stage : FStages) size += stage->GetSize();
    return size;
}

std::unique_ptr<TJSONObject> TAnimationDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    auto stages = std::make_unique<TJSONArray>();
    for (const auto& stage : FStages) stages->Add(stage->ToJSON());
    obj->AddPair("Stages", std::move(stages));
    return obj;
}

void TAnimationDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    const TJSONArray* stages = JSONGetArray(AValue, "Stages");
    if (!stages) return;
    for (const auto& element : *stages) {
        const auto& object = element->As<TJSONObject>();
        // Ours only once added: a stage that fails to read is freed.
        TOwned<TAnimationStageDef> stage = MakeOwned<TAnimationStageDef>(this);
        stage->FromJSON(AModel, object);
        AddStage(stage.get());
        stage.release();
    }
}

void TAnimationDef::UnifyInterpolators(TUnifyInterpolatorOptions AOptions,
                                       const TUnifyInterpolatorTransformationProc& ACallback)
{
    uint8_t order = 0;
    for (uint8_t o = 0; o <= uint8_t(TUnifyInterpolatorOption::EulerXZY); ++o)
        if (AOptions.Contains(TUnifyInterpolatorOption(o))) {
            order = o;
            break;
        }
    for (const auto& stage : FStages) {
        try {
            UnifyStage(*stage, order, ACallback);
        } catch (const Exception& e) {
            Log::d("failed to unify stage interpolators: %s\r\n%s", stage->Id(), e.Message());
        }
    }
}

namespace {

// One classified track and the value it gives for the key being built.
template <typename TTrack, typename T>
struct TUnifyTrack {
    TTrack* Track = nullptr;
    T Value;
    float Time = 0;
    TInterpolationType Easing = TInterpolationType::Linear;

    // Key i of the track when it has N keys, else its value at t.
    void Sample(int i, int N, float t, const T& AStart)
    {
        if (!Track) return;
        Value = AStart;
        Time = 0;
        Easing = TInterpolationType::Linear;
        if (Track->KeyCount() == N) {
            const auto& key = *Track->Keys()[size_t(i)];
            Value = key.Value();
            Time = key.Key();
            Easing = key.Interpolation();
        } else {
            Track->ComputeInterpolatedKey(t, Time, Easing, Value);
        }
    }
};

bool NearlyEqual(const TMatrix3D& A, const TMatrix3D& B)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (std::fabs(double(A.M[r][c]) - B.M[r][c]) > 1E-4) return false;
    return true;
}

} // namespace

void TAnimationDef::UnifyStage(TAnimationStageDef& AStage, uint8_t AOrder,
                               const TUnifyInterpolatorTransformationProc& ACallback)
{
    const TKeyUnifyFlags flags = AStage.KeyUnifyFlags();
    TMatrix3D base = TMatrix3D::Identity();
    const auto* reference = dynamic_cast<const TTransformDef*>(AStage.Reference());
    if (!flags.Contains(TKeyUnifyFlag::AbsoluteKeyTransform) && reference)
        base = flags.Contains(TKeyUnifyFlag::EvaluateGlobalTransform) ? reference->EvaluateGlobalTransformation()
                                                                      : reference->Transform();

    TUnifyTrack<TVector3DInterpolatorDef, TVector3D> rotationVector;
    TUnifyTrack<TQuaternion3DInterpolatorDef, TQuaternion3D> quaternion;
    TUnifyTrack<TPoint3DInterpolatorDef, TPoint3D> scale, position, euler;
    float duration = 1;
    for (const auto& inter : AStage.Interpolators()) {
        TCustomInterpolatorDef* track = nullptr;
        if (auto* v = dynamic_cast<TVector3DInterpolatorDef*>(inter.get()); v && v->Path() == "RotationAngle.Vector")
            track = rotationVector.Track = v;
        else if (auto* q = dynamic_cast<TQuaternion3DInterpolatorDef*>(inter.get()); q && q->Path() == "Quaternion")
            track = quaternion.Track = q;
        else if (auto* p = dynamic_cast<TPoint3DInterpolatorDef*>(inter.get())) {
            if (p->Path() == "Scale.Point") track = scale.Track = p;
            else if (p->Path() == "Position.Point") track = position.Track = p;
            else if (p->Path() == "RotationAngle.Point") track = euler.Track = p;
        }
        if (track) duration = std::max(duration, track->Duration());
    }
    const bool rotation = rotationVector.Track || quaternion.Track || euler.Track;
    const TCustomInterpolatorDef* leading = rotationVector.Track ? static_cast<TCustomInterpolatorDef*>(rotationVector.Track)
                                            : quaternion.Track   ? static_cast<TCustomInterpolatorDef*>(quaternion.Track)
                                            : euler.Track        ? static_cast<TCustomInterpolatorDef*>(euler.Track)
                                            : position.Track     ? static_cast<TCustomInterpolatorDef*>(position.Track)
                                                                 : static_cast<TCustomInterpolatorDef*>(scale.Track);
    if (!leading) return;
    const int N = leading->KeyCount();

    auto* merged = new TTransformationInterpolatorDef(&AStage);
    merged->SetId(Format("%s_transform_merged_%d", AStage.Id(), int64_t(AStage.Interpolators().size())));
    merged->SetDuration(duration);
    AStage.AddInterpolator(merged);

    for (int i = 0; i < N; ++i) {
        // A leading track of one key samples the others at its start.
        const float t = N > 1 ? std::max(0.0f, float(double(i) / double(N - 1))) : 0.0f;
        rotationVector.Sample(i, N, t, TVector3D(0, 0, 0, 0));
        quaternion.Sample(i, N, t, TQuaternion3D::Identity());
        euler.Sample(i, N, t, TPoint3D(0, 0, 0));
        position.Sample(i, N, t, TPoint3D(0, 0, 0));
        scale.Sample(i, N, t, TPoint3D(1, 1, 1));

        const TMatrix3D S = scale.Track ? TMatrix3D::CreateScaling(scale.Value) : TMatrix3D::Identity();
        TMatrix3D R = TMatrix3D::Identity();
        float rotationTime = 0;
        TInterpolationType rotationEasing = TInterpolationType::Linear;
        if (rotationVector.Track) {
            R = QuaternionToQuaternion3D(rotationVector.Value).ToMatrix3D();
            rotationTime = rotationVector.Time;
            rotationEasing = rotationVector.Easing;
        } else if (quaternion.Track) {
            R = quaternion.Value.ToMatrix3D();
            rotationTime = quaternion.Time;
            rotationEasing = quaternion.Easing;
        } else if (euler.Track) {
            R = MatrixToMatrix3D(EulerAnglesToMatrix(euler.Value, AOrder));
            rotationTime = euler.Time;
            rotationEasing = euler.Easing;
        }
        const TMatrix3D T = position.Track ? TMatrix3D::CreateTranslation(position.Value) : TMatrix3D::Identity();

        float key = -1;
        TInterpolationType easing = TInterpolationType::Linear;
        if (rotation) {
            key = std::max(key, rotationTime);
            easing = rotationEasing;
        }
        if (position.Track) {
            key = std::max(key, position.Time);
            easing = position.Easing;
        }
        if (scale.Track) {
            key = std::max(key, scale.Time);
            easing = scale.Easing;
        }

        TMatrix3D M = S * R * T;
        if (ACallback) ACallback(&AStage, key, M, easing);
        if (flags.Contains(TKeyUnifyFlag::InverseTransform)) M = M.Inverse();
        if (flags.Contains(TKeyUnifyFlag::EqualBaseTransformCheck) && i == 0 && NearlyEqual(M, base))
            base = TMatrix3D::Identity();
        M = flags.Contains(TKeyUnifyFlag::InverseBaseTransform) ? base * M : M * base;
        merged->AddKey(key, M, easing);
    }

    for (TCustomDef* track : {static_cast<TCustomDef*>(rotationVector.Track), static_cast<TCustomDef*>(quaternion.Track),
                              static_cast<TCustomDef*>(euler.Track), static_cast<TCustomDef*>(position.Track),
                              static_cast<TCustomDef*>(scale.Track)})
        if (track) AStage.RemoveInterpolator(track);
}

} // namespace korvane
