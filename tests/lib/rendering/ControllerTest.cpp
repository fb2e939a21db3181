#include <gtest/gtest.h>

#include <string>

#include "Korvane.Controller.Passes.Deferred.h"
#include "LogCapture.h"
#include "Platform.MeshBuffers.h"
#include "RenderingTestSupport.h"

using namespace korvane;
using test::Owned;
using test::TTestViewport;

namespace {

// Fills what it draws with red; its pixel shader has one sampler, "Input".
class TFillMaterial : public TKorvaneRenderPassMaterial {
public:
    using TKorvaneRenderPassMaterial::TKorvaneRenderPassMaterial;
    TTexture* Input = nullptr;
    std::vector<bool> Blend0;

protected:
    void DoInitialize() override
    {
        FTextures = {{"Input", Input}};
        BuildPassShaders("test.fill", "", "",
                         "void main()\n{\n    o_FragColor = vec4(1.0, 0.0, 0.0, 1.0) + 0.0 * tex2D(_Input, TEX0.xy);\n}\n");
    }
    void DoApply(TContext3D* AContext) override
    {
        FTextures[0].Texture = Input;
        TKorvaneRenderPassMaterial::DoApply(AContext);
        Blend0.push_back(glIsEnabledi(GL_BLEND, 0));
    }
};

class TFillSource : public TKorvaneRenderPassMaterialSource {
public:
    using TKorvaneRenderPassMaterialSource::TKorvaneRenderPassMaterialSource;
    TTexture* Input = nullptr;
    TFillMaterial* Fill() { return static_cast<TFillMaterial*>(Material()); }

protected:
    TMaterial* CreateMaterial() override
    {
        FHasMaterial = true;
        auto* material = new TFillMaterial(this);
        material->Input = Input;
        return material;
    }
    void DoPassesChanged() override {}
};

// A pass as the concrete passes are: defaults of its own, a material source.
class TFillPass : public TKorvaneRenderPassController {
public:
    using TKorvaneRenderPassController::TKorvaneRenderPassController;
    Owned<TFillSource> Source;

protected:
    void InitDefaults() override
    {
        TKorvaneRenderPassController::InitDefaults();
        InitRectPassDefaults();
        Source.reset(new TFillSource(this));
        FShader = Source.get();
    }
    void BeforeDestruction() override
    {
        FShader = nullptr;
        Source.reset();
        TKorvaneRenderPassController::BeforeDestruction();
    }
};

class Controllers : public ::testing::Test {
protected:
    void SetUp() override { Viewport.reset(new TTestViewport(32, 16)); }
    void TearDown() override { Viewport.reset(); }

    TKorvaneRenderPassController* Pass(const std::string& AId)
    {
        return TKorvaneRenderPassController::Create<TKorvaneRenderPassController>(Viewport.get(), AId);
    }
    TRenderContext Counting(int& ACount)
    {
        return TRenderContext::Create(nullptr, Viewport.get(), [&ACount](PRenderContext) { ++ACount; },
                                      [&ACount](PRenderContext) { ++ACount; });
    }

    Owned<TTestViewport> Viewport;
};

TEST_F(Controllers, AControllerUnderAViewportGetsItsDefaultsAndRenderer)
{
    auto* pass = Pass("depth");
    EXPECT_EQ(pass->Viewport(), Viewport.get());
    EXPECT_EQ(pass->_Type(), TRenderPassType::Pre);
    EXPECT_EQ(pass->Method, TRenderPassMethod::RenderListToFBO);
    EXPECT_EQ(pass->Iterations, 1);
    EXPECT_EQ(pass->ViewportSize(), TPoint(32, 16));
    ASSERT_NE(pass->Renderer(), nullptr);
    EXPECT_TRUE(pass->OwnsRenderer());
    EXPECT_EQ(pass->Renderer()->Owner(), pass);
    EXPECT_EQ(pass->RendererFlags(),
              (TRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum}));
    EXPECT_EQ(pass->GetTextureMatrix(true), pass->BiasMatrix());

    // Registered once it joins the viewport's list.
    pass->SetViewport(nullptr);
    pass->SetViewport(Viewport.get());
    TRenderPass* entry = nullptr;
    ASSERT_TRUE(Viewport->Context()->RenderPasses()->TryGetValue("depth", entry));
    EXPECT_EQ(entry->Controller(), pass);
}

