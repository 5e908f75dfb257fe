// The single-instance handshake: one name per store file whatever path leads to it, a socket folder
// only this user may enter, and a listener of another user that never ends a launch.
#include "app/single_instance.h"

#include "support/scoped_environment.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    SingleInstanceTest()
    {
        std::filesystem::create_directories(runtime());
        ::chmod(runtime().c_str(), 0700);
    }
    std::filesystem::path runtime() const { return folder_.path() / "runtime"; }

    testsupport::TempFolder folder_{"horavine-instance"};
    testsupport::ScopedEnvironment environment_{{"XDG_RUNTIME_DIR", runtime().string()},
                                                {"XDG_CACHE_HOME", (folder_.path() / "cache").string()}};
};

// Runs the event loop until `done` or a few seconds have passed.
template <typename Predicate>
bool processEventsUntil(Predicate done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

} // namespace

TEST_F(SingleInstanceTest, EveryPathToTheSameStoreGivesTheSameName)
{
    const auto documents = folder_.path() / "Documents";
    std::filesystem::create_directories(documents);
    std::filesystem::create_directory_symlink(documents, folder_.path() / "Linked");
    const QString name = app::SingleInstance::serverName(documents / "Projects.horavine");
    EXPECT_TRUE(name.startsWith(QString::fromStdString(runtime().string()) + "/")) << name.toStdString();
    EXPECT_EQ(app::SingleInstance::serverName(folder_.path() / "Linked" / "Projects.horavine"), name);
    EXPECT_EQ(app::SingleInstance::serverName(folder_.path() / "Linked" / ".." / "Documents" / "Projects.horavine"),
              name);
    // A link to the store file itself, once the file exists.
    std::ofstream(documents / "Projects.horavine") << "";
    std::filesystem::create_symlink(documents / "Projects.horavine", documents / "Alias.horavine");
    EXPECT_EQ(app::SingleInstance::serverName(documents / "Alias.horavine"), name);
    EXPECT_NE(app::SingleInstance::serverName(documents / "Other.horavine"), name);
}

TEST_F(SingleInstanceTest, ARuntimeFolderOthersMayEnterIsNotUsed)
{
    ::chmod(runtime().c_str(), 0755);
    const auto folder = app::SingleInstance::socketFolder();
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, folder_.path() / "cache" / "horavine" / "instances");
    struct stat status {};
    ASSERT_EQ(::stat(folder->c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    testsupport::ScopedEnvironment unset{{"XDG_RUNTIME_DIR", std::nullopt}};
    EXPECT_EQ(app::SingleInstance::socketFolder(), folder);
}

TEST_F(SingleInstanceTest, ALaunchHandsReopenToTheRunningInstance)
{
    const QString name = app::SingleInstance::serverName(folder_.path() / "Projects.horavine");
    EXPECT_FALSE(app::SingleInstance::handToRunningInstance(name));
    app::SingleInstance running;
    ASSERT_TRUE(running.listen(name));
    int reopened = 0;
    QObject::connect(&running, &app::SingleInstance::reopenRequested, [&reopened] { ++reopened; });
    app::SingleInstance second;
    EXPECT_FALSE(second.listen(name)) << "a second listener must not take a live instance's name";
    EXPECT_TRUE(app::SingleInstance::handToRunningInstance(name));
    EXPECT_TRUE(processEventsUntil([&] { return reopened == 1; }));
}

TEST_F(SingleInstanceTest, AListenerOfAnotherUserNeverEndsALaunch)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "dropping to another user needs root";
    const QString name = app::SingleInstance::serverName(folder_.path() / "Projects.horavine");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Binds the name as root, becomes nobody, then listens: its peers see nobody's uid.
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(name));
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::setgid(65534) != 0
            || ::setuid(65534) != 0 || ::listen(listener, 8) != 0)
            _exit(1);
        [[maybe_unused]] auto written = ::write(ready[1], "r", 1);
        for (;;) {
            const int connection = ::accept(listener, nullptr, nullptr);
            char buffer[64];
            while (connection >= 0 && ::read(connection, buffer, sizeof buffer) > 0) {}
            ::close(connection);
        }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the other user's listener did not start";
    ::close(ready[0]);

    const bool handedOver = app::SingleInstance::handToRunningInstance(name);
    app::SingleInstance instance;
    const bool listening = instance.listen(name);
    int reopened = 0;
    QObject::connect(&instance, &app::SingleInstance::reopenRequested, [&reopened] { ++reopened; });
    const bool ownHandshake = app::SingleInstance::handToRunningInstance(name);
    processEventsUntil([&] { return reopened == 1; });
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    EXPECT_FALSE(handedOver) << "a launch would have ended on another user's word";
    EXPECT_TRUE(listening) << "the launch could not take its own name";
    EXPECT_TRUE(ownHandshake);
    EXPECT_EQ(reopened, 1);
}
