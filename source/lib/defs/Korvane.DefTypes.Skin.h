#pragma once
// Skeletal skinning: armatures hold trees of joints; a controller binds a skin
// to the mesh it deforms; the skin lists the joint references that influence
// the mesh, each with the vertices it moves and their weights, and builds the
// per-vertex joint records that skinning on the CPU uses.
//
// Made with their own constructors, skins, joints and armatures start as
// described below; made as an element of a node's "Children" they start with
// every field zero and belong to their parent alone.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Korvane.DefTypes.Light.h"
#include "Korvane.DefTypes.Mesh.h"

namespace korvane {

class TArmatureDef;
class TControllerDef;
class TJointDef;
class TJointRefDef;
class TSkinDef;

// The most joints that may move one vertex.
inline constexpr int MaxJointsPerVertex = 16;

// Binds a skin to the definition it deforms.
class TControllerDef : public TCustomDef {
    KORVANE_CLASS(TControllerDef, TCustomDef)

    // Index -1, no skin.
    explicit TControllerDef(TTransformDef* ATarget);
    ~TControllerDef() override;

    // The position in the model's controller list; -1 until the model adds it.
    int Index() const { return FIndex; }
    void SetIndex(int AValue) { FIndex = AValue; }
    TTransformDef* Target() const { return FTarget; }
    void SetTarget(TTransformDef* AValue) { FTarget = AValue; }
    TSkinDef* Skin() const { return FSkin.get(); }
    // Takes ownership; the previous skin is freed.
    void SetSkin(TSkinDef* AValue);

    // The skin's references; raises when there is no skin.
    TJointRefDef* GetJointRef(const std::string& AId) const;
    TJointRefDef* GetJointRef(const TJointDef* AJoint) const;

    int64_t GetSize() const override;
    // "Type", "Id", "Target" (the target's Id or ""), "Skin" (object or null).
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Reads the skin of "Skin"; the armatures of its skeleton joints then hold
    // this controller. "Target" is the model's to resolve.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TControllerDef); }

private:
    int FIndex = -1;
    TTransformDef* FTarget = nullptr;
    TOwned<TSkinDef> FSkin;
};

// One joint of a skeleton; its owner is its armature, its children are held by Id.
class TJointDef : public TTransformDef {
    KORVANE_CLASS(TJointDef, TTransformDef)

    using TJointMap = std::map<std::string, TOwned<TJointDef>, std::less<>>;

    // With the armature as owner; the armature counts the joint and the new
    // count becomes its ArmatureIndex (so the first joint gets 1).
    explicit TJointDef(TArmatureDef* AArmature);
    // Every field zero; no armature number.
    TJointDef(TCustomDef* AOwner, TChildDefConstruction) : TTransformDef(AOwner) {}
    ~TJointDef() override;

    // The owner as an armature; EInvalidCast when it is of another class.
    TArmatureDef* Armature() const;
    void SetArmature(TArmatureDef* AValue);
    TArmatureDef* Humanoid() const { return Armature(); }
    TJointDef* Parent() const { return FParent; }
    void SetParent(TJointDef* AValue) { FParent = AValue; }
    // The child joints; nullptr until the first AddJoint.
    const TJointMap* Joints() const { return FJoints.get(); }
    int ArmatureIndex() const { return FArmatureIndex; }
    int HumanoidIndex() const { return FArmatureIndex; }

    // Adds AJoint under its Id and takes ownership; false, and AJoint freed,
    // when a child of that Id is there already.
    bool AddJoint(TJointDef* AJoint);
    // Depth first over the descendants (never the joint itself), children in
    // Id order; nullptr when none has the Id.
    TJointDef* FindJointById(std::string_view AId) const;
    // All descendants, not only the children.
    int JointsCount() const;

