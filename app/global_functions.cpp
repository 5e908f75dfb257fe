// Delayed calls through the main thread's event loop and configured links handed to an opener.
#include "app/global_functions.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace app {

void delay(double seconds, std::function<void()> closure)
{
    QCoreApplication* application = QCoreApplication::instance();
    Q_ASSERT(application);
    const auto nanoseconds = std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
    // Rounded up to whole milliseconds so that the closure never runs early.
    const auto milliseconds =
        std::max(std::chrono::ceil<std::chrono::milliseconds>(nanoseconds), std::chrono::milliseconds(0));
    auto schedule = [milliseconds, closure = std::move(closure)]() mutable {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, QCoreApplication::instance(), std::move(closure));
    };
    if (QThread::currentThread() == application->thread())
        schedule();
    else
        // A timer belongs to the thread that starts it: start it on the main thread, which has an event loop.
        QMetaObject::invokeMethod(application, std::move(schedule), Qt::QueuedConnection);
}

std::optional<QUrl> linkFromText(std::string_view text)
{
    QUrl link(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!link.isValid() || link.scheme().isEmpty())
        return std::nullopt;
    return link;
}

bool openURL(std::string_view infoDictionaryKey, const InfoDictionary& dictionary, const LinkOpener& open)
{
    const std::string* text = infoString(dictionary, infoDictionaryKey);
    if (!text)
        return false;
    std::optional<QUrl> link = linkFromText(*text);
    if (!link)
        return false;
    open(*link);
    return true;
}

bool openURL(std::string_view infoDictionaryKey)
{
    return openURL(infoDictionaryKey, infoDictionary(), openWithDesktop);
}

} // namespace app
