#pragma once

#include <QWidget>

#include <functional>

class QPushButton;

// The About window: the product's name, version, credits and the maker's details. OK closes
// it and brings the main window to the front; the second button opens the
// program-information window.
class AboutDialog : public QWidget
{
    Q_OBJECT

public:
    // showMainWindow brings the main window to the front; the application passes it in, so
    // this window knows nothing of the main window.
    explicit AboutDialog(std::function<void()> showMainWindow, QWidget *parent = nullptr);
    ~AboutDialog() override;

private:
    void ok();

    std::function<void()> m_showMainWindow;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdProgramInfo = nullptr;
};
