// Draws 1,000 small meshes, each with its own place and colour, into a
// 256 x 256 frame buffer, three ways, and prints how the framework's draw entry
// compares on wall time:
//
// - Framework: the render context's draw entry (material applied and reset,
//   statistics, render-pass hooks, vertex set-up, error checks) with the
//   framework's generated default material, as a user draws with it: the
//   mesh's place set as the context's model matrix and its colour as the
//   material's diffuse colour before each draw. The material fills its
//   "ShaderData" uniform block, gets its program through the context's program
//   cache and hands the model matrix to the draw as its one instance.
// - Mirror: hand-written GL that makes the same state changes per draw as the
//   draw entry (program bound and unbound, uniform block bound and uploaded,
//   instance matrix uploaded, attributes pointed, enabled and disabled), i.e.
//   what the framework's way of drawing costs without the framework.
// - Plain: hand-written GL as one would write it for this picture: program,
//   attributes, instance matrices and uniform block binding set once per frame;
//   per mesh one upload of its uniform block and one draw.
//
// Both hand-written sides link the material's own generated shader texts and
// upload, per mesh, exactly the uniform block bytes and model matrix the
// framework produced for that mesh, so all three draw the same program with
// the same values. The three pictures are read back and compared pixel for
// pixel, so that no side can skip work. Two more cases run the framework and
// the mirror loop with every GL entry point they use replaced by an empty
// function: what remains is the framework's own work per draw.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "BenchSupport.h"
#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Shader.OpenGL.h"
#include "Korvane.Material.Default.h"
#include "Platform.Textures.h"

using namespace korvane;

namespace {
constexpr int MeshCount = 1000;
constexpr int FrameSize = 256;
constexpr GLuint ModelMatrixLocation = 12; // "a_ModelMatrix", four rows from here

GLuint Compile(GLenum AType, const std::vector<uint8_t>& ASource)
{
    const GLuint shader = glCreateShader(AType);
    const auto* text = reinterpret_cast<const GLchar*>(ASource.data());
    const auto length = GLint(ASource.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    return shader;
}

// One small mesh: a square of two triangles with normals, placed on a 40 x 25 grid.
struct TMesh {
    std::unique_ptr<TVertexBuffer> Vertices;
    std::unique_ptr<TIndexBuffer> Indices;
    TMatrix3D Place;
    TAlphaColorF Color;
    // What the framework uploaded for this mesh's draw: the material's
    // uniform block, taken from the first framework frame.
    std::vector<uint8_t> ShaderData;
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
        m.Place = TMatrix3D::CreateTranslation({-0.95f + 0.048f * float(i % 40), -0.95f + 0.076f * float(i / 40), 0});
        m.Color = TAlphaColorF(float(i % 5) / 4, float(i % 3) / 2, float((i / 40) % 2), 1);
        meshes.push_back(std::move(m));
    }
    return meshes;
}

struct TScene {
    std::unique_ptr<TTexture> Texture;
    TKorvaneContext* Context = nullptr;
    TOwned<TKorvaneDefaultMaterial> Material;
    std::vector<TMesh> Meshes;
    // Every mesh's vertices one behind the other, for the plain side.
    std::vector<uint8_t> AllVertices;
    // The hand-written sides' program (the material's generated stages), its
    // uniform block's index, and their buffers: one for the block, one for the
    // mirror's instance matrix, one with every mesh's matrix for the plain side.
    GLuint Program = 0;
    GLuint BlockIndex = GL_INVALID_INDEX;
    GLuint BlockBuffer = 0, InstanceBuffer = 0, AllInstancesBuffer = 0;
    // The last picture of each case.
    std::map<std::string, std::vector<uint8_t>> Pictures;

