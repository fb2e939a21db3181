#include "Korvane.Context.Shader.OpenGL.h"

#include <epoxy/gl.h>

#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.h"
#include "Platform.Log.h"

namespace korvane {

const char* const ShaderAttributeNames[13] = {
    "a_Position",  "a_Normal",    "a_Color",     "a_Color1",   "a_Color2",  "a_Color3",     "a_TexCoord0",
    "a_TexCoord1", "a_TexCoord2", "a_TexCoord3", "a_Binormal", "a_Tangent", "a_ModelMatrix"};

namespace {

// The GLSL name of a variable: "_" in front and after every ".".
std::string GLSLName(const std::string& AName)
{
    std::string result = "_";
    for (char c : AName) {
        result += c;
        if (c == '.') result += '_';
    }
    return result;
}

std::string InfoLog(GLuint AObject, bool AProgram)
{
    GLint length = 0;
    if (AProgram) glGetProgramiv(AObject, GL_INFO_LOG_LENGTH, &length);
    else glGetShaderiv(AObject, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return {};
    std::string log(static_cast<size_t>(length), '\0');
    GLsizei written = 0;
    if (AProgram) glGetProgramInfoLog(AObject, length, &written, log.data());
    else glGetShaderInfoLog(AObject, length, &written, log.data());
    log.resize(static_cast<size_t>(std::max(written, 0)));
    return log;
}
} // namespace

// ---------------------------------------------------------------------------
// Class operations

TShaderProgram* TOpenGLShaderProgramClass::Create(TClass AContextClass, TContextShader* VS, TContextShader* PS) const
{
    return Construct<TOpenGLShaderProgram>([&](TOpenGLShaderProgram* p) { p->Create(AContextClass, VS, PS); });
}

TShaderProgram* TOpenGLShaderProgramClass::Create(TClass AContextClass, TContextShader* VS, TContextShader* GS,
                                                  TContextShader* TSE, TContextShader* TSC, TContextShader* PS) const
{
    return Construct<TOpenGLShaderProgram>(
        [&](TOpenGLShaderProgram* p) { p->Create(AContextClass, VS, GS, TSE, TSC, PS); });
}

uintptr_t TOpenGLShaderProgramClass::BuildShader(int AType, const std::vector<uint8_t>& ACode,
                                                 bool AIsInDesignTime) const
{
    struct TStage {
        GLenum Type;
        const char* Label;
        const char* Message;
    };
    static constexpr TStage Stages[] = {
        {GL_VERTEX_SHADER, "TContextShader.Vertex", "Cannot create Vertex-Shader for '%s':\r\n%s"},
        {GL_GEOMETRY_SHADER, "TContextShader.Geometry", "Cannot create Geometry-Shader for '%s':\r\n%s"},
        {GL_TESS_EVALUATION_SHADER, "TContextShader.TessEvaluation",
         "Cannot create Tessellation-Evaluation-Shader for '%s':\r\n%s"},
        {GL_TESS_CONTROL_SHADER, "TContextShader.TessControl",
         "Cannot create Tessellation-Control-Shader for '%s':\r\n%s"},
    };
    TStage stage{static_cast<GLenum>(AType), "TContextShader.Fragment", "Cannot create Fragment-Shader for '%s':\r\n%s"};
    for (const TStage& s : Stages)
        if (s.Type == stage.Type) stage = s;

    const std::string source(ACode.begin(), ACode.end());
    // A shader that fails to compile is deleted with the raised error.
    TGLName shader = TGLName::Create(TGLObjectKind::Shader, stage.Label, stage.Type);
    const auto* text = reinterpret_cast<const GLchar*>(ACode.data());
    const auto length = static_cast<GLint>(ACode.size());
    glShaderSource(shader.Get(), 1, &text, &length);
    glCompileShader(shader.Get());
    GLint status = GL_FALSE;
    glGetShaderiv(shader.Get(), GL_COMPILE_STATUS, &status);
    if (status == GL_FALSE) {
        const std::string log = InfoLog(shader.Get(), false);
        if (!log.empty()) {
            Log::d(log);
            RaiseShaderCompileException(nullptr, AIsInDesignTime, stage.Message, ClassName(), log, source);
        }
    }
    return shader.Release();
}

void TOpenGLShaderProgramClass::ActivateDefault() const
{
    // An error someone else left pending must not count as this switch's.
    DrainStaleGLErrors("TOpenGLShaderProgram.ActivateDefault");
    ActivateDefaultAfterErrorCheck();
}

void TOpenGLShaderProgramClass::ActivateDefaultAfterErrorCheck() const
{
    glUseProgram(0);
    intptr_t code = 0;
    if (TKorvaneContext::HasAnyErrors(code))
        throw Exception(Format("failed to switch to default shader program (%s) - not activated (error #%d)",
                               ClassName(), static_cast<int64_t>(code)));
}

// ---------------------------------------------------------------------------
// TOpenGLShaderProgram

TClass TOpenGLShaderProgram::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TOpenGLShaderProgram, TOpenGLShaderProgramClass>("Korvane.Context.Shader.OpenGL");
    return &info;
}

void TOpenGLShaderProgram::BeforeDestruction()
{
    TShaderProgram::BeforeDestruction();
    if (FProgram && GLContextCurrent() && static_cast<GLuint>(GLInteger(GL_CURRENT_PROGRAM)) == FProgram.Get())
        glUseProgram(0);
    FProgram.Reset();
}

void TOpenGLShaderProgram::LinkProgram(TContextShader* AVS, TContextShader* AGS, TContextShader* ATSE,
                                       TContextShader* ATSC, TContextShader* APS)
{
    DrainStaleGLErrors("TOpenGLShaderProgram.LinkProgram");
    auto handle = [](TContextShader* s) { return s ? static_cast<GLuint>(s->Handle()) : 0u; };
    FProgram = TGLName::Create(TGLObjectKind::Program, "TOpenGLShaderProgram.Program");
    const GLuint prog = FProgram.Get();
    FProg = prog;
    FVariables.clear();
    IndexVariables();
    for (TContextShader* s : {AVS, APS, AGS, ATSE, ATSC})
        if (handle(s)) glAttachShader(prog, handle(s));
    for (GLuint i = 0; i < 13; ++i) glBindAttribLocation(prog, i, ShaderAttributeNames[i]);
    glLinkProgram(prog);
    GLint status = GL_FALSE;
    glGetProgramiv(prog, GL_LINK_STATUS, &status);
    if (status == GL_FALSE) {
        const std::string log = InfoLog(prog, true);
        Log::d(log);
        FProgram.Reset();
        FProg = 0;
        RaiseContextExceptionFmt(this, "cannot create shader program: %s - %s", ClassName(), log);
    }

    // The variables, stage by stage. Texture units count from 1 over all stages
    // together: the stages of one program sample at the same time, so two
    // samplers of different stages on one unit would read the same texture.
    struct Stage {
        TContextShader* Shader;
        int Kind;
    } stages[] = {{AVS, 0}, {AGS, 2}, {ATSE, 3}, {ATSC, 4}, {APS, 1}};
    int unit = 1;
    for (const auto& stage : stages) {
        if (!stage.Shader) continue;
        TContextShaderSource source = stage.Shader->GetSourceByArch(TKorvaneContext::GetShaderArch());
        if (!source.IsDefined()) source = stage.Shader->GetSourceByArch(TContextShaderArch::GLSL);
        if (!source.IsDefined()) continue;
        for (const auto& variable : source.Variables) {
            TContextShaderVariable v = variable;
            v.ShaderKind = stage.Kind;
            const std::string glslName = GLSLName(v.Name);
            v.Index = glGetUniformLocation(prog, glslName.c_str());
            if (v.Kind == TContextShaderVariableKind::Texture && v.Index >= 0) v.TextureUnit = unit++;
            if (v.Kind == TContextShaderVariableKind::Matrix) {
                int size = GetUniformArraySize(glslName);
                if (size == 0) size = GetUniformArraySize(glslName + "[0]");
                if (size > 0) v.Size = size;
            }
            if (!FVariables.emplace(v.Name, v).second) throw EListError("Duplicates not allowed");
        }
    }
    IndexVariables();

    FVS = handle(AVS);
    FGS = handle(AGS);
    FTSE = handle(ATSE);
    FTSC = handle(ATSC);
    FPS = handle(APS);
    if (TKorvaneContext::HasAnyErrors())
        RaiseContextExceptionFmt(this, "cannot activated created shader program", ClassName());
}

int TOpenGLShaderProgram::GetUniformArraySize(const std::string& AName) const
{
    const auto prog = static_cast<GLuint>(FProg);
    GLint count = 0, maxLength = 0;
    glGetProgramiv(prog, GL_ACTIVE_UNIFORMS, &count);
    glGetProgramiv(prog, GL_ACTIVE_UNIFORM_MAX_LENGTH, &maxLength);
    std::string name(static_cast<size_t>(std::max(maxLength, 1)), '\0');
    for (GLint i = 0; i < count; ++i) {
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(prog, static_cast<GLuint>(i), static_cast<GLsizei>(name.size()), &length, &size, &type,
                           name.data());
        if (SameText(std::string_view(name.data(), static_cast<size_t>(std::max(length, 0))), AName)) return size;
    }
    return 0;
}

void TOpenGLShaderProgram::ReleaseUniformBuffer(TUniformBufferStruct& AEntry)
{
    if (AEntry.Binding >= 0) glBindBufferBase(GL_UNIFORM_BUFFER, static_cast<GLuint>(AEntry.Binding), 0);
    AEntry.Buffer.reset();
    AEntry.Name.clear();
    AEntry.Binding = 0;
    AEntry.Data = nullptr;
    AEntry.Size = 0;
}

bool TOpenGLShaderProgram::Available() const
{
    return FProg && FVS && FPS && glIsProgram(static_cast<GLuint>(FProg));
}

void TOpenGLShaderProgram::Use()
{
    if (!Available()) return;
    // An error someone else left pending must not count as this program's.
    DrainStaleGLErrors("TOpenGLShaderProgram.Use");
    glUseProgram(static_cast<GLuint>(FProg));
    if (TKorvaneContext::HasAnyErrors()) RaiseContextExceptionFmt(this, "cannot use shader program", ClassName());
}

namespace units {
void ShaderOpenGLInitialize()
{
    ShaderProgramClass = &TOpenGLShaderProgram::ClassInfo();
}
void ShaderOpenGLFinalize()
{
    ShaderProgramClass = &TShaderProgram::ClassInfo();
}
} // namespace units

} // namespace korvane
