// The sidebar's items as rows: groups at the top level, their rows below; a child index carries its
// group's position (plus one) as internal id, a top-level index carries 0.
#include "mainwindow/clients_outline_model.h"

#include "model/client.h"

#include <QCoreApplication>
#include <QFont>

#include <algorithm>

namespace mainwindow {

ClientsOutlineModel::ClientsOutlineModel(QObject* parent)
    : QAbstractItemModel(parent), allProjectsIcon_(QStringLiteral(":/sidebar/all_projects.svg")),
      archiveIcon_(QStringLiteral(":/sidebar/archive.svg")), clientIcon_(QStringLiteral(":/sidebar/client.svg"))
{}

ClientsOutlineModel::~ClientsOutlineModel() = default;

QString ClientsOutlineModel::localizedTitle(const std::string& key)
{
    static const std::pair<const char*, const char*> titles[] = {
        {projectsGroup, QT_TRANSLATE_NOOP("ClientsViewController", "Projects")},
        {clientsGroup, QT_TRANSLATE_NOOP("ClientsViewController", "Clients")},
        {allProjectsIdentifier, QT_TRANSLATE_NOOP("ClientsViewController", "All Projects")},
        {archiveIdentifier, QT_TRANSLATE_NOOP("ClientsViewController", "Archive")},
        {"Client", QT_TRANSLATE_NOOP("ClientsViewController", "Client")},
    };
    for (const auto& [title, text] : titles)
        if (key == title)
            return QCoreApplication::translate("ClientsViewController", text);
    return QString::fromStdString(key);
}

void ClientsOutlineModel::reload(std::vector<model::Client*> clients)
{
    beginResetModel();
    clients_ = std::move(clients);
    topLevelItems_ = {projectsGroup};
    if (!clients_.empty())
        topLevelItems_.push_back(clientsGroup);
    endResetModel();
}

std::size_t ClientsOutlineModel::childCount(std::size_t group) const
{
    if (group >= topLevelItems_.size())
        return 0;
    return topLevelItems_[group] == projectsGroup ? projectsChildren_.size() : clients_.size();
}

std::optional<SidebarItem> ClientsOutlineModel::item(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return std::nullopt;
    const auto row = static_cast<std::size_t>(index.row());
    if (index.internalId() == 0)
        return row < topLevelItems_.size() ? std::optional<SidebarItem>(topLevelItems_[row]) : std::nullopt;
    const std::size_t group = index.internalId() - 1;
    if (group >= topLevelItems_.size() || row >= childCount(group))
        return std::nullopt;
    if (topLevelItems_[group] == projectsGroup)
        return SidebarItem(projectsChildren_[row]);
    return SidebarItem(clients_[row]);
}

QModelIndex ClientsOutlineModel::indexOf(const SidebarItem& item) const
{
    if (const auto* client = std::get_if<model::Client*>(&item)) {
        const auto found = std::find(clients_.begin(), clients_.end(), *client);
        if (found == clients_.end() || topLevelItems_.size() < 2)
            return {};
        return createIndex(static_cast<int>(found - clients_.begin()), 0, quintptr(2));
    }
    const std::string& text = std::get<std::string>(item);
    for (std::size_t row = 0; row < topLevelItems_.size(); ++row)
        if (topLevelItems_[row] == text)
            return createIndex(static_cast<int>(row), 0, quintptr(0));
    for (std::size_t row = 0; row < projectsChildren_.size(); ++row)
        if (projectsChildren_[row] == text)
            return createIndex(static_cast<int>(row), 0, quintptr(1));
    return {};
}

bool ClientsOutlineModel::isGroupItem(const SidebarItem& item) const
{
    const auto* text = std::get_if<std::string>(&item);
    return text && std::find(topLevelItems_.begin(), topLevelItems_.end(), *text) != topLevelItems_.end();
}

void ClientsOutlineModel::reloadItem(const SidebarItem& item)
{
    const QModelIndex first = indexOf(item);
    if (first.isValid())
        emit dataChanged(first, first.siblingAtColumn(columnCount(first.parent()) - 1));
}

QModelIndex ClientsOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0)
        return {};
    if (!parent.isValid())
        return static_cast<std::size_t>(row) < topLevelItems_.size() ? createIndex(row, column, quintptr(0))
                                                                     : QModelIndex();
    if (parent.internalId() != 0)
        return {};
    const auto group = static_cast<std::size_t>(parent.row());
    if (static_cast<std::size_t>(row) >= childCount(group))
        return {};
    return createIndex(row, column, quintptr(group + 1));
}

QModelIndex ClientsOutlineModel::parent(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == 0)
        return {};
    return createIndex(static_cast<int>(index.internalId() - 1), 0, quintptr(0));
}

int ClientsOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(topLevelItems_.size());
    if (parent.internalId() != 0 || parent.column() != 0)
        return 0;
    return static_cast<int>(childCount(static_cast<std::size_t>(parent.row())));
}

int ClientsOutlineModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant ClientsOutlineModel::data(const QModelIndex& index, int role) const
{
    const std::optional<SidebarItem> shown = item(index);
    if (!shown)
        return {};
    const bool group = index.internalId() == 0;
    if (role == IsGroupRole)
        return group;
    if (const auto* client = std::get_if<model::Client*>(&*shown)) {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            const std::optional<std::string> name = (*client)->name();
            return name ? QString::fromStdString(*name) : localizedTitle("Client");
        }
        if (role == Qt::DecorationRole)
            return clientIcon_;
        return {};
    }
    const std::string& key = std::get<std::string>(*shown);
    switch (role) {
    case Qt::DisplayRole: return group ? localizedTitle(key).toUpper() : localizedTitle(key);
    case Qt::DecorationRole:
        if (group)
            return {};
        return key == allProjectsIdentifier ? allProjectsIcon_ : archiveIcon_;
    case Qt::FontRole:
        if (group) {
            QFont font;
            font.setBold(true);
            font.setPointSizeF(font.pointSizeF() * 0.85);
            return font;
        }
        return {};
    default: return {};
    }
}

Qt::ItemFlags ClientsOutlineModel::flags(const QModelIndex& index) const
{
    if (!item(index))
        return Qt::NoItemFlags;
    // Group headers cannot be selected.
    if (index.internalId() == 0)
        return Qt::ItemIsEnabled;
    // Only clients are dragged out (onto a project of the outline).
    const bool client =
        index.internalId() - 1 < topLevelItems_.size() && topLevelItems_[index.internalId() - 1] == clientsGroup;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | (client ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

} // namespace mainwindow
