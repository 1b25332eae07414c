#pragma once

#include <gui/platform/messagebox.h>

#include <QList>

#include <functional>

namespace platform {

// A message-box presenter for tests: records every box and answers from a script.
// Installs itself for its lifetime.
class ScriptedMessageBoxes final : public MessageBoxPresenter
{
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;

    // Answers given in order; when the script runs out, a box is answered with its first
    // button (OK or Yes).
    void queueAnswer(MessageAnswer answer) { m_answers.append(answer); }
    // Runs while a box is "open", before it is answered: lets a test act during the box.
    void setDuringBox(std::function<void(const MessageRequest &)> action)
    {
        m_duringBox = std::move(action);
    }

    MessageAnswer present(const MessageRequest &request) override;

    const QList<MessageRequest> &shown() const { return m_shown; }
    int count() const { return int(m_shown.size()); }
    MessageRequest last() const { return m_shown.isEmpty() ? MessageRequest{} : m_shown.last(); }
    void clear() { m_shown.clear(); }

private:
    QList<MessageAnswer> m_answers;
    QList<MessageRequest> m_shown;
    std::function<void(const MessageRequest &)> m_duringBox;
};

} // namespace platform
