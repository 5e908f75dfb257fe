// The projects outline's tree with its per-project cache of filtered children and sums, both made on
// first need. Indexes of timers carry their project's node as internal pointer, so parent() needs no
// search.
#include "mainwindow/projects_outline_model.h"

#include "mainwindow/outline_cells.h"

#include "model/client.h"
#include "model/currency_formatter.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"

#include <algorithm>

namespace mainwindow {

namespace {

const std::vector<model::Timer*> noTimers;

QString qText(const std::string& text)
{
    return QString::fromStdString(text);
}

// The filter's order: by start, absent first, ties by creation.
bool startsBefore(const model::Timer& a, const model::Timer& b)
{
    const auto startA = a.start();
    const auto startB = b.start();
    if (startA != startB)
        return !startA || (startB && *startA < *startB);
    return a.primaryKey() < b.primaryKey();
}

} // namespace

ProjectsOutlineModel::ProjectsOutlineModel(QObject* parent)
    : QAbstractItemModel(parent), calendar_(foundation::Calendar::current()),
      locale_(foundation::Locale::current(foundation::LocaleCategory::time))
{}

ProjectsOutlineModel::~ProjectsOutlineModel() = default;

void ProjectsOutlineModel::reload(std::vector<model::Project*> projects, model::Filter filter)
{
    beginResetModel();
    projects_ = std::move(projects);
    filter_ = std::move(filter);
    unsortedFilter_ = filter_;
    unsortedFilter_.sortDescriptors.reset();
    calendar_ = foundation::Calendar::current();
    locale_ = foundation::Locale::current(foundation::LocaleCategory::time);
    nodes_.clear();
    nodeByProject_.clear();
    nodes_.reserve(projects_.size());
    nodeByProject_.reserve(projects_.size());
    for (model::Project* project : projects_) {
        auto node = std::make_unique<ProjectNode>(project, static_cast<int>(nodes_.size()));
        nodeByProject_[project] = node.get();
        nodes_.push_back(std::move(node));
    }
    endResetModel();
}

std::vector<model::Timer*>& ProjectsOutlineModel::children(ProjectNode& node) const
{
    if (!node.made) {
        node.timers = node.project->timers(filter_);
        node.made = true;
    }
    return node.timers;
}

const ProjectsOutlineModel::ProjectNode& ProjectsOutlineModel::sums(ProjectNode& node) const
{
    if (node.summed)
        return node;
    clearSums(node);
    if (node.made) {
        for (model::Timer* timer : node.timers)
            addToSums(node, *timer);
    } else {
        for (model::Timer* timer : node.project->timers(unsortedFilter_))
            addToSums(node, *timer);
    }
    node.summed = true;
    return node;
}

void ProjectsOutlineModel::clearSums(ProjectNode& node)
{
    node.count = 0;
    node.stoppedMinutes = 0;
    node.openTimers.clear();
}

void ProjectsOutlineModel::addToSums(ProjectNode& node, model::Timer& timer)
{
    ++node.count;
    // A stopped timer with a pause left open still grows with the clock: it is read live.
    if (const auto minutes = timer.settledDuration())
        node.stoppedMinutes += *minutes;
    else
        node.openTimers.push_back(&timer);
}

void ProjectsOutlineModel::sumAllAtOnce() const
{
    // Below a few projects, project by project costs less than a walk over every timer.
    constexpr std::size_t fewProjects = 16;
    std::vector<ProjectNode*> pending;
    for (const auto& node : nodes_)
        if (!node->summed && !node->made)
            pending.push_back(node.get());
    if (pending.size() < fewProjects)
        return;
    const data::ObjectContext* context = pending.front()->project->context();
    if (!context)
        return;
    for (ProjectNode* node : pending)
        clearSums(*node);
    // The pending nodes are those still neither summed nor made until the walk is over.
    const auto& timerEntity = *context->model().entity(model::Timer::entityName);
    for (data::Object* object : context->objects(timerEntity)) {
        auto& timer = static_cast<model::Timer&>(*object);
        if (!model::Project::passes(timer, unsortedFilter_))
            continue;
        const auto found = nodeByProject_.find(timer.project());
        if (found != nodeByProject_.end() && !found->second->summed && !found->second->made)
            addToSums(*found->second, timer);
    }
    for (ProjectNode* node : pending)
        node->summed = true;
}

const std::vector<model::Timer*>& ProjectsOutlineModel::timers(const model::Project& project) const
{
    ProjectNode* node = nodeOf(&project);
    return node ? children(*node) : noTimers;
}

std::size_t ProjectsOutlineModel::timerCount() const
{
    sumAllAtOnce();
    std::size_t count = 0;
    for (const auto& node : nodes_)
        count += sums(*node).count;
    return count;
}

std::int64_t ProjectsOutlineModel::duration(const ProjectNode& node)
{
    std::int64_t minutes = node.stoppedMinutes;
    for (const model::Timer* timer : node.openTimers)
        minutes += timer->duration();
    return minutes;
}

std::int64_t ProjectsOutlineModel::duration(const model::Project& project) const
{
    ProjectNode* node = nodeOf(&project);
    return node ? duration(sums(*node)) : 0;
}

std::int64_t ProjectsOutlineModel::totalDuration() const
{
    sumAllAtOnce();
    std::int64_t minutes = 0;
    for (const auto& node : nodes_)
        minutes += duration(sums(*node));
    return minutes;
}

bool ProjectsOutlineModel::totalsAtHand() const
{
    return std::all_of(nodes_.begin(), nodes_.end(), [](const auto& node) { return node->summed; });
}

void ProjectsOutlineModel::recomputeDurations(const model::Project& project)
{
    if (ProjectNode* node = nodeOf(&project))
        node->summed = false;
}

bool ProjectsOutlineModel::childrenMade(const model::Project& project) const
{
    const ProjectNode* node = nodeOf(&project);
    return node && node->made;
}

bool ProjectsOutlineModel::refreshChildren(model::Project& project)
{
    ProjectNode* node = nodeOf(&project);
    if (!node)
        return false;
    node->summed = false;
    if (!node->made)
        return false;
    std::vector<model::Timer*> fresh = project.timers(filter_);
    if (fresh == node->timers)
        return false;
    const QModelIndex parent = createIndex(node->row, 0, nullptr);
    auto& rows = node->timers;
    const std::unordered_set<model::Timer*> staying(fresh.begin(), fresh.end());
    // Leaving rows go first, bottom up, so the row numbers above each range still hold.
    for (int row = static_cast<int>(rows.size()) - 1; row >= 0; --row) {
        if (staying.count(rows[static_cast<std::size_t>(row)]))
            continue;
        const int last = row;
        while (row > 0 && !staying.count(rows[static_cast<std::size_t>(row) - 1]))
            --row;
        beginRemoveRows(parent, row, last);
        rows.erase(rows.begin() + row, rows.begin() + last + 1);
        endRemoveRows();
    }
    // The staying rows must keep their relative order for the arrivals to slot in between them.
    std::size_t matched = 0;
    for (model::Timer* timer : fresh)
        if (matched < rows.size() && rows[matched] == timer)
            ++matched;
    if (matched != rows.size() && !rows.empty()) {
        beginRemoveRows(parent, 0, static_cast<int>(rows.size()) - 1);
        rows.clear();
        endRemoveRows();
    }
    for (std::size_t start = 0; start < fresh.size();) {
        if (start < rows.size() && rows[start] == fresh[start]) {
            ++start;
            continue;
        }
        const model::Timer* next = start < rows.size() ? rows[start] : nullptr;
        std::size_t end = start;
        while (end < fresh.size() && fresh[end] != next)
            ++end;
        beginInsertRows(parent, static_cast<int>(start), static_cast<int>(end) - 1);
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(start),
                    fresh.begin() + static_cast<std::ptrdiff_t>(start),
                    fresh.begin() + static_cast<std::ptrdiff_t>(end));
        endInsertRows();
        start = end;
    }
    return true;
}

