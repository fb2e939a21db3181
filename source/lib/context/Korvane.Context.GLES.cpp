#include "Korvane.Context.GLES.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <vector>

#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Context.Texturing.OpenGL.h"
#include "Korvane.Context.Types.OpenGL.h"
#include "Korvane.GL.Internal.h"
#include "Platform.IOUtils.h"
#include "Platform.Log.h"
#include "Platform.Streams.h"

namespace korvane {

int ClientAttribStackDepth = 0;

namespace {
// 0 until first asked; then 2000 (EXT), 1000 (ARB) or 1 (none).
int GDirectStateAccess = 0;
// The memory DoCopyToBits reads the frame into, kept between copies.
std::vector<uint8_t> GReadBackBuffer;

void FreeReadBackBuffer() { std::vector<uint8_t>().swap(GReadBackBuffer); }

// What the texture life cycle needs to know of a texture.
struct TTextureParams {
    TKorvaneTexture* Korvane = nullptr;
    int Unit = 0;
    TKorvaneTextureKind Kind = TKorvaneTextureKind::Texture2D;
    GLenum Binding = GL_TEXTURE_BINDING_2D;
    GLenum Target = GL_TEXTURE_2D;
    int Depth = 0;
    TKorvaneTextureWrap WrapS = TKorvaneTextureWrap::Repeated;
    TKorvaneTextureWrap WrapT = TKorvaneTextureWrap::Repeated;
    TKorvaneTextureWrap WrapR = TKorvaneTextureWrap::Repeated;
    TTextureStyles Styles;
    uint32_t Internal = 0, Format = 0, Type = 0;
    // Bytes of one pixel of the internal format.
    int32_t InternalBytes = 4;
};

TTextureParams ParamsOf(TTexture* ATexture)
{
    TTextureParams p;
    if (auto* k = dynamic_cast<TKorvaneTexture*>(ATexture)) {
        p.Korvane = k;
        p.Unit = std::max(k->TextureUnit, 0);
        p.Kind = k->Kind;
        uint32_t binding = 0, target = 0;
        k->GetBindingAndKind(binding, target);
        p.Binding = binding;
        p.Target = target;
        p.Depth = k->Depth;
        p.WrapS = k->WrapS;
        p.WrapT = k->WrapT;
        p.WrapR = k->WrapR;
        p.Styles = k->Style() + k->StyleEx;
        k->GetFormatAndType(p.Internal, p.Format, p.Type);
        const auto comps = static_cast<int>(k->Components);
        p.InternalBytes = comps < PixelFormatExCount ? PixelFormatExBytes[comps] : 0;
        return p;
    }
    p.Styles = ATexture->Style();
    p.Internal = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(TPixelFormatEx::RGBA8));
    p.Format = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(TPixelFormatEx::BGRA));
    p.Type = static_cast<uint32_t>(TKorvaneTextureDataTypeHelper::ToValue(TKorvaneTextureDataType::dtUnsignedByte));
    const auto format = static_cast<int>(ATexture->PixelFormat());
    p.InternalBytes = format < PixelFormatExCount ? PixelFormatExBytes[format] : 0;
    return p;
}

// The debug label of a texture's GL object: its class and kind.
std::string TextureLabel(const TTexture* ATexture, TKorvaneTextureKind AKind)
{
    static constexpr const char* Kinds[] = {"Texture2D", "Texture3D", "CubeMap", "ImageTexture3D", "Array2D"};
    const auto kind = static_cast<size_t>(AKind);
    return ATexture->ClassName() + "." + (kind < std::size(Kinds) ? Kinds[kind] : "Texture");
}

bool IsVolume(TKorvaneTextureKind AKind)
{
    return AKind == TKorvaneTextureKind::Texture3D || AKind == TKorvaneTextureKind::ImageTexture3D ||
           AKind == TKorvaneTextureKind::Array2D;
}

// The texture's bytes per handed-over pixel: what the transfer format and type
// describe, else the internal format's size.
int64_t TransferBytes(const TTextureParams& p)
{
    const int64_t transfer = GLTransferBytesPerPixel(p.Format, p.Type);
    return transfer > 0 ? transfer : p.InternalBytes;
}

// The detail text of a texture creation or upload failure.
std::string FailureDetail(const std::string& AClassName, uint32_t ACode, const TTextureParams& p)
{
    if (p.Korvane)
        return Format("%s (Error = %d) internal-format=%s, format=%s, type=%s", AClassName, ACode,
                      TPixelFormatExHelper::ToString(p.Korvane->Components),
                      TPixelFormatExHelper::ToString(p.Korvane->Format()),
                      TKorvaneTextureDataTypeHelper::ToString(p.Korvane->DataType));
    return Format("%s (Error = %d) internal-format=%d, format=%d", AClassName, ACode, p.Internal, p.Format);
}

void SetWraps(const TTextureParams& p)
{
    glTexParameteri(p.Target, GL_TEXTURE_WRAP_S, static_cast<GLint>(TKorvaneTextureWrapHelper::ToValue(p.WrapS)));
    glTexParameteri(p.Target, GL_TEXTURE_WRAP_T, static_cast<GLint>(TKorvaneTextureWrapHelper::ToValue(p.WrapT)));
    if (IsVolume(p.Kind))
        glTexParameteri(p.Target, GL_TEXTURE_WRAP_R,
                        static_cast<GLint>(TKorvaneTextureWrapHelper::ToValue(p.WrapR)));
}

void SetCubeMapLevels(const TTextureParams& p, uintptr_t AHandle)
{
    if (p.Kind != TKorvaneTextureKind::CubeMap) return;
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAX_LEVEL, 9);
    if (const uint32_t error = ClearGLErrors())
        throw Exception(Format("failed to create texture storage for cubemap @%d (error = %d)", AHandle, error));
}

// The wraps, filters and cube-map levels of the bound texture AHandle. A render
// target other than a cube map has no mip-maps: its styles lose them here.
void SetSampling(TTexture* ATexture, TTextureParams& p, uintptr_t AHandle)
{
    SetWraps(p);
    if (p.Kind != TKorvaneTextureKind::CubeMap && p.Styles.Contains(TTextureStyle::RenderTarget))
        p.Styles.Exclude(TTextureStyle::MipMaps);
    TKorvaneContext::DoSetTextureFiltering(ATexture, p.Styles, p.Target, p.Internal);
    SetCubeMapLevels(p, AHandle);
}

// Replaces "korvane3d.context.log" in the public folder with the failure and
// what the GL context reports of itself. Writing it must not hide the failure.
void WriteTextureDiagnostics(const std::string& AMessage)
{
    try {
        const std::string text = Format(
            "Error: %s\r\nVendor-Name: %s\r\nRenderer-Name: %s\r\nVersion: %s\r\nExtensions: %s\r\n"
            "MaxTextureSize: %d\r\nMaxTexture3DSize: %d\r\nTextureUnitCount: %d\r\nMaxTextureImageUnits: %d\r\n"
            "MaxVertexShaderUniformBlocks: %d\r\nMaxFragmentShaderUniformBlocks: %d\r\nMaxUniformBlockSize: "
            "%d\r\nMaxDrawBuffers: %d\r\n",
            AMessage, TKorvaneContext::GetVendorName(), TKorvaneContext::GetRendererName(),
            TKorvaneContext::GetVersion(), TKorvaneContext::GetExtensionString(), TKorvaneContext::MaxTextureSize(),
            TKorvaneContext::MaxTexture3DSize(), TKorvaneContext::PlatformClass().PlatformTextureUnitCount(),
            TKorvaneContext::MaxTextureImageUnits(), TKorvaneContext::MaxVertexShaderUniformBlocks(),
            TKorvaneContext::MaxFragmentShaderUniformBlocks(), TKorvaneContext::MaxUniformBlockSize(),
            TKorvaneContext::MaxDrawBuffers());
        const std::string path = TPath::IncludeTrailingPathDelimiter(TPath::GetPublicPath()) + "korvane3d.context.log";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file) Log::d("<WARNING> the diagnostic file %s could not be written", path);
    } catch (const Exception& e) {
        Log::d("<WARNING> the diagnostic file could not be written: %s", e.Message());
    } catch (const std::exception& e) {
        Log::d("<WARNING> the diagnostic file could not be written: %s", e.what());
    }
}


