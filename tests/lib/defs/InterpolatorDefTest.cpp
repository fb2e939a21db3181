#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "Korvane.DefTypes.Animation.h"
#include "Korvane.Utils.Quaternions.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

std::vector<float> KeyTimes(const TPoint3DInterpolatorDef& def)
{
    std::vector<float> times;
    for (const auto& key : def.Keys()) times.push_back(key->Key());
    return times;
}

float QuaternionLength(const TQuaternion3D& q)
{
    return std::sqrt(q.ImagPart.X * q.ImagPart.X + q.ImagPart.Y * q.ImagPart.Y + q.ImagPart.Z * q.ImagPart.Z +
                     q.RealPart * q.RealPart);
}

// Equal as rotations: q and -q turn points alike.
void ExpectSameRotation(const TQuaternion3D& a, const TQuaternion3D& b)
{
    const double dot = double(a.ImagPart.X) * b.ImagPart.X + double(a.ImagPart.Y) * b.ImagPart.Y +
                       double(a.ImagPart.Z) * b.ImagPart.Z + double(a.RealPart) * b.RealPart;
    EXPECT_NEAR(std::fabs(dot), 1.0, 1e-5) << Quaternion3DToString(a) << " vs " << Quaternion3DToString(b);
}

void ExpectMatrixNear(const TMatrix3D& a, const TMatrix3D& b)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.M[r][c], b.M[r][c], 1e-5) << "entry " << r << c;
}

TQuaternion3D RotationZ(float degrees) { return TQuaternion3D::Create(TPoint3D(0, 0, 1), degrees * float(std::numbers::pi) / 180); }

} // namespace

TEST(InterpolatorDef, ReadingDefaultsDifferFromANewTrack)
{
    struct Case {
        const char* json;
        float duration;
        bool loop;
    };
    const Case cases[] = {
        {R"({"Path": "Position.Point"})", 1, false},
        {R"({"Path": "Position.Point", "Loop": true, "Duration": 2.5})", 2.5f, true},
        {R"({"Path": "Position.Point", "Loop": "true", "Duration": "3"})", 1, false},
    };
    for (const Case& c : cases) {
        TPoint3DInterpolatorDef def(nullptr);
        def.SetDuration(7);
        EXPECT_TRUE(def.Loop()) << "a new track loops";
        def.FromJSON(nullptr, *Obj(c.json));
        EXPECT_EQ(def.Duration(), c.duration) << c.json;
        EXPECT_EQ(def.Loop(), c.loop) << c.json;
        EXPECT_EQ(def.Path(), "Position.Point");
    }
}

TEST(InterpolatorDef, NormalisationMakesTimesFractionsOfTheDuration)
{
    struct Case {
        std::vector<float> times;
        std::vector<float> expected;
        float duration;
    };
    const Case cases[] = {
        {{0.25f}, {0.25f, 1}, 1},
        {{0, 1.5f, 3}, {0, 0.5f, 1}, 3},
        {{0, 1}, {0, 1}, 1},
        {{}, {}, 1},
    };
    for (const Case& c : cases) {
        TPoint3DInterpolatorDef def(nullptr);
        for (float t : c.times) def.AddKey(t, TPoint3D(t, 2, 3), TInterpolationType::Cubic);
        def.NormalizeKeyTimeValues();
        EXPECT_EQ(KeyTimes(def), c.expected);
        EXPECT_EQ(def.Duration(), c.duration);
    }
    TPoint3DInterpolatorDef single(nullptr);
    single.SetDuration(0);
    single.AddKey(0.25f, TPoint3D(4, 5, 6), TInterpolationType::Back);
    single.NormalizeKeyTimeValues();
    ASSERT_EQ(single.KeyCount(), 2);
    EXPECT_EQ(single.Keys()[1]->Value(), TPoint3D(4, 5, 6));
    EXPECT_EQ(single.Keys()[1]->Interpolation(), TInterpolationType::Back);
    EXPECT_EQ(single.Duration(), 1) << "a duration of 0 becomes 1";
}

