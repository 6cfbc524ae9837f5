#include "FullLogView.h"

#include "SheetSize.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

FullLogView::FullLogView(const QString& title, const QString& content, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("full-log"));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto* top = new QHBoxLayout;
    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("full-log-title"));
    heading->setTextFormat(Qt::PlainText);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    // "Done" is the cancel button: Escape closes the sheet, Return does not.
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("full-log-done"));
    done->setAccessibleName(QStringLiteral("Done"));
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, &QDialog::reject);
    top->addWidget(heading);
    top->addStretch();
    top->addWidget(done);
    layout->addLayout(top);

    // A plain-text editor lays out only what is on screen, so 10,000 lines open at once.
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("full-log-content"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setPlainText(content);
    // The newest output is what one opens a log for: the last line, from its start, so no line
    // is cut at the left.
    m_text->moveCursor(QTextCursor::End);
    m_text->moveCursor(QTextCursor::StartOfBlock);
    layout->addWidget(m_text);
    SheetSize::fit(*this, QSize(720, 480), QSize(600, 400));
}

QString FullLogView::title() const { return windowTitle(); }

QString FullLogView::content() const { return m_text->toPlainText(); }
