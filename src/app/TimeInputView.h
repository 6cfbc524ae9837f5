#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QComboBox;

// An hour picker (0...23), ":" and a minute picker (00...59): every time of day in the form.
class TimeInputView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TimeInputView)

public:
    TimeInputView(int hour, int minute, QWidget* parent = nullptr);

    int hour() const;
    int minute() const;
    void setTime(int hour, int minute);
    QComboBox* hourPicker() const { return m_hour; }
    QComboBox* minutePicker() const { return m_minute; }

Q_SIGNALS:
    void timeChanged(int hour, int minute);

protected:
    // Digits typed into a picker choose by number rather than by prefix.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void typeDigit(QComboBox* picker, int digit);

    QComboBox* m_hour = nullptr;
    QComboBox* m_minute = nullptr;
    QComboBox* m_typedPicker = nullptr;
    int m_typedValue = 0;
    QElapsedTimer m_typedSince;
};
