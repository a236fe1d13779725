#include "imaging/scan/sane/sane_device.h"

#include "imaging/scan/sane/sane_errors.h"
#include "imaging/scan/wire/scan_option.h"

#include <QByteArray>

#include <cmath>
#include <vector>

namespace imaging::sane {

QList<DeviceInfo> listDevices()
{
    const SANE_Device** devices = nullptr;
    const SANE_Status status = sane_get_devices(&devices, SANE_FALSE);
    if (status != SANE_STATUS_GOOD)
        throw statusError(status, QStringLiteral("Die Scannerliste ist nicht verfügbar"));
    QList<DeviceInfo> list;
    for (int i = 0; devices && devices[i]; ++i)
        list.append({QString::fromUtf8(devices[i]->name), QString::fromUtf8(devices[i]->vendor),
                     QString::fromUtf8(devices[i]->model), QString::fromUtf8(devices[i]->type)});
    return list;
}

Device::~Device() { close(); }

void Device::open(const QString& name)
{
    close();
    SANE_Handle handle = nullptr;
    const SANE_Status status = sane_open(name.toUtf8().constData(), &handle);
    if (status != SANE_STATUS_GOOD)
        throw statusError(status,
                          QStringLiteral("Der Scanner „%1“ lässt sich nicht öffnen").arg(name));
    m_handle = handle;
    m_name = name;
}

void Device::close()
{
    if (m_handle) {
        sane_close(m_handle);
        m_handle = nullptr;
        m_name.clear();
    }
}

const SANE_Option_Descriptor* Device::descriptor(int index) const
{
    return m_handle ? sane_get_option_descriptor(m_handle, index) : nullptr;
}

QList<OptionInfo> Device::options() const
{
    QList<OptionInfo> list;
    SANE_Int count = 0;
    if (!m_handle || sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) !=
                         SANE_STATUS_GOOD)
        return list;
    for (int i = 1; i < count; ++i)
        if (descriptor(i))
            list.append(option(i));
    return list;
}

int Device::find(const QString& name) const
{
    SANE_Int count = 0;
    if (!m_handle || sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) !=
                         SANE_STATUS_GOOD)
        return -1;
    const QByteArray wanted = name.toUtf8();
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = descriptor(i);
        if (d && d->name && wanted == d->name)
            return i;
    }
    return -1;
}

OptionInfo Device::option(int index) const
{
    OptionInfo o;
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d)
        return o;
    o.index = index;
    o.name = QString::fromUtf8(d->name ? d->name : "");
    o.title = QString::fromUtf8(d->title ? d->title : "");
    o.description = QString::fromUtf8(d->desc ? d->desc : "");
    switch (d->unit) {
    case SANE_UNIT_PIXEL:
        o.unit = OptionInfo::Unit::Pixel;
        break;
    case SANE_UNIT_BIT:
        o.unit = OptionInfo::Unit::Bit;
        break;
    case SANE_UNIT_MM:
        o.unit = OptionInfo::Unit::Mm;
        break;
    case SANE_UNIT_DPI:
        o.unit = OptionInfo::Unit::Dpi;
        break;
    case SANE_UNIT_PERCENT:
        o.unit = OptionInfo::Unit::Percent;
        break;
    case SANE_UNIT_MICROSECOND:
        o.unit = OptionInfo::Unit::Microsecond;
        break;
    default:
        o.unit = OptionInfo::Unit::None;
    }
    o.size = d->size;
    o.active = SANE_OPTION_IS_ACTIVE(d->cap);
    o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
    o.hardware = (d->cap & SANE_CAP_HARD_SELECT) != 0;
    switch (d->type) {
    case SANE_TYPE_BOOL:
        o.kind = OptionInfo::Kind::Bool;
        break;
    case SANE_TYPE_INT:
        o.kind = OptionInfo::Kind::Int;
        break;
    case SANE_TYPE_FIXED:
        o.kind = OptionInfo::Kind::Fixed;
        break;
    case SANE_TYPE_STRING:
        o.kind = OptionInfo::Kind::String;
        break;
    case SANE_TYPE_BUTTON:
        o.kind = OptionInfo::Kind::Button;
        break;
    case SANE_TYPE_GROUP:
        o.kind = OptionInfo::Kind::Group;
        break;
    }
    const bool fixed = d->type == SANE_TYPE_FIXED;
    auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
    switch (d->constraint_type) {
    case SANE_CONSTRAINT_RANGE:
        o.constraint = OptionInfo::Constraint::Range;
        o.min = number(d->constraint.range->min);
        o.max = number(d->constraint.range->max);
        o.quant = number(d->constraint.range->quant);
        break;
    case SANE_CONSTRAINT_WORD_LIST:
        o.constraint = OptionInfo::Constraint::WordList;
        for (int i = 1; i <= d->constraint.word_list[0]; ++i)
            o.words.append(number(d->constraint.word_list[i]));
        break;
    case SANE_CONSTRAINT_STRING_LIST:
        o.constraint = OptionInfo::Constraint::StringList;
        for (int i = 0; d->constraint.string_list[i]; ++i)
            o.strings.append(QString::fromUtf8(d->constraint.string_list[i]));
        break;
    case SANE_CONSTRAINT_NONE:
        break;
    }
    return o;
}

