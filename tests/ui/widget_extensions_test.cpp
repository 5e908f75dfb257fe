// The shared widget helpers on their edge cases: tinting keeps coverage, lighter colours, animated
// and plain hiding and showing, tri-state checkboxes, background colours, dates in line edits and
// item-view selection without scrolling.
#include "ui/widget_extensions.h"

#include <QAbstractAnimation>
#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <QVBoxLayout>
#include <QValidator>

#include <gtest/gtest.h>

namespace {

TEST(TintedImage, KeepsEveryPixelsCoverageAndLeavesTheSourceAlone)
{
    QImage transparent(8, 8, QImage::Format_ARGB32);
    transparent.fill(Qt::transparent);
    const QImage tintedTransparent = ui::tintedImage(transparent, Qt::white);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(qAlpha(tintedTransparent.pixel(x, y)), 0);

    // An opaque black square on a transparent ground, with one half-covered pixel.
    QImage icon(6, 4, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    for (int y = 1; y < 3; ++y)
        for (int x = 1; x < 4; ++x)
            icon.setPixel(x, y, qRgba(0, 0, 0, 255));
    icon.setPixel(5, 0, qRgba(0, 0, 0, 128));
    const QImage original = icon.copy();

    const QImage white = ui::tintedImage(icon, Qt::white).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(white.size(), icon.size());
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const QRgb before = icon.pixel(x, y);
            const QRgb after = white.pixel(x, y);
            EXPECT_EQ(qAlpha(after), qAlpha(before)) << x << "," << y;
            if (qAlpha(before) == 255) {
                EXPECT_EQ(after, qRgba(255, 255, 255, 255)) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(QColor::fromRgba(white.pixel(5, 0)).red(), 255); // half cover: white, half alpha
    EXPECT_EQ(icon, original);

    QPixmap pixmap = QPixmap::fromImage(icon);
    const QImage fromPixmap = ui::tintedPixmap(pixmap, Qt::red).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(fromPixmap.pixel(2, 2), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(fromPixmap.pixel(0, 0)), 0);
}

TEST(LighterColor, KeepsHueAndAlphaTakesAFifthOfTheSaturationAndFullBrightness)
{
    const QColor red = ui::lighterColor(QColor::fromRgbF(1, 0, 0));
    EXPECT_NEAR(red.hsvHueF(), 0.0, 1e-4);
    EXPECT_NEAR(red.hsvSaturationF(), 0.2, 1e-3);
    EXPECT_NEAR(red.valueF(), 1.0, 1e-4);
    EXPECT_NEAR(red.alphaF(), 1.0, 1e-4);

    // A dark, half-transparent blue: brightness goes to full, not up by a step.
    const QColor blue = ui::lighterColor(QColor::fromHsvF(2.0f / 3.0f, 0.5f, 0.3f, 0.5f));
    EXPECT_NEAR(blue.hsvHueF(), 2.0 / 3.0, 1e-3);
    EXPECT_NEAR(blue.hsvSaturationF(), 0.1, 1e-3);
    EXPECT_NEAR(blue.valueF(), 1.0, 1e-4);
    EXPECT_NEAR(blue.alphaF(), 0.5, 1e-3);

    const QColor black = ui::lighterColor(Qt::black);
    EXPECT_EQ(black.toRgb(), QColor(Qt::white));

    EXPECT_FALSE(ui::lighterColor(QColor()).isValid());
}

TEST(LabelWithText, ShowsTheTextPlainWithoutFrameOrBackground)
{
    const auto label = ui::labelWithText(QStringLiteral("<b>Total</b>"));
    EXPECT_EQ(label->text(), "<b>Total</b>");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(label->autoFillBackground());
    EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
}

class StackedViewsTest : public ::testing::Test {
protected:
    StackedViewsTest()
    {
        auto* layout = new QVBoxLayout(&window);
        for (QLabel*& label : labels) {
            label = new QLabel(QStringLiteral("row"), &window);
            layout->addWidget(label);
        }
        window.show();
    }

    QWidget window;
    QLabel* labels[3] = {};
};

TEST_F(StackedViewsTest, WithoutAnimationOnlyTheVisibilityChanges)
{
    EXPECT_EQ(ui::hideViews(window, {labels[0], labels[2]}, false), nullptr);
    EXPECT_TRUE(labels[0]->isHidden());
    EXPECT_FALSE(labels[1]->isHidden());
    EXPECT_TRUE(labels[2]->isHidden());

    EXPECT_EQ(ui::showViews(window, {labels[0], labels[2]}, false), nullptr);
    EXPECT_FALSE(labels[0]->isHidden());
    EXPECT_FALSE(labels[2]->isHidden());
    EXPECT_EQ(labels[0]->graphicsEffect(), nullptr);
    EXPECT_EQ(labels[2]->graphicsEffect(), nullptr);
    EXPECT_TRUE(window.findChildren<QAbstractAnimation*>().isEmpty());
}

TEST_F(StackedViewsTest, AnimatedHidingRunsOneGroupOfAThirdSecondEvenForNoViews)
{
    QAbstractAnimation* group = ui::hideViews(window, {}, true);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->totalDuration(), 300);
    EXPECT_EQ(group->state(), QAbstractAnimation::Running);
    QPointer<QAbstractAnimation> watched(group);
    EXPECT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 2000)); // deleted once finished

