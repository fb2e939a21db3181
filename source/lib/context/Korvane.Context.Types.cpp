#include "Korvane.Context.Types.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <numbers>

#include "Korvane.Context.h"
#include "Platform.Log.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Records

TKorvaneShaderLight TKorvaneShaderLight::Create(const TLightDescription& ALight)
{
    TKorvaneShaderLight l;
    std::memset(static_cast<void*>(&l), 0, sizeof(l));
    l.LightType = static_cast<int32_t>(ALight.LightType);
    l.Position = TVector3D(ALight.Position, 1);
    l.Direction = TVector3D(ALight.Direction, 1);
    l.Ambient = TAlphaColorF(0, 0, 0, 1);
    l.Diffuse = TAlphaColorF::Create(ALight.Color);
    l.Specular = TAlphaColorF(1, 1, 1, 1);
    l.Scattering = TVector3D(0.1f, 0.0034f, 1.0f, 0.84f);
    l.SpotCutoff = ALight.SpotCutOff;
    l.SpotCosCutoff = static_cast<float>(std::cos(double(ALight.SpotCutOff) * std::numbers::pi / 180.0));
    l.SpotExponent = ALight.SpotExponent;
    l.ConstantAttenuation = 1;
    l.LinearAttenuation = 0;
    l.QuadraticAttenuation = 0;
    l.Intensity = 1;
    l.Enabled = ALight.Enabled ? 1 : 0;
    return l;
}

TLightDescription TKorvaneShaderLight::ToLightDescription() const
{
    TLightDescription d;
    d.Enabled = IsEnabled();
    d.LightType = static_cast<TLightType>(LightType);
    d.Color = Diffuse.ToAlphaColor();
    d.SpotCutOff = SpotCutoff;
    d.SpotExponent = SpotExponent;
    d.Position = TPoint3D(Position.X, Position.Y, Position.Z);
    d.Direction = TPoint3D(Direction.X, Direction.Y, Direction.Z);
    return d;
}

TKorvaneFogSettings TKorvaneFogSettings::Create(bool AEnabled, uint8_t AMode, float ADensity, float AStart, float AEnd)
{
    return TKorvaneFogSettings{AEnabled, AMode, ADensity, AStart, AEnd, TAlphaColorF(0, 0, 0, 1)};
}

void InitShaderMaterialData(TKorvaneShaderMaterialData& AData)
{
    std::memset(static_cast<void*>(&AData), 0, sizeof(AData));
    AData._Emissive = TAlphaColorF(0, 0, 0, 1);
    AData._Ambient = TAlphaColorF(0.5f, 0.5f, 0.5f, 1);
    AData._Diffuse = TAlphaColorF(1, 1, 1, 1);
    AData._Specular = TAlphaColorF(0.75f, 0.75f, 0.75f, 1);
    AData._Clipping = TAlphaColorF(0, 0, 0, 0);
    AData._ToneMapExp = 1.0f;
    AData._Displacement = TVector3D(0.1f, 0.1f, 0.1f, 1);
    AData._Features = TVector3D(1, 0, 0, 0);
    AData._Shininess = 32.0f;
    AData._Textures = 1;
    for (auto& t : AData._Texture) t._Tiling = TPointF(1, 1);
}

TPlaneF TPlaneF::Create(const TPoint3D& ANormal, float ADistance) { return {ANormal.X, ANormal.Y, ANormal.Z, ADistance}; }

TPlaneF TPlaneF::Create(double ANX, double ANY, double ANZ, double ADistance)
{
    return {static_cast<float>(ANX), static_cast<float>(ANY), static_cast<float>(ANZ), static_cast<float>(ADistance)};
}

TBlendSetting TBlendSetting::Create()
{
    return Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfOne, TBlendFactor::bfOneMinusSrcColor,
                  TBlendFactor::bfOne, TBlendFactor::bfOneMinusSrcAlpha);
}

TBlendSetting TBlendSetting::Create(bool AEnabled)
{
    TBlendSetting s = Create();
    s.Enabled = AEnabled;
    return s;
}

TBlendSetting TBlendSetting::Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                                    TBlendFactor AColorDest, TBlendFactor AAlphaSource, TBlendFactor AAlphaDest)
{
    return TBlendSetting{AEnabled, AFunc, AFunc, AColorSource, AColorDest, AAlphaSource, AAlphaDest};
}