    // The armature's model; nullptr without armature.
    TModelDef* GetModel() const override;
    // The joint's transform times its parent's global transformation.
    TMatrix3D EvaluateGlobalTransformation() const override;
    int64_t GetSize() const override;
    // The transform pairs, "Parent" (the parent's Id or null) and, once the
    // joint has a child map, "Joints" with the children in Id order.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Reads the joint and, depth first, its "Joints" as children of the same
    // armature. The inherited FromJSON reads the transform alone.
    virtual void FromJSONTree(TModelDef* AModel, const TJSONObject& AValue);

protected:
    int64_t InstanceSize() const override { return sizeof(TJointDef); }

private:
    TJointDef* FParent = nullptr;
    std::unique_ptr<TJointMap> FJoints;
    int FArmatureIndex = 0;
};

class TJointRefDef;
// Makes a joint reference of a class (the class-reference constructor).
using TJointRefDefClass = TJointRefDef* (*)(TJointDef* AJoint, TControllerDef* AController, bool AIsStandalone);

// A joint as it influences a skin: the vertices it moves with their weights,
// limits and its inverse bind matrix.
class TJointRefDef : public TCustomDef {
    KORVANE_CLASS(TJointRefDef, TCustomDef)

    // Takes the joint's Id; LinkIndex -1, identity inverse bind matrix, not available.
    TJointRefDef(TJointDef* AJoint, TControllerDef* AController, bool AIsStandalone);

    int LinkIndex() const { return FLinkIndex; }
    bool IsStandalone() const { return FIsStandalone; }
    TJointDef* Joint() const { return FJoint; }
    TControllerDef* Controller() const { return FController; }
    // The controller's target; nullptr without controller.
    TTransformDef* Target() const;
    const std::vector<float>& Weights() const { return FWeights; }
    void SetWeights(std::vector<float> AValue) { FWeights = std::move(AValue); }
    const std::vector<int32_t>& Indices() const { return FIndices; }
    void SetIndices(std::vector<int32_t> AValue) { FIndices = std::move(AValue); }
    const std::vector<float>& LowerLimit() const { return FLowerLimit; }
    void SetLowerLimit(std::vector<float> AValue) { FLowerLimit = std::move(AValue); }
    const std::vector<float>& UpperLimit() const { return FUpperLimit; }
    void SetUpperLimit(std::vector<float> AValue) { FUpperLimit = std::move(AValue); }
    const TMatrix3D& InvBindMatrix() const { return FInvBindMatrix; }
    // Also marks the matrix available.
    void SetInvBindMatrix(const TMatrix3D& AValue);
    bool IsInvBindMatrixAvailable() const { return FInvBindMatAvail; }

    // True when the joint is that of one of ASkin's skeleton references;
    // raises "armature parameter expected - parameter is empty" without skin.
    bool IsSkeletonRoot(const TSkinDef* ASkin) const;
    TMatrix3D EvaluateGlobalTransformation() const;
    // ALength zero weights and indices; no limits.
    void ClearWeightsAndIndices(int ALength);
    // Resizes weights and indices, keeping the leading entries.
    void AdjustLengthOfWeightsAndIndices(int ALength);
    // The inverse bind matrix becomes the skin's bind pose at this reference's
    // position (found by Id; logged and left when missing); without a skin the
    // identity, not available.
    virtual void ApplyBindPose(const TSkinDef* ASkin);

    int64_t GetSize() const override;
    // "Type", "Id", "Joint", "Controller", the four arrays as number texts,
    // "InvBindMatrix" and "InvBindMatAvail".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Reads the arrays, the matrix and its flag; "Joint" and "Controller" are
    // the skin's to resolve. Raises when "Weights" holds fewer values than
    // "Indices" has vertices.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TJointRefDef); }

private:
    friend class TSkinDef;
    int FLinkIndex = -1;
    bool FIsStandalone = false;
    TJointDef* FJoint = nullptr;
    TControllerDef* FController = nullptr;
    std::vector<float> FWeights;
    std::vector<int32_t> FIndices;
    std::vector<float> FLowerLimit, FUpperLimit;
    TMatrix3D FInvBindMatrix = TMatrix3D::Identity();
    bool FInvBindMatAvail = false;
};

// The joints that move one vertex, with its rest position.
struct TVertexJoints {
    TPoint3D Position;
    uint8_t JointsCount = 0;
    std::array<TJointDef*, MaxJointsPerVertex> JointsArray{};
    std::array<float, MaxJointsPerVertex> WeightsArray{};

