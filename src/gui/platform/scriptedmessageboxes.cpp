#include <gui/platform/scriptedmessageboxes.h>

namespace platform {

ScriptedMessageBoxes::ScriptedMessageBoxes()
{
    setMessageBoxPresenter(this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    setMessageBoxPresenter(nullptr);
}

MessageAnswer ScriptedMessageBoxes::present(const MessageRequest &request)
{
    m_shown.append(request);
    if (m_duringBox)
        m_duringBox(request);
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

} // namespace platform
