#pragma once

#include <QStatusBar>

class QLabel;
class QTimer;

// The main window's status bar: date, time, and the CAPS, NUM, INS and SCRL indicators.
// CAPS, NUM and SCRL follow the keyboard's lock lights (read through Xkb on X11, dimmed
// elsewhere); INS is the program's own insert mode, toggled by the Insert key, off at start.
class ContactStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit ContactStatusBar(QWidget *parent = nullptr);

    void toggleInsertMode();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateClock();
    void updateLockStates();
    QLabel *addPanel(const QString &name, const QString &text);

    QLabel *m_date = nullptr;
    QLabel *m_time = nullptr;
    QLabel *m_caps = nullptr;
    QLabel *m_num = nullptr;
    QLabel *m_insert = nullptr;
    QLabel *m_scroll = nullptr;
    QTimer *m_clock = nullptr;
    bool m_insertMode = false;
};
