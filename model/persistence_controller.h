// Owns the store of the application: the one main context over "Projects.horavine", saved after
// every announced change. Failures are never passed over: they are printed once per episode, kept
// in a status the application shows and retries, and the unsaved changes stay in memory; a store
// file removed or replaced behind the program's back is noticed before each save.
#pragma once

#include "data/object_context.h"
#include "data/sqlite_store.h"

#include "foundation/notification_center.h"
#include "foundation/status.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

class PersistenceController {
public:
    enum class Status { ok, cannotOpen, storeInUse, saveFailed };
    // What keeps a save from reaching the file, while status() is saveFailed.
    enum class SaveProblem { none, diskFull, readOnly, inUse, removed, replaced, ioError };

    // Posted (object: the controller) after every failed save and when saving works again.
    static constexpr const char* SaveStatusDidChangeNotification = "PersistenceControllerSaveStatusDidChange";
    // Posted when the store file was written anew after it had been removed; userInfo "message"
    // (std::string) tells the user what happened.
    static constexpr const char* StoreFileRecreatedNotification = "PersistenceControllerStoreFileRecreated";

    // What the checks at open found wrong with the store file. Such a file is never written to
    // before the user chose to go on with it; a copy of it as it was is kept beside it first.
    struct StoreDamage {
        std::string integrityProblem; // what SQLite's quick check found; empty when it passed
        std::size_t unreadableValues = 0;
        std::size_t danglingReferences = 0;
        std::filesystem::path keptCopy; // empty when no copy could be made
        std::string copyProblem;        // why not
    };

    // The two steps of a launch that may run on a thread of their own while the main thread starts
    // the interface: neither posts a notice, adds an observer or touches anything shared. Their
    // result then passes to the main thread, which makes the controller of it; from then on only
    // that thread uses the context.
    struct OpenedStore {
        std::filesystem::path storePath;
        std::unique_ptr<data::SqliteStore> store; // none when it could not be opened
        Status status = Status::ok;               // ok, cannotOpen or storeInUse
        std::string message;
    };
    struct LoadedStore {
        std::filesystem::path storePath;
        std::unique_ptr<data::ObjectContext> context; // every object; no store when open or load failed
        Status status = Status::ok;                   // ok, cannotOpen or storeInUse
        std::string message;
        std::optional<StoreDamage> damage;
    };
    // Opens (or creates) the store file: the lock, the schema and its version are checked here.
    static OpenedStore openStore(std::filesystem::path storePath);
    // Checks the file's structure (time linear in its size), then loads every object of an opened
    // store into a new context that posts to `center`. A damaged file (or values and references it
    // could not read) is copied beside itself, as it is, and told in `damage`. A request to the
    // store's stop token ends the load early as cannotOpen, and nothing is called damaged.
    static LoadedStore loadStore(OpenedStore opened, foundation::NotificationCenter& center);

    // Opens (or creates) the store at `storePath`. When it cannot be opened the controller still
    // has a context, but nothing is ever written: status() says why. A store that opens only for
    // reading starts as a failed save (problem readOnly), so the user hears of it at once.
    explicit PersistenceController(
        std::filesystem::path storePath = defaultStorePath(),
        foundation::NotificationCenter& center = foundation::NotificationCenter::defaultCenter());
    // The same for a store opened and loaded before (on any thread); the context's notification
    // center is the controller's.
    explicit PersistenceController(LoadedStore loaded);
    ~PersistenceController();
    PersistenceController(const PersistenceController&) = delete;
    PersistenceController& operator=(const PersistenceController&) = delete;

    // The Documents folder (foundation/user_dirs.h) / "Projects.horavine".
    static std::filesystem::path defaultStorePath();
    // $XDG_DATA_HOME/horavine (else ~/.local/share/horavine): where recovery files go.
    static std::filesystem::path recoveryFolder();
    // The recovery files in recoveryFolder(), oldest name first.
    static std::vector<std::filesystem::path> recoveryFiles();
    // Those made from this store: each records the path of the store it was made from (files
    // without that record go by the store's identifier).
    std::vector<std::filesystem::path> recoveryFilesOfThisStore() const;

    data::ObjectContext& managedObjectContext() { return *context_; }
    const std::filesystem::path& storePath() const { return storePath_; }
    Status status() const { return status_; }
    // The last problem in words, for the application to show; empty when all is well.
    const std::string& statusMessage() const { return statusMessage_; }
    bool storeIsOpen() const { return context_->store() != nullptr; }
    SaveProblem saveProblem() const { return saveProblem_; }
    // Numbers the runs of failed saves: a new episode starts at the first failure after a success
    // (or after the launch), and the user is warned once per episode.
    int failureEpisode() const { return failureEpisode_; }
    // When to try a failed save again: 2 s after the first failure, doubling with every further
    // failure of the episode up to 60 s.
    std::chrono::milliseconds retryDelay() const;
    // The changes the file does not have yet, also when a failure was passed over for them.
    bool hasUnsavedChanges() const { return context_->hasUnsavedChanges(); }