class PointTrack : public ::testing::Test {
protected:
    void SetUp() override
    {
        Track.AddKey(0, TPoint3D(0, 0, 0), TInterpolationType::Bounce);
        Track.AddKey(0.5f, TPoint3D(10, 0, 0), TInterpolationType::Elastic);
        Track.AddKey(1, TPoint3D(10, 10, 0), TInterpolationType::Back);
    }
    TPoint3DInterpolatorDef Track{nullptr};
};

TEST_F(PointTrack, ValuesBetweenKeysAreLinear)
{
    const std::pair<float, TPoint3D> cases[] = {
        {0.25f, {5, 0, 0}}, {0.5f, {10, 0, 0}}, {0.75f, {10, 5, 0}}, {0, {0, 0, 0}}, {1, {10, 10, 0}}};
    for (const auto& [t, expected] : cases) {
        float key = -1;
        TInterpolationType easing = TInterpolationType::Quartic;
        TPoint3D value;
        ASSERT_TRUE(Track.ComputeInterpolatedKey(t, key, easing, value)) << t;
        EXPECT_EQ(value, expected) << t;
        EXPECT_EQ(key, t);
        EXPECT_EQ(easing, TInterpolationType::Linear) << "the keys' easings play no part";
    }
    TInterpolatorDef<TPoint3D>::TKey *start, *stop;
    ASSERT_TRUE(Track.FindKeys(0.5f, start, stop));
    EXPECT_EQ(start, Track.Keys()[0].get()) << "an inner key time belongs to the pair ending there";
}

TEST_F(PointTrack, TimesOutsideTheKeysFindNothing)
{
    for (float t : {-0.01f, 1.01f}) {
        TInterpolatorDef<TPoint3D>::TKey *start = Track.Keys()[0].get(), *stop = start;
        EXPECT_FALSE(Track.FindKeys(t, start, stop)) << t;
        EXPECT_EQ(start, nullptr);
        EXPECT_EQ(stop, nullptr);
        float key = 42;
        TInterpolationType easing = TInterpolationType::Quartic;
        TPoint3D value(7, 7, 7);
        EXPECT_FALSE(Track.ComputeInterpolatedKey(t, key, easing, value));
        EXPECT_EQ(key, 42);
        EXPECT_EQ(easing, TInterpolationType::Quartic);
        EXPECT_EQ(value, TPoint3D(7, 7, 7));
    }
    TPoint3DInterpolatorDef one(nullptr);
    one.AddKey(0, TPoint3D(1, 1, 1), TInterpolationType::Linear);
    TInterpolatorDef<TPoint3D>::TKey *start, *stop;
    EXPECT_FALSE(one.FindKeys(0, start, stop)) << "one key makes no segment";
}

TEST(InterpolatorDef, RotationTracksSlerpToUnitQuaternions)
{
    // Vectors are quaternions (X, Y, Z, W); keys of any length interpolate on the unit sphere.
    TVector3DInterpolatorDef vectors(nullptr);
    const TQuaternion3D from = RotationZ(0), to = RotationZ(90);
    vectors.AddKey(0, TVector3D(0, 0, 0, 2), TInterpolationType::Linear);
    vectors.AddKey(1, TVector3D(to.ImagPart.X * 3, to.ImagPart.Y * 3, to.ImagPart.Z * 3, to.RealPart * 3),
                   TInterpolationType::Linear);
    float key;
    TInterpolationType easing;
    TVector3D v;
    ASSERT_TRUE(vectors.ComputeInterpolatedKey(0.5f, key, easing, v));
    EXPECT_NEAR(QuaternionLength(v), 1, 1e-6);
    ExpectSameRotation(QuaternionToQuaternion3D(v), RotationZ(45));

    TQuaternion3DInterpolatorDef quaternions(nullptr);
    quaternions.AddKey(0, from, TInterpolationType::Linear);
    quaternions.AddKey(1, TQuaternion3D(to.ImagPart * 2, to.RealPart * 2), TInterpolationType::Linear);
    for (const auto& [t, degrees] : {std::pair{0.0f, 0.0f}, {0.5f, 45.0f}, {1.0f, 90.0f}}) {
        TQuaternion3D q;
        ASSERT_TRUE(quaternions.ComputeInterpolatedKey(t, key, easing, q));
        EXPECT_NEAR(QuaternionLength(q), 1, 1e-6) << t;
        // A key's own time gives the key's rotation, not its inverse.
        ExpectSameRotation(q, RotationZ(degrees));
    }
}

