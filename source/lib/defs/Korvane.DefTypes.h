#pragma once
// The definition model's base: TCustomDef and its JSON conventions, the
// property bag TProperties with its tagged-value codec, and TTransformDef, the
// node of a definition tree.
//
// A definition is one JSON object whose first pairs are "Type" (the qualified
// class name, "Korvane.DefTypes.TMeshDef") and "Id"; subclasses append their
// pairs after their base's. Values are read through the read-with-default
// operations of TCustomDef: a missing pair or a value of the wrong kind gives
// the default.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Korvane.DefTypes.Utils.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.JSON.h"
#include "Platform.Math3D.h"
#include "Platform.Rtti.h"
#include "Platform.SysUtils.h"

namespace korvane {

class TModelDef;
class TTransformDef;
class TMeshDef;
class TMaterialDef;
class TBehaviourDef;
class TLightDef;
class TCameraDef;
class TJointDef;
class TControllerDef;
class TKorvaneAsset;
class TKorvaneAssetsPackage;
class TKorvaneTextureAsset;

// One uniform of a uniform buffer. The definition model only stores it (as a
// property value) and transports it.
struct TUBOUniformDef {
    std::string Name;
    int32_t DataType = 0;
    int32_t Layout = 0;
    int32_t ArrayLength = 0;
    std::string ValueAsString;
    friend bool operator==(const TUBOUniformDef&, const TUBOUniformDef&) = default;
};

// A bag of named tagged values; keys compare exactly, letter case included.
class TProperties {
public:
    using TMap = std::map<std::string, TValue, std::less<>>;

    int Count() const { return static_cast<int>(FItems.size()); }
    // Raises EListError "Duplicates not allowed" when the key is there already.
    void Add(const std::string& Key, const TValue& Value);
    void AddOrSetValue(const std::string& Key, const TValue& Value) { FItems[Key] = Value; }
    bool ContainsKey(std::string_view Key) const { return FItems.find(Key) != FItems.end(); }
    bool TryGetValue(std::string_view Key, TValue& Value) const;
    // Raises EListError "Item not found" for a missing key.
    const TValue& Items(std::string_view Key) const;
    void Remove(std::string_view Key);
    void Clear() { FItems.clear(); }
    TMap::const_iterator begin() const { return FItems.begin(); }
    TMap::const_iterator end() const { return FItems.end(); }

    // The instance size plus 44 bytes per entry.
    int64_t GetSize() const;
    // Appends "Properties": an array of {"Name", "Value"} objects (also when empty).
    void ToJSON(TJSONObject& AJSON) const;
    // Replaces the content from the array in "Properties"; anything else there leaves the bag empty.
    void FromJSON(const TJSONObject& AValue);

private:
    TMap FItems;
};

// The unit of every definition class: the first part of their qualified names.
inline constexpr const char* DefTypesUnitName = "Korvane.DefTypes";

class TCustomDef : public TObject {
    KORVANE_CLASS(TCustomDef, TObject)

    TCustomDef() = default;
    // "Korvane.DefTypes." followed by the class name: the "Type" of the definition's JSON.
    std::string QualifiedClassName() const { return ClassType()->QualifiedClassName(); }

    const std::string& Id() const { return FId; }
    void SetId(std::string AId) { FId = std::move(AId); }

    // Estimated memory footprint: the instance size plus two bytes per UTF-16 unit of Id.
    virtual int64_t GetSize() const;
    // The asset package holding the definition's assets; the base raises.
    virtual TObject* GetAssetsPackage() const;
    // A new JSON object describing the definition: "Type", "Id", then the subclasses' pairs.
    virtual std::unique_ptr<TJSONObject> ToJSON() const;
    // Fills the definition from AValue; AModel is the model being read (may be nullptr).
    virtual void FromJSON(TModelDef* AModel, const TJSONObject& AValue);
    // Resolves references by Id once the whole model is read; true when resolved.
    virtual bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue);

