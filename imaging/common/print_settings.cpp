#include "imaging/common/print_settings.h"

#include "imaging/common/imaging_settings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QRegularExpression>
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

QList<int> PrintSettings::sheetOrder(int faces) const
{
    // A copier stacks sheets: both sides of a sheet stay together whatever the order, a
    // sheet's back left blank where a copy ends on a front.
    const int sides = twoSided ? 2 : 1;
    QList<QList<int>> sheets;
    for (int face = 0; face < faces; face += sides) {
        QList<int> sheet{face};
        if (sides == 2)
            sheet.append(face + 1 < faces ? face + 1 : -1);
        sheets.append(sheet);
    }
    if (reverse)
        std::reverse(sheets.begin(), sheets.end());
    QList<int> order;
    const int times = std::max(1, copies);
    if (collate) {
        for (int copy = 0; copy < times; ++copy)
            for (const QList<int>& sheet : sheets)
                order.append(sheet);
    } else {
        for (const QList<int>& sheet : sheets)
            for (int copy = 0; copy < times; ++copy)
                order.append(sheet);
    }
    // The last sheet's blank back is no page of its own.
    if (!order.isEmpty() && order.last() == -1)
        order.removeLast();
    return order;
}

namespace {

QString optionsSection(const QString& printer)
{
    return QStringLiteral("PrinterOptions/") + printer;
}

} // namespace

bool isKopyrasOwnOption(const QString& name)
{
    // Kopyra lays the copy out itself (size, several on a sheet, the order of sheets and
    // copies); job options (holding, banner pages, priority) are no printer's and are not
    // remembered: the dialog would not show them again.
    static const QStringList own{
        QStringLiteral("copies"),          QStringLiteral("collate"),
        QStringLiteral("Collate"),         QStringLiteral("outputorder"),
        QStringLiteral("OutputOrder"),     QStringLiteral("sides"),
        QStringLiteral("Duplex"),          QStringLiteral("media"),
        QStringLiteral("PageSize"),        QStringLiteral("PageRegion"),
        QStringLiteral("print-scaling"),   QStringLiteral("fit-to-page"),
        QStringLiteral("fitplot"),         QStringLiteral("scaling"),
        QStringLiteral("natural-scaling"), QStringLiteral("ppi"),
        QStringLiteral("position"),        QStringLiteral("mirror"),
        QStringLiteral("number-up"),       QStringLiteral("number-up-layout"),
        QStringLiteral("page-border"),     QStringLiteral("page-set"),
        QStringLiteral("page-ranges"),     QStringLiteral("orientation-requested"),
        QStringLiteral("landscape"),       QStringLiteral("multiple-document-handling"),
        QStringLiteral("page-delivery"),
    };
    return own.contains(name, Qt::CaseInsensitive) || name.startsWith(QLatin1String("job-"));
}

namespace {

// A name and choice CUPS takes: a keyword of letters, digits and "-_." and a value of printable
// characters, as a damaged or hand-edited file may not have them.
bool wellFormed(const QString& name, const QString& choice)
{
    static const QRegularExpression keyword(QStringLiteral("^[A-Za-z][A-Za-z0-9_.\\-]{0,63}$"));
    static const QRegularExpression value(QStringLiteral("^[\\x21-\\x7e]{1,255}$"));
    return keyword.match(name).hasMatch() && value.match(choice).hasMatch();
}

} // namespace

PrinterOptions printerOptions(const QString& printer)
{
    PrinterOptions options;
    if (printer.isEmpty())
        return options;
    const QVariantMap stored = ImagingSettings().section(optionsSection(printer));
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
        const QString choice = it.value().toString();
        if (!isKopyrasOwnOption(it.key()) && wellFormed(it.key(), choice))
            options.append({it.key(), choice});
    }
    return options;
}

void savePrinterOptions(const QString& printer, const PrinterOptions& options)
{
    QVariantMap values;
    for (const auto& [name, choice] : options)
        if (!isKopyrasOwnOption(name) && wellFormed(name, choice))
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
