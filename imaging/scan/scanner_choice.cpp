#include "imaging/scan/scanner_choice.h"

#include "dispatch/dispatch_error.h"
#include "imaging/common/imaging_settings.h"
#include "imaging/scan/link/remote_device.h"
#include "imaging/scan/link/scanner_thread.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace imaging {

ScannerChoice ScannerChoice::load()
{
    const ImagingSettings s;
    return {s.text(Settings::ScannerName), s.text(Settings::ScannerVendor),
            s.text(Settings::ScannerModel)};
}

void ScannerChoice::save() const
{
    ImagingSettings s;
    s.set(Settings::ScannerName, name);
    s.set(Settings::ScannerVendor, vendor);
    s.set(Settings::ScannerModel, model);
}

const sane::DeviceInfo* ScannerChoice::pick(const QList<sane::DeviceInfo>& devices) const
{
    if (devices.isEmpty())
        return nullptr;
    for (const sane::DeviceInfo& d : devices)
        if (!name.isEmpty() && d.name == name)
            return &d;
    for (const sane::DeviceInfo& d : devices)
        if (!vendor.isEmpty() && d.vendor == vendor && d.model == model)
            return &d;
    return &devices.first();
}

ScannerChoiceDialog::ScannerChoiceDialog(const ScannerChoice& current, QWidget* parent)
    : QDialog(parent)
    , m_current(current)
{
    setWindowTitle(QStringLiteral("Scanner wählen"));
    resize(560, 300);
    auto* layout = new QVBoxLayout(this);
    status = new QLabel(this);
    layout->addWidget(status);
    list = new QTreeWidget(this);
    list->setHeaderLabels({QStringLiteral("Hersteller"), QStringLiteral("Modell"),
                           QStringLiteral("Art"), QStringLiteral("Name")});
    list->setRootIsDecorated(false);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    refreshButton =
        buttons->addButton(QStringLiteral("&Aktualisieren"), QDialogButtonBox::ActionRole);
    connect(refreshButton, &QPushButton::clicked, this, &ScannerChoiceDialog::refresh);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(buttons);
    refresh();
}

void ScannerChoiceDialog::refresh()
{
    if (m_searching)
        return;
    m_searching = true;
    refreshButton->setEnabled(false);
    status->setText(QStringLiteral("Scanner werden gesucht …"));
    QPointer<ScannerChoiceDialog> self(this);
    scanner::ScannerThread::instance().post([self] {
        QList<sane::DeviceInfo> devices;
        QString error;
        try {
            devices = scanner::listDevices();
        } catch (const DispatchError& e) {
            error = e.description();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, devices, error] {
                if (self)
                    self->show(devices, error);
            },
            Qt::QueuedConnection);
    });
}

void ScannerChoiceDialog::show(const QList<sane::DeviceInfo>& devices, const QString& error)
{
    m_searching = false;
    refreshButton->setEnabled(true);
    const QString selected = list->currentItem() ? list->currentItem()->text(3) : m_current.name;
    list->clear();
    for (const sane::DeviceInfo& d : devices) {
        auto* item = new QTreeWidgetItem(list, {d.vendor, d.model, d.type, d.name});
        item->setData(0, Qt::UserRole, d.name);
    }
    if (const sane::DeviceInfo* preferred =
            ScannerChoice{selected, m_current.vendor, m_current.model}.pick(devices))
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(3) == preferred->name)
                list->setCurrentItem(list->topLevelItem(i));
    if (!error.isEmpty())
        status->setText(error);
    else if (devices.isEmpty())
        status->setText(QStringLiteral("Es wurde kein Scanner gefunden. Prüfen Sie, ob er "
                                       "eingeschaltet und angeschlossen ist, und klicken Sie auf "
                                       "„Aktualisieren“."));
    else
        status->setText(QStringLiteral("Bitte wählen Sie den Scanner für Kopyra:"));
    Q_EMIT searchFinished();
}

ScannerChoice ScannerChoiceDialog::choice() const
{
    const QTreeWidgetItem* item = list->currentItem();
    if (!item)
        return m_current;
    return {item->text(3), item->text(0), item->text(1)};
}

} // namespace imaging
