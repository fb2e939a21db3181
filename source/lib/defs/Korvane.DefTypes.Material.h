#pragma once
// References from definitions to material definitions.
//
// A mesh refers to its material by the material's Id; the reference resolves
// at once when the model already holds the material, else in the model's
// late-resolution pass.

#include <memory>
#include <string>

#include "Korvane.DefTypes.h"

namespace korvane {

// A material of a model. So far it holds only its Id, which is what mesh
// definitions refer to; its JSON form is the definition base's.
class TMaterialDef : public TCustomDef {
    KORVANE_CLASS(TMaterialDef, TCustomDef)

    TMaterialDef() = default;

protected:
    int64_t InstanceSize() const override { return sizeof(TMaterialDef); }
};

// A reference to another definition: its Id is the Id of the definition
// referred to; Reference is not owned.
template <class T>
class TRefDef : public TCustomDef {
public:
    T* Reference() const { return FReference; }
    void SetReference(T* AValue) { FReference = AValue; }

private:
    T* FReference = nullptr;
};

class TMaterialRefDef : public TRefDef<TMaterialDef> {
    KORVANE_CLASS(TMaterialRefDef, TCustomDef)

    TMaterialRefDef() = default;

    // "Type", "Id", then "Reference" (the material's Id) when there is a reference.
    std::unique_ptr<TJSONObject> ToJSON() const override;
    // Without a reference, looks the material up in the model by the Id; always true.
    bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject& AValue) override;

protected:
    int64_t InstanceSize() const override { return sizeof(TMaterialRefDef); }
};

} // namespace korvane
