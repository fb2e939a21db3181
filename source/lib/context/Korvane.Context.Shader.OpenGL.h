#pragma once
// Shader programs on OpenGL: linking with fixed vertex attribute locations,
// compiling single stages and making programs current. Loading this unit
// installs TOpenGLShaderProgram as ShaderProgramClass.

#include "Korvane.Context.Shader.h"
#include "Korvane.GL.Internal.h"

namespace korvane {

class TOpenGLShaderProgramClass : public TShaderProgramClass {
public:
    using TShaderProgramClass::TShaderProgramClass;
    TShaderProgram* Create(TClass AContextClass, TContextShader* VS, TContextShader* PS) const override;
    TShaderProgram* Create(TClass AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                           TContextShader* TSC, TContextShader* PS) const override;
    uintptr_t BuildShader(int AType, const std::vector<uint8_t>& ACode, bool AIsInDesignTime) const override;
    void ActivateDefault() const override;
    void ActivateDefaultAfterErrorCheck() const override;
};

class TOpenGLShaderProgram : public TShaderProgram {
    KORVANE_CLASS(TOpenGLShaderProgram, TShaderProgram)
    friend class TOpenGLShaderProgramClass;

    static const TOpenGLShaderProgramClass& ClassInfo()
    {
        return static_cast<const TOpenGLShaderProgramClass&>(*StaticClass());
    }

    using TShaderProgram::LinkProgram;
    void LinkProgram(TContextShader* AVS, TContextShader* AGS, TContextShader* ATSE, TContextShader* ATSC,
                     TContextShader* APS) override;
    void ReleaseUniformBuffer(TUniformBufferStruct& AEntry) override;
    bool Available() const override;
    void Use() override;

protected:
    // Unbinds the program when it is GL's current one (GL would otherwise keep
    // it, and its stages, alive), then deletes it.
    void BeforeDestruction() override;

private:
    // The GL program; Prog() answers its name.
    TGLName FProgram;
    // The array size of the active uniform of that name (letter case ignored); 0 when none.
    int GetUniformArraySize(const std::string& AName) const;
};

// The attribute names bound to locations 0 to 12 before every link.
extern const char* const ShaderAttributeNames[13];

} // namespace korvane