    // What was found wrong with the store at open; nothing for a sound store.
    const std::optional<StoreDamage>& damage() const { return damage_; }
    // While true nothing is written to the damaged store: saves keep the changes and answer false.
    bool awaitsDamageDecision() const { return damageState_ == DamageState::awaitingDecision; }
    // The user chose to go on: the store file is written anew from what could be read (same
    // identifier and permissions), in place of the damaged one, and saved to from then on. A failure
    // is a failed save, retried like any other.
    bool continueWithDamagedStore();

    // Writes the unsaved changes. Before writing it checks that the path still names the file the
    // store has open: a removed file is written anew from memory (also when nothing changed), a
    // replaced one is never written over (the changes go to a recovery file instead). Without
    // changes, failures or a removed file it returns at once. A store that could only be opened for reading is connected anew when the file
    // has become writable. The hooks around a real save let the interface commit an edit in
    // progress and put the user back where they were.
    bool save();
    // The same at quit: the interface's edit in progress is committed through the hooks first, also
    // when nothing else changed, so that what the user was typing is saved too.
    bool saveWithEditInProgress();
    // Writes the whole store in memory to a new store file at `path`, which then opens like any
    // store (same identifier, every object). An existing file there is replaced. Only its owner may
    // read it (mode 0600): it holds all of the user's data.
    foundation::Status writeCopy(const std::filesystem::path& path) const;
    // Writes the whole store in memory to "Recovered <UTC date and time>.horavine" in
    // recoveryFolder(), mode 0600, recording the path of this store in it; within one failure
    // episode the same file is brought up to date. Answers its path.
    foundation::Result<std::filesystem::path> writeRecoveryFile();
    // The metadata key under which a recovery file records the store it was made from.
    static constexpr const char* recoveredFromKey = "recoveredFrom";
    void setSaveHooks(std::function<void()> beforeSave, std::function<void()> afterSave);

    std::vector<data::Object*> fetch(const data::EntityDescription& entity, const data::Predicate& predicate = {},
                                     const std::vector<data::SortDescriptor>& sort = {});
    void deleteObjects(const std::vector<data::Object*>& objects);
    data::Object* objectForURIRepresentation(std::string_view uri) const;
    // The object a drag carries: the project type's text first, then the timer's, then the client's.
    data::Object*
    draggedObject(const std::function<std::optional<std::string>(std::string_view type)>& pasteboard) const;

private:
    void reportFailure(Status status, const std::string& message);
    // save() and saveWithEditInProgress(): the edit counts as a change of its own in the latter.
    bool save(bool editInProgressCounts);
    bool saveToStore();
    std::string couldNotSave(SaveProblem problem, const std::string& detail) const;
    void beginFailureEpisode();
    bool failSave(SaveProblem problem, const std::string& message);
    void saveSucceeded();
    bool recreateRemovedStore();
    bool keepChangesOfReplacedStore();
    bool rewriteDamagedStore();

    std::filesystem::path storePath_;
    foundation::NotificationCenter& center_;
    std::unique_ptr<data::ObjectContext> context_;
    foundation::ObserverToken changeToken_;
    std::function<void()> beforeSave_, afterSave_;
    Status status_ = Status::ok;
    std::string statusMessage_;
    SaveProblem saveProblem_ = SaveProblem::none;
    int failureEpisode_ = 0;
    bool inFailureEpisode_ = false;
    int failuresInEpisode_ = 0;
    // The recovery file of the current episode, and whether changes came after it was written.
    std::optional<std::filesystem::path> recoveryFile_;
    bool changedSinceRecoveryFile_ = false;
    enum class DamageState { none, awaitingDecision, rewritePending };
    std::optional<StoreDamage> damage_;
    DamageState damageState_ = DamageState::none;
};

// The object a drag carries among the live objects of `context`. `pasteboard` answers the text a
// drag holds under a type, or nothing: the project type is asked first, then the timer's, then the
// client's, and the first text found decides. Nothing when none is found or that text names no live
// object of the context (malformed, another store's, deleted since).
data::Object* draggedObject(const data::ObjectContext& context,
                            const std::function<std::optional<std::string>(std::string_view type)>& pasteboard);

} // namespace model
