#include "CliProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "CliCommands.h"

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::atomic<CliProgressDisplay*> g_active{nullptr};

std::string Duration(double seconds)
{
    const long long s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

}  // namespace

std::string CliSize(unsigned long long bytes)
{
    static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < std::size(kUnits)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu B", bytes);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

CliProgressDisplay::Style CliProgressDisplay::StyleFor(const CliOptions& options)
{
    if (options.quiet || options.progressEngine)
        return Style::Off;
    if (options.progressLines || !isatty(STDERR_FILENO))
        return Style::Lines;
    return Style::Bar;
}

CliProgressDisplay::CliProgressDisplay(Style style) : m_style(style) {}

CliProgressDisplay::~CliProgressDisplay()
{
    std::lock_guard<std::mutex> lock(m_lock);
    Clear();
    CliProgressDisplay* self = this;
    g_active.compare_exchange_strong(self, nullptr);
}

void CliProgressDisplay::Begin(const char* phase, unsigned long long bytesTotal)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_phase = phase;
    m_step.clear();
    m_bytesTotal = bytesTotal;
    m_base = 0;
    m_span = bytesTotal;
    m_bytesDone = 0;
    m_lastPercent = -1;
    m_active = true;
    m_start = std::chrono::steady_clock::now();
    m_lastDraw = {};
    if (m_style != Style::Off)
        g_active = this;
    Show(0, 0, true);
}

void CliProgressDisplay::SetSpan(unsigned long long base, unsigned long long span)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_base = base;
    m_span = span;
    m_step.clear();
}

void CliProgressDisplay::Report(unsigned long long done, unsigned long long total, unsigned long long files)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (total == 0)
        return;
    const double fraction = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    Show(m_base + static_cast<unsigned long long>(fraction * static_cast<double>(m_span)), files, false);
}

void CliProgressDisplay::ReportBytes(unsigned long long bytesDone, unsigned long long files)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Show(bytesDone, files, false);
}

void CliProgressDisplay::SetStep(const char* step)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_step = step ? step : "";
}

void CliProgressDisplay::End(unsigned long long files)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_active)
        return;
    if (m_style == Style::Lines) {
        m_bytesDone = m_bytesTotal;
        if (m_lastPercent < 100)
            std::fprintf(stderr, "progress %s 100 %llu %llu %llu\n", m_phase.c_str(), m_bytesTotal, m_bytesTotal,
                         files);
        m_lastPercent = 100;
    }
    Clear();
    m_active = false;
}

void CliProgressDisplay::ClearActive()
{
    if (CliProgressDisplay* shown = g_active.load()) {
        std::lock_guard<std::mutex> lock(shown->m_lock);
        shown->Clear();
    }
}

// Under m_lock. Bytes never go back within a phase: the lines stay
// monotonic whatever the engine's counters do.
void CliProgressDisplay::Show(unsigned long long bytesDone, unsigned long long files, bool force)
{
    if (m_style == Style::Off || !m_active)
        return;
    m_bytesDone = std::min(std::max(m_bytesDone, bytesDone), m_bytesTotal);
    if (m_style == Style::Lines) {
        const int percent =
            m_bytesTotal == 0 ? 0
                              : static_cast<int>(static_cast<double>(m_bytesDone) * 100.0 /
                                                 static_cast<double>(m_bytesTotal));
        if (percent > m_lastPercent && percent < 100) {
            m_lastPercent = percent;
            std::fprintf(stderr, "progress %s %d %llu %llu %llu\n", m_phase.c_str(), percent, m_bytesDone,
                         m_bytesTotal, files);
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < kRedrawInterval)
        return;
    m_lastDraw = now;
    Draw(m_bytesDone, files);
}

void CliProgressDisplay::Draw(unsigned long long bytesDone, unsigned long long files)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const double percent =
        m_bytesTotal == 0 ? 0.0 : static_cast<double>(bytesDone) * 100.0 / static_cast<double>(m_bytesTotal);
    std::string line = m_step.empty() ? m_phase : m_step;
    char part[160];
    std::snprintf(part, sizeof part, "  %3.0f%%  %s of %s", percent, CliSize(bytesDone).c_str(),
                  CliSize(m_bytesTotal).c_str());
    line += part;
    if (seconds >= 1.0 && bytesDone > 0) {
        const double rate = static_cast<double>(bytesDone) / seconds;
        std::snprintf(part, sizeof part, "  %.1f MB/s  %s left", rate / 1e6,
                      Duration(static_cast<double>(m_bytesTotal - bytesDone) / rate).c_str());
        line += part;
    }
    std::snprintf(part, sizeof part, "  %llu %s", files, m_phase == "recovering" ? "files written" : "files found");
    line += part;
    // A line wider than the terminal would wrap and could not be redrawn.
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && line.size() >= size.ws_col)
        line.resize(size.ws_col - 1u);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void CliProgressDisplay::Clear()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}
