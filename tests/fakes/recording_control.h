#pragma once

#include "dispatch/dispatch_control.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// One access to a control as the recording fake saw it; by-reference texts are captured with
// the value they had at the time of the access.
struct RecordedAccess {
    QString control;
    imaging::AccessKind kind;
    std::int32_t member;
    QList<imaging::Variant> args;
    // Owns the captured texts that by-reference arguments in args point at.
    std::vector<std::shared_ptr<QString>> captured;

    // "ImgEdit1 call 343 (BYREF BSTR:/x/Kopyra.tif, MISSING, ..., BOOL:0)"
    QString describe() const;
};

// The accesses of all fakes that share it, in the order they happened, and notes of other
// things a test wants to see in the same order.
class RecordingLog {
public:
    void add(RecordedAccess access);
    void note(const QString& line) { m_lines.append(line); }
    const QList<RecordedAccess>& entries() const { return m_entries; }
    // One line per access or note.
    const QStringList& describe() const { return m_lines; }
    void clear();

private:
    QList<RecordedAccess> m_entries;
    QStringList m_lines;
};

// Stands in for an imaging control: logs every access and answers with what it was told.
class RecordingControl : public imaging::DispatchControl {
public:
    RecordingControl(QString name, RecordingLog& log);

    QString progId() const override { return m_name; }
    void put(std::int32_t member, const imaging::Variant& value) override;
    imaging::Variant call(std::int32_t member, const QList<imaging::Variant>& args) override;
    imaging::Variant read(std::int32_t member) override;

    // Every access to the member fails with this error (after being logged).
    void failOn(std::int32_t member, std::int32_t number, const QString& description,
                const QString& source);
    // Every access that matches fails with this error (after being logged).
    void failWhen(std::function<bool(const RecordedAccess&)> match, std::int32_t number,
                  const QString& description, const QString& source);
    // What a call or read of the member returns.
    void setResult(std::int32_t member, const imaging::Variant& result);
    // Runs inside the next access of the member, after it is logged (for re-entrancy tests).
    void onAccess(std::int32_t member, std::function<void()> action);

    void fireEvent(int position) { raiseEvent(position); }

    // Not an access: counted, not logged.
    void expectUse() override { ++expectedUses; }
    int expectedUses = 0;

private:
    imaging::Variant handle(imaging::AccessKind kind, std::int32_t member,
                            QList<imaging::Variant> args);

    struct Failure {
        std::function<bool(const RecordedAccess&)> match;
        std::int32_t number;
        QString description;
        QString source;
    };
    QString m_name;
    RecordingLog& m_log;
    QList<Failure> m_failures;
    QHash<std::int32_t, imaging::Variant> m_results;
    QHash<std::int32_t, std::function<void()>> m_actions;
};
