#include "Korvane.Context.Rendering.h"

#include <algorithm>

#include "Korvane.Context.h"
#include "Korvane.Controller.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Log.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TRenderPass, "Korvane.Context.Rendering")
KORVANE_IMPLEMENT_CLASS(TRenderPasses, "Korvane.Context.Rendering")

TRenderContext TRenderContext::Create(TContext3D*, TObject* AViewport, TRenderListProc ADefaultRenderingProc,
                                      TRenderListProc AListRenderingProc)
{
    TRenderContext result;
    result.Viewport = AViewport;
    result.DefaultRenderingProc = std::move(ADefaultRenderingProc);
    result.ListRenderingProc = std::move(AListRenderingProc);
    return result;
}

// ---------------------------------------------------------------------------
// TRenderPass

TRenderPass::TRenderPass(TContext3D* AContext, TObject* AController) : FContext(AContext), FController(AController) {}

TKorvaneRenderPassController* TRenderPass::Ctrl() const
{
    if (!FController) return nullptr;
    auto* controller = dynamic_cast<TKorvaneRenderPassController*>(FController);
    if (!controller) throw EInvalidCast();
    return controller;
}

bool TRenderPass::Enabled() const
{
    auto* c = Ctrl();
    return c && c->Enabled();
}

void TRenderPass::SetEnabled(bool AValue)
{
    if (auto* c = Ctrl()) c->SetEnabled(AValue);
}

TMaterialSource* TRenderPass::GetControllerShader() const
{
    auto* c = Ctrl();
    return c ? c->Shader() : nullptr;
}

bool TRenderPass::IsPrimitivesKindSupported(TPrimitivesKind AKind) const
{
    auto* c = Ctrl();
    return !c || c->IsPrimitivesKindSupported(AKind);
}

int TRenderPass::GetIterations() const
{
    auto* c = Ctrl();
    return c ? c->Iterations : 0;
}

bool TRenderPass::BeginScene()
{
    if (!FContext) RaiseContextExceptionFmt(this, "Cannot begin with rendering scene: %s", ClassName());
    auto* context = dynamic_cast<TKorvaneContext*>(FContext);
    if (!context || !Enabled()) return false;
    TKorvaneRenderPassController* controller = Ctrl();
    controller->IncFrameCount();
    if (controller->RenderingSkipped()) {
        controller->ResetSkippedRendering();
        return false;
    }
    context->GetContextSize(FSavedViewport);
    controller->BeginRenderPassRendering(context, MakeAlphaColor(0, 0, 255, 255), 1.0f, 0);
    try {
        const TPoint size = controller->ComputeRenderingSize(context, context->Width(), context->Height());
        context->SetContextSize(0, 0, size.X, size.Y);
        if (TKorvaneContext::HasAnyErrors())
            RaiseContextExceptionFmt(context, "Cannot begin with rendering scene: %s", ClassName());
    } catch (...) {
        // No EndScene follows a failed begin: give the target and the viewport back here.
        try {
            controller->EndRenderPassRendering(context);
        } catch (const Exception& e) {
            Log::d("<ERROR> %s - %s", ClassName(), e.Message());
        }
        context->SetContextSize(FSavedViewport);
        throw;
    }
    context->BeginRenderPass(this);
    return true;
}

void TRenderPass::EndScene()
{
    auto* context = dynamic_cast<TKorvaneContext*>(FContext);
    if (!context || !Enabled()) return;
    if (TKorvaneContext::HasAnyErrors())
        RaiseContextExceptionFmt(context, "Failed to end rendering scene: %s", ClassName());
    Ctrl()->EndRenderPassRendering(context);
    context->SetContextSize(FSavedViewport);
    context->EndRenderPass();
}

// ---------------------------------------------------------------------------
// TRenderPasses

TRenderPasses::TRenderPasses(TContext3D* AContext) : FContext(AContext) {}

void TRenderPasses::BeforeDestruction()
{
    Clear();
    TObject::BeforeDestruction();
}

void TRenderPasses::Forget(TRenderPass* APass)
{
    if (auto* context = dynamic_cast<TKorvaneContext*>(FContext); context && APass)
        context->RemoveIntermediatePass(APass);
}

void TRenderPasses::ValueRemoved(TRenderPass* APass)
{
    Forget(APass);
    if (APass && !APass->Id.empty()) APass->Free();
}

bool TRenderPasses::TryGetValue(const std::string& AId, TRenderPass*& APass) const
{
    const auto it = FItems.find(AId);
    APass = it != FItems.end() ? it->second : nullptr;
    return it != FItems.end();
}

void TRenderPasses::AddOrSetValue(const std::string& AId, TRenderPass* APass)
{
    const auto it = FItems.find(AId);
    if (it == FItems.end()) {
        FItems.emplace(AId, APass);
        FOrder.push_back(AId);
        return;
    }
    // Setting the pass that is already there must not free it.
    if (it->second == APass) return;
    TRenderPass* old = it->second;
    it->second = APass;
    ValueRemoved(old);
}

void TRenderPasses::Add(const std::string& AId, TRenderPass* APass)
{
    if (ContainsKey(AId)) throw EListError("Duplicates not allowed");
    AddOrSetValue(AId, APass);
}

TRenderPass* TRenderPasses::ExtractPair(const std::string& AId)
{
    const auto it = FItems.find(AId);
    if (it == FItems.end()) return nullptr;
    TRenderPass* pass = it->second;
    Forget(pass);
    FItems.erase(it);
    FOrder.erase(std::find(FOrder.begin(), FOrder.end(), AId));
    return pass;
}

void TRenderPasses::Remove(const std::string& AId) { ValueRemoved(ExtractPair(AId)); }

void TRenderPasses::Clear()
{
    // Emptied first, so that a pass freed here finds a consistent table.
    auto items = std::move(FItems);
    auto order = std::move(FOrder);
    FItems.clear();
    FOrder.clear();
    for (const auto& id : order) ValueRemoved(items[id]);
}

std::vector<TRenderPass*> TRenderPasses::Values() const
{
    std::vector<TRenderPass*> result;
    result.reserve(FOrder.size());
    for (const auto& id : FOrder) result.push_back(FItems.at(id));
    return result;
}

std::vector<TRenderPass*> TRenderPasses::PassesOfType(TRenderPassType AType) const
{
    std::vector<TRenderPass*> result;
    for (const auto& id : FOrder) {
        TRenderPass* pass = FItems.at(id);
        if (pass && pass->Enabled() && pass->_Type == AType) result.push_back(pass);
    }
    return result;
}

std::vector<TRenderPass*> TRenderPasses::GetPreProcessingPasses() const { return PassesOfType(TRenderPassType::Pre); }
std::vector<TRenderPass*> TRenderPasses::GetPostProcessingPasses() const
{
    return PassesOfType(TRenderPassType::Post);
}

} // namespace korvane
