// What the application hands the kits as their host, seen where it matters: its icon, rendered as a PNG,
// whose hash goes out with the settings request to an HTTPS loopback server (its root pinned through the
// test hook).
#include "app/kits.h"

#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/kst_application_identifier_model.h"
#include "kits/platform/kst_icon.h"
#include "kits/platform/kst_settings_onboarding_manager.h"

#include "support/eventually.h"
#include "support/hooks/pinned_certificates_hook.h"
#include "support/loopback_server.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

TEST(KitHost, TheApplicationsIconHashGoesOutWithTheSettingsRequest)
{
    testsupport::TempFolder folder("horavine-kit-host");
    const testsupport::TestCertificates certificates(folder.path());
    kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
        kits::KSTCreateCertificate(certificates.rootA.der.data(), certificates.rootA.der.size())});
    testsupport::LoopbackServer server({&certificates.leafA, {}, std::chrono::seconds(60)});
    server.setHandler([](const testsupport::RecordedRequest&) {
        return testsupport::ScriptedAnswer{200, {}, {{"Content-Type", "application/json"}}, "{}"};
    });
    const testsupport::ScopedEnvironment endpoint{{"SettingsEndpoint", server.url("")}};

    app::handKitsTheirHost();
    const auto png = foundation::MainBundle::iconPNG();
    ASSERT_TRUE(png);
    const auto icon = kits::KSTIcon::fromPNG(*png);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size().width, 512.0);
    EXPECT_EQ(icon->size().height, 512.0);
    EXPECT_EQ(*png, app::applicationIconPNG()); // the same bytes, so the same hash, at every start

    auto manager = kits::KSTSettingsOnboardingManager::initWithApplicationIdentifierModel(
        kits::KSTApplicationIdentiferModel::initWithInstallID("0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9"));
    manager->beginSettingsAndOnboardingOperationsWithAPIKey("k", {});
    const bool ended = testsupport::eventually([&] { return manager->networkingFinished(); }, 30.0);
    manager.reset();
    kits::testhooks::setPinnedCertificates(std::nullopt);
    kits::Blackbox::sharedInstance().setPromptPresenter({});
    foundation::MainQueue::setExecutor(nullptr);
    foundation::MainBundle::setIconPNG(std::nullopt);
    foundation::MainBundle::setInfoDictionary(nullptr);
    foundation::MainBundle::setCachesDirectory(std::nullopt);
    foundation::MainBundle::setApplicationSupportDirectory(std::nullopt);
    ASSERT_TRUE(ended);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path(), "/spi/v2/platforms/mac/apps/org.horavine.Horavine/settings");
    EXPECT_NE(requests[0].target.find("&icon_hash=" + kits::KSTSHA1HexOfData(*png) + "&"), std::string::npos)
        << requests[0].target;
}
