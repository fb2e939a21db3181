#pragma once
// The language-neutral shader node tree. A builder keeps a dictionary of
// defines and a tree of nodes; every node lists the defines it requires and
// the defines it excludes, and contributes its text only when both tests pass.
// The text of the whole tree, read in tree order, is the shader source, so a
// material switches features by changing defines and asking for the text again.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.Rtti.h"
#include "Platform.SysUtils.h"

namespace korvane {

// Type of a declared variable; the GLSL keyword of each is written by the GLSL serialiser.
enum TKorvaneShaderNodeVariableType : uint8_t {
    stCustom, // the type is given by name
    stInt,
    stFloat,
    stBool,
    stBVec2,
    stBVec3,
    stBVec4,
    stIVec2,
    stIVec3,
    stIVec4,
    stUVec2,
    stUVec3,
    stUVec4,
    stVec2,
    stVec3,
    stVec4,
    stMat33,
    stMat44,
    stSampler2D,
    stSamplerCube,
    stSampler3D,
    stStruct,
};

// Comparison of a define's value (the supplied value on the left).
enum TKorvaneDefOp : uint8_t { doEqual, doUnequal, doGreater, doGreaterEqual, doLess, doLessEqual };

enum TKorvaneShaderNodeOperator : uint8_t {
    snopUndefined,
    snopGrouping,
    snopArraySubscript,
    snopFuncCall,
    snopFieldSel,
    snopPostInc,
    snopPostDec,
    snopPreInc,
    snopPreDec,
    snopADD,
    snopSUB,
    snopMUL,
    snopDIV,
    snopSignPos,
    snopSignNeg,
    snopNOT,
    snopEQ,
    snopUNEQ,
    snopGT,
    snopGEQ,
    snopLT,
    snopLEQ,
    snopLogAND,
    snopLogOR,
    snopLogXOR,
    snopSelection,
    snopAssign,
    snopAddAssign,
    snopSubAssign,
    snopMulAssign,
    snopDivAssign,
};

// One declared variable.
struct TKorvaneShaderNodeVariable {
    std::string Name;
    TKorvaneShaderNodeVariableType _Type = stInt;
    std::string TypeName; // used when _Type is stCustom (a struct type such as "Light")
    TValue Value;         // default value; empty for none
    bool IsArray = false;
    int32_t ArrayCount = 0;
};

class TKorvaneNodeEntity;
class TKorvaneCompositeNode;
class TKorvaneGlobalsNode;
class TKorvaneEntryPointNode;
class TKorvaneSurfaceShaderNode;

// Ordered by name; looked up by any string type without a temporary key.
using TKorvaneNodeDefines = std::map<std::string, TValue, std::less<>>;

class TKorvaneNodeBuilder {
public:
    virtual ~TKorvaneNodeBuilder();
    TKorvaneNodeBuilder(const TKorvaneNodeBuilder&) = delete;
    TKorvaneNodeBuilder& operator=(const TKorvaneNodeBuilder&) = delete;

    TObject* Material() const { return FMaterial; }
    const TKorvaneNodeDefines& Defines() const { return FDefines; }
    TKorvaneCompositeNode* SourceCode() const { return FSourceCode.get(); }
    TKorvaneGlobalsNode* Globals() const { return FGlobals; }
    TKorvaneEntryPointNode* EntryPoint() const { return FEntryPoint; }
    TKorvaneSurfaceShaderNode* SurfaceShader() const { return FSurfaceShader; }
    int32_t NumberOfUBOs() const { return FNumberOfUBOs; }

    // Replaces the surface shader node of the entry point; the builder's tree takes
    // the node over. Without an entry point nothing changes (and the node is dropped).
    virtual void SetSurfaceShader(std::unique_ptr<TKorvaneSurfaceShaderNode> Value);