// A text of the GL context; empty when no GL context can be used.
std::string GLText(GLenum name) { return TKorvaneContext::IsContextAvailable() ? GLString(name) : std::string(); }

// A limit of the GL context; 0 when no GL context can be used.
int GLLimit(GLenum name) { return TKorvaneContext::IsContextAvailable() ? GLInteger(name) : 0; }
} // namespace

bool TKorvaneContextOpenGLESClass::Valid() const { return TKorvaneContext::IsContextAvailable(); }

int TKorvaneContextOpenGLESClass::PlatformDirectStateAccess() const
{
    if (GDirectStateAccess == 0) {
        // Without a GL context there is no list to ask yet: answer "none" and ask again later.
        if (!TKorvaneContext::Extensions()) return 1;
        if (TKorvaneContext::HasExtension("GL_EXT_direct_state_access")) GDirectStateAccess = 2000;
        else if (TKorvaneContext::HasExtension("GL_ARB_direct_state_access")) GDirectStateAccess = 1000;
        else GDirectStateAccess = 1;
    }
    return GDirectStateAccess;
}

void TKorvaneContextOpenGLESClass::PlatformSetPixelState(int, int, int, int, int) const {}

void TKorvaneContextOpenGLESClass::PlatformUnsetPixelState() const
{
    if (ClientAttribStackDepth <= 0 || !TKorvaneContext::IsContextAvailable()) return;
    glPopClientAttrib();
    ClientAttribStackDepth = GLInteger(GL_CLIENT_ATTRIB_STACK_DEPTH);
}

std::string TKorvaneContextOpenGLESClass::PlatformGetVendorName() const { return GLText(GL_VENDOR); }
std::string TKorvaneContextOpenGLESClass::PlatformGetRendererName() const { return GLText(GL_RENDERER); }
std::string TKorvaneContextOpenGLESClass::PlatformGetVersion() const { return GLText(GL_VERSION); }
std::string TKorvaneContextOpenGLESClass::PlatformGetExtensionString() const { return GLText(GL_EXTENSIONS); }

// Asked through the default context class (this one), once per draw and per
// shader variable: the class answers the context question itself instead of
// looking itself up in the context registry again.
bool TKorvaneContextOpenGLESClass::PlatformHasAnyErrors() const { return PlatformIsContextAvailable() && HasGLErrors(); }

