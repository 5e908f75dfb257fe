// The held content, the list of bindings and the write, re-read and refusal rules they share.
#include "ui/object_controller.h"

#include "ui/alerts.h"

#include <QWidget>

#include <algorithm>

namespace ui {

namespace {

std::vector<ObjectController*>& liveControllers()
{
    static std::vector<ObjectController*> controllers;
    return controllers;
}

} // namespace

ObjectController::ObjectController(KeyTable keys, QObject* parent) : QObject(parent), keys_(std::move(keys))
{
    liveControllers().push_back(this);
}

ObjectController::~ObjectController()
{
    auto& live = liveControllers();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    // The bindings belong to their widgets, which may outlive the controller.
    for (Binding* binding : std::vector<Binding*>(bindings_))
        delete binding;
}

void ObjectController::setContent(void* content)
{
    commitEditing();
    content_ = content;
    for (Binding* binding : std::vector<Binding*>(bindings_))
        binding->reread();
    Q_EMIT contentChanged();
}

bool ObjectController::commitEditing()
{
    bool allStored = true;
    for (Binding* binding : std::vector<Binding*>(bindings_))
        allStored = binding->commit() && allStored;
    return allStored;
}

void ObjectController::objectsDidChange(const std::function<bool(const void*, std::string_view)>& changed)
{
    for (Binding* binding : std::vector<Binding*>(bindings_)) {
        if (!binding->hasEdit() && binding->dependsOnChange(changed))
            binding->reread();
    }
}

void ObjectController::refresh()
{
    for (Binding* binding : std::vector<Binding*>(bindings_)) {
        if (!binding->hasEdit())
            binding->reread();
    }
}

Binding* ObjectController::binding(const QWidget& widget) const
{
    for (Binding* binding : bindings_) {
        if (&binding->widget() == &widget)
            return binding;
    }
    return nullptr;
}

bool ObjectController::commitEditingEverywhere()
{
    bool allStored = true;
    for (ObjectController* controller : std::vector<ObjectController*>(liveControllers()))
        allStored = controller->commitEditing() && allStored;
    return allStored;
}

void ObjectController::refuse(QWidget& field, const QString& message)
{
    if (refusalHandler_)
        refusalHandler_(field, message);
    else // window-modal and not waited for: a refusal may come from a commit inside a save
        Alert{AlertStyle::warning, message, QString(), {}}.beginSheetModal(*field.window(), [](ModalResponse) {});
}

Binding::Binding(QWidget& widget, ObjectController& controller, QString keyPath)
    : QObject(&widget), widget_(widget), controller_(&controller), keyPath_(std::move(keyPath))
{
    if (controller.keyTable())
        accessor_ = controller.keyTable()(keyPath_.toStdString());
    controller.bindings_.push_back(this);
}

Binding::~Binding()
{
    if (controller_) {
        auto& list = controller_->bindings_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

void Binding::reread()
{
    void* content = controller_ ? controller_->content() : nullptr;
    if (!content || !accessor_) {
        dependencies_.clear();
        showValue(std::monostate{});
        return;
    }
    if (accessor_->dependencies)
        dependencies_ = accessor_->dependencies(content);
    showValue(accessor_->read ? accessor_->read(content) : BoundValue{});
}

bool Binding::commit()
{
    // A refusal alert may end editing again while it is shown; that second call changes nothing.
    if (committing_ || !hasEdit() || !controller_)
        return true;
    void* content = controller_->content();
    if (!content || isReadOnly()) {
        reread();
        return true;
    }
    committing_ = true;
    QString problem;
    std::optional<std::string> refusal;
    if (const std::optional<BoundValue> value = fieldValue(problem))
        refusal = accessor_->write(content, *value);
    else
        refusal = problem.toStdString();
    if (refusal) {
        if (!keepsRefusedText_)
            reread();
        controller_->refuse(widget_, QString::fromStdString(*refusal));
        committing_ = false;
        return false;
    }
    reread();
    committing_ = false;
    Q_EMIT controller_->valueWritten(keyPath_);
    return true;
}

bool Binding::dependsOnChange(const std::function<bool(const void*, std::string_view)>& changed) const
{
    return std::any_of(dependencies_.begin(), dependencies_.end(), [&changed](const ValueDependency& dependency) {
        return changed(dependency.object, dependency.key);
    });
}

void unbind(QWidget& widget)
{
    for (Binding* binding : widget.findChildren<Binding*>(QString(), Qt::FindDirectChildrenOnly))
        delete binding;
}

} // namespace ui
