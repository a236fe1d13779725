#include "imaging/scan/link/remote_device.h"

#include "imaging/scan/wire/wire.h"

#include <QHash>

namespace imaging::scanner {

using sane::OptionInfo;
using sane::SetResult;
using wire::Ask;

namespace {

template <class Result, class... Fields>
Result answer(std::chrono::milliseconds patience, Ask ask, const Fields&... fields)
{
    const QByteArray body = ScannerHelper::instance().ask(wire::message(ask, fields...), patience);
    QDataStream in(body);
    Result result{};
    in >> result;
    return result;
}

template <class Result, class... Fields> Result answer(Ask ask, const Fields&... fields)
{
    return answer<Result>(ScannerHelper::optionPatience(), ask, fields...);
}

// Device types as the SANE standard names them, in German where the catalogue has none.
QString deviceType(const QString& english)
{
    static const QHash<QString, QString> ours{
        {QStringLiteral("virtual device"), QStringLiteral("virtuelles Gerät")},
        {QStringLiteral("flatbed scanner"), QStringLiteral("Flachbettscanner")},
        {QStringLiteral("sheetfed scanner"), QStringLiteral("Einzugsscanner")},
        {QStringLiteral("handheld scanner"), QStringLiteral("Handscanner")},
        {QStringLiteral("film scanner"), QStringLiteral("Filmscanner")},
        {QStringLiteral("multi-function peripheral"), QStringLiteral("Multifunktionsgerät")},
        {QStringLiteral("still camera"), QStringLiteral("Fotokamera")},
        {QStringLiteral("video camera"), QStringLiteral("Videokamera")},
    };
    const QString german = sane::translated(english);
    return german != english ? german : ours.value(english.toLower(), english);
}

// The helper sends SANE's texts as the backend wrote them; the user reads them in German.
OptionInfo inUsersLanguage(OptionInfo o)
{
    o.title = sane::translated(o.title);
    o.description = sane::translated(o.description);
    return o;
}

} // namespace

QList<sane::DeviceInfo> listDevices()
{
    ScannerHelper::instance().setDeviceName(QString());
    auto devices =
        answer<QList<sane::DeviceInfo>>(ScannerHelper::searchPatience(), Ask::ListDevices);
    for (sane::DeviceInfo& d : devices)
        d.type = deviceType(d.type);
    return devices;
}

Device::~Device() = default; // the helper closes what is left open when it ends

bool Device::isOpen() const
{
    const ScannerHelper& helper = ScannerHelper::instance();
    return !m_name.isEmpty() && helper.running() && m_generation == helper.generation();
}

void Device::open(const QString& name)
{
    close();
    ScannerHelper& helper = ScannerHelper::instance();
    helper.setDeviceName(name);
    helper.ask(wire::message(Ask::Open, name), ScannerHelper::searchPatience());
    m_name = name;
    m_generation = helper.generation();
    helper.deviceOpened();
}

void Device::close()
{
    // A device of a helper that is gone closed with it.
    if (isOpen())
        ScannerHelper::instance().ask(wire::message(Ask::Close), ScannerHelper::optionPatience());
    m_name.clear();
}

QList<OptionInfo> Device::options() const
{
    QList<OptionInfo> list = answer<QList<OptionInfo>>(Ask::Options);
    for (OptionInfo& o : list)
        o = inUsersLanguage(o);
    return list;
}

int Device::find(const QString& name) const { return answer<qint32>(Ask::Find, name); }

OptionInfo Device::option(int index) const
{
    return inUsersLanguage(answer<OptionInfo>(Ask::Option, qint32(index)));
}

QVariant Device::value(int index) const { return answer<QVariant>(Ask::Value, qint32(index)); }

SetResult Device::setValue(int index, const QVariant& value)
{
    return answer<SetResult>(Ask::SetValue, qint32(index), value);
}

SetResult Device::press(int index) { return answer<SetResult>(Ask::Press, qint32(index)); }

SetResult Device::setAutomatic(int index)
{
    return answer<SetResult>(Ask::SetAutomatic, qint32(index));
}

bool Device::setByName(const QString& name, const QVariant& value)
{
    return answer<bool>(Ask::SetByName, name, value);
}

QVariant Device::valueByName(const QString& name) const
{
    const int index = find(name);
    return index < 0 ? QVariant() : value(index);
}

sane::Treatment Device::setUp(const ScanPreferences& preferences, const QVariantMap& remembered)
{
    return answer<sane::Treatment>(Ask::SetUp, preferences, remembered);
}

bool Device::scan(const QString& pagePath, const sane::Treatment& treatment, ScanProgress& progress)
{
    return ScannerHelper::instance().scan(pagePath, treatment, progress);
}

} // namespace imaging::scanner