TEST_F(Controllers, IterationsAndSkippedFrames)
{
    struct Case {
        int Iterations;
        bool SkipEveryFrame;
        int Expected;
    };
    for (const Case& c : {Case{0, false, 4}, Case{3, false, 12}, Case{-1, false, 0}, Case{1, true, 2}}) {
        SCOPED_TRACE(c.Iterations);
        auto* pass = Pass("p");
        pass->Iterations = c.Iterations;
        if (c.SkipEveryFrame)
            pass->OnBeginRender = [pass](TObject*, TContext3D*, int, TRenderPass*) { pass->SkipRendering(); };
        Owned<TRenderPass> instance(pass->CreateRenderPassInstance(nullptr));
        int renders = 0;
        TRenderContext context = Counting(renders);
        for (int frame = 0; frame < 4; ++frame)
            pass->Renderer()->KorvaneContext()->ExecuteRenderPass(instance.get(), &context);
        EXPECT_EQ(renders, c.Expected);
        EXPECT_EQ(pass->FrameCount(), 4u);
        pass->Free();
    }
}

TEST_F(Controllers, TheRenderingSize)
{
    auto* pass = Pass("size");
    pass->OverwriteViewportSize = true;
    pass->SetViewportSize(TPoint(512, 512));
    pass->ScaleViewportSize = true;
    pass->ViewportScale = 0.5f;
    EXPECT_EQ(pass->ComputeRenderingSize(nullptr, 100, 100), TPoint(256, 256));

    Owned<TTestViewport> doubled(new TTestViewport(20, 10, 2.0f));
    auto* scaled = TKorvaneRenderPassController::Create<TKorvaneRenderPassController>(doubled.get(), "scaled");
    ASSERT_FLOAT_EQ(scaled->Renderer()->SharedContext()->Scale(), 2.0f);
    EXPECT_EQ(scaled->ComputeRenderingSize(nullptr, 0, 0), TPoint(40, 20));
    EXPECT_EQ(scaled->ComputeRenderingSize(nullptr, 7, 5), TPoint(14, 10));

    // Without a renderer there is nothing to size.
    Owned<TKorvaneRenderPassController> loose(new TKorvaneRenderPassController(nullptr));
    EXPECT_EQ(loose->ComputeRenderingSize(nullptr, 100, 100), TPoint(0, 0));
}

TEST_F(Controllers, AllowedAndIgnoredControls)
{
    auto* pass = Pass("filter");
    Owned<TControl3D> mesh(new TControl3D(nullptr));
    auto* part = new TControl3D(mesh.get());  // owned by the allowed control
    Owned<TControl3D> other(new TControl3D(nullptr));
    EXPECT_FALSE(pass->IsControlIgnored(other.get())) << "nothing listed: nothing ignored";
    pass->AllowControl(mesh.get());
    pass->AllowControl(mesh.get());
    EXPECT_EQ(pass->AllowedControls()->Count(), 2);
    EXPECT_FALSE(pass->IsControlIgnored(mesh.get()));
    EXPECT_FALSE(pass->IsControlIgnored(part));
    EXPECT_TRUE(pass->IsControlIgnored(other.get()));
    EXPECT_TRUE(pass->IsControlIgnored(nullptr));
    pass->IgnoreControl(part);
    EXPECT_TRUE(pass->IsControlIgnored(part));

    // A freed control leaves no dangling entry behind.
    other.reset();
    mesh.reset();
    EXPECT_EQ(pass->AllowedControls()->Item(0)->Control(), nullptr);
    EXPECT_EQ(pass->IgnoredControls()->Item(0)->Control(), nullptr);
}

TEST_F(Controllers, ANewIdTakesBothIdsOutOfTheTableBeforeRegistering)
{
    TRenderPasses* table = Viewport->Context()->RenderPasses();
    auto* pass = Pass("first");
    pass->SetViewport(nullptr);
    pass->SetViewport(Viewport.get());
    auto* stranger = new TRenderPass(Viewport->Context(), nullptr);
    stranger->Id = "second";
    table->AddOrSetValue("second", stranger);
    ASSERT_EQ(table->Count(), 2);

    pass->SetId("second");
    EXPECT_FALSE(table->ContainsKey("first"));
    TRenderPass* entry = nullptr;
    ASSERT_TRUE(table->TryGetValue("second", entry));
    EXPECT_EQ(entry->Controller(), pass) << "the stranger's entry went; the pass registered again";
    EXPECT_EQ(entry->Id, "second");
    EXPECT_EQ(table->Count(), 1);
}

TEST_F(Controllers, AnIntermediatePassLeavesTheDrawListWithItsTableEntry)
{
    auto* pass = Pass("extra");
    pass->Set_Type(TRenderPassType::Intermediate);
    pass->SetViewport(nullptr);
    pass->SetViewport(Viewport.get());
    TKorvaneContext* context = Viewport->Context();
    ASSERT_EQ(context->IntermediatePasses().size(), 1u);

    pass->SetId("renamed");  // frees the old entry
    ASSERT_EQ(context->IntermediatePasses().size(), 1u);
    EXPECT_EQ(context->IntermediatePasses()[0]->Id, "renamed");
    pass->SetViewport(nullptr);  // frees the new one
    EXPECT_TRUE(context->IntermediatePasses().empty());

    // Every draw walks the list: under the address sanitizer a freed entry would show here.
    TFillSource source(nullptr);
    TVertexBuffer vertices({TVertexFormat::Vertex, TVertexFormat::TexCoord0}, 3);
    vertices.SetVertices(1, TPoint3D(1, 0, 0));
    vertices.SetVertices(2, TPoint3D(0, 1, 0));
    TIndexBuffer indices(3);
    for (int i = 0; i < 3; ++i) indices.SetIndices(i, uint32_t(i));
    ASSERT_TRUE(context->BeginScene());
    context->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, source.Material(), 1.0f);
    context->EndScene();
}

