#include "Korvane.DefTypes.Skin.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "Korvane.DefTypes.Meta.h"
#include "Platform.Bitmaps.h"
#include "Platform.IOUtils.h"
#include "Platform.Log.h"

namespace korvane {

namespace {

std::unique_ptr<TJSONValue> IdOrNull(const TCustomDef* ADef)
{
    if (ADef) return std::make_unique<TJSONString>(ADef->Id());
    return std::make_unique<TJSONNull>();
}

std::string IdOf(const TCustomDef* ADef) { return ADef ? ADef->Id() : std::string(); }

// The vertex count of a mesh's vertex source; 0 without one.
int VertexCount(const TMeshDef& AMesh)
{
    const TVertexBuffer* source = AMesh.GetVertexSource();
    return source ? source->Length() : 0;
}

// A file name made of an Id: path delimiters and drive marks would let the Id
// choose another folder.
std::string FileNameOfId(const std::string& AId)
{
    std::string name = AId;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == ':'; }, '_');
    if (name == "." || name == "..") name = "_";
    return name;
}

// Every weight entry of the linked references that names one vertex.
struct TWeightEntry {
    TJointRefDef* Ref;
    size_t Position;
};
using TWeightEntries = std::unordered_map<int64_t, std::vector<TWeightEntry>>;

TWeightEntries CollectWeights(const TSkinDef::TJointRefList& ALinked)
{
    TWeightEntries entries;
    for (const auto& ref : ALinked) {
        const auto& indices = ref->Indices();
        if (ref->Weights().size() < indices.size())
            throw Exception(Format("joint reference %s holds %d weights for %d vertices", ref->Id(),
                                   int64_t(ref->Weights().size()), int64_t(indices.size())));
        for (size_t k = 0; k < indices.size(); ++k) entries[indices[k]].push_back({ref.get(), k});
    }
    return entries;
}

float WeightSum(const TWeightEntries& AEntries, int64_t AVertex)
{
    float sum = 0;
    if (const auto it = AEntries.find(AVertex); it != AEntries.end())
        for (const TWeightEntry& e : it->second) sum += e.Ref->Weights()[e.Position];
    return sum;
}

bool SameValue(double A, double B, double AEpsilon) { return std::fabs(A - B) <= AEpsilon; }

} // namespace

namespace units {
void DefTypesSkinInitialize()
{
    RegisterClasses({TControllerDef::StaticClass(), TSkinDef::StaticClass(), TJointDef::StaticClass(),
                     TJointRefDef::StaticClass(), TArmatureDef::StaticClass(), TVertexJointsList::StaticClass()});
}
} // namespace units

KORVANE_IMPLEMENT_CLASS(TControllerDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TJointRefDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TVertexJointsList, DefTypesUnitName)

TClass TSkinDef::StaticClass()
{
    static const TChildDefClassInfo<TSkinDef> info;
    return &info;
}

TClass TJointDef::StaticClass()
{
    static const TChildDefClassInfo<TJointDef> info;
    return &info;
}

TClass TArmatureDef::StaticClass()
{
    static const TChildDefClassInfo<TArmatureDef> info;
    return &info;
}

// ---- TControllerDef ----

TControllerDef::TControllerDef(TTransformDef* ATarget) : FTarget(ATarget) {}

TControllerDef::~TControllerDef()
{
    FTarget = nullptr;
    FSkin.reset();
}

void TControllerDef::SetSkin(TSkinDef* AValue)
{
    if (AValue != FSkin.get()) FSkin.reset(AValue);
}

TJointRefDef* TControllerDef::GetJointRef(const std::string& AId) const
{
    if (!FSkin) throw Exception(Format("controller %s has no skin", Id()));
    return FSkin->GetJointRef(AId);
}

TJointRefDef* TControllerDef::GetJointRef(const TJointDef* AJoint) const
{
    if (!FSkin) throw Exception(Format("controller %s has no skin", Id()));
    return FSkin->GetJointRef(AJoint);
}

int64_t TControllerDef::GetSize() const { return TCustomDef::GetSize() + (FSkin ? FSkin->GetSize() : 0); }

std::unique_ptr<TJSONObject> TControllerDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Target", IdOf(FTarget));
    if (FSkin) obj->AddPair("Skin", FSkin->ToJSON());
    else obj->AddPair("Skin", std::make_unique<TJSONNull>());
    return obj;
}

void TControllerDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    if (const TJSONValue* skin = AValue.GetValue("Skin"))
        if (const auto* object = skin->TryAs<TJSONObject>()) {
            SetSkin(new TSkinDef(this));
            FSkin->FromJSON(AModel, *object);
        }
    if (!FSkin) return;
    for (const TJointRefDef* skeleton : FSkin->Skeletons())
        if (TJointDef* joint = skeleton->Joint())
            if (TArmatureDef* armature = joint->Armature()) armature->AddController(this);
}

// ---- TJointDef ----

TJointDef::TJointDef(TArmatureDef* AArmature) : TTransformDef(AArmature)
{
    if (AArmature) FArmatureIndex = ++AArmature->FJointsCount;
}

TJointDef::~TJointDef()
{
    FParent = nullptr;
    FJoints.reset();
    SetOwnerRef(nullptr);
}

TArmatureDef* TJointDef::Armature() const
{
    TCustomDef* owner = GetOwnerRef();
    if (!owner) return nullptr;
    auto* armature = dynamic_cast<TArmatureDef*>(owner);
    if (!armature) throw EInvalidCast();
    return armature;
}

void TJointDef::SetArmature(TArmatureDef* AValue) { SetOwnerRef(AValue); }

bool TJointDef::AddJoint(TJointDef* AJoint)
{
    TOwned<TJointDef> joint(AJoint);
    if (!FJoints) FJoints = std::make_unique<TJointMap>();
    if (!joint || FJoints->count(joint->Id())) return false;
    const std::string id = joint->Id();
    FJoints->emplace(id, std::move(joint));
    return true;
}

TJointDef* TJointDef::FindJointById(std::string_view AId) const
{
    if (!FJoints) return nullptr;
    for (const auto& [id, child] : *FJoints) {
        if (id == AId) return child.get();
        if (TJointDef* found = child->FindJointById(AId)) return found;
    }
    return nullptr;
}

int TJointDef::JointsCount() const
{
    if (!FJoints) return 0;
    int count = 0;
    for (const auto& [id, child] : *FJoints) count += 1 + child->JointsCount();
    return count;
}

TModelDef* TJointDef::GetModel() const
{
    const auto* armature = dynamic_cast<const TArmatureDef*>(GetOwnerRef());
    return armature ? armature->GetModel() : nullptr;
}

TMatrix3D TJointDef::EvaluateGlobalTransformation() const
{
    if (!FParent) return Transform();
    return Transform() * FParent->EvaluateGlobalTransformation();
}

int64_t TJointDef::GetSize() const
{
    int64_t size = TTransformDef::GetSize();
    if (FJoints) size += static_cast<int64_t>(sizeof(TJointMap)) + 8 * static_cast<int64_t>(FJoints->size());
    return size;
}

std::unique_ptr<TJSONObject> TJointDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    obj->AddPair("Parent", IdOrNull(FParent));
    if (FJoints) {
        auto joints = std::make_unique<TJSONArray>();
        for (const auto& [id, child] : *FJoints) joints->Add(child->ToJSON());
        obj->AddPair("Joints", std::move(joints));
    }
    return obj;
}

void TJointDef::FromJSONTree(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    const TJSONArray* joints = JSONGetArray(AValue, "Joints");
    if (!joints) return;
    for (const auto& element : *joints) {
        const auto& object = element->As<TJSONObject>();
        // Ours only once added: a failed reading frees it.
        TOwned<TJointDef> child(new TJointDef(Armature()));
        child->SetParent(this);
        child->FromJSONTree(AModel, object);
        AddJoint(child.release());
    }
}

// ---- TJointRefDef ----

TJointRefDef::TJointRefDef(TJointDef* AJoint, TControllerDef* AController, bool AIsStandalone)
    : FIsStandalone(AIsStandalone), FJoint(AJoint), FController(AController)
{
    if (AJoint) SetId(AJoint->Id());
}

TTransformDef* TJointRefDef::Target() const { return FController ? FController->Target() : nullptr; }

void TJointRefDef::SetInvBindMatrix(const TMatrix3D& AValue)
{
    FInvBindMatrix = AValue;
    FInvBindMatAvail = true;
}

bool TJointRefDef::IsSkeletonRoot(const TSkinDef* ASkin) const
{
    if (!ASkin) throw Exception("armature parameter expected - parameter is empty");
    for (const TJointRefDef* skeleton : ASkin->Skeletons())
        if (skeleton->Joint() == FJoint) return true;
    return false;
}

TMatrix3D TJointRefDef::EvaluateGlobalTransformation() const
{
    return FJoint ? FJoint->EvaluateGlobalTransformation() : TMatrix3D::Identity();
}

