// The render-pass table, the pass scene bracket and how the context runs passes
// and lets them take part in every draw.

#include "DrawTestSupport.h"
#include "Korvane.Context.Rendering.h"

using namespace korvane;
using namespace korvane::test;

namespace {
class RenderPasses : public TDrawFixture {
protected:
    // A pass owned by the test (not by a table) with a controller double.
    TRenderPass* NewPass(TPassControllerDouble& AController, TRenderPassType AType, const std::string& AId = "pass")
    {
        auto* pass = new TRenderPass(FContext.get(), &AController);
        pass->Id = AId;
        pass->_Type = AType;
        return pass;
    }
};

// Counts the passes freed by a table.
int GFreedPasses = 0;
class TCountedPass : public TRenderPass {
public:
    using TRenderPass::TRenderPass;
    ~TCountedPass() override { ++GFreedPasses; }
};
} // namespace

TEST_F(RenderPasses, APassWithoutControllerIsDisabledAndDrawsEverything)
{
    TRenderPass pass(FContext.get(), nullptr);
    EXPECT_FALSE(pass.Enabled());
    pass.SetEnabled(true);
    EXPECT_FALSE(pass.Enabled());
    EXPECT_TRUE(pass.IsPrimitivesKindSupported(TPrimitivesKind::Points));
    EXPECT_EQ(pass.GetIterations(), 0);
    EXPECT_EQ(pass.GetControllerShader(), nullptr);
    EXPECT_FALSE(pass.BeginScene());

    // A controller of another class is an invalid cast.
    TComponent other(nullptr);
    TRenderPass wrong(FContext.get(), &other);
    EXPECT_THROW(wrong.Enabled(), EInvalidCast);
}

TEST_F(RenderPasses, TheTableFreesRemovedPassesThatHaveAnId)
{
    GFreedPasses = 0;
    TPassControllerDouble controller;
    TRenderPass* survivor = nullptr;
    {
        Owned<TRenderPasses> table(new TRenderPasses(FContext.get()));
        auto* named = new TCountedPass(FContext.get(), &controller);
        named->Id = "named";
        auto* unnamed = new TCountedPass(FContext.get(), &controller);
        table->Add("named", named);
        table->Add("unnamed", unnamed);
        EXPECT_THROW(table->Add("named", named), EListError);

        table->Remove("unnamed");
        EXPECT_EQ(GFreedPasses, 0);
        EXPECT_EQ(table->Count(), 1);
        table->Remove("named");
        EXPECT_EQ(GFreedPasses, 1);

        // Setting the pass that is there keeps it; replacing it frees the old one.
        auto* first = new TCountedPass(FContext.get(), &controller);
        first->Id = "a";
        table->AddOrSetValue("a", first);
        table->AddOrSetValue("a", first);
        EXPECT_EQ(GFreedPasses, 1);
        auto* second = new TCountedPass(FContext.get(), &controller);
        second->Id = "a";
        table->AddOrSetValue("a", second);
        EXPECT_EQ(GFreedPasses, 2);

        // An extracted pass is the caller's.
        TRenderPass* extracted = table->ExtractPair("a");
        EXPECT_EQ(extracted, second);
        EXPECT_EQ(table->Count(), 0);
        table->Add("again", extracted);
        table->Add("unnamed", unnamed);
        survivor = unnamed;
    }
    // Destroying the table frees the named pass, not the unnamed one.
    EXPECT_EQ(GFreedPasses, 3);
    survivor->Free();
    EXPECT_EQ(GFreedPasses, 4);
}

TEST_F(RenderPasses, PreAndPostListsHoldTheEnabledPassesOfTheirType)
{
    TPassControllerDouble pre, disabled, intermediate, post;
    disabled.SetEnabled(false);
    TRenderPasses* table = FContext->RenderPasses();
    ASSERT_NE(table, nullptr);
    table->Add("pre", NewPass(pre, TRenderPassType::Pre, "pre"));
    table->Add("disabled", NewPass(disabled, TRenderPassType::Pre, "disabled"));
    table->Add("intermediate", NewPass(intermediate, TRenderPassType::Intermediate, "intermediate"));
    table->Add("post", NewPass(post, TRenderPassType::Post, "post"));

    const auto preList = table->GetPreProcessingPasses();
    ASSERT_EQ(preList.size(), 1u);
    EXPECT_EQ(preList[0]->Controller(), &pre);
    const auto postList = table->GetPostProcessingPasses();
    ASSERT_EQ(postList.size(), 1u);
    EXPECT_EQ(postList[0]->Controller(), &post);
    table->Clear();
}

