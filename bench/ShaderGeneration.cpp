// Generating the default material's two shader texts for the splat-map define
// set, the work a material does on every feature change. The reference in the
// same run is copying texts of the same size; compiling and linking the
// generated texts on the GL implementation is timed beside it for scale.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "Korvane.Material.Default.GLSL.h"
#include "Platform.EGL.h"

using namespace korvane;

namespace {

class TBenchGLStrings : public TKorvaneGLPlatformStrings {
public:
    std::string VendorName() const override { return "Mesa"; }
    std::string RendererName() const override { return "llvmpipe (LLVM 15.0.6, 256 bits)"; }
    std::string Version() const override { return "4.5 (Compatibility Profile) Mesa 22.3.6"; }
    std::string ExtensionString() const override
    {
        std::string text;
        for (int i = 0; i < 250; ++i) text += "GL_ARB_extension_number_" + std::to_string(i) + " ";
        return text;
    }
};

// The builders of a splat-map material: lighting with specular, Blinn-Phong,
// texturing, the clip plane, and the control and four terrain textures.
struct TSplatMapBuilders {
    TBenchGLStrings Strings;
    std::unique_ptr<TKorvaneGLSLVertexShader> VS = TKorvaneGLSLVertexShader::Create(nullptr, &Strings);
    std::unique_ptr<TKorvaneGLSLFragmentShader> FS = TKorvaneGLSLFragmentShader::Create(nullptr, &Strings);

    TSplatMapBuilders()
    {
        for (TKorvaneNodeBuilder* b : {static_cast<TKorvaneNodeBuilder*>(VS.get()), static_cast<TKorvaneNodeBuilder*>(FS.get())})
            for (const char* d : {"CLIPPINGPLANE", "BLINNPHONG", "LIGHTING", "USE_SPECULAR", "USE_TEXTURE", "SPLATMAP"})
                b->AddDefine(d);
        FS->AddDefine("USE_TEXTURE0");
        for (const char* name : {"SplatTexture0", "SplatTexture1", "SplatTexture2", "SplatTexture3", "Texture0"}) {
            auto node = std::make_unique<TKorvaneGLSLTextureUniformNode>(FS.get());
            node->SetId(name);
            FS->Globals()->Uniforms()->Textures()->Add(std::move(node));
        }
    }
};

void BM_GenerateSplatMapShaders(benchmark::State& state)
{
    TSplatMapBuilders builders;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string vs = builders.VS->ToString();
        std::string fs = builders.FS->ToString();
        bytes += vs.size() + fs.size();
        benchmark::DoNotOptimize(vs.data());
        benchmark::DoNotOptimize(fs.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations())); // materials
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_GenerateSplatMapShaders);

// Reference: copying two texts of the generated size.
void BM_CopySplatMapShaderTexts(benchmark::State& state)
{
    TSplatMapBuilders builders;
    const std::string vs = builders.VS->ToString(), fs = builders.FS->ToString();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string a = vs, b = fs;
        bytes += a.size() + b.size();
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_CopySplatMapShaderTexts);

// For scale: what the GL implementation spends compiling and linking the same texts.
void BM_CompileSplatMapShadersOnGL(benchmark::State& state)
{
    try {
        platform::EGLDevice::Instance().CreateContext();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    TSplatMapBuilders builders;
    const std::string vs = builders.VS->ToString(), fs = builders.FS->ToString();
    for (auto _ : state) {
        GLuint program = glCreateProgram();
        for (auto [kind, text] : {std::pair{GLenum(GL_VERTEX_SHADER), &vs}, std::pair{GLenum(GL_FRAGMENT_SHADER), &fs}}) {
            GLuint shader = glCreateShader(kind);
            const char* source = text->c_str();
            glShaderSource(shader, 1, &source, nullptr);
            glCompileShader(shader);
            glAttachShader(program, shader);
            glDeleteShader(shader);
        }
        glLinkProgram(program);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        glDeleteProgram(program);
        if (!linked) {
            state.SkipWithError("the generated shaders did not link");
            return;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetLabel(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
}
BENCHMARK(BM_CompileSplatMapShadersOnGL)->Unit(benchmark::kMillisecond);

} // namespace

// Prints the usual table, then generation's speed against copying the texts.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    // Mesa's shader cache would answer repeated compiles of the same text from
    // disk; the comparison is with a real compile and link.
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    korvane::bench::TRateReporter reporter("items_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double generate = reporter.Rate("BM_GenerateSplatMapShaders");
        const double copy = reporter.Rate("BM_CopySplatMapShaderTexts");
        if (generate > 0 && copy > 0)
            std::printf("generate: %.0f materials/s, copy: %.0f materials/s, generate / copy: %.3f\n", generate, copy,
                        generate / copy);
    });
}