    TScene()
    {
        if (!TKorvaneContext::IsContextAvailable()) throw Exception("no OpenGL context");
        Texture = std::make_unique<TTexture>();
        Texture->SetSize(FrameSize, FrameSize);
        Context = static_cast<TKorvaneContext*>(
            TContextManager::CreateFromTexture(Texture.get(), TMultisample::None, true));
        // Positions are clip coordinates: the model matrix alone places a mesh.
        Context->SetCameraMatrix(TMatrix3D::Identity());
        Context->SetProjectionMatrix(TMatrix3D::Identity());
        Material.reset(TKorvaneDefaultMaterial::Create(nullptr));
        Material->SetEmissive(TAlphaColorF(0, 0, 0, 1));
        Material->SetAmbient(TAlphaColorF(0, 0, 0, 1));
        Meshes = MakeMeshes();
        for (const TMesh& m : Meshes)
            AllVertices.insert(AllVertices.end(), m.Vertices->Buffer(),
                               m.Vertices->Buffer() + size_t(m.Vertices->Size()));
        CaptureShaderData();
        MakeRawProgram();
    }
    ~TScene()
    {
        const GLuint buffers[] = {BlockBuffer, InstanceBuffer, AllInstancesBuffer};
        glDeleteBuffers(3, buffers);
        glDeleteProgram(Program);
        Material.reset();
        Context->Free();
    }

    GLuint Frame() const { return Context->DefaultFrameBuf()->Handle(); }

    // One framework frame, keeping each mesh's uniform block as uploaded.
    void CaptureShaderData();
    // Links the material's generated stages by hand, with the framework's
    // attribute locations, and makes the hand-written sides' buffers.
    void MakeRawProgram()
    {
        const GLuint vs = Compile(GL_VERTEX_SHADER, Material->VertexShaderSource().Code);
        const GLuint fs = Compile(GL_FRAGMENT_SHADER, Material->FragmentShaderSource().Code);
        Program = glCreateProgram();
        glAttachShader(Program, vs);
        glAttachShader(Program, fs);
        for (GLuint i = 0; i < 13; ++i) glBindAttribLocation(Program, i, ShaderAttributeNames[i]);
        glLinkProgram(Program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint linked = GL_FALSE;
        glGetProgramiv(Program, GL_LINK_STATUS, &linked);
        if (!linked) throw Exception("the material's stages do not link by hand");
        BlockIndex = glGetUniformBlockIndex(Program, "ShaderData");
        if (BlockIndex == GL_INVALID_INDEX) throw Exception("the material's program has no \"ShaderData\" block");
        glUniformBlockBinding(Program, BlockIndex, 0);
        GLuint buffers[3];
        glGenBuffers(3, buffers);
        BlockBuffer = buffers[0];
        InstanceBuffer = buffers[1];
        AllInstancesBuffer = buffers[2];
        std::vector<TMatrix3D> places;
        for (const TMesh& m : Meshes) places.push_back(m.Place);
        glBindBuffer(GL_ARRAY_BUFFER, AllInstancesBuffer);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(places.size() * sizeof(TMatrix3D)), places.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }

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

// The framework's draws of one frame, without the frame around them: what a
// user's code does for each mesh.
void FrameworkDraws(TScene& AScene)
{
    for (const TMesh& m : AScene.Meshes) {
        AScene.Context->SetMatrix(m.Place);
        AScene.Material->SetDiffuse(m.Color);
        AScene.Context->DrawPrimitives(TPrimitivesKind::Triangles, m.Vertices.get(), m.Indices.get(),
                                       AScene.Material.get(), 1.0f);
    }
}

void TScene::CaptureShaderData()
{
    if (!Context->BeginSceneRendering()) throw Exception("scene refused");
    for (TMesh& m : Meshes) {
        Context->SetMatrix(m.Place);
        Material->SetDiffuse(m.Color);
        Context->DrawPrimitives(TPrimitivesKind::Triangles, m.Vertices.get(), m.Indices.get(), Material.get(), 1.0f);
        const auto* data = reinterpret_cast<const uint8_t*>(&Material->ShaderData());
        m.ShaderData.assign(data, data + sizeof(TKorvaneShaderData));
    }
    Context->EndSceneRendering();
}

// Points the mesh's position and normal at its client-side vertices.
void PointVertices(const uint8_t* AVertices, GLsizei AStride)
{
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, AStride, AVertices);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, AStride, AVertices + 12);
    glEnableVertexAttribArray(1);
}

// Points "a_ModelMatrix" at the bound array buffer, one matrix per instance.
void PointInstanceMatrix()
{
    for (GLuint row = 0; row < 4; ++row) {
        const GLuint location = ModelMatrixLocation + row;
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, 4, GL_FLOAT, GL_FALSE, 64, reinterpret_cast<const void*>(intptr_t(row) * 16));
        glVertexAttribDivisor(location, 1);
    }
}

void DisableAttributes()
{
    for (GLuint location : {0u, 1u, 12u, 13u, 14u, 15u}) glDisableVertexAttribArray(location);
}

