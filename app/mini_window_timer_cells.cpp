// The mini window's timer rows, their duration badge and the table that holds them.
#include "app/mini_window_timer_cells.h"

#include "model/duration_value_transformer.h"
#include "model/project.h"
#include "model/timer.h"
#include "ui/hover_button.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QVBoxLayout>

namespace app {

namespace {

constexpr int badgeHeight = 20;
constexpr int rowButtonSize = 24;

QColor white()
{
    return QColor(Qt::white);
}

void setTextColor(QLabel& label, const QColor& color)
{
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
}

ui::HoverButton* makeRowButton(QWidget* parent, const QString& imageName)
{
    auto* button = new ui::HoverButton(parent);
    button->setFixedSize(rowButtonSize, rowButtonSize);
    button->setImage(miniWindowButtonImage(imageName));
    button->setProperty("imageName", imageName);
    button->setBackgroundColor(QColor(0xe4, 0xe4, 0xe4));
    button->setHoverColor(QColor(0xd6, 0xe6, 0xfb));
    button->setPressedColor(QColor(0x2f, 0x7c, 0xf6));
    button->setImageColor(QColor(0x55, 0x55, 0x55));
    button->setHoverImageColor(QColor(0x2f, 0x7c, 0xf6));
    button->setPressedImageColor(white());
    return button;
}

} // namespace

QPixmap miniWindowButtonImage(const QString& name)
{
    QPixmap image(12, 12);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    if (name == QLatin1String("play")) {
        QPainterPath triangle;
        triangle.moveTo(2, 1);
        triangle.lineTo(11, 6);
        triangle.lineTo(2, 11);
        triangle.closeSubpath();
        painter.drawPath(triangle);
    } else if (name == QLatin1String("pause")) {
        painter.drawRect(QRectF(2, 1, 3, 10));
        painter.drawRect(QRectF(7, 1, 3, 10));
    } else {
        painter.drawRect(QRectF(2, 2, 8, 8));
    }
    return image;
}

TimerDurationView::TimerDurationView(QWidget* parent)
    : ui::RoundRectView(parent), tintColor_(palette().color(QPalette::Button))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    durationLabel_ = new QLabel(this);
    durationLabel_->setAlignment(Qt::AlignCenter);
    QFont font = durationLabel_->font();
    font.setBold(true);
    durationLabel_->setFont(font);
    layout->addWidget(durationLabel_);
}

void TimerDurationView::setEnabled(bool enabled)
{
    enabled_ = enabled;
    updateColors();
}

void TimerDurationView::roundEnds()
{
    ui::RoundRectView::roundEnds();
    updateColors();
}

void TimerDurationView::updateColors()
{
    if (enabled_) {
        setFillColor(tintColor_);
        setBorder(std::nullopt, 0.0);
        if (durationLabel_)
            setTextColor(*durationLabel_, white());
    } else {
        setFillColor(std::nullopt);
        setBorder(tintColor_, 1.0);
        if (durationLabel_)
            setTextColor(*durationLabel_, tintColor_.value_or(palette().color(QPalette::WindowText)));
    }
}

MiniWindowTimerTableCellView::MiniWindowTimerTableCellView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 10, 0);
    layout->setSpacing(6);
    togglePauseButton_ = makeRowButton(this, QStringLiteral("pause"));
    stopButton_ = makeRowButton(this, QStringLiteral("stop"));
    layout->addWidget(togglePauseButton_);
    layout->addWidget(stopButton_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    projectLabel_ = new QLabel(this);
    QFont bold = projectLabel_->font();
    bold.setBold(true);
    projectLabel_->setFont(bold);
    notesLabel_ = new QLabel(this);
    setTextColor(*notesLabel_, QColor(0x80, 0x80, 0x80));
    for (QLabel* label : {projectLabel_, notesLabel_}) {
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(1);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        texts->addWidget(label);
    }
    layout->addLayout(texts, 1);

    durationView_ = new TimerDurationView(this);
    durationView_->setTintColor(QColor(0x2f, 0x7c, 0xf6));
    durationView_->setFixedHeight(badgeHeight);
    durationView_->setMinimumWidth(durationView_->sizeHint().width());
    durationView_->roundEnds();
    layout->addWidget(durationView_);

    connect(togglePauseButton_, &QAbstractButton::clicked, this,
            [this] { emit togglePauseRequested(togglePauseButton_); });
    connect(stopButton_, &QAbstractButton::clicked, this, [this] { emit stopRequested(stopButton_); });
    updateView();
}

