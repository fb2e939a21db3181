#pragma once
// Materials of the 3D layer: a material applies itself to a context before a
// draw and resets what it changed afterwards; a material source is the
// component that owns a material.

#include <string>

#include "Platform.Classes.h"
#include "Platform.Types3D.h"

namespace korvane {

// The matrices a context hands to a material's shaders after applying it.
enum class TMaterialProperty : uint8_t { ModelViewProjection, ModelView, ModelViewInverseTranspose };

class TMaterial : public TPersistent {
    KORVANE_CLASS(TMaterial, TPersistent)

    // Initialises the material on its first use, then makes it the drawing state of AContext.
    void Apply(TContext3D* AContext);
    // Undoes what Apply changed.
    void Reset(TContext3D* AContext) { DoReset(AContext); }
    bool Initialized() const { return FInitialized; }

    // The shader variable that receives the matrix; empty when the material takes none.
    virtual std::string GetMaterialProperty(TMaterialProperty) const { return {}; }

protected:
    virtual void DoInitialize() {}
    virtual void DoApply(TContext3D*) {}
    virtual void DoReset(TContext3D*) {}

private:
    bool FInitialized = false;
};

// The component that owns a material; the material is made on first request.
class TMaterialSource : public TComponent {
    KORVANE_CLASS(TMaterialSource, TComponent)

    explicit TMaterialSource(TComponent* AOwner) : TComponent(AOwner) {}

    // The source's material (made by CreateMaterial on first request), or nullptr.
    TMaterial* Material();
    // The material of ASource, or nullptr without a source.
    static TMaterial* ValidMaterial(TMaterialSource* ASource) { return ASource ? ASource->Material() : nullptr; }

protected:
    virtual TMaterial* CreateMaterial() { return nullptr; }
    void BeforeDestruction() override;

private:
    // A source that is deleted instead of freed still frees its material.
    TOwned<TMaterial> FMaterial;
};

} // namespace korvane
