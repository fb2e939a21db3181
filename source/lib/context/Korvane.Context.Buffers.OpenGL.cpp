#include "Korvane.Context.Buffers.OpenGL.h"

#include <epoxy/gl.h>

#include "Korvane.Context.Shader.h"
#include "Korvane.Context.Types.h"

namespace korvane {

namespace {
// The role a buffer gets in its label until its user names a better one.
const char* TargetLabel(TBufferBindingTarget ATarget)
{
    switch (ATarget) {
    case TBufferBindingTarget::_Array: return "TOpenGLBufferObject.Array";
    case TBufferBindingTarget::CopyRead: return "TOpenGLBufferObject.CopyRead";
    case TBufferBindingTarget::CopyWrite: return "TOpenGLBufferObject.CopyWrite";
    case TBufferBindingTarget::DrawIndirect: return "TOpenGLBufferObject.DrawIndirect";
    case TBufferBindingTarget::ElementArray: return "TOpenGLBufferObject.ElementArray";
    case TBufferBindingTarget::PixelPack: return "TOpenGLBufferObject.PixelPack";
    case TBufferBindingTarget::PixelUnpack: return "TOpenGLBufferObject.PixelUnpack";
    case TBufferBindingTarget::Texture: return "TOpenGLBufferObject.Texture";
    case TBufferBindingTarget::TransformFeedback: return "TOpenGLBufferObject.TransformFeedback";
    case TBufferBindingTarget::Uniform: return "TOpenGLBufferObject.Uniform";
    }
    return "TOpenGLBufferObject.Buffer";
}
} // namespace

uint32_t BufferUsageToGL(TBufferUsage AUsage)
{
    switch (AUsage) {
    case TBufferUsage::StreamDraw: return GL_STREAM_DRAW;
    case TBufferUsage::StreamRead: return GL_STREAM_READ;
    case TBufferUsage::StreamCopy: return GL_STREAM_COPY;
    case TBufferUsage::StaticDraw: return GL_STATIC_DRAW;
    case TBufferUsage::StaticRead: return GL_STATIC_READ;
    case TBufferUsage::StaticCopy: return GL_STATIC_COPY;
    case TBufferUsage::DynamicDraw: return GL_DYNAMIC_DRAW;
    case TBufferUsage::DynamicRead: return GL_DYNAMIC_READ;
    case TBufferUsage::DynamicCopy: return GL_DYNAMIC_COPY;
    }
    return 0;
}

uint32_t BufferBindingTargetToGL(TBufferBindingTarget ATarget)
{
    switch (ATarget) {
    case TBufferBindingTarget::_Array: return GL_ARRAY_BUFFER;
    case TBufferBindingTarget::CopyRead: return GL_COPY_READ_BUFFER;
    case TBufferBindingTarget::CopyWrite: return GL_COPY_WRITE_BUFFER;
    case TBufferBindingTarget::DrawIndirect: return GL_DRAW_INDIRECT_BUFFER;
    case TBufferBindingTarget::ElementArray: return GL_ELEMENT_ARRAY_BUFFER;
    case TBufferBindingTarget::PixelPack: return GL_PIXEL_PACK_BUFFER;
    case TBufferBindingTarget::PixelUnpack: return GL_PIXEL_UNPACK_BUFFER;
    case TBufferBindingTarget::Texture: return GL_TEXTURE_BUFFER;
    case TBufferBindingTarget::TransformFeedback: return GL_TRANSFORM_FEEDBACK_BUFFER;
    case TBufferBindingTarget::Uniform: return GL_UNIFORM_BUFFER;
    }
    return 0;
}

uint32_t BufferAccessModeToGL(TBufferAccessMode AMode)
{
    switch (AMode) {
    case TBufferAccessMode::ReadOnly: return GL_READ_ONLY;
    case TBufferAccessMode::WriteOnly: return GL_WRITE_ONLY;
    case TBufferAccessMode::ReadWrite: return GL_READ_WRITE;
    }
    return 0;
}

TBufferObject* TOpenGLBufferObjectClass::Create(TBufferUsage AUsage, TBufferBindingTarget ATarget,
                                                void* AContext) const
{
    return Construct<TOpenGLBufferObject>(AUsage, ATarget, AContext);
}

TClass TOpenGLBufferObject::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TOpenGLBufferObject, TOpenGLBufferObjectClass>("Korvane.Context.Buffers.OpenGL");
    return &info;
}