    group = ui::hideViews(window, {labels[1]}, true);
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(labels[1]->isHidden());
    EXPECT_EQ(labels[2]->y(), labels[0]->y() + labels[0]->height() + window.layout()->spacing());
}

TEST_F(StackedViewsTest, AnimatedShowingTakesThePlaceAtOnceAndFadesInToOpaque)
{
    ui::hideViews(window, {labels[0], labels[1]}, false);
    QAbstractAnimation* group = ui::showViews(window, {labels[0], labels[1]}, true);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->totalDuration(), 300);
    for (QLabel* label : {labels[0], labels[1]}) {
        EXPECT_TRUE(label->isVisible());
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(label->graphicsEffect());
        ASSERT_NE(effect, nullptr);
        EXPECT_LT(effect->opacity(), 0.5);
    }
    EXPECT_LT(labels[0]->y(), labels[2]->y()); // already in the layout before the fade ends
    QPointer<QAbstractAnimation> watched(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 2000));
    for (QLabel* label : {labels[0], labels[1]})
        EXPECT_DOUBLE_EQ(qobject_cast<QGraphicsOpacityEffect*>(label->graphicsEffect())->opacity(), 1.0);
    EXPECT_EQ(labels[2]->graphicsEffect(), nullptr);
}

TEST_F(StackedViewsTest, ShowingStoppedEarlyStillLeavesTheViewsOpaque)
{
    QAbstractAnimation* group = ui::showViews(window, {labels[0]}, true);
    ASSERT_NE(group, nullptr);
    group->stop(); // a window closing mid-fade, say: the fade ends where it is
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(labels[0]->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 1.0);
}

TEST(CheckedState, OnlyTheCheckedStateReadsTrue)
{
    QCheckBox checkBox;
    checkBox.setTristate(true);
    checkBox.setCheckState(Qt::PartiallyChecked);
    EXPECT_TRUE(checkBox.isChecked()); // Qt counts "partially" as checked; the helper must not
    EXPECT_FALSE(ui::isChecked(checkBox));
    checkBox.setCheckState(Qt::Checked);
    EXPECT_TRUE(ui::isChecked(checkBox));

    ui::setIsChecked(checkBox, false);
    EXPECT_EQ(checkBox.checkState(), Qt::Unchecked);
    ui::setIsChecked(checkBox, true);
    EXPECT_EQ(checkBox.checkState(), Qt::Checked);

    QPushButton toggle;
    toggle.setCheckable(true);
    ui::setIsChecked(toggle, true);
    EXPECT_TRUE(ui::isChecked(toggle));
}

TEST(BackgroundColor, SetReadAndClear)
{
    QWidget plain;
    EXPECT_EQ(ui::layerBackgroundColor(plain), std::nullopt);

    // Clearing a widget that never had a colour leaves it without one.
    ui::setLayerBackgroundColor(plain, std::nullopt);
    EXPECT_EQ(ui::layerBackgroundColor(plain), std::nullopt);

    QWidget widget;
    QPalette ownText = widget.palette();
    ownText.setColor(QPalette::WindowText, Qt::darkGreen);
    widget.setPalette(ownText);
    ui::setLayerBackgroundColor(widget, QColor(10, 20, 30, 200));
    ASSERT_TRUE(ui::layerBackgroundColor(widget).has_value());
    EXPECT_EQ(*ui::layerBackgroundColor(widget), QColor(10, 20, 30, 200));
    EXPECT_TRUE(widget.autoFillBackground());

    ui::setLayerBackgroundColor(widget, std::nullopt);
    EXPECT_EQ(ui::layerBackgroundColor(widget), std::nullopt);
    EXPECT_FALSE(widget.autoFillBackground());
    EXPECT_EQ(widget.palette().color(QPalette::WindowText), QColor(Qt::darkGreen)); // other roles stay
}

