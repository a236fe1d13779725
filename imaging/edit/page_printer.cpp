#include "imaging/edit/page_printer.h"

#include "dispatch/dispatch_error.h"
#include "imaging/common/cups_catalogue.h"
#include "imaging/edit/page_raster.h"
#include "imaging/page_file/page_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <deque>

namespace imaging {

namespace {

using ErrorNumber::PrinterUnreachable;
using ErrorNumber::PrintFailed;

[[noreturn]] void fail(std::int32_t number, const QString& text)
{
    throw DispatchError(number, text, editProgId());
}

[[noreturn]] void printServiceDown()
{
    fail(ErrorNumber::PrintServiceDown,
         QStringLiteral("Der Druckdienst (CUPS) antwortet nicht, darum kann nicht gedruckt "
                        "werden. Bitte prüfen Sie, ob er läuft (etwa mit „systemctl status "
                        "cups“), und versuchen Sie es dann noch einmal. Die gescannte Seite "
                        "bleibt erhalten."));
}

QString cupsReason(const QString& printer)
{
    const ipp_status_t status = cupsLastError();
    const QString english = QString::fromUtf8(cupsLastErrorString());
    // In brackets, CUPS's words without a full stop of their own.
    QString detail = cupsGerman(english).isEmpty() ? english : cupsGerman(english);
    if (detail.endsWith(QLatin1Char('.')))
        detail.chop(1);
    switch (status) {
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_INTERNAL:
        return QStringLiteral("Der Druckdienst (CUPS) ist nicht erreichbar. Bitte prüfen Sie, ob "
                              "er läuft (%1).")
            .arg(detail);
    case IPP_STATUS_ERROR_NOT_FOUND:
        return QStringLiteral("Den Drucker „%1“ gibt es nicht mehr. Bitte wählen Sie unter "
                              "„Drucker“ einen anderen.")
            .arg(printer);
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
        return QStringLiteral("Der Drucker „%1“ nimmt zurzeit keine Aufträge an. Bitte prüfen "
                              "Sie ihn in der Druckerverwaltung.")
            .arg(printer);
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        return QStringLiteral("Sie dürfen auf dem Drucker „%1“ nicht drucken (%2).")
            .arg(printer, detail);
    default:
        return QStringLiteral("Der Druckauftrag für „%1“ wurde abgelehnt: %2")
            .arg(printer, cupsQuoted(english));
    }
}

// A request CUPS refused: a print service that has gone is said as such.
[[noreturn]] void cupsFailure(std::int32_t number, const QString& printer)
{
    const QString reason = cupsReason(printer);
    if (!printServiceAnswers())
        printServiceDown();
    fail(number, reason);
}

} // namespace

namespace {

QString temporaryPdf()
{
    QTemporaryFile pdf(QDir::tempPath() + QStringLiteral("/kopyra-XXXXXX.pdf"));
    pdf.setAutoRemove(false);
    if (!pdf.open())
        fail(PrintFailed, QStringLiteral("Für den Druck ist kein Platz im temporären Ordner."));
    return pdf.fileName();
}

[[noreturn]] void pdfUnreadable(const QFile& pdf)
{
    fail(PrintFailed, QStringLiteral("Die Druckdatei „%1“ lässt sich nicht lesen: %2")
                          .arg(pdf.fileName(), pdf.errorString()));
}

} // namespace

namespace {

// The raster made on a thread of its own while CUPS takes in what is made already; at most
// 16 MB wait between the two.
int sendRaster(const PrintJob& job)
{
    struct Pipe {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<QByteArray> parts;
        qint64 held = 0;
        bool done = false;
        std::exception_ptr failure;
    } pipe;
    std::atomic_bool abandon{false};
    auto hand = [&pipe, &abandon](QByteArray& part) {
        std::unique_lock lock(pipe.mutex);
        pipe.changed.wait(lock, [&] { return pipe.held < (16 << 20) || abandon; });
        if (abandon)
            throw PrintAbandoned();
        pipe.held += part.size();
        pipe.parts.push_back(std::move(part));
        part = QByteArray();
        pipe.changed.notify_all();
    };
    std::future<void> making = std::async(std::launch::async, [&] {
        try {
            QByteArray part;
            writePageRaster(
                job,
                [&](const char* bytes, std::size_t length) {
                    part.append(bytes, qsizetype(length));
                    if (part.size() >= (1 << 20))
                        hand(part);
                },
                &abandon);
            if (!part.isEmpty())
                hand(part);
        } catch (...) {
            const std::lock_guard lock(pipe.mutex);
            pipe.failure = std::current_exception();
        }
        const std::lock_guard lock(pipe.mutex);
        pipe.done = true;
        pipe.changed.notify_all();
    });
    // However the sending ends, the making ends with it.
    struct Stop {
        Pipe& pipe;
        std::atomic_bool& abandon;
        std::future<void>& making;
        ~Stop()
        {
            {
                const std::lock_guard lock(pipe.mutex);
                abandon = true;
                pipe.changed.notify_all();
            }
            making.wait();
        }
    } stop{pipe, abandon, making};
    return sendToPrinter(job, [&pipe]() -> QByteArray {
        std::unique_lock lock(pipe.mutex);
        pipe.changed.wait(lock, [&] { return !pipe.parts.empty() || pipe.done; });
        if (pipe.parts.empty()) {
            if (pipe.failure)
                std::rethrow_exception(pipe.failure);
            return {};
        }
        QByteArray part = std::move(pipe.parts.front());
        pipe.parts.pop_front();
        pipe.held -= part.size();
        pipe.changed.notify_all();
        return part;
    });
}

} // namespace

int printPage(const PrintJob& job)
{
    if (job.output == PrintSettings::Printer && job.raster.usable())
        return sendRaster(job);
    if (job.output == PrintSettings::PdfFile) {
        try {
            writePagePdf(job, job.pdfFile);
        } catch (...) {
            QFile::remove(job.pdfFile); // no half a copy among the user's documents
            throw;
        }
        return 0;
    }
    const QString pdf = temporaryPdf();
    int id = 0;
    try {
        writePagePdf(job, pdf);
        id = sendToPrinter(job, pdf);
    } catch (...) {
        QFile::remove(pdf);
        throw;
    }
    QFile::remove(pdf);
    return id;
}

struct CupsDestination {
    cups_dest_t* dest = nullptr;
    cups_dinfo_t* info = nullptr;
    CupsDestination() = default;
    CupsDestination(const CupsDestination&) = delete;
    CupsDestination& operator=(const CupsDestination&) = delete;
    ~CupsDestination()
    {
        if (info)
            cupsFreeDestInfo(info);
        if (dest)
            cupsFreeDests(1, dest);
    }
};

namespace {

// The printer must exist before a job is made for it. CUPS is asked once per printer chosen;
// the job, its document and its end all go by what it said then.
// A printer that cannot be found: the print service is not running, or it does not know
// the printer. The two want different things of the user.
[[noreturn]] void printerNotFound(const QString& printer)
{
    if (!printServiceAnswers())
        printServiceDown();
    if (printer.isEmpty())
        fail(PrinterUnreachable,
             QStringLiteral("Es ist kein Drucker mehr eingerichtet. Bitte richten Sie einen "
                            "Drucker ein, oder wählen Sie unter „Drucker“ einen anderen."));
    fail(PrinterUnreachable, QStringLiteral("Den Drucker „%1“ gibt es nicht. Bitte wählen "
                                            "Sie unter „Drucker“ einen anderen.")
                                 .arg(printer));
}

std::shared_ptr<const CupsDestination> lookUpDestination(const QString& printer)
{
    if (printer.isEmpty())
        printerNotFound(printer);
    auto destination = std::make_shared<CupsDestination>();
    destination->dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.toUtf8().constData(), nullptr);
    if (!destination->dest) {
        if (cupsLastError() == IPP_STATUS_OK || cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ||
            !printServiceAnswers())
            printerNotFound(printer);
        cupsFailure(PrinterUnreachable, printer);
    }
    destination->info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, destination->dest);
    if (!destination->info)
        cupsFailure(PrinterUnreachable, printer);
    return destination;
}

} // namespace

