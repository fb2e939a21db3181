#pragma once
// The render-pass table of a render context. A render pass is the context-side
// handle of one render-pass controller: its id, when it runs (before the main
// scene, during it, after it), how it renders (the scene list into the
// controller's frame buffer, or the controller's output texture as one
// rectangle), the controller and the events fired around each iteration.
// BeginScene / EndScene bracket the work of a pass: they save and restore the
// viewport, let the controller bind its target and keep the context's stack of
// current passes.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Korvane.Context.Types.h"
#include "Platform.Materials3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TRenderPass;
class TKorvaneRenderPassController;

enum class TRenderPassType : uint8_t { Pre, Intermediate, Post };
enum class TRenderPassMethod : uint8_t { RenderListToFBO, RectToFBO };
// Which list procedure of the render context record a pass uses.
enum class TRenderPassRenderingProc : uint8_t { DefaultRendering, ListRendering };

// Fired around each iteration of a pass; ACount is the iteration, from 0.
using TOnRenderingPass = std::function<void(TContext3D* AContext, int ACount, TRenderPass* APass)>;
// Told when a pass puts its own material in place of an object's.
using TOnRenderPassApplyMaterial = std::function<void(TMaterial* AOriginal, TMaterial* ANew)>;

struct TRenderContext;
using PRenderContext = TRenderContext*;
using TRenderListProc = std::function<void(PRenderContext ARenderContext)>;

// What a viewport hands to the context for running its passes: itself and its
// two procedures that draw the scene's list.
struct TRenderContext {
    TObject* Viewport = nullptr;
    TRenderListProc DefaultRenderingProc;
    TRenderListProc ListRenderingProc;

    // The context argument is not kept.
    static TRenderContext Create(TContext3D* AContext, TObject* AViewport, TRenderListProc ADefaultRenderingProc,
                                 TRenderListProc AListRenderingProc);
};

class TRenderPass : public TObject {
    KORVANE_CLASS(TRenderPass, TObject)

    // AController is a TKorvaneRenderPassController (or nullptr); neither is owned.
    TRenderPass(TContext3D* AContext, TObject* AController);

    std::string Id;
    TRenderPassType _Type = TRenderPassType::Pre;
    TRenderPassMethod Method = TRenderPassMethod::RenderListToFBO;
    TOnRenderingPass OnBeginRendering;
    TOnRenderingPass OnEndRendering;
    TOnRenderPassApplyMaterial OnApplyMaterial;

    TContext3D* Context() const { return FContext; }
    TObject* Controller() const { return FController; }

    // The controller's Enabled; false without a controller (and setting does nothing then).
    bool Enabled() const;
    void SetEnabled(bool AValue);

    // Starts the pass's work on its context; false when the pass does not run
    // this frame. Reports "Cannot begin with rendering scene: %s" through the
    // context error report without a context or when OpenGL reports an error.
    bool BeginScene();
    // Ends what BeginScene started (only for an enabled pass on a framework context).
    void EndScene();

    // The controller's material source, nullptr without a controller.
    TMaterialSource* GetControllerShader() const;
    // The controller's answer; true without a controller.
    bool IsPrimitivesKindSupported(TPrimitivesKind AKind) const;
    // The controller's iteration count; 0 without a controller.
    int GetIterations() const;

private:
    TKorvaneRenderPassController* Ctrl() const;

    TContext3D* FContext;
    TObject* FController;
    TKorvaneContextSize FSavedViewport{};
};

// The passes of a context by id. A pass whose Id is not empty is freed when it
// leaves the table (Remove, replacement, Clear, destruction); a pass with an
// empty Id is not, and neither is an extracted one. Any pass that leaves the
// table also leaves the context's intermediate passes. Passes are listed in the
// order in which their ids were first added.
class TRenderPasses : public TObject {
    KORVANE_CLASS(TRenderPasses, TObject)

    explicit TRenderPasses(TContext3D* AContext);

    TContext3D* Context() const { return FContext; }
    int Count() const { return static_cast<int>(FOrder.size()); }
    bool ContainsKey(const std::string& AId) const { return FItems.count(AId) != 0; }
    bool TryGetValue(const std::string& AId, TRenderPass*& APass) const;
    // Adds or replaces the pass under AId; a replaced pass leaves the table.
    void AddOrSetValue(const std::string& AId, TRenderPass* APass);
    // Raises EListError when the id is already in the table.
    void Add(const std::string& AId, TRenderPass* APass);
    void Remove(const std::string& AId);
    // Takes the pass out without freeing it; nullptr when the id is not in the table.
    TRenderPass* ExtractPair(const std::string& AId);
    void Clear();
    // The passes in table order.
    std::vector<TRenderPass*> Values() const;

    // Every enabled pass of type Pre (Post), in table order.
    std::vector<TRenderPass*> GetPreProcessingPasses() const;
    std::vector<TRenderPass*> GetPostProcessingPasses() const;

protected:
    void BeforeDestruction() override;

private:
    // A pass that leaves the table leaves the context's intermediate passes
    // (which every draw walks) and is freed unless its Id is empty.
    void ValueRemoved(TRenderPass* APass);
    // Takes the pass out of the context's intermediate passes.
    void Forget(TRenderPass* APass);
    std::vector<TRenderPass*> PassesOfType(TRenderPassType AType) const;

    TContext3D* FContext;
    std::unordered_map<std::string, TRenderPass*> FItems;
    std::vector<std::string> FOrder;
};

} // namespace korvane
