// The mini window panel and its controller: flags, shape, closing on the loss of activation, and
// undo and redo on the store's context.
#include "app/mini_window.h"

#include "app/mini_window_background_view.h"
#include "app/mini_window_view_controller.h"

#include "data/object_context.h"
#include "data/undo_manager.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QResizeEvent>
#include <QShortcut>
#include <QVBoxLayout>
#include <qpa/qplatformnativeinterface.h>

namespace app {

namespace {

// Whether the screen's windows are composited, so a transparent window shows what lies under it.
// Only the X11 platform tells; anywhere else the panel clips itself, which is right everywhere.
bool compositingActive(const QScreen* screen)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native || QGuiApplication::platformName() != QLatin1String("xcb") || !screen)
        return false;
    return native->nativeResourceForScreen(QByteArrayLiteral("compositingenabled"), const_cast<QScreen*>(screen))
           != nullptr;
}

} // namespace

MiniWindow::MiniWindow() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    // The flags are set once here: changing a shown window's flags would hide it.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setWindowTitle(QStringLiteral("Horavine"));
    backgroundView_ = new MiniWindowBackgroundView(this);
    backgroundView_->lower();
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, static_cast<int>(backgroundView_->arrowSize().height()), 0, 0);
    layout->setSpacing(0);
    connect(backgroundView_, &MiniWindowBackgroundView::shapeChanged, this, &MiniWindow::updateMask);
}

void MiniWindow::setContentView(QWidget* content)
{
    if (content_)
        layout()->removeWidget(content_);
    content_ = content;
    if (content_) {
        content_->setParent(this);
        content_->setFixedWidth(panelWidth);
        layout()->addWidget(content_);
    }
}

void MiniWindow::setArrow(ArrowEdge edge, qreal tip)
{
    const int arrow = static_cast<int>(backgroundView_->arrowSize().height());
    layout()->setContentsMargins(0, edge == ArrowEdge::top ? arrow : 0, 0, edge == ArrowEdge::bottom ? arrow : 0);
    backgroundView_->setArrow(edge, tip);
}

void MiniWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // A pop-up (the project choice, the action menu) leaves the panel the active window.
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow())
        emit didResignKey();
}

void MiniWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    backgroundView_->setGeometry(rect());
    // Opened above the icon, the panel grows and shrinks upwards so its arrow stays at the icon.
    if (backgroundView_->arrowEdge() == ArrowEdge::bottom && event->oldSize().isValid() && isVisible())
        move(x(), y() + event->oldSize().height() - event->size().height());
    updateMask();
}

void MiniWindow::updateMask()
{
    clipsToShape_ = !compositingActive(screen());
    if (clipsToShape_)
        setMask(QRegion(backgroundView_->outline().toFillPolygon().toPolygon()));
    else
        clearMask();
}

MiniWindowController::MiniWindowController(data::ObjectContext* context, MonotonicClock now, QObject* parent)
    : QObject(parent), context_(context), now_(std::move(now)), window_(std::make_unique<MiniWindow>())
{
    viewController_ = new MiniWindowViewController(context_, window_.get());
    window_->setContentView(viewController_);
    window_->adjustSize();
    connect(window_.get(), &MiniWindow::didResignKey, this, &MiniWindowController::windowDidResignKey);
    // Undo and redo typed in the panel act on the store, as in the main window.
    auto* undo = new QShortcut(QKeySequence::Undo, window_.get());
    connect(undo, &QShortcut::activated, this, [this] {
        if (context_)
            context_->undoManager().undo();
    });
    auto* redo = new QShortcut(QKeySequence::Redo, window_.get());
    connect(redo, &QShortcut::activated, this, [this] {
        if (context_)
            context_->undoManager().redo();
    });
}

MiniWindowController::~MiniWindowController() = default;

void MiniWindowController::windowDidResignKey()
{
    if (!window_->isVisible())
        return;
    window_->close();
    lastResignKeyClose_ = now_();
}

bool MiniWindowController::closedByResignKeyWithin(std::chrono::milliseconds within) const
{
    return lastResignKeyClose_ && now_() - *lastResignKeyClose_ <= within;
}

} // namespace app
