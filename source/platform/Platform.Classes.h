#pragma once
// The root of the object model. Objects are destroyed through Free(): it runs
// BeforeDestruction() while the object is still its most-derived type, so
// destroy-time work can live in overrides, then deletes it.

#include <string>

namespace korvane {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // The one destruction entry for heap objects; safe on nullptr through FreeAndNil.
    void Free();
    bool Destroying() const { return FDestroying; }

    // The class name as the design writes it ("TKorvaneMesh"); the registry
    // and streaming use it.
    virtual std::string ClassName() const { return "TObject"; }

protected:
    // Runs before the object is deleted, while virtual calls still reach the
    // most-derived overrides.
    virtual void BeforeDestruction() {}

private:
    bool FDestroying = false;
};

template <typename T>
void FreeAndNil(T*& object)
{
    T* p = object;
    object = nullptr;
    if (p) p->Free();
}

class TPersistent : public TObject {
public:
    std::string ClassName() const override { return "TPersistent"; }
    // Copies the state of Source; raises when the classes do not know each other.
    virtual void Assign(const TPersistent* Source);

protected:
    // Lets Dest copy from this object when Dest does not know the class.
    virtual void AssignTo(TPersistent* Dest) const;
};

} // namespace korvane
