#include "copy_run/copy_run.h"

#include "support/module1.h"
#include "support/msg_box.h"

using imaging::Variant;

namespace {
const QString CR = QStringLiteral("\r");
const QString Title = QStringLiteral("Kopyra");
} // namespace

CopyRun::CopyRun(CopyRunHost& host)
    : m_host(host)
{
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
    // A completion event may run phase 1 inside phase 0's start of the scan; each run reports
    // with its own phase number.
    const std::int16_t outer = m_phase;
    m_phase = phase;
    switch (phase) {
    case 0:
        phase0();
        break;
    case 1:
        phase1();
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
        number = 51; // internal error
        description = QString::fromLocal8Bit(e.what());
        source = Title;
    } catch (...) {
        number = 51;
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
    attempt([&] { m_host.imgScan1().put(16, Variant::boolean(true)); });
    if (test([&] { return isChecked(Option::ShowSpecificSetup); })) {
        if (test([&] { return isChecked(Option::ShowSpecificSetupFirstPage); })) {
            if (Module1::FirstCopyDone)
                attempt([&] { m_host.imgScan1().put(16, Variant::boolean(false)); });
        }
    } else {
        attempt([&] { m_host.imgScan1().put(16, Variant::boolean(false)); });
    }
    attempt([&] { m_host.imgAdmin1().put(4, Variant::text(Module1::PageFilePath)); });
    if (test([&] { return m_host.imgAdmin1().call(114, {Variant::int32(0)}).toInt32() != 0; }))
        attempt([&] { m_host.deletePageFile(Module1::PageFilePath); });
    attempt([&] { m_host.imgScan1().call(102, {}); });
    attempt([&] { m_host.SetCopyBtn(0); });
}

void CopyRun::phase1()
{
    attempt([&] { m_host.imgScan1().call(103, {}); });
    attempt([&] {
        m_host.imgEdit1().call(343, {Variant::textRef(&Module1::PageFilePath), Variant::missing(),
                                     Variant::missing(), Variant::missing(), Variant::missing(),
                                     Variant::boolean(false)});
    });
    attempt([&] { m_host.imgEdit1().call(352, {Variant::int16(0)}); });
    attempt([&] { m_host.imgEdit1().call(301, {}); });

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
        imaging::DispatchControl& admin = m_host.imgAdmin1();
        const std::int32_t a = admin.read(29).toInt32();
        const std::int32_t b = admin.read(28).toInt32();
        const std::int32_t c = admin.read(16).toInt32();
        m_host.imgEdit1().call(351, {Variant::int32(a), Variant::int32(b), Variant::int32(c),
                                     Variant::boolean(false)});
    });
    Module1::FirstCopyDone = -1;
}

void CopyRun::phase2()
{
    attempt([&] { m_host.imgAdmin1().call(104, {Variant::int32(m_host.nativeWindowHandle())}); });
}