    virtual void AddDefine(const std::string& AName);
    virtual void AddDefine(const std::string& AName, const TValue& AValue);
    virtual void RemoveDefine(const std::string& AName);
    virtual bool Defined(std::string_view AName) const;
    virtual bool Defined(const std::string& AName, const TValue& AValue, TKorvaneDefOp AOp) const;
    // The current counter, then adds 1: uniform blocks take their binding from it.
    virtual int32_t IncNumberOfUBOs();

    // The shader text of the whole tree for the current defines.
    virtual std::string ToString() const;

protected:
    explicit TKorvaneNodeBuilder(TObject* AMaterial);

    // Two-phase creation: the constructors only set up the fields; the creating
    // class function then runs InitDefines and BuildNodes on the finished object,
    // so the most-derived overrides run.
    void Initialize();
    virtual void InitDefines() = 0;
    virtual void BuildNodes() = 0;

    TObject* FMaterial = nullptr;
    TKorvaneNodeDefines FDefines;
    std::unique_ptr<TKorvaneCompositeNode> FSourceCode;
    TKorvaneGlobalsNode* FGlobals = nullptr;
    TKorvaneEntryPointNode* FEntryPoint = nullptr;
    TKorvaneSurfaceShaderNode* FSurfaceShader = nullptr;
    int32_t FNumberOfUBOs = 0;
};

// Base of every node: its text is empty.
class TKorvaneNodeEntity {
public:
    explicit TKorvaneNodeEntity(TKorvaneNodeBuilder* ABuilder);
    virtual ~TKorvaneNodeEntity() = default;
    TKorvaneNodeEntity(const TKorvaneNodeEntity&) = delete;
    TKorvaneNodeEntity& operator=(const TKorvaneNodeEntity&) = delete;

    TKorvaneNodeBuilder* Builder() const { return FBuilder; }
    const std::string& Id() const { return FId; }
    void SetId(const std::string& AId) { FId = AId; }
    const std::vector<std::string>& Defines() const { return FDefines; }
    const std::vector<std::string>& NotDefines() const { return FNotDefines; }
    uintptr_t ReferenceID() const { return FReferenceID; }
    void SetReferenceID(uintptr_t AId) { FReferenceID = AId; }
    void SetReferenceIDByObject(const void* AObj) { FReferenceID = reinterpret_cast<uintptr_t>(AObj); }

    void AddDefine(const std::string& ADefine) { FDefines.push_back(ADefine); }
    void AddNotDefine(const std::string& ADefine) { FNotDefines.push_back(ADefine); }
    // Every required define is defined in the builder (True for none).
    bool Defined() const;
    // None of the excluded defines is defined in the builder (True for none).
    bool NotDefined() const;
    bool Passes() const { return Defined() && NotDefined(); }

    virtual std::string ToString();

protected:
    // Shorthand for the builder's define test used by the text of the nodes.
    bool Def(const char* AName) const { return FBuilder && FBuilder->Defined(AName); }

    TKorvaneNodeBuilder* FBuilder;
    std::string FId;
    std::vector<std::string> FDefines;
    std::vector<std::string> FNotDefines;
    uintptr_t FReferenceID = 0;
};

using TKorvaneNodeClassTest = std::function<bool(const TKorvaneNodeEntity*)>;

// A container that owns its children; its text is the text of its passing children.
class TKorvaneCompositeNode : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;

    // Appends ANode (taking ownership) and returns its index.
    int Add(std::unique_ptr<TKorvaneNodeEntity> ANode);
    // Appends ANode and returns it, typed.
    template <typename T>
    T* Append(std::unique_ptr<T> ANode)
    {
        T* node = ANode.get();
        Add(std::move(ANode));
        return node;
    }
    // Creates a node of class T on this node's builder and appends it.
    template <typename T, typename... Args>
    T* AddNew(Args&&... args)
    {
        // Owned through the base pointer from the start: a typed owner here
        // would make the compiler expand T's whole destructor at every call.
        T* node = new T(FBuilder, std::forward<Args>(args)...);
        Add(std::unique_ptr<TKorvaneNodeEntity>(node));
        return node;
    }
    // Removes and frees ANode when it is a child.
    void Remove(TKorvaneNodeEntity* ANode);
    void Delete(int AIndex);
    void Insert(int AIndex, std::unique_ptr<TKorvaneNodeEntity> ANode);
    int Count() const { return static_cast<int>(FNodes.size()); }
    virtual void Clear() { FNodes.clear(); }
    TKorvaneNodeEntity* Nodes(int AIndex) const;

