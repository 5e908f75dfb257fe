// The project pane's rows, bindings, refreshes and the rate kind action.
#include "inspectors/project_inspector_view_controller.h"

#include "inspectors/attachments_array_controller.h"
#include "inspectors/attachments_table_view_controller.h"
#include "inspectors/currency_change_alert.h"
#include "inspectors/key_tables.h"

#include "data/change_set.h"
#include "data/object_context.h"
#include "kits/analytics/tally_events.h"
#include "model/client.h"
#include "model/currency_symbols.h"
#include "model/fetch_helpers.h"
#include "model/preferences.h"
#include "model/project.h"
#include "ui/autosizing_text_field.h"
#include "ui/bindings.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace inspectors {

namespace {

constexpr int clientRateItem = 0, customRateItem = 1;

bool isClient(const data::Object* object)
{
    return object->entity().name() == model::Client::entityName;
}

QWidget* row(QLayout& stack, QWidget& parent, const QString& title, QWidget* field)
{
    auto* container = new QWidget(&parent);
    auto* layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 2, 0, 2);
    auto* label = new QLabel(title, container);
    label->setMinimumWidth(90);
    layout->addWidget(label);
    layout->addWidget(field, 1);
    stack.addWidget(container);
    return container;
}

} // namespace

ProjectInspectorViewController::HourlyRateType ProjectInspectorViewController::hourlyRateTypeForIndex(int index)
{
    switch (index) {
    case clientRateItem: return HourlyRateType::client;
    case customRateItem: return HourlyRateType::custom;
    default: return HourlyRateType::unknown;
    }
}

const char* ProjectInspectorViewController::text(HourlyRateType type)
{
    switch (type) {
    case HourlyRateType::client: return "client";
    case HourlyRateType::custom: return "custom";
    case HourlyRateType::unknown: break;
    }
    return "unknown";
}

ProjectInspectorViewController::ProjectInspectorViewController(data::ObjectContext* context, QWidget* parent)
    : InspectorViewController(
        context,
        projectKeys([this](model::Project& project, const std::string& newCurrency, std::function<void()> change) {
            return confirmCurrencyChange(project, newCurrency, std::move(change));
        }),
        parent),
      context_(context)
{
    setObjectName(QStringLiteral("ProjectInspector"));
    attachmentsArrayController_ = new AttachmentsArrayController(context, this);
    buildRows();
    if (context_) {
        clientsToken_ = context_->notificationCenter().addObserver(
            data::ObjectsDidChangeNotification, context_,
            [this](const foundation::Notification& notification) { clientsMayHaveChanged(notification); });
    }
    reloadClients();
}

ProjectInspectorViewController::~ProjectInspectorViewController() = default;

void ProjectInspectorViewController::buildRows()
{
    // The pane scrolls as a whole; the attachments list inside it leaves the wheel to it.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scrollView_ = new QScrollArea(this);
    scrollView_->setWidgetResizable(true);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scrollView_);
    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(12, 12, 12, 12);

    clientsPopUpButton_ = new QComboBox;
    row(*stack, *content, tr("Client"), clientsPopUpButton_);

    auto* rate = new QWidget;
    auto* rateLayout = new QHBoxLayout(rate);
    rateLayout->setContentsMargins(0, 0, 0, 0);
    hourlyRatePopUpButton_ = new QComboBox(rate);
    hourlyRatePopUpButton_->addItems({tr("Client rate"), tr("Custom rate")});
    hourlyRateTextField_ = new QLineEdit(rate);
    rateLayout->addWidget(hourlyRatePopUpButton_);
    rateLayout->addWidget(hourlyRateTextField_, 1);
    row(*stack, *content, tr("Hourly rate"), rate);
    connect(hourlyRatePopUpButton_, &QComboBox::activated, this,
            &ProjectInspectorViewController::hourlyRateTypeChanged);

    currencyComboBox_ = new QComboBox;
    currencyComboBox_->setEditable(true);
    currencyComboBox_->setInsertPolicy(QComboBox::NoInsert);
    currencyComboBox_->clear();
    for (const std::string& symbol : model::currencySymbols())
        currencyComboBox_->addItem(QString::fromStdString(symbol));
    row(*stack, *content, tr("Currency"), currencyComboBox_);

    archiveWarningView_ = new QWidget(content);
    auto* warningLayout = new QHBoxLayout(archiveWarningView_);
    warningLayout->setContentsMargins(0, 4, 0, 4);
    auto* warningIcon = new QLabel(archiveWarningView_);
    warningIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    auto* warningText = new QLabel(tr("This project is archived. Unarchive it to start timers and to change "
                                      "its currency."),
                                   archiveWarningView_);
    warningText->setWordWrap(true);
    warningLayout->addWidget(warningIcon, 0, Qt::AlignTop);
    warningLayout->addWidget(warningText, 1);
    archiveWarningView_->hide();
    stack->addWidget(archiveWarningView_);

    notesField_ = new ui::AutosizingTextField;
    notesField_->setPlaceholderText(tr("Notes"));
    notesField_->setTabChangesFocus(true);
    stack->addWidget(new QLabel(tr("Notes"), content));
    stack->addWidget(notesField_);

    stack->addWidget(new QLabel(tr("Attachments"), content));
    attachmentsTableViewController_ =
        new AttachmentsTableViewController(objectController(), *attachmentsArrayController_, content);
    stack->addWidget(attachmentsTableViewController_);
    stack->addStretch();
    scrollView_->setWidget(content);

    ui::ObjectController& bindings = objectController();
    ui::bindSelectedObject(*clientsPopUpButton_, bindings, QStringLiteral("content.client"));
    ui::bindText(*notesField_, bindings, QStringLiteral("content.notes"));
}

