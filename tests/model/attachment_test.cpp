// Attached files in temporary folders: found again after a rename, a move or a save that writes a
// new file; reported when gone; never attached twice; damaged bookmarks rejected without harm.
#include "model/attachment.h"
#include "model/data_model.h"
#include "model/file_bookmark.h"
#include "model/project.h"

#include "support/scoped_environment.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>

using namespace model;
namespace fs = std::filesystem;
using testsupport::ScopedEnvironment;

namespace {

class TempFolder : public testsupport::TempFolder {
public:
    TempFolder() : testsupport::TempFolder("horavine-attach") {}
};

fs::path writeFile(const fs::path& path, const std::string& text = "notes")
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::size_t attachmentCount(const data::ObjectContext& context)
{
    return context.objects(*context.model().entity(Attachment::entityName)).size();
}

class AttachmentTest : public testing::Test {
protected:
    TempFolder folder;
    data::ObjectContext context{managedObjectModel()};
    Project* project = initInContext<Project>(context);

    Attachment* attach(const fs::path& path)
    {
        project->addAttachment(path);
        const auto attachments = project->attachments();
        return attachments.empty() ? nullptr : attachments.back();
    }
};

const char* const unresolvableLine = "horavine: ERROR: Could not create file URL from bookmark data\n";
const char* const staleLine = "horavine: ERROR: Could not create file URL from bookmark data; bookmark is stale\n";

} // namespace

TEST_F(AttachmentTest, RenamedFileIsFoundWhileNameAndIconKeepTheOldOne)
{
    const fs::path original = writeFile(folder.path() / "invoice.pdf");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    EXPECT_EQ(attachment->originalPath(), original.string());

    fs::rename(original, folder.path() / "paid.txt");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "paid.txt");
    EXPECT_EQ(attachment->fileName(), "invoice.pdf");
    EXPECT_EQ(attachment->fileIconKey(), "application-pdf");
    EXPECT_EQ(attachment->originalFileUrl(), original);

    ASSERT_TRUE(attachment->relocate(folder.path() / "paid.txt"));
    EXPECT_EQ(attachment->fileName(), "paid.txt");
}

TEST_F(AttachmentTest, FileMovedIntoASubFolderIsFound)
{
    const fs::path original = writeFile(folder.path() / "a" / "plan.txt");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    fs::create_directories(folder.path() / "a" / "b" / "c");
    fs::rename(original, folder.path() / "a" / "b" / "c" / "plan.txt");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "a" / "b" / "c" / "plan.txt");
}

TEST_F(AttachmentTest, FileMovedUpAndAcrossWithinTheHomeFolderIsFound)
{
    const ScopedEnvironment home{{"HOME", folder.path().string()}};
    const fs::path original = writeFile(folder.path() / "work" / "2024" / "plan.txt");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    fs::create_directories(folder.path() / "archive");
    fs::rename(original, folder.path() / "archive" / "plan.txt");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "archive" / "plan.txt");

    // The old folder itself is gone too: the search starts from what is left of its path.
    fs::rename(folder.path() / "archive" / "plan.txt", folder.path() / "work" / "plan.txt");
    fs::remove_all(folder.path() / "work" / "2024");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "work" / "plan.txt");
}

TEST_F(AttachmentTest, FileReplacedByANewFileAtTheSamePathIsFound)
{
    const fs::path original = writeFile(folder.path() / "draft.txt", "first");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    // Saved as editors do: a new file renamed over the old one.
    fs::rename(writeFile(folder.path() / ".draft.txt.tmp", "second"), original);
    EXPECT_EQ(attachment->fileUrl(), original);
}