namespace {

// The printer's options remembered for it that it still offers: a choice its driver (PPD) no
// longer has is dropped, and the printer's default holds. CUPS's own job options (priority,
// banner pages, holding) are no driver's and always stay.
// Where the chosen print quality asks for a resolution of its own (a driverless queue's PPD:
// draft at the coarsest the printer takes, high at the finest), *dpi is set to it.
PrinterOptions stillOffered(const QString& printer, int* dpi)
{
    PrinterOptions options = printerOptions(printer);
    if (options.isEmpty())
        return options;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // The PPD is the only place CUPS names a queue's driver options and their choices.
    const char* path = cupsGetPPD2(CUPS_HTTP_DEFAULT, printer.toUtf8().constData());
    if (!path)
        return options;
    ppd_file_t* ppd = ppdOpenFile(path);
    ::unlink(path);
    if (!ppd)
        return options;
    // A driver's own duplex, booklet or stacking option (KMDuplex, EFDuplex, JCLDuplex …) puts
    // a copy on the back of the last one or reorders its sheets, whatever its name: known by
    // the driver constraining it against the sides or the output order.
    const auto sidesOrOrder = [](const QString& name) {
        return name == QLatin1String("Duplex") || name == QLatin1String("OutputOrder");
    };
    QSet<QString> againstSides;
    for (int i = 0; i < ppd->num_consts; ++i) {
        const QString a = QString::fromLatin1(ppd->consts[i].option1);
        const QString b = QString::fromLatin1(ppd->consts[i].option2);
        if (sidesOrOrder(a))
            againstSides.insert(b);
        if (sidesOrOrder(b))
            againstSides.insert(a);
    }
    // CUPS's own form of constraints: "*Option Choice *Option Choice …".
    for (ppd_attr_t* attr = ppdFindAttr(ppd, "cupsUIConstraints", nullptr); attr;
         attr = ppdFindNextAttr(ppd, "cupsUIConstraints", nullptr)) {
        QStringList named;
        for (const QString& word : QString::fromLatin1(attr->value).split(QLatin1Char(' ')))
            if (word.startsWith(QLatin1Char('*')))
                named << word.mid(1);
        if (std::any_of(named.begin(), named.end(), sidesOrOrder))
            for (const QString& name : named)
                if (!sidesOrOrder(name))
                    againstSides.insert(name);
    }
    options.removeIf([ppd, dpi, &againstSides](const std::pair<QString, QString>& option) {
        if (againstSides.contains(option.first))
            return true;
        ppd_option_t* known = ppdFindOption(ppd, option.first.toUtf8().constData());
        ppd_choice_t* choice =
            known ? ppdFindChoice(known, option.second.toUtf8().constData()) : nullptr;
        if (choice && option.first == QLatin1String("cupsPrintQuality") && choice->code) {
            static const QRegularExpression resolution(QStringLiteral("HWResolution\\[(\\d+)"));
            if (const auto found = resolution.match(QString::fromLatin1(choice->code));
                found.hasMatch())
                *dpi = found.captured(1).toInt();
        }
        return known && !choice;
    });
    ppdClose(ppd);
#pragma GCC diagnostic pop
    return options;
}

// Whether the printer's options ask for grey (a colour printer's "Farbmodus"), in the names
// CUPS gives it in a driverless printer's PPD or as the IPP attribute.
bool asksForGrey(const PrinterOptions& options)
{
    return std::any_of(options.begin(), options.end(), [](const auto& option) {
        return (option.first == QLatin1String("ColorModel") &&
                option.second.contains(QLatin1String("Gray"), Qt::CaseInsensitive)) ||
               (option.first == QLatin1String("print-color-mode") &&
                option.second == QLatin1String("monochrome"));
    });
}

} // namespace

