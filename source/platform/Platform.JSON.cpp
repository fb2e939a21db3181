#include "Platform.JSON.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>

namespace korvane {

namespace {

// The JSON number grammar: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool IsJSONNumberText(std::string_view s)
{
    size_t i = 0;
    const size_t n = s.size();
    auto digits = [&]() {
        const size_t start = i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
        return i > start;
    };
    if (i < n && s[i] == '-') ++i;
    if (i < n && s[i] == '0') ++i;
    else if (!digits()) return false;
    if (i < n && s[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == n;
}

// The reader turns a "\u" escape of a low surrogate without a high one before
// it into the UTF-8 form of the surrogate itself (ED B0..BF xx), which is no
// valid UTF-8. A lone high surrogate the reader refuses by itself.
bool HasEncodedSurrogate(const char* str, size_t length)
{
    for (size_t i = 0; i + 1 < length; ++i)
        if (static_cast<unsigned char>(str[i]) == 0xED && static_cast<unsigned char>(str[i + 1]) >= 0xA0) return true;
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of the "\uXXXX" escape at s[i] ('\\' at i), or -1.
int EscapedUnit(std::string_view s, size_t i)
{
    if (i + 6 > s.size() || s[i + 1] != 'u') return -1;
    int unit = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
        const int d = HexDigit(s[k]);
        if (d < 0) return -1;
        unit = unit * 16 + d;
    }
    return unit;
}

// The offset of the first "\u" escape of a low surrogate that does not follow
// a high one, in the strings of a text the reader has accepted up to there;
// the text's size when there is none.
size_t LoneSurrogateOffset(std::string_view s)
{
    bool inString = false;
    bool afterHigh = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
            afterHigh = false;
        } else if (c == '\\') {
            const int unit = EscapedUnit(s, i);
            if (unit >= 0xDC00 && unit <= 0xDFFF && !afterHigh) return i;
            afterHigh = unit >= 0xD800 && unit <= 0xDBFF;
            i += unit >= 0 ? 5 : 1;
        } else {
            afterHigh = false;
        }
    }
    return s.size();
}

} // namespace

// The memory of one document: the copy of its text (strings, names and number
// texts refer into it), one block after another for values and lists, and the
// values added by code, freed with it.
class TJSONArena {
public:
    TJSONArena() = default;
    TJSONArena(const TJSONArena&) = delete;
    TJSONArena& operator=(const TJSONArena&) = delete;

    ~TJSONArena()
    {
        FAdopted.clear();
        while (FBlocks) {
            TBlock* next = FBlocks->Next;
            ::operator delete(FBlocks);
            FBlocks = next;
        }
    }

    // ASize bytes aligned for any value; they live as long as the arena.
    void* Allocate(size_t ASize)
    {
        ASize = (ASize + Alignment - 1) & ~(Alignment - 1);
        if (static_cast<size_t>(FEnd - FNext) < ASize) NewBlock(ASize);
        void* p = FNext;
        FNext += ASize;
        return p;
    }

    template <typename T>
    T* New()
    {
        return new (Allocate(sizeof(T))) T();
    }

    const char* Copy(std::string_view AText)
    {
        if (AText.empty()) return "";
        auto* p = static_cast<char*>(Allocate(AText.size()));
        std::memcpy(p, AText.data(), AText.size());
        return p;
    }

    // The text to read in place, ended by a zero byte.
    char* CopyText(std::string_view AText)
    {
        FText.reset(new char[AText.size() + 1]);
        std::memcpy(FText.get(), AText.data(), AText.size());
        FText[AText.size()] = '\0';
        // Values and lists take about as much room as the text or more: a
        // large document gets a few large blocks instead of many small ones.
        FBlockSize = std::clamp<size_t>(AText.size(), MinBlock, MaxBlock);
        return FText.get();
    }

    void Adopt(std::unique_ptr<TJSONValue> AValue) { FAdopted.push_back(std::move(AValue)); }

private:
    // Values hold pointers and 32-bit sizes at most.
    static constexpr size_t Alignment = alignof(void*);
    static constexpr size_t MinBlock = 256;
    static constexpr size_t MaxBlock = size_t(16) << 20;

