// The client editor: a small popover with the name, hourly rate and currency symbol of one client,
// bound to it, so each value reaches the client as its field finishes editing. For a client made just
// before the editor opened it shows Done and Cancel (Cancel deletes the client again, and so does
// Escape); for an existing client it has no buttons, closes when the user clicks elsewhere, and
// Escape closes it with the client's values as they were when it opened. A currency that would show
// billed timers of the client's projects in another currency is asked about first.
#pragma once

#include "foundation/notification_center.h"

#include "ui/popover.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace model {
class Client;
}
namespace ui {
class ObjectController;
}

namespace inspectors {

class ClientEditorViewController : public QWidget {
    Q_OBJECT
public:
    explicit ClientEditorViewController(QWidget* parent = nullptr);
    ~ClientEditorViewController() override;

    // An editor of `client` (may be null), for a new client or an existing one.
    static std::unique_ptr<ClientEditorViewController> clientEditorViewController(model::Client* client,
                                                                                  bool newClient);

    model::Client* client() const { return client_; }
    void setClient(model::Client* client) { client_ = client; }
    bool isEditingNewClient() const { return isEditingNewClient_; }
    void setIsEditingNewClient(bool isNew) { isEditingNewClient_ = isNew; }
    // Called when the editor is done or closes; the argument is true when the user cancelled.
    std::function<void(bool cancelled)> completionHandler;

    QWidget* buttonContainer() const { return buttonContainer_; }
    ui::ObjectController* objectController() const { return objectController_; }
    QLineEdit* nameField() const { return nameField_; }
    QLineEdit* hourlyRateField() const { return hourlyRateField_; }
    QComboBox* currencyComboBox() const { return currencyComboBox_; }
    QPushButton* doneButton() const { return doneButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

    // Shows the client's values: the buttons only for a new client, the currency symbols in the box.
    void viewDidLoad();
    // Loads the view and shows it in a popover beside `rect` of `view`, on `edge` when there is room.
    void presentAsPopover(const QRect& rect, QWidget& view, ui::PopoverEdge edge);
    // The popover while it is shown, else null.
    ui::Popover* popover() const;

    // Done: writes the field being edited, closes, completes with false.
    void done();
    // Cancel: deletes a new client (its edits with it), closes, completes with true.
    void cancel();
    // The popover closed (by a button, a click elsewhere or Escape): completes with false.
    void popoverDidClose();
    // Escape: Cancel for a new client; for an existing one the values it had when the editor opened
    // come back, the edits in progress are let go and the editor closes, completing with true.
    void revert();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The values of the client when the editor opened, for Escape to put back.
    struct OpeningValues;
    void bindFields();
    void letGoOfEdits();
    void dismissController();
    void observeContext();
    // Alerts go over the window the editor was opened from, which outlives the popover.
    QWidget* alertWindow();

    model::Client* client_ = nullptr;
    bool isEditingNewClient_ = false;
    ui::ObjectController* objectController_ = nullptr;
    QWidget* buttonContainer_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QLineEdit* hourlyRateField_ = nullptr;
    QComboBox* currencyComboBox_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::unique_ptr<ui::Popover> popover_;
    std::unique_ptr<OpeningValues> openingValues_;
    // Where refusals and the currency question are told (see alertWindow).
    QPointer<QWidget> presentingWindow_;
    foundation::ObserverToken contextToken_;
};

} // namespace inspectors
