#include "imaging/scan/scan_option_dialog.h"

#include "dispatch/dispatch_error.h"
#include "imaging/scan/link/remote_device.h"
#include "imaging/scan/link/scanner_thread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace imaging {

using sane::OptionInfo;

namespace {

QString unitSuffix(sane::OptionInfo::Unit unit)
{
    switch (unit) {
    case sane::OptionInfo::Unit::Pixel:
        return QStringLiteral(" Pixel");
    case sane::OptionInfo::Unit::Bit:
        return QStringLiteral(" Bit");
    case sane::OptionInfo::Unit::Mm:
        return QStringLiteral(" mm");
    case sane::OptionInfo::Unit::Dpi:
        return QStringLiteral(" dpi");
    case sane::OptionInfo::Unit::Percent:
        return QStringLiteral(" %");
    case sane::OptionInfo::Unit::Microsecond:
        return QStringLiteral(" µs");
    case sane::OptionInfo::Unit::None:
        break;
    }
    return {};
}

QString numberText(const OptionInfo& o, double v)
{
    return o.kind == OptionInfo::Kind::Fixed ? QLocale().toString(v, 'g', 6)
                                             : QString::number(std::lround(v));
}

QString arrayText(const QVariant& value)
{
    QStringList parts;
    const QVariantList list =
        value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList{value};
    for (const QVariant& v : list)
        parts << v.toString();
    return parts.join(QStringLiteral(", "));
}

} // namespace

QWidget* makeOptionWidget(const OptionInfo& o, const QVariant& value,
                          const std::function<void(const QVariant&)>& onChange, QWidget* parent)
{
    QWidget* w = nullptr;
    const bool number = o.kind == OptionInfo::Kind::Int || o.kind == OptionInfo::Kind::Fixed;
    if (o.kind == OptionInfo::Kind::Bool) {
        auto* box = new QCheckBox(parent);
        QObject::connect(box, &QCheckBox::toggled, box, [onChange](bool on) { onChange(on); });
        w = box;
    } else if (o.kind == OptionInfo::Kind::Button) {
        auto* button = new QPushButton(o.title, parent);
        QObject::connect(button, &QPushButton::clicked, button, [onChange] { onChange({}); });
        w = button;
    } else if ((number && o.constraint == OptionInfo::Constraint::WordList) ||
               (o.kind == OptionInfo::Kind::String &&
                o.constraint == OptionInfo::Constraint::StringList)) {
        auto* list = new QComboBox(parent);
        // Some backends list whole sentences: closed, the list shows the start of the choice,
        // open, every entry in full. The dialog stays a sensible width.
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(30);
        if (number)
            for (double v : o.words)
                list->addItem(numberText(o, v) + unitSuffix(o.unit), v);
        else
            for (const QString& s : o.strings)
                list->addItem(sane::translated(s), s);
        QObject::connect(list, qOverload<int>(&QComboBox::activated), list,
                         [list, onChange](int i) { onChange(list->itemData(i)); });
        w = list;
        if (number && o.count() > 1)
            w->setToolTip(QStringLiteral("Gilt für alle %1 Werte.").arg(o.count()));
    } else if (number && o.count() > 1) {
        auto* line = new QLineEdit(parent);
        line->setPlaceholderText(QStringLiteral("%1 Werte, durch Kommas getrennt").arg(o.count()));
        QObject::connect(line, &QLineEdit::editingFinished, line, [line, onChange] {
            QVariantList values;
            for (const QString& part : line->text().split(QLatin1Char(','), Qt::SkipEmptyParts))
                values.append(part.trimmed().toDouble());
            if (!values.isEmpty())
                onChange(values);
        });
        w = line;
    } else if (o.kind == OptionInfo::Kind::Int) {
        auto* spin = new QSpinBox(parent);
        if (o.constraint == OptionInfo::Constraint::Range) {
            spin->setRange(static_cast<int>(o.min), static_cast<int>(o.max));
            spin->setSingleStep(std::max(1, static_cast<int>(o.quant)));
        } else {
            spin->setRange(INT_MIN, INT_MAX);
        }
        spin->setSuffix(unitSuffix(o.unit));
        spin->setKeyboardTracking(false);
        QObject::connect(spin, qOverload<int>(&QSpinBox::valueChanged), spin,
                         [onChange](int v) { onChange(v); });
        w = spin;
    } else if (o.kind == OptionInfo::Kind::Fixed) {
        auto* spin = new QDoubleSpinBox(parent);
        spin->setDecimals(2);
        if (o.constraint == OptionInfo::Constraint::Range) {
            spin->setRange(o.min, o.max);
            if (o.quant > 0)
                spin->setSingleStep(o.quant);
        } else {
            spin->setRange(-32768.0, 32767.99);
        }
        spin->setSuffix(unitSuffix(o.unit));
        spin->setKeyboardTracking(false);
        QObject::connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), spin,
                         [onChange](double v) { onChange(v); });
        w = spin;
    } else {
        auto* line = new QLineEdit(parent);
        line->setMaxLength(std::max(1, o.size - 1));
        QObject::connect(line, &QLineEdit::editingFinished, line,
                         [line, onChange] { onChange(line->text()); });
        w = line;
    }
    w->setObjectName(o.name);
    if (w->toolTip().isEmpty())
        w->setToolTip(o.description);
    w->setEnabled(o.active && o.settable);
    showOptionValue(w, o, value);
    return w;
}

