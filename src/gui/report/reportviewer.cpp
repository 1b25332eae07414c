#include <gui/report/reportviewer.h>

#include <gui/report/reportprinting.h>
#include <report/report.h>
#include <report/reportexport.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace reportui {

namespace {

QList<QPointer<ReportViewer>> &viewers()
{
    static QList<QPointer<ReportViewer>> list;
    return list;
}

constexpr int zoomSteps[] = {50, 75, 100, 125, 150, 200, 300};

struct FormatInfo
{
    const char *filter;
    const char *suffix;
};
// In the order of ReportViewer::Format.
constexpr FormatInfo formats[]
    = {{QT_TRANSLATE_NOOP("reportui::ReportViewer", "PDF files (*.pdf)"), "pdf"},
       {QT_TRANSLATE_NOOP("reportui::ReportViewer", "HTML files (*.html)"), "html"},
       {QT_TRANSLATE_NOOP("reportui::ReportViewer", "CSV files (*.csv)"), "csv"}};

// Where the next export dialog opens: the folder of the last export of this run.
QString &lastExportFolder()
{
    static QString folder = QDir::homePath();
    return folder;
}

// "phones" becomes "phones.csv"; a name that has an extension keeps it.
QString withSuffix(const QString &path, const char *suffix)
{
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    return path + (path.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."))
           + QLatin1String(suffix);
}

} // namespace

// The page in view, painted at the zoom whenever it is exposed.
class PageView : public QWidget
{
public:
    explicit PageView(ReportViewer *viewer)
        : m_viewer(viewer)
    {
        setObjectName(QStringLiteral("pageView"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    qreal scale() const { return m_viewer->zoomPercent() / 100.0 * logicalDpiX() / 1440.0; }

    QSize sizeHint() const override
    {
        const QSize page = m_viewer->report().pageSize();
        return QSize(int(page.width() * scale()) + 2 * margin,
                     int(page.height() * scale()) + 2 * margin);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(128, 128, 128));
        const QSize page = m_viewer->report().pageSize();
        const QRectF paper(margin, margin, page.width() * scale(), page.height() * scale());
        painter.fillRect(paper, Qt::white);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.translate(paper.topLeft());
        painter.scale(scale(), scale());
        m_viewer->report().paintPage(painter, m_viewer->currentPage());
    }

private:
    static constexpr int margin = 12;
    ReportViewer *m_viewer;
};

ReportViewer::ReportViewer(std::unique_ptr<reportengine::Report> report, ErrorReporter reportError)
    : m_report(std::move(report))
    , m_reportError(std::move(reportError))
    , m_askFile([this](const QString &suggestedPath, Format format) {
        return askFileWithDialog(suggestedPath, format);
    })
{
    setObjectName(QStringLiteral("ReportViewer"));
    setWindowTitle(m_report->title());
    setAttribute(Qt::WA_DeleteOnClose);
    // The main window decides when the program ends, not a report left open.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(900, 760);

    auto button = [this](const QString &name, const QString &text, const QString &tip) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAccessibleName(tip);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        return b;
    };
    QPushButton *first
        = button(QStringLiteral("cmdFirstPage"), QStringLiteral("|<"), tr("First Page"));
    QPushButton *previous
        = button(QStringLiteral("cmdPreviousPage"), QStringLiteral("<"), tr("Previous Page"));
    QPushButton *next = button(QStringLiteral("cmdNextPage"), QStringLiteral(">"), tr("Next Page"));
    QPushButton *last
        = button(QStringLiteral("cmdLastPage"), QStringLiteral(">|"), tr("Last Page"));
    m_pageBox = new QSpinBox(this);
    m_pageBox->setObjectName(QStringLiteral("spnPage"));
    m_pageBox->setAccessibleName(tr("Page"));
    m_pageBox->setRange(1, m_report->pageCount());
    m_pageCount = new QLabel(tr("of %1").arg(m_report->pageCount()), this);
    m_zoomBox = new QComboBox(this);
    m_zoomBox->setObjectName(QStringLiteral("cboZoom"));
    m_zoomBox->setAccessibleName(tr("Zoom"));
    for (int z : zoomSteps)
        m_zoomBox->addItem(QStringLiteral("%1%").arg(z), z);
    m_zoomBox->setCurrentIndex(m_zoomBox->findData(100));
    QPushButton *printButton = button(QStringLiteral("cmdPrint"), tr("&Print..."), tr("Print"));
    auto *exportButton = new QToolButton(this);
    exportButton->setObjectName(QStringLiteral("cmdExport"));
    exportButton->setText(tr("&Export"));
    exportButton->setAccessibleName(tr("Export"));
    exportButton->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(exportButton);
    menu->addAction(tr("PDF..."), this, [this] { exportWithDialog(Format::Pdf); });
    menu->addAction(tr("HTML..."), this, [this] { exportWithDialog(Format::Html); });
    menu->addAction(tr("CSV..."), this, [this] { exportWithDialog(Format::Csv); });
    exportButton->setMenu(menu);
    QPushButton *closeButton = button(QStringLiteral("cmdClose"), tr("&Close"), tr("Close"));

    auto *bar = new QHBoxLayout;
    for (QWidget *w :
         std::initializer_list<QWidget *>{first, previous, m_pageBox, m_pageCount, next, last,
                                          m_zoomBox, printButton, exportButton})
        bar->addWidget(w);
    bar->addStretch();
    bar->addWidget(closeButton);

    m_view = new PageView(this);
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("pageArea"));
    m_scroll->setWidget(m_view);
    m_scroll->setAlignment(Qt::AlignHCenter);
    m_scroll->setBackgroundRole(QPalette::Dark);
    // Ctrl+wheel zooms; the filter sees the wheel before the scroll area scrolls with it.
    m_scroll->viewport()->installEventFilter(this);

