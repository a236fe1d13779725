#include "recording_control.h"

using imaging::AccessKind;
using imaging::Variant;

namespace {

QString kindWord(AccessKind kind)
{
    switch (kind) {
    case AccessKind::Put:
        return QStringLiteral("put");
    case AccessKind::Call:
        return QStringLiteral("call");
    case AccessKind::Read:
        return QStringLiteral("read");
    }
    return {};
}

} // namespace

QString RecordedAccess::describe() const
{
    QStringList parts;
    for (const Variant& v : args)
        parts << v.describe();
    QString s = QStringLiteral("%1 %2 %3").arg(control, kindWord(kind)).arg(member);
    if (kind != AccessKind::Read)
        s += QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
    return s;
}

QStringList RecordingLog::describe() const
{
    QStringList lines;
    for (const RecordedAccess& a : m_entries)
        lines << a.describe();
    return lines;
}

RecordingControl::RecordingControl(QString name, RecordingLog& log)
    : m_name(std::move(name))
    , m_log(log)
{
}

void RecordingControl::put(std::int32_t member, const Variant& value)
{
    handle(AccessKind::Put, member, {value});
}

Variant RecordingControl::call(std::int32_t member, const QList<Variant>& args)
{
    return handle(AccessKind::Call, member, args);
}

Variant RecordingControl::read(std::int32_t member) { return handle(AccessKind::Read, member, {}); }

Variant RecordingControl::handle(AccessKind kind, std::int32_t member, QList<Variant> args)
{
    // Keep the text a by-reference argument had at the time; the caller's string may change.
    RecordedAccess access{m_name, kind, member, {}, {}};
    for (Variant& v : args)
        if (v.kind() == imaging::VarKind::TextRef && v.textPointer()) {
            access.captured.push_back(std::make_shared<QString>(*v.textPointer()));
            v = Variant::textRef(access.captured.back().get());
        }
    access.args = std::move(args);
    m_log.add(std::move(access));
    if (auto action = m_actions.take(member))
        action();
    if (auto it = m_failures.constFind(member); it != m_failures.constEnd())
        throw imaging::DispatchError(it->number, it->description, it->source);
    return m_results.value(member);
}

void RecordingControl::failOn(std::int32_t member, std::int32_t number, const QString& description,
                              const QString& source)
{
    m_failures.insert(member, {number, description, source});
}

void RecordingControl::setResult(std::int32_t member, const Variant& result)
{
    m_results.insert(member, result);
}

void RecordingControl::onAccess(std::int32_t member, std::function<void()> action)
{
    m_actions.insert(member, std::move(action));
}
