#include "Platform.FormResources.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include "Platform.Bitmaps.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Math3D.h"
#include "Platform.Rtti.h"
#include "Platform.SysUtils.h"

namespace korvane {

EFormReadError::EFormReadError(const std::string& AMessage, int ALine)
    : EFilerError(Format("%s (line %d)", AMessage, ALine)), FLine(ALine)
{
}

namespace {

// ---------------------------------------------------------------- syntax tree

struct TItemNode;

struct TValueNode {
    enum TKind { Int, Float, String, Ident, Set, List, Collection, Binary, File } Kind = Int;
    int64_t I = 0;
    double F = 0;
    std::string S;                  // strings, identifiers, file names
    std::vector<std::string> Items; // set elements, list strings
    std::vector<TItemNode> CollectionItems;
    std::vector<uint8_t> Bytes;
    int Line = 0;
};

struct TPropNode {
    std::string Name;
    TValueNode Value;
    int Line = 0;
};

struct TItemNode {
    std::vector<TPropNode> Props;
};

struct TObjectNode {
    std::string Name, ClassName;
    std::vector<TPropNode> Props;
    std::vector<TObjectNode> Children;
    int Line = 0;
};

// ---------------------------------------------------------------- parser

class TParser {
public:
    explicit TParser(std::string_view AText) : FText(AText) {}

    TObjectNode ParseRoot()
    {
        Skip();
        TObjectNode root = ParseObject(0);
        Skip();
        if (FPos < FText.size()) Fail("unexpected text after the last \"end\"");
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& AWhat) const { throw EFormReadError(AWhat, FLine); }

    void Skip()
    {
        while (FPos < FText.size()) {
            const char c = FText[FPos];
            if (c == '\n') {
                ++FLine;
                ++FPos;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++FPos;
            } else if (c == '/' && FPos + 1 < FText.size() && FText[FPos + 1] == '/') {
                while (FPos < FText.size() && FText[FPos] != '\n') ++FPos;
            } else {
                break;
            }
        }
    }
    bool AtEnd() const { return FPos >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
    static bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
    static bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

    std::string Ident(bool ADotted)
    {
        Skip();
        if (!IdentStart(Peek())) Fail("identifier expected");
        const size_t start = FPos;
        while (!AtEnd() && (IdentChar(Peek()) || (ADotted && Peek() == '.' && FPos + 1 < FText.size() &&
                                                  IdentStart(FText[FPos + 1]))))
            ++FPos;
        return std::string(FText.substr(start, FPos - start));
    }
    bool Keyword(std::string_view AWord)
    {
        Skip();
        const size_t n = AWord.size();
        if (FText.size() - FPos < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(FText[FPos + i])) != AWord[i]) return false;
        if (FPos + n < FText.size() && IdentChar(FText[FPos + n])) return false;
        FPos += n;
        return true;
    }
    void Expect(char c)
    {
        Skip();
        if (Peek() != c) Fail(std::string("\"") + c + "\" expected");
        ++FPos;
    }

    TObjectNode ParseObject(int ADepth)
    {
        if (ADepth > MaxFormNesting) Fail("objects nested too deeply");
        TObjectNode node;
        node.Line = FLine;
        if (!Keyword("object") && !Keyword("inherited")) Fail("\"object\" expected");
        node.Name = Ident(false);
        Expect(':');
        node.ClassName = Ident(false);
        while (true) {
            Skip();
            if (AtEnd()) Fail(Format("object %s not closed: \"end\" expected", node.Name));
            if (Keyword("end")) break;
            const size_t save = FPos;
            const int line = FLine;
            if (Keyword("object") || Keyword("inherited")) {
                FPos = save;
                FLine = line;
                node.Children.push_back(ParseObject(ADepth + 1));
                continue;
            }
            node.Props.push_back(ParseProperty(ADepth));
        }
        return node;
    }

    TPropNode ParseProperty(int ADepth)
    {
        TPropNode p;
        p.Line = FLine;
        p.Name = Ident(true);
        Expect('=');
        p.Value = ParseValue(ADepth);
        return p;
    }

