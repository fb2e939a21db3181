#include "Platform.Materials3D.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TMaterial, "Platform.Materials3D")
KORVANE_IMPLEMENT_CLASS(TMaterialSource, "Platform.Materials3D")

KORVANE_IMPLEMENT_CLASS(TCustomMaterial, "Platform.Materials3D")

void TMaterial::Initialize()
{
    if (FInitialized) return;
    FInitialized = true;
    try {
        DoInitialize();
    } catch (...) {
        FInitialized = false;
        throw;
    }
}

void TMaterial::Apply(TContext3D* AContext)
{
    Initialize();
    DoApply(AContext);
}

void TCustomMaterial::DoApply(TContext3D* AContext)
{
    if (AContext) AContext->SetShaders(FVertexShader, FPixelShader);
}

TMaterial* TMaterialSource::Material()
{
    if (!FMaterial && !Destroying()) {
        FMaterial.reset(CreateMaterial());
        if (FMaterial) FMaterial->OnChange = [this](TMaterial* AMaterial) { DoMaterialChange(AMaterial); };
    }
    return FMaterial.get();
}

void TMaterialSource::BeforeDestruction()
{
    FMaterial.reset();
    TComponent::BeforeDestruction();
}

} // namespace korvane