TEST_F(AttachmentTest, DeletedFileYieldsNothingAndSaysSoOncePerFailedSearch)
{
    const fs::path original = writeFile(folder.path() / "gone.txt");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    fs::remove(original);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(attachment->fileUrl());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), unresolvableLine);

    // Reads soon after repeat neither the search nor its report. The duplicate test no longer
    // matches it, so the file can be attached afresh once it is back.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(attachment->fileUrl());
    EXPECT_FALSE(project->attachmentMatching(original));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(AttachmentTest, FailedSearchIsRepeatedOnlyAfterAWhileOrWhenTheOldPathHoldsAFileAgain)
{
    TempFolder outside;
    const ScopedEnvironment home{{"HOME", folder.path().string()}};
    foundation::FixedClock* clock = nullptr;
    auto pinned = std::make_shared<foundation::FixedClock>(foundation::Date(std::chrono::hours(24 * 20000)));
    clock = pinned.get();
    const foundation::ScopedClock scopedClock(pinned);

    const fs::path original = writeFile(folder.path() / "docs" / "plan.txt");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    fs::rename(original, outside.path() / "plan.txt"); // out of the searched area
    testing::internal::CaptureStderr();
    EXPECT_FALSE(attachment->fileUrl());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), unresolvableLine);

    // Back within reach of a search, but the last one failed only just now.
    fs::create_directories(folder.path() / "docs" / "sub");
    fs::rename(outside.path() / "plan.txt", folder.path() / "docs" / "sub" / "plan.txt");
    clock->advance(BookmarkResolver::retryAfter - std::chrono::seconds(1));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(attachment->fileUrl());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    clock->advance(std::chrono::seconds(1));
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "docs" / "sub" / "plan.txt");

    // Gone again; a file put back at the old path is seen at once.
    fs::rename(folder.path() / "docs" / "sub" / "plan.txt", outside.path() / "plan.txt");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(attachment->fileUrl());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), unresolvableLine);
    fs::rename(outside.path() / "plan.txt", original);
    EXPECT_EQ(attachment->fileUrl(), original);
}

TEST_F(AttachmentTest, FoundPathIsKeptWhileItHoldsTheFile)
{
    const fs::path original = writeFile(folder.path() / "a" / "file.txt");
    Attachment* attachment = attach(original);
    ASSERT_NE(attachment, nullptr);
    fs::create_directories(folder.path() / "a" / "sub");
    fs::rename(original, folder.path() / "a" / "sub" / "file.txt");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "a" / "sub" / "file.txt");

    // A new search would meet this second name first, in the old folder itself.
    fs::create_hard_link(folder.path() / "a" / "sub" / "file.txt", folder.path() / "a" / "link.txt");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "a" / "sub" / "file.txt");
    fs::remove(folder.path() / "a" / "sub" / "file.txt");
    EXPECT_EQ(attachment->fileUrl(), folder.path() / "a" / "link.txt");

    // A relocated attachment follows its new bookmark at once.
    const fs::path other = writeFile(folder.path() / "other.txt");
    ASSERT_TRUE(attachment->relocate(other));
    EXPECT_EQ(attachment->fileUrl(), other);
}