bool TKorvaneContextOpenGLESClass::PlatformHasAnyErrors(intptr_t& AError) const
{
    AError = PlatformIsContextAvailable() ? static_cast<intptr_t>(ClearGLErrors()) : 0;
    return AError != 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTextureSize() const
{
    return Valid() ? GLLimit(GL_MAX_TEXTURE_SIZE) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTexture3DSize() const
{
    return Valid() ? GLLimit(GL_MAX_3D_TEXTURE_SIZE) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformTextureUnitCount() const
{
    return Valid() ? GLLimit(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTextureImageUnits() const { return GLLimit(GL_MAX_TEXTURE_IMAGE_UNITS); }

int TKorvaneContextOpenGLESClass::PlatformMaxVertexShaderUniformBlocks() const
{
    return GLLimit(GL_MAX_VERTEX_UNIFORM_BLOCKS);
}

int TKorvaneContextOpenGLESClass::PlatformMaxFragmentShaderUniformBlocks() const
{
    return GLLimit(GL_MAX_FRAGMENT_UNIFORM_BLOCKS);
}

int TKorvaneContextOpenGLESClass::PlatformMaxUniformBlockSize() const { return GLLimit(GL_MAX_UNIFORM_BLOCK_SIZE); }

int TKorvaneContextOpenGLESClass::PlatformMaxDrawBuffers() const { return GLLimit(GL_MAX_DRAW_BUFFERS); }

// ---------------------------------------------------------------------------
// Texture life cycle

void TKorvaneContextOpenGLESClass::PlatformSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles,
                                                               uint32_t ATarget, uint32_t AInternalFormat) const
{
    const bool mipMaps = AStyles.Contains(TTextureStyle::MipMaps);
    GLint minFilter = GL_NEAREST, magFilter = GL_NEAREST;
    if (!TPixelFormatExHelper::IsIntegerTexture(static_cast<intptr_t>(AInternalFormat))) {
        const bool linearMag = !ATexture || ATexture->MagFilter() == TTextureFilter::Linear;
        const bool linearMin = !ATexture || ATexture->MinFilter() == TTextureFilter::Linear;
        magFilter = linearMag ? GL_LINEAR : GL_NEAREST;
        if (mipMaps) minFilter = linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST;
        else minFilter = linearMin ? GL_LINEAR : GL_NEAREST;
    }
    glTexParameteri(ATarget, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(ATarget, GL_TEXTURE_MAG_FILTER, magFilter);
    if (mipMaps) {
        glTexParameteri(ATarget, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(ATarget, GL_TEXTURE_MAX_LEVEL, 16);
    }
}

void TKorvaneContextOpenGLESClass::DoInitializeTexture(TTexture* ATexture) const
{
    if (!Valid()) throw Exception("TKorvaneContextOpenGLES.CreateFromTexture failed - invalid context");
    if (!TKorvaneContext::IsContextAvailable() || !ATexture || ATexture->PixelFormat() == TPixelFormat::None) return;
    // An error someone else left behind says nothing about this texture.
    DrainStaleGLErrors("TKorvaneContextOpenGLES.DoInitializeTexture");
    GLuint name = static_cast<GLuint>(ATexture->Handle());
    // A name made here and not handed to the texture is not kept.
    TGLName created;
    try {
        TTextureParams p = ParamsOf(ATexture);
        const int depth = p.Depth;
        {
            TGLTextureBindingScope restore(p.Binding, p.Target);
            glActiveTexture(TKorvaneContextOpenGLES::GetTextureByTextureIndex(p.Unit));
            TGLTextureBindingScope restoreUnit(p.Binding, p.Target);
            if (name == 0) {
                created = TGLName::Create(TGLObjectKind::Texture, TextureLabel(ATexture, p.Kind), p.Target);
                name = created.Get();
            }
            glBindTexture(p.Target, name);
            if (p.Korvane) {
                const TAlphaColorF& c = p.Korvane->BorderColor;
                const GLfloat border[4] = {c.R, c.G, c.B, c.A};
                glTexParameterfv(p.Target, GL_TEXTURE_BORDER_COLOR, border);
            }
            SetSampling(ATexture, p, name);
            {
                TPixelStateScope pixelState(ATexture->Width(), ATexture->Height(), depth, p.InternalBytes, 0);
                const auto internal = static_cast<GLint>(p.Internal);
                const int w = ATexture->Width(), h = ATexture->Height();
                if (p.Kind == TKorvaneTextureKind::CubeMap) {
                    for (GLenum face = 0; face < 6; ++face)
                        glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, internal, w, h, 0, p.Format, p.Type,
                                     nullptr);
                } else if (IsVolume(p.Kind)) {
                    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
                    const int levels = p.Korvane ? p.Korvane->MipMapLevels : 0;
                    if (p.Kind == TKorvaneTextureKind::ImageTexture3D && levels > 1) {
                        glTexParameteri(p.Target, GL_TEXTURE_BASE_LEVEL, 0);
                        glTexParameteri(p.Target, GL_TEXTURE_MAX_LEVEL, levels);
                        for (int level = 0; level < levels; ++level)
                            glTexImage3D(p.Target, level, internal, w, h, depth, 0, p.Format, p.Type, nullptr);
                    } else {
                        glTexImage3D(p.Target, 0, internal, w, h, depth, 0, p.Format, p.Type, nullptr);
                    }
                } else {
                    glTexImage2D(p.Target, 0, internal, w, h, 0, p.Format, p.Type, nullptr);
                }
                if (const uint32_t error = ClearGLErrors())
                    RaiseContextException(nullptr, SCannotCreateTexture, {FailureDetail(ClassName(), error, p)});
            }
            if (p.Styles.Contains(TTextureStyle::MipMaps)) glGenerateMipmap(p.Target);
        }
        if (const uint32_t error = ClearGLErrors())
            RaiseContextException(nullptr, SCannotCreateTexture, {Format("%s (Error = %d)", ClassName(), error)});
        ATexture->TextureAccess().SetHandle(name);
        created.Release();
    } catch (const Exception& e) {
        created.Reset();
        WriteTextureDiagnostics(e.Message());
        throw;
    }
}

void TKorvaneContextOpenGLESClass::DoUpdateTexture(TTexture* ATexture, const void* ABits, int APitch) const
{
    if (!TKorvaneContext::IsContextAvailable() || !ATexture || ATexture->Handle() == 0) return;
    DrainStaleGLErrors("TKorvaneContextOpenGLES.DoUpdateTexture");
    TTextureParams p = ParamsOf(ATexture);
    const int w = ATexture->Width(), h = ATexture->Height();
    const int64_t bytesPerPixel = TransferBytes(p);
    const void* data = ABits;
    int pitch = APitch;
    if (p.Korvane && p.Korvane->Buffer()) {
        // The texture's own buffer must hold every row the upload reads.
        data = p.Korvane->Buffer();
        pitch = 0;
        const int64_t needed = bytesPerPixel * w * h;
        if (p.Korvane->BufferSize() < needed)
            throw Exception(Format("%s.DoUpdateTexture: the pixel buffer holds %d bytes, the texture needs %d",
                                   ClassName(), p.Korvane->BufferSize(), needed));
    } else if (data && pitch > 0 && pitch < bytesPerPixel * w) {
        throw Exception(Format("%s.DoUpdateTexture: rows of %d bytes cannot hold %d pixels of %d bytes", ClassName(),
                               pitch, w, bytesPerPixel));
    }
    {
        TGLTextureBindingScope restore(p.Binding, p.Target);
        glActiveTexture(TKorvaneContextOpenGLES::GetTextureByTextureIndex(p.Unit));
        TGLTextureBindingScope restoreUnit(p.Binding, p.Target);
        glBindTexture(p.Target, static_cast<GLuint>(ATexture->Handle()));
        SetSampling(ATexture, p, ATexture->Handle());
        if (!p.Styles.Contains(TTextureStyle::RenderTarget)) {
            {
                TPixelStateScope pixelState(w, h, IsVolume(p.Kind) ? p.Depth : 0, static_cast<int>(bytesPerPixel),
                                            pitch);
                switch (p.Kind) {
                case TKorvaneTextureKind::Texture3D:
                case TKorvaneTextureKind::Array2D:
                    // The slices are uploaded by the texture bitmap.
                    glTexImage3D(p.Target, 0, static_cast<GLint>(p.Internal), w, h, p.Depth, 0, p.Format, p.Type,
                                 nullptr);
                    break;
                case TKorvaneTextureKind::CubeMap:
                    if (data)
                        for (GLenum face = 0; face < 6; ++face)
                            glTexSubImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, 0, 0, w, h, p.Format, p.Type,
                                            data);
                    break;
                case TKorvaneTextureKind::ImageTexture3D: break;
                case TKorvaneTextureKind::Texture2D:
                    if (data) glTexSubImage2D(p.Target, 0, 0, 0, w, h, p.Format, p.Type, data);
                    break;
                }
            }
            if (const uint32_t error = ClearGLErrors())
                RaiseContextException(nullptr, SCannotUploadTexture, {FailureDetail(ClassName(), error, p)});
        }
        if (p.Styles.Contains(TTextureStyle::MipMaps)) glGenerateMipmap(p.Target);
    }
    if (HasGLErrors()) RaiseContextException(nullptr, SCannotUploadTexture, {ClassName()});
}

void TKorvaneContextOpenGLESClass::DoFinalizeTexture(TTexture* ATexture) const
{
    if (!ATexture) return;
    const auto name = static_cast<GLuint>(ATexture->Handle());
    // The texture forgets its name whatever happens below.
    ATexture->TextureAccess().SetHandle(0);
    if (name == 0 || !TKorvaneContext::IsContextAvailable()) return;
    DrainStaleGLErrors("TKorvaneContextOpenGLES.DoFinalizeTexture");
    TGLName(TGLObjectKind::Texture, name).Reset();
    if (HasGLErrors()) RaiseContextException(nullptr, SErrorInContextMethod, {std::string("DoFinalizeTexture")});
}

// ---------------------------------------------------------------------------
// TKorvaneContextOpenGLES

int64_t ReadBackBufferSize() { return static_cast<int64_t>(GReadBackBuffer.size()); }

void TKorvaneContextOpenGLES::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
{
    if (IsContextAvailable()) {
        glEnable(GL_TEXTURE_3D);
        glEnable(GL_TEXTURE_CUBE_MAP);
    }
    FPointOrigin = GL_UPPER_LEFT;
    FreeReadBackBuffer();
    TKorvaneContext::CreateFromTexture(ATexture, AMultisample, ADepthStencil);
}

void TKorvaneContextOpenGLES::BeforeDestruction()
{
    FreeReadBackBuffer();
    TKorvaneContext::BeforeDestruction();
}

bool TKorvaneContextOpenGLES::DoCopyToBits(void* ABits, int APitch, const TRect& ARect)
{
    try {
        TFrameBufferObject* frame = DefaultFrameBuf();
        if (!KorvaneClassType().Valid() || !frame) return false;
        const TSize size = frame->Size();
        if (size.Width != Width() || size.Height != Height())
            throw EAbort(Format("context default framebuffer size is not equal to context size: width=%d<>%d, "
                                "height=%d<>%d",
                                size.Width, Width(), size.Height, Height()));
        if (size.Width != ARect.Width() || size.Height != ARect.Height())
            throw EAbort(Format("context default framebuffer size is not equal to destination render size: "
                                "width=%d<>%d, height=%d<>%d",
                                size.Width, ARect.Width(), size.Height, ARect.Height()));
        const int64_t rowBytes = int64_t(size.Width) * PixelFormatExBytes[static_cast<int>(TPixelFormatEx::RGBA8)];
        if (!ABits || APitch < rowBytes)
            throw Exception(Format("rows of %d bytes cannot hold %d pixels", APitch, size.Width));
        const auto bytes = static_cast<size_t>(rowBytes * size.Height);
        if (GReadBackBuffer.size() != bytes) {
            FreeReadBackBuffer();
            GReadBackBuffer.resize(bytes);
        }
        DrainStaleGLErrors("TKorvaneContextOpenGLES.DoCopyToBits");
        {
            TGLFrameBufferBindScope bound(frame, this);
            TGLPackedPixelStoreScope packed;
            glReadPixels(0, 0, size.Width, size.Height,
                         static_cast<GLenum>(TPixelFormatExHelper::ToValue(TPixelFormatEx::BGRA)), GL_UNSIGNED_BYTE,
                         GReadBackBuffer.data());
        }
        if (HasGLErrors()) RaiseContextException(this, SErrorInContextMethod, {std::string("DoCopyToBits")});
        // OpenGL keeps the bottom row first: the rows are written top row first.
        auto* dest = static_cast<uint8_t*>(ABits);
        for (int i = 0; i < ARect.Height(); ++i)
            std::memcpy(dest + int64_t(APitch) * (ARect.Height() - i - 1), GReadBackBuffer.data() + rowBytes * i,
                        static_cast<size_t>(int64_t(ARect.Width()) * 4));
        return true;
    } catch (const Exception& e) {
        Log::d("TKorvaneContextOpenGLES.DoCopyToBits: %s", e.Message());
        return false;
    }
}

bool TKorvaneContextOpenGLES::DoCopyToBitmap(TBitmap* ADest, const TRect& ARect)
{
    if (!KorvaneClassType().Valid()) return false;
    // Bitmaps are drawn by the platform's own canvas, never on the GPU: the copy
    // always goes through the frame's pixels.
    return TKorvaneContext::DoCopyToBitmap(ADest, ARect);
}

uint32_t TKorvaneContextOpenGLES::GetTextureByTextureIndex(int ATextureIndex)
{
    if (ATextureIndex >= 1 && ATextureIndex <= 31) return GL_TEXTURE0 + static_cast<uint32_t>(ATextureIndex);
    return GL_TEXTURE0;
}

// ---------------------------------------------------------------------------
// Shader life cycle

void TKorvaneContextOpenGLESClass::DoInitializeShader(TContextShader* AShader) const
{
    if (!Valid()) throw Exception("TKorvaneContextOpenGLES.CreateFromTexture failed - invalid context");
    if (!AShader || !TKorvaneContext::IsContextAvailable()) return;
    TContextShaderSource source = AShader->GetSourceByArch(TKorvaneContext::GetShaderArch());
    if (!source.IsDefined()) source = AShader->GetSourceByArch(TContextShaderArch::GLSL);
    if (!source.IsDefined()) return;
    GLenum type;
    switch (static_cast<TContextShaderKindEx>(AShader->Kind())) {
    case TContextShaderKindEx::VertexShader: type = GL_VERTEX_SHADER; break;
    case TContextShaderKindEx::GeometryShader: type = GL_GEOMETRY_SHADER; break;
    case TContextShaderKindEx::TessEvalShader: type = GL_TESS_EVALUATION_SHADER; break;
    case TContextShaderKindEx::TessCtrlShader: type = GL_TESS_CONTROL_SHADER; break;
    default: type = GL_FRAGMENT_SHADER; break;
    }
    AShader->SetHandle(BuildShader(static_cast<int>(type), source.Code));
}

void TKorvaneContextOpenGLESClass::DoFinalizeShader(TContextShader* AShader) const
{
    if (!AShader) return;
    const uintptr_t handle = AShader->Handle();
    // The handle is given up whatever happens below.
    AShader->SetHandle(0);
    if (handle == 0 || !TKorvaneContext::IsContextAvailable()) return;
    // Programs linked with the stage go first: once the stage is deleted, GL may
    // give its name to a new one, which must not find them in the cache.
    TKorvaneContext::RemoveProgramsOfShader(handle);
    DrainStaleGLErrors(ClassName() + ".DoFinalizeShader");
    TGLName(TGLObjectKind::Shader, static_cast<GLuint>(handle)).Reset();
    if (TKorvaneContext::HasAnyErrors()) RaiseContextExceptionFmt(nullptr, SErrorInContextMethod, "DoFinalizeShader");
}

// ---------------------------------------------------------------------------
// Shader variables

void TKorvaneContextOpenGLES::DoSetShaderVariable(const std::string& AName, std::span<const TVector3D> AData)
{
    GuardShaderVariable("DoSetShaderVariable", [&] {
        if (const TContextShaderVariable* v = FindShaderVariable(AName)) SetVariableVectors(*v, AName, AData);
    });
}

void TKorvaneContextOpenGLES::SetVariableVectors(const TContextShaderVariable& AVariable, const std::string& AName,
                                                 std::span<const TVector3D> AData)
{
    if (AData.empty()) return;
    const TVector3D& first = AData.front();
    switch (AVariable.Kind) {
    case TContextShaderVariableKind::Float: glUniform1f(AVariable.Index, first.X); break;
    case TContextShaderVariableKind::Float2: glUniform2f(AVariable.Index, first.X, first.Y); break;
    case TContextShaderVariableKind::Float3: glUniform3f(AVariable.Index, first.X, first.Y, first.Z); break;
    default: {
        const auto count = static_cast<GLsizei>(std::min<int64_t>(static_cast<int64_t>(AData.size()), AVariable.Size));
        glUniform4fv(AVariable.Index, std::max<GLsizei>(count, 0), &first.X);
        break;
    }
    }
    CheckShaderVariableErrors(AName);
}

void TKorvaneContextOpenGLES::DoSetShaderVariableMat4(const std::string& AName, const TMatrix3D& AMatrix)
{
    GuardShaderVariable("DoSetShaderVariableMat4", [&] {
        if (const TContextShaderVariable* v = FindShaderVariable(AName)) SetVariableMat4(*v, AName, AMatrix);
    });
}

void TKorvaneContextOpenGLES::SetVariableMat4(const TContextShaderVariable& AVariable, const std::string& AName,
                                              const TMatrix3D& AMatrix)
{
    // One matrix is given: an array variable gets its first element only.
    glUniformMatrix4fv(AVariable.Index, std::min(AVariable.Size, 1), GL_FALSE, &AMatrix.m11);
    CheckShaderVariableErrors(AName);
}

void TKorvaneContextOpenGLES::DoSetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValue)
{
    GuardShaderVariable("DoSetShaderVariableInt", [&] {
        if (const TContextShaderVariable* v = FindShaderVariable(AName)) SetVariableInts(*v, AName, AValue);
    });
}

void TKorvaneContextOpenGLES::SetVariableInts(const TContextShaderVariable& AVariable, const std::string& AName,
                                              std::span<const int32_t> AValue)
{
    if (AValue.empty()) return;
    if (AVariable.Kind == ShaderVariableKindInt) {
        glUniform1i(AVariable.Index, AValue.front());
    } else if (AVariable.Kind == ShaderVariableKindIntArray) {
        const auto count = static_cast<GLsizei>(std::min<size_t>(AValue.size(), INT32_MAX));
        glUniform1iv(AVariable.Index, count, AValue.data());
    } else {
        return;
    }
    CheckShaderVariableErrors(AName);
}

void TKorvaneContextOpenGLES::DoSetShaderVariable(const std::string& AName, TTexture* ATexture)
{
    GuardShaderVariable("DoSetShaderVariable", [&] {
        const TContextShaderVariable* v = FindShaderVariable(AName);
        if (!v || !ATexture) return;
        try {
            const int unit = v->TextureUnit;
            TKorvaneTextureKind kind = TKorvaneTextureKind::Texture2D;
            auto* korvane = dynamic_cast<TKorvaneTexture*>(ATexture);
            if (korvane) {
                korvane->TextureUnit = unit;
                kind = korvane->Kind;
            }
            const auto handle = static_cast<GLuint>(ATexture->Handle());
            glActiveTexture(GetTextureByTextureIndex(unit));
            GLenum target;
            switch (kind) {
            case TKorvaneTextureKind::Texture3D:
            case TKorvaneTextureKind::ImageTexture3D: target = GL_TEXTURE_3D; break;
            case TKorvaneTextureKind::Array2D: target = GL_TEXTURE_2D_ARRAY; break;
            case TKorvaneTextureKind::CubeMap:
                target = GL_TEXTURE_CUBE_MAP;
                glBindTexture(target, handle);
                break;
            default: target = GL_TEXTURE_2D; break;
            }
            glBindTexture(target, handle);
            glUniform1i(v->Index, unit);
            if (kind == TKorvaneTextureKind::ImageTexture3D && !korvane->ImageAccessable)
                glBindImageTexture(0, handle, korvane->CurrentMipMapLevel, GL_TRUE, 0, GL_READ_WRITE, GL_RGBA8);
        } catch (const Exception& e) {
            RaiseContextExceptionFmt(this, "Failed to initialize texture: %s", e.Message());
        }
        CheckShaderVariableErrors(AName);
    });
}

TClass TKorvaneContextOpenGLES::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TKorvaneContextOpenGLES, TKorvaneContextOpenGLESClass>("Korvane.Context.GLES");
    return &info;
}


// ---------------------------------------------------------------------------
// Construction

void TKorvaneContextOpenGLES::CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                               TMultisample AMultisample, bool ADepthStencil)
{
    FPointOrigin = GL_UPPER_LEFT;
    FreeReadBackBuffer();
    TKorvaneContext::CreateFromWindow(AParent, AWidth, AHeight, AMultisample, ADepthStencil);
}

// ---------------------------------------------------------------------------
// States

namespace {
GLenum StencilOpToGL(TStencilOp AOp)
{
    switch (AOp) {
    case TStencilOp::Keep: return GL_KEEP;
    case TStencilOp::Zero: return GL_ZERO;
    case TStencilOp::Replace: return GL_REPLACE;
    case TStencilOp::Increase: return GL_INCR;
    case TStencilOp::Decrease: return GL_DECR;
    default: return GL_INVERT;
    }
}

GLenum StencilOpExToGL(TStencilOpEx AOp)
{
    switch (AOp) {
    case TStencilOpEx::Keep: return GL_KEEP;
    case TStencilOpEx::Zero: return GL_ZERO;
    case TStencilOpEx::Replace: return GL_REPLACE;
    case TStencilOpEx::Increase: return GL_INCR;
    case TStencilOpEx::Decrease: return GL_DECR;
    case TStencilOpEx::Invert: return GL_INVERT;
    case TStencilOpEx::IncreaseWrap: return GL_INCR_WRAP;
    case TStencilOpEx::DecreaseWrap: return GL_DECR_WRAP;
    }
    return GL_KEEP;
}

GLenum StencilFuncToGL(TStencilFunc AFunc)
{
    switch (AFunc) {
    case TStencilFunc::Never: return GL_NEVER;
    case TStencilFunc::Less: return GL_LESS;
    case TStencilFunc::Lequal: return GL_LEQUAL;
    case TStencilFunc::Greater: return GL_GREATER;
    case TStencilFunc::Gequal: return GL_GEQUAL;
    case TStencilFunc::Equal: return GL_EQUAL;
    case TStencilFunc::NotEqual: return GL_NOTEQUAL;
    default: return GL_ALWAYS;
    }
}

void EnableIf(GLenum ACap, bool AOn)
{
    if (AOn) glEnable(ACap);
    else glDisable(ACap);
}

// The GL work of one context state.
void ApplyContextState(TContextState AState)
{
    using S = TContextState;
    switch (AState) {
    case S::cs2DScene:
    case S::cs3DScene: break;
    case S::csZTestOn:
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        break;
    case S::csZTestOff: glDisable(GL_DEPTH_TEST); break;
    case S::csZWriteOn: glDepthMask(GL_TRUE); break;
    case S::csZWriteOff: glDepthMask(GL_FALSE); break;
    case S::csAlphaBlendOn: glEnable(GL_BLEND); break;
    case S::csAlphaBlendOff: glDisable(GL_BLEND); break;
    case S::csStencilOn: glEnable(GL_STENCIL_TEST); break;
    case S::csStencilOff: glDisable(GL_STENCIL_TEST); break;
    case S::csColorWriteOn: glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE); break;
    case S::csColorWriteOff: glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE); break;
    case S::csScissorOn: glEnable(GL_SCISSOR_TEST); break;
    case S::csScissorOff: glDisable(GL_SCISSOR_TEST); break;
    case S::csFrontFace:
        glFrontFace(GL_CW);
        glCullFace(GL_BACK);
        glEnable(GL_CULL_FACE);
        break;
    case S::csBackFace:
        glFrontFace(GL_CW);
        glCullFace(GL_FRONT);
        glEnable(GL_CULL_FACE);
        break;
    case S::csAllFace: glDisable(GL_CULL_FACE); break;
    }
}
} // namespace