TEST_F(RenderPasses, BeginSceneSizesTheViewportAndEndSceneRestoresIt)
{
    TPassControllerDouble controller;
    Owned<TRenderPass> pass(NewPass(controller, TRenderPassType::Pre));
    FContext->SetContextSize(1, 2, 30, 20);
    TKorvaneContextSize before{};
    FContext->GetContextSize(before);

    ASSERT_TRUE(pass->BeginScene());
    EXPECT_EQ(controller.FrameCount(), 1);
    EXPECT_EQ(controller.Begins, 1);
    EXPECT_EQ(controller.BeganWith, FContext.get());
    EXPECT_EQ(FContext->CurrentPass(), pass.get());
    TKorvaneContextSize during{};
    FContext->GetContextSize(during);
    EXPECT_EQ(during, (TKorvaneContextSize{0, 0, 16, 8}));

    pass->EndScene();
    EXPECT_EQ(controller.Ends, 1);
    TKorvaneContextSize after{};
    FContext->GetContextSize(after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(FContext->CurrentPass(), nullptr);
}

TEST_F(RenderPasses, ASkippedFrameIsCountedButNotRendered)
{
    TPassControllerDouble controller;
    Owned<TRenderPass> pass(NewPass(controller, TRenderPassType::Pre));
    FContext->SetContextSize(0, 0, 30, 20);
    controller.SkipRendering();

    EXPECT_FALSE(pass->BeginScene());
    EXPECT_FALSE(controller.RenderingSkipped());
    EXPECT_EQ(controller.FrameCount(), 1);
    EXPECT_EQ(controller.Begins, 0);
    EXPECT_EQ(FContext->CurrentPass(), nullptr);
    TKorvaneContextSize viewport{};
    FContext->GetContextSize(viewport);
    EXPECT_EQ(viewport, (TKorvaneContextSize{0, 0, 30, 20}));

    // The next frame renders again.
    EXPECT_TRUE(pass->BeginScene());
    EXPECT_EQ(controller.FrameCount(), 2);
    pass->EndScene();

    // A disabled pass neither counts nor renders.
    controller.SetEnabled(false);
    EXPECT_FALSE(pass->BeginScene());
    EXPECT_EQ(controller.FrameCount(), 2);
}

TEST_F(RenderPasses, NestedPassesStackOnTheContext)
{
    TPassControllerDouble outerController, innerController;
    Owned<TRenderPass> outer(NewPass(outerController, TRenderPassType::Pre));
    Owned<TRenderPass> inner(NewPass(innerController, TRenderPassType::Pre));
    FContext->BeginRenderPass(outer.get());
    FContext->BeginRenderPass(inner.get());
    EXPECT_EQ(FContext->GetCurrentRenderPass(), inner.get());
    FContext->EndRenderPass();
    EXPECT_EQ(FContext->CurrentPass(), outer.get());
    FContext->ResetRenderPasses();
    EXPECT_EQ(FContext->CurrentPass(), nullptr);
    FContext->EndRenderPass();
    EXPECT_EQ(FContext->CurrentPass(), nullptr);
    FContext->EndRenderPass();
    EXPECT_EQ(FContext->CurrentPass(), nullptr);
}

TEST_F(RenderPasses, ExecutingPassesRunsTheirIterationsBetweenBeginAndEnd)
{
    TPassControllerDouble listController, rectController, silentController;
    listController.Iterations = 0;
    rectController.Iterations = 2;
    rectController.Method = TRenderPassMethod::RectToFBO;
    listController.RenderProc = TRenderPassRenderingProc::ListRendering;
    TRenderPasses* table = FContext->RenderPasses();

    std::vector<std::string> events;
    auto hook = [&](const std::string& AName) {
        return [&events, AName](TContext3D*, int ACount, TRenderPass*) {
            events.push_back(AName + std::to_string(ACount));
        };
    };
    TRenderPass* list = NewPass(listController, TRenderPassType::Pre, "list");
    list->OnBeginRendering = hook("begin-list");
    list->OnEndRendering = hook("end-list");
    TRenderPass* rect = NewPass(rectController, TRenderPassType::Post, "rect");
    rect->OnBeginRendering = hook("begin-rect");
    // A pass without OnBeginRendering is not run at all.
    TRenderPass* silent = NewPass(silentController, TRenderPassType::Pre, "silent");
    table->Add("list", list);
    table->Add("rect", rect);
    table->Add("silent", silent);

    TRenderContext rc = TRenderContext::Create(
        FContext.get(), nullptr, [&](PRenderContext) { events.push_back("default"); },
        [&](PRenderContext) { events.push_back("list"); });

    EXPECT_TRUE(FContext->PreProcessing(&rc));
    EXPECT_EQ(events, (std::vector<std::string>{"begin-list0", "list", "end-list0"}));
    EXPECT_EQ(listController.Begins, 1);
    EXPECT_EQ(listController.Ends, 1);
    EXPECT_EQ(silentController.FrameCount(), 0);

    events.clear();
    EXPECT_TRUE(FContext->PostProcessing(&rc));
    EXPECT_EQ(events, (std::vector<std::string>{"begin-rect0", "begin-rect1"}));
    EXPECT_EQ(rectController.RectRenders, 2);
    EXPECT_EQ(rectController.Ends, 1);

    EXPECT_TRUE(FContext->ExecuteRenderPasses(TRenderPassType::Intermediate, &rc));
    EXPECT_FALSE(FContext->ExecuteRenderPasses(TRenderPassType::Pre, nullptr));
    table->Clear();
    EXPECT_FALSE(FContext->PreProcessing(&rc));
}

TEST_F(RenderPasses, AFailingIterationStillEndsThePass)
{
    TPassControllerDouble controller;
    Owned<TRenderPass> pass(NewPass(controller, TRenderPassType::Pre));
    pass->OnBeginRendering = [](TContext3D*, int, TRenderPass*) { throw Exception("iteration failed"); };
    TRenderContext rc;
    EXPECT_THROW(FContext->ExecuteRenderPass(pass.get(), &rc), Exception);
    EXPECT_EQ(controller.Ends, 1);
    EXPECT_EQ(FContext->CurrentPass(), nullptr);
}

TEST_F(RenderPasses, IntermediatePassesAreListedOnce)
{
    TPassControllerDouble controller;
    Owned<TRenderPass> pass(NewPass(controller, TRenderPassType::Intermediate));
    FContext->AddIntermediatePass(pass.get());
    FContext->AddIntermediatePass(pass.get());
    EXPECT_EQ(FContext->IntermediatePasses().size(), 1u);
}

// ---------------------------------------------------------------------------
// Passes in the draw entry

TEST_F(RenderPasses, ACurrentPassThatRefusesTheKindDrawsNothing)
{
    TPassControllerDouble refusing, intermediate;
    refusing.RefuseTriangles = true;
    TColorMaterialSource source({0, 1, 0, 1});
    intermediate.Source = &source;
    Owned<TRenderPass> current(NewPass(refusing, TRenderPassType::Pre));
    Owned<TRenderPass> extra(NewPass(intermediate, TRenderPassType::Intermediate));
    FContext->AddIntermediatePass(extra.get());
    FContext->BeginRenderPass(current.get());

    TColorMaterial material({1, 0, 0, 1});
    DrawTriangle(CentreTriangle, &material);
    EXPECT_EQ(ContextDrawCalls.load(), 0);
    EXPECT_EQ(source.ColorMaterial()->Applied, 0);
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {0, 0, 0, 255}));
    FContext->EndRenderPass();
}

