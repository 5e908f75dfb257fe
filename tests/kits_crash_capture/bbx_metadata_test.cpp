// The launch's metadata file and the host values taken at set-up.
#include "capture_context.h"

#include "kits/crash/capture/bbx_metadata.h"

#include "support/child_process.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "system/elf_identity.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/ptrace.h>
#include <unistd.h>

namespace {

std::string firstLineOf(const std::string& command)
{
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, pipe))
            output = buffer;
        ::pclose(pipe);
    }
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

std::vector<std::string> keysOf(const nlohmann::ordered_json& hash)
{
    std::vector<std::string> keys;
    for (const auto& [key, value] : hash.items())
        keys.push_back(key);
    return keys;
}

} // namespace

TEST(BBXMetadata, FourLinesAboutThisLaunch)
{
    ASSERT_NE(testsupport::captureContext(), nullptr);
    const auto directory = testsupport::captureFolder() / "launch";
    std::filesystem::create_directories(directory);
    std::ofstream(directory / "metadata.bbxrecord") << "{\"stale\":{}}\n";
    BBXContextInitData data;
    data.apiKey = "api-key";
    data.reportDirectory = directory.c_str();
    data.reportIdentifier = "session-1";
    data.installIdentifier = "install-1";
    ASSERT_TRUE(BBXContextRecordMetadata(data));

    const auto lines = testsupport::orderedSections(directory / "metadata.bbxrecord");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(keysOf(lines[0]), std::vector<std::string>{"identity"});
    EXPECT_EQ(keysOf(lines[1]), std::vector<std::string>{"host"});
    EXPECT_EQ(keysOf(lines[2]), std::vector<std::string>{"application"});
    EXPECT_EQ(keysOf(lines[3]), std::vector<std::string>{"executable"});

    const auto& identity = lines[0]["identity"];
    EXPECT_EQ(keysOf(identity),
              (std::vector<std::string>{"generator", "build_version", "display_version", "api_key", "started_at",
                                        "session_id", "install_id", "beta_token", "absolute_log_timestamps"}));
    EXPECT_EQ(identity["generator"], "Blackbox Mac SDK/3.8.4");
    EXPECT_EQ(identity["api_key"], "api-key");
    EXPECT_TRUE(identity["started_at"].is_number_unsigned());
    EXPECT_EQ(identity["session_id"], "session-1");
    EXPECT_TRUE(identity["beta_token"].is_null());
    EXPECT_EQ(identity["absolute_log_timestamps"], true);

    const auto& host = lines[1]["host"];
    EXPECT_EQ(keysOf(host), (std::vector<std::string>{"model", "machine", "cpu", "os_build_version",
                                                      "os_display_version", "platform", "locale"}));
    EXPECT_EQ(host["machine"], firstLineOf("uname -m"));
    EXPECT_EQ(host["os_build_version"], firstLineOf("uname -r"));
    EXPECT_TRUE(host["cpu"].is_string());
    EXPECT_FALSE(host["cpu"].get<std::string>().empty());

    EXPECT_EQ(keysOf(lines[2]["application"]),
              (std::vector<std::string>{"bundle_id", "custom_bundle_id", "build_version", "display_version",
                                        "extension_id"}));
    EXPECT_TRUE(lines[2]["application"]["custom_bundle_id"].is_null());

    const auto& executable = lines[3]["executable"];
    const auto program = os::readElfIdentity("/proc/self/exe");
    ASSERT_TRUE(program);
    EXPECT_EQ(executable["architecture"], "x86_64");
    EXPECT_EQ(executable["uuid"], program.identity->uuid);
    EXPECT_TRUE(executable["base"].is_number_unsigned());
    EXPECT_TRUE(executable["size"].is_number_unsigned());
    EXPECT_EQ(executable["encrypted"], false);
    EXPECT_EQ(executable["minimum_sdk_version"], "0.0.0");
    EXPECT_EQ(executable["built_sdk_version"], "0.0.0");
}

TEST(BBXMetadata, UnopenableFileIsReported)
{
    ASSERT_NE(testsupport::captureContext(), nullptr);
    BBXContextInitData data;
    data.reportDirectory = "/nonexistent-folder-for-metadata";
    EXPECT_FALSE(BBXContextRecordMetadata(data));
    EXPECT_NE(testsupport::sdkLogText().find("Unable to open metadata file /nonexistent-folder-for-metadata/"),
              std::string::npos);
}

TEST(BBXHost, DebuggerAttachedOnlyWhenTraced)
{
    EXPECT_FALSE(BBXProcessDebuggerAttached());
    const auto outcome = testsupport::runInChild([] {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            return std::string("ptrace refused");
        return std::string(BBXProcessDebuggerAttached() ? "traced" : "not traced");
    });
    EXPECT_EQ(outcome.report, "traced");
}

TEST(BBXHost, TakesPageSizeAndDocumentsFolder)
{
    ASSERT_NE(testsupport::captureContext(), nullptr);
    EXPECT_EQ(BBXHostGetPageSize(), static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)));
    {
        testsupport::ScopedEnvironment environment({{"XDG_DOCUMENTS_DIR", "/srv/documents"}});
        BBXHostInitialize();
        EXPECT_STREQ(BBXContextGet()->documentsPath, "/srv/documents");
    }
    {
        testsupport::ScopedEnvironment environment({{"XDG_DOCUMENTS_DIR", std::nullopt},
                                                    {"HOME", "/home/someone"},
                                                    {"XDG_CONFIG_HOME", "/nonexistent-config-folder"}});
        BBXHostInitialize();
        EXPECT_STREQ(BBXContextGet()->documentsPath, "/home/someone/Documents");
    }
    {
        // A translated Documents folder, named as desktops name it: the store's folder.
        testsupport::TempFolder config("bbx-host-config");
        std::ofstream(config.path() / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
        testsupport::ScopedEnvironment environment({{"XDG_DOCUMENTS_DIR", std::nullopt},
                                                    {"HOME", "/home/someone"},
                                                    {"XDG_CONFIG_HOME", config.path().string()}});
        BBXHostInitialize();
        EXPECT_STREQ(BBXContextGet()->documentsPath, "/home/someone/Dokumente");
    }
    EXPECT_EQ(BBXContextGet()->pageSize, BBXHostGetPageSize());
}
