// The CPU cost of applying the splat-map material before a draw: filling its
// "ShaderData" block (matrices, boxes, lights, fog), binding its five textures
// and its integer uniform, activating its program and uploading the block and
// the one-instance model matrix. Measured once through the material's apply
// step and once as the same GL work written by hand against the same program
// text, the same block layout and the same texture data, in the same run.
// No draw follows an apply: the figures are the apply alone.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Shader.OpenGL.h"
#include "Korvane.Material.SplatMap.h"
#include "Platform.Textures.h"

using namespace korvane;

namespace {

constexpr int AppliesPerIteration = 1000;
constexpr int FrameSize = 64;
constexpr int LightCount = 4;
constexpr int TextureSide = 64;
constexpr const char* SamplerNames[5] = {"_SplatTexture0", "_SplatTexture1", "_SplatTexture2", "_SplatTexture3",
                                         "_Texture0"};

TKorvaneShaderLight PointLight(int AIndex)
{
    TKorvaneShaderLight light{};
    light.LightType = 1;
    light.Position = TVector3D(float(AIndex), 2, 3, 1);
    light.Direction = TVector3D(0, 0, -1, 1);
    light.Diffuse = TAlphaColorF(1, 1, 1, 1);
    light.Specular = TAlphaColorF(1, 1, 1, 1);
    light.ConstantAttenuation = 1;
    light.Intensity = 1;
    light.Enabled = 1;
    return light;
}

// The splat-map material on a texture context: five 64 x 64 images, four
// lights, a camera and a projection.
struct TScene {
    std::unique_ptr<TTexture> Target;
    TKorvaneContext* Context = nullptr;
    TKorvaneSplatMapMaterialSource* Source = nullptr;
    TMatrix3D Model = TMatrix3D::CreateTranslation(TPoint3D(1, 2, 3));

    TScene()
    {
        if (!TKorvaneContext::IsContextAvailable()) throw Exception("no OpenGL context");
        Target = std::make_unique<TTexture>();
        Target->SetSize(FrameSize, FrameSize);
        Context = static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(Target.get(), TMultisample::None, true));
        Context->SetProjectionMatrix(TMatrix3D::CreatePerspectiveFovRH(0.8f, 1, 1, 100));
        Context->SetCameraMatrix(TMatrix3D::CreateLookAtRH(TPoint3D(0, -5, 10), TPoint3D(0, 0, 0), TPoint3D(0, -1, 0)));
        Context->SetMatrix(Model);
        for (int i = 0; i < LightCount; ++i) Context->AddLight(PointLight(i));
        Source = TKorvaneDefaultMaterialSource::Create<TKorvaneSplatMapMaterialSource>(nullptr);
        for (int i = 0; i < 5; ++i) {
            TBitmap image(TextureSide, TextureSide);
            image.Clear(0xFF000000u | (uint32_t(i) * 0x00304050u));
            if (i < 4) Source->SetSplatTexture(i, &image);
            else Source->SetTexture(&image);
        }
        Source->Material()->Apply(Context); // registers the program once
    }
    ~TScene()
    {
        Source->Free();
        Context->Free();
    }
};

TScene& Scene()
{
    static TScene scene;
    return scene;
}