void MiniWindowTimerTableCellView::setObjectValue(model::Timer* timer)
{
    timer_ = timer;
    updateView();
}

void MiniWindowTimerTableCellView::updateView()
{
    const bool paused = timer_ && timer_->activePauseEntry() != nullptr;
    const QString imageName = paused ? QStringLiteral("play") : QStringLiteral("pause");
    if (togglePauseButton_ && togglePauseButton_->property("imageName").toString() != imageName) {
        togglePauseButton_->setImage(miniWindowButtonImage(imageName));
        togglePauseButton_->setProperty("imageName", imageName);
    }
    if (durationView_)
        durationView_->setEnabled(!paused);
    if (projectLabel_) {
        const model::Project* project = timer_ ? timer_->project() : nullptr;
        projectLabel_->setText(project ? QString::fromStdString(project->name().value_or("")) : QString());
    }
    if (notesLabel_) {
        const std::string notes = timer_ ? timer_->notes().value_or("") : std::string();
        notesLabel_->setText(QString::fromStdString(notes).simplified());
        notesLabel_->setVisible(!notes.empty());
    }
}

void MiniWindowTimerTableCellView::updateDuration()
{
    if (!timer_ || !durationView_ || !durationView_->durationLabel())
        return;
    if (const auto text = durationValueTransformer().transformedValue(std::any(timer_->duration())))
        durationView_->durationLabel()->setText(QString::fromStdString(*text));
}

const model::DurationValueTransformer& MiniWindowTimerTableCellView::durationValueTransformer()
{
    static const model::DurationValueTransformer transformer;
    return transformer;
}

MiniWindowTimerTableView::MiniWindowTimerTableView(QWidget* parent) : QTableWidget(parent)
{
    setColumnCount(1);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(44);
    setShowGrid(false); // the row lines are drawn by paintEvent, only under rows that exist
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(11);
}

QRect MiniWindowTimerTableView::drawGridInClipRect(const QRect& clip) const
{
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const int lastTop = rowViewportPosition(rows - 1);
    const QRect limit(0, 0, viewport()->width(), lastTop + rowHeight(rows - 1));
    return clip.intersected(limit);
}

int MiniWindowTimerTableView::rowForView(const QWidget* view) const
{
    for (; view; view = view->parentWidget()) {
        if (view == viewport())
            return -1;
        if (auto* cell = qobject_cast<const MiniWindowTimerTableCellView*>(view)) {
            for (int row = 0; row < rowCount(); ++row) {
                if (cellWidget(row, 0) == cell)
                    return row;
            }
            return -1;
        }
    }
    return -1;
}

MiniWindowTimerTableCellView* MiniWindowTimerTableView::cellAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return qobject_cast<MiniWindowTimerTableCellView*>(cellWidget(row, 0));
}

std::vector<int> MiniWindowTimerTableView::visibleRows() const
{
    std::vector<int> rows;
    const int height = viewport()->height();
    for (int row = rowAt(0); row >= 0 && row < rowCount(); ++row) {
        if (rowViewportPosition(row) >= height)
            break;
        rows.push_back(row);
    }
    return rows;
}

void MiniWindowTimerTableView::paintEvent(QPaintEvent* event)
{
    QTableWidget::paintEvent(event);
    const QRect area = drawGridInClipRect(event->rect());
    if (area.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setClipRect(area);
    painter.setPen(QColor(0xe0, 0xe0, 0xe0));
    for (int row = rowAt(area.top()); row >= 0 && row < rowCount(); ++row) {
        const int bottom = rowViewportPosition(row) + rowHeight(row) - 1;
        if (bottom > area.bottom())
            break;
        painter.drawLine(0, bottom, viewport()->width(), bottom);
    }
}

} // namespace app
