// Opens and loads the store on a thread of its own while the main thread builds and shows the main
// window. The main thread learns first whether the store opened (a locked store, a newer schema or
// an unreadable file are known before any window shows), then takes the loaded context once the
// loader says it is done; only the main thread uses it from then on, so it needs no lock.
#pragma once

#include "model/persistence_controller.h"

#include <QObject>

#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <stop_token>
#include <thread>

namespace app {

class StoreLoader : public QObject {
    Q_OBJECT
public:
    using OpenedStore = model::PersistenceController::OpenedStore;
    using LoadedStore = model::PersistenceController::LoadedStore;
    // Both run on the loading thread.
    using Open = std::function<OpenedStore()>;
    using Load = std::function<LoadedStore(OpenedStore)>;

    // Starts opening and loading the store at `storePath`; the context posts to `center`.
    StoreLoader(std::filesystem::path storePath, foundation::NotificationCenter& center, QObject* parent = nullptr);
    // The same with other steps (tests hold the load back with them).
    StoreLoader(Open open, Load load, QObject* parent = nullptr);
    // Stops the load and waits for the loading thread: a quit during the load ends promptly, and
    // only once nothing reads the file.
    ~StoreLoader() override;
    StoreLoader(const StoreLoader&) = delete;
    StoreLoader& operator=(const StoreLoader&) = delete;

    // Blocks until the store is open or could not be opened; answers whether it opened.
    bool waitUntilOpened();
    // Whether the load is over, well or not (take() would not block).
    bool isLoaded() const;
    // The loaded store, once: blocks until the load is over. Main thread only.
    LoadedStore take();

signals:
    // The load is over, well or not; sent on the thread that made the loader.
    void loaded();

private:
    std::promise<bool> openedPromise_;
    std::future<bool> opened_;
    std::optional<bool> didOpen_;
    std::stop_source stop_; // handed to the opened store, so that its reads end at the destructor
    std::promise<LoadedStore> loadedPromise_;
    std::future<LoadedStore> loaded_;
    std::thread thread_;
};

} // namespace app