TEST_F(Controllers, RenderToContextFillsTheRectangleWithThePassMaterial)
{
    auto* pass = TKorvaneRenderPassController::Create<TFillPass>(Viewport.get(), "fill");
    pass->Source->Input = pass->OutputTexture();
    TRenderer* renderer = pass->Renderer();
    TKorvaneContext* context = renderer->KorvaneContext();
    TBlendSettings before{};
    before[0] = TBlendSetting::Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfSrcAlpha,
                                      TBlendFactor::bfOneMinusSrcAlpha);
    // The first reading of the table in a program puts the default blending
    // into entry 0; done here, so that the pass's save sees the table set below.
    context->GetBlendings();
    // Set inside the pass's scene, read back when its iteration ends.
    TBlendSetting after{};
    pass->OnBeginRender = [&](TObject*, TContext3D*, int, TRenderPass*) { context->SetBlendings(before); };
    pass->OnEndRender = [&](TObject*, TContext3D*, int, TRenderPass*) { after = context->GetBlendings()[0]; };

    Owned<TRenderPass> instance(pass->CreateRenderPassInstance(nullptr));
    int renders = 0;
    TRenderContext render = Counting(renders);
    context->ExecuteRenderPass(instance.get(), &render);
    EXPECT_EQ(renders, 0) << "a rectangle pass draws no list";
    EXPECT_EQ(after, before[0]);
    ASSERT_FALSE(pass->Source->Fill()->Blend0.empty());
    EXPECT_FALSE(pass->Source->Fill()->Blend0.back()) << "the pass's own blend table applies while it draws";
    for (const auto& pixel : test::TexturePixels(pass->OutputTexture()))
        ASSERT_EQ(pixel, (std::array<uint8_t, 4>{255, 0, 0, 255}));

    // The program follows the pass pattern.
    const std::string name = "test.fill-" + std::to_string(reinterpret_cast<intptr_t>(pass->Source->Fill()));
    TContextShader* vertex = TShaderManager::FindShader(name + ".fvs");
    TContextShader* pixel = TShaderManager::FindShader(name + ".fps");
    ASSERT_NE(vertex, nullptr);
    ASSERT_NE(pixel, nullptr);
    const TContextShaderSource source = pixel->GetSourceByArch(TContextShaderArch::GLSL);
    const std::string text(source.Code.begin(), source.Code.end());
    EXPECT_EQ(text.rfind("#version 430", 0), 0u);
    EXPECT_NE(text.find("uniform sampler2D _Input;"), std::string::npos);
    ASSERT_EQ(source.Variables.size(), 1u);
    EXPECT_EQ(source.Variables[0].Name, "Input");
    EXPECT_EQ(vertex->GetSourceByArch(TContextShaderArch::GLSL).Variables[0].Name, "ModelViewProjMatrix");
}

TEST_F(Controllers, RenderToContextRefusesWhatItCannotDraw)
{
    auto* pass = Pass("rect");
    TTexture* target = pass->OutputTexture();
    const TRect rect(0, 0, 32, 16);
    EXPECT_EQ(test::MessageOf([&] { pass->RenderToContext(nullptr, target, rect, TPoint()); }),
              "TRenderPassMethod.RenderListToFBO failed - unsupported for rendering branch");
    pass->Method = TRenderPassMethod::RectToFBO;
    EXPECT_EQ(test::MessageOf([&] { pass->RenderToContext(nullptr, nullptr, rect, TPoint()); }),
              "RenderToContext failed - invalid destination texture");
    EXPECT_EQ(test::MessageOf([&] { pass->RenderToContext(nullptr, target, rect, TPoint()); }),
              "pass-controller: failed to render to context - missing material shader");
    EXPECT_EQ(TKorvaneContext::CurrentContext(), nullptr) << "the scene was ended after the failure";

    // A pass without a renderer of its own has no output to offer.
    test::LogCapture log;
    auto* composite =
        TKorvaneRenderPassController::Create<TKorvaneRenderPassDeferredComposite>(Viewport.get(), "composite");
    EXPECT_EQ(composite->GetOutputTexture(), nullptr);
    EXPECT_TRUE(log.Contains("<WARNING> TKorvaneRenderPassDeferredComposite - Output-Texture not assigned, maybe "
                             "because Viewport not linked"));
}

} // namespace
