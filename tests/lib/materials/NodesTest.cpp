#include <gtest/gtest.h>

#include "Korvane.Material.Default.Nodes.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// A leaf whose text is its id.
class TTextNode : public TKorvaneNodeEntity {
public:
    TTextNode(TKorvaneNodeBuilder* ABuilder, const std::string& AText) : TKorvaneNodeEntity(ABuilder) { SetId(AText); }
    std::string ToString() override { return FId; }
};

// A builder with an entry point and a surface shader, the smallest tree the
// builder operations need.
class TTestBuilder : public TKorvaneNodeBuilder {
public:
    static std::unique_ptr<TTestBuilder> Create()
    {
        std::unique_ptr<TTestBuilder> b(new TTestBuilder());
        b->Initialize();
        return b;
    }
    int InitCalls = 0;
    bool DefinesBeforeNodes = false;

protected:
    TTestBuilder() : TKorvaneNodeBuilder(nullptr) {}
    void InitDefines() override
    {
        ++InitCalls;
        AddDefine("STAGE");
    }
    void BuildNodes() override
    {
        DefinesBeforeNodes = Defined("STAGE");
        FGlobals = SourceCode()->AddNew<TKorvaneGlobalsNode>();
        FEntryPoint = SourceCode()->AddNew<TKorvaneEntryPointNode>();
        FEntryPoint->AddNew<TTextNode>("begin;");
        FSurfaceShader = FEntryPoint->AddNew<TKorvaneSurfaceShaderNode>();
        FSurfaceShader->AddNew<TTextNode>("surface;");
    }
};

std::unique_ptr<TKorvaneNodeEntity> Text(TKorvaneNodeBuilder* ABuilder, const char* AText)
{
    return std::make_unique<TTextNode>(ABuilder, AText);
}

} // namespace

TEST(NodeBuilder, CreateRunsInitDefinesThenBuildNodes)
{
    auto b = TTestBuilder::Create();
    EXPECT_EQ(b->InitCalls, 1);
    EXPECT_TRUE(b->DefinesBeforeNodes);
    EXPECT_EQ(b->ToString(), "begin;surface;");
}

TEST(NodeBuilder, DefinesAddReplaceRemove)
{
    auto b = TTestBuilder::Create();
    b->AddDefine("LEVEL", TValue::From<int32_t>(1));
    b->AddDefine("LEVEL", TValue::From<int32_t>(7));
    EXPECT_EQ(b->Defines().count("LEVEL"), 1u);
    EXPECT_EQ(b->Defines().at("LEVEL").AsInteger(), 7);
    b->AddDefine("FLAG");
    EXPECT_TRUE(b->Defines().at("FLAG").AsBoolean());
    EXPECT_FALSE(b->Defined("flag")) << "names compare case-sensitively";
    b->RemoveDefine("ABSENT");
    b->RemoveDefine("FLAG");
    EXPECT_FALSE(b->Defined("FLAG"));
    EXPECT_TRUE(b->Defined("LEVEL"));
}