    m_status = new QStatusBar(this);
    m_status->setObjectName(QStringLiteral("statusBar"));
    m_status->setSizeGripEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_scroll);
    layout->addWidget(m_status);

    auto addShortcuts = [this](const QList<QKeySequence> &keys, const std::function<void()> &run) {
        auto *action = new QAction(this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, run);
        addAction(action);
    };
    addShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)},
                 [this] { close(); });
    // Ctrl+= too: on many layouts "+" is the shifted "=".
    addShortcuts(QKeySequence::keyBindings(QKeySequence::ZoomIn)
                     << QKeySequence(Qt::CTRL | Qt::Key_Equal),
                 [this] { zoomIn(); });
    addShortcuts(QKeySequence::keyBindings(QKeySequence::ZoomOut), [this] { zoomOut(); });
    addShortcuts({QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { setZoomPercent(100); });

    connect(first, &QPushButton::clicked, this, [this] { setCurrentPage(0); });
    connect(previous, &QPushButton::clicked, this, [this] { setCurrentPage(m_page - 1); });
    connect(next, &QPushButton::clicked, this, [this] { setCurrentPage(m_page + 1); });
    connect(last, &QPushButton::clicked, this,
            [this] { setCurrentPage(m_report->pageCount() - 1); });
    connect(m_pageBox, &QSpinBox::valueChanged, this,
            [this](int value) { setCurrentPage(value - 1); });
    connect(m_zoomBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { setZoomPercent(m_zoomBox->itemData(index).toInt()); });
    connect(printButton, &QPushButton::clicked, this, &ReportViewer::print);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    viewers().append(this);
    updateControls();
}

ReportViewer::~ReportViewer()
{
    viewers().removeAll(this);
    viewers().removeAll(nullptr);
}

void ReportViewer::setCurrentPage(int page)
{
    page = std::clamp(page, 0, m_report->pageCount() - 1);
    if (page == m_page)
        return;
    m_page = page;
    updateControls();
    m_scroll->ensureVisible(0, 0);
    m_view->update();
}

void ReportViewer::setZoomPercent(int percent)
{
    m_zoom = std::clamp(percent, 10, 400);
    updateControls();
    m_view->resize(m_view->sizeHint());
    m_view->update();
}

void ReportViewer::zoomIn()
{
    const int *next = std::upper_bound(std::begin(zoomSteps), std::end(zoomSteps), m_zoom);
    if (next != std::end(zoomSteps))
        setZoomPercent(*next);
}

void ReportViewer::zoomOut()
{
    const int *step = std::lower_bound(std::begin(zoomSteps), std::end(zoomSteps), m_zoom);
    if (step != std::begin(zoomSteps))
        setZoomPercent(*(step - 1));
}

