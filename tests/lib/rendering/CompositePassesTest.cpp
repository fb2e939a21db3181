// The passes of the composite chain, one at a time on real GL: the deferred
// composite from a G-buffer filled by hand, FXAA and the blur kernels on
// hand-made input textures, each read back pixel by pixel. A watch on the GL
// draw calls checks that no draw samples the texture it renders into.

#include <gtest/gtest.h>

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Controller.Passes.CustomBlur.h"
#include "Korvane.Controller.Passes.Deferred.h"
#include "Korvane.Controller.Passes.EmissiveBlur.h"
#include "Korvane.Controller.Passes.FXAA.h"
#include "Korvane.Controller.Passes.GlobalIllumBlur.h"
#include "Platform.Controls.h"
#include "RenderingTestSupport.h"

using namespace korvane;
using test::Owned;
using test::TTestViewport;

namespace {

using Pixel = std::array<uint8_t, 4>;
using Pixels = std::vector<Pixel>;

// --- what every draw samples and where it draws -------------------------------

struct TDrawRecord {
    GLuint Program = 0;
    std::set<GLuint> Sampled; // textures on the units of the program's samplers
    std::set<GLuint> Targets; // colour attachments of the draw frame buffer
    float Width = NAN;        // the program's "_Width", when it has one
    // What the buffer on the binding point of "CompositeShaderData" held, when
    // the program has that block.
    std::vector<uint8_t> CompositeBlock;
};

std::vector<TDrawRecord>* GDraws = nullptr;

TDrawRecord CurrentDrawState()
{
    TDrawRecord record;
    GLint program = 0, framebuffer = 0, active = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    record.Program = GLuint(program);
    if (program) {
        GLint uniforms = 0;
        glGetProgramiv(GLuint(program), GL_ACTIVE_UNIFORMS, &uniforms);
        for (GLint i = 0; i < uniforms; ++i) {
            char name[256];
            GLint size = 0;
            GLenum type = 0;
            glGetActiveUniform(GLuint(program), GLuint(i), sizeof name, nullptr, &size, &type, name);
            const GLint location = glGetUniformLocation(GLuint(program), name);
            if (location < 0) continue;
            if (type == GL_SAMPLER_2D) {
                GLint unit = 0, texture = 0;
                glGetUniformiv(GLuint(program), location, &unit);
                glActiveTexture(GLenum(GL_TEXTURE0 + unit));
                glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
                if (texture) record.Sampled.insert(GLuint(texture));
            } else if (std::string(name) == "_Width") {
                glGetUniformfv(GLuint(program), location, &record.Width);
            }
        }
        glActiveTexture(GLenum(active));
        const GLuint block = glGetUniformBlockIndex(GLuint(program), "CompositeShaderData");
        if (block != GL_INVALID_INDEX) {
            GLint binding = -1, buffer = 0, size = 0;
            glGetActiveUniformBlockiv(GLuint(program), block, GL_UNIFORM_BLOCK_BINDING, &binding);
            glGetIntegeri_v(GL_UNIFORM_BUFFER_BINDING, GLuint(binding), &buffer);
            if (buffer) glGetNamedBufferParameteriv(GLuint(buffer), GL_BUFFER_SIZE, &size);
            record.CompositeBlock.resize(size_t(size));
            if (size > 0)
                glGetNamedBufferSubData(GLuint(buffer), 0, GLsizeiptr(size), record.CompositeBlock.data());
        }
    }
    if (framebuffer)
        for (GLenum attachment = GL_COLOR_ATTACHMENT0; attachment < GL_COLOR_ATTACHMENT0 + 8; ++attachment) {
            GLint type = 0, name = 0;
            glGetNamedFramebufferAttachmentParameteriv(GLuint(framebuffer), attachment,
                                                       GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
            if (type != GL_TEXTURE) continue;
            glGetNamedFramebufferAttachmentParameteriv(GLuint(framebuffer), attachment,
                                                       GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
            record.Targets.insert(GLuint(name));
        }
    return record;
}

PFNGLDRAWELEMENTSPROC GRealDrawElements = nullptr;
PFNGLDRAWARRAYSPROC GRealDrawArrays = nullptr;
PFNGLDRAWELEMENTSINSTANCEDPROC GRealDrawElementsInstanced = nullptr;
PFNGLDRAWARRAYSINSTANCEDPROC GRealDrawArraysInstanced = nullptr;

void EPOXY_CALLSPEC WatchDrawElements(GLenum m, GLsizei c, GLenum t, const void* i)
{
    GDraws->push_back(CurrentDrawState());
    GRealDrawElements(m, c, t, i);
}
void EPOXY_CALLSPEC WatchDrawArrays(GLenum m, GLint f, GLsizei c)
{
    GDraws->push_back(CurrentDrawState());
    GRealDrawArrays(m, f, c);
}
void EPOXY_CALLSPEC WatchDrawElementsInstanced(GLenum m, GLsizei c, GLenum t, const void* i, GLsizei n)
{
    GDraws->push_back(CurrentDrawState());
    GRealDrawElementsInstanced(m, c, t, i, n);
}
void EPOXY_CALLSPEC WatchDrawArraysInstanced(GLenum m, GLint f, GLsizei c, GLsizei n)
{
    GDraws->push_back(CurrentDrawState());
    GRealDrawArraysInstanced(m, f, c, n);
}

// Records the state of every GL draw while alive. The draw entry points are
// swapped for watchers that call the driver's own functions, looked up
// directly so that the dispatcher never rewrites the watcher away.
class TDrawWatch {
public:
    TDrawWatch()
    {
        GRealDrawElements = reinterpret_cast<PFNGLDRAWELEMENTSPROC>(eglGetProcAddress("glDrawElements"));
        GRealDrawArrays = reinterpret_cast<PFNGLDRAWARRAYSPROC>(eglGetProcAddress("glDrawArrays"));
        GRealDrawElementsInstanced =
            reinterpret_cast<PFNGLDRAWELEMENTSINSTANCEDPROC>(eglGetProcAddress("glDrawElementsInstanced"));
        GRealDrawArraysInstanced =
            reinterpret_cast<PFNGLDRAWARRAYSINSTANCEDPROC>(eglGetProcAddress("glDrawArraysInstanced"));
        FSaved = {epoxy_glDrawElements, epoxy_glDrawArrays, epoxy_glDrawElementsInstanced,
                  epoxy_glDrawArraysInstanced};
        GDraws = &Draws;
        epoxy_glDrawElements = WatchDrawElements;
        epoxy_glDrawArrays = WatchDrawArrays;
        epoxy_glDrawElementsInstanced = WatchDrawElementsInstanced;
        epoxy_glDrawArraysInstanced = WatchDrawArraysInstanced;
    }
    ~TDrawWatch()
    {
        epoxy_glDrawElements = FSaved.Elements;
        epoxy_glDrawArrays = FSaved.Arrays;
        epoxy_glDrawElementsInstanced = FSaved.ElementsInstanced;
        epoxy_glDrawArraysInstanced = FSaved.ArraysInstanced;
        GDraws = nullptr;
    }
    TDrawWatch(const TDrawWatch&) = delete;
    TDrawWatch& operator=(const TDrawWatch&) = delete;

    bool Available() const
    {
        return GRealDrawElements && GRealDrawArrays && GRealDrawElementsInstanced && GRealDrawArraysInstanced;
    }

    std::vector<TDrawRecord> Draws;

private:
    struct {
        PFNGLDRAWELEMENTSPROC Elements;
        PFNGLDRAWARRAYSPROC Arrays;
        PFNGLDRAWELEMENTSINSTANCEDPROC ElementsInstanced;
        PFNGLDRAWARRAYSINSTANCEDPROC ArraysInstanced;
    } FSaved;
};

// Every draw: nothing it samples is what it draws into.
void ExpectNoDrawReadsItsTarget(const std::vector<TDrawRecord>& ADraws)
{
    for (size_t i = 0; i < ADraws.size(); ++i)
        for (GLuint texture : ADraws[i].Sampled)
            EXPECT_EQ(ADraws[i].Targets.count(texture), 0u) << "draw " << i << " samples its own target " << texture;
}

GLuint Name(const TTexture* ATexture) { return GLuint(ATexture->Handle()); }

// --- textures --------------------------------------------------------------------

// An RGBA8 texture of that size, filled with APixels (rows bottom first).
Owned<TKorvaneTexture> MakeTexture(int AWidth, int AHeight, const Pixels& APixels,
                                   TKorvaneTextureWrap AWrap = TKorvaneTextureWrap::ClampToEdge)
{
    Owned<TKorvaneTexture> texture(TKorvaneTexture::Create());
    texture->Components = TPixelFormatEx::RGBA8;
    texture->SetFormat(TPixelFormatEx::RGBA);
    texture->DataType = TKorvaneTextureDataType::dtUnsignedByte;
    texture->SetStyle({TTextureStyle::RenderTarget});
    texture->WrapS = AWrap;
    texture->WrapT = AWrap;
    texture->SetSize(AWidth, AHeight);
    texture->Initialize();
    glTextureSubImage2D(Name(texture.get()), 0, 0, 0, AWidth, AHeight, GL_RGBA, GL_UNSIGNED_BYTE, APixels.data());
    return texture;
}

Pixels Filled(int AWidth, int AHeight, const std::function<Pixel(int, int)>& AAt)
{
    Pixels pixels(size_t(AWidth) * AHeight);
    for (int y = 0; y < AHeight; ++y)
        for (int x = 0; x < AWidth; ++x) pixels[size_t(y) * AWidth + x] = AAt(x, y);
    return pixels;
}

// Fills the whole of a G-buffer texture with one value, a float per component.
void FillFloat(const TTexture* ATexture, GLenum AFormat, std::vector<float> AValue)
{
    const int w = test::TextureLevelParameter(ATexture, GL_TEXTURE_WIDTH);
    const int h = test::TextureLevelParameter(ATexture, GL_TEXTURE_HEIGHT);
    std::vector<float> data;
    for (int i = 0; i < w * h; ++i) data.insert(data.end(), AValue.begin(), AValue.end());
    glTextureSubImage2D(Name(ATexture), 0, 0, 0, w, h, AFormat, GL_FLOAT, data.data());
}

int Luminance(const Pixel& APixel) { return (APixel[0] * 299 + APixel[1] * 587 + APixel[2] * 114) / 1000; }

// A pass controller that only hands out a texture of the test's choosing as its output.
class TFixedOutputPass : public TKorvaneRenderPassController {
public:
    explicit TFixedOutputPass(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}
    TTexture* Output = nullptr;
    TTexture* GetOutputTexture() override { return Output; }
    void CreateRenderer() override {}
};

// --- the fixture -------------------------------------------------------------------

class CompositePasses : public ::testing::Test {
protected:
    static constexpr int W = 32, H = 16;

    void SetUp() override { Viewport.reset(new TTestViewport(W, H)); }
    void TearDown() override
    {
        Renderer.reset();
        Viewport.reset();
    }

    // Runs the controller's pass once, as the renderer runs its internal passes.
    void Execute(TKorvaneRenderPassController* ACtrl)
    {
        Owned<TRenderPass> pass(ACtrl->CreateRenderPassInstance(ACtrl->Renderer()->SharedContext()));
        ASSERT_NE(pass.get(), nullptr);
        TRenderContext context;
        ACtrl->Renderer()->KorvaneContext()->ExecuteRenderPass(pass.get(), &context);
    }

    template <class T>
    T* MakePass(const std::string& AId)
    {
        return TKorvaneRenderPassController::Create<T>(Viewport.get(), AId);
    }

    Owned<TTestViewport> Viewport;
    Owned<TForwardRenderer> Renderer;
};

// =====================================================================================
// Deferred composite

class DeferredComposite : public CompositePasses {
protected:
    void SetUp() override
    {
        CompositePasses::SetUp();
        Renderer.reset(TRenderer::Create<TForwardRenderer>("main", Viewport.get(), {TRendererFlag::IgnoreGlobalIllum}));
        Renderer->SetFXAA(0);
        Renderer->Apply();
        Ctrl = Renderer->DeferredCompositeCtrl();
        ASSERT_NE(Ctrl, nullptr);
        // Opaque albedo only: no translucent weight, no emissive light.
        FillAlbedo({200, 40, 80, 255});
        FillFloat(Renderer->TranslucentAlbedoTexture(), GL_RGBA, {0, 0, 0, 0});
        FillFloat(Renderer->AlphaTexture(), GL_RED, {0});
        FillEmissive({0, 0, 0});
    }

    void FillAlbedo(Pixel AColor)
    {
        const TTexture* albedo = Renderer->AlbedoTexture();
        const Pixels pixels(size_t(albedo->Width()) * albedo->Height(), AColor);
        glTextureSubImage2D(Name(albedo), 0, 0, 0, albedo->Width(), albedo->Height(), GL_RGBA, GL_UNSIGNED_BYTE,
                            pixels.data());
    }
    void FillEmissive(std::array<float, 3> AColor)
    {
        FillFloat(Renderer->EmissiveTexture(), GL_RGB, {AColor[0], AColor[1], AColor[2]});
    }

    // The composite pass over the G-buffer, as the renderer's composite step
    // runs it, with AGlobalIllum as the illumination pass (nil: none).
    Pixels RunComposite(TKorvaneRenderPassController* AGlobalIllum = nullptr)
    {
        Ctrl->SetAlbedoTexture(Renderer->AlbedoTexture());
        Ctrl->SetTranslucentAlbedoTexture(Renderer->TranslucentAlbedoTexture());
        Ctrl->SetAlphaTexture(Renderer->AlphaTexture());
        Ctrl->SetPositionTexture(Renderer->PositionTexture());
        Ctrl->SetNormalsTexture(Renderer->NormalsTexture());
        Ctrl->SetEmissiveTexture(Renderer->EmissiveTexture());
        Ctrl->SetGlobalIllumPass(AGlobalIllum);
        Renderer->KorvaneContext()->AttachTextureToDefaultBuffer(Composite(), TRenderTarget::Color_0);
        Execute(Ctrl);
        return test::TexturePixels(Composite());
    }
    TTexture* Composite() const { return Renderer->CompositeTexture()->Texture(); }

    TKorvaneRenderPassDeferredComposite* Ctrl = nullptr;
};

// Every pixel within one step of AExpected (0..1 per channel), opaque.
void ExpectAll(const Pixels& APixels, std::array<double, 3> AExpected, int ATolerance = 1)
{
    ASSERT_FALSE(APixels.empty());
    for (size_t i = 0; i < APixels.size(); ++i) {
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(APixels[i][c], AExpected[c] * 255.0, ATolerance + 0.5) << "pixel " << i << " channel " << c;
        ASSERT_EQ(APixels[i][3], 255) << "pixel " << i;
    }
}

TEST_F(DeferredComposite, WithoutTranslucentWeightTheOutputIsTheAlbedoSaturatedByItsOpaqueFactor)
{
    const double r = 200 / 255.0, g = 40 / 255.0, b = 80 / 255.0;
    const double grey = 0.2125 * r + 0.7154 * g + 0.0721 * b;
    struct Case {
        const char* Name;
        TPoint3D Saturation;
        std::array<double, 3> Expected;
    };
    const Case cases[] = {
        // Factors at or below 0.001 leave the colour alone: 0 means no saturation step.
        {"0 applies none", {0, 0, 0}, {r, g, b}},
        {"1 leaves the colour", {1, 0, 0}, {r, g, b}},
        {"0.5 moves halfway to the luminance grey", {0.5f, 0, 0}, {(r + grey) / 2, (g + grey) / 2, (b + grey) / 2}},
        {"0.25 moves three quarters", {0.25f, 0, 0}, {grey + (r - grey) / 4, grey + (g - grey) / 4, grey + (b - grey) / 4}},
        // Without translucent weight the translucent and composite factors never run.
        {"translucent and composite factors alone", {0, 0.5f, 0.5f}, {r, g, b}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Ctrl->SetSaturation(c.Saturation);
        ExpectAll(RunComposite(), c.Expected);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(DeferredComposite, TranslucentColoursAreDividedByTheirWeightAndMixedByTheirAlpha)
{
    // Two layers summed to a weight of 2: the average is (0, 0.5, 1) with an
    // alpha of 0.25 over the albedo.
    FillAlbedo({255, 0, 0, 255});
    FillFloat(Renderer->TranslucentAlbedoTexture(), GL_RGBA, {0, 1, 2, 2});
    FillFloat(Renderer->AlphaTexture(), GL_RED, {0.25f});
    const double avgGrey = 0.2125 * 0 + 0.7154 * 0.5 + 0.0721 * 1;
    struct Case {
        const char* Name;
        TPoint3D Saturation;
        std::array<double, 3> Expected;
    };
    const Case cases[] = {
        {"unsaturated", {0, 0, 0}, {0.75, 0.125, 0.25}},
        // The translucent factor greys the average before the mix.
        {"translucent grey", {0, 0.0015f, 0}, {0.75 + 0.25 * avgGrey, 0.25 * avgGrey, 0.25 * avgGrey}},
        // The composite factor greys the mixed colour.
        {"composite half", {0, 0, 0.5f},
         {(0.75 + (0.2125 * 0.75 + 0.7154 * 0.125 + 0.0721 * 0.25)) / 2,
          (0.125 + (0.2125 * 0.75 + 0.7154 * 0.125 + 0.0721 * 0.25)) / 2,
          (0.25 + (0.2125 * 0.75 + 0.7154 * 0.125 + 0.0721 * 0.25)) / 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Ctrl->SetSaturation(c.Saturation);
        ExpectAll(RunComposite(), c.Expected, 2);
    }
}

TEST_F(DeferredComposite, EmissiveLightIsAddedOnlyWithAnEmissiveBlur)
{
    FillAlbedo({100, 50, 20, 255});
    FillEmissive({0.2f, 0.4f, 0.6f});
    const double r = 100 / 255.0, g = 50 / 255.0, b = 20 / 255.0;
    struct Case {
        int EmissiveBlur;
        int Stored;
        std::array<double, 3> Expected;
    };
    const Case cases[] = {
        {0, 0, {r, g, b}},
        {1, 1, {r + 0.2, g + 0.4, b + 0.6}},
        {-3, 0, {r, g, b}},
        {40, 15, {r + 0.2, g + 0.4, b + 0.6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.EmissiveBlur);
        Ctrl->SetEmissiveBlur(c.EmissiveBlur);
        EXPECT_EQ(Ctrl->EmissiveBlur(), c.Stored);
        ExpectAll(RunComposite(), c.Expected, 2);
    }
}

TEST_F(DeferredComposite, TheRenderersCompositeStepAddsTheBlurredEmissiveLight)
{
    // Through the renderer's own step: emissive blur 0 skips the blur pass
    // and the emissive light; 1 blurs it and the composite adds the result.
    FillAlbedo({40, 40, 40, 255});
    FillEmissive({0.5f, 0.5f, 0.5f});
    TRenderContext context;
    Renderer->SetEmissiveBlur(0);
    Renderer->Composite(&context);
    ExpectAll(test::TexturePixels(Composite()), {40 / 255.0, 40 / 255.0, 40 / 255.0});

    Renderer->SetEmissiveBlur(1);
    Renderer->Composite(&context);
    ASSERT_NE(Renderer->EmissiveBlurCtrl(), nullptr);
    EXPECT_EQ(Renderer->EmissiveBlurCtrl()->FrameCount(), 1u);
    const Pixels lit = test::TexturePixels(Composite());
    // An even emissive field stays even under the blur; tone mapping keeps it below 1.
    for (const Pixel& p : lit) {
        ASSERT_GT(p[0], 40 + 60);
        ASSERT_EQ(p[0], lit[lit.size() / 2][0]);
    }
}

TEST_F(DeferredComposite, GlobalIlluminationAlphaDarkensDownToTheShadowLimit)
{
    auto* gi = MakePass<TFixedOutputPass>("gi");
    FillAlbedo({200, 100, 250, 255});
    const double r = 200 / 255.0, g = 100 / 255.0, b = 250 / 255.0;
    struct Case {
        const char* Name;
        Pixel Illumination;
        std::array<double, 3> Expected;
    };
    const Case cases[] = {
        {"alpha 1 darkens to 0.1", {0, 0, 0, 255}, {0.1 * r, 0.1 * g, 0.1 * b}},
        {"alpha 0 leaves it", {0, 0, 0, 0}, {r, g, b}},
        {"alpha 0.5 halves it", {0, 0, 0, 128}, {r * 127 / 255.0, g * 127 / 255.0, b * 127 / 255.0}},
        // Indirect light is added (times the reflection, 1.0) before the darkening.
        {"light, alpha 0", {40, 20, 0, 0}, {r + 40 / 255.0, g + 20 / 255.0, std::min(1.0, b)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto texture = MakeTexture(W, H, Pixels(W * H, c.Illumination));
        gi->Output = texture.get();
        ExpectAll(RunComposite(gi), c.Expected, 2);
        EXPECT_EQ(Ctrl->CompositeMaterial()->ShaderData().GlobalIllum, 1);
    }
    // Without the pass nothing is composited, and the block says so.
    ExpectAll(RunComposite(nullptr), {r, g, b});
    EXPECT_EQ(Ctrl->CompositeMaterial()->ShaderData().GlobalIllum, 0);
}

TEST_F(DeferredComposite, OnlyTheFirstEightEnabledLightsReachTheBlock)
{
    // Ten lights; the second and the fifth are off. The eight that reach the
    // block are the enabled ones in order: intensities 1, 3, 4, 6, 7, 8, 9, 10.
    TKorvaneContext* context = Renderer->KorvaneContext();
    for (int i = 1; i <= 10; ++i) {
        TKorvaneShaderLight light{};
        light.LightType = 1;
        light.Intensity = float(i);
        light.Enabled = (i == 2 || i == 5) ? 0 : 1;
        context->AddLight(light);
    }
    TDrawWatch watch;
    ASSERT_TRUE(watch.Available());
    RunComposite();
    ASSERT_EQ(watch.Draws.size(), 1u);
    const TCompositeShaderData& data = Ctrl->CompositeMaterial()->ShaderData();
    ASSERT_EQ(data.NumberOfLights, 8);
    const float expected[8] = {1, 3, 4, 6, 7, 8, 9, 10};
    for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(data.Lights[i].Intensity, expected[i]) << i;

    // And on the GPU: the buffer on the block's binding point held them when the pass drew.
    const std::vector<uint8_t>& bytes = watch.Draws[0].CompositeBlock;
    ASSERT_EQ(bytes.size(), sizeof(TCompositeShaderData));
    int32_t count = 0;
    std::memcpy(&count, bytes.data() + 44, 4);
    EXPECT_EQ(count, 8);
    for (int i = 0; i < 8; ++i) {
        float intensity = 0;
        std::memcpy(&intensity, bytes.data() + 48 + 144 * i + 136, 4);
        EXPECT_FLOAT_EQ(intensity, expected[i]) << i;
    }
}

TEST_F(DeferredComposite, TheBlockIs1200BytesWithTheOffsetsOfTheCompiledProgram)
{
    TDrawWatch watch;
    ASSERT_TRUE(watch.Available());
    RunComposite();
    ASSERT_EQ(watch.Draws.size(), 1u);
    const GLuint program = watch.Draws[0].Program;
    const GLuint block = glGetUniformBlockIndex(program, "CompositeShaderData");
    ASSERT_NE(block, GL_INVALID_INDEX);
    GLint size = 0;
    glGetActiveUniformBlockiv(program, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
    EXPECT_EQ(size, 1200);
    EXPECT_EQ(sizeof(TCompositeShaderData), 1200u);

    struct Member {
        std::string Name;
        GLint Offset;     // what the block's layout must hold
        size_t HostOffset; // where the C++ copy keeps it
    };
    const size_t lights = offsetof(TCompositeShaderData, Lights);
    std::vector<Member> members = {
        {"_VoxelCenter", 0, offsetof(TCompositeShaderData, VoxelCenter)},
        {"_GlobalIllum", 12, offsetof(TCompositeShaderData, GlobalIllum)},
        {"_Saturation", 16, offsetof(TCompositeShaderData, Saturation)},
        {"_EmissiveBlur", 28, offsetof(TCompositeShaderData, EmissiveBlur)},
        {"_VoxelSize", 32, offsetof(TCompositeShaderData, VoxelSize)},
        {"_ShadowLimit", 36, offsetof(TCompositeShaderData, ShadowLimit)},
        {"_Reflection", 40, offsetof(TCompositeShaderData, Reflection)},
        {"_NumberOfLights", 44, offsetof(TCompositeShaderData, NumberOfLights)},
    };
    struct LightField {
        const char* Name;
        GLint Offset;
        size_t HostOffset;
    };
    const LightField fields[] = {
        {"_LightType", 0, offsetof(TKorvaneShaderLight, LightType)},
        {"_Position", 16, offsetof(TKorvaneShaderLight, Position)},
        {"_Direction", 32, offsetof(TKorvaneShaderLight, Direction)},
        {"_Ambient", 48, offsetof(TKorvaneShaderLight, Ambient)},
        {"_Diffuse", 64, offsetof(TKorvaneShaderLight, Diffuse)},
        {"_Specular", 80, offsetof(TKorvaneShaderLight, Specular)},
        {"_Scattering", 96, offsetof(TKorvaneShaderLight, Scattering)},
        {"_SpotCutOff", 112, offsetof(TKorvaneShaderLight, SpotCutoff)},
        {"_SpotCosCutoff", 116, offsetof(TKorvaneShaderLight, SpotCosCutoff)},
        {"_SpotExponent", 120, offsetof(TKorvaneShaderLight, SpotExponent)},
        {"_ConstantAttenuation", 124, offsetof(TKorvaneShaderLight, ConstantAttenuation)},
        {"_LinearAttenuation", 128, offsetof(TKorvaneShaderLight, LinearAttenuation)},
        {"_QuadraticAttenuation", 132, offsetof(TKorvaneShaderLight, QuadraticAttenuation)},
        {"_Intensity", 136, offsetof(TKorvaneShaderLight, Intensity)},
        {"_Enabled", 140, offsetof(TKorvaneShaderLight, Enabled)},
    };
    for (int light : {0, 1, 7})
        for (const LightField& f : fields)
            members.push_back({"_Lights[" + std::to_string(light) + "]." + f.Name, 48 + 144 * light + f.Offset,
                               lights + sizeof(TKorvaneShaderLight) * light + f.HostOffset});

    std::vector<const char*> names;
    for (const Member& m : members) names.push_back(m.Name.c_str());
    std::vector<GLuint> indices(members.size());
    glGetUniformIndices(program, GLsizei(names.size()), names.data(), indices.data());
    std::vector<GLint> offsets(members.size(), -1), blocks(members.size(), -1);
    for (size_t i = 0; i < members.size(); ++i) ASSERT_NE(indices[i], GL_INVALID_INDEX) << members[i].Name;
    glGetActiveUniformsiv(program, GLsizei(indices.size()), indices.data(), GL_UNIFORM_OFFSET, offsets.data());
    glGetActiveUniformsiv(program, GLsizei(indices.size()), indices.data(), GL_UNIFORM_BLOCK_INDEX, blocks.data());
    for (size_t i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(members[i].Name);
        EXPECT_EQ(blocks[i], GLint(block));
        EXPECT_EQ(offsets[i], members[i].Offset);
        EXPECT_EQ(size_t(members[i].Offset), members[i].HostOffset);
    }
}

// =====================================================================================
// FXAA

class FXAAPass : public CompositePasses {
protected:
    TKorvaneRenderPassFXAA* MakeFXAA(TTexture* AInput, int AIterations = 1)
    {
        auto* fxaa = MakePass<TKorvaneRenderPassFXAA>("fxaa" + std::to_string(++FCount));
        fxaa->Iterations = AIterations;
        fxaa->SetCompositeInputTexture(AInput);
        return fxaa;
    }
    // One execution; the result as pixels.
    Pixels Run(TKorvaneRenderPassFXAA* AFXAA)
    {
        Execute(AFXAA);
        return test::TexturePixels(AFXAA->GetFinalOutputTexture());
    }

    // Black where x <= y, white elsewhere: a stair-stepped diagonal edge.
    static Pixels Diagonal()
    {
        return Filled(W, H, [](int x, int y) { return x <= y ? Pixel{0, 0, 0, 255} : Pixel{255, 255, 255, 255}; });
    }

private:
    int FCount = 0;
};

TEST_F(FXAAPass, AFlatImagePassesUnchanged)
{
    const Pixel colour{90, 160, 40, 255};
    auto input = MakeTexture(W, H, Pixels(W * H, colour));
    TKorvaneRenderPassFXAA* fxaa = MakeFXAA(input.get());
    for (const Pixel& p : Run(fxaa)) ASSERT_TRUE(test::NearColor(p, colour, 1));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(FXAAPass, AHardEdgeGetsIntermediateValuesAndTheFlatAreasStay)
{
    const Pixels source = Diagonal();
    auto input = MakeTexture(W, H, source);
    const Pixels out = Run(MakeFXAA(input.get()));
    ASSERT_EQ(out.size(), source.size());
    int softened = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Pixel& p = out[size_t(y) * W + x];
            if (std::abs(x - y) >= 3) {
                ASSERT_TRUE(test::NearColor(p, source[size_t(y) * W + x], 1)) << x << "," << y;
            } else if (Luminance(p) > 12 && Luminance(p) < 243) {
                ++softened;
            }
        }
    // Along the whole diagonal, not at a few stray pixels.
    EXPECT_GE(softened, H);
}

TEST_F(FXAAPass, WithoutAnInputTextureTheDrawFails)
{
    auto* empty = MakePass<TFixedOutputPass>("empty");
    TKorvaneRenderPassFXAA* fxaa = MakeFXAA(nullptr);
    fxaa->SetInputPass(empty);
    EXPECT_EQ(test::MessageOf([&] { Execute(fxaa); }), "fxaa pass - input texture empty");
    // The failed run gave everything back: a run with an input works.
    const Pixel colour{10, 200, 30, 255};
    auto input = MakeTexture(W, H, Pixels(W * H, colour));
    fxaa->SetCompositeInputTexture(input.get());
    for (const Pixel& p : Run(fxaa)) ASSERT_TRUE(test::NearColor(p, colour, 1));
}

TEST_F(FXAAPass, AContextResetRefreshesTheInputFromTheInputPass)
{
    const Pixel before{200, 10, 10, 255}, after{10, 10, 200, 255};
    auto first = MakeTexture(W, H, Pixels(W * H, before));
    auto second = MakeTexture(W, H, Pixels(W * H, after));
    auto* input = MakePass<TFixedOutputPass>("input");
    input->Output = first.get();
    TKorvaneRenderPassFXAA* fxaa = MakeFXAA(nullptr);
    fxaa->SetInputPass(input);
    EXPECT_TRUE(test::NearColor(Run(fxaa)[0], before, 1));

    // The input pass's output is made anew; until a reset the pass keeps the first one.
    input->Output = second.get();
    EXPECT_TRUE(test::NearColor(Run(fxaa)[0], before, 1));
    TMessageManager::DefaultManager().SendMessage(nullptr, TContextResetMessage());
    for (const Pixel& p : Run(fxaa)) ASSERT_TRUE(test::NearColor(p, after, 1));
}

TEST_F(FXAAPass, LaterIterationsPingPongAndEqualRepeatedSingleRuns)
{
    auto input = MakeTexture(W, H, Diagonal());
    // The reference: one iteration, its result fed to a second pass of one iteration.
    const Pixels once = Run(MakeFXAA(input.get()));
    auto onceTexture = MakeTexture(W, H, once);
    const Pixels twice = Run(MakeFXAA(onceTexture.get()));
    ASSERT_NE(once, twice) << "a second application must change the diagonal, or this test shows nothing";

    for (int iterations : {2, 3}) {
        SCOPED_TRACE(iterations);
        TKorvaneRenderPassFXAA* fxaa = MakeFXAA(input.get(), iterations);
        for (int frame = 0; frame < 2; ++frame) {
            TDrawWatch watch;
            ASSERT_TRUE(watch.Available());
            const Pixels out = Run(fxaa);
            ASSERT_EQ(watch.Draws.size(), size_t(iterations));
            ExpectNoDrawReadsItsTarget(watch.Draws);
            // Each draw reads what the one before it drew; the first reads the input.
            EXPECT_EQ(watch.Draws[0].Sampled, std::set<GLuint>{Name(input.get())});
            for (size_t i = 1; i < watch.Draws.size(); ++i) EXPECT_EQ(watch.Draws[i].Sampled, watch.Draws[i - 1].Targets);
            EXPECT_EQ(watch.Draws.back().Targets, std::set<GLuint>{Name(fxaa->GetFinalOutputTexture())});
            if (iterations == 2) {
                EXPECT_EQ(out, twice) << "frame " << frame;
            }
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        }
    }
}

// =====================================================================================
// Blur passes

class BlurPasses : public CompositePasses {
protected:
    static constexpr int BW = 64, BH = 32;

    void SetUp() override { Viewport.reset(new TTestViewport(BW, BH)); }

    TKorvaneRenderPassBlur* MakeBlur(TTexture* AInput, TPassBlurType AType, float AAmount)
    {
        auto* blur = MakePass<TKorvaneRenderPassBlur>("blur" + std::to_string(++FCount));
        blur->SetBlurType(AType);
        blur->SetBlurAmount(AAmount);
        blur->BlurMaterial()->SetInputTexture(AInput);
        return blur;
    }
    Pixels Run(TKorvaneRenderPassBlur* ABlur)
    {
        Execute(ABlur);
        return test::TexturePixels(ABlur->GetFinalOutputTexture());
    }

    // One bright texel at (AX, AY), black elsewhere.
    static Pixels Dot(int AX, int AY)
    {
        return Filled(BW, BH, [=](int x, int y) {
            return x == AX && y == AY ? Pixel{255, 255, 255, 255} : Pixel{0, 0, 0, 255};
        });
    }

private:
    int FCount = 0;
};

TEST_F(BlurPasses, TheKernelSetsTheIterations)
{
    auto* blur = MakePass<TKorvaneRenderPassBlur>("blur");
    EXPECT_EQ(blur->BlurType(), TPassBlurType::RadialBlur);
    EXPECT_EQ(blur->Iterations, 1);
    EXPECT_TRUE(blur->PingPongMode());
    // The radial blur keeps one iteration whatever is asked.
    for (int asked : {2, 5, 0}) {
        blur->SetIterations(asked);
        EXPECT_EQ(blur->Iterations, 1) << asked;
    }
    const std::pair<TPassBlurType, int> cases[] = {
        {TPassBlurType::FastBlur, 2}, {TPassBlurType::RadialBlur, 1}, {TPassBlurType::GaussianBlur, 2}};
    for (auto [type, iterations] : cases) {
        blur->SetBlurType(type);
        EXPECT_EQ(blur->BlurType(), type);
        EXPECT_EQ(blur->Iterations, iterations) << int(type);
    }
    // The one-dimensional kernels take what is asked.
    blur->SetIterations(4);
    EXPECT_EQ(blur->Iterations, 4);
}

TEST_F(BlurPasses, TheBlurAmountIsClampedAndEachPassHasItsDefault)
{
    EXPECT_FLOAT_EQ(MakePass<TKorvaneRenderPassBlur>("b")->BlurAmount(), 3.0f);
    EXPECT_FLOAT_EQ(MakePass<TKorvaneRenderPassEmissiveBlur>("e")->BlurAmount(), 3.0f);
    EXPECT_FLOAT_EQ(MakePass<TKorvaneRenderPassGlobalIllumBlur>("g")->BlurAmount(), 1.0f);
    EXPECT_FLOAT_EQ(MakePass<TKorvaneRenderPassBlur>("x")->Exposure(), 1.0f);

    auto* blur = MakePass<TKorvaneRenderPassBlur>("blur");
    const std::pair<float, float> cases[] = {{-1, 0}, {0, 0}, {7.5f, 7.5f}, {15, 15}, {15.5f, 15}, {100, 15}};
    for (auto [asked, kept] : cases) {
        blur->SetBlurAmount(asked);
        EXPECT_FLOAT_EQ(blur->BlurAmount(), kept) << asked;
    }
}

TEST_F(BlurPasses, TheKernelWidthIs32WithoutABlurAmount)
{
    auto input = MakeTexture(BW, BH, Pixels(BW * BH, Pixel{50, 50, 50, 255}));
    struct Case {
        float Amount;
        TPassBlurMode Mode;
        float Width;
    };
    const Case cases[] = {
        {0, TPassBlurMode::Horizontal, 32.0f},
        {0, TPassBlurMode::Vertical, 32.0f},
        {4, TPassBlurMode::Horizontal, BW / 4.0f},
        {8, TPassBlurMode::Vertical, BH / 8.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Amount);
        TKorvaneRenderPassBlur* blur = MakeBlur(input.get(), TPassBlurType::FastBlur, c.Amount);
        blur->SetBlurMode(c.Mode);
        EXPECT_FLOAT_EQ(blur->BlurMaterial()->KernelWidth(input.get()), c.Width);
        // What the program got on the GPU, in both iterations.
        TDrawWatch watch;
        ASSERT_TRUE(watch.Available());
        Run(blur);
        ASSERT_EQ(watch.Draws.size(), 2u);
        for (const TDrawRecord& draw : watch.Draws) EXPECT_FLOAT_EQ(draw.Width, c.Width);
    }
}

TEST_F(BlurPasses, TheFastKernelHas19CentredWeightsSummingToOne)
{
    ASSERT_EQ(TFastBlurKernel::TapCount, 19);
    double sum = 0, moment = 0;
    for (int i = 0; i < TFastBlurKernel::TapCount; ++i) {
        const float w = TFastBlurKernel::Weights[i];
        EXPECT_GT(w, 0.0f);
        EXPECT_LT(w, 1.0f);
        sum += w;
        moment += w * (TFastBlurKernel::FirstTap + i);
        // Mirrored about the centre tap.
        EXPECT_FLOAT_EQ(w, TFastBlurKernel::Weights[TFastBlurKernel::TapCount - 1 - i]) << i;
    }
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_NEAR(moment, 0.0, 1e-6);
    EXPECT_EQ(TFastBlurKernel::FirstTap, -9);
}

// The weighted mean position of the red channel along one axis, and the
// number of lit texels.
struct TSpread {
    double Centroid = 0;
    int Lit = 0;
    int Min = 1 << 30, Max = -1;
};
TSpread SpreadAlong(const Pixels& APixels, int AWidth, bool AVertical)
{
    TSpread s;
    double total = 0;
    for (size_t i = 0; i < APixels.size(); ++i) {
        const int v = APixels[i][0];
        if (v == 0) continue;
        const int pos = AVertical ? int(i) / AWidth : int(i) % AWidth;
        total += v;
        s.Centroid += double(v) * pos;
        ++s.Lit;
        s.Min = std::min(s.Min, pos);
        s.Max = std::max(s.Max, pos);
    }
    if (total > 0) s.Centroid /= total;
    return s;
}

TEST_F(BlurPasses, ASingleBrightTexelSpreadsSymmetricallyAboutItself)
{
    const int x0 = 30, y0 = 15;
    auto input = MakeTexture(BW, BH, Dot(x0, y0));
    for (TPassBlurMode mode : {TPassBlurMode::Horizontal, TPassBlurMode::Vertical}) {
        const bool vertical = mode == TPassBlurMode::Vertical;
        SCOPED_TRACE(vertical ? "vertical" : "horizontal");
        // One run of the direction BlurMode names, one texel per tap.
        TKorvaneRenderPassBlur* blur = MakeBlur(input.get(), TPassBlurType::FastBlur, 1);
        blur->SetPingPongMode(false);
        blur->SetIterations(1);
        blur->SetBlurMode(mode);
        const Pixels out = Run(blur);
        const TSpread s = SpreadAlong(out, BW, vertical);
        const int centre = vertical ? y0 : x0;
        EXPECT_NEAR(s.Centroid, centre, 0.05);
        // Nineteen texels on the axis, nine either side.
        EXPECT_EQ(s.Lit, 19);
        EXPECT_EQ(s.Min, centre - 9);
        EXPECT_EQ(s.Max, centre + 9);
        for (int k = 1; k <= 9; ++k) {
            const size_t lo = vertical ? size_t(y0 - k) * BW + x0 : size_t(y0) * BW + x0 - k;
            const size_t hi = vertical ? size_t(y0 + k) * BW + x0 : size_t(y0) * BW + x0 + k;
            EXPECT_EQ(out[lo], out[hi]) << k;
        }
        // The centre tap's weight is the edge's: about 0.0389 of the texel.
        EXPECT_NEAR(out[size_t(y0) * BW + x0][0], 0.0388725 * 255, 1.0);
    }
}

TEST_F(BlurPasses, TheFastKernelNeverSamplesOutsideTheTexture)
{
    // A repeating input with light in its last column but one: a tap past
    // the left edge that wrapped round would bring that light to the left
    // side. Clamped to 0, a tap there reads only dark texels.
    auto input = MakeTexture(BW, BH, Filled(BW, BH, [](int x, int) {
                                 return x == BW - 2 ? Pixel{255, 255, 255, 255} : Pixel{0, 0, 0, 255};
                             }),
                             TKorvaneTextureWrap::Repeated);
    TKorvaneRenderPassBlur* blur = MakeBlur(input.get(), TPassBlurType::FastBlur, 1);
    blur->SetPingPongMode(false);
    blur->SetIterations(1);
    const Pixels out = Run(blur);
    for (int y = 0; y < BH; ++y) {
        for (int x = 0; x < 10; ++x) ASSERT_EQ(out[size_t(y) * BW + x][0], 0) << x << "," << y;
        // The light itself spreads over the nine texels to its left.
        for (int x = BW - 11; x < BW; ++x) ASSERT_GT(out[size_t(y) * BW + x][0], 5) << x << "," << y;
    }
}

TEST_F(BlurPasses, PingPongRunsHorizontalThenVerticalAndMatchesTheTwoSingleRuns)
{
    // Square: the kernel width follows BlurMode in both iterations, so only
    // on a square image do both directions step one texel whatever the mode.
    constexpr int S = BH;
    Viewport.reset(new TTestViewport(S, S));
    const Pixels source = Filled(S, S, [](int x, int y) {
        return Pixel{uint8_t((x / 8 + y / 4) % 2 ? 240 : 20), uint8_t(x * 8), uint8_t(y * 8), 255};
    });
    auto input = MakeTexture(S, S, source);

    // The reference: a horizontal run, then a vertical run of its result.
    TKorvaneRenderPassBlur* horizontal = MakeBlur(input.get(), TPassBlurType::FastBlur, 1);
    horizontal->SetPingPongMode(false);
    horizontal->SetIterations(1);
    auto middle = MakeTexture(S, S, Run(horizontal));
    TKorvaneRenderPassBlur* vertical = MakeBlur(middle.get(), TPassBlurType::FastBlur, 1);
    vertical->SetPingPongMode(false);
    vertical->SetIterations(1);
    vertical->SetBlurMode(TPassBlurMode::Vertical);
    const Pixels expected = Run(vertical);

    for (TPassBlurMode mode : {TPassBlurMode::Horizontal, TPassBlurMode::Vertical}) {
        SCOPED_TRACE(int(mode));
        // In ping-pong mode BlurMode does not choose the direction.
        TKorvaneRenderPassBlur* blur = MakeBlur(input.get(), TPassBlurType::FastBlur, 1);
        blur->SetBlurMode(mode);
        ASSERT_EQ(blur->Iterations, 2);
        std::vector<TContextShader*> programs;
        blur->OnEndSetup = [&](TObject*, TContext3D*, int, TRenderPass*) {
            programs.push_back(blur->BlurMaterial()->ChoosePixelShader());
        };
        for (int frame = 0; frame < 2; ++frame) {
            programs.clear();
            TDrawWatch watch;
            ASSERT_TRUE(watch.Available());
            const Pixels out = Run(blur);
            ASSERT_EQ(programs.size(), 2u);
            EXPECT_EQ(programs[0], blur->BlurMaterial()->FastBlurH());
            EXPECT_EQ(programs[1], blur->BlurMaterial()->FastBlurV());
            ASSERT_EQ(watch.Draws.size(), 2u);
            EXPECT_NE(watch.Draws[0].Program, watch.Draws[1].Program);
            ExpectNoDrawReadsItsTarget(watch.Draws);
            EXPECT_EQ(watch.Draws[0].Sampled, std::set<GLuint>{Name(input.get())});
            EXPECT_EQ(watch.Draws[1].Sampled, watch.Draws[0].Targets);
            EXPECT_EQ(watch.Draws[1].Targets, std::set<GLuint>{Name(blur->GetFinalOutputTexture())});
            EXPECT_EQ(out, expected) << "frame " << frame;
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        }
    }
}

TEST_F(BlurPasses, TheGaussianAndRadialKernelsKeepAFlatImageFlat)
{
    // The gaussian kernel is normalised by its weights; the radial one divides
    // the sum of its samples by 241 and tone-maps: flat in, flat out.
    auto input = MakeTexture(BW, BH, Pixels(BW * BH, Pixel{100, 100, 100, 255}));
    for (TPassBlurType type : {TPassBlurType::GaussianBlur, TPassBlurType::RadialBlur}) {
        SCOPED_TRACE(int(type));
        TDrawWatch watch;
        ASSERT_TRUE(watch.Available());
        const Pixels out = Run(MakeBlur(input.get(), type, 2));
        ExpectNoDrawReadsItsTarget(watch.Draws);
        EXPECT_EQ(watch.Draws.size(), type == TPassBlurType::RadialBlur ? 1u : 2u);
        for (const Pixel& p : out) ASSERT_TRUE(test::NearColor(p, out[0], 1));
        if (type == TPassBlurType::GaussianBlur) {
            EXPECT_TRUE(test::NearColor(out[0], Pixel{100, 100, 100, 255}, 1));
        } else {
            // Radial: the samples summed (the centre and eight along each
            // direction, the directions counted as the shader's float loop
            // counts them) over 241, tone-mapped, then to sRGB.
            int directions = 0;
            for (float d = 0; d < 6.28318530718f; d += 6.28318530718f / 32.0f) ++directions;
            const double c = 100 / 255.0 * (1 + 8 * directions) / 241;
            const double mapped = std::clamp(c * (2.51 * c + 0.03) / (c * (2.43 * c + 0.59) + 0.14), 0.0, 1.0);
            EXPECT_NEAR(out[0][0], std::pow(mapped, 1 / 2.2) * 255, 1.5);
            // Brighter than the input even after tone mapping.
            EXPECT_GT(out[0][0], 100);
        }
    }
}

TEST_F(BlurPasses, WithoutAnInputTextureTheDrawFails)
{
    auto* empty = MakePass<TFixedOutputPass>("empty");
    TKorvaneRenderPassBlur* blur = MakeBlur(nullptr, TPassBlurType::FastBlur, 1);
    blur->SetInputPass(empty);
    EXPECT_EQ(test::MessageOf([&] { Execute(blur); }), "blur pass - input texture empty");
    // A new input after the failure is blurred as usual.
    auto input = MakeTexture(BW, BH, Pixels(BW * BH, Pixel{60, 60, 60, 255}));
    empty->Output = input.get();
    for (const Pixel& p : Run(blur)) ASSERT_TRUE(test::NearColor(p, Pixel{60, 60, 60, 255}, 1));
}

} // namespace
