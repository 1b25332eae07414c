#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <vector>

// Timings of one figure over several runs. The machines we measure on are shared and noisy,
// so the median is what gets reported, never the mean or the best run.
class Samples
{
public:
    void add(double milliseconds) { m_values.push_back(milliseconds); }
    bool isEmpty() const { return m_values.empty(); }
    int count() const { return int(m_values.size()); }

    double median() const
    {
        if (m_values.empty())
            return std::nan("");
        std::vector<double> sorted = m_values;
        std::sort(sorted.begin(), sorted.end());
        const size_t middle = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    }

private:
    std::vector<double> m_values;
};

// Milliseconds since the timer started, with the timer's nanosecond resolution.
inline double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}
