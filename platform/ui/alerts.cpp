// Modal alerts through QMessageBox.
#include "ui/alerts.h"

#include <QMessageBox>

namespace ui {

void runWarningAlert(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}

void runInformationalAlert(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text);
}

} // namespace ui
