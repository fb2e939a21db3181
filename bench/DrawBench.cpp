// Draws 1,000 small meshes, each with its own offset and colour, into a
// 256 x 256 frame buffer, three ways, and prints how the framework's draw entry
// compares on wall time:
//
// - Framework: the render context's draw entry (material applied and reset,
//   statistics, render-pass hooks, vertex set-up, error checks) with a material
//   of the framework's own kind: its two stages registered with the shader
//   manager, made current through the context's program cache, its offset and
//   colour set through the named shader-variable setters.
// - Mirror: hand-written GL that makes the same state changes per draw as the
//   draw entry (program bound and unbound, attributes pointed, enabled and
//   disabled), i.e. what the framework's way of drawing costs without the
//   framework.
// - Plain: hand-written GL as one would write it for this picture: program and
//   attributes set once per frame, two uniforms and one draw per mesh.
//
// The three pictures are read back and compared pixel for pixel, so that no
// side can skip work. A fourth and fifth case run the framework and the mirror
// loop with every GL entry point they use replaced by an empty function: what
// remains is the framework's own work per draw.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
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

// The two stages, in the framework's naming: a variable "Offset" is the GLSL
// uniform "_Offset".
const char* const VertexSource = R"(#version 430
in vec3 a_Position;
uniform vec2 _Offset;
void main() { gl_Position = vec4(a_Position.xy + _Offset, a_Position.z, 1.0); })";
const char* const PixelSource = R"(#version 430
uniform vec4 _Color;
layout(location = 0) out vec4 o_Color;
void main() { o_Color = _Color; })";

GLuint Compile(GLenum AType, const char* ASource)
{
    const GLuint shader = glCreateShader(AType);
    glShaderSource(shader, 1, &ASource, nullptr);
    glCompileShader(shader);
    return shader;
}

// The hand-written sides' program: the same two stages, linked by hand.
GLuint RawProgram()
{
    static GLuint program = 0;
    if (program) return program;
    const GLuint vs = Compile(GL_VERTEX_SHADER, VertexSource);
    const GLuint fs = Compile(GL_FRAGMENT_SHADER, PixelSource);
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, 0, "a_Position");
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) throw Exception("the bench program does not link");
    return program;
}

// One small mesh: a square of two triangles with normals, placed on a 40 x 25 grid.
struct TMesh {
    std::unique_ptr<TVertexBuffer> Vertices;
    std::unique_ptr<TIndexBuffer> Indices;
    TVector3D Offset;
    TVector3D Color;
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
        for (int v = 0; v < 4; ++v) {
            m.Vertices->SetVertices(v, {square[v * 3], square[v * 3 + 1], square[v * 3 + 2]});
            m.Vertices->SetNormals(v, {0, 0, 1});
        }
        m.Indices = std::make_unique<TIndexBuffer>(6);
        for (int k = 0; k < 6; ++k) m.Indices->SetIndices(k, quad[k]);
        m.Offset = TVector3D(-0.95f + 0.048f * float(i % 40), -0.95f + 0.076f * float(i / 40), 0, 0);
        m.Color = TVector3D(float(i % 5) / 4, float(i % 3) / 2, float((i / 40) % 2), 1);
        meshes.push_back(std::move(m));
    }
    return meshes;
}

// A material as the framework's own materials are made: shaders registered
// with the shader manager, the program from the context's cache, values set
// by name.
class TOffsetMaterial : public TCustomMaterial {
public:
    const TMesh* Mesh = nullptr;

protected:
    void DoInitialize() override
    {
        using V = TContextShaderVariable;
        using K = TContextShaderVariableKind;
        FVertexShader = TShaderManager::RegisterShaderFromData(
            "drawbench.fvs", TContextShaderKind::VertexShader, "",
            {TContextShaderSource(TContextShaderArch::GLSL, VertexSource, {V::Create("Offset", K::Float2, 0, 1)})});
        FPixelShader = TShaderManager::RegisterShaderFromData(
            "drawbench.fps", TContextShaderKind::PixelShader, "",
            {TContextShaderSource(TContextShaderArch::GLSL, PixelSource, {V::Create("Color", K::Vector, 0, 1)})});
    }
    void DoApply(TContext3D* AContext) override
    {
        TCustomMaterial::DoApply(AContext);
        AContext->SetShaderVariable("Offset", {Mesh->Offset});
        AContext->SetShaderVariable("Color", {Mesh->Color});
    }
};

