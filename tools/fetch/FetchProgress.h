#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <utility>

// What one progress line of websetup-fetch says.
struct ProgressFigures {
    std::int64_t bytes = 0;
    std::int64_t total = 0;
    // Unknown until enough of the transfer has been seen.
    std::optional<double> bytesPerSecond;
    // Set on the last line: how long the run took. Otherwise the line says
    // how long the rest takes at bytesPerSecond.
    std::optional<double> elapsedSeconds;
};

// "1.5 MiB / 3.0 MiB   50%  812.3 KiB/s  0:02 left", or "... in 0:04" on the
// last line: sizes in binary units with one decimal, the share truncated as
// the stub's progress is, "--" for what is not known yet.
std::string progressLineText(const ProgressFigures& figures);

// The progress of one download on a stream (standard error). On a terminal
// one line, redrawn in place a few times a
// second; otherwise, for a log or a pipe, a line at most once a second. The
// rate is that of the last few seconds, so that the time left follows a link
// that changes speed. One thread; the times are given so that tests need not
// wait.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    ProgressLine(std::FILE* stream, bool terminal, std::int64_t total, Clock::time_point start);

    // Shows `bytes` held at `now` when it is time: the first call at once,
    // so that a resumed download starts at its share.
    void show(std::int64_t bytes, Clock::time_point now);
    // The last line: the bytes held at the end, the run's average rate and
    // its duration.
    void finish(std::int64_t bytes, Clock::time_point now);

private:
    std::optional<double> recentRate(std::int64_t bytes, Clock::time_point now);
    void write(const std::string& text, bool last);

    std::FILE* const m_stream;
    const bool m_terminal;
    const std::int64_t m_total;
    const Clock::time_point m_start;
    std::optional<std::int64_t> m_firstBytes;
    std::optional<Clock::time_point> m_shownAt;
    // (time, bytes) of the last few seconds, oldest first.
    std::deque<std::pair<Clock::time_point, std::int64_t>> m_samples;
};
