#include "frmcontactlist2.h"

#include <platform/twips.h>

FrmContactList2::FrmContactList2(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmContactList2"));
    setWindowTitle(QStringLiteral("Pelmora - Contacts Listing"));
    resize(platform::twipsSize(13860, 10545));
}

FrmContactList2::~FrmContactList2() = default;

bool FrmContactList2::load()
{
    return true;
}

void FrmContactList2::dispatchCommand(const QString &key)
{
    if (const auto opener = m_windowOpeners.value(key))
        opener();
}

void FrmContactList2::setWindowOpener(const QString &key, std::function<void()> open)
{
    m_windowOpeners.insert(key, std::move(open));
}
