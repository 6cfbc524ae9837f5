#include "Sidebar.h"

#include "Icons.h"
#include "RowPainting.h"
#include "SystemJobListModel.h"
#include "TaskListModel.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QListView* makeList(QWidget* parent, const QString& objectName)
{
    auto* list = new QListView(parent);
    list->setObjectName(objectName);
    list->setAccessibleName(objectName);
    list->setFrameShape(QFrame::NoFrame);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    list->setAttribute(Qt::WA_MacShowFocusRect, false);
    // Rows draw their own selection; the list itself stays transparent like a sidebar.
    list->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    return list;
}

QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    font.setBold(true);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// The Timeline row, drawn like the task and job rows: rounded selection, symbol and title.
class TimelineRowView final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        RowPainting::paintBackground(painter, option);
        const int iconSize = 16;
        const QRect rect = option.rect.adjusted(10, 0, -10, 0);
        index.data(Qt::DecorationRole)
            .value<QIcon>()
            .paint(painter,
                   QRect(rect.left(), rect.center().y() - iconSize / 2 + 1, iconSize, iconSize));
        RowPainting::paintElided(
            painter, rect.adjusted(iconSize + 8, 0, 0, 0), RowPainting::nameFont(option.font),
            RowPainting::primaryText(option), index.data(Qt::DisplayRole).toString());
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {200, QFontMetrics(RowPainting::nameFont(option.font)).height() + 12};
    }
};

} // namespace

Sidebar::Sidebar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sidebar"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 8, 0, 0);
    outer->setSpacing(6);

    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("sidebar-filter"));
    m_filter->setAccessibleName(QStringLiteral("sidebar-filter"));
    m_filter->setPlaceholderText(QStringLiteral("Filter..."));
    m_filter->setClearButtonEnabled(true);
    connect(m_filter, &QLineEdit::textChanged, this, &Sidebar::searchTextChanged);
    auto* filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(8, 0, 8, 0);
    filterRow->addWidget(m_filter);
    outer->addLayout(filterRow);

    auto* scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setObjectName(QStringLiteral("sidebar-scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->setSpacing(4);

    m_timelineModel = new QStandardItemModel(this);
    auto* timelineItem = new QStandardItem(Icons::symbol(QStringLiteral("clock.badge.checkmark")),
                                           QStringLiteral("Timeline"));
    timelineItem->setEditable(false);
    m_timelineModel->appendRow(timelineItem);
    m_timeline = makeList(content, QStringLiteral("sidebar-timeline"));
    m_timeline->setModel(m_timelineModel);
    m_timeline->setItemDelegate(new TimelineRowView(m_timeline));
    layout->addWidget(m_timeline);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 8, 4, 0);
    m_tasksHeader = sectionTitle(QStringLiteral("My Tasks"), content);
    m_tasksHeader->setObjectName(QStringLiteral("sidebar-tasks-header"));
    m_headerButton = new QPushButton(QStringLiteral("Select"), content);
    m_headerButton->setObjectName(QStringLiteral("sidebar-select-button"));
    m_headerButton->setFlat(true);
    m_headerButton->setCursor(Qt::PointingHandCursor);
    QFont buttonFont = m_headerButton->font();
    buttonFont.setPointSizeF(buttonFont.pointSizeF() * 0.85);
    m_headerButton->setFont(buttonFont);
    QPalette buttonPalette = m_headerButton->palette();
    buttonPalette.setColor(QPalette::ButtonText, buttonPalette.color(QPalette::Highlight));
    m_headerButton->setPalette(buttonPalette);
    connect(m_headerButton, &QPushButton::clicked, this, &Sidebar::headerButtonClicked);
    header->addWidget(m_tasksHeader);
    header->addStretch();
    header->addWidget(m_headerButton);
    layout->addLayout(header);

    m_taskModel = new TaskListModel(this);
    m_taskList = makeList(content, QStringLiteral("sidebar-task-list"));
    m_taskList->setModel(m_taskModel);
    m_taskList->setItemDelegate(new TaskRowView(m_taskList));
    m_taskList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_taskList, &QWidget::customContextMenuRequested, this, &Sidebar::showTaskContextMenu);
    connect(m_taskList, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (m_selectMode && index.isValid())
            Q_EMIT taskToggled(index.data(TaskListModel::TaskIdRole).toUuid());
    });
    layout->addWidget(m_taskList);

    m_addButton = new QPushButton(Icons::symbol(QStringLiteral("plus.circle.fill")),
                                  QStringLiteral("Add Task"), content);
    m_addButton->setObjectName(QStringLiteral("sidebar-add-task"));
    m_addButton->setAccessibleName(QStringLiteral("sidebar-add-task"));
    connect(m_addButton, &QPushButton::clicked, this, &Sidebar::addTaskClicked);
    auto* addRow = new QHBoxLayout;
    addRow->addStretch();
    addRow->addWidget(m_addButton);
    addRow->addStretch();
    layout->addLayout(addRow);

    layout->addSpacing(6);
    layout->addWidget(makeSystemJobsHeader());
    m_jobModel = new SystemJobListModel(this);
    m_jobList = makeList(content, QStringLiteral("sidebar-system-job-list"));
    m_jobList->setModel(m_jobModel);
    m_jobList->setItemDelegate(new LaunchdJobRow(m_jobList));
    m_jobList->setVisible(false);
    layout->addWidget(m_jobList);
    layout->addStretch();

    for (QListView* list : {m_timeline, m_taskList, m_jobList}) {
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, list] { onSelectionChanged(list); });
        // A reset model hands out a new selection model only when replaced; ours are kept.
    }
    scroll->setWidget(content);
    outer->addWidget(scroll);
    fitHeight(m_timeline);
    setMinimumWidth(220);
}

