// The composite chain's share of a forward-rendered frame: a 704 x 640
// viewport with the forward renderer (composite chain on, FXAA 1), a camera,
// a point light and a lit plane with a Lambert material, one frame per
// RenderManual, finished with glFinish.
//
// Two benchmarks in one run:
// - BM_Frame: the frame as the viewport's users render it.
// - BM_FrameTimingTheChain: the same frame, with glFinish at both ends of the
//   composite chain (from the first pass of the chain, the emissive blur when
//   it runs or else the deferred composite, to the end of the last FXAA
//   iteration), so that the wall time between the two marks is the chain's
//   own GPU and CPU work. Its share of that frame's wall time is the chain's
//   share of a frame; the extra synchronisation makes this frame a little
//   slower than BM_Frame's, which the output shows next to it.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "BenchSupport.h"
#include "Korvane.Camera.h"
#include "Korvane.Controller.Passes.Deferred.h"
#include "Korvane.Controller.Passes.EmissiveBlur.h"
#include "Korvane.Controller.Passes.FXAA.h"
#include "Korvane.Light.h"
#include "Korvane.Material.Lambert.h"
#include "Korvane.Plane.h"
#include "Korvane.Viewport.h"
#include "Platform.Forms.h"

using namespace korvane;

namespace {

constexpr int ViewWidth = 704, ViewHeight = 640;
using TClock = std::chrono::steady_clock;

struct TForwardScene {
    TForm* Form = nullptr;
    TKorvaneViewport* Viewport = nullptr;
    TKorvaneLambertMaterialSource* Material = nullptr;
    std::string Failure;

