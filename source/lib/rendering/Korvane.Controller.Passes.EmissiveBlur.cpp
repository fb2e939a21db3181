#include "Korvane.Controller.Passes.EmissiveBlur.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TEmissiveBlurMaterial, "Korvane.Controller.Passes.EmissiveBlur")
KORVANE_IMPLEMENT_CLASS(TEmissiveBlurMaterialSource, "Korvane.Controller.Passes.EmissiveBlur")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassEmissiveBlur, "Korvane.Controller.Passes.EmissiveBlur")

TMaterial* TEmissiveBlurMaterialSource::CreateMaterial()
{
    FHasMaterial = true;
    return new TEmissiveBlurMaterial(this);
}

TKorvaneRenderPassMaterialSource* TKorvaneRenderPassEmissiveBlur::CreateShader()
{
    if (!FSource) FSource.reset(new TEmissiveBlurMaterialSource(this));
    return FSource.get();
}

void TKorvaneRenderPassEmissiveBlur::SetEmissiveTexture(TTexture* AValue)
{
    if (!FSource) return;
    FBaseTexture = nullptr;
    BlurMaterial()->SetInputTexture(AValue);
}

} // namespace korvane
