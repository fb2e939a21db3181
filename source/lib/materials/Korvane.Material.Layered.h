#pragma once
// The layered material: a mesh drawn once with a plain program of the
// material's own (positions only, empty colour outputs) and then once more for
// each layer, a material source owned elsewhere, the layers blended over each
// other by the context's batch draw. The material generates no shader text; the
// layers do the shading through their own materials.

#include <string>

#include "Korvane.Context.h"
#include "Platform.Classes.h"
#include "Platform.Materials3D.h"

namespace korvane {

class TKorvaneLayeredMaterialSource;

// One layer: a display name and the layer's material source (not owned).
class TKorvaneLayeredMaterialItem : public TCollectionItem {
    KORVANE_CLASS(TKorvaneLayeredMaterialItem, TCollectionItem)

    explicit TKorvaneLayeredMaterialItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    std::string DisplayName() const override { return FName; }
    void SetDisplayName(const std::string& Value) override { FName = Value; }

    TMaterialSource* Material() const { return FMaterial; }
    // The layered source hears when AValue is freed, so no item keeps a freed source.
    void SetMaterial(TMaterialSource* AValue);

    // From another layer: its name and its material reference.
    void Assign(const TPersistent* Source) override;
    // A removed material source leaves the item without material.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    std::string FName;
    TMaterialSource* FMaterial = nullptr;
};

class TKorvaneLayeredMaterialCollection : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneLayeredMaterialCollection, TOwnedCollection)

    explicit TKorvaneLayeredMaterialCollection(TKorvaneLayeredMaterialSource* AOwner);

    TKorvaneLayeredMaterialItem* Items(int AIndex) const
    {
        return static_cast<TKorvaneLayeredMaterialItem*>(TCollection::Items(AIndex));
    }
    TKorvaneLayeredMaterialItem* Add() { return static_cast<TKorvaneLayeredMaterialItem*>(TCollection::Add()); }
};

class TKorvaneLayeredMaterial : public TCustomMaterial, public IKorvaneLayeredMaterial {
    KORVANE_CLASS(TKorvaneLayeredMaterial, TCustomMaterial)

    explicit TKorvaneLayeredMaterial(TKorvaneLayeredMaterialSource* ASource) : FSource(ASource) {}
    // The shaders registered under this material's address go with it.
    ~TKorvaneLayeredMaterial() override;

    TKorvaneLayeredMaterialSource* Source() const { return FSource; }

    int GetMaterialsCount() override;
    // The layer at AIndex; nullptr at or beyond the count (a negative index
    // raises the collection's index error). AContext is not used.
    virtual TKorvaneLayeredMaterialItem* GetMaterialItem(TContext3D* AContext, int AIndex);
    TMaterialSource* GetLayerMaterialSource(TContext3D* AContext, int AIndex) override;

    // The positions are transformed by "MVPMatrix", which the context fills.
    std::string GetMaterialProperty(TMaterialProperty AProperty) const override;

    // "Layered-<address as a signed decimal>" followed by AExtension.
    std::string ShaderName(const char* AExtension) const;
    // The fixed texts of the two stages.
    static std::string VertexShaderText();
    static std::string FragmentShaderText();

protected:
    // Registers the fixed shader pair under this material's names.
    void DoInitialize() override;
    // The shaders, then this material becomes the context's layered material;
    // a context that is not the framework's raises EInvalidCast.
    void DoApply(TContext3D* AContext) override;

private:
    TKorvaneLayeredMaterialSource* FSource;
};

class TKorvaneLayeredMaterialSource : public TMaterialSource {
    KORVANE_CLASS(TKorvaneLayeredMaterialSource, TMaterialSource)

    explicit TKorvaneLayeredMaterialSource(TComponent* AOwner);
    ~TKorvaneLayeredMaterialSource() override;

    TKorvaneLayeredMaterialCollection* Materials() const { return FMaterials.get(); }
    // Copies AValue's items (names and material references).
    void SetMaterials(const TKorvaneLayeredMaterialCollection* AValue);
    // Appends a layer named AName drawing with AMaterial.
    TKorvaneLayeredMaterialItem* AddLayer(const std::string& AName, TMaterialSource* AMaterial);

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    TMaterial* CreateMaterial() override;
    void BeforeDestruction() override;

private:
    TOwned<TKorvaneLayeredMaterialCollection> FMaterials;
};

} // namespace korvane
