#pragma once
// TKorvaneCube: a mesh node that builds a unit cube (extent 1 on every axis,
// centred on the origin) whose faces are grids of quads. The geometry lives in
// a standalone mesh definition the cube owns and draws from that definition's
// GPU buffer; the node's size acts through the mesh matrix.

#include "Korvane.Mesh.h"

namespace korvane {

class TKorvaneCube : public TKorvaneMesh {
    KORVANE_CLASS(TKorvaneCube, TKorvaneMesh)

    // Subdivisions (1, 1, 1), hit tests on; builds the geometry.
    explicit TKorvaneCube(TComponent* AOwner);

    int SubdivisionsWidth() const { return FSubdivisionsWidth; }
    int SubdivisionsHeight() const { return FSubdivisionsHeight; }
    int SubdivisionsDepth() const { return FSubdivisionsDepth; }
    // A new value is stored (0 or less as 1) and the geometry rebuilt.
    void SetSubdivisionsWidth(int Value);
    void SetSubdivisionsHeight(int Value);
    void SetSubdivisionsDepth(int Value);

    // Builds the faces in the mesh data; with AIsStatic the geometry then
    // moves into the definition, which draws it from the GPU.
    virtual void RebuildMesh(bool AIsStatic);

protected:
    void Resize3D() override;

private:
    void SetSubdivisions(int& AField, int Value);

    int FSubdivisionsWidth = 1;
    int FSubdivisionsHeight = 1;
    int FSubdivisionsDepth = 1;
};

// Moves the mesh data's geometry into the node's (standalone) definition and
// makes it static; the mesh data is left empty. Shared by the primitives.
void MoveGeometryToDefinition(TKorvaneMesh* AMesh);

} // namespace korvane
