#pragma once

#include "dispatch/dispatch_error.h"
#include "dispatch/variant.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

class QWidget;

namespace imaging {

enum class AccessKind { Put, Call, Read };

// One imaging control as the program sees it: members addressed by number, arguments as
// typed variants, failures as DispatchError, and events by their position in the control's
// event interface. Work a control queues for later has the control as its context, so it is
// dropped when the control goes.
class DispatchControl : public QObject {
    Q_OBJECT
public:
    ~DispatchControl() override;

    // The name used as the source of the control's errors.
    virtual QString progId() const = 0;

    virtual void put(std::int32_t member, const Variant& value) = 0;
    virtual Variant call(std::int32_t member, const QList<Variant>& args) = 0;
    virtual Variant read(std::int32_t member) = 0;

    // A visible control puts its view into the site the window gives it; the view is owned by
    // the site. Invisible controls return nullptr.
    virtual QWidget* createView(QWidget* site);
    // The user has begun something that will use the control (a button that calls it is being
    // pressed): a control whose first use is slow may get ready meanwhile. Nothing a member
    // sees changes, and a failure waits for the use that meets it.
    virtual void expectUse() {}

Q_SIGNALS:
    // An event of the control, by its position in the control's event interface.
    void eventRaised(int position);

protected:
    DispatchControl() = default;

    // Delivers an event to every listener, synchronously, on the calling thread.
    void raiseEvent(int position) { Q_EMIT eventRaised(position); }

    [[noreturn]] void unknownMember(AccessKind kind, std::int32_t member) const;
    [[noreturn]] void fail(std::int32_t number, const QString& description) const;
    void requireArgCount(std::int32_t member, const QList<Variant>& args, int min, int max) const;
    // Integer arguments of either width; anything else is a type mismatch.
    std::int32_t intArg(std::int32_t member, const Variant& v) const;
    // Truth values; integers count as their truth (non-zero is true), as a dispatch caller
    // would coerce them.
    bool boolArg(std::int32_t member, const Variant& v) const;
    // Text by value or by reference.
    QString textArg(std::int32_t member, const Variant& v) const;
    bool isMissing(const Variant& v) const { return v.kind() == VarKind::Missing; }

private:
    [[noreturn]] void wrongType(std::int32_t member, const Variant& v, const QString& wanted) const;
};

QString accessKindName(AccessKind kind);

} // namespace imaging
