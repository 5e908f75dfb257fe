// The attachments list on real files: drops (links where offered, never a copy or a move), the list's
// height, opening and revealing files, the missing-file alert with its relocate and remove answers, the
// add dialog, the right-click rules, and a drop that does not search for missing files.
#include "inspector_fixture.h"

#include "inspectors/attachments_array_controller.h"
#include "inspectors/attachments_table_view_controller.h"
#include "inspectors/project_inspector_view_controller.h"

#include "model/attachment.h"
#include "ui/modal_test_hook.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTest>

#include <filesystem>
#include <fstream>

using inspectors::AttachmentsTableViewController;

namespace fs = std::filesystem;

namespace {

class AttachmentsTableTest : public testsupport::InspectorFixture {
protected:
    AttachmentsTableTest()
    {
        table().setDesktopServices({[this](const QUrl& link) {
                                        opened_.push_back(link);
                                        return true;
                                    },
                                    [this](const QUrl& file) { revealed_.push_back(file); }});
        pane_.resize(320, 700);
        pane_.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&pane_));
        endTurn();
        pane_.setInspectedObject(website_);
    }

    AttachmentsTableViewController& table() { return *pane_.attachmentsTableViewController(); }
    QTableView& list() { return *table().attachmentsTableView(); }
    const std::vector<model::Attachment*>& rows() { return pane_.attachmentsArrayController().arrangedObjects(); }

    fs::path folder() const { return fs::path(folder_.path().toStdString()); }
    fs::path file(const std::string& name)
    {
        const fs::path path = folder() / name;
        std::ofstream(path) << name;
        return path;
    }
    static QUrl link(const fs::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }
    static std::unique_ptr<QMimeData> dragOf(const QList<QUrl>& urls)
    {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(urls);
        return data;
    }
    void attach(const std::vector<fs::path>& files)
    {
        for (const fs::path& path : files)
            website_->addAttachment(path);
        endTurn();
    }
    void selectRow(int row)
    {
        list().selectionModel()->setCurrentIndex(list().model()->index(row, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void doubleClickRow(int row)
    {
        const QRect rect = list().visualRect(list().model()->index(row, 0));
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list().viewport(), Qt::LeftButton, {}, rect.center());
    }
    std::vector<std::string> folderListing() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    model::Project* website_ = project("Website");
    inspectors::ProjectInspectorViewController pane_{context_.get()};
    QList<QUrl> opened_, revealed_;
};

TEST_F(AttachmentsTableTest, DroppedFilesAndFoldersAreAttachedOnceAndOtherLinksRefused)
{
    const fs::path fileA = file("fileA.txt");
    const fs::path folderB = folder() / "folderB";
    fs::create_directory(folderB);
    const QUrl web(QStringLiteral("https://example.com/report.pdf"));

    EXPECT_FALSE(table().validateDrop(*dragOf({web})));
    EXPECT_FALSE(table().validateDrop(QMimeData()));
    const auto drop = dragOf({link(fileA), link(fileA), web, link(folderB)});
    EXPECT_TRUE(table().validateDrop(*drop));
    EXPECT_TRUE(table().acceptDrop(*drop));
    endTurn();
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows()[0]->fileName(), "fileA.txt");
    EXPECT_EQ(rows()[1]->fileName(), "folderB");
    EXPECT_TRUE(table().acceptDrop(*drop)); // nothing new, still taken
    endTurn();
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_TRUE(eventNames().empty());
    EXPECT_EQ(list().model()->data(list().model()->index(0, 0)).toString(), "fileA.txt");
    EXPECT_FALSE(list().model()->data(list().model()->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());

    pane_.setInspectedObject(nullptr);
    EXPECT_FALSE(table().validateDrop(*drop));
    EXPECT_FALSE(table().acceptDrop(*drop));
}

TEST_F(AttachmentsTableTest, ADropEventIsTakenAsALinkWhereOfferedAndNeverAsAMoveWhereACopyIsOffered)
{
    EXPECT_EQ(inspectors::attachmentDropAction(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction),
              Qt::LinkAction);
    EXPECT_EQ(inspectors::attachmentDropAction(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction), Qt::CopyAction);
    EXPECT_EQ(inspectors::attachmentDropAction(Qt::MoveAction, Qt::MoveAction), Qt::MoveAction);

    const fs::path fileA = file("fileA.txt");
    const auto drag = dragOf({link(fileA)});
    // Below the rows, where no row is: the whole list is the target.
    const QPointF below(10, list().viewport()->height() - 5);
    QDragEnterEvent enter(below.toPoint(), Qt::CopyAction | Qt::MoveAction, drag.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(list().viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(below, Qt::CopyAction | Qt::MoveAction, drag.get(), Qt::LeftButton, {}, QEvent::Drop);
    QCoreApplication::sendEvent(list().viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(website_->attachments().size(), 1u);
    EXPECT_TRUE(fs::exists(fileA));

    const auto web = dragOf({QUrl(QStringLiteral("https://example.com"))});
    QDragEnterEvent refused(below.toPoint(), Qt::LinkAction, web.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(list().viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST_F(AttachmentsTableTest, TheListGrowsWithItsRowsBeyondAHundredPoints)
{
    list().verticalHeader()->setMinimumSectionSize(1);
    list().verticalHeader()->setDefaultSectionSize(20);
    attach({file("1.txt"), file("2.txt"), file("3.txt"), file("4.txt")});
    EXPECT_EQ(list().height(), 100);
    attach({file("5.txt")});
    EXPECT_EQ(list().height(), 105);
    for (model::Attachment* attachment : website_->attachments())
        context_->deleteObject(attachment);
    endTurn();
    EXPECT_EQ(list().height(), 100);
}

TEST_F(AttachmentsTableTest, ADoubleClickOpensTheFileByItsEncodedLinkAndShowRevealsIt)
{
    const fs::path accented = file("a b é.txt");
    attach({accented});
    doubleClickRow(0);
    ASSERT_EQ(opened_.size(), 1);
    const QByteArray encoded = opened_.front().toEncoded();
    EXPECT_TRUE(encoded.startsWith("file:///")) << encoded.toStdString();
    EXPECT_TRUE(encoded.endsWith("/a%20b%20%C3%A9.txt")) << encoded.toStdString();
    EXPECT_EQ(opened_.front().toLocalFile().toStdString(), accented.string());
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Open Attachment"});

    table().showInFinder();
    EXPECT_EQ(revealed_, QList<QUrl>{link(accented)});
    fs::remove(accented);
    table().showInFinder(); // gone: nothing to show, the event all the same
    EXPECT_EQ(revealed_.size(), 1);
    EXPECT_EQ(eventNames(),
              (std::vector<std::string>{"Open Attachment", "Show Attachment in Finder", "Show Attachment in Finder"}));
}

TEST_F(AttachmentsTableTest, AMissingFileOffersRelocationOrRemovalOfItsAttachment)
{
    const fs::path fileA = file("fileA.txt");
    const fs::path fileC = file("fileC.txt");
    attach({fileA});
    model::Attachment* attachment = rows().front();
    fs::remove(fileA);
    const auto disk = folderListing();

    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    doubleClickRow(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !attachment->context(); }, 2000));
    ASSERT_EQ(hook.alerts.size(), 1u);
    const ui::Alert& alert = hook.alerts.front().alert;
    EXPECT_EQ(alert.alertStyle, ui::AlertStyle::critical);
    EXPECT_EQ(alert.messageText, "The attachment could not be found.");
    EXPECT_EQ(alert.informativeText, "The file was either deleted, moved or renamed. Would you like to relocate "
                                     "the file or remove the attachment?");
    EXPECT_EQ(alert.buttons, (QStringList{"Relocate File", "Remove Attachment", "Cancel"}));
    EXPECT_EQ(hook.alerts.front().window, pane_.window());
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_EQ(folderListing(), disk);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Delete Attachment"});
    endTurn();
    EXPECT_TRUE(rows().empty());

    // Relocated to another file, even one attached already; the event comes as the dialog opens.
    attach({file("fileA.txt"), fileC});
    attachment = rows().front();
    ASSERT_EQ(attachment->fileName(), "fileA.txt");
    fs::remove(fileA);
    selectRow(0);
    std::vector<std::string> eventsWhenTheDialogOpened;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertFirstButtonReturn; };
    hook.answerFileDialog = [&](const ui::PresentedFileDialog&) -> std::optional<QStringList> {
        eventsWhenTheDialogOpened = eventNames();
        return QStringList{QString::fromStdString(fileC.string())};
    };
    table().doubleAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return attachment->fileName() == "fileC.txt"; }, 2000));
    EXPECT_EQ(attachment->fileUrl(), fileC);
    EXPECT_EQ(eventsWhenTheDialogOpened, (std::vector<std::string>{"Delete Attachment", "Relocate Attachment"}));
    ASSERT_EQ(hook.fileDialogs.size(), 1u);
    EXPECT_FALSE(hook.fileDialogs.front().save);
    EXPECT_EQ(hook.fileDialogs.front().window, pane_.window());

    // Cancel leaves everything as it was.
    fs::remove(fileC);
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertThirdButtonReturn; };
    selectRow(0);
    table().doubleAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.alerts.size() == 3; }, 2000));
    QTest::qWait(10);
    EXPECT_EQ(website_->attachments().size(), 2u);
    EXPECT_EQ(eventNames().size(), 2u);
}

