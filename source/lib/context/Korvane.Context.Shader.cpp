#include "Korvane.Context.Shader.h"

#include <cstring>

#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.h"

namespace korvane {

const TShaderProgramClass* ShaderProgramClass = nullptr;

const TShaderProgramClass& InstalledShaderProgramClass()
{
    if (!ShaderProgramClass) throw EContext3DException("no shader program class is installed");
    return *ShaderProgramClass;
}

void AddShaderSourceVariables(TContextShaderSource& ASource, const std::vector<TContextShaderVariable>& AVariables)
{
    ASource.Variables.insert(ASource.Variables.end(), AVariables.begin(), AVariables.end());
}

// ---------------------------------------------------------------------------
// TShaderProgramClass

TShaderProgram* TShaderProgramClass::Create(TClass AContextClass, TContextShader* VS, TContextShader* PS) const
{
    return Construct<TShaderProgram>([&](TShaderProgram* p) { p->Create(AContextClass, VS, PS); });
}

TShaderProgram* TShaderProgramClass::Create(TClass AContextClass, TContextShader* VS, TContextShader* GS,
                                            TContextShader* TSE, TContextShader* TSC, TContextShader* PS) const
{
    return Construct<TShaderProgram>([&](TShaderProgram* p) { p->Create(AContextClass, VS, GS, TSE, TSC, PS); });
}

uintptr_t TShaderProgramClass::BuildShader(int, const std::vector<uint8_t>&, bool) const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".BuildShader");
}

void TShaderProgramClass::ActivateDefault() const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".ActivateDefault");
}

// ---------------------------------------------------------------------------
// TShaderProgram

TClass TShaderProgram::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TShaderProgram, TShaderProgramClass>("Korvane.Context.Shader");
    return &info;
}

void TShaderProgram::AbstractCall(const char* AName) const
{
    throw EAbstractError(Format("Abstract Error: %s.%s", ClassName(), AName));
}

void TShaderProgram::Create(TClass AContextClass, TContextShader* VS, TContextShader* PS)
{
    FContextClass = AContextClass;
    FVariables.clear();
    IndexVariables();
    LinkProgram(VS, PS);
}

void TShaderProgram::Create(TClass AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                            TContextShader* TSC, TContextShader* PS)
{
    FContextClass = AContextClass;
    FVariables.clear();
    IndexVariables();
    LinkProgram(VS, GS, TSE, TSC, PS);
}

void TShaderProgram::LinkProgram(TContextShader* AVS, TContextShader* APS)
{
    LinkProgram(AVS, nullptr, nullptr, nullptr, APS);
}

void TShaderProgram::LinkProgram(TContextShader*, TContextShader*, TContextShader*, TContextShader*, TContextShader*)
{
    AbstractCall("LinkProgram");
}

namespace {
// A hash of a variable name, eight bytes per step: names are short, and a set
// by name runs on every draw.
size_t VariableNameHash(std::string_view AName)
{
    const char* p = AName.data();
    const size_t n = AName.size();
    auto read = [](const char* AAt, auto AWord) {
        std::memcpy(&AWord, AAt, sizeof AWord);
        return static_cast<uint64_t>(AWord);
    };
    auto mix = [](uint64_t AHash, uint64_t AWord) {
        const uint64_t h = (AHash ^ AWord) * 0xFF51AFD7ED558CCDull;
        return h ^ (h >> 29);
    };
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ n;
    // Whole words, then the last eight bytes (overlapping the words before);
    // short names in one or two fixed-size reads.
    if (n >= 8) {
        for (size_t i = 0; i + 8 <= n; i += 8) hash = mix(hash, read(p + i, uint64_t(0)));
        if (n % 8) hash = mix(hash, read(p + n - 8, uint64_t(0)));
    } else if (n >= 4) {
        hash = mix(hash, read(p, uint32_t(0)) | (read(p + n - 4, uint32_t(0)) << 32));
    } else if (n > 0) {
        hash = mix(hash, uint64_t(uint8_t(p[0])) | uint64_t(uint8_t(p[n / 2])) << 8 | uint64_t(uint8_t(p[n - 1])) << 16);
    }
    return static_cast<size_t>(hash);
}

// The same name: short names compared in a few fixed-size reads, without a
// library call.
bool SameName(std::string_view A, std::string_view B)
{
    const size_t n = A.size();
    if (n != B.size()) return false;
    if (n < 8) {
        if (n < 4) {
            for (size_t i = 0; i < n; ++i)
                if (A[i] != B[i]) return false;
            return true;
        }
        uint32_t a[2], b[2];
        std::memcpy(&a[0], A.data(), 4);
        std::memcpy(&a[1], A.data() + n - 4, 4);
        std::memcpy(&b[0], B.data(), 4);
        std::memcpy(&b[1], B.data() + n - 4, 4);
        return a[0] == b[0] && a[1] == b[1];
    }
    uint64_t a = 0, b = 0;
    for (size_t i = 0; i + 8 <= n; i += 8) {
        std::memcpy(&a, A.data() + i, 8);
        std::memcpy(&b, B.data() + i, 8);
        if (a != b) return false;
    }
    std::memcpy(&a, A.data() + n - 8, 8);
    std::memcpy(&b, B.data() + n - 8, 8);
    return a == b;
}
} // namespace