TEST(DateValue, ParsesOnlyWithADateFormatAndAParsableText)
{
    QLineEdit field;
    field.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    field.setText(QStringLiteral("2024-03-05"));
    // A number validator is no date format, however date-like the text.
    QIntValidator numbers;
    field.setValidator(&numbers);
    EXPECT_EQ(ui::dateValue(field), std::nullopt);

    field.setValidator(nullptr);
    ui::setDateFormat(field, QStringLiteral("yyyy-MM-dd"));
    const std::optional<QDateTime> date = ui::dateValue(field);
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(date->date(), QDate(2024, 3, 5));

    field.clear();
    EXPECT_EQ(ui::dateValue(field), std::nullopt);
    field.setText(QStringLiteral("2024-02-30"));
    EXPECT_EQ(ui::dateValue(field), std::nullopt);
    field.setText(QStringLiteral("next tuesday"));
    EXPECT_EQ(ui::dateValue(field), std::nullopt);

    ui::setDateFormat(field, QStringLiteral("MMM d, yyyy h:mm"));
    field.setText(QStringLiteral("Mar 5, 2024 9:30"));
    ASSERT_TRUE(ui::dateValue(field).has_value());
    EXPECT_EQ(ui::dateValue(field)->time(), QTime(9, 30));
}

class ItemSelectionTest : public ::testing::Test {
protected:
    ItemSelectionTest()
    {
        for (int row = 0; row < 100; ++row) {
            auto* item = new QStandardItem(QStringLiteral("Project %1").arg(row));
            item->appendRow(new QStandardItem(QStringLiteral("Task of %1").arg(row)));
            model.appendRow({item, new QStandardItem(QStringLiteral("client"))});
        }
        tree.setModel(&model);
        tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
        tree.setSelectionBehavior(QAbstractItemView::SelectRows);
        tree.resize(300, 200);
        tree.show();
    }

    QStandardItemModel model;
    QTreeView tree;
};

TEST_F(ItemSelectionTest, SelectingReplacesTheSelectionAndDoesNotScroll)
{
    EXPECT_EQ(ui::selectedItem(tree), std::nullopt);

    tree.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    tree.selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ui::selectItem(tree, model.index(3, 0));
    const QModelIndexList rows = tree.selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first(), model.index(3, 0));
    EXPECT_EQ(ui::selectedItem(tree), model.index(3, 0));

    const int scrolledTo = tree.verticalScrollBar()->value();
    ui::selectItem(tree, model.index(90, 0));
    EXPECT_EQ(tree.verticalScrollBar()->value(), scrolledTo);
    EXPECT_EQ(ui::selectedItem(tree), model.index(90, 0));
    EXPECT_TRUE(tree.hasAutoScroll());
}

TEST_F(ItemSelectionTest, SelectedItemIsTheCurrentRowWhenSelectedElseASelectedRow)
{
    tree.selectionModel()->setCurrentIndex(model.index(5, 1),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(ui::selectedItem(tree), model.index(5, 0)); // the row's item, not the clicked column
    tree.selectionModel()->select(model.index(7, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(ui::selectedItem(tree), model.index(7, 0));
    tree.clearSelection();
    EXPECT_EQ(ui::selectedItem(tree), std::nullopt);
}

TEST_F(ItemSelectionTest, AnItemWithoutARowChangesNothing)
{
    ui::selectItem(tree, model.index(4, 0));
    const QModelIndex hiddenChild = model.index(0, 0, model.index(10, 0));
    ui::selectItem(tree, hiddenChild); // its parent is collapsed
    ui::selectItem(tree, QModelIndex());
    QStandardItemModel other;
    other.appendRow(new QStandardItem(QStringLiteral("elsewhere")));
    ui::selectItem(tree, other.index(0, 0));
    tree.setRowHidden(12, QModelIndex(), true);
    ui::selectItem(tree, model.index(12, 0));
    EXPECT_EQ(tree.selectionModel()->selectedRows(), QModelIndexList{model.index(4, 0)});

    tree.expand(model.index(10, 0));
    ui::selectItem(tree, hiddenChild);
    EXPECT_EQ(tree.selectionModel()->selectedRows(), QModelIndexList{hiddenChild});

    QTableView table;
    table.setModel(&model);
    ui::selectItem(table, hiddenChild); // a flat view shows no child rows
    EXPECT_FALSE(table.selectionModel()->hasSelection());
    ui::selectItem(table, model.index(3, 1));
    EXPECT_EQ(ui::selectedItem(table), model.index(3, 0));
}

} // namespace