    // First child (depth first when ARecursive) whose class passes AIsClass and,
    // when AId is not empty, whose id equals AId.
    TKorvaneNodeEntity* FindNode(const TKorvaneNodeClassTest& AIsClass, const std::string& AId, bool ARecursive) const;
    int IndexOf(const TKorvaneNodeClassTest& AIsClass, const std::string& AId) const;
    int IndexOfReference(const TKorvaneNodeClassTest& AIsClass, uintptr_t AReferenceId) const;

    template <typename T>
    T* FindNode(const std::string& AId = {}, bool ARecursive = false) const
    {
        return static_cast<T*>(FindNode(IsClass<T>(), AId, ARecursive));
    }
    template <typename T>
    int IndexOf(const std::string& AId = {}) const
    {
        return IndexOf(IsClass<T>(), AId);
    }
    template <typename T>
    int IndexOfReference(uintptr_t AReferenceId) const
    {
        return IndexOfReference(IsClass<T>(), AReferenceId);
    }
    template <typename T>
    static TKorvaneNodeClassTest IsClass()
    {
        return [](const TKorvaneNodeEntity* n) { return dynamic_cast<const T*>(n) != nullptr; };
    }

    std::string ToString() override;

protected:
    // The children's texts concatenated, without define tests.
    std::string ChildrenText() const;

    std::vector<std::unique_ptr<TKorvaneNodeEntity>> FNodes;
};

// The uniform section of a shader, with a texture sub-section as its first child.
class TKorvaneUniformsNode : public TKorvaneCompositeNode {
public:
    explicit TKorvaneUniformsNode(TKorvaneNodeBuilder* ABuilder);
    TKorvaneCompositeNode* Textures() const { return FTextures; }
    void ClearTextures();
    // Frees every child but the texture sub-section, which is emptied.
    void Clear() override;

private:
    TKorvaneCompositeNode* FTextures;
};

// The global sections of a shader, created in this order as its first seven children.
class TKorvaneGlobalsNode : public TKorvaneCompositeNode {
public:
    explicit TKorvaneGlobalsNode(TKorvaneNodeBuilder* ABuilder);

    TKorvaneCompositeNode* Constants() const { return FConstants; }
    TKorvaneCompositeNode* Types() const { return FTypes; }
    TKorvaneCompositeNode* Attributes() const { return FAttributes; }
    TKorvaneUniformsNode* Uniforms() const { return FUniforms; }
    TKorvaneCompositeNode* Varying() const { return FVarying; }
    TKorvaneCompositeNode* Functions() const { return FFunctions; }
    TKorvaneCompositeNode* Variables() const { return FVariables; }

    void ClearConstants();
    void ClearTypes();
    void ClearAttributes();
    void ClearUniforms();
    void ClearVarying();
    void ClearFunctions();
    void ClearVariables();

private:
    TKorvaneCompositeNode* FConstants;
    TKorvaneCompositeNode* FTypes;
    TKorvaneCompositeNode* FAttributes;
    TKorvaneUniformsNode* FUniforms;
    TKorvaneCompositeNode* FVarying;
    TKorvaneCompositeNode* FFunctions;
    TKorvaneCompositeNode* FVariables;
};

class TKorvaneVariableNode;

// A composite of variable declarations, with values that apply under a define.
class TKorvaneDeclarationNode : public TKorvaneCompositeNode {
public:
    using TKorvaneCompositeNode::TKorvaneCompositeNode;

