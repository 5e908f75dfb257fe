// Hands the kits the application's information dictionary, folders, main-thread executor and the crash kit's
// prompt, then starts the crash kit (which brings the analytics kit) through the kit platform's one start call.
#include "app/kits.h"

#include "app/global_functions.h"
#include "app/info_dictionary.h"
#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/keystone.h"
#include "ui/alerts.h"

#include <QCoreApplication>
#include <QThread>

namespace app {

kits::BlackboxPromptPresenter crashReportPromptPresenter()
{
    return [](const kits::BlackboxPrompt& prompt, std::function<void(std::size_t)> answer) {
        auto ask = [prompt, answer = std::move(answer)] {
            ui::Alert alert;
            alert.messageText = QString::fromStdString(prompt.title);
            alert.informativeText = QString::fromStdString(prompt.message);
            for (const auto& title : prompt.buttons)
                alert.buttons.append(QString::fromStdString(title));
            const ui::ModalResponse response = ui::runModalAlert(nullptr, alert);
            // Closed without a button (its window closed, or a quitting signal ended it): no answer, so
            // the report is not deleted as at "Don't Send" but waits for the next launch's question.
            if (response < ui::alertFirstButtonReturn)
                return;
            if (answer)
                answer(static_cast<std::size_t>(response - ui::alertFirstButtonReturn));
        };
        auto* application = QCoreApplication::instance();
        if (!application || QThread::currentThread() == application->thread())
            ask();
        else
            QMetaObject::invokeMethod(application, std::move(ask), Qt::QueuedConnection);
    };
}

void startKits()
{
    using foundation::MainBundle;
    MainBundle::setInfoDictionary(infoDictionary());
    MainBundle::setCachesDirectory(foundation::xdgCacheHome() / "horavine");
    MainBundle::setApplicationSupportDirectory(foundation::xdgDataHome() / "horavine");
    // The kits' "main queue" is the application's event loop, while there is one: as the application
    // object goes (at quit, or at the end of a test program) the kits' threads may still hand work over,
    // which from then on is dropped. Replacing the executor waits for a hand-over under way.
    foundation::MainQueue::setExecutor([](foundation::Work work) { delay(0, std::move(work)); });
    qAddPostRoutine([] { foundation::MainQueue::setExecutor([](foundation::Work) {}); });
    kits::Blackbox::sharedInstance().setPromptPresenter(crashReportPromptPresenter());
    kits::Keystone::with({kits::Blackbox::kitClass()});
}

void crashForDebugging()
{
    kits::Blackbox::sharedInstance().crash();
}

} // namespace app
