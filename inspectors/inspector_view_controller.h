// The base of the inspector panes: the one inspected object in an object controller whose fields
// are bound to it, and the two hooks of the panes: the object was replaced, the store changed it.
// A field's edit written in several steps (notes) is one undo step; a click on the pane's empty
// space ends the edit of the focused field.
#pragma once

#include "ui/object_controller.h"

#include "foundation/notification_center.h"

#include <QWidget>

namespace data {
class Object;
class ObjectContext;
} // namespace data

namespace inspectors {

class InspectorViewController : public QWidget {
    Q_OBJECT
public:
    // `context` (borrowed; may be null: then no store changes are heard) is the main context whose
    // change notices reach the pane. `keys` resolves the key paths the pane's fields are bound to.
    InspectorViewController(data::ObjectContext* context, ui::KeyTable keys, QWidget* parent = nullptr);
    ~InspectorViewController() override;

    ui::ObjectController& objectController() { return *objectController_; }
    // The inspected object; nullptr when none (or it was deleted before it was shown).
    data::Object* inspectedObject() const;
    // Shows exactly `object` from now on: an edit in progress is written to the previous one first,
    // then contentObjectChanged runs, also for nothing or for the same object again. A deleted object
    // is not found in the context and shows as nothing.
    void setInspectedObject(data::Object* object);

    // Puts the keyboard focus into the duration editor (timer pane); other panes ignore it.
    virtual void focusDurationPicker() {}

    // The narrowest width at which every control of the pane still shows whole, and the width the
    // pane shows at ease; the inspector column holds them.
    virtual int minimumColumnWidth() const { return minimumSizeHint().width(); }
    virtual int preferredColumnWidth() const { return sizeHint().width(); }

protected:
    // After the inspected object was replaced.
    virtual void contentObjectChanged() {}
    // After a change notice listed the inspected object among its updated objects (inserted and
    // deleted objects never count), once per notice.
    virtual void contentObjectUpdated() {}

private:
    void contextDidChange(const foundation::Notification& notification);
    // Opens or closes the undo manager's session for a field's edit.
    void setCoalescing(bool coalescing);

    data::ObjectContext* context_;
    ui::ObjectController* objectController_;
    bool coalescing_ = false;
    foundation::ObserverToken contextToken_;
};

} // namespace inspectors
