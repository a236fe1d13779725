#include "imaging/edit/img_edit.h"

#include "imaging/common/background_work.h"
#include "imaging/common/imaging_settings.h"
#include "imaging/edit/page_printer.h"
#include "imaging/edit/print_feedback.h"
#include "imaging/edit/stack_print.h"
#include "imaging/page_file/card_sides.h"
#include "imaging/page_file/growing_stack.h"
#include "imaging/page_file/page_reader.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QToolButton>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <functional>

namespace imaging {

// Paints the page fitted into the control, from a copy scaled once per size change. A file of
// several pages (the document feeder's stack) gets a bar at the top to page through it, as do
// the keys Bild auf and Bild ab and the mouse wheel.
class EditView : public QWidget {
public:
    EditView(QWidget* parent, std::function<void(int)> turn, std::function<QString()> describe)
        : QWidget(parent)
        , m_turn(std::move(turn))
        , m_describe(std::move(describe))
    {
        // For a screen reader: what the area shows, told anew with every page.
        setAccessibleName(QStringLiteral("Seite"));
        setAccessibleDescription(m_describe());
        m_bar = new QWidget(this);
        m_bar->setObjectName(QStringLiteral("PageBar"));
        m_bar->setAutoFillBackground(true);
        auto* row = new QHBoxLayout(m_bar);
        row->setContentsMargins(4, 2, 4, 2);
        m_previous = new QToolButton(m_bar);
        m_previous->setObjectName(QStringLiteral("PreviousPage"));
        m_previous->setArrowType(Qt::LeftArrow);
        m_previous->setToolTip(QStringLiteral("Vorige Seite (Bild auf)"));
        m_previous->setAccessibleName(QStringLiteral("Vorige Seite"));
        m_label = new QLabel(m_bar);
        m_label->setObjectName(QStringLiteral("PageNumber"));
        m_next = new QToolButton(m_bar);
        m_next->setObjectName(QStringLiteral("NextPage"));
        m_next->setArrowType(Qt::RightArrow);
        m_next->setToolTip(QStringLiteral("Nächste Seite (Bild ab)"));
        m_next->setAccessibleName(QStringLiteral("Nächste Seite"));
        row->addWidget(m_previous);
        row->addWidget(m_label);
        row->addWidget(m_next);
        connect(m_previous, &QToolButton::clicked, this, [this] { m_turn(-1); });
        connect(m_next, &QToolButton::clicked, this, [this] { m_turn(1); });
        m_bar->hide();
    }

    // Page index (from 0) of count; the bar shows with more than one.
    void setPageNumber(int index, int count)
    {
        m_count = count;
        m_label->setText(QStringLiteral("Seite %1 von %2").arg(index + 1).arg(count));
        m_previous->setEnabled(index > 0);
        m_next->setEnabled(index + 1 < count);
        m_bar->setVisible(count > 1);
        placeBar();
        setAccessibleDescription(m_describe());
    }

    void setPage(const QImage& page, bool smooth)
    {
        m_page = page;
        m_smooth = smooth;
        m_scaled = QPixmap();
        update();
        setAccessibleDescription(m_describe());
    }

    void fit()
    {
        m_scaled = QPixmap();
        update();
    }

protected:
    void resizeEvent(QResizeEvent*) override { placeBar(); }