struct TScene {
    std::unique_ptr<TTexture> Texture;
    TKorvaneContext* Context = nullptr;
    std::vector<TMesh> Meshes;
    // Every mesh's vertices one behind the other, for the plain side.
    std::vector<uint8_t> AllVertices;
    TOffsetMaterial Material;
    // The last picture of each case.
    std::map<std::string, std::vector<uint8_t>> Pictures;

    TScene()
    {
        if (!TKorvaneContext::IsContextAvailable()) throw Exception("no OpenGL context");
        Texture = std::make_unique<TTexture>();
        Texture->SetSize(FrameSize, FrameSize);
        Context = static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(Texture.get(), TMultisample::None, true));
        Meshes = MakeMeshes();
        for (const TMesh& m : Meshes)
            AllVertices.insert(AllVertices.end(), m.Vertices->Buffer(),
                               m.Vertices->Buffer() + size_t(m.Vertices->Size()));
    }
    ~TScene() { Context->Free(); }

    GLuint Frame() const { return Context->DefaultFrameBuf()->Handle(); }

    void KeepPicture(const char* ACase)
    {
        std::vector<uint8_t> pixels(size_t(FrameSize) * FrameSize * 4);
        glBindFramebuffer(GL_FRAMEBUFFER, Frame());
        glReadPixels(0, 0, FrameSize, FrameSize, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        Pictures[ACase] = std::move(pixels);
    }
};

TScene& Scene()
{
    static TScene scene;
    return scene;
}

// The framework's draws of one frame, without the frame around them.
void FrameworkDraws(TScene& AScene)
{
    for (const TMesh& m : AScene.Meshes) {
        AScene.Material.Mesh = &m;
        AScene.Context->DrawPrimitives(TPrimitivesKind::Triangles, m.Vertices.get(), m.Indices.get(),
                                       &AScene.Material, 1.0f);
    }
}

// The draw entry's per-draw state changes, by hand.
void MirrorDraws(TScene& AScene, GLuint AProgram, GLint AOffset, GLint AColor)
{
    for (const TMesh& m : AScene.Meshes) {
        glUseProgram(AProgram);
        glUniform2f(AOffset, m.Offset.X, m.Offset.Y);
        glUniform4fv(AColor, 1, &m.Color.X);
        const GLsizei stride = m.Vertices->VertexSize();
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, m.Vertices->Buffer());
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, m.Vertices->Buffer() + 12);
        glEnableVertexAttribArray(1);
        glDrawElements(GL_TRIANGLES, m.Indices->Length(), GL_UNSIGNED_SHORT, m.Indices->Buffer());
        glDisableVertexAttribArray(0);
        glDisableVertexAttribArray(1);
        glUseProgram(0);
    }
}

void BM_FrameworkDraws(benchmark::State& state)
{
    TScene& scene = Scene();
    for (auto _ : state) {
        if (!scene.Context->BeginSceneRendering()) {
            state.SkipWithError("scene refused");
            return;
        }
        scene.Context->Clear({TClearTarget::Color, TClearTarget::Depth}, TAlphaColors::Black, 1, 0);
        FrameworkDraws(scene);
        scene.Context->EndSceneRendering();
        glFinish();
    }
    scene.KeepPicture("framework");
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameworkDraws)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// The frame around the hand-written draws: the same frame buffer, viewport and clear.
template <typename Draws>
void RawFrame(TScene& AScene, Draws&& ADraws)
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glBindFramebuffer(GL_FRAMEBUFFER, AScene.Frame());
    glViewport(0, 0, FrameSize, FrameSize);
    glClearColor(0, 0, 0, 1);
    glClearDepthf(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ADraws();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glFinish();
}

void BM_MirrorGLDraws(benchmark::State& state)
{
    TScene& scene = Scene();
    const GLuint program = RawProgram();
    const GLint offset = glGetUniformLocation(program, "_Offset");
    const GLint color = glGetUniformLocation(program, "_Color");
    for (auto _ : state) RawFrame(scene, [&] { MirrorDraws(scene, program, offset, color); });
    scene.KeepPicture("mirror");
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MirrorGLDraws)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

