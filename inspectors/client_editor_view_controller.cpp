// The client editor's fields, their bindings to the client, the popover it is shown in and the ways it
// ends. The completion runs after a button's action and again, one event-loop turn later, when the
// popover reports that it closed: Done gives false then false, Cancel true then false.
#include "inspectors/client_editor_view_controller.h"

#include "inspectors/currency_change_alert.h"
#include "inspectors/key_tables.h"

#include "model/client.h"
#include "model/currency_symbols.h"

#include "data/change_set.h"
#include "data/object_context.h"
#include "ui/alerts.h"
#include "ui/bindings.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>
#include <string>

namespace inspectors {

struct ClientEditorViewController::OpeningValues {
    std::optional<std::string> name;
    std::optional<foundation::Decimal> hourlyRate;
    std::optional<std::string> currency;
};

ClientEditorViewController::ClientEditorViewController(QWidget* parent)
    : QWidget(parent),
      objectController_(new ui::ObjectController(
          clientKeys([this](model::Client& client, const std::optional<std::string>& newCurrency,
                            std::function<void()> change) {
              // Asked over the window the editor was opened from, as refusals are; until the answer
              // the box shows the currency in force, and Change shows the new one through the store.
              return askBeforeRelabellingBilledTimers(*alertWindow(), client, newCurrency, std::move(change));
          }),
          this))
{
    setObjectName(QStringLiteral("ClientEditorViewController"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    nameField_ = new QLineEdit(this);
    nameField_->setObjectName(QStringLiteral("nameField"));
    nameField_->setMinimumWidth(200);
    hourlyRateField_ = new QLineEdit(this);
    hourlyRateField_->setObjectName(QStringLiteral("hourlyRateField"));
    currencyComboBox_ = new QComboBox(this);
    currencyComboBox_->setObjectName(QStringLiteral("currencyComboBox"));
    currencyComboBox_->setEditable(true);
    currencyComboBox_->setInsertPolicy(QComboBox::NoInsert);
    form->addRow(tr("Name:"), nameField_);
    form->addRow(tr("Hourly Rate:"), hourlyRateField_);
    form->addRow(tr("Currency:"), currencyComboBox_);
    layout->addLayout(form);

    buttonContainer_ = new QWidget(this);
    buttonContainer_->setObjectName(QStringLiteral("buttonContainer"));
    auto* buttons = new QHBoxLayout(buttonContainer_);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch();
    cancelButton_ = new QPushButton(tr("Cancel"), buttonContainer_);
    doneButton_ = new QPushButton(tr("Done"), buttonContainer_);
    doneButton_->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(doneButton_);
    layout->addWidget(buttonContainer_);
    connect(doneButton_, &QPushButton::clicked, this, &ClientEditorViewController::done);
    connect(cancelButton_, &QPushButton::clicked, this, &ClientEditorViewController::cancel);

    bindFields();
    objectController_->setRefusalHandler([this](QWidget&, const QString& message) {
        ui::Alert alert;
        alert.messageText = message;
        alert.beginSheetModal(*alertWindow(), [](ui::ModalResponse) {});
    });
}

QWidget* ClientEditorViewController::alertWindow()
{
    return presentingWindow_ ? presentingWindow_.data() : window();
}

ClientEditorViewController::~ClientEditorViewController()
{
    contextToken_.reset();
    // The popover hands this widget back while it is whole; no completion runs any more.
    if (popover_) {
        popover_->disconnect(this);
        popover_->close();
    }
}

std::unique_ptr<ClientEditorViewController>
ClientEditorViewController::clientEditorViewController(model::Client* client, bool newClient)
{
    auto editor = std::make_unique<ClientEditorViewController>();
    editor->setClient(client);
    editor->setIsEditingNewClient(newClient);
    return editor;
}

void ClientEditorViewController::bindFields()
{
    ui::bindWidget<ui::TextFieldBinding>(*nameField_, *objectController_, QStringLiteral("content.name"));
    ui::bindWidget<ui::DecimalFieldBinding>(*hourlyRateField_, *objectController_, QStringLiteral("content.hourlyRate"),
                                            2);
    ui::bindWidget<ui::ComboBoxTextBinding>(*currencyComboBox_, *objectController_, QStringLiteral("content.currency"));
}

void ClientEditorViewController::viewDidLoad()
{
    buttonContainer_->setVisible(isEditingNewClient_);
    currencyComboBox_->clear();
    for (const std::string& symbol : model::currencySymbols())
        currencyComboBox_->addItem(QString::fromStdString(symbol));
    bindFields();
    objectController_->setContent(client_ && client_->context() ? client_ : nullptr);
    if (client_)
        openingValues_ =
            std::make_unique<OpeningValues>(OpeningValues{client_->name(), client_->hourlyRate(), client_->currency()});
    observeContext();
}

void ClientEditorViewController::letGoOfEdits()
{
    // The fields are let go instead of written, and bound again for a next opening.
    for (QWidget* field : {static_cast<QWidget*>(nameField_), static_cast<QWidget*>(hourlyRateField_),
                           static_cast<QWidget*>(currencyComboBox_)})
        ui::unbind(*field);
    objectController_->setContent(nullptr);
    bindFields();
}

void ClientEditorViewController::keyPressEvent(QKeyEvent* event)
{
    // Escape comes here from the fields, before the popover would close and write their edits.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        revert();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClientEditorViewController::revert()
{
    if (isEditingNewClient_) {
        cancel();
        return;
    }
    if (client_ && !client_->isDeleted() && openingValues_) {
        letGoOfEdits();
        const OpeningValues& opening = *openingValues_;
        if (client_->name() != opening.name)
            client_->setName(opening.name);
        if (client_->hourlyRate() != opening.hourlyRate)
            client_->setHourlyRate(opening.hourlyRate);
        if (client_->currency() != opening.currency)
            client_->setCurrency(opening.currency);
    }
    dismissController();
    if (completionHandler)
        completionHandler(true);
}

void ClientEditorViewController::observeContext()
{
    contextToken_.reset();
    data::ObjectContext* context = client_ ? client_->context() : nullptr;
    if (!context)
        return;
    contextToken_ = context->notificationCenter().addObserver(
        data::ObjectsDidChangeNotification, context, [this](const foundation::Notification& notification) {
            const auto* changes = notification.info<std::shared_ptr<const data::ChangeSet>>("changes");
            if (!changes || !*changes || !objectController_->content())
                return;
            // The client went away (an undo of its creation): nothing is left to edit.
            if (client_->isDeleted()) {
                objectController_->setContent(nullptr);
                dismissController();
                return;
            }
            const data::ChangeSet& changeSet = **changes;
            objectController_->objectsDidChange([&changeSet](const void* object, std::string_view key) {
                return changeSet.changed(static_cast<const data::Object*>(object), key);
            });
        });
}

void ClientEditorViewController::presentAsPopover(const QRect& rect, QWidget& view, ui::PopoverEdge edge)
{
    if (popover_ && popover_->isShown())
        return;
    viewDidLoad();
    presentingWindow_ = view.window();
    popover_ = std::make_unique<ui::Popover>();
    popover_->setContentWidget(this);
    // Fields finish editing when the popover closes; the completion follows a turn later, after that
    // of a button's action.
    connect(popover_.get(), &ui::Popover::didClose, this, [this] { objectController_->commitEditing(); });
    connect(popover_.get(), &ui::Popover::didClose, this, &ClientEditorViewController::popoverDidClose,
            Qt::QueuedConnection);
    popover_->showRelativeTo(rect, view, edge);
    nameField_->setFocus(Qt::PopupFocusReason);
    nameField_->selectAll();
}

ui::Popover* ClientEditorViewController::popover() const
{
    return popover_ && popover_->isShown() ? popover_.get() : nullptr;
}

void ClientEditorViewController::dismissController()
{
    if (popover_)
        popover_->close();
}

void ClientEditorViewController::done()
{
    objectController_->commitEditing();
    dismissController();
    if (completionHandler)
        completionHandler(false);
}

void ClientEditorViewController::cancel()
{
    if (isEditingNewClient_ && client_ && !client_->isDeleted()) {
        if (data::ObjectContext* context = client_->context()) {
            // Edits in progress go with the client.
            letGoOfEdits();
            context->deleteObject(client_);
        }
    }
    dismissController();
    if (completionHandler)
        completionHandler(true);
}

void ClientEditorViewController::popoverDidClose()
{
    if (completionHandler)
        completionHandler(false);
}

} // namespace inspectors