void TJointRefDef::ClearWeightsAndIndices(int ALength)
{
    const size_t length = static_cast<size_t>(std::max(ALength, 0));
    FWeights.assign(length, 0.0f);
    FIndices.assign(length, 0);
    FLowerLimit.clear();
    FUpperLimit.clear();
}

void TJointRefDef::AdjustLengthOfWeightsAndIndices(int ALength)
{
    const size_t length = static_cast<size_t>(std::max(ALength, 0));
    FWeights.resize(length, 0.0f);
    FIndices.resize(length, 0);
}

void TJointRefDef::ApplyBindPose(const TSkinDef* ASkin)
{
    if (!ASkin) {
        FInvBindMatrix = TMatrix3D::Identity();
        FInvBindMatAvail = false;
        return;
    }
    const int index = ASkin->GetJointIndex(Id());
    if (index < 0) {
        Log::d("failed to apply bind pose - joint %s in linked list not found", Id());
        return;
    }
    const auto& poses = ASkin->BindPoses();
    if (static_cast<size_t>(index) >= poses.size()) {
        Log::d("failed to apply bind pose - no bind pose for joint %s (%d / %d)", Id(), index, int64_t(poses.size()));
        return;
    }
    SetInvBindMatrix(poses[static_cast<size_t>(index)]);
}

int64_t TJointRefDef::GetSize() const
{
    return TCustomDef::GetSize() +
           4 * static_cast<int64_t>(FWeights.size() + FIndices.size() + FLowerLimit.size() + FUpperLimit.size());
}

std::unique_ptr<TJSONObject> TJointRefDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    obj->AddPair("Joint", IdOf(FJoint));
    obj->AddPair("Controller", IdOf(FController));
    obj->AddPair("Weights", SingleArrayToString(FWeights, ' '));
    obj->AddPair("Indices", IntegerArrayToString(FIndices, ' '));
    obj->AddPair("LowerLimit", SingleArrayToString(FLowerLimit, ' '));
    obj->AddPair("UpperLimit", SingleArrayToString(FUpperLimit, ' '));
    obj->AddPair("InvBindMatrix", Matrix3DToString(FInvBindMatrix, nullptr, ' '));
    obj->AddPair("InvBindMatAvail", TJSONBool::Create(FInvBindMatAvail));
    return obj;
}

void TJointRefDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TCustomDef::FromJSON(AModel, AValue);
    const auto readSingles = [&](const char* AName, std::vector<float>& AField) {
        if (const TJSONValue* v = AValue.GetValue(AName)) AField = StringToSingleArray(v->Value());
    };
    readSingles("Weights", FWeights);
    if (const TJSONValue* v = AValue.GetValue("Indices")) FIndices = StringToIntegerArray(v->Value());
    readSingles("LowerLimit", FLowerLimit);
    readSingles("UpperLimit", FUpperLimit);
    FInvBindMatrix = JSONGetMatrix3D(AValue, "InvBindMatrix", FInvBindMatrix);
    FInvBindMatAvail = JSONGetBoolean(AValue, "InvBindMatAvail", false);
    // Every influenced vertex needs its weight.
    if (FWeights.size() < FIndices.size())
        throw Exception(Format("joint reference %s: \"Weights\" holds %d values for %d \"Indices\"", Id(),
                               int64_t(FWeights.size()), int64_t(FIndices.size())));
}

// ---- TVertexJoints, TVertexJointsList ----

TVertexJoints TVertexJoints::Create(int) { return TVertexJoints(); }

bool TVertexJoints::JointExists(const TJointDef* AJoint) const
{
    return std::find(JointsArray.begin(), JointsArray.end(), AJoint) != JointsArray.end();
}

void TVertexJoints::Add(TJointDef* AJoint, float AWeight)
{
    if (JointExists(AJoint)) return;
    if (JointsCount >= MaxJointsPerVertex)
        throw Exception(
            "TVertexJoints.Add(): failed to add joint for vertex - range exceeded - too many joints on a single vertex");
    JointsArray[JointsCount] = AJoint;
    WeightsArray[JointsCount] = AWeight;
    ++JointsCount;
}

TVertexJointsList::TVertexJointsList(TControllerDef* AController, int ACapacity)
    : FController(AController), FItems(static_cast<size_t>(std::max(ACapacity, 0)))
{
}

size_t TVertexJointsList::CheckIndex(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count()) throw EListError(Format("List index out of bounds (%d)", AIndex));
    return static_cast<size_t>(AIndex);
}

