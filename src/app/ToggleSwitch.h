#pragma once

#include <QAbstractButton>

// A checkable button drawn as a switch: a rounded track with a knob that sits right when on.
// Its text is not drawn; it serves as the accessible name.
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToggleSwitch)

public:
    explicit ToggleSwitch(const QString& accessibleName, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
