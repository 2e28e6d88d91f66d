// Skid marks drawn and read back on the software renderer with no display: how dark a wheel's
// mark is, where the marks show and stay as the camera moves, and how the ring gives way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "race_skid_marks.h"

using orvo::Vector2;

// The slide from 85% of the cornering peak to 99%, times a share of the speed from 1 to 5; braking
// scrubs at most 0.4, from 5 to 25 units per second; the darker of the two counts.
TEST(SkidDarkness, FollowsTheSlidePastGripOrTheBrakingFromSpeed)
{
    const float cases[][4] = {{0.84f, 30, 0, 0},   {-0.92f, 30, 0, 0.5f}, {0.99f, 3, 0, 0.5f}, {0.99f, 1, 0, 0},
                              {0.5f, 15, 1, 0.2f}, {0.5f, 30, 1, 0.4f},   {0.5f, 5, 1, 0},     {0.99f, 15, 1, 1}};
    for (const auto& [share, speed, braking, darkness] : cases) {
        Car::StepValues step;
        step.lateralForces[2] = share * GetCorneringPeakForce(), step.wheelSpeeds[2] = speed, step.braking = braking;
        EXPECT_NEAR(GetSkidDarkness(step, 2), darkness, 2e-6f) << share << " at " << speed << ", braking " << braking;
    }
}

class SkidMarksTest : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }

    // Holds Up, and Right when asked, for `steps` race steps, noting where each tyre is drawn.
    void Drive(bool right, int steps)
    {
        race.keyUp = true, race.keyRight = right;
        while (steps-- > 0) {
            race.OnStepPhysicsTime();
            for (const orvo::Sprite* tyre : car.tyres) {
                path.push_back(tyre->GetDerivedSpatial().position);
            }
        }
    }
    // Draws the tiles, and over them the marks, keeping the picture; returns the world points of
    // the pixels the marks darken (by 30 or more in the sum of their channels).
    std::vector<Vector2> Darkened()
    {
        std::vector<Uint32> bare(1280 * 720);
        for (std::vector<Uint32>* pixels : {&bare, &picture}) {
            SDL_RenderClear(orvo::GetSDLRenderer());
            race.OrderGrid();
            for (int tile = 0; tile < 24; ++tile) {
                race.tiles[tile]->Draw(game.viewport, race.camera);
            }
            if (pixels == &picture) {
                race.skidMarks->Draw(game.viewport, race.camera);
            }
            SDL_RenderReadPixels(orvo::GetSDLRenderer(), nullptr, SDL_PIXELFORMAT_RGB888, pixels->data(), 1280 * 4);
        }
        const auto sum = [](Uint32 c) { return int(c >> 16 & 255) + int(c >> 8 & 255) + int(c & 255); };
        std::vector<Vector2> points;
        for (int i = 0; i < 1280 * 720; ++i) {
            if (sum(picture[i]) <= sum(bare[i]) - 30) {
                points.push_back(race.camera.spatial.position +
                                 Vector2(i % 1280 + 0.5f - 640, i / 1280 + 0.5f - 360) * static_cast<float>(Pixel()));
            }
        }
        return points;
    }
    double Pixel() const { return std::tan(3.1415927 / 8) * race.camera.spatial.depth / 720; } // in world units
    // The farthest of `points` from every place a tyre was.
    float Farthest(const std::vector<Vector2>& points) const
    {
        float farthest = 0.0f;
        for (const Vector2& point : points) {
            const auto closer = [&](const Vector2& a, const Vector2& b) {
                return a.GetDistance(point) < b.GetDistance(point);
            };
            farthest = std::max(farthest, point.GetDistance(*std::min_element(path.begin(), path.end(), closer)));
        }
        return farthest;
    }

    orvo::Game game{8, 3};
    RaceState race{&game};
    Car& car = *race.car;
    std::vector<Vector2> path; // each tyre's centre after each step, four a step
    std::vector<Uint32> picture = std::vector<Uint32>(1280 * 720);
};