void BM_MaterialApply(benchmark::State& state)
{
    TScene& scene = Scene();
    TMaterial* material = scene.Source->Material();
    for (auto _ : state) {
        for (int i = 0; i < AppliesPerIteration; ++i) {
            // A draw consumes the instances it was given: each apply sets them again.
            scene.Context->UnsetInstances();
            material->Apply(scene.Context);
        }
        glFinish();
    }
    state.counters["applies/s"] =
        benchmark::Counter(double(state.iterations()) * AppliesPerIteration, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MaterialApply)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

GLuint CompileStage(GLenum AType, const std::vector<uint8_t>& ACode)
{
    const GLuint shader = glCreateShader(AType);
    const auto* text = reinterpret_cast<const GLchar*>(ACode.data());
    const auto length = GLint(ACode.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    return shader;
}

// The material's own program text, block layout and images, set up by hand.
struct THandApply {
    GLuint Program = 0, Block = 0, Instance = 0;
    GLuint Textures[5] = {};
    GLint Samplers[5] = {};
    GLint BlackAsTransparent = -1;
    TKorvaneShaderData Data{};

    explicit THandApply(TScene& AScene)
    {
        auto* material = static_cast<TKorvaneDefaultMaterial*>(AScene.Source->Material());
        const GLuint vs = CompileStage(GL_VERTEX_SHADER, material->VertexShaderSource().Code);
        const GLuint fs = CompileStage(GL_FRAGMENT_SHADER, material->FragmentShaderSource().Code);
        Program = glCreateProgram();
        glAttachShader(Program, vs);
        glAttachShader(Program, fs);
        for (GLuint i = 0; i < 13; ++i) glBindAttribLocation(Program, i, ShaderAttributeNames[i]);
        glLinkProgram(Program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint linked = 0;
        glGetProgramiv(Program, GL_LINK_STATUS, &linked);
        if (!linked) throw Exception("the hand-made program did not link");
        glUniformBlockBinding(Program, glGetUniformBlockIndex(Program, "ShaderData"), 0);
        glGenBuffers(1, &Block);
        glBindBuffer(GL_UNIFORM_BUFFER, Block);
        glBufferData(GL_UNIFORM_BUFFER, sizeof(Data), nullptr, GL_DYNAMIC_DRAW);
        glGenBuffers(1, &Instance);
        glBindBuffer(GL_ARRAY_BUFFER, Instance);
        glBufferData(GL_ARRAY_BUFFER, sizeof(TMatrix3D), nullptr, GL_DYNAMIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        std::vector<uint8_t> texels(size_t(TextureSide) * TextureSide * 4, 0x80);
        glGenTextures(5, Textures);
        for (int i = 0; i < 5; ++i) {
            glBindTexture(GL_TEXTURE_2D, Textures[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, TextureSide, TextureSide, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         texels.data());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            Samplers[i] = glGetUniformLocation(Program, SamplerNames[i]);
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        BlackAsTransparent = glGetUniformLocation(Program, "_UseBlackAsTransparent");
        Data = material->ShaderData();
    }
    ~THandApply()
    {
        glDeleteTextures(5, Textures);
        glDeleteBuffers(1, &Block);
        glDeleteBuffers(1, &Instance);
        glDeleteProgram(Program);
    }

    // What a GL programmer writes before each draw of this material.
    void Apply(TKorvaneContext& AContext, const TMatrix3D& AModel)
    {
        const TMatrix3D view = AContext.CurrentCameraMatrix();
        const TMatrix3D projection = AContext.CurrentProjectionMatrix();
        Data.ModelViewProjectionMatrix = AModel * view * projection;
        Data.ViewMatrix = view;
        Data.ProjectionMatrix = projection;
        Data.ViewSize = TVector3D(float(FrameSize), float(FrameSize), AContext.NearPlane(), AContext.FarPlane());
        Data.EyePos = TVector3D(0, -5, 10, 1);
        Data.Options = 0;
        Data.ClippingPlane = TVector3D(0, 0, 0, 0);
        int count = 0;
        for (const TKorvaneShaderLight& light : AContext.ShaderLights())
            if (light.Enabled > 0 && count < 32) Data.Lights[count++] = light;
        Data.LightsCount = count;
        const TKorvaneFogSettings& fog = AContext.Fog();
        Data.FogMode = (fog.Enabled ? 1 : 0) | int32_t(fog.Mode);
        Data.FogDensity = fog.Density;
        Data.FogStart = std::max(0.1f, std::min(1000.0f, fog.FogStart));
        Data.FogEnd = std::max(0.1f, std::min(1000.0f, fog.FogEnd));
        Data.FogColor = fog.Color;
        for (int i = 0; i < 5; ++i) Data.Material._Texture[i]._Tiling = TPointF(1, 1);

        glUseProgram(Program);
        glBindBuffer(GL_ARRAY_BUFFER, Instance);
        glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof(AModel), &AModel);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        for (int i = 0; i < 5; ++i) {
            glActiveTexture(GLenum(GL_TEXTURE0 + i));
            glBindTexture(GL_TEXTURE_2D, Textures[i]);
            glUniform1i(Samplers[i], i);
        }
        glActiveTexture(GL_TEXTURE0);
        glUniform1i(BlackAsTransparent, 0);
        glBindBuffer(GL_UNIFORM_BUFFER, Block);
        glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof(Data), &Data);
        glBindBufferBase(GL_UNIFORM_BUFFER, 0, Block);
    }
};

void BM_HandWrittenGLApply(benchmark::State& state)
{
    TScene& scene = Scene();
    THandApply hand(scene);
    for (auto _ : state) {
        for (int i = 0; i < AppliesPerIteration; ++i) hand.Apply(*scene.Context, scene.Model);
        glFinish();
    }
    glUseProgram(0);
    state.counters["applies/s"] =
        benchmark::Counter(double(state.iterations()) * AppliesPerIteration, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HandWrittenGLApply)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

} // namespace

// Prints the median apply rate of each way on wall time (the plain rate when it ran once),
// the time per apply, and the material's rate as a share of the hand-written one.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("applies/s");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double ours = reporter.Rate("BM_MaterialApply"), hand = reporter.Rate("BM_HandWrittenGLApply");
        if (ours <= 0 || hand <= 0) return;
        std::printf("splat-map apply per draw: material %.2f us (%.0f applies/s), hand-written GL %.2f us "
                    "(%.0f applies/s), ratio material / hand-written rate = %.3f (1.0 = as fast)\n",
                    1e6 / ours, ours, 1e6 / hand, hand, ours / hand);
    });
}
