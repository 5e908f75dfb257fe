// Configured links and delayed calls on the main thread.
#include "app/global_functions.h"

#include "foundation/property_list.h"

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
    auto open = [&opened](const QUrl& link) {
        opened.push_back(link);
        return false; // handed over, even when nothing could open it
    };

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
