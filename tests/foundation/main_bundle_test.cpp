// The host's bundle facts as the kits read them: the information dictionary as a snapshot, its
// identifier, and the kits' folders from the host or from the XDG variables.
#include "foundation/main_bundle.h"

#include "support/scoped_environment.h"

#include <gtest/gtest.h>

using foundation::MainBundle;
using foundation::PropertyListDictionary;

namespace {

class MainBundleTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        MainBundle::setInfoDictionary(nullptr);
        MainBundle::setCachesDirectory(std::nullopt);
        MainBundle::setApplicationSupportDirectory(std::nullopt);
        MainBundle::setIconPNG(std::nullopt);
    }
};

} // namespace

TEST_F(MainBundleTest, InformationDictionaryIsASnapshot)
{
    EXPECT_EQ(MainBundle::infoDictionary(), nullptr);
    EXPECT_EQ(MainBundle::bundleIdentifier(), std::nullopt);
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example.App"}, {"Number", 3}});
    const auto before = MainBundle::infoDictionary();
    EXPECT_EQ(MainBundle::bundleIdentifier(), "org.example.App");
    EXPECT_EQ(MainBundle::objectForInfoDictionaryKey("Number"), foundation::PropertyListValue(3));
    EXPECT_EQ(MainBundle::objectForInfoDictionaryKey("Missing"), std::nullopt);

    // A reader's snapshot stays whole when the host replaces the dictionary.
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", 42}});
    EXPECT_EQ(*before->get<std::string>("CFBundleIdentifier"), "org.example.App");
    EXPECT_EQ(MainBundle::bundleIdentifier(), std::nullopt); // not text
}

TEST_F(MainBundleTest, FoldersComeFromTheHostElseFromXDG)
{
    testsupport::ScopedEnvironment environment{{"XDG_CACHE_HOME", "/xdg/cache"},
                                               {"XDG_DATA_HOME", "relative/data"},
                                               {"HOME", "/home/someone"}};
    EXPECT_EQ(MainBundle::cachesDirectory(), "/xdg/cache");
    EXPECT_EQ(MainBundle::applicationSupportDirectory(), "/home/someone/.local/share"); // relative is ignored
    MainBundle::setCachesDirectory("/host/cache");
    MainBundle::setApplicationSupportDirectory("/host/data");
    EXPECT_EQ(MainBundle::cachesDirectory(), "/host/cache");
    EXPECT_EQ(MainBundle::applicationSupportDirectory(), "/host/data");
    testsupport::ScopedEnvironment unset{{"XDG_CACHE_HOME", std::nullopt}};
    MainBundle::setCachesDirectory(std::nullopt);
    EXPECT_EQ(MainBundle::cachesDirectory(), "/home/someone/.cache");
}
