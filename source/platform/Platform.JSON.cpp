#include "Platform.JSON.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

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

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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
// The longest string, name or number text a value holds (32-bit sizes).
constexpr size_t MaxTextSize = 0xFFFFFFFFu;

constexpr uint64_t EveryByte = 0x0101010101010101ull;
constexpr uint64_t HighBits = 0x8080808080808080ull;

// Whether one of eight string bytes needs a closer look: a control character,
// a quote, a backslash or a byte of a multi-byte UTF-8 sequence.
inline bool NeedsCare(uint64_t w)
{
    const uint64_t quote = w ^ (EveryByte * '"'), backslash = w ^ (EveryByte * '\\');
    return (((w - EveryByte * 0x20) & ~w) | ((quote - EveryByte) & ~quote) | ((backslash - EveryByte) & ~backslash) | w) &
           HighBits;
}

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline bool Continues(const char* p) { return (static_cast<uint8_t>(*p) & 0xC0) == 0x80; }

} // namespace

// Reads a text in place in the arena's copy of it (ended by a zero byte past
// its size, so that looking one byte ahead never leaves the copy) and builds
// the document as it goes: strings, names and number texts stay pieces of
// that copy, strings unescaped where they stand, since an escape is never
// shorter than what it stands for. The entries of the open containers wait on
// one stack and move to the arena, exactly sized, when their container ends.
// Any fault raises an EJSONParseException at the offset where it is found.
class TJSONBuilder {
public:
    TJSONBuilder(TJSONArena& AArena, char* AText, size_t ASize) : FArena(AArena), FText(AText), FEnd(AText + ASize)
    {
        FStack.reserve(256);
        FOpen.reserve(64);
    }