void showOptionValue(QWidget* w, const OptionInfo& o, const QVariant& value)
{
    const QSignalBlocker block(w);
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
        box->setChecked(value.toBool());
    } else if (auto* list = qobject_cast<QComboBox*>(w)) {
        const QVariant first =
            value.typeId() == QMetaType::QVariantList ? value.toList().value(0) : value;
        int found = -1;
        for (int i = 0; i < list->count(); ++i)
            if (o.kind == OptionInfo::Kind::String
                    ? list->itemData(i).toString() == first.toString()
                    : std::abs(list->itemData(i).toDouble() - first.toDouble()) < 1e-6)
                found = i;
        list->setCurrentIndex(found);
    } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
        spin->setValue(value.toInt());
    } else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w)) {
        dspin->setValue(value.toDouble());
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->setText(o.kind == OptionInfo::Kind::String ? value.toString() : arrayText(value));
    }
}

ScanOptionDialog::ScanOptionDialog(scanner::Device& device, const QString& deviceTitle,
                                   QWidget* parent)
    : QDialog(parent)
    , m_device(device)
{
    setWindowTitle(QStringLiteral("Scanner einrichten – ") + deviceTitle);
    resize(520, 560);
    auto* layout = new QVBoxLayout(this);
    auto* hint = new QLabel(QStringLiteral("Einstellungen des Scanners für diesen Scan:"), this);
    layout->addWidget(hint);
    m_area = new QScrollArea(this);
    m_area->setWidgetResizable(true);
    layout->addWidget(m_area);
    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->hide();
    layout->addWidget(m_error);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Scannen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    reload();
}

void ScanOptionDialog::reload()
{
    scanner::Device& device = m_device;
    struct Snapshot {
        QList<OptionInfo> options;
        QHash<int, QVariant> values;
    };
    const Snapshot s = scanner::ScannerThread::instance().call([&device] {
        Snapshot snap;
        snap.options = device.options();
        for (const OptionInfo& o : snap.options)
            snap.values.insert(o.index, device.value(o.index));
        return snap;
    });
    m_options = s.options;
    m_values = s.values;
    m_widgets.clear();

    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    QFormLayout* form = nullptr;
    auto newSection = [&](const QString& title) {
        auto* group = new QGroupBox(title, page);
        form = new QFormLayout(group);
        pageLayout->addWidget(group);
    };
    for (const OptionInfo& o : std::as_const(m_options)) {
        if (o.kind == OptionInfo::Kind::Group) {
            newSection(o.title);
            continue;
        }
        if (!form)
            newSection(QStringLiteral("Allgemein"));
        const int index = o.index;
        QWidget* w = makeOptionWidget(
            o, m_values.value(index), [this, index](const QVariant& v) { change(index, v); }, page);
        m_widgets.insert(index, w);
        form->addRow(o.kind == OptionInfo::Kind::Button ? QString() : o.title + QLatin1Char(':'),
                     w);
    }
    pageLayout->addStretch();
    m_area->setWidget(page); // deletes the previous page

    // Wide enough for every option without scrolling sideways (a backend's titles and lists
    // can be long), as far as the screen allows; never narrower than the user made it.
    const QMargins margins = layout()->contentsMargins();
    int wanted = page->sizeHint().width() + m_area->verticalScrollBar()->sizeHint().width() +
                 2 * m_area->frameWidth() + margins.left() + margins.right();
    if (const QScreen* screen = this->screen())
        wanted = std::min(wanted, screen->availableGeometry().width() * 9 / 10);
    if (wanted > width())
        resize(wanted, height());
}

void ScanOptionDialog::showError(const QString& error)
{
    m_lastError = error;
    m_error->setText(error.isEmpty() ? QString()
                                     : QStringLiteral("Der Scanner hat die Einstellung nicht "
                                                      "übernommen: ") +
                                           error);
    m_error->setVisible(!error.isEmpty());
}

void ScanOptionDialog::change(int index, const QVariant& value)
{
    scanner::Device& device = m_device;
    sane::SetResult result;
    showError(QString());
    // While the device is asked, the window keeps painting; the options stay untouchable
    // meanwhile, so that no second change begins while this widget's signal is running.
    m_area->setEnabled(false);
    try {
        result = scanner::ScannerThread::instance().call([&device, index, value] {
            return value.isValid() ? device.setValue(index, value) : device.press(index);
        });
    } catch (const DispatchError& e) {
        showError(e.description());
        result.inexact = true; // show what the device kept
    }
    if (result.reloadOptions) {
        // Later, not from inside the signal of a widget that is about to go.
        QMetaObject::invokeMethod(
            this,
            [this] {
                try {
                    reload();
                } catch (const DispatchError& e) {
                    showError(e.description());
                }
                m_area->setEnabled(true);
            },
            Qt::QueuedConnection);
        return;
    }
    m_area->setEnabled(true);
    if (result.inexact) {
        QVariant kept;
        try {
            kept = scanner::ScannerThread::instance().call(
                [&device, index] { return device.value(index); });
        } catch (const DispatchError& e) {
            showError(e.description());
            return;
        }
        m_values.insert(index, kept);
        for (const OptionInfo& o : std::as_const(m_options))
            if (o.index == index)
                showOptionValue(m_widgets.value(index), o, kept);
    } else {
        m_values.insert(index, value);
    }
}

QWidget* ScanOptionDialog::widgetFor(const QString& optionName) const
{
    for (const OptionInfo& o : m_options)
        if (o.name == optionName)
            return m_widgets.value(o.index);
    return nullptr;
}

QVariantMap ScanOptionDialog::values() const
{
    QVariantMap map;
    for (const OptionInfo& o : m_options)
        if (!o.name.isEmpty() && o.active && o.settable && o.kind != OptionInfo::Kind::Button &&
            o.kind != OptionInfo::Kind::Group && m_values.value(o.index).isValid())
            map.insert(o.name, m_values.value(o.index));
    return map;
}

} // namespace imaging
