#pragma once
// TKorvanePlane: a mesh node that builds a unit plane in the XY plane
// (corners (-0.5, -0.5, 0) to (0.5, 0.5, 0)) as a grid of quads, two-sided:
// the front triangles face -Z, the back ones +Z with the opposite winding.
// Texture coordinate (0, 0) lies at (-0.5, -0.5, 0). Like the cube it draws
// from its own static definition; its size acts through the mesh matrix.

#include "Korvane.Mesh.h"

namespace korvane {

class TKorvanePlane : public TKorvaneMesh {
    KORVANE_CLASS(TKorvanePlane, TKorvaneMesh)

    // Subdivisions (1, 1), hit tests on; builds the geometry.
    explicit TKorvanePlane(TComponent* AOwner);

    int SubdivisionsWidth() const { return FSubdivisionsWidth; }
    int SubdivisionsHeight() const { return FSubdivisionsHeight; }
    // A new value is stored (0 or less as 1) and the geometry rebuilt.
    void SetSubdivisionsWidth(int Value);
    void SetSubdivisionsHeight(int Value);

protected:
    void Resize3D() override;

private:
    void BuildPlane();

    int FSubdivisionsWidth = 1;
    int FSubdivisionsHeight = 1;
};

} // namespace korvane