QVariant Device::value(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size <= 0 || d->type == SANE_TYPE_BUTTON ||
        d->type == SANE_TYPE_GROUP)
        return {};
    std::vector<SANE_Word> buffer(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 2, 0);
    if (sane_control_option(m_handle, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) !=
        SANE_STATUS_GOOD)
        return {};
    if (d->type == SANE_TYPE_STRING)
        return QString::fromUtf8(reinterpret_cast<const char*>(buffer.data()));
    const int n = std::max(1, d->size / static_cast<int>(sizeof(SANE_Word)));
    auto one = [&](int i) -> QVariant {
        switch (d->type) {
        case SANE_TYPE_BOOL:
            return buffer[static_cast<size_t>(i)] != SANE_FALSE;
        case SANE_TYPE_FIXED:
            return SANE_UNFIX(buffer[static_cast<size_t>(i)]);
        default:
            return static_cast<int>(buffer[static_cast<size_t>(i)]);
        }
    };
    if (n == 1)
        return one(0);
    QVariantList list;
    for (int i = 0; i < n; ++i)
        list.append(one(i));
    return list;
}

SetResult Device::control(int index, SANE_Action action, void* data)
{
    SANE_Int info = 0;
    const SANE_Status status = sane_control_option(m_handle, index, action, data, &info);
    if (status != SANE_STATUS_GOOD) {
        const OptionInfo o = option(index);
        throw statusError(status, QStringLiteral("Die Einstellung „%1“").arg(o.title));
    }
    return {(info & SANE_INFO_INEXACT) != 0, (info & SANE_INFO_RELOAD_OPTIONS) != 0};
}

SetResult Device::setValue(int index, const QVariant& value)
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d)
        throw statusError(SANE_STATUS_INVAL);
    if (d->type == SANE_TYPE_STRING) {
        QByteArray text = value.toString().toUtf8();
        text.resize(std::max<qsizetype>(text.size() + 1, d->size), '\0');
        return control(index, SANE_ACTION_SET_VALUE, text.data());
    }
    const int n = std::max(1, d->size / static_cast<int>(sizeof(SANE_Word)));
    std::vector<SANE_Word> buffer(static_cast<size_t>(n), 0);
    const QVariantList values =
        value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList{value};
    for (int i = 0; i < n; ++i) {
        const QVariant v = values.value(std::min<qsizetype>(i, values.size() - 1));
        switch (d->type) {
        case SANE_TYPE_BOOL:
            buffer[static_cast<size_t>(i)] = v.toBool() ? SANE_TRUE : SANE_FALSE;
            break;
        case SANE_TYPE_FIXED:
            buffer[static_cast<size_t>(i)] = SANE_FIX(v.toDouble());
            break;
        default:
            buffer[static_cast<size_t>(i)] = static_cast<SANE_Word>(std::lround(v.toDouble()));
            break;
        }
    }
    return control(index, SANE_ACTION_SET_VALUE, buffer.data());
}

SetResult Device::press(int index) { return control(index, SANE_ACTION_SET_VALUE, nullptr); }

SetResult Device::setAutomatic(int index) { return control(index, SANE_ACTION_SET_AUTO, nullptr); }

bool Device::setByName(const QString& name, const QVariant& value)
{
    const int index = find(name);
    if (index < 0 || !option(index).settable || !option(index).active)
        return false;
    try {
        setValue(index, value);
        return true;
    } catch (const DispatchError&) {
        return false;
    }
}

QVariant Device::valueByName(const QString& name) const
{
    const int index = find(name);
    return index < 0 ? QVariant() : value(index);
}

} // namespace imaging::sane
