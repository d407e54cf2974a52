#include "formats/exact_duration.h"

#include <gtest/gtest.h>

#include <limits>

namespace tagrelay {
namespace {

constexpr std::int64_t maxTicks = std::numeric_limits<std::int64_t>::max();

struct DurationCase
{
    ExactDuration duration;
    std::int64_t seconds;
    const char* text;
};

// Rounded to the nearest second, a tie to the even one: where a truncation or an estimate a
// few milliseconds off gives another second.
TEST(ExactDurationTest, RoundsToTheNearestSecondATieToTheEvenOne)
{
    const DurationCase cases[] = {
        {{10'497, 1000}, 10, "0:10 min"},
        {{10'500, 1000}, 10, "0:10 min"},
        {{11'500, 1000}, 12, "0:12 min"},
        {{10'501, 1000}, 11, "0:11 min"},
        {{503'808 - 312, 48'000}, 10, "0:10 min"}, // an Opus stream less its pre-skip
        {{2'646'000 - 1, 44'100}, 60, "1:00 min"},
        {{3'599'500, 1000}, 3600, "60:00 min"},
        {{0, 1000}, 0, "0:00 min"},
        {{5, 0}, 0, "0:00 min"},
        {{-5, 1000}, 0, "0:00 min"},
        {{maxTicks, 1}, maxTicks, nullptr},
    };
    for (const DurationCase& row : cases) {
        EXPECT_EQ(roundedSeconds(row.duration), row.seconds) << row.duration.ticks;
        if (row.text != nullptr) {
            EXPECT_EQ(exactPlayingTimeText(row.duration), row.text) << row.duration.ticks;
        }
    }
}

TEST(ExactDurationTest, RatesAreCountsOverTheDurationWithoutOverflow)
{
    const ExactDuration tenSeconds{10'000, 1000};
    EXPECT_EQ(roundedRate(250, tenSeconds), 25);
    EXPECT_EQ(roundedRate(300, {8, 1}), 38);           // 37.5: the tie goes to the even 38
    EXPECT_EQ(roundedRate(250, {10'010, 1000}), 25);   // 24.975
    EXPECT_EQ(roundedRate(2997, {100'000, 1000}), 30); // 29.97
    EXPECT_EQ(roundedRate(600, tenSeconds), 60);
    EXPECT_EQ(roundedRate(250, {0, 1000}), 0);
    EXPECT_EQ(roundedRate(maxTicks, {1, maxTicks}), maxTicks);

    // 128 kbit/s for a minute, and a payload a byte short of the next kilobit per second.
    EXPECT_EQ(truncatedKilobitRate(960'000, {60, 1}), 128);
    EXPECT_EQ(truncatedKilobitRate(960'000 - 1, {60, 1}), 127);
    EXPECT_EQ(truncatedKilobitRate(157'500, {60'000'000, 1'000'000}), 21);
    EXPECT_EQ(truncatedKilobitRate(maxTicks, {maxTicks, maxTicks}), maxTicks / 125);
    EXPECT_EQ(truncatedKilobitRate(1000, {-1, 1}), 0);
}

TEST(ExactDurationTest, AContainerMovieLineIsHeightFirstWithRateAndPlaytime)
{
    EXPECT_EQ(containerMovieDescription(1920, 1080, 250, {10, 1}),
              "1080 x 1920 pixel - 25 fps - 0:10 min");
    EXPECT_EQ(containerMovieDescription(640, 480, 300, {8000, 1000}),
              "480 x 640 pixel - 38 fps - 0:08 min");
}

} // namespace
} // namespace tagrelay
