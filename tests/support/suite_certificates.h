// The test certificates one test suite shares, with the temporary folder that holds their PEM files:
// made in SetUpTestSuite, dropped in TearDownTestSuite. The holder itself owns nothing by destruction
// (a trivially destructible static), so a forked child that leaves through exit() runs no destructor
// that would remove the parent's folder; only drop() deletes them.
#pragma once

#include "temp_folder.h"
#include "test_certificates.h"

#include <filesystem>
#include <string>

namespace testsupport {

class SuiteCertificates {
public:
    // A folder named after `folderPrefix` under the temporary directory, and the certificates in it.
    void make(const std::string& folderPrefix)
    {
        drop();
        folder_ = new TempFolder(folderPrefix);
        certificates_ = new TestCertificates(folder_->path());
    }
    // Deletes the certificates and removes their folder with everything the suite put in it.
    void drop()
    {
        delete certificates_;
        certificates_ = nullptr;
        delete folder_;
        folder_ = nullptr;
    }

    const TestCertificates& operator*() const { return *certificates_; }
    const TestCertificates* operator->() const { return certificates_; }
    // The certificates' folder, which the suite may use for files of its own.
    const std::filesystem::path& folder() const { return folder_->path(); }

private:
    TempFolder* folder_ = nullptr;
    TestCertificates* certificates_ = nullptr;
};

} // namespace testsupport