    // Every field zero (AIndex has no effect).
    static TVertexJoints Create(int AIndex);
    void Free() { *this = TVertexJoints(); }
    // True when AJoint stands in any of the slots, used or not.
    bool JointExists(const TJointDef* AJoint) const;
    // Nothing for a joint already there; raises "TVertexJoints.Add(): failed
    // to add joint for vertex - range exceeded - too many joints on a single
    // vertex" when every slot is taken.
    void Add(TJointDef* AJoint, float AWeight);
};
using PVertexJoints = TVertexJoints*;

// One joint record per vertex of a skinned mesh.
class TVertexJointsList : public TObject {
    KORVANE_CLASS(TVertexJointsList, TObject)

    // ACapacity zeroed records.
    TVertexJointsList(TControllerDef* AController, int ACapacity);
    ~TVertexJointsList() override { Clear(); }

    TControllerDef* Controller() const { return FController; }
    int Count() const { return static_cast<int>(FItems.size()); }
    // An index outside 0 .. Count - 1 raises EListError.
    TVertexJoints GetItem(int AIndex) const { return FItems[CheckIndex(AIndex)]; }
    // Valid until the list changes length.
    PVertexJoints GetItemPtr(int AIndex) { return &FItems[CheckIndex(AIndex)]; }
    void SetItem(int AIndex, const TVertexJoints& AValue);
    void Clear();

private:
    size_t CheckIndex(int AIndex) const;
    TControllerDef* FController = nullptr;
    std::vector<TVertexJoints> FItems;
};

class TSkinDef : public TTransformDef {
    KORVANE_CLASS(TSkinDef, TTransformDef)

    using TJointRefList = std::vector<TOwned<TJointRefDef>>;

    // With the controller as owner; identity bind-shape matrix.
    explicit TSkinDef(TControllerDef* AController);
    // Every field zero (also the bind-shape matrix).
    TSkinDef(TCustomDef* AOwner, TChildDefConstruction) : TTransformDef(AOwner) {}
    ~TSkinDef() override;

    // The owner as a controller; EInvalidCast when it is of another class.
    TControllerDef* Controller() const;
    void SetController(TControllerDef* AValue) { SetOwnerRef(AValue); }
    // The controller's target; nullptr without controller.
    TTransformDef* Target() const;
    void SetTarget(TTransformDef* AValue);
    const TJointRefList& LinkedJoints() const { return FLinkedJoints; }
    const std::vector<TJointRefDef*>& Skeletons() const { return FSkeletons; }
    // A standalone reference is freed by the skin.
    void AddSkeleton(TJointRefDef* ARef) { FSkeletons.push_back(ARef); }
    const TMatrix3D& BindShapeMatrix() const { return FBindShapeMatrix; }
    void SetBindShapeMatrix(const TMatrix3D& AValue) { FBindShapeMatrix = AValue; }
    const std::vector<TMatrix3D>& BindPoses() const { return FBindPoses; }
    std::vector<TMatrix3D>& BindPoses() { return FBindPoses; }

