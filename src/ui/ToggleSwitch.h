#pragma once

#include <QAbstractButton>

// An on/off switch: a pill with a knob, checkable, keyboard operable.
class ToggleSwitch : public QAbstractButton {
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {34, 20}; }

protected:
    void paintEvent(QPaintEvent*) override;
};