void TVertexJointsList::SetItem(int AIndex, const TVertexJoints& AValue) { FItems[CheckIndex(AIndex)] = AValue; }

void TVertexJointsList::Clear() { FItems.clear(); }

// ---- TSkinDef ----

TSkinDef::TSkinDef(TControllerDef* AController)
    : TTransformDef(AController), FBindShapeMatrix(TMatrix3D::Identity())
{
}

TSkinDef::~TSkinDef()
{
    FreeSkeletons();
    FLinkedJoints.clear();
    SetOwnerRef(nullptr);
}

void TSkinDef::FreeSkeletons()
{
    std::vector<TJointRefDef*> skeletons;
    skeletons.swap(FSkeletons);
    for (TJointRefDef* ref : skeletons)
        if (ref->IsStandalone()) ref->Free();
}

TControllerDef* TSkinDef::Controller() const
{
    TCustomDef* owner = GetOwnerRef();
    if (!owner) return nullptr;
    auto* controller = dynamic_cast<TControllerDef*>(owner);
    if (!controller) throw EInvalidCast();
    return controller;
}

TTransformDef* TSkinDef::Target() const
{
    const auto* controller = dynamic_cast<const TControllerDef*>(GetOwnerRef());
    return controller ? controller->Target() : nullptr;
}

void TSkinDef::SetTarget(TTransformDef* AValue)
{
    if (auto* controller = dynamic_cast<TControllerDef*>(GetOwnerRef())) controller->SetTarget(AValue);
}

TMeshDef* TSkinDef::TargetMesh() const { return dynamic_cast<TMeshDef*>(Target()); }

TJointRefDef* TSkinDef::LinkJoint(TJointRefDef* AJointRef)
{
    if (!AJointRef) return nullptr;
    AJointRef->FLinkIndex = static_cast<int>(FLinkedJoints.size());
    FLinkedJoints.emplace_back(AJointRef);
    return AJointRef;
}

TJointRefDef* TSkinDef::LinkJoint(TJointDef* AJoint, TJointRefDefClass ARefClass)
{
    if (TJointRefDef* existing = GetJointRef(AJoint)) return existing;
    auto* controller = dynamic_cast<TControllerDef*>(GetOwnerRef());
    TJointRefDef* ref =
        ARefClass ? ARefClass(AJoint, controller, false) : new TJointRefDef(AJoint, controller, false);
    return LinkJoint(ref);
}

TJointRefDef* TSkinDef::GetJointRef(std::string_view AId) const
{
    for (const auto& ref : FLinkedJoints)
        if (ref->Joint() && ref->Joint()->Id() == AId) return ref.get();
    return nullptr;
}

TJointRefDef* TSkinDef::GetJointRef(const TJointDef* AJoint) const
{
    for (const auto& ref : FLinkedJoints)
        if (ref->Joint() == AJoint) return ref.get();
    return nullptr;
}

int TSkinDef::GetJointIndex(std::string_view AId) const
{
    for (size_t i = 0; i < FLinkedJoints.size(); ++i)
        if (FLinkedJoints[i]->Id() == AId) return static_cast<int>(i);
    return -1;
}

int TSkinDef::GetJointIndex(const TJointDef* AJoint) const
{
    for (size_t i = 0; i < FLinkedJoints.size(); ++i)
        if (FLinkedJoints[i]->Joint() == AJoint) return static_cast<int>(i);
    return -1;
}

void TSkinDef::AdjustBindPosesArrayLength(int AIndex)
{
    if (AIndex >= 0 && FBindPoses.size() < static_cast<size_t>(AIndex) + 1) FBindPoses.resize(size_t(AIndex) + 1);
}

void TSkinDef::SetBindPosesArrayLength(int ACount) { FBindPoses.resize(static_cast<size_t>(std::max(ACount, 0))); }

bool TSkinDef::BindShapeMatrixIsIdentity() const
{
    const TMatrix3D identity = TMatrix3D::Identity();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (std::fabs(double(FBindShapeMatrix.M[r][c]) - identity.M[r][c]) > 1E-40) return false;
    return true;
}

void TSkinDef::ApplyBindPoses()
{
    for (const auto& ref : FLinkedJoints) ref->ApplyBindPose(this);
}

std::string TSkinDef::LinkedJointsToString() const
{
    std::string text;
    for (const auto& ref : FLinkedJoints) {
        if (!text.empty()) text += ", ";
        text += ref->Id();
    }
    return text;
}

