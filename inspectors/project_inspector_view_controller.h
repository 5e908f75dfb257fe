// The inspector pane of one project: its client, its hourly rate and currency (its client's or its
// own), a warning while it is archived, its notes and the files attached to it. The fields are bound
// to the project; the code fills the client and currency choices, decides whose rate and currency
// show and which of them can be edited, and narrows the attachments to the shown project.
#pragma once

#include "inspectors/inspector_view_controller.h"

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QScrollArea;

namespace model {
class Project;
}
namespace ui {
class AutosizingTextField;
}

namespace inspectors {

class AttachmentsArrayController;
class AttachmentsTableViewController;

class ProjectInspectorViewController : public InspectorViewController {
    Q_OBJECT
public:
    // Whose rate and currency the project uses, as the rate pop-up's selected item says.
    enum class HourlyRateType { unknown, client, custom };
    static HourlyRateType hourlyRateTypeForIndex(int index);
    // "client", "custom" or "unknown", as the usage event names it.
    static const char* text(HourlyRateType type);

    explicit ProjectInspectorViewController(data::ObjectContext* context, QWidget* parent = nullptr);
    ~ProjectInspectorViewController() override;

    // The content when it is a project.
    model::Project* project() const;

    // The rate pop-up's action: item 0 uses the client's rate and currency (the project's own ones are
    // removed), item 1 the project's own, which start as the preferences' defaults. Choosing the kind
    // in force changes nothing.
    void hourlyRateTypeChanged(int index);

    // The pane scrolls its rows up and down only: its width is that of its rows and the scroll bar.
    int minimumColumnWidth() const override;
    int preferredColumnWidth() const override;

    // The pane's controls.
    QScrollArea* scrollView() const { return scrollView_; }
    QComboBox* clientsPopUpButton() const { return clientsPopUpButton_; }
    QComboBox* hourlyRatePopUpButton() const { return hourlyRatePopUpButton_; }
    QLineEdit* hourlyRateTextField() const { return hourlyRateTextField_; }
    QComboBox* currencyComboBox() const { return currencyComboBox_; }
    QWidget* archiveWarningView() const { return archiveWarningView_; }
    ui::AutosizingTextField* notesField() const { return notesField_; }
    AttachmentsArrayController& attachmentsArrayController() const { return *attachmentsArrayController_; }
    AttachmentsTableViewController* attachmentsTableViewController() const { return attachmentsTableViewController_; }

protected:
    void contentObjectChanged() override;
    void contentObjectUpdated() override;

    // Before a change that shows the project's billed timers in another currency (`newCurrency`):
    // asks over the pane's window (askBeforeRelabellingBilledTimers). True when there is nothing to
    // ask: the caller changes now.
    bool confirmCurrencyChange(model::Project& project, const std::string& newCurrency, std::function<void()> change,
                               std::function<void()> cancelled = {});

private:
    void applyHourlyRateType(model::Project& shown, HourlyRateType chosen);
    void buildRows();
    void reloadClients();
    void clientsMayHaveChanged(const foundation::Notification& notification);
    void updateHourlyRateUI();
    void updateArchiveWarning();

    data::ObjectContext* context_;
    QScrollArea* scrollView_ = nullptr;
    QComboBox* clientsPopUpButton_ = nullptr;
    QComboBox* hourlyRatePopUpButton_ = nullptr;
    QLineEdit* hourlyRateTextField_ = nullptr;
    QComboBox* currencyComboBox_ = nullptr;
    QWidget* archiveWarningView_ = nullptr;
    ui::AutosizingTextField* notesField_ = nullptr;
    AttachmentsArrayController* attachmentsArrayController_ = nullptr;
    AttachmentsTableViewController* attachmentsTableViewController_ = nullptr;
    foundation::ObserverToken clientsToken_;
};

} // namespace inspectors
