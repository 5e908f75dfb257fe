// Shows the shared controls side by side and writes a picture of them: controls_gallery <file.png>.
// The hover button in each state, a toolbar whose adaptive space centres the segments after it (a
// red line marks the toolbar's middle) and a wrapped autosizing field. Run it under xvfb-run.
#include "ui/adaptive_space_item.h"
#include "ui/autosizing_text_field.h"
#include "ui/hover_button.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <iostream>

namespace {

// A black "play" triangle on a transparent ground, the kind of glyph a row button shows.
QPixmap playGlyph()
{
    QPixmap glyph(14, 14);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(3, 1);
    triangle.lineTo(13, 7);
    triangle.lineTo(3, 13);
    triangle.closeSubpath();
    painter.fillPath(triangle, Qt::black);
    return glyph;
}

ui::HoverButton* galleryButton(QWidget* parent)
{
    auto* button = new ui::HoverButton(parent);
    button->setFixedSize(28, 28);
    button->setImage(playGlyph());
    button->setImageColor(QColor(0x55, 0x55, 0x55));
    button->setHoverImageColor(QColor(0x1d, 0x6f, 0xd6));
    button->setPressedImageColor(QColor(Qt::white));
    button->setBackgroundColor(QColor(0xe4, 0xe4, 0xe4));
    button->setHoverColor(QColor(0xcf, 0xe2, 0xfa));
    button->setPressedColor(QColor(0x1d, 0x6f, 0xd6));
    return button;
}

QWidget* buttonStates(QWidget* parent)
{
    auto* states = new QWidget(parent);
    auto* grid = new QGridLayout(states);
    const QStringList names{QStringLiteral("normal"), QStringLiteral("hovering"), QStringLiteral("pressed"),
                            QStringLiteral("disabled"), QStringLiteral("selected row")};
    for (int column = 0; column < names.size(); ++column) {
        QWidget* cell = new QWidget(states);
        auto* cellLayout = new QHBoxLayout(cell);
        cellLayout->setContentsMargins(8, 8, 8, 8);
        ui::HoverButton* button = galleryButton(cell);
        cellLayout->addWidget(button);
        switch (column) {
        case 1: button->setMouseHovering(true); break;
        case 2: button->setMouseDown(true); break;
        case 3: button->setEnabled(false); break;
        case 4:
            // A selected row's dark ground: the image turns white over any background.
            cell->setAutoFillBackground(true);
            cell->setPalette(QPalette(QColor(0x1d, 0x4f, 0x96)));
            button->setBackgroundStyle(ui::HoverButton::BackgroundStyle::dark);
            button->setBackgroundColor(std::nullopt);
            break;
        default: break;
        }
        grid->addWidget(cell, 0, column, Qt::AlignCenter);
        grid->addWidget(new QLabel(names[column], states), 1, column, Qt::AlignCenter);
    }
    return states;
}

// The toolbar's middle, drawn over it as a thin red line.
class MiddleMark : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(width() / 2, 0, 1, height()), Qt::red);
    }
};

QToolBar* centredToolbar(QWidget* parent)
{
    auto* toolbar = new QToolBar(parent);
    toolbar->layout()->setSpacing(static_cast<int>(ui::AdaptiveSpaceItem::itemSpacing));
    toolbar->addAction(QStringLiteral("Sidebar"));
    toolbar->addAction(QStringLiteral("New Project"));
    toolbar->addAction(new ui::AdaptiveSpaceItem(toolbar));
    auto* segments = new QWidget(toolbar);
    auto* segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    for (const char* title : {"Day", "Week", "Month"}) {
        auto* segment = new QToolButton(segments);
        segment->setText(QString::fromLatin1(title));
        segment->setCheckable(true);
        segment->setChecked(QString::fromLatin1(title) == QStringLiteral("Week"));
        segmentsLayout->addWidget(segment);
    }
    toolbar->addWidget(segments);
    auto* flexible = new QWidget(toolbar);
    flexible->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(flexible);
    toolbar->addAction(QStringLiteral("Inspector"));
    auto* mark = new MiddleMark(toolbar);
    mark->setObjectName(QStringLiteral("middleMark"));
    mark->setAttribute(Qt::WA_TransparentForMouseEvents);
    return toolbar;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: controls_gallery <file.png>\n";
        return 2;
    }
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Shared controls"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Hover button"), &window));
    layout->addWidget(buttonStates(&window));
    layout->addWidget(new QLabel(QStringLiteral("Adaptive space: the segments centred in the toolbar"), &window));
    QToolBar* toolbar = centredToolbar(&window);
    layout->addWidget(toolbar);
    layout->addWidget(new QLabel(QStringLiteral("Autosizing text field, 300 px wide"), &window));
    auto* field = new ui::AutosizingTextField(&window);
    field->setPlainText(QStringLiteral("Call the printer about the proofs before Friday; the second run needs the "
                                       "corrected cover and the new paper stock.\nInvoice after delivery."));
    field->setStyleSheet(QStringLiteral("background: #fffbe6;"));
    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(field);
    fieldRow->addStretch();
    field->setFixedWidth(300);
    layout->addLayout(fieldRow);
    layout->addStretch();
    window.resize(620, 360);
    window.show();

    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 800)
        application.processEvents(QEventLoop::AllEvents, 20);
    // The middle mark covers the toolbar as it is laid out now.
    auto* mark = toolbar->findChild<QWidget*>(QStringLiteral("middleMark"));
    mark->setGeometry(toolbar->rect());
    mark->raise();
    application.processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::cerr << "could not write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