void TOpenGLBufferObject::Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext)
{
    TBufferObject::Create(AUsage, ATarget, AContext);
    FGLTarget = BufferBindingTargetToGL(ATarget);
    FGLUsage = BufferUsageToGL(AUsage);
    FBuffer = TGLName::Create(TGLObjectKind::Buffer, TargetLabel(ATarget));
    FHandle = FBuffer.Get();
}

void TOpenGLBufferObject::BeforeDestruction()
{
    // Deleting releases the storage; there is nothing to invalidate first.
    FBuffer.Reset();
    FHandle = 0;
    TBufferObject::BeforeDestruction();
}

void TOpenGLBufferObject::SetLabel(const std::string& ALabel) { FBuffer.Label(ALabel); }

intptr_t TOpenGLBufferObject::Bind()
{
    if (FBound) throw Exception("failed to bind - buffer object already bound");
    glBindBuffer(FGLTarget, FHandle);
    FBound = true;
    return FSize;
}

void TOpenGLBufferObject::Unbind()
{
    if (!FBound) throw Exception("failed to unbind - buffer object not bound");
    FBound = false;
    glBindBuffer(FGLTarget, 0);
}

void TOpenGLBufferObject::Push(const void* AData, intptr_t ASize)
{
    if (ASize < 0) throw Exception(Format("failed to push - invalid size %d", static_cast<int64_t>(ASize)));
    glBufferData(FGLTarget, static_cast<GLsizeiptr>(ASize), AData, FGLUsage);
    FSize = ASize;
}

void* TOpenGLBufferObject::SynchronizedMap(TBufferAccessMode AMode)
{
    return glMapBuffer(BufferBindingTargetToGL(FTarget), BufferAccessModeToGL(AMode));
}

void TOpenGLBufferObject::SynchronizedUnmap() { glUnmapBuffer(BufferBindingTargetToGL(FTarget)); }

void TOpenGLBufferObject::Clear()
{
    // The buffer's contents stay as they are; it only counts as empty and unlinked.
    FSize = 0;
    Unlink();
}

void TOpenGLBufferObject::CheckErrors(const char* AWhat) const
{
    if (const uint32_t code = ClearGLErrors())
        throw Exception(Format("%s failed: %s", AWhat, Format("%s (Error = %d)", ClassName(), code)));
}

void TOpenGLBufferObject::LinkWithBindingPoint(uint32_t ABindingPoint, bool AErrorCheck)
{
    if (AErrorCheck) DrainStaleGLErrors("TBufferObject.LinkWithBindingPoint");
    FBindingPoint = ABindingPoint;
    glBindBufferBase(GL_UNIFORM_BUFFER, ABindingPoint, FHandle);
    if (AErrorCheck) CheckErrors("TBufferObject.LinkWithBindingPoint");
}

void TOpenGLBufferObject::LinkWithShaderProgram(TShaderProgram* AProgram, const std::string& ABlockName,
                                                const void* AData, uint32_t ASize, bool AErrorCheck)
{
    if (!AProgram) throw Exception("TBufferObject.LinkWithShaderProgram failed: no shader program");
    const char* what = "TBufferObject.LinkWithShaderProgram";
    if (AErrorCheck) DrainStaleGLErrors(what);
    const auto prog = static_cast<GLuint>(AProgram->Prog());
    if (!FLinked) {
        const GLuint index = glGetUniformBlockIndex(prog, ABlockName.c_str());
        if (index == GL_INVALID_INDEX)
            throw Exception(Format(
                "TBufferObject.LinkWithShaderProgram failed: invalid uniform block index (program=%d, index=%d, name=%s)",
                prog, static_cast<int32_t>(index), ABlockName));
        if (AErrorCheck) CheckErrors(what);
        FBlockIndex = index;
        FLinked = true;
    }
    glUniformBlockBinding(prog, FBlockIndex, FBindingPoint);
    if (AErrorCheck) CheckErrors(what);
    if (FBound) {
        glBufferData(GL_UNIFORM_BUFFER, static_cast<GLsizeiptr>(ASize), AData, GL_DYNAMIC_DRAW);
        if (AErrorCheck) CheckErrors(what);
    }
}

namespace units {
void BuffersOpenGLInitialize()
{
    BufferObjectClass = &TOpenGLBufferObject::ClassInfo();
}
void BuffersOpenGLFinalize()
{
    BufferObjectClass = &TBufferObject::ClassInfo();
}
} // namespace units

} // namespace korvane
