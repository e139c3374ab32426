// The progress display on standard error: one line redrawn in place on a
// terminal, or stable lines for programs:
//   progress PHASE PERCENT BYTES_DONE BYTES_TOTAL FILES
// PHASE is "reading" (the scan) or "recovering" (the copy); PERCENT an
// integer 0..100, one line each time it grows and a last one at 100; FILES
// the files found (reading) or written (recovering) so far.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

struct CliOptions;

class CliProgressDisplay {
public:
    enum class Style { Off, Bar, Lines };
    // Off with --quiet; lines with --progress=lines or when standard error
    // is not a terminal; else the redrawn bar.
    static Style StyleFor(const CliOptions& options);

    explicit CliProgressDisplay(Style style);
    ~CliProgressDisplay();
    CliProgressDisplay(const CliProgressDisplay&) = delete;
    CliProgressDisplay& operator=(const CliProgressDisplay&) = delete;

    // Starts a phase over bytesTotal bytes.
    void Begin(const char* phase, unsigned long long bytesTotal);
    // The part [base, base + span) of the phase's bytes that the fractions
    // of Report() cover (one volume of several).
    void SetSpan(unsigned long long base, unsigned long long span);
    // Done/total of the current span, and the files so far.
    void Report(unsigned long long done, unsigned long long total, unsigned long long files);
    // Bytes done of the whole phase directly.
    void ReportBytes(unsigned long long bytesDone, unsigned long long files);
    // The bar's words for a step without a measure ("rebuilding trees").
    void SetStep(const char* step);
    // Ends the phase: the last line at 100, or the bar cleared.
    void End(unsigned long long files);

    // Clears the bar of the display being shown (if any) before a message.
    static void ClearActive();

private:
    void Show(unsigned long long bytesDone, unsigned long long files, bool force);
    void Draw(unsigned long long bytesDone, unsigned long long files);
    void Clear();

    Style m_style;
    std::mutex m_lock;
    std::string m_phase;
    std::string m_step;
    unsigned long long m_bytesTotal = 0;
    unsigned long long m_base = 0;
    unsigned long long m_span = 0;
    unsigned long long m_bytesDone = 0;
    int m_lastPercent = -1;
    bool m_drawn = false;
    bool m_active = false;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// "1.2 GB", "512 B": sizes in the summary and the display.
std::string CliSize(unsigned long long bytes);
