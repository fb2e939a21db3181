// Uses the installed package: start-up, then a buffer object, a texture and a
// shader program on the program's OpenGL context, each freed again.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Context.Texturing.h"
#include "Korvane.Units.h"

using namespace korvane;

namespace {
const char* const VS = "#version 430\nin vec3 a_Position;\nvoid main() { gl_Position = vec4(a_Position, 1.0); }\n";
const char* const FS = "#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n";

TContextShader* Stage(TContextShaderKind AKind, int AGLType, const char* ACode)
{
    auto* s = new TContextShader(AKind, "consumer", {TContextShaderSource(TContextShaderArch::GLSL, ACode, {})});
    s->SetHandle(ShaderProgramClass->BuildShader(AGLType, std::vector<uint8_t>(ACode, ACode + std::strlen(ACode)), true));
    return s;
}
} // namespace

int main()
{
    TUnitsScope units;
    try {
        if (!TKorvaneContext::IsContextAvailable()) {
            std::puts("consumer: no OpenGL context");
            return 1;
        }
        TBufferObject* buffer = BufferObjectClass->Create(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, nullptr);
        const bool bufferMade = buffer->Handle() != 0;
        buffer->Free();

        TKorvaneTexture* texture = TKorvaneTexture::Create();
        texture->SetSize(8, 8);
        texture->Initialize();
        const bool textureMade = texture->Handle() != 0;
        texture->Free();

        TContextShader* vs = Stage(TContextShaderKind::VertexShader, 0x8B31 /* GL_VERTEX_SHADER */, VS);
        TContextShader* fs = Stage(TContextShaderKind::PixelShader, 0x8B30 /* GL_FRAGMENT_SHADER */, FS);
        TShaderProgram* program = ShaderProgramClass->Create(TContextOpenGLWindows::StaticClass(), vs, fs);
        const bool programMade = program->Prog() != 0;
        program->Free();
        vs->Free();
        fs->Free();

        std::printf("consumer: buffer %d, texture %d, program %d\n", bufferMade, textureMade, programMade);
        return bufferMade && textureMade && programMade ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("consumer: %s\n", e.what());
        return 1;
    }
}
