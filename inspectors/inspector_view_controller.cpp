// The pane base: the object controller, the store subscription and the hooks.
#include "inspectors/inspector_view_controller.h"

#include "data/change_set.h"
#include "data/object.h"
#include "data/object_context.h"
#include "data/undo_manager.h"

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
    // Notes written as the user pauses typing are one undo step per edit.
    connect(objectController_, &ui::ObjectController::editSessionBegan, this, [this] { setCoalescing(true); });
    connect(objectController_, &ui::ObjectController::editSessionEnded, this, [this] { setCoalescing(false); });
    // A click on the pane's empty space takes the focus from a field, which ends its edit.
    setFocusPolicy(Qt::ClickFocus);
}

InspectorViewController::~InspectorViewController()
{
    // The fields go after this part of the pane: the session they may still end is ended here.
    disconnect(objectController_, nullptr, this, nullptr);
    setCoalescing(false);
}

void InspectorViewController::setCoalescing(bool coalescing)
{
    if (!context_ || coalescing == coalescing_)
        return;
    coalescing_ = coalescing;
    if (coalescing)
        context_->undoManager().beginCoalescing();
    else
        context_->undoManager().endCoalescing();
}

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
