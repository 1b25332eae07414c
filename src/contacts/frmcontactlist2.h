#pragma once

#include <QHash>
#include <QWidget>

#include <functional>

// The main window: the contact list beside the current contact's fields, a toolbar of ten
// commands and a status bar.
class FrmContactList2 : public QWidget
{
    Q_OBJECT

public:
    explicit FrmContactList2(QWidget *parent = nullptr);
    ~FrmContactList2() override;

    // The load handler: points the store at cntdb.mdb and chooses the record order from
    // settings.ini, then opens the records. Returns false when the database cannot be used
    // (a message box has said why); the window must then not be shown.
    bool load();

    // The toolbar's click handler: runs the command of the button with this key.
    void dispatchCommand(const QString &key);

    // Commands that open other windows ("Search", "Sort", "Reports", "About") are wired in
    // by the application.
    void setWindowOpener(const QString &key, std::function<void()> open);

private:
    QHash<QString, std::function<void()>> m_windowOpeners;
};