    TValueNode ParseValue(int ADepth)
    {
        Skip();
        TValueNode v;
        v.Line = FLine;
        const char c = Peek();
        if (c == '\'' || c == '#') {
            v.Kind = TValueNode::String;
            v.S = ParseString();
        } else if (c == '-' || c == '+' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) {
            ParseNumber(v);
        } else if (c == '[') {
            ++FPos;
            v.Kind = TValueNode::Set;
            Skip();
            if (Peek() != ']') {
                while (true) {
                    v.Items.push_back(Ident(false));
                    Skip();
                    if (Peek() == ',') {
                        ++FPos;
                        continue;
                    }
                    break;
                }
            }
            Expect(']');
        } else if (c == '(') {
            ++FPos;
            v.Kind = TValueNode::List;
            while (true) {
                Skip();
                if (AtEnd()) Fail("\")\" expected");
                if (Peek() == ')') {
                    ++FPos;
                    break;
                }
                if (Peek() == '\'' || Peek() == '#') v.Items.push_back(ParseString());
                else Fail("string expected in list");
            }
        } else if (c == '<') {
            ++FPos;
            v.Kind = TValueNode::Collection;
            if (ADepth > MaxFormNesting) Fail("collections nested too deeply");
            while (true) {
                Skip();
                if (AtEnd()) Fail("\">\" expected");
                if (Peek() == '>') {
                    ++FPos;
                    break;
                }
                if (!Keyword("item")) Fail("\"item\" expected");
                TItemNode item;
                while (true) {
                    Skip();
                    if (AtEnd()) Fail("\"end\" expected");
                    if (Keyword("end")) break;
                    item.Props.push_back(ParseProperty(ADepth + 1));
                }
                v.CollectionItems.push_back(std::move(item));
            }
        } else if (c == '{') {
            ++FPos;
            v.Kind = TValueNode::Binary;
            int high = -1;
            while (true) {
                Skip();
                if (AtEnd()) Fail("\"}\" expected");
                const char h = Peek();
                if (h == '}') {
                    ++FPos;
                    break;
                }
                int digit = std::isdigit(static_cast<unsigned char>(h)) ? h - '0'
                            : (h >= 'a' && h <= 'f')                   ? h - 'a' + 10
                            : (h >= 'A' && h <= 'F')                   ? h - 'A' + 10
                                                                       : -1;
                if (digit < 0) Fail("hexadecimal digit expected in binary data");
                ++FPos;
                if (high < 0) high = digit;
                else {
                    v.Bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
                    high = -1;
                }
            }
            if (high >= 0) Fail("binary data of an odd number of digits");
        } else if (IdentStart(c)) {
            if (Keyword("file")) {
                v.Kind = TValueNode::File;
                Skip();
                v.S = ParseString();
            } else {
                v.Kind = TValueNode::Ident;
                v.S = Ident(true);
            }
        } else {
            Fail("value expected");
        }
        return v;
    }