QWidget* Sidebar::makeSystemJobsHeader()
{
    m_jobsHeader = new QPushButton(this);
    m_jobsHeader->setObjectName(QStringLiteral("sidebar-system-jobs-header"));
    m_jobsHeader->setAccessibleName(QStringLiteral("System Jobs"));
    m_jobsHeader->setFlat(true);
    m_jobsHeader->setCheckable(true);
    m_jobsHeader->setStyleSheet(QStringLiteral("QPushButton { text-align: left; border: none; }"));
    auto* row = new QHBoxLayout(m_jobsHeader);
    row->setContentsMargins(12, 4, 12, 4);
    row->setSpacing(6);
    auto* icon = new QLabel(m_jobsHeader);
    icon->setPixmap(Icons::pixmap(QStringLiteral("gearshape.2"), 16, devicePixelRatioF()));
    auto* title = new QLabel(QStringLiteral("System Jobs"), m_jobsHeader);
    m_jobsCount = new QLabel(QStringLiteral("0"), m_jobsHeader);
    m_jobsCount->setObjectName(QStringLiteral("sidebar-system-jobs-count"));
    QFont countFont = m_jobsCount->font();
    countFont.setPointSizeF(countFont.pointSizeF() * 0.75);
    m_jobsCount->setFont(countFont);
    m_jobsCount->setForegroundRole(QPalette::PlaceholderText);
    for (QLabel* label : {icon, title, m_jobsCount})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(icon);
    row->addWidget(title);
    row->addStretch();
    row->addWidget(m_jobsCount);
    m_jobsHeader->setMinimumHeight(row->sizeHint().height());
    connect(m_jobsHeader, &QPushButton::clicked, this, &Sidebar::systemJobsHeaderClicked);
    return m_jobsHeader;
}

void Sidebar::render(const SidebarState& state)
{
    m_rendering = true;
    m_selectMode = state.selectMode;
    if (m_taskModel->tasks() != state.filteredTasks)
        m_taskModel->setTasks(state.filteredTasks);
    m_taskModel->setSelectMode(state.selectMode, state.selectedTaskIDs);
    m_taskList->setSelectionMode(state.selectMode ? QAbstractItemView::NoSelection
                                                  : QAbstractItemView::SingleSelection);

    m_headerButton->setVisible(state.taskCount > 0);
    if (!state.selectMode)
        m_headerButton->setText(QStringLiteral("Select"));
    else if (state.selectedTaskIDs.size() != state.filteredTasks.size())
        m_headerButton->setText(QStringLiteral("Select All"));
    else
        m_headerButton->setText(QStringLiteral("Deselect All"));
    m_addButton->setText(state.taskCount == 0 ? QStringLiteral("Add your first task")
                                              : QStringLiteral("Add Task"));

    if (m_jobModel->jobs().size() != state.filteredSystemJobs.size() ||
        !std::equal(m_jobModel->jobs().begin(), m_jobModel->jobs().end(),
                    state.filteredSystemJobs.begin(),
                    [](const LaunchdJob& a, const LaunchdJob& b) { return a.id == b.id; })) {
        m_jobModel->setJobs(state.filteredSystemJobs);
    }
    m_jobsCount->setText(QString::number(state.systemJobCount));
    m_jobsHeader->setChecked(state.showSystemJobs);
    m_jobList->setVisible(state.showSystemJobs);

    applySelection(state.selection);
    fitHeight(m_taskList);
    fitHeight(m_jobList);
    m_rendering = false;
}

