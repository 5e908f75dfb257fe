// Revealing a file in the file manager: the ShowItems call with the file's encoded URI reaching a file
// manager on a private session bus, and the containing folder opened where no file manager answers.
#include "ui/desktop_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

namespace {

// Records the ShowItems calls it is sent and answers them; called on the bus's own thread.
class FakeFileManager : public QDBusVirtualObject {
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.FileManager1")
            || message.member() != QLatin1String("ShowItems"))
            return false;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(message.arguments());
        }
        connection.send(message.createReply());
        return true;
    }
    QString introspect(const QString&) const override { return QString(); }

    QList<QVariantList> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    QList<QVariantList> calls_;
};

struct OpenedFolders {
    QList<QUrl> links;
    ui::LinkOpener opener()
    {
        return [this](const QUrl& link) {
            links.push_back(link);
            return true;
        };
    }
};

QUrl fileNamedWithSpacesAndAccents(const QTemporaryDir& folder)
{
    return QUrl::fromLocalFile(folder.filePath(QStringLiteral("a b é.txt")));
}

TEST(DesktopServicesTest, WithoutABusTheContainingFolderOpensAtOnce)
{
    QTemporaryDir folder;
    OpenedFolders opened;
    const QDBusConnection noBus(QStringLiteral("no such connection"));
    ASSERT_FALSE(noBus.isConnected());

    ui::revealInFileManager(fileNamedWithSpacesAndAccents(folder), noBus, opened.opener());
    ASSERT_EQ(opened.links.size(), 1);
    EXPECT_EQ(opened.links.front(), QUrl::fromLocalFile(folder.path()));
    EXPECT_EQ(ui::containingFolder(QUrl::fromLocalFile(QStringLiteral("/srv/a/b.txt"))),
              QUrl::fromLocalFile(QStringLiteral("/srv/a")));
}

// These run only under ctest's private session bus (dbus-run-session with a bus of no services), never
// on the user's own bus, where a real file manager may own the name.
class FileManagerOverSessionBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("HORAVINE_PRIVATE_SESSION_BUS"))
            GTEST_SKIP() << "run by ctest under dbus-run-session";
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    }
};

TEST_F(FileManagerOverSessionBus, AFileManagerReceivesShowItemsWithTheEncodedUri)
{
    // The file manager has a connection of its own, so the call really travels through the bus.
    QDBusConnection fileManagerBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake file manager");
    FakeFileManager fileManager;
    ASSERT_TRUE(fileManagerBus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager));
    ASSERT_TRUE(fileManagerBus.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    QTemporaryDir folder;
    OpenedFolders opened;
    const QUrl file = fileNamedWithSpacesAndAccents(folder);
    ui::revealInFileManager(file, opened.opener());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fileManager.calls().isEmpty(); }, 5000));
    QTest::qWait(50); // the reply arrives; no folder may open after it

    const QList<QVariantList> calls = fileManager.calls();
    ASSERT_EQ(calls.size(), 1);
    ASSERT_EQ(calls.front().size(), 2);
    const QStringList uris = calls.front().at(0).toStringList();
    ASSERT_EQ(uris.size(), 1);
    EXPECT_TRUE(uris.front().startsWith(QLatin1String("file:///")));
    EXPECT_TRUE(uris.front().endsWith(QLatin1String("/a%20b%20%C3%A9.txt"))) << uris.front().toStdString();
    EXPECT_EQ(QUrl(uris.front()), file);
    EXPECT_TRUE(opened.links.isEmpty());

    fileManagerBus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    fileManagerBus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake file manager"));
}

TEST_F(FileManagerOverSessionBus, WithoutAFileManagerTheContainingFolderOpens)
{
    QTemporaryDir folder;
    OpenedFolders opened;
    ui::revealInFileManager(fileNamedWithSpacesAndAccents(folder), opened.opener());
    EXPECT_TRUE(opened.links.isEmpty()); // decided by the bus's answer, later
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.links.isEmpty(); }, 5000));
    EXPECT_EQ(opened.links, QList<QUrl>{QUrl::fromLocalFile(folder.path())});
}

} // namespace
