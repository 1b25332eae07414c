#include <gui/mainwindow/contactstatusbar.h>

#include <gui/mainwindow/keyboardlocks.h>

#include <gui/platform/fonts.h>
#include <gui/platform/twips.h>

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QTimer>

ContactStatusBar::ContactStatusBar(QWidget *parent)
    : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(false);
    // In a small window the bar lies over the grid and the fields: it must hide them.
    setAutoFillBackground(true);
    m_date = addPanel(QStringLiteral("panelDate"), {});
    m_time = addPanel(QStringLiteral("panelTime"), {});
    m_caps = addPanel(QStringLiteral("panelCaps"), QStringLiteral("CAPS"));
    m_num = addPanel(QStringLiteral("panelNum"), QStringLiteral("NUM"));
    m_insert = addPanel(QStringLiteral("panelIns"), QStringLiteral("INS"));
    m_scroll = addPanel(QStringLiteral("panelScrl"), QStringLiteral("SCRL"));
    m_insert->setEnabled(false);

    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, [this] {
        updateClock();
        updateLockStates();
    });
    m_clock->start();
    updateClock();
    updateLockStates();
    qApp->installEventFilter(this);
}

QLabel *ContactStatusBar::addPanel(const QString &name, const QString &text)
{
    auto *panel = new QLabel(text, this);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setMinimumWidth(platform::twips(1440));
    panel->setFixedWidth(platform::twips(1440));
    panel->setAlignment(Qt::AlignCenter);
    addWidget(panel);
    return panel;
}

void ContactStatusBar::toggleInsertMode()
{
    m_insertMode = !m_insertMode;
    m_insert->setEnabled(m_insertMode);
}

bool ContactStatusBar::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // A key press passes the filter once for each receiver on its way up; count it at
        // the widget that has the focus.
        if (key->key() == Qt::Key_Insert && !key->isAutoRepeat()
            && watched == QApplication::focusWidget())
            toggleInsertMode();
        if (key->key() == Qt::Key_CapsLock || key->key() == Qt::Key_NumLock
            || key->key() == Qt::Key_ScrollLock)
            QTimer::singleShot(50, this, &ContactStatusBar::updateLockStates);
    }
    return QStatusBar::eventFilter(watched, event);
}

void ContactStatusBar::updateClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    m_date->setText(locale.toString(now.date(), QLocale::ShortFormat));
    m_time->setText(locale.toString(now.time(), QLocale::ShortFormat));
}

void ContactStatusBar::updateLockStates()
{
    const std::optional<KeyboardLocks> locks = readKeyboardLocks();
    m_caps->setEnabled(locks && locks->caps);
    m_num->setEnabled(locks && locks->num);
    m_scroll->setEnabled(locks && locks->scroll);
}
