#pragma once
// Shader programs: one linked GPU program made of compiled shader stages, the
// program's uniform variables keyed by their names, and its uniform buffers
// (named blocks of CPU memory mirrored into GPU buffer objects and bound to
// uniform block binding points). Instances are created through the class
// reference ShaderProgramClass, which the OpenGL unit sets at start-up.

#include <cstdint>
#include <map>
#include <memory>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Korvane.Context.Types.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Types3D.h"

namespace korvane {

class TBufferObject;
class TShaderProgram;

// One uniform block registered with a program.
struct TUniformBufferStruct {
    std::string Name;      // as declared in the GLSL source
    int32_t Binding = -1;  // binding point: the entry's index in the program's list
    const void* Data = nullptr; // the caller's CPU copy (not owned)
    int64_t Size = 0;      // bytes of Data
    TOwned<TBufferObject> Buffer; // the GPU uniform buffer (owned by the entry)
};
using PUniformBufferStruct = TUniformBufferStruct*;

// The uniforms of one array of records that is set field by field: for every
// element and field, in the order they are set, the uniform's name
// ("<array>[<i>].<field>", nested arrays in turn) and the program's variable
// of that name (nullptr: none). Made on the first set and kept by the program,
// so that later sets of the same array format no names and look none up.
struct TRecordArrayUniforms {
    std::string Name;
    const TShaderTypeInfo* Type = nullptr;
    int Count = 0;
    // The record's description when the names were made: a description at
    // the same address with other fields (a temporary one) makes them anew.
    size_t TypeSize = 0;
    std::vector<TShaderRecordField> Fields;
    bool Complete = false;
    std::vector<std::string> Names;
    std::vector<const TContextShaderVariable*> Variables;
};

// A re-entrant lock for short stretches that are almost never contended: a
// program's uniform-buffer list is taken on every draw, by the thread that
// draws, and only set-up from another thread could meet it held. Taking it
// free is one compare-and-swap; a waiter yields its time slice.
class TUniformListLock {
public:
    void lock()
    {
        const std::thread::id me = std::this_thread::get_id();
        if (FOwner.load(std::memory_order_relaxed) == me) {
            ++FDepth;
            return;
        }
        for (std::thread::id none{}; !FOwner.compare_exchange_weak(none, me, std::memory_order_acquire);
             none = std::thread::id{})
            std::this_thread::yield();
        FDepth = 1;
    }
    void unlock()
    {
        if (--FDepth == 0) FOwner.store(std::thread::id{}, std::memory_order_release);
    }

private:
    std::atomic<std::thread::id> FOwner{};
    int FDepth = 0; // read and written by the holder only
};

// The metaclass of TShaderProgram and its descendants.
class TShaderProgramClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // A program of this class linked from the given stages.
    virtual TShaderProgram* Create(TClass AContextClass, TContextShader* VS, TContextShader* PS) const;
    virtual TShaderProgram* Create(TClass AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                                   TContextShader* TSC, TContextShader* PS) const;
    // Compiles one stage and answers its handle (also after a failed compile
    // that did not raise).
    virtual uintptr_t BuildShader(int AType, const std::vector<uint8_t>& ACode, bool AIsInDesignTime) const;
    // Makes no program current.
    virtual void ActivateDefault() const;
    // ActivateDefault for a caller that has just read every pending GL error
    // (the draw entry): nothing stale can be pending, so none is drained first.
    virtual void ActivateDefaultAfterErrorCheck() const { ActivateDefault(); }

protected:
    template <typename T, typename Body>
    static T* Construct(Body&& body)
    {
        return InitializeObject(new T(), std::forward<Body>(body));
    }
};

class TShaderProgram : public TObject {
    KORVANE_CLASS(TShaderProgram, TObject)
    friend class TShaderProgramClass;

    static const TShaderProgramClass& ClassInfo() { return static_cast<const TShaderProgramClass&>(*StaticClass()); }
    const TShaderProgramClass& ProgramClass() const { return static_cast<const TShaderProgramClass&>(*ClassType()); }

