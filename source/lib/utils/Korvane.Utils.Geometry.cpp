#include "Korvane.Utils.Geometry.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

#include "Korvane.Utils.Math.h"
#include "Korvane.Utils.Vectors.h"

namespace korvane {

namespace {

// The platform's Single comparisons: the first operand wins only on a strict
// comparison, so ties and NaN give the second.
template <typename T>
T SMin(T a, T b) { return b > a ? a : b; }
template <typename T>
T SMax(T a, T b) { return a > b ? a : b; }

double Dot(const TPoint3D& A, const TPoint3D& B)
{
    return double(A.X) * B.X + double(A.Y) * B.Y + double(A.Z) * B.Z;
}

double LengthSqD(const TPoint3D& A) { return Dot(A, A); }

// Start + Dir * t, rounded once per component.
TPoint3D RayPoint(const TRaycastData& R, double t)
{
    return {float(R.Start.X + R.Dir.X * t), float(R.Start.Y + R.Dir.Y * t), float(R.Start.Z + R.Dir.Z * t)};
}

bool InUnitRange(float W) { return W >= 0 && W <= 1; }

} // namespace

bool NearlyEqual(double X, double Y)
{
    return std::fabs(X - Y) <= 1E-8 * std::max(1.0, std::max(std::fabs(X), std::fabs(Y)));
}

// ---------------------------------------------------------------- TRaycastData

void TRaycastData::_Set(const TPoint3D& StartPoint, const TPoint3D& Direction, float EndPointTime)
{
    Start = StartPoint;
    Dir = Direction;
    T = EndPointTime;
}

TPoint3D TRaycastData::GetImpactPoint() const { return RayPoint(*this, Toi); }

// ---------------------------------------------------------------- TAABB

TAABB TAABB::Create(float X, float Y, float Z)
{
    const TPoint3D half(float(X / 2.0), float(Y / 2.0), float(Z / 2.0));
    return {-half, half};
}

TAABB TAABB::CreateFromOrigin(const TPoint3D& AOrigin, const TPoint3D& ASize, const TPoint3D& AOffset)
{
    return {AOrigin + AOffset, AOrigin + ASize + AOffset};
}

TAABB TAABB::FromMinMax(const TPoint3D& AMin, const TPoint3D& AMax) { return {AMin, AMax}; }

TAABB TAABB::FromBoundingBox(const TBoundingBox& ABox)
{
    return {{ABox.Left, ABox.Top, ABox.Near}, {ABox.Right, ABox.Bottom, ABox.Far}};
}

TAABB TAABB::Combine(const TAABB& B) const
{
    return {{SMin(Min.X, B.Min.X), SMin(Min.Y, B.Min.Y), SMin(Min.Z, B.Min.Z)},
            {SMax(Max.X, B.Max.X), SMax(Max.Y, B.Max.Y), SMax(Max.Z, B.Max.Z)}};
}

TPoint3D TAABB::GetSize() const { return Point3DAbs(Max - Min); }
TPoint3D TAABB::GetExtent() const { return GetSize() / 2; }
TPoint3D TAABB::GetPosition() const { return Min + GetExtent(); }

void TAABB::GetCorners(TCornerArray& APoints) const
{
    for (int i = 0; i < 8; ++i)
        APoints[i] = {(i & 1) ? Max.X : Min.X, (i & 2) ? Max.Y : Min.Y, (i & 4) ? Max.Z : Min.Z};
}

void TAABB::GetPlanes(std::vector<TVector3D>& APlanes) const
{
    TCornerArray c;
    GetCorners(c);
    static constexpr int kPlanes[6][3] = {{3, 1, 0}, {7, 5, 4}, {1, 0, 4}, {3, 2, 6}, {3, 1, 5}, {2, 0, 4}};
    APlanes.resize(6);
    for (int i = 0; i < 6; ++i)
        APlanes[i] = TPlane::Create(c[kPlanes[i][0]], c[kPlanes[i][1]], c[kPlanes[i][2]]).ToVector3D();
}

void TAABB::Transform(const TPoint3D& APos, const TMat3& ARot)
{
    TCornerArray c;
    GetCorners(c);
    TPoint3D lo = ARot * c[0], hi = lo;
    for (const TPoint3D& p : c) {
        const TPoint3D r = ARot * p;
        lo = Point3DMin(lo, r);
        hi = Point3DMax(hi, r);
    }
    Min = lo + APos;
    Max = hi + APos;
}

void TAABB::Transform(const TMatrix3D& AMat)
{
    Min = Min * AMat;
    Max = Max * AMat;
}

TAABB TAABB::Inflate(float AFactor) const
{
    const TPoint3D f(AFactor, AFactor, AFactor);
    return {Min - f, Max + f};
}

namespace {

// Of the box's centre and corners, the point whose distance from APos AFirst
// ranks before all others (the earlier point on a tie).
template <typename Ranks>
void PickPointByDistance(const TAABB& ABox, const TPoint3D& APos, TPoint3D& APt, float& ADistance, Ranks&& AFirst)
{
    APt = ABox.GetPosition();
    ADistance = APos.Distance(APt);
    TCornerArray c;
    ABox.GetCorners(c);
    for (const TPoint3D& p : c) {
        const float d = APos.Distance(p);
        if (AFirst(d, ADistance)) {
            APt = p;
            ADistance = d;
        }
    }
}

} // namespace

void TAABB::GetClosestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const
{
    PickPointByDistance(*this, APos, APt, ADistance, [](float d, float best) { return d < best; });
}

void TAABB::GetFarestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const
{
    PickPointByDistance(*this, APos, APt, ADistance, [](float d, float best) { return d > best; });
}

bool TAABB::Contains(const TPoint3D& Point) const
{
    return Point.X >= Min.X && Point.X <= Max.X && Point.Y >= Min.Y && Point.Y <= Max.Y && Point.Z >= Min.Z &&
           Point.Z <= Max.Z;
}

bool TAABB::Contains(const TAABB& Other) const
{
    return Other.Min.X >= Min.X && Other.Min.Y >= Min.Y && Other.Min.Z >= Min.Z && Other.Max.X <= Max.X &&
           Other.Max.Y <= Max.Y && Other.Max.Z <= Max.Z;
}

float TAABB::SurfaceArea() const
{
    const double dx = double(Max.X) - Min.X, dy = double(Max.Y) - Min.Y, dz = double(Max.Z) - Min.Z;
    return float(2 * (dx * dy + dx * dz + dy * dz));
}

float TAABB::Raycast(const TRaycastData& ARay) const
{
    const double d[3] = {ARay.Dir.X, ARay.Dir.Y, ARay.Dir.Z};
    const double s[3] = {ARay.Start.X, ARay.Start.Y, ARay.Start.Z};
    const double lo[3] = {Min.X, Min.Y, Min.Z}, hi[3] = {Max.X, Max.Y, Max.Z};
    double tmin = -std::numeric_limits<double>::infinity(), tmax = std::numeric_limits<double>::infinity();
    int parallel = 0;
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(d[i]) < 1E-7) {
            // Parallel to this slab: inside it (faces included) the slab does
            // not limit the ray; outside it nothing is hit.
            if (s[i] < lo[i] || s[i] > hi[i]) return -1;
            ++parallel;
            continue;
        }
        const double t1 = (lo[i] - s[i]) / d[i], t2 = (hi[i] - s[i]) / d[i];
        tmin = SMax(tmin, SMin(t1, t2));
        tmax = SMin(tmax, SMax(t1, t2));
    }
    if (parallel == 3) return -1;  // no direction to follow
    if (tmax < 0) return -1;
    if (tmin > tmax) return -1;
    if (tmin < 0) return float(tmax);
    return float(tmin);
}