    struct alignas(std::max_align_t) TBlock {
        TBlock* Next;
    };

    void NewBlock(size_t AMinimum)
    {
        const size_t size = std::max(AMinimum, FBlockSize);
        auto* block = static_cast<TBlock*>(::operator new(sizeof(TBlock) + size));
        block->Next = FBlocks;
        FBlocks = block;
        FNext = reinterpret_cast<char*>(block + 1);
        FEnd = FNext + size;
        FBlockSize = std::min(FBlockSize * 2, MaxBlock);
    }

    char* FNext = nullptr;
    char* FEnd = nullptr;
    TBlock* FBlocks = nullptr;
    size_t FBlockSize = MinBlock;
    std::unique_ptr<char[]> FText;
    std::vector<std::unique_ptr<TJSONValue>> FAdopted;
};

// The arena aligns for pointers: enough for every value and list entry.
static_assert(alignof(TJSONNumber) <= alignof(void*) && alignof(TJSONArray) <= alignof(void*) &&
              alignof(TJSONObject) <= alignof(void*) && alignof(TJSONPair) <= alignof(void*));

namespace {

// The most entries an array or object holds, so that counts fit an int.
constexpr size_t MaxEntries = 0x7FFFFFFF;

// Checks every event of the validating reader without building anything, to
// report the first fault of a text as the reader finds it.
class TJSONChecker {
public:
    bool TooDeep = false;
    // A string or name held an escaped surrogate without its partner.
    bool LoneSurrogate = false;

    bool Null() { return true; }
    bool Bool(bool) { return true; }
    bool Int(int) { return true; }
    bool Uint(unsigned) { return true; }
    bool Int64(int64_t) { return true; }
    bool Uint64(uint64_t) { return true; }
    bool Double(double) { return true; }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return true; }
    bool String(const char* str, rapidjson::SizeType length, bool) { return CheckSurrogates(str, length); }
    bool Key(const char* str, rapidjson::SizeType length, bool) { return CheckSurrogates(str, length); }
    bool StartObject() { return Open(); }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool StartArray() { return Open(); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

private:
    bool CheckSurrogates(const char* str, size_t length)
    {
        if (HasEncodedSurrogate(str, length)) LoneSurrogate = true;
        return !LoneSurrogate;
    }
    bool Open()
    {
        if (FDepth >= JSONMaxDepth) {
            TooDeep = true;
            return false;
        }
        ++FDepth;
        return true;
    }
    bool Close()
    {
        --FDepth;
        return true;
    }
    int FDepth = 0;
};

// Raises the EJSONParseException for a text the fast reader refused, with the
// fault and offset the validating reader finds. AOffset is where the fast
// reader stopped, for a fault only it sees.
[[noreturn]] void RaiseParseError(std::string_view Text, size_t AOffset)
{
    constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag |
                               rapidjson::kParseValidateEncodingFlag;
    rapidjson::MemoryStream stream(Text.data(), Text.size());
    TJSONChecker checker;
    rapidjson::Reader reader;
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, checker);
    if (checker.TooDeep)
        throw EJSONParseException(korvane::Format("JSON nesting deeper than %d levels at offset %d", JSONMaxDepth,
                                                  static_cast<int64_t>(result.Offset())),
                                  result.Offset());
    if (checker.LoneSurrogate || result.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid) {
        // The reader stops at a lone high surrogate, and the checker at the end
        // of a string holding a lone low one: the first lone escape in the text
        // up to there is the fault.
        const size_t end = checker.LoneSurrogate ? Text.size() : result.Offset();
        size_t offset = LoneSurrogateOffset(Text.substr(0, end));
        if (offset == end) offset = result.Offset();
        throw EJSONParseException(
            korvane::Format("Invalid JSON at offset %d: %s", static_cast<int64_t>(offset),
                            rapidjson::GetParseError_En(rapidjson::kParseErrorStringUnicodeSurrogateInvalid)),
            offset);
    }
    if (result.IsError())
        throw EJSONParseException(korvane::Format("Invalid JSON at offset %d: %s", static_cast<int64_t>(result.Offset()),
                                                  rapidjson::GetParseError_En(result.Code())),
                                  result.Offset());
    // The reader takes a zero byte for the end of its input; one inside the
    // text would otherwise hide whatever follows it.
    if (stream.Tell() != Text.size())
        throw EJSONParseException(
            korvane::Format("Invalid JSON at offset %d: unexpected zero byte", static_cast<int64_t>(stream.Tell())),
            stream.Tell());
    AOffset = std::min(AOffset, Text.size());
    throw EJSONParseException(korvane::Format("Invalid JSON at offset %d", static_cast<int64_t>(AOffset)), AOffset);
}

} // namespace