void TSkinDef::GetSkeletonJointTransformations(std::vector<TMatrix3D>& AJointTransfArr,
                                               const TMatrix3D& ATransform) const
{
    const size_t count = FLinkedJoints.size();
    if (FBindPoses.size() < count || AJointTransfArr.size() < count)
        throw Exception(Format("TSkinDef.GetSkeletonJointTransformations - %d linked joints, %d bind poses, %d entries",
                               int64_t(count), int64_t(FBindPoses.size()), int64_t(AJointTransfArr.size())));
    for (size_t i = 0; i < count; ++i) {
        const TJointDef* joint = FLinkedJoints[i]->Joint();
        const TMatrix3D local = joint ? joint->Transform() : TMatrix3D::Identity();
        AJointTransfArr[i] = ATransform * (local * FBindPoses[i].Inverse());
    }
}

TVertexJointsList* TSkinDef::GenerateVertexJoints(const TMatrix3D&, TMeshDef* AMeshDef) const
{
    TTransformDef* target = AMeshDef ? AMeshDef : Target();
    if (!target) throw Exception(Format("missing target definition in skin `%s`", Id()));
    auto* mesh = dynamic_cast<TMeshDef*>(target);
    if (!mesh) return nullptr;
    const TVertexBuffer* vertices = mesh->GetVertexSource();
    if (!vertices || !mesh->GetIndexSource()) return nullptr;
    // The rest positions are the vertices as stored; the bind-shape matrix is
    // applied by whoever skins with them.
    const int n = vertices->Length();
    // A vertex source without positions raises: the list is freed then.
    auto list = MakeOwned<TVertexJointsList>(dynamic_cast<TControllerDef*>(GetOwnerRef()), n);
    for (int i = 0; i < n; ++i) list->GetItemPtr(i)->Position = vertices->Vertices(i);
    return list.release();
}

void TSkinDef::ApplyVertexJointsRelation(TVertexJointsList* AVertices) const
{
    if (!dynamic_cast<TControllerDef*>(GetOwnerRef()) || !AVertices) return;
    const int count = AVertices->Count();
    for (const auto& ref : FLinkedJoints) {
        TTransformDef* target = ref->Target();
        if (!target) {
            Log::d("TSkinDef.ApplyVertexJointsRelation - target not set for reference-joint %s", IdOf(ref->Joint()));
            return;
        }
        const auto* mesh = dynamic_cast<const TMeshDef*>(target);
        if (!mesh) continue;
        const auto& indices = ref->Indices();
        const auto& weights = ref->Weights();
        if (weights.size() < indices.size())
            throw Exception(Format("TSkinDef.ApplyVertexJointsRelation - joint %s holds %d weights for %d vertices",
                                   ref->Id(), int64_t(weights.size()), int64_t(indices.size())));
        const TVertexIndexMap* map = mesh->VertexIndexMap();
        for (size_t k = 0; k < indices.size(); ++k) {
            const int32_t v = indices[k];
            if (!map || map->Count() == 0) {
                if (v < 0 || v >= count)
                    throw Exception(Format("TSkinDef.ApplyVertexJointsRelation - invalid index on TVertexJointsList (%d / %d",
                                           v, count));
                AVertices->GetItemPtr(v)->Add(ref->Joint(), weights[k]);
                continue;
            }
            if (v < 0) continue;
            if (const auto* split = map->Find(static_cast<uint32_t>(v)))
                for (uint32_t u : *split)
                    if (u < static_cast<uint32_t>(count)) AVertices->GetItemPtr(int(u))->Add(ref->Joint(), weights[k]);
        }
    }
}

void TSkinDef::NormalizeJointVertexWeights(float AWeightTolerance)
{
    const TMeshDef* mesh = TargetMesh();
    if (!mesh || VertexCount(*mesh) < 1 || FSkeletons.empty() || FLinkedJoints.empty()) return;
    TWeightEntries entries = CollectWeights(FLinkedJoints);

    const auto normalize = [&](int64_t v) {
        const auto it = entries.find(v);
        const auto fail = [&] {
            throw Exception(Format("TSkinDef.NormalizeJointVertexWeights: failed to normalize weights for vertex %d", v));
        };
        if (it == entries.end()) fail();
        if (it->second.size() > static_cast<size_t>(MaxJointsPerVertex))
            throw Exception(Format("TSkinDef.NormalizeJointVertexWeights: vertex %d has %d weights, more than %d", v,
                                   int64_t(it->second.size()), int64_t(MaxJointsPerVertex)));
        float sum = std::fabs(WeightSum(entries, v));
        if (SameValue(sum, 1.0, AWeightTolerance)) return;
        if (!(sum > 0) || !std::isfinite(sum)) fail();
        for (const TWeightEntry& e : it->second) e.Ref->FWeights[e.Position] /= sum;
        if (!SameValue(std::fabs(WeightSum(entries, v)), 1.0, AWeightTolerance)) fail();
    };

    const TVertexIndexMap* map = mesh->VertexIndexMap();
    if (map && map->Count() > 0) {
        for (const auto& [key, split] : *map) normalize(key);
    } else {
        const int n = VertexCount(*mesh);
        for (int v = 0; v < n; ++v) normalize(v);
    }
}

