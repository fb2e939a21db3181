#include "Korvane.Material.Default.Nodes.h"

#include <algorithm>

namespace korvane {

namespace {

template <typename T>
bool Compare(const T& ALeft, const T& ARight, TKorvaneDefOp AOp, const char* AInvalidMessage)
{
    switch (AOp) {
    case doEqual: return ALeft == ARight;
    case doUnequal: return ALeft != ARight;
    case doGreater: return ALeft > ARight;
    case doGreaterEqual: return ALeft >= ARight;
    case doLess: return ALeft < ARight;
    case doLessEqual: return ALeft <= ARight;
    }
    throw Exception(AInvalidMessage);
}

const char* const SUnsupportedValue = "unsupported definition value: only Integer, Int64, Boolean and Float supported";

bool CompareDefineValues(const TValue& ASupplied, const TValue& AStored, TKorvaneDefOp AOp)
{
    if (ASupplied.Kind() != AStored.Kind())
        throw Exception("unsupported definition value: definition value type and supplied value type not equal");
    switch (ASupplied.Kind()) {
    case tkInteger: return Compare(ASupplied.AsInteger(), AStored.AsInteger(), AOp, "invalid integer operator");
    case tkEnumeration:
        if (!ASupplied.IsType<bool>() || !AStored.IsType<bool>()) throw Exception(SUnsupportedValue);
        return Compare(int(ASupplied.AsBoolean()), int(AStored.AsBoolean()), AOp, "invalid boolean operator");
    case tkFloat: return Compare(ASupplied.AsExtended(), AStored.AsExtended(), AOp, "invalid float operator");
    case tkInt64: return Compare(ASupplied.AsInt64(), AStored.AsInt64(), AOp, "invalid int64 operator");
    default: throw Exception(SUnsupportedValue);
    }
}

// Bounded text joins of the operator table.
std::string Join(const std::vector<std::string>& AParts, size_t AFrom, const char* ASeparator)
{
    std::string text;
    for (size_t i = AFrom; i < AParts.size(); ++i) {
        if (i > AFrom) text += ASeparator;
        text += AParts[i];
    }
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// TKorvaneNodeBuilder

TKorvaneNodeBuilder::TKorvaneNodeBuilder(TObject* AMaterial)
    : FMaterial(AMaterial), FSourceCode(std::make_unique<TKorvaneCompositeNode>(this))
{
}

TKorvaneNodeBuilder::~TKorvaneNodeBuilder()
{
    // The tree goes first: nodes may still look at the defines while they are freed.
    FGlobals = nullptr;
    FEntryPoint = nullptr;
    FSurfaceShader = nullptr;
    FSourceCode.reset();
}

void TKorvaneNodeBuilder::Initialize()
{
    InitDefines();
    BuildNodes();
}

void TKorvaneNodeBuilder::SetSurfaceShader(std::unique_ptr<TKorvaneSurfaceShaderNode> Value)
{
    if (!Value) return;
    if (FSurfaceShader && FEntryPoint) {
        FEntryPoint->Remove(FSurfaceShader);
        FSurfaceShader = nullptr;
    }
    if (FEntryPoint) FSurfaceShader = FEntryPoint->Append(std::move(Value));
}

void TKorvaneNodeBuilder::AddDefine(const std::string& AName)
{
    FDefines[AName] = TValue::From<bool>(true);
}

void TKorvaneNodeBuilder::AddDefine(const std::string& AName, const TValue& AValue)
{
    FDefines[AName] = AValue;
}

void TKorvaneNodeBuilder::RemoveDefine(const std::string& AName)
{
    FDefines.erase(AName);
}

bool TKorvaneNodeBuilder::Defined(std::string_view AName) const
{
    return FDefines.find(AName) != FDefines.end();
}

bool TKorvaneNodeBuilder::Defined(const std::string& AName, const TValue& AValue, TKorvaneDefOp AOp) const
{
    auto it = FDefines.find(AName);
    if (it == FDefines.end()) return false;
    try {
        return CompareDefineValues(AValue, it->second, AOp);
    } catch (const Exception& e) {
        throw Exception(Format("failed to check define %s: %s", AName, e.Message()));
    }
}

int32_t TKorvaneNodeBuilder::IncNumberOfUBOs()
{
    return FNumberOfUBOs++;
}

std::string TKorvaneNodeBuilder::ToString() const
{
    return FSourceCode ? FSourceCode->ToString() : std::string();
}

// ---------------------------------------------------------------------------
// TKorvaneNodeEntity

TKorvaneNodeEntity::TKorvaneNodeEntity(TKorvaneNodeBuilder* ABuilder) : FBuilder(ABuilder) {}

bool TKorvaneNodeEntity::Defined() const
{
    for (const auto& name : FDefines)
        if (!FBuilder || !FBuilder->Defined(name)) return false;
    return true;
}

bool TKorvaneNodeEntity::NotDefined() const
{
    for (const auto& name : FNotDefines)
        if (FBuilder && FBuilder->Defined(name)) return false;
    return true;
}

std::string TKorvaneNodeEntity::ToString()
{
    return {};
}

// ---------------------------------------------------------------------------
// TKorvaneCompositeNode

int TKorvaneCompositeNode::Add(std::unique_ptr<TKorvaneNodeEntity> ANode)
{
    FNodes.push_back(std::move(ANode));
    return static_cast<int>(FNodes.size()) - 1;
}

void TKorvaneCompositeNode::Remove(TKorvaneNodeEntity* ANode)
{
    auto it = std::find_if(FNodes.begin(), FNodes.end(), [ANode](const auto& n) { return n.get() == ANode; });
    if (it != FNodes.end()) FNodes.erase(it);
}

void TKorvaneCompositeNode::Delete(int AIndex)
{
    if (AIndex < 0 || AIndex >= Count()) throw EArgumentException(Format("List index out of bounds (%d)", AIndex));
    FNodes.erase(FNodes.begin() + AIndex);
}

void TKorvaneCompositeNode::Insert(int AIndex, std::unique_ptr<TKorvaneNodeEntity> ANode)
{
    if (AIndex < 0 || AIndex > Count()) throw EArgumentException(Format("List index out of bounds (%d)", AIndex));
    FNodes.insert(FNodes.begin() + AIndex, std::move(ANode));
}

TKorvaneNodeEntity* TKorvaneCompositeNode::Nodes(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count()) throw EArgumentException(Format("List index out of bounds (%d)", AIndex));
    return FNodes[static_cast<size_t>(AIndex)].get();
}

TKorvaneNodeEntity* TKorvaneCompositeNode::FindNode(const TKorvaneNodeClassTest& AIsClass, const std::string& AId,
                                                    bool ARecursive) const
{
    for (const auto& child : FNodes) {
        if (!child) continue;
        if (AIsClass(child.get()) && (AId.empty() || child->Id() == AId)) return child.get();
        if (ARecursive)
            if (auto* composite = dynamic_cast<TKorvaneCompositeNode*>(child.get()))
                if (auto* found = composite->FindNode(AIsClass, AId, true)) return found;
    }
    return nullptr;
}

int TKorvaneCompositeNode::IndexOf(const TKorvaneNodeClassTest& AIsClass, const std::string& AId) const
{
    for (size_t i = 0; i < FNodes.size(); ++i) {
        const auto* child = FNodes[i].get();
        if (child && AIsClass(child) && (AId.empty() || child->Id() == AId)) return static_cast<int>(i);
    }
    return -1;
}

int TKorvaneCompositeNode::IndexOfReference(const TKorvaneNodeClassTest& AIsClass, uintptr_t AReferenceId) const
{
    for (size_t i = 0; i < FNodes.size(); ++i) {
        const auto* child = FNodes[i].get();
        if (child && AIsClass(child) && (AReferenceId == 0 || child->ReferenceID() == AReferenceId))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TKorvaneCompositeNode::ToString()
{
    std::string text;
    for (const auto& child : FNodes)
        if (child && child->Passes()) text += child->ToString();
    return text;
}

std::string TKorvaneCompositeNode::ChildrenText() const
{
    std::string text;
    for (const auto& child : FNodes)
        if (child) text += child->ToString();
    return text;
}

// ---------------------------------------------------------------------------
// Sections

TKorvaneUniformsNode::TKorvaneUniformsNode(TKorvaneNodeBuilder* ABuilder) : TKorvaneCompositeNode(ABuilder)
{
    FTextures = AddNew<TKorvaneCompositeNode>();
}

void TKorvaneUniformsNode::ClearTextures()
{
    if (FTextures) FTextures->Clear();
}

void TKorvaneUniformsNode::Clear()
{
    // The texture sub-section stays (emptied): the material lists its samplers there
    // after every clear, and a freed sub-section would leave Textures dangling.
    for (int i = Count() - 1; i >= 0; --i)
        if (Nodes(i) != FTextures) Delete(i);
    ClearTextures();
}

TKorvaneGlobalsNode::TKorvaneGlobalsNode(TKorvaneNodeBuilder* ABuilder) : TKorvaneCompositeNode(ABuilder)
{
    FConstants = AddNew<TKorvaneCompositeNode>();
    FTypes = AddNew<TKorvaneCompositeNode>();
    FAttributes = AddNew<TKorvaneCompositeNode>();
    FUniforms = AddNew<TKorvaneUniformsNode>();
    FVarying = AddNew<TKorvaneCompositeNode>();
    FFunctions = AddNew<TKorvaneCompositeNode>();
    FVariables = AddNew<TKorvaneCompositeNode>();
}

void TKorvaneGlobalsNode::ClearConstants()
{
    if (FConstants) FConstants->Clear();
}
void TKorvaneGlobalsNode::ClearTypes()
{
    if (FTypes) FTypes->Clear();
}
void TKorvaneGlobalsNode::ClearAttributes()
{
    if (FAttributes) FAttributes->Clear();
}
void TKorvaneGlobalsNode::ClearUniforms()
{
    if (FUniforms) FUniforms->Clear();
}
void TKorvaneGlobalsNode::ClearVarying()
{
    if (FVarying) FVarying->Clear();
}
void TKorvaneGlobalsNode::ClearFunctions()
{
    if (FFunctions) FFunctions->Clear();
}
void TKorvaneGlobalsNode::ClearVariables()
{
    if (FVariables) FVariables->Clear();
}

// ---------------------------------------------------------------------------
// TKorvaneDeclarationNode

TKorvaneVariableNode* TKorvaneDeclarationNode::AddDeclaration(const std::string& AName,
                                                              TKorvaneShaderNodeVariableType AType)
{
    return AddDeclaration(AName, AType, std::string(), false, 0, TValue());
}

TKorvaneVariableNode* TKorvaneDeclarationNode::AddDeclaration(const std::string& AName,
                                                              TKorvaneShaderNodeVariableType AType,
                                                              const std::string& ACustomTypeName)
{
    return AddDeclaration(AName, AType, ACustomTypeName, false, 0, TValue());
}

TKorvaneVariableNode* TKorvaneDeclarationNode::AddDeclaration(const std::string& AName,
                                                              TKorvaneShaderNodeVariableType AType,
                                                              const std::string& ACustomTypeName, bool AIsArray,
                                                              int32_t AArrayCount, const TValue& AValue)
{
    if (IndexOfDeclaration(AName) >= 0) throw Exception(Format("attribute %s already exists", AName));
    auto node = std::make_unique<TKorvaneVariableNode>(FBuilder);
    node->SetId(AName);
    TKorvaneShaderNodeVariable& def = node->Definition();
    def.Name = AName;
    def._Type = AType;
    def.TypeName = ACustomTypeName;
    def.Value = AValue;
    def.IsArray = AIsArray;
    def.ArrayCount = AArrayCount;
    return Append(std::move(node));
}

TKorvaneVariableNode* TKorvaneDeclarationNode::Declaration(int AIndex) const
{
    auto* variable = dynamic_cast<TKorvaneVariableNode*>(Nodes(AIndex));
    if (!variable) throw EInvalidCast();
    return variable;
}

int TKorvaneDeclarationNode::IndexOfDeclaration(const std::string& AName) const
{
    for (int i = 0; i < Count(); ++i)
        if (Declaration(i)->Definition().Name == AName) return i;
    return -1;
}

void TKorvaneDeclarationNode::RemoveDeclaration(const std::string& AName)
{
    int index = IndexOfDeclaration(AName);
    if (index >= 0) Delete(index);
}

void TKorvaneDeclarationNode::SetConditionalValue(const std::string& ADefine, const TValue& AValue)
{
    for (auto& entry : FConditionalValues)
        if (entry.first == ADefine) {
            entry.second = AValue;
            return;
        }
    FConditionalValues.emplace_back(ADefine, AValue);
}

TValue TKorvaneDeclarationNode::GetConditionalValue() const
{
    for (const auto& entry : FConditionalValues)
        if (FBuilder && FBuilder->Defined(entry.first)) return entry.second;
    return TValue();
}

// ---------------------------------------------------------------------------
// Variables, operations, constants, statements, references

std::unique_ptr<TKorvaneVariableNode> TKorvaneVariableNode::Build(TKorvaneNodeBuilder*, const std::string&,
                                                                  TKorvaneShaderNodeVariableType)
{
    throw Exception("TKorvaneVariableNode.Build needs to be overwritten");
}

std::unique_ptr<TKorvaneOperationNode> TKorvaneOperationNode::Build(TKorvaneNodeBuilder* ABuilder,
                                                                    TKorvaneShaderNodeOperator AOp,
                                                                    std::unique_ptr<TKorvaneNodeEntity> ALeft,
                                                                    std::unique_ptr<TKorvaneNodeEntity> ARight)
{
    auto node = std::make_unique<TKorvaneOperationNode>(ABuilder);
    node->SetOperator(AOp);
    if (ALeft) node->Add(std::move(ALeft));
    if (ARight) node->Add(std::move(ARight));
    return node;
}

std::string TKorvaneOperationNode::ToString()
{
    static const char* const SListSize = "failed to build source code for operator - invalid nodes list size";

    std::vector<std::string> parts;
    parts.reserve(FNodes.size());
    for (const auto& child : FNodes) parts.push_back(child ? child->ToString() : std::string());

    auto need = [&](size_t n) {
        if (parts.size() < n) throw Exception(SListSize);
    };
    auto binary = [&](const char* op) {
        need(2);
        return parts[0] + op + parts[1];
    };
    auto prefix = [&](const char* op) {
        need(1);
        return op + parts[0];
    };
    auto postfix = [&](const char* op) {
        need(1);
        return parts[0] + op;
    };

    switch (FOperator) {
    case snopUndefined: need(1); return Join(parts, 0, "");
    case snopGrouping: need(1); return "(" + Join(parts, 0, ", ") + ")";
    case snopArraySubscript: need(2); return parts[0] + "[" + Join(parts, 1, ", ") + "]";
    case snopFuncCall: need(1); return parts[0] + "(" + Join(parts, 1, ", ") + ")";
    case snopFieldSel: return binary(".");
    case snopPostInc: return postfix("++");
    case snopPostDec: return postfix("--");
    case snopPreInc: return prefix("++");
    case snopPreDec: return prefix("--");
    case snopADD: return binary(" + ");
    case snopSUB: return binary(" - ");
    case snopMUL: return binary(" * ");
    case snopDIV: return binary(" / ");
    case snopSignPos: return prefix("+");
    case snopSignNeg: return prefix("-");
    case snopNOT: return prefix("!");
    case snopEQ: return binary(" == ");
    case snopUNEQ: return binary(" != ");
    case snopGT: return binary(" > ");
    case snopGEQ: return binary(" >= ");
    case snopLT: return binary(" < ");
    case snopLEQ: return binary(" <= ");
    case snopLogAND: return binary(" && ");
    case snopLogOR: return binary(" || ");
    case snopLogXOR: return binary(" ^^ ");
    case snopSelection: need(3); return parts[0] + " ? " + parts[1] + " : " + parts[2];
    case snopAssign: return binary(" = ");
    case snopAddAssign: return binary(" += ");
    case snopSubAssign: return binary(" -= ");
    case snopMulAssign: return binary(" *= ");
    case snopDivAssign: return binary(" /= ");
    }
    throw Exception("failed to build source code for operator - invalid operator found");
}

std::unique_ptr<TKorvaneConstantNode> TKorvaneConstantNode::Build(TKorvaneNodeBuilder*, const std::string&,
                                                                  const TValue&)
{
    throw Exception("TKorvaneConstantNode.Build needs to be overwritten");
}

std::string TKorvaneStatementNode::ToString()
{
    return ChildrenText() + ";" + CRLF;
}

std::unique_ptr<TKorvaneReferenceNode> TKorvaneReferenceNode::Build(TKorvaneNodeBuilder* ABuilder,
                                                                    TKorvaneNodeEntity* AOwner)
{
    if (!AOwner) throw Exception("failed to create reference to different node - owner node not assigned");
    auto node = std::make_unique<TKorvaneReferenceNode>(ABuilder);
    node->SetOwner(AOwner);
    return node;
}

std::string TKorvaneReferenceNode::ToString()
{
    return FOwner ? FOwner->Id() : std::string("<undefined>");
}

// ---------------------------------------------------------------------------
// Entry point and user functions

TKorvaneEntryPointNode::TKorvaneEntryPointNode(TKorvaneNodeBuilder* ABuilder) : TKorvaneCompositeNode(ABuilder)
{
    FId = "main";
}

namespace {
std::string LinesText(const std::vector<std::string>& ALines)
{
    std::string text;
    for (const auto& line : ALines) text += line + CRLF;
    return text;
}
} // namespace

TKorvaneVertexShaderFuncNode::TKorvaneVertexShaderFuncNode(TKorvaneNodeBuilder* ABuilder)
    : TKorvaneNodeEntity(ABuilder), FSourceCode{"void VertexShader(inout TLocals DATA){", "", "}"}
{
}

std::string TKorvaneVertexShaderFuncNode::ToString()
{
    return LinesText(FSourceCode);
}

TKorvaneSurfaceShaderFuncNode::TKorvaneSurfaceShaderFuncNode(TKorvaneNodeBuilder* ABuilder)
    : TKorvaneNodeEntity(ABuilder), FSourceCode{"void SurfaceShader(inout TLocals DATA){", "", "}"}
{
}

std::string TKorvaneSurfaceShaderFuncNode::ToString()
{
    return LinesText(FSourceCode);
}

std::string TKorvaneGLSLVertexShaderExec::ToString()
{
    return std::string("  VertexShader(LOCALS);") + CRLF;
}

std::string TKorvaneGLSLSurfaceShaderExec::ToString()
{
    return std::string("  SurfaceShader(LOCALS);") + CRLF;
}

} // namespace korvane
