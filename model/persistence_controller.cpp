// Opening the store, saving on every change notice, and the look-ups the views use.
#include "model/persistence_controller.h"

#include "model/data_model.h"

#include <cstdio>
#include <cstdlib>

namespace model {

std::filesystem::path PersistenceController::defaultStorePath()
{
    std::filesystem::path folder;
    if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents && *documents)
        folder = documents;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = std::filesystem::path(home) / "Documents";
    else
        folder = std::filesystem::current_path();
    return folder / "Projects.horavine";
}

PersistenceController::PersistenceController(std::filesystem::path storePath, foundation::NotificationCenter& center)
    : storePath_(std::move(storePath)), center_(center),
      context_(std::make_unique<data::ObjectContext>(managedObjectModel(), center))
{
    data::StoreError error{};
    auto store = data::SqliteStore::open(storePath_, managedObjectModel(), storeOptions(), &error);
    if (!store) {
        reportFailure(error.code == data::StoreError::Code::locked ? Status::storeInUse : Status::cannotOpen,
                      error.message);
    } else if (std::string message; !context_->attachStore(std::move(store), message)) {
        reportFailure(Status::cannotOpen, message);
    }
    changeToken_ = center_.addObserver(data::ObjectsDidChangeNotification, context_.get(),
                                       [this](const foundation::Notification&) { save(); });
}

PersistenceController::~PersistenceController() = default;

void PersistenceController::setSaveHooks(std::function<void()> beforeSave, std::function<void()> afterSave)
{
    beforeSave_ = std::move(beforeSave);
    afterSave_ = std::move(afterSave);
}

bool PersistenceController::save()
{
    if (!context_->hasUnsavedChanges())
        return true;
    if (!storeIsOpen())
        return false; // the open failure was reported; nothing may be written over that file
    if (beforeSave_)
        beforeSave_();
    std::string message;
    const bool saved = context_->save(&message);
    if (saved) {
        if (status_ == Status::saveFailed) {
            status_ = Status::ok;
            statusMessage_.clear();
        }
    } else {
        reportFailure(Status::saveFailed, "The store " + storePath_.string() + " could not be saved: " + message
                                              + " (the changes are kept and saved again at the next change)");
    }
    if (afterSave_)
        afterSave_();
    return saved;
}

void PersistenceController::reportFailure(Status status, const std::string& message)
{
    // One line per distinct problem, not one per retry.
    if (status != status_ || message != statusMessage_)
        std::fprintf(stderr, "Horavine: %s\n", message.c_str());
    status_ = status;
    statusMessage_ = message;
}

std::vector<data::Object*> PersistenceController::fetch(const data::EntityDescription& entity,
                                                        const data::Predicate& predicate,
                                                        const std::vector<data::SortDescriptor>& sort)
{
    return context_->fetch(entity, predicate, sort);
}

void PersistenceController::deleteObjects(const std::vector<data::Object*>& objects)
{
    for (data::Object* object : objects)
        context_->deleteObject(object);
}

data::Object* PersistenceController::objectForURIRepresentation(std::string_view uri) const
{
    return context_->objectWithURI(uri);
}

data::Object* PersistenceController::draggedObject(
    const std::function<std::optional<std::string>(std::string_view type)>& pasteboard) const
{
    for (const char* type : {PasteboardTypes::project, PasteboardTypes::timer, PasteboardTypes::client}) {
        if (auto text = pasteboard(type))
            return objectForURIRepresentation(*text);
    }
    return nullptr;
}

} // namespace model
