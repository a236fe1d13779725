#pragma once

#include "imaging/common/print_settings.h"

#include <QObject>
#include <QSet>
#include <QString>

class QComboBox;
class QPrintDialog;
class QPrinter;

namespace imaging {

// What Qt's printer dialog offers beyond Kopyra's own page, kept honest for a copy: the
// printer's own options (its properties' "Erweitert" page and the job options) are shown as
// remembered for each printer and go with every copy to it; what Kopyra does not carry out for
// a copy (odd or even pages, page ranges, orientation, margins, several pages on a sheet) is
// not shown at all.
class PrinterChoices : public QObject {
public:
    explicit PrinterChoices(QPrintDialog& dialog);

    // The printer's options after OK: those chosen in its properties when they were opened,
    // else those remembered for it.
    PrinterOptions chosen(QPrinter& printer) const;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showRemembered(QWidget* properties, const QString& printer) const;

    QPrintDialog& m_dialog;
    QSet<QString> m_opened; // printers whose properties were shown
};

// The printer's option a box of Qt's properties page stands for (its driver's name for it);
// empty for any other box.
QString driverOptionOf(const QComboBox* box);

} // namespace imaging
