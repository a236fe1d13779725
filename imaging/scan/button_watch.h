#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace imaging {

namespace scanner {
class Device;
} // namespace scanner

// Watches the chosen scanner's own "copy" and "scan" buttons, four times a second, while it is
// switched on and the scan control is idle (no scan, no dialog of Kopyra's open). The device is
// kept open meanwhile, so a button reports its press; each press (the button going down) is told
// once; a press while the control was busy is dropped. A device that cannot be asked (gone, not
// answering, without such buttons) ends the watching until resume(): the failure is told once
// until the device answers again, the device closed for other programs.
class ButtonWatch : public QObject {
public:
    static constexpr int IntervalMs = 250;

    ButtonWatch(std::shared_ptr<scanner::Device> device, std::function<bool()> idle);
    ~ButtonWatch() override;

    void setOn(bool on);
    bool isOn() const { return m_on; }
    // After a copy: watching again, if it had stopped for a failure.
    void resume() { m_stopped = false; }
    // A copy begins: watched again afterwards (after a failure too), and a press the scanner
    // keeps from meanwhile, or one a look under way brings back, is no second copy.
    void copyBegins()
    {
        resume();
        m_drain = true;
        ++m_copies;
    }

    std::function<void()> pressed;
    std::function<void(const QString& why)> failed;

private:
    struct Answer;
    struct Buttons; // on the scanner thread
    void look();
    void answered(const Answer& answer);

    std::shared_ptr<scanner::Device> m_device;
    std::function<bool()> m_idle;
    std::shared_ptr<Buttons> m_buttons;
    QTimer m_timer;
    bool m_on = false;
    bool m_stopped = false;     // for a failure, until resume()
    bool m_failureTold = false; // until the scanner answers again
    bool m_asking = false;
    bool m_down = false; // a button was down at the last look
    // The next look only learns the buttons' state: a press the device kept from while a copy
    // ran or a dialog was open (many report a press until it is read) is not a new copy.
    bool m_drain = true;
    int m_copies = 0; // begun so far: a look's answer from before the last one is stale
};

} // namespace imaging
