// The address-book people picker: the persons of a vCard file or folder, listed by name with a filter
// field, shown window-modal over a window. The place is the user's choice, remembered under the
// defaults key "contactsLocation" (at first $XDG_DATA_HOME/contacts/). Import hands the selected
// person to the completion, Cancel hands nothing.
#pragma once

#include "foundation/vcard_reader.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;

namespace foundation {
class DefaultsStore;
}

namespace mainwindow {

class PeoplePickerViewController : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* contactsLocationKey = "contactsLocation";
    using Completion = std::function<void(std::optional<foundation::VCardPerson>)>;

    // Reads the persons of the remembered place at once. Without `defaults` the default place is
    // read and a choice is not remembered.
    explicit PeoplePickerViewController(foundation::DefaultsStore* defaults, QWidget* parent = nullptr);
    ~PeoplePickerViewController() override;

    // A new picker as a sheet over `host`. When the sheet ends, the completion gets the person
    // selected at that moment for Import and nothing otherwise; the picker then goes away.
    static PeoplePickerViewController* show(QWidget& host, foundation::DefaultsStore* defaults, Completion completion);

    // $XDG_DATA_HOME/contacts/ (~/.local/share/contacts/).
    static std::filesystem::path defaultContactsLocation();
    std::filesystem::path contactsLocation() const { return contactsLocation_; }
    // Reads the persons of a .vcf file or a folder of them; the place is remembered when it could be read.
    void setContactsLocation(const std::filesystem::path& location);

    // The person of the selected row, nothing without one.
    std::optional<foundation::VCardPerson> selectedPerson() const;
    // The persons read, in the list's order (by name).
    const std::vector<foundation::VCardPerson>& persons() const { return persons_; }
    // What a person is listed as: the client name it would give, "No Name" without any name.
    static QString displayName(const foundation::VCardPerson& person);

    void importAction();
    void cancelAction();
    // Import follows the selection: enabled exactly while a person is selected.
    void pickerSelectionChanged();
    // Open dialogs for a .vcf file or a folder of them; a choice is read and remembered.
    void chooseFile();
    void chooseFolder();

    QListView* peoplePickerView() const { return peoplePickerView_; }
    QLineEdit* filterField() const { return filterField_; }
    QLabel* locationLabel() const { return locationLabel_; }
    QPushButton* importButton() const { return importButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* chooseFileButton() const { return chooseFileButton_; }
    QPushButton* chooseFolderButton() const { return chooseFolderButton_; }

private:
    // Lists the persons of `location`; whether it could be read.
    bool readPersons(const std::filesystem::path& location);

    foundation::DefaultsStore* defaults_;
    std::filesystem::path contactsLocation_;
    std::vector<foundation::VCardPerson> persons_;
    QStandardItemModel* personsModel_ = nullptr;
    QSortFilterProxyModel* filteredPersons_ = nullptr;
    QListView* peoplePickerView_ = nullptr;
    QLineEdit* filterField_ = nullptr;
    QLabel* locationLabel_ = nullptr;
    QPushButton* importButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* chooseFileButton_ = nullptr;
    QPushButton* chooseFolderButton_ = nullptr;
};

} // namespace mainwindow
