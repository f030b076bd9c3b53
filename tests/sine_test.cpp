// The game's sine against a reference carried in 113-bit floating point and
// rounded once to double: every value must be the correctly rounded sine,
// through the fast path and through the accurate one alike.
#include "game/sine.h"

#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "game/world.h"

namespace prendax {
namespace {

double reference_sine(double x) { return static_cast<double>(sinq(static_cast<__float128>(x))); }

struct Family {
    const char* name;
    std::vector<double> angles;
};

// The angles a match computes, at ticks up to 20000, for phases drawn as the game draws them.
std::vector<double> match_angles(std::mt19937_64& random, int count) {
    std::vector<double> angles;
    for (int i = 0; i < count; i++) {
        const double phase = rng_fraction(static_cast<uint32_t>(random() % FRACTION_SCALE)) * PHASE_SPAN;
        const auto ticks = static_cast<int32_t>(1 + random() % 20000u);
        angles.push_back(drift_angle(ticks, phase));
    }
    return angles;
}

std::vector<double> uniform_angles(std::mt19937_64& random, int count, double low, double high) {
    std::uniform_real_distribution<double> draw(low, high);
    std::vector<double> angles;
    for (int i = 0; i < count; i++) angles.push_back(draw(random));
    return angles;
}

// Close to multiples of pi/2, where the reduction cancels most bits and the
// quadrant and the table's ends change.
std::vector<double> near_quadrant_edges(int count) {
    std::vector<double> angles;
    for (int k = 1; k <= count; k++) {
        const double edge = static_cast<double>(k) * 1.5707963267948966;
        double below = edge;
        double above = edge;
        for (int step = 0; step < 3; step++) {
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 10.0 * edge);
            angles.push_back(below);
            angles.push_back(above);
        }
        angles.push_back(edge * 0.5);  // odd multiples of pi/4: the table's far end
    }
    return angles;
}

// Around the points halfway between the table's entries a = i/64, where the
// choice of entry changes.
std::vector<double> near_table_edges() {
    std::vector<double> angles;
    for (int i = 0; i <= 51; i++) {
        double below = (i + 0.5) / 64.0;
        double above = below;
        for (int step = 0; step < 4; step++) {
            angles.push_back(below);
            angles.push_back(above);
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 1.0);
        }
    }
    return angles;
}

std::vector<double> tiny_angles() {
    std::vector<double> angles;
    for (int exponent = -30; exponent <= -1; exponent++) {
        for (double mantissa : {1.0, 1.0000000000000002, 1.5, 1.9999999999999998}) {
            angles.push_back(std::ldexp(mantissa, exponent));
        }
    }
    return angles;
}

TEST(Sine, EveryValueIsTheCorrectlyRoundedSine) {
    std::mt19937_64 random(20261208);
    const std::vector<Family> families = {
        {"match angles", match_angles(random, 150000)},
        {"one turn", uniform_angles(random, 60000, 0.0, 6.3)},
        {"negative", uniform_angles(random, 20000, -50.0, 0.0)},
        {"up to the longest match", uniform_angles(random, 40000, 0.0, 6.5e7)},
        {"near quadrant edges", near_quadrant_edges(3000)},
        {"near table edges", near_table_edges()},
        {"tiny", tiny_angles()},
    };
    for (const Family& family : families) {
        int wrong = 0;
        int wrongAccurate = 0;
        double firstWrong = 0.0;
        for (double x : family.angles) {
            const double want = reference_sine(x);
            if (sine(x) != want && wrong++ == 0) firstWrong = x;
            if (sine_accurate(x) != want) wrongAccurate++;
        }
        EXPECT_EQ(wrong, 0) << family.name << ": the first wrong angle is " << std::hexfloat << firstWrong;
        EXPECT_EQ(wrongAccurate, 0) << family.name;
    }
}

TEST(Sine, SpecialValuesAndSymmetry) {
    EXPECT_EQ(sine(0.0), 0.0);
    EXPECT_TRUE(std::signbit(sine(-0.0)));
    EXPECT_TRUE(std::isnan(sine(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(sine(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(sine(-std::numeric_limits<double>::infinity())));
    EXPECT_EQ(sine(0x1p-27), 0x1p-27);
    EXPECT_EQ(sine(1.5707963267948966), 1.0);
    for (double x : {0.1, 1.0, 3.0, 100.25, 12345.678}) EXPECT_EQ(sine(-x), -sine(x)) << x;
}

// Past the range a match can reach the value is no longer the true sine, but it
// is still a number in [-1, 1] that depends on nothing but x.
TEST(Sine, HugeArgumentsStayFiniteAndBounded) {
    for (double x : {0x1p28, 1e9, -1e12, 1e300, std::numeric_limits<double>::max()}) {
        const double value = sine(x);
        EXPECT_TRUE(std::isfinite(value)) << x;
        EXPECT_LE(std::fabs(value), 1.0) << x;
        EXPECT_EQ(value, sine_accurate(x)) << x;
    }
}

}  // namespace
}  // namespace prendax
