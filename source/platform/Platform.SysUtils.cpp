#include "Platform.SysUtils.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

namespace korvane {

namespace {

std::string ToCharsFixed(double value, int digits)
{
    char buf[512];
    auto r = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, digits);
    if (r.ec != std::errc()) {
        // Values too wide for the buffer: fall back to the scientific form.
        r = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::scientific, 15);
    }
    return std::string(buf, r.ptr);
}

// Splits a value into its decimal digits (`precision` significant, rounded) and exponent.
void DecimalDigits(double value, int precision, std::string& digits, int& exponent)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::scientific, precision - 1);
    std::string s(buf, r.ptr);
    const auto e = s.find('e');
    std::string mant = s.substr(0, e);
    exponent = std::stoi(s.substr(e + 1));
    digits.clear();
    for (char c : mant)
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
}

std::string NonFinite(double value)
{
    if (std::isnan(value)) return "NAN";
    return value > 0 ? "INF" : "-INF";
}

std::string Scientific(double value, int precision)
{
    // Delphi %e: "-d.ddd...E+ddd" with `precision` significant digits and a 3-digit exponent.
    if (!std::isfinite(value)) return NonFinite(value);
    precision = std::clamp(precision, 1, 18);
    std::string digits;
    int exponent = 0;
    DecimalDigits(std::fabs(value), precision, digits, exponent);
    if (value == 0) exponent = 0;
    std::string out = std::signbit(value) && value != 0 ? "-" : "";
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    char eb[16];
    std::snprintf(eb, sizeof(eb), "E%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out + eb;
}

std::string WithThousands(const std::string& fixed)
{
    std::string intPart = fixed, frac;
    const bool negative = !intPart.empty() && intPart[0] == '-';
    if (negative) intPart.erase(0, 1);
    const auto dot = intPart.find('.');
    if (dot != std::string::npos) {
        frac = intPart.substr(dot);
        intPart.erase(dot);
    }
    // Digits are gathered right to left with a separator every three, then reversed.
    std::string grouped;
    grouped.reserve(intPart.size() + intPart.size() / 3);
    int count = 0;
    for (auto it = intPart.rbegin(); it != intPart.rend(); ++it) {
        if (count > 0 && count % 3 == 0) grouped.push_back(',');
        grouped.push_back(*it);
        ++count;
    }
    std::reverse(grouped.begin(), grouped.end());
    return (negative ? std::string("-") : std::string()) + grouped + frac;
}

// The text without the white space around it (numbers may carry blanks).
std::string_view StripSpaces(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

[[noreturn]] void FormatError(std::string_view fmt)
{
    throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

[[noreturn]] void FormatBoundError(std::string_view fmt)
{
    throw EConvertError("Format '" + std::string(fmt) + "' has a width, precision or index beyond " +
                        std::to_string(FormatMaxWidth));
}

} // namespace

std::string FloatToStrGeneral(double value, int precision)
{
    if (!std::isfinite(value)) return NonFinite(value);
    precision = std::clamp(precision, 1, 18);
    if (value == 0) return "0";
    // Built in a local buffer: JSON writers call this once per number.
    char sci[64];
    const auto r = std::to_chars(sci, sci + sizeof(sci), std::fabs(value), std::chars_format::scientific,
                                 precision - 1);
    const char* e = std::find(sci, r.ptr, 'e');
    char digits[32];
    int count = 0;
    for (const char* p = sci; p < e; ++p)
        if (*p >= '0' && *p <= '9') digits[count++] = *p;
    int exponent = 0;
    const bool negativeExponent = e + 1 < r.ptr && e[1] == '-';
    for (const char* p = e + 2; p < r.ptr; ++p) exponent = exponent * 10 + (*p - '0');
    if (negativeExponent) exponent = -exponent;
    while (count > 1 && digits[count - 1] == '0') --count;

    char out[64];
    int n = 0;
    if (value < 0) out[n++] = '-';
    const auto put = [&](const char* from, int length) {
        for (int i = 0; i < length; ++i) out[n++] = from[i];
    };
    if (exponent >= precision || exponent < -4) {
        out[n++] = digits[0];
        if (count > 1) {
            out[n++] = '.';
            put(digits + 1, count - 1);
        }
        out[n++] = 'E';
        const auto x = std::to_chars(out + n, out + sizeof(out), exponent);
        n = int(x.ptr - out);
        return std::string(out, size_t(n));
    }
    if (exponent < 0) {
        out[n++] = '0';
        out[n++] = '.';
        for (int i = 0; i < -exponent - 1; ++i) out[n++] = '0';
        put(digits, count);
        return std::string(out, size_t(n));
    }
    const int intDigits = exponent + 1;
    if (count <= intDigits) {
        put(digits, count);
        for (int i = count; i < intDigits; ++i) out[n++] = '0';
    } else {
        put(digits, intDigits);
        out[n++] = '.';
        put(digits + intDigits, count - intDigits);
    }
    return std::string(out, size_t(n));
}

std::string FloatToStrFixed(double value, int digits)
{
    if (!std::isfinite(value)) return NonFinite(value);
    std::string s = ToCharsFixed(value, std::clamp(digits, 0, 30));
    // "-0.00" reads as zero in the "en-US" settings.
    if (!s.empty() && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

std::string FormatV(std::string_view fmt, const std::vector<FormatArg>& args)
{
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= fmt.size()) FormatError(fmt);
        if (fmt[i] == '%') {
            out += '%';
            continue;
        }
        // Digits from fmt[i] on as a number no larger than FormatMaxWidth; the
        // position after them in `end`.
        auto boundedNumber = [&](size_t& end) {
            int64_t value = 0;
            for (end = i; end < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[end])); ++end) {
                value = value * 10 + (fmt[end] - '0');
                if (value > FormatMaxWidth) FormatBoundError(fmt);
            }
            return static_cast<int>(value);
        };
        // [index:]
        size_t j = i;
        while (j < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[j]))) ++j;
        if (j < fmt.size() && fmt[j] == ':' && j > i) {
            next = static_cast<size_t>(boundedNumber(j));
            i = j + 1;
        }
        bool left = false;
        if (i < fmt.size() && fmt[i] == '-') {
            left = true;
            ++i;
        }
        int width = -1, prec = -1;
        auto readNumber = [&](int& target) {
            if (i < fmt.size() && fmt[i] == '*') {
                if (next >= args.size()) FormatError(fmt);
                const auto* v = std::get_if<int64_t>(&args[next++].Value);
                if (!v) FormatError(fmt);
                if (*v > FormatMaxWidth || *v < -FormatMaxWidth) FormatBoundError(fmt);
                target = static_cast<int>(*v);
                ++i;
                return;
            }
            size_t k = i;
            const int value = boundedNumber(k);
            if (k > i) target = value;
            i = k;
        };
        readNumber(width);
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            prec = 0;
            readNumber(prec);
        }
        if (i >= fmt.size()) FormatError(fmt);
        const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i])));
        if (next >= args.size()) FormatError(fmt);
        const auto& arg = args[next++].Value;

        std::string text;
        auto asDouble = [&]() -> double {
            if (const auto* d = std::get_if<double>(&arg)) return *d;
            FormatError(fmt);
        };
        switch (type) {
        case 'd':
        case 'u': {
            std::string digits;
            bool neg = false;
            if (const auto* v = std::get_if<int64_t>(&arg)) {
                if (type == 'u') digits = std::to_string(static_cast<uint32_t>(*v));
                else {
                    neg = *v < 0;
                    digits = std::to_string(*v);
                    if (neg) digits.erase(0, 1);
                }
            } else if (const auto* u = std::get_if<uint64_t>(&arg)) {
                digits = std::to_string(*u);
            } else FormatError(fmt);
            if (prec > 0 && static_cast<int>(digits.size()) < prec)
                digits.insert(0, static_cast<size_t>(prec) - digits.size(), '0');
            text = (neg ? "-" : "") + digits;
            break;
        }
        case 'x': {
            uint64_t v = 0;
            if (const auto* s = std::get_if<int64_t>(&arg)) v = static_cast<uint64_t>(*s);
            else if (const auto* u = std::get_if<uint64_t>(&arg)) v = *u;
            else FormatError(fmt);
            char buf[32];
            std::snprintf(buf, sizeof(buf), "%llX", static_cast<unsigned long long>(v));
            text = buf;
            if (prec > 0 && static_cast<int>(text.size()) < prec)
                text.insert(0, static_cast<size_t>(prec) - text.size(), '0');
            break;
        }
        case 'f':
            text = FloatToStrFixed(asDouble(), prec < 0 ? 2 : prec);
            break;
        case 'n':
        case 'm':
            text = WithThousands(FloatToStrFixed(asDouble(), prec < 0 ? 2 : prec));
            if (type == 'm') text = "$" + text;
            break;
        case 'e':
            text = Scientific(asDouble(), prec < 0 ? 15 : prec);
            break;
        case 'g':
            text = FloatToStrGeneral(asDouble(), prec < 0 ? 15 : prec);
            break;
        case 's':
            if (const auto* s = std::get_if<std::string>(&arg)) text = *s;
            else FormatError(fmt);
            if (prec >= 0 && static_cast<int>(text.size()) > prec) text.resize(static_cast<size_t>(prec));
            break;
        case 'p': {
            const void* p = nullptr;
            if (const auto* pp = std::get_if<const void*>(&arg)) p = *pp;
            else FormatError(fmt);
            char buf[32];
            std::snprintf(buf, sizeof(buf), "%016llX",
                          static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
            text = buf;
            break;
        }
        default:
            FormatError(fmt);
        }
        if (width > 0 && static_cast<int>(text.size()) < width) {
            const std::string pad(static_cast<size_t>(width) - text.size(), ' ');
            text = left ? text + pad : pad + text;
        }
        out += text;
    }
    return out;
}

