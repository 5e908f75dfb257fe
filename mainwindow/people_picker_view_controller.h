// The address-book people picker: the persons of a vCard file or folder, listed by name with a filter
// field, shown window-modal over a window. The place is the user's choice, remembered under the
// defaults key "contactsLocation" (at first $XDG_DATA_HOME/contacts/). It is read on a thread of its
// own while the picker shows how far the read is; the cards and files that could not be read are
// counted below the place. Import hands the selected person to the completion, Cancel (also while
// reading) hands nothing.
#pragma once

#include "foundation/status.h"
#include "foundation/vcard_reader.h"

#include <QDialog>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
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

    // Starts reading the persons of the remembered place. Without `defaults` the default place is
    // read and a choice is not remembered.
    explicit PeoplePickerViewController(foundation::DefaultsStore* defaults, QWidget* parent = nullptr);
    // Stops a read in progress and waits for its thread.
    ~PeoplePickerViewController() override;

    // A new picker as a sheet over `host`. When the sheet ends, the completion gets the person
    // selected at that moment for Import and nothing otherwise; the picker then goes away.
    static PeoplePickerViewController* show(QWidget& host, foundation::DefaultsStore* defaults, Completion completion);

    // $XDG_DATA_HOME/contacts/ (~/.local/share/contacts/).
    static std::filesystem::path defaultContactsLocation();
    std::filesystem::path contactsLocation() const { return contactsLocation_; }
    // Starts reading the persons of a .vcf file or a folder of them, in place of a read in progress;
    // the place is remembered once it could be read.
    void setContactsLocation(const std::filesystem::path& location);
    // Whether a read is in progress; its end comes as readFinished().
    bool isReading() const { return readThread_.joinable() && !readDone_; }

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
    QProgressBar* readProgress() const { return readProgress_; }
    QPushButton* importButton() const { return importButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* chooseFileButton() const { return chooseFileButton_; }
    QPushButton* chooseFolderButton() const { return chooseFolderButton_; }

signals:
    void readFinished();

private:
    void startReading(const std::filesystem::path& location, bool rememberWhenRead);
    void stopReading();
    void showProgress(std::uint64_t bytesRead, std::uint64_t bytesTotal);
    // Lists what was read; remembers the place when it could be read and `remember` says so.
    void listPersons(foundation::Result<foundation::VCardContents> read, bool remember);

    foundation::DefaultsStore* defaults_;
    std::filesystem::path contactsLocation_;
    std::thread readThread_;
    std::shared_ptr<std::atomic<bool>> stopRead_;
    bool readDone_ = false;
    int readNumber_ = 0; // answers of an earlier read that arrive late are dropped
    std::vector<foundation::VCardPerson> persons_;
    QStandardItemModel* personsModel_ = nullptr;
    QSortFilterProxyModel* filteredPersons_ = nullptr;
    QListView* peoplePickerView_ = nullptr;
    QLineEdit* filterField_ = nullptr;
    QLabel* locationLabel_ = nullptr;
    QProgressBar* readProgress_ = nullptr;
    QPushButton* importButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* chooseFileButton_ = nullptr;
    QPushButton* chooseFolderButton_ = nullptr;
};

} // namespace mainwindow
