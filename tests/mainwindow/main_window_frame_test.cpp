// The main window's first frame on screens of different sizes: inside the available area, centred
// when nothing is remembered, and never narrower than its toolbar needs when the screen allows.
// ctest also runs these on a 1024x700 and a 3840x2160 offscreen screen (HORAVINE_TEST_SCREEN).
#include "mainwindow/main_window_controller.h"

#include "store_fixture.h"

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <QWidgetAction>

#include <cstdlib>

using namespace mainwindow;

namespace {

class MainWindowFrameTest : public testsupport::StoreFixture {
protected:
    MainWindowFrameTest()
    {
        screen_ = QGuiApplication::primaryScreen();
        available_ = screen_->availableGeometry();
    }

    // The toolbar's items that are not spacers, each of which must lie inside the window.
    static std::vector<QWidget*> toolbarItems(const MainWindowController& window)
    {
        std::vector<QWidget*> items;
        auto* toolbar = window.findChild<QToolBar*>("toolbar");
        for (QAction* action : toolbar->actions()) {
            QWidget* widget = toolbar->widgetForAction(action);
            if (widget && widget->sizePolicy().horizontalPolicy() != QSizePolicy::Expanding && !action->isSeparator())
                items.push_back(widget);
        }
        return items;
    }

    static std::string text(const QRect& rect)
    {
        return QStringLiteral("%1,%2 %3x%4")
            .arg(rect.x())
            .arg(rect.y())
            .arg(rect.width())
            .arg(rect.height())
            .toStdString();
    }

    QScreen* screen_ = nullptr;
    QRect available_;
};

TEST_F(MainWindowFrameTest, TheScreenIsTheOneCtestAskedFor)
{
    const char* wanted = std::getenv("HORAVINE_TEST_SCREEN");
    if (!wanted)
        GTEST_SKIP() << "the default offscreen screen";
    const QSize size = screen_->size();
    EXPECT_EQ(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), QString::fromLatin1(wanted));
}

TEST_F(MainWindowFrameTest, AFirstWindowIsCentredInsideTheAvailableArea)
{
    MainWindowController window(context_.get(), *defaults_);
    window.show();
    const QRect frame = window.frameGeometry();
    EXPECT_TRUE(available_.contains(frame)) << text(frame);
    const QSize decorations = frame.size() - window.size();
    EXPECT_EQ(window.size(), MainWindowController::defaultSize.boundedTo(available_.size() - decorations));
    EXPECT_LE(std::abs(frame.center().x() - available_.center().x()), decorations.width() + 1);
    EXPECT_LE(std::abs(frame.center().y() - available_.center().y()), decorations.height() + 1);
}

TEST_F(MainWindowFrameTest, ARememberedFrameLargerThanTheScreenComesBackInsideIt)
{
    {
        MainWindowController window(context_.get(), *defaults_);
        window.show();
        window.setMinimumSize(0, 0);
        window.setGeometry(available_.left() - 300, available_.top() - 200, available_.width() + 2000,
                           available_.height() + 1000);
        window.close();
    }
    MainWindowController reopened(context_.get(), *defaults_);
    reopened.show();
    EXPECT_TRUE(available_.contains(reopened.frameGeometry())) << text(reopened.frameGeometry());
    EXPECT_EQ(reopened.frameGeometry().size(), available_.size());
}

TEST_F(MainWindowFrameTest, AtItsMinimumSizeEveryToolbarItemIsInsideTheWindow)
{
    MainWindowController window(context_.get(), *defaults_);
    EXPECT_LE(window.minimumWidth(), available_.width());
    EXPECT_LE(window.minimumHeight(), available_.height());
    if (window.minimumFrameSize().width() > available_.width())
        GTEST_SKIP() << "a screen narrower than the toolbar";
    window.resize(window.minimumSize());
    window.show();
    const auto items = toolbarItems(window);
    ASSERT_GE(items.size(), 6u);
    for (QWidget* item : items) {
        EXPECT_TRUE(item->isVisible()) << item->objectName().toStdString();
        const QRect inWindow(item->mapTo(&window, QPoint(0, 0)), item->size());
        EXPECT_TRUE(window.rect().contains(inWindow)) << item->objectName().toStdString();
    }
}

} // namespace