TEST_F(RenderPasses, APassMaterialReplacesTheObjectsMaterial)
{
    TPassControllerDouble controller;
    TColorMaterialSource source({0, 1, 0, 1});
    controller.Source = &source;
    Owned<TRenderPass> pass(NewPass(controller, TRenderPassType::Pre));
    TMaterial* told = nullptr;
    int notified = 0;
    pass->OnApplyMaterial = [&](TMaterial* AOriginal, TMaterial* ANew) {
        ++notified;
        EXPECT_EQ(AOriginal, nullptr);
        told = ANew;
    };
    FContext->BeginRenderPass(pass.get());
    TColorMaterial material({1, 0, 0, 1});
    DrawTriangle(CentreTriangle, &material);
    FContext->EndRenderPass();

    EXPECT_EQ(notified, 1);
    EXPECT_EQ(told, source.ColorMaterial());
    EXPECT_EQ(source.ColorMaterial()->Applied, 1);
    EXPECT_EQ(source.ColorMaterial()->Resets, 1);
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {0, 255, 0, 255}));
}

TEST_F(RenderPasses, TwoIntermediatePassesMakeOneDrawThreeBatches)
{
    TPassControllerDouble first, second, withoutMaterial;
    TColorMaterialSource firstSource({0, 1, 0, 1}), secondSource({0, 0, 1, 1});
    first.Source = &firstSource;
    second.Source = &secondSource;
    Owned<TRenderPass> a(NewPass(first, TRenderPassType::Intermediate));
    Owned<TRenderPass> b(NewPass(withoutMaterial, TRenderPassType::Intermediate));
    Owned<TRenderPass> c(NewPass(second, TRenderPassType::Intermediate));
    for (TRenderPass* p : {a.get(), b.get(), c.get()}) FContext->AddIntermediatePass(p);

    TColorMaterial material({1, 0, 0, 1});
    DrawTriangle(CentreTriangle, &material);
    EXPECT_EQ(ContextDrawCalls.load(), 3);
    for (TColorMaterialSource* s : {&firstSource, &secondSource}) {
        EXPECT_EQ(s->ColorMaterial()->Applied, 1);
        EXPECT_EQ(s->ColorMaterial()->Resets, 1);
    }
    // The last intermediate pass drew last, with its own material.
    EXPECT_TRUE(NearColor(Pixel(Size / 2, Size / 2), {0, 0, 255, 255}));
}
