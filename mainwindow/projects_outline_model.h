// The item model of the projects outline: projects at the top level, each with its timers under the
// current filter as children. A project's filtered children are made the first time anyone looks
// into it (the view lays out an expanded project, a caller asks for its timers), so a reload walks
// the timers of the expanded projects only; once made they are edited in place when a timer is
// inserted, removed or moved, so the view never refilters the timers while it scrolls or paints.
// Each project's count and minutes are summed on first need too and dropped when its timers change.
#pragma once

#include "mainwindow/column_identifier.h"

#include "model/filter.h"

#include "foundation/calendar.h"
#include "foundation/locale.h"

#include <QAbstractItemModel>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace data {
class Object;
}
namespace model {
class Project;
class Timer;
}

namespace mainwindow {

class ProjectsOutlineModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        ItemKindRole = Qt::UserRole + 1, // ItemKind
        StatusImageRole,                 // StatusImage of a timer row
        TimerStatusRole,                 // model::TimerStatus of a timer row
        ActionButtonRole,                // TimerActionButton of a timer row
        CostTextRole,                    // QString of an expense's cost, or invalid
        ProjectClientRole,               // the client's name of a project row
        ProjectDurationRole,             // the clock text of a project row's filtered duration
        ProjectArchivedRole,             // bool
    };
    enum class ItemKind { project, timer };

    explicit ProjectsOutlineModel(QObject* parent = nullptr);
    ~ProjectsOutlineModel() override;

    // Replaces the projects and the filter (one model reset); every project's children and sums are
    // made again when next asked for.
    void reload(std::vector<model::Project*> projects, model::Filter filter);
    const std::vector<model::Project*>& projects() const { return projects_; }
    const model::Filter& filter() const { return filter_; }
    // The children of a listed project (made now if nobody asked before); empty for a project that is
    // not listed.
    const std::vector<model::Timer*>& timers(const model::Project& project) const;
    std::size_t timerCount() const;

    // Whole minutes of a listed project's children, and of all listed timers. The minutes of stopped
    // timers are summed on first need and kept until the project's timers change (or
    // recomputeDurations); timers without an end are read on every call, as their minutes grow with
    // the clock.
    std::int64_t duration(const model::Project& project) const;
    std::int64_t totalDuration() const;
    // Whether every listed project's sums are at hand, so the totals cost no walk over the timers.
    bool totalsAtHand() const;
    // Drops a project's sums after one of its timers changed; they are made again when next asked for.
    void recomputeDurations(const model::Project& project);
    // Whether a listed project's children have been made (the view or a caller looked into it).
    bool childrenMade(const model::Project& project) const;

    // Filters a listed project's timers again after some of them changed (billed, moved in time,
    // notes edited, added or removed elsewhere): leaving rows are removed and arriving rows inserted
    // in contiguous ranges, and the project's sums are dropped. When kept rows changed their order,
    // all children are replaced. Children not made yet are left to be made; only the sums go. Returns
    // whether rows changed.
    bool refreshChildren(model::Project& project);
    // Tells the views that the rows of these timers under the project changed, one range per run of
    // adjacent rows.
    void announceTimerRows(const model::Project& project, const std::unordered_set<const data::Object*>& timers);

    // In-place edits of the cache. Each does nothing for a project that is not listed, a timer that
    // is not (or already) listed, or an index out of range; for a project whose children are not made
    // yet, only its sums are dropped (its children are made from the store when asked for).
    void insertTimer(model::Project& project, int index, model::Timer& timer);
    void removeTimer(model::Timer& timer);
    void moveTimer(model::Timer& timer, model::Project& fromProject, model::Project& toProject, int index);
    void insertProject(int row, model::Project& project);
    void removeProject(model::Project& project);
    // Moves a listed project's row (with its children) to `row`, counted after the move; nothing for a
    // project that is not listed, a row out of range or its own row.
    void moveProject(model::Project& project, int row);

    // The row where `timer` belongs among its project's cached children by start (the filter's order).
    int insertionIndex(const model::Project& project, const model::Timer& timer) const;

    // The project or timer of an index (nullptr for none), and the index of a listed item (column 0;
    // invalid when the item is not listed).
    data::Object* item(const QModelIndex& index) const;
    QModelIndex indexOf(const data::Object* item, ColumnIdentifier column = ColumnIdentifier::date) const;

    // Tells the views that these cells changed (running durations, archived state).
    void announceTimerChanged(const model::Timer& timer, ColumnIdentifier column);
    void announceProjectChanged(const model::Project& project);
    void announceItemChanged(const data::Object& item);
    void announceAllProjectsChanged();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct ProjectNode {
        ProjectNode(model::Project* listed, int at) : project(listed), row(at) {}
        model::Project* project;
        int row;
        // The children in the filter's order, once made.
        bool made = false;
        std::vector<model::Timer*> timers;
        // The children's count, the minutes of the stopped ones and the open ones, once summed.
        bool summed = false;
        std::size_t count = 0;
        std::int64_t stoppedMinutes = 0;
        std::vector<model::Timer*> openTimers;
    };

    // The node's children, made now when nobody asked before.
    std::vector<model::Timer*>& children(ProjectNode& node) const;
    // The node with its sums, summed now when needed: over the children once made, otherwise over
    // the project's timers under the filter, unsorted (no children are made for it).
    const ProjectNode& sums(ProjectNode& node) const;
    // Sums every listed project that has neither sums nor children in one walk over the store's
    // timers in their order in memory, which touches far fewer pages than project by project.
    void sumAllAtOnce() const;
    static void clearSums(ProjectNode& node);
    static void addToSums(ProjectNode& node, model::Timer& timer);
    static std::int64_t duration(const ProjectNode& node);

    ProjectNode* nodeOf(const model::Project* project) const;
    ProjectNode* nodeOfIndex(const QModelIndex& index) const; // the parent node of a timer index
    void renumberFrom(int row);
    QVariant projectData(ProjectNode& node, int role) const;
    QVariant timerData(const model::Timer& timer, ColumnIdentifier column, int role) const;

    std::vector<model::Project*> projects_;
    std::vector<std::unique_ptr<ProjectNode>> nodes_;
    std::unordered_map<const model::Project*, ProjectNode*> nodeByProject_;
    model::Filter filter_;
    model::Filter unsortedFilter_; // filter_ without its order, for sums
    foundation::Calendar calendar_;
    foundation::Locale locale_;
};

} // namespace mainwindow