    TForwardScene()
    {
        Application().SetHeadless(true);
        Application().Initialize();
        Form = Application().CreateForm<TForm>();
        Form->SetClientWidth(ViewWidth);
        Form->SetClientHeight(ViewHeight);
        Viewport = new TKorvaneViewport(Form);
        Viewport->SetColor(0xFF204080);
        Viewport->SetUseFixedFrameRate(false);
        Viewport->SetRendererType(TRendererType::ForwardRenderer);
        Viewport->SetFXAA(1);
        Viewport->ForceResize();
        auto* camera = new TKorvaneCamera(Form);
        camera->SetParent(Viewport);
        camera->Position().SetPoint({0, 0, -5});
        auto* light = new TKorvaneLight(Form);
        light->SetParent(Viewport);
        light->Position().SetPoint({1, -1, -4});
        light->SetIntensity(1);
        light->SetConstantAttenuation(1);
        Material = TKorvaneDefaultMaterialSource::Create<TKorvaneLambertMaterialSource>(nullptr);
        Material->SetDiffuse(0xFFE03020);
        TBitmap white(4, 4);
        white.Clear(TAlphaColors::White);
        Material->SetTexture(&white);
        auto* plane = new TKorvanePlane(Form);
        plane->SetParent(Viewport);
        plane->SetWidth(3);
        plane->SetHeight(3);
        plane->SetMaterialSource(Material);
        camera->SetTarget(plane);
        Viewport->SetCamera(camera);
        Viewport->SetUsingDesignCamera(false);
        Viewport->ForceResize();
        if (!Viewport->MainPassRenderer() || Viewport->FrameBitmap()->Width() != ViewWidth)
            throw Exception("the viewport did not take its size");
        // The first frame builds the programs, the buffers and the chain's passes.
        try {
            Viewport->RenderManual();
            glFinish();
        } catch (const Exception& e) {
            Failure = e.Message();
            return;
        }
        auto* renderer = dynamic_cast<TForwardRenderer*>(Viewport->MainPassRenderer());
        if (!renderer || !renderer->DeferredCompositeCtrl() || !renderer->FXAACtrl())
            Failure = "the forward renderer built no composite chain";
        else if (renderer->DeferredCompositeCtrl()->FrameCount() != 1 || renderer->FXAACtrl()->FrameCount() != 1)
            Failure = "the first frame did not run the composite chain";
    }
    TForwardRenderer* Renderer() const { return static_cast<TForwardRenderer*>(Viewport->MainPassRenderer()); }
};

TForwardScene& Scene()
{
    static TForwardScene scene;
    return scene;
}

// Totals over every repetition of the timed benchmark.
double GChainSeconds = 0, GTimedFrameSeconds = 0;
int64_t GTimedFrames = 0;

void BM_Frame(benchmark::State& state)
{
    korvane::bench::RenderViewportFrames(state, Scene(), [] { glFinish(); });
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5)->MinTime(1.0)->Repetitions(5);

void BM_FrameTimingTheChain(benchmark::State& state)
{
    TForwardScene& scene = Scene();
    if (!scene.Failure.empty()) {
        state.SkipWithError(("the forward frame failed: " + scene.Failure).c_str());
        return;
    }
    TForwardRenderer* renderer = scene.Renderer();
    TKorvaneRenderPassFXAA* fxaa = renderer->FXAACtrl();
    bool inChain = false;
    int chainRuns = 0;
    TClock::time_point chainStart;
    double chainSeconds = 0;
    auto begin = [&](TObject*, TContext3D*, int ACount, TRenderPass*) {
        if (inChain || ACount != 0) return;
        glFinish();
        inChain = true;
        chainStart = TClock::now();
    };
    auto end = [&](TObject*, TContext3D*, int ACount, TRenderPass*) {
        const int iterations = fxaa->Iterations == 0 ? 1 : fxaa->Iterations;
        if (!inChain || ACount != iterations - 1) return;
        glFinish();
        chainSeconds += std::chrono::duration<double>(TClock::now() - chainStart).count();
        inChain = false;
        ++chainRuns;
    };
    renderer->DeferredCompositeCtrl()->OnBeginRender = begin;
    if (TKorvaneRenderPassEmissiveBlur* blur = renderer->EmissiveBlurCtrl()) blur->OnBeginRender = begin;
    fxaa->OnEndRender = end;

    glFinish();
    const TClock::time_point loopStart = TClock::now();
    for (auto _ : state) {
        scene.Viewport->RenderManual();
        glFinish();
    }
    const double loopSeconds = std::chrono::duration<double>(TClock::now() - loopStart).count();

    renderer->DeferredCompositeCtrl()->OnBeginRender = nullptr;
    if (TKorvaneRenderPassEmissiveBlur* blur = renderer->EmissiveBlurCtrl()) blur->OnBeginRender = nullptr;
    fxaa->OnEndRender = nullptr;
    if (chainRuns != int(state.iterations())) {
        state.SkipWithError("the composite chain did not run once per frame");
        return;
    }
    GChainSeconds += chainSeconds;
    GTimedFrameSeconds += loopSeconds;
    GTimedFrames += int64_t(state.iterations());
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["chain ms"] = 1000.0 * chainSeconds / double(state.iterations());
    state.counters["chain %"] = 100.0 * chainSeconds / loopSeconds;
}
BENCHMARK(BM_FrameTimingTheChain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.5)
    ->MinTime(1.0)
    ->Repetitions(5);

} // namespace

int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("frames/s");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double frames = reporter.Rate("BM_Frame"), timed = reporter.Rate("BM_FrameTimingTheChain");
        if (frames > 0)
            std::printf("forward frame (704 x 640, lit plane, deferred composite + FXAA 1): %.1f frames/s "
                        "(%.2f ms per frame, median of 5)\n",
                        frames, 1000.0 / frames);
        if (timed > 0 && GTimedFrameSeconds > 0) {
            std::printf("the same frame with glFinish around the composite chain: %.1f frames/s (%.2f ms)\n", timed,
                        1000.0 / timed);
            std::printf("composite chain (emissive blur when on, deferred composite, FXAA): %.2f ms per frame, "
                        "%.1f %% of that frame's wall time (all repetitions)\n",
                        1000.0 * GChainSeconds / double(GTimedFrames),
                        100.0 * GChainSeconds / GTimedFrameSeconds);
        }
    });
}
