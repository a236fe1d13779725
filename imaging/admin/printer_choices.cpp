#include "imaging/admin/printer_choices.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrinter>
#include <QRadioButton>
#include <QTabWidget>

#include <cups/ppd.h>

#include <algorithm>

namespace imaging {

namespace {

// Where Qt keeps a dialog's CUPS options (name, value, name, value …) in the printer's engine.
constexpr auto CupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);

void hide(QWidget* parent, const QString& name)
{
    QWidget* widget = parent->findChild<QWidget*>(name);
    if (!widget)
        return;
    widget->hide();
    // Its label too, where it has one of its own.
    for (QLabel* label : parent->findChildren<QLabel*>())
        if (label->buddy() == widget)
            label->hide();
}

// Whether a page of the properties is Qt's job options (holding, banner pages, priority).
bool holdsJobOptions(const QWidget* page)
{
    if (page->inherits("QCupsJobWidget"))
        return true;
    const QList<QWidget*> inside = page->findChildren<QWidget*>();
    return std::any_of(inside.cbegin(), inside.cend(),
                       [](const QWidget* w) { return w->inherits("QCupsJobWidget"); });
}

// The driver option a combo box of Qt's properties page stands for (Qt keeps it with the box).
const ppd_option_t* ppdOptionOf(const QComboBox* box)
{
    const QVariant option = box->property("_q_ppd_option");
    // Qt registers it under the struct's own name.
    if (!option.isValid() || (qstrcmp(option.metaType().name(), "const ppd_option_s*") != 0 &&
                              qstrcmp(option.metaType().name(), "const ppd_option_t*") != 0))
        return nullptr;
    return *static_cast<const ppd_option_t* const*>(option.constData());
}

} // namespace

QString driverOptionOf(const QComboBox* box)
{
    const ppd_option_t* option = ppdOptionOf(box);
    return option ? QString::fromLatin1(option->keyword) : QString();
}

PrinterChoices::PrinterChoices(QPrintDialog& dialog)
    : QObject(&dialog)
    , m_dialog(dialog)
{
    qApp->installEventFilter(this);
    // Another printer chosen: its properties are made anew, and what was chosen in the last
    // printer's is gone with them.
    if (auto* printers = dialog.findChild<QComboBox*>(QStringLiteral("printers")))
        connect(printers, &QComboBox::currentIndexChanged, this, [this] { m_opened.clear(); });
    // Odd or even pages and page ranges make no sense for a copy.
    for (const char* name : {"pageSetCombo", "pageSetLabel"})
        hide(&dialog, QString::fromLatin1(name));
    if (auto* all = dialog.findChild<QRadioButton*>(QStringLiteral("printAll")))
        if (auto* range = qobject_cast<QGroupBox*>(all->parentWidget()))
            range->hide();
}

bool PrinterChoices::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || !watched->inherits("QPrintPropertiesDialog"))
        return false;
    auto* properties = static_cast<QWidget*>(watched);
    // The page's place on the paper is the original's on the glass, at the size chosen on
    // Kopyra's own page: no orientation, no margins; no several pages on a sheet.
    for (const char* name : {"groupBox_3", "groupBox", "pagesPerSheetButtonGroup", "paperSource"})
        hide(properties, QString::fromLatin1(name));
    // Holding, banner pages and priority are no copier's: not offered, so that the dialog never
    // says "print at once" while something else is sent.
    for (QTabWidget* tabs : properties->findChildren<QTabWidget*>())
        for (int i = 0; i < tabs->count(); ++i)
            if (holdsJobOptions(tabs->widget(i)))
                tabs->setTabVisible(i, false);
    // Qt makes the properties anew for each printer chosen (and after switching back): each
    // new one shows what is remembered for its printer.
    if (properties->property("kopyraRemembered").toBool())
        return false;
    properties->setProperty("kopyraRemembered", true);
    auto* printers = m_dialog.findChild<QComboBox*>(QStringLiteral("printers"));
    const QString printer = printers ? printers->currentText() : QString();
    m_opened.insert(printer);
    showRemembered(properties, printer);
    return false;
}

void PrinterChoices::showRemembered(QWidget* properties, const QString& printer) const
{
    const PrinterOptions remembered = printerOptions(printer);
    for (QComboBox* box : properties->findChildren<QComboBox*>()) {
        const ppd_option_t* option = ppdOptionOf(box);
        if (!option)
            continue;
        const auto it = std::find_if(remembered.begin(), remembered.end(), [option](auto& o) {
            return o.first == QLatin1String(option->keyword);
        });
        if (it == remembered.end())
            continue;
        // The box's entries carry the index of their choice among the option's. Qt keeps the
        // entry it showed first, to go back to on "Abbrechen": the remembered one.
        for (int i = 0; i < option->num_choices; ++i)
            if (it->second == QLatin1String(option->choices[i].choice))
                if (const int entry = box->findData(i); entry >= 0) {
                    box->setCurrentIndex(entry);
                    box->setProperty("_q_ppd_originally_selected_choice", entry);
                }
    }
}

PrinterOptions PrinterChoices::chosen(QPrinter& printer) const
{
    if (!m_opened.contains(printer.printerName()))
        return printerOptions(printer.printerName());
    PrinterOptions options;
    const QStringList list = printer.printEngine()->property(CupsOptions).toStringList();
    for (qsizetype i = 0; i + 1 < list.size(); i += 2)
        if (!isKopyrasOwnOption(list[i]))
            options.append({list[i], list[i + 1]});
    return options;
}

} // namespace imaging
