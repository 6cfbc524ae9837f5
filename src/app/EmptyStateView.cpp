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
    icon->setObjectName(QStringLiteral("empty-state-symbol"));
    icon->setPixmap(
        Icons::pixmap(symbol, 48, devicePixelRatioF(), palette().color(QPalette::PlaceholderText)));
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
    // The prominent style: the accent colour filled in, its text in the highlighted text colour.
    QPalette prominent = button->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        prominent.setColor(group, QPalette::Button, prominent.color(group, QPalette::Highlight));
        prominent.setColor(group, QPalette::ButtonText,
                           prominent.color(group, QPalette::HighlightedText));
    }
    button->setPalette(prominent);
    button->setMinimumHeight(button->sizeHint().height() + 6);
    button->setMinimumWidth(button->sizeHint().width() + 24);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    row->addStretch();
    // Below the description, above the trailing stretch.
    m_layout->insertSpacing(m_layout->count() - 1, 10);
    m_layout->insertLayout(m_layout->count() - 1, row);
    return button;
}
