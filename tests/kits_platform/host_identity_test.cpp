// Host and application identity: hexadecimal and SHA-1 texts, UUID strings, version codes, the bundle
// functions over an information dictionary, icons and the running executable's instance identifier.
#include "foundation/main_bundle.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/kst_application_identifier_model.h"
#include "kits/platform/kst_icon.h"
#include "system/elf_identity.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/utsname.h>

using foundation::MainBundle;
using foundation::PropertyListData;
using foundation::PropertyListDictionary;
using namespace kits;

namespace {

class BundleFunctionsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        MainBundle::setInfoDictionary(nullptr);
        MainBundle::setIconPNG(std::nullopt);
    }
};

PropertyListData pngHeader(std::uint32_t width, std::uint32_t height)
{
    PropertyListData png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (std::uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(static_cast<std::uint8_t>(value >> shift));
    png.insert(png.end(), {8, 6, 0, 0, 0});
    return png;
}

} // namespace

TEST(HostFunctions, HexAndDigestTexts)
{
    const PropertyListData bytes{0x00, 0xab, 0xff};
    EXPECT_EQ(KSTHexStringFromData(bytes), "00abff");
    EXPECT_EQ(KSTHexStringFromData({}), "");
    char pair[3] = {'x', 'x', '\0'};
    KSTHexEncodeByte(0x5c, pair);
    EXPECT_STREQ(pair, "5c");
    KSTHexEncodeByte(0x5c, nullptr); // does nothing
    char buffer[7] = {'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    KSTHexEncodeBytes(nullptr, 3, buffer);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(KSTSHA1HexOfBytes("abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(KSTSHA1HexOfData({}), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    const std::uint8_t sixteen[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(KSTHexStringFrom16Bytes(sixteen), "0123456789abcdef0001020304050607");

    int calls = 0;
    KSTEnumerateByteRangesOfData(bytes, [&](const std::uint8_t* start, KSTByteRange range, bool& stop) {
        ++calls;
        EXPECT_EQ(start, bytes.data());
        EXPECT_EQ(range.location, 0u);
        EXPECT_EQ(range.length, 3u);
        EXPECT_FALSE(stop);
    });
    EXPECT_EQ(calls, 1);
}

TEST(HostFunctions, UUIDStringsAreUpperCaseAndNew)
{
    const std::string first = KSTGenerateUUIDString();
    EXPECT_TRUE(
        std::regex_match(first, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << first;
    EXPECT_NE(first, KSTGenerateUUIDString());
}

TEST(HostFunctions, VersionsFromTheKernelRelease)
{
    auto version = KSTOperatingSystemVersionFromRelease("6.1.0-18-amd64");
    EXPECT_EQ(version.majorVersion, 6);
    EXPECT_EQ(version.minorVersion, 1);
    EXPECT_EQ(version.patchVersion, 0);
    version = KSTOperatingSystemVersionFromRelease("5.15");
    EXPECT_EQ(version.minorVersion, 15);
    EXPECT_EQ(version.patchVersion, 0);
    EXPECT_EQ(KSTOperatingSystemVersionFromRelease("garbage").majorVersion, 0);

    EXPECT_EQ(KSTOSVersionCodeOfVersion({10, 6, 0}), 1060u);
    EXPECT_EQ(KSTOSVersionCodeOfVersion({10, 12, 0}), 101200u);
    EXPECT_EQ(KSTOSVersionCodeOfVersion({10, 5, 0}), 0u);
    EXPECT_EQ(KSTOSVersionCodeOfVersion({10, 13, 0}), 0u);

    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(KSTHostOSBuildVersion(), std::string(names.release));
    EXPECT_EQ(KSTSysctlString("kernel.osrelease"), std::string(names.release));
    EXPECT_EQ(KSTSysctlString("kernel.no_such_value"), std::nullopt);
    EXPECT_EQ(KSTSysctlString("../../etc/passwd"), std::nullopt);
    const auto host = KSTHostOperatingSystemVersion();
    EXPECT_EQ(KSTHostOSDisplayVersion(), std::to_string(host.majorVersion) + "." + std::to_string(host.minorVersion)
                                             + "." + std::to_string(host.patchVersion));
    ASSERT_TRUE(KSTHostModelName());
    EXPECT_FALSE(KSTHostModelName()->empty());
}

TEST_F(BundleFunctionsTest, ReadsTheInformationDictionary)
{
    EXPECT_EQ(KSTEscapedBundleIdentifier(), std::nullopt);
    EXPECT_EQ(KSTBundleDisplayName(), std::nullopt);
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example/App/x"},
                                                         {"CFBundleVersion", "77"},
                                                         {"CFBundleShortVersionString", "1.2"}});
    EXPECT_EQ(KSTEscapedBundleIdentifier(), "org.example_App_x");
    EXPECT_EQ(KSTBundleVersion(), "77");
    EXPECT_EQ(KSTBundleShortVersionString(), "1.2");
    EXPECT_EQ(KSTBundleDisplayName(), "77"); // neither display name nor name
    MainBundle::setInfoDictionary(
        PropertyListDictionary{{"CFBundleVersion", "77"}, {"CFBundleName", "Name"}, {"CFBundleDisplayName", "Shown"}});
    EXPECT_EQ(KSTBundleDisplayName(), "Shown");
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleVersion", "77"}, {"CFBundleName", "Name"}});
    EXPECT_EQ(KSTBundleDisplayName(), "Name");
}

TEST_F(BundleFunctionsTest, DeviceIdentifierSwitchAndInstallSource)
{
    EXPECT_TRUE(KSTShouldReportDeviceIdentifiers());
    MainBundle::setInfoDictionary(PropertyListDictionary{});
    EXPECT_TRUE(KSTShouldReportDeviceIdentifiers());
    EXPECT_EQ(KSTAppInstallSource(), KSTInstallSource::developer);
    MainBundle::setInfoDictionary(
        PropertyListDictionary{{"Keystone", PropertyListDictionary{{"ReportIdentifiers", false}}},
                               {"BlackboxCollectDeviceIdentifiers", true}});
    EXPECT_FALSE(KSTShouldReportDeviceIdentifiers());
    MainBundle::setInfoDictionary(PropertyListDictionary{{"BlackboxCollectDeviceIdentifiers", "NO"}});
    EXPECT_FALSE(KSTShouldReportDeviceIdentifiers());
    MainBundle::setInfoDictionary(PropertyListDictionary{{"BlackboxSignedForDistribution", true}});
    EXPECT_TRUE(KSTIsSignedForDistribution());
    EXPECT_EQ(static_cast<int>(KSTAppInstallSource()), 3);
    EXPECT_FALSE(KSTIsAppStoreReceiptPresent());

    for (const char* yes : {"YES", " +7", "true", "0012"})
        EXPECT_TRUE(KSTBoolValue(yes)) << yes;
    for (const char* no : {"NO", "", "0", "-0", "x"})
        EXPECT_FALSE(KSTBoolValue(no)) << no;
    EXPECT_TRUE(KSTBoolValue(2.5));
    EXPECT_FALSE(KSTBoolValue(std::int64_t(0)));
    EXPECT_FALSE(KSTBoolValue(PropertyListDictionary{}));
}

TEST_F(BundleFunctionsTest, IconsFromPNGBytes)
{
    EXPECT_TRUE(KSTIcon(pngHeader(1024, 1024), {1024, 1024}).isWithinMaxSurfaceArea());
    EXPECT_FALSE(KSTIcon(pngHeader(1025, 1024), {1025, 1024}).isWithinMaxSurfaceArea());
    const KSTIcon icon(pngHeader(64, 32), {64, 32});
    EXPECT_FALSE(icon.largerThanSize({64, 32}));
    EXPECT_TRUE(icon.largerThanSize({63, 32}));
    EXPECT_TRUE(icon.prerendered());
    EXPECT_EQ(icon.dataHash(), KSTSHA1HexOfData(pngHeader(64, 32)));

    auto parsed = KSTIcon::fromPNG(pngHeader(48, 40));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size().width, 48);
    EXPECT_EQ(parsed->size().height, 40);
    EXPECT_FALSE(KSTIcon::fromPNG({'G', 'I', 'F', '8'}));
    auto truncated = pngHeader(48, 40);
    truncated.resize(20);
    EXPECT_FALSE(KSTIcon::fromPNG(truncated));

    EXPECT_FALSE(KSTAppIconUtility().applicationIcon());
    MainBundle::setIconPNG(pngHeader(16, 16));
    KSTAppIconUtility utility;
    ASSERT_TRUE(utility.applicationIcon());
    MainBundle::setIconPNG(std::nullopt);
    EXPECT_TRUE(utility.applicationIcon()); // fetched once and kept
}

