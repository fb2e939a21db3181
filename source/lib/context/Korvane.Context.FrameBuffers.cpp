#include "Korvane.Context.FrameBuffers.h"

#include "Platform.Log.h"

namespace korvane {

const TFrameBufferObjectClass* FrameBufferObjectClass = nullptr;
const TFBOTextureMapClass* FBOTextureMapClass = nullptr;

int RenderTargetColorIndex(TRenderTarget ATarget)
{
    switch (ATarget) {
    case TRenderTarget::Color_0: return 0;
    case TRenderTarget::Depth:
    case TRenderTarget::Stencil: return -1;
    default: return static_cast<int>(ATarget) - static_cast<int>(TRenderTarget::Color_1) + 1;
    }
}

// ---------------------------------------------------------------------------
// TFBOTextureMap

TClass TFBOTextureMap::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TFBOTextureMap, TFBOTextureMapClass>("Korvane.Context.FrameBuffers");
    return &info;
}

TFBOTextureMap* TFBOTextureMapClass::Create(TFrameBufferObject* AFBO) const
{
    return Construct<TFBOTextureMap>(AFBO);
}

void TFBOTextureMap::AddTexture(TTexture* ATexture, TRenderTarget ATarget)
{
    FTextures[static_cast<int>(ATarget)] = ATexture;
}

void TFBOTextureMap::RemoveTexture(TRenderTarget)
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".RemoveTexture");
}

void TFBOTextureMap::RemoveTexture(TTexture* ATexture)
{
    if (!ATexture) return;
    for (int i = 0; i < RenderTargetCount; ++i)
        if (FTextures[i] == ATexture) {
            RemoveTexture(static_cast<TRenderTarget>(i));
            return;
        }
}

bool TFBOTextureMap::TextureExists(TRenderTarget ATarget, TTexture* ATexture) const
{
    return ATexture && FTextures[static_cast<int>(ATarget)] == ATexture;
}

TTexture* TFBOTextureMap::GetTextureByTarget(TRenderTarget ATarget) const
{
    return FTextures[static_cast<int>(ATarget)];
}

int TFBOTextureMap::Count() const
{
    int count = 0;
    for (const TTexture* t : FTextures) count += t != nullptr;
    return count;
}

void TFBOTextureMap::RemoveAll()
{
    for (int i = 0; i < RenderTargetCount; ++i)
        if (FTextures[i]) RemoveTexture(static_cast<TRenderTarget>(i));
}

// ---------------------------------------------------------------------------
// TFrameBufferObject

TClass TFrameBufferObject::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TFrameBufferObject, TFrameBufferObjectClass>("Korvane.Context.FrameBuffers");
    return &info;
}

TFrameBufferObject* TFrameBufferObjectClass::Create(TContext3D* AContext, bool AIsMultisampleBuffer,
                                                    TMultisample AMultisample, TContext3D*) const
{
    return Construct<TFrameBufferObject>(AContext, AIsMultisampleBuffer, AMultisample);
}

uint32_t TFrameBufferObjectClass::RenderTargetToValue(TRenderTarget) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".RenderTargetToValue");
}

void TFrameBufferObject::AbstractCall(const char* AName) const
{
    throw EAbstractError(Format("Abstract Error: %s.%s", ClassName(), AName));
}

void TFrameBufferObject::Create(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample)
{
    FHandle = 0;
    FContext = AContext;
    FIsMultisampleBuffer = AIsMultisampleBuffer;
    switch (AMultisample) {
    case TMultisample::TwoSamples: FSamples = 2; break;
    case TMultisample::FourSamples: FSamples = 4; break;
    default: FSamples = 0; break;
    }
    if (!FBOTextureMapClass) throw EContext3DException("no frame-buffer texture map class is installed");
    FTextureMap.reset(FBOTextureMapClass->Create(this));
    CreateHandle();
}

void TFrameBufferObject::BeforeDestruction()
{
    // Each step runs even when one before it fails.
    auto step = [this](const char* AName, auto&& AStep) {
        try {
            AStep();
        } catch (const Exception& e) {
            Log::d("<ERROR> %s.%s: %s", ClassName(), AName, e.Message());
        }
    };
    step("DestroyRenderBuffer", [this] { DestroyRenderBuffer(); });
    step("DestroyDepthBuffer", [this] { DestroyDepthBuffer(); });
    step("DestroyHandle", [this] { DestroyHandle(); });
    FTextureMap.reset();
    TObject::BeforeDestruction();
}

uint32_t TFrameBufferObject::RenderTargetToValue(TRenderTarget ATarget) const
{
    return FrameBufferClass().RenderTargetToValue(ATarget);
}

bool TFrameBufferObject::CheckStatus() { AbstractCall("CheckStatus"); }
void TFrameBufferObject::CreateHandle() { AbstractCall("CreateHandle"); }
void TFrameBufferObject::DestroyHandle() { AbstractCall("DestroyHandle"); }
void TFrameBufferObject::Reset() { AbstractCall("Reset"); }
void TFrameBufferObject::CheckMaxAttachments(TRenderTarget) { AbstractCall("CheckMaxAttachments"); }
void TFrameBufferObject::AttachTexture(TContext3D*, TTexture*, TRenderTarget) { AbstractCall("AttachTexture"); }
void TFrameBufferObject::CreateRenderBuffer(int, int) { AbstractCall("CreateRenderBuffer"); }
void TFrameBufferObject::DestroyRenderBuffer() { AbstractCall("DestroyRenderBuffer"); }
void TFrameBufferObject::CreateDepthBuffer(int, int) { AbstractCall("CreateDepthBuffer"); }
void TFrameBufferObject::DestroyDepthBuffer() { AbstractCall("DestroyDepthBuffer"); }
void TFrameBufferObject::AttachDepthBuffer(uint32_t, TPoint) { AbstractCall("AttachDepthBuffer"); }
void TFrameBufferObject::Bind(TContext3D*) { AbstractCall("Bind"); }
void TFrameBufferObject::Unbind(TContext3D*) { AbstractCall("Unbind"); }
void TFrameBufferObject::Resize(int, int) { AbstractCall("Resize"); }
void TFrameBufferObject::Prepare(TRenderTargets) { AbstractCall("Prepare"); }
void TFrameBufferObject::Clear(TRenderTargets, const TAlphaColorF&, float, uint32_t, bool) { AbstractCall("Clear"); }

void TFrameBufferObject::DetachTexture(TTexture* ATexture)
{
    Bind(FContext);
    try {
        FTextureMap->RemoveTexture(ATexture);
    } catch (...) {
        Unbind(FContext);
        throw;
    }
    Unbind(FContext);
}

TTexture* TFrameBufferObject::GetTextureByRenderTarget(TRenderTarget ATarget) const
{
    return FTextureMap ? FTextureMap->GetTextureByTarget(ATarget) : nullptr;
}

} // namespace korvane