void ReportViewer::updateControls()
{
    const QSignalBlocker pageBlocker(m_pageBox);
    m_pageBox->setValue(m_page + 1);
    const QSignalBlocker zoomBlocker(m_zoomBox);
    const int index = m_zoomBox->findData(m_zoom);
    if (index >= 0)
        m_zoomBox->setCurrentIndex(index);
    m_view->resize(m_view->sizeHint());
}

Result<void> ReportViewer::exportTo(const QString &path, Format format)
{
    Result<void> written;
    // A long listing takes seconds to write.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    switch (format) {
    case Format::Pdf:
        written = reportengine::exportPdf(*m_report, path);
        break;
    case Format::Html:
        written = reportengine::exportHtml(*m_report, path);
        break;
    case Format::Csv:
        written = reportengine::exportCsv(*m_report, path);
        break;
    }
    QApplication::restoreOverrideCursor();
    if (written) {
        m_status->showMessage(tr("Exported to %1").arg(QDir::toNativeSeparators(path)));
    } else {
        m_status->clearMessage();
        if (m_reportError)
            m_reportError(m_report->title(), written.error());
    }
    return written;
}

void ReportViewer::exportWithDialog(Format format)
{
    const char *suffix = formats[static_cast<int>(format)].suffix;
    const QString suggested
        = QDir(lastExportFolder())
              .filePath(m_report->title() + QLatin1Char('.') + QLatin1String(suffix));
    const QString chosen = m_askFile(suggested, format);
    if (chosen.isEmpty())
        return;
    const QString path = withSuffix(chosen, suffix);
    lastExportFolder() = QFileInfo(path).absolutePath();
    // A failure has gone to the error reporter.
    static_cast<void>(exportTo(path, format));
}

QString ReportViewer::askFileWithDialog(const QString &suggestedPath, Format format)
{
    const FormatInfo &info = formats[static_cast<int>(format)];
    const QFileInfo suggested(suggestedPath);
    QFileDialog dialog(this, tr("Export Report"), suggested.absolutePath(), tr(info.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The dialog then adds the extension itself and asks before replacing that file.
    dialog.setDefaultSuffix(QLatin1String(info.suffix));
    dialog.selectFile(suggested.fileName());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

void ReportViewer::print()
{
    QPrinter printer(QPrinter::HighResolution);
    // The report keeps its own margins; the printer's would come on top of them.
    printer.setFullPage(true);
    printer.setPageSize(QPageSize(QSizeF(m_report->pageSize()) / 20.0, QPageSize::Point));
    printer.setFromTo(1, m_report->pageCount());
    QPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange);
    dialog.setMinMax(1, m_report->pageCount());
    if (dialog.exec() != QDialog::Accepted)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Result<void> printed = printReport(*m_report, printer);
    QApplication::restoreOverrideCursor();
    if (!printed && m_reportError)
        m_reportError(m_report->title(), printed.error());
}

void ReportViewer::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_PageDown:
        setCurrentPage(m_page + 1);
        break;
    case Qt::Key_PageUp:
        setCurrentPage(m_page - 1);
        break;
    case Qt::Key_Home:
        setCurrentPage(0);
        break;
    case Qt::Key_End:
        setCurrentPage(m_report->pageCount() - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool ReportViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && watched == m_scroll->viewport()) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            // A mouse turns in notches of 120, a touchpad in many small steps.
            m_wheelDelta += wheel->angleDelta().y();
            for (; m_wheelDelta >= 120; m_wheelDelta -= 120)
                zoomIn();
            for (; m_wheelDelta <= -120; m_wheelDelta += 120)
                zoomOut();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void closeAllReportViewers()
{
    const QList<QPointer<ReportViewer>> open = viewers();
    for (const QPointer<ReportViewer> &viewer : open) {
        if (viewer)
            viewer->close();
    }
}

QList<ReportViewer *> openReportViewers()
{
    QList<ReportViewer *> list;
    for (const QPointer<ReportViewer> &viewer : std::as_const(viewers())) {
        if (viewer && viewer->isVisible())
            list.append(viewer);
    }
    return list;
}

} // namespace reportui