int TSkinDef::CheckMeshVerticesToBeAttachedCorrectly(float AWeightTolerance) const
{
    const TTransformDef* target = Target();
    if (!target) return 0;
    const auto* mesh = dynamic_cast<const TMeshDef*>(target);
    if (!mesh || VertexCount(*mesh) < 1) return 4;
    if (FSkeletons.empty()) return 5;
    if (FLinkedJoints.empty()) return 6;

    const auto report = [](int64_t v, int code, float sum) {
        switch (code) {
        case 0:
            break;
        case 1:
            Log::d("vertex #%d - not attached to any joint (error = %d)", v, code);
            break;
        case 2:
            Log::d("vertex #%d - invalid weight = %n (error = %d)", v, double(sum), code);
            break;
        default:
            Log::d("vertex #%d - unknown error (error = %d)", v, code);
        }
    };
    try {
        const TWeightEntries entries = CollectWeights(FLinkedJoints);
        const auto test = [&](int64_t v) {
            const float sum = WeightSum(entries, v);
            const int code = SameValue(std::fabs(sum), 1.0, AWeightTolerance) ? 0 : 2;
            report(v, code, sum);
            return code;
        };
        const int n = VertexCount(*mesh);
        int result = 0;
        const TVertexIndexMap* map = mesh->VertexIndexMap();
        if (map && map->Count() > 0) {
            std::vector<bool> attached(static_cast<size_t>(n), false);
            for (const auto& [key, split] : *map) {
                for (uint32_t u : split) {
                    if (u >= static_cast<uint32_t>(n))
                        throw Exception(Format("vertex index map names vertex %d of %d", int64_t(u), int64_t(n)));
                    attached[u] = true;
                }
                result = test(key);
            }
            for (int v = 0; v < n; ++v)
                if (!attached[size_t(v)]) report(v, 1, 0);
        } else {
            for (int v = 0; v < n; ++v) result = test(v);
        }
        return result;
    } catch (const Exception& e) {
        Log::d("TSkinDef.CheckMeshVerticesToBeAttachedCorrectly(): unexpected exception for vertex - %s", e.Message());
        return -1;
    }
}

void TSkinDef::DrawJointWeights(const TJointRefDef* AJointRef, TBitmap* ABitmap) const
{
    const TMeshDef* mesh = TargetMesh();
    if (!AJointRef || !ABitmap || !mesh) return;
    const TVertexBuffer* vertices = mesh->GetVertexSource();
    ABitmap->Clear(MakeAlphaColor(0, 0, 0, 255));
    TBitmapData data;
    if (!vertices || !ABitmap->Map(TMapAccess::Write, data)) return;
    struct TUnmap {
        TBitmap* Bitmap;
        TBitmapData& Data;
        ~TUnmap() { Bitmap->Unmap(Data); }
    } unmap{ABitmap, data};

    const int width = ABitmap->Width(), height = ABitmap->Height();
    const auto& indices = AJointRef->Indices();
    const auto& weights = AJointRef->Weights();
    for (size_t k = 0; k < indices.size() && k < weights.size(); ++k) {
        const int32_t v = indices[k];
        if (v < 0 || v >= vertices->Length())
            throw Exception(Format("TSkinDef.DrawJointWeights - invalid vertex %d of %d", v, vertices->Length()));
        const TPointF uv = vertices->TexCoord0(v);
        const auto pixel = [](float coord, int size) {
            const double scaled = std::nearbyint(double(coord) * size);
            return static_cast<int>(std::clamp(std::isfinite(scaled) ? scaled : 0.0, 0.0, double(size - 1)));
        };
        const int x = pixel(uv.X, width), y = pixel(uv.Y, height);
        double add = std::floor(double(weights[k]) * 255);
        add = std::isfinite(add) ? std::fmod(add, 256.0) : 0;
        if (add < 0) add += 256;
        const TAlphaColor c = data.GetPixel(x, y);
        const auto red = static_cast<uint8_t>((RedOf(c) + static_cast<int>(add)) & 0xFF);
        data.SetPixel(x, y, MakeAlphaColor(red, GreenOf(c), BlueOf(c), AlphaOf(c)));
    }
}