bool TryStrToFloat(std::string_view text, double& value)
{
    std::string_view s = StripSpaces(text);
    if (s.empty()) return false;
    // A number starts with a digit or the point after its one sign: no
    // infinities, no NaN, no second sign.
    size_t body = 0;
    if (s.front() == '+') s.remove_prefix(1);
    else if (s.front() == '-') body = 1;
    if (s.size() <= body || !(std::isdigit(static_cast<unsigned char>(s[body])) || s[body] == '.')) return false;
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    value = v;
    return true;
}

double StrToFloat(std::string_view text)
{
    double v = 0;
    if (!TryStrToFloat(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
    return v;
}

std::string FloatToStr(double value, const TFormatSettings& settings)
{
    std::string text = FloatToStrGeneral(value, 15);
    if (settings.DecimalSeparator != '.') std::replace(text.begin(), text.end(), '.', settings.DecimalSeparator);
    return text;
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings)
{
    const char sep = settings.DecimalSeparator;
    size_t i = 0;
    const size_t n = text.size();
    auto digit = [&](size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
    std::string plain;
    plain.reserve(n);
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain.push_back('-');
        ++i;
    }
    size_t mantissaDigits = 0;
    while (digit(i)) {
        plain.push_back(text[i++]);
        ++mantissaDigits;
    }
    if (i < n && text[i] == sep) {
        plain.push_back('.');
        ++i;
        while (digit(i)) {
            plain.push_back(text[i++]);
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        plain.push_back('e');
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) plain.push_back(text[i++]);
        if (!digit(i)) return false;
        while (digit(i)) plain.push_back(text[i++]);
    }
    if (i != n) return false;
    double v = 0;
    const auto r = std::from_chars(plain.data(), plain.data() + plain.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != plain.data() + plain.size()) return false;
    value = v;
    return true;
}

bool TryStrToInt64(std::string_view text, int64_t& value)
{
    std::string_view s = StripSpaces(text);
    if (s.empty()) return false;
    bool neg = false;
    if (s.front() == '+' || s.front() == '-') {
        neg = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    uint64_t u = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), u, base);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    if (neg) {
        if (u > uint64_t(INT64_MAX) + 1) return false;
        value = static_cast<int64_t>(0 - u);
    } else {
        if (u > uint64_t(INT64_MAX)) return false;
        value = static_cast<int64_t>(u);
    }
    return true;
}

int64_t StrToInt64(std::string_view text)
{
    int64_t v = 0;
    if (!TryStrToInt64(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return v;
}

bool TryStrToInt(std::string_view text, int& value)
{
    int64_t v = 0;
    if (!TryStrToInt64(text, v) || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

int StrToInt(std::string_view text)
{
    int v = 0;
    if (!TryStrToInt(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return v;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

bool TryStringToGUID(std::string_view text, TGUID& guid)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters, hyphens at fixed places.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    uint8_t bytes[16];
    size_t pos = 1;
    for (int i = 0; i < 16; ++i) {
        if (pos == 9 || pos == 14 || pos == 19 || pos == 24) {
            if (text[pos] != '-') return false;
            ++pos;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[pos++];
            int digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else return false;
            value = value * 16 + digit;
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    if (pos != 37) return false;
    guid.D1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    guid.D2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.D3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) guid.D4[i] = bytes[8 + i];
    return true;
}

TGUID StringToGUID(std::string_view text)
{
    TGUID guid;
    if (!TryStringToGUID(text, guid)) throw EConvertError("'" + std::string(text) + "' is not a valid GUID value");
    return guid;
}

std::string GUIDToString(const TGUID& guid)
{
    char buf[40];
    std::snprintf(buf, sizeof(buf), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.D1, guid.D2, guid.D3,
                  guid.D4[0], guid.D4[1], guid.D4[2], guid.D4[3], guid.D4[4], guid.D4[5], guid.D4[6], guid.D4[7]);
    return buf;
}

std::string UpperCase(std::string_view s)
{
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string LowerCase(std::string_view s)
{
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Trim(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

bool IsValidUTF8(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        // Eight ASCII bytes at a time: most text is ASCII.
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull) break;
            p += 8;
        }
        if (p == end) break;
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) extra = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else return false;
        if (end - p <= extra) return false;
        if (p[1] < lo || p[1] > hi) return false;
        for (int i = 2; i <= extra; ++i)
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        p += extra + 1;
    }
    return true;
}

TGUID CreateGUID()
{
    thread_local std::mt19937_64 engine{[] {
        std::random_device rd;
        return (uint64_t(rd()) << 32) ^ rd();
    }()};
    const uint64_t a = engine(), b = engine();
    TGUID g;
    g.D1 = uint32_t(a >> 32);
    g.D2 = uint16_t(a >> 16);
    g.D3 = uint16_t((uint16_t(a) & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) g.D4[i] = uint8_t(b >> (8 * i));
    g.D4[0] = uint8_t((g.D4[0] & 0x3F) | 0x80);
    return g;
}

} // namespace korvane