void TKorvaneContextOpenGLES::DoSetContextState(TContextState AState)
{
    if (FMultipleSetContextState.load() > 0 || !IsContextAvailable()) return;
    ApplyContextState(AState);
}

void TKorvaneContextOpenGLES::DoSetContextStates(TContextStates AStates)
{
    if (!IsContextAvailable()) return;
    using S = TContextState;
    // Per pair the "off" member wins when both are in the set; a pair with
    // neither member leaves that state alone. Of the faces, front wins over back.
    auto first = [&](std::initializer_list<S> AStatesInOrder) {
        for (S state : AStatesInOrder)
            if (AStates.Contains(state)) {
                ApplyContextState(state);
                return;
            }
    };
    first({S::csZWriteOff, S::csZWriteOn});
    first({S::csZTestOff, S::csZTestOn});
    first({S::csAlphaBlendOff, S::csAlphaBlendOn});
    first({S::csStencilOff, S::csStencilOn});
    first({S::csColorWriteOff, S::csColorWriteOn});
    first({S::csScissorOff, S::csScissorOn});
    first({S::csFrontFace, S::csBackFace, S::csAllFace});
}

void TKorvaneContextOpenGLES::DoSetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass)
{
    if (!KorvaneClassType().Valid()) return;
    glStencilOp(StencilOpToGL(AFail), StencilOpToGL(AZFail), StencilOpToGL(AZPass));
    if (HasAnyErrors()) RaiseContextExceptionFmt(this, SErrorInContextMethod, "DoSetStencilOp");
}