// Builds a document from the events of the reader running in place on the
// arena's copy of the text: strings, names and numbers (read as text) arrive
// as pieces of that copy and are not copied again. The entries of the open
// containers wait on one stack and move to the arena, exactly sized, when
// their container ends. Any fault only stops the reading; RaiseParseError
// then reports it.
class TJSONBuilder {
public:
    TJSONBuilder(TJSONArena& AArena, const char* AText) : FArena(AArena), FText(AText)
    {
        FStack.reserve(256);
        FOpen.reserve(64);
    }

    // Where a string or name that is no valid UTF-8 begins.
    size_t FaultOffset = 0;

    bool Null() { return Put(FArena.New<TJSONNull>()); }
    bool Bool(bool b)
    {
        return Put(b ? static_cast<TJSONValue*>(FArena.New<TJSONTrue>()) : FArena.New<TJSONFalse>());
    }
    // Not called while numbers are read as text; the handler concept needs them.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char* str, rapidjson::SizeType length, bool)
    {
        return Put(new (FArena.Allocate(sizeof(TJSONNumber))) TJSONNumber(TJSONString::TViewTag{}, str, length));
    }
    bool String(const char* str, rapidjson::SizeType length, bool)
    {
        if (!Valid(str, length)) return false;
        return Put(new (FArena.Allocate(sizeof(TJSONString)))
                       TJSONString(TJSONString::TViewTag{}, TJSONValue::TKind::String, str, length));
    }
    bool Key(const char* str, rapidjson::SizeType length, bool)
    {
        if (!Valid(str, length)) return false;
        FKey = str;
        FKeySize = length;
        return true;
    }
    bool StartObject() { return Open<TJSONObject>(); }
    bool EndObject(rapidjson::SizeType count)
    {
        auto* object = static_cast<TJSONObject*>(FOpen.back());
        if (count > MaxEntries) return false;
        object->FPairs = static_cast<TJSONPair*>(Take(count, sizeof(TJSONPair)));
        object->FSize = object->FCapacity = count;
        FOpen.pop_back();
        return true;
    }
    bool StartArray() { return Open<TJSONArray>(); }
    bool EndArray(rapidjson::SizeType count)
    {
        auto* array = static_cast<TJSONArray*>(FOpen.back());
        if (count > MaxEntries) return false;
        TJSONElement* items = nullptr;
        if (count > 0) {
            items = static_cast<TJSONElement*>(FArena.Allocate(size_t(count) * sizeof(TJSONElement)));
            const TJSONPair* entries = FStack.data() + (FStack.size() - count);
            for (size_t i = 0; i < count; ++i) items[i].FValue = entries[i].FValue;
            FStack.erase(FStack.end() - count, FStack.end());
        }
        array->FItems = items;
        array->FSize = array->FCapacity = count;
        FOpen.pop_back();
        return true;
    }

