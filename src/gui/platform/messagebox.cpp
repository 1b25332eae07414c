#include <gui/platform/messagebox.h>

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {

class QtMessageBoxPresenter final : public MessageBoxPresenter
{
public:
    MessageAnswer present(const MessageRequest &request) override
    {
        QMessageBox box;
        box.setWindowTitle(request.title);
        // Names the user typed are never read as markup; double blanks stay as they are.
        box.setTextFormat(Qt::PlainText);
        box.setText(request.text);
        switch (request.icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        }
        switch (request.buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case MessageButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
            break;
        }
        const int answer = box.exec();
        switch (answer) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            return request.buttons == MessageButtons::YesNo ? MessageAnswer::No
                   : request.buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                            : MessageAnswer::Cancel;
        }
    }
};

QtMessageBoxPresenter &defaultPresenter()
{
    static QtMessageBoxPresenter presenter;
    return presenter;
}

MessageBoxPresenter *&installedPresenter()
{
    static MessageBoxPresenter *presenter = nullptr;
    return presenter;
}

} // namespace

QString applicationTitle()
{
    return QStringLiteral("Pelmora");
}

MessageAnswer
showMessage(const QString &title, const QString &text, MessageIcon icon, MessageButtons buttons)
{
    MessageRequest request{title.isEmpty() ? applicationTitle() : title, text, icon, buttons};
    MessageBoxPresenter *presenter = installedPresenter();
    return presenter ? presenter->present(request) : defaultPresenter().present(request);
}

void setMessageBoxPresenter(MessageBoxPresenter *presenter)
{
    installedPresenter() = presenter;
}

} // namespace platform
