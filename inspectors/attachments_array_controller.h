// The attachments of the project the inspector shows, as the rows of the attachments list: sorted by
// file name, each with its file's name and icon, following the store as attachments come and go.
#pragma once

#include "foundation/notification_center.h"

#include <QAbstractListModel>
#include <QHash>
#include <QIcon>

#include <vector>

namespace data {
class ObjectContext;
}
namespace model {
class Attachment;
class Project;
} // namespace model

namespace inspectors {

class AttachmentsArrayController : public QAbstractListModel {
    Q_OBJECT
public:
    // `context` (borrowed; may be null: then the rows follow only setFilterProject) is the main
    // context whose change notices the rows follow.
    explicit AttachmentsArrayController(data::ObjectContext* context, QObject* parent = nullptr);
    ~AttachmentsArrayController() override;

    // The attachments of `project` from now on; none for nullptr.
    void setFilterProject(model::Project* project);
    model::Project* filterProject() const { return project_; }

    // The rows, in order.
    const std::vector<model::Attachment*>& arrangedObjects() const { return arranged_; }
    model::Attachment* attachmentAt(int row) const;
    // Fetches the rows again (a model reset).
    void rearrangeObjects();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The icon of files with the freedesktop icon name `iconKey`, or a generic file icon where the
    // theme has none.
    static QIcon fileIcon(const QString& iconKey);

Q_SIGNALS:
    // The rows were fetched again.
    void arrangedObjectsChanged();

private:
    void contextDidChange(const foundation::Notification& notification);

    model::Project* project_ = nullptr;
    std::vector<model::Attachment*> arranged_;
    mutable QHash<QString, QIcon> icons_; // the theme lookup costs file searches; once per kind
    foundation::ObserverToken contextToken_;
};

} // namespace inspectors