TEST_F(AttachmentTest, MatchingResolvesOnlyAttachmentsThatCanBeTheGivenFile)
{
    const fs::path gone = writeFile(folder.path() / "gone.txt");
    ASSERT_NE(attach(gone), nullptr);
    const fs::path moved = writeFile(folder.path() / "moved.txt");
    ASSERT_NE(attach(moved), nullptr);
    const fs::path unrelated = writeFile(folder.path() / "unrelated.txt"); // before its inode number is free
    fs::remove(gone);
    fs::create_directories(folder.path() / "sub");
    fs::rename(moved, folder.path() / "sub" / "moved.txt");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(project->attachmentMatching(unrelated));
    EXPECT_FALSE(project->attachmentMatching(folder.path() / "missing.txt"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no attachment could be these files";
    EXPECT_TRUE(project->attachmentMatching(folder.path() / "sub" / "moved.txt"));

    // Nothing searched for the deleted file yet, so its first read still reports it.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(project->attachments().front()->fileUrl());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), unresolvableLine);
}

TEST_F(AttachmentTest, SameFileIsAttachedOncePerProject)
{
    const fs::path file = writeFile(folder.path() / "brief.txt");
    project->addAttachment(file);
    project->addAttachment(folder.path() / "." / "x" / ".." / "brief.txt");
    EXPECT_EQ(project->attachments().size(), 1u);
    EXPECT_TRUE(project->attachmentMatching(file));

    Project* other = initInContext<Project>(context);
    other->addAttachment(file);
    EXPECT_EQ(other->attachments().size(), 1u);
    EXPECT_EQ(project->attachments().size(), 1u);

    // Under its new name the file is still the one already attached.
    fs::rename(file, folder.path() / "brief-v2.txt");
    project->addAttachment(folder.path() / "brief-v2.txt");
    EXPECT_EQ(project->attachments().size(), 1u);
}

TEST_F(AttachmentTest, FileThatCannotBeBookmarkedIsNotAttached)
{
    testing::internal::CaptureStderr();
    project->addAttachment(folder.path() / "missing.txt");
    EXPECT_EQ(Attachment::create(folder.path() / "missing.txt", context), nullptr);
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output.rfind("horavine: ERROR: ", 0), 0u);
    EXPECT_NE(output.find("missing.txt"), std::string::npos);
    EXPECT_EQ(attachmentCount(context), 0u);

    const fs::path file = writeFile(folder.path() / "kept.txt");
    Attachment* attachment = attach(file);
    ASSERT_NE(attachment, nullptr);
    const auto bookmark = attachment->fileBookmark();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(attachment->relocate(folder.path() / "missing.txt"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(attachment->fileBookmark(), bookmark);
    EXPECT_EQ(attachment->originalPath(), file.string());
}

TEST_F(AttachmentTest, ProjectOutsideAContextAttachesNothing)
{
    const fs::path file = writeFile(folder.path() / "a.txt");
    context.deleteObject(project);
    project->addAttachment(file);
    EXPECT_EQ(attachmentCount(context), 0u);
}

TEST_F(AttachmentTest, AttachmentWithoutAPathShowsNothing)
{
    auto* attachment = initInContext<Attachment>(context);
    EXPECT_FALSE(attachment->fileUrl());
    EXPECT_FALSE(attachment->originalFileUrl());
    EXPECT_FALSE(attachment->fileName());
    EXPECT_FALSE(attachment->fileIconKey());
}

TEST(FileIconKeyTest, KindFollowsTheExtensionInAnyCase)
{
    EXPECT_EQ(fileIconKeyForName("Photo.JPG"), "image-x-generic");
    EXPECT_EQ(fileIconKeyForName("notes.txt"), "text-x-generic");
    EXPECT_EQ(fileIconKeyForName("offer.pdf"), "application-pdf");
    EXPECT_EQ(fileIconKeyForName("Makefile"), "application-x-generic");
    EXPECT_EQ(fileIconKeyForName(".pdf"), "application-x-generic");
    EXPECT_EQ(fileIconKeyForName("archive.tar.gz"), "package-x-generic");
}

TEST(FileBookmarkTest, DamagedBookmarksResolveToNothingWithoutHarm)
{
    TempFolder folder;
    const auto valid = bookmarkData(writeFile(folder.path() / "file.txt"));
    ASSERT_TRUE(valid);
    ASSERT_TRUE(FileBookmark::decode(*valid).index() == 0);

    testing::internal::CaptureStderr();
    for (std::size_t length = 0; length < valid->size(); ++length) {
        const data::Blob truncated(valid->begin(), valid->begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(resolveBookmark(truncated)) << "length " << length;
    }
    data::Blob longer = *valid;
    longer.push_back('x');
    EXPECT_FALSE(resolveBookmark(longer));
    data::Blob hugeLength = *valid;
    hugeLength[48] = 0xff; // the high byte of the path length
    EXPECT_FALSE(resolveBookmark(hugeLength));
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        data::Blob garbage(static_cast<std::size_t>(random() % 128));
        for (auto& byte : garbage)
            byte = static_cast<std::uint8_t>(random());
        if (round % 2 == 0 && garbage.size() >= 5)
            std::copy(valid->begin(), valid->begin() + 5, garbage.begin());
        EXPECT_FALSE(resolveBookmark(garbage));
    }
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output.find("stale"), std::string::npos);
}

TEST(FileBookmarkTest, UnknownVersionAndAnotherDeviceAreStale)
{
    TempFolder folder;
    const fs::path file = writeFile(folder.path() / "file.txt");
    const auto made = FileBookmark::ofFile(file);
    ASSERT_TRUE(std::holds_alternative<FileBookmark>(made));
    FileBookmark bookmark = std::get<FileBookmark>(made);

    data::Blob newer = bookmark.encoded();
    newer[4] = FileBookmark::currentVersion + 1;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(resolveBookmark(newer));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), staleLine);

    bookmark.device += 1;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(resolveBookmark(bookmark.encoded()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), staleLine);
}

