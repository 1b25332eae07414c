#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <cstdio>

// A progress bar on one line of standard error, for work that lasts: it appears only when
// standard error is a terminal and the work has run for more than a second, so scripts and
// quick runs see nothing of it. Messages printed while it shows go above it (clear() first).
class ProgressLine
{
public:
    // total 0: the amount is not known beforehand, and a count is shown instead of a bar.
    ProgressLine(const char *verb, const char *unit, qint64 total);
    ~ProgressLine();

    void update(qint64 done);
    // Takes the bar off its line, so that a message can be printed there; the next update
    // draws it again.
    void clear();

    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // The one bar showing now, which say() clears before it prints; null when none.
    static ProgressLine *active();

private:
    void draw(qint64 done);

    const char *m_verb;
    const char *m_unit;
    qint64 m_total;
    bool m_terminal;
    bool m_shown = false;
    QElapsedTimer m_started;
    qint64 m_lastDrawn = -1000;
};
