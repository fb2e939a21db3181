#pragma once
// Helpers of the shader tests: fixed GL strings for the builders, the define
// sets a material switches on both builders, and compiling and linking the
// generated texts with raw GL calls (a failure names the define set and
// prints the numbered source).

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "GLTestHarness.h"
#include "Korvane.Context.Shader.OpenGL.h"
#include "Korvane.Material.Default.GLSL.h"
#include "TestHelpers.h"

namespace korvane::test {

class TFixedGLStrings : public TKorvaneGLPlatformStrings {
public:
    TFixedGLStrings(std::string AVendor = "Test Vendor", std::string ARenderer = "Test Renderer",
                    std::string AVersion = "4.5 (Compatibility Profile) Test 1.0",
                    std::string AExtensions = "GL_ARB_test_one GL_EXT_test_two")
        : FVendor(std::move(AVendor)), FRenderer(std::move(ARenderer)), FVersion(std::move(AVersion)),
          FExtensions(std::move(AExtensions))
    {
    }
    std::string VendorName() const override { return FVendor; }
    std::string RendererName() const override { return FRenderer; }
    std::string Version() const override { return FVersion; }
    std::string ExtensionString() const override { return FExtensions; }

private:
    std::string FVendor, FRenderer, FVersion, FExtensions;
};

inline const TFixedGLStrings& FixedStrings()
{
    static const TFixedGLStrings strings;
    return strings;
}

// The two builders of one material.
struct TShaderPair {
    std::unique_ptr<TKorvaneGLSLVertexShader> VS = TKorvaneGLSLVertexShader::Create(nullptr, &FixedStrings());
    std::unique_ptr<TKorvaneGLSLFragmentShader> FS = TKorvaneGLSLFragmentShader::Create(nullptr, &FixedStrings());

    // Defines on both builders.
    void Both(std::initializer_list<const char*> ADefines)
    {
        for (const char* d : ADefines) {
            VS->AddDefine(d);
            FS->AddDefine(d);
        }
    }
    // Defines on the fragment builder only.
    void Fragment(std::initializer_list<const char*> ADefines)
    {
        for (const char* d : ADefines) FS->AddDefine(d);
    }
    // Declares the 2D sampler "_" + AName (a cube map when ACube) in both stages.
    void Sampler(const std::string& AName, TKorvaneTextureKind AKind = TKorvaneTextureKind::Texture2D)
    {
        for (TKorvaneNodeBuilder* b : {static_cast<TKorvaneNodeBuilder*>(VS.get()),
                                       static_cast<TKorvaneNodeBuilder*>(FS.get())}) {
            auto node = std::make_unique<TKorvaneGLSLTextureUniformNode>(b);
            node->SetId(AName);
            node->SetTextureKind(AKind);
            b->Globals()->Uniforms()->Textures()->Add(std::move(node));
        }
    }
};

inline std::string NumberedSource(const std::string& ASource)
{
    std::ostringstream out;
    std::istringstream in(ASource);
    std::string line;
    int n = 1;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out << n++ << ": " << line << "\n";
    }
    return out.str();
}

// Compiles one stage; on failure records the log and the numbered source.
inline GLuint CompileStage(GLenum AKind, const std::string& ASource, const std::string& AContext, std::string& AError)
{
    GLuint shader = glCreateShader(AKind);
    const char* text = ASource.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        std::string log(size_t(std::max(length, 1)), '\0');
        glGetShaderInfoLog(shader, length, nullptr, log.data());
        AError += (AKind == GL_VERTEX_SHADER ? "vertex" : "fragment") + std::string(" shader of ") + AContext +
                  " failed:\n" + log.c_str() + "\n" + NumberedSource(ASource);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// The attribute locations the framework's shader programs bind before every
// link (its own table, so the raw-GL tests cannot drift from it).
inline void BindAttributes(GLuint AProgram)
{
    for (GLuint i = 0; i < 13; ++i) glBindAttribLocation(AProgram, i, ShaderAttributeNames[i]);
}

// Locations of that table that the raw-GL draws feed.
inline constexpr GLuint AttribPosition = 0, AttribNormal = 1, AttribColor = 2, AttribTexCoord0 = 6,
                        AttribBinormal = 10, AttribTangent = 11, AttribModelMatrix = 12;

// Compiles and links both texts; returns the program (0 on failure, with AError set).
inline GLuint BuildProgram(const std::string& AVertex, const std::string& AFragment, const std::string& AContext,
                           std::string& AError)
{
    EnsureGLContext();
    GLuint vs = CompileStage(GL_VERTEX_SHADER, AVertex, AContext, AError);
    GLuint fs = CompileStage(GL_FRAGMENT_SHADER, AFragment, AContext, AError);
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    BindAttributes(program);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::string log(size_t(std::max(length, 1)), '\0');
        glGetProgramInfoLog(program, length, nullptr, log.data());
        AError += "linking " + AContext + " failed:\n" + log.c_str() + "\nvertex:\n" + NumberedSource(AVertex) +
                  "\nfragment:\n" + NumberedSource(AFragment);
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

} // namespace korvane::test