    // Read-with-default operations: each looks up the first pair named AName
    // and gives ADefault when it is missing or its value is not accepted.
    static std::string JSONGetText(const TJSONObject& AJSON, std::string_view AName, const std::string& ADefault);
    static std::string JSONGetString(const TJSONObject& AJSON, std::string_view AName, const std::string& ADefault);
    static double JSONGetFloat(const TJSONObject& AJSON, std::string_view AName, double ADefault);
    // A single-precision field: a number beyond the float range is an error
    // rather than an infinity that no writer could store again.
    static float JSONGetSingle(const TJSONObject& AJSON, std::string_view AName, float ADefault);
    // A number whose text holds "." or "," is rounded (halves to even); any
    // other text must convert as a 32-bit decimal integer, else EConvertError.
    static int32_t JSONGetInteger(const TJSONObject& AJSON, std::string_view AName, int32_t ADefault);
    static bool JSONGetBoolean(const TJSONObject& AJSON, std::string_view AName, bool ADefault);
    static TPoint3D JSONGetPoint3D(const TJSONObject& AJSON, std::string_view AName, const TPoint3D& ADefault);
    static TMatrix3D JSONGetMatrix3D(const TJSONObject& AJSON, std::string_view AName, const TMatrix3D& ADefault);
    static TAlphaColorF JSONGetColorF(const TJSONObject& AJSON, std::string_view AName, const TAlphaColorF& ADefault);
    // Raises EConvertError when the text is not a GUID in the registry form.
    static TGUID JSONGetGUID(const TJSONObject& AJSON, std::string_view AName, const TGUID& ADefault);
    static bool JSONHasKey(const TJSONObject& AJSON, std::string_view AName);
    // True when the pair exists and its value is a TClass (TJSONObject,
    // TJSONArray, TJSONString, TJSONNumber, TJSONBool, TJSONTrue, TJSONFalse,
    // TJSONNull); a number also counts as a string, true and false as booleans.
    template <typename TClass>
    static bool JSONHasKeyOfClass(const TJSONObject& AJSON, std::string_view AName)
    {
        const TJSONValue* v = AJSON.GetValue(AName);
        return v && v->TryAs<TClass>() != nullptr;
    }

    // The tagged-value codec of property values. Reading a single-precision
    // record (points, vectors, matrices, float colours) raises EConvertError
    // for an element beyond the range of Single.
    static std::unique_ptr<TJSONValue> RttiValueToJSON(const TValue& AValue);
    static TValue JSONToRttiValue(const TJSONValue& AValue);

protected:
    // sizeof of the most-derived class; every definition class overrides it.
    virtual int64_t InstanceSize() const { return sizeof(TCustomDef); }

private:
    std::string FId;
};

