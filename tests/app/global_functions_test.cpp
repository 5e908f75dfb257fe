// Currency symbol list, configured links and delayed calls on the main thread.
#include "app/global_functions.h"

#include "foundation/locale.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

namespace {

std::size_t indexOf(const std::vector<std::string>& list, const std::string& text)
{
    return static_cast<std::size_t>(std::find(list.begin(), list.end(), text) - list.begin());
}

TEST(CurrencySymbols, FixedFourFirstThenLocaleSymbolsWithoutDuplicates)
{
    for (const char* id : {"en_US", "de_DE", "ja_JP", "en_CA"}) {
        const std::vector<std::string> symbols = app::currencySymbols(foundation::Locale(id));
        ASSERT_GT(symbols.size(), 20u) << id;
        EXPECT_EQ(std::vector<std::string>(symbols.begin(), symbols.begin() + 4),
                  (std::vector<std::string>{"€", "$", "£", "¥"}))
            << id;
        EXPECT_EQ(std::set<std::string>(symbols.begin(), symbols.end()).size(), symbols.size()) << id;
        EXPECT_EQ(symbols, app::currencySymbols(foundation::Locale(id))) << id;
    }
}

TEST(CurrencySymbols, LongerDollarSymbolIsAddedAndPlainDollarStaysSecond)
{
    const std::vector<std::string> canadian = app::currencySymbols(foundation::Locale("en_CA"));
    EXPECT_EQ(canadian[1], "$");
    EXPECT_LT(indexOf(canadian, "US$"), canadian.size());
    // en_US writes the dollar as "$": it adds nothing, and Canada's dollar gets its own text.
    const std::vector<std::string> american = app::currencySymbols(foundation::Locale("en_US"));
    EXPECT_EQ(std::count(american.begin(), american.end(), "$"), 1);
    EXPECT_LT(indexOf(american, "CA$"), american.size());
}

TEST(OpenURL, OpensOnlyTextsThatAreLinksWithAScheme)
{
    const app::InfoDictionary dictionary{
        {"Website", std::string("https://horavine.org/")},
        {"Number", 42.0},
        {"WithSpace", std::string("https://horavine.org/a page")},
        {"NoScheme", std::string("horavine.org")},
        {"Empty", std::string()},
    };
    std::vector<QUrl> opened;
    auto open = [&opened](const QUrl& link) { opened.push_back(link); };

    EXPECT_TRUE(app::openURL("Website", dictionary, open));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "https://horavine.org/");

    for (const char* key : {"Number", "WithSpace", "NoScheme", "Empty", "Missing"})
        EXPECT_FALSE(app::openURL(key, dictionary, open)) << key;
    EXPECT_EQ(opened.size(), 1u);
}

TEST(OpenURL, BuiltInDictionaryConfiguresTheMenuLinks)
{
    const app::InfoDictionary& info = app::infoDictionary();
    for (const char* key : {"AppWebsiteURL", "AppStoreURL"}) {
        const std::string* text = app::infoString(info, key);
        ASSERT_NE(text, nullptr) << key;
        EXPECT_TRUE(app::linkFromText(*text)) << key;
    }
    const std::string* mail = app::infoString(info, "AppSupportEmail");
    ASSERT_NE(mail, nullptr);
    EXPECT_TRUE(app::linkFromText("mailto:" + *mail));
    EXPECT_NE(app::infoString(info, "CFBundleShortVersionString"), nullptr);
    EXPECT_NE(app::infoString(info, "NSHumanReadableCopyright"), nullptr);
}

// Runs the main event loop until `done` or a generous bound passes.
void runEventLoopUntil(const std::function<bool()>& done)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

TEST(Delay, ReturnsAtOnceAndRunsOnceOnTheMainThreadLater)
{
    int runs = 0;
    QThread* ranOn = nullptr;
    app::delay(0.05, [&] {
        ++runs;
        ranOn = QThread::currentThread();
    });
    EXPECT_EQ(runs, 0);
    runEventLoopUntil([&] { return runs > 0; });
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
}

TEST(Delay, CallsFromAnotherThreadLandOnTheMainThread)
{
    std::atomic<int> runs = 0;
    std::atomic<bool> onMainThread = true;
    QThread* mainThread = QCoreApplication::instance()->thread();
    std::thread worker([&] {
        for (double seconds : {0.0, -1.0, 0.02}) {
            app::delay(seconds, [&] {
                if (QThread::currentThread() != mainThread)
                    onMainThread = false;
                ++runs;
            });
        }
    });
    worker.join();
    runEventLoopUntil([&] { return runs == 3; });
    EXPECT_EQ(runs, 3);
    EXPECT_TRUE(onMainThread);
}

} // namespace
