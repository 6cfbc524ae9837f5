#include "TimeInputView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

TimeInputView::TimeInputView(int hour, int minute, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_hour = new QComboBox(this);
    m_hour->setObjectName(QStringLiteral("time-hour"));
    m_hour->setAccessibleName(QStringLiteral("Hour"));
    for (int value = 0; value < 24; ++value)
        m_hour->addItem(QString::number(value), value);
    m_minute = new QComboBox(this);
    m_minute->setObjectName(QStringLiteral("time-minute"));
    m_minute->setAccessibleName(QStringLiteral("Minute"));
    for (int value = 0; value < 60; ++value)
        m_minute->addItem(QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')), value);
    m_hour->setFixedWidth(60);
    m_minute->setFixedWidth(60);
    auto* colon = new QLabel(QStringLiteral(":"), this);
    QFont font = colon->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    font.setWeight(QFont::Medium);
    colon->setFont(font);
    layout->addWidget(m_hour);
    layout->addWidget(colon);
    layout->addWidget(m_minute);
    setTime(hour, minute);
    const auto emitTime = [this] { Q_EMIT timeChanged(this->hour(), this->minute()); };
    connect(m_hour, &QComboBox::currentIndexChanged, this, emitTime);
    connect(m_minute, &QComboBox::currentIndexChanged, this, emitTime);
}

int TimeInputView::hour() const { return m_hour->currentData().toInt(); }

int TimeInputView::minute() const { return m_minute->currentData().toInt(); }

void TimeInputView::setTime(int hour, int minute)
{
    // Times outside the pickers' ranges (a hand-edited task file) show as the nearest value
    // but are not written back until the user picks one.
    const QSignalBlocker hourBlocker(m_hour);
    const QSignalBlocker minuteBlocker(m_minute);
    m_hour->setCurrentIndex(qBound(0, hour, 23));
    m_minute->setCurrentIndex(qBound(0, minute, 59));
}