bool TAABB::Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const
{
    const float t = Raycast(ARay);
    ARes.T = t;
    if (t < 0) {
        ARes.Normal = {};
        ARes.Hit = false;
        ARes.Point = {};
        return false;
    }
    ARes.Normal = ARay.Normal;
    ARes.Hit = true;
    ARes.Point = RayPoint(ARay, t);
    return true;
}

TPoint3D TAABB::GetVertexP(const TPoint3D& ANormal) const
{
    return {ANormal.X >= 0 ? Max.X : Min.X, ANormal.Y >= 0 ? Max.Y : Min.Y, ANormal.Z >= 0 ? Max.Z : Min.Z};
}

TPoint3D TAABB::GetVertexN(const TPoint3D& ANormal) const
{
    return {ANormal.X >= 0 ? Min.X : Max.X, ANormal.Y >= 0 ? Min.Y : Max.Y, ANormal.Z >= 0 ? Min.Z : Max.Z};
}

bool AABBOverlap(const TAABB& A, const TAABB& B)
{
    return !(B.Min.X > A.Max.X || A.Min.X > B.Max.X || B.Min.Y > A.Max.Y || A.Min.Y > B.Max.Y ||
             B.Min.Z > A.Max.Z || A.Min.Z > B.Max.Z);
}

// ---------------------------------------------------------------- TOBB

TOBB TOBB::Create(float AWidth, float AHeight, float ADepth)
{
    return Create(TPoint3D(AWidth, AHeight, ADepth) / 2, TPoint3D(0, 0, 0));
}

TOBB TOBB::Create(const TPoint3D& ASize, const TPoint3D& APosition)
{
    return Create(ASize, APosition, TMat3::Create(1, 0, 0, 0, 1, 0, 0, 0, 1));
}

TOBB TOBB::Create(const TPoint3D& ASize, const TPoint3D& APosition, const TMat3& AOrientation)
{
    TOBB R;
    R.Position = APosition;
    R.Size = ASize;
    R.Orientation = AOrientation;
    return R;
}

const TPoint3D& TOBB::GetAxis(int AIndex) const { return Orientation.GetVector(AIndex); }

bool TOBB::Contains(const TPoint3D& APoint) const
{
    const TPoint3D D = APoint - Position;
    for (int i = 0; i < 3; ++i) {
        const float d = float(Dot(D, GetAxis(i)));
        if (d > Size[i] || d < -Size[i]) return false;
    }
    return true;
}

void TOBB::GetCorners(std::vector<TPoint3D>& AVertices) const
{
    const TPoint3D C = Position;
    const TPoint3D X = GetAxis(0) * Size.X, Y = GetAxis(1) * Size.Y, Z = GetAxis(2) * Size.Z;
    AVertices = {C + X + Y + Z, C - X + Y + Z, C + X - Y + Z, C + X + Y - Z,
                 C - X - Y - Z, C + X - Y - Z, C - X + Y - Z, C - X - Y + Z};
}

std::vector<TEdge> TOBB::GetEdges() const
{
    std::vector<TPoint3D> c;
    GetCorners(c);
    static constexpr int kEdges[12][2] = {{4, 5}, {5, 3}, {3, 6}, {6, 4}, {7, 2}, {2, 0},
                                          {0, 1}, {1, 7}, {2, 5}, {7, 4}, {0, 3}, {1, 6}};
    std::vector<TEdge> R(12);
    for (int i = 0; i < 12; ++i) R[i] = {c[kEdges[i][0]], c[kEdges[i][1]]};
    return R;
}

TAABB TOBB::GetAABB() const
{
    TAABB R{{3.4028235E38f, 3.4028235E38f, 3.4028235E38f}, {-3.4028235E38f, -3.4028235E38f, -3.4028235E38f}};
    std::vector<TPoint3D> c;
    GetCorners(c);
    for (const TPoint3D& p : c) {
        R.Min = Point3DMin(R.Min, p);
        R.Max = Point3DMax(R.Max, p);
    }
    return R;
}

std::unique_ptr<TMeshData> TOBB::ToMeshData() const
{
    std::vector<TPoint3D> c;
    GetCorners(c);
    auto R = std::make_unique<TMeshData>(TVertexFormats{TVertexFormat::Vertex}, 8, 8, TIndexFormat::UInt16);
    for (int i = 0; i < 8; ++i) {
        R->VertexBuffer().SetVertices(i, c[size_t(i)]);
        R->IndexBuffer().SetIndices(i, uint32_t(i));
    }
    return R;
}

TPoint3D TOBB::ClosestPoint(const TPoint3D& APoint) const
{
    TPoint3D R = Position;
    const TPoint3D D = APoint - Position;
    for (int i = 0; i < 3; ++i) {
        const float d = SMin(SMax(float(Dot(D, GetAxis(i))), -Size[i]), Size[i]);
        R = R + GetAxis(i) * d;
    }
    return R;
}

float TOBB::Raycast(const TRaycastData& ARay, PRaycastResult AResult) const
{
    if (AResult) *AResult = {};
    const TPoint3D P = Position - ARay.Start;
    double f[3], e[3], t[6];
    for (int i = 0; i < 3; ++i) {
        f[i] = Dot(GetAxis(i), ARay.Dir);
        e[i] = Dot(GetAxis(i), P);
        if (NearlyEqual(f[i], 0)) {
            // Parallel to this slab: outside it there is no hit at all.
            if (-e[i] - Size[i] > 0 || -e[i] + Size[i] < 0) return -1;
            f[i] = 1E-5;
        }
        t[2 * i] = (e[i] + Size[i]) / f[i];
        t[2 * i + 1] = (e[i] - Size[i]) / f[i];
    }
    const double tmin = SMax(SMax(SMin(t[0], t[1]), SMin(t[2], t[3])), SMin(t[4], t[5]));
    const double tmax = SMin(SMin(SMax(t[0], t[1]), SMax(t[2], t[3])), SMax(t[4], t[5]));
    if (tmax < 0) return -1;
    if (tmin > tmax) return -1;
    const double hit = tmin < 0 ? tmax : tmin;
    if (AResult) {
        AResult->T = float(hit);
        AResult->Hit = true;
        AResult->Point = RayPoint(ARay, hit);
        // The face hit is the slab plane whose parameter was chosen: t(2i) lies
        // on the face along +axis i, t(2i + 1) on the one along -axis i.
        int face = 0;
        while (face < 5 && t[face] != hit) ++face;
        const TPoint3D n = GetAxis(face / 2).Normalize();
        AResult->Normal = (face % 2 == 0) ? n : -n;
    }
    return float(hit);
}

// ---------------------------------------------------------------- TPlane

TPlane TPlane::CreateEmpty(int /*ADummy*/) { return {}; }

TPlane TPlane::Create(const TPoint3D& ANormal, float ADistance) { return {ANormal, ADistance}; }