    std::string ParseString()
    {
        std::string out;
        while (true) {
            Skip();
            if (Peek() == '\'') {
                ++FPos;
                while (true) {
                    if (AtEnd() || Peek() == '\n') Fail("unterminated string");
                    if (Peek() == '\'') {
                        if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
                            out += '\'';
                            FPos += 2;
                            continue;
                        }
                        ++FPos;
                        break;
                    }
                    out += FText[FPos++];
                }
            } else if (Peek() == '#') {
                ++FPos;
                const size_t start = FPos;
                while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Peek()))) ++FPos;
                unsigned code = 0;
                auto [p, ec] = std::from_chars(FText.data() + start, FText.data() + FPos, code);
                if (ec != std::errc() || start == FPos || code > 0x10FFFF) Fail("invalid character code");
                (void)p;
                AppendUTF8(out, code);
            } else {
                break;
            }
            // Parts join directly ('a'#13'b') or with "+" (also across lines).
            if (Peek() == '\'' || Peek() == '#') continue;
            const size_t save = FPos;
            const int line = FLine;
            Skip();
            if (Peek() != '+') {
                FPos = save;
                FLine = line;
                break;
            }
            ++FPos;
            Skip();
            if (Peek() != '\'' && Peek() != '#') Fail("string expected after \"+\"");
        }
        return out;
    }

    static void AppendUTF8(std::string& AOut, unsigned ACode)
    {
        if (ACode < 0x80) AOut += char(ACode);
        else if (ACode < 0x800) {
            AOut += char(0xC0 | (ACode >> 6));
            AOut += char(0x80 | (ACode & 0x3F));
        } else if (ACode < 0x10000) {
            AOut += char(0xE0 | (ACode >> 12));
            AOut += char(0x80 | ((ACode >> 6) & 0x3F));
            AOut += char(0x80 | (ACode & 0x3F));
        } else {
            AOut += char(0xF0 | (ACode >> 18));
            AOut += char(0x80 | ((ACode >> 12) & 0x3F));
            AOut += char(0x80 | ((ACode >> 6) & 0x3F));
            AOut += char(0x80 | (ACode & 0x3F));
        }
    }

    void ParseNumber(TValueNode& v)
    {
        bool negative = false;
        if (Peek() == '-' || Peek() == '+') {
            negative = Peek() == '-';
            ++FPos;
        }
        if (Peek() == '$') {
            ++FPos;
            const size_t start = FPos;
            while (!AtEnd() && std::isxdigit(static_cast<unsigned char>(Peek()))) ++FPos;
            uint64_t u = 0;
            auto [p, ec] = std::from_chars(FText.data() + start, FText.data() + FPos, u, 16);
            if (ec != std::errc() || start == FPos) Fail("invalid hexadecimal number");
            (void)p;
            v.Kind = TValueNode::Int;
            v.I = negative ? -int64_t(u) : int64_t(u);
            return;
        }
        const size_t start = FPos;
        bool isFloat = false;
        while (!AtEnd()) {
            const char c = Peek();
            if (std::isdigit(static_cast<unsigned char>(c))) ++FPos;
            else if (c == '.' || c == 'e' || c == 'E') {
                isFloat = true;
                ++FPos;
                if ((c == 'e' || c == 'E') && (Peek() == '-' || Peek() == '+')) ++FPos;
            } else
                break;
        }
        const std::string_view text = FText.substr(start, FPos - start);
        if (text.empty()) Fail("number expected");
        if (!isFloat) {
            int64_t i = 0;
            auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), i);
            if (ec == std::errc() && p == text.data() + text.size()) {
                v.Kind = TValueNode::Int;
                v.I = negative ? -i : i;
                return;
            }
        }
        double d = 0;
        auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        if (ec != std::errc() || p != text.data() + text.size() || !std::isfinite(d))
            Fail(Format("invalid number %s", std::string(text)));
        v.Kind = TValueNode::Float;
        v.F = negative ? -d : d;
    }

    std::string_view FText;
    size_t FPos = 0;
    int FLine = 1;
};

// ---------------------------------------------------------------- colour names

struct TColorName {
    const char* Name;
    uint32_t Value;
};
const TColorName ColorNames[] = {
    {"claNull", 0x00000000},  {"claBlack", 0xFF000000}, {"claWhite", 0xFFFFFFFF}, {"claRed", 0xFFFF0000},
    {"claGreen", 0xFF008000}, {"claBlue", 0xFF0000FF},  {"claGray", 0xFF808080},  {"claGrey", 0xFF808080},
    {"claYellow", 0xFFFFFF00}, {"claLime", 0xFF00FF00}, {"claSilver", 0xFFC0C0C0},
};

// ---------------------------------------------------------------- reading

struct TFixup {
    TObject* Instance;
    const TPropertyInfo* Property;
    std::string Name;
    int Line;
};

class TReader {
public:
    explicit TReader(TComponent* ARoot) : FRoot(ARoot) {}

    void Read(const TObjectNode& ANode)
    {
        const TClass rootClass = FRoot->ClassType();
        if (!SameText(rootClass->ClassName(), ANode.ClassName))
            throw EFormReadError(Format("Form resource of class %s cannot be read into a %s", ANode.ClassName,
                                        rootClass->ClassName()),
                                 ANode.Line);
        FRoot->SetLoading(true);
        try {
            if (!ANode.Name.empty() && !SameText(FRoot->Name(), ANode.Name)) FRoot->SetName(ANode.Name);
            ApplyObject(FRoot, nullptr, ANode);
            for (const TFixup& f : FFixups) Resolve(f);
        } catch (...) {
            // What was read is taken out again, so a failed read leaves no half-made tree.
            for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) (*it)->Free();
            FRoot->SetLoading(false);
            throw;
        }
        for (TComponent* c : FCreated) c->Loaded();
        FRoot->Loaded();
    }

