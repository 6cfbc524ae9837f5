#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QProcess;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

// "Choose a Shortcut": lists the user's shortcuts with the system's `shortcuts list`, read
// without blocking the window, lets the user filter them and hands back the clicked name.
class ShortcutsPickerView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShortcutsPickerView)

public:
    explicit ShortcutsPickerView(QWidget* parent = nullptr);
    ~ShortcutsPickerView() override;

    bool isLoading() const { return m_isLoading; }
    const QStringList& shortcuts() const { return m_shortcuts; }
    // The name the user clicked; empty until then.
    const QString& chosen() const { return m_chosen; }

    // The tool's output as names: lines trimmed of spaces and tabs, empty ones dropped, order
    // and duplicates kept. Output that is not UTF-8 gives no names.
    static QStringList parseNames(const QByteArray& output);

Q_SIGNALS:
    void selected(const QString& name);

private:
    void startListing();
    void finishListing(const QStringList& names);
    void applyFilter();
    QPushButton* openShortcutsButton();

    QStringList m_shortcuts;
    bool m_isLoading = true;
    QString m_chosen;
    QProcess* m_process = nullptr;
    QStackedWidget* m_content = nullptr;
    QLineEdit* m_filter = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QList<QPushButton*> m_rowButtons;
};
