#include "Korvane.Material.Default.GLSL.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include "Platform.Math3D.h"

namespace korvane {

#ifdef _WIN32
const char* const KorvanePlatformDefine = "MSWINDOWS";
#else
const char* const KorvanePlatformDefine = "LINUX";
#endif

// ---------------------------------------------------------------------------
// Platform strings of the current context

namespace {

bool HasCurrentGLContext()
{
    return eglGetCurrentContext() != EGL_NO_CONTEXT;
}

std::string GLString(GLenum AName)
{
    if (!HasCurrentGLContext()) return {};
    const GLubyte* text = glGetString(AName);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

} // namespace

std::string TKorvaneCurrentGLContextStrings::VendorName() const
{
    return GLString(GL_VENDOR);
}

std::string TKorvaneCurrentGLContextStrings::RendererName() const
{
    return GLString(GL_RENDERER);
}

std::string TKorvaneCurrentGLContextStrings::Version() const
{
    return GLString(GL_VERSION);
}

std::string TKorvaneCurrentGLContextStrings::ExtensionString() const
{
    if (!HasCurrentGLContext()) return {};
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    std::string text;
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* name = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
        if (!name) continue;
        if (!text.empty()) text += ' ';
        text += reinterpret_cast<const char*>(name);
    }
    if (count <= 0) text = GLString(GL_EXTENSIONS);
    return text;
}

// ---------------------------------------------------------------------------
// Serialisers

std::string VariableTypeToGLSL(const TKorvaneShaderNodeVariable& AVariable)
{
    switch (AVariable._Type) {
    case stCustom: return AVariable.TypeName;
    case stInt: return "int";
    case stFloat: return "float";
    case stBool: return "bool";
    case stBVec2: return "bvec2";
    case stBVec3: return "bvec3";
    case stBVec4: return "bvec4";
    case stIVec2: return "ivec2";
    case stIVec3: return "ivec3";
    case stIVec4: return "ivec4";
    case stUVec2: return "uvec2";
    case stUVec3: return "uvec3";
    case stUVec4: return "uvec4";
    case stVec2: return "vec2";
    case stVec3: return "vec3";
    case stVec4: return "vec4";
    case stMat33: return "mat3";
    case stMat44: return "mat4";
    case stSampler2D: return "sampler2D";
    case stSamplerCube: return "samplerCube";
    case stSampler3D: return "sampler3D";
    case stStruct: return "struct";
    }
    throw Exception("failed to serialize variable type - invalid variable type");
}

std::string SerializeVariable(const TKorvaneShaderNodeVariable& AVariable, const TValue& AValue, bool AWithType,
                              bool AWithValue)
{
    std::string text;
    if (AWithType) text += VariableTypeToGLSL(AVariable) + " ";
    text += AVariable.Name;
    if (AVariable.IsArray) text += "[" + IntToStr(AVariable.ArrayCount) + "]";
    else if (AVariable._Type == stStruct) text += "{}";
    if (AWithValue) {
        if (!AValue.IsEmpty()) text += " = " + SerializeConstant(AValue);
        else if (!AVariable.Value.IsEmpty()) text += " = " + SerializeConstant(AVariable.Value);
    }
    return text;
}

namespace {

// A component of a vector or matrix constructor: fixed with two decimals and
// without digit grouping, which GLSL could not read.
std::string N(float AValue)
{
    return FloatToStrFixed(double(AValue), 2);
}

std::string FloatConstant(double AValue)
{
    std::string text = FloatToStrGeneral(AValue, 15);
    // An exponent form ("1E-6") is already a GLSL float literal; ".0" would break it.
    if (text.find('.') == std::string::npos && text.find('E') == std::string::npos) text += ".0";
    return text;
}

std::string RecordConstant(const TValue& AValue)
{
    if (AValue.IsType<TPoint>()) {
        auto p = AValue.AsType<TPoint>();
        return Format("ivec2(%d, %d)", p.X, p.Y);
    }
    if (AValue.IsType<TPointF>()) {
        auto p = AValue.AsType<TPointF>();
        return "vec2(" + N(p.X) + ", " + N(p.Y) + ")";
    }
    if (AValue.IsType<TPoint3D>()) {
        auto p = AValue.AsType<TPoint3D>();
        return "vec3(" + N(p.X) + ", " + N(p.Y) + ", " + N(p.Z) + ")";
    }
    if (AValue.IsType<TVector3D>()) {
        auto v = AValue.AsType<TVector3D>();
        return "vec4(" + N(v.X) + ", " + N(v.Y) + ", " + N(v.Z) + ", " + N(v.W) + ")";
    }
    if (AValue.IsType<TAlphaColorF>()) {
        auto c = AValue.AsType<TAlphaColorF>();
        return "vec4(" + N(c.R) + ", " + N(c.G) + ", " + N(c.B) + ", " + N(c.A) + ")";
    }
    if (AValue.IsType<TMatrix>()) {
        auto m = AValue.AsType<TMatrix>();
        std::string text = "mat3(";
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) text += (r || c ? ", " : "") + N(m.M[r][c]);
        return text + ")";
    }
    if (AValue.IsType<TMatrix3D>()) {
        auto m = AValue.AsType<TMatrix3D>();
        std::string text = "mat4(";
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) text += (r || c ? ", " : "") + N(m.M[r][c]);
        return text + ")";
    }
    throw Exception("invalid constant value type");
}

} // namespace

std::string SerializeConstant(const TValue& AValue)
{
    try {
        switch (AValue.Kind()) {
        case tkInteger:
        case tkInt64: return AValue.IsType<uint64_t>() ? std::to_string(AValue.AsUInt64()) : IntToStr(AValue.AsInt64());
        case tkEnumeration:
            if (AValue.IsType<bool>()) return AValue.AsBoolean() ? "true" : "false";
            throw Exception("invalid constant value type");
        case tkFloat: return FloatConstant(AValue.AsExtended());
        case tkRecord: return RecordConstant(AValue);
        default:
            throw Exception(Format("invalid constant value type \"%s\" [%d]", AValue.TypeName(), int(AValue.Kind())));
        }
    } catch (const Exception& e) {
        throw Exception(Format("failed to serialize constant value: %s", e.Message()));
    }
}

// ---------------------------------------------------------------------------
// Builders

TKorvaneGLSLNodeBuilder::TKorvaneGLSLNodeBuilder(TObject* AMaterial, const TKorvaneGLPlatformStrings* AStrings)
    : TKorvaneNodeBuilder(AMaterial), FStrings(AStrings)
{
}

void TKorvaneGLSLNodeBuilder::InitDefines()
{
    AddDefine(KorvanePlatformDefine);

    TKorvaneCurrentGLContextStrings current;
    const TKorvaneGLPlatformStrings& strings = FStrings ? *FStrings : current;
    FVendor = strings.VendorName();
    FRenderer = strings.RendererName();
    FVersion = strings.Version();
    // Only blanks split the list; runs of blanks leave no empty names behind.
    FExtensions.clear();
    const std::string extensions = strings.ExtensionString();
    size_t start = 0;
    while (start <= extensions.size()) {
        size_t end = extensions.find(' ', start);
        if (end == std::string::npos) end = extensions.size();
        if (end > start) FExtensions.push_back(extensions.substr(start, end - start));
        start = end + 1;
    }

    AddDefine(UpperCase(FVendor));
    AddDefine(UpperCase(FRenderer));
    const size_t versionStart = FVersion.find_first_not_of(' ');
    if (versionStart != std::string::npos) {
        const size_t versionEnd = FVersion.find(' ', versionStart);
        AddDefine(UpperCase(FVersion.substr(versionStart, versionEnd - versionStart)));
    }
    for (const auto& extension : FExtensions) AddDefine(UpperCase(extension));
}

std::unique_ptr<TKorvaneGLSLVertexShader> TKorvaneGLSLVertexShader::Create(TObject* AMaterial,
                                                                          const TKorvaneGLPlatformStrings* AStrings)
{
    std::unique_ptr<TKorvaneGLSLVertexShader> builder(new TKorvaneGLSLVertexShader(AMaterial, AStrings));
    builder->Initialize();
    return builder;
}

void TKorvaneGLSLVertexShader::InitDefines()
{
    TKorvaneGLSLNodeBuilder::InitDefines();
    AddDefine("VERTEXSHADER");
    AddDefine("VARYING_STRUCTS");
    AddDefine("INOUTVARS");
}

void TKorvaneGLSLVertexShader::BuildNodes()
{
    TKorvaneCompositeNode* root = SourceCode();
    root->AddNew<TKorvaneGLSLPragma>();
    FGlobals = root->AddNew<TKorvaneGlobalsNode>();

    TKorvaneCompositeNode* types = FGlobals->Types();
    types->AddNew<TKorvaneGLSLLightType>();
    types->AddNew<TKorvaneGLSLTextureType>();
    types->AddNew<TKorvaneGLSLMaterialType>();
    types->AddNew<TKorvaneGLSLPassDataType>();
    auto* locals = types->AddNew<TKorvaneGLSLVertexShaderLocalsStructNode>();

    FGlobals->Uniforms()->AddNew<TKorvaneGLSLUBOShaderData>();
    FGlobals->Attributes()->AddNew<TKorvaneGLSLAttributesNode>();
    FGlobals->Varying()->AddNew<TKorvaneGLSLInOutNode>(TKorvaneGLSLInOutMode::VaryingOut);

    TKorvaneCompositeNode* functions = FGlobals->Functions();
    functions->AddNew<TKorvaneGLSLTransformFuncsNode>();
    functions->AddNew<TKorvaneGLSLGetTextureFuncsNode>();
    functions->AddNew<TKorvaneVertexShaderFuncNode>();

    FEntryPoint = root->AddNew<TKorvaneGLSLMainNode>();
    FEntryPoint->AddNew<TKorvaneGLSLVertexShaderLocalsNode>(locals);
    FEntryPoint->AddNew<TKorvaneGLSLMatricesOutNode>();
    FEntryPoint->AddNew<TKorvaneGLSLGetVertexPositionNode>();
    FEntryPoint->AddNew<TKorvaneGLSLDisplacementMappingGetNode>();
    FEntryPoint->AddNew<TKorvaneGLSLDisplacementMappingApplyNode>();
    FEntryPoint->AddNew<TKorvaneGLSLClippingPlaneGetNode>();
    FEntryPoint->AddNew<TKorvaneGLSLVertexShaderOutputNode>();
    FEntryPoint->AddNew<TKorvaneGLSLAdjustPointSizeNode>();
    FSurfaceShader = FEntryPoint->AddNew<TKorvaneSurfaceShaderNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLVertexShaderExec>();
    FSurfaceShader->AddNew<TKorvaneGLSLVertexPositionOutputNode>();
}

std::unique_ptr<TKorvaneGLSLFragmentShader> TKorvaneGLSLFragmentShader::Create(
    TObject* AMaterial, const TKorvaneGLPlatformStrings* AStrings)
{
    std::unique_ptr<TKorvaneGLSLFragmentShader> builder(new TKorvaneGLSLFragmentShader(AMaterial, AStrings));
    builder->Initialize();
    return builder;
}

void TKorvaneGLSLFragmentShader::InitDefines()
{
    TKorvaneGLSLNodeBuilder::InitDefines();
    AddDefine("FRAGMENTSHADER");
    AddDefine("VARYING_STRUCTS");
    AddDefine("INOUTVARS");
    AddDefine("USE_EMISSIVE");
}

void TKorvaneGLSLFragmentShader::BuildNodes()
{
    TKorvaneCompositeNode* root = SourceCode();
    root->AddNew<TKorvaneGLSLPragma>();
    FGlobals = root->AddNew<TKorvaneGlobalsNode>();

    // The outputs follow the seven sections, so they are written after the functions.
    struct Output {
        const char* Name;
        TKorvaneShaderNodeVariableType Type;
        bool Deferred;
    };
    static const Output outputs[] = {
        {"o_Albedo", stVec4, false},     {"o_Alpha", stFloat, false},   {"o_Position", stVec4, false},
        {"o_Normals", stVec3, false},    {"o_Emissive", stVec3, false}, {"o_Components", stVec4, true},
        {"o_Ambient", stVec3, true},     {"o_Specular", stVec3, true},
    };
    int32_t location = 0;
    for (const auto& output : outputs) {
        auto* node = FGlobals->AddNew<TKorvaneGLSLLayoutLocation>(TKorvaneGLSLLayoutKind::LayoutOutput, location++,
                                                                  output.Name, output.Type);
        if (output.Deferred) node->AddDefine("DEFERRED");
        node->AddNotDefine("DEPRECATED");
    }

    TKorvaneCompositeNode* types = FGlobals->Types();
    types->AddNew<TKorvaneGLSLLightType>();
    types->AddNew<TKorvaneGLSLTextureType>();
    types->AddNew<TKorvaneGLSLMaterialType>();
    types->AddNew<TKorvaneGLSLPassDataType>();
    auto* locals = types->AddNew<TKorvaneGLSLFragmentShaderLocalsStructNode>();

    FGlobals->Uniforms()->AddNew<TKorvaneGLSLUBOShaderData>();
    FGlobals->Varying()->AddNew<TKorvaneGLSLInOutNode>(TKorvaneGLSLInOutMode::VaryingIn);

    TKorvaneCompositeNode* functions = FGlobals->Functions();
    functions->AddNew<TKorvaneGLSLPackingFuncsNode>();
    functions->AddNew<TKorvaneGLSLGetDirLightDirectionFuncNode>();
    functions->AddNew<TKorvaneGLSLGetPointLightDirectionFuncNode>();
    functions->AddNew<TKorvaneGLSLGetSpotLightDirectionFuncNode>();
    functions->AddNew<TKorvaneGLSLGetLightDirectionFuncNode>();
    functions->AddNew<TKorvaneGLSLGetSpotFalloffFuncNode>();
    functions->AddNew<TKorvaneGLSLGetLightAttenuationFuncNode>();
    functions->AddNew<TKorvaneGLSLGetShadingFuncsNode>();
    functions->AddNew<TKorvaneGLSLGetTextureFuncsNode>();
    functions->AddNew<TKorvaneGLSLGetTextureAtlasFuncNode>();
    functions->AddNew<TKorvaneGLSLBasicShadowFuncsNode>();
    functions->AddNew<TKorvaneGLSLBumpFuncsNode>();
    functions->AddNew<TKorvaneGLSLPOMFuncsNode>();
    functions->AddNew<TKorvaneGLSLPBRFuncsNode>();
    functions->AddNew<TKorvaneGLSLToneMappingFuncsNode>();
    functions->AddNew<TKorvaneGLSLFogFuncNode>();
    functions->AddNew<TKorvaneSurfaceShaderFuncNode>();

    FEntryPoint = root->AddNew<TKorvaneGLSLMainNode>();
    FEntryPoint->AddNew<TKorvaneGLSLClippingPlaneNode>();
    FEntryPoint->AddNew<TKorvaneGLSLMatricesOutNode>();
    FEntryPoint->AddNew<TKorvaneGLSLLightingLocalsNode>(locals);
    FEntryPoint->AddNew<TKorvaneGLSLSpecularColorNode>();
    FEntryPoint->AddNew<TKorvaneGLSLEmissiveColorNode>();
    FEntryPoint->AddNew<TKorvaneGLSLGetTransfVertPosNode>();
    FEntryPoint->AddNew<TKorvaneGLSLGetNormalNode>();
    FEntryPoint->AddNew<TKorvaneGLSLGetFragViewDirNode>();
    FEntryPoint->AddNew<TKorvaneGLSLTextureCoordsNode>();
    FEntryPoint->AddNew<TKorvaneGLSLPOMApplyNode>();
    FEntryPoint->AddNew<TKorvaneGLSLGetBumpNormalNode>();
    FEntryPoint->AddNew<TKorvaneGLSLPBRPrepareNode>();
    auto* loop = FEntryPoint->AddNew<TKorvaneGLSLLightsLoopNode>();
    loop->AddNew<TKorvaneGLSLGetLightShadingNode>();
    loop->AddNew<TKorvaneGLSLLightingSumNode>();
    loop->AddNew<TKorvaneGLSLAddShadowNode>();

    FSurfaceShader = FEntryPoint->AddNew<TKorvaneSurfaceShaderNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLGetBaseColorNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLAlphaCutoffNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLSpecularMapNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLAddEnvironmentNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLAddReflectionNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLAddRefractionNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLSurfaceShaderExec>();
    FSurfaceShader->AddNew<TKorvaneGLSLMergedColorOutputNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLTonemappingNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLBrightnessColorNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLFragColorOutputNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLColorClipNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLFogApplyNode>();
    FSurfaceShader->AddNew<TKorvaneGLSLWeightedBlendedOITNode>();
}

