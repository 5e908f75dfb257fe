// The loading thread and the hand-over of its result to the main thread.
#include "app/store_loader.h"

#include "foundation/calendar.h"

#include <chrono>
#include <exception>
#include <malloc.h>

namespace app {

StoreLoader::StoreLoader(std::filesystem::path storePath, foundation::NotificationCenter& center, QObject* parent)
    : StoreLoader([storePath] { return model::PersistenceController::openStore(storePath); },
                  [&center](OpenedStore opened) {
                      // The zone database and the week rules, which the window needs for its first paint,
                      // load here while the main thread is still building the window.
                      foundation::Calendar::current();
                      return model::PersistenceController::loadStore(std::move(opened), center);
                  },
                  parent)
{}

StoreLoader::StoreLoader(Open open, Load load, QObject* parent)
    : QObject(parent), opened_(openedPromise_.get_future()), loaded_(loadedPromise_.get_future())
{
    thread_ = std::thread([this, open = std::move(open), load = std::move(load)] {
        bool openSettled = false;
        try {
            OpenedStore opened = open();
            if (opened.store)
                opened.store->setStopToken(stop_.get_token());
            openedPromise_.set_value(opened.store != nullptr);
            openSettled = true;
            LoadedStore loaded = load(std::move(opened));
            // The main thread saves through this store from now on: nothing may stop that.
            if (loaded.context && loaded.context->store())
                loaded.context->store()->setStopToken({});
            loadedPromise_.set_value(std::move(loaded));
        } catch (...) {
            // Passed on to the main thread, which would have met it loading there itself.
            if (!openSettled)
                openedPromise_.set_exception(std::current_exception());
            loadedPromise_.set_exception(std::current_exception());
        }
        QMetaObject::invokeMethod(
            this, [this] { emit loaded(); }, Qt::QueuedConnection);
    });
}

StoreLoader::~StoreLoader()
{
    stop_.request_stop();
    if (thread_.joinable())
        thread_.join();
}

bool StoreLoader::waitUntilOpened()
{
    if (!didOpen_)
        didOpen_ = opened_.get();
    return *didOpen_;
}

bool StoreLoader::isLoaded() const
{
    return loaded_.valid() && loaded_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

StoreLoader::LoadedStore StoreLoader::take()
{
    LoadedStore loaded = loaded_.get();
    // What the load allocated and freed again (the pending links, grown lists) is left in the
    // loading thread's heap, where the main thread's allocations never reuse it: it goes back to
    // the system now.
    ::malloc_trim(0);
    return loaded;
}

} // namespace app
