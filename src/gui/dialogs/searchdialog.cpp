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

using platform::twipsRect;

namespace {

// What lblDescription says once an option is clicked.
QString description(ContactField field)
{
    switch (field) {
    case ContactField::FirstName:
        return QStringLiteral("This will search the database for the first name of your search "
                              "criteria.");
    case ContactField::NickName:
        return QStringLiteral("This will search the database for the nick name of your search "
                              "criteria.");
    case ContactField::HomePhone:
        return QStringLiteral("This will search the database for the home phone number of your "
                              "search criteria.");
    case ContactField::WorkPhone:
        return QStringLiteral("This will search the database for the work phone number of your "
                              "search criteria.");
    default:
        break;
    }
    return QStringLiteral("This will search the database for the last name of your search "
                          "criteria.");
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

    platform::makeLabel(
        this, QStringLiteral("Label1"),
        QStringLiteral("Welcome to Pelmora Search.  Please select what type of search you would "
                       "like to do.  Then press 'Search' to search for your criteria."),
        twipsRect(120, 120, 5415, 495));

    m_frame1 = new QGroupBox(QStringLiteral("Search Type"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(twipsRect(120, 840, 2295, 2655));
    m_searchType = new QButtonGroup(this);
    QRadioButton *optLast = addOption(QStringLiteral("optLast"), QStringLiteral("Last Name"), 240,
                                      ContactField::LastName);
    QRadioButton *optFirst = addOption(QStringLiteral("optFirst"), QStringLiteral("First Name"),
                                       720, ContactField::FirstName);
    QRadioButton *optNick = addOption(QStringLiteral("optNick"), QStringLiteral("Nick Name"), 1200,
                                      ContactField::NickName);
    QRadioButton *optHome = addOption(QStringLiteral("optHome"), QStringLiteral("Home Phone"), 1680,
                                      ContactField::HomePhone);
    QRadioButton *optWork = addOption(QStringLiteral("optWork"), QStringLiteral("Work Phone"), 2160,
                                      ContactField::WorkPhone);
    optLast->setChecked(true);
    // The text changes on a click only, so at opening it still asks for a choice.
    connect(m_searchType, &QButtonGroup::idClicked, this,
            [this](int id) { m_lblDescription->setText(description(ContactField(id))); });

    auto *frame2 = new QGroupBox(QStringLiteral("Enter What to Search For"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(twipsRect(2520, 840, 3135, 855));
    m_txtSearch = new QLineEdit(frame2);
    m_txtSearch->setObjectName(QStringLiteral("txtSearch"));
    m_txtSearch->setAccessibleName(frame2->title());
    m_txtSearch->setMaxLength(std::numeric_limits<int>::max());
    m_txtSearch->setGeometry(twipsRect(120, 360, 2895, 285));

    auto *cmdSearch
        = platform::makeCommandButton(this, QStringLiteral("cmdSearch"), QStringLiteral("&Search"),
                                      twipsRect(3120, 1920, 1815, 495));
    connect(cmdSearch, &QPushButton::clicked, this, &SearchDialog::search);

    auto *cmdClose
        = platform::makeCommandButton(this, QStringLiteral("cmdClose"), QStringLiteral("&Close"),
                                      twipsRect(3120, 2520, 1815, 495));
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    m_lblDescription = platform::makeLabel(
        this, QStringLiteral("lblDescription"),
        QStringLiteral("Select a Search Type and enter your Criteria and click 'Search'."),
        twipsRect(480, 3600, 4815, 615));

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

QRadioButton *
SearchDialog::addOption(const QString &name, const QString &caption, int top, ContactField field)
{
    auto *option = new QRadioButton(caption, m_frame1);
    option->setObjectName(name);
    option->setGeometry(twipsRect(120, top, 2055, 375));
    m_searchType->addButton(option, int(field));
    return option;
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
