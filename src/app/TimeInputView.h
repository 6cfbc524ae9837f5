#pragma once

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

private:
    QComboBox* m_hour = nullptr;
    QComboBox* m_minute = nullptr;
};