TEST_F(BundleFunctionsTest, InstanceIdentifierHashesUUIDsInArchitectureOrder)
{
    const std::string u1 = "11111111111111111111111111111111";
    const std::string u2 = "22222222222222222222222222222222";
    const std::string both = u2 + u1; // "i386" sorts before "x86_64"
    EXPECT_EQ(KSTApplicationIdentiferModel::instanceIdentifierOfArchitectureUUIDMap({{"x86_64", u1}, {"i386", u2}}),
              KSTSHA1HexOfBytes(both.data(), static_cast<std::uint32_t>(both.size())));
    EXPECT_EQ(KSTApplicationIdentiferModel::instanceIdentifierOfArchitectureUUIDMap({}), KSTSHA1HexOfBytes("", 0));
}

TEST_F(BundleFunctionsTest, ModelOfTheRunningExecutable)
{
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example/Test"}});
    auto model = KSTApplicationIdentiferModel::initWithInstallID("INSTALL-ID");
    ASSERT_TRUE(model);
    const auto elf = os::readElfIdentity(os::runningExecutablePath());
    ASSERT_TRUE(elf);
    ASSERT_GE(elf.identity->buildId.size(), 16u);
    const std::string uuid = KSTHexStringFromData(std::span(elf.identity->buildId).first(16));
    EXPECT_EQ(model->architectureUUIDMap(), (std::map<std::string, std::string>{{"x86_64", uuid}}));
    EXPECT_EQ(model->instanceIdentifier(), KSTSHA1HexOfBytes(uuid.data(), 32));
    EXPECT_EQ(model->installID(), "INSTALL-ID");
    EXPECT_EQ(model->bundleIdentifier(), "org.example_Test");
    EXPECT_EQ(model->builtSDKString(), "0.0.0");
    EXPECT_EQ(model->minimumSDKString(), "0.0.0");
    EXPECT_FALSE(model->icon());

    EXPECT_EQ(KSTApplicationIdentiferModel::initWithInstallID("x", "/no/such/executable"), nullptr);
}
