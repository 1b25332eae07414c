#include <gui/dialogs/searchdialog.h>

#include <core/contacts/contactstore.h>
#include <gui/platform/centring.h>
#include <gui/platform/commandbutton.h>
#include <gui/platform/fonts.h>
#include <gui/platform/messagebox.h>
#include <gui/platform/optiongroup.h>
#include <gui/platform/twips.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <limits>

using platform::twipsRect;

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

    auto *label1 = new QLabel(
        QStringLiteral("Welcome to Pelmora Search.  Please select what type of search you would "
                       "like to do.  Then press 'Search' to search for your criteria."),
        this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setWordWrap(true);
    label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label1->setGeometry(twipsRect(120, 120, 5415, 495));

    m_frame1 = new QGroupBox(QStringLiteral("Search Type"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(twipsRect(120, 840, 2295, 2655));
    m_optLast = addOption(QStringLiteral("optLast"), QStringLiteral("Last Name"), 240,
                          QStringLiteral("This will search the database for the last name of "
                                         "your search criteria."));
    m_optFirst = addOption(QStringLiteral("optFirst"), QStringLiteral("First Name"), 720,
                           QStringLiteral("This will search the database for the first name of "
                                          "your search criteria."));
    m_optNick = addOption(QStringLiteral("optNick"), QStringLiteral("Nick Name"), 1200,
                          QStringLiteral("This will search the database for the nick name of "
                                         "your search criteria."));
    m_optHome = addOption(QStringLiteral("optHome"), QStringLiteral("Home Phone"), 1680,
                          QStringLiteral("This will search the database for the home phone "
                                         "number of your search criteria."));
    m_optWork = addOption(QStringLiteral("optWork"), QStringLiteral("Work Phone"), 2160,
                          QStringLiteral("This will search the database for the work phone "
                                         "number of your search criteria."));
    m_optLast->setChecked(true);

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

    m_lblDescription = new QLabel(
        QStringLiteral("Select a Search Type and enter your Criteria and click 'Search'."), this);
    m_lblDescription->setObjectName(QStringLiteral("lblDescription"));
    m_lblDescription->setWordWrap(true);
    m_lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblDescription->setGeometry(twipsRect(480, 3600, 4815, 615));

    // The keyboard order of the stored layout, the options one stop that Tab enters at the
    // selected option; the typing cursor starts in txtSearch.
    setTabOrder(m_txtSearch, m_optWork);
    setTabOrder(m_optWork, m_optLast);
    setTabOrder(m_optLast, m_optFirst);
    setTabOrder(m_optFirst, m_optHome);
    setTabOrder(m_optHome, m_optNick);
    setTabOrder(m_optNick, cmdSearch);
    setTabOrder(cmdSearch, cmdClose);
    platform::makeOptionGroup({m_optLast, m_optFirst, m_optNick, m_optHome, m_optWork});
    m_txtSearch->setFocus();
}

QRadioButton *SearchDialog::addOption(const QString &name,
                                      const QString &caption,
                                      int top,
                                      const QString &description)
{
    auto *option = new QRadioButton(caption, m_frame1);
    option->setObjectName(name);
    option->setGeometry(twipsRect(120, top, 2055, 375));
    connect(option, &QRadioButton::clicked, this,
            [this, description] { m_lblDescription->setText(description); });
    return option;
}

ContactField SearchDialog::searchField() const
{
    const std::pair<QRadioButton *, ContactField> options[] = {
        {m_optLast, ContactField::LastName},  {m_optFirst, ContactField::FirstName},
        {m_optNick, ContactField::NickName},  {m_optHome, ContactField::HomePhone},
        {m_optWork, ContactField::WorkPhone},
    };
    for (const auto &[option, field] : options) {
        int othersSelected = 0;
        for (const auto &[other, unused] : options)
            othersSelected += other != option && other->isChecked();
        if (option->isChecked() && othersSelected == 0)
            return field;
    }
    return ContactField::LastName; // the group always has one option selected
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
