// The inspector column: a host for one pane, or the "No Selection" text.
#include "mainwindow/inspector_container_view_controller.h"

#include <QLabel>
#include <QVBoxLayout>

namespace mainwindow {

InspectorContainerViewController::InspectorContainerViewController(QWidget* parent)
    : QWidget(parent), contentView_(new QWidget(this)), emptyLabel_(new QLabel(tr("No Selection"), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(contentView_);
    layout->addWidget(emptyLabel_);
    auto* contentLayout = new QVBoxLayout(contentView_);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    emptyLabel_->setAlignment(Qt::AlignCenter);
    emptyLabel_->setEnabled(false);
    contentView_->hide();
    setMinimumWidth(220);
}

} // namespace mainwindow
