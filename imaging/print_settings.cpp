#include "imaging/print_settings.h"

#include "imaging/component_settings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QStandardPaths>

namespace imaging {

PrintSettings PrintSettings::load()
{
    PrintSettings p;
    auto s = componentSettings();
    s->beginGroup(QStringLiteral("Print"));
    p.printer = s->value(QStringLiteral("Printer")).toString();
    p.copies = std::clamp(s->value(QStringLiteral("Copies"), 1).toInt(), 1, 999);
    p.sizeMode = s->value(QStringLiteral("SizeMode")).toInt() == FitToPage ? FitToPage : TrueSize;
    bool known = false;
    const int id = s->value(QStringLiteral("PageSize")).toInt(&known);
    if (known && id >= 0 && id < QPageSize::LastPageSize && id != QPageSize::Custom)
        p.pageSize = QPageSize(QPageSize::PageSizeId(id));
    return p;
}

void PrintSettings::save() const
{
    auto s = componentSettings();
    s->beginGroup(QStringLiteral("Print"));
    s->setValue(QStringLiteral("Printer"), printer);
    s->setValue(QStringLiteral("Copies"), copies);
    s->setValue(QStringLiteral("SizeMode"), int(sizeMode));
    s->setValue(QStringLiteral("PageSize"), int(pageSize.id()));
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
