// websetup-fetch's progress line: what it says, and how often it says it.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "tools/fetch/FetchProgress.h"

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;

TEST(FetchProgress, LineGivesSizesShareRateAndTimeLeft) {
    const struct {
        ProgressFigures figures;
        const char* text;
    } cases[] = {
        {{0, 3 * MiB, std::nullopt, std::nullopt}, "0 B / 3.0 MiB    0%  --.- KiB/s  --:-- left"},
        {{3 * MiB / 2, 3 * MiB, 812.3 * KiB, std::nullopt},
         "1.5 MiB / 3.0 MiB   50%  812.3 KiB/s  0:02 left"},
        // A unit changes where one decimal would show 1024.0 of the smaller.
        {{MiB - 1, 3 * MiB, 0.0, std::nullopt}, "1.0 MiB / 3.0 MiB   33%  0 B/s  --:-- left"},
        {{1023, 2147483647, 4.0 * KiB, std::nullopt},
         "1023 B / 2.0 GiB    0%  4.0 KiB/s  145:38:08 left"},
        {{3 * MiB, 3 * MiB, std::nullopt, std::nullopt},
         "3.0 MiB / 3.0 MiB  100%  --.- KiB/s  0:00 left"},
        // The last line: the run's average rate and how long it took.
        {{3 * MiB, 3 * MiB, 1.0 * MiB, 61.4}, "3.0 MiB / 3.0 MiB  100%  1.0 MiB/s  in 1:01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(progressLineText(c.figures), c.text);
    }
}

std::string writtenBy(bool terminal) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    const auto start = ProgressLine::Clock::now();
    ProgressLine line(stream, terminal, 3 * MiB, start);
    // 1 MiB a second, polled more often than the line may be shown.
    for (const auto at : {0ms, 300ms, 1000ms, 1500ms, 2200ms}) {
        line.show(MiB * at.count() / 1000, start + at);
    }
    line.finish(3 * MiB, start + 3000ms);
    std::string text(4096, '\0');
    std::rewind(stream);
    text.resize(std::fread(text.data(), 1, text.size(), stream));
    std::fclose(stream);
    return text;
}

// A log gets a line at most once a second; a terminal one line redrawn.
TEST(FetchProgress, ShownAtOnceThenAtMostOnceASecondOrRedrawnInPlace) {
    EXPECT_EQ(writtenBy(false),
              "0 B / 3.0 MiB    0%  --.- KiB/s  --:-- left\n"
              "1.0 MiB / 3.0 MiB   33%  1.0 MiB/s  0:02 left\n"
              "2.2 MiB / 3.0 MiB   73%  1.0 MiB/s  0:01 left\n"
              "3.0 MiB / 3.0 MiB  100%  1.0 MiB/s  in 0:03\n");
    const std::string terminal = writtenBy(true);
    EXPECT_EQ(terminal.find('\n'), terminal.size() - 1) << terminal;
    EXPECT_EQ(terminal.rfind("\r3.0 MiB / 3.0 MiB  100%  1.0 MiB/s  in 0:03\033[K\n"),
              terminal.rfind('\r'))
        << terminal;
}

}  // namespace
