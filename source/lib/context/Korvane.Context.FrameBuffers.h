#pragma once
// Frame buffer objects: offscreen render targets with up to 16 colour textures,
// a depth and a stencil attachment, a colour render buffer and a packed
// depth-and-stencil render buffer of their own, optionally multisampled.
// TFrameBufferObject defines the operations and keeps the attached textures in a
// TFBOTextureMap; the OpenGL classes (Korvane.Context.FrameBuffers.OpenGL)
// implement them and are installed in FrameBufferObjectClass and
// FBOTextureMapClass at start-up.
//
// Binding keeps the render context's stack of bound frame buffers, which tells
// the context which buffer and which colour texture are current.

#include <array>
#include <cstdint>

#include "Platform.ClassRegistry.h"
#include "Platform.Types3D.h"

namespace korvane {

// Attachment points, in this order.
enum class TRenderTarget : uint8_t {
    Color_0, Depth, Stencil, Color_1, Color_2, Color_3, Color_4, Color_5, Color_6, Color_7, Color_8, Color_9,
    Color_10, Color_11, Color_12, Color_13, Color_14, Color_15
};
inline constexpr int RenderTargetCount = 18;
using TRenderTargets = TSet<TRenderTarget>;

// The colour index of a colour target (0 for Color_0, n for Color_n); -1 for Depth and Stencil.
int RenderTargetColorIndex(TRenderTarget ATarget);

class TFrameBufferObject;
class TFBOTextureMap;
class TFBOTextureMapClass;
class TFrameBufferObjectClass;

// The textures attached to a frame buffer, one reference per target; the map
// does not own them.
class TFBOTextureMap : public TObject {
    KORVANE_CLASS(TFBOTextureMap, TObject)
    friend class TFBOTextureMapClass;

    static const TFBOTextureMapClass& ClassInfo();

    TFrameBufferObject* FrameBuffer() const { return FFBO; }

    // Stores the reference (no check, no GPU call).
    virtual void AddTexture(TTexture* ATexture, TRenderTarget ATarget);
    // Detaches the target's attachment and clears the reference; the frame
    // buffer is bound by the caller. Abstract.
    virtual void RemoveTexture(TRenderTarget ATarget);
    // The first target (in target order) that holds ATexture; nothing when none.
    virtual void RemoveTexture(TTexture* ATexture);
    virtual bool TextureExists(TRenderTarget ATarget, TTexture* ATexture) const;
    virtual TTexture* GetTextureByTarget(TRenderTarget ATarget) const;
    virtual void Clear() { RemoveAll(); }
    virtual int Count() const;
    // RemoveTexture of every target that holds a texture, Color_0 first.
    virtual void RemoveAll();

protected:
    // Clears the reference only.
    void ForgetTexture(TRenderTarget ATarget) { FTextures[static_cast<int>(ATarget)] = nullptr; }

    TFrameBufferObject* FFBO = nullptr;
    std::array<TTexture*, RenderTargetCount> FTextures{};
};

class TFBOTextureMapClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // A new map owned by AFBO.
    virtual TFBOTextureMap* Create(TFrameBufferObject* AFBO) const;

protected:
    template <typename T>
    static T* Construct(TFrameBufferObject* AFBO)
    {
        T* map = new T();
        map->FFBO = AFBO;
        return map;
    }
};

inline const TFBOTextureMapClass& TFBOTextureMap::ClassInfo()
{
    return static_cast<const TFBOTextureMapClass&>(*StaticClass());
}

class TFrameBufferObject : public TObject {
    KORVANE_CLASS(TFrameBufferObject, TObject)
    friend class TFrameBufferObjectClass;

    static const TFrameBufferObjectClass& ClassInfo();
    // The object's metaclass as a frame-buffer class.
    const TFrameBufferObjectClass& FrameBufferClass() const;

    // The frame-buffer name; 0 until created.
    uint32_t Handle() const { return FHandle; }
    TContext3D* Context() const { return FContext; }
    // Width and height of the last attachment or render buffer.
    TSize Size() const { return FSize; }
    uint32_t DepthBuffer() const { return FDepthBuffer; }
    bool OwnsDepthBuffer() const { return FOwnsDepthBuffer; }
    uint32_t StencilBuffer() const { return FStencilBuffer; }
    uint32_t ColorBuffer() const { return FColorBuffer; }
    bool OwnsColorBuffer() const { return FOwnsColorBuffer; }
    bool IsMultisampleBuffer() const { return FIsMultisampleBuffer; }
    // 0, 2 or 4.
    int32_t Samples() const { return FSamples; }
    TFBOTextureMap* TextureMap() const { return FTextureMap.get(); }

