#include <gui/dialogs/searchdialog.h>

#include <core/contacts/contactstore.h>
#include <gui/platform/centring.h>
#include <gui/platform/controltable.h>
#include <gui/platform/fonts.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/optiongroup.h>
#include <gui/platform/twips.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

using Kind = platform::LayoutControl::Kind;
using platform::twipsRect;

constexpr platform::LayoutControl controls[] = {
    {Kind::Label, "Label1",
     "Welcome to Pelmora Search.  Please select what type of search you would like to do.  "
     "Then press 'Search' to search for your criteria.",
     twipsRect(120, 120, 5415, 495)},
    {Kind::Frame, "Frame1", "Search Type", twipsRect(120, 840, 2295, 2655)},
    {Kind::Option, "optLast", "Last Name", twipsRect(120, 240, 2055, 375),
     int(ContactField::LastName),
     "This will search the database for the last name of your search criteria."},
    {Kind::Option, "optFirst", "First Name", twipsRect(120, 720, 2055, 375),
     int(ContactField::FirstName),
     "This will search the database for the first name of your search criteria."},
    {Kind::Option, "optNick", "Nick Name", twipsRect(120, 1200, 2055, 375),
     int(ContactField::NickName),
     "This will search the database for the nick name of your search criteria."},
    {Kind::Option, "optHome", "Home Phone", twipsRect(120, 1680, 2055, 375),
     int(ContactField::HomePhone),
     "This will search the database for the home phone number of your search criteria."},
    {Kind::Option, "optWork", "Work Phone", twipsRect(120, 2160, 2055, 375),
     int(ContactField::WorkPhone),
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

} // namespace

std::span<const platform::LayoutControl> SearchDialog::layout()
{
    return controls;
}

QString SearchDialog::description(ContactField field)
{
    // A field no option stands for gets the first option's description.
    const QString text = platform::optionDescription(controls, int(field));
    return text.isNull() ? platform::optionDescription(controls, int(ContactField::LastName))
                         : text;
}

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
    platform::makeControls(this, m_searchType, controls);
    m_txtSearch = findChild<QLineEdit *>(QStringLiteral("txtSearch"));
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