// ---------------------------------------------------------------------------
// Declaration nodes

std::string TKorvaneGLSLPragma::ToString()
{
    return std::string("#version 430") + CRLF + CRLF + CRLF;
}

std::unique_ptr<TKorvaneGLSLConstantValue> TKorvaneGLSLConstantValue::Build(TKorvaneNodeBuilder* ABuilder,
                                                                            const std::string& AName,
                                                                            const TValue& AValue)
{
    auto node = std::make_unique<TKorvaneGLSLConstantValue>(ABuilder);
    node->SetId(AName);
    node->SetValue(AValue);
    return node;
}

std::string TKorvaneGLSLConstantValue::ToString()
{
    return SerializeConstant(FValue);
}

std::unique_ptr<TKorvaneGLSLVariable> TKorvaneGLSLVariable::Build(TKorvaneNodeBuilder* ABuilder,
                                                                  const std::string& AName,
                                                                  TKorvaneShaderNodeVariableType AType)
{
    auto node = std::make_unique<TKorvaneGLSLVariable>(ABuilder);
    node->SetId(AName);
    node->FDefinition.Name = AName;
    node->FDefinition._Type = AType;
    return node;
}

std::string TKorvaneGLSLVariable::ToString()
{
    return SerializeVariable(FDefinition, GetConditionalValue(), true, true);
}

TKorvaneGLSLLayoutLocation::TKorvaneGLSLLayoutLocation(TKorvaneNodeBuilder* ABuilder, TKorvaneGLSLLayoutKind AKind,
                                                       int32_t AIndex, const std::string& AName,
                                                       TKorvaneShaderNodeVariableType AType)
    : TKorvaneNodeEntity(ABuilder), FKind(AKind), FIndex(AIndex),
      FVariable(TKorvaneGLSLVariable::Build(ABuilder, AName, AType))
{
}

std::string TKorvaneGLSLLayoutLocation::ToString()
{
    if (!FVariable) throw Exception("layout location, missing variable declaration");
    const std::string variable = FVariable->ToString();
    std::string text;
    switch (FKind) {
    case TKorvaneGLSLLayoutKind::LayoutInput:
        text = FIsLayout ? Format("layout (location = %d) in %s;", FIndex, variable) : "in " + variable + ";";
        break;
    case TKorvaneGLSLLayoutKind::LayoutOutput:
        text = FIsLayout ? Format("layout (location = %d) out %s;", FIndex, variable) : "out " + variable + ";";
        break;
    default: throw Exception("invalid kind of layout location");
    }
    return text + CRLF + CRLF;
}

namespace {

// Calls AWrite for every member of ANode that passes its define tests.
template <typename F>
void ForPassingMembers(const TKorvaneDeclarationNode& ANode, F&& AWrite)
{
    for (int i = 0; i < ANode.Count(); ++i) {
        TKorvaneVariableNode* member = ANode.Declaration(i);
        if (member->Passes()) AWrite(*member);
    }
}

// Appends one line APrefix + declaration + ";" for every passing member of
// ANode, with its type and its conditional (or default) value.
void AppendDeclarations(std::string& AText, const TKorvaneDeclarationNode& ANode, std::string_view APrefix)
{
    ForPassingMembers(ANode, [&](TKorvaneVariableNode& m) {
        AText += APrefix;
        AText += SerializeVariable(m.Definition(), m.GetConditionalValue(), true, true);
        AText += ';';
        AText += CRLF;
    });
}

} // namespace

std::string TKorvaneGLSLStructType::ToString()
{
    std::string text = "struct " + FId + "{" + CRLF;
    ForPassingMembers(*this, [&](TKorvaneVariableNode& m) {
        text += "  " + SerializeVariable(m.Definition(), TValue(), true, false) + ";" + CRLF;
    });
    return text + "};" + CRLF + CRLF;
}