    // The value read; a root container takes over AArena.
    std::unique_ptr<TJSONValue> Root(std::unique_ptr<TJSONArena> AArena)
    {
        if (FRoot) {
            FRoot->FArena = AArena.release();
            FRoot->FFlags |= TJSONContainer::OwnsArena;
            return std::move(FRoot);
        }
        // A single scalar: a value of its own, not tied to the arena.
        switch (FScalar->Kind()) {
        case TJSONValue::TKind::Null: return std::make_unique<TJSONNull>();
        case TJSONValue::TKind::True: return TJSONBool::Create(true);
        case TJSONValue::TKind::False: return TJSONBool::Create(false);
        case TJSONValue::TKind::Number:
            return std::unique_ptr<TJSONNumber>(
                new TJSONNumber(TJSONNumber::FromTextTag{}, static_cast<TJSONNumber*>(FScalar)->Text()));
        default: return std::make_unique<TJSONString>(static_cast<TJSONString*>(FScalar)->Text());
        }
    }

private:
    bool Valid(const char* str, size_t length)
    {
        if (IsValidUTF8(std::string_view(str, length))) return true;
        FaultOffset = static_cast<size_t>(str - FText);
        return false;
    }

    bool Put(TJSONValue* value)
    {
        if (FOpen.empty()) FScalar = value;
        else FStack.push_back(TJSONPair(FKey, FKeySize, value));
        return true;
    }

    template <typename T>
    bool Open()
    {
        if (FOpen.size() >= static_cast<size_t>(JSONMaxDepth)) return false;
        T* container;
        if (FOpen.empty()) {
            // The root is a value of its own, so that the caller can free it.
            FRoot.reset(new T());
            container = static_cast<T*>(FRoot.get());
        } else {
            container = FArena.New<T>();
            Put(container);
        }
        container->FArena = &FArena;
        FOpen.push_back(container);
        return true;
    }

    // Moves the top ACount entries of the stack to the arena.
    void* Take(size_t ACount, size_t AEntrySize)
    {
        if (ACount == 0) return nullptr;
        void* block = FArena.Allocate(ACount * AEntrySize);
        std::memcpy(block, FStack.data() + (FStack.size() - ACount), ACount * AEntrySize);
        FStack.erase(FStack.end() - static_cast<std::ptrdiff_t>(ACount), FStack.end());
        return block;
    }

    TJSONArena& FArena;
    const char* FText;
    std::unique_ptr<TJSONContainer> FRoot;
    TJSONValue* FScalar = nullptr;
    std::vector<TJSONContainer*> FOpen;
    std::vector<TJSONPair> FStack;
    const char* FKey = "";
    uint32_t FKeySize = 0;
};

namespace {

void CheckDepth(int depth)
{
    if (depth >= JSONMaxDepth) throw EJSONException(korvane::Format("JSON nesting deeper than %d levels", JSONMaxDepth));
}

template <typename W>
void WriteValue(W& w, const TJSONValue& v, int depth)
{
    using K = TJSONValue::TKind;
    bool ok = true;
    switch (v.Kind()) {
    case K::Null: ok = w.Null(); break;
    case K::True: ok = w.Bool(true); break;
    case K::False: ok = w.Bool(false); break;
    case K::Number: {
        const std::string_view t = static_cast<const TJSONNumber&>(v).Text();
        ok = w.RawValue(t.data(), t.size(), rapidjson::kNumberType);
        break;
    }
    case K::String: {
        const std::string_view t = static_cast<const TJSONString&>(v).Text();
        if (!IsValidUTF8(t)) throw EJSONException("Invalid UTF-8 in a JSON string");
        ok = w.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
        break;
    }
    case K::Array: {
        CheckDepth(depth);
        w.StartArray();
        for (const auto& item : static_cast<const TJSONArray&>(v)) WriteValue(w, *item, depth + 1);
        ok = w.EndArray();
        break;
    }
    case K::Object: {
        CheckDepth(depth);
        w.StartObject();
        for (const auto& pair : static_cast<const TJSONObject&>(v)) {
            const std::string_view name = pair.Name();
            if (!IsValidUTF8(name)) throw EJSONException("Invalid UTF-8 in a JSON pair name");
            if (!w.Key(name.data(), static_cast<rapidjson::SizeType>(name.size())))
                throw EJSONException("Writing JSON failed");
            WriteValue(w, *pair.JsonValue(), depth + 1);
        }
        ok = w.EndObject();
        break;
    }
    }
    if (!ok) throw EJSONException("Writing JSON failed");
}

// The compact writer: the calls of the reader library's writer that WriteValue
// makes, writing into one growing block. Runs of bytes that need no escape
// are copied eight at a time; escapes are those of the indenting writer, so
// both forms hold the same strings.
class TCompactWriter {
public:
    std::string Text() const { return std::string(FBuffer.get(), static_cast<size_t>(FPos - FBuffer.get())); }

