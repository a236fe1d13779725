#include "imaging/common/print_settings.h"

#include "imaging/common/imaging_settings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QStandardPaths>

#include <cups/cups.h>

#include <algorithm>

namespace imaging {

PrintSettings PrintSettings::load()
{
    PrintSettings p;
    const ImagingSettings s;
    p.printer = s.text(Settings::PrintPrinter);
    p.copies = s.number(Settings::PrintCopies);
    p.sizeMode = s.number(Settings::PrintSizeMode) == FitToPage ? FitToPage : TrueSize;
    p.zoomPercent = s.number(Settings::PrintZoom);
    p.twoSided = s.number(Settings::PrintTwoSided) == 1;
    p.collate = s.number(Settings::PrintCollate) == 1;
    p.reverse = s.number(Settings::PrintReverse) == 1;
    const int perSheet = s.number(Settings::PrintPagesPerSheet);
    p.pagesPerSheet = perSheet == 2 || perSheet == 4 ? perSheet : 1;
    const int id = s.number(Settings::PrintPageSize);
    if (id >= 0 && id < QPageSize::LastPageSize && id != QPageSize::Custom)
        p.pageSize = QPageSize(QPageSize::PageSizeId(id));
    return p;
}

void PrintSettings::save() const
{
    ImagingSettings s;
    s.set(Settings::PrintPrinter, printer);
    s.set(Settings::PrintCopies, copies);
    s.set(Settings::PrintSizeMode, int(sizeMode));
    s.set(Settings::PrintPageSize, int(pageSize.id()));
    s.set(Settings::PrintZoom, zoomPercent);
    s.set(Settings::PrintTwoSided, twoSided ? 1 : 0);
    s.set(Settings::PrintCollate, collate ? 1 : 0);
    s.set(Settings::PrintReverse, reverse ? 1 : 0);
    s.set(Settings::PrintPagesPerSheet, pagesPerSheet);
}

QList<int> PrintSettings::sheetOrder(int sheets) const
{
    QList<int> order;
    const int times = std::max(1, copies);
    const auto page = [&](int i) { return reverse ? sheets - 1 - i : i; };
    if (!collate) {
        for (int i = 0; i < sheets; ++i)
            for (int copy = 0; copy < times; ++copy)
                order.append(page(i));
        return order;
    }
    for (int copy = 0; copy < times; ++copy) {
        for (int i = 0; i < sheets; ++i)
            order.append(page(i));
        if (twoSided && sheets % 2 == 1 && copy + 1 < times)
            order.append(-1);
    }
    return order;
}

namespace {

QString optionsSection(const QString& printer)
{
    return QStringLiteral("PrinterOptions/") + printer;
}

} // namespace

PrinterOptions printerOptions(const QString& printer)
{
    PrinterOptions options;
    if (printer.isEmpty())
        return options;
    const QVariantMap stored = ImagingSettings().section(optionsSection(printer));
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
        options.append({it.key(), it.value().toString()});
    return options;
}

void savePrinterOptions(const QString& printer, const PrinterOptions& options)
{
    QVariantMap values;
    for (const auto& [name, choice] : options)
        values.insert(name, choice);
    ImagingSettings().replaceSection(optionsSection(printer), values);
}

PrintSettings PrintSettings::forIdCard() const
{
    PrintSettings card = *this;
    card.idCard = true;
    card.sizeMode = TrueSize;
    card.zoomPercent = 100;
    card.pagesPerSheet = 2;
    return card;
}

QSizeF PrintSettings::copyMm(const QSizeF& pageMm) const
{
    return sizeMode == TrueSize ? pageMm * (zoomPercent / 100.0) : pageMm;
}

bool PrintSettings::cutsOff(const QSizeF& pageMm) const
{
    // A scan area a little larger than the paper (rounded by the scanner) is no cut worth
    // telling.
    constexpr double ToleranceMm = 2;
    if (sizeMode == FitToPage || pagesPerSheet > 1 || pageMm.isEmpty())
        return false;
    const QSizeF copy = copyMm(pageMm);
    const QSizeF paper = pageSize.size(QPageSize::Millimeter);
    return copy.width() > paper.width() + ToleranceMm ||
           copy.height() > paper.height() + ToleranceMm;
}

QString PrintSettings::effectivePrinter() const
{
    // A remembered printer stands even when CUPS no longer knows it: printing then says so
    // instead of silently printing elsewhere. So CUPS is asked only without one.
    if (!printer.isEmpty())
        return printer;
    const QString fallback = QPrinterInfo::defaultPrinterName();
    if (!fallback.isEmpty())
        return fallback;
    const QStringList names = QPrinterInfo::availablePrinterNames();
    return names.isEmpty() ? QString() : names.first();
}

PrintSettings::Output PrintSettings::output() const
{
    return effectivePrinter().isEmpty() && printServiceAnswers() ? PdfFile : Printer;
}

bool printServiceAnswers()
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                3000, nullptr);
    if (!http)
        return false;
    httpClose(http);
    return true;
}

QString pdfCopyPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString path = folder + QStringLiteral("/Kopie ") + stamp + QStringLiteral(".pdf");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder + QStringLiteral("/Kopie ") + stamp + QStringLiteral(" (%1).pdf").arg(n);
    return path;
}

} // namespace imaging
