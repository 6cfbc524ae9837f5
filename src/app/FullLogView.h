#pragma once

#include <QDialog>

class QPlainTextEdit;

// The sheet that shows a whole output log: a title, "Done" and the text, monospaced.
class FullLogView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FullLogView)

public:
    FullLogView(const QString& title, const QString& content, QWidget* parent = nullptr);

    QString title() const;
    QString content() const;

private:
    QPlainTextEdit* m_text = nullptr;
};