// What the tree nodes need of the model definition, which is declared with the
// mesh definitions built on this unit: its unit installs these when it starts.
// Until then no definition is a model and no owner id can be resolved.
struct TModelDefServices {
    // ADef as a model definition, or nullptr.
    TModelDef* (*AsModel)(TCustomDef* ADef) = nullptr;
    // The model's FindDefById.
    TCustomDef* (*FindDefById)(TModelDef* AModel, const std::string& AId) = nullptr;
    // The model as the root node of its tree.
    TTransformDef* (*Root)(TModelDef* AModel) = nullptr;
    // The model's FindMaterialById.
    TMaterialDef* (*FindMaterialById)(TModelDef* AModel, const std::string& AId) = nullptr;
    // Puts ADef with the JSON object it was read from on the model's late-resolution list.
    void (*AddLateResolve)(TModelDef* AModel, TCustomDef* ADef, const TJSONObject& AValue) = nullptr;
    // The model's AddMaterial: the model's table owns AMaterial from then on; an
    // Id already there raises the table's duplicate-key error (the table then
    // does not take AMaterial).
    void (*AddMaterial)(TModelDef* AModel, const std::string& AId, TMaterialDef* AMaterial) = nullptr;
    TBehaviourDef* (*FindBehaviourById)(TModelDef* AModel, const std::string& AId) = nullptr;
    // The model's AddLight and AddCamera: its lists own the definition from then on.
    void (*AddLight)(TModelDef* AModel, TLightDef* ALight) = nullptr;
    void (*AddCamera)(TModelDef* AModel, TCameraDef* ACamera) = nullptr;
    // Texture assets of the model's materials: RegisterTextureAsset adds the
    // asset unless an equal one is there (the model frees stand-alone assets);
    // TryGetTextureAsset answers an equal asset the model holds, or nullptr.
    void (*RegisterTextureAsset)(TModelDef* AModel, TKorvaneTextureAsset* AAsset) = nullptr;
    TKorvaneTextureAsset* (*TryGetTextureAsset)(TModelDef* AModel, TKorvaneTextureAsset* AAsset) = nullptr;
    // The package the model was loaded from and its model asset (both may be nullptr).
    TKorvaneAssetsPackage* (*Package)(TModelDef* AModel) = nullptr;
    TKorvaneAsset* (*Asset)(TModelDef* AModel) = nullptr;
    // The model's source file name.
    std::string (*Filename)(TModelDef* AModel) = nullptr;
    // The model's FindJointById: the first joint of that Id among its armatures, or nullptr.
    TJointDef* (*FindJointById)(TModelDef* AModel, const std::string& AId) = nullptr;
    // The model's FindControllerById: Id or "#" and Id, ignoring case; without
    // a match raises "controller with id "%s" not found" or gives nullptr.
    TControllerDef* (*FindControllerById)(TModelDef* AModel, const std::string& AId, bool AThrowException) = nullptr;
};
TModelDefServices& ModelDefServices();

// An owning list of tree nodes: removing or clearing frees them.
class TTransformDefList {
public:
    TTransformDefList() = default;
    TTransformDefList(const TTransformDefList&) = delete;
    TTransformDefList& operator=(const TTransformDefList&) = delete;
    ~TTransformDefList() { Clear(); }

    int Count() const { return static_cast<int>(FItems.size()); }
    TTransformDef* Items(int Index) const;
    int IndexOf(const TTransformDef* Item) const;
    int Add(TTransformDef* Item);
    // Removes and frees the item; nothing when it is not in the list.
    void Remove(TTransformDef* Item);
    // Removes the item without freeing it.
    TTransformDef* Extract(TTransformDef* Item);
    void Clear();
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TTransformDef*> FItems;
};

// Called for each child while a tree is walked: (parent, index of the child in
// the parent's list, child). False stops the walk of that parent's list.
using TTransformTraverseProc = std::function<bool(TTransformDef* AParent, int AIndex, TTransformDef* AChild)>;

class TTransformDef : public TCustomDef {
    KORVANE_CLASS(TTransformDef, TCustomDef)

    // The owner is not owned, and the new node is not added to its children.
    explicit TTransformDef(TCustomDef* AOwner);
    ~TTransformDef() override;

    TProperties& Properties() { return *FProperties; }
    const TProperties& Properties() const { return *FProperties; }
    const TMatrix3D& Transform() const { return FTransform; }
    void SetTransform(const TMatrix3D& AValue) { FTransform = AValue; }
    TTransformDef* Owner() const { return GetOwner(); }
    // The owner's Id as last set or read; it stays when the owner cannot be found.
    const std::string& OwnerId() const { return FOwnerId; }
    // The child list; nullptr until the first child is added.
    TTransformDefList* Children() const { return FChildren.get(); }
    int32_t CopyCount() const { return FCopyCount; }

