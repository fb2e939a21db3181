#pragma once
// GPU buffers on OpenGL buffer objects. Loading this unit installs
// TOpenGLBufferObject as BufferObjectClass.

#include "Korvane.Context.Buffers.h"
#include "Korvane.GL.Internal.h"

namespace korvane {

// The OpenGL values of the buffer enumerations; a value outside an enumeration gives 0.
uint32_t BufferUsageToGL(TBufferUsage AUsage);
uint32_t BufferBindingTargetToGL(TBufferBindingTarget ATarget);
uint32_t BufferAccessModeToGL(TBufferAccessMode AMode);

class TOpenGLBufferObjectClass : public TBufferObjectClass {
public:
    using TBufferObjectClass::TBufferObjectClass;
    TBufferObject* Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const override;
};

class TOpenGLBufferObject : public TBufferObject {
    KORVANE_CLASS(TOpenGLBufferObject, TBufferObject)
    friend class TBufferObjectClass;

    static const TOpenGLBufferObjectClass& ClassInfo()
    {
        return static_cast<const TOpenGLBufferObjectClass&>(*StaticClass());
    }

    intptr_t Bind() override;
    void Unbind() override;
    void Push(const void* AData, intptr_t ASize) override;
    void* SynchronizedMap(TBufferAccessMode AMode) override;
    void SynchronizedUnmap() override;
    void Clear() override;
    void LinkWithBindingPoint(uint32_t ABindingPoint, bool AErrorCheck) override;
    void LinkWithShaderProgram(TShaderProgram* AProgram, const std::string& ABlockName, const void* AData,
                               uint32_t ASize, bool AErrorCheck) override;
    void SetLabel(const std::string& ALabel) override;

protected:
    void Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) override;
    void BeforeDestruction() override;

private:
    // Raises "<AWhat> failed: <class> (Error = <code>)" when OpenGL reports an error.
    void CheckErrors(const char* AWhat) const;

    // The GL buffer; Handle() answers its name.
    TGLName FBuffer;
    // Target and usage as GL values, converted once: a draw binds and fills
    // buffers several times.
    uint32_t FGLTarget = 0;
    uint32_t FGLUsage = 0;
};

} // namespace korvane
