#include "TestRunView.h"

#include "Icons.h"
#include "RowPainting.h"
#include "SheetSize.h"
#include "TaskFormView.h"
#include "TaskRunner.h"

#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

TestRunView::TestRunView(const ScheduledTask& task, QWidget* parent)
    : QDialog(parent), m_task(task), m_runner(new TaskRunner(this))
{
    setObjectName(QStringLiteral("test-run-sheet"));
    setWindowTitle(QStringLiteral("Test Run"));
    setModal(true);
    SheetSize::fit(*this, QSize(600, 400));
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = new QLabel(QStringLiteral("Test Run"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    auto* command = new QLabel(this);
    command->setObjectName(QStringLiteral("test-run-command"));
    QFont smallMono = mono;
    smallMono.setPointSizeF(mono.pointSizeF() * 0.85);
    command->setFont(smallMono);
    command->setForegroundRole(QPalette::PlaceholderText);
    command->setText(
        command->fontMetrics().elidedText(m_task.command.simplified(), Qt::ElideRight, 420));
    command->setToolTip(m_task.command);
    m_shell = new QLabel(this);
    m_shell->setObjectName(QStringLiteral("test-run-shell"));
    QFont caption = m_shell->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_shell->setFont(caption);
    m_shell->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(title);
    titles->addWidget(command);
    titles->addWidget(m_shell);
    header->addLayout(titles, 1);
    m_spinner = new QProgressBar(this);
    m_spinner->setRange(0, 0);
    m_spinner->setFixedSize(60, 8);
    m_spinner->setTextVisible(false);
    m_runningText = new QLabel(QStringLiteral("Running..."), this);
    m_runningText->setObjectName(QStringLiteral("test-run-running"));
    m_runningText->setFont(caption);
    m_headerStatus = new QLabel(this);
    m_headerStatus->setObjectName(QStringLiteral("test-run-header-status"));
    header->addWidget(m_spinner);
    header->addSpacing(6);
    header->addWidget(m_runningText);
    header->addWidget(m_headerStatus);
    layout->addLayout(header);
    layout->addWidget(divider(this));

    m_cutNote = new QLabel(
        QStringLiteral("Earlier output was cut: only the last part of a long output is kept."),
        this);
    m_cutNote->setObjectName(QStringLiteral("test-run-cut-note"));
    m_cutNote->setFont(caption);
    m_cutNote->setContentsMargins(16, 4, 16, 4);
    m_cutNote->setWordWrap(true);
    m_cutNote->hide();
    layout->addWidget(m_cutNote);

    m_output = new QPlainTextEdit(this);
    m_output->setObjectName(QStringLiteral("test-run-output"));
    m_output->setAccessibleName(QStringLiteral("Output"));
    m_output->setReadOnly(true);
    m_output->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_output->setFont(mono);
    m_output->setFrameShape(QFrame::NoFrame);
    // A stop for Tab so the output can be read with the keyboard; Tab goes on from it.
    m_output->setFocusPolicy(Qt::StrongFocus);
    m_output->setTabChangesFocus(true);
    m_output->document()->setDocumentMargin(8);
    m_output->setPlaceholderText(QStringLiteral("Waiting for output..."));
    m_output->setStyleSheet(
        RowPainting::quaternaryFillRule(QStringLiteral("QPlainTextEdit"), palette()));
    layout->addWidget(m_output, 1);
    layout->addWidget(divider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(16, 10, 16, 10);
    footer->setSpacing(TaskFormView::sheetButtonSpacing(this));
    m_footerStatus = new QLabel(this);
    m_exitLabel = new QLabel(this);
    m_exitLabel->setObjectName(QStringLiteral("test-run-exit"));
    footer->addWidget(m_footerStatus);
    footer->addWidget(m_exitLabel);
    footer->addStretch();
    m_stop =
        TaskFormView::sheetButton(QStringLiteral("Stop"), QStringLiteral("test-run-stop"), this);
    m_stop->setIcon(Icons::symbol(QStringLiteral("stop.fill")));
    m_stop->setStyleSheet(QStringLiteral("QPushButton { color: %1; }")
                              .arg(RowPainting::failureColor(palette()).name()));
    m_close =
        TaskFormView::sheetButton(QStringLiteral("Close"), QStringLiteral("test-run-close"), this);
    m_runAgain = TaskFormView::sheetButton(QStringLiteral("Run Again"),
                                           QStringLiteral("test-run-again"), this);
    m_runAgain->setDefault(true);
    footer->addWidget(m_stop);
    footer->addWidget(m_close);
    footer->addWidget(m_runAgain);
    layout->addLayout(footer);

    connect(m_stop, &QPushButton::clicked, m_runner, &TaskRunner::stop);
    connect(m_close, &QPushButton::clicked, this, &TestRunView::reject);
    connect(m_runAgain, &QPushButton::clicked, this, &TestRunView::runAgain);
    m_outputTimer = new QTimer(this);
    m_outputTimer->setSingleShot(true);
    m_outputTimer->setInterval(50);
    connect(m_outputTimer, &QTimer::timeout, this, &TestRunView::showOutput);
    connect(m_runner, &TaskRunner::changed, this, &TestRunView::refresh);
    refresh();
}

TestRunView::~TestRunView() = default;

void TestRunView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!std::exchange(m_started, true))
        runAgain();
}

void TestRunView::runAgain()
{
    m_runner->run(m_task.command, m_task.workingDirectory, m_task.envFilePath,
                  m_task.useLoginShell);
}

void TestRunView::reject()
{
    // Escape and the window's close button do nothing while a run goes on: Stop ends it first.
    if (m_runner->isRunning())
        return;
    QDialog::reject();
}

void TestRunView::refresh()
{
    const bool running = m_runner->isRunning();
    const std::optional<int> exitCode = m_runner->exitCode();
    m_shell->setText(m_runner->shellProgram().isEmpty()
                         ? QString()
                         : QStringLiteral("Shell: ") + m_runner->shellProgram());
    m_spinner->setVisible(running);
    m_runningText->setVisible(running);
    m_stop->setVisible(running);
    m_close->setVisible(!running);
    m_runAgain->setVisible(!running);
    (running ? m_stop : m_runAgain)->setFocus();

    const bool finished = !running && exitCode.has_value();
    m_headerStatus->setVisible(finished);
    m_footerStatus->setVisible(finished);
    m_exitLabel->setVisible(finished);
    if (finished) {
        const bool success = *exitCode == 0;
        const QString symbol =
            success ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.circle.fill");
        const QColor color =
            success ? RowPainting::successColor(palette()) : RowPainting::failureColor(palette());
        m_headerStatus->setPixmap(Icons::pixmap(symbol, 22, devicePixelRatioF()));
        m_footerStatus->setPixmap(Icons::pixmap(symbol, 16, devicePixelRatioF()));
        m_exitLabel->setText(QString::asprintf("Exit: %d", *exitCode));
        m_exitLabel->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
        m_exitLabel->setProperty("success", success);
    }

    // A new run clears the area at once; more output of a running one waits for the burst to
    // pass, so a command printing hundreds of megabytes leaves the window responsive.
    if (!running || m_runner->runNumber() != m_shownRun)
        showOutput();
    else if (!m_outputTimer->isActive())
        m_outputTimer->start();
}

void TestRunView::showOutput()
{
    m_outputTimer->stop();
    if (m_runner->runNumber() != m_shownRun) {
        m_shownRun = m_runner->runNumber();
        m_shownTotal = 0;
        m_output->clear();
    }
    m_cutNote->setVisible(m_runner->outputCut());
    const QString& output = m_runner->output();
    const qint64 fresh = m_runner->outputTotal() - m_shownTotal;
    if (fresh <= 0)
        return;
    m_shownTotal = m_runner->outputTotal();
    if (fresh > output.size()) {
        m_output->setPlainText(output);
    } else {
        // Appending keeps the user's selection intact.
        QTextCursor cursor(m_output->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(output.right(fresh));
    }
    // The area keeps about as much as the runner, cutting whole lines from the top.
    QTextDocument* document = m_output->document();
    const int excess = document->characterCount() - int(TaskRunner::keptOutputChars);
    if (excess > int(TaskRunner::keptOutputChars / 4)) {
        const QTextBlock block = document->findBlock(excess);
        const int cut = block.position() < excess && block.next().isValid()
                            ? block.next().position()
                            : std::max(block.position(), excess);
        QTextCursor front(document);
        front.setPosition(cut, QTextCursor::KeepAnchor);
        front.removeSelectedText();
    }
    m_output->verticalScrollBar()->setValue(m_output->verticalScrollBar()->maximum());
}
