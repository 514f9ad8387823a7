#include "tools/fetch/FetchProgress.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using Seconds = std::chrono::duration<double>;

constexpr std::chrono::milliseconds kTerminalInterval(200);
constexpr std::chrono::seconds kPlainInterval(1);
// The rate is measured over this much of the recent transfer, and shown
// only once at least kShortestRateSpan of it has been seen.
constexpr std::chrono::seconds kRateWindow(5);
constexpr std::chrono::seconds kShortestRateSpan(1);

std::string formatted(const char* format, double value, const char* unit) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), format, value, unit);
    return text.data();
}

// "512 B", "12.5 KiB", "3.0 MiB", "1.2 GiB".
std::string binaryUnits(double bytes) {
    static constexpr std::array<const char*, 4> kUnits = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return formatted("%.0f %s", bytes, "B");
    std::size_t unit = 0;
    double value = bytes / 1024;
    // Where one decimal would round up to 1024.0, the next unit reads better.
    while (value >= 1023.95 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    return formatted("%.1f %s", value, kUnits[unit]);
}

// "0:07", "12:34", "1:02:03".
std::string duration(double seconds) {
    const auto whole = static_cast<long long>(std::llround(seconds));
    std::array<char, 32> text{};
    if (whole >= 3600) {
        std::snprintf(text.data(), text.size(), "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text.data(), text.size(), "%lld:%02lld", whole / 60, whole % 60);
    }
    return text.data();
}

}  // namespace

std::string progressLineText(const ProgressFigures& figures) {
    const std::int64_t percent = figures.total > 0 ? figures.bytes * 100 / figures.total : 0;
    std::array<char, 8> share{};
    std::snprintf(share.data(), share.size(), "%3lld%%", static_cast<long long>(percent));
    std::string text = binaryUnits(static_cast<double>(figures.bytes)) + " / " +
                       binaryUnits(static_cast<double>(figures.total)) + "  " + share.data() + "  ";
    const std::optional<double>& rate = figures.bytesPerSecond;
    text += rate ? binaryUnits(*rate) + "/s" : std::string("--.- KiB/s");
    if (figures.elapsedSeconds) return text + "  in " + duration(*figures.elapsedSeconds);
    const std::int64_t left = std::max<std::int64_t>(figures.total - figures.bytes, 0);
    if (left == 0) return text + "  0:00 left";
    if (!rate || *rate <= 0) return text + "  --:-- left";
    return text + "  " + duration(static_cast<double>(left) / *rate) + " left";
}

ProgressLine::ProgressLine(std::FILE* stream, bool terminal, std::int64_t total,
                           Clock::time_point start)
    : m_stream(stream), m_terminal(terminal), m_total(total), m_start(start) {}

void ProgressLine::show(std::int64_t bytes, Clock::time_point now) {
    if (!m_firstBytes) m_firstBytes = bytes;
    const std::optional<double> rate = recentRate(bytes, now);
    const Clock::duration interval =
        m_terminal ? Clock::duration(kTerminalInterval) : Clock::duration(kPlainInterval);
    if (m_shownAt && now - *m_shownAt < interval) return;
    m_shownAt = now;
    write(progressLineText({bytes, m_total, rate, std::nullopt}), false);
}

void ProgressLine::finish(std::int64_t bytes, Clock::time_point now) {
    const double elapsed = Seconds(now - m_start).count();
    const std::int64_t transferred = bytes - m_firstBytes.value_or(bytes);
    std::optional<double> average;
    if (elapsed > 0 && transferred >= 0) average = static_cast<double>(transferred) / elapsed;
    write(progressLineText({bytes, m_total, average, elapsed}), true);
}

std::optional<double> ProgressLine::recentRate(std::int64_t bytes, Clock::time_point now) {
    m_samples.emplace_back(now, bytes);
    // Keep one sample at or beyond the window's start, so that the span
    // measured is the whole window.
    while (m_samples.size() > 2 && now - m_samples[1].first >= kRateWindow) {
        m_samples.pop_front();
    }
    const auto& [oldestTime, oldestBytes] = m_samples.front();
    const double span = Seconds(now - oldestTime).count();
    if (now - oldestTime < kShortestRateSpan) return std::nullopt;
    // Bytes of a failed part leave the workers' buffers: the count can drop.
    return static_cast<double>(std::max<std::int64_t>(bytes - oldestBytes, 0)) / span;
}

void ProgressLine::write(const std::string& text, bool last) {
    if (m_terminal) {
        // Back to the line's start, the text, and the rest of an earlier,
        // longer line erased.
        std::fprintf(m_stream, "\r%s\033[K%s", text.c_str(), last ? "\n" : "");
    } else {
        std::fprintf(m_stream, "%s\n", text.c_str());
    }
    std::fflush(m_stream);
}