    bool Null() { return Word("null", 4); }
    bool Bool(bool b) { return b ? Word("true", 4) : Word("false", 5); }
    bool RawValue(const char* text, size_t length, rapidjson::Type) { return Word(text, length); }
    bool String(const char* text, rapidjson::SizeType length)
    {
        Comma();
        Quoted(text, length);
        FComma = true;
        return true;
    }
    bool Key(const char* text, rapidjson::SizeType length)
    {
        Comma();
        Quoted(text, length);
        Put(':');
        FComma = false;
        return true;
    }
    bool StartArray() { return Open('['); }
    bool EndArray() { return Close(']'); }
    bool StartObject() { return Open('{'); }
    bool EndObject() { return Close('}'); }

private:
    static bool Plain(uint8_t c) { return c >= 0x20 && c != '"' && c != '\\'; }
    // Whether one of the eight bytes is a control character, a quote or a backslash.
    static bool NeedsEscape(uint64_t w)
    {
        constexpr uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
        const uint64_t quote = w ^ (ones * '"'), backslash = w ^ (ones * '\\');
        return (((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) & high;
    }

    void Reserve(size_t n)
    {
        if (static_cast<size_t>(FEnd - FPos) >= n) return;
        const size_t used = static_cast<size_t>(FPos - FBuffer.get());
        const size_t capacity = std::max(used + n, 2 * static_cast<size_t>(FEnd - FBuffer.get()) + 1024);
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (used > 0) std::memcpy(grown.get(), FBuffer.get(), used);
        FBuffer = std::move(grown);
        FPos = FBuffer.get() + used;
        FEnd = FBuffer.get() + capacity;
    }
    void Put(char c)
    {
        Reserve(1);
        *FPos++ = c;
    }
    void Append(const char* text, size_t length)
    {
        if (length == 0) return;
        Reserve(length);
        std::memcpy(FPos, text, length);
        FPos += length;
    }
    void Comma()
    {
        if (FComma) Put(',');
    }
    bool Word(const char* text, size_t length)
    {
        Comma();
        Append(text, length);
        FComma = true;
        return true;
    }
    bool Open(char c)
    {
        Comma();
        Put(c);
        FComma = false;
        return true;
    }
    bool Close(char c)
    {
        Put(c);
        FComma = true;
        return true;
    }
    void Quoted(const char* text, size_t length)
    {
        static const char hex[] = "0123456789ABCDEF";
        Put('"');
        size_t i = 0;
        while (i < length) {
            const size_t start = i;
            uint64_t w;
            while (i + 8 <= length && (std::memcpy(&w, text + i, 8), !NeedsEscape(w))) i += 8;
            while (i < length && Plain(static_cast<uint8_t>(text[i]))) ++i;
            Append(text + start, i - start);
            if (i == length) break;
            const auto c = static_cast<uint8_t>(text[i++]);
            char escape[6] = {'\\', 0, '0', '0', hex[c >> 4], hex[c & 15]};
            switch (c) {
            case '"': escape[1] = '"'; break;
            case '\\': escape[1] = '\\'; break;
            case '\b': escape[1] = 'b'; break;
            case '\f': escape[1] = 'f'; break;
            case '\n': escape[1] = 'n'; break;
            case '\r': escape[1] = 'r'; break;
            case '\t': escape[1] = 't'; break;
            default: escape[1] = 'u'; break;
            }
            Append(escape, escape[1] == 'u' ? 6 : 2);
        }
        Put('"');
    }

    std::unique_ptr<char[]> FBuffer;
    char* FPos = nullptr;
    char* FEnd = nullptr;
    bool FComma = false;
};

void CheckStringSize(size_t size)
{
    // The writer counts string lengths in 32 bits.
    if (size > 0xFFFFFFFFu) throw EJSONException("JSON string too long");
}

} // namespace

// ---- TJSONValue ----

void TJSONValue::RaiseConversion(const char* target) const
{
    throw EJSONException(korvane::Format("Conversion from %s to %s is not supported", ClassName(), target));
}

std::string TJSONValue::ToJSON() const
{
    TCompactWriter writer;
    WriteValue(writer, *this, 0);
    return writer.Text();
}

std::string TJSONValue::Format(int Indentation) const
{
    if (Indentation <= 0) return ToJSON();
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', static_cast<unsigned>(Indentation));
    WriteValue(writer, *this, 0);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::unique_ptr<TJSONValue> TJSONValue::ParseJSONValue(std::string_view Text)
{
    // In place, without checking encodings (the builder checks each string
    // and name, mostly eight ASCII bytes at a time), recursive: the builder
    // stops at the deepest nesting allowed, which bounds the recursion.
    constexpr unsigned flags = rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;
    auto arena = std::make_unique<TJSONArena>();
    char* text = arena->CopyText(Text);
    rapidjson::InsituStringStream stream(text);
    TJSONBuilder builder(*arena, text);
    rapidjson::Reader reader;
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, builder);
    // A zero byte ends the reader's input; one inside the text is a fault.
    if (result.IsError() || stream.Tell() != Text.size())
        RaiseParseError(Text, builder.FaultOffset ? builder.FaultOffset : result.Offset());
    return builder.Root(std::move(arena));
}

// ---- TJSONString / TJSONNumber ----

void TJSONString::Assign(std::string_view value)
{
    CheckStringSize(value.size());
    FSize = static_cast<uint32_t>(value.size());
    if (value.size() <= sizeof(FInline)) {
        FFlags |= InlineText;
        if (!value.empty()) std::memcpy(FInline, value.data(), value.size());
        return;
    }
    char* data = new char[value.size()];
    std::memcpy(data, value.data(), value.size());
    FData = data;
    FFlags |= OwnsText;
}

TJSONString::~TJSONString()
{
    if (FFlags & OwnsText) delete[] FData;
}

std::string TJSONNumber::FloatText(double value)
{
    if (!std::isfinite(value)) throw EJSONException("NaN and infinite values have no JSON number form");
    std::string text = FloatToStrGeneral(value, 15);
    // Next to the largest doubles 15 digits round up past the double range
    // and would not read back; 17 digits always give the value itself.
    double back = 0;
    if (!TryStrToFloat(text, back) || !std::isfinite(back)) text = FloatToStrGeneral(value, 17);
    return text;
}

std::unique_ptr<TJSONNumber> TJSONNumber::FromText(std::string_view text)
{
    if (!IsJSONNumberText(text)) throw EJSONException(korvane::Format("'%s' is not a JSON number", std::string(text)));
    return std::unique_ptr<TJSONNumber>(new TJSONNumber(FromTextTag{}, text));
}

double TJSONNumber::AsDouble() const { return StrToFloat(Text()); }
int TJSONNumber::AsInt() const { return StrToInt(Text()); }
int64_t TJSONNumber::AsInt64() const { return StrToInt64(Text()); }

// ---- TJSONBool ----

std::unique_ptr<TJSONBool> TJSONBool::Create(bool value)
{
    if (value) return std::make_unique<TJSONTrue>();
    return std::make_unique<TJSONFalse>();
}

// ---- TJSONContainer ----

TJSONContainer::~TJSONContainer()
{
    if (FFlags & OwnsArena) delete FArena;
}

TJSONArena& TJSONContainer::Arena()
{
    if (!FArena) {
        FArena = new TJSONArena();
        FFlags |= OwnsArena;
    }
    return *FArena;
}

void TJSONContainer::Adopt(std::unique_ptr<TJSONValue> AValue) { Arena().Adopt(std::move(AValue)); }

void* TJSONContainer::Grow(void* AItems, size_t AEntrySize)
{
    if (FSize < FCapacity) return AItems;
    if (FSize >= MaxEntries) throw EJSONException("JSON array or object too large");
    return Reserve(AItems, AEntrySize, static_cast<int>(std::min<size_t>(MaxEntries, std::max<size_t>(4, 2 * size_t(FCapacity)))));
}

void* TJSONContainer::Reserve(void* AItems, size_t AEntrySize, int ACount)
{
    if (ACount <= 0 || static_cast<uint32_t>(ACount) <= FCapacity) return AItems;
    // The old block stays in the arena until the arena goes: lists grow by doubling.
    void* block = Arena().Allocate(static_cast<size_t>(ACount) * AEntrySize);
    if (FSize > 0) std::memcpy(block, AItems, FSize * AEntrySize);
    FCapacity = static_cast<uint32_t>(ACount);
    return block;
}

// ---- TJSONArray ----

TJSONValue* TJSONArray::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EJSONException(korvane::Format("JSON array index %d out of bounds (%d)", index, Count()));
    return FItems[static_cast<size_t>(index)].get();
}

TJSONArray& TJSONArray::AddElement(std::unique_ptr<TJSONValue> value)
{
    if (!value) throw EJSONException("A JSON array element cannot be nil");
    FItems = static_cast<TJSONElement*>(Grow(FItems, sizeof(TJSONElement)));
    TJSONValue* raw = value.get();
    Adopt(std::move(value));
    FItems[FSize++].FValue = raw;
    return *this;
}

void TJSONArray::Reserve(int ACount)
{
    FItems = static_cast<TJSONElement*>(TJSONContainer::Reserve(FItems, sizeof(TJSONElement), ACount));
}

TJSONArray& TJSONArray::Add(std::string_view value) { return AddElement(std::make_unique<TJSONString>(value)); }

// ---- TJSONObject ----

std::unique_ptr<TJSONObject> TJSONObject::ParseJSONObject(std::string_view Text)
{
    auto value = ParseJSONValue(Text);
    if (value->Kind() != TKind::Object) throw EJSONParseException("The JSON text does not hold an object", 0);
    return std::unique_ptr<TJSONObject>(static_cast<TJSONObject*>(value.release()));
}

const TJSONPair& TJSONObject::Pairs(int index) const
{
    if (index < 0 || index >= Count())
        throw EJSONException(korvane::Format("JSON pair index %d out of bounds (%d)", index, Count()));
    return FPairs[static_cast<size_t>(index)];
}

const TJSONPair* TJSONObject::Get(std::string_view Name) const
{
    // Readers look up many names in objects of many pairs: the size and the
    // first byte settle most comparisons without a call.
    if (Name.empty()) {
        for (const TJSONPair& pair : *this)
            if (pair.FNameSize == 0) return &pair;
        return nullptr;
    }
    for (const TJSONPair& pair : *this)
        if (pair.FNameSize == Name.size() && pair.FName[0] == Name[0] &&
            std::memcmp(pair.FName, Name.data(), Name.size()) == 0)
            return &pair;
    return nullptr;
}

TJSONValue* TJSONObject::GetValue(std::string_view Name) const
{
    const TJSONPair* pair = Get(Name);
    return pair ? pair->JsonValue() : nullptr;
}

TJSONObject& TJSONObject::AddPair(std::string_view Name, std::unique_ptr<TJSONValue> Value)
{
    if (!Value) throw EJSONException("A JSON pair value cannot be nil");
    CheckStringSize(Name.size());
    FPairs = static_cast<TJSONPair*>(Grow(FPairs, sizeof(TJSONPair)));
    const char* name = Arena().Copy(Name);
    TJSONValue* raw = Value.get();
    Adopt(std::move(Value));
    FPairs[FSize++] = TJSONPair(name, static_cast<uint32_t>(Name.size()), raw);
    return *this;
}

TJSONObject& TJSONObject::AddPair(std::string_view Name, std::string_view Value)
{
    return AddPair(Name, std::make_unique<TJSONString>(Value));
}

} // namespace korvane