TPlane TPlane::Create(const TPoint3D& ANormal, const TPoint3D& APoint)
{
    // The distance goes with the unit normal, so that the plane passes through APoint.
    const TPoint3D n = ANormal.Normalize();
    return {n, float(-Dot(APoint, n))};
}

TPlane TPlane::Create(const TPoint3D& P1, const TPoint3D& P2, const TPoint3D& P3)
{
    const TPoint3D n = Point3DCross(P2 - P1, P3 - P1).Normalize();
    return {n, float(-Dot(P1, n))};
}

TPlane TPlane::Create(const TVector3D& AVector)
{
    // The vector is (Normal, Distance), the form ToVector3D writes: its W is
    // the distance, not a homogeneous weight to divide the normal by.
    return {{AVector.X, AVector.Y, AVector.Z}, AVector.W};
}

TVector3D TPlane::ToVector3D() const { return {Normal.X, Normal.Y, Normal.Z, Distance}; }

float TPlane::SignedDistance(const TPoint3D& APoint) const { return float(Dot(Normal, APoint) + Distance); }

TPoint3D TPlane::ClosestPoint(const TPoint3D& P) const
{
    return P - Normal * float(Dot(Normal, P) - Distance);
}

bool TPlane::Contains(const TPoint3D& P) const { return std::fabs(Dot(P, Normal) - Distance) < 1E-8; }

bool TPlane::IntersectsWith(const TOBB& AOBB) const
{
    const double r = AOBB.Size.X * std::fabs(Dot(Normal, AOBB.Orientation.ex)) +
                     AOBB.Size.Y * std::fabs(Dot(Normal, AOBB.Orientation.ey)) +
                     AOBB.Size.Z * std::fabs(Dot(Normal, AOBB.Orientation.ez));
    return std::fabs(Dot(Normal, AOBB.Position) - Distance) <= r;
}

bool TPlane::IntersectsWith(const TAABB& AAABB) const
{
    const TPoint3D e = AAABB.GetExtent();
    const double r = e.X * std::fabs(double(Normal.X)) + e.Y * std::fabs(double(Normal.Y)) +
                     e.Z * std::fabs(double(Normal.Z));
    return std::fabs(Dot(Normal, AAABB.GetPosition()) - Distance) <= r;
}

bool TPlane::IntersectsWith(const TPlane& APlane) const
{
    if (LengthSqD(Point3DCross(Normal, APlane.Normal)) > 1E-8) return true;
    // Parallel: they meet only where they are the same plane.
    const double sameSide = Dot(Normal, APlane.Normal) >= 0 ? 1 : -1;
    return std::fabs(double(Distance) - sameSide * APlane.Distance) <= 1E-8;
}

float TPlane::Raycast(const TRaycastData& ray) const
{
    const double nd = Dot(ray.Dir, Normal);
    const double pn = Dot(ray.Start, Normal);
    if (nd >= 0) return -1;
    const double t = (Distance - pn) / nd;
    return t >= 0 ? float(t) : -1;
}

bool TPlane::Raycast(const TRaycastData& ray, PRaycastResult AResult) const
{
    if (AResult) *AResult = {};
    const float t = Raycast(ray);
    if (t < 0) return false;
    if (AResult) {
        AResult->T = t;
        AResult->Hit = true;
        AResult->Point = RayPoint(ray, t);
        AResult->Normal = Normal.Normalize();
    }
    return true;
}

// ---------------------------------------------------------------- TLine

TLine TLine::Create(int /*ADummy*/) { return {}; }
TLine TLine::Create(const TPoint3D& A, const TPoint3D& B) { return {A, B}; }
TLine TLine::Create(const TEdge& AEdge) { return {AEdge.Start, AEdge.Stop}; }

TPoint3D TLine::ClosestPoint(const TPoint3D& p) const
{
    const TPoint3D D = Stop - Start;
    // A degenerate segment gives 0 / 0, which the clamps below turn into 0 (Start).
    double t = Dot(p - Start, D) / Dot(D, D);
    t = SMin(SMax(t, 0.0), 1.0);
    return Start + D * float(t);
}

bool TLine::Contains(const TPoint3D& p) const { return LengthSqD(ClosestPoint(p) - p) < 1E-8; }
float TLine::Length() const { return (Start - Stop).Length(); }
float TLine::LengthSq() const { return (Start - Stop).LengthSq(); }
TPoint3D TLine::GetDirection(bool AInverse) const { return AInverse ? (Start - Stop).Normalize() : (Stop - Start).Normalize(); }

bool TLine::SphereLinetest(const TPoint3D& APos, float ARadius) const
{
    return LengthSqD(APos - ClosestPoint(APos)) <= double(ARadius) * ARadius;
}

namespace {
TRaycastData RayAlong(const TLine& L)
{
    TRaycastData R;
    R.Start = L.Start;
    R.Dir = (L.Stop - L.Start).Normalize();
    return R;
}
} // namespace

bool TLine::AABBLinetest(const TAABB& AABB) const
{
    // From inside the box the ray test gives the exit: a segment that starts
    // inside intersects the box however short it is.
    if (AABB.Contains(Start)) return true;
    const float t = AABB.Raycast(RayAlong(*this));
    return t >= 0 && double(LengthSq()) >= double(t) * t;
}

bool TLine::OBBLinetest(const TOBB& OBB) const { return OBBLinetest(OBB, nullptr); }

bool TLine::OBBLinetest(const TOBB& OBB, PRaycastResult AResult) const
{
    const float t = OBB.Raycast(RayAlong(*this), AResult);
    if (t >= 0 && OBB.Contains(Start)) return true;
    return t >= 0 && double(LengthSq()) >= double(t) * t;
}

bool TLine::TriangleLinetest(const TTriangle* triangle) const
{
    if (!triangle) return false;
    const float t = triangle->Raycast(RayAlong(*this));
    return t >= 0 && double(LengthSq()) >= double(t) * t;
}

// ---------------------------------------------------------------- TTriangle

TTriangle TTriangle::Create(int /*ADummy*/) { return {}; }

TTriangle TTriangle::Create(const TPoint3D& APoint1, const TPoint3D& APoint2, const TPoint3D& APoint3)
{
    return {APoint1, APoint2, APoint3};
}

TPoint3D& TTriangle::Points(int AIndex) { return AIndex == 0 ? A : AIndex == 1 ? B : C; }
const TPoint3D& TTriangle::Points(int AIndex) const { return AIndex == 0 ? A : AIndex == 1 ? B : C; }
float TTriangle::Values(int AIndex) const { return Points(AIndex / 3)[AIndex % 3]; }

bool TTriangle::Contains(const TPoint3D& p) const
{
    const TPoint3D a = A - p, b = B - p, c = C - p;
    const TPoint3D u = Point3DCross(b, c), v = Point3DCross(c, a), w = Point3DCross(a, b);
    if (Dot(u, v) < 0) return false;
    if (Dot(u, w) < 0) return false;
    return true;
}

TPlane TTriangle::ToPlane() const
{
    const TPoint3D n = Point3DCross(B - A, C - A).Normalize();
    return {n, float(Dot(n, A))};
}

TAABB TTriangle::ToAABB() const
{
    return {Point3DMin(Point3DMin(A, B), C), Point3DMax(Point3DMax(A, B), C)};
}

