#include "Korvane.Context.Shader.h"

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
    LinkProgram(VS, PS);
}

void TShaderProgram::Create(TClass AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                            TContextShader* TSC, TContextShader* PS)
{
    FContextClass = AContextClass;
    FVariables.clear();
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

void TShaderProgram::ReleaseUniformBuffer(TUniformBufferStruct&) { AbstractCall("ReleaseUniformBuffer"); }
bool TShaderProgram::Available() const { AbstractCall("Available"); }
void TShaderProgram::Use() { AbstractCall("Use"); }

void TShaderProgram::BeforeDestruction()
{
    FProg = 0;
    ClearUniformBuffers();
    FVariables.clear();
    TObject::BeforeDestruction();
}

PUniformBufferStruct TShaderProgram::RegisterUniformBuffer(const std::string& AName, const void* AData, int64_t ASize)
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
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
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
    UnregisterUniformBufferByIdx(IndexOfUniformBuffer(AName));
}

void TShaderProgram::UnregisterUniformBufferByIdx(int AIdx)
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
    if (!FUniformBuffers || AIdx < 0 || AIdx >= int(FUniformBuffers->size())) return;
    std::unique_ptr<TUniformBufferStruct> entry = std::move((*FUniformBuffers)[size_t(AIdx)]);
    FUniformBuffers->erase(FUniformBuffers->begin() + AIdx);
    ReleaseUniformBuffer(*entry);
    FUniformBuffersModified = true;
}

void TShaderProgram::ClearUniformBuffers()
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
    if (!FUniformBuffers) return;
    for (auto& entry : *FUniformBuffers) ReleaseUniformBuffer(*entry);
    FUniformBuffers.reset();
    FUniformBuffersModified = true;
}

int TShaderProgram::IndexOfUniformBuffer(const std::string& AName)
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
    if (!FUniformBuffers) return -1;
    for (size_t i = 0; i < FUniformBuffers->size(); ++i)
        if ((*FUniformBuffers)[i]->Name == AName) return int(i);
    return -1;
}

PUniformBufferStruct TShaderProgram::GetUniformBufferByName(const std::string& AName)
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
    const int idx = IndexOfUniformBuffer(AName);
    return idx < 0 ? nullptr : (*FUniformBuffers)[size_t(idx)].get();
}

int TShaderProgram::UniformBufferCount()
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
    return FUniformBuffers ? int(FUniformBuffers->size()) : 0;
}

void TShaderProgram::PushUniformBuffers()
{
    std::lock_guard<std::recursive_mutex> lock(FUniformLock);
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
