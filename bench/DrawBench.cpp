// Draws 1,000 small meshes into a texture context's frame buffer, once through
// the render context's draw entry (material applied and reset, statistics,
// render-pass hooks, vertex set-up) and once with the same GL calls issued by
// hand, and prints how the framework's draw rate compares with the raw one.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Platform.Materials3D.h"
#include "Platform.Textures.h"

using namespace korvane;

namespace {
constexpr int MeshCount = 1000;
constexpr int FrameSize = 256;

GLuint Compile(GLenum AType, const char* ASource)
{
    const GLuint shader = glCreateShader(AType);
    glShaderSource(shader, 1, &ASource, nullptr);
    glCompileShader(shader);
    return shader;
}

GLuint FlatProgram()
{
    static GLuint program = 0;
    if (program) return program;
    const GLuint vs = Compile(GL_VERTEX_SHADER, R"(#version 430
layout(location = 0) in vec3 a_Position;
uniform vec2 u_Offset;
void main() { gl_Position = vec4(a_Position.xy + u_Offset, a_Position.z, 1.0); })");
    const GLuint fs = Compile(GL_FRAGMENT_SHADER, R"(#version 430
uniform vec4 u_Color;
layout(location = 0) out vec4 o_Color;
void main() { o_Color = u_Color; })");
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    return program;
}

// One small mesh: a square of two triangles, placed on a 40 x 25 grid.
struct TMesh {
    std::unique_ptr<TVertexBuffer> Vertices;
    std::unique_ptr<TIndexBuffer> Indices;
    float OffsetX, OffsetY;
};

std::vector<TMesh> MakeMeshes()
{
    std::vector<TMesh> meshes;
    const float h = 0.02f;
    const float square[] = {-h, -h, 0, h, -h, 0, h, h, 0, -h, h, 0};
    const uint16_t quad[] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < MeshCount; ++i) {
        TMesh m;
        m.Vertices = std::make_unique<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal}, 4);
        for (int v = 0; v < 4; ++v) m.Vertices->SetVertices(v, {square[v * 3], square[v * 3 + 1], square[v * 3 + 2]});
        m.Indices = std::make_unique<TIndexBuffer>(6);
        for (int k = 0; k < 6; ++k) m.Indices->SetIndices(k, quad[k]);
        m.OffsetX = -0.95f + 0.048f * float(i % 40);
        m.OffsetY = -0.95f + 0.076f * float(i / 40);
        meshes.push_back(std::move(m));
    }
    return meshes;
}

// The material of every mesh: the flat program with the mesh's offset.
class TFlatMaterial : public TMaterial {
public:
    float OffsetX = 0, OffsetY = 0;

protected:
    void DoInitialize() override
    {
        FProgram = FlatProgram();
        FOffset = glGetUniformLocation(FProgram, "u_Offset");
        FColor = glGetUniformLocation(FProgram, "u_Color");
    }
    void DoApply(TContext3D*) override
    {
        glUseProgram(FProgram);
        glUniform2f(FOffset, OffsetX, OffsetY);
        glUniform4f(FColor, 1, 0.5f, 0, 1);
    }

private:
    GLuint FProgram = 0;
    GLint FOffset = -1, FColor = -1;
};

struct TScene {
    std::unique_ptr<TTexture> Texture;
    TKorvaneContext* Context = nullptr;
    std::vector<TMesh> Meshes;

    TScene()
    {
        if (!TKorvaneContext::IsContextAvailable()) throw Exception("no OpenGL context");
        Texture = std::make_unique<TTexture>();
        Texture->SetSize(FrameSize, FrameSize);
        Context = static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(Texture.get(), TMultisample::None, true));
        Meshes = MakeMeshes();
    }
    ~TScene() { Context->Free(); }
};

TScene& Scene()
{
    static TScene scene;
    return scene;
}

void BM_FrameworkDraws(benchmark::State& state)
{
    TScene& scene = Scene();
    TFlatMaterial material;
    for (auto _ : state) {
        if (!scene.Context->BeginSceneRendering()) {
            state.SkipWithError("scene refused");
            return;
        }
        scene.Context->Clear({TClearTarget::Color, TClearTarget::Depth}, TAlphaColors::Black, 1, 0);
        for (const TMesh& m : scene.Meshes) {
            material.OffsetX = m.OffsetX;
            material.OffsetY = m.OffsetY;
            scene.Context->DrawPrimitives(TPrimitivesKind::Triangles, m.Vertices.get(), m.Indices.get(), &material,
                                          1.0f);
        }
        scene.Context->EndSceneRendering();
        glFinish();
    }
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameworkDraws)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_RawGLDraws(benchmark::State& state)
{
    TScene& scene = Scene();
    const GLuint program = FlatProgram();
    const GLint offset = glGetUniformLocation(program, "u_Offset");
    const GLint color = glGetUniformLocation(program, "u_Color");
    const GLuint frame = scene.Context->DefaultFrameBuf()->Handle();
    for (auto _ : state) {
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        glBindFramebuffer(GL_FRAMEBUFFER, frame);
        glViewport(0, 0, FrameSize, FrameSize);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (const TMesh& m : scene.Meshes) {
            glUseProgram(program);
            glUniform2f(offset, m.OffsetX, m.OffsetY);
            glUniform4f(color, 1, 0.5f, 0, 1);
            const GLsizei stride = m.Vertices->VertexSize();
            glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, m.Vertices->Buffer());
            glEnableVertexAttribArray(0);
            glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, m.Vertices->Buffer() + 12);
            glEnableVertexAttribArray(1);
            glDrawElements(GL_TRIANGLES, m.Indices->Length(), GL_UNSIGNED_SHORT, m.Indices->Buffer());
            glDisableVertexAttribArray(0);
            glDisableVertexAttribArray(1);
            glUseProgram(0);
        }
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glFinish();
    }
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RawGLDraws)->Unit(benchmark::kMillisecond)->Repetitions(5);

} // namespace

// Prints the median draw rate of each benchmark (the plain rate when it ran
// once) and the framework's share of the raw rate.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("draws/s");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double framework = reporter.Rate("BM_FrameworkDraws"), raw = reporter.Rate("BM_RawGLDraws");
        if (framework <= 0 || raw <= 0) return;
        std::printf("framework draws/s %.0f, raw GL draws/s %.0f, ratio framework / raw = %.3f\n", framework, raw,
                    framework / raw);
    });
}