    TKorvaneVariableNode* AddDeclaration(const std::string& AName, TKorvaneShaderNodeVariableType AType);
    TKorvaneVariableNode* AddDeclaration(const std::string& AName, TKorvaneShaderNodeVariableType AType,
                                         const std::string& ACustomTypeName);
    TKorvaneVariableNode* AddDeclaration(const std::string& AName, TKorvaneShaderNodeVariableType AType,
                                         const std::string& ACustomTypeName, bool AIsArray, int32_t AArrayCount,
                                         const TValue& AValue);
    void RemoveDeclaration(const std::string& AName);
    int IndexOfDeclaration(const std::string& AName) const;
    // The child at AIndex as a variable node; raises the invalid-cast error for any other child.
    TKorvaneVariableNode* Declaration(int AIndex) const;

    const std::vector<std::pair<std::string, TValue>>& ConditionalValues() const { return FConditionalValues; }
    void SetConditionalValue(const std::string& ADefine, const TValue& AValue);
    // The value of the first entry whose define is defined in the builder; empty otherwise.
    TValue GetConditionalValue() const;

private:
    // Kept in insertion order: the first entry whose define is set wins.
    std::vector<std::pair<std::string, TValue>> FConditionalValues;
};

class TKorvaneTypeNode : public TKorvaneDeclarationNode {
public:
    using TKorvaneDeclarationNode::TKorvaneDeclarationNode;
};

class TKorvaneStructTypeNode : public TKorvaneTypeNode {
public:
    using TKorvaneTypeNode::TKorvaneTypeNode;
};

class TKorvaneSurfaceInputNode : public TKorvaneStructTypeNode {
public:
    using TKorvaneStructTypeNode::TKorvaneStructTypeNode;
};

class TKorvaneSurfaceOutputNode : public TKorvaneStructTypeNode {
public:
    using TKorvaneStructTypeNode::TKorvaneStructTypeNode;
};

// One declared variable.
class TKorvaneVariableNode : public TKorvaneDeclarationNode {
public:
    using TKorvaneDeclarationNode::TKorvaneDeclarationNode;

    TKorvaneShaderNodeVariable& Definition() { return FDefinition; }
    const TKorvaneShaderNodeVariable& Definition() const { return FDefinition; }
    void SetDefinition(const TKorvaneShaderNodeVariable& AValue) { FDefinition = AValue; }

    // Only the language layer knows how to build a variable: raises here.
    static std::unique_ptr<TKorvaneVariableNode> Build(TKorvaneNodeBuilder* ABuilder, const std::string& AName,
                                                       TKorvaneShaderNodeVariableType AType);

protected:
    TKorvaneShaderNodeVariable FDefinition;
};

// An expression: the operator over its children.
class TKorvaneOperationNode : public TKorvaneCompositeNode {
public:
    using TKorvaneCompositeNode::TKorvaneCompositeNode;

    TKorvaneShaderNodeOperator _Operator() const { return FOperator; }
    void SetOperator(TKorvaneShaderNodeOperator AOp) { FOperator = AOp; }

    // An operation with AOp over ALeft and ARight (each added when not null).
    static std::unique_ptr<TKorvaneOperationNode> Build(TKorvaneNodeBuilder* ABuilder, TKorvaneShaderNodeOperator AOp,
                                                        std::unique_ptr<TKorvaneNodeEntity> ALeft,
                                                        std::unique_ptr<TKorvaneNodeEntity> ARight);

    std::string ToString() override;

private:
    TKorvaneShaderNodeOperator FOperator = snopADD;
};

class TKorvaneConstantNode : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;

    const TValue& Value() const { return FValue; }
    void SetValue(const TValue& AValue) { FValue = AValue; }

    // Only the language layer knows how to build a constant: raises here.
    static std::unique_ptr<TKorvaneConstantNode> Build(TKorvaneNodeBuilder* ABuilder, const std::string& AName,
                                                       const TValue& AValue);

