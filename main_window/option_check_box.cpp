#include "main_window/option_check_box.h"

#include "dispatch/dispatch_error.h"

OptionCheckBox::OptionCheckBox(const QString& caption, QWidget* parent)
    : QCheckBox(caption, parent)
{
    setTristate(true);
    connect(this, &QCheckBox::stateChanged, this, [this] { Q_EMIT Click(); });
}

std::int16_t OptionCheckBox::Value() const
{
    switch (checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

void OptionCheckBox::setValue(std::int16_t value)
{
    switch (value) {
    case 0:
        setCheckState(Qt::Unchecked);
        return;
    case 1:
        setCheckState(Qt::Checked);
        return;
    case 2:
        setCheckState(Qt::PartiallyChecked);
        return;
    default:
        throw imaging::DispatchError(
            imaging::ErrorNumber::InvalidPropertyValue,
            QStringLiteral("Ungültiger Eigenschaftswert %1 für „%2“ (erlaubt sind 0, 1 und 2).")
                .arg(value)
                .arg(text()),
            QStringLiteral("Kopyra.Form1"));
    }
}

void OptionCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}