TKorvaneGLSLLightType::TKorvaneGLSLLightType(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLStructType(ABuilder)
{
    FId = "Light";
    AddDeclaration("_LightType", stInt);
    AddDeclaration("_Position", stVec4);
    AddDeclaration("_Direction", stVec4);
    AddDeclaration("_Ambient", stVec4);
    AddDeclaration("_Diffuse", stVec4);
    AddDeclaration("_Specular", stVec4);
    AddDeclaration("_Scattering", stVec4);
    AddDeclaration("_SpotCutOff", stFloat);
    AddDeclaration("_SpotCosCutoff", stFloat);
    AddDeclaration("_SpotExponent", stFloat);
    AddDeclaration("_ConstantAttenuation", stFloat);
    AddDeclaration("_LinearAttenuation", stFloat);
    AddDeclaration("_QuadraticAttenuation", stFloat);
    AddDeclaration("_Intensity", stFloat);
    AddDeclaration("_Enabled", stInt);
}

TKorvaneGLSLTextureType::TKorvaneGLSLTextureType(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLStructType(ABuilder)
{
    FId = "Texture";
    AddDeclaration("_Feature", stVec4);
    AddDeclaration("_Tiling", stVec2);
}

TKorvaneGLSLMaterialType::TKorvaneGLSLMaterialType(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLStructType(ABuilder)
{
    FId = "Material";
    AddDeclaration("_Emissive", stVec4);
    AddDeclaration("_Ambient", stVec4);
    AddDeclaration("_Diffuse", stVec4);
    AddDeclaration("_Specular", stVec4);
    AddDeclaration("_Clipping", stVec4);
    AddDeclaration("_AlphaCutoff", stVec2);
    AddDeclaration("_ToneMapExp", stFloat);
    AddDeclaration("_Displacement", stVec4);
    AddDeclaration("_Features", stVec4);
    AddDeclaration("_Shininess", stFloat);
    AddDeclaration("_Textures", stInt);
    AddDeclaration("_PoolTexturesOffset", stInt);
    AddDeclaration("_PoolTextures", stInt);
    AddDeclaration("_Texture", stCustom, "Texture", true, 16, TValue());
}

TKorvaneGLSLPassDataType::TKorvaneGLSLPassDataType(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLStructType(ABuilder)
{
    FId = "PassData";
    AddDeclaration("_ShadowMapMatrix", stMat44, "", true, 8, TValue());
    AddDeclaration("_ReflectTextureMatrix", stMat44);
    AddDeclaration("_RefractTextureMatrix", stMat44);
    AddDeclaration("_ReflectionPower", stFloat);
    AddDeclaration("_RefractionPower", stFloat);
    AddDeclaration("_TranslucentDistance", stFloat);
    AddDeclaration("_NormalIntensity", stFloat);
    AddDeclaration("_ParallaxLevels", stInt);
    AddDeclaration("_PBRMetallic", stFloat);
    AddDeclaration("_PBRRoughness", stFloat);
    AddDeclaration("_PBRAO", stFloat);
}

TKorvaneGLSLUBO::TKorvaneGLSLUBO(TKorvaneNodeBuilder* ABuilder) : TKorvaneDeclarationNode(ABuilder)
{
    if (ABuilder) FBinding = ABuilder->IncNumberOfUBOs();
}

TKorvaneGLSLUBO::TKorvaneGLSLUBO(TKorvaneNodeBuilder* ABuilder, uintptr_t AReferenceID) : TKorvaneGLSLUBO(ABuilder)
{
    FReferenceID = AReferenceID;
}

std::string TKorvaneGLSLUBO::ToString()
{
    std::string text = Format("layout (binding=%d, std140) uniform ", FBinding) + FId + "{" + CRLF;
    AppendDeclarations(text, *this, "  ");
    return text + "};" + CRLF + CRLF;
}

TKorvaneGLSLUBOShaderData::TKorvaneGLSLUBOShaderData(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLUBO(ABuilder)
{
    // Member for member the TKorvaneShaderData record: change both together.
    FId = "ShaderData";
    AddDeclaration("_ModelViewProjectionMatrix", stMat44);
    AddDeclaration("_ViewMatrix", stMat44);
    AddDeclaration("_ProjectionMatrix", stMat44);
    AddDeclaration("_TimeInfo", stVec4);
    AddDeclaration("_EyePos", stVec4);
    AddDeclaration("_ViewDir", stVec3);
    AddDeclaration("_ShadingModel", stInt);
    AddDeclaration("_Material", stCustom, "Material", true, 1, TValue());
    AddDeclaration("_Lights", stCustom, "Light", true, 32, TValue());
    AddDeclaration("_LightsCount", stInt);
    AddDeclaration("_Options", stInt);
    AddDeclaration("_ShadingIntensity", stFloat);
    AddDeclaration("_Brightness", stFloat);
    AddDeclaration("_FogMode", stInt);
    AddDeclaration("_FogDensity", stFloat);
    AddDeclaration("_FogStart", stFloat);
    AddDeclaration("_FogEnd", stFloat);
    AddDeclaration("_FogColor", stVec4);
    AddDeclaration("_FrustumMin", stVec4);
    AddDeclaration("_FrustumMax", stVec4);
    AddDeclaration("_SceneMin", stVec4);
    AddDeclaration("_SceneMax", stVec4);
    AddDeclaration("_BoundaryMin", stVec4);
    AddDeclaration("_BoundaryMax", stVec4);
    AddDeclaration("_ViewSize", stVec4);
    AddDeclaration("_ClippingPlane", stVec4);
    AddDeclaration("_PassData", stCustom, "PassData", true, 1, TValue());
}

std::string TKorvaneGLSLUniformsNode::ToString()
{
    std::string text;
    AppendDeclarations(text, *this, "uniform ");
    return text;
}

TKorvaneGLSLVertexShaderLocalsStructNode::TKorvaneGLSLVertexShaderLocalsStructNode(TKorvaneNodeBuilder* ABuilder)
    : TKorvaneGLSLLocalsStructNode(ABuilder)
{
    FId = "TLocals";
    auto add = [&](const char* AName, TKorvaneShaderNodeVariableType AType, const char* AAlso = nullptr) {
        auto* member = AddDeclaration(AName, AType);
        member->AddDefine("VERTEXSHADER");
        if (AAlso) member->AddDefine(AAlso);
    };
    add("Position", stVec4);
    add("TransfVertexPos", stVec4);
    add("WorldViewProjVertPos", stVec4);
    add("TexCoord0", stVec2);
    add("TexCoord1", stVec2, "USE_TEXCOORD1");
    add("TexCoord2", stVec2, "USE_TEXCOORD2");
    add("TexCoord3", stVec2, "USE_TEXCOORD3");
    add("Color0", stVec4);
    add("Normal", stVec3);
    add("Tangent", stVec3);
    add("Binormal", stVec3);
    add("Displace", stVec4, "DISPLACEMENT");
    add("ClippingPlane", stVec4, "CLIPPINGPLANE");
}

TKorvaneGLSLFragmentShaderLocalsStructNode::TKorvaneGLSLFragmentShaderLocalsStructNode(TKorvaneNodeBuilder* ABuilder)
    : TKorvaneGLSLLocalsStructNode(ABuilder)
{
    FId = "TLocals";
    const TValue one = TValue::From<float>(1.0f);
    const TValue zero = TValue::From<float>(0.0f);
    const TValue black3 = TValue::From(TPoint3D(0, 0, 0));
    const TValue white3 = TValue::From(TPoint3D(1, 1, 1));
    auto add = [&](const char* AName, TKorvaneShaderNodeVariableType AType, std::initializer_list<const char*> ADefines,
                   const TValue& AValue = TValue()) {
        auto* member = AddDeclaration(AName, AType, "", false, 0, AValue);
        for (const char* define : ADefines) member->AddDefine(define);
        return member;
    };
    add("LightDir", stVec4, {"LIGHTING"});
    add("LightVec", stVec3, {"LIGHTING"});
    add("LightType", stInt, {"LIGHTING"});
    add("LightDist", stFloat, {"LIGHTING"});
    add("Attenuation", stFloat, {"LIGHTING"}, one);
    add("SceneAttenuation", stFloat, {"LIGHTING"}, zero);
    add("Ambient", stVec3, {"LIGHTING"}, black3)->SetConditionalValue("DEFERRED", white3);
    add("Diffuse", stVec3, {"LIGHTING"}, black3)->SetConditionalValue("DEFERRED", white3);
    add("Specular", stVec3, {"LIGHTING"}, black3)->SetConditionalValue("DEFERRED", white3);
    add("Emissive", stVec3, {}, black3)->SetConditionalValue("DEFERRED", black3);
    add("TexCoord0", stVec2, {"USE_TEXTURE"});
    add("TexCoord1", stVec2, {"USE_TEXCOORD1", "USE_TEXTURE"});
    add("TexCoord2", stVec2, {"USE_TEXCOORD2", "USE_TEXTURE"});
    add("TexCoord3", stVec2, {"USE_TEXCOORD3", "USE_TEXTURE"});
    add("TransfVertPos", stVec3, {});
    add("FragDepth", stFloat, {});
    add("Normal", stVec3, {});
    add("FragViewDir", stVec3, {});
    add("SpecularColor", stVec3, {"LIGHTING"}, black3);
    add("BaseColor", stVec4, {}, TValue::From(TAlphaColorF(1, 1, 1, 1)));
    add("SumColor", stVec3, {}, white3);
    add("Alpha", stFloat, {}, one);
    add("Shading", stVec2, {"LIGHTING"});
    add("ShadowSum", stFloat, {"LIGHTING", "SHADOW"}, zero);
    add("BumpSum", stVec2, {}, TValue::From(TPointF(1, 1)));
}

TKorvaneGLSLLocalsNode::TKorvaneGLSLLocalsNode(TKorvaneNodeBuilder* ABuilder, TKorvaneGLSLStructType* AStruct)
    : TKorvaneDeclarationNode(ABuilder), FStruct(AStruct)
{
}

std::string TKorvaneGLSLLocalsNode::ToString()
{
    std::string text;
    if (FStruct) {
        ForPassingMembers(*FStruct, [&](TKorvaneVariableNode& m) {
            const TValue conditional = m.GetConditionalValue();
            if (conditional.IsEmpty() && m.Definition().Value.IsEmpty()) return;
            text += "  LOCALS." + SerializeVariable(m.Definition(), conditional, false, true) + ";" + CRLF;
        });
    } else {
        AppendDeclarations(text, *this, "  ");
    }
    return text;
}

TKorvaneGLSLAttributesNode::TKorvaneGLSLAttributesNode(TKorvaneNodeBuilder* ABuilder)
    : TKorvaneDeclarationNode(ABuilder)
{
    AddDeclaration("a_Position", stVec3);
    AddDeclaration("a_Normal", stVec3);
    AddDeclaration("a_Color", stVec4);
    AddDeclaration("a_Color1", stVec4);
    AddDeclaration("a_Color2", stVec4);
    AddDeclaration("a_Color3", stVec4);
    AddDeclaration("a_TexCoord0", stVec2);
    AddDeclaration("a_TexCoord1", stVec2);
    AddDeclaration("a_TexCoord2", stVec2);
    AddDeclaration("a_TexCoord3", stVec2);
    AddDeclaration("a_Binormal", stVec3);
    AddDeclaration("a_Tangent", stVec3);
    AddDeclaration("a_ModelMatrix", stMat44);
}

std::string TKorvaneGLSLAttributesNode::ToString()
{
    const char* keyword = Def("INOUTVARS") ? "in " : "attribute ";
    std::string text;
    AppendDeclarations(text, *this, keyword);
    return text + CRLF;
}

TKorvaneGLSLInOutNode::TKorvaneGLSLInOutNode(TKorvaneNodeBuilder* ABuilder, TKorvaneGLSLInOutMode AMode)
    : TKorvaneGLSLStructType(ABuilder), FMode(AMode)
{
    auto add = [&](const char* AName, TKorvaneShaderNodeVariableType AType, std::initializer_list<const char*> ADefines,
                   std::initializer_list<const char*> ANotDefines = {}) {
        auto* member = AddDeclaration(AName, AType);
        for (const char* define : ADefines) member->AddDefine(define);
        for (const char* define : ANotDefines) member->AddNotDefine(define);
    };
    add("v_VertPos", stVec4, {});
    add("v_TransfVertPos", stVec3, {});
    add("v_WorldViewProjVertPos", stVec4, {});
    add("v_TexCoord0", stVec2, {});
    add("v_TexCoord1", stVec2, {"USE_TEXCOORD1"});
    add("v_TexCoord2", stVec2, {"USE_TEXCOORD2"});
    add("v_TexCoord3", stVec2, {"USE_TEXCOORD3"});
    add("v_Color0", stVec4, {});
    add("v_TBN", stMat33, {});
    add("v_TBN_UT", stMat33, {});
    add("v_ModelMatrix", stMat44, {});
    add("v_ReflProjTextureCoords", stVec4, {"REFLECTION"});
    add("v_ClipDistance", stFloat, {"CLIPPINGPLANE"});
    add("v_Displace", stVec4, {"DISPLACEMENT", "DISPLACE_VAR", "VARYING_STRUCTS"});
    add("v_ViewDir", stVec3, {}, {"VARYING_STRUCTS"});
    add("v_ParticleSettings", stVec4, {"USE_POINTSPRITE", "VARYING_STRUCTS"});
    add("v_ParticleTimeInfo", stVec4, {"USE_POINTSPRITE", "VARYING_STRUCTS"});
}

std::string TKorvaneGLSLInOutNode::ToString()
{
    std::string keyword;
    if (Def("INOUTVARS")) {
        switch (FMode) {
        case TKorvaneGLSLInOutMode::VaryingIn: keyword = "in "; break;
        case TKorvaneGLSLInOutMode::VaryingOut: keyword = "out "; break;
        default: throw Exception("invalid output/input indicator");
        }
    } else {
        keyword = "varying ";
    }
    std::string text;
    if (Def("VARYING_STRUCTS")) {
        text = std::string("struct TVaryingStruct{") + CRLF;
        AppendDeclarations(text, *this, "  ");
        text += std::string("};") + CRLF + keyword + "TVaryingStruct vars;" + CRLF;
    } else {
        AppendDeclarations(text, *this, keyword);
    }
    return text;
}

TKorvaneGLSLTextureUniformNode::TKorvaneGLSLTextureUniformNode(TKorvaneNodeBuilder* ABuilder)
    : TKorvaneNodeEntity(ABuilder)
{
    FId = "Texture0";
}

std::string TKorvaneGLSLTextureUniformNode::ToString()
{
    switch (FTextureKind) {
    case TKorvaneTextureKind::Texture3D:
        return Format(FIsUnsigned ? "uniform usampler3D _%s;" : "uniform sampler3D _%s;", FId) + CRLF;
    case TKorvaneTextureKind::CubeMap: return Format("uniform samplerCube _%s;", FId) + CRLF;
    case TKorvaneTextureKind::ImageTexture3D:
        return Format(FIsUnsigned ? "layout(rgba8) uniform uimage3D _%s;" : "layout(rgba8) uniform image3D _%s;", FId);
    case TKorvaneTextureKind::Array2D: return Format("uniform sampler2DArray _%s;", FId) + CRLF;
    default: return Format("uniform sampler2D _%s;", FId) + CRLF;
    }
}

std::string TKorvaneGLSLMainNode::ToString()
{
    return std::string("void main(){") + CRLF + "  TLocals LOCALS;" + CRLF + TKorvaneCompositeNode::ToString() + "}" +
           CRLF;
}


// ===========================================================================
// Statement and function nodes
// ===========================================================================

namespace {

// Collects GLSL lines ended by CR LF.
class TGLSLText {
public:
    // One statement indented by AIndent blanks.
    TGLSLText& L(const std::string& ALine, int AIndent = 2)
    {
        FText.append(static_cast<size_t>(AIndent), ' ');
        FText += ALine;
        FText += CRLF;
        return *this;
    }
    TGLSLText& Blank()
    {
        FText += CRLF;
        return *this;
    }
    // A block of text written with "\n" line ends (function bodies).
    TGLSLText& Block(std::string_view AText)
    {
        FText.reserve(FText.size() + AText.size() + AText.size() / 16);
        for (size_t at = 0; at < AText.size();) {
            const size_t end = AText.find('\n', at);
            if (end == std::string_view::npos) {
                FText.append(AText.substr(at));
                break;
            }
            FText.append(AText.substr(at, end - at));
            FText += CRLF;
            at = end + 1;
        }
        return *this;
    }
    std::string Take() { return std::move(FText); }

private:
    std::string FText;
};

// A varying as the stage reads or writes it: a member of "vars" when the
// varyings are one struct, its bare name otherwise.
std::string Vary(const TKorvaneNodeBuilder* ABuilder, const char* AName)
{
    return (ABuilder && ABuilder->Defined("VARYING_STRUCTS") ? std::string("vars.") : std::string()) + AName;
}

// The tone-mapping defines in the order they are tested.
const char* const ToneMapDefines[] = {
    "TONEMAP_EXPOSURE",          "TONEMAP_ACES_NARKOWICZ",       "TONEMAP_ACES_HILL",
    "TONEMAP_ACES_HILL_EXPOSURE_BOOST", "TONEMAP_REINHARD",      "TONEMAP_LUMABASED_REINHARD",
    "TONEMAP_WP_LUMABASED_REINHARD",    "TONEMAP_ROMBINDAHOUSE", "TONEMAP_FILMIC",
    "TONEMAP_UNCHARTED2",
};

// The first tone-mapping define of the builder, or null.
const char* FirstToneMap(const TKorvaneNodeBuilder* ABuilder)
{
    for (const char* define : ToneMapDefines)
        if (ABuilder && ABuilder->Defined(define)) return define;
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// Vertex stage

std::string TKorvaneGLSLMatricesOutNode::ToString()
{
    if (!Def("VERTEXSHADER")) return {};
    TGLSLText t;
    t.Blank();
    if (Def("SHADOW")) t.Blank();
    return t.Take();
}

std::string TKorvaneGLSLGetVertexPositionNode::ToString()
{
    return TGLSLText().L("LOCALS.Position = vec4(a_Position, 1.0);").Take();
}

std::string TKorvaneGLSLDisplacementMappingGetNode::ToString()
{
    if (!Def("DISPLACEMENT")) return {};
    return TGLSLText()
        .L("LOCALS.Displace = vec4(tex2D(_DisplacementMapTexture, a_TexCoord0.xy).rgb, 0.0);")
        .L("LOCALS.Displace = _Material[0]._Displacement.w * (vec4(a_Normal, 0.0) * LOCALS.Displace * "
           "vec4(_Material[0]._Displacement.xyz, 0.0));")
        .Take();
}

std::string TKorvaneGLSLDisplacementMappingApplyNode::ToString()
{
    if (!Def("DISPLACEMENT")) return {};
    return TGLSLText().L("LOCALS.Position += LOCALS.Displace;").Blank().Take();
}

std::string TKorvaneGLSLClippingPlaneGetNode::ToString()
{
    if (!Def("CLIPPINGPLANE")) return {};
    return TGLSLText().L("LOCALS.ClippingPlane = _ClippingPlane;").Take();
}

std::string TKorvaneGLSLVertexShaderOutputNode::ToString()
{
    // One buffer for the node's life: the material asks for the text at every rebuild.
    if (FBuffer.capacity() < 4096) FBuffer.reserve(4096);
    FBuffer.clear();

    const bool structs = Def("VARYING_STRUCTS");
    auto line = [&](const std::string& s) {
        FBuffer += "  ";
        FBuffer += s;
        FBuffer += CRLF;
    };

    if (structs) {
        line("LOCALS.TransfVertexPos = a_ModelMatrix * LOCALS.Position;");
        line("LOCALS.TransfVertexPos.xyz = LOCALS.TransfVertexPos.xyz / LOCALS.TransfVertexPos.w;");
        line("LOCALS.WorldViewProjVertPos = _ProjectionMatrix * _ViewMatrix * a_ModelMatrix * LOCALS.Position;");
    } else {
        line("LOCALS.TransfVertexPos = TransformModel(a_ModelMatrix, LOCALS.Position);");
        line("LOCALS.TransfVertexPos.xyz = LOCALS.TransfVertexPos.xyz / LOCALS.TransfVertexPos.w;");
        line("v_ViewDir = _ViewDir;");
        line("LOCALS.WorldViewProjVertPos = TransformModelViewProjection(_ProjectionMatrix, _ViewMatrix, "
             "a_ModelMatrix, LOCALS.Position);");
    }
    line("LOCALS.TexCoord0 = a_TexCoord0;");
    line("LOCALS.Color0 = a_Color;");
    if (Def("USE_TEXCOORD1")) line("LOCALS.TexCoord1 = a_TexCoord1;");
    if (Def("USE_TEXCOORD2")) line("LOCALS.TexCoord2 = a_TexCoord2;");
    if (Def("USE_TEXCOORD3")) line("LOCALS.TexCoord3 = a_TexCoord3;");

    if (Def("POM") || Def("NORMALMAP")) {
        line("LOCALS.Normal = normalize(a_ModelMatrix * vec4(a_Normal, 0.0)).xyz;");
        line("LOCALS.Tangent = normalize(a_ModelMatrix * vec4(a_Tangent, 0.0)).xyz;");
    } else {
        line("mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));");
        line("mat3 l_NormalMatrix = mat3(l_TIMMat);");
        if (structs) {
            line("LOCALS.Normal = normalize(l_NormalMatrix * a_Normal);");
            line("LOCALS.Tangent = normalize(l_NormalMatrix * a_Tangent);");
        } else {
            line("LOCALS.Normal = TransformModelNormal(l_NormalMatrix, a_Normal);");
            line("LOCALS.Tangent = TransformModelNormal(l_NormalMatrix, a_Tangent);");
        }
    }
    line("LOCALS.Binormal = cross(a_Normal, a_Tangent);");
    line("LOCALS.Binormal = normalize(a_ModelMatrix * vec4(LOCALS.Binormal, 0.0)).xyz;");
    FBuffer += CRLF;

    if (Def("REFLECTION"))
        line(Vary(FBuilder, "v_ReflProjTextureCoords") +
             " = (_PassData[0]._ReflectTextureMatrix * a_ModelMatrix) * LOCALS.Position;");
    return FBuffer;
}

std::string TKorvaneGLSLAdjustPointSizeNode::ToString()
{
    if (!Def("USE_POINTSPRITE")) return {};
    TGLSLText t;
    t.L("const float SIZE_MULTIPLIER = 2.0;")
        .L("float l_SpriteDist = clamp(LOCALS.WorldViewProjVertPos.w, 0.00001, 1000.0);")
        .L("float l_SpriteSize = (length(a_Color2) < 0.00001) ? 1.0 : a_Color2.x;")
        .L("float l_SpriteAspect = _ViewSize.x / _ViewSize.y;")
        .L("gl_PointSize = ((l_SpriteSize * SIZE_MULTIPLIER * l_SpriteAspect) / l_SpriteDist) * l_SpriteAspect;");
    if (Def("VARYING_STRUCTS")) {
        // The particle colour streams carry the sprite's size and settings.
        t.L("vars.v_ParticleSettings = a_Color2;").L("vars.v_ParticleTimeInfo = a_Color3;");
    }
    return t.Take();
}

std::string TKorvaneGLSLVertexPositionOutputNode::ToString()
{
    TGLSLText t;
    // Every output is a varying: test the struct form once for all of them.
    const bool structs = Def("VARYING_STRUCTS");
    const std::string prefix = structs ? "vars." : "";
    auto v = [&](const char* name) { return prefix + name; };
    if (Def("CLIPPINGPLANE"))
        t.L(v("v_ClipDistance") + " = dot(vec4(LOCALS.TransfVertexPos.xyz, 1.0), LOCALS.ClippingPlane);");
    t.L(v("v_TBN") + " = mat3(LOCALS.Tangent, LOCALS.Binormal, LOCALS.Normal);");
    t.L(v("v_TBN_UT") + " = mat3(a_Tangent, cross(a_Normal, a_Tangent), a_Normal);");
    t.Blank();
    t.L(v("v_TexCoord0") + " = LOCALS.TexCoord0;");
    if (Def("USE_TEXCOORD1")) t.L(v("v_TexCoord1") + " = LOCALS.TexCoord1;");
    if (Def("USE_TEXCOORD2")) t.L(v("v_TexCoord2") + " = LOCALS.TexCoord2;");
    if (Def("USE_TEXCOORD3")) t.L(v("v_TexCoord3") + " = LOCALS.TexCoord3;");
    t.L(v("v_Color0") + " = LOCALS.Color0;");
    t.L(v("v_VertPos") + " = LOCALS.Position;");
    t.L(v("v_TransfVertPos") + " = LOCALS.TransfVertexPos.xyz;");
    t.L(v("v_WorldViewProjVertPos") + " = LOCALS.WorldViewProjVertPos;");
    t.L("gl_Position = LOCALS.WorldViewProjVertPos;");
    if (structs) {
        t.L("vars.v_ModelMatrix = a_ModelMatrix;");
        if (Def("DISPLACEMENT") && Def("DISPLACE_VAR")) t.L("vars.v_Displace = LOCALS.Displace;");
    }
    return t.Take();
}

std::string TKorvaneGLSLTransformFuncsNode::ToString()
{
    return TGLSLText()
        .Block("vec4 TransformModel(in mat4 p_ModelMatrix, vec4 position){\n"
               "  return p_ModelMatrix * position;\n"
               "}\n\n"
               "vec4 TransformModelViewProjection(in mat4 p_ProjMatrix, in mat4 p_ViewMatrix, in mat4 p_ModelMatrix, "
               "vec4 position){\n"
               "  return p_ProjMatrix * p_ViewMatrix * p_ModelMatrix * position;\n"
               "}\n\n"
               "vec3 TransformModelNormal(in mat3 p_NormalMatrix, vec3 normal){\n"
               "  return normalize(p_NormalMatrix * normal);\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLPackingFuncsNode::ToString()
{
    if (!Def("LIGHTING") || !Def("PACKED_NORMAL")) return {};
    return TGLSLText()
        .Block("vec3 Common_UnpackNormal(in vec3 norm){\n"
               "  return norm * 2.0 - 1.0;\n"
               "}\n\n"
               "vec3 Common_UnpackNormalLA(in vec4 norm){\n"
               "  vec3 n = norm.agb;\n"
               "  n.b = sqrt(1.0 - (n.x * n.x) - (n.y * n.y));\n"
               "  return n * 2.0 - 1.0;\n"
               "}\n\n"
               "vec3 Common_PackNormal(in vec3 norm){\n"
               "  return norm * 0.5 + 0.5;\n"
               "}\n\n")
        .Take();
}

// ---------------------------------------------------------------------------
// Fragment effects fed by vertex data

std::string TKorvaneGLSLClippingPlaneNode::ToString()
{
    if (!Def("FRAGMENTSHADER") || !Def("CLIPPINGPLANE")) return {};
    return TGLSLText()
        .L("const int c_ClipPlaneFlag = 0x01;")
        .L("if(((_Options & c_ClipPlaneFlag) == c_ClipPlaneFlag) && (" + Vary(FBuilder, "v_ClipDistance") +
           " < 0.0)){ discard; }")
        .Take();
}

std::string TKorvaneGLSLGetBumpNormalNode::ToString()
{
    if (!Def("LIGHTING") || !Def("NORMALMAP") || !Def("BUMP")) return {};
    const std::string uv = Def("USE_TEXTURE") ? "LOCALS.TexCoord0" : Vary(FBuilder, "v_TexCoord0");
    return TGLSLText()
        .L("LOCALS.Normal = CalcBumpedNormal(" + Vary(FBuilder, "v_TBN") +
           ", _PassData[0]._NormalIntensity, _NormalMapTexture, " + uv + ");")
        .Take();
}

std::string TKorvaneGLSLAddShadowNode::ToString()
{
    if (!Def("LIGHTING") || !Def("SHADOW")) return {};
    if (Def("SHADOWMAPPING"))
        return TGLSLText()
            .L("LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
               "vars.v_ModelMatrix, LOCALS.LightDir);",
               4)
            .Take();
    if (Def("VARIANCESHADOWMAPPING"))
        return TGLSLText()
            .L("LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
               "vars.v_ModelMatrix);",
               4)
            .Take();
    return {};
}

std::string TKorvaneGLSLAddReflectionNode::ToString()
{
    if (!Def("REFLECTION")) return {};
    return TGLSLText()
        .L("if(_PassData[0]._ReflectionPower > 0.0){")
        .L("vec4 l_ReflTex = tex2DProj(_ReflectionTexture, " + Vary(FBuilder, "v_ReflProjTextureCoords") + ");", 4)
        .L("LOCALS.BaseColor = mix(LOCALS.BaseColor, l_ReflTex, _PassData[0]._ReflectionPower);", 4)
        .L("}")
        .Take();
}

std::string TKorvaneGLSLAddRefractionNode::ToString()
{
    if (!Def("REFRACTION")) return {};
    return TGLSLText()
        .L("if(_PassData[0]._RefractionPower > 0.0){")
        .L("vec4 l_RefrTex = tex2D(_RefractionTexture, " + Vary(FBuilder, "v_TexCoord0") + ");", 4)
        .L("LOCALS.BaseColor = mix(LOCALS.BaseColor, l_RefrTex, _PassData[0]._RefractionPower);", 4)
        .L("}")
        .Take();
}

std::string TKorvaneGLSLAddEnvironmentNode::ToString()
{
    if (!Def("ENVIRONMENT")) return {};
    const std::string tbn = Vary(FBuilder, "v_TBN");
    const std::string pos = Vary(FBuilder, "v_TransfVertPos");
    TGLSLText t;
    if (Def("PBR")) {
        // Adds to the lit terms prepared for PBR instead of mixing the base colour.
        if (!Def("LIGHTING")) return {};
        t.L("vec3 l_InvFragViewDir = normalize(LOCALS.FragViewDir.xyz);")
            .L("vec3 l_EnvNormal = " + tbn + "[2];")
            .L("float l_MipMapLevel = l_Roughness * 8.0;")
            .L("vec4 l_EnvTex;")
            .L("if(_PassData[0]._RefractionPower > 0.0){")
            .L("float l_RefrRatio = 1.0 / 1.52;", 4)
            .L("vec3 l_RefrViewDir = " + pos + ".xyz + refract(l_InvFragViewDir, l_EnvNormal, l_RefrRatio);", 4)
            .L("l_EnvTex = texture(_EnvironmentTexture, l_RefrViewDir, l_MipMapLevel);", 4)
            .L("LOCALS.Diffuse += (l_EnvTex.rgb * _PassData[0]._RefractionPower) * l_AO;", 4)
            .L("}")
            .L("if(_PassData[0]._ReflectionPower > 0.0){")
            .L("vec3 l_ReflViewDir = " + pos + ".xyz - reflect(l_InvFragViewDir, l_EnvNormal);", 4)
            .L("l_EnvTex = texture(_EnvironmentTexture, l_ReflViewDir, l_MipMapLevel);", 4)
            .L("l_EnvTex.rgb *= _PassData[0]._ReflectionPower;", 4)
            .L("vec3 l_Radiance = getIBLRadianceGGX(l_EnvTex.rgb, l_NdotV, l_Roughness, F0, l_SpecularWeight);", 4)
            .L("LOCALS.Specular += l_Radiance;", 4)
            .L("}");
        return t.Take();
    }
    t.L("vec3 l_InvFragViewDir = normalize(LOCALS.FragViewDir.xyz);")
        .L("vec3 l_EnvNormal = " + tbn + "[2];")
        .L("vec4 l_EnvTex;")
        .L("if(_PassData[0]._RefractionPower > 0.0){")
        .L("float l_RefrRatio = 1.0 / 1.52;", 4)
        .L("vec3 l_RefrViewDir = " + pos + ".xyz + refract(l_InvFragViewDir, l_EnvNormal, l_RefrRatio);", 4)
        .L("l_EnvTex = texCube(_EnvironmentTexture, l_RefrViewDir);", 4)
        .L("LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex, _PassData[0]._RefractionPower);", 4)
        .L("}")
        .L("if(_PassData[0]._ReflectionPower > 0.0){")
        .L("vec3 l_ReflViewDir = " + pos + ".xyz + reflect(l_InvFragViewDir, l_EnvNormal);", 4)
        .L("l_EnvTex = texCube(_EnvironmentTexture, l_ReflViewDir);", 4)
        .L("LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex, _PassData[0]._ReflectionPower);", 4)
        .L("}");
    return t.Take();
}

// ---------------------------------------------------------------------------
// Light directions, fall-off, attenuation and shading

namespace {

// The light parameter and its member access in the struct form (a Light) or
// the index form (an index into _Lights).
struct TLightParam {
    std::string Decl;   // "in Light p_Light" or "in int i"
    std::string Member; // "p_Light." or "_Lights[i]."
    std::string Arg;    // "p_Light" or "i"
};

TLightParam LightParam(const TKorvaneNodeBuilder* ABuilder, const char* AIndexName = "i")
{
    if (ABuilder && ABuilder->Defined("VARYING_STRUCTS")) return {"in Light p_Light", "p_Light.", "p_Light"};
    return {std::string("in int ") + AIndexName, std::string("_Lights[") + AIndexName + "].", AIndexName};
}

} // namespace

std::string TKorvaneGLSLGetDirLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const TLightParam l = LightParam(FBuilder);
    return TGLSLText()
        .Block("float GetDirLightDir(" + l.Decl + ", in vec3 p_TransVertPos, inout vec4 p_LightDir){\n"
               "  vec3 l_VP = " + l.Member + "_Position.xyz - p_TransVertPos;\n"
               "  float l_Dist = length(l_VP);\n"
               "  p_LightDir = -" + l.Member + "_Direction;\n"
               "  return l_Dist;\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLGetPointLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const TLightParam l = LightParam(FBuilder);
    return TGLSLText()
        .Block("float GetPointLightDir(" + l.Decl +
               ", in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 p_HalfVector){\n"
               "  vec3 l_VP = " + l.Member + "_Position.xyz - p_TransVertPos;\n"
               "  float l_Dist = length(l_VP);\n"
               "  p_LightDir = vec4(normalize(l_VP), 0.0);\n"
               "  p_HalfVector = normalize(l_VP - p_TransVertPos);\n"
               "  return l_Dist;\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLGetSpotLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const TLightParam l = LightParam(FBuilder);
    return TGLSLText()
        .Block("float GetSpotLightDir(" + l.Decl +
               ", in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 p_HalfVector){\n"
               "  vec3 l_VP = " + l.Member + "_Position.xyz - p_TransVertPos;\n"
               "  float l_Dist = length(l_VP);\n"
               "  p_LightDir = -" + l.Member + "_Direction;\n"
               "  p_HalfVector = normalize(l_VP);\n"
               "  return l_Dist;\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLGetLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const TLightParam l = LightParam(FBuilder, "p_Index");
    return TGLSLText()
        .Block("float GetLightDir(" + l.Decl +
               ", in vec3 p_TransVertPos, out vec4 p_LightDir, out vec3 p_HalfVector){\n"
               "  if(" + l.Member + "_LightType == 0){\n"
               "    p_HalfVector = vec3(0.0);\n"
               "    return GetDirLightDir(" + l.Arg + ", p_TransVertPos, p_LightDir);\n"
               "  }\n"
               "  if(" + l.Member + "_LightType == 1){\n"
               "    return GetPointLightDir(" + l.Arg + ", p_TransVertPos, p_LightDir, p_HalfVector);\n"
               "  }\n"
               "  return GetSpotLightDir(" + l.Arg + ", p_TransVertPos, p_LightDir, p_HalfVector);\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLGetSpotFalloffFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    // w packs both cone angles: the inner cosine in thousandths above the point, the outer below it.
    return TGLSLText()
        .Block("float computeSpotFalloff(in vec4 p_LightDirection, in vec3 p_HalfVector){\n"
               "  float l_InnerCos = floor(p_LightDirection.w) * 0.001;\n"
               "  float l_OuterCos = fract(p_LightDirection.w);\n"
               "  vec3 l_L = normalize(p_HalfVector);\n"
               "  vec3 l_S = normalize(p_LightDirection.xyz);\n"
               "  float l_C = dot(-l_L, l_S);\n"
               "  return clamp((l_C - l_OuterCos) / (l_InnerCos - l_OuterCos), step(p_LightDirection.w, 0.001), "
               "1.0);\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLGetLightAttenuationFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const TLightParam l = LightParam(FBuilder);
    const std::string& m = l.Member;
    return TGLSLText()
        .Block("float getAttenuation(" + l.Decl + ", in float p_Distance, in vec3 p_HalfVector){\n"
               "  float l_Attenuation = 1.0 / (" + m + "_ConstantAttenuation + " + m +
               "_LinearAttenuation * p_Distance + " + m + "_QuadraticAttenuation * p_Distance * p_Distance);\n"
               "  if(" + m + "_LightType == 2){\n"
               "    float l_SpotDot = dot(-p_HalfVector, normalize(" + m + "_Direction.xyz));\n"
               "    if(l_SpotDot < " + m + "_SpotCosCutoff){\n"
               "      l_Attenuation *= 0.0;\n"
               "    } else {\n"
               "      l_Attenuation *= pow(l_SpotDot, " + m + "_SpotExponent);\n"
               "    }\n"
               "  }\n"
               "  return l_Attenuation;\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLGetShadingFuncsNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    TGLSLText t;
    t.Block("float lightComputeDiffuse(in vec3 p_Normal, in vec3 p_LightDir){\n"
            "  return max(0.0, dot(p_Normal, p_LightDir));\n"
            "}\n\n");
    if (Def("PHONG"))
        t.Block("float lightComputeSpecularPhong(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float "
                "p_Shiny){\n"
                "  vec3 l_R = -reflect(p_LightDir, p_Normal);\n"
                "  return pow(max(dot(l_R, p_ViewDir), 0.0), p_Shiny);\n"
                "}\n\n");
    else if (Def("BLINNPHONG"))
        t.Block("float lightComputeSpecular(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float "
                "p_Shiny){\n"
                "  vec3 l_H = normalize(p_ViewDir + p_LightDir);\n"
                "  return pow(max(0.0, dot(l_H, p_Normal)), p_Shiny);\n"
                "}\n\n");
    return t.Take();
}

// ---------------------------------------------------------------------------
// Shadow functions

std::string TKorvaneGLSLBasicShadowFuncsNode::ToString()
{
    if (!Def("SHADOW")) return {};
    const bool structs = Def("VARYING_STRUCTS");
    const std::string vertPos = Vary(FBuilder, "v_VertPos");
    const std::string tbn = Vary(FBuilder, "v_TBN");
    if (Def("SHADOWMAPPING"))
        return TGLSLText()
            .Block("float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix, "
                   "vec4 p_LightDir){\n"
                   "  const float c_MinVal = 0.5;\n"
                   "  vec4 l_LightSpacePos = p_ShadowMapMatrix * (p_ModelMatrix * " + vertPos + ");\n"
                   "  vec3 l_ProjCoords = l_LightSpacePos.xyz / l_LightSpacePos.w;\n"
                   "  if(l_ProjCoords.z > 1.0){\n"
                   "    return c_MinVal;\n"
                   "  }\n"
                   "  float l_ClosestDepth = tex2D(p_ShadowMapTexture, l_ProjCoords.xy).r;\n"
                   "  float l_Bias = max(0.05 * (1.0 - dot(" + tbn + "[2], p_LightDir.xyz)), 0.005);\n"
                   "  float l_Shadow = (l_ProjCoords.z - l_Bias > l_ClosestDepth) ? 1.0 : 0.0;\n"
                   "  return max(1.0 - l_Shadow, c_MinVal);\n"
                   "}\n\n")
            .Take();
    if (Def("VARIANCESHADOWMAPPING")) {
        const std::string position = structs ? "p_ShadowMapMatrix * vec4(vars.v_TransfVertPos, 1.0)"
                                             : "p_ShadowMapMatrix * (p_ModelMatrix * v_VertPos)";
        const std::string minimum = structs ? "0.00002" : "0.0008";
        return TGLSLText()
            .Block("float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 "
                   "p_ModelMatrix){\n"
                   "  vec4 l_LightSpacePos = " + position + ";\n"
                   "  vec3 l_ProjCoords = l_LightSpacePos.xyz / l_LightSpacePos.w;\n"
                   "  vec2 l_Moments = tex2D(p_ShadowMapTexture, l_ProjCoords.xy).rg;\n"
                   "  if(l_ProjCoords.z <= l_Moments.x){\n"
                   "    return 1.0;\n"
                   "  }\n"
                   "  float l_Variance = max(l_Moments.y - (l_Moments.x * l_Moments.x), " + minimum + ");\n"
                   "  float l_D = l_ProjCoords.z - l_Moments.x;\n"
                   "  return l_Variance / (l_Variance + (l_D * l_D));\n"
                   "}\n\n")
            .Take();
    }
    return {};
}

// ---------------------------------------------------------------------------
// PBR library

std::string TKorvaneGLSLPBRFuncsNode::ToString()
{
    if (!Def("PBR")) return {};
    static const std::string text = TGLSLText()
        .Block(
            "const float PBR_PI = 3.141592653589793;\n"
            "const float PBR_Epsilon = 0.002;\n"
            "const float PBR_EmissiveFac = 0.3;\n"
            "const vec3 Fdielectric = vec3(0.04);\n\n"
            "vec2 getIBLSamplePointGGXLUT(float NdotV, float roughness){\n"
            "  return clamp(vec2(NdotV, roughness), vec2(0.0, 0.0), vec2(1.0, 1.0));\n"
            "}\n\n"
            "vec3 getIBLRadianceLambertian(vec3 irradiance, float NdotV, float roughness, vec3 diffuseColor, vec3 F0, "
            "float specularWeight){\n"
            "  vec3 Fr = max(vec3(1.0 - roughness), F0) - F0;\n"
            "  vec3 k_S = F0 + Fr * pow(clamp(1.0 - NdotV, 0.0, 1.0), 5.0);\n"
            "  vec3 FssEss = specularWeight * k_S;\n"
            "  float Ems = 1.0;\n"
            "  vec3 F_avg = specularWeight * (F0 + (1.0 - F0) / 21.0);\n"
            "  vec3 FmsEms = Ems * FssEss * F_avg / (1.0 - F_avg * Ems);\n"
            "  vec3 k_D = diffuseColor * (1.0 - FssEss + FmsEms);\n"
            "  return (FmsEms + k_D) * irradiance;\n"
            "}\n\n"
            "vec3 getIBLRadianceGGX(vec3 specularLight, float NdotV, float roughness, vec3 F0, float "
            "specularWeight){\n"
            "  vec3 Fr = max(vec3(1.0 - roughness), F0) - F0;\n"
            "  vec3 k_S = F0 + Fr * pow(clamp(1.0 - NdotV, 0.0, 1.0), 5.0);\n"
            "  return specularWeight * specularLight * k_S;\n"
            "}\n\n"
            "float applyIorToRoughness(float roughness, float ior){\n"
            "  return roughness * clamp(ior * 2.0 - 2.0, 0.0, 1.0);\n"
            "}\n\n"
            "vec3 F_Schlick(vec3 f0, vec3 f90, float VdotH){\n"
            "  return f0 + (f90 - f0) * pow(clamp(1.0 - VdotH, 0.0, 1.0), 5.0);\n"
            "}\n\n"
            "float F_Schlick(float f0, float f90, float VdotH){\n"
            "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\n"
            "  float x2 = x * x;\n"
            "  float x5 = x * x2 * x2;\n"
            "  return f0 + (f90 - f0) * x5;\n"
            "}\n\n"
            "float F_Schlick(float f0, float VdotH){\n"
            "  return F_Schlick(f0, 1.0, VdotH);\n"
            "}\n\n"
            "vec3 F_Schlick(vec3 f0, float VdotH){\n"
            "  return F_Schlick(f0, vec3(1.0), VdotH);\n"
            "}\n\n"
            "vec3 Schlick_to_F0(vec3 f, vec3 f90, float VdotH){\n"
            "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\n"
            "  float x2 = x * x;\n"
            "  float x5 = clamp(x * x2 * x2, 0.0, 0.9999);\n"
            "  return (f - f90 * x5) / (1.0 - x5);\n"
            "}\n\n"
            "float Schlick_to_F0(float f, float f90, float VdotH){\n"
            "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\n"
            "  float x2 = x * x;\n"
            "  float x5 = clamp(x * x2 * x2, 0.0, 0.9999);\n"
            "  return (f - f90 * x5) / (1.0 - x5);\n"
            "}\n\n"
            "vec3 Schlick_to_F0(vec3 f, float VdotH){\n"
            "  return Schlick_to_F0(f, vec3(1.0), VdotH);\n"
            "}\n\n"
            "float Schlick_to_F0(float f, float VdotH){\n"
            "  return Schlick_to_F0(f, 1.0, VdotH);\n"
            "}\n\n"
            "float V_GGX(float NdotL, float NdotV, float alphaRoughness){\n"
            "  float alphaRoughnessSq = alphaRoughness * alphaRoughness;\n"
            "  float GGXV = NdotL * sqrt(NdotV * NdotV * (1.0 - alphaRoughnessSq) + alphaRoughnessSq);\n"
            "  float GGXL = NdotV * sqrt(NdotL * NdotL * (1.0 - alphaRoughnessSq) + alphaRoughnessSq);\n"
            "  float GGX = GGXV + GGXL;\n"
            "  if(GGX > 0.0){\n"
            "    return 0.5 / GGX;\n"
            "  }\n"
            "  return 0.0;\n"
            "}\n\n"
            "float D_GGX(float NdotH, float alphaRoughness){\n"
            "  float alphaRoughnessSq = alphaRoughness * alphaRoughness;\n"
            "  float f = (NdotH * NdotH) * (alphaRoughnessSq - 1.0) + 1.0;\n"
            "  return alphaRoughnessSq / (PBR_PI * f * f);\n"
            "}\n\n"
            "float lambdaSheenNumericHelper(float x, float alphaG){\n"
            "  float oneMinusAlphaSq = (1.0 - alphaG) * (1.0 - alphaG);\n"
            "  float a = mix(21.5473, 25.3245, oneMinusAlphaSq);\n"
            "  float b = mix(3.82987, 3.32435, oneMinusAlphaSq);\n"
            "  float c = mix(0.19823, 0.16801, oneMinusAlphaSq);\n"
            "  float d = mix(-1.97760, -1.27393, oneMinusAlphaSq);\n"
            "  float e = mix(-4.32054, -4.85967, oneMinusAlphaSq);\n"
            "  return a / (1.0 + b * pow(x, c)) + d * x + e;\n"
            "}\n\n"
            "float lambdaSheen(float cosTheta, float alphaG){\n"
            "  if(abs(cosTheta) < 0.5){\n"
            "    return exp(lambdaSheenNumericHelper(cosTheta, alphaG));\n"
            "  }\n"
            "  return exp(2.0 * lambdaSheenNumericHelper(0.5, alphaG) - lambdaSheenNumericHelper(1.0 - cosTheta, "
            "alphaG));\n"
            "}\n\n"
            "float V_Sheen(float NdotL, float NdotV, float sheenRoughness){\n"
            "  float l_Roughness = max(sheenRoughness, 0.000001);\n"
            "  float alphaG = l_Roughness * l_Roughness;\n"
            "  return clamp(1.0 / ((1.0 + lambdaSheen(NdotV, alphaG) + lambdaSheen(NdotL, alphaG)) * (4.0 * NdotV * "
            "NdotL)), 0.0, 1.0);\n"
            "}\n\n"
            "float D_Charlie(float sheenRoughness, float NdotH){\n"
            "  float l_Roughness = max(sheenRoughness, 0.000001);\n"
            "  float alphaG = l_Roughness * l_Roughness;\n"
            "  float invR = 1.0 / alphaG;\n"
            "  float cos2h = NdotH * NdotH;\n"
            "  float sin2h = 1.0 - cos2h;\n"
            "  return (2.0 + invR) * pow(sin2h, invR * 0.5) / (2.0 * PBR_PI);\n"
            "}\n\n"
            "vec3 BRDF_lambertian(vec3 f0, vec3 f90, vec3 diffuseColor, float specularWeight, float VdotH){\n"
            "  return (1.0 - specularWeight * F_Schlick(f0, f90, VdotH)) * (diffuseColor / PBR_PI);\n"
            "}\n\n"
            "vec3 BRDF_specularGGX(vec3 f0, vec3 f90, float alphaRoughness, float specularWeight, float VdotH, float "
            "NdotL, float NdotV, float NdotH){\n"
            "  vec3 F = F_Schlick(f0, f90, VdotH);\n"
            "  float Vis = V_GGX(NdotL, NdotV, alphaRoughness);\n"
            "  float D = D_GGX(NdotH, alphaRoughness);\n"
            "  return specularWeight * F * Vis * D;\n"
            "}\n\n"
            "vec3 BRDF_specularSheen(vec3 sheenColor, float sheenRoughness, float NdotL, float NdotV, float NdotH){\n"
            "  float sheenDistribution = D_Charlie(sheenRoughness, NdotH);\n"
            "  float sheenVisibility = V_Sheen(NdotL, NdotV, sheenRoughness);\n"
            "  return sheenColor * sheenDistribution * sheenVisibility;\n"
            "}\n\n")
        .Take();
    return text;
}

// ---------------------------------------------------------------------------
// Tone mapping

std::string TKorvaneGLSLToneMappingFuncsNode::ToString()
{
    const char* first = FirstToneMap(FBuilder);
    if (!first) return {};
    const std::string_view define(first);
    const std::string toSRGB = Def("PBR") ? "  color = linearTosRGB(color);\n" : "";
    TGLSLText t;
    static const char* const ACESHill =
        "const mat3 ACESInputMat = mat3(0.59719, 0.07600, 0.02840, 0.35458, 0.90834, 0.13383, 0.04823, 0.01566, "
        "0.83777);\n"
        "const mat3 ACESOutputMat = mat3(1.60475, -0.10208, -0.00327, -0.53108, 1.10813, -0.07276, -0.07367, "
        "-0.00605, 1.07602);\n\n"
        "vec3 RRTAndODTFit(vec3 color){\n"
        "  vec3 a = color * (color + 0.0245786) - 0.000090537;\n"
        "  vec3 b = color * (0.983729 * color + 0.4329510) + 0.238081;\n"
        "  return a / b;\n"
        "}\n\n"
        "vec3 toneMapACES_Hill(vec3 color){\n"
        "  color = ACESInputMat * color;\n"
        "  color = RRTAndODTFit(color);\n"
        "  color = ACESOutputMat * color;\n"
        "  return clamp(color, 0.0, 1.0);\n"
        "}\n\n";
    if (define == "TONEMAP_EXPOSURE") {
        t.Block("vec3 toneMap(vec3 color, in float exposure){\n"
                "  color *= exposure;\n" + toSRGB + "  return color;\n"
                "}\n\n");
    } else if (define == "TONEMAP_ACES_NARKOWICZ") {
        t.Block("vec3 toneMapACES_Narkowicz(vec3 color){\n"
                "  const float A = 2.51;\n"
                "  const float B = 0.03;\n"
                "  const float C = 2.43;\n"
                "  const float D = 0.59;\n"
                "  const float E = 0.14;\n"
                "  return clamp((color * (A * color + B)) / (color * (C * color + D) + E), 0.0, 1.0);\n"
                "}\n\n"
                "vec3 toneMap(vec3 color, in float exposure){\n"
                "  color = toneMapACES_Narkowicz(color * exposure);\n" + toSRGB + "  return color;\n"
                "}\n\n");
    } else if (define == "TONEMAP_ACES_HILL") {
        t.Block(std::string(ACESHill) + "vec3 toneMap(vec3 color, in float exposure){\n"
                "  color = toneMapACES_Hill(color * exposure);\n" + toSRGB + "  return color;\n"
                "}\n\n");
    } else if (define == "TONEMAP_ACES_HILL_EXPOSURE_BOOST") {
        t.Block(std::string(ACESHill) + "vec3 toneMap(vec3 color, in float exposure){\n"
                "  color = toneMapACES_Hill(color * exposure / 0.6);\n" + toSRGB + "  return color;\n"
                "}\n\n");
    } else if (define == "TONEMAP_REINHARD") {
        t.Block("vec3 toneMap(vec3 color, in float exposure){\n"
                "  float l_X = exposure * 1.5;\n"
                "  color = color * l_X / (1.0 + color / l_X);\n"
                "  return pow(color, vec3(INV_GAMMA));\n"
                "}\n\n");
    } else if (define == "TONEMAP_LUMABASED_REINHARD") {
        t.Block("vec3 toneMap(vec3 color, in float exposure){\n"
                "  color *= exposure;\n"
                "  float l_Luma = dot(color, vec3(0.2126, 0.7152, 0.0722));\n"
                "  float l_ToneMappedLuma = l_Luma / (1.0 + l_Luma);\n"
                "  color *= l_ToneMappedLuma / l_Luma;\n"
                "  return pow(color, vec3(INV_GAMMA));\n"
                "}\n\n");
    } else if (define == "TONEMAP_WP_LUMABASED_REINHARD") {
        t.Block("vec3 toneMap(vec3 color, in float exposure){\n"
                "  const float c_White = 2.0;\n"
                "  color *= exposure;\n"
                "  float l_Luma = dot(color, vec3(0.2126, 0.7152, 0.0722));\n"
                "  float l_ToneMappedLuma = l_Luma * (1.0 + l_Luma / (c_White * c_White)) / (1.0 + l_Luma);\n"
                "  color *= l_ToneMappedLuma / l_Luma;\n"
                "  return pow(color, vec3(INV_GAMMA));\n"
                "}\n\n");
    } else if (define == "TONEMAP_ROMBINDAHOUSE") {
        t.Block("vec3 toneMap(vec3 color, in float exposure){\n"
                "  color *= exposure;\n"
                "  color = exp(-1.0 / (2.72 * color + 0.15));\n"
                "  return pow(color, vec3(INV_GAMMA));\n"
                "}\n\n");
    } else if (define == "TONEMAP_FILMIC") {
        t.Block("vec3 toneMap(vec3 color, in float exposure){\n"
                "  color *= exposure;\n"
                "  vec3 l_X = max(vec3(0.0), color - 0.004);\n"
                "  color = (l_X * (6.2 * l_X + 0.5)) / (l_X * (6.2 * l_X + 1.7) + 0.06);\n"
                "  return color;\n"
                "}\n\n");
    } else { // TONEMAP_UNCHARTED2
        t.Block("vec3 Uncharted2ToneMapCurve(vec3 x){\n"
                "  const float A = 0.15;\n"
                "  const float B = 0.50;\n"
                "  const float C = 0.10;\n"
                "  const float D = 0.20;\n"
                "  const float E = 0.02;\n"
                "  const float F = 0.30;\n"
                "  return ((x * (A * x + C * B) + D * E) / (x * (A * x + B) + D * F)) - E / F;\n"
                "}\n\n"
                "vec3 toneMap(vec3 color, in float exposure){\n"
                "  const float W = 11.2;\n"
                "  color *= 2.0 * exposure;\n"
                "  vec3 l_Curr = Uncharted2ToneMapCurve(color);\n"
                "  vec3 l_WhiteScale = 1.0 / Uncharted2ToneMapCurve(vec3(W));\n"
                "  return pow(l_Curr * l_WhiteScale, vec3(INV_GAMMA));\n"
                "}\n\n");
    }
    return t.Take();
}

std::string TKorvaneGLSLTonemappingNode::ToString()
{
    if (Def("PBR") || !FirstToneMap(FBuilder)) return {};
    return TGLSLText().L("LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);").Take();
}

std::string TKorvaneGLSLBrightnessColorNode::ToString()
{
    return TGLSLText().L("LOCALS.SumColor *= _Brightness;").Take();
}

// ---------------------------------------------------------------------------
// Lights loop and per-light statements

std::string TKorvaneGLSLForLoopNode::ToString()
{
    std::string text = "  for(";
    if (FLoopVariable) text += FLoopVariable->ToString();
    text += "; ";
    if (FCondition) text += FCondition->ToString();
    text += "; ";
    if (FLoopOp) text += FLoopOp->ToString();
    text += std::string("){") + CRLF;
    text += TKorvaneCompositeNode::ToString();
    return text + "  }" + CRLF;
}

TKorvaneGLSLLightsLoopNode::TKorvaneGLSLLightsLoopNode(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLForLoopNode(ABuilder)
{
    TKorvaneGlobalsNode* globals = ABuilder ? ABuilder->Globals() : nullptr;
    TKorvaneNodeEntity* lightsCount =
        globals ? globals->FindNode<TKorvaneVariableNode>("_LightsCount", true) : nullptr;

    auto variable = TKorvaneGLSLVariable::Build(ABuilder, "i", stInt);
    TKorvaneGLSLVariable* i = variable.get();
    FLoopVariable = TKorvaneOperationNode::Build(ABuilder, snopAssign, std::move(variable),
                                                 TKorvaneGLSLConstantValue::Build(ABuilder, "", TValue::From<int32_t>(0)));
    FCondition = TKorvaneOperationNode::Build(ABuilder, snopLT, TKorvaneReferenceNode::Build(ABuilder, i),
                                              TKorvaneReferenceNode::Build(ABuilder, lightsCount));
    FLoopOp = TKorvaneOperationNode::Build(ABuilder, snopPostInc, TKorvaneReferenceNode::Build(ABuilder, i), nullptr);
}

std::string TKorvaneGLSLLightsLoopNode::ToString()
{
    if (!Def("LIGHTING") || Def("DEFERRED")) return {};
    return TKorvaneGLSLForLoopNode::ToString();
}

std::string TKorvaneGLSLGetLightShadingNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const bool structs = Def("VARYING_STRUCTS");
    const std::string light = structs ? "_Lights[i]" : "i";
    TGLSLText t;
    t.L("LOCALS.LightType = _Lights[i]._LightType;", 4)
        .L("LOCALS.LightDist = GetLightDir(" + light + ", " + Vary(FBuilder, "v_TransfVertPos") +
               ", LOCALS.LightDir, LOCALS.LightVec);",
           4)
        .L("float l_Falloff = 1.0;", 4)
        .L("if(LOCALS.LightType == 2){", 4)
        .L("l_Falloff = computeSpotFalloff(LOCALS.LightDir, LOCALS.LightVec);", 6)
        .L("}", 4)
        .L("if(LOCALS.LightType == 0){", 4)
        .L("LOCALS.Attenuation = 1.0;", 6)
        .L("} else {", 4)
        .L("LOCALS.Attenuation = getAttenuation(" + light + ", LOCALS.LightDist, LOCALS.LightVec);", 6)
        .L("}", 4)
        .L("LOCALS.SceneAttenuation += LOCALS.Attenuation;", 4);
    if (!Def("PBR")) {
        t.L("LOCALS.Shading.x = lightComputeDiffuse(LOCALS.Normal, LOCALS.LightDir.xyz);", 4)
            .L("LOCALS.Shading.y = 0.0;", 4);
        const char* specular = Def("PHONG") ? "lightComputeSpecularPhong" : Def("BLINNPHONG") ? "lightComputeSpecular"
                                                                                             : nullptr;
        if (specular)
            t.L("if(_Material[0]._Shininess <= 0.001){", 4)
                .L("LOCALS.Shading.y = 0.0;", 6)
                .L("} else {", 4)
                .L(std::string("LOCALS.Shading.y = ") + specular +
                       "(LOCALS.Normal, LOCALS.FragViewDir, LOCALS.LightDir.xyz, _Material[0]._Shininess);",
                   6)
                .L("}", 4);
        t.L("LOCALS.Shading = LOCALS.Shading * LOCALS.Attenuation * l_Falloff;", 4);
    } else if (structs) {
        t.L("vec3 l_L = LOCALS.LightDir.xyz;", 4)
            .L("vec3 l_H = normalize(V + l_L);", 4)
            .L("l_LightIntensity += _Lights[i]._Intensity;", 4)
            .L("float l_NdotL = max(dot(N, l_L), 0.0);", 4)
            .L("float l_NdotH = max(dot(N, l_H), 0.0);", 4)
            .L("float l_VdotH = max(dot(V, l_H), 0.0);", 4)
            .L("vec3 l_LightRadiance = _Lights[i]._Diffuse.rgb * LOCALS.Attenuation * l_NdotL;", 4)
            .L("LOCALS.Diffuse += l_LightRadiance * BRDF_lambertian(F0, F90, l_CDiff, l_SpecularWeight, l_VdotH);", 4)
            .L("LOCALS.Specular += l_LightRadiance * BRDF_specularGGX(F0, F90, l_AlphaRoughness, l_SpecularWeight, "
               "l_VdotH, l_NdotL, l_NdotV, l_NdotH);",
               4)
            .L("LOCALS.Shading *= LOCALS.Attenuation * l_Falloff;", 4);
    }
    return t.Take();
}

std::string TKorvaneGLSLLightingSumNode::ToString()
{
    if (!Def("LIGHTING") || Def("PBR")) return {};
    TGLSLText t;
    t.L("LOCALS.Shading *= _ShadingIntensity;", 4)
        .L("LOCALS.Ambient += _Lights[i]._Ambient.rgb;", 4)
        .L("LOCALS.Diffuse += _Lights[i]._Diffuse.rgb * _Lights[i]._Intensity * LOCALS.Shading.x;", 4);
    if (Def("USE_SPECULAR")) t.L("LOCALS.Specular += _Lights[i]._Specular.rgb * LOCALS.Shading.y;", 4);
    return t.Blank().Take();
}

std::string TKorvaneGLSLSpecularColorNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return TGLSLText()
        .L(Def("USE_SPECULAR") ? "LOCALS.SpecularColor = _Material[0]._Specular.rgb;"
                               : "LOCALS.SpecularColor = vec3(0.0);")
        .Take();
}

std::string TKorvaneGLSLPBRPrepareNode::ToString()
{
    if (!Def("LIGHTING") || !Def("PBR")) return {};
    const bool T = Def("PBR_TEX");
    const bool TA = Def("PBR_TEX_ALBEDO") && Def("USE_TEXTURE0");
    const bool TM = Def("PBR_TEX_METALLIC");
    const bool TR = Def("PBR_TEX_ROUGHNESS");
    const bool TO = Def("PBR_TEX_AO");
    const bool TE = Def("PBR_TEX_EMISSIVE");
    const bool TS = Def("SpecularMapTexture");
    TGLSLText t;
    if (T) {
        if (TA)
            t.L("vec4 l_AlbedoTexColor = tex2D(_Texture0, LOCALS.TexCoord0);")
                .L("LOCALS.BaseColor = sRGBToLinear(l_AlbedoTexColor);")
                .L("LOCALS.Alpha = l_AlbedoTexColor.a;");
        else
            t.L("LOCALS.BaseColor = _Material[0]._Diffuse;").L("LOCALS.Alpha = _Material[0]._Diffuse.a;");
    }
    t.L("vec3 l_Albedo = LOCALS.BaseColor.rgb;");
    if (!(T && TM && TR && TO))
        t.L("float l_GrayScaleFlt = (0.299 * l_Albedo.r + 0.587 * l_Albedo.g + 0.114 * l_Albedo.b) * 2.25;");

    if (T && TM)
        t.L("float l_Metallic = tex2D(_MetalnessTexture, LOCALS.TexCoord0).b;")
            .L("if(_PassData[0]._PBRMetallic > PBR_Epsilon){ l_Metallic *= _PassData[0]._PBRMetallic; }");
    else
        t.L("float l_Metallic = l_GrayScaleFlt * _PassData[0]._PBRMetallic;");
    t.L("if(l_Metallic < PBR_Epsilon){ l_Metallic = PBR_Epsilon; }");

    if (T && TR)
        t.L("float l_Roughness = tex2D(_RoughnessTexture, LOCALS.TexCoord0).g;")
            .L("if(_PassData[0]._PBRRoughness > PBR_Epsilon){ l_Roughness *= _PassData[0]._PBRRoughness; }");
    else
        t.L("float l_Roughness = l_GrayScaleFlt * _PassData[0]._PBRRoughness;");
    t.L("if(l_Roughness < PBR_Epsilon){ l_Roughness = PBR_Epsilon; }");

    if (T && TO)
        t.L("float l_AO = tex2D(_AmbientOcclusionTexture, LOCALS.TexCoord0).r;")
            .L("if(_PassData[0]._PBRAO > PBR_Epsilon){ l_AO *= _PassData[0]._PBRAO; }");
    else
        t.L("float l_AO = _PassData[0]._PBRAO;");
    t.L("if(l_AO < PBR_Epsilon){ l_AO = PBR_Epsilon; }");

    if (T && TE)
        t.L("LOCALS.Emissive = LOCALS.Emissive * tex2D(_EmissiveTexture, LOCALS.TexCoord0).rgb * PBR_EmissiveFac;");
    else
        t.L("LOCALS.Emissive *= PBR_EmissiveFac;");

    t.L("vec3 N = LOCALS.Normal.xyz;")
        .L("vec3 V = LOCALS.FragViewDir.xyz;")
        .L("float l_NdotV = max(0.0, dot(N, V));")
        .L("float l_Shininess = _Material[0]._Shininess;")
        .L("if(l_Shininess > 1.0){ l_Shininess /= 100.0; }")
        .L("float l_SpecularWeight = 1.0;")
        .L("vec3 F90 = vec3(1.0);")
        .L("float ior = 1.5;")
        .L("LOCALS.Shading = vec2(1.0, 1.0);")
        .L("float l_LightIntensity = 0.0;");
    if (TS)
        // Specular-glossiness: the map's colour scales F0, its alpha the glossiness.
        t.L("vec3 F0 = _Material[0]._Specular.rgb;")
            .L("l_Roughness = l_Shininess;")
            .L("vec4 l_SpecularSample = sRGBToLinear(tex2D(_SpecularMapTexture, LOCALS.TexCoord0));")
            .L("l_Roughness *= l_SpecularSample.a;")
            .L("F0 *= l_SpecularSample.rgb;")
            .L("float l_F0Max = max(max(F0.r, F0.g), F0.b);")
            .L("l_Roughness = 1.0 - l_Roughness;")
            .L("vec3 l_CDiff = l_Albedo * (1.0 - l_F0Max);");
    else
        t.L("vec3 l_CDiff = mix(l_Albedo, vec3(0.0), l_Metallic);")
            .L("l_Roughness = applyIorToRoughness(l_Roughness, ior);")
            .L("vec3 F0 = mix(Fdielectric, l_Albedo, l_Metallic);");
    t.L("float l_AlphaRoughness = l_Roughness * l_Roughness;")
        .L("LOCALS.Diffuse = vec3(0.0);")
        .L("LOCALS.Specular = vec3(0.0);")
        .L("LOCALS.Ambient = vec3(0.0);");
    return t.Take();
}

std::string TKorvaneGLSLMergedColorOutputNode::ToString()
{
    TGLSLText t;
    if (!Def("LIGHTING")) {
        t.L("LOCALS.SumColor = (_Material[0]._Emissive.rgb * _Material[0]._Emissive.a + _Material[0]._Ambient.rgb + "
            "_Material[0]._Diffuse.rgb + _Material[0]._Specular.rgb) * LOCALS.BaseColor.rgb;");
        return t.Take();
    }
    if (Def("PBR")) {
        t.L("LOCALS.Diffuse *= _Material[0]._Diffuse.rgb * l_AO;");
        if (Def("SpecularMapTexture")) t.L("LOCALS.Specular *= l_AO;");
        else t.L("LOCALS.Specular *= _Material[0]._Specular.rgb * l_Shininess * l_AO;");
        t.L("LOCALS.Ambient = LOCALS.Diffuse * _Material[0]._Ambient.rgb * l_AO;");
        if (!Def("ENVIRONMENT"))
            t.L("vec3 l_Radiance = getIBLRadianceGGX(F0, l_NdotV, l_Roughness, F0, l_SpecularWeight);")
                .L("LOCALS.Specular += l_Radiance;");
        t.L("if(_LightsCount > 0){ l_LightIntensity = l_LightIntensity / float(_LightsCount); } else { "
            "l_LightIntensity = 1.0; }")
            .L("LOCALS.Diffuse += LOCALS.Specular;")
            .L("LOCALS.Diffuse += LOCALS.Ambient * LOCALS.Shading.y;")
            .L("LOCALS.SumColor = LOCALS.Diffuse * _ShadingIntensity * LOCALS.Shading.x;");
        if (FirstToneMap(FBuilder)) t.L("LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);");
        else t.L("LOCALS.SumColor = linearTosRGB(LOCALS.SumColor);");
        t.L("LOCALS.SumColor *= l_LightIntensity;")
            .L("LOCALS.SumColor *= clamp(LOCALS.SceneAttenuation, 0.0, 1.0);")
            .L("LOCALS.SumColor += LOCALS.Emissive;");
    } else {
        t.L("LOCALS.Specular *= LOCALS.SpecularColor;")
            .L("LOCALS.SumColor = _Material[0]._Ambient.rgb * LOCALS.Ambient + _Material[0]._Diffuse.rgb * "
               "LOCALS.Diffuse + LOCALS.Specular;")
            .L("LOCALS.SumColor = clamp(LOCALS.SceneAttenuation, 0.0, 1.0) * (LOCALS.SumColor * "
               "LOCALS.BaseColor.rgb);")
            .L("LOCALS.SumColor += LOCALS.Emissive;");
    }
    if (Def("SHADOW"))
        t.L("LOCALS.ShadowSum = clamp(LOCALS.ShadowSum, 0.0, 1.0);").L("LOCALS.SumColor *= LOCALS.ShadowSum;");
    return t.Take();
}

// ---------------------------------------------------------------------------
// Texture, colour-space, bump, parallax, atlas and fog functions

std::string TKorvaneGLSLGetTextureFuncsNode::ToString()
{
    TGLSLText t;
    t.Block("const float GAMMA = 2.2;\n"
            "const float INV_GAMMA = 1.0 / GAMMA;\n\n"
            "vec3 linearTosRGB(vec3 color){\n"
            "  return pow(color, vec3(INV_GAMMA));\n"
            "}\n\n"
            "vec3 sRGBToLinear(vec3 srgbIn){\n"
            "  return pow(srgbIn, vec3(GAMMA));\n"
            "}\n\n"
            "vec4 sRGBToLinear(vec4 srgbIn){\n"
            "  return vec4(sRGBToLinear(srgbIn.xyz), srgbIn.w);\n"
            "}\n\n"
            "float sFloatToLinear(float x){\n"
            "  return pow(x, GAMMA);\n"
            "}\n\n");
    if (!Def("USE_TEXTURE") && !Def("ENVIRONMENT") && !Def("DISPLACEMENT")) return t.Take();
    if (Def("DEPRECATED")) {
        t.Block("vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){\n"
                "  return texture2D(p_Texture, p_TexCoord);\n"
                "}\n\n"
                "vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){\n"
                "  return texture2DProj(p_Texture, p_TexCoord);\n"
                "}\n\n");
    } else {
        t.Block("vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){\n"
                "  return texture(p_Texture, p_TexCoord);\n"
                "}\n\n"
                "vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){\n"
                "  return textureProj(p_Texture, p_TexCoord);\n"
                "}\n\n"
                "vec4 tex3D(in sampler3D p_Texture, in vec3 p_TexCoord){\n"
                "  return texture(p_Texture, p_TexCoord);\n"
                "}\n\n");
    }
    t.Block("vec4 texCube(in samplerCube p_Texture, in vec3 p_TexCoord){\n"
            "  return texture(p_Texture, p_TexCoord);\n"
            "}\n\n");
    if (Def("PACKED_NORMAL"))
        t.Block("vec3 Texture_GetNormal(in sampler2D normalMap, in vec2 texCoord){\n"
                "  return Common_UnpackNormal(tex2D(normalMap, texCoord).rgb);\n"
                "}\n\n"
                "vec4 Texture_GetColor(in sampler2D colorMap, in vec2 texCoord){\n"
                "  return tex2D(colorMap, texCoord);\n"
                "}\n\n");
    return t.Take();
}

std::string TKorvaneGLSLGetTextureAtlasFuncNode::ToString()
{
    if (!Def("USE_TEXTURE_ATLAS")) return {};
    return TGLSLText()
        .Block("bool GetTextureAtlasColor(in sampler2D p_Texture, in vec2 p_TexCoord0, in vec4 p_Settings, in vec2 "
               "p_PointCoord, in vec2 p_TexSize, out vec4 p_Color){\n"
               "  vec2 l_Uv;\n"
               "  if(abs(p_Settings.y) > 0.0001){\n"
               "    float l_Angle = radians(p_Settings.y);\n"
               "    float l_Cos = cos(l_Angle);\n"
               "    float l_Sin = sin(l_Angle);\n"
               "    vec2 l_Rotated = vec2(l_Cos * (p_PointCoord.x - 0.5) + l_Sin * (p_PointCoord.y - 0.5) + 0.5, "
               "l_Cos * (p_PointCoord.y - 0.5) - l_Sin * (p_PointCoord.x - 0.5) + 0.5);\n"
               "    l_Uv = p_TexCoord0 + l_Rotated * p_TexSize;\n"
               "  } else {\n"
               "    l_Uv = p_TexCoord0 + p_PointCoord * p_TexSize;\n"
               "  }\n"
               "  p_Color = tex2D(p_Texture, l_Uv);\n"
               "  p_Color.a = clamp(log(1.0 + p_Color.a), 0.0, 1.0) * p_Settings.z;\n"
               "  if(p_Settings.w > 0.1){\n"
               "    p_Color.a *= clamp(pow(1.0 - distance(p_PointCoord, vec2(0.5, 0.5)), p_Settings.w), 0.0, 1.0);\n"
               "  }\n"
               "  return p_Color.a > 0.04;\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLBumpFuncsNode::ToString()
{
    if (!Def("BUMP")) return {};
    const bool pom = Def("POM");
    TGLSLText t;
    t.Block(std::string("vec3 CalcBumpedNormal(in mat3 p_TBN, in float p_NormalIntensity, sampler2D p_NormalMap, vec2 "
                        "p_TexCoord){\n"
                        "  vec3 l_Normal = tex2D(p_NormalMap, p_TexCoord).rgb;\n"
                        "  if(length(l_Normal) < 0.001){\n"
                        "    l_Normal = p_TBN[2] * 2.0 - 1.0;\n"
                        "    l_Normal.b *= p_NormalIntensity;\n"
                        "    return normalize(l_Normal);\n"
                        "  }\n"
                        "  l_Normal = normalize(l_Normal * 2.0 - 1.0);\n") +
            (pom ? "" : "  l_Normal.b *= p_NormalIntensity;\n  l_Normal = normalize(l_Normal);\n") +
            "  return normalize(p_TBN * l_Normal);\n"
            "}\n\n");
    if (!pom)
        t.Block("vec3 ConvertDirectXNormalToOpenGL(vec3 p_Normal){\n"
                "  return vec3(p_Normal.x, p_Normal.y, sqrt(1.0 - dot(p_Normal.xy, p_Normal.xy)));\n"
                "}\n\n");
    t.Block("vec4 BumpSum(sampler2D p_BaseTex, vec2 p_TexCoord, vec3 p_Normal){\n"
            "  return tex2D(p_BaseTex, p_TexCoord.xy);\n"
            "}\n\n");
    return t.Take();
}

std::string TKorvaneGLSLPOMFuncsNode::ToString()
{
    // The function samples through tex2D, which exists only with the sampling
    // wrappers; parallax occlusion switched on without them must still compile
    // (only the textured path calls the function).
    if (!Def("POM") || !(Def("USE_TEXTURE") || Def("ENVIRONMENT") || Def("DISPLACEMENT"))) return {};
    return TGLSLText()
        .Block("vec2 ParallaxOcclusionMapping(in float p_NormalIntensity, in int p_ParallaxLevels, sampler2D "
               "p_DepthMap, vec2 p_Uv, vec3 p_FragViewDir, float p_Pivot){\n"
               "  float l_NumLayers = mix(float(p_ParallaxLevels), 4.0, max(dot(vec3(0.0, 0.0, 1.0), p_FragViewDir), "
               "0.0));\n"
               "  float l_LayerDepth = 1.0 / l_NumLayers;\n"
               "  float l_CurrentLayerDepth = 0.0;\n"
               "  vec2 l_DeltaUv = (p_FragViewDir.xy / p_FragViewDir.z) / l_NumLayers * p_NormalIntensity;\n"
               "  vec2 l_Uv = p_Uv + p_Pivot * l_DeltaUv;\n"
               "  float l_Depth = tex2D(p_DepthMap, l_Uv).r;\n"
               "  for(int i = 0; i < int(l_NumLayers); i++){\n"
               "    if(l_CurrentLayerDepth > l_Depth){\n"
               "      break;\n"
               "    }\n"
               "    l_Uv -= l_DeltaUv;\n"
               "    l_Depth = tex2D(p_DepthMap, l_Uv).r;\n"
               "    l_CurrentLayerDepth += l_LayerDepth;\n"
               "  }\n"
               "  vec2 l_PrevUv = l_Uv + l_DeltaUv;\n"
               "  float l_After = l_Depth - l_CurrentLayerDepth;\n"
               "  float l_Before = tex2D(p_DepthMap, l_PrevUv).r - l_CurrentLayerDepth + l_LayerDepth;\n"
               "  float l_Weight = l_After / (l_After - l_Before);\n"
               "  return mix(l_Uv, l_PrevUv, l_Weight);\n"
               "}\n\n")
        .Take();
}

std::string TKorvaneGLSLFogFuncNode::ToString()
{
    return TGLSLText()
        .Block("#define GLI_FOG_ENABLED 1\n"
               "#define GLI_FOG_MODE_LINEAR 2\n"
               "#define GLI_FOG_MODE_EXP 4\n"
               "#define GLI_FOG_MODE_EXP2 8\n\n"
               "float computeFog(in int p_FogMode, in float p_FogStart, in float p_FogEnd, in float p_FogDensity, vec3 "
               "p_VertPos, vec3 p_EyePos){\n"
               "  if((p_FogMode & GLI_FOG_ENABLED) == 0){\n"
               "    return 1.0;\n"
               "  }\n"
               "  float l_Dist = length(p_VertPos - p_EyePos);\n"
               "  float l_Fog;\n"
               "  if((p_FogMode & GLI_FOG_MODE_LINEAR) != 0){\n"
               "    l_Fog = (p_FogEnd - l_Dist) / (p_FogEnd - p_FogStart);\n"
               "  } else if((p_FogMode & GLI_FOG_MODE_EXP) != 0){\n"
               "    l_Fog = exp(-l_Dist * p_FogDensity);\n"
               "  } else {\n"
               "    l_Fog = exp(-(l_Dist * p_FogDensity) * (l_Dist * p_FogDensity));\n"
               "  }\n"
               "  return clamp(l_Fog, 0.0, 1.0);\n"
               "}\n\n")
        .Take();
}

// ---------------------------------------------------------------------------
// Surface statements before the lights loop

std::string TKorvaneGLSLEmissiveColorNode::ToString()
{
    return TGLSLText()
        .L(Def("USE_EMISSIVE") ? "LOCALS.Emissive = _Material[0]._Emissive.rgb * _Material[0]._Emissive.a;"
                               : "LOCALS.Emissive = vec3(0.0);")
        .Take();
}

std::string TKorvaneGLSLGetTransfVertPosNode::ToString()
{
    return TGLSLText()
        .L("LOCALS.TransfVertPos = " + Vary(FBuilder, "v_TransfVertPos") + ".xyz;")
        .L("LOCALS.FragDepth = gl_FragCoord.z;")
        .Take();
}

std::string TKorvaneGLSLGetNormalNode::ToString()
{
    if (Def("BUMP")) return {};
    return TGLSLText().L("LOCALS.Normal = " + Vary(FBuilder, "v_TBN") + "[2];").Take();
}

std::string TKorvaneGLSLGetFragViewDirNode::ToString()
{
    return TGLSLText().L("LOCALS.FragViewDir = normalize(_EyePos.xyz - LOCALS.TransfVertPos.xyz);").Take();
}

std::string TKorvaneGLSLTextureCoordsNode::ToString()
{
    if (!Def("USE_TEXTURE")) return {};
    TGLSLText t;
    // Every set reads the tiling of texture 0, and the coordinates are wrapped into [0, 1).
    auto set = [&](int k) {
        const std::string n = IntToStr(k);
        t.L("LOCALS.TexCoord" + n + " = " + Vary(FBuilder, ("v_TexCoord" + n).c_str()) + ";")
            .L("vec2 l_Tiling" + n + " = _Material[0]._Texture[0]._Tiling;")
            .L("LOCALS.TexCoord" + n + " = vec2(mod(LOCALS.TexCoord" + n + ".x * l_Tiling" + n +
               ".x, 1.0), mod(LOCALS.TexCoord" + n + ".y * l_Tiling" + n + ".y, 1.0));");
    };
    set(0);
    if (Def("USE_TEXCOORD1")) set(1);
    if (Def("USE_TEXCOORD2")) set(2);
    if (Def("USE_TEXCOORD3")) set(3);
    return t.Take();
}

std::string TKorvaneGLSLPOMApplyNode::ToString()
{
    if (!Def("POM")) return {};
    TGLSLText t;
    t.L(Def("DEPRECATED") ? "LOCALS.Normal = v_TBN[2];" : "LOCALS.Normal = vars.v_TBN[2];")
        .L("mat3 l_TBN2 = vars.v_TBN;")
        .L("vec3 l_TanViewPos = _EyePos.xyz * l_TBN2;")
        .L("vec3 l_TanFragPos = LOCALS.TransfVertPos.xyz * l_TBN2;")
        .L("vec3 l_POMViewDir = normalize(l_TanViewPos - l_TanFragPos);");
    if (Def("USE_TEXTURE")) {
        t.L("vec2 l_POMTexCoord = vec2(LOCALS.TexCoord0.x, 1.0 - LOCALS.TexCoord0.y);")
            .L("LOCALS.TexCoord0 = ParallaxOcclusionMapping(_PassData[0]._NormalIntensity, "
               "_PassData[0]._ParallaxLevels, _POMTexture, l_POMTexCoord, l_POMViewDir.xyz, 0.0);");
        if (Def("POM_DISCARD"))
            t.L("if((LOCALS.TexCoord0.x > 1.0) || (LOCALS.TexCoord0.y > 1.0) || (LOCALS.TexCoord0.x < 0.0) || "
                "(LOCALS.TexCoord0.y < 0.0)){ discard; }");
    }
    return t.Take();
}

// ---------------------------------------------------------------------------
// Surface shader statements

std::string TKorvaneGLSLGetBaseColorNode::ToString()
{
    const bool lighting = Def("LIGHTING");
    const bool texture0 = Def("USE_TEXTURE") && Def("USE_TEXTURE0");
    const bool vertexColor = Def("USE_VERTEXCOLOR");
    const std::string color0 = Vary(FBuilder, "v_Color0");
    TGLSLText t;

    auto plain = [&](bool ALit) {
        if (texture0 && vertexColor)
            t.L("LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * " + color0 + ";")
                .L(ALit ? "LOCALS.Alpha = LOCALS.BaseColor.a * " + color0 + ".a;" : "LOCALS.Alpha = LOCALS.BaseColor.a;");
        else if (texture0)
            t.L("LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0);").L("LOCALS.Alpha = LOCALS.BaseColor.a;");
        else if (vertexColor)
            t.L("LOCALS.BaseColor = " + color0 + ";")
                .L(ALit ? "LOCALS.Alpha = " + color0 + ".a;" : "LOCALS.Alpha = LOCALS.BaseColor.a;");
        else
            t.L("LOCALS.BaseColor = _Material[0]._Diffuse;")
                .L(ALit ? "LOCALS.Alpha = _Material[0]._Diffuse.a;" : "LOCALS.Alpha = LOCALS.BaseColor.a;");
    };

    if (Def("BUMP")) {
        if (Def("PBR")) {
            // With lighting the PBR preparation has set the colour already.
            if (!lighting) plain(false);
        } else {
            t.L(texture0 ? "LOCALS.BaseColor = BumpSum(_Texture0, LOCALS.TexCoord0, LOCALS.Normal);"
                         : "LOCALS.BaseColor = _Material[0]._Diffuse;")
                .L("LOCALS.Alpha = LOCALS.BaseColor.a;");
        }
        return t.Take();
    }
    if (Def("USE_TEXTURE_ATLAS")) {
        const char* out = Def("DEPRECATED") ? "gl_FragColor" : "o_Albedo";
        if (Def("USE_POINTSPRITE")) {
            if (Def("DEPRECATED"))
                t.L("vec4 l_ParticleSettings = vec4(0.0, 1.0, 0.0, 1.0);")
                    .L("if(!GetTextureAtlasColor(_Texture0, LOCALS.TexCoord0, l_ParticleSettings, gl_PointCoord, "
                       "_TextureSize, LOCALS.BaseColor)){ discard; }");
            else
                t.L("if(!GetTextureAtlasColor(_Texture0, LOCALS.TexCoord0, " +
                    Vary(FBuilder, "v_ParticleSettings") + ", gl_PointCoord, _TextureSize, LOCALS.BaseColor)){ discard; }");
        } else {
            t.L("vec2 l_OfsTexCoord0 = LOCALS.TexCoord0 / _TextureSize + _TextureOfs;")
                .L("if(!GetTextureAtlasColor(_Texture0, l_OfsTexCoord0, vec4(0.0, 1.0, 0.0, 1.0), vec2(0.0, 0.0), "
                   "_TextureSize, LOCALS.BaseColor)){ discard; }");
        }
        t.L(std::string(out) + " = LOCALS.BaseColor;").L("LOCALS.Alpha = LOCALS.BaseColor.a;");
        return t.Take();
    }
    plain(lighting);
    return t.Take();
}

std::string TKorvaneGLSLAlphaCutoffNode::ToString()
{
    if (!Def("USE_ALPHACUTOFF")) return {};
    return TGLSLText()
        .L("if((_Material[0]._AlphaCutoff.x > 0.01) && (LOCALS.BaseColor.a < _Material[0]._AlphaCutoff.y)){ discard; }")
        .Take();
}

std::string TKorvaneGLSLSpecularMapNode::ToString()
{
    if (!Def("LIGHTING") || !Def("SPECULARMAP")) return {};
    return TGLSLText().L("LOCALS.SpecularColor += tex2D(_SpecularMapTexture, LOCALS.TexCoord0).rgb;").Take();
}

std::string TKorvaneGLSLFragColorOutputNode::ToString()
{
    const char* out = Def("DEPRECATED") ? "gl_FragColor" : "o_Albedo";
    return TGLSLText()
        .L("LOCALS.Alpha *= _Material[0]._Features.x;")
        .L(std::string(out) + " = vec4(LOCALS.SumColor, LOCALS.Alpha);")
        .Take();
}

std::string TKorvaneGLSLColorClipNode::ToString()
{
    if (!Def("USE_COLORCLIP")) return {};
    const std::string c = Def("DEPRECATED") ? "gl_FragColor" : "o_Albedo";
    return TGLSLText()
        .L("if((abs(" + c + ".r - _Material[0]._Clipping.r) < _Material[0]._Clipping.a) && (abs(" + c +
           ".g - _Material[0]._Clipping.g) < _Material[0]._Clipping.a) && (abs(" + c +
           ".b - _Material[0]._Clipping.b) < _Material[0]._Clipping.a)){ discard; }")
        .Take();
}

std::string TKorvaneGLSLFogApplyNode::ToString()
{
    const char* out = Def("VARYING_STRUCTS") ? "o_Albedo" : "gl_FragColor";
    return TGLSLText()
        .L(std::string(out) + " = mix(" + out +
           ", _FogColor, 1.0 - computeFog(_FogMode, _FogStart, _FogEnd, _FogDensity, LOCALS.TransfVertPos.xyz, "
           "_EyePos.xyz));")
        .Take();
}

std::string TKorvaneGLSLWeightedBlendedOITNode::ToString()
{
    if (Def("DEPRECATED")) return {};
    TGLSLText t;
    t.L("const int c_IsTranslucent = 0x02;");
    if (Def("DEFERRED")) {
        const std::string uv =
            Def("USE_TEXTURE_ATLAS") && Def("USE_TEXTURE") ? "LOCALS.TexCoord0" : Vary(FBuilder, "v_TexCoord0");
        t.L("if((_Options & c_IsTranslucent) == c_IsTranslucent){")
            .L("if(LOCALS.Alpha >= 0.003){", 4)
            .L("o_Position = vec4(LOCALS.TransfVertPos.xyz, vars.v_WorldViewProjVertPos.z);", 6)
            .L("o_Normals = LOCALS.Normal.xyz;", 6)
            .L("} else {", 4)
            .L("discard;", 6)
            .L("}", 4)
            .L("}")
            .L("o_Ambient = _Material[0]._Ambient.rgb;")
            .L("o_Emissive = LOCALS.Emissive;")
            // The lit specular sum exists only with lighting; unlit deferred output has none.
            .L(Def("LIGHTING") ? "o_Specular = LOCALS.Specular.rgb;" : "o_Specular = vec3(0.0);")
            .L("o_Components = vec4(" + uv + ", 1.0, 1.0);");
    } else {
        t.L("if((_Options & c_IsTranslucent) == c_IsTranslucent){")
            .L("if(LOCALS.Alpha >= 0.003){", 4)
            .L("o_Position = vec4(LOCALS.TransfVertPos.xyz, LOCALS.FragDepth);", 6)
            .L("o_Normals = LOCALS.Normal.xyz;", 6)
            .L("o_Emissive = LOCALS.Emissive;", 6)
            .L("} else {", 4)
            .L("discard;", 6)
            .L("}", 4)
            .L("}");
    }
    t.L("if((_Options & c_IsTranslucent) == c_IsTranslucent){")
        .L("vec4 l_OITColor = o_Albedo;", 4)
        .L("float l_OITZ = abs(vars.v_WorldViewProjVertPos.z / _EyePos.z);", 4)
        .L("float l_OITDistWeight = clamp(0.03 / (1e-5 + pow(l_OITZ, 4.0)), 1e-2, 3e3);", 4)
        .L("float l_OITAlpha = LOCALS.Alpha;", 4)
        .L("float l_OITWeight = max(min(1.0, max(max(l_OITColor.r, l_OITColor.g), l_OITColor.b) * l_OITAlpha), "
           "l_OITAlpha) * l_OITDistWeight;",
           4)
        .L("o_Albedo = vec4(l_OITColor.rgb * l_OITAlpha, l_OITAlpha) * l_OITWeight;", 4)
        .L("o_Alpha = l_OITAlpha;", 4)
        .L("o_Emissive = LOCALS.Emissive;", 4)
        .L("} else {")
        .L("o_Position = vec4(LOCALS.TransfVertPos.xyz, vars.v_WorldViewProjVertPos.z);", 4)
        .L("o_Normals = LOCALS.Normal.xyz;", 4)
        .L("o_Emissive = LOCALS.Emissive;", 4)
        .L("o_Alpha = 1.0;", 4)
        .L("}");
    return t.Take();
}

} // namespace korvane