void ProjectsOutlineModel::announceTimerRows(const model::Project& project,
                                             const std::unordered_set<const data::Object*>& timers)
{
    ProjectNode* node = nodeOf(&project);
    if (!node || !node->made || timers.empty())
        return;
    const int count = static_cast<int>(node->timers.size());
    for (int row = 0; row < count; ++row) {
        if (!timers.count(node->timers[static_cast<std::size_t>(row)]))
            continue;
        const int first = row;
        while (row + 1 < count && timers.count(node->timers[static_cast<std::size_t>(row) + 1]))
            ++row;
        emit dataChanged(createIndex(first, 0, node), createIndex(row, columnCount() - 1, node));
    }
}

ProjectsOutlineModel::ProjectNode* ProjectsOutlineModel::nodeOf(const model::Project* project) const
{
    const auto found = nodeByProject_.find(project);
    return found == nodeByProject_.end() ? nullptr : found->second;
}

ProjectsOutlineModel::ProjectNode* ProjectsOutlineModel::nodeOfIndex(const QModelIndex& index) const
{
    return static_cast<ProjectNode*>(index.internalPointer());
}

int ProjectsOutlineModel::insertionIndex(const model::Project& project, const model::Timer& timer) const
{
    const auto& children = timers(project);
    const auto position =
        std::upper_bound(children.begin(), children.end(), &timer,
                         [](const model::Timer* a, const model::Timer* b) { return startsBefore(*a, *b); });
    return static_cast<int>(position - children.begin());
}

