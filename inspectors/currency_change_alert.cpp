// The currency question: how many billed timers a new currency would relabel, and the alert.
#include "inspectors/currency_change_alert.h"

#include "model/client.h"
#include "model/project.h"

#include "ui/alerts.h"

#include <QObject>
#include <QWidget>

namespace inspectors {

namespace {

// Asks whether `billed` timers of `subject`, named `name`, may be shown in `newCurrency`; `whose` is the
// informative text with the count (%1) and the currency (%2) still to fill in.
void ask(QWidget& window, data::Object& subject, const std::optional<std::string>& name, std::size_t billed,
         const std::string& newCurrency, const QString& whose, std::function<void()> change,
         std::function<void()> cancelled)
{
    const QString currency = QString::fromStdString(newCurrency);
    const QString timers = billed == 1 ? QObject::tr("1 billed timer") : QObject::tr("%1 billed timers").arg(billed);
    ui::Alert{
        ui::AlertStyle::warning,
        QObject::tr("Change the currency of “%1” to %2?").arg(QString::fromStdString(name.value_or("")), currency),
        whose.arg(timers, currency),
        {QObject::tr("Change"), QObject::tr("Cancel")}}
        .beginSheetModal(window, [object = &subject, change = std::move(change),
                                  cancelled = std::move(cancelled)](ui::ModalResponse response) {
            if (response == ui::alertFirstButtonReturn && !object->isDeleted())
                change();
            else if (cancelled)
                cancelled();
        });
}

} // namespace

bool askBeforeRelabellingBilledTimers(QWidget& window, model::Project& project, const std::string& newCurrency,
                                      std::function<void()> change, std::function<void()> cancelled)
{
    const std::size_t billed = project.billedTimersRelabelledBy(newCurrency);
    if (billed == 0)
        return true;
    ask(window, project, project.name(), billed, newCurrency,
        QObject::tr("%1 of this project will be shown in %2. Their amounts stay as they were billed."),
        std::move(change), std::move(cancelled));
    return false;
}

bool askBeforeRelabellingBilledTimers(QWidget& window, model::Client& client,
                                      const std::optional<std::string>& newCurrency, std::function<void()> change,
                                      std::function<void()> cancelled)
{
    const std::size_t billed = client.billedTimersRelabelledBy(newCurrency);
    if (billed == 0)
        return true;
    // The currency the client's projects would show: the new one, or the locale's when it is none.
    ask(window, client, client.name(), billed, model::Project::currencyOf(newCurrency, nullptr),
        QObject::tr("%1 of this client's projects will be shown in %2. Their amounts stay as they were billed."),
        std::move(change), std::move(cancelled));
    return false;
}

} // namespace inspectors
