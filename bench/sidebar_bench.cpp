// The clients sidebar with 500 clients: a full reload (rows, expansion, selection kept) with its
// layout and paint; and the people picker filled from an address book of 5,000 persons, one .vcf
// file and a folder of one-card files (read, named, sorted and listed).
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/people_picker_view_controller.h"

#include "model/client.h"
#include "model/data_model.h"
#include "model/managed_object.h"

#include "data/object_context.h"
#include "foundation/notification_center.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string card(int index)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person " + std::to_string(index) + ";Given;;;\r\nFN:Given Person "
           + std::to_string(index) + "\r\nORG:Company " + std::to_string(index % 97)
           + ";Sales\r\nEMAIL;TYPE=INTERNET:person" + std::to_string(index) + "@example.com\r\nEND:VCARD\r\n";
}

struct AddressBook {
    std::filesystem::path root = std::filesystem::temp_directory_path() / "horavine_sidebar_bench";
    AddressBook()
    {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "folder");
        std::ofstream file(root / "all.vcf", std::ios::binary);
        for (int i = 0; i < 5000; ++i) {
            file << card(i);
            std::ofstream(root / "folder" / (std::to_string(i) + ".vcf"), std::ios::binary) << card(i);
        }
    }
    ~AddressBook() { std::filesystem::remove_all(root); }
};

AddressBook& addressBook()
{
    static AddressBook book;
    return book;
}

void BM_SidebarReloadWith500Clients(benchmark::State& state)
{
    foundation::NotificationCenter center;
    data::ObjectContext context(model::managedObjectModel(), center);
    context.undoManager().disableUndoRegistration();
    model::Client* selected = nullptr;
    for (int i = 0; i < 500; ++i) {
        auto* client = model::initInContext<model::Client>(context);
        client->setName("Client " + std::to_string(i));
        if (i == 250)
            selected = client;
    }
    context.processPendingChanges();
    mainwindow::ClientsViewController sidebar(&context);
    sidebar.resize(220, 700);
    sidebar.show();
    sidebar.selectItem(selected);
    QApplication::processEvents();
    for (auto _ : state) {
        sidebar.reloadData();
        sidebar.repaint();
        QApplication::processEvents();
    }
    if (!sidebar.selectedItem() || std::get<model::Client*>(*sidebar.selectedItem()) != selected)
        state.SkipWithError("the selection was not kept");
}
BENCHMARK(BM_SidebarReloadWith500Clients)->Unit(benchmark::kMillisecond);

void fillPicker(benchmark::State& state, const std::filesystem::path& location)
{
    mainwindow::PeoplePickerViewController picker(nullptr);
    for (auto _ : state) {
        picker.setContactsLocation(location);
        if (picker.persons().size() != 5000)
            state.SkipWithError("the address book did not give 5,000 persons");
    }
}

void BM_PickerFromFileOf5000Cards(benchmark::State& state)
{
    fillPicker(state, addressBook().root / "all.vcf");
}
BENCHMARK(BM_PickerFromFileOf5000Cards)->Unit(benchmark::kMillisecond);

void BM_PickerFromFolderOf5000Cards(benchmark::State& state)
{
    fillPicker(state, addressBook().root / "folder");
}
BENCHMARK(BM_PickerFromFolderOf5000Cards)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