TEST(FileBookmarkTest, InodeNumberReusedByAnotherFileIsNotTakenForIt)
{
    TempFolder folder;
    const auto made = FileBookmark::ofFile(writeFile(folder.path() / "file.txt"));
    FileBookmark bookmark = std::get<FileBookmark>(made);
    if (bookmark.birthTime == 0)
        GTEST_SKIP() << "the file system keeps no birth times";
    fs::rename(folder.path() / "file.txt", folder.path() / "renamed.txt");
    bookmark.birthTime += 1; // as if a later file had been given the same inode number
    EXPECT_FALSE(resolveFileBookmark(bookmark.encoded()).path);
}

TEST(FileBookmarkTest, WithoutBirthTimesAFileFoundElsewhereMustKeepItsSizeOrModificationTime)
{
    TempFolder folder;
    const fs::path original = writeFile(folder.path() / "file.txt", "first");
    FileBookmark bookmark = std::get<FileBookmark>(FileBookmark::ofFile(original));
    bookmark.birthTime = 0; // as on a file system that keeps none
    const fs::path renamed = folder.path() / "renamed.txt";
    fs::rename(original, renamed);
    EXPECT_EQ(resolveFileBookmark(bookmark.encoded()).path, renamed);

    // Same inode number, other size and time: a file that merely got the number of a deleted one.
    std::ofstream(renamed, std::ios::binary | std::ios::app) << " and more";
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, renamed.c_str(), times, 0), 0);
    EXPECT_FALSE(resolveFileBookmark(bookmark.encoded()).path);

    // Edited after the move, but the size is unchanged: still the file.
    std::ofstream(renamed, std::ios::binary | std::ios::trunc) << "FIRST";
    EXPECT_EQ(resolveFileBookmark(bookmark.encoded()).path, renamed);
}

TEST(FileBookmarkTest, SearchStaysWithinItsBudgetAndOffSymbolicLinks)
{
    TempFolder home;
    TempFolder outside;
    const ScopedEnvironment environment{{"HOME", home.path().string()}};
    for (int index = 0; index < 50; ++index)
        writeFile(home.path() / "docs" / ("other-" + std::to_string(index) + ".txt"));
    const fs::path original = writeFile(home.path() / "docs" / "file.txt");
    const auto bookmark = bookmarkData(original);
    ASSERT_TRUE(bookmark);

    fs::create_directories(home.path() / "docs" / "sub");
    fs::rename(original, home.path() / "docs" / "sub" / "file.txt");
    EXPECT_FALSE(resolveFileBookmark(*bookmark, {std::chrono::milliseconds(200), 10}).path);
    EXPECT_EQ(resolveFileBookmark(*bookmark).path, home.path() / "docs" / "sub" / "file.txt");

    // Reachable only through a link to a folder outside the searched area: not found.
    fs::create_directories(outside.path() / "x");
    fs::rename(home.path() / "docs" / "sub" / "file.txt", outside.path() / "x" / "file.txt");
    fs::create_directory_symlink(outside.path() / "x", home.path() / "docs" / "link");
    EXPECT_FALSE(resolveFileBookmark(*bookmark).path);
}