void BM_PlainGLDraws(benchmark::State& state)
{
    TScene& scene = Scene();
    const GLuint program = RawProgram();
    const GLint offset = glGetUniformLocation(program, "_Offset");
    const GLint color = glGetUniformLocation(program, "_Color");
    const GLsizei stride = scene.Meshes.front().Vertices->VertexSize();
    for (auto _ : state) {
        RawFrame(scene, [&] {
            glUseProgram(program);
            glBindBuffer(GL_ARRAY_BUFFER, 0);
            glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, scene.AllVertices.data());
            glEnableVertexAttribArray(0);
            glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, scene.AllVertices.data() + 12);
            glEnableVertexAttribArray(1);
            GLint base = 0;
            for (const TMesh& m : scene.Meshes) {
                glUniform2f(offset, m.Offset.X, m.Offset.Y);
                glUniform4fv(color, 1, &m.Color.X);
                // The index range tells GL which vertices of the shared array this mesh reads.
                glDrawRangeElementsBaseVertex(GL_TRIANGLES, 0, GLuint(m.Vertices->Length() - 1), m.Indices->Length(),
                                              GL_UNSIGNED_SHORT, m.Indices->Buffer(), base);
                base += m.Vertices->Length();
            }
            glDisableVertexAttribArray(0);
            glDisableVertexAttribArray(1);
            glUseProgram(0);
        });
    }
    scene.KeepPicture("plain");
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainGLDraws)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// ---------------------------------------------------------------------------
// GL stubbed out

template <typename F>
struct TStubOf;
template <typename R, typename... A>
struct TStubOf<R (*)(A...)> {
    static R Call(A...)
    {
        if constexpr (!std::is_void_v<R>) return R{};
    }
};

// Replaces GL entry points by empty functions while it lives.
class TGLStubs {
public:
    template <typename F>
    void Stub(F& AEntry, F AStub)
    {
        const F saved = AEntry;
        AEntry = AStub;
        FRestore.push_back([&AEntry, saved] { AEntry = saved; });
    }
    ~TGLStubs()
    {
        for (auto it = FRestore.rbegin(); it != FRestore.rend(); ++it) (*it)();
    }

private:
    std::vector<std::function<void()>> FRestore;
};

#define KORVANE_STUB(AStubs, AEntry) AStubs.Stub(AEntry, &TStubOf<decltype(AEntry)>::Call)

// Every entry point a draw of the draw entry or of the mirror loop reaches.
// Programs answer that they exist: the framework uses only available ones.
void StubDrawEntryPoints(TGLStubs& AStubs)
{
    KORVANE_STUB(AStubs, glUseProgram);
    KORVANE_STUB(AStubs, glGetError);
    KORVANE_STUB(AStubs, glUniform1f);
    KORVANE_STUB(AStubs, glUniform2f);
    KORVANE_STUB(AStubs, glUniform3f);
    KORVANE_STUB(AStubs, glUniform4fv);
    KORVANE_STUB(AStubs, glUniformMatrix4fv);
    KORVANE_STUB(AStubs, glUniform1i);
    KORVANE_STUB(AStubs, glBindBuffer);
    KORVANE_STUB(AStubs, glVertexAttribPointer);
    KORVANE_STUB(AStubs, glEnableVertexAttribArray);
    KORVANE_STUB(AStubs, glDisableVertexAttribArray);
    KORVANE_STUB(AStubs, glDrawElements);
    KORVANE_STUB(AStubs, glDrawArrays);
    KORVANE_STUB(AStubs, glLineWidth);
    AStubs.Stub(glIsProgram, +[](GLuint) -> GLboolean { return GL_TRUE; });
}

void BM_FrameworkDrawsGLStubbed(benchmark::State& state)
{
    TScene& scene = Scene();
    if (!scene.Context->BeginSceneRendering()) {
        state.SkipWithError("scene refused");
        return;
    }
    {
        TGLStubs stubs;
        StubDrawEntryPoints(stubs);
        for (auto _ : state) FrameworkDraws(scene);
    }
    scene.Context->EndSceneRendering();
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameworkDrawsGLStubbed)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);