void TKorvaneContextOpenGLES::DoSetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask)
{
    if (!KorvaneClassType().Valid()) return;
    glStencilFunc(StencilFuncToGL(AFunc), static_cast<GLint>(ARef), AMask);
    if (HasAnyErrors()) RaiseContextExceptionFmt(this, SErrorInContextMethod, "DoSetStencilFunc");
}

void TKorvaneContextOpenGLES::DoSetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                                                     TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail,
                                                     TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                                                     uint32_t AFrontStencilMask, uint32_t ABackStencilMask)
{
    if (!IsContextAvailable()) return;
    glEnable(GL_STENCIL_TEST_TWO_SIDE_EXT);
    glActiveStencilFaceEXT(GL_BACK);
    glStencilOp(StencilOpExToGL(ABackFaceFail), StencilOpExToGL(ABackFaceZFail), StencilOpExToGL(ABackFaceZPass));
    glStencilMask(ABackStencilMask);
    glActiveStencilFaceEXT(GL_FRONT);
    glStencilOp(StencilOpExToGL(AFrontFaceFail), StencilOpExToGL(AFrontFaceZFail), StencilOpExToGL(AFrontFaceZPass));
    glStencilMask(AFrontStencilMask);
}

void TKorvaneContextOpenGLES::DoSetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits)
{
    if (!IsContextAvailable()) return;
    if (AMode == TPolygonOffsetFill::pofOffsetFillOn) {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(AFactor, AUnits);
    } else {
        glDisable(GL_POLYGON_OFFSET_FILL);
    }
}

void TKorvaneContextOpenGLES::DoSetSmoothMode(TSmoothTargets ATargets)
{
    FSmoothTargets = ATargets;
    if (!IsContextAvailable()) return;
    EnableIf(GL_POINT_SMOOTH, ATargets.Contains(TSmoothTarget::stPoints));
    EnableIf(GL_LINE_SMOOTH, ATargets.Contains(TSmoothTarget::stLines));
    EnableIf(GL_POLYGON_SMOOTH, ATargets.Contains(TSmoothTarget::stPolygons));
}

void TKorvaneContextOpenGLES::DoSetPointSprites(bool AEnabled)
{
    if (!IsContextAvailable()) return;
    if (!AEnabled) {
        glDisable(GL_POINT_SPRITE);
        return;
    }
    glEnable(GL_VERTEX_PROGRAM_POINT_SIZE);
    glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, 1);
    glPointParameterf(GL_POINT_SIZE_MIN, FPointSizeMin);
    glPointParameterf(GL_POINT_SIZE_MAX, FPointSizeMax);
    glPointParameterf(GL_POINT_FADE_THRESHOLD_SIZE, FPointThreshold);
    glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, FPointOrigin);
    glEnable(GL_POINT_SPRITE);
}

void TKorvaneContextOpenGLES::DoSetPointSpriteTextureMode()
{
    if (!IsContextAvailable()) return;
    glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void TKorvaneContextOpenGLES::SetFlatShading()
{
    if (IsContextAvailable()) glShadeModel(GL_FLAT);
}

void TKorvaneContextOpenGLES::SetSmoothShading()
{
    if (IsContextAvailable()) glShadeModel(GL_SMOOTH);
}

uint32_t TKorvaneContextOpenGLES::MemoryBarrierFlagToBit(TMemoryBarrierFlag AFlag)
{
    static constexpr uint32_t bits[] = {
        GL_VERTEX_ATTRIB_ARRAY_BARRIER_BIT, GL_ELEMENT_ARRAY_BARRIER_BIT, GL_UNIFORM_BARRIER_BIT,
        GL_TEXTURE_FETCH_BARRIER_BIT,       GL_SHADER_IMAGE_ACCESS_BARRIER_BIT, GL_COMMAND_BARRIER_BIT,
        GL_PIXEL_BUFFER_BARRIER_BIT,        GL_TEXTURE_UPDATE_BARRIER_BIT,      GL_BUFFER_UPDATE_BARRIER_BIT,
        GL_FRAMEBUFFER_BARRIER_BIT,         GL_TRANSFORM_FEEDBACK_BARRIER_BIT,  GL_ATOMIC_COUNTER_BARRIER_BIT,
        GL_SHADER_STORAGE_BARRIER_BIT};
    const auto i = static_cast<size_t>(AFlag);
    return i < std::size(bits) ? bits[i] : 0;
}

void TKorvaneContextOpenGLES::SetMemoryBarrierBits(TMemoryBarrierFlags AFlags)
{
    if (IsContextAvailable()) glMemoryBarrier(MemoryBarrierFlagsToBits(AFlags));
}

void TKorvaneContextOpenGLES::SetMemoryBarrierBit(TMemoryBarrierFlag AFlag)
{
    if (IsContextAvailable()) glMemoryBarrier(MemoryBarrierFlagToBit(AFlag));
}

void TKorvaneContextOpenGLES::FetchMemoryBarrierBit()
{
    if (IsContextAvailable()) glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT);
}

