#pragma once

#include <gui/platform/programexit.h>

// Stands in for ending the program at once: counts the requests instead.
class RecordingTerminator final : public platform::ProgramTerminator
{
public:
    void endNow() override { ++m_calls; }
    int calls() const { return m_calls; }

private:
    int m_calls = 0;
};