void choosePrinter(PrintJob& job)
{
    job.printer = job.settings.effectivePrinter();
    if (job.printer.isEmpty())
        return;
    job.destination = lookUpDestination(job.printer);
    if (job.output == PrintSettings::Printer) {
        int qualityDpi = 0;
        job.printerOptions = stillOffered(job.printer, &qualityDpi);
        chooseHandover(job);
        // Where no filter runs, greyscale and the quality's resolution are the raster's own.
        if (asksForGrey(job.printerOptions))
            job.raster.colour = false;
        if (job.raster.usable() && qualityDpi > 0)
            job.raster.xDpi = job.raster.yDpi = qualityDpi;
    }
    if (job.settings.fitsIntoPrintableArea()) {
        // The edges the printer cannot print on for this paper, as CUPS tells them (from the
        // printer's driver or what a driverless printer says of itself).
        const QSizeF paperMm = job.settings.pageSize.size(QPageSize::Millimeter);
        cups_size_t size{};
        if (cupsGetDestMediaBySize(CUPS_HTTP_DEFAULT, job.destination->dest, job.destination->info,
                                   int(std::lround(paperMm.width() * 100)),
                                   int(std::lround(paperMm.height() * 100)),
                                   CUPS_MEDIA_FLAGS_DEFAULT, &size))
            job.marginsMm = QMarginsF(size.left, size.top, size.right, size.bottom) / 100;
    }
}