    // Stores the owner and takes its Id (empty for nullptr).
    virtual void DoSetOwner(TCustomDef* ADef);
    // The owner as a transform definition; EInvalidCast when it is of another class.
    virtual TTransformDef* GetOwner() const;
    virtual void SetOwner(TTransformDef* AValue);
    // The Id made a unique identifier, with "_Copy<n>" once components were built from it.
    virtual std::string GetQualifiedComponentName() const;
    // The model above the node: the owner when it is one, else the owner's model.
    virtual TModelDef* GetModel() const;
    virtual TCustomDef* GetOwnerRef() const { return FOwner; }
    virtual void SetOwnerRef(TCustomDef* AValue);
    // Appends the node (the list takes ownership) and returns its index; -1
    // when the list holds it already. The child's owner is not changed.
    virtual int AddChild(TTransformDef* ATransform);
    // Removes the node and frees it.
    virtual void RemoveChild(TTransformDef* ATransform);
    // Removes the node without freeing it.
    virtual void ExtractChild(TTransformDef* ATransform);
    // Frees every child; the list stays, empty.
    virtual void ClearChildren();
    // AddChild of the mesh; mesh definitions also keep track of their vertex groups.
    virtual void AddMesh(TMeshDef* AMesh);
    // The node below this one whose Id, or "#" and its Id, equals AId ignoring
    // the case of A-Z; with several matches the one found last. Without a
    // match: raises "transform with id "%s" not found" or gives nullptr.
    virtual TTransformDef* FindChildById(std::string_view AId, bool AThrowException);
    // The owner's absolute transformation times the local transform.
    virtual TMatrix3D GetAbsoluteTransformation() const;
    virtual TMatrix3D EvaluateGlobalTransformation() const { return FTransform; }

    void IncCopyCount() { ++FCopyCount; }
    // Calls AProc for every child in list order, descending into a child after
    // it when ADeepTraverse is set.
    void Traverse(bool ADeepTraverse, const TTransformTraverseProc& AProc);

    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Reads the node and appends the children of "Children" behind the ones
    // there already. A child it creates goes straight into the list, without
    // AddChild's duplicate scan: a new node cannot be there yet, and the scan
    // would make reading quadratic in the number of siblings.
    void FromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TTransformDef); }
    // The owner's Id alone, for nodes whose owner is resolved later.
    void SetOwnerId(std::string AId) { FOwnerId = std::move(AId); }

private:
    std::string FOwnerId;
    TCustomDef* FOwner = nullptr;
    TMatrix3D FTransform = TMatrix3D::Identity();
    std::unique_ptr<TProperties> FProperties;
    std::unique_ptr<TTransformDefList> FChildren;
    int32_t FCopyCount = 0;
};

class TTransformDefMetaClass;
// The class that reads a child of the given "Type": the row of the child-class
// table with that exact name, or TMeshDef for any other name. Raises
// EClassNotFound when that class is not registered.
const TTransformDefMetaClass& TransformDefChildClass(const std::string& AType);

// The metaclass of tree node classes: it holds the constructor that
// TTransformDef::FromJSON runs for a child of that class.
class TTransformDefMetaClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // A new node of the class with AOwner as owner; raises EInvalidOperation
    // for a class that cannot be made that way.
    virtual TTransformDef* CreateDef(TCustomDef* AOwner) const;

protected:
    std::function<TTransformDef*(TCustomDef*)> FCreateDef;
};

// The metaclass object of a tree node class T: define T::StaticClass() with it
// and register the class (RegisterClass) so that children of its "Type" can be read.
template <class T>
class TTransformDefClassInfo : public TClassInfo<T, TTransformDefMetaClass> {
public:
    explicit TTransformDefClassInfo(std::string AUnitName = DefTypesUnitName)
        : TClassInfo<T, TTransformDefMetaClass>(std::move(AUnitName))
    {
        if constexpr (!std::is_abstract_v<T>)
            this->FCreateDef = [](TCustomDef* AOwner) -> TTransformDef* { return new T(AOwner); };
    }
};

} // namespace korvane