private:
    void ApplyObject(TComponent* AComponent, TComponent* AParent, const TObjectNode& ANode)
    {
        if (AParent) AComponent->SetParentComponent(AParent);
        for (const TPropNode& p : ANode.Props) SetProperty(AComponent, p.Name, p.Value, p.Line);
        for (const TObjectNode& child : ANode.Children) {
            const TClass cls = GetClass(child.ClassName);
            if (!cls) throw EFormReadError(Format("Class %s not found", child.ClassName), child.Line);
            if (FRoot->FindComponent(child.Name))
                throw EFormReadError(Format("A component named %s already exists", child.Name), child.Line);
            TComponent* c = nullptr;
            try {
                c = cls->CreateComponent(FRoot);
            } catch (const Exception& e) {
                throw EFormReadError(e.what(), child.Line);
            }
            FCreated.push_back(c);
            c->SetLoading(true);
            try {
                c->SetName(child.Name);
            } catch (const Exception& e) {
                throw EFormReadError(e.what(), child.Line);
            }
            ApplyObject(c, AComponent, child);
        }
    }

    [[noreturn]] void Fail(const TObject* AInstance, const std::string& AName, const std::string& AWhy, int ALine)
    {
        throw EFormReadError(Format("Error reading %s.%s: %s", AInstance->ClassName(), AName, AWhy), ALine);
    }

    void SetProperty(TObject* AInstance, const std::string& AName, const TValueNode& AValue, int ALine)
    {
        const TClass cls = AInstance->ClassType();
        if (const TPropertyInfo* p = cls->FindProperty(AName)) {
            Assign(AInstance, p, AName, AValue, ALine);
            return;
        }
        if (const TEventInfo* e = cls->FindEvent(AName)) {
            if (AValue.Kind != TValueNode::Ident) Fail(AInstance, AName, "method name expected", ALine);
            const TMethodInfo* m = FRoot->ClassType()->FindMethod(AValue.S);
            if (!m) throw EFormReadError(Format("Method %s not found in %s", AValue.S, FRoot->ClassName()), ALine);
            if (m->Signature != e->Signature)
                throw EFormReadError(Format("Method %s does not match event %s", AValue.S, AName), ALine);
            e->Bind(*AInstance, m->Bind(*FRoot), m->Name);
            return;
        }
        const size_t dot = AName.find('.');
        if (dot != std::string::npos) {
            const std::string head = AName.substr(0, dot), rest = AName.substr(dot + 1);
            if (const TPropertyInfo* p = cls->FindProperty(head)) {
                // "Items.Strings": the string list itself.
                if (SameText(rest, "Strings") && p->Kind() == tkRecord) {
                    Assign(AInstance, p, head, AValue, ALine);
                    return;
                }
                if (p->Kind() == tkClass) {
                    TObject* sub = p->GetValue(AInstance).AsObject();
                    if (!sub || dynamic_cast<TComponent*>(sub))
                        Fail(AInstance, AName, Format("%s is not a sub-object", head), ALine);
                    SetProperty(sub, rest, AValue, ALine);
                    return;
                }
            }
        }
        throw EFormReadError(Format("Property %s does not exist in %s", AName, AInstance->ClassName()), ALine);
    }

    TAlphaColor ColorOf(const TObject* AInstance, const std::string& AName, const TValueNode& V, int ALine)
    {
        if (V.Kind == TValueNode::Int) {
            if (V.I < 0 || V.I > int64_t(UINT32_MAX)) Fail(AInstance, AName, "colour out of range", ALine);
            return TAlphaColor(uint32_t(V.I));
        }
        if (V.Kind == TValueNode::Ident) {
            for (const auto& c : ColorNames)
                if (SameText(c.Name, V.S)) return TAlphaColor(c.Value);
            // "xAARRGGBB", as colours are often written.
            if (V.S.size() == 9 && (V.S[0] == 'x' || V.S[0] == 'X')) {
                uint32_t u = 0;
                auto [p, ec] = std::from_chars(V.S.data() + 1, V.S.data() + 9, u, 16);
                if (ec == std::errc() && p == V.S.data() + 9) return TAlphaColor(u);
            }
            Fail(AInstance, AName, Format("Invalid property value %s", V.S), ALine);
        }
        Fail(AInstance, AName, "colour expected", ALine);
    }

    void Store(TObject* AInstance, const TPropertyInfo* P, const std::string& AName, const TValue& AValue, int ALine,
               bool AOrdinal = false)
    {
        if (P->IsReadOnly()) Fail(AInstance, AName, "property is read-only", ALine);
        try {
            if (AOrdinal) P->SetOrdinal(AInstance, AValue.AsInt64());
            else P->SetValue(AInstance, AValue);
        } catch (const EFormReadError&) {
            throw;
        } catch (const Exception& e) {
            Fail(AInstance, AName, e.what(), ALine);
        }
    }

    void Assign(TObject* AInstance, const TPropertyInfo* P, const std::string& AName, const TValueNode& V, int ALine)
    {
        using K = TValueNode;
        switch (P->Kind()) {
        case tkClass: AssignObject(AInstance, P, AName, V, ALine); return;
        case tkString:
            if (V.Kind != K::String) Fail(AInstance, AName, "string expected", ALine);
            Store(AInstance, P, AName, TValue::From(V.S), ALine);
            return;
        case tkInteger:
        case tkInt64:
            if (V.Kind != K::Int) Fail(AInstance, AName, "integer expected", ALine);
            Store(AInstance, P, AName, TValue::From(V.I), ALine);
            return;
        case tkFloat:
            if (V.Kind == K::Int) Store(AInstance, P, AName, TValue::From(double(V.I)), ALine);
            else if (V.Kind == K::Float) Store(AInstance, P, AName, TValue::From(V.F), ALine);
            else Fail(AInstance, AName, "number expected", ALine);
            return;
        case tkEnumeration: {
            if (V.Kind != K::Ident) Fail(AInstance, AName, "identifier expected", ALine);
            if (P->TypeName() == "Boolean") {
                if (SameText(V.S, "True")) Store(AInstance, P, AName, TValue::From(true), ALine);
                else if (SameText(V.S, "False")) Store(AInstance, P, AName, TValue::From(false), ALine);
                else Fail(AInstance, AName, Format("Invalid property value %s", V.S), ALine);
                return;
            }
            const auto names = P->EnumNames();
            const auto it = std::find_if(names.begin(), names.end(), [&](const char* n) { return SameText(n, V.S); });
            if (it == names.end()) Fail(AInstance, AName, Format("Invalid property value %s", V.S), ALine);
            Store(AInstance, P, AName, TValue::From(int64_t(it - names.begin())), ALine, true);
            return;
        }
        case tkRecord:
        default: break;
        }
        if (P->IsSet()) {
            if (V.Kind != K::Set) Fail(AInstance, AName, "set expected", ALine);
            const auto names = P->EnumNames();
            uint64_t bits = 0;
            for (const std::string& item : V.Items) {
                const auto it = std::find_if(names.begin(), names.end(), [&](const char* n) { return SameText(n, item); });
                if (it == names.end() || it - names.begin() >= 64)
                    Fail(AInstance, AName, Format("Invalid property value %s", item), ALine);
                bits |= uint64_t(1) << (it - names.begin());
            }
            Store(AInstance, P, AName, TValue::From(int64_t(bits)), ALine, true);
            return;
        }
        if (P->TypeName() == "TAlphaColor") {
            Store(AInstance, P, AName, TValue::From(ColorOf(AInstance, AName, V, ALine)), ALine);
            return;
        }
        if (V.Kind == K::List) {
            Store(AInstance, P, AName, TValue::From(V.Items), ALine);
            return;
        }
        Fail(AInstance, AName, Format("values of type %s cannot be read", P->TypeName()), ALine);
    }

    void AssignObject(TObject* AInstance, const TPropertyInfo* P, const std::string& AName, const TValueNode& V,
                      int ALine)
    {
        using K = TValueNode;
        if (V.Kind == K::Ident) {
            if (SameText(V.S, "nil")) Store(AInstance, P, AName, TValue::From<TObject*>(nullptr), ALine);
            else FFixups.push_back({AInstance, P, V.S, ALine});
            return;
        }
        TObject* current = P->GetValue(AInstance).AsObject();
        if (V.Kind == K::Binary || V.Kind == K::File) {
            std::span<const uint8_t> bytes = V.Bytes;
            if (V.Kind == K::File) {
                try {
                    bytes = FindResource(V.S);
                } catch (const Exception& e) {
                    Fail(AInstance, AName, e.what(), ALine);
                }
            }
            auto* bitmap = dynamic_cast<TBitmap*>(current);
            TOwned<TBitmap> fresh;
            if (!bitmap) {
                if (P->IsReadOnly()) Fail(AInstance, AName, "binary data needs a bitmap property", ALine);
                fresh = MakeOwned<TBitmap>();
                bitmap = fresh.get();
            }
            try {
                bitmap->LoadFromMemory(bytes);
            } catch (const Exception& e) {
                Fail(AInstance, AName, e.what(), ALine);
            }
            if (fresh) Store(AInstance, P, AName, TValue::From<TObject*>(fresh.get()), ALine);
            return;
        }
        if (V.Kind == K::Collection) {
            auto* collection = dynamic_cast<TCollection*>(current);
            if (!collection) Fail(AInstance, AName, "not a collection", ALine);
            collection->Clear();
            for (const TItemNode& item : V.CollectionItems) {
                TCollectionItem* added = collection->Add();
                for (const TPropNode& p : item.Props) SetProperty(added, p.Name, p.Value, p.Line);
            }
            return;
        }
        Fail(AInstance, AName, "component reference expected", ALine);
    }

    void Resolve(const TFixup& F)
    {
        // "Name" is a component of the root (or the root); "Form.Name" one of another form.
        TComponent* target = nullptr;
        if (SameText(F.Name, FRoot->Name())) target = FRoot;
        else if (F.Name.find('.') == std::string::npos) target = FRoot->FindComponent(F.Name);
        else target = FindGlobalComponentPath(F.Name);
        if (!target)
            throw EFormReadError(Format("Error reading %s.%s: component %s not found", F.Instance->ClassName(),
                                        F.Property->Name(), F.Name),
                                 F.Line);
        Store(F.Instance, F.Property, F.Property->Name(), TValue::From<TObject*>(target), F.Line);
    }

    static TComponent* FindGlobalComponentPath(const std::string& APath)
    {
        const size_t dot = APath.find('.');
        TComponent* owner = FindGlobalComponent(APath.substr(0, dot));
        return owner ? owner->FindComponent(APath.substr(dot + 1)) : nullptr;
    }

    TComponent* FRoot;
    std::vector<TComponent*> FCreated;
    std::vector<TFixup> FFixups;
};

