#pragma once
// The GLSL 4.30 layer of the shader node tree: the vertex and fragment
// builders of the default material family, the serialisers of declarations
// and constants, and the node classes whose text makes up the generated
// shaders. Every text uses CR LF line ends and numbers in the "en-US" format.
//
// The unit's source files: Korvane.Material.Default.GLSL.cpp (platform strings,
// serialisers, builders, declaration nodes), .Vertex.cpp (vertex stage and the
// fragment effects it feeds), .Lighting.cpp (lights, shadows, PBR, tone
// mapping) and .Surface.cpp (surface and output). Their GLSL is written as raw
// string blocks (see Korvane.Material.Default.GLSL.Text.h).

#include <memory>
#include <string>
#include <vector>

#include "Korvane.Context.Texturing.h"
#include "Korvane.Material.Default.Nodes.h"
#include "Korvane.Material.Types.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Platform strings

// The GL vendor, renderer, version and extension strings a builder turns into
// defines. The context answers them for the real program; tests give fixed ones.
class TKorvaneGLPlatformStrings {
public:
    virtual ~TKorvaneGLPlatformStrings() = default;
    virtual std::string VendorName() const = 0;
    virtual std::string RendererName() const = 0;
    virtual std::string Version() const = 0;
    // The extension names separated by blanks.
    virtual std::string ExtensionString() const = 0;
};

// Answers the strings through the render context's class functions, that is
// from the default context class (empty strings when no GL context can be used).
class TKorvaneContextGLStrings : public TKorvaneGLPlatformStrings {
public:
    std::string VendorName() const override;
    std::string RendererName() const override;
    std::string Version() const override;
    std::string ExtensionString() const override;
};

// The define naming the operating system the program runs on.
extern const char* const KorvanePlatformDefine;

// ---------------------------------------------------------------------------
// Serialisers

// GLSL keyword of a variable type (the type name for stCustom).
std::string VariableTypeToGLSL(const TKorvaneShaderNodeVariable& AVariable);
// Declaration text of one variable; a non-empty AValue replaces the default value.
std::string SerializeVariable(const TKorvaneShaderNodeVariable& AVariable, const TValue& AValue, bool AWithType,
                              bool AWithValue);
// GLSL text of one constant value.
std::string SerializeConstant(const TValue& AValue);

// ---------------------------------------------------------------------------
// Builders

class TKorvaneGLSLNodeBuilder : public TKorvaneNodeBuilder {
public:
    const std::string& Vendor() const { return FVendor; }
    const std::string& Renderer() const { return FRenderer; }
    const std::string& Version() const { return FVersion; }
    const std::vector<std::string>& Extensions() const { return FExtensions; }

protected:
    // AStrings answers the GL strings; null asks the render context's class functions.
    TKorvaneGLSLNodeBuilder(TObject* AMaterial, const TKorvaneGLPlatformStrings* AStrings);
    void InitDefines() override;

    std::string FVendor;
    std::string FRenderer;
    std::string FVersion;
    std::vector<std::string> FExtensions;

private:
    const TKorvaneGLPlatformStrings* FStrings;
};

class TKorvaneGLSLVertexShader : public TKorvaneGLSLNodeBuilder {
public:
    // A ready builder whose text is the complete vertex shader for its defines.
    static std::unique_ptr<TKorvaneGLSLVertexShader> Create(TObject* AMaterial,
                                                            const TKorvaneGLPlatformStrings* AStrings = nullptr);

protected:
    using TKorvaneGLSLNodeBuilder::TKorvaneGLSLNodeBuilder;
    void InitDefines() override;
    void BuildNodes() override;
};

class TKorvaneGLSLFragmentShader : public TKorvaneGLSLNodeBuilder {
public:
    // A ready builder whose text is the complete fragment shader for its defines.
    static std::unique_ptr<TKorvaneGLSLFragmentShader> Create(TObject* AMaterial,
                                                              const TKorvaneGLPlatformStrings* AStrings = nullptr);

protected:
    using TKorvaneGLSLNodeBuilder::TKorvaneGLSLNodeBuilder;
    void InitDefines() override;
    void BuildNodes() override;
};

// ---------------------------------------------------------------------------
// Declaration nodes

// The version line.
class TKorvaneGLSLPragma : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;
    std::string ToString() override;
};

class TKorvaneGLSLConstantValue : public TKorvaneConstantNode {
public:
    using TKorvaneConstantNode::TKorvaneConstantNode;
    static std::unique_ptr<TKorvaneGLSLConstantValue> Build(TKorvaneNodeBuilder* ABuilder, const std::string& AName,
                                                            const TValue& AValue);
    std::string ToString() override;
};

class TKorvaneGLSLVariable : public TKorvaneVariableNode {
public:
    using TKorvaneVariableNode::TKorvaneVariableNode;
    static std::unique_ptr<TKorvaneGLSLVariable> Build(TKorvaneNodeBuilder* ABuilder, const std::string& AName,
                                                       TKorvaneShaderNodeVariableType AType);
    std::string ToString() override;
};

enum class TKorvaneGLSLLayoutKind : uint8_t { LayoutInput, LayoutOutput };