TEST(InterpolatorDef, TransformationTrackSeparatesTranslationScaleAndRotation)
{
    TTransformationInterpolatorDef def(nullptr);
    const auto compose = [](float scale, float degrees, TPoint3D translation) {
        return TMatrix3D::CreateScaling(TPoint3D(scale, scale, scale)) *
               TMatrix3D::CreateRotationZ(degrees * float(std::numbers::pi) / 180) *
               TMatrix3D::CreateTranslation(translation);
    };
    def.AddKey(0, compose(1, 0, TPoint3D(0, 0, 0)), TInterpolationType::Linear);
    def.AddKey(1, compose(3, 90, TPoint3D(10, 0, 4)), TInterpolationType::Linear);
    float key;
    TInterpolationType easing;
    TMatrix3D m;
    ASSERT_TRUE(def.ComputeInterpolatedKey(0.5f, key, easing, m));
    ExpectMatrixNear(m, compose(2, 45, TPoint3D(5, 0, 2)));
    ASSERT_TRUE(def.ComputeInterpolatedKey(1, key, easing, m));
    ExpectMatrixNear(m, compose(3, 90, TPoint3D(10, 0, 4)));
}

TEST(InterpolatorDef, MeshTrackDoesNotInterpolate)
{
    TMeshInterpolatorDef def(nullptr);
    def.AddKey(0, {TPoint3D(1, 2, 3)}, TInterpolationType::Linear);
    def.AddKey(1, {TPoint3D(4, 5, 6)}, TInterpolationType::Linear);
    float key;
    TInterpolationType easing;
    std::vector<TPoint3D> value;
    EXPECT_EQ(MessageOf([&] { def.ComputeInterpolatedKey(0.5f, key, easing, value); }),
              "TMeshInterpolatorDef.ComputeInterpolatedKey not implemented yet");
}

TEST(InterpolatorDef, AddKeysFillsMissingValuesAndEasings)
{
    TPoint3DInterpolatorDef def(nullptr);
    def.AddKeys({0, 0.5f, 1}, {TPoint3D(1, 2, 3)}, {TInterpolationType::Cubic});
    ASSERT_EQ(def.KeyCount(), 3);
    for (const auto& key : def.Keys()) EXPECT_EQ(key->Value(), TPoint3D(1, 2, 3));
    EXPECT_EQ(def.Keys()[0]->Interpolation(), TInterpolationType::Cubic);
    EXPECT_EQ(def.Keys()[2]->Interpolation(), TInterpolationType::Linear);
    EXPECT_EQ(KeyTimes(def), (std::vector<float>{0, 0.5f, 1}));

    EXPECT_EQ(MessageOf([&] { def.AddKeys({0, 0.5f, 1}, {}, {}); }),
              "failed to add multiple interpolator keys - array length differs");
    EXPECT_EQ(def.KeyCount(), 3) << "nothing added";
    def.AddKeys({2}, {TPoint3D(0, 0, 1), TPoint3D(0, 0, 2)}, {});
    EXPECT_EQ(def.KeyCount(), 4) << "values beyond the times are ignored";
}

