#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QTimer;

// The splash window shown while the program starts: pictures, the product name, a progress
// bar and the timer whose first tick runs the rest of the start-up. It has no title bar, does
// not appear in the taskbar and opens in the centre of the screen.
class SplashWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SplashWindow(QWidget *parent = nullptr);
    ~SplashWindow() override;

    // Timer1: runs from the window's creation every millisecond until the window is closed.
    QTimer *timer() const { return m_timer; }
    QProgressBar *progressBar() const { return m_progressBar; }

    // Assigns ProgressBar1's value. Every assignment is announced, also when the value does
    // not change, so the length of the animation can be seen from outside.
    void setProgressValue(int value);

signals:
    void progressAssigned(int value);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *m_client = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QTimer *m_timer = nullptr;
};
