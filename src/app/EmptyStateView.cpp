#include "EmptyStateView.h"

#include "Icons.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

EmptyStateView::EmptyStateView(const QString& title, const QString& symbol,
                               const QString& description, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("empty-state"));
    setAccessibleName(title);
    m_layout = new QVBoxLayout(this);
    m_layout->addStretch();
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::pixmap(symbol, 48, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("empty-state-title"));
    QFont font = titleLabel->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    titleLabel->setFont(font);
    titleLabel->setAlignment(Qt::AlignCenter);
    auto* descriptionLabel = new QLabel(description, this);
    descriptionLabel->setObjectName(QStringLiteral("empty-state-description"));
    descriptionLabel->setAlignment(Qt::AlignCenter);
    descriptionLabel->setWordWrap(true);
    descriptionLabel->setForegroundRole(QPalette::PlaceholderText);
    m_layout->addWidget(icon);
    m_layout->addSpacing(6);
    m_layout->addWidget(titleLabel);
    m_layout->addWidget(descriptionLabel);
    m_layout->addStretch();
}

QPushButton* EmptyStateView::addButton(const QString& text)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(QStringLiteral("empty-state-button"));
    button->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    row->addStretch();
    // Below the description, above the trailing stretch.
    m_layout->insertSpacing(m_layout->count() - 1, 10);
    m_layout->insertLayout(m_layout->count() - 1, row);
    return button;
}