TEST_F(SkidMarksTest, AHardTurnAtSpeedDarkensTheGroundAlongTheWheelsPathsWhereItStaysAsTheCameraMoves)
{
    Drive(false, 700); // straight up to 31 units per second
    EXPECT_TRUE(Darkened().empty()) << "a straight drive changed the ground";
    path.clear();
    Drive(true, 300);
    race.camera.spatial.position = Vector2();
    for (const Vector2& at : path) {
        race.camera.spatial.position += at * (1.0f / path.size()); // all of the turn in view
    }
    race.camera.spatial.depth = 100.0f;
    const orvo::Spatial was = race.camera.spatial;
    const size_t darkened = Darkened().size();
    const std::vector<Uint32> before = picture;
    EXPECT_GT(darkened, 3000u) << "four stripes of 8.7 pixels across";
    EXPECT_LT(Farthest(Darkened()), 0.25 + 1.5 * Pixel()) << "beyond a tyre's half width (and a pixel) of its path";
    // Four stripes, one a wheel, without gaps: but for the four that begin them, each segment
    // starts on the end edge of another.
    const SkidMarks& marks = *race.skidMarks;
    int joined = 0;
    for (int i = 0; i < marks.count * marks.count; ++i) {
        const SkidSegment &a = marks.segments[i / marks.count], &b = marks.segments[i % marks.count];
        joined += a.corners[0].GetDistance(b.corners[1]) == 0.0f && a.corners[3].GetDistance(b.corners[2]) == 0.0f;
    }
    EXPECT_EQ(joined, marks.count - 4) << "of " << marks.count;
    EXPECT_LE(marks.count, 4 * (300 / 8 + 1)) << "a segment spans 8 steps";

    race.camera.spatial.position += Vector2(300, -200);
    EXPECT_TRUE(Darkened().empty()) << "marks where none were laid";
    race.camera.spatial = was;
    race.camera.spatial.depth += 35.0f;
    const std::vector<Vector2> wider = Darkened();
    EXPECT_GT(wider.size(), darkened * 100 / 135 * 100 / 135 * 95 / 100);
    EXPECT_LT(Farthest(wider), 0.25 + 1.5 * Pixel()) << "pulled back, the marks moved off the paths";
    race.camera.spatial = was;
    Darkened();
    EXPECT_TRUE(picture == before) << "back where it was, the picture differs";
}

// A small ring fills and wraps: the segment overwritten next is always the oldest, faded the most;
// then, with no new marks, each fades by age: fully there for 12 s of steps and gone at 18.
TEST_F(SkidMarksTest, PastTheRingsSizeTheOldestGoFirstAndEveryMarkFadesOutByAge)
{
    SkidMarks marks(64);
    Drive(false, 700);
    int wraps = 0;
    for (int step = 0; step < 500; ++step) {
        car.OnStepPhysicsTime(Vector2(1, 1));
        const int before = marks.next;
        marks.Record(car);
        wraps += marks.next < before;
        for (int i = 0; marks.count == 64 && i < 64; ++i) {
            ASSERT_GE(marks.segments[i].step, marks.segments[marks.next].step) << step;
            ASSERT_GE(marks.GetFade(i), marks.GetFade(marks.next)) << step;
        }
    }
    EXPECT_GE(wraps, 2);
    EXPECT_LE(marks.GetFade(marks.next), 0.25f);
    const int newest = (marks.next + 63) % 64;
    const std::pair<int, float> fades[] = {{0, 1}, {3999, 1}, {1001, 0.5f}, {999, 0.0005f}, {1, 0}};
    for (const auto& [steps, fade] : fades) {
        for (int step = 0; step < steps; ++step) {
            marks.Record(car); // the car is not stepped: its wheels stay put and lay nothing
        }
        EXPECT_NEAR(marks.GetFade(newest), fade, 1e-6f) << marks.step - marks.segments[newest].step;
    }
}