// The draw entry's per-draw state changes, by hand.
void MirrorDraws(TScene& AScene)
{
    const GLuint program = AScene.Program, block = AScene.BlockBuffer, instances = AScene.InstanceBuffer;
    for (const TMesh& m : AScene.Meshes) {
        glUseProgram(program);
        // The material's uniform block: bound to its binding point and uploaded.
        glBindBufferBase(GL_UNIFORM_BUFFER, 0, block);
        glUniformBlockBinding(program, AScene.BlockIndex, 0);
        glBindBuffer(GL_UNIFORM_BUFFER, block);
        glBufferData(GL_UNIFORM_BUFFER, GLsizeiptr(m.ShaderData.size()), m.ShaderData.data(), GL_DYNAMIC_DRAW);
        glBindBuffer(GL_UNIFORM_BUFFER, 0);
        // The model matrix as the draw's one instance.
        glBindBuffer(GL_ARRAY_BUFFER, instances);
        glBufferData(GL_ARRAY_BUFFER, sizeof(TMatrix3D), &m.Place, GL_DYNAMIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        PointVertices(m.Vertices->Buffer(), m.Vertices->VertexSize());
        glBindBuffer(GL_ARRAY_BUFFER, instances);
        PointInstanceMatrix();
        glDrawElementsInstanced(GL_TRIANGLES, m.Indices->Length(), GL_UNSIGNED_SHORT, m.Indices->Buffer(), 1);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        DisableAttributes();
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
    for (auto _ : state) RawFrame(scene, [&] { MirrorDraws(scene); });
    scene.KeepPicture("mirror");
    state.counters["draws/s"] = benchmark::Counter(double(state.iterations()) * MeshCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MirrorGLDraws)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

void BM_PlainGLDraws(benchmark::State& state)
{
    TScene& scene = Scene();
    const GLsizei stride = scene.Meshes.front().Vertices->VertexSize();
    for (auto _ : state) {
        RawFrame(scene, [&] {
            glUseProgram(scene.Program);
            glBindBufferBase(GL_UNIFORM_BUFFER, 0, scene.BlockBuffer);
            glBindBuffer(GL_UNIFORM_BUFFER, scene.BlockBuffer);
            PointVertices(scene.AllVertices.data(), stride);
            glBindBuffer(GL_ARRAY_BUFFER, scene.AllInstancesBuffer);
            PointInstanceMatrix();
            glBindBuffer(GL_ARRAY_BUFFER, 0);
            GLint base = 0;
            GLuint instance = 0;
            for (const TMesh& m : scene.Meshes) {
                glBufferData(GL_UNIFORM_BUFFER, GLsizeiptr(m.ShaderData.size()), m.ShaderData.data(), GL_DYNAMIC_DRAW);
                glDrawElementsInstancedBaseVertexBaseInstance(GL_TRIANGLES, m.Indices->Length(), GL_UNSIGNED_SHORT,
                                                              m.Indices->Buffer(), 1, base, instance++);
                base += m.Vertices->Length();
            }
            glBindBuffer(GL_UNIFORM_BUFFER, 0);
            DisableAttributes();
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
    KORVANE_STUB(AStubs, glBindBufferBase);
    KORVANE_STUB(AStubs, glBufferData);
    KORVANE_STUB(AStubs, glBufferSubData);
    KORVANE_STUB(AStubs, glUniformBlockBinding);
    KORVANE_STUB(AStubs, glVertexAttribPointer);
    KORVANE_STUB(AStubs, glVertexAttribDivisor);
    KORVANE_STUB(AStubs, glEnableVertexAttribArray);
    KORVANE_STUB(AStubs, glDisableVertexAttribArray);
    KORVANE_STUB(AStubs, glDrawElements);
    KORVANE_STUB(AStubs, glDrawArrays);
    KORVANE_STUB(AStubs, glDrawElementsInstanced);
    KORVANE_STUB(AStubs, glDrawArraysInstanced);
    KORVANE_STUB(AStubs, glActiveTexture);
    KORVANE_STUB(AStubs, glBindTexture);
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
    {
        TGLStubs stubs;
        StubDrawEntryPoints(stubs);
        for (auto _ : state) {
            MirrorDraws(scene);
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
    // The scene (context, material, meshes, the hand-written sides' program)
    // is made before any case runs, so that no case's first repetition pays for it.
    Scene();
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
