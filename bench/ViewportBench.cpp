// The demo's scene through the viewport: a 704 x 640 viewport with the
// forward renderer (composite chain on, FXAA 1), a camera, a point light and a
// terrain plane with the splat-map material (four 256 x 256 terrain images and
// a splat map), one frame per RenderManual, finished with glFinish.
//
// Reference, in the same run: the GL work such a frame cannot do without,
// issued directly on a texture context of the same size: clear colour and
// depth, apply the same material, draw the same plane mesh, read the 704 x 640
// pixels back into a bitmap. The share of a frame spent outside those GL calls
// is 1 - (reference time / viewport frame time): what the viewport, its
// renderer and the scene code add around the unavoidable GL work.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "Korvane.Camera.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.Light.h"
#include "Korvane.Material.SplatMap.h"
#include "Korvane.Plane.h"
#include "Korvane.Viewport.h"
#include "Platform.Forms.h"
#include "Platform.Textures.h"

using namespace korvane;

namespace {

constexpr int ViewWidth = 704, ViewHeight = 640;
constexpr int TerrainSide = 256;

TKorvaneSplatMapMaterialSource* NewTerrainMaterial()
{
    auto* source = TKorvaneDefaultMaterialSource::Create<TKorvaneSplatMapMaterialSource>(nullptr);
    for (int i = 0; i < 5; ++i) {
        TBitmap image(TerrainSide, TerrainSide);
        TBitmapData data;
        image.Map(TMapAccess::Write, data);
        for (int y = 0; y < TerrainSide; ++y)
            for (int x = 0; x < TerrainSide; ++x)
                data.SetPixel(x, y, 0xFF000000u | uint32_t((x * (i + 1)) & 255) << 16 | uint32_t((y * 3 + i * 40) & 255)
                                                     << 8 | uint32_t((x ^ y) & 255));
        image.Unmap(data);
        if (i < 4) source->SetSplatTexture(i, &image);
        else source->SetTexture(&image);
    }
    return source;
}

struct TViewportScene {
    TForm* Form = nullptr;
    TKorvaneViewport* Viewport = nullptr;
    TKorvanePlane* Plane = nullptr;
    TKorvaneSplatMapMaterialSource* Material = nullptr;

