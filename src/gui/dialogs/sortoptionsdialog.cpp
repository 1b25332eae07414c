#include <gui/dialogs/sortoptionsdialog.h>

#include <core/settings/settingsfiles.h>
#include <core/settings/settingswriter.h>

#include <gui/platform/centring.h>
#include <gui/platform/commandbutton.h>
#include <gui/platform/fonts.h>
#include <gui/platform/label.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/optiongroup.h>
#include <gui/platform/twips.h>

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

namespace {

QString description(settings::SortType type)
{
    switch (type) {
    case settings::SortType::FirstName:
        return QStringLiteral("Set this if you would like to sort your database by Firstname.");
    case settings::SortType::ContactId:
        return QStringLiteral("Set this if you would like to sort your database by Contact ID.");
    case settings::SortType::LastName:
        break;
    }
    return QStringLiteral("Set this if you would like to sort your database by Lastname.");
}

QRadioButton *
makeOption(QWidget *parent, const QString &name, const QString &caption, const QRect &rect)
{
    auto *option = new QRadioButton(caption, parent);
    option->setObjectName(name);
    option->setAccessibleName(caption);
    option->setGeometry(rect);
    return option;
}

} // namespace

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

    platform::makeLabel(
        this, QStringLiteral("Label1"),
        QStringLiteral("Welcome to Pelmora Record Sort.  Please select what type of sort you would "
                       "like to saved.  This will be loaded and will automatically sort your "
                       "database.  To save your sort setting please click save."),
        platform::twipsRect(120, 120, 5415, 735));

    m_frame1 = new QGroupBox(QStringLiteral("Sort Type"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setAccessibleName(m_frame1->title());
    m_frame1->setGeometry(platform::twipsRect(120, 960, 2295, 1695));
    QRadioButton *optLast
        = makeOption(m_frame1, QStringLiteral("optLast"), QStringLiteral("Last Name"),
                     platform::twipsRect(120, 240, 2055, 375));
    QRadioButton *optFirst
        = makeOption(m_frame1, QStringLiteral("optFirst"), QStringLiteral("First Name"),
                     platform::twipsRect(120, 720, 2055, 375));
    QRadioButton *optId
        = makeOption(m_frame1, QStringLiteral("optId"), QStringLiteral("Contact ID"),
                     platform::twipsRect(120, 1200, 2055, 375));
    m_sortType = new QButtonGroup(this);
    m_sortType->addButton(optLast, int(settings::SortType::LastName));
    m_sortType->addButton(optFirst, int(settings::SortType::FirstName));
    m_sortType->addButton(optId, int(settings::SortType::ContactId));
    optLast->setChecked(true);

    m_cmdSave
        = platform::makeCommandButton(this, QStringLiteral("cmdSave"), QStringLiteral("&Save"),
                                      platform::twipsRect(3120, 1320, 1815, 495));
    m_cmdClose
        = platform::makeCommandButton(this, QStringLiteral("cmdClose"), QStringLiteral("&Close"),
                                      platform::twipsRect(3120, 1920, 1815, 495));

    m_lblDescription = platform::makeLabel(this, QStringLiteral("lblDescription"),
                                           description(settings::SortType::LastName),
                                           platform::twipsRect(480, 2880, 4815, 615));

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
