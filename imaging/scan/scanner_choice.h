#pragma once

#include "imaging/scan/wire/scan_option.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace imaging {

// The scanner the user chose, as remembered by the scan control.
struct ScannerChoice {
    QString name;
    QString vendor;
    QString model;

    static ScannerChoice load();
    void save() const;

    // The device to use among those found: the remembered name, else the same vendor and
    // model under another name (a re-plugged USB scanner), else the first one; nullptr when
    // there is none.
    const sane::DeviceInfo* pick(const QList<sane::DeviceInfo>& devices) const;
};

// "Scanner wählen": lists the devices SANE finds, without freezing while it searches.
class ScannerChoiceDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScannerChoiceDialog(const ScannerChoice& current, QWidget* parent = nullptr);

    ScannerChoice choice() const;
    // Starts a search; the list fills when SANE answers.
    void refresh();
    bool searching() const { return m_searching; }

    QTreeWidget* list = nullptr;
    QPushButton* refreshButton = nullptr;
    QLabel* status = nullptr;

Q_SIGNALS:
    void searchFinished();

private:
    void show(const QList<sane::DeviceInfo>& devices, const QString& error);

    ScannerChoice m_current;
    bool m_searching = false;
};

} // namespace imaging
