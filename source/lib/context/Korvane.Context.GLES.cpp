#include "Korvane.Context.GLES.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.Texturing.OpenGL.h"
#include "Korvane.Context.Types.OpenGL.h"
#include "Platform.IOUtils.h"
#include "Platform.Log.h"

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

// The unset of the pixel store, also when an upload fails.
struct TPixelStateScope {
    TPixelStateScope(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch)
    {
        TKorvaneContext::SetPixelState(AWidth, AHeight, ADepth, ABytesPerPixel, APitch);
    }
    ~TPixelStateScope() { TKorvaneContext::UnsetPixelState(); }
    TPixelStateScope(const TPixelStateScope&) = delete;
    TPixelStateScope& operator=(const TPixelStateScope&) = delete;
};

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

std::string GLText(GLenum name)
{
    if (!TKorvaneContext::IsContextAvailable()) return {};
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text ? std::string(text) : std::string();
}

// A limit of the GL context; 0 when no GL context can be used.
int GLInteger(GLenum name)
{
    if (!TKorvaneContext::IsContextAvailable()) return 0;
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}
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
    GLint depth = 0;
    glGetIntegerv(GL_CLIENT_ATTRIB_STACK_DEPTH, &depth);
    ClientAttribStackDepth = depth;
}

std::string TKorvaneContextOpenGLESClass::PlatformGetVendorName() const { return GLText(GL_VENDOR); }
std::string TKorvaneContextOpenGLESClass::PlatformGetRendererName() const { return GLText(GL_RENDERER); }
std::string TKorvaneContextOpenGLESClass::PlatformGetVersion() const { return GLText(GL_VERSION); }
std::string TKorvaneContextOpenGLESClass::PlatformGetExtensionString() const { return GLText(GL_EXTENSIONS); }

bool TKorvaneContextOpenGLESClass::PlatformHasAnyErrors() const
{
    return TKorvaneContext::IsContextAvailable() && HasGLErrors();
}

bool TKorvaneContextOpenGLESClass::PlatformHasAnyErrors(intptr_t& AError) const
{
    AError = TKorvaneContext::IsContextAvailable() ? static_cast<intptr_t>(ClearGLErrors()) : 0;
    return AError != 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTextureSize() const
{
    return Valid() ? GLInteger(GL_MAX_TEXTURE_SIZE) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTexture3DSize() const
{
    return Valid() ? GLInteger(GL_MAX_3D_TEXTURE_SIZE) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformTextureUnitCount() const
{
    return Valid() ? GLInteger(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTextureImageUnits() const { return GLInteger(GL_MAX_TEXTURE_IMAGE_UNITS); }

int TKorvaneContextOpenGLESClass::PlatformMaxVertexShaderUniformBlocks() const
{
    return GLInteger(GL_MAX_VERTEX_UNIFORM_BLOCKS);
}

int TKorvaneContextOpenGLESClass::PlatformMaxFragmentShaderUniformBlocks() const
{
    return GLInteger(GL_MAX_FRAGMENT_UNIFORM_BLOCKS);
}

int TKorvaneContextOpenGLESClass::PlatformMaxUniformBlockSize() const { return GLInteger(GL_MAX_UNIFORM_BLOCK_SIZE); }

int TKorvaneContextOpenGLESClass::PlatformMaxDrawBuffers() const { return GLInteger(GL_MAX_DRAW_BUFFERS); }

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
    bool generated = false;
    try {
        TTextureParams p = ParamsOf(ATexture);
        const int depth = p.Depth;
        {
            TGLTextureBindingScope restore(p.Binding, p.Target);
            glActiveTexture(TKorvaneContextOpenGLES::GetTextureByTextureIndex(p.Unit));
            TGLTextureBindingScope restoreUnit(p.Binding, p.Target);
            if (name == 0) {
                glGenTextures(1, &name);
                generated = true;
            }
            glBindTexture(p.Target, name);
            SetWraps(p);
            if (p.Kind != TKorvaneTextureKind::CubeMap && p.Styles.Contains(TTextureStyle::RenderTarget))
                p.Styles.Exclude(TTextureStyle::MipMaps);
            if (p.Korvane) {
                const TAlphaColorF& c = p.Korvane->BorderColor;
                const GLfloat border[4] = {c.R, c.G, c.B, c.A};
                glTexParameterfv(p.Target, GL_TEXTURE_BORDER_COLOR, border);
            }
            TKorvaneContext::DoSetTextureFiltering(ATexture, p.Styles, p.Target, p.Internal);
            SetCubeMapLevels(p, name);
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
    } catch (const Exception& e) {
        // A name made here and not handed to the texture is not kept.
        if (generated) glDeleteTextures(1, &name);
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
        SetWraps(p);
        if (p.Kind != TKorvaneTextureKind::CubeMap && p.Styles.Contains(TTextureStyle::RenderTarget))
            p.Styles.Exclude(TTextureStyle::MipMaps);
        TKorvaneContext::DoSetTextureFiltering(ATexture, p.Styles, p.Target, p.Internal);
        SetCubeMapLevels(p, ATexture->Handle());
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
    glDeleteTextures(1, &name);
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
        frame->Bind(this);
        try {
            TGLPackedPixelStoreScope packed;
            glReadPixels(0, 0, size.Width, size.Height,
                         static_cast<GLenum>(TPixelFormatExHelper::ToValue(TPixelFormatEx::BGRA)), GL_UNSIGNED_BYTE,
                         GReadBackBuffer.data());
        } catch (...) {
            frame->Unbind(this);
            throw;
        }
        frame->Unbind(this);
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

TClass TKorvaneContextOpenGLES::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TKorvaneContextOpenGLES, TKorvaneContextOpenGLESClass>("Korvane.Context.GLES");
    return &info;
}

} // namespace korvane
