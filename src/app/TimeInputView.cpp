#include "TimeInputView.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
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
    for (QComboBox* picker : {m_hour, m_minute}) {
        // Two digits in whatever font size the user chose.
        picker->setMinimumContentsLength(2);
        picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        picker->installEventFilter(this);
    }
    m_hour->setAccessibleDescription(QStringLiteral("Hour"));
    m_minute->setAccessibleDescription(QStringLiteral("Minute"));
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

bool TimeInputView::eventFilter(QObject* watched, QEvent* event)
{
    auto* picker = qobject_cast<QComboBox*>(watched);
    if (picker && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() == 1 && text.at(0).isDigit() &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            typeDigit(picker, text.at(0).digitValue());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TimeInputView::typeDigit(QComboBox* picker, int digit)
{
    // Digits typed in quick succession form one number ("1", "5": 15); a number past the end
    // of the list starts again with the last digit. The item's index is its value.
    const bool continues = picker == m_typedPicker && m_typedSince.isValid() &&
                           m_typedSince.elapsed() < QApplication::keyboardInputInterval();
    int value = continues ? m_typedValue * 10 + digit : digit;
    if (value >= picker->count())
        value = digit;
    m_typedPicker = picker;
    m_typedValue = value;
    m_typedSince.start();
    picker->setCurrentIndex(value);
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
