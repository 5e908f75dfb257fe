// A fresh folder under the system's temporary directory for one test, removed with everything in it
// when the test ends.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testsupport {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "horavine-test")
    {
        std::random_device device;
        path_ = std::filesystem::temp_directory_path()
                / (prefix + "-" + std::to_string(device()) + std::to_string(device()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace testsupport