TEST(InterpolatorDef, KeyReadingRulesAndFailures)
{
    struct Case {
        const char* key;
        const char* error; // nullptr: reads
        TInterpolationType easing;
    };
    const Case cases[] = {
        {R"({"Key": 0.5, "Interpolation": 2.5, "Value": "1 2 3"})", nullptr, TInterpolationType::Cubic},
        {R"({"Key": 0.5, "Interpolation": 3.5, "Value": "1 2 3"})", nullptr, TInterpolationType::Quintic},
        {R"({"Key": 0.5, "Interpolation": 10, "Value": "1 2 3"})", nullptr, TInterpolationType::Bounce},
        {R"({"Interpolation": 1, "Value": "1 2 3"})", "failed to load interpolator key - key value not found", {}},
        {R"({"Key": 0.5, "Value": "1 2 3"})", "failed to load interpolator key - key interpolation method not found", {}},
        {R"({"Key": 0.5, "Interpolation": "1"})", "failed to load interpolator key - key interpolation method not found",
         {}},
        {R"({"Key": 0.5, "Interpolation": 11})", "invalid value for \"Interpolation\": 11", {}},
        {R"({"Key": 0.5, "Interpolation": -1})", "invalid value for \"Interpolation\": -1", {}},
        {R"({"Key": "0.5", "Interpolation": 1})", "Conversion from TJSONString to TJSONNumber is not supported", {}},
    };
    for (const Case& c : cases) {
        TPoint3DInterpolatorDef def(nullptr);
        const std::string json = std::string(R"({"Path": "P", "Keys": [)") + c.key + "]}";
        if (c.error) {
            EXPECT_EQ(MessageOf([&] { def.FromJSON(nullptr, *Obj(json)); }), c.error) << c.key;
            continue;
        }
        def.FromJSON(nullptr, *Obj(json));
        ASSERT_EQ(def.KeyCount(), 1);
        EXPECT_EQ(def.Keys()[0]->Interpolation(), c.easing) << c.key;
        EXPECT_EQ(def.Keys()[0]->Value(), TPoint3D(1, 2, 3));
    }
    TPoint3DInterpolatorDef def(nullptr);
    EXPECT_EQ(MessageOf([&] { def.FromJSON(nullptr, *Obj(R"({"Path": null})")); }),
              "failed to load interpolator path - property path value not found");
    EXPECT_EQ(MessageOf([&] { def.FromJSON(nullptr, *Obj(R"({"Path": "P", "Keys": [1]})")); }),
              "Conversion from TJSONNumber to TJSONObject is not supported");
}

TEST(InterpolatorDef, JSONPairsAndRoundTrip)
{
    TQuaternion3DInterpolatorDef def(nullptr);
    def.SetId("Spin");
    def.SetPath("Quaternion");
    def.SetDuration(2.5f);
    def.SetLoop(false);
    def.AddKey(0, RotationZ(0), TInterpolationType::Linear);
    def.AddKey(1, RotationZ(90), TInterpolationType::Sinusoidal);
    const auto json = def.ToJSON();
    std::vector<std::string> names;
    for (const TJSONPair& pair : *json) names.push_back(pair.Name());
    EXPECT_EQ(names, (std::vector<std::string>{"Type", "Id", "Type", "Stage", "Duration", "Loop", "Path", "Keys"}));
    EXPECT_EQ(json->Pairs(0).JsonValue()->Value(), "Korvane.DefTypes.TQuaternion3DInterpolatorDef");
    EXPECT_EQ(json->Pairs(2).JsonValue()->Value(), "TQuaternion3DInterpolatorDef");
    EXPECT_EQ(json->GetValue("Stage")->Kind(), TJSONValue::TKind::Null);
    const auto& key = json->GetValue("Keys")->As<TJSONArray>().Items(1)->As<TJSONObject>();
    EXPECT_EQ(key.GetValue("Interpolation")->Value(), "5");
    EXPECT_EQ(key.GetValue("Value")->Kind(), TJSONValue::TKind::String);

    TQuaternion3DInterpolatorDef back(nullptr);
    back.FromJSON(nullptr, *json);
    EXPECT_EQ(back.ToJSON()->ToJSON(), json->ToJSON());
}
