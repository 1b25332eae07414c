#include <gui/dialogs/searchdialog.h>

#include <core/contacts/contactstore.h>
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
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <limits>

namespace {

enum class Kind { Label, Frame, Option, Edit, Button };

struct Control
{
    Kind kind;
    const char *name;
    const char *text; // a caption, or what a label says
    QRect rect;       // an option's or the edit box's lies in the frame above it
    ContactField field = ContactField::LastName; // an option's
    const char *description = nullptr;           // what lblDescription says once it is clicked
};

using platform::twipsRect;

// In creation order, which is the order the controls are drawn in.
constexpr Control controls[] = {
    {Kind::Label, "Label1",
     "Welcome to Pelmora Search.  Please select what type of search you would like to do.  "
     "Then press 'Search' to search for your criteria.",
     twipsRect(120, 120, 5415, 495)},
    {Kind::Frame, "Frame1", "Search Type", twipsRect(120, 840, 2295, 2655)},
    {Kind::Option, "optLast", "Last Name", twipsRect(120, 240, 2055, 375), ContactField::LastName,
     "This will search the database for the last name of your search criteria."},
    {Kind::Option, "optFirst", "First Name", twipsRect(120, 720, 2055, 375),
     ContactField::FirstName,
     "This will search the database for the first name of your search criteria."},
    {Kind::Option, "optNick", "Nick Name", twipsRect(120, 1200, 2055, 375), ContactField::NickName,
     "This will search the database for the nick name of your search criteria."},
    {Kind::Option, "optHome", "Home Phone", twipsRect(120, 1680, 2055, 375),
     ContactField::HomePhone,
     "This will search the database for the home phone number of your search criteria."},
    {Kind::Option, "optWork", "Work Phone", twipsRect(120, 2160, 2055, 375),
     ContactField::WorkPhone,
     "This will search the database for the work phone number of your search criteria."},
    {Kind::Frame, "Frame2", "Enter What to Search For", twipsRect(2520, 840, 3135, 855)},
    {Kind::Edit, "txtSearch", "", twipsRect(120, 360, 2895, 285)},
    {Kind::Button, "cmdSearch", "&Search", twipsRect(3120, 1920, 1815, 495)},
    {Kind::Button, "cmdClose", "&Close", twipsRect(3120, 2520, 1815, 495)},
    // The text changes on a click only, so at opening it still asks for a choice.
    {Kind::Label, "lblDescription",
     "Select a Search Type and enter your Criteria and click 'Search'.",
     twipsRect(480, 3600, 4815, 615)},
};

// The clicked option's description; the first option's for a field no option stands for.
QString description(ContactField field)
{
    const Control *found = nullptr;
    for (const Control &control : controls) {
        if (control.kind != Kind::Option)
            continue;
        if (!found || control.field == field)
            found = &control;
        if (control.field == field)
            break;
    }
    return QString::fromLatin1(found->description);
}

} // namespace

SearchDialog::SearchDialog(ContactStore &store, FailureReporter reportFailure)
    : QWidget(nullptr,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint)
    , m_store(store)
    , m_reportFailure(std::move(reportFailure))
{
    setObjectName(QStringLiteral("frmSearch2"));
    setWindowTitle(QStringLiteral("Pelmora - Search"));
    setFixedSize(platform::twipsSize(5760, 4380));
    setFont(platform::msSansSerif(8.25));

    m_searchType = new QButtonGroup(this);
    QGroupBox *frame = nullptr;
    for (const Control &control : controls) {
        const QString name = QString::fromLatin1(control.name);
        const QString text = QString::fromLatin1(control.text);
        switch (control.kind) {
        case Kind::Label:
            platform::makeLabel(this, name, text, control.rect);
            break;
        case Kind::Frame:
            frame = platform::makeFrame(this, name, text, control.rect);
            break;
        case Kind::Option:
            platform::addOption(m_searchType, frame, name, text, control.rect, int(control.field));
            break;
        case Kind::Edit:
            m_txtSearch = new QLineEdit(frame);
            m_txtSearch->setObjectName(name);
            m_txtSearch->setAccessibleName(frame->title());
            m_txtSearch->setMaxLength(std::numeric_limits<int>::max());
            m_txtSearch->setGeometry(control.rect);
            break;
        case Kind::Button:
            platform::makeCommandButton(this, name, text, control.rect);
            break;
        }
    }
    m_lblDescription = findChild<QLabel *>(QStringLiteral("lblDescription"));
    auto *cmdSearch = findChild<QPushButton *>(QStringLiteral("cmdSearch"));
    auto *cmdClose = findChild<QPushButton *>(QStringLiteral("cmdClose"));
    QAbstractButton *optLast = m_searchType->button(int(ContactField::LastName));
    QAbstractButton *optFirst = m_searchType->button(int(ContactField::FirstName));
    QAbstractButton *optNick = m_searchType->button(int(ContactField::NickName));
    QAbstractButton *optHome = m_searchType->button(int(ContactField::HomePhone));
    QAbstractButton *optWork = m_searchType->button(int(ContactField::WorkPhone));
    optLast->setChecked(true);

    connect(m_searchType, &QButtonGroup::idClicked, this,
            [this](int id) { m_lblDescription->setText(description(ContactField(id))); });
    connect(cmdSearch, &QPushButton::clicked, this, &SearchDialog::search);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    // The keyboard order of the stored layout, the options one stop that Tab enters at the
    // selected option; the typing cursor starts in txtSearch.
    setTabOrder(m_txtSearch, optWork);
    setTabOrder(optWork, optLast);
    setTabOrder(optLast, optFirst);
    setTabOrder(optFirst, optHome);
    setTabOrder(optHome, optNick);
    setTabOrder(optNick, cmdSearch);
    setTabOrder(cmdSearch, cmdClose);
    platform::makeOptionGroup(m_searchType);
    m_txtSearch->setFocus();
}

ContactField SearchDialog::searchField() const
{
    // The group is exclusive and starts with Last Name selected, so one option always is.
    const int checked = m_searchType->checkedId();
    return checked < 0 ? ContactField::LastName : ContactField(checked);
}

void SearchDialog::search()
{
    const ContactField field = searchField();
    const QString criterion = ContactStore::upperCased(m_txtSearch->text());
    const Result<bool> found = m_store.findForward(field, criterion, m_store.recordCount());
    if (!found) {
        m_reportFailure(QStringLiteral("The contact could not be saved, so the search stopped. "
                                       "What you typed is still in the fields."),
                        found.error());
    } else if (*found) {
        platform::showMessage(QString(), QStringLiteral("Match"));
        close();
    } else {
        platform::showMessage(QString(), QStringLiteral("No Match"));
        if (Result<void> read = m_store.refresh(); !read)
            m_reportFailure(QStringLiteral("The contacts could not be read again."), read.error());
    }
}

void SearchDialog::showEvent(QShowEvent *event)
{
    // Centred at every showing.
    platform::centreOnScreen(this);
    QWidget::showEvent(event);
}
