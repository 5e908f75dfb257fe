// The people picker's window, the reading of its place on a thread of its own, the name list with
// its filter, the choice of another place and the two ways its sheet ends.
#include "mainwindow/people_picker_view_controller.h"

#include "model/client_import.h"

#include "foundation/defaults_store.h"
#include "foundation/diagnostics.h"
#include "foundation/main_bundle.h"
#include "ui/file_panels.h"
#include "ui/sheets.h"

#include <QCollator>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <system_error>

namespace mainwindow {

namespace {

constexpr int personIndexRole = Qt::UserRole + 1;

} // namespace

PeoplePickerViewController::PeoplePickerViewController(foundation::DefaultsStore* defaults, QWidget* parent)
    : QDialog(parent), defaults_(defaults)
{
    setObjectName(QStringLiteral("PeoplePickerViewController"));
    setWindowTitle(tr("Import Client from Contacts"));
    auto* layout = new QVBoxLayout(this);
    auto* source = new QHBoxLayout;
    locationLabel_ = new QLabel(this);
    locationLabel_->setWordWrap(true);
    locationLabel_->setTextFormat(Qt::PlainText);
    chooseFileButton_ = new QPushButton(tr("Choose File…"), this);
    chooseFolderButton_ = new QPushButton(tr("Choose Folder…"), this);
    chooseFileButton_->setAutoDefault(false);
    chooseFolderButton_->setAutoDefault(false);
    source->addWidget(locationLabel_, 1);
    source->addWidget(chooseFileButton_);
    source->addWidget(chooseFolderButton_);
    layout->addLayout(source);
    readProgress_ = new QProgressBar(this);
    readProgress_->setRange(0, 1000);
    readProgress_->setTextVisible(false);
    readProgress_->hide();
    layout->addWidget(readProgress_);

    filterField_ = new QLineEdit(this);
    filterField_->setPlaceholderText(tr("Search"));
    filterField_->setClearButtonEnabled(true);
    layout->addWidget(filterField_);
    personsModel_ = new QStandardItemModel(this);
    filteredPersons_ = new QSortFilterProxyModel(this);
    filteredPersons_->setSourceModel(personsModel_);
    filteredPersons_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    peoplePickerView_ = new QListView(this);
    peoplePickerView_->setModel(filteredPersons_);
    peoplePickerView_->setSelectionMode(QAbstractItemView::SingleSelection);
    peoplePickerView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    peoplePickerView_->setUniformItemSizes(true);
    layout->addWidget(peoplePickerView_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelButton_ = new QPushButton(tr("Cancel"), this);
    importButton_ = new QPushButton(tr("Import"), this);
    cancelButton_->setAutoDefault(false);
    importButton_->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(importButton_);
    layout->addLayout(buttons);
    resize(420, 460);

    connect(cancelButton_, &QPushButton::clicked, this, &PeoplePickerViewController::cancelAction);
    connect(importButton_, &QPushButton::clicked, this, &PeoplePickerViewController::importAction);
    connect(chooseFileButton_, &QPushButton::clicked, this, &PeoplePickerViewController::chooseFile);
    connect(chooseFolderButton_, &QPushButton::clicked, this, &PeoplePickerViewController::chooseFolder);
    connect(filterField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        filteredPersons_->setFilterFixedString(text);
        pickerSelectionChanged();
    });
    connect(peoplePickerView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PeoplePickerViewController::pickerSelectionChanged);
    connect(peoplePickerView_, &QListView::doubleClicked, this, &PeoplePickerViewController::importAction);

    std::filesystem::path location = defaultContactsLocation();
    if (defaults_)
        if (std::optional<std::string> remembered = defaults_->stringValue(contactsLocationKey);
            remembered && !remembered->empty())
            location = *remembered;
    startReading(location, false);
    pickerSelectionChanged();
}

PeoplePickerViewController::~PeoplePickerViewController()
{
    stopReading();
}

PeoplePickerViewController* PeoplePickerViewController::show(QWidget& host, foundation::DefaultsStore* defaults,
                                                             Completion completion)
{
    auto* picker = new PeoplePickerViewController(defaults, &host);
    QPointer<PeoplePickerViewController> guard(picker);
    ui::beginSheet(host, *picker, [guard, completion = std::move(completion)](ui::ModalResponse response) {
        std::optional<foundation::VCardPerson> person;
        if (guard) {
            if (response == ui::modalResponseOK)
                person = guard->selectedPerson();
            guard->deleteLater();
        }
        if (completion)
            completion(std::move(person));
    });
    return picker;
}

std::filesystem::path PeoplePickerViewController::defaultContactsLocation()
{
    return foundation::xdgDataHome() / "contacts" / "";
}

QString PeoplePickerViewController::displayName(const foundation::VCardPerson& person)
{
    if (!person.firstName && !person.lastName && !person.organization)
        return tr("No Name");
    return QString::fromStdString(model::importedClientName(person));
}

void PeoplePickerViewController::startReading(const std::filesystem::path& location, bool rememberWhenRead)
{
    stopReading();
    contactsLocation_ = location;
    persons_.clear();
    personsModel_->clear();
    locationLabel_->setText(tr("Reading %1…").arg(QString::fromStdString(location.string())));
    readProgress_->setValue(0);
    readProgress_->show();
    readDone_ = false;
    const int readNumber = ++readNumber_;
    stopRead_ = std::make_shared<std::atomic<bool>>(false);
    // The thread posts to the picker, which joins it before it goes: nothing is posted to a picker gone.
    const auto readInBackground = [this, location, stop = stopRead_, readNumber, rememberWhenRead] {
        const auto progress = [this, &stop, readNumber](std::uint64_t bytesRead, std::uint64_t bytesTotal) {
            QMetaObject::invokeMethod(
                this,
                [this, readNumber, bytesRead, bytesTotal] {
                    if (readNumber == readNumber_)
                        showProgress(bytesRead, bytesTotal);
                },
                Qt::QueuedConnection);
            return !stop->load();
        };
        auto read = std::make_shared<foundation::Result<foundation::VCardContents>>(
            foundation::readVCardLocation(location, progress));
        QMetaObject::invokeMethod(
            this,
            [this, read, readNumber, rememberWhenRead] {
                if (readNumber == readNumber_)
                    listPersons(std::move(*read), rememberWhenRead);
            },
            Qt::QueuedConnection);
    };
    try {
        readThread_ = std::thread(readInBackground);
    } catch (const std::system_error&) {
        readInBackground(); // no thread to be had: read here, and list on the next turn as from a thread
    }
}

void PeoplePickerViewController::stopReading()
{
    if (!readThread_.joinable())
        return;
    stopRead_->store(true);
    readThread_.join();
    ++readNumber_; // what it posted is not for the read to come
}

void PeoplePickerViewController::showProgress(std::uint64_t bytesRead, std::uint64_t bytesTotal)
{
    if (bytesTotal > 0)
        readProgress_->setValue(static_cast<int>(std::min<std::uint64_t>(1000, bytesRead * 1000 / bytesTotal)));
}

void PeoplePickerViewController::listPersons(foundation::Result<foundation::VCardContents> read, bool remember)
{
    readDone_ = true;
    readProgress_->hide();
    const QString place = QString::fromStdString(contactsLocation_.string());
    if (!read.hasValue()) {
        // Nothing at the default place is no fault: the user has not chosen an address book yet.
        if (!std::filesystem::exists(contactsLocation_))
            locationLabel_->setText(tr("No contacts at %1. Choose a vCard file or a folder of them.").arg(place));
        else
            locationLabel_->setText(
                tr("The contacts cannot be read: %1").arg(QString::fromStdString(read.status().message())));
        pickerSelectionChanged();
        emit readFinished();
        return;
    }
    foundation::VCardContents contents = std::move(read).value();
    std::vector<foundation::VCardPerson>& persons = contents.persons;
    std::vector<QString> names;
    names.reserve(persons.size());
    for (const foundation::VCardPerson& person : persons)
        names.push_back(displayName(person));
    std::vector<std::size_t> order(persons.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return collator.compare(names[a], names[b]) < 0; });
    persons_.reserve(persons.size());
    QList<QStandardItem*> items;
    items.reserve(static_cast<qsizetype>(persons.size()));
    for (std::size_t index : order) {
        auto* item = new QStandardItem(names[index]);
        item->setData(static_cast<qulonglong>(persons_.size()), personIndexRole);
        if (persons[index].organization)
            item->setToolTip(QString::fromStdString(*persons[index].organization));
        items.push_back(item);
        persons_.push_back(std::move(persons[index]));
    }
    personsModel_->invisibleRootItem()->appendRows(items);
    QStringList lines{persons_.size() == 1 ? tr("1 person in %1").arg(place)
                                           : tr("%1 persons in %2").arg(persons_.size()).arg(place)};
    if (contents.skippedCards > 0)
        lines << (contents.skippedCards == 1 ? tr("1 card could not be read")
                                             : tr("%1 cards could not be read").arg(contents.skippedCards));
    if (!contents.unreadableFiles.empty())
        lines << (contents.unreadableFiles.size() == 1
                      ? tr("1 file could not be read: %1").arg(QString::fromStdString(contents.unreadableFiles[0]))
                      : tr("%1 files could not be read, the first: %2")
                            .arg(contents.unreadableFiles.size())
                            .arg(QString::fromStdString(contents.unreadableFiles[0])));
    locationLabel_->setText(lines.join(QStringLiteral("\n")));
    pickerSelectionChanged();
    if (remember && defaults_) {
        if (foundation::Status status = defaults_->set(contactsLocationKey, contactsLocation_.string()); !status.isOk())
            foundation::diagnostic("Could not remember the contacts location: " + status.message());
    }
    emit readFinished();
}