void TShaderProgram::IndexVariables()
{
    // The kept record-array uniforms point at the variables.
    FRecordArrays.clear();
    FVariableIndex.clear();
    if (FVariables.empty()) return;
    // At most half full, so that a miss ends at an empty slot soon.
    size_t size = 8;
    while (size < FVariables.size() * 2) size *= 2;
    FVariableIndex.resize(size);
    for (const auto& entry : FVariables) {
        const size_t hash = VariableNameHash(entry.first);
        size_t i = hash & (size - 1);
        while (FVariableIndex[i].Entry) i = (i + 1) & (size - 1);
        FVariableIndex[i] = {hash, &entry};
    }
}

const TContextShaderVariable* TShaderProgram::FindVariable(std::string_view AName) const
{
    if (FVariableIndex.empty()) return nullptr;
    const size_t mask = FVariableIndex.size() - 1;
    const size_t hash = VariableNameHash(AName);
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const TVariableSlot& slot = FVariableIndex[i];
        if (!slot.Entry) return nullptr;
        if (slot.Hash == hash && SameName(slot.Entry->first, AName)) return &slot.Entry->second;
    }
}

TRecordArrayUniforms& TShaderProgram::RecordArrayUniforms(const std::string& AName, const TShaderTypeInfo& AType,
                                                          int ACount)
{
    auto sameFields = [&](const TRecordArrayUniforms& AUniforms) {
        if (AUniforms.TypeSize != AType.Size || AUniforms.Fields.size() != AType.Fields.size()) return false;
        for (size_t i = 0; i < AType.Fields.size(); ++i) {
            const TShaderRecordField &a = AUniforms.Fields[i], &b = AType.Fields[i];
            if (a.Type != b.Type || a.Offset != b.Offset || a.Name != b.Name) return false;
        }
        return true;
    };
    TRecordArrayUniforms* found = nullptr;
    for (const auto& u : FRecordArrays)
        if (u->Type == &AType && u->Count == ACount && u->Name == AName) found = u.get();
    if (!found) {
        // A memo, not a registry: callers that describe their records anew
        // for every set must not make it grow without end.
        if (FRecordArrays.size() >= 64) FRecordArrays.clear();
        FRecordArrays.push_back(std::make_unique<TRecordArrayUniforms>());
        found = FRecordArrays.back().get();
        found->Name = AName;
        found->Type = &AType;
        found->Count = ACount;
    } else if (sameFields(*found)) {
        return *found;
    }
    found->TypeSize = AType.Size;
    found->Fields = AType.Fields;
    found->Complete = false;
    found->Names.clear();
    found->Variables.clear();
    return *found;
}

void TShaderProgram::ReleaseUniformBuffer(TUniformBufferStruct&) { AbstractCall("ReleaseUniformBuffer"); }
bool TShaderProgram::Available() const { AbstractCall("Available"); }
void TShaderProgram::Use() { AbstractCall("Use"); }

void TShaderProgram::BeforeDestruction()
{
    FProg = 0;
    ClearUniformBuffers();
    FVariables.clear();
    IndexVariables();
    TObject::BeforeDestruction();
}