    // Appends the reference (the skin owns it) and sets its LinkIndex; nullptr stays nullptr.
    TJointRefDef* LinkJoint(TJointRefDef* AJointRef);
    // The joint's reference, made with ARefClass (TJointRefDef when nullptr) when missing.
    TJointRefDef* LinkJoint(TJointDef* AJoint, TJointRefDefClass ARefClass = nullptr);
    // By the joint's Id (case-sensitive) or the joint itself.
    TJointRefDef* GetJointRef(std::string_view AId) const;
    TJointRefDef* GetJointRef(const TJointDef* AJoint) const;
    // By the reference's own Id or by its joint; -1 when missing.
    int GetJointIndex(std::string_view AId) const;
    int GetJointIndex(const TJointDef* AJoint) const;
    // Grows the bind poses to AIndex + 1 entries; never shrinks.
    void AdjustBindPosesArrayLength(int AIndex);
    // New entries are zero matrices.
    void SetBindPosesArrayLength(int ACount);
    bool BindShapeMatrixIsIdentity() const;
    void ApplyBindPoses();
    // The references' Ids joined by ", ".
    std::string LinkedJointsToString() const;
    // Entry i: ATransform x (joint i's transform x inverse of bind pose i).
    // Raises when the array or the bind poses hold fewer entries than there
    // are linked joints.
    void GetSkeletonJointTransformations(std::vector<TMatrix3D>& AJointTransfArr, const TMatrix3D& ATransform) const;
    // One record per vertex of the mesh (AMeshDef, else the target) holding
    // its rest position; nullptr for a target that is no mesh or has no
    // sources; raises "missing target definition in skin `%s`" without either.
    TVertexJointsList* GenerateVertexJoints(const TMatrix3D& ABindShapeMatrix, TMeshDef* AMeshDef) const;
    // Adds every reference's joint and weight to the records of its vertices.
    void ApplyVertexJointsRelation(TVertexJointsList* AVertices) const;
    // Scales each vertex's weights to sum 1; raises "TSkinDef.NormalizeJointVertexWeights:
    // failed to normalize weights for vertex %d" when that fails.
    void NormalizeJointVertexWeights(float AWeightTolerance);
    // 0 when the last vertex tested is attached with weights summing to 1 (see the codes
    // in the implementation); problems go to the debug log; -1 after an exception.
    int CheckMeshVerticesToBeAttachedCorrectly(float AWeightTolerance) const;
    // The reference's weights as red intensity at its vertices' texture coordinates.
    void DrawJointWeights(const TJointRefDef* AJointRef, TBitmap* ABitmap) const;
    // One ASize x ASize JPEG per linked reference, named after its Id, into APath.
    void SaveJointWeightMaps(const std::string& APath, int ASize) const;
    // Not available: always raises "TODO: not working yet!".
    void CalculateInverseBindTransformMatrix(const TMatrix3D& ABindShapeMatrix);

    int64_t GetSize() const override;
    // The transform pairs, then "Controller", "LinkedJoints", "Skeletons",
    // "BindShapeMatrix" and "BindPoses".
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Failures after the transform reading are raised as "failed to load skin
    // definition %s - %s". A "BindPoses" array must hold one matrix per linked joint.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TSkinDef); }

private:
    // The reference of the joint named AId in AModel, made standalone for the skeletons.
    TJointDef* FindModelJoint(TModelDef* AModel, const std::string& AId, const char* AMessage) const;
    void ReadSkin(TModelDef* AModel, const TJSONObject& AValue);
    TMeshDef* TargetMesh() const;
    void FreeSkeletons();

    TJointRefList FLinkedJoints;
    std::vector<TJointRefDef*> FSkeletons;
    TMatrix3D FBindShapeMatrix;
    std::vector<TMatrix3D> FBindPoses;
};

// The skeleton of a model: one root joint and the controllers that skin with it.
class TArmatureDef : public TTransformDef {
    KORVANE_CLASS(TArmatureDef, TTransformDef)

    // Owned by the model (which adds it to its list itself); Id "default".
    explicit TArmatureDef(TModelDef* AModel);
    // Every field zero: no Id, no controllers.
    TArmatureDef(TCustomDef* AOwner, TChildDefConstruction) : TTransformDef(AOwner) {}
    ~TArmatureDef() override;

    // The owner as a model; EInvalidCast for an owner of another class.
    TModelDef* Model() const;
    TJointDef* Root() const { return FRoot.get(); }
    // Takes ownership; the previous root (and its tree) is freed.
    void SetRoot(TJointDef* AValue);
    // Not owned: the model owns the controllers.
    const std::vector<TControllerDef*>& Controllers() const { return FControllers; }
    // The number of joints created for this armature.
    int JointsCount() const { return FJointsCount; }

    // The root when its Id matches, else the root's search.
    TJointDef* FindJointById(std::string_view AId) const;
    // Appends unless it is there already.
    void AddController(TControllerDef* ACtrl);
    TControllerDef* FindControllerByTransform(const TTransformDef* ATransform) const;

    TModelDef* GetModel() const override;
    // The transform pairs, "Root" (object or null) and "Controllers" (their Ids).
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Reads the transform and the joint tree under "Root".
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;
    // Looks up the controllers of "Controllers"; an unknown Id fails the reading.
    bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TArmatureDef); }

private:
    friend class TJointDef;
    TOwned<TJointDef> FRoot;
    std::vector<TControllerDef*> FControllers;
    int FJointsCount = 0;
};

} // namespace korvane
