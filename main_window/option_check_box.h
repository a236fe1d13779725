#pragma once

#include <QCheckBox>

#include <cstdint>

// A check box with the three values of the option boxes: 0 unchecked, 1 checked, 2 greyed.
// The greyed state can only be set by the program; a user's click moves between 0 and 1.
class OptionCheckBox : public QCheckBox {
    Q_OBJECT
public:
    OptionCheckBox(const QString& caption, QWidget* parent);

    std::int16_t Value() const;
    // Throws DispatchError for anything but 0, 1 and 2. A different value raises Click.
    void setValue(std::int16_t value);

Q_SIGNALS:
    // The value has changed, by a click or by setValue.
    void Click();

protected:
    void nextCheckState() override;
};
