// The items of the clients sidebar as an item model: the group "projects" with the rows of all
// projects and of the archive, and the group "clients" with one row per client, present only while a
// client exists. The sidebar rebuilds it whole on every reload; a client's row can be redrawn alone.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace model {
class Client;
}

namespace mainwindow {

// An item of the sidebar: a text ("projects", "clients", "all_projects", "archive") or a client.
using SidebarItem = std::variant<std::string, model::Client*>;

class ClientsOutlineModel : public QAbstractItemModel {
    Q_OBJECT
public:
    static constexpr const char* projectsGroup = "projects";
    static constexpr const char* clientsGroup = "clients";
    static constexpr const char* allProjectsIdentifier = "all_projects";
    static constexpr const char* archiveIdentifier = "archive";
    enum Role { IsGroupRole = Qt::UserRole + 1 };

    explicit ClientsOutlineModel(QObject* parent = nullptr);
    ~ClientsOutlineModel() override;

    // One model reset: "projects" with its two rows, then "clients" with `clients` in their order
    // when there is at least one.
    void reload(std::vector<model::Client*> clients);
    const std::vector<std::string>& topLevelItems() const { return topLevelItems_; }
    const std::vector<model::Client*>& clients() const { return clients_; }

    // The item of a row, nothing for an index of another model.
    std::optional<SidebarItem> item(const QModelIndex& index) const;
    // The row of an item (column 0); invalid when it has none.
    QModelIndex indexOf(const SidebarItem& item) const;
    bool isGroupItem(const SidebarItem& item) const;
    // Tells the views that every column of the item's row changed.
    void reloadItem(const SidebarItem& item);

    // The shown text of a key ("all_projects" → "All Projects"); a key without a title shows itself.
    static QString localizedTitle(const std::string& key);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // The children of a group; empty for anything else.
    std::size_t childCount(std::size_t group) const;

    std::vector<std::string> topLevelItems_;
    std::vector<std::string> projectsChildren_{allProjectsIdentifier, archiveIdentifier};
    std::vector<model::Client*> clients_;
    QIcon allProjectsIcon_;
    QIcon archiveIcon_;
    QIcon clientIcon_;
};

} // namespace mainwindow
