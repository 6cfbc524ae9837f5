#include "ToggleSwitch.h"

#include "StatusColors.h"

#include <QPainter>

#include <algorithm>

ToggleSwitch::ToggleSwitch(const QString& accessibleName, QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setText(accessibleName);
    setAccessibleName(accessibleName);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QSize ToggleSwitch::sizeHint() const
{
    // 34 by 20 at the usual font size, growing with a larger one.
    const int height = std::max(20, fontMetrics().height() + 4);
    return {height * 17 / 10, height};
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    // The off track is a control's edge: 3:1 against the window, as for any symbol.
    const QColor off = StatusColors::symbol(StatusColors::Status::off, palette());
    const QColor on = palette().color(QPalette::Highlight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? on : off);
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(0xd0, 0xd0, 0xd0));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius + 1,
                                radius + 1);
    }
}