    // Bild auf and Bild ab page through the stack whichever widget of the window has the
    // focus (the copy button, after start and after every copy): the keys come up from it to
    // the window. Not a shortcut: one acts only in the window the system calls active, which
    // a window need not be to have the keyboard.
    void showEvent(QShowEvent*) override
    {
        if (m_keysFrom != window()) {
            if (m_keysFrom)
                m_keysFrom->removeEventFilter(this);
            m_keysFrom = window();
            m_keysFrom->installEventFilter(this);
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_keysFrom || event->type() != QEvent::KeyPress)
            return false;
        const auto* press = static_cast<QKeyEvent*>(event);
        const int step = press->key() == Qt::Key_PageUp     ? -1
                         : press->key() == Qt::Key_PageDown ? 1
                                                            : 0;
        if (step == 0 || (press->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        if (m_count > 1)
            m_turn(step);
        return true;
    }

    void wheelEvent(QWheelEvent* event) override
    {
        const int steps = event->angleDelta().y();
        if (m_count > 1 && steps != 0)
            m_turn(steps < 0 ? 1 : -1);
        event->accept();
    }

    void paintEvent(QPaintEvent*) override
    {
        if (m_page.isNull() || width() <= 0 || height() <= 0)
            return;
        if (m_scaled.isNull() || m_scaledFor != size()) {
            m_scaled = QPixmap::fromImage(
                m_page.scaled(size(), Qt::KeepAspectRatio,
                              m_smooth ? Qt::SmoothTransformation : Qt::FastTransformation));
            m_scaledFor = size();
        }
        QPainter p(this);
        p.drawPixmap((width() - m_scaled.width()) / 2, (height() - m_scaled.height()) / 2,
                     m_scaled);
    }

private:
    void placeBar()
    {
        m_bar->adjustSize();
        m_bar->move((width() - m_bar->width()) / 2, 0);
        m_bar->raise();
    }

    QImage m_page;
    QPixmap m_scaled;
    QSize m_scaledFor;
    bool m_smooth = true;
    std::function<void(int)> m_turn;
    std::function<QString()> m_describe;
    QPointer<QWidget> m_keysFrom; // the window whose keys turn the pages
    QWidget* m_bar;
    QToolButton* m_previous;
    QToolButton* m_next;
    QLabel* m_label;
    int m_count = 1;
};

ImgEdit::ImgEdit()
    : m_feedback(new PrintFeedback(this))
{
    QObject::connect(&m_follow, &QTimer::timeout, this, [this] { followStack(); });
}
ImgEdit::~ImgEdit() { dropPreparedPrint(); }

QString ImgEdit::progId() const { return editProgId(); }

QWidget* ImgEdit::createView(QWidget* site)
{
    m_view = new EditView(
        site, [this](int step) { turnPage(step); }, [this] { return viewDescription(); });
    m_view->setPage(m_page, m_quality != 0);
    m_view->setPageNumber(m_pageIndex, m_pageCount);
    m_feedback->setView(m_view);
    return m_view;
}

void ImgEdit::put(std::int32_t member, const Variant& value)
{
    switch (member) {
    case EditMember::ImageFile:
        m_imageFile = textArg(member, value);
        return;
    case EditMember::DisplayQuality: {
        const std::int32_t quality = intArg(member, value);
        if (quality != 0 && quality != 3)
            fail(ErrorNumber::EditUnsupportedValue,
                 QStringLiteral("Die Darstellungsqualität %1 gibt es nicht (0 oder 3).")
                     .arg(quality));
        m_quality = quality;
        return;
    }
    default:
        unknownMember(AccessKind::Put, member);
    }
}

Variant ImgEdit::call(std::int32_t member, const QList<Variant>& args)
{
    switch (member) {
    case EditMember::AssumedPaper: {
        requireArgCount(member, args, 2, 2);
        const std::int32_t w = intArg(member, args[0]);
        const std::int32_t h = intArg(member, args[1]);
        if (w <= 0 || h <= 0)
            fail(
                ErrorNumber::EditUnsupportedValue,
                QStringLiteral("Ein Papierformat von %1 × %2 mm ist nicht möglich.").arg(w).arg(h));
        m_assumedPaperMm = QSizeF(w, h);
        return {};
    }
    case EditMember::Fit: {
        requireArgCount(member, args, 1, 1);
        const std::int32_t mode = intArg(member, args[0]);
        if (mode != 0)
            fail(ErrorNumber::EditUnsupportedValue,
                 QStringLiteral("Die Einpassung %1 gibt es nicht (nur 0).").arg(mode));
        if (m_view)
            m_view->fit();
        return {};
    }
    case EditMember::Display: {
        requireArgCount(member, args, 1, 6);
        const QString file = textArg(member, args[0]);
        for (int i = 1; i < args.size() && i < 5; ++i)
            if (!isMissing(args[i]))
                intArg(member, args[i]);
        if (args.size() == 6)
            boolArg(member, args[5]);
        display(file);
        return {};
    }
    case EditMember::Refresh:
        requireArgCount(member, args, 0, 0);
        if (m_view)
            m_view->repaint();
        return {};
    case EditMember::Hint:
        requireArgCount(member, args, 1, 1);
        m_feedback->hint(textArg(member, args[0]));
        return {};
    case EditMember::Print: {
        requireArgCount(member, args, 4, 4);
        const std::int32_t copies = intArg(member, args[0]);
        const std::int32_t sizeMode = intArg(member, args[1]);
        const std::int32_t output = intArg(member, args[2]);
        boolArg(member, args[3]);
        const Setting& copiesRange = Settings::PrintCopies;
        if (copies < copiesRange.min || copies > copiesRange.max ||
            (sizeMode != 0 && sizeMode != 1) || (output != 0 && output != 1))
            fail(ErrorNumber::EditUnsupportedValue,
                 QStringLiteral("Druckeinstellungen %1, %2, %3 gibt es nicht (Kopien 1 bis 999, "
                                "Größe 0 oder 1, Ausgabe 0 oder 1).")
                     .arg(copies)
                     .arg(sizeMode)
                     .arg(output));
        print(copies, sizeMode, output);
        return {};
    }
    default:
        unknownMember(AccessKind::Call, member);
    }
}

Variant ImgEdit::read(std::int32_t member)
{
    switch (member) {
    case EditMember::ImageFile:
        return Variant::text(m_imageFile);
    case EditMember::DisplayQuality:
        return Variant::int32(m_quality);
    default:
        unknownMember(AccessKind::Read, member);
    }
}

QWidget* ImgEdit::dialogParent() const
{
    return m_view ? m_view->window() : QApplication::activeWindow();
}

namespace {

struct ShownPage {
    QImage copy;
    int count = 1; // pages in the file
    QSize size;
    QSizeF sizeMm;       // empty when the page records no resolution
    bool colour = false; // scanned in colour
    bool card = false;   // an ID card's sides
    QString why;
};

// The reduced copy for the display; two threads read a large page, also while it is being
// laid out for print: a copy's print waits for the page to be shown.
ShownPage readForDisplay(const QString& file, int page = 0)
{
    ShownPage shown;
    PageReader reader;
    if (reader.open(file, &shown.why, page))
        shown.copy =
            reader.reducedCopy(QSize(ImgEdit::DisplayLimit, ImgEdit::DisplayLimit), &shown.why);
    shown.size = reader.size();
    shown.count = reader.pageCount();
    shown.card = card::isSide(reader);
    shown.colour = reader.bandFormat() == PageReader::BandFormat::Colour;
    if (reader.xDpi() > 0 && reader.yDpi() > 0)
        shown.sizeMm = QSizeF(shown.size.width() / reader.xDpi() * 25.4,
                              shown.size.height() / reader.yDpi() * 25.4);
    return shown;
}

} // namespace

void ImgEdit::display(const QString& file)
{
    ++m_displayed;
    dropPreparedPrint();
    m_page = QImage();
    m_pageSize = QSize();
    m_pageMm = QSizeF();
    m_pageIndex = 0;
    m_pageCount = 1;
    m_shownFile.clear();
    m_stack = GrowingStack::of(file);
    const QString source = m_stack ? m_stack->file() : file;
    if (QFileInfo::exists(source)) {
        m_shownFile = file;
        // File times lag the clock by a tick or so. A stack still growing is laid out as it
        // is printed, sheet by sheet.
        if (!m_stack && QFileInfo(file).lastModified() > m_created.addSecs(-2))
            prepareToPrint();
        if (m_view && !m_view->isVisible()) {
            displayWhenRead(source);
            return;
        }
        // A large page takes a moment to read: the window keeps painting meanwhile.
        ShownPage shown;
        runInBackground(QStringLiteral("Die Seite wird geladen …"), dialogParent(),
                        [&] { shown = readForDisplay(source); });
        if (shown.copy.isNull()) {
            dropPreparedPrint();
            m_shownFile.clear();
            if (m_view)
                m_view->setPage(m_page, m_quality != 0);
            fail(ErrorNumber::PageUnreadable,
                 QStringLiteral("Die Seite „%1“ kann nicht angezeigt werden: %2")
                     .arg(file, shown.why));
        }
        m_page = std::move(shown.copy);
        m_pageSize = shown.size;
        m_pageMm = shown.sizeMm;
        m_pageColour = shown.colour;
        m_pageCount = shown.count;
        if (!shown.card)
            warnIfCutOff(m_pageMm);
    }
    followStack();
    // Before the first copy there is no page yet: an empty area.
    if (m_view) {
        m_view->setPage(m_page, m_quality != 0);
        m_view->setPageNumber(m_pageIndex, m_pageCount);
    }
}

// A copy at the chosen size that does not fit the paper is told with the page, before the
// print question and before any paper is used; the copy goes on as the user set it.
void ImgEdit::warnIfCutOff(const QSizeF& pageMm)
{
    const PrintSettings settings = PrintSettings::load();
    if (!settings.cutsOff(pageMm))
        return;
    const QSizeF copy = settings.copyMm(pageMm);
    const QSizeF paper = settings.pageSize.size(QPageSize::Millimeter);
    m_feedback->hint(
        QStringLiteral("Die Kopie (%1 × %2 mm) ist größer als das Papier (%3 × %4 mm): Der Rand "
                       "wird abgeschnitten. Für die ganze Seite wählen Sie unter „Drucker“ "
                       "„An Seite anpassen“.")
            .arg(qRound(copy.width()))
            .arg(qRound(copy.height()))
            .arg(qRound(paper.width()))
            .arg(qRound(paper.height())));
}

// Another page of the file, read on a thread: the window keeps painting, and turning on
// while a page is read asks for the one after.
void ImgEdit::turnPage(int step)
{
    const int wanted = std::clamp(m_pageIndex + step, 0, m_pageCount - 1);
    if (wanted == m_pageIndex || m_shownFile.isEmpty())
        return;
    m_pageIndex = wanted;
    if (m_view)
        m_view->setPageNumber(m_pageIndex, m_pageCount);
    const int displayed = ++m_displayed;
    const QString file = readFrom();
    auto shown = std::make_shared<ShownPage>();
    runThen(
        this, [file, wanted, shown] { *shown = readForDisplay(file, wanted); },
        [this, displayed, shown](std::exception_ptr failure) {
            if (displayed != m_displayed || failure || shown->copy.isNull())
                return; // another page wanted by now, or this one unreadable: the last stays
            m_page = std::move(shown->copy);
            m_pageSize = shown->size;
            m_pageMm = shown->sizeMm;
            m_pageColour = shown->colour;
            if (m_view)
                m_view->setPage(m_page, m_quality != 0);
        });
}

QString ImgEdit::viewDescription() const
{
    if (m_page.isNull())
        return QStringLiteral("Keine Seite");
    QString text = QStringLiteral("Seite %1 von %2").arg(m_pageIndex + 1).arg(m_pageCount);
    if (!m_pageMm.isEmpty())
        text += QStringLiteral(", %1 × %2 mm")
                    .arg(qRound(m_pageMm.width()))
                    .arg(qRound(m_pageMm.height()));
    return text + (m_pageColour ? QStringLiteral(", Farbe") : QStringLiteral(", Graustufen"));
}

// The window is not on screen yet (start-up shows the page left from the last run): nobody
// waits for the page, so the window comes up at once with an empty area and the page follows
// when it has been read. A page that cannot be read leaves the area empty, with a warning.
void ImgEdit::displayWhenRead(const QString& file)
{
    if (m_view)
        m_view->setPage(m_page, m_quality != 0);
    const int displayed = m_displayed;
    auto shown = std::make_shared<ShownPage>();
    runThen(
        this, [file, shown] { *shown = readForDisplay(file); },
        [this, file, displayed, shown](std::exception_ptr failure) {
            // Nothing to do when the control shows another page by now.
            if (displayed != m_displayed)
                return;
            if (failure || shown->copy.isNull()) {
                dropPreparedPrint();
                m_shownFile.clear();
                qWarning("Die Seite „%s“ kann nicht angezeigt werden: %s", qPrintable(file),
                         failure ? "zu wenig Speicher oder innerer Fehler"
                                 : qPrintable(shown->why));
                return;
            }
            m_page = std::move(shown->copy);
            m_pageSize = shown->size;
            m_pageMm = shown->sizeMm;
            m_pageColour = shown->colour;
            m_pageCount = shown->count;
            if (m_view)
                m_view->setPageNumber(m_pageIndex, m_pageCount);
            if (m_view)
                m_view->setPage(m_page, m_quality != 0);
        });
}

// Told before, said again with the copy: the line of before is gone by now.
QString ImgEdit::cutNote(const PrintSettings& settings) const
{
    return settings.cutsOff(m_pageMm)
               ? QStringLiteral("Der Rand ist abgeschnitten; „An Seite anpassen“ unter "
                                "„Drucker“ druckt die ganze Seite.")
               : QString();
}

void ImgEdit::followStack()
{
    if (!m_stack) {
        m_follow.stop();
        return;
    }
    const GrowingStack::State state = m_stack->state();
    if (state.pages > 0 && state.pages != m_pageCount) {
        m_pageCount = state.pages;
        if (m_view)
            m_view->setPageNumber(m_pageIndex, m_pageCount);
    }
    if (state.ended) {
        // The page file holds the stack now, or the pages complete when it failed. A failure
        // no print tells (the copy not printed) is told here, without stopping anything.
        if (state.failed && !m_printingStack) {
            try {
                std::rethrow_exception(state.failed);
            } catch (const DispatchError& e) {
                m_feedback->hint(
                    QStringLiteral("%1 Die Seiten davor sind gescannt.").arg(e.description()));
            } catch (...) {
            }
        }
        m_stack.reset();
        m_follow.stop();
    } else if (!m_follow.isActive()) {
        m_follow.start(250);
    }
}

QString ImgEdit::readFrom() const { return m_stack ? m_stack->file() : m_shownFile; }

PrintJob ImgEdit::printJob(std::int32_t copies, PrintSettings::SizeMode sizeMode,
                           PrintSettings::Output output) const
{
    PrintJob job;
    job.pageFile = m_shownFile;
    job.settings = PrintSettings::load();
    job.settings.copies = copies;
    job.settings.sizeMode = sizeMode;
    if (card::isCardCopy(job.pageFile))
        job.settings = job.settings.forIdCard();
    job.output = output;
    job.assumedPaperMm = m_assumedPaperMm;
    if (job.output == PrintSettings::PdfFile)
        job.pdfFile = pdfCopyPath();
    return job;
}

// Lays the page out for the printer the print settings name, as they stand now.
void ImgEdit::prepareToPrint()
{
    const PrintSettings settings = PrintSettings::load();
    m_prepared = std::make_shared<PdfInAdvance>(
        printJob(settings.copies, settings.sizeMode, PrintSettings::Printer));
}

// Waiting for an abandoned PDF takes up to one band of work: that wait is not the window's.
void ImgEdit::dropPreparedPrint()
{
    if (m_prepared)
        runThen(
            this, [dropped = std::move(m_prepared)]() mutable { dropped.reset(); },
            [](std::exception_ptr) {});
    m_prepared.reset();
}

void ImgEdit::print(std::int32_t copies, std::int32_t sizeMode, std::int32_t output)
{
    if (m_shownFile.isEmpty())
        fail(ErrorNumber::NothingShown,
             QStringLiteral("Es wird keine Seite angezeigt, die gedruckt werden "
                            "könnte. Bitte scannen Sie zuerst eine Seite ein."));
    PrintJob job =
        printJob(copies, sizeMode == 1 ? PrintSettings::FitToPage : PrintSettings::TrueSize,
                 output == 1 ? PrintSettings::PdfFile : PrintSettings::Printer);
    followStack();
    if (m_stack) {
        printStack(std::move(job));
        return;
    }
    std::shared_ptr<PdfInAdvance> prepared;
    if (m_prepared && m_prepared->suits(job))
        prepared = std::move(m_prepared);
    dropPreparedPrint();
    // Asking CUPS for the printer is work for the background too.
    runInBackground(QStringLiteral("Die Seite wird gedruckt …"), dialogParent(), [&job, prepared] {
        if (job.output == PrintSettings::Printer) {
            if (prepared && prepared->sendFor(job))
                return;
            choosePrinter(job);
        }
        job.jobId = printPage(job);
    });
    m_lastPdfCopy = job.pdfFile;
    const QString cut = cutNote(job.settings);
    if (job.output == PrintSettings::PdfFile)
        m_feedback->savedAsPdf(job.pdfFile, cut);
    else
        m_feedback->sentToPrinter(job.printer, {job.jobId}, job.settings.copies,
                                  job.settings.sheetsFor(m_pageCount), cut);
}

// The feeder's stack while it is still being scanned: sheet by sheet as its pages come, or
// once it is all in where the order needs that (the status line says why).
void ImgEdit::printStack(PrintJob job)
{
    const QString why = whyWaitForStack(job.settings, job.output);
    if (!why.isEmpty())
        m_feedback->hint(why);
    const std::shared_ptr<GrowingStack> stack = m_stack;
    StackPrinted printed;
    m_printingStack = true;
    const auto printing = qScopeGuard([this] { m_printingStack = false; });
    // One line for the whole copy, however many jobs it took, with what came out.
    const auto tell = [&](const QString& note) {
        followStack();
        if (job.output == PrintSettings::PdfFile) {
            if (printed.pages > 0) {
                m_lastPdfCopy = job.pdfFile;
                m_feedback->savedAsPdf(job.pdfFile, note);
            }
        } else if (printed.pages > 0) {
            m_feedback->sentToPrinter(printed.printer, printed.jobIds, job.settings.copies,
                                      job.settings.sheetsFor(printed.pages), note);
        }
    };
    try {
        printGrowingStack(job, stack, dialogParent(), printed);
    } catch (...) {
        tell(QString());
        throw;
    }
    if (!printed.cancelled) {
        tell(cutNote(job.settings));
    } else if (printed.pages > 0) {
        tell(QStringLiteral("Abgebrochen: Was danach kam, ist nicht gedruckt"));
    } else {
        followStack();
        m_feedback->hint(QStringLiteral("Kopieren abgebrochen: Es wurde nichts gedruckt."));
    }
}

} // namespace imaging
