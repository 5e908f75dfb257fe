// Clients imported from vCard fixtures through the sidebar and the people picker, as the user does:
// the name each kind of card gives, Cancel, the Import button following the selection, the filter,
// the address book's place (the default one, a chosen file remembered, one that cannot be read), and
// a file with a photo over the line limit and a broken card.
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/people_picker_view_controller.h"

#include "model/fetch_helpers.h"
#include "model/preferences.h"

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "support/scoped_environment.h"
#include "ui/modal_test_hook.h"

#include "store_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>

#include <fstream>

using namespace mainwindow;

namespace {

class PeoplePickerTest : public testsupport::StoreFixture {
protected:
    PeoplePickerTest()
    {
        kits::Tally::setEventControllerForTesting(events_);
        std::filesystem::create_directories(contactsFolder());
        window_ = std::make_unique<MainWindowController>(context_.get(), *defaults_);
        sidebar_ = new ClientsViewController(context_.get(), defaults_.get());
        window_->splitViewController()->setClientsViewController(sidebar_);
        window_->show();
    }
    ~PeoplePickerTest() override
    {
        window_.reset();
        kits::Tally::setEventControllerForTesting(nullptr);
    }

    std::filesystem::path root() const { return folder_.path().toStdString(); }
    std::filesystem::path contactsFolder() const { return root() / "data" / "contacts"; }
    void writeFile(const std::filesystem::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string card(const std::string& lines)
    {
        return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + lines + "END:VCARD\r\n";
    }

    // Opens the picker through the sidebar, as the File menu does, and waits until its place is read.
    PeoplePickerViewController& openPicker()
    {
        sidebar_->importClientFromContacts();
        EXPECT_NE(sidebar_->peoplePicker(), nullptr);
        waitForRead(*sidebar_->peoplePicker());
        return *sidebar_->peoplePicker();
    }
    static void waitForRead(PeoplePickerViewController& picker)
    {
        QElapsedTimer waited;
        waited.start();
        while (picker.isReading() && waited.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(picker.isReading()) << "the read did not end";
        EXPECT_TRUE(picker.readProgress()->isHidden());
    }
    static QStringList listed(const PeoplePickerViewController& picker)
    {
        QStringList names;
        const QAbstractItemModel& rows = *picker.peoplePickerView()->model();
        for (int row = 0; row < rows.rowCount(); ++row)
            names.push_back(rows.index(row, 0).data().toString());
        return names;
    }
    static void select(PeoplePickerViewController& picker, const QString& name)
    {
        const QAbstractItemModel& rows = *picker.peoplePickerView()->model();
        for (int row = 0; row < rows.rowCount(); ++row)
            if (rows.index(row, 0).data().toString() == name)
                picker.peoplePickerView()->selectionModel()->select(rows.index(row, 0),
                                                                    QItemSelectionModel::ClearAndSelect);
    }
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::vector<std::string> clientNames()
    {
        std::vector<std::string> names;
        for (const model::Client* client : model::fetchAll<model::Client>(*context_))
            names.push_back(client->name().value_or("?"));
        return names;
    }
    std::vector<std::string> eventNames() const
    {
        std::vector<std::string> names;
        for (const auto& event : events_->events())
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
                names.push_back(custom->customEventName().value_or(""));
        return names;
    }
    // Picks `name` in a new picker and presses Import.
    void import(const QString& name)
    {
        PeoplePickerViewController& picker = openPicker();
        select(picker, name);
        ASSERT_TRUE(picker.importButton()->isEnabled()) << name.toStdString();
        picker.importButton()->click();
        settle();
        context_->processPendingChanges();
    }

    testsupport::ScopedEnvironment environment_{
        {"XDG_DATA_HOME", (std::filesystem::path(folder_.path().toStdString()) / "data").string()}};
    ui::ModalTestHook hook_;
    std::shared_ptr<kits::TLYRecordingEventController> events_ = std::make_shared<kits::TLYRecordingEventController>();
    std::unique_ptr<MainWindowController> window_;
    ClientsViewController* sidebar_ = nullptr;
};

TEST_F(PeoplePickerTest, EachKindOfCardGivesTheClientNameOfTheRule)
{
    writeFile(contactsFolder() / "jane.vcf", card("N:Doe;Jane;;;\r\nFN:Jane Doe\r\n"));
    writeFile(contactsFolder() / "last.vcf", card("N:Smith;;;;\r\n"));
    writeFile(contactsFolder() / "org.vcf", card("FN:ACME Inc\r\nORG:ACME Inc;Sales\r\n"));
    writeFile(contactsFolder() / "first-org.vcf", card("N:;Max;;;\r\nORG:Globex\r\n"));
    writeFile(contactsFolder() / "nothing.vcf", card("NOTE:no name at all\r\n"));
    writeFile(contactsFolder() / "doe.vcf", "BEGIN:VCARD\nVERSION:2.1\nN:Roe;;;;\nEND:VCARD\n");

    EXPECT_EQ(listed(openPicker()), (QStringList{"ACME Inc", "Jane Doe", "Max", "No Name", "Roe", "Smith"}));
    sidebar_->peoplePicker()->cancelAction();
    settle();
    for (const char* name : {"Jane Doe", "Smith", "ACME Inc", "Max", "No Name", "Roe"})
        import(name);

    EXPECT_EQ(clientNames(), (std::vector<std::string>{"Jane Doe", "Smith", "ACME Inc", "Max", "New Client", "Roe"}));
    // The sidebar lists them; none of them was selected or opened in the editor.
    EXPECT_EQ(sidebar_->outlineModel()->clients().size(), 6u);
    EXPECT_EQ(sidebar_->clientEditor(), nullptr);
    ASSERT_TRUE(sidebar_->selectedItem().has_value());
    EXPECT_EQ(std::get<std::string>(*sidebar_->selectedItem()), ClientsViewController::AllProjectsIdentifier);
    EXPECT_EQ(eventNames(), std::vector<std::string>(7, "Import Client"));
}

TEST_F(PeoplePickerTest, CancelAddsNothingButTheImportWasCounted)
{
    writeFile(contactsFolder() / "jane.vcf", card("N:Doe;Jane;;;\r\n"));
    PeoplePickerViewController& picker = openPicker();
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Import Client"});
    ASSERT_EQ(hook_.sheets.size(), 1u);
    EXPECT_EQ(hook_.sheets.front().window, window_.get());
    select(picker, "Jane Doe");
    picker.cancelButton()->click();
    settle();
    context_->processPendingChanges();
    EXPECT_TRUE(clientNames().empty());
    EXPECT_EQ(sidebar_->peoplePicker(), nullptr);
}

TEST_F(PeoplePickerTest, ImportIsEnabledOnlyWhileAPersonIsSelected)
{
    writeFile(contactsFolder() / "people.vcf", card("N:Doe;Jane;;;\r\n") + card("N:Roe;Rick;;;\r\n"));
    PeoplePickerViewController& picker = openPicker();
    EXPECT_FALSE(picker.importButton()->isEnabled());
    select(picker, "Rick Roe");
    EXPECT_TRUE(picker.importButton()->isEnabled());
    ASSERT_TRUE(picker.selectedPerson().has_value());
    EXPECT_EQ(picker.selectedPerson()->lastName, "Roe");
    picker.peoplePickerView()->selectionModel()->clearSelection();
    EXPECT_FALSE(picker.importButton()->isEnabled());
    EXPECT_FALSE(picker.selectedPerson().has_value());

    // The filter narrows the list; a selection it hides is no selection.
    select(picker, "Jane Doe");
    picker.filterField()->setText("rick");
    EXPECT_EQ(listed(picker), QStringList{"Rick Roe"});
    EXPECT_FALSE(picker.importButton()->isEnabled());
    picker.filterField()->clear();
    EXPECT_EQ(listed(picker).size(), 2);
}

TEST_F(PeoplePickerTest, AChosenFileIsRememberedAndTheNextPickerReadsIt)
{
    const std::filesystem::path chosen = root() / "exported.vcf";
    writeFile(chosen, card("N:Doe;Jane;;;\r\n") + card("ORG:Initech\r\n"));
    PeoplePickerViewController& picker = openPicker();
    EXPECT_TRUE(listed(picker).isEmpty());
    EXPECT_EQ(picker.contactsLocation(), contactsFolder() / "");

    hook_.answerFileDialog = [&chosen](const ui::PresentedFileDialog&) {
        return std::optional<QStringList>(QStringList{QString::fromStdString(chosen.string())});
    };
    picker.chooseFileButton()->click();
    settle();
    waitForRead(picker);
    EXPECT_EQ(listed(picker), (QStringList{"Initech", "Jane Doe"}));
    EXPECT_EQ(defaults_->stringValue(PeoplePickerViewController::contactsLocationKey), chosen.string());
    picker.cancelAction();
    settle();

    EXPECT_EQ(listed(openPicker()), (QStringList{"Initech", "Jane Doe"}));
}

TEST_F(PeoplePickerTest, APlaceThatCannotBeReadListsNobodySaysWhyAndIsNotRemembered)
{
    std::filesystem::remove_all(contactsFolder());
    PeoplePickerViewController& picker = openPicker();
    EXPECT_TRUE(listed(picker).isEmpty());
    EXPECT_TRUE(picker.locationLabel()->text().startsWith("No contacts at"));
    EXPECT_TRUE(picker.chooseFileButton()->isEnabled());
    EXPECT_TRUE(picker.chooseFolderButton()->isEnabled());

    const std::filesystem::path broken = root() / "too-large.vcf";
    writeFile(broken, card("N:Doe;Jane;;;\r\n"));
    std::filesystem::resize_file(broken, foundation::vCardMaxFileBytes + 1);
    picker.setContactsLocation(broken);
    waitForRead(picker);
    EXPECT_TRUE(listed(picker).isEmpty());
    EXPECT_TRUE(picker.locationLabel()->text().startsWith("The contacts cannot be read"));
    EXPECT_FALSE(defaults_->stringValue(PeoplePickerViewController::contactsLocationKey).has_value());
    EXPECT_FALSE(picker.importButton()->isEnabled());
}

TEST_F(PeoplePickerTest, APhotoOverTheLineLimitAndABrokenCardCostOnlyThemselves)
{
    // A 2 MB photo, folded as address books write it.
    std::string photo = "PHOTO;ENCODING=b;TYPE=JPEG:";
    const std::string base64Line(74, 'Q');
    while (photo.size() < (std::size_t(2) << 20))
        photo += base64Line + "\r\n ";
    photo += "AA==\r\n";
    writeFile(contactsFolder() / "book.vcf", card("N:Doe;Jane;;;\r\n") + card("N:Photo;Pat;;;\r\n" + photo)
                                                 + "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bo;;;\r\n" // never closed
                                                 + card("N:Roe;Rick;;;\r\n"));
    PeoplePickerViewController& picker = openPicker();
    EXPECT_EQ(listed(picker), (QStringList{"Jane Doe", "Pat Photo", "Rick Roe"}));
    EXPECT_TRUE(picker.locationLabel()->text().contains("\n1 card could not be read"))
        << picker.locationLabel()->text().toStdString();
    picker.cancelAction();
    settle();
    import("Pat Photo");
    EXPECT_EQ(clientNames(), std::vector<std::string>{"Pat Photo"});
}

} // namespace