int ProjectInspectorViewController::minimumColumnWidth() const
{
    return scrollView_->widget()->minimumSizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

int ProjectInspectorViewController::preferredColumnWidth() const
{
    return scrollView_->widget()->sizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

model::Project* ProjectInspectorViewController::project() const
{
    return dynamic_cast<model::Project*>(inspectedObject());
}

void ProjectInspectorViewController::reloadClients()
{
    {
        const QSignalBlocker blocker(clientsPopUpButton_);
        clientsPopUpButton_->clear();
        clientsPopUpButton_->addItem(QString(), ui::PopUpButtonBinding::itemData(nullptr));
        if (context_) {
            for (model::Client* client : model::fetchAll<model::Client>(*context_)) {
                const data::Object* object = client;
                clientsPopUpButton_->addItem(QString::fromStdString(client->name().value_or(std::string())),
                                             ui::PopUpButtonBinding::itemData(object));
            }
        }
    }
    if (ui::Binding* binding = objectController().binding(*clientsPopUpButton_))
        binding->reread();
}

void ProjectInspectorViewController::clientsMayHaveChanged(const foundation::Notification& notification)
{
    const auto* changes = notification.info<std::shared_ptr<const data::ChangeSet>>("changes");
    if (!changes || !*changes)
        return;
    const data::ChangeSet& changeSet = **changes;
    const bool namesOrOrder =
        std::any_of(changeSet.updated.begin(), changeSet.updated.end(), [&](const data::Object* object) {
            return isClient(object) && (changeSet.changed(object, "name") || changeSet.changed(object, "sortOrder"));
        });
    if (namesOrOrder || std::any_of(changeSet.inserted.begin(), changeSet.inserted.end(), isClient)
        || std::any_of(changeSet.deleted.begin(), changeSet.deleted.end(), isClient))
        reloadClients();
}

void ProjectInspectorViewController::contentObjectChanged()
{
    updateHourlyRateUI();
    model::Project* shown = project();
    // Without a project the list shows nothing rather than the previous project's files.
    attachmentsArrayController_->setFilterProject(shown);
    if (shown)
        updateArchiveWarning();
}

void ProjectInspectorViewController::contentObjectUpdated()
{
    updateHourlyRateUI();
    updateArchiveWarning();
}

void ProjectInspectorViewController::updateArchiveWarning()
{
    if (const model::Project* shown = project())
        archiveWarningView_->setHidden(!shown->archived());
}

void ProjectInspectorViewController::updateHourlyRateUI()
{
    const model::Project* shown = project();
    if (!shown)
        return;
    ui::ObjectController& bindings = objectController();
    const bool custom = shown->customHourlyRate().has_value();
    hourlyRatePopUpButton_->setCurrentIndex(custom ? customRateItem : clientRateItem);
    hourlyRateTextField_->setEnabled(custom);
    ui::bindDecimal(*hourlyRateTextField_, bindings,
                    custom ? QStringLiteral("content.customHourlyRate") : QStringLiteral("content.hourlyRate"));
    ui::bindText(*currencyComboBox_, bindings,
                 custom ? QStringLiteral("content.customCurrency") : QStringLiteral("content.currency"));
    // An archived project keeps an editable rate field, but its currency box is disabled.
    currencyComboBox_->setEnabled(hourlyRatePopUpButton_->currentIndex() == customRateItem && !shown->archived());
}

bool ProjectInspectorViewController::confirmCurrencyChange(model::Project& project, const std::string& newCurrency,
                                                           std::function<void()> change,
                                                           std::function<void()> cancelled)
{
    return askBeforeRelabellingBilledTimers(*window(), project, newCurrency, std::move(change), std::move(cancelled));
}

void ProjectInspectorViewController::hourlyRateTypeChanged(int index)
{
    model::Project* shown = project();
    if (!shown)
        return;
    const HourlyRateType chosen = hourlyRateTypeForIndex(index);
    const HourlyRateType current = shown->customHourlyRate() ? HourlyRateType::custom : HourlyRateType::client;
    // The kind in force chosen again changes nothing: it would replace the project's own rate and
    // currency with the preferences' defaults. No choice (unknown) changes nothing either.
    if (chosen == current || chosen == HourlyRateType::unknown) {
        updateHourlyRateUI();
        return;
    }
    const std::string newCurrency =
        chosen == HourlyRateType::custom
            ? model::Project::currencyOf(model::Preferences::standard().defaultProjectHourlyRateCurrency(), nullptr)
            : model::Project::currencyOf(std::nullopt, shown->client());
    QPointer<ProjectInspectorViewController> guard(this);
    const auto apply = [guard, shown, chosen] {
        if (guard)
            guard->applyHourlyRateType(*shown, chosen);
    };
    const auto restore = [guard] {
        if (guard)
            guard->updateHourlyRateUI();
    };
    if (confirmCurrencyChange(*shown, newCurrency, apply, restore))
        apply();
    else
        updateHourlyRateUI(); // the pop-up shows the kind in force until the answer
}

void ProjectInspectorViewController::applyHourlyRateType(model::Project& shown, HourlyRateType chosen)
{
    if (chosen == HourlyRateType::custom) {
        const model::Preferences& preferences = model::Preferences::standard();
        shown.setCustomHourlyRate(preferences.defaultProjectHourlyRate());
        shown.setCustomCurrency(preferences.defaultProjectHourlyRateCurrency());
    } else {
        shown.setCustomHourlyRate(std::nullopt);
        shown.setCustomCurrency(std::nullopt);
    }
    updateHourlyRateUI();
    kits::TallyEvents::trackProjectHourlyRateTypeChanged(
        std::string(text(hourlyRateTypeForIndex(hourlyRatePopUpButton_->currentIndex()))));
}

} // namespace inspectors