void TKorvaneContextOpenGLES::StorePreviousContextSize() { GetContextSize(FOldViewport); }

void TKorvaneContextOpenGLES::SetContextSize(int AXOfs, int AYOfs, int AWidth, int AHeight)
{
    if (IsContextAvailable()) glViewport(AXOfs, AYOfs, AWidth, AHeight);
}

void TKorvaneContextOpenGLES::SetContextSize(const TKorvaneContextSize& ASize)
{
    SetContextSize(ASize[0], ASize[1], ASize[2], ASize[3]);
}

void TKorvaneContextOpenGLES::GetContextSize(TKorvaneContextSize& ASize)
{
    GLint v[4] = {0, 0, 0, 0};
    if (IsContextAvailable()) glGetIntegerv(GL_VIEWPORT, v);
    ASize = {v[0], v[1], v[2], v[3]};
}

void TKorvaneContextOpenGLES::BeginOrtho(float ALeft, float ATop, float ARight, float ABottom, float ANear,
                                         float AFar)
{
    if (IsContextAvailable()) glOrtho(ALeft, ARight, ABottom, ATop, ANear, AFar);
}

void TKorvaneContextOpenGLES::BeginOrtho(const TOrthographicData& AData)
{
    BeginOrtho(AData.Left, AData.Top, AData.Right, AData.Bottom, AData._Near, AData._Far);
}

void TKorvaneContextOpenGLES::DrawScreenRectangle(const TAlphaColorF& AColor)
{
    if (!IsContextAvailable()) return;
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 1, 1, 0, 0, 1);
    glColor4f(AColor.R, AColor.G, AColor.B, AColor.A);
    glBegin(GL_QUADS);
    glVertex2f(0, 0);
    glVertex2f(0, 1);
    glVertex2f(1, 1);
    glVertex2f(1, 0);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

// ---------------------------------------------------------------------------
// Clearing

