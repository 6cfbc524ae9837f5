#pragma once

#include <QWidget>

class QPushButton;

// A centred empty-state panel: symbol, title, description and an optional prominent button.
class EmptyStateView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EmptyStateView)

public:
    EmptyStateView(const QString& title, const QString& symbol, const QString& description,
                   QWidget* parent = nullptr);
    // Adds the prominent button; returns it so the caller connects it.
    QPushButton* addButton(const QString& text);

private:
    class QVBoxLayout* m_layout = nullptr;
};
