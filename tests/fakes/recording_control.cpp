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

void RecordingLog::add(RecordedAccess access)
{
    m_lines.append(access.describe());
    m_entries.append(std::move(access));
}

void RecordingLog::clear()
{
    m_entries.clear();
    m_lines.clear();
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
    m_log.add(access);
    if (auto action = m_actions.take(member))
        action();
    for (const Failure& f : std::as_const(m_failures))
        if (f.match(access))
            throw imaging::DispatchError(f.number, f.description, f.source);
    return m_results.value(member);
}

void RecordingControl::failOn(std::int32_t member, std::int32_t number, const QString& description,
                              const QString& source)
{
    failWhen([member](const RecordedAccess& a) { return a.member == member; }, number, description,
             source);
}

void RecordingControl::failWhen(std::function<bool(const RecordedAccess&)> match,
                                std::int32_t number, const QString& description,
                                const QString& source)
{
    m_failures.append({std::move(match), number, description, source});
}

void RecordingControl::setResult(std::int32_t member, const Variant& result)
{
    m_results.insert(member, result);
}

void RecordingControl::onAccess(std::int32_t member, std::function<void()> action)
{
    m_actions.insert(member, std::move(action));
}