TEST(NodeBuilder, DefinedComparesValuesByKind)
{
    auto b = TTestBuilder::Create();
    b->AddDefine("I", TValue::From<int32_t>(3));
    b->AddDefine("L", TValue::From<int64_t>(int64_t(1) << 40));
    b->AddDefine("B", TValue::From(true));
    b->AddDefine("F", TValue::From(2.5));
    struct Case {
        const char* Name;
        TValue Supplied;
        TKorvaneDefOp Op;
        bool Expected;
    };
    const Case cases[] = {
        {"I", TValue::From<int32_t>(5), doGreater, true},
        {"I", TValue::From<int32_t>(3), doEqual, true},
        {"I", TValue::From<int32_t>(3), doUnequal, false},
        {"I", TValue::From<int32_t>(2), doLess, true},
        {"I", TValue::From<int32_t>(3), doLessEqual, true},
        {"I", TValue::From<int32_t>(2), doGreaterEqual, false},
        {"L", TValue::From<int64_t>((int64_t(1) << 40) + 1), doGreater, true},
        {"L", TValue::From<int64_t>(int64_t(1) << 40), doEqual, true},
        {"L", TValue::From<int64_t>(0), doGreaterEqual, false},
        {"B", TValue::From(false), doLess, true}, // False < True
        {"B", TValue::From(true), doEqual, true},
        {"B", TValue::From(false), doGreater, false},
        {"F", TValue::From(2.75), doGreater, true},
        {"F", TValue::From(2.5), doLessEqual, true},
        {"F", TValue::From(2.0), doGreaterEqual, false},
        // A name that is not defined is False whatever the value's kind.
        {"MISSING", TValue::From(std::string("text")), doEqual, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(b->Defined(c.Name, c.Supplied, c.Op), c.Expected) << c.Name << " op " << int(c.Op);
}

TEST(NodeBuilder, DefinedRaisesForMismatchedOrUnsupportedValues)
{
    auto b = TTestBuilder::Create();
    b->AddDefine("I", TValue::From<int32_t>(3));
    b->AddDefine("S", TValue::From(std::string("x")));
    enum class TOther : uint8_t { One, Two };
    b->AddDefine("E", TValue::From(TOther::One));
    const std::string unsupported = "unsupported definition value: only Integer, Int64, Boolean and Float supported";
    struct Case {
        const char* Name;
        TValue Supplied;
        TKorvaneDefOp Op;
        std::string Message;
    };
    const Case cases[] = {
        {"I", TValue::From(5.0), doGreater,
         "failed to check define I: unsupported definition value: definition value type and supplied value type not "
         "equal"},
        {"S", TValue::From(std::string("x")), doEqual, "failed to check define S: " + unsupported},
        {"E", TValue::From(TOther::Two), doEqual, "failed to check define E: " + unsupported},
        {"I", TValue::From<int32_t>(1), static_cast<TKorvaneDefOp>(42), "failed to check define I: invalid integer operator"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageOf([&] { b->Defined(c.Name, c.Supplied, c.Op); }), c.Message) << c.Name;

    b->AddDefine("B", TValue::From(true));
    b->AddDefine("F", TValue::From(1.0));
    b->AddDefine("L", TValue::From<int64_t>(1));
    const auto bad = static_cast<TKorvaneDefOp>(6);
    EXPECT_EQ(MessageOf([&] { b->Defined("B", TValue::From(true), bad); }),
              "failed to check define B: invalid boolean operator");
    EXPECT_EQ(MessageOf([&] { b->Defined("F", TValue::From(1.0), bad); }),
              "failed to check define F: invalid float operator");
    EXPECT_EQ(MessageOf([&] { b->Defined("L", TValue::From<int64_t>(1), bad); }),
              "failed to check define L: invalid int64 operator");
}

TEST(NodeBuilder, IncNumberOfUBOsReturnsThenCounts)
{
    auto b = TTestBuilder::Create();
    EXPECT_EQ(b->IncNumberOfUBOs(), 0);
    EXPECT_EQ(b->IncNumberOfUBOs(), 1);
    EXPECT_EQ(b->NumberOfUBOs(), 2);
}

TEST(NodeBuilder, SetSurfaceShaderReplacesTheEntryPointsLastPart)
{
    auto b = TTestBuilder::Create();
    b->SetSurfaceShader(nullptr);
    EXPECT_EQ(b->ToString(), "begin;surface;");

    auto replacement = std::make_unique<TKorvaneSurfaceShaderNode>(b.get());
    replacement->AddNew<TTextNode>("custom;");
    TKorvaneSurfaceShaderNode* node = replacement.get();
    b->SetSurfaceShader(std::move(replacement));
    EXPECT_EQ(b->SurfaceShader(), node);
    EXPECT_EQ(b->EntryPoint()->Count(), 2);
    EXPECT_EQ(b->ToString(), "begin;custom;");
}

TEST(NodeEntity, DefineTestsDecideWhetherTheTextIsWritten)
{
    auto b = TTestBuilder::Create();
    b->AddDefine("ON");
    struct Case {
        std::vector<const char*> Requires, Excludes;
        bool Written;
    };
    const Case cases[] = {
        {{}, {}, true},
        {{"ON"}, {}, true},
        {{"ON", "OFF"}, {}, false}, // one required define missing
        {{}, {"OFF"}, true},
        {{}, {"OFF", "ON"}, false}, // one excluded define present
        {{"ON"}, {"ON"}, false},    // requiring and excluding the same define never passes
        {{"OFF"}, {"OFF"}, false},
    };
    for (const auto& c : cases) {
        TKorvaneCompositeNode root(b.get());
        auto* node = root.AddNew<TTextNode>("text");
        for (const char* d : c.Requires) node->AddDefine(d);
        for (const char* d : c.Excludes) node->AddNotDefine(d);
        EXPECT_EQ(root.ToString(), c.Written ? "text" : "") << c.Requires.size() << "/" << c.Excludes.size();
    }
}

TEST(CompositeNode, ListOperationsOwnAndOrderTheChildren)
{
    auto b = TTestBuilder::Create();
    TKorvaneCompositeNode root(b.get());
    EXPECT_EQ(root.ToString(), "");
    EXPECT_EQ(root.Add(Text(b.get(), "a")), 0);
    EXPECT_EQ(root.Add(Text(b.get(), "c")), 1);
    root.Insert(1, Text(b.get(), "b"));
    EXPECT_EQ(root.ToString(), "abc");
    root.Remove(root.Nodes(0));
    EXPECT_EQ(root.ToString(), "bc");
    root.Delete(1);
    EXPECT_EQ(root.ToString(), "b");
    EXPECT_THROW(root.Delete(5), Exception);
    EXPECT_THROW(root.Insert(3, Text(b.get(), "x")), Exception);
    root.Clear();
    EXPECT_EQ(root.Count(), 0);
}

TEST(CompositeNode, FindNodeSearchesChildrenAndOptionallyDeeper)
{
    auto b = TTestBuilder::Create();
    TKorvaneCompositeNode root(b.get());
    root.AddNew<TTextNode>("first");
    auto* inner = root.AddNew<TKorvaneDeclarationNode>();
    inner->SetId("inner");
    auto* deep = inner->AddNew<TKorvaneStatementNode>();
    deep->SetId("deep");
    auto* last = root.AddNew<TKorvaneStatementNode>();
    last->SetId("last");

    EXPECT_EQ(root.FindNode<TTextNode>(), root.Nodes(0)) << "empty id: first node of the class";
    EXPECT_EQ(root.FindNode<TKorvaneCompositeNode>(), inner) << "a subclass matches its base class";
    EXPECT_EQ(root.FindNode<TKorvaneStatementNode>(), last) << "not recursive: direct children only";
    EXPECT_EQ(root.FindNode<TKorvaneStatementNode>("", true), deep) << "recursive: depth first";
    EXPECT_EQ(root.FindNode<TKorvaneStatementNode>("deep", false), nullptr);
    EXPECT_EQ(root.FindNode<TKorvaneStatementNode>("deep", true), deep);
    EXPECT_EQ(root.FindNode<TKorvaneStatementNode>("Deep", true), nullptr) << "ids compare exactly";
    EXPECT_EQ(root.FindNode<TKorvaneReferenceNode>("", true), nullptr);

    EXPECT_EQ(root.IndexOf<TKorvaneStatementNode>(), 2);
    EXPECT_EQ(root.IndexOf<TKorvaneCompositeNode>("last"), 2);
    EXPECT_EQ(root.IndexOf<TKorvaneReferenceNode>(), -1);

    int marker = 0;
    last->SetReferenceIDByObject(&marker);
    EXPECT_EQ(root.IndexOfReference<TKorvaneStatementNode>(reinterpret_cast<uintptr_t>(&marker)), 2);
    EXPECT_EQ(root.IndexOfReference<TKorvaneCompositeNode>(0), 1) << "0 matches any reference";
    EXPECT_EQ(root.IndexOfReference<TKorvaneCompositeNode>(12345), -1);
}

TEST(OperationNode, OperatorTexts)
{
    auto b = TTestBuilder::Create();
    struct Case {
        TKorvaneShaderNodeOperator Op;
        size_t Operands; // the number the operator needs
        std::vector<const char*> Children;
        std::string Text;
    };
    const Case cases[] = {
        {snopUndefined, 1, {"a", "b"}, "ab"},
        {snopGrouping, 1, {"a", "b"}, "(a, b)"},
        {snopArraySubscript, 2, {"a", "i"}, "a[i]"},
        {snopFuncCall, 1, {"f", "x", "y"}, "f(x, y)"},
        {snopFuncCall, 1, {"f"}, "f()"},
        {snopFieldSel, 2, {"a", "b"}, "a.b"},
        {snopPostInc, 1, {"a"}, "a++"},
        {snopPostDec, 1, {"a"}, "a--"},
        {snopPreInc, 1, {"a"}, "++a"},
        {snopPreDec, 1, {"a"}, "--a"},
        {snopADD, 2, {"a", "b"}, "a + b"},
        {snopSUB, 2, {"a", "b"}, "a - b"},
        {snopMUL, 2, {"a", "b"}, "a * b"},
        {snopDIV, 2, {"a", "b"}, "a / b"},
        {snopSignPos, 1, {"a"}, "+a"},
        {snopSignNeg, 1, {"a"}, "-a"},
        {snopNOT, 1, {"a"}, "!a"},
        {snopEQ, 2, {"a", "b"}, "a == b"},
        {snopUNEQ, 2, {"a", "b"}, "a != b"},
        {snopGT, 2, {"a", "b"}, "a > b"},
        {snopGEQ, 2, {"a", "b"}, "a >= b"},
        {snopLT, 2, {"a", "b"}, "a < b"},
        {snopLEQ, 2, {"a", "b"}, "a <= b"},
        {snopLogAND, 2, {"a", "b"}, "a && b"},
        {snopLogOR, 2, {"a", "b"}, "a || b"},
        {snopLogXOR, 2, {"a", "b"}, "a ^^ b"},
        {snopSelection, 3, {"a", "b", "c"}, "a ? b : c"},
        {snopAssign, 2, {"a", "b"}, "a = b"},
        {snopAddAssign, 2, {"a", "b"}, "a += b"},
        {snopSubAssign, 2, {"a", "b"}, "a -= b"},
        {snopMulAssign, 2, {"a", "b"}, "a *= b"},
        {snopDivAssign, 2, {"a", "b"}, "a /= b"},
        // Operators with a fixed number of operands ignore further children.
        {snopADD, 2, {"a", "b", "c"}, "a + b"},
        {snopNOT, 1, {"a", "b"}, "!a"},
    };
    for (const auto& c : cases) {
        TKorvaneOperationNode node(b.get());
        node.SetOperator(c.Op);
        for (const char* child : c.Children) node.Add(Text(b.get(), child));
        EXPECT_EQ(node.ToString(), c.Text) << "operator " << int(c.Op);

        // One operand too few fails.
        TKorvaneOperationNode shortNode(b.get());
        shortNode.SetOperator(c.Op);
        for (size_t i = 0; i + 1 < c.Operands; ++i) shortNode.Add(Text(b.get(), "a"));
        EXPECT_EQ(MessageOf([&] { shortNode.ToString(); }),
                  "failed to build source code for operator - invalid nodes list size")
            << "operator " << int(c.Op);
    }

    TKorvaneOperationNode bad(b.get());
    bad.SetOperator(static_cast<TKorvaneShaderNodeOperator>(31));
    bad.Add(Text(b.get(), "a"));
    bad.Add(Text(b.get(), "b"));
    bad.Add(Text(b.get(), "c"));
    EXPECT_EQ(MessageOf([&] { bad.ToString(); }), "failed to build source code for operator - invalid operator found");
}

TEST(OperationNode, BuildAddsTheOperandsThatAreGiven)
{
    auto b = TTestBuilder::Create();
    auto node = TKorvaneOperationNode::Build(b.get(), snopLT, Text(b.get(), "i"), Text(b.get(), "n"));
    EXPECT_EQ(node->ToString(), "i < n");
    auto unary = TKorvaneOperationNode::Build(b.get(), snopPostInc, Text(b.get(), "i"), nullptr);
    EXPECT_EQ(unary->Count(), 1);
    EXPECT_EQ(unary->ToString(), "i++");
    EXPECT_EQ(TKorvaneOperationNode(b.get())._Operator(), snopADD);
}

TEST(OperationNode, OperandsAreReadWithoutDefineTests)
{
    auto b = TTestBuilder::Create();
    auto node = TKorvaneOperationNode::Build(b.get(), snopAssign, Text(b.get(), "x"), Text(b.get(), "1"));
    node->Nodes(1)->AddDefine("NEVER");
    EXPECT_EQ(node->ToString(), "x = 1");
}

TEST(StatementAndReferenceNodes, Texts)
{
    auto b = TTestBuilder::Create();
    TKorvaneStatementNode statement(b.get());
    statement.AddNew<TTextNode>("x");
    statement.AddNew<TTextNode>(" = 1")->AddDefine("NEVER");
    EXPECT_EQ(statement.ToString(), "x = 1;\r\n");

    TTextNode target(b.get(), "target");
    EXPECT_EQ(TKorvaneReferenceNode::Build(b.get(), &target)->ToString(), "target");
    EXPECT_EQ(TKorvaneReferenceNode(b.get()).ToString(), "<undefined>");
    EXPECT_EQ(MessageOf([&] { TKorvaneReferenceNode::Build(b.get(), nullptr); }),
              "failed to create reference to different node - owner node not assigned");

    TKorvaneForLoopNode loop(b.get());
    loop.AddNew<TTextNode>("body");
    EXPECT_EQ(loop.ToString(), "body;\r\n");
}

TEST(LanguageNodes, BuildNeedsTheLanguageLayer)
{
    auto b = TTestBuilder::Create();
    EXPECT_EQ(MessageOf([&] { TKorvaneVariableNode::Build(b.get(), "x", stInt); }),
              "TKorvaneVariableNode.Build needs to be overwritten");
    EXPECT_EQ(MessageOf([&] { TKorvaneConstantNode::Build(b.get(), "x", TValue::From(1)); }),
              "TKorvaneConstantNode.Build needs to be overwritten");
}

TEST(DeclarationNode, AddDeclarationRejectsADuplicateAndKeepsTheNode)
{
    auto b = TTestBuilder::Create();
    TKorvaneDeclarationNode node(b.get());
    auto* x = node.AddDeclaration("x", stFloat);
    EXPECT_EQ(x->Id(), "x");
    EXPECT_EQ(x->Definition().Name, "x");
    EXPECT_EQ(x->Definition()._Type, stFloat);
    EXPECT_TRUE(x->Definition().Value.IsEmpty());
    auto* lights = node.AddDeclaration("_Lights", stCustom, "Light", true, 32, TValue());
    EXPECT_EQ(lights->Definition().TypeName, "Light");
    EXPECT_TRUE(lights->Definition().IsArray);
    EXPECT_EQ(lights->Definition().ArrayCount, 32);

    EXPECT_EQ(MessageOf([&] { node.AddDeclaration("x", stInt); }), "attribute x already exists");
    EXPECT_EQ(node.Count(), 2);
    EXPECT_EQ(node.Declaration(0)->Definition()._Type, stFloat);

    EXPECT_EQ(node.IndexOfDeclaration("_Lights"), 1);
    EXPECT_EQ(node.IndexOfDeclaration("y"), -1);
    node.RemoveDeclaration("x");
    node.RemoveDeclaration("y");
    EXPECT_EQ(node.IndexOfDeclaration("_Lights"), 0);
}

TEST(DeclarationNode, AChildThatIsNotAVariableIsAnInvalidCast)
{
    auto b = TTestBuilder::Create();
    TKorvaneDeclarationNode node(b.get());
    node.Add(Text(b.get(), "not a variable"));
    EXPECT_THROW(node.IndexOfDeclaration("x"), EInvalidCast);
}

TEST(DeclarationNode, ConditionalValueIsTheFirstWhoseDefineIsSet)
{
    auto b = TTestBuilder::Create();
    TKorvaneDeclarationNode node(b.get());
    EXPECT_TRUE(node.GetConditionalValue().IsEmpty());
    node.SetConditionalValue("B", TValue::From<int32_t>(2));
    node.SetConditionalValue("A", TValue::From<int32_t>(1));
    EXPECT_TRUE(node.GetConditionalValue().IsEmpty()) << "no key defined";
    b->AddDefine("A");
    EXPECT_EQ(node.GetConditionalValue().AsInteger(), 1);
    b->AddDefine("B");
    EXPECT_EQ(node.GetConditionalValue().AsInteger(), 2) << "the first entry wins";
    node.SetConditionalValue("B", TValue::From<int32_t>(5));
    EXPECT_EQ(node.GetConditionalValue().AsInteger(), 5) << "replaced in place";
    EXPECT_EQ(node.ConditionalValues().size(), 2u);
}

TEST(GlobalsNode, SectionsAndTheirClearOperations)
{
    auto b = TTestBuilder::Create();
    TKorvaneGlobalsNode* globals = b->Globals();
    ASSERT_EQ(globals->Count(), 7);
    EXPECT_EQ(globals->Nodes(0), globals->Constants());
    EXPECT_EQ(globals->Nodes(3), globals->Uniforms());
    EXPECT_EQ(globals->Nodes(6), globals->Variables());
    EXPECT_EQ(globals->Uniforms()->Nodes(0), globals->Uniforms()->Textures());

    globals->Uniforms()->Textures()->AddNew<TTextNode>("sampler;");
    globals->Uniforms()->AddNew<TTextNode>("block;");
    globals->Functions()->AddNew<TTextNode>("function;");
    EXPECT_EQ(globals->ToString(), "sampler;block;function;");
    globals->ClearFunctions();
    EXPECT_EQ(globals->ToString(), "sampler;block;");

    // Clearing the uniforms keeps an (empty) texture sub-section to add samplers to.
    TKorvaneCompositeNode* textures = globals->Uniforms()->Textures();
    globals->ClearUniforms();
    ASSERT_EQ(globals->Uniforms()->Count(), 1);
    EXPECT_EQ(globals->Uniforms()->Textures(), textures);
    EXPECT_EQ(textures->Count(), 0);
    textures->AddNew<TTextNode>("again;");
    EXPECT_EQ(globals->ToString(), "again;");
}

TEST(UserFunctionNodes, DefaultTextsAndExecCalls)
{
    auto b = TTestBuilder::Create();
    TKorvaneVertexShaderFuncNode vertex(b.get());
    EXPECT_EQ(vertex.ToString(), "void VertexShader(inout TLocals DATA){\r\n\r\n}\r\n");
    vertex.SourceCode() = {"void VertexShader(inout TLocals DATA){", "  DATA.Position.x += 1.0;", "}"};
    EXPECT_EQ(vertex.ToString(), "void VertexShader(inout TLocals DATA){\r\n  DATA.Position.x += 1.0;\r\n}\r\n");
    EXPECT_EQ(TKorvaneSurfaceShaderFuncNode(b.get()).ToString(), "void SurfaceShader(inout TLocals DATA){\r\n\r\n}\r\n");
    EXPECT_EQ(TKorvaneGLSLVertexShaderExec(b.get()).ToString(), "  VertexShader(LOCALS);\r\n");
    EXPECT_EQ(TKorvaneGLSLSurfaceShaderExec(b.get()).ToString(), "  SurfaceShader(LOCALS);\r\n");
    EXPECT_EQ(TKorvaneEntryPointNode(b.get()).Id(), "main");
}