void ProjectsOutlineModel::insertTimer(model::Project& project, int index, model::Timer& timer)
{
    ProjectNode* node = nodeOf(&project);
    if (!node)
        return;
    node->summed = false;
    if (!node->made || index < 0 || index > static_cast<int>(node->timers.size())
        || std::find(node->timers.begin(), node->timers.end(), &timer) != node->timers.end())
        return;
    beginInsertRows(createIndex(node->row, 0, nullptr), index, index);
    node->timers.insert(node->timers.begin() + index, &timer);
    endInsertRows();
}

void ProjectsOutlineModel::removeTimer(model::Timer& timer)
{
    ProjectNode* node = nodeOf(timer.project());
    if (!node)
        return;
    node->summed = false;
    if (!node->made)
        return;
    const auto found = std::find(node->timers.begin(), node->timers.end(), &timer);
    if (found == node->timers.end())
        return;
    const int row = static_cast<int>(found - node->timers.begin());
    beginRemoveRows(createIndex(node->row, 0, nullptr), row, row);
    node->timers.erase(found);
    endRemoveRows();
}

void ProjectsOutlineModel::moveTimer(model::Timer& timer, model::Project& fromProject, model::Project& toProject,
                                     int index)
{
    ProjectNode* source = nodeOf(&fromProject);
    ProjectNode* target = nodeOf(&toProject);
    if (!source || !target || index < 0)
        return;
    source->summed = false;
    target->summed = false;
    // Children made after the timer changed project (or never) already follow the store: a side
    // that is not made needs nothing, a target that lists the timer needs no insertion.
    const auto found = std::find(source->timers.begin(), source->timers.end(), &timer);
    const bool leaves = source->made && found != source->timers.end();
    const bool arrives =
        source == target
            ? leaves
            : target->made && std::find(target->timers.begin(), target->timers.end(), &timer) == target->timers.end();
    if (!leaves && !arrives)
        return;
    const int limit = static_cast<int>(target->timers.size()) - (source == target ? 1 : 0);
    if (arrives && index > limit)
        return;
    const int sourceRow = leaves ? static_cast<int>(found - source->timers.begin()) : -1;
    const QModelIndex sourceParent = createIndex(source->row, 0, nullptr);
    const QModelIndex targetParent = createIndex(target->row, 0, nullptr);
    if (leaves && arrives) {
        // Qt counts the destination before the removal of the moved row.
        const int destination = (source == target && index > sourceRow) ? index + 1 : index;
        if (source == target && (destination == sourceRow || destination == sourceRow + 1))
            return;
        beginMoveRows(sourceParent, sourceRow, sourceRow, targetParent, destination);
        source->timers.erase(source->timers.begin() + sourceRow);
        target->timers.insert(target->timers.begin() + index, &timer);
        endMoveRows();
    } else if (leaves) {
        beginRemoveRows(sourceParent, sourceRow, sourceRow);
        source->timers.erase(found);
        endRemoveRows();
    } else {
        beginInsertRows(targetParent, index, index);
        target->timers.insert(target->timers.begin() + index, &timer);
        endInsertRows();
    }
}

