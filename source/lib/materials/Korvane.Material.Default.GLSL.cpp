#include "Korvane.Material.Default.GLSL.h"

#include "Korvane.Context.h"
#include "Korvane.Material.Default.GLSL.Text.h"
#include "Platform.Math3D.h"

namespace korvane {

#ifdef _WIN32
const char* const KorvanePlatformDefine = "MSWINDOWS";
#else
const char* const KorvanePlatformDefine = "LINUX";
#endif

// ---------------------------------------------------------------------------
// Platform strings of the render context

std::string TKorvaneContextGLStrings::VendorName() const
{
    return TKorvaneContext::GetVendorName();
}

std::string TKorvaneContextGLStrings::RendererName() const
{
    return TKorvaneContext::GetRendererName();
}

std::string TKorvaneContextGLStrings::Version() const
{
    return TKorvaneContext::GetVersion();
}

std::string TKorvaneContextGLStrings::ExtensionString() const
{
    return TKorvaneContext::GetExtensionString();
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

    TKorvaneContextGLStrings context;
    const TKorvaneGLPlatformStrings& strings = FStrings ? *FStrings : context;
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

// ---------------------------------------------------------------------------
// Text helpers of the node library

namespace glsl {

void AppendBlock(std::string& AOut, std::string_view AText, std::initializer_list<TArg> AArgs)
{
    if (!AText.empty() && AText.front() == '\n') AText.remove_prefix(1);
    AOut.reserve(AOut.size() + AText.size() + AText.size() / 16);
    size_t at = 0;
    while (at < AText.size()) {
        const size_t stop = AText.find_first_of("\n$", at);
        if (stop == std::string_view::npos) {
            AOut.append(AText.substr(at));
            break;
        }
        AOut.append(AText.substr(at, stop - at));
        if (AText[stop] == '\n') {
            AOut += CRLF;
            at = stop + 1;
            continue;
        }
        // "$" opens a placeholder only when "{" follows; GLSL has no other use for it.
        if (stop + 1 >= AText.size() || AText[stop + 1] != '{') {
            AOut += '$';
            at = stop + 1;
            continue;
        }
        const size_t close = AText.find('}', stop + 2);
        if (close == std::string_view::npos) throw Exception("GLSL text block: unterminated placeholder");
        const std::string_view name = AText.substr(stop + 2, close - stop - 2);
        const TArg* arg = nullptr;
        for (const TArg& candidate : AArgs)
            if (candidate.Name == name) arg = &candidate;
        if (!arg) throw Exception(Format("GLSL text block: no value for placeholder \"%s\"", std::string(name)));
        AOut.append(arg->Value);
        at = close + 1;
    }
}

std::string_view VaryPrefix(const TKorvaneNodeBuilder* ABuilder)
{
    return ABuilder && ABuilder->Defined("VARYING_STRUCTS") ? "vars." : "";
}

namespace {

// The tone-mapping defines in the order they are tested.
const char* const ToneMapDefines[] = {
    "TONEMAP_EXPOSURE",          "TONEMAP_ACES_NARKOWICZ",       "TONEMAP_ACES_HILL",
    "TONEMAP_ACES_HILL_EXPOSURE_BOOST", "TONEMAP_REINHARD",      "TONEMAP_LUMABASED_REINHARD",
    "TONEMAP_WP_LUMABASED_REINHARD",    "TONEMAP_ROMBINDAHOUSE", "TONEMAP_FILMIC",
    "TONEMAP_UNCHARTED2",
};

} // namespace

const char* FirstToneMap(const TKorvaneNodeBuilder* ABuilder)
{
    for (const char* define : ToneMapDefines)
        if (ABuilder && ABuilder->Defined(define)) return define;
    return nullptr;
}

} // namespace glsl

} // namespace korvane