    void Read()
    {
        char* p = SkipSpace(FText);
        if (p == FEnd) Fail(p, "The text holds no value.");
        for (;;) {
            // A value starts at p.
            bool complete = true;
            switch (*p) {
            case '{':
                Open<TJSONObject>(p);
                p = SkipSpace(p + 1);
                if (*p == '}') {
                    Close(p++);
                } else {
                    p = ReadName(p);
                    complete = false;
                }
                break;
            case '[':
                Open<TJSONArray>(p);
                p = SkipSpace(p + 1);
                if (*p == ']') Close(p++);
                else complete = false;
                break;
            case '"': {
                char* start = p + 1;
                uint32_t size = 0;
                p = ReadString(start, size);
                Put(new (FArena.Allocate(sizeof(TJSONString)))
                        TJSONString(TJSONString::TViewTag{}, TJSONValue::TKind::String, start, size));
                break;
            }
            case 't':
                p = Literal(p, "true", 4);
                Put(FArena.New<TJSONTrue>());
                break;
            case 'f':
                p = Literal(p, "false", 5);
                Put(FArena.New<TJSONFalse>());
                break;
            case 'n':
                p = Literal(p, "null", 4);
                Put(FArena.New<TJSONNull>());
                break;
            default: {
                if (*p != '-' && !IsDigit(*p)) Unexpected(p, "a value");
                char* start = p;
                p = ReadNumber(p);
                Put(new (FArena.Allocate(sizeof(TJSONNumber)))
                        TJSONNumber(TJSONString::TViewTag{}, start, static_cast<uint32_t>(p - start)));
                break;
            }
            }
            if (!complete) continue;
            // After a value: the next entry of its container, the container's
            // end, or the end of the text.
            for (;;) {
                p = SkipSpace(p);
                if (FOpen.empty()) {
                    if (p != FEnd) Unexpected(p, "the end of the text after the root value");
                    return;
                }
                if (*p == ',') {
                    p = SkipSpace(p + 1);
                    if (FOpen.back().IsObject) p = ReadName(p);
                    break;
                }
                if (*p == (FOpen.back().IsObject ? '}' : ']')) {
                    Close(p++);
                    continue;
                }
                Unexpected(p, FOpen.back().IsObject ? "',' or '}'" : "',' or ']'");
            }
        }
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
    struct TLevel {
        TJSONContainer* Container;
        size_t Start; // the container's first entry on the stack
        bool IsObject;
    };

    [[noreturn]] void Fail(const char* p, const char* AMessage) const
    {
        const auto offset = static_cast<size_t>(p - FText);
        throw EJSONParseException(
            korvane::Format("Invalid JSON at offset %d: %s", static_cast<int64_t>(offset), AMessage), offset);
    }

    [[noreturn]] void Unexpected(const char* p, const char* AExpected) const
    {
        if (p == FEnd) Fail(p, korvane::Format("The text ends where %s was expected.", AExpected).c_str());
        if (*p == '\0') Fail(p, korvane::Format("A zero byte stands where %s was expected.", AExpected).c_str());
        Fail(p, korvane::Format("Expected %s.", AExpected).c_str());
    }

    static char* SkipSpace(char* p)
    {
        while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
        return p;
    }

    // The literal AWord at p, refused at its first byte that differs.
    char* Literal(char* p, const char* AWord, size_t ASize) const
    {
        for (size_t i = 0; i < ASize; ++i)
            if (p[i] != AWord[i]) Fail(p + i, korvane::Format("Expected the literal '%s'.", AWord).c_str());
        return p + ASize;
    }

    // A pair's name and its colon, from the name's opening quote at p to the
    // start of its value.
    char* ReadName(char* p)
    {
        if (*p != '"') Unexpected(p, "a name in double quotes");
        char* start = p + 1;
        uint32_t size = 0;
        p = SkipSpace(ReadString(start, size));
        if (*p != ':') Unexpected(p, "':' after a name");
        FKey = start;
        FKeySize = size;
        return SkipSpace(p + 1);
    }

    // The number at p, checked by the JSON grammar and kept as its text.
    char* ReadNumber(char* p) const
    {
        char* start = p;
        if (*p == '-') ++p;
        const char* intStart = p;
        if (*p == '0') {
            ++p;
        } else if (IsDigit(*p)) {
            while (IsDigit(*p)) ++p;
        } else {
            Unexpected(p, "a digit");
        }
        const char* intEnd = p;
        const char* fracStart = p;
        if (*p == '.') {
            fracStart = ++p;
            if (!IsDigit(*p)) Unexpected(p, "a digit after the decimal point");
            while (IsDigit(*p)) ++p;
        }
        const char* fracEnd = p;
        int64_t exponent = 0;
        if (*p == 'e' || *p == 'E') {
            ++p;
            bool negative = false;
            if (*p == '+' || *p == '-') negative = *p++ == '-';
            if (!IsDigit(*p)) Unexpected(p, "a digit in the exponent");
            while (IsDigit(*p)) {
                // Past any text size the exponent alone decides.
                if (exponent < (int64_t(1) << 48)) exponent = exponent * 10 + (*p - '0');
                ++p;
            }
            if (negative) exponent = -exponent;
        }
        if (static_cast<size_t>(p - start) > MaxTextSize) Fail(start, "The number is too long.");
        // Refused as too big: an integer part of more digits than any double
        // has, or an exponent beyond the double range by more than the
        // fraction's digits can take back. Texts past the range short of that
        // are kept; converting them is the caller's to refuse.
        double value = 0;
        if (intEnd - intStart > 309 || exponent > 308 + (fracEnd - fracStart) ||
            (intEnd - intStart == 309 && std::from_chars(intStart, intEnd, value).ec == std::errc::result_out_of_range))
            Fail(start, "The number is too big for a double.");
        return p;
    }

    // The length of the valid UTF-8 sequence of two to four bytes at p; a
    // fault at p otherwise. Overlong forms, encoded surrogates and code
    // points past U+10FFFF are refused. The zero byte after the text is no
    // continuation byte, so the checks stop there.
    size_t SequenceSize(const char* p) const
    {
        const auto lead = static_cast<uint8_t>(p[0]);
        const auto second = static_cast<uint8_t>(p[1]);
        size_t size = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            size = (second & 0xC0) == 0x80 ? 2 : 0;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            const uint8_t low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
            size = second >= low && second <= high && Continues(p + 2) ? 3 : 0;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            const uint8_t low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
            size = second >= low && second <= high && Continues(p + 2) && Continues(p + 3) ? 4 : 0;
        }
        if (size == 0) Fail(p, "Invalid UTF-8 in string.");
        return size;
    }