    TViewportScene()
    {
        Application().SetHeadless(true);
        Application().Initialize();
        Form = Application().CreateForm<TForm>();
        Form->SetClientWidth(ViewWidth);
        Form->SetClientHeight(ViewHeight);
        Viewport = new TKorvaneViewport(Form);
        Viewport->SetUseFixedFrameRate(false);
        Viewport->SetRendererType(TRendererType::ForwardRenderer);
        Viewport->SetFXAA(1);
        Viewport->ForceResize();
        Material = NewTerrainMaterial();
        Plane = new TKorvanePlane(Form);
        Plane->SetParent(Viewport);
        Plane->SetWidth(20);
        Plane->SetHeight(20);
        Plane->RotationAngle().SetX(-70);
        Plane->SetMaterialSource(Material);
        auto* camera = new TKorvaneCamera(Form);
        camera->SetParent(Viewport);
        camera->Position().SetPoint({0, -6, -14});
        camera->SetTarget(Plane);
        auto* light = new TKorvaneLight(Form);
        light->SetParent(Viewport);
        light->Position().SetPoint({2, -8, -6});
        Viewport->SetCamera(camera);
        Viewport->SetUsingDesignCamera(false);
        if (!Viewport->MainPassRenderer() || Viewport->FrameBitmap()->Width() != ViewWidth)
            throw Exception("the viewport did not take its size");
        // The first frame builds programs and buffers; a failure here is the
        // benchmark's error, never a quiet switch to another renderer.
        try {
            Viewport->RenderManual();
        } catch (const Exception& e) {
            Failure = e.Message();
        }
    }
    std::string Failure;
};

TViewportScene& Scene()
{
    static TViewportScene scene;
    return scene;
}

void BM_ViewportFrame(benchmark::State& state)
{
    korvane::bench::RenderViewportFrames(state, Scene(), [] { glFinish(); });
}
BENCHMARK(BM_ViewportFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

// The unavoidable GL work of the same frame on a bare texture context.
void BM_BareGLFrame(benchmark::State& state)
{
    TViewportScene& scene = Scene();
    if (!scene.Failure.empty()) {
        state.SkipWithError(("the forward frame failed: " + scene.Failure).c_str());
        return;
    }
    TTexture target;
    target.SetSize(ViewWidth, ViewHeight);
    std::unique_ptr<TContext3D> context(
        TContextManager::CreateFromTexture(&target, TMultisample::None, true));
    auto* ctx = static_cast<TKorvaneContext*>(context.get());
    TCamera* camera = scene.Viewport->Camera();
    ctx->SetCameraMatrix(camera->CameraMatrix());
    ctx->SetCameraAngleOfView(camera->AngleOfView());
    ctx->AddLight(static_cast<TKorvaneLight*>(scene.Viewport->Lights().front())->LightDescriptionEx());
    TBitmap readBack(ViewWidth, ViewHeight);
    TMaterial* material = scene.Material->Material();
    auto frame = [&] {
        ctx->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF000000, 1.0f, 0);
        const TMatrix3D model = scene.Plane->GetMeshMatrix() * scene.Plane->AbsoluteMatrix();
        ctx->SetMatrix(model);
        ctx->SetContextState(TContextState::csScissorOff);
        ctx->SetContextState(TContextState::csFrontFace);
        ctx->SetContextState(TContextState::csZTestOn);
        ctx->SetContextState(TContextState::csZWriteOn);
        ctx->SetInstances(1, &model);
        // The plane is a static definition: its triangles live in the
        // definition's GPU buffer (its CPU mesh data is empty), which the
        // context draws from when it is the current cache, as the mesh does.
        if (TMeshDef* def = scene.Plane->MeshDef(); def && def->IsStatic()) ctx->SetCurrentCache(def->BufferObject());
        scene.Plane->MeshData().Render(ctx, material, 1.0f);
        ctx->CopyToBitmap(&readBack, TRect(0, 0, ViewWidth, ViewHeight));
    };
    ctx->BeginSceneRendering();
    frame();
    glFinish();
    // Both measure a frame with the terrain in it: the centre shows the plane, not the clear colour.
    for (TBitmap* b : {&readBack, scene.Viewport->FrameBitmap()}) {
        TBitmapData data;
        b->Map(TMapAccess::Read, data);
        const TAlphaColor centre = data.GetPixel(b->Width() / 2, b->Height() / 2);
        b->Unmap(data);
        if ((centre & 0x00FFFFFFu) == 0) {
            state.SkipWithError(b == &readBack ? "the bare frame drew no terrain at its centre"
                                               : "the viewport frame drew no terrain at its centre");
            ctx->EndSceneRendering();
            return;
        }
    }
    for (auto _ : state) {
        frame();
        glFinish();
    }
    ctx->EndSceneRendering();
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareGLFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("frames/s");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double frames = reporter.Rate("BM_ViewportFrame"), bare = reporter.Rate("BM_BareGLFrame");
        if (frames <= 0 || bare <= 0) return;
        std::printf("viewport frame (704 x 640, forward renderer, composite, FXAA 1, splat-map plane): %.1f frames/s "
                    "(%.2f ms)\n",
                    frames, 1000.0 / frames);
        std::printf("bare GL work of the frame (clear, material apply, plane draw, read-back): %.1f frames/s "
                    "(%.2f ms)\n",
                    bare, 1000.0 / bare);
        std::printf("share of a viewport frame spent outside that GL work: %.0f %%\n", 100.0 * (1.0 - frames / bare));
    });
}