TLine TTriangle::GetLine(int AIndex, bool AInverse) const
{
    TLine L;
    switch (AIndex) {
    case 0: L = {A, B}; break;
    case 1: L = {B, C}; break;
    case 2: L = {C, A}; break;
    default: return TLine::Create(0);
    }
    if (AInverse) std::swap(L.Start, L.Stop);
    return L;
}

TPoint3D TTriangle::ClosestPoint(const TPoint3D& p) const
{
    const TPoint3D q = ToPlane().ClosestPoint(p);
    if (Contains(q)) return q;
    const TPoint3D c1 = TLine::Create(A, B).ClosestPoint(p);
    const TPoint3D c2 = TLine::Create(B, C).ClosestPoint(p);
    const TPoint3D c3 = TLine::Create(C, A).ClosestPoint(p);
    const double d1 = LengthSqD(p - c1), d2 = LengthSqD(p - c2), d3 = LengthSqD(p - c3);
    // The nearest of the three; a vertex is the nearest point of both its
    // edges, so ties must go to one of the tied candidates.
    if (d1 <= d2 && d1 <= d3) return c1;
    if (d2 <= d3) return c2;
    return c3;
}

TPoint3D TTriangle::ClosestPoint2(const TPoint3D& pSource) const
{
    const TPoint3D e0 = B - A, e1 = C - A, v = A - pSource;
    const double a = Dot(e0, e0), b = Dot(e0, e1), c = Dot(e1, e1), d = Dot(e0, v), e = Dot(e1, v);
    const double det = a * c - b * b;
    double s = b * e - c * d, t = b * d - a * e;
    auto clamp = [](double x) { return double(ClampSingle(float(x), 0, 1)); };
    if (s + t < det) {
        if (s < 0 && t < 0 && d < 0) {
            s = clamp(-d / a);
            t = 0;
        } else if (s < 0) {
            s = 0;
            t = clamp(-e / c);
        } else if (t < 0) {
            s = clamp(-d / a);
            t = 0;
        } else {
            const double inv = 1 / det;
            s *= inv;
            t *= inv;
        }
    } else {
        const double q = a - 2 * b + c;
        if (s < 0) {
            if (c + e > b + d) {
                s = clamp((c + e - b - d) / q);
                t = 1 - s;
            } else {
                s = 0;
                t = clamp(-e / c);
            }
        } else if (t >= 0 || a + d > b + e) {
            s = clamp((c + e - b - d) / q);
            t = 1 - s;
        } else {
            // Beyond edge AB (t < 0) and past the far edge: the nearest point
            // lies on AB, at the parameter of the projection onto it.
            s = clamp(-d / a);
            t = 0;
        }
    }
    return A + e0 * float(s) + e1 * float(t);
}

TPoint3D TTriangle::Center() const
{
    return {float((double(A.X) + B.X + C.X) / 3), float((double(A.Y) + B.Y + C.Y) / 3),
            float((double(A.Z) + B.Z + C.Z) / 3)};
}

void TTriangle::Transform(const TPoint3D& APos, const TMat3& ARot)
{
    Transform(ARot.ToMatrix3D() * TMatrix3D::CreateTranslation(APos));
}

void TTriangle::Transform(const TMatrix3D& AMat)
{
    A = A * AMat;
    B = B * AMat;
    C = C * AMat;
}

TInterval TriangleInterval(const TTriangle& T, const TPoint3D& L)
{
    const float a = float(Dot(T.A, L)), b = float(Dot(T.B, L)), c = float(Dot(T.C, L));
    return {std::min({a, b, c}), std::max({a, b, c})};
}

namespace {

// The projection on L of a box's corners (eight of them, never none).
template <typename Corners>
TInterval CornersInterval(const Corners& c, const TPoint3D& L)
{
    TInterval R;
    R.Min = R.Max = float(Dot(L, c[0]));
    for (const TPoint3D& p : c) {
        const float d = float(Dot(L, p));
        R.Min = std::min(R.Min, d);
        R.Max = std::max(R.Max, d);
    }
    return R;
}

} // namespace

TInterval AABBInterval(const TAABB& Box, const TPoint3D& L)
{
    TCornerArray c;
    Box.GetCorners(c);
    return CornersInterval(c, L);
}

TInterval OBBInterval(const TOBB& Box, const TPoint3D& L)
{
    std::vector<TPoint3D> c;
    Box.GetCorners(c);
    return CornersInterval(c, L);
}

bool OverlapOnAxis(const TInterval& I1, const TInterval& I2) { return I1.Max >= I2.Min && I2.Max >= I1.Min; }

// Separating-axis test of triangle T against a box with face normals U, whose
// projection on an axis ABoxInterval gives: the box's faces, the triangle's
// normal and the crosses of box faces with triangle edges are the axes to try.
// The callers take the box's corners once for all thirteen axes: the tree
// build runs this for every triangle in every node.
template <typename BoxInterval>
bool TriangleOverlapsBox(const TTriangle& T, const TPoint3D (&U)[3], BoxInterval&& ABoxInterval)
{
    const TPoint3D f[3] = {T.B - T.A, T.C - T.B, T.A - T.C};
    auto separated = [&](const TPoint3D& axis) {
        return !OverlapOnAxis(ABoxInterval(axis), TriangleInterval(T, axis));
    };
    for (const TPoint3D& axis : U)
        if (separated(axis)) return false;
    if (separated(Point3DCross(f[0], f[1]))) return false;
    for (const TPoint3D& ui : U)
        for (const TPoint3D& fj : f)
            if (separated(Point3DCross(ui, fj))) return false;
    return true;
}