void ProjectsOutlineModel::insertProject(int row, model::Project& project)
{
    if (row < 0 || row > static_cast<int>(nodes_.size()) || nodeOf(&project))
        return;
    beginInsertRows({}, row, row);
    auto node = std::make_unique<ProjectNode>(&project, row);
    nodeByProject_[&project] = node.get();
    nodes_.insert(nodes_.begin() + row, std::move(node));
    projects_.insert(projects_.begin() + row, &project);
    renumberFrom(row);
    endInsertRows();
}

void ProjectsOutlineModel::removeProject(model::Project& project)
{
    ProjectNode* node = nodeOf(&project);
    if (!node)
        return;
    const int row = node->row;
    beginRemoveRows({}, row, row);
    nodeByProject_.erase(&project);
    nodes_.erase(nodes_.begin() + row);
    projects_.erase(projects_.begin() + row);
    renumberFrom(row);
    endRemoveRows();
}

void ProjectsOutlineModel::moveProject(model::Project& project, int row)
{
    ProjectNode* node = nodeOf(&project);
    if (!node || row < 0 || row >= static_cast<int>(nodes_.size()) || row == node->row)
        return;
    const int from = node->row;
    // Qt counts the destination before the removal of the moved row.
    beginMoveRows({}, from, from, {}, row > from ? row + 1 : row);
    auto moved = std::move(nodes_[static_cast<std::size_t>(from)]);
    nodes_.erase(nodes_.begin() + from);
    nodes_.insert(nodes_.begin() + row, std::move(moved));
    projects_.erase(projects_.begin() + from);
    projects_.insert(projects_.begin() + row, &project);
    renumberFrom(std::min(from, row));
    endMoveRows();
}

void ProjectsOutlineModel::renumberFrom(int row)
{
    for (std::size_t i = static_cast<std::size_t>(row); i < nodes_.size(); ++i)
        nodes_[i]->row = static_cast<int>(i);
}

data::Object* ProjectsOutlineModel::item(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    if (ProjectNode* node = nodeOfIndex(index))
        return children(*node)[static_cast<std::size_t>(index.row())];
    return nodes_[static_cast<std::size_t>(index.row())]->project;
}

QModelIndex ProjectsOutlineModel::indexOf(const data::Object* item, ColumnIdentifier column) const
{
    const int columnIndex = static_cast<int>(column);
    if (const auto* project = dynamic_cast<const model::Project*>(item)) {
        const ProjectNode* node = nodeOf(project);
        return node ? createIndex(node->row, columnIndex, nullptr) : QModelIndex();
    }
    if (const auto* timer = dynamic_cast<const model::Timer*>(item)) {
        ProjectNode* node = nodeOf(timer->project());
        if (!node)
            return {};
        const auto& rows = children(*node);
        const auto found = std::find(rows.begin(), rows.end(), timer);
        if (found == rows.end())
            return {};
        return createIndex(static_cast<int>(found - rows.begin()), columnIndex, node);
    }
    return {};
}

void ProjectsOutlineModel::announceTimerChanged(const model::Timer& timer, ColumnIdentifier column)
{
    // Rows nobody has looked at yet have no view to tell.
    if (const ProjectNode* node = nodeOf(timer.project()); !node || !node->made)
        return;
    const QModelIndex index = indexOf(&timer, column);
    if (index.isValid())
        emit dataChanged(index, index);
}

void ProjectsOutlineModel::announceProjectChanged(const model::Project& project)
{
    const QModelIndex index = indexOf(&project);
    if (index.isValid())
        emit dataChanged(index, index.siblingAtColumn(columnCount() - 1));
}

void ProjectsOutlineModel::announceItemChanged(const data::Object& item)
{
    if (const auto* timer = dynamic_cast<const model::Timer*>(&item))
        if (const ProjectNode* node = nodeOf(timer->project()); !node || !node->made)
            return;
    const QModelIndex index = indexOf(&item);
    if (index.isValid())
        emit dataChanged(index, index.siblingAtColumn(columnCount() - 1));
}

void ProjectsOutlineModel::announceAllProjectsChanged()
{
    if (!nodes_.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(nodes_.size()) - 1, columnCount() - 1));
}