void Sidebar::applySelection(const std::optional<SidebarSection>& selection)
{
    const bool changed = selection != m_shownSelection;
    m_shownSelection = selection;
    const auto select = [](QListView* list, int row) {
        if (row < 0) {
            list->selectionModel()->clear();
            return;
        }
        const QModelIndex index = list->model()->index(row, 0);
        list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    };
    using Kind = SidebarSection::Kind;
    select(m_timeline, selection && selection->kind == Kind::timeline ? 0 : -1);
    select(m_taskList, selection && selection->kind == Kind::task && !m_selectMode
                           ? m_taskModel->rowOf(selection->taskId)
                           : -1);
    select(m_jobList, selection && selection->kind == Kind::systemJob
                          ? m_jobModel->rowOf(selection->systemJobId)
                          : -1);
    // A selection made elsewhere (a new task, a duplicate) scrolls into view once laid out.
    if (changed && selection)
        QTimer::singleShot(0, this, &Sidebar::scrollToSelection);
}

void Sidebar::scrollToSelection()
{
    for (QListView* list : {m_timeline, m_taskList, m_jobList}) {
        const QModelIndexList selected = list->selectionModel()->selectedIndexes();
        if (selected.isEmpty() || !list->isVisible())
            continue;
        const QRect rect = list->visualRect(selected.constFirst());
        const QPoint center = list->viewport()->mapTo(m_scroll->widget(), rect.center());
        m_scroll->ensureVisible(center.x(), center.y(), 0, rect.height());
    }
}

void Sidebar::fitHeight(QListView* list)
{
    int height = 0;
    const int rows = list->model()->rowCount();
    for (int row = 0; row < rows; ++row)
        height += list->sizeHintForRow(row) + 2 * list->spacing();
    list->setFixedHeight(height + 2 * list->frameWidth());
}

void Sidebar::onSelectionChanged(QListView* list)
{
    if (m_rendering)
        return;
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const QModelIndex index = selected.constFirst();
    if (list == m_timeline)
        Q_EMIT sectionSelected(SidebarSection::timeline());
    else if (list == m_taskList)
        Q_EMIT sectionSelected(
            SidebarSection::task(index.data(TaskListModel::TaskIdRole).toUuid()));
    else
        Q_EMIT sectionSelected(
            SidebarSection::systemJob(index.data(SystemJobListModel::JobIdRole).toString()));
}

QMenu* Sidebar::makeTaskContextMenu(const ScheduledTask& task, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("task-context-menu"));
    QAction* edit = menu->addAction(QStringLiteral("Edit..."));
    edit->setObjectName(QStringLiteral("task-menu-edit"));
    connect(edit, &QAction::triggered, this, [this, task] { Q_EMIT editRequested(task); });
    QAction* duplicate = menu->addAction(QStringLiteral("Duplicate"));
    duplicate->setObjectName(QStringLiteral("task-menu-duplicate"));
    connect(duplicate, &QAction::triggered, this,
            [this, task] { Q_EMIT duplicateRequested(task); });
    menu->addSeparator();
    QAction* toggle =
        menu->addAction(task.isEnabled ? QStringLiteral("Disable") : QStringLiteral("Enable"));
    toggle->setObjectName(QStringLiteral("task-menu-toggle-enabled"));
    connect(toggle, &QAction::triggered, this,
            [this, task] { Q_EMIT enabledChangeRequested(!task.isEnabled, task.id); });
    menu->addSeparator();
    QAction* remove =
        menu->addAction(Icons::symbol(QStringLiteral("trash")), QStringLiteral("Delete"));
    remove->setObjectName(QStringLiteral("task-menu-delete"));
    connect(remove, &QAction::triggered, this, [this, task] { Q_EMIT deleteRequested(task); });
    return menu;
}

void Sidebar::showTaskContextMenu(const QPoint& position)
{
    // Select mode rows carry no menu.
    if (m_selectMode)
        return;
    const QModelIndex index = m_taskList->indexAt(position);
    if (!index.isValid())
        return;
    const ScheduledTask task = m_taskModel->tasks().at(index.row());
    QMenu* menu = makeTaskContextMenu(task, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_taskList->viewport()->mapToGlobal(position));
}
