// Fetching, sorting and presenting a project's attachments, and the store changes that refetch them.
#include "inspectors/attachments_array_controller.h"

#include "model/attachment.h"
#include "model/project.h"

#include "data/change_set.h"
#include "data/object_context.h"

#include <QApplication>
#include <QStyle>

#include <algorithm>
#include <memory>

namespace inspectors {

namespace {

bool isAttachment(const data::Object* object)
{
    return object->entity().name() == model::Attachment::entityName;
}

QString nameOf(const model::Attachment& attachment)
{
    return QString::fromStdString(attachment.fileName().value_or(std::string()));
}

} // namespace

AttachmentsArrayController::AttachmentsArrayController(data::ObjectContext* context, QObject* parent)
    : QAbstractListModel(parent)
{
    if (context) {
        contextToken_ = context->notificationCenter().addObserver(
            data::ObjectsDidChangeNotification, context,
            [this](const foundation::Notification& notification) { contextDidChange(notification); });
    }
}

AttachmentsArrayController::~AttachmentsArrayController() = default;

void AttachmentsArrayController::setFilterProject(model::Project* project)
{
    project_ = project;
    rearrangeObjects();
}

model::Attachment* AttachmentsArrayController::attachmentAt(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= arranged_.size())
        return nullptr;
    return arranged_[static_cast<std::size_t>(row)];
}

void AttachmentsArrayController::rearrangeObjects()
{
    beginResetModel();
    arranged_.clear();
    if (project_ && project_->context())
        arranged_ = project_->attachments();
    // By name as the user reads it; the path decides between equal names, so the order is stable.
    std::vector<std::pair<QString, model::Attachment*>> keyed;
    keyed.reserve(arranged_.size());
    for (model::Attachment* attachment : arranged_)
        keyed.emplace_back(nameOf(*attachment), attachment);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (const int order = a.first.compare(b.first, Qt::CaseInsensitive); order != 0)
            return order < 0;
        return a.second->originalPath() < b.second->originalPath();
    });
    for (std::size_t row = 0; row < keyed.size(); ++row)
        arranged_[row] = keyed[row].second;
    endResetModel();
    Q_EMIT arrangedObjectsChanged();
}

int AttachmentsArrayController::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(arranged_.size());
}

QVariant AttachmentsArrayController::data(const QModelIndex& index, int role) const
{
    const model::Attachment* attachment = index.isValid() ? attachmentAt(index.row()) : nullptr;
    if (!attachment)
        return {};
    if (role == Qt::DisplayRole)
        return nameOf(*attachment);
    if (role == Qt::DecorationRole) {
        const QString key = QString::fromStdString(attachment->fileIconKey().value_or(std::string()));
        auto cached = icons_.find(key);
        if (cached == icons_.end())
            cached = icons_.insert(key, fileIcon(key));
        return *cached;
    }
    return {};
}

QIcon AttachmentsArrayController::fileIcon(const QString& iconKey)
{
    const QIcon generic = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return iconKey.isEmpty() ? generic : QIcon::fromTheme(iconKey, generic);
}

void AttachmentsArrayController::contextDidChange(const foundation::Notification& notification)
{
    if (!project_)
        return;
    const auto* changes = notification.info<std::shared_ptr<const data::ChangeSet>>("changes");
    if (!changes || !*changes)
        return;
    const data::ChangeSet& changeSet = **changes;
    // Any attachment that came, went or changed (its project, its path) may change the rows.
    const bool relevant = std::any_of(changeSet.inserted.begin(), changeSet.inserted.end(), isAttachment)
                          || std::any_of(changeSet.deleted.begin(), changeSet.deleted.end(), isAttachment)
                          || std::any_of(changeSet.updated.begin(), changeSet.updated.end(), isAttachment)
                          || changeSet.changed(project_, "attachments");
    if (relevant)
        rearrangeObjects();
}

} // namespace inspectors