void TSkinDef::SaveJointWeightMaps(const std::string& APath, int ASize) const
{
    if (FLinkedJoints.empty()) return;
    static constexpr int Sizes[] = {16, 32, 128, 256, 512, 1024, 2048, 4096};
    if (std::find(std::begin(Sizes), std::end(Sizes), ASize) == std::end(Sizes)) ASize = 256;
    const TOwned<TBitmap> bitmap = MakeOwned<TBitmap>(ASize, ASize);
    const std::string folder = TPath::IncludeTrailingPathDelimiter(APath);
    for (const auto& ref : FLinkedJoints) {
        DrawJointWeights(ref.get(), bitmap.get());
        bitmap->SaveToFile(folder + FileNameOfId(ref->Id()) + ".jpg");
    }
}

void TSkinDef::CalculateInverseBindTransformMatrix(const TMatrix3D&) { throw Exception("TODO: not working yet!"); }

int64_t TSkinDef::GetSize() const
{
    return TTransformDef::GetSize() + static_cast<int64_t>(sizeof(FLinkedJoints)) +
           8 * static_cast<int64_t>(FLinkedJoints.size()) + 64 * static_cast<int64_t>(FBindPoses.size());
}

std::unique_ptr<TJSONObject> TSkinDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    obj->AddPair("Controller", IdOf(dynamic_cast<const TControllerDef*>(GetOwnerRef())));
    auto linked = std::make_unique<TJSONArray>();
    for (const auto& ref : FLinkedJoints) linked->Add(ref->ToJSON());
    obj->AddPair("LinkedJoints", std::move(linked));
    auto skeletons = std::make_unique<TJSONArray>();
    for (const TJointRefDef* ref : FSkeletons) skeletons->Add(ref->Id());
    obj->AddPair("Skeletons", std::move(skeletons));
    obj->AddPair("BindShapeMatrix", Matrix3DToString(FBindShapeMatrix, nullptr, ' '));
    auto poses = std::make_unique<TJSONArray>();
    for (const TMatrix3D& pose : FBindPoses) poses->Add(Matrix3DToString(pose, nullptr, ' '));
    obj->AddPair("BindPoses", std::move(poses));
    return obj;
}

void TSkinDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    try {
        ReadSkin(AModel, AValue);
    } catch (const Exception& e) {
        throw Exception(Format("failed to load skin definition %s - %s", Id(), e.Message()));
    }
}

TJointDef* TSkinDef::FindModelJoint(TModelDef* AModel, const std::string& AId, const char* AMessage) const
{
    const auto& services = ModelDefServices();
    if (!AModel || !services.FindJointById) throw EAbort("model not assigned in controller-mesh");
    TJointDef* joint = services.FindJointById(AModel, AId);
    if (!joint) throw EAbort(Format(AMessage, AId));
    return joint;
}

void TSkinDef::ReadSkin(TModelDef* AModel, const TJSONObject& AValue)
{
    auto* controller = dynamic_cast<TControllerDef*>(GetOwnerRef());
    if (const TJSONArray* linked = JSONGetArray(AValue, "LinkedJoints"))
        for (const auto& element : *linked) {
            const auto* object = element->TryAs<TJSONObject>();
            if (!object) throw EAbort("invalid json value");
            if (!AModel) throw EAbort("model not assigned in controller-mesh");
            if (!JSONHasKeyOfClass<TJSONString>(*object, "Joint")) throw EAbort("invalid json value for \"Joint\"");
            TJointDef* joint = FindModelJoint(AModel, JSONGetString(*object, "Joint", ""), "joint %s not found in model");
            LinkJoint(new TJointRefDef(joint, controller, false))->FromJSON(AModel, *object);
        }

    const auto addSkeleton = [&](const std::string& AId) {
        TJointDef* joint = FindModelJoint(AModel, AId, "skeleton joint %s not found in model");
        FSkeletons.push_back(new TJointRefDef(joint, controller, true));
    };
    if (const TJSONValue* skeleton = AValue.GetValue("Skeleton"); skeleton && skeleton->Kind() == TJSONValue::TKind::String)
        addSkeleton(skeleton->Value());
    if (const TJSONValue* skeletons = AValue.GetValue("Skeletons"))
        if (const auto* array = skeletons->TryAs<TJSONArray>())
            for (const auto& element : *array)
                if (element->Kind() == TJSONValue::TKind::String) addSkeleton(element->Value());

    FBindShapeMatrix = JSONGetMatrix3D(AValue, "BindShapeMatrix", FBindShapeMatrix);
    if (const TJSONArray* poses = JSONGetArray(AValue, "BindPoses")) {
        // Bind poses are numbered like the linked joints: a different count
        // would leave joints without a pose or poses without a joint.
        if (poses->Count() != 0 && static_cast<size_t>(poses->Count()) != FLinkedJoints.size())
            throw Exception(Format("\"BindPoses\" holds %d matrices for %d linked joints", poses->Count(),
                                   int64_t(FLinkedJoints.size())));
        FBindPoses.resize(static_cast<size_t>(poses->Count()));
        for (int i = 0; i < poses->Count(); ++i) FBindPoses[size_t(i)] = StringToMatrix3D(poses->Items(i)->Value());
    }
}

