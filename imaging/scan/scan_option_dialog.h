#pragma once

#include "imaging/scan/wire/scan_option.h"

#include <QDialog>
#include <QHash>
#include <QVariantMap>

#include <functional>

class QLabel;
class QScrollArea;

namespace imaging {

namespace scanner {
class Device;
}

// One widget for one option, by the option's type and constraint: a check box for truth
// values, a spin box for ranges and free numbers, a list for word and string lists, a line
// for free texts and number arrays, a push button for buttons. onChange gets each value the
// user sets.
QWidget* makeOptionWidget(const sane::OptionInfo& option, const QVariant& value,
                          const std::function<void(const QVariant&)>& onChange, QWidget* parent);
// Shows a value the device reports, without raising onChange.
void showOptionValue(QWidget* widget, const sane::OptionInfo& option, const QVariant& value);

// The device's own set-up dialog, built from its option descriptors. Every change goes to the
// device at once (on the SANE thread); when the device says its options changed, all are read
// again, and an inexact value is read back.
class ScanOptionDialog : public QDialog {
    Q_OBJECT
public:
    ScanOptionDialog(scanner::Device& device, const QString& deviceTitle,
                     QWidget* parent = nullptr);

    QWidget* widgetFor(const QString& optionName) const;
    int optionWidgetCount() const { return static_cast<int>(m_widgets.size()); }
    // The values of the active, settable options, to be remembered for the device.
    QVariantMap values() const;
    // The last error the device reported for a change, if any.
    QString lastError() const { return m_lastError; }

private:
    void reload();
    void change(int index, const QVariant& value);
    void showError(const QString& error);

    scanner::Device& m_device;
    QScrollArea* m_area = nullptr;
    QLabel* m_error = nullptr; // what the device said to the last change
    QList<sane::OptionInfo> m_options;
    QHash<int, QVariant> m_values;
    QHash<int, QWidget*> m_widgets;
    QString m_lastError;
};

} // namespace imaging
