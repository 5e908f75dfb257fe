// Owns the store of the application: the one main context over "Projects.horavine", saved after
// every announced change. Failures are never passed over: they are printed once, kept in a status
// the application can show, and the unsaved changes stay for the next save.
#pragma once

#include "data/object_context.h"
#include "data/sqlite_store.h"

#include "foundation/notification_center.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace model {

// The drag types whose items carry an object's identifier URI as text.
namespace PasteboardTypes {
inline constexpr const char* project = "com.quillmarsh-software.spanreckoner.Project";
inline constexpr const char* timer = "com.quillmarsh-software.spanreckoner.Timer";
inline constexpr const char* client = "com.quillmarsh-software.spanreckoner.Client";
} // namespace PasteboardTypes

class PersistenceController {
public:
    enum class Status { ok, cannotOpen, storeInUse, saveFailed };

    // Opens (or creates) the store at `storePath`. When it cannot be opened the controller still
    // has a context, but nothing is ever written: status() says why.
    explicit PersistenceController(std::filesystem::path storePath = defaultStorePath(),
                                   foundation::NotificationCenter& center = foundation::NotificationCenter::defaultCenter());
    ~PersistenceController();
    PersistenceController(const PersistenceController&) = delete;
    PersistenceController& operator=(const PersistenceController&) = delete;

    // $XDG_DOCUMENTS_DIR (else ~/Documents) / "Projects.horavine".
    static std::filesystem::path defaultStorePath();

    data::ObjectContext& managedObjectContext() { return *context_; }
    const std::filesystem::path& storePath() const { return storePath_; }
    Status status() const { return status_; }
    // The last problem in words, for the application to show; empty when all is well.
    const std::string& statusMessage() const { return statusMessage_; }
    bool storeIsOpen() const { return context_->store() != nullptr; }

    // Writes the unsaved changes; returns at once when there are none. The hooks around a real
    // save let the interface commit an edit in progress and put the user back where they were.
    bool save();
    void setSaveHooks(std::function<void()> beforeSave, std::function<void()> afterSave);

    std::vector<data::Object*> fetch(const data::EntityDescription& entity, const data::Predicate& predicate = {},
                                     const std::vector<data::SortDescriptor>& sort = {});
    void deleteObjects(const std::vector<data::Object*>& objects);
    data::Object* objectForURIRepresentation(std::string_view uri) const;
    // The object a drag carries: the project type's text first, then the timer's, then the client's.
    data::Object* draggedObject(const std::function<std::optional<std::string>(std::string_view type)>& pasteboard) const;

private:
    void reportFailure(Status status, const std::string& message);

    std::filesystem::path storePath_;
    foundation::NotificationCenter& center_;
    std::unique_ptr<data::ObjectContext> context_;
    foundation::ObserverToken changeToken_;
    std::function<void()> beforeSave_, afterSave_;
    Status status_ = Status::ok;
    std::string statusMessage_;
};

} // namespace model
