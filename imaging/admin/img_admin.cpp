#include "imaging/admin/img_admin.h"

#include "imaging/admin/cups_german.h"
#include "imaging/admin/printer_choices.h"
#include "imaging/common/access_keys.h"
#include "imaging/common/background_work.h"
#include "imaging/common/imaging_settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace imaging {

namespace {

// A copier's usual enlargements and reductions, named by what they do.
struct ZoomPreset {
    const char* name;
    int percent;
};
constexpr ZoomPreset ZoomPresets[] = {
    {"A4 → A5 (71 %)", 71},
    {"A5 → A4 (141 %)", 141},
    {"B5 → A4 (122 %)", 122},
    {"A4 → B5 (86 %)", 86},
    {"50 %", 50},
    {"200 %", 200},
};

} // namespace

QString ImgAdmin::progId() const { return adminProgId(); }

void ImgAdmin::put(std::int32_t member, const Variant& value)
{
    switch (member) {
    case AdminMember::TestedFile:
        m_file = textArg(member, value);
        return;
    default:
        unknownMember(AccessKind::Put, member);
    }
}

Variant ImgAdmin::call(std::int32_t member, const QList<Variant>& args)
{
    switch (member) {
    case AdminMember::FileExists: {
        requireArgCount(member, args, 1, 1);
        if (intArg(member, args[0]) != 0)
            fail(ErrorNumber::AdminUnsupportedValue,
                 QStringLiteral("Element 114 kennt nur die Prüfung 0."));
        return Variant::boolean(!m_file.isEmpty() && QFileInfo(m_file).isFile());
    }
    case AdminMember::PrintDialog:
        requireArgCount(member, args, 1, 1);
        runPrintDialog(intArg(member, args[0]));
        return {};
    default:
        unknownMember(AccessKind::Call, member);
    }
}

Variant ImgAdmin::read(std::int32_t member)
{
    switch (member) {
    case AdminMember::TestedFile:
        return Variant::text(m_file);
    case AdminMember::Copies:
        return Variant::int32(PrintSettings::load().copies);
    case AdminMember::SizeMode:
        return Variant::int32(PrintSettings::load().sizeMode);
    case AdminMember::Output: {
        // Whether there is a printer at all is CUPS's to say, and a print server that is slow
        // to answer must not stop the window.
        PrintSettings::Output output = PrintSettings::Printer;
        runInBackground(QStringLiteral("Der Drucker wird gesucht …"), QApplication::activeWindow(),
                        [&output] { output = PrintSettings::load().output(); });
        return Variant::int32(output);
    }
    default:
        unknownMember(AccessKind::Read, member);
    }
}

