#include "imaging/page_printer.h"

#include "imaging/dispatch_error.h"
#include "imaging/page_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <cups/cups.h>

#include <algorithm>

namespace imaging {

namespace {

constexpr std::int32_t PrintFailed = 9210;
constexpr std::int32_t PrinterUnreachable = 9212;

[[noreturn]] void fail(std::int32_t number, const QString& text)
{
    throw DispatchError(number, text, editControlSource());
}

QString cupsReason(const QString& printer)
{
    const ipp_status_t status = cupsLastError();
    const QString detail = QString::fromUtf8(cupsLastErrorString());
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
        return QStringLiteral("Der Druckauftrag für „%1“ wurde abgelehnt: %2").arg(printer, detail);
    }
}

} // namespace

QString editControlSource() { return QStringLiteral("ImgeditLibCtl.ImgEdit"); }

namespace {

QString temporaryPdf()
{
    QTemporaryFile pdf(QDir::tempPath() + QStringLiteral("/kopyra-XXXXXX.pdf"));
    pdf.setAutoRemove(false);
    if (!pdf.open())
        fail(PrintFailed, QStringLiteral("Für den Druck ist kein Platz im temporären Ordner."));
    return pdf.fileName();
}

} // namespace

void printPage(const PrintJob& job)
{
    if (job.output == PrintSettings::PdfFile) {
        writePagePdf(job, job.pdfFile);
        return;
    }
    const QString pdf = temporaryPdf();
    try {
        writePagePdf(job, pdf);
        sendToPrinter(job, pdf);
    } catch (...) {
        QFile::remove(pdf);
        throw;
    }
    QFile::remove(pdf);
}

void choosePrinter(PrintJob& job)
{
    job.printer = job.settings.effectivePrinter();
    if (job.settings.sizeMode == PrintSettings::FitToPage && !job.printer.isEmpty()) {
        // The edges the printer cannot print on, as its driver tells them.
        QPrinter printer(QPrinterInfo::printerInfo(job.printer));
        printer.setPageSize(job.settings.pageSize);
        QPageLayout layout = printer.pageLayout();
        layout.setUnits(QPageLayout::Millimeter);
        job.marginsMm = layout.minimumMargins();
    }
}

PdfInAdvance::PdfInAdvance(PrintJob job)
    : m_job(std::move(job))
{
    const QFileInfo page(m_job.pageFile);
    m_pageTime = page.lastModified();
    m_pageBytes = page.size();
    m_written = std::async(std::launch::async, [this] {
        choosePrinter(m_job);
        if (m_job.printer.isEmpty())
            return; // no printer at all: copies become PDF files in the documents folder
        m_pdfPath = temporaryPdf();
        writePagePdf(m_job, m_pdfPath, &m_abandon);
    });
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
           job.assumedPaperMm == m_job.assumedPaperMm;
}

QString PdfInAdvance::pdfFor(const PrintJob& chosen)
{
    if (m_written.valid())
        m_written.get();
    return chosen.printer == m_job.printer && chosen.marginsMm == m_job.marginsMm ? m_pdfPath
                                                                                  : QString();
}

void sendToPrinter(const PrintJob& job, const QString& pdfPath)
{
    const QByteArray printer = job.printer.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.constData(), nullptr);
    if (!dest)
        fail(PrinterUnreachable,
             cupsLastError() == IPP_STATUS_OK || cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND
                 ? QStringLiteral("Den Drucker „%1“ gibt es nicht. Bitte wählen "
                                  "Sie unter „Drucker“ einen anderen.")
                       .arg(job.printer)
                 : cupsReason(job.printer));
    cupsFreeDests(1, dest);

    cups_option_t* options = nullptr;
    int count = 0;
    count = cupsAddOption("copies", QByteArray::number(job.settings.copies).constData(), count,
                          &options);
    // The page is laid out already: CUPS must not scale it again.
    count = cupsAddOption("print-scaling", "none", count, &options);
    count = cupsAddOption("fit-to-page", "false", count, &options);
    count =
        cupsAddOption("media", job.settings.pageSize.key().toUtf8().constData(), count, &options);
    const int id = cupsPrintFile2(CUPS_HTTP_DEFAULT, printer.constData(),
                                  QFile::encodeName(pdfPath).constData(), "Kopie", count, options);
    cupsFreeOptions(count, options);
    if (id <= 0)
        fail(PrintFailed, cupsReason(job.printer));
}

} // namespace imaging