TBlendSetting TBlendSetting::Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                                    TBlendFactor AColorDest)
{
    return Create(AEnabled, AFunc, AColorSource, AColorDest, AColorSource, AColorDest);
}

TBlendSetting TBlendSetting::CreateForFMX()
{
    return Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfOne, TBlendFactor::bfOneMinusSrcAlpha,
                  TBlendFactor::bfOne, TBlendFactor::bfOneMinusSrcAlpha);
}

TSmoothSetting TSmoothSetting::Create()
{
    return TSmoothSetting{{TSmoothTarget::stPoints, TSmoothTarget::stLines, TSmoothTarget::stPolygons}};
}

TOrthographicData TOrthographicData::Create(float ALeft, float ATop, float ARight, float ABottom, float ANear,
                                            float AFar)
{
    return TOrthographicData{ALeft, ATop, ARight, ABottom, ANear, AFar};
}

// ---------------------------------------------------------------------------
// Error reporting

namespace {
void Report(TObject* Sender, uint8_t AKind, const char* APrefix, const std::string& AMessage)
{
    const std::string prefixed = APrefix + AMessage;
    Log::d(prefixed);
    if (ContextErrorHandler) ContextErrorHandler(Sender, AKind, prefixed);
}

std::vector<std::string> SplitAt(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

// The source's lines; CR LF, LF and CR each end a line.
std::vector<std::string> SourceLines(const std::string& source)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < source.size(); ++i) {
        const char c = source[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < source.size() && source[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

bool IsDecimal(const std::string& s)
{
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// The source line that a compiler log line names, or -1. "ERROR: 0:12: text"
// names it in its third colon-separated part; Mesa's "0:12(5): error: text" in
// its second part, before the column in brackets.
int SourceLineOf(const std::string& logLine)
{
    const auto parts = SplitAt(logLine, ':');
    if (parts.size() > 2 && IsDecimal(parts[2])) return std::stoi(parts[2]);
    if (parts.size() > 2 && IsDecimal(parts[0])) {
        const std::string& p = parts[1];
        const size_t open = p.find('(');
        if (open != std::string::npos && p.back() == ')' && IsDecimal(p.substr(0, open)) &&
            IsDecimal(p.substr(open + 1, p.size() - open - 2)))
            return std::stoi(p.substr(0, open));
    }
    return -1;
}
} // namespace

void RaiseContextException(TObject* Sender, std::string_view AMessage, const std::vector<FormatArg>& AArgs)
{
    const std::string message = FormatV(AMessage, AArgs);
    Report(Sender, ContextErrorKind, ContextExceptionPrefix, message);
    throw EContext3DException(message);
}

void RaiseInitializationException(TObject* Sender, std::string_view AMessage, const std::vector<FormatArg>& AArgs)
{
    const std::string message = FormatV(AMessage, AArgs);
    Report(Sender, InitializationErrorKind, InitializationExceptionPrefix, message);
    throw Exception(message);
}

std::string AnnotateShaderLog(const std::string& ALog, const std::string& ASource)
{
    const auto source = SourceLines(ASource);
    std::vector<std::string> entries;
    for (const auto& line : SplitAt(ALog, '\n')) {
        if (line.empty()) continue;
        entries.push_back("\r\n" + line + "\r\n");
        int n = SourceLineOf(line);
        if (n == 0) n = 1;
        if (n >= 1 && static_cast<size_t>(n) <= source.size())
            entries.push_back("\t" + source[static_cast<size_t>(n) - 1] + "\r\n");
    }
    std::string result;
    for (const auto& e : entries) result += e + "\r\n";
    return result;
}

void RaiseShaderCompileException(TObject* Sender, bool ARaise, std::string_view AMessage, const std::string& AName,
                                 const std::string& ALog, const std::string& ASource)
{
    const std::string message = Format(AMessage, AName, AnnotateShaderLog(ALog, ASource));
    Report(Sender, ShaderCompileErrorKind, ShaderCompileExceptionPrefix, message);
    if (ARaise && RaiseShaderCompileErrors) throw EContext3DException(message);
}

} // namespace korvane