// ---------------------------------------------------------------- writing

std::string Quoted(const std::string& S)
{
    std::string out;
    bool open = false;
    for (unsigned char c : S) {
        if (c < 32) {
            if (open) out += '\'';
            open = false;
            out += '#' + std::to_string(c);
        } else {
            if (!open) out += '\'';
            open = true;
            if (c == '\'') out += "''";
            else out += char(c);
        }
    }
    if (open) out += '\'';
    if (out.empty()) out = "''";
    return out;
}

class TWriter {
public:
    explicit TWriter(const TComponent* ARoot) : FRoot(ARoot) {}

    std::string Write()
    {
        WriteObject(FRoot, 0);
        return FOut;
    }

private:
    void Line(int AIndent, const std::string& AText)
    {
        FOut.append(size_t(AIndent) * 2, ' ');
        FOut += AText;
        FOut += '\n';
    }

    void WriteObject(const TComponent* C, int AIndent)
    {
        Line(AIndent, "object " + C->Name() + ": " + C->ClassName());
        WriteProperties(C, "", AIndent + 1);
        for (const TEventInfo* e : C->ClassType()->Events()) {
            const std::string method = e->MethodName(*C);
            if (!method.empty()) Line(AIndent + 1, e->Name + " = " + method);
        }
        for (int i = 0; i < FRoot->ComponentCount(); ++i) {
            const TComponent* child = FRoot->Components(i);
            const TComponent* parent = child->GetParentComponent();
            const bool nestedHere = C == FRoot ? (!parent || parent == FRoot) : parent == C;
            if (nestedHere && child != FRoot && !child->Name().empty()) WriteObject(child, AIndent + 1);
        }
        Line(AIndent, "end");
    }