void TKorvaneContextOpenGLES::ClearTargets(bool AColor, bool ADepth, bool AStencil, TAlphaColor AColorValue,
                                           float ADepthValue, uint32_t AStencilValue, bool ACheckClear,
                                           const std::function<std::string(intptr_t)>& AErrorText)
{
    if (!KorvaneClassType().Valid()) return;
    GLbitfield mask = 0;
    GLboolean depthWrite = GL_TRUE;
    // Without a depth-stencil buffer only the colour is cleared.
    const bool depth = DepthStencil() && ADepth;
    if (depth) {
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrite);
        glDepthMask(GL_TRUE);
        glClearDepthf(ADepthValue);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (DepthStencil() && AStencil) {
        glClearStencil(static_cast<GLint>(AStencilValue));
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    if (AColor) {
        glClearColor(RedOf(AColorValue) / 255.0f, GreenOf(AColorValue) / 255.0f, BlueOf(AColorValue) / 255.0f,
                     AlphaOf(AColorValue) / 255.0f);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    glClear(mask);
    intptr_t code = 0;
    const bool failed = ACheckClear && HasAnyErrors(code);
    // The depth write mask comes back also when the clear failed.
    if (depth) glDepthMask(depthWrite);
    if (failed || HasAnyErrors(code)) RaiseContextException(this, AErrorText(code));
}

void TKorvaneContextOpenGLES::DoClear(TClearTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil)
{
    ClearTargets(ATarget.Contains(TClearTarget::Color), ATarget.Contains(TClearTarget::Depth),
                 ATarget.Contains(TClearTarget::Stencil), AColor, ADepth, AStencil, true, [](intptr_t ACode) {
                     return Format(SErrorInContextMethod, Format("DoClear (Error = %d)", ACode));
                 });
}

void TKorvaneContextOpenGLES::DoClearEx(TRenderTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil)
{
    ClearTargets(ATarget.Contains(TRenderTarget::Color_0), ATarget.Contains(TRenderTarget::Depth),
                 ATarget.Contains(TRenderTarget::Stencil), AColor, ADepth, AStencil, false, [](intptr_t ACode) {
                     return Format("error in context method \"%s\" (error = %d)", "DoClearEx", ACode);
                 });
}

void TKorvaneContextOpenGLES::DoClearBufferFloat(int ABuf, const float* APtr)
{
    if (IsContextAvailable() && APtr) glClearBufferfv(GL_COLOR, ABuf, APtr);
}

// ---------------------------------------------------------------------------
// Blending

void TKorvaneContextOpenGLES::SetGlobalBlending(const TBlendSetting& AValue)
{
    DisableBlendingBuffers();
    if (IsContextAvailable()) EnableIf(GL_BLEND, AValue.Enabled);
    FBlendingBuffers[0] = AValue;
    if (!IsContextAvailable()) return;
    glBlendEquationSeparate(BlendOperationToGL(AValue.Func), BlendOperationToGL(AValue.AlphaFunc));
    glBlendFuncSeparate(BlendFactorToGL(AValue.ColorSource), BlendFactorToGL(AValue.ColorDest),
                        BlendFactorToGL(AValue.AlphaSource), BlendFactorToGL(AValue.AlphaDest));
    if (const GLenum code = glGetError())
        Log::d(Format("(TKorvaneContextOpenGLES.SetGlobalBlending failed: %d, %d: %d > %d, %d > %d (Error = %d)",
                      BlendOperationToGL(AValue.Func), BlendOperationToGL(AValue.AlphaFunc),
                      BlendFactorToGL(AValue.ColorSource), BlendFactorToGL(AValue.ColorDest),
                      BlendFactorToGL(AValue.AlphaSource), BlendFactorToGL(AValue.AlphaDest), code));
}

void TKorvaneContextOpenGLES::SetBlendingByIndex(int AIndex, const TBlendSetting& AValue)
{
    if (AIndex < 0 || AIndex >= static_cast<int>(FBlendingBuffers.size())) return;
    const int n = EffectiveDrawBuffers();
    if (n <= 0 || AIndex >= n) {
        FBlendingBuffers[static_cast<size_t>(AIndex)] = TBlendSetting::Create(false);
        return;
    }
    FBlendingBuffers[static_cast<size_t>(AIndex)] = AValue;
    if (!IsContextAvailable()) return;
    const auto i = static_cast<GLuint>(AIndex);
    if (AValue.Enabled) {
        glEnablei(GL_BLEND, i);
        glBlendEquationSeparatei(i, BlendOperationToGL(AValue.Func), BlendOperationToGL(AValue.AlphaFunc));
        glBlendFuncSeparatei(i, BlendFactorToGL(AValue.ColorSource), BlendFactorToGL(AValue.ColorDest),
                             BlendFactorToGL(AValue.AlphaSource), BlendFactorToGL(AValue.AlphaDest));
    } else {
        glDisablei(GL_BLEND, i);
    }
}

TBlendSetting TKorvaneContextOpenGLES::GetDefaultBlending()
{
    if (!DefaultBlendingAsked) {
        DefaultBlendingValue = TBlendSetting::CreateForFMX();
        DefaultBlendingAsked = true;
    }
    return DefaultBlendingValue;
}

void TKorvaneContextOpenGLES::EnableBlendingBuffers()
{
    FBlendingBuffers = {};
    const int n = EffectiveDrawBuffers();
    for (int i = 0; i < n; ++i) FBlendingBuffers[static_cast<size_t>(i)] = TBlendSetting::Create(true);
    if (!IsContextAvailable()) return;
    glEnable(GL_BLEND);
    glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
    glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_COLOR, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

void TKorvaneContextOpenGLES::DisableBlendingBuffers()
{
    FBlendingBuffers = {};
    const int n = EffectiveDrawBuffers();
    for (int i = 0; i < n; ++i) SetBlendingByIndex(i, TBlendSetting::Create(false));
    if (IsContextAvailable()) glDisable(GL_BLEND);
}

// ---------------------------------------------------------------------------
// Drawing

namespace {
// The attribute locations of every draw; they match the locations that shader
// programs bind.
struct TAttributeLayout {
    GLuint Location;
    GLint Size;
    GLenum Type;
    GLboolean Normalized;
};

TAttributeLayout AttributeLayout(TVertexFormat AFormat)
{
    // By format, in the order of TVertexFormat. A packed colour is a
    // TAlphaColor ($AARRGGBB), whose bytes in memory run blue, green, red,
    // alpha: size GL_BGRA has GL hand the shader red, green, blue, alpha.
    static constexpr TAttributeLayout Layouts[] = {
        {0, 3, GL_FLOAT, GL_FALSE},
        {1, 3, GL_FLOAT, GL_FALSE},
        {2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE},
        {3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE},
        {4, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE},
        {5, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE},
        {2, 4, GL_FLOAT, GL_FALSE},         {3, 4, GL_FLOAT, GL_FALSE},         {4, 4, GL_FLOAT, GL_FALSE},
        {5, 4, GL_FLOAT, GL_FALSE},         {6, 2, GL_FLOAT, GL_FALSE},         {7, 2, GL_FLOAT, GL_FALSE},
        {8, 2, GL_FLOAT, GL_FALSE},         {9, 2, GL_FLOAT, GL_FALSE},         {10, 3, GL_FLOAT, GL_FALSE},
        {11, 3, GL_FLOAT, GL_FALSE}};
    static_assert(std::size(Layouts) == VertexFormatCount);
    const auto index = static_cast<size_t>(AFormat);
    return index < std::size(Layouts) ? Layouts[index] : Layouts[0];
}

GLenum PrimitiveModeToGL(TKorvanePrimitivesKind AKind)
{
    switch (AKind) {
    case TKorvanePrimitivesKind::Points: return GL_POINTS;
    case TKorvanePrimitivesKind::Lines: return GL_LINES;
    case TKorvanePrimitivesKind::LineLoop: return GL_LINE_LOOP;
    case TKorvanePrimitivesKind::LineStrip: return GL_LINE_STRIP;
    case TKorvanePrimitivesKind::TriangleStrip: return GL_TRIANGLE_STRIP;
    case TKorvanePrimitivesKind::TriangleFan: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
    }
}

// Where the attributes of a declaration come from: client memory at Base, or
// the bound array buffer (Base null, Buffer true); with neither there is no
// source and the attributes stay off.
struct TVertexSource {
    const uint8_t* Base = nullptr;
    bool Buffer = false;
    bool Available() const { return Base || Buffer; }
    const void* At(int AOffset) const
    {
        return Base ? static_cast<const void*>(Base + AOffset) : reinterpret_cast<const void*>(intptr_t(AOffset));
    }
};

void PointAttribute(const TAttributeLayout& ALayout, GLsizei AStride, const void* APointer, uint32_t& AEnabled)
{
    glVertexAttribPointer(ALayout.Location, ALayout.Size, ALayout.Type, ALayout.Normalized, AStride, APointer);
    glEnableVertexAttribArray(ALayout.Location);
    AEnabled |= 1u << ALayout.Location;
}

// Points every attribute of the declaration (the position too when AWithPosition) at ASource.
void SetupAttributes(const TVertexDeclaration& ADeclaration, int AStride, const TVertexSource& ASource,
                     bool AWithPosition, uint32_t& AEnabled)
{
    if (!ASource.Available()) return;
    for (const TVertexElement& e : ADeclaration) {
        if (e.Format == TVertexFormat::Vertex && !AWithPosition) continue;
        PointAttribute(AttributeLayout(e.Format), AStride, ASource.At(e.Offset), AEnabled);
    }
}

int VertexOffset(const TVertexDeclaration& ADeclaration)
{
    for (const TVertexElement& e : ADeclaration)
        if (e.Format == TVertexFormat::Vertex) return e.Offset;
    return -1;
}

// Only the thread that owns the GL context draws, so the counters have one
// writer: a plain relaxed load and store adds without a locked instruction,
// and readers on other threads still see whole values.
void CountDraw(std::atomic<int64_t>& ACounter, int64_t AAmount)
{
    ACounter.store(ACounter.load(std::memory_order_relaxed) + AAmount, std::memory_order_relaxed);
}

constexpr const char* BatchPrefix = "Exception in TKorvaneContextOpenGLES.DoDrawPrimitivesBatch(): ";
} // namespace

// Everything one batch sets up, so that it can be taken down again also after a failure.
struct TKorvaneContextOpenGLES::TBatch {
    TPrimitivesKind Kind;
    const void* Vertices;
    const void* Indices;
    const TVertexDeclaration* Declaration;
    int VertexSize, VertexCount, IndexSize, IndexCount;

    TMeshBufferObject* Cache = nullptr;
    GLenum Mode = GL_TRIANGLES;
    TOwned<TMemoryStream> Decompressed{};
    bool StaticVerticesBound = false;
    TBufferObject* PositionBuffer = nullptr;
    bool PositionBufferBound = false;
    // Layered drawing: started, the states found, and the layer material in use.
    bool Layered = false;
    bool BlendWasOn = false;
    GLboolean DepthTestWasOn = GL_FALSE;
    GLint DepthFunc = GL_LESS;
    TMaterial* LayerMaterial = nullptr;
    // The blend settings found, restored after layered drawing (only that
    // changes them); on the heap so that a plain draw does not clear the table.
    std::unique_ptr<TBlendSettings> SavedBlendings{};
};

void TKorvaneContextOpenGLES::DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                                    const TVertexDeclaration& VertexDeclaration, int VertexSize,
                                                    int VertexCount, int IndexSize, int IndexCount)
{
    TBatch batch{AKind, Vertices, Indices, &VertexDeclaration, VertexSize, VertexCount, IndexSize, IndexCount};
    if (!KorvaneClassType().Valid()) return;
    batch.Cache = FCurrentCache;
    // Without a mesh buffer object and without vertices there is nothing to draw.
    if (!batch.Cache && !Vertices) return;
    try {
        DrawBatch(batch);
    } catch (const Exception& e) {
        FinishBatch(batch, true);
        throw Exception(BatchPrefix + e.Message());
    } catch (...) {
        FinishBatch(batch, true);
        throw;
    }
    try {
        FinishBatch(batch, false);
    } catch (const Exception& e) {
        throw Exception(BatchPrefix + e.Message());
    }
}

void TKorvaneContextOpenGLES::DrawBatch(TBatch& B)
{
    const TVertexDeclaration& decl = *B.Declaration;
    TKorvanePrimitivesKind kind = static_cast<TKorvanePrimitivesKind>(B.Kind);
    float lineWidth = 1.0f;
    const GLsizei stride = B.VertexSize;
    const TAttributeLayout position = AttributeLayout(TVertexFormat::Vertex);
    const TVertexSource client{static_cast<const uint8_t*>(B.Vertices), false};

    // Binds the static vertex buffer of the cache when there is one; the
    // attributes that follow then read from it, otherwise from the client's vertices.
    auto staticVertices = [&]() -> TVertexSource {
        if (B.Cache->IsStaticBufferAvailable() && B.Cache->BindStaticVertices() >= 0) {
            B.StaticVerticesBound = true;
            return {nullptr, true};
        }
        // No buffer is bound since the start of the batch unless the position buffer was.
        if (B.PositionBufferBound) glBindBuffer(GL_ARRAY_BUFFER, 0);
        return client;
    };
    auto requirePosition = [](const TVertexSource& ASource) {
        if (!ASource.Available()) throw Exception("failed to draw buffer - no vertex data");
    };

    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (TMeshBufferObject* cache = B.Cache) {
        kind = cache->Kind;
        lineWidth = cache->LineWidth;
        if (cache->GetIsCompressed(TMeshBufferComponent::Vertex)) {
            B.Decompressed.reset(cache->Decompress(TMeshBufferComponent::Vertex));
            PointAttribute(position, 12, B.Decompressed->Memory(), FEnabledAttributeArrays);
            SetupAttributes(decl, stride, staticVertices(), false, FEnabledAttributeArrays);
        } else if (cache->GetIsCompressed(TMeshBufferComponent::All)) {
            B.Decompressed.reset(cache->Decompress(TMeshBufferComponent::All));
            SetupAttributes(decl, stride, {static_cast<const uint8_t*>(B.Decompressed->Memory()), false}, true,
                            FEnabledAttributeArrays);
        } else if (cache->ComponentAvailable(TMeshBufferComponent::Vertex)) {
            B.PositionBuffer = cache->GetComponent(TMeshBufferComponent::Vertex);
            if (!B.PositionBuffer) throw Exception("uncompressed vertex position framebuffer not available");
            const intptr_t size = B.PositionBuffer->Bind();
            B.PositionBufferBound = true;
            if (size < 1) throw Exception("failed to draw buffer - buffer object empty");
            PointAttribute(position, 12, nullptr, FEnabledAttributeArrays);
            SetupAttributes(decl, stride, staticVertices(), false, FEnabledAttributeArrays);
        } else {
            if (!cache->ComponentAvailable(TMeshBufferComponent::All))
                throw Exception("cache used, but no meshbuffer object found ...");
            const TVertexSource source = staticVertices();
            if (const int positionOffset = VertexOffset(decl); positionOffset >= 0) {
                requirePosition(source);
                PointAttribute(position, stride, source.At(positionOffset), FEnabledAttributeArrays);
            }
            SetupAttributes(decl, stride, source, false, FEnabledAttributeArrays);
        }
    } else {
        SetupAttributes(decl, stride, client, true, FEnabledAttributeArrays);
    }

    B.Mode = PrimitiveModeToGL(kind);
    if (B.Mode == GL_LINES || B.Mode == GL_LINE_LOOP || B.Mode == GL_LINE_STRIP) glLineWidth(lineWidth);

    IKorvaneLayeredMaterial* layered = FCurrentLayeredMaterial;
    const int passes = layered ? 1 + std::max(0, layered->GetMaterialsCount()) : 1;
    if (layered) {
        B.Layered = true;
        B.SavedBlendings = std::make_unique<TBlendSettings>(GetBlendings());
        B.BlendWasOn = CurrentStates().Contains(TContextState::csAlphaBlendOn);
        B.DepthTestWasOn = glIsEnabled(GL_DEPTH_TEST);
        glGetIntegerv(GL_DEPTH_FUNC, &B.DepthFunc);
        if (!B.BlendWasOn) SetContextState(TContextState::csAlphaBlendOff);
        SetBlendings(TBlendSettings{});
    }

    for (int p = 0; p < passes; ++p) {
        if (p >= 1) {
            if (!B.BlendWasOn) SetContextState(TContextState::csAlphaBlendOn);
            if (p == 1) {
                SetContextState(TContextState::csZTestOff);
                TBlendSettings layers;
                layers.fill(TBlendSetting::Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfOne,
                                                  TBlendFactor::bfOneMinusSrcColor, TBlendFactor::bfOne,
                                                  TBlendFactor::bfOneMinusSrcAlpha));
                SetBlendings(layers);
            }
            TMaterialSource* source = layered->GetLayerMaterialSource(this, p - 1);
            TMaterial* material = TMaterialSource::ValidMaterial(source);
            if (!material) continue;
            B.LayerMaterial = material;
            ApplyMaterial(material);
        }
        if (B.Cache) {
            const intptr_t size = B.Cache->BindStaticIndices();
            try {
                if (size > 0 && B.IndexSize > 0)
                    DrawSingle(B.Mode, B.IndexSize, static_cast<int>(size / B.IndexSize), nullptr, B.VertexCount);
            } catch (...) {
                B.Cache->UnbindStaticIndices();
                throw;
            }
            B.Cache->UnbindStaticIndices();
        } else {
            DrawSingle(B.Mode, B.IndexSize, B.IndexCount, B.Indices, B.VertexCount);
        }
        if (B.LayerMaterial) {
            TMaterial* material = B.LayerMaterial;
            B.LayerMaterial = nullptr;
            ResetMaterial(material);
        }
    }
}

void TKorvaneContextOpenGLES::FinishBatch(TBatch& B, bool AFailing)
{
    // After a failure every step runs, whatever the one before it did; the
    // failure itself is what the caller reports.
    auto step = [&](auto&& AWork) {
        if (!AFailing) {
            AWork();
            return;
        }
        try {
            AWork();
        } catch (const Exception& e) {
            Log::d("<ERROR> TKorvaneContextOpenGLES.DoDrawPrimitivesBatch: %s", e.Message());
        }
    };
    if (B.LayerMaterial) {
        TMaterial* material = B.LayerMaterial;
        B.LayerMaterial = nullptr;
        step([&] { ResetMaterial(material); });
    }
    if (B.Layered) {
        step([&] {
            if (!B.BlendWasOn) SetContextState(TContextState::csAlphaBlendOff);
            // The layer passes switch the depth test off; it comes back as it was.
            SetContextState(B.DepthTestWasOn ? TContextState::csZTestOn : TContextState::csZTestOff);
            glDepthFunc(static_cast<GLenum>(B.DepthFunc));
            if (B.SavedBlendings) SetBlendings(*B.SavedBlendings);
        });
        FCurrentLayeredMaterial = nullptr;
    }
    if (B.Mode == GL_LINES) glLineWidth(1.0f);
    // Only the draw enables vertex attribute arrays, so turning off the ones it
    // enabled leaves arrays 0 to 15 all off.
    for (uint32_t bits = FEnabledAttributeArrays & 0xFFFFu; bits; bits &= bits - 1)
        glDisableVertexAttribArray(static_cast<GLuint>(std::countr_zero(bits)));
    FEnabledAttributeArrays = 0;
    if (B.Cache) {
        B.Decompressed.reset();
        if (B.StaticVerticesBound) {
            B.StaticVerticesBound = false;
            step([&] { B.Cache->UnbindStaticVertices(); });
        }
        if (B.PositionBufferBound) {
            B.PositionBufferBound = false;
            step([&] { B.PositionBuffer->Unbind(); });
        }
        FCurrentCache = nullptr;
        intptr_t code = 0;
        if (!AFailing && HasAnyErrors(code))
            RaiseContextExceptionFmt(this, SErrorInContextMethod, Format("DoDrawPrimitivesBatch: Error = %d", code));
    }
}

void TKorvaneContextOpenGLES::DrawSingle(uint32_t AMode, int AIndexSize, int AIndexCount, const void* AIndices,
                                         int AVertexCount)
{
    const int instances = FInstanceCount;
    if (instances <= 0) {
        if (AIndexSize != 2 && AIndexSize != 4) throw Exception("DrawElements(2): invalid index size");
    } else if (AIndexSize != 2 && AIndexSize != 4) {
        UnsetInstances();
        throw Exception("DrawElements(1): invalid index size");
    }
    const int64_t times = std::max(instances, 1);
    CountDraw(ContextDrawCalls, 1);
    CountDraw(ContextDrawVertices, int64_t(AVertexCount) * times);
    CountDraw(ContextDrawIndices, int64_t(AIndexCount) * times);
    const GLenum type = AIndexSize == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
    if (instances <= 0) {
        CountDraw(ContextDrawInstances, 1);
        // 32-bit indices are drawn as they are: every GL 4.3 context takes them.
        if (AIndexCount > 0) glDrawElements(AMode, AIndexCount, type, AIndices);
        else if (AIndexSize == 2) glDrawArrays(AMode, 0, AVertexCount);
        return;
    }
    CountDraw(ContextDrawInstances, instances);
    // One SetInstances serves one draw: the count is cleared whatever happens here.
    struct TUnset {
        TKorvaneContextOpenGLES* Self;
        ~TUnset() { Self->UnsetInstances(); }
    } unset{this};
    CreateInstanceBuffer();
    FInstanceVAO->Bind();
    try {
        for (GLuint row = 0; row < 4; ++row) {
            const GLuint location = 12 + row;
            glEnableVertexAttribArray(location);
            FEnabledAttributeArrays |= 1u << location;
            glVertexAttribPointer(location, 4, GL_FLOAT, GL_FALSE, 64,
                                  reinterpret_cast<const void*>(intptr_t(row) * 16));
            glVertexAttribDivisor(location, 1);
        }
        if (AIndexCount > 0) glDrawElementsInstanced(AMode, AIndexCount, type, AIndices, instances);
        else if (AIndexSize == 2) glDrawArraysInstanced(AMode, 0, AVertexCount, instances);
    } catch (...) {
        FInstanceVAO->Unbind();
        throw;
    }
    FInstanceVAO->Unbind();
}

} // namespace korvane
