// The pane base: the object controller, the store subscription and the hooks.
#include "inspectors/inspector_view_controller.h"

#include "data/change_set.h"
#include "data/object.h"
#include "data/object_context.h"

#include <memory>

namespace inspectors {

InspectorViewController::InspectorViewController(data::ObjectContext* context, ui::KeyTable keys, QWidget* parent)
    : QWidget(parent), context_(context), objectController_(new ui::ObjectController(std::move(keys), this))
{
    if (context_) {
        contextToken_ = context_->notificationCenter().addObserver(
            data::ObjectsDidChangeNotification, context_,
            [this](const foundation::Notification& notification) { contextDidChange(notification); });
    }
    connect(objectController_, &ui::ObjectController::contentChanged, this, [this] { contentObjectChanged(); });
}

InspectorViewController::~InspectorViewController() = default;

data::Object* InspectorViewController::inspectedObject() const
{
    return static_cast<data::Object*>(objectController_->content());
}

void InspectorViewController::setInspectedObject(data::Object* object)
{
    // Like a fetch of "self == object" in the context: a deleted object matches nothing.
    objectController_->setContent(object && object->context() ? object : nullptr);
}

void InspectorViewController::contextDidChange(const foundation::Notification& notification)
{
    const auto* changes = notification.info<std::shared_ptr<const data::ChangeSet>>("changes");
    if (!changes || !*changes || (*changes)->updated.empty())
        return;
    const data::ChangeSet& changeSet = **changes;
    // Fields may show values of related objects (the project's rate), so they look for themselves.
    objectController_->objectsDidChange([&changeSet](const void* object, std::string_view key) {
        return changeSet.changed(static_cast<const data::Object*>(object), key);
    });
    data::Object* content = inspectedObject();
    if (content && changeSet.isUpdated(content))
        contentObjectUpdated();
}

} // namespace inspectors
