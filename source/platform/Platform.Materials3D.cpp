#include "Platform.Materials3D.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TMaterial, "Platform.Materials3D")
KORVANE_IMPLEMENT_CLASS(TMaterialSource, "Platform.Materials3D")

void TMaterial::Apply(TContext3D* AContext)
{
    if (!FInitialized) {
        DoInitialize();
        FInitialized = true;
    }
    DoApply(AContext);
}

TMaterial* TMaterialSource::Material()
{
    if (!FMaterial && !Destroying()) FMaterial.reset(CreateMaterial());
    return FMaterial.get();
}

void TMaterialSource::BeforeDestruction()
{
    FMaterial.reset();
    TComponent::BeforeDestruction();
}

} // namespace korvane