    // The code unit of the four hex digits at p, or -1.
    static int Hex4(const char* p)
    {
        int unit = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = HexDigit(p[k]);
            if (d < 0) return -1;
            unit = unit * 16 + d;
        }
        return unit;
    }

    // Unescapes the escape at p ('\\') to w; returns the end of the escape
    // and moves w past what it wrote.
    char* Unescape(char* p, char*& w) const
    {
        switch (p[1]) {
        case '"': *w++ = '"'; return p + 2;
        case '\\': *w++ = '\\'; return p + 2;
        case '/': *w++ = '/'; return p + 2;
        case 'b': *w++ = '\b'; return p + 2;
        case 'f': *w++ = '\f'; return p + 2;
        case 'n': *w++ = '\n'; return p + 2;
        case 'r': *w++ = '\r'; return p + 2;
        case 't': *w++ = '\t'; return p + 2;
        case 'u': break;
        default:
            if (p + 1 == FEnd) BadStringByte(p + 1);
            Fail(p, "Invalid escape character in string.");
        }
        int unit = Hex4(p + 2);
        if (unit < 0) Fail(p, "Incorrect hex digit after \\u escape in string.");
        char* next = p + 6;
        uint32_t code = static_cast<uint32_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            // A high surrogate followed at once by the escape of a low one.
            const int low = unit <= 0xDBFF && next[0] == '\\' && next[1] == 'u' ? Hex4(next + 2) : -1;
            if (low < 0xDC00 || low > 0xDFFF) Fail(p, "The surrogate pair in string is invalid.");
            code = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
            next += 6;
        }
        if (code < 0x80) {
            *w++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *w++ = static_cast<char>(0xC0 | (code >> 6));
            *w++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *w++ = static_cast<char>(0xE0 | (code >> 12));
            *w++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *w++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *w++ = static_cast<char>(0xF0 | (code >> 18));
            *w++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *w++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *w++ = static_cast<char>(0x80 | (code & 0x3F));
        }
        return next;
    }

    // A byte no string holds raw, at p.
    [[noreturn]] void BadStringByte(const char* p) const
    {
        if (p == FEnd) Fail(p, "The text ends inside a string.");
        if (*p == '\0') Fail(p, "A zero byte stands inside a string.");
        Fail(p, "A control character stands unescaped in a string.");
    }

    // The string whose text starts at AStart (after its opening quote): its
    // unescaped size in ASize; returns the position after its closing quote.
    char* ReadString(char* AStart, uint32_t& ASize) const
    {
        char* p = AStart;
        // Until the first escape the text stays where it is.
        for (;;) {
            uint64_t word;
            while (FEnd - p >= 8 && (std::memcpy(&word, p, 8), !NeedsCare(word))) p += 8;
            const auto c = static_cast<uint8_t>(*p);
            if (c == '"') return Finish(AStart, p, p, ASize);
            if (c == '\\') break;
            if (c < 0x20) BadStringByte(p);
            p += c < 0x80 ? 1 : SequenceSize(p);
        }
        // From there on each piece moves up to the end of what is written.
        char* w = p;
        for (;;) {
            uint64_t word;
            while (FEnd - p >= 8 && (std::memcpy(&word, p, 8), !NeedsCare(word))) {
                std::memcpy(w, &word, 8);
                p += 8;
                w += 8;
            }
            const auto c = static_cast<uint8_t>(*p);
            if (c == '"') return Finish(AStart, w, p, ASize);
            if (c == '\\') {
                p = Unescape(p, w);
            } else if (c < 0x20) {
                BadStringByte(p);
            } else if (c < 0x80) {
                *w++ = *p++;
            } else {
                const size_t n = SequenceSize(p);
                std::memmove(w, p, n);
                w += n;
                p += n;
            }
        }
    }

    char* Finish(const char* AStart, const char* AWritten, char* AQuote, uint32_t& ASize) const
    {
        if (static_cast<size_t>(AWritten - AStart) > MaxTextSize) Fail(AStart - 1, "The string is too long.");
        ASize = static_cast<uint32_t>(AWritten - AStart);
        return AQuote + 1;
    }

    void Put(TJSONValue* value)
    {
        if (FOpen.empty()) FScalar = value;
        else FStack.push_back(TJSONPair(FKey, FKeySize, value));
    }

    template <typename T>
    void Open(const char* p)
    {
        if (FOpen.size() >= static_cast<size_t>(JSONMaxDepth)) {
            const auto offset = static_cast<size_t>(p - FText);
            throw EJSONParseException(korvane::Format("JSON nesting deeper than %d levels at offset %d", JSONMaxDepth,
                                                      static_cast<int64_t>(offset)),
                                      offset);
        }
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
        FOpen.push_back({container, FStack.size(), std::is_same_v<T, TJSONObject>});
    }

    // Ends the innermost container at p (its closing bracket): its entries
    // move from the stack to the arena.
    void Close(const char* p)
    {
        const TLevel level = FOpen.back();
        FOpen.pop_back();
        const size_t count = FStack.size() - level.Start;
        if (count > MaxEntries) Fail(p, "An array or object holds too many entries.");
        const TJSONPair* entries = FStack.data() + level.Start;
        if (level.IsObject) {
            auto* object = static_cast<TJSONObject*>(level.Container);
            if (count > 0) {
                object->FPairs = static_cast<TJSONPair*>(FArena.Allocate(count * sizeof(TJSONPair)));
                std::memcpy(static_cast<void*>(object->FPairs), entries, count * sizeof(TJSONPair));
            }
            object->FSize = object->FCapacity = static_cast<uint32_t>(count);
        } else {
            auto* array = static_cast<TJSONArray*>(level.Container);
            if (count > 0) {
                auto* items = static_cast<TJSONElement*>(FArena.Allocate(count * sizeof(TJSONElement)));
                for (size_t i = 0; i < count; ++i) items[i].FValue = entries[i].FValue;
                array->FItems = items;
            }
            array->FSize = array->FCapacity = static_cast<uint32_t>(count);
        }
        FStack.erase(FStack.begin() + static_cast<std::ptrdiff_t>(level.Start), FStack.end());
    }

    TJSONArena& FArena;
    char* FText;
    const char* FEnd;
    std::unique_ptr<TJSONContainer> FRoot;
    TJSONValue* FScalar = nullptr;
    std::vector<TLevel> FOpen;
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
        ok = w.RawValue(t.data(), t.size());
        break;
    }
    case K::String: {
        const std::string_view t = static_cast<const TJSONString&>(v).Text();
        if (!IsValidUTF8(t)) throw EJSONException("Invalid UTF-8 in a JSON string");
        ok = w.String(t.data(), t.size());
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
            if (!w.Key(name.data(), name.size()))
                throw EJSONException("Writing JSON failed");
            WriteValue(w, *pair.JsonValue(), depth + 1);
        }
        ok = w.EndObject();
        break;
    }
    }
    if (!ok) throw EJSONException("Writing JSON failed");
}

