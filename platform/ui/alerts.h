// Modal alerts shared by the controllers: a warning the user must acknowledge and a plain notice.
#pragma once

class QString;
class QWidget;

namespace ui {

void runWarningAlert(QWidget* parent, const QString& title, const QString& text);
void runInformationalAlert(QWidget* parent, const QString& title, const QString& text);

} // namespace ui