// ---- TArmatureDef ----

TArmatureDef::TArmatureDef(TModelDef* AModel) : TTransformDef(nullptr)
{
    const auto& services = ModelDefServices();
    if (AModel && services.Root) DoSetOwner(services.Root(AModel));
    SetId("default");
}

TArmatureDef::~TArmatureDef()
{
    FRoot.reset();
    FControllers.clear();
}

TModelDef* TArmatureDef::Model() const
{
    TCustomDef* owner = GetOwnerRef();
    if (!owner) return nullptr;
    const auto& services = ModelDefServices();
    TModelDef* model = services.AsModel ? services.AsModel(owner) : nullptr;
    if (!model) throw EInvalidCast();
    return model;
}

void TArmatureDef::SetRoot(TJointDef* AValue)
{
    if (AValue != FRoot.get()) FRoot.reset(AValue);
}

TJointDef* TArmatureDef::FindJointById(std::string_view AId) const
{
    if (!FRoot) return nullptr;
    if (FRoot->Id() == AId) return FRoot.get();
    return FRoot->FindJointById(AId);
}

void TArmatureDef::AddController(TControllerDef* ACtrl)
{
    if (std::find(FControllers.begin(), FControllers.end(), ACtrl) == FControllers.end()) FControllers.push_back(ACtrl);
}

TControllerDef* TArmatureDef::FindControllerByTransform(const TTransformDef* ATransform) const
{
    for (TControllerDef* controller : FControllers)
        if (controller->Target() == ATransform) return controller;
    return nullptr;
}

TModelDef* TArmatureDef::GetModel() const
{
    const auto& services = ModelDefServices();
    if (TCustomDef* owner = GetOwnerRef(); owner && services.AsModel)
        if (TModelDef* model = services.AsModel(owner)) return model;
    return TTransformDef::GetModel();
}

std::unique_ptr<TJSONObject> TArmatureDef::ToJSON() const
{
    auto obj = TTransformDef::ToJSON();
    if (FRoot) obj->AddPair("Root", FRoot->ToJSON());
    else obj->AddPair("Root", std::make_unique<TJSONNull>());
    auto controllers = std::make_unique<TJSONArray>();
    for (const TControllerDef* controller : FControllers) controllers->Add(controller->Id());
    obj->AddPair("Controllers", std::move(controllers));
    return obj;
}

void TArmatureDef::FromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    TTransformDef::FromJSON(AModel, AValue);
    if (const TJSONValue* root = AValue.GetValue("Root"))
        if (const auto* object = root->TryAs<TJSONObject>()) {
            SetRoot(new TJointDef(this));
            FRoot->FromJSONTree(AModel, *object);
        }
}

bool TArmatureDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue)
{
    const TJSONValue* controllers = AValue.GetValue("Controllers");
    const auto* array = controllers ? controllers->TryAs<TJSONArray>() : nullptr;
    if (!array) return true;
    const auto& services = ModelDefServices();
    for (const auto& element : *array) {
        if (element->Kind() != TJSONValue::TKind::String) continue;
        // An Id that names no controller fails the reading.
        if (!AModel || !services.FindControllerById)
            throw Exception(Format("controller with id \"%s\" not found", element->Value()));
        AddController(services.FindControllerById(AModel, element->Value(), true));
    }
    return true;
}

} // namespace korvane
