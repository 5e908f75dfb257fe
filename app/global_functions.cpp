// Currency symbol list over ICU's common ISO codes, delayed calls through the main thread's event
// loop, and configured links opened through QDesktopServices.
#include "app/global_functions.h"

#include "foundation/locale.h"

#include <unicode/ucurr.h>
#include <unicode/uenum.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace app {

namespace {

std::vector<std::string> commonISOCurrencyCodes()
{
    std::vector<std::string> codes;
    UErrorCode status = U_ZERO_ERROR;
    UEnumeration* enumeration = ucurr_openISOCurrencies(UCURR_COMMON | UCURR_NON_DEPRECATED, &status);
    if (U_FAILURE(status))
        return codes;
    int32_t length = 0;
    while (const char* code = uenum_next(enumeration, &length, &status)) {
        if (U_FAILURE(status))
            break;
        codes.emplace_back(code, static_cast<std::size_t>(length));
    }
    uenum_close(enumeration);
    return codes;
}

} // namespace

std::vector<std::string> currencySymbols(const foundation::Locale& locale)
{
    std::vector<std::string> symbols{"€", "$", "£", "¥"};
    for (const std::string& code : commonISOCurrencyCodes()) {
        std::optional<std::string> symbol = locale.currencySymbol(code);
        if (symbol && !symbol->empty() && std::find(symbols.begin(), symbols.end(), *symbol) == symbols.end())
            symbols.push_back(*symbol);
    }
    return symbols;
}

std::vector<std::string> currencySymbols()
{
    return currencySymbols(foundation::Locale::current(foundation::LocaleCategory::monetary));
}

void delay(double seconds, std::function<void()> closure)
{
    QCoreApplication* application = QCoreApplication::instance();
    Q_ASSERT(application);
    const auto nanoseconds = std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
    // Rounded up to whole milliseconds so that the closure never runs early.
    const auto milliseconds = std::max(std::chrono::ceil<std::chrono::milliseconds>(nanoseconds),
                                       std::chrono::milliseconds(0));
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

void openWithDesktop(const QUrl& link)
{
    QDesktopServices::openUrl(link);
}

} // namespace app
