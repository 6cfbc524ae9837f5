#include "Sidebar.h"

#include "Icons.h"
#include "RowPainting.h"
#include "SidebarFilter.h"
#include "SystemJobListModel.h"
#include "TaskListModel.h"
#include "TaskStore.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QStyleOptionMenuItem>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QListView* makeList(QWidget* parent, const QString& objectName, const QString& accessibleName)
{
    auto* list = new QListView(parent);
    list->setObjectName(objectName);
    list->setAccessibleName(accessibleName);
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
        const int iconSize = RowPainting::symbolSize(option.font);
        const QRect rect = option.rect.adjusted(10, 0, -10, 0);
        RowPainting::paintSymbol(
            painter, QRect(rect.left(), rect.center().y() - iconSize / 2 + 1, iconSize, iconSize),
            index.data(RowPainting::SymbolRole).toString(), option);
        RowPainting::paintElided(
            painter, rect.adjusted(iconSize + 8, 0, 0, 0), RowPainting::nameFont(option.font),
            RowPainting::primaryText(option), index.data(Qt::DisplayRole).toString());
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {200, QFontMetrics(RowPainting::nameFont(option.font)).height() + 12};
    }
};

// A menu whose actions marked "destructive" draw their text and symbol in the failure colour.
class TaskMenu final : public QMenu {
public:
    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override
    {
        QMenu::initStyleOption(option, action);
        if (!action->property("destructive").toBool())
            return;
        const QColor red = RowPainting::failureColor(option->palette);
        for (const QPalette::ColorRole role :
             {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
            option->palette.setColor(QPalette::Active, role, red);
            option->palette.setColor(QPalette::Inactive, role, red);
        }
    }
};

} // namespace

Sidebar::Sidebar(TaskStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("sidebar"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 8, 0, 0);
    outer->setSpacing(6);

    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("sidebar-filter"));
    m_filter->setAccessibleName(QStringLiteral("Filter"));
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
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->setSpacing(4);

    m_timelineModel = new QStandardItemModel(this);
    auto* timelineItem = new QStandardItem(Icons::symbol(QStringLiteral("clock.badge.checkmark")),
                                           QStringLiteral("Timeline"));
    timelineItem->setEditable(false);
    timelineItem->setData(QStringLiteral("clock.badge.checkmark"), RowPainting::SymbolRole);
    m_timelineModel->appendRow(timelineItem);
    m_timeline = makeList(content, QStringLiteral("sidebar-timeline"), QStringLiteral("Timeline"));
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

    m_taskModel = new TaskListModel(m_store, this);
    m_taskFilter = new SidebarFilterModel(this);
    // While the store's change moves rows, the list moves its current row to a neighbour of a
    // removed one; that is no choice of the user's. Connected before the proxy, so this runs
    // first; the window applies its own selection once the change is through.
    connect(m_taskModel, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this] { m_modelChanging = true; });
    connect(m_taskModel, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_modelChanging = true; });
    m_taskFilter->setSourceModel(m_taskModel);
    // A reset of the list (another program wrote it in another order) clears the selection
    // model, which in select mode holds the check marks: that is no unchecking by the user.
    connect(m_taskModel, &TaskListModel::checkRequested, this, [this](const QUuid& id) {
        if (!m_modelChanging)
            Q_EMIT taskToggled(id);
    });
    m_taskList = makeList(content, QStringLiteral("sidebar-task-list"), QStringLiteral("My Tasks"));
    m_taskList->setModel(m_taskFilter);
    m_taskList->setItemDelegate(new TaskRowView(m_taskList));
    QItemSelectionModel* plainSelection = m_taskList->selectionModel();
    m_taskChecks = new TaskCheckSelectionModel(m_taskFilter, m_taskList);
    m_taskList->setSelectionModel(m_taskChecks);
    delete plainSelection;
    m_taskList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_taskList, &QWidget::customContextMenuRequested, this, &Sidebar::showTaskContextMenu);
    layout->addWidget(m_taskList);

    m_addButton = new QPushButton(Icons::symbol(QStringLiteral("plus.circle.fill")),
                                  QStringLiteral("Add Task"), content);
    m_addButton->setObjectName(QStringLiteral("sidebar-add-task"));
    // The symbol follows the font size the user chose, as the toolbar's do.
    const int symbolSide = std::max(16, m_addButton->fontMetrics().height() * 9 / 10);
    m_addButton->setIconSize(QSize(symbolSide, symbolSide));

    connect(m_addButton, &QPushButton::clicked, this, &Sidebar::addTaskClicked);
    auto* addRow = new QHBoxLayout;
    addRow->addStretch();
    addRow->addWidget(m_addButton);
    addRow->addStretch();
    layout->addLayout(addRow);

    layout->addSpacing(6);
    layout->addWidget(makeSystemJobsHeader());
    m_jobModel = new SystemJobListModel(this);
    m_jobFilter = new SidebarFilterModel(this);
    m_jobFilter->setSourceModel(m_jobModel);
    m_jobList =
        makeList(content, QStringLiteral("sidebar-system-job-list"), QStringLiteral("System Jobs"));
    m_jobList->setModel(m_jobFilter);
    m_jobList->setItemDelegate(new LaunchdJobRow(m_jobList));
    m_jobList->setVisible(false);
    layout->addWidget(m_jobList);
    m_jobsEmpty = new QLabel(QStringLiteral("No matching jobs"), content);
    m_jobsEmpty->setObjectName(QStringLiteral("sidebar-system-jobs-empty"));
    m_jobsEmpty->setContentsMargins(34, 2, 12, 6);
    m_jobsEmpty->setForegroundRole(QPalette::PlaceholderText);
    m_jobsEmpty->setVisible(false);
    layout->addWidget(m_jobsEmpty);
    layout->addStretch();

    for (QListView* list : {m_timeline, m_taskList, m_jobList}) {
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, list] { onSelectionChanged(list); });
        // A right click opens the row's menu without selecting the row first.
        list->viewport()->installEventFilter(this);
    }
    for (SidebarFilterModel* model : {m_taskFilter, m_jobFilter}) {
        for (const auto signal :
             {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
            connect(model, signal, this, &Sidebar::refreshCounts);
        }
        connect(model, &QAbstractItemModel::modelReset, this, &Sidebar::refreshCounts);
        connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { m_modelChanging = false; });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { m_modelChanging = false; });
        connect(model, &QAbstractItemModel::layoutChanged, this, &Sidebar::refreshCounts);
    }
    scroll->setWidget(content);
    outer->addWidget(scroll);
    fitHeight(m_timeline);
    setMinimumWidth(220);
    refreshCounts();
}

