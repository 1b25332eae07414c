#include <gui/dialogs/sortoptionsdialog.h>

#include <core/settings/settingsfiles.h>
#include <core/settings/settingswriter.h>

#include <gui/platform/centring.h>
#include <gui/platform/controltable.h>
#include <gui/platform/fonts.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/optiongroup.h>
#include <gui/platform/twips.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {

using Kind = platform::LayoutControl::Kind;
using platform::twipsRect;

constexpr platform::LayoutControl controls[] = {
    {Kind::Label, "Label1",
     "Welcome to Pelmora Record Sort.  Please select what type of sort you would like to "
     "saved.  This will be loaded and will automatically sort your database.  To save your "
     "sort setting please click save.",
     twipsRect(120, 120, 5415, 735)},
    {Kind::Frame, "Frame1", "Sort Type", twipsRect(120, 960, 2295, 1695)},
    {Kind::Option, "optLast", "Last Name", twipsRect(120, 240, 2055, 375),
     int(settings::SortType::LastName),
     "Set this if you would like to sort your database by Lastname."},
    {Kind::Option, "optFirst", "First Name", twipsRect(120, 720, 2055, 375),
     int(settings::SortType::FirstName),
     "Set this if you would like to sort your database by Firstname."},
    {Kind::Option, "optId", "Contact ID", twipsRect(120, 1200, 2055, 375),
     int(settings::SortType::ContactId),
     "Set this if you would like to sort your database by Contact ID."},
    {Kind::Button, "cmdSave", "&Save", twipsRect(3120, 1320, 1815, 495)},
    {Kind::Button, "cmdClose", "&Close", twipsRect(3120, 1920, 1815, 495)},
    // Says what the selected option does.
    {Kind::Label, "lblDescription", "", twipsRect(480, 2880, 4815, 615)},
};

} // namespace

std::span<const platform::LayoutControl> SortOptionsDialog::layout()
{
    return controls;
}

QString SortOptionsDialog::description(settings::SortType type)
{
    return platform::optionDescription(controls, int(type));
}

SortOptionsDialog::SortOptionsDialog(QWidget *parent)
    : QWidget(parent)
{
    // A dialog frame keeps the window out of the taskbar; no minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Pelmora - Sort Type"));
    setAccessibleName(windowTitle());
    // The window has no icon: a transparent one keeps it from taking the application's.
    QPixmap noIcon(16, 16);
    noIcon.fill(Qt::transparent);
    setWindowIcon(QIcon(noIcon));
    setFont(platform::msSansSerif(8.25));
    setFixedSize(platform::twipsSize(5655, 3735));

    m_sortType = new QButtonGroup(this);
    platform::makeControls(this, m_sortType, controls);
    m_cmdSave = findChild<QPushButton *>(QStringLiteral("cmdSave"));
    m_cmdClose = findChild<QPushButton *>(QStringLiteral("cmdClose"));
    m_lblDescription = findChild<QLabel *>(QStringLiteral("lblDescription"));
    QAbstractButton *optLast = m_sortType->button(int(settings::SortType::LastName));
    QAbstractButton *optFirst = m_sortType->button(int(settings::SortType::FirstName));
    QAbstractButton *optId = m_sortType->button(int(settings::SortType::ContactId));
    optLast->setChecked(true);
    showDescription(description(settings::SortType::LastName));

    // Keyboard order: Close, Save, then the option group, which Tab enters at its selected
    // option and the arrow keys walk.
    setTabOrder(m_cmdClose, m_cmdSave);
    setTabOrder(m_cmdSave, optId);
    setTabOrder(optId, optFirst);
    setTabOrder(optFirst, optLast);
    platform::makeOptionGroup(m_sortType);
    m_cmdClose->setFocus();

    connect(m_sortType, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            showDescription(description(settings::SortType(id)));
    });
    connect(m_cmdSave, &QPushButton::clicked, this, &SortOptionsDialog::save);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);

    platform::centreOnScreen(this);
}

SortOptionsDialog::~SortOptionsDialog() = default;

void SortOptionsDialog::save()
{
    // The group is exclusive and starts with Last Name selected, so one option always is.
    const int checked = m_sortType->checkedId();
    const auto type = checked < 0 ? settings::SortType::LastName : settings::SortType(checked);
    const Result<void> written = settings::writeSortType(settings::settingsIniPath(), type);
    if (!written) {
        platform::showMessage(
            QStringLiteral("Sort Type"),
            QStringLiteral("Your Sort Type could not be saved.\n\n%1").arg(written.error()),
            platform::MessageIcon::Critical);
        return;
    }
    platform::showMessage(QStringLiteral("Sort Type"),
                          QStringLiteral("Your Sort Type has been Saved. This setting will be "
                                         "updated when you restart the program."),
                          platform::MessageIcon::Information);
}

void SortOptionsDialog::showDescription(const QString &text)
{
    // Its accessible name is the text it shows.
    m_lblDescription->setText(text);
}