    void WriteProperties(const TObject* O, const std::string& APrefix, int AIndent)
    {
        for (const TPropertyInfo* p : O->ClassType()->Properties()) {
            if (!p->IsStored(O)) continue;
            const std::string name = APrefix + p->Name();
            const TValue v = p->GetValue(O);
            if (p->Kind() == tkClass) {
                TObject* sub = v.AsObject();
                if (!sub) continue;
                if (const auto* c = dynamic_cast<const TComponent*>(sub)) {
                    if (!p->IsReadOnly()) Line(AIndent, name + " = " + ReferenceName(c));
                } else if (const auto* b = dynamic_cast<const TBitmap*>(sub)) {
                    if (!b->IsEmpty()) WriteBinary(name, b->SaveToPNGMemory(), AIndent);
                } else if (const auto* coll = dynamic_cast<const TCollection*>(sub)) {
                    WriteCollection(name, coll, AIndent);
                } else {
                    WriteProperties(sub, name + ".", AIndent);
                }
                continue;
            }
            if (p->IsReadOnly() || p->IsDefault(O)) continue;
            if (p->IsSet()) {
                const uint64_t bits = p->GetSetBits(O);
                const auto names = p->EnumNames();
                std::string text;
                for (size_t i = 0; i < names.size() && i < 64; ++i)
                    if (bits & (uint64_t(1) << i)) text += (text.empty() ? "" : ", ") + std::string(names[i]);
                Line(AIndent, name + " = [" + text + "]");
                continue;
            }
            std::vector<std::string> list;
            TAlphaColor color;
            switch (v.Kind()) {
            case tkString: Line(AIndent, name + " = " + Quoted(v.AsString())); break;
            case tkInteger:
            case tkInt64: Line(AIndent, name + " = " + std::to_string(v.AsInt64())); break;
            case tkFloat: Line(AIndent, name + " = " + FloatToStr(v.AsExtended())); break;
            case tkEnumeration: Line(AIndent, name + " = " + v.ToString()); break;
            default:
                if (v.TryAsType(color)) {
                    Line(AIndent, name + " = " + Format("$%.8X", color.Value));
                } else if (v.TryAsType(list)) {
                    Line(AIndent, name + ".Strings = (");
                    for (const std::string& s : list) Line(AIndent + 1, Quoted(s));
                    Line(AIndent + 1, ")");
                }
                break;
            }
        }
    }

