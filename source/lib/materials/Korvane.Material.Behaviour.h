#pragma once
// Material behaviours: plug-ins that extend the shaders and the per-draw data of
// a default material without subclassing it. Attached to a material (through an
// item of the material's behaviour collection) a behaviour adds nodes to the
// material's two shader builders, may supply a uniform block of its own that is
// registered with the material's program after "ShaderData", and is called on
// every apply of the material. The framework has no concrete behaviour;
// concrete ones implement the six operations that raise the abstract-call
// error here.

#include <cstdint>
#include <memory>
#include <string>

#include "Korvane.DefTypes.Meta.h"
#include "Korvane.Material.Default.Nodes.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Materials3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TShaderProgram;
class TKorvaneMaterialBehaviourItem;
class TKorvaneMaterialBehaviourCollection;

class TKorvaneMaterialBehaviour : public TComponent {
    KORVANE_CLASS(TKorvaneMaterialBehaviour, TComponent)

    // A new behaviour has a new GUID (registry form, with braces) as its identity.
    explicit TKorvaneMaterialBehaviour(TComponent* AOwner);
    ~TKorvaneMaterialBehaviour() override;

    const std::string& UniqueID() const { return FUniqueID; }
    void SetUniqueID(const std::string& AValue) { FUniqueID = AValue; }
    // Whether DoOnInitializeUniformBuffer has run (at the first apply of any material).
    bool Initialized() const { return FInitialized; }
    // The definition the behaviour stands for (not owned); how a material
    // definition's behaviour reference finds the behaviour again.
    TMaterialBehaviourDef* Def() const { return FDef; }
    void SetDef(TMaterialBehaviourDef* AValue) { FDef = AValue; }

    // The identity from / into a material behaviour definition's Id; another
    // kind of definition raises EInvalidCast.
    virtual void LoadFromDefinition(TCustomDef* ADef);
    virtual void StoreToDefinition(TCustomDef* ADef);

    // Called with the material as sender when the behaviour is attached to it / detached from it.
    TEvent<TObject*> OnAttached;
    TEvent<TObject*> OnDetached;

    // The object that identifies the behaviour to the shader nodes it creates.
    virtual TObject* GetReferenceID() { return this; }

    // True when the behaviour has a uniform block: its name in the shader, a
    // new block holding its data and the block's size in bytes. The caller
    // takes the block over.
    virtual bool DoOnRegisterUniformBuffer(std::string& AName, std::unique_ptr<uint8_t[]>& AUBO, int32_t& AUBOSize);
    // Called once before the first Apply; sets AInitialized.
    virtual void DoOnInitializeUniformBuffer(TMaterial* AMaterial, bool& AInitialized);
    // Adds the behaviour's defines and nodes to the builder of the stage.
    virtual void DoOnCreateShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind);
    // Called after the material has rebuilt the builder's text.
    virtual void DoOnUpdateShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind);
    // Removes what DoOnCreateShader added.
    virtual void DoOnRemoveShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind);
    // Called on every apply of the material; AItem->UBO() is the block the behaviour registered.
    virtual void Apply(TMaterial* AMaterial, TContext3D* AContext, TKorvaneMaterialBehaviourItem* AItem);

private:
    friend class TKorvaneMaterialBehaviourItem;
    [[noreturn]] void AbstractCall(const char* AName) const;

    TMaterialBehaviourDef* FDef = nullptr;
    std::string FUniqueID;
    bool FInitialized = false;
};

// Links one behaviour to the material that owns the item's collection.
class TKorvaneMaterialBehaviourItem : public TCollectionItem {
    KORVANE_CLASS(TKorvaneMaterialBehaviourItem, TCollectionItem)

    explicit TKorvaneMaterialBehaviourItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    std::string DisplayName() const override { return FName; }
    void SetDisplayName(const std::string& Value) override { FName = Value; }

    TKorvaneMaterialBehaviour* Behaviour() const { return FBehaviour; }
    // Detaches the behaviour held (its shader parts removed, OnDetached) and
    // attaches AValue (its shader parts created, OnAttached), then marks the
    // material's program for rebuilding. Nothing without a collection or a
    // material; raises EInvalidCast when the material is not a default material.
    void SetBehaviour(TKorvaneMaterialBehaviour* AValue);

    // The behaviour's uniform block (owned) and its size.
    uint8_t* UBO() const { return FUBO.get(); }
    int32_t UBOSize() const { return FUBOSize; }
    void SetUBO(std::unique_ptr<uint8_t[]> AUBO, int32_t AUBOSize);

    // Asks the behaviour for its block and registers it with AProgram.
    void OnRegisterUniformBuffer(TMaterial* AMaterial, TContext3D* AContext, TShaderProgram* AProgram);
    void OnUpdateShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind);
    // Initialises the behaviour on its first apply, then applies it.
    void Apply(TMaterial* AMaterial, TContext3D* AContext);
    // A removed behaviour is dropped without running the detach hooks.
    virtual void Notification(TComponent* AComponent, TOperation AOperation);

protected:
    // To another item: the name and the behaviour reference (no hooks, no block).
    void AssignTo(TPersistent* Dest) const override;

private:
    TKorvaneMaterialBehaviourCollection* BehaviourCollection() const;

    std::string FName;
    TKorvaneMaterialBehaviour* FBehaviour = nullptr;
    std::unique_ptr<uint8_t[]> FUBO;
    int32_t FUBOSize = 0;
};

// The behaviours of one material.
class TKorvaneMaterialBehaviourCollection : public TCollection {
    KORVANE_CLASS(TKorvaneMaterialBehaviourCollection, TCollection)

    explicit TKorvaneMaterialBehaviourCollection(TMaterial* AMaterial = nullptr);
    ~TKorvaneMaterialBehaviourCollection() override;

    TMaterial* Material() const { return FMaterial; }
    void SetMaterial(TMaterial* AValue) { FMaterial = AValue; }
    TKorvaneMaterialBehaviourItem* Items(int AIndex) const
    {
        return static_cast<TKorvaneMaterialBehaviourItem*>(TCollection::Items(AIndex));
    }
    TKorvaneMaterialBehaviourItem* Add() { return static_cast<TKorvaneMaterialBehaviourItem*>(TCollection::Add()); }

    // Passes the notification to every item, in order.
    virtual void Notification(TComponent* AComponent, TOperation AOperation);
    // Asks to hear when ABehaviour is freed, so that no item keeps a freed behaviour.
    void WatchBehaviour(TKorvaneMaterialBehaviour* ABehaviour);

private:
    class TWatcher;
    TMaterial* FMaterial;
    TOwned<TComponent> FWatcher;
};

} // namespace korvane