bool TTriangle::IntersectsWith(const TAABB& AABB) const
{
    const TPoint3D u[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    TCornerArray c;
    AABB.GetCorners(c);
    return TriangleOverlapsBox(*this, u, [&](const TPoint3D& axis) { return CornersInterval(c, axis); });
}

bool TTriangle::IntersectsWith(const TOBB& OBB) const
{
    const TPoint3D u[3] = {OBB.Orientation.ex, OBB.Orientation.ey, OBB.Orientation.ez};
    std::vector<TPoint3D> c;
    OBB.GetCorners(c);
    return TriangleOverlapsBox(*this, u, [&](const TPoint3D& axis) { return CornersInterval(c, axis); });
}

namespace {

// Two triangles in one plane: every edge-cross axis is the plane normal, on
// which both project to the same value, so the edge normals inside the plane
// (N x edge) have to be tried as well.
bool CoplanarSeparated(const TTriangle& T1, const TTriangle& T2, const TPoint3D& N1)
{
    const TPoint3D u1 = N1.Normalize(), u2 = Point3DCross(T2.B - T2.A, T2.C - T2.B).Normalize();
    if (LengthSqD(u1) == 0 || LengthSqD(u2) == 0 || !NearlyEqual(LengthSqD(Point3DCross(u1, u2)), 0)) return false;
    const TPoint3D edges[6] = {T1.B - T1.A, T1.C - T1.B, T1.A - T1.C, T2.B - T2.A, T2.C - T2.B, T2.A - T2.C};
    for (const TPoint3D& e : edges) {
        const TPoint3D axis = Point3DCross(N1, e);
        if (!OverlapOnAxis(TriangleInterval(T1, axis), TriangleInterval(T2, axis))) return true;
    }
    return false;
}

} // namespace

bool TTriangle::IntersectsWith(const TTriangle& ATriangle) const
{
    const TPoint3D t1f[3] = {B - A, C - B, A - C};
    const TPoint3D t2f[3] = {ATriangle.B - ATriangle.A, ATriangle.C - ATriangle.B, ATriangle.A - ATriangle.C};
    auto separated = [&](const TPoint3D& axis) {
        return !OverlapOnAxis(TriangleInterval(*this, axis), TriangleInterval(ATriangle, axis));
    };
    const TPoint3D n1 = Point3DCross(t1f[0], t1f[1]);
    if (separated(n1)) return false;
    if (separated(Point3DCross(t2f[0], t2f[1]))) return false;
    for (const TPoint3D& e2 : t2f)
        for (const TPoint3D& e1 : t1f)
            if (separated(Point3DCross(e2, e1))) return false;
    return !CoplanarSeparated(*this, ATriangle, n1);
}

TPoint3D TTriangle::SatCrossEdge(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C, const TPoint3D& D)
{
    const TPoint3D ab = A - B, cd = C - D;
    TPoint3D r = Point3DCross(ab, cd);
    if (!NearlyEqual(LengthSqD(r), 0)) return r;
    // Parallel edges: an axis perpendicular to ab in the plane of both edges.
    const TPoint3D n = Point3DCross(ab, C - A);
    r = Point3DCross(ab, n);
    if (NearlyEqual(LengthSqD(r), 0)) return {0, 0, 0};
    return r;
}

bool TTriangle::IntersectsWithRobust(const TTriangle& ATriangle) const
{
    std::vector<TPoint3D> axes;
    axes.reserve(11);
    axes.push_back(SatCrossEdge(A, B, B, C));
    axes.push_back(SatCrossEdge(ATriangle.A, ATriangle.B, ATriangle.B, ATriangle.C));
    const TPoint3D other[3][2] = {{ATriangle.A, ATriangle.B}, {ATriangle.B, ATriangle.C}, {ATriangle.C, ATriangle.A}};
    const TPoint3D mine[3][2] = {{A, B}, {B, C}, {C, A}};
    for (const auto& pq : other)
        for (const auto& rs : mine) axes.push_back(SatCrossEdge(pq[0], pq[1], rs[0], rs[1]));
    for (const TPoint3D& axis : axes) {
        if (NearlyEqual(LengthSqD(axis), 0)) continue;
        if (!OverlapOnAxis(TriangleInterval(*this, axis), TriangleInterval(ATriangle, axis))) return false;
    }
    return !CoplanarSeparated(*this, ATriangle, Point3DCross(B - A, C - B));
}

TPoint3D TTriangle::Barycentric(const TPoint3D& p) const
{
    auto projectOnto = [](const TPoint3D& V, const TPoint3D& D) {
        return D * float(Dot(V, D) / Dot(D, D));
    };
    const TPoint3D ap = p - A, bp = p - B, cp = p - C;
    const TPoint3D ab = B - A, ac = C - A, bc = C - B, cb = B - C, ca = A - C;
    TPoint3D v = ab - projectOnto(ab, cb);
    const float x = float(1 - Dot(v, ap) / Dot(v, ab));
    v = bc - projectOnto(bc, ac);
    const float y = float(1 - Dot(v, bp) / Dot(v, bc));
    v = ca - projectOnto(ca, ab);
    const float z = float(1 - Dot(v, cp) / Dot(v, ca));
    return {x, y, z};
}

float TTriangle::Raycast(const TRaycastData& ARay) const
{
    const float t = ToPlane().Raycast(ARay);
    if (t < 0) return t;
    const TPoint3D W = Barycentric(RayPoint(ARay, t));
    if (InUnitRange(W.X) && InUnitRange(W.Y) && InUnitRange(W.Z)) return t;
    return -1;
}

bool TTriangle::Raycast(const TRaycastData& ARay, PRaycastResult AResult) const
{
    if (AResult) *AResult = {};
    const TPlane plane = ToPlane();
    TRaycastResult planeHit;
    if (!plane.Raycast(ARay, &planeHit)) return false;
    const float t = planeHit.T;
    const TPoint3D P = RayPoint(ARay, t);
    const TPoint3D W = Barycentric(P);
    if (!InUnitRange(W.X) || !InUnitRange(W.Y) || !InUnitRange(W.Z)) return false;
    if (AResult) {
        AResult->T = t;
        AResult->Hit = true;
        AResult->Point = P;
        AResult->Normal = plane.Normal;
    }
    return true;
}

namespace {

// Casts from the line's start towards its stop and, when AHits refuses that
// cast, from its stop back towards its start; the first cast accepted goes to
// AResult. AHits(ray, length of the line, result) casts and judges.
template <typename Hits>
void CastEdgeBothWays(const TLine& L, std::vector<TRaycastResult>& AResult, Hits&& AHits)
{
    const float len = L.Length();
    TRaycastData ray;
    TRaycastResult res;
    for (const bool inverse : {false, true}) {
        ray.Start = inverse ? L.Stop : L.Start;
        ray.Dir = L.GetDirection(inverse);
        if (AHits(ray, len, res)) {
            AResult.push_back(res);
            return;
        }
    }
}

} // namespace

bool TTriangle::Raycast(const TOBB& OBB, std::vector<TRaycastResult>& AResult) const
{
    AResult.clear();
    AResult.reserve(15);
    for (int i = 0; i < 3; ++i)
        CastEdgeBothWays(GetLine(i, false), AResult, [&](const TRaycastData& ray, float len, TRaycastResult& res) {
            const float t = OBB.Raycast(ray, &res);
            return t > 0 && len >= t;
        });
    const TPlane plane = ToPlane();
    for (const TEdge& edge : OBB.GetEdges())
        CastEdgeBothWays(TLine::Create(edge), AResult, [&](const TRaycastData& ray, float len, TRaycastResult& res) {
            return plane.Raycast(ray, &res) && len > res.T;
        });
    return !AResult.empty();
}

bool TTriangle::Raycast(const TTriangle& ATriangle, std::vector<TRaycastResult>& AResult) const
{
    AResult.clear();
    AResult.reserve(15);
    for (int i = 0; i < 3; ++i)
        CastEdgeBothWays(ATriangle.GetLine(i, false), AResult,
                         [&](const TRaycastData& ray, float len, TRaycastResult& res) {
                             return Raycast(ray, &res) && len >= res.T;
                         });
    return !AResult.empty();
}

TBoundingBox TransformedBoundingBox(const TAABB& Box, const TMatrix3D& M)
{
    TCornerArray c;
    Box.GetCorners(c);
    for (TPoint3D& p : c) p = p * M;
    return TBoundingBox::Create(std::span<const TPoint3D>(c.data(), c.size())).Normalize();
}

// ---------------------------------------------------------------- triangle tree

TBVHNode TBVHNode::Create(PBVHGeometry AGeometry)
{
    TBVHNode N;
    N.Geometry = AGeometry;
    return N;
}

bool TBVHNode::IntersectsWith(const TAABB& A) const { return AABBOverlap(Bounds, A); }

bool TBVHNode::IntersectsWith(const TAABB& A, PBVHNode& ANode)
{
    if (!AABBOverlap(Bounds, A)) {
        ANode = nullptr;
        return false;
    }
    ANode = this;
    for (TBVHNode& child : Children) {
        PBVHNode found = nullptr;
        if (child.IntersectsWith(A, found)) {
            ANode = found;
            break;
        }
    }
    return true;
}

namespace {

// Of ACount candidates, each cast by ACast(k, result), the hit nearest to the
// ray's start goes to ARes; answers whether any was hit.
template <typename Cast>
bool NearestHit(const TRaycastData& ARay, size_t ACount, TRaycastResult& ARes, Cast&& ACast)
{
    double best = std::numeric_limits<double>::infinity();
    bool hit = false;
    TRaycastResult scratch;  // every cast overwrites it
    for (size_t k = 0; k < ACount; ++k) {
        if (!ACast(k, scratch)) continue;
        const double d = scratch.Point.Distance(ARay.Start);
        if (best > d) {
            ARes = scratch;
            best = d;
            hit = true;
        }
    }
    return hit;
}

// Relative size of the tolerances of the single-precision triangle test,
// about 128 float rounding steps: generous, as keeping a triangle too many
// only costs one exact test.
constexpr float kCastTolerance = 1.0f / 65536;

// What the single-precision test needs of the ray, once per leaf.
struct TCastRay {
    TPoint3D O, D;
    float OSum, DSum;  // 1-norms of start and direction

    explicit TCastRay(const TRaycastData& R)
        : O(R.Start), D(R.Dir), OSum(std::fabs(O.X) + std::fabs(O.Y) + std::fabs(O.Z)),
          DSum(std::fabs(D.X) + std::fabs(D.Y) + std::fabs(D.Z))
    {
    }
};

float DotF(const TPoint3D& A, const TPoint3D& B) { return A.X * B.X + A.Y * B.Y + A.Z * B.Z; }

// False only when the exact test surely misses T: the ray runs behind its
// plane, meets the plane behind its start, or meets it outside the triangle
// by more than every rounding of the exact test and of this one could
// account for. NaN anywhere keeps the triangle.
bool MayHit(const TBVHCastTriangle& T, const TCastRay& R)
{
    const float nd = DotF(R.D, T.N);
    const float ndTol = kCastTolerance * R.DSum;
    if (nd > ndTol) return false;     // from behind: the exact test wants nd < 0
    if (!(nd < -ndTol)) return true;  // (nearly) parallel: no reliable parameter
    // Plain float arithmetic throughout: the point operators round through double.
    const TPoint3D q(R.O.X - T.A.X, R.O.Y - T.A.Y, R.O.Z - T.A.Z);
    const float t = -DotF(q, T.N) / nd;
    const float size = kCastTolerance * (R.OSum + T.ASum + std::fabs(t) * R.DSum);
    const float inv = 1 / -nd;
    if (t < -size * inv) return false;
    // The hit point relative to A, off by at most E per component, also
    // through the error of t.
    const TPoint3D p(q.X + R.D.X * t, q.Y + R.D.Y * t, q.Z + R.D.Z * t);
    const float E = size * (1 + R.DSum * inv);
    const float tol = 2 * E * T.G1 + T.Abs;
    const float b = DotF(p, T.U), c = DotF(p, T.V);
    return !(b < -tol) && !(c < -tol) && !(1 - b - c < -tol);
}

} // namespace

bool TBVHNode::Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const
{
    if (!Bounds.Raycast(ARay, ARes)) return false;
    ARes.Hit = false;
    if (Children.empty()) {
        const size_t count = size_t(std::max<int32_t>(NumTriangles, 0));
        const std::vector<TBVHCastTriangle>& cast = Geometry->CastTriangles();
        if (cast.size() != Geometry->Triangles.size())
            return NearestHit(ARay, count, ARes, [&](size_t k, TRaycastResult& r) {
                return Geometry->Triangles[size_t(Triangles[k])].Raycast(ARay, &r);
            });
        const TCastRay ray(ARay);
        return NearestHit(ARay, count, ARes, [&](size_t k, TRaycastResult& r) {
            const size_t t = size_t(Triangles[k]);
            const TBVHCastTriangle& c = cast[t];
            if (!c.Exact && !MayHit(c, ray)) return false;
            return Geometry->Triangles[t].Raycast(ARay, &r);
        });
    }
    return NearestHit(ARay, Children.size(), ARes,
                      [&](size_t k, TRaycastResult& r) { return Children[k].Raycast(ARay, r); });
}

TBVHGeometry::TBVHGeometry(TBVHGeometry&& Other) noexcept
    : Accelerator(std::move(Other.Accelerator)), NumTriangles(Other.NumTriangles),
      Triangles(std::move(Other.Triangles)), FCast(std::move(Other.FCast))
{
    Other.NumTriangles = 0;
    Rebind();
}

TBVHGeometry& TBVHGeometry::operator=(TBVHGeometry&& Other) noexcept
{
    if (this != &Other) {
        Accelerator = std::move(Other.Accelerator);
        NumTriangles = Other.NumTriangles;
        Triangles = std::move(Other.Triangles);
        FCast = std::move(Other.FCast);
        Other.NumTriangles = 0;
        Rebind();
    }
    return *this;
}

TBVHGeometry::~TBVHGeometry() = default;

void TBVHGeometry::Rebind()
{
    if (!Accelerator) return;
    std::vector<TBVHNode*> stack{Accelerator.get()};
    while (!stack.empty()) {
        TBVHNode* n = stack.back();
        stack.pop_back();
        n->Geometry = this;
        for (TBVHNode& c : n->Children) stack.push_back(&c);
    }
}

TBVHGeometry TBVHGeometry::Create(int /*ADummy*/) { return TBVHGeometry(); }

TBVHGeometry TBVHGeometry::Create(const TVertexBuffer* AVertexSource, const TIndexBuffer* AIndexSource,
                                  const TMatrix3D& ALocal)
{
    TBVHGeometry G;
    if (!AVertexSource || !AIndexSource || AIndexSource->Length() < 3) return G;
    const int32_t n = AIndexSource->Length() / 3;
    std::vector<TTriangle> tris(static_cast<size_t>(n));
    auto vertex = [&](int32_t i) {
        const uint32_t index = AIndexSource->Indices(i);
        // An index past the vertices raises the vertex buffer's range error.
        const int32_t v = index > uint32_t(std::numeric_limits<int32_t>::max())
                              ? std::numeric_limits<int32_t>::max()
                              : int32_t(index);
        return AVertexSource->Vertices(v) * ALocal;
    };
    for (int32_t i = 0; i < n; ++i)
        tris[size_t(i)] = TTriangle::Create(vertex(3 * i + 2), vertex(3 * i + 1), vertex(3 * i));
    G.NumTriangles = n;
    G.Triangles = std::move(tris);
    return G;
}

std::unique_ptr<TMeshData> TBVHGeometry::ToMeshData() const
{
    const int32_t count = NumTriangles * 3;
    auto R = std::make_unique<TMeshData>(TVertexFormats{TVertexFormat::Vertex}, count, count, TIndexFormat::UInt32);
    for (int32_t k = 0; k < count; ++k) {
        R->VertexBuffer().SetVertices(k, Point(k));
        R->IndexBuffer().SetIndices(k, uint32_t(k));
    }
    return R;
}

bool TBVHGeometry::Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const
{
    if (!Accelerator) {
        ARes = {};
        return false;
    }
    return Accelerator->Raycast(ARay, ARes);
}

bool TBVHGeometry::IntersectsWith(const TAABB& A, PBVHNode& ANode) const
{
    ANode = nullptr;
    if (!Accelerator) {
        for (int32_t i = 0; i < NumTriangles; ++i)
            if (Triangles[size_t(i)].IntersectsWith(A)) return true;
        return false;
    }
    std::deque<TBVHNode*> queue{Accelerator.get()};
    while (!queue.empty()) {
        TBVHNode* node = queue.front();
        queue.pop_front();
        for (int32_t k = 0; k < node->NumTriangles; ++k) {
            if (Triangles[size_t(node->Triangles[size_t(k)])].IntersectsWith(A)) {
                ANode = node;
                return true;
            }
        }
        for (size_t c = node->Children.size(); c-- > 0;)
            if (AABBOverlap(node->Children[c].Bounds, A)) queue.push_back(&node->Children[c]);
    }
    return false;
}

bool TBVHGeometry::IntersectsWith(const TAABB& A) const
{
    PBVHNode node;
    return IntersectsWith(A, node);
}

namespace {

// Coordinates up to this size keep the cross products of the exact box test
// and their products with points finite, so the shortcuts below decide as it
// would; beyond it (and for infinities and NaN) every test is the exact one.
constexpr float kShortcutRange = 1E15f;

bool InShortcutRange(const TPoint3D& P)
{
    return std::fabs(P.X) <= kShortcutRange && std::fabs(P.Y) <= kShortcutRange && std::fabs(P.Z) <= kShortcutRange;
}

// A triangle's box, and whether the shortcuts may be used for it.
struct TBuildTriangle {
    TAABB Box;
    bool Shortcut = false;
};

// Which of a node's eight children TTriangle::IntersectsWith would find a
// triangle touching, decided without the thirteen axes where that gives the
// same answer. On each axis every child's box is one of two intervals, the
// lower or the upper half, so a point or a box is sorted into halves once per
// axis and the three axes' answers are combined into eight bits.
// Boxes apart: the exact test's first three axes are the coordinate axes, on
// which it compares these same coordinates. A corner inside the box: on every
// axis the exact test projects in double from floats, so every product is
// exact and the rounded sums keep the corner's projection within the box's,
// and projections that share a value overlap.
class TChildSorter {
public:
    explicit TChildSorter(const std::vector<TBVHNode>& AChildren) : FChildren(AChildren)
    {
        // Children 4 (-, -, -) and 3 (+, +, +) hold the lower and upper halves.
        FInRange = true;
        for (int a = 0; a < 3; ++a) {
            FLo[a][0] = AChildren[4].Bounds.Min[a];
            FLo[a][1] = AChildren[4].Bounds.Max[a];
            FHi[a][0] = AChildren[3].Bounds.Min[a];
            FHi[a][1] = AChildren[3].Bounds.Max[a];
            for (int m = 0; m < 4; ++m) FMasks[a][m] = 0;
            for (float v : {FLo[a][0], FLo[a][1], FHi[a][0], FHi[a][1]})
                FInRange = FInRange && std::fabs(v) <= kShortcutRange;
        }
        for (size_t k = 0; k < 8; ++k) {
            const TAABB& b = AChildren[k].Bounds;
            for (int a = 0; a < 3; ++a) {
                const bool lower = b.Min[a] == FLo[a][0] && b.Max[a] == FLo[a][1];
                const bool upper = b.Min[a] == FHi[a][0] && b.Max[a] == FHi[a][1];
                // Two halves that came out alike in floats both count.
                for (int m = 0; m < 4; ++m)
                    if (((m & 1) && lower) || ((m & 2) && upper)) FMasks[a][m] = uint8_t(FMasks[a][m] | (1u << k));
            }
        }
        for (size_t k = 0; k < 8; ++k) {
            uint8_t all = 0xFF;
            for (int a = 0; a < 3; ++a) all = uint8_t(all & FMasks[a][3]);
            // A child whose box is neither half on some axis (not made by the
            // split) is left to the exact test.
            if (!(all & (1u << k))) FInRange = false;
        }
    }

    uint8_t Touched(const TTriangle& T, const TBuildTriangle& AInfo) const
    {
        uint8_t boxes = 0xFF, inside = 0, rest = 0xFF;
        if (AInfo.Shortcut && FInRange) {
            for (int a = 0; a < 3; ++a)
                boxes = uint8_t(boxes & FMasks[a][Halves(AInfo.Box.Min[a], AInfo.Box.Max[a], a)]);
            inside = uint8_t(Holding(T.A) | Holding(T.B) | Holding(T.C));
            rest = uint8_t(boxes & ~inside);
        }
        uint8_t bits = inside;
        for (size_t k = 0; rest; ++k, rest = uint8_t(rest >> 1))
            if ((rest & 1) && T.IntersectsWith(FChildren[k].Bounds)) bits = uint8_t(bits | (1u << k));
        return bits;
    }

private:
    const std::vector<TBVHNode>& FChildren;
    float FLo[3][2], FHi[3][2];
    uint8_t FMasks[3][4];  // per axis, per set of halves: the children lying in them
    bool FInRange;

    // Bit 0: [AMin, AMax] meets the lower half on axis A, bit 1: the upper.
    int Halves(float AMin, float AMax, int A) const
    {
        return int(AMax >= FLo[A][0] && FLo[A][1] >= AMin) | int(AMax >= FHi[A][0] && FHi[A][1] >= AMin) << 1;
    }
    uint8_t Holding(const TPoint3D& P) const
    {
        return uint8_t(FMasks[0][Halves(P.X, P.X, 0)] & FMasks[1][Halves(P.Y, P.Y, 1)] &
                       FMasks[2][Halves(P.Z, P.Z, 2)]);
    }
};

void SplitBVHNode(TBVHNode& Node, PBVHGeometry Geometry, const std::vector<TBuildTriangle>& AInfo, int Depth)
{
    --Depth;
    if (Depth == 0) return;
    if (Node.Children.empty() && Node.NumTriangles > 0) {
        static constexpr int kSigns[8][3] = {{-1, 1, -1}, {1, 1, -1}, {-1, 1, 1}, {1, 1, 1},
                                             {-1, -1, -1}, {1, -1, -1}, {-1, -1, 1}, {1, -1, 1}};
        const TPoint3D C = Node.Bounds.GetPosition();
        const TPoint3D H = Node.Bounds.GetSize() * 0.5f;
        Node.Children.resize(8);
        for (int k = 0; k < 8; ++k) {
            const TPoint3D corner =
                C + TPoint3D(kSigns[k][0] * H.X, kSigns[k][1] * H.Y, kSigns[k][2] * H.Z);
            Node.Children[size_t(k)].Bounds = TAABB::FromMinMax(Point3DMin(C, corner), Point3DMax(C, corner));
        }
    }
    if (!Node.Children.empty() && Node.NumTriangles > 0) {
        // Triangle by triangle, the children it touches as bits; then each
        // child's list in one exact-sized allocation, in the node's order.
        const TChildSorter sorter(Node.Children);
        std::vector<uint8_t> touched(size_t(Node.NumTriangles));
        size_t counts[8] = {};
        for (size_t i = 0; i < touched.size(); ++i) {
            const size_t t = size_t(Node.Triangles[i]);
            const uint8_t bits = sorter.Touched(Geometry->Triangles[t], AInfo[t]);
            for (size_t k = 0; k < 8; ++k) counts[k] += (bits >> k) & 1u;
            touched[i] = bits;
        }
        for (size_t k = 0; k < 8; ++k) {
            TBVHNode& child = Node.Children[k];
            child.Geometry = Node.Geometry;
            child.Triangles.clear();
            child.Triangles.reserve(counts[k]);
            for (size_t i = 0; i < touched.size(); ++i)
                if (touched[i] & (1u << k)) child.Triangles.push_back(Node.Triangles[i]);
            child.NumTriangles = int32_t(child.Triangles.size());
        }
    }
    Node.NumTriangles = 0;
    Node.Triangles.clear();
    Node.Triangles.shrink_to_fit();
    for (TBVHNode& child : Node.Children) SplitBVHNode(child, Geometry, AInfo, Depth);
}

TBuildTriangle BuildInfo(const TTriangle& T)
{
    TBuildTriangle R;
    R.Box = {{std::min({T.A.X, T.B.X, T.C.X}), std::min({T.A.Y, T.B.Y, T.C.Y}), std::min({T.A.Z, T.B.Z, T.C.Z})},
             {std::max({T.A.X, T.B.X, T.C.X}), std::max({T.A.Y, T.B.Y, T.C.Y}), std::max({T.A.Z, T.B.Z, T.C.Z})}};
    R.Shortcut = InShortcutRange(T.A) && InShortcutRange(T.B) && InShortcutRange(T.C);
    return R;
}

TBVHCastTriangle CastInfo(const TTriangle& T)
{
    TBVHCastTriangle R;
    R.A = T.A;
    R.ASum = std::fabs(T.A.X) + std::fabs(T.A.Y) + std::fabs(T.A.Z);
    const double e1[3] = {double(T.B.X) - T.A.X, double(T.B.Y) - T.A.Y, double(T.B.Z) - T.A.Z};
    const double e2[3] = {double(T.C.X) - T.A.X, double(T.C.Y) - T.A.Y, double(T.C.Z) - T.A.Z};
    const double e3[3] = {e2[0] - e1[0], e2[1] - e1[1], e2[2] - e1[2]};
    auto dot = [](const double* x, const double* y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
    const double d11 = dot(e1, e1), d12 = dot(e1, e2), d22 = dot(e2, e2);
    const double den = d11 * d22 - d12 * d12;
    if (!(den > 0) || !std::isfinite(den) || !std::isfinite(R.ASum)) return R;
    // The unit normal made as TTriangle::ToPlane makes it, from the edges and
    // their cross product rounded to floats, so that it stays within a
    // rounding step of the exact test's also on slivers, whose normal turns
    // far with the rounding of an edge.
    const float f1[3] = {T.B.X - T.A.X, T.B.Y - T.A.Y, T.B.Z - T.A.Z};
    const float f2[3] = {T.C.X - T.A.X, T.C.Y - T.A.Y, T.C.Z - T.A.Z};
    const double n[3] = {
        float(double(f1[1]) * f2[2] - double(f1[2]) * f2[1]), float(double(f1[2]) * f2[0] - double(f1[0]) * f2[2]),
        float(double(f1[0]) * f2[1] - double(f1[1]) * f2[0])};
    const double len = std::sqrt(dot(n, n));
    if (!(len > 0)) return R;
    R.N = {float(n[0] / len), float(n[1] / len), float(n[2] / len)};
    // The dual basis of the edges: (P - A) . U is the weight of B, (P - A) . V that of C.
    double U[3], V[3], W[3];
    for (int a = 0; a < 3; ++a) {
        U[a] = (d22 * e1[a] - d12 * e2[a]) / den;
        V[a] = (d11 * e2[a] - d12 * e1[a]) / den;
        W[a] = U[a] + V[a];
    }
    R.U = {float(U[0]), float(U[1]), float(U[2])};
    R.V = {float(V[0]), float(V[1]), float(V[2])};
    auto norm1 = [](const double* x) { return std::fabs(x[0]) + std::fabs(x[1]) + std::fabs(x[2]); };
    R.G1 = float(std::max({norm1(U), norm1(V), norm1(W)}) * (1 + 1E-5));
    // The exact test measures each weight along a direction rounded to
    // floats, off the true one by a few rounding steps of the edge; the error
    // grows with the longest edge over the smallest height (the steepest
    // weight gradient).
    const double spread = std::max({d11, d22, dot(e3, e3)}) * std::max({dot(U, U), dot(V, V), dot(W, W)});
    const double abs = double(kCastTolerance) * (1 + 8 * spread);
    if (!std::isfinite(R.G1) || !(abs < 0.25)) return R;
    R.Abs = float(abs);
    R.Exact = false;
    return R;
}

} // namespace

void BuildBVH(PBVHGeometry Geometry)
{
    if (!Geometry || Geometry->Accelerator || Geometry->Triangles.empty()) return;
    if (Geometry->NumTriangles <= 0 || size_t(Geometry->NumTriangles) > Geometry->Triangles.size()) return;
    // Point3DMin and Point3DMax over the points in order, inline.
    TPoint3D lo = Geometry->Point(0), hi = lo;
    for (int32_t i = 0; i < Geometry->NumTriangles; ++i)
        for (int v = 0; v < 3; ++v) {
            const TPoint3D& p = Geometry->Triangles[size_t(i)].Points(v);
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], p[a]);
                hi[a] = std::max(hi[a], p[a]);
            }
        }
    const size_t n = Geometry->Triangles.size();
    std::vector<TBuildTriangle> info(n);
    Geometry->FCast.resize(n);
    for (size_t i = 0; i < n; ++i) {
        info[i] = BuildInfo(Geometry->Triangles[i]);
        Geometry->FCast[i] = CastInfo(Geometry->Triangles[i]);
    }
    auto root = std::make_unique<TBVHNode>(TBVHNode::Create(Geometry));
    root->Bounds = TAABB::FromMinMax(lo, hi);
    root->NumTriangles = Geometry->NumTriangles;
    root->Triangles.resize(size_t(Geometry->NumTriangles));
    for (int32_t i = 0; i < Geometry->NumTriangles; ++i) root->Triangles[size_t(i)] = i;
    Geometry->Accelerator = std::move(root);
    SplitBVHNode(*Geometry->Accelerator, Geometry, info, 4);
}

void FreeBVHNode(TBVHNode& Node)
{
    if (!Node.Children.empty()) {
        for (TBVHNode& child : Node.Children) FreeBVHNode(child);
        Node.Children.clear();
    }
    if (Node.NumTriangles != 0 || !Node.Triangles.empty()) {
        Node.Triangles.clear();
        Node.NumTriangles = 0;
    }
}

void FreeBVHAccelerator(PBVHGeometry Geometry)
{
    if (!Geometry || !Geometry->Accelerator) return;
    FreeBVHNode(*Geometry->Accelerator);
    Geometry->Accelerator.reset();
    Geometry->FCast.clear();
    Geometry->FCast.shrink_to_fit();
}

} // namespace korvane