    bool IsCreated() const { return FHandle != 0; }
    // Whether the frame buffer (which must be bound) is complete; raises the
    // completeness messages as described with the OpenGL class.
    virtual bool CheckStatus();
    virtual void CreateHandle();
    virtual void DestroyHandle();
    virtual void Reset();
    // Raises "failed to attach texture to FBO - not enough attachments
    // available" for a colour target beyond the device's colour attachments.
    virtual void CheckMaxAttachments(TRenderTarget ATarget);
    virtual void AttachTexture(TContext3D* AContext, TTexture* ATexture, TRenderTarget ATarget);
    // Bind, the map's RemoveTexture, Unbind (also when it fails).
    virtual void DetachTexture(TTexture* ATexture);
    virtual TTexture* GetTextureByRenderTarget(TRenderTarget ATarget) const;
    virtual void CreateRenderBuffer(int AWidth, int AHeight);
    virtual void DestroyRenderBuffer();
    virtual void CreateDepthBuffer(int AWidth, int AHeight);
    virtual void DestroyDepthBuffer();
    // Gives the render buffer ABufId depth-stencil storage of ASize (x width,
    // y height) and attaches it; the frame buffer does not own it.
    virtual void AttachDepthBuffer(uint32_t ABufId, TPoint ASize);
    virtual void DetachDepthBuffer() {}
    // Binds the frame buffer; with a framework context it also goes on that context's stack.
    virtual void Bind(TContext3D* AContext);
    // Pops the framework context's stack and binds what is then on top (0 when nothing).
    virtual void Unbind(TContext3D* AContext);
    uint32_t RenderTargetToValue(TRenderTarget ATarget) const;
    virtual void Resize(int AWidth, int AHeight);
    virtual void Prepare(TRenderTargets ATargets);
    void Clear(TRenderTarget ATarget, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil, bool AForceDraw)
    {
        Clear(TRenderTargets{ATarget}, AColor, ADepth, AStencil, AForceDraw);
    }
    virtual void Clear(TRenderTargets ATargets, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil,
                       bool AForceDraw);

protected:
    // The constructor's body.
    virtual void Create(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample);
    // Frees the render buffers, the frame buffer and the map; attached textures stay.
    void BeforeDestruction() override;
    [[noreturn]] void AbstractCall(const char* AName) const;

    uint32_t FHandle = 0;
    TContext3D* FContext = nullptr;
    TSize FSize;
    uint32_t FDepthBuffer = 0;
    bool FOwnsDepthBuffer = false;
    uint32_t FStencilBuffer = 0;
    uint32_t FColorBuffer = 0;
    bool FOwnsColorBuffer = false;
    bool FIsMultisampleBuffer = false;
    int32_t FSamples = 0;
    TOwned<TFBOTextureMap> FTextureMap;
};

class TFrameBufferObjectClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // A new frame buffer object (with its frame-buffer name). AOwnerContext has no effect.
    virtual TFrameBufferObject* Create(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample,
                                       TContext3D* AOwnerContext = nullptr) const;
    // The attachment value of a target. Abstract.
    virtual uint32_t RenderTargetToValue(TRenderTarget ATarget) const;

protected:
    template <typename T>
    static T* Construct(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample)
    {
        return InitializeObject(new T(), [&](T* object) {
            object->Create(AContext, AIsMultisampleBuffer, AMultisample);
        });
    }
};

inline const TFrameBufferObjectClass& TFrameBufferObject::ClassInfo()
{
    return static_cast<const TFrameBufferObjectClass&>(*StaticClass());
}

inline const TFrameBufferObjectClass& TFrameBufferObject::FrameBufferClass() const
{
    return static_cast<const TFrameBufferObjectClass&>(*ClassType());
}

// Class references: the OpenGL unit's start-up sets them to its classes, its
// shut-down puts the base classes back.
extern const TFrameBufferObjectClass* FrameBufferObjectClass;
extern const TFBOTextureMapClass* FBOTextureMapClass;

} // namespace korvane