// A shader input or output with an explicit location.
class TKorvaneGLSLLayoutLocation : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;
    TKorvaneGLSLLayoutLocation(TKorvaneNodeBuilder* ABuilder, TKorvaneGLSLLayoutKind AKind, int32_t AIndex,
                               const std::string& AName, TKorvaneShaderNodeVariableType AType);

    TKorvaneGLSLLayoutKind Kind() const { return FKind; }
    void SetKind(TKorvaneGLSLLayoutKind AKind) { FKind = AKind; }
    bool IsLayout() const { return FIsLayout; }
    void SetIsLayout(bool AValue) { FIsLayout = AValue; }
    int32_t Index() const { return FIndex; }
    void SetIndex(int32_t AIndex) { FIndex = AIndex; }
    TKorvaneGLSLVariable* Variable() const { return FVariable.get(); }
    void SetVariable(std::unique_ptr<TKorvaneGLSLVariable> AVariable) { FVariable = std::move(AVariable); }

    std::string ToString() override;

private:
    TKorvaneGLSLLayoutKind FKind = TKorvaneGLSLLayoutKind::LayoutInput;
    bool FIsLayout = true;
    int32_t FIndex = 0;
    std::unique_ptr<TKorvaneGLSLVariable> FVariable;
};

// A struct type: its id is the struct name, its children the members.
class TKorvaneGLSLStructType : public TKorvaneStructTypeNode {
public:
    using TKorvaneStructTypeNode::TKorvaneStructTypeNode;
    std::string ToString() override;
};

class TKorvaneGLSLLightType : public TKorvaneGLSLStructType {
public:
    explicit TKorvaneGLSLLightType(TKorvaneNodeBuilder* ABuilder);
};

class TKorvaneGLSLTextureType : public TKorvaneGLSLStructType {
public:
    explicit TKorvaneGLSLTextureType(TKorvaneNodeBuilder* ABuilder);
};

class TKorvaneGLSLMaterialType : public TKorvaneGLSLStructType {
public:
    explicit TKorvaneGLSLMaterialType(TKorvaneNodeBuilder* ABuilder);
};

class TKorvaneGLSLPassDataType : public TKorvaneGLSLStructType {
public:
    explicit TKorvaneGLSLPassDataType(TKorvaneNodeBuilder* ABuilder);
};

// A std140 uniform block; its binding comes from the builder's block counter.
class TKorvaneGLSLUBO : public TKorvaneDeclarationNode {
public:
    explicit TKorvaneGLSLUBO(TKorvaneNodeBuilder* ABuilder);
    TKorvaneGLSLUBO(TKorvaneNodeBuilder* ABuilder, uintptr_t AReferenceID);

    int32_t Binding() const { return FBinding; }
    void SetBinding(int32_t ABinding) { FBinding = ABinding; }
    std::string ToString() override;

private:
    int32_t FBinding = 0;
};

// The per-draw block "ShaderData"; mirrors TKorvaneShaderData byte for byte.
class TKorvaneGLSLUBOShaderData : public TKorvaneGLSLUBO {
public:
    explicit TKorvaneGLSLUBOShaderData(TKorvaneNodeBuilder* ABuilder);
};

// Loose uniforms outside any block.
class TKorvaneGLSLUniformsNode : public TKorvaneDeclarationNode {
public:
    using TKorvaneDeclarationNode::TKorvaneDeclarationNode;
    std::string ToString() override;
};

// The struct TLocals that carries every intermediate value of a stage.
class TKorvaneGLSLLocalsStructNode : public TKorvaneGLSLStructType {
public:
    using TKorvaneGLSLStructType::TKorvaneGLSLStructType;
};

class TKorvaneGLSLVertexShaderLocalsStructNode : public TKorvaneGLSLLocalsStructNode {
public:
    explicit TKorvaneGLSLVertexShaderLocalsStructNode(TKorvaneNodeBuilder* ABuilder);
};

class TKorvaneGLSLFragmentShaderLocalsStructNode : public TKorvaneGLSLLocalsStructNode {
public:
    explicit TKorvaneGLSLFragmentShaderLocalsStructNode(TKorvaneNodeBuilder* ABuilder);
};

// Initialises LOCALS from the default (or conditional) values of its struct's
// members; without a struct it declares its own members as locals.
class TKorvaneGLSLLocalsNode : public TKorvaneDeclarationNode {
public:
    using TKorvaneDeclarationNode::TKorvaneDeclarationNode;
    TKorvaneGLSLLocalsNode(TKorvaneNodeBuilder* ABuilder, TKorvaneGLSLStructType* AStruct);

    TKorvaneGLSLStructType* Struct() const { return FStruct; }
    void SetStruct(TKorvaneGLSLStructType* AStruct) { FStruct = AStruct; }
    std::string ToString() override;

private:
    TKorvaneGLSLStructType* FStruct = nullptr;
};

class TKorvaneGLSLVertexShaderLocalsNode : public TKorvaneGLSLLocalsNode {
public:
    using TKorvaneGLSLLocalsNode::TKorvaneGLSLLocalsNode;
};