void BM_MirrorDrawsGLStubbed(benchmark::State& state)
{
    TScene& scene = Scene();
    const GLuint program = RawProgram();
    const GLint offset = glGetUniformLocation(program, "_Offset");
    const GLint color = glGetUniformLocation(program, "_Color");
    {
        TGLStubs stubs;
        StubDrawEntryPoints(stubs);
        for (auto _ : state) {
            MirrorDraws(scene, program, offset, color);
            benchmark::ClobberMemory();
        }
    }
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MirrorDrawsGLStubbed)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);

// Pixels that differ between the pictures of two cases; -1 when either did not run.
long DifferingPixels(const TScene& AScene, const char* A, const char* B)
{
    const auto a = AScene.Pictures.find(A), b = AScene.Pictures.find(B);
    if (a == AScene.Pictures.end() || b == AScene.Pictures.end()) return -1;
    long differing = 0;
    for (size_t i = 0; i < a->second.size(); i += 4)
        if (a->second[i] != b->second[i] || a->second[i + 1] != b->second[i + 1] ||
            a->second[i + 2] != b->second[i + 2] || a->second[i + 3] != b->second[i + 3])
            ++differing;
    return differing;
}

// Pixels of a picture that are not the black background: the meshes were drawn.
long CoveredPixels(const std::vector<uint8_t>& APicture)
{
    long covered = 0;
    for (size_t i = 0; i < APicture.size(); i += 4)
        if (APicture[i] || APicture[i + 1] || APicture[i + 2]) ++covered;
    return covered;
}
} // namespace

// Prints, from the median of each case, the wall-time ratio of the framework
// against each hand-written side, the framework's own time per draw with GL
// stubbed out, and whether the pictures agree.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("draws/s");
    // The repetitions of the cases take turns, so that a change in the
    // machine's load while the program runs falls on every case alike; a
    // later flag on the command line still decides.
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args{argv[0], interleave.data()};
    args.insert(args.end(), argv + 1, argv + argc);
    args.push_back(nullptr);
    argc = int(args.size()) - 1;
    argv = args.data();
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double framework = reporter.Rate("BM_FrameworkDraws");
        const struct {
            const char* Name;
            const char* Meaning;
        } references[] = {
            {"BM_MirrorGLDraws", "hand-written GL with the draw entry's per-draw state changes"},
            {"BM_PlainGLDraws", "plain hand-written GL, program and attributes set once per frame"},
        };
        std::printf("\nWall time per frame of %d draws, framework time / reference time (1.00 = as fast, "
                    "1.10 = 10%% slower):\n",
                    MeshCount);
        for (const auto& r : references) {
            const double rate = reporter.Rate(r.Name);
            if (framework <= 0 || rate <= 0) continue;
            std::printf("  %-18s %8.0f draws/s, framework %8.0f draws/s, ratio %.3f  (%s)\n", r.Name + 3, rate,
                        framework, rate / framework, r.Meaning);
        }
        const double stubbed = reporter.Rate("BM_FrameworkDrawsGLStubbed");
        const double mirrorStubbed = reporter.Rate("BM_MirrorDrawsGLStubbed");
        if (stubbed > 0)
            std::printf("Framework's own time per draw, every GL call an empty function: %.1f ns", 1e9 / stubbed);
        if (stubbed > 0 && mirrorStubbed > 0)
            std::printf(" (the mirror loop's calls alone: %.1f ns)", 1e9 / mirrorStubbed);
        if (stubbed > 0) std::printf("\n");

        TScene& scene = Scene();
        if (const auto it = scene.Pictures.find("framework"); it != scene.Pictures.end())
            std::printf("Framework picture: %ld of %d pixels covered by meshes\n", CoveredPixels(it->second),
                        FrameSize * FrameSize);
        for (const char* other : {"mirror", "plain"}) {
            const long differing = DifferingPixels(scene, "framework", other);
            if (differing < 0) continue;
            std::printf("Pixels differing between the framework's and the %s picture: %ld%s\n", other, differing,
                        differing ? "  <- THE PICTURES DIFFER, the figures above do not compare the same work" : "");
        }
    });
}
