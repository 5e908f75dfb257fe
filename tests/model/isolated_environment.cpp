// Keeps the model tests off the user's real settings: the shared preferences live in a temporary
// configuration folder for the whole test run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

class IsolatedConfiguration : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::random_device device;
        folder_ = std::filesystem::temp_directory_path() / ("horavine-model-config-" + std::to_string(device()));
        std::filesystem::create_directories(folder_);
        ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

private:
    std::filesystem::path folder_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new IsolatedConfiguration);

} // namespace
