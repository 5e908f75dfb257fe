// Two-way bindings of widget values to key paths of one held object ("content.project.hourlyRate"),
// in place of the platform's bindings. The widget side lives here and knows no model: a key table
// made for the content's kind says how each key path reads, writes and which objects it depends on.
#pragma once

#include "foundation/clock.h"
#include "foundation/decimal.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class QWidget;

namespace ui {

// An object of the content's store as a value (a to-one relation); the key table knows its kind.
struct ObjectValue {
    void* object = nullptr;
    friend bool operator==(const ObjectValue&, const ObjectValue&) = default;
};

// A value as a binding shows and writes it; monostate is "no value".
using BoundValue =
    std::variant<std::monostate, bool, std::int64_t, foundation::Decimal, std::string, foundation::Date, ObjectValue>;

// One stored key of one object whose change may change a bound value.
struct ValueDependency {
    const void* object = nullptr;
    std::string key;
};

// How one key path reads and writes the value of a content object.
struct KeyAccessor {
    std::function<BoundValue(void* content)> read;
    // Checks and stores a new value; the message to show when it is refused (nothing is stored
    // then). Empty for a read-only key.
    std::function<std::optional<std::string>(void* content, const BoundValue& value)> write;
    // The stored keys the value is read from now, following to-one relations.
    std::function<std::vector<ValueDependency>(void* content)> dependencies;
};

// The key paths of one kind of content; nothing for a path it does not know.
using KeyTable = std::function<std::optional<KeyAccessor>(std::string_view keyPath)>;

class Binding;

// Holds the content object of a pane or window and the bindings of its widgets to it. Edits are
// written once (Return, leaving the field, a new content, commitEditing), never per keystroke.
class ObjectController : public QObject {
    Q_OBJECT
public:
    explicit ObjectController(KeyTable keys, QObject* parent = nullptr);
    ~ObjectController() override;

    void* content() const { return content_; }
    // Writes the edits in progress to the old content, then every binding shows the new one and
    // contentChanged is emitted (also when the content stays the same).
    void setContent(void* content);

    // Writes every field the user changed; false when one of them was refused.
    bool commitEditing();
    // Re-reads the fields whose value depends on a key `changed` reports; a field being edited is
    // left alone.
    void objectsDidChange(const std::function<bool(const void* object, std::string_view key)>& changed);
    // Re-reads every field that is not being edited.
    void refresh();

    const KeyTable& keyTable() const { return keys_; }
    const std::vector<Binding*>& bindings() const { return bindings_; }
    // The binding of `widget`, when it has one with this controller.
    Binding* binding(const QWidget& widget) const;

    // Shows why a value was refused. The default is a window-modal warning over the field's window,
    // not waited for.
    using RefusalHandler = std::function<void(QWidget& field, const QString& message)>;
    void setRefusalHandler(RefusalHandler handler) { refusalHandler_ = std::move(handler); }

    // Writes the edits in progress of every controller alive (the shell, before a save).
    static bool commitEditingEverywhere();

Q_SIGNALS:
    void contentChanged();
    // A binding stored the user's value under `keyPath` (after the write, before anything else).
    void valueWritten(const QString& keyPath);
    // A field that stores its text while the user is still in it (notes, written as the user pauses
    // typing) tells when the user's edit begins and when it ends (the field lost the focus): the
    // writes in between are one edit, to be undone at once. Every began is followed by one ended.
    void editSessionBegan();
    void editSessionEnded();

private:
    friend class Binding;
    void refuse(QWidget& field, const QString& message);

    KeyTable keys_;
    void* content_ = nullptr;
    std::vector<Binding*> bindings_;
    RefusalHandler refusalHandler_;
};

// One widget bound to one key path of a controller's content. A child of its widget: it ends with
// the widget or when the widget is bound anew. It never touches the widget's enabled state.
class Binding : public QObject {
    Q_OBJECT
public:
    Binding(QWidget& widget, ObjectController& controller, QString keyPath);
    ~Binding() override;

    QWidget& widget() const { return widget_; }
    ObjectController* controller() const { return controller_; }
    const QString& keyPath() const { return keyPath_; }
    bool isReadOnly() const { return !accessor_ || !accessor_->write; }

    // Whether the field holds a change of the user's that is not written yet.
    virtual bool hasEdit() const = 0;
    // Shows the content's stored value (no value without a content or a known key path).
    void reread();
    // Writes the user's change, if any: true when stored or unchanged, false when refused (the
    // field then shows the stored value again, unless it keeps refused text).
    bool commit();
    // A refused text stays in the field for correction instead of being replaced by the stored one.
    void setKeepsRefusedText(bool keeps) { keepsRefusedText_ = keeps; }

    bool dependsOnChange(const std::function<bool(const void* object, std::string_view key)>& changed) const;

protected:
    virtual void showValue(const BoundValue& value) = 0;
    // The field's value, or nothing with `problem` saying why the text is no value of its kind.
    virtual std::optional<BoundValue> fieldValue(QString& problem) const = 0;

private:
    QWidget& widget_;
    QPointer<ObjectController> controller_;
    QString keyPath_;
    std::optional<KeyAccessor> accessor_;
    std::vector<ValueDependency> dependencies_;
    bool keepsRefusedText_ = false;
    bool committing_ = false;
};

// Binds `widget` with a binding of type B made from `args`, unless it is bound to the same key path
// of the same controller already: then that binding, with any edit in progress, stays.
template <typename B, typename W, typename... Args>
B* bindWidget(W& widget, ObjectController& controller, const QString& keyPath, Args&&... args)
{
    if (auto* existing = qobject_cast<B*>(controller.binding(widget)); existing && existing->keyPath() == keyPath)
        return existing;
    for (Binding* old : widget.template findChildren<Binding*>(QString(), Qt::FindDirectChildrenOnly))
        delete old;
    auto* binding = new B(widget, controller, keyPath, std::forward<Args>(args)...);
    binding->reread();
    return binding;
}

// Removes the widget's bindings; the widget keeps what it shows.
void unbind(QWidget& widget);

} // namespace ui
