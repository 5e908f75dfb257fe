// The currency question: how many billed timers a new currency would relabel, and the alert.
#include "inspectors/currency_change_alert.h"

#include "model/project.h"

#include "ui/alerts.h"

#include <QObject>
#include <QWidget>

namespace inspectors {

bool askBeforeRelabellingBilledTimers(QWidget& window, model::Project& project, const std::string& newCurrency,
                                      std::function<void()> change, std::function<void()> cancelled)
{
    const std::size_t billed = project.billedTimersRelabelledBy(newCurrency);
    if (billed == 0)
        return true;
    const QString currency = QString::fromStdString(newCurrency);
    const QString timers = billed == 1 ? QObject::tr("1 billed timer") : QObject::tr("%1 billed timers").arg(billed);
    ui::Alert{ui::AlertStyle::warning,
              QObject::tr("Change the currency of “%1” to %2?")
                  .arg(QString::fromStdString(project.name().value_or("")), currency),
              QObject::tr("%1 of this project will be shown in %2. Their amounts stay as they were billed.")
                  .arg(timers, currency),
              {QObject::tr("Change"), QObject::tr("Cancel")}}
        .beginSheetModal(window, [object = static_cast<data::Object*>(&project), change = std::move(change),
                                  cancelled = std::move(cancelled)](ui::ModalResponse response) {
            if (response == ui::alertFirstButtonReturn && !object->isDeleted())
                change();
            else if (cancelled)
                cancelled();
        });
    return false;
}

} // namespace inspectors
