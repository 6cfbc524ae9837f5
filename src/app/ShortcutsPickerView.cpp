#include "ShortcutsPickerView.h"

#include "ChildProcess.h"
#include "EmptyStateView.h"
#include "Icons.h"
#include "PlatformTexts.h"
#include "SheetSize.h"
#include "TaskFormView.h"
#include "ToolPaths.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QUrl>
#include <QVBoxLayout>

namespace {

enum Page { loadingPage, emptyPage, listPage };

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString trimmedOfBlanks(const QString& line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(line.at(begin)))
        ++begin;
    while (end > begin && blank(line.at(end - 1)))
        --end;
    return line.mid(begin, end - begin);
}

} // namespace

ShortcutsPickerView::ShortcutsPickerView(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("shortcuts-picker"));
    setWindowTitle(QStringLiteral("Choose a Shortcut"));
    setModal(true);
    SheetSize::fit(*this, QSize(400, 420));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    auto* title = new QLabel(QStringLiteral("Choose a Shortcut"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(openShortcutsButton());
    layout->addLayout(header);
    layout->addWidget(divider(this));

    m_content = new QStackedWidget(this);
    auto* loading = new QWidget(m_content);
    auto* loadingLayout = new QVBoxLayout(loading);
    loadingLayout->addStretch();
    auto* spinner = new QProgressBar(loading);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(120, 8);
    auto* loadingText = new QLabel(QStringLiteral("Loading shortcuts…"), loading);
    loadingText->setObjectName(QStringLiteral("shortcuts-loading"));
    loadingText->setAlignment(Qt::AlignCenter);
    loadingLayout->addWidget(spinner, 0, Qt::AlignCenter);
    loadingLayout->addWidget(loadingText);
    loadingLayout->addStretch();

    auto* empty =
        new EmptyStateView(QStringLiteral("No Shortcuts Found"), QStringLiteral("app.dashed"),
                           shortcutsToolAvailable() ? PlatformTexts::current().noShortcutsText
                                                    : PlatformTexts::current().noShortcutsTool,
                           m_content);
    empty->setObjectName(QStringLiteral("shortcuts-empty"));
#ifdef Q_OS_MACOS
    connect(empty->addButton(QStringLiteral("Open Shortcuts App")), &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("shortcuts://"))); });
#endif

    auto* list = new QWidget(m_content);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(12, 10, 12, 6);
    m_filter = new QLineEdit(list);
    m_filter->setObjectName(QStringLiteral("shortcuts-filter"));
    m_filter->setPlaceholderText(QStringLiteral("Filter…"));
    m_filter->setAccessibleName(QStringLiteral("Filter…"));
    m_filter->setClearButtonEnabled(true);
    listLayout->addWidget(m_filter);
    auto* scroll = new QScrollArea(list);
    scroll->setObjectName(QStringLiteral("shortcuts-scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* rows = new QWidget(scroll);
    m_rows = new QVBoxLayout(rows);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    m_rows->addStretch();
    scroll->setWidget(rows);
    listLayout->addWidget(scroll, 1);
    connect(m_filter, &QLineEdit::textChanged, this, &ShortcutsPickerView::applyFilter);

    m_content->insertWidget(loadingPage, loading);
    m_content->insertWidget(emptyPage, empty);
    m_content->insertWidget(listPage, list);
    m_content->setCurrentIndex(loadingPage);
    layout->addWidget(m_content, 1);
    layout->addWidget(divider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(16, 10, 16, 12);
    QPushButton* cancel = TaskFormView::sheetButton(QStringLiteral("Cancel"),
                                                    QStringLiteral("shortcuts-cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    footer->addWidget(cancel);
    footer->addStretch();
    layout->addLayout(footer);

    startListing();
}

ShortcutsPickerView::~ShortcutsPickerView()
{
    // A listing still going when the sheet closes is abandoned; nothing waits for it.
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->setParent(nullptr);
        connect(m_process, &QProcess::finished, m_process, &QObject::deleteLater);
        m_process->kill();
    }
}

QPushButton* ShortcutsPickerView::openShortcutsButton()
{
    auto* button = new QPushButton(Icons::symbol(QStringLiteral("arrow.up.forward.app")),
                                   QStringLiteral("Open Shortcuts App"), this);
    button->setObjectName(QStringLiteral("shortcuts-open-app"));
    button->setAccessibleName(button->text());
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); border: none; }"));
    connect(button, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("shortcuts://"))); });
#ifndef Q_OS_MACOS
    // There is no Shortcuts application to open outside macOS.
    button->hide();
#endif
    return button;
}

QStringList ShortcutsPickerView::parseNames(const QByteArray& output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(output);
    if (decoder.hasError())
        return {};
    QStringList names;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")))) {
        const QString name = trimmedOfBlanks(line);
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

void ShortcutsPickerView::startListing()
{
    m_process = new QProcess(this);
    m_process->setProgram(ToolPaths::shortcuts());
    m_process->setArguments({QStringLiteral("list")});
    ChildProcess::startInOwnSession(*m_process);
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        // A tool that failed may have printed half a list; none is shown rather than a wrong one.
        const bool ok = status == QProcess::NormalExit && code == 0;
        finishListing(ok ? parseNames(m_process->readAllStandardOutput()) : QStringList());
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finishListing({});
    });
    m_process->start();
    m_process->closeWriteChannel();
}

void ShortcutsPickerView::finishListing(const QStringList& names)
{
    if (!m_isLoading)
        return;
    m_isLoading = false;
    m_shortcuts = names;
    for (const QString& name : names) {
        // "&" would otherwise mark a mnemonic and vanish from the row.
        QString label = name;
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* row = new QPushButton(Icons::symbol(QStringLiteral("sparkles.rectangle.stack")),
                                    label, m_rows->parentWidget());
        row->setProperty("shortcutName", name);
        row->setObjectName(QStringLiteral("shortcut-row"));
        row->setAccessibleName(name);
        row->setFlat(true);
        row->setAutoDefault(false);
        row->setStyleSheet(QStringLiteral(
            "QPushButton { text-align: left; padding: 6px 4px; border: none; }"
            "QPushButton:hover { background: palette(midlight); border-radius: 4px; }"));
        auto* trailing = new QLabel(row);
        trailing->setPixmap(Icons::pixmap(QStringLiteral("plus.circle"), 16, devicePixelRatioF()));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 6, 0);
        rowLayout->addStretch();
        rowLayout->addWidget(trailing);
        connect(row, &QPushButton::clicked, this, [this, name] {
            m_chosen = name;
            Q_EMIT selected(name);
            accept();
        });
        m_rows->insertWidget(m_rows->count() - 1, row);
        m_rowButtons.append(row);
    }
    m_content->setCurrentIndex(names.isEmpty() ? emptyPage : listPage);
    applyFilter();
}

void ShortcutsPickerView::applyFilter()
{
    const QString text = m_filter->text();
    for (QPushButton* row : std::as_const(m_rowButtons))
        row->setVisible(
            text.isEmpty() ||
            row->property("shortcutName").toString().contains(text, Qt::CaseInsensitive));
}