TEST_F(AttachmentsTableTest, TheAddDialogAttachesTheChosenFileAndCountsEveryOpening)
{
    const fs::path brief = file("brief.txt");
    ui::ModalTestHook hook; // cancels
    table().addAttachment();
    QTest::qWait(10);
    EXPECT_TRUE(website_->attachments().empty());
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Add Attachment"});

    hook.answerFileDialog = [&](const ui::PresentedFileDialog&) -> std::optional<QStringList> {
        return QStringList{QString::fromStdString(brief.string())};
    };
    table().addAttachment();
    ASSERT_TRUE(QTest::qWaitFor([&] { return website_->attachments().size() == 1; }, 2000));
    table().addAttachment(); // the same file again
    QTest::qWait(10);
    EXPECT_EQ(website_->attachments().size(), 1u);
    EXPECT_EQ(hook.fileDialogs.size(), 3u);
    EXPECT_EQ(eventNames().size(), 3u);

    pane_.setInspectedObject(nullptr);
    table().addAttachment();
    EXPECT_EQ(eventNames().size(), 3u);
}

TEST_F(AttachmentsTableTest, ARightClickSelectsTheRowUnderItAndBelowTheRowsOpensNothing)
{
    attach({file("a.txt"), file("b.txt"), file("c.txt")});
    auto& view = *table().attachmentsTableView();
    const auto center = [&](int row) { return view.visualRect(view.model()->index(row, 0)).center(); };
    const auto selectedRows = [&] {
        std::vector<int> selected;
        for (const QModelIndex& index : view.selectionModel()->selectedRows())
            selected.push_back(index.row());
        std::sort(selected.begin(), selected.end());
        return selected;
    };

    EXPECT_EQ(view.menuForEvent(QPoint(5, view.viewport()->height() - 2)), nullptr);
    selectRow(0);
    EXPECT_EQ(view.menuForEvent(center(2)), table().attachmentContextMenu());
    EXPECT_EQ(selectedRows(), std::vector<int>{2});
    EXPECT_EQ(table().selectedAttachment(), rows()[2]);

    view.selectionModel()->select(view.model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(view.menuForEvent(center(1)), table().attachmentContextMenu());
    EXPECT_EQ(selectedRows(), (std::vector<int>{1, 2}));

    // Delete takes the one selected attachment; without a selection nothing happens.
    table().deleteAttachment();
    endTurn();
    EXPECT_EQ(rows().size(), 2u);
    view.clearSelection();
    table().deleteAttachment();
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Delete Attachment"});
}

TEST_F(AttachmentsTableTest, ADropNeverSearchesForTheFilesOfMissingAttachments)
{
    std::vector<fs::path> gone;
    for (int i = 0; i < 3; ++i)
        gone.push_back(file("gone" + std::to_string(i) + ".txt"));
    attach(gone);
    // Made before the others go, so that none takes over the identity (inode) of a missing file.
    QList<QUrl> fresh;
    for (int i = 0; i < 5; ++i)
        fresh << link(file("new" + std::to_string(i) + ".txt"));
    for (const fs::path& path : gone)
        fs::remove(path);

    // A search for a missing file ends in an error line; none may appear.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(table().acceptDrop(*dragOf(fresh)));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors, "");
    EXPECT_EQ(website_->attachments().size(), 8u);
}

} // namespace
