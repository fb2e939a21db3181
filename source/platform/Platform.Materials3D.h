#pragma once
// Materials of the 3D layer: a material applies itself to a context before a
// draw and resets what it changed afterwards; a material source is the
// component that owns a material and hears of its changes.

#include <functional>
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
    // Runs DoInitialize once; Apply does it on first use when nothing did before.
    void Initialize();
    // Undoes what Apply changed.
    void Reset(TContext3D* AContext) { DoReset(AContext); }
    bool Initialized() const { return FInitialized; }

    // The shader variable that receives the matrix; empty when the material takes none.
    virtual std::string GetMaterialProperty(TMaterialProperty) const { return {}; }

    // Told after every change of the material (its source listens here).
    std::function<void(TMaterial* Sender)> OnChange;

protected:
    virtual void DoInitialize() {}
    virtual void DoApply(TContext3D*) {}
    virtual void DoReset(TContext3D*) {}
    // Tells the listener that the material changed.
    virtual void DoChange()
    {
        if (OnChange) OnChange(this);
    }

private:
    bool FInitialized = false;
};

// A material drawn with a vertex and a pixel shader that it registered with the
// shader manager: applying it hands both to the context, which compiles, links
// and uses them.
class TCustomMaterial : public TMaterial {
    KORVANE_CLASS(TCustomMaterial, TMaterial)

    TContextShader* VertexShader() const { return FVertexShader; }
    TContextShader* PixelShader() const { return FPixelShader; }

protected:
    void DoApply(TContext3D* AContext) override;

    // The registered shaders; the shader manager owns them.
    TContextShader* FVertexShader = nullptr;
    TContextShader* FPixelShader = nullptr;
};

// The component that owns a material; the material is made on first request.
class TMaterialSource : public TComponent {
    KORVANE_CLASS(TMaterialSource, TComponent)

    explicit TMaterialSource(TComponent* AOwner) : TComponent(AOwner) {}

    // The source's material (made by CreateMaterial on first request), or nullptr.
    // The source owns it and hears of its changes.
    TMaterial* Material();
    // Told after every change of the source's material.
    std::function<void(TObject* Sender)> OnChange;
    // The material of ASource, or nullptr without a source.
    static TMaterial* ValidMaterial(TMaterialSource* ASource) { return ASource ? ASource->Material() : nullptr; }

protected:
    virtual TMaterial* CreateMaterial() { return nullptr; }
    // A change of the material: tells the source's listener.
    virtual void DoMaterialChange(TMaterial*)
    {
        if (OnChange) OnChange(this);
    }
    void BeforeDestruction() override;

private:
    // A source that is deleted instead of freed still frees its material.
    TOwned<TMaterial> FMaterial;
};

} // namespace korvane