protected:
    TValue FValue;
};

// A statement: the children followed by ";".
class TKorvaneStatementNode : public TKorvaneCompositeNode {
public:
    using TKorvaneCompositeNode::TKorvaneCompositeNode;
    std::string ToString() override;
};

// Names another node (not owned).
class TKorvaneReferenceNode : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;

    TKorvaneNodeEntity* Owner() const { return FOwner; }
    void SetOwner(TKorvaneNodeEntity* AOwner) { FOwner = AOwner; }

    static std::unique_ptr<TKorvaneReferenceNode> Build(TKorvaneNodeBuilder* ABuilder, TKorvaneNodeEntity* AOwner);

    std::string ToString() override;

private:
    TKorvaneNodeEntity* FOwner = nullptr;
};

// A loop with a body of children; the header parts are owned operation nodes.
class TKorvaneForLoopNode : public TKorvaneStatementNode {
public:
    using TKorvaneStatementNode::TKorvaneStatementNode;

    TKorvaneOperationNode* LoopVariable() const { return FLoopVariable.get(); }
    TKorvaneOperationNode* Condition() const { return FCondition.get(); }
    TKorvaneOperationNode* LoopOp() const { return FLoopOp.get(); }
    void SetLoopVariable(std::unique_ptr<TKorvaneOperationNode> ANode) { FLoopVariable = std::move(ANode); }
    void SetCondition(std::unique_ptr<TKorvaneOperationNode> ANode) { FCondition = std::move(ANode); }
    void SetLoopOp(std::unique_ptr<TKorvaneOperationNode> ANode) { FLoopOp = std::move(ANode); }

protected:
    std::unique_ptr<TKorvaneOperationNode> FLoopVariable;
    std::unique_ptr<TKorvaneOperationNode> FCondition;
    std::unique_ptr<TKorvaneOperationNode> FLoopOp;
};

// The replaceable part of the entry point.
class TKorvaneSurfaceShaderNode : public TKorvaneCompositeNode {
public:
    using TKorvaneCompositeNode::TKorvaneCompositeNode;

    TKorvaneSurfaceInputNode* Input() const { return FInput; }
    TKorvaneSurfaceOutputNode* Output() const { return FOutput; }

private:
    TKorvaneSurfaceInputNode* FInput = nullptr;
    TKorvaneSurfaceOutputNode* FOutput = nullptr;
};

// The shader's entry function; its id is "main".
class TKorvaneEntryPointNode : public TKorvaneCompositeNode {
public:
    explicit TKorvaneEntryPointNode(TKorvaneNodeBuilder* ABuilder);
};

// User vertex function text; starts as an empty VertexShader(inout TLocals DATA) function.
class TKorvaneVertexShaderFuncNode : public TKorvaneNodeEntity {
public:
    explicit TKorvaneVertexShaderFuncNode(TKorvaneNodeBuilder* ABuilder);
    std::vector<std::string>& SourceCode() { return FSourceCode; }
    std::string ToString() override;

private:
    std::vector<std::string> FSourceCode;
};

// User surface function text; starts as an empty SurfaceShader(inout TLocals DATA) function.
class TKorvaneSurfaceShaderFuncNode : public TKorvaneNodeEntity {
public:
    explicit TKorvaneSurfaceShaderFuncNode(TKorvaneNodeBuilder* ABuilder);
    std::vector<std::string>& SourceCode() { return FSourceCode; }
    std::string ToString() override;

private:
    std::vector<std::string> FSourceCode;
};

class TKorvaneGLSLVertexShaderExec : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;
    std::string ToString() override;
};

class TKorvaneGLSLSurfaceShaderExec : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;
    std::string ToString() override;
};

// Line end of every generated shader text.
inline constexpr const char* CRLF = "\r\n";

} // namespace korvane
