#include "imaging/scan/button_watch.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/scan/link/remote_device.h"
#include "imaging/scan/link/scanner_thread.h"
#include "imaging/scan/scanner_choice.h"

#include <QCoreApplication>
#include <QList>
#include <QPointer>

#include <utility>

namespace imaging {

struct ButtonWatch::Answer {
    bool down = false;
    bool drain = false; // a press kept from a busy time, not wanted now
    int copies = 0;     // copies begun when the look was sent
    QString failure;    // empty: the device answered
};

// The buttons' options in the device as it was opened for the watch.
struct ButtonWatch::Buttons {
    QString device;
    QList<int> indexes;
};

ButtonWatch::ButtonWatch(std::shared_ptr<scanner::Device> device, std::function<bool()> idle)
    : m_device(std::move(device))
    , m_idle(std::move(idle))
    , m_buttons(std::make_shared<Buttons>())
{
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ButtonWatch::look);
}

ButtonWatch::~ButtonWatch() = default;

void ButtonWatch::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    m_stopped = false;
    m_down = false;
    m_drain = true;
    if (on) {
        m_timer.start();
        return;
    }
    m_timer.stop();
    // Not watched, the device is free for other programs (no scan runs while the switch is
    // set).
    scanner::ScannerThread::instance().post([device = m_device, buttons = m_buttons] {
        if (!buttons->device.isEmpty() && device->name() == buttons->device)
            device->close();
        buttons->device.clear();
    });
}

void ButtonWatch::look()
{
    if (!m_idle()) {
        m_drain = true;
        return;
    }
    if (m_stopped || m_asking)
        return;
    m_asking = true;
    QPointer<ButtonWatch> self(this);
    scanner::ScannerThread::instance().post([self, device = m_device, buttons = m_buttons,
                                             drain = std::exchange(m_drain, false),
                                             copies = m_copies] {
        Answer answer;
        answer.drain = drain;
        answer.copies = copies;
        try {
            // Closed after a copy, or another scanner chosen meanwhile: opened (again).
            if (!device->isOpen() || device->name() != buttons->device) {
                if (!device->isOpen()) {
                    const ScannerChoice choice = ScannerChoice::load();
                    QString name = choice.name;
                    if (name.isEmpty()) {
                        const auto devices = scanner::listDevices();
                        if (const sane::DeviceInfo* found = choice.pick(devices))
                            name = found->name;
                    }
                    if (name.isEmpty())
                        throw DispatchError(ErrorNumber::NoScanner,
                                            QStringLiteral("Es wurde kein Scanner gefunden."),
                                            scanProgId());
                    device->open(name);
                }
                buttons->device = device->name();
                buttons->indexes.clear();
                for (const QString& name : DeviceAbilities::of(*device).startButtons)
                    buttons->indexes << device->find(name);
                if (buttons->indexes.isEmpty())
                    throw DispatchError(ErrorNumber::NoSuchSource,
                                        QStringLiteral("Der Scanner „%1“ hat keine Taste "
                                                       "„Kopieren“ oder „Scannen“, die Kopyra "
                                                       "abfragen könnte.")
                                            .arg(buttons->device),
                                        scanProgId());
            }
            for (const int index : std::as_const(buttons->indexes))
                answer.down = answer.down || device->value(index).toBool();
        } catch (const DispatchError& e) {
            answer.failure = e.description();
            try {
                device->close();
            } catch (const DispatchError&) {
            }
            buttons->device.clear();
        }
        QMetaObject::invokeMethod(qApp, [self, answer] {
            if (self)
                self->answered(answer);
        });
    });
}

void ButtonWatch::answered(const Answer& answer)
{
    m_asking = false;
    if (!m_on)
        return;
    if (!answer.failure.isEmpty()) {
        m_stopped = true;
        m_down = false;
        // Once, until the scanner answers again: not after every copy that resumes the watch.
        if (failed && !std::exchange(m_failureTold, true))
            failed(answer.failure);
        return;
    }
    m_failureTold = false;
    const bool press = answer.down && !m_down && !answer.drain && answer.copies == m_copies;
    m_down = answer.down;
    if (press && m_idle() && pressed)
        pressed();
}

} // namespace imaging