class TKorvaneGLSLLightingLocalsNode : public TKorvaneGLSLLocalsNode {
public:
    using TKorvaneGLSLLocalsNode::TKorvaneGLSLLocalsNode;
};

// The vertex attributes.
class TKorvaneGLSLAttributesNode : public TKorvaneDeclarationNode {
public:
    explicit TKorvaneGLSLAttributesNode(TKorvaneNodeBuilder* ABuilder);
    std::string ToString() override;
};

enum class TKorvaneGLSLInOutMode : uint8_t { VaryingIn, VaryingOut };

// The varyings between the stages.
class TKorvaneGLSLInOutNode : public TKorvaneGLSLStructType {
public:
    TKorvaneGLSLInOutNode(TKorvaneNodeBuilder* ABuilder, TKorvaneGLSLInOutMode AMode = TKorvaneGLSLInOutMode::VaryingIn);

    TKorvaneGLSLInOutMode Mode() const { return FMode; }
    void SetMode(TKorvaneGLSLInOutMode AMode) { FMode = AMode; }
    std::string ToString() override;

private:
    TKorvaneGLSLInOutMode FMode;
};

// One texture sampler; the GLSL name is "_" + id.
class TKorvaneGLSLTextureUniformNode : public TKorvaneNodeEntity {
public:
    explicit TKorvaneGLSLTextureUniformNode(TKorvaneNodeBuilder* ABuilder);

    TKorvaneTextureKind TextureKind() const { return FTextureKind; }
    void SetTextureKind(TKorvaneTextureKind AKind) { FTextureKind = AKind; }
    bool IsUnsigned() const { return FIsUnsigned; }
    void SetIsUnsigned(bool AValue) { FIsUnsigned = AValue; }
    std::string ToString() override;

private:
    TKorvaneTextureKind FTextureKind = TKorvaneTextureKind::Texture2D;
    bool FIsUnsigned = false;
};

// The main function frame; declares LOCALS first.
class TKorvaneGLSLMainNode : public TKorvaneEntryPointNode {
public:
    using TKorvaneEntryPointNode::TKorvaneEntryPointNode;
    std::string ToString() override;
};

// ---------------------------------------------------------------------------
// Statement and function nodes with fixed text chosen by the defines.

#define KORVANE_GLSL_TEXT_NODE(Name, Base)                                                                           \
    class Name : public Base {                                                                                       \
    public:                                                                                                          \
        using Base::Base;                                                                                            \
        std::string ToString() override;                                                                             \
    }

// Vertex stage
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLMatricesOutNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetVertexPositionNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLDisplacementMappingGetNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLDisplacementMappingApplyNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLClippingPlaneGetNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLVertexPositionOutputNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLTransformFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLPackingFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLAdjustPointSizeNode, TKorvaneDeclarationNode);

// Writes the transformed position, the texture coordinates, the colour and the
// normal frame; keeps one text buffer for its whole life.
class TKorvaneGLSLVertexShaderOutputNode : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;
    std::string ToString() override;

private:
    std::string FBuffer;
};

// Fragment effects fed by vertex data
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLClippingPlaneNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLAddShadowNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetBumpNormalNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLAddReflectionNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLAddRefractionNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLAddEnvironmentNode, TKorvaneNodeEntity);

// Lighting functions
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetDirLightDirectionFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetPointLightDirectionFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetSpotLightDirectionFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetLightDirectionFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetSpotFalloffFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetLightAttenuationFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetShadingFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLBasicShadowFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLPBRFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLToneMappingFuncsNode, TKorvaneDeclarationNode);

// A GLSL for statement whose header is made of operation nodes.
class TKorvaneGLSLForLoopNode : public TKorvaneForLoopNode {
public:
    using TKorvaneForLoopNode::TKorvaneForLoopNode;
    std::string ToString() override;
};

// The loop over the lights of "ShaderData"; needs the block in the builder's globals.
class TKorvaneGLSLLightsLoopNode : public TKorvaneGLSLForLoopNode {
public:
    explicit TKorvaneGLSLLightsLoopNode(TKorvaneNodeBuilder* ABuilder);
    std::string ToString() override;
};

// Lighting statements
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetLightShadingNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLLightingSumNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLSpecularColorNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLPBRPrepareNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLMergedColorOutputNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLTonemappingNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLBrightnessColorNode, TKorvaneNodeEntity);

// Surface functions
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetTextureFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetTextureAtlasFuncNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLBumpFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLPOMFuncsNode, TKorvaneDeclarationNode);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLFogFuncNode, TKorvaneDeclarationNode);

// Surface statements before the lights loop
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLEmissiveColorNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetTransfVertPosNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetNormalNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetFragViewDirNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLTextureCoordsNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLPOMApplyNode, TKorvaneNodeEntity);

// Surface shader statements
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLGetBaseColorNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLAlphaCutoffNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLSpecularMapNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLFragColorOutputNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLColorClipNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLFogApplyNode, TKorvaneNodeEntity);
KORVANE_GLSL_TEXT_NODE(TKorvaneGLSLWeightedBlendedOITNode, TKorvaneNodeEntity);

#undef KORVANE_GLSL_TEXT_NODE

} // namespace korvane