PdfInAdvance::PdfInAdvance(PrintJob job)
    : m_job(std::move(job))
{
    const QFileInfo page(m_job.pageFile);
    m_pageTime = page.lastModified();
    m_pageBytes = page.size();
    m_written = std::async(std::launch::async, [this] {
        // However it ends, whoever waits for the PDF hears of it.
        struct Finish {
            PdfInAdvance* self;
            ~Finish()
            {
                const std::lock_guard lock(self->m_mutex);
                self->m_finished = true;
                self->m_changed.notify_all();
            }
        } finish{this};
        // Fitted, the layout needs the printer's edges; at true size the bands are begun while
        // CUPS is asked what the printer takes (PDF or PostScript; nothing of this when it
        // takes raster).
        if (m_job.settings.fitsIntoPrintableArea()) {
            choose();
            if (!m_abandon)
                writeAhead(m_marginsMm);
            return;
        }
        auto chosen = std::async(std::launch::async, [this] { choose(); });
        try {
            writeAhead({}, [this, &chosen] {
                chosen.wait();
                const std::lock_guard lock(m_mutex);
                return m_postScript;
            });
        } catch (...) {
            chosen.wait();
            throw;
        }
        chosen.get();
    });
}

// The printer for the PDF, and its edges; without one (no printer at all, or one CUPS does
// not know) the PDF is abandoned: the print itself then finds out why.
void PdfInAdvance::choose()
{
    PrintJob job = m_job;
    try {
        choosePrinter(job);
    } catch (...) {
        m_abandon = true;
        throw;
    }
    if (job.printer.isEmpty()) {
        m_abandon = true; // no printer at all: copies become PDF files in the documents folder
        return;
    }
    const std::lock_guard lock(m_mutex);
    m_printer = job.printer;
    m_destination = job.destination;
    m_marginsMm = job.marginsMm;
    m_raster = job.raster;
    m_printerOptions = job.printerOptions;
    m_postScript = job.postScript;
    // The printer takes raster: no PDF is needed.
    if (m_raster.usable())
        m_abandon = true;
    m_chosen = true;
    m_changed.notify_all();
}

void PdfInAdvance::writeAhead(const QMarginsF& marginsMm,
                              const std::function<bool()>& postScriptWhenKnown)
{
    PrintJob job = m_job;
    job.marginsMm = marginsMm;
    job.postScript = m_postScript;
    const QString path = temporaryPdf();
    {
        const std::lock_guard lock(m_mutex);
        m_pdfPath = path;
    }
    writePagePdf(
        job, path, &m_abandon,
        [this](qint64 bytes) {
            const std::lock_guard lock(m_mutex);
            m_fileBytes = bytes;
            m_changed.notify_all();
        },
        postScriptWhenKnown);
}

PdfInAdvance::~PdfInAdvance()
{
    m_abandon = true;
    if (m_written.valid())
        m_written.wait();
    if (!m_pdfPath.isEmpty())
        QFile::remove(m_pdfPath);
}

bool PdfInAdvance::suits(const PrintJob& job) const
{
    const QFileInfo page(job.pageFile);
    return job.output == PrintSettings::Printer && job.pageFile == m_job.pageFile &&
           page.lastModified() == m_pageTime && page.size() == m_pageBytes &&
           job.settings.pageSize.isEquivalentTo(m_job.settings.pageSize) &&
           job.settings.sizeMode == m_job.settings.sizeMode &&
           job.settings.zoomPercent == m_job.settings.zoomPercent &&
           job.settings.pagesPerSheet == m_job.settings.pagesPerSheet &&
           job.settings.idCard == m_job.settings.idCard &&
           // The document holds the copies and the order of the sheets.
           job.settings.copies == m_job.settings.copies &&
           job.settings.collate == m_job.settings.collate &&
           job.settings.reverse == m_job.settings.reverse &&
           job.settings.twoSided == m_job.settings.twoSided &&
           job.assumedPaperMm == m_job.assumedPaperMm;
}

bool PdfInAdvance::sendFor(PrintJob& job)
{
    {
        // Chosen, the PDF is under way (its path is set before it is begun), or writing it
        // has ended in failure.
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] {
            return (m_chosen && (!m_pdfPath.isEmpty() || m_raster.usable())) || m_finished;
        });
        // Without a PDF of its own (no printer then, or no room for it) the print makes one.
        if (!m_chosen || (m_pdfPath.isEmpty() && !m_raster.usable()) ||
            job.settings.printer != m_job.settings.printer)
            return false;
        job.printer = m_printer;
        job.destination = m_destination;
        job.marginsMm = m_marginsMm;
        job.raster = m_raster;
        job.printerOptions = m_printerOptions;
        job.postScript = m_postScript;
    }
    if (job.raster.usable()) {
        job.jobId = sendRaster(job);
        return true;
    }
    QFile pdf(m_pdfPath);
    if (!pdf.open(QIODevice::ReadOnly))
        return false;
    qint64 sent = 0;
    job.jobId = sendToPrinter(job, [&]() -> QByteArray {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_fileBytes > sent || m_finished; });
        const qint64 available = m_fileBytes;
        lock.unlock();
        if (available == sent) {
            m_written.get(); // throws what writing the PDF threw
            return {};
        }
        QByteArray part = pdf.read(std::min<qint64>(available - sent, 1 << 20));
        if (part.isEmpty())
            pdfUnreadable(pdf);
        sent += part.size();
        return part;
    });
    return true;
}