void PeoplePickerViewController::setContactsLocation(const std::filesystem::path& location)
{
    startReading(location, true);
    pickerSelectionChanged();
}

std::optional<foundation::VCardPerson> PeoplePickerViewController::selectedPerson() const
{
    const QModelIndexList rows = peoplePickerView_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const auto index = rows.first().data(personIndexRole).toULongLong();
    if (index >= persons_.size())
        return std::nullopt;
    return persons_[index];
}

void PeoplePickerViewController::pickerSelectionChanged()
{
    importButton_->setEnabled(selectedPerson().has_value());
}

void PeoplePickerViewController::importAction()
{
    ui::endSheet(*this, ui::modalResponseOK);
}

void PeoplePickerViewController::cancelAction()
{
    ui::endSheet(*this, ui::modalResponseCancel);
}

void PeoplePickerViewController::chooseFile()
{
    ui::OpenPanel panel;
    panel.title = tr("Choose a vCard File");
    panel.directory = QString::fromStdString(contactsLocation_.parent_path().string());
    panel.allowedFileTypes = {QStringLiteral("vcf")};
    QPointer<PeoplePickerViewController> self(this);
    panel.beginSheetModal(*this, [self](ui::ModalResponse response, const QStringList& paths) {
        if (self && response == ui::modalResponseOK && !paths.isEmpty())
            self->setContactsLocation(paths.first().toStdString());
    });
}

void PeoplePickerViewController::chooseFolder()
{
    ui::OpenPanel panel;
    panel.title = tr("Choose a Folder of vCards");
    panel.directory = QString::fromStdString(contactsLocation_.string());
    panel.canChooseFiles = false;
    panel.canChooseDirectories = true;
    QPointer<PeoplePickerViewController> self(this);
    panel.beginSheetModal(*this, [self](ui::ModalResponse response, const QStringList& paths) {
        if (self && response == ui::modalResponseOK && !paths.isEmpty())
            self->setContactsLocation(paths.first().toStdString());
    });
}

} // namespace mainwindow
