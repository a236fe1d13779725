#pragma once

#include "imaging/edit/page_pdf.h"

#include <QByteArray>
#include <QDateTime>
#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <cups/ipp.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace imaging {

// For printer output: the printer the settings name (or the fallback), as CUPS describes it,
// and, when fitting, the edges it cannot print on. Asks CUPS, which may take long: not for the
// window's thread. Throws DispatchError when the named printer does not exist.
void choosePrinter(PrintJob& job);

// Writes the PDF and hands it to CUPS with its own scaling switched off, or saves it as a
// file. Runs on any thread; printer output needs choosePrinter first. Throws DispatchError
// with the user's German words.
// Returns CUPS's number for the job (0 for a PDF file).
int printPage(const PrintJob& job);

// The attributes of a CUPS queue as the scheduler has them now (Get-Printer-Attributes): the
// response, for ippDelete; null when CUPS does not answer. Waits for CUPS: not for the window's
// thread.
ipp_t* queueAttributes(const QString& printer, std::initializer_list<const char*> names);

// Hands a PDF laid out for the job's printer to CUPS; the job's number. Throws DispatchError.
int sendToPrinter(const PrintJob& job, const QString& pdfPath);

// The same for a PDF that is still being written: next() gives its next bytes, waiting for
// them, and an empty array at its end; what next() throws cancels the job and is thrown on.
int sendToPrinter(const PrintJob& job, const std::function<QByteArray()>& next);

// The PDF of a page for a printer, written on a thread of its own (printer chosen there too)
// as soon as the page is there: while the page is being shown, and while the user decides
// whether to print it, the work is done already. Abandoned (and its file removed) when it
// goes out of scope.
class PdfInAdvance {
public:
    explicit PdfInAdvance(PrintJob job);
    ~PdfInAdvance();
    PdfInAdvance(const PdfInAdvance&) = delete;
    PdfInAdvance& operator=(const PdfInAdvance&) = delete;

    // Whether the PDF may be the one this job needs: same page file, unchanged since, same
    // paper and size mode. Copies do not matter; the printer does them.
    bool suits(const PrintJob& job) const;
    // Hands the PDF to CUPS, on any thread, while it is still being written: CUPS takes in
    // the first bands while the last are being compressed. The printer is the one chosen
    // for the PDF, which the job takes over: asking CUPS again would only delay the print.
    // False (and nothing sent) when the job's settings name another printer, or no printer
    // could be chosen. Throws DispatchError, and what writing the PDF threw.
    bool sendFor(PrintJob& job);

private:
    void choose();
    void writeAhead(const QMarginsF& marginsMm,
                    const std::function<bool()>& postScriptWhenKnown = {});

    const PrintJob m_job; // as the print settings stood; the printer is chosen on the threads
    QDateTime m_pageTime;
    qint64 m_pageBytes = -1;
    std::atomic_bool m_abandon{false};

    std::mutex m_mutex; // guards what follows
    std::condition_variable m_changed;
    bool m_chosen = false; // the printer and edges are chosen
    QString m_printer;
    std::shared_ptr<const CupsDestination> m_destination;
    QMarginsF m_marginsMm;
    RasterTarget m_raster;
    PrinterOptions m_printerOptions;
    bool m_postScript = false;
    QString m_pdfPath;       // set before the PDF is begun
    qint64 m_fileBytes = 0;  // of the PDF on disk so far
    bool m_finished = false; // the thread has ended

    std::future<void> m_written;
};

} // namespace imaging