    TClass ContextClass() const { return FContextClass; }
    uintptr_t VS() const { return FVS; }
    uintptr_t GS() const { return FGS; }
    uintptr_t TSE() const { return FTSE; }
    uintptr_t TSC() const { return FTSC; }
    uintptr_t PS() const { return FPS; }
    uintptr_t Prog() const { return FProg; }
    const std::map<std::string, TContextShaderVariable>& Variables() const { return FVariables; }
    // The variable named AName; nullptr when the program has none. Answered
    // from an index made when the variables were collected: every draw sets
    // variables by name, and a set must cost one hash and one comparison.
    const TContextShaderVariable* FindVariable(std::string_view AName) const;
    // The uniforms kept for the record array AName of ACount records of
    // AType; empty (not Complete) the first time and after the description
    // changed. Dropped with the variables.
    TRecordArrayUniforms& RecordArrayUniforms(const std::string& AName, const TShaderTypeInfo& AType, int ACount);

    virtual void LinkProgram(TContextShader* AVS, TContextShader* APS);
    virtual void LinkProgram(TContextShader* AVS, TContextShader* AGS, TContextShader* ATSE, TContextShader* ATSC,
                             TContextShader* APS);
    // Unbinds the entry's binding point, frees its buffer and zeroes the entry.
    virtual void ReleaseUniformBuffer(TUniformBufferStruct& AEntry);
    virtual bool Available() const;
    virtual void Use();

    // Registers a uniform block; answers the existing entry for a registered
    // name, nullptr on a device with at most one vertex uniform block. The
    // answer stays valid until that entry is unregistered or cleared.
    virtual PUniformBufferStruct RegisterUniformBuffer(const std::string& AName, const void* AData, int64_t ASize);
    virtual void UnregisterUniformBufferByName(const std::string& AName);
    virtual void UnregisterUniformBufferByIdx(int AIdx);
    virtual void ClearUniformBuffers();
    virtual int IndexOfUniformBuffer(std::string_view AName);
    virtual PUniformBufferStruct GetUniformBufferByName(const std::string& AName);
    // Uploads every registered block from its CPU copy and binds it to the program.
    virtual void PushUniformBuffers();

    // The number of registered blocks (0 without a list).
    int UniformBufferCount();

protected:
    // The constructor bodies: store the context class and link.
    virtual void Create(TClass AContextClass, TContextShader* VS, TContextShader* PS);
    virtual void Create(TClass AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                        TContextShader* TSC, TContextShader* PS);
    // Takes the program out (Available is false from then on) and releases the uniform buffers.
    void BeforeDestruction() override;
    [[noreturn]] void AbstractCall(const char* AName) const;
    // Remakes the index of FindVariable; whoever changes FVariables calls it.
    void IndexVariables();

    TClass FContextClass = nullptr;
    uintptr_t FVS = 0, FGS = 0, FTSE = 0, FTSC = 0, FPS = 0;
    uintptr_t FProg = 0;
    std::map<std::string, TContextShaderVariable> FVariables;

private:
    struct TVariableSlot {
        size_t Hash = 0;
        const std::pair<const std::string, TContextShaderVariable>* Entry = nullptr;
    };
    // Open addressing over FVariables, a power of two long; empty without variables.
    std::vector<TVariableSlot> FVariableIndex;
    std::vector<std::unique_ptr<TRecordArrayUniforms>> FRecordArrays;
    TUniformListLock FUniformLock;
    std::unique_ptr<std::vector<std::unique_ptr<TUniformBufferStruct>>> FUniformBuffers;
    bool FUniformBuffersModified = false;
};

// Null at load; TOpenGLShaderProgram while the OpenGL unit is loaded.
extern const TShaderProgramClass* ShaderProgramClass;
// ShaderProgramClass, raising when no class is installed.
const TShaderProgramClass& InstalledShaderProgramClass();

// Appends AVariables, in order, behind the variables of ASource.
void AddShaderSourceVariables(TContextShaderSource& ASource, const std::vector<TContextShaderVariable>& AVariables);

} // namespace korvane