void ImgAdmin::runPrintDialog(std::int32_t handle)
{
    // Handles of windows that are gone or never were simply give a dialog without owner.
    QWidget* owner =
        handle ? QWidget::find(static_cast<WId>(static_cast<std::uint32_t>(handle))) : nullptr;
    // Qt's dialog asks CUPS about the printer while it is being built (a second and more): the
    // pointer says so at once, until the dialog shows.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    struct Busy {
        bool on = true;
        void end()
        {
            if (on)
                QApplication::restoreOverrideCursor();
            on = false;
        }
        ~Busy() { end(); }
    } busy;
    // Qt's printer and print dialog ask CUPS on this thread, and a print server that takes the
    // connection and never answers would stop the window for minutes: ask on a thread first.
    if (!runInBackgroundFor(
            QStringLiteral("Die Drucker werden gesucht …"), owner ? owner->window() : nullptr,
            [] { QPrinterInfo::availablePrinterNames(); }, PrintServicePatienceMs))
        fail(ErrorNumber::PrintServiceSilent,
             QStringLiteral("Der Druckdienst (CUPS) antwortet nicht. Bitte prüfen Sie, ob der "
                            "Druckserver erreichbar ist, und versuchen Sie es noch einmal."));
    PrintSettings settings = PrintSettings::load();
    QPrinter printer;
    const QString chosen = settings.effectivePrinter();
    if (!chosen.isEmpty())
        printer.setPrinterName(chosen);
    printer.setCopyCount(settings.copies);
    printer.setPageSize(settings.pageSize);
    printer.setDuplex(settings.twoSided ? QPrinter::DuplexLongSide : QPrinter::DuplexNone);
    printer.setCollateCopies(settings.collate);
    printer.setPageOrder(settings.reverse ? QPrinter::LastPageFirst : QPrinter::FirstPageFirst);

    QPrintDialog dialog(&printer, owner ? owner->window() : nullptr);
    dialog.setWindowTitle(QStringLiteral("Drucker für die Kopien"));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    // The choice is kept for the copies to come; nothing is printed now, so the button does
    // not say "Drucken".
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));

    auto* sizePage = new QWidget;
    sizePage->setWindowTitle(QStringLiteral("Größe der Kopie"));
    auto* layout = new QVBoxLayout(sizePage);
    auto* trueSize = new QRadioButton(QStringLiteral("&Originalgröße (1:1)"), sizePage);
    trueSize->setObjectName(QStringLiteral("trueSize"));
    auto* fit = new QRadioButton(QStringLiteral("An &Seite anpassen"), sizePage);
    fit->setObjectName(QStringLiteral("fitToPage"));
    // Enlarged or reduced, as a copier does it: a percentage, or a preset named by what it
    // does.
    auto* zoomed = new QRadioButton(QStringLiteral("&Zoom:"), sizePage);
    zoomed->setObjectName(QStringLiteral("zoom"));
    auto* percent = new QSpinBox(sizePage);
    percent->setObjectName(QStringLiteral("zoomPercent"));
    percent->setRange(Settings::PrintZoom.min, Settings::PrintZoom.max);
    percent->setSuffix(QStringLiteral(" %"));
    percent->setValue(settings.zoomPercent);
    auto* presets = new QComboBox(sizePage);
    presets->setObjectName(QStringLiteral("zoomPresets"));
    presets->addItem(QStringLiteral("Voreinstellungen …"), 0);
    for (const ZoomPreset& preset : ZoomPresets)
        presets->addItem(QString::fromUtf8(preset.name), preset.percent);
    auto* zoomRow = new QHBoxLayout;
    zoomRow->addWidget(zoomed);
    zoomRow->addWidget(percent);
    zoomRow->addWidget(presets);
    zoomRow->addStretch();
    QObject::connect(presets, &QComboBox::activated, percent, [=](int index) {
        if (const int preset = presets->itemData(index).toInt(); preset > 0) {
            percent->setValue(preset);
            zoomed->setChecked(true);
        }
    });
    QObject::connect(percent, &QSpinBox::valueChanged, zoomed,
                     [zoomed] { zoomed->setChecked(true); });
    if (settings.sizeMode == PrintSettings::FitToPage)
        fit->setChecked(true);
    else
        (settings.zoomPercent == 100 ? trueSize : zoomed)->setChecked(true);
    layout->addWidget(trueSize);
    layout->addWidget(fit);
    layout->addLayout(zoomRow);
    // Two or four originals on one sheet, as a copier's "2 auf 1": each reduced to its part
    // of the sheet, so the size of the copy does not apply meanwhile, and the page says so.
    auto* perSheet = new QComboBox(sizePage);
    perSheet->setObjectName(QStringLiteral("pagesPerSheet"));
    perSheet->addItem(QStringLiteral("1"), 1);
    perSheet->addItem(QStringLiteral("2 (Blatt quer, nebeneinander)"), 2);
    perSheet->addItem(QStringLiteral("4 (2 × 2)"), 4);
    perSheet->setCurrentIndex(perSheet->findData(settings.pagesPerSheet));
    auto* perSheetLabel = new QLabel(QStringLiteral("Seiten pro &Blatt:"), sizePage);
    perSheetLabel->setBuddy(perSheet);
    auto* perSheetRow = new QHBoxLayout;
    perSheetRow->addWidget(perSheetLabel);
    perSheetRow->addWidget(perSheet);
    perSheetRow->addStretch();
    auto* perSheetNote = new QLabel(QStringLiteral("Jede Vorlage wird verkleinert, bis sie in "
                                                   "ihren Teil des Blattes passt; die Größe der "
                                                   "Kopie gilt dann nicht."),
                                    sizePage);
    perSheetNote->setObjectName(QStringLiteral("pagesPerSheetNote"));
    perSheetNote->setWordWrap(true);
    // An ID card's sides always come at true size, both on one sheet: while the card is the
    // chosen original, the size and the pages per sheet are kept for the copies after it.
    const bool card = ImagingSettings().text(Settings::ScanSource) == QLatin1String(IdCardSource);
    auto* cardNote = new QLabel(QStringLiteral("Unter „Optionen“ ist der Ausweis als Vorlage "
                                               "gewählt: Vorder- und Rückseite kommen in "
                                               "Originalgröße auf ein Blatt. Größe der Kopie und "
                                               "Seiten pro Blatt gelten dafür nicht."),
                                sizePage);
    cardNote->setObjectName(QStringLiteral("idCardNote"));
    cardNote->setWordWrap(true);
    cardNote->setVisible(card);
    perSheet->setEnabled(!card);
    const auto showPerSheet = [=] {
        const bool several = perSheet->currentData().toInt() > 1;
        for (QWidget* size :
             std::initializer_list<QWidget*>{trueSize, fit, zoomed, percent, presets})
            size->setEnabled(!several && !card);
        perSheetNote->setVisible(several && !card);
    };
    QObject::connect(perSheet, &QComboBox::currentIndexChanged, sizePage, showPerSheet);
    showPerSheet();
    layout->addSpacing(8);
    layout->addLayout(perSheetRow);
    layout->addWidget(perSheetNote);
    layout->addWidget(cardNote);
    layout->addStretch();
    dialog.setOptionTabs({sizePage});
    const auto* choices = new PrinterChoices(dialog);
    makeAccessKeysUnique(&dialog);
    showOptionsInGerman(dialog);

    m_dialog = &dialog;
    QTimer::singleShot(0, &dialog, [&busy] { busy.end(); });
    const int answer = dialog.exec();
    m_dialog = nullptr;
    if (answer != QDialog::Accepted)
        return;
    if (printer.outputFormat() == QPrinter::NativeFormat)
        settings.printer = printer.printerName();
    settings.copies =
        std::clamp(printer.copyCount(), Settings::PrintCopies.min, Settings::PrintCopies.max);
    settings.sizeMode = fit->isChecked() ? PrintSettings::FitToPage : PrintSettings::TrueSize;
    if (trueSize->isChecked())
        settings.zoomPercent = 100;
    else if (zoomed->isChecked())
        settings.zoomPercent = percent->value();
    settings.twoSided = printer.duplex() != QPrinter::DuplexNone;
    settings.pagesPerSheet = perSheet->currentData().toInt();
    settings.collate = printer.collateCopies();
    settings.reverse = printer.pageOrder() == QPrinter::LastPageFirst;
    if (printer.outputFormat() == QPrinter::NativeFormat)
        savePrinterOptions(printer.printerName(), choices->chosen(printer));
    if (printer.pageLayout().pageSize().isValid())
        settings.pageSize = printer.pageLayout().pageSize();
    settings.save();
}

} // namespace imaging