// The writer of compact and indented text, writing into one growing block.
// Runs of bytes that need no escape are copied eight at a time. Indented
// text puts each entry of a non-empty container on a line of its own,
// indented by AIndentation blanks a level, and a blank after a name's colon;
// empty containers stay "[]" and "{}".
class TTextWriter {
public:
    explicit TTextWriter(int AIndentation = 0) : FIndentation(static_cast<size_t>(std::max(AIndentation, 0))) {}

    std::string Text() const { return std::string(FBuffer.get(), static_cast<size_t>(FPos - FBuffer.get())); }

    bool Null() { return Word("null", 4); }
    bool Bool(bool b) { return b ? Word("true", 4) : Word("false", 5); }
    bool RawValue(const char* text, size_t length) { return Word(text, length); }
    bool String(const char* text, size_t length)
    {
        Prefix();
        Quoted(text, length);
        FComma = true;
        return true;
    }
    bool Key(const char* text, size_t length)
    {
        Prefix();
        Quoted(text, length);
        Put(':');
        if (FIndentation > 0) Put(' ');
        FAfterName = true;
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
    // What goes before a value or name: nothing after a name, else a comma
    // after an earlier entry and, indented, the entry's own line.
    void Prefix()
    {
        if (FAfterName) {
            FAfterName = false;
            return;
        }
        if (FComma) Put(',');
        if (FIndentation > 0 && FLevel > 0) NewLine();
    }
    void NewLine()
    {
        const size_t blanks = FIndentation * FLevel;
        Reserve(blanks + 1);
        *FPos++ = '\n';
        std::memset(FPos, ' ', blanks);
        FPos += blanks;
    }
    bool Word(const char* text, size_t length)
    {
        Prefix();
        Append(text, length);
        FComma = true;
        return true;
    }
    bool Open(char c)
    {
        Prefix();
        Put(c);
        ++FLevel;
        FComma = false;
        return true;
    }
    bool Close(char c)
    {
        --FLevel;
        // FComma tells whether the container holds an entry.
        if (FIndentation > 0 && FComma) NewLine();
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
    size_t FIndentation;
    size_t FLevel = 0;
    bool FComma = false;
    bool FAfterName = false;
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
    TTextWriter writer;
    WriteValue(writer, *this, 0);
    return writer.Text();
}

std::string TJSONValue::Format(int Indentation) const
{
    if (Indentation <= 0) return ToJSON();
    TTextWriter writer(Indentation);
    WriteValue(writer, *this, 0);
    return writer.Text();
}

std::unique_ptr<TJSONValue> TJSONValue::ParseJSONValue(std::string_view Text)
{
    auto arena = std::make_unique<TJSONArena>();
    char* text = arena->CopyText(Text);
    TJSONBuilder builder(*arena, text, Text.size());
    builder.Read();
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
