#include "Korvane.Controller.Passes.GlobalIllumBlur.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TGlobalIllumBlurMaterial, "Korvane.Controller.Passes.GlobalIllumBlur")
KORVANE_IMPLEMENT_CLASS(TGlobalIllumBlurMaterialSource, "Korvane.Controller.Passes.GlobalIllumBlur")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassGlobalIllumBlur, "Korvane.Controller.Passes.GlobalIllumBlur")

TMaterial* TGlobalIllumBlurMaterialSource::CreateMaterial()
{
    FHasMaterial = true;
    return new TGlobalIllumBlurMaterial(this);
}

TKorvaneRenderPassMaterialSource* TKorvaneRenderPassGlobalIllumBlur::CreateShader()
{
    if (!FSource) FSource.reset(new TGlobalIllumBlurMaterialSource(this));
    return FSource.get();
}

void TKorvaneRenderPassGlobalIllumBlur::SetGlobalIllumPass(TKorvaneRenderPassController* AValue)
{
    if (FGlobalIllumPass != AValue) {
        if (FGlobalIllumPass) FGlobalIllumPass->RemoveFreeNotification(this);
        FGlobalIllumPass = AValue;
        if (FGlobalIllumPass) FGlobalIllumPass->FreeNotification(this);
    }
    ApplyGlobalIllumTexture();
}

void TKorvaneRenderPassGlobalIllumBlur::ApplyGlobalIllumTexture()
{
    FDoUpdateTexture = false;
    if (!FSource || !FGlobalIllumPass) return;
    FBaseTexture = nullptr;
    BlurMaterial()->SetInputTexture(FGlobalIllumPass->GetOutputTexture());
}

void TKorvaneRenderPassGlobalIllumBlur::BeginSetup(int ACount, TRenderPass* APass)
{
    // Taken before the iteration chooses its input, so that this very
    // iteration starts from the new texture.
    if (FDoUpdateTexture) ApplyGlobalIllumTexture();
    TKorvaneRenderPassBlur::BeginSetup(ACount, APass);
}

void TKorvaneRenderPassGlobalIllumBlur::Notification(TComponent* AComponent, TOperation Operation)
{
    TKorvaneRenderPassBlur::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent && AComponent == FGlobalIllumPass) FGlobalIllumPass = nullptr;
}

} // namespace korvane