    void WriteCollection(const std::string& AName, const TCollection* C, int AIndent)
    {
        if (C->Count() == 0) return;
        Line(AIndent, AName + " = <");
        for (int i = 0; i < C->Count(); ++i) {
            Line(AIndent + 1, "item");
            WriteProperties(C->Items(i), "", AIndent + 2);
            Line(AIndent + 1, "end");
        }
        Line(AIndent, ">");
    }

    void WriteBinary(const std::string& AName, const std::vector<uint8_t>& ABytes, int AIndent)
    {
        static const char digits[] = "0123456789ABCDEF";
        Line(AIndent, AName + " = {");
        for (size_t i = 0; i < ABytes.size(); i += 32) {
            std::string row;
            for (size_t k = i; k < std::min(ABytes.size(), i + 32); ++k) {
                row += digits[ABytes[k] >> 4];
                row += digits[ABytes[k] & 15];
            }
            Line(AIndent + 1, row);
        }
        Line(AIndent + 1, "}");
    }

    std::string ReferenceName(const TComponent* C) const
    {
        if (C == FRoot || C->Owner() == FRoot) return C->Name();
        if (C->Owner() && !C->Owner()->Name().empty()) return C->Owner()->Name() + "." + C->Name();
        return C->Name();
    }

    const TComponent* FRoot;
    std::string FOut;
};

// ---------------------------------------------------------------- embedded files

struct TResources {
    std::mutex Lock;
    std::map<std::string, std::span<const uint8_t>> Files;
};
TResources& Resources()
{
    static TResources r;
    return r;
}

} // namespace

void ReadComponentResource(TComponent* ARoot, std::string_view AText)
{
    if (!ARoot) throw EFormReadError("no root component to read into", 0);
    if (AText.size() > MaxFormResourceBytes) throw EFormReadError("form resource too big", 0);
    const TObjectNode root = TParser(AText).ParseRoot();
    TReader(ARoot).Read(root);
}

std::string WriteComponentResource(const TComponent* ARoot) { return TWriter(ARoot).Write(); }

void RegisterResource(const std::string& AName, std::span<const uint8_t> AData)
{
    auto& r = Resources();
    std::lock_guard lock(r.Lock);
    r.Files[LowerCase(AName)] = AData;
}

std::span<const uint8_t> FindResource(std::string_view AName)
{
    auto& r = Resources();
    std::lock_guard lock(r.Lock);
    const auto it = r.Files.find(LowerCase(std::string(AName)));
    if (it == r.Files.end()) throw EResNotFound(Format("Resource %s not found", std::string(AName)));
    return it->second;
}

bool HasResource(std::string_view AName)
{
    auto& r = Resources();
    std::lock_guard lock(r.Lock);
    return r.Files.count(LowerCase(std::string(AName))) > 0;
}

std::string_view FormResourceFor(std::string_view AClassName)
{
    const std::string name = std::string(AClassName) + ".form";
    if (!HasResource(name)) return {};
    const auto data = FindResource(name);
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

} // namespace korvane
