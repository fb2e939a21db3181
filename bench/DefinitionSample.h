#pragma once
// A model-like definition tree for the benchmarks that read and write model
// data: transform nodes with properties, matrices and vertex data as text,
// index lists as numbers, nested children.

#include <memory>
#include <string>

#include "Platform.JSON.h"
#include "Platform.SysUtils.h"

namespace korvane::bench {

inline std::unique_ptr<TJSONObject> MakeDefinitionNode(int& counter, int depth)
{
    auto node = std::make_unique<TJSONObject>();
    const int id = counter++;
    node->AddPair("Type", "Korvane.DefTypes.TMeshDef");
    node->AddPair("Id", Format("Mesh_%d", id));
    node->AddPair("Owner", Format("Mesh_%d", id / 4));
    auto props = std::make_unique<TJSONArray>();
    for (int p = 0; p < 3; ++p) {
        auto prop = std::make_unique<TJSONObject>();
        prop->AddPair("Name", Format("Prop%d", p));
        prop->AddPair("Value", std::make_unique<TJSONNumber>(0.35f * static_cast<float>(p + id)));
        props->Add(std::move(prop));
    }
    node->AddPair("Properties", std::move(props));
    node->AddPair("Transform", "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 "
                               "0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 2.5000000 -1.2500000 "
                               "0.0000000 1.0000000");
    std::string vertices;
    for (int v = 0; v < 60; ++v) vertices += FloatToStrFixed(v * 0.125 - id, 7) + ' ';
    node->AddPair("Vertices", vertices);
    auto indices = std::make_unique<TJSONArray>();
    for (int i = 0; i < 24; ++i) indices->Add(std::make_unique<TJSONNumber>(i * 3 + id));
    node->AddPair("Indices", std::move(indices));
    node->AddPair("Visible", TJSONBool::Create(id % 2 == 0));
    node->AddPair("Scale", std::make_unique<TJSONNumber>(1.0 + id * 1e-3));
    if (depth < 3) {
        auto children = std::make_unique<TJSONArray>();
        for (int c = 0; c < 4; ++c) children->Add(MakeDefinitionNode(counter, depth + 1));
        node->AddPair("Children", std::move(children));
    }
    return node;
}

// A model definition whose children each count by Measure, until they come to AMinimum.
template <typename Measure>
std::unique_ptr<TJSONObject> MakeDefinition(size_t AMinimum, Measure&& AMeasure)
{
    auto root = std::make_unique<TJSONObject>();
    root->AddPair("Type", "Korvane.DefTypes.TModelDef");
    root->AddPair("Id", "Model_1");
    auto children = std::make_unique<TJSONArray>();
    int counter = 0;
    size_t size = 0;
    while (size < AMinimum) size += AMeasure(*children->Add(MakeDefinitionNode(counter, 0)));
    root->AddPair("Children", std::move(children));
    return root;
}

} // namespace korvane::bench