PUniformBufferStruct TShaderProgram::RegisterUniformBuffer(const std::string& AName, const void* AData, int64_t ASize)
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    if (const int idx = IndexOfUniformBuffer(AName); idx >= 0) return (*FUniformBuffers)[size_t(idx)].get();
    if (!FUniformBuffers) FUniformBuffers = std::make_unique<std::vector<std::unique_ptr<TUniformBufferStruct>>>();

    const int count = int(FUniformBuffers->size());
    const int vertexBlocks = TKorvaneContext::MaxVertexShaderUniformBlocks();
    if (vertexBlocks <= 1) return nullptr;
    if (count >= vertexBlocks)
        throw Exception("failed to register uniform buffer - maximum number of vertex uniform blocks exceeded");
    const int fragmentBlocks = TKorvaneContext::MaxFragmentShaderUniformBlocks();
    if (fragmentBlocks <= 1) return nullptr;
    if (count >= fragmentBlocks)
        throw Exception("failed to register uniform buffer - maximum number of fragment uniform blocks exceeded");
    if (TKorvaneContext::MaxUniformBlockSize() < ASize)
        throw Exception("failed to register uniform buffer - maximum uniform block size exceeded");

    auto entry = std::make_unique<TUniformBufferStruct>();
    entry->Name = AName;
    entry->Binding = -1;
    entry->Data = AData;
    entry->Size = ASize;
    entry->Buffer.reset(
        InstalledBufferObjectClass().Create(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform, nullptr));
    TUniformBufferStruct* result = entry.get();
    FUniformBuffers->push_back(std::move(entry));
    result->Binding = count;
    PushBound(result->Buffer.get(), AData, static_cast<intptr_t>(ASize));
    FUniformBuffersModified = true;
    return result;
}

void TShaderProgram::UnregisterUniformBufferByName(const std::string& AName)
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    UnregisterUniformBufferByIdx(IndexOfUniformBuffer(AName));
}

void TShaderProgram::UnregisterUniformBufferByIdx(int AIdx)
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    if (!FUniformBuffers || AIdx < 0 || AIdx >= int(FUniformBuffers->size())) return;
    std::unique_ptr<TUniformBufferStruct> entry = std::move((*FUniformBuffers)[size_t(AIdx)]);
    FUniformBuffers->erase(FUniformBuffers->begin() + AIdx);
    ReleaseUniformBuffer(*entry);
    FUniformBuffersModified = true;
}

void TShaderProgram::ClearUniformBuffers()
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    if (!FUniformBuffers) return;
    for (auto& entry : *FUniformBuffers) ReleaseUniformBuffer(*entry);
    FUniformBuffers.reset();
    FUniformBuffersModified = true;
}

int TShaderProgram::IndexOfUniformBuffer(std::string_view AName)
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    if (!FUniformBuffers) return -1;
    for (size_t i = 0; i < FUniformBuffers->size(); ++i)
        if ((*FUniformBuffers)[i]->Name == AName) return int(i);
    return -1;
}

PUniformBufferStruct TShaderProgram::GetUniformBufferByName(const std::string& AName)
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    const int idx = IndexOfUniformBuffer(AName);
    return idx < 0 ? nullptr : (*FUniformBuffers)[size_t(idx)].get();
}

int TShaderProgram::UniformBufferCount()
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    return FUniformBuffers ? int(FUniformBuffers->size()) : 0;
}

void TShaderProgram::PushUniformBuffers()
{
    std::lock_guard<TUniformListLock> lock(FUniformLock);
    if (!FUniformBuffers) return;
    for (size_t i = 0; i < FUniformBuffers->size(); ++i) {
        TUniformBufferStruct& entry = *(*FUniformBuffers)[i];
        if (!entry.Buffer) continue;
        if (FUniformBuffersModified) entry.Buffer->Unlink();
        // After an unregistration the entries have moved: the binding point follows the index.
        entry.Binding = int32_t(i);
        entry.Buffer->LinkWithBindingPoint(uint32_t(i), false);
        entry.Buffer->LinkWithShaderProgram(this, entry.Name, nullptr, 0, false);
        PushBound(entry.Buffer.get(), entry.Data, static_cast<intptr_t>(entry.Size));
    }
    FUniformBuffersModified = false;
}

} // namespace korvane