bool Sidebar::eventFilter(QObject* watched, QEvent* event)
{
    if ((event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
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
    row->setContentsMargins(10, 4, 12, 4);
    row->setSpacing(6);
    // The disclosure arrow tells a collapsed section from an expanded one.
    m_jobsArrow = new QLabel(m_jobsHeader);
    m_jobsArrow->setObjectName(QStringLiteral("sidebar-system-jobs-arrow"));
    m_jobsArrow->setFixedWidth(QFontMetrics(m_jobsArrow->font()).horizontalAdvance(u'\u25BE') + 2);
    m_jobsArrow->setForegroundRole(QPalette::PlaceholderText);
    auto* icon = new QLabel(m_jobsHeader);
    icon->setPixmap(Icons::pixmap(QStringLiteral("gearshape.2"), RowPainting::symbolSize(font()),
                                  devicePixelRatioF()));
    auto* title = new QLabel(QStringLiteral("System Jobs"), m_jobsHeader);
    m_jobsCount = new QLabel(QStringLiteral("0"), m_jobsHeader);
    m_jobsCount->setObjectName(QStringLiteral("sidebar-system-jobs-count"));
    QFont countFont = m_jobsCount->font();
    countFont.setPointSizeF(countFont.pointSizeF() * 0.75);
    m_jobsCount->setFont(countFont);
    m_jobsCount->setForegroundRole(QPalette::PlaceholderText);
    for (QLabel* label : {m_jobsArrow, icon, title, m_jobsCount})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(m_jobsArrow);
    row->addWidget(icon);
    row->addWidget(title);
    row->addStretch();
    row->addWidget(m_jobsCount);
    m_jobsHeader->setMinimumHeight(row->sizeHint().height());
    // Toggled, not clicked: a screen reader's "toggle" action changes the section too.
    connect(m_jobsHeader, &QPushButton::toggled, this, [this](bool on) {
        if (!m_rendering && on != m_showSystemJobs)
            Q_EMIT systemJobsHeaderClicked();
    });
    return m_jobsHeader;
}

void Sidebar::render(const SidebarState& state)
{
    m_rendering = true;
    // Every row shows the check marks: they are redrawn only when they change, so showing the
    // window again after a report costs no pass over the whole list.
    const bool checksChanged =
        state.selectMode != m_selectMode || state.selectedTaskIDs != m_selectedTaskIDs;
    m_selectMode = state.selectMode;
    m_selectedTaskIDs = state.selectedTaskIDs;
    m_showSystemJobs = state.showSystemJobs;
    if (checksChanged)
        m_taskModel->setSelectMode(state.selectMode, state.selectedTaskIDs);
    m_taskChecks->setChecking(state.selectMode);
    // In select mode the selection is the check marks: a click, the row's accessible "Toggle"
    // action and selecting through assistive technology check and uncheck tasks.
    m_taskList->setSelectionMode(state.selectMode ? QAbstractItemView::MultiSelection
                                                  : QAbstractItemView::SingleSelection);
    m_taskFilter->setSearchText(state.searchText);

    if (m_jobModel->jobs() != state.systemJobs)
        m_jobModel->setJobs(state.systemJobs);
    m_jobFilter->setSearchText(state.searchText);
    m_jobsCount->setText(QString::number(state.systemJobs.size()));
    m_jobsHeader->setChecked(state.showSystemJobs);
    m_jobsArrow->setText(state.showSystemJobs ? QStringLiteral("\u25BE")
                                              : QStringLiteral("\u25B8"));
    m_jobList->setVisible(state.showSystemJobs);

    applySelection(state.selection);
    refreshCounts();
    m_rendering = false;
}

void Sidebar::refreshCounts()
{
    const int taskCount = m_taskModel->rowCount();
    m_headerButton->setVisible(taskCount > 0);
    if (!m_selectMode)
        m_headerButton->setText(QStringLiteral("Select"));
    else if (m_selectedTaskIDs.size() != m_taskFilter->rowCount())
        m_headerButton->setText(QStringLiteral("Select All"));
    else
        m_headerButton->setText(QStringLiteral("Deselect All"));
    m_addButton->setText(taskCount == 0 ? QStringLiteral("Add your first task")
                                        : QStringLiteral("Add Task"));
    m_jobsEmpty->setText(m_jobModel->rowCount() == 0 ? QStringLiteral("No system jobs")
                                                     : QStringLiteral("No matching jobs"));
    m_jobsEmpty->setVisible(m_showSystemJobs && m_jobFilter->rowCount() == 0);
    fitHeight(m_taskList);
    fitHeight(m_jobList);
}

int Sidebar::visibleRowOf(const QUuid& id) const
{
    const int row = m_taskModel->rowOf(id);
    return row < 0 ? -1 : m_taskFilter->mapFromSource(m_taskModel->index(row)).row();
}

void Sidebar::applySelection(const std::optional<SidebarSection>& selection)
{
    const bool changed = selection != m_shownSelection;
    m_shownSelection = selection;
    const auto select = [this](QListView* list, int row) {
        if (row < 0) {
            // In select mode the selection shows the check marks, and the current row is where
            // Space checks the next task: kept.
            if (m_selectMode && list == m_taskList)
                m_taskChecks->showChecks();
            else
                list->selectionModel()->clear();
            return;
        }
        const QModelIndex index = list->model()->index(row, 0);
        list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    };
    using Kind = SidebarSection::Kind;
    select(m_timeline, selection && selection->kind == Kind::timeline ? 0 : -1);
    select(m_taskList, selection && selection->kind == Kind::task && !m_selectMode
                           ? visibleRowOf(selection->taskId)
                           : -1);
    select(m_jobList,
           selection && selection->kind == Kind::systemJob
               ? m_jobFilter
                     ->mapFromSource(m_jobModel->index(m_jobModel->rowOf(selection->systemJobId)))
                     .row()
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
    // In select mode the task list's selection is its check marks, not a choice of section.
    if (m_rendering || m_modelChanging || (m_selectMode && list == m_taskList))
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
    auto* menu = new TaskMenu(parent);
    menu->setObjectName(QStringLiteral("task-context-menu"));
    const auto add = [this, menu](const QString& symbol, const QString& text, const char* name,
                                  auto&& signal) {
        QAction* action = menu->addAction(Icons::symbol(symbol), text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, std::forward<decltype(signal)>(signal));
        return action;
    };
    add(QStringLiteral("pencil"), QStringLiteral("Edit..."), "task-menu-edit",
        [this, task] { Q_EMIT editRequested(task); });
    add(QStringLiteral("doc.on.doc"), QStringLiteral("Duplicate"), "task-menu-duplicate",
        [this, task] { Q_EMIT duplicateRequested(task); });
    menu->addSeparator();
    add(task.isEnabled ? QStringLiteral("xmark.circle") : QStringLiteral("checkmark.circle"),
        task.isEnabled ? QStringLiteral("Disable") : QStringLiteral("Enable"),
        "task-menu-toggle-enabled",
        [this, task] { Q_EMIT enabledChangeRequested(!task.isEnabled, task.id); });
    menu->addSeparator();
    QAction* remove = add(QStringLiteral("trash"), QStringLiteral("Delete"), "task-menu-delete",
                          [this, task] { Q_EMIT deleteRequested(task); });
    remove->setProperty("destructive", true);
    remove->setIcon(QIcon(Icons::pixmap(QStringLiteral("trash"), 16, devicePixelRatioF(),
                                        RowPainting::failureColor(palette()))));
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
    const ScheduledTask task = m_taskModel->tasks().at(m_taskFilter->mapToSource(index).row());
    QMenu* menu = makeTaskContextMenu(task, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_taskList->viewport()->mapToGlobal(position));
}