namespace {

int jobOptions(const PrintJob& job, cups_option_t** options)
{
    int count = 0;
    // The printer's own options as chosen in its properties, those it still offers (never one
    // of Kopyra's own: printerOptions() leaves them out); first, so that Kopyra's own below
    // always hold.
    for (const auto& [name, choice] : job.printerOptions)
        count =
            cupsAddOption(name.toUtf8().constData(), choice.toUtf8().constData(), count, options);
    // The document holds every copy, its sheets in their order: the print system only passes
    // them on, neither scaling nor copying nor reordering them.
    count = cupsAddOption("copies", "1", count, options);
    count = cupsAddOption("outputorder", "normal", count, options);
    count = cupsAddOption("print-scaling", "none", count, options);
    count = cupsAddOption("fit-to-page", "false", count, options);
    count = cupsAddOption("sides", job.settings.twoSided ? "two-sided-long-edge" : "one-sided",
                          count, options);
    return cupsAddOption("media", job.settings.pageSize.key().toUtf8().constData(), count, options);
}

// Cancels a job whose document is still arriving, through a connection of its own: the
// default one is busy sending. Purged, it is never printed, not even in part.
void cancelIncomplete(const QByteArray& printer, int id)
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                30000, nullptr);
    cupsCancelJob2(http ? http : CUPS_HTTP_DEFAULT, printer.constData(), id, 1);
    if (http)
        httpClose(http);
}

} // namespace

ipp_t* queueAttributes(const QString& printer, std::initializer_list<const char*> names)
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", 0,
                     "/printers/%s", printer.toUtf8().constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(names.size()), nullptr, names.begin());
    return cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
}

int sendToPrinter(const PrintJob& job, const QString& pdfPath)
{
    QFile pdf(pdfPath);
    if (!pdf.open(QIODevice::ReadOnly))
        pdfUnreadable(pdf);
    return sendToPrinter(job, [&] {
        QByteArray part = pdf.read(1 << 20);
        if (part.isEmpty() && !pdf.atEnd())
            pdfUnreadable(pdf);
        return part;
    });
}

int sendToPrinter(const PrintJob& job, const std::function<QByteArray()>& next)
{
    const std::shared_ptr<const CupsDestination> destination =
        job.destination ? job.destination : lookUpDestination(job.printer);
    cups_dest_t* const dest = destination->dest;
    cups_dinfo_t* const info = destination->info;
    const QByteArray printer = job.printer.toUtf8();
    cups_option_t* options = nullptr;
    const int count = jobOptions(job, &options);
    int id = 0;
    const QByteArray title = job.title.toUtf8();
    const ipp_status_t created =
        cupsCreateDestJob(CUPS_HTTP_DEFAULT, dest, info, &id, title.constData(), count, options);
    cupsFreeOptions(count, options);
    if (id <= 0)
        cupsFailure(created == IPP_STATUS_ERROR_NOT_FOUND ? PrinterUnreachable : PrintFailed,
                    job.printer);
    const char* format = job.raster.usable() ? "image/pwg-raster"
                         : job.postScript    ? CUPS_FORMAT_POSTSCRIPT
                                             : CUPS_FORMAT_PDF;
    if (cupsStartDestDocument(CUPS_HTTP_DEFAULT, dest, info, id, "Kopie", format, 0, nullptr, 1) !=
        HTTP_STATUS_CONTINUE) {
        const QString reason = cupsReason(job.printer);
        cancelIncomplete(printer, id);
        fail(PrintFailed, reason);
    }
    try {
        for (QByteArray part = next(); !part.isEmpty(); part = next())
            if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, part.constData(), size_t(part.size())) !=
                HTTP_STATUS_CONTINUE)
                cupsFailure(PrintFailed, job.printer);
    } catch (...) {
        cancelIncomplete(printer, id);
        cupsFinishDestDocument(CUPS_HTTP_DEFAULT, dest, info);
        throw;
    }
    // Success may come with options substituted (paper the printer has not got, say).
    if (cupsFinishDestDocument(CUPS_HTTP_DEFAULT, dest, info) >= IPP_STATUS_REDIRECTION_OTHER_SITE)
        cupsFailure(PrintFailed, job.printer);
    return id;
}

} // namespace imaging
