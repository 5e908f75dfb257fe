// Hands the kits the application's information dictionary, folders, icon, main-thread executor and the crash
// kit's prompt, then starts the crash kit (which brings the analytics kit) through the kit platform's one start
// call.
#include "app/kits.h"

#include "app/global_functions.h"
#include "app/info_dictionary.h"
#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/keystone.h"
#include "ui/alerts.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
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

std::vector<std::uint8_t> applicationIconPNG()
{
    constexpr int side = 512;
    QSvgRenderer renderer(QStringLiteral(":/horavine.svg"));
    if (!renderer.isValid())
        return {};
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    const QByteArray& bytes = buffer.data();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void handKitsTheirHost()
{
    using foundation::MainBundle;
    MainBundle::setInfoDictionary(infoDictionary());
    MainBundle::setCachesDirectory(foundation::xdgCacheHome() / "horavine");
    MainBundle::setApplicationSupportDirectory(foundation::xdgDataHome() / "horavine");
    // Its hash goes with every settings request, the icon itself with the onboarding.
    if (auto icon = applicationIconPNG(); !icon.empty())
        MainBundle::setIconPNG(std::move(icon));
    // The kits' "main queue" is the application's event loop, while there is one: as the application
    // object goes (at quit, or at the end of a test program) the kits' threads may still hand work over,
    // which from then on is dropped. Replacing the executor waits for a hand-over under way.
    foundation::MainQueue::setExecutor([](foundation::Work work) { delay(0, std::move(work)); });
    qAddPostRoutine([] { foundation::MainQueue::setExecutor([](foundation::Work) {}); });
    kits::Blackbox::sharedInstance().setPromptPresenter(crashReportPromptPresenter());
}

void startKits()
{
    handKitsTheirHost();
    kits::Keystone::with({kits::Blackbox::kitClass()});
}

void crashForDebugging()
{
    kits::Blackbox::sharedInstance().crash();
}

} // namespace app
