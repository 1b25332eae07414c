#pragma once

#include <QString>

namespace platform {

enum class MessageIcon { None, Information, Question, Critical };
enum class MessageButtons { Ok, OkCancel, YesNo };
// Closing a box without a button answers Cancel (OK/Cancel) or No (Yes/No).
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageRequest
{
    QString title;
    QString text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// Shows modal message boxes. The default shows a QMessageBox with plain text; tests install
// a scripted one.
class MessageBoxPresenter
{
public:
    virtual ~MessageBoxPresenter() = default;
    virtual MessageAnswer present(const MessageRequest &request) = 0;
};

// The application's title, which a box given no title carries.
QString applicationTitle();

// Shows one modal box through the installed presenter. An empty title becomes "Pelmora".
MessageAnswer showMessage(const QString &title,
                          const QString &text,
                          MessageIcon icon = MessageIcon::None,
                          MessageButtons buttons = MessageButtons::Ok);

// Installs a presenter (not owned); nullptr restores the default.
void setMessageBoxPresenter(MessageBoxPresenter *presenter);

} // namespace platform
