#include "progressline.h"

#include <algorithm>
#include <unistd.h>

namespace {

ProgressLine *activeLine = nullptr;

constexpr qint64 showAfterMs = 1000;
constexpr qint64 redrawEveryMs = 100;
constexpr int barWidth = 30;

} // namespace

ProgressLine::ProgressLine(const char *verb, const char *unit, qint64 total)
    : m_verb(verb)
    , m_unit(unit)
    , m_total(total)
    , m_terminal(isatty(STDERR_FILENO) == 1)
{
    m_started.start();
    activeLine = this;
}

ProgressLine::~ProgressLine()
{
    clear();
    if (activeLine == this)
        activeLine = nullptr;
}

ProgressLine *ProgressLine::active()
{
    return activeLine;
}

void ProgressLine::update(qint64 done)
{
    if (!m_terminal)
        return;
    const qint64 now = m_started.elapsed();
    if (now < showAfterMs || now - m_lastDrawn < redrawEveryMs)
        return;
    m_lastDrawn = now;
    draw(done);
}

void ProgressLine::draw(qint64 done)
{
    if (m_total > 0) {
        const double share = std::clamp(double(done) / double(m_total), 0.0, 1.0);
        const int filled = int(share * barWidth);
        char bar[barWidth + 1];
        std::fill(bar, bar + filled, '#');
        std::fill(bar + filled, bar + barWidth, '-');
        bar[barWidth] = '\0';
        std::fprintf(stderr, "\r%s [%s] %3d%%", m_verb, bar, int(share * 100));
    } else {
        std::fprintf(stderr, "\r%s: %lld %s", m_verb, static_cast<long long>(done), m_unit);
    }
    std::fflush(stderr);
    m_shown = true;
}

void ProgressLine::clear()
{
    if (!m_shown)
        return;
    // Carriage return, then erase to the end of the line.
    std::fputs("\r\033[K", stderr);
    m_shown = false;
}