QModelIndex ProjectsOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= columnCount())
        return {};
    if (!parent.isValid())
        return row < static_cast<int>(nodes_.size()) ? createIndex(row, column, nullptr) : QModelIndex();
    if (nodeOfIndex(parent) || parent.column() != 0)
        return {};
    ProjectNode* node = nodes_[static_cast<std::size_t>(parent.row())].get();
    return row < static_cast<int>(children(*node).size()) ? createIndex(row, column, node) : QModelIndex();
}

QModelIndex ProjectsOutlineModel::parent(const QModelIndex& child) const
{
    if (const ProjectNode* node = child.isValid() ? nodeOfIndex(child) : nullptr)
        return createIndex(node->row, 0, nullptr);
    return {};
}

int ProjectsOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(nodes_.size());
    if (nodeOfIndex(parent) || parent.column() != 0)
        return 0;
    return static_cast<int>(children(*nodes_[static_cast<std::size_t>(parent.row())]).size());
}

int ProjectsOutlineModel::columnCount(const QModelIndex&) const
{
    return mainwindow::columnCount;
}

bool ProjectsOutlineModel::hasChildren(const QModelIndex& parent) const
{
    // Every project shows its disclosure control, also when no timer passes the filter.
    if (!parent.isValid())
        return !nodes_.empty();
    return !nodeOfIndex(parent) && parent.column() == 0;
}

QVariant ProjectsOutlineModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (ProjectNode* node = nodeOfIndex(index))
        return timerData(*children(*node)[static_cast<std::size_t>(index.row())],
                         static_cast<ColumnIdentifier>(index.column()), role);
    return projectData(*nodes_[static_cast<std::size_t>(index.row())], role);
}

QVariant ProjectsOutlineModel::projectData(ProjectNode& node, int role) const
{
    const model::Project& project = *node.project;
    switch (role) {
    case ItemKindRole: return QVariant::fromValue(static_cast<int>(ItemKind::project));
    case Qt::DisplayRole:
    case Qt::EditRole: return qText(project.name().value_or(""));
    case ProjectClientRole: return project.client() ? qText(project.client()->name().value_or("")) : QString();
    case ProjectDurationRole:
        // The sums are those of timers(filter), made for the rows that are painted.
        return qText(clockText(duration(sums(node))));
    case ProjectArchivedRole: return project.archived();
    default: return {};
    }
}

QVariant ProjectsOutlineModel::timerData(const model::Timer& timer, ColumnIdentifier column, int role) const
{
    switch (role) {
    case ItemKindRole: return QVariant::fromValue(static_cast<int>(ItemKind::timer));
    case TimerStatusRole: return static_cast<int>(timerStatus(timer));
    case StatusImageRole: return static_cast<int>(statusImage(timer));
    case ActionButtonRole: return static_cast<int>(timerActionButton(timer));
    case CostTextRole:
        if (column != ColumnIdentifier::notes)
            return {};
        if (const auto cost = costCellText(timer, model::CurrencyFormatter::shared()))
            return qText(*cost);
        return {};
    case Qt::DisplayRole:
        switch (column) {
        case ColumnIdentifier::date: return qText(dateCellText(timer, calendar_, locale_));
        case ColumnIdentifier::notes: return qText(notesCellText(timer));
        case ColumnIdentifier::duration: return qText(durationCellText(timer));
        case ColumnIdentifier::status:
        case ColumnIdentifier::actions: return {};
        }
        return {};
    default: return {};
    }
}

QVariant ProjectsOutlineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::TextAlignmentRole && static_cast<ColumnIdentifier>(section) == ColumnIdentifier::duration)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (static_cast<ColumnIdentifier>(section)) {
    case ColumnIdentifier::date: return tr("Date");
    case ColumnIdentifier::notes: return tr("Notes");
    case ColumnIdentifier::duration: return tr("Duration");
    case ColumnIdentifier::status:
    case ColumnIdentifier::actions: return QString();
    }
    return {};
}

Qt::ItemFlags ProjectsOutlineModel::flags(const QModelIndex& index) const
{
    // Projects and timers can be dragged; drops are the view's own business (no drop flag needed).
    // A timer never has children, which spares the view a look-up among the expanded rows for each.
    // A project's name is edited in its row; the edit reaches the store through the controller.
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (nodeOfIndex(index))
        return flags | Qt::ItemNeverHasChildren;
    return index.column() == 0 ? flags | Qt::ItemIsEditable : flags;
}

} // namespace mainwindow
