#include "copy_run/copy_run.h"

#include "dispatch/members.h"
#include "support/module1.h"
#include "support/msg_box.h"

#include <QTimer>

namespace AdminMember = imaging::AdminMember;
namespace EditMember = imaging::EditMember;
namespace ScanMember = imaging::ScanMember;
using imaging::Variant;

namespace {
const QString CR = QStringLiteral("\r");
const QString Title = QStringLiteral("Kopyra");
} // namespace

CopyRun::CopyRun(CopyControls controls, CopyRunHost& host)
    : m_controls(controls)
    , m_host(host)
{
    connect(&m_controls.scan, &imaging::DispatchControl::eventRaised, this, [this](int position) {
        if (position == imaging::ScanCompletedEvent)
            Kopyra(1);
    });
}

QString CopyRun::errorText(std::int32_t number, const QString& description, const QString& source,
                           std::int16_t phase)
{
    return QStringLiteral("Es kam zu folgendem Problem:") + CR + CR + description +
           QStringLiteral(" (") + QString::number(number) + QStringLiteral(")") + CR + CR +
           QStringLiteral("Ort: ") + source + CR + CR + QStringLiteral("Phase: ") +
           QString::number(phase);
}

void CopyRun::Kopyra(std::int16_t phase)
{
    if ((phase == 0 || phase == 2) && copying())
        return; // a press while a copy runs
    // A completion event may run phase 1 inside phase 0's start of the scan; each run reports
    // with its own phase number.
    const std::int16_t outer = m_phase;
    m_phase = phase;
    switch (phase) {
    case 0:
        ++m_running;
        phase0();
        --m_running;
        // A completed scan's event is already queued: the copy goes on until it has come, or
        // until the queue has shown that none was coming.
        m_awaitingPage = true;
        QTimer::singleShot(0, this, [this] { m_awaitingPage = false; });
        break;
    case 1:
        ++m_running;
        m_awaitingPage = false;
        phase1();
        --m_running;
        break;
    case 2:
        phase2();
        break;
    default:
        break;
    }
    m_phase = outer;
}

void CopyRun::attempt(const std::function<void()>& step)
{
    std::int32_t number = 0;
    QString description, source;
    try {
        step();
        return;
    } catch (const imaging::DispatchError& e) {
        number = e.number();
        description = e.description();
        source = e.source();
    } catch (const std::exception& e) {
        number = imaging::ErrorNumber::InternalError;
        description = QString::fromLocal8Bit(e.what());
        source = Title;
    } catch (...) {
        number = imaging::ErrorNumber::InternalError;
        description = QStringLiteral("Unbekannter Fehler");
        source = Title;
    }
    try {
        m_host.msgBox(errorText(number, description, source, m_phase),
                      MsgBox::OkOnly | MsgBox::Critical, Title);
    } catch (...) {
        // Nothing escapes the run, not even a box that could not be shown.
    }
}

bool CopyRun::test(const std::function<bool()>& condition)
{
    bool result = true;
    attempt([&] { result = condition(); });
    return result;
}

bool CopyRun::isChecked(CopyRunHost::Option option)
{
    // Greyed (2) counts as not checked.
    return m_host.optionValue(option) == 1;
}

void CopyRun::phase0()
{
    using Option = CopyRunHost::Option;
    attempt([&] { m_host.SetCopyBtn(1); });
    attempt([&] { m_controls.scan.put(ScanMember::ShowSetup, Variant::boolean(true)); });
    if (test([&] { return isChecked(Option::ShowSpecificSetup); })) {
        if (test([&] { return isChecked(Option::ShowSpecificSetupFirstPage); })) {
            if (Module1::FirstCopyDone)
                attempt(
                    [&] { m_controls.scan.put(ScanMember::ShowSetup, Variant::boolean(false)); });
        }
    } else {
        attempt([&] { m_controls.scan.put(ScanMember::ShowSetup, Variant::boolean(false)); });
    }
    attempt([&] { m_controls.admin.put(AdminMember::TestedFile, Variant::text(m_pageFile)); });
    if (test([&] {
            return m_controls.admin.call(AdminMember::FileExists, {Variant::int32(0)}).toInt32() !=
                   0;
        }))
        attempt([&] { m_host.deletePageFile(m_pageFile); });
    attempt([&] { m_controls.scan.call(ScanMember::Scan, {}); });
    attempt([&] { m_host.SetCopyBtn(0); });
}

void CopyRun::phase1()
{
    attempt([&] { m_controls.scan.call(ScanMember::FinishScan, {}); });
    attempt([&] {
        m_controls.edit.call(EditMember::Display,
                             {Variant::textRef(&m_pageFile), Variant::missing(), Variant::missing(),
                              Variant::missing(), Variant::missing(), Variant::boolean(false)});
    });
    attempt([&] { m_controls.edit.call(EditMember::Fit, {Variant::int16(0)}); });
    attempt([&] { m_controls.edit.call(EditMember::Refresh, {}); });

    bool noPrint = false;
    if (test([&] { return isChecked(CopyRunHost::Option::AskBeforePrint); })) {
        attempt([&] {
            const int answer =
                m_host.msgBox(QStringLiteral("Soll die eingescannte Seite jetzt gedruckt werden?"),
                              MsgBox::YesNo, Title);
            noPrint = answer == MsgBox::IdNo;
        });
    }
    if (noPrint)
        return;
    attempt([&] {
        imaging::DispatchControl& admin = m_controls.admin;
        const std::int32_t a = admin.read(AdminMember::Copies).toInt32();
        const std::int32_t b = admin.read(AdminMember::SizeMode).toInt32();
        const std::int32_t c = admin.read(AdminMember::Output).toInt32();
        m_controls.edit.call(EditMember::Print, {Variant::int32(a), Variant::int32(b),
                                                 Variant::int32(c), Variant::boolean(false)});
    });
    Module1::FirstCopyDone = -1;
}

void CopyRun::phase2()
{
    attempt([&] {
        m_controls.admin.call(AdminMember::PrintDialog,
                              {Variant::int32(m_host.nativeWindowHandle())});
    });
}
