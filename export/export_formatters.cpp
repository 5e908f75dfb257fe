// The export's formatters and rendering rules on top of foundation's locale-aware texts.
#include "export/export_formatters.h"

#include "model/dates.h"
#include "model/enums.h"
#include "model/timer.h"

#include "foundation/locale.h"

namespace exports {

using foundation::DateTextStyle;

ExportFormatters::ExportFormatters(foundation::Calendar calendar, std::string_view timeLocaleId,
                                   const model::CurrencyFormatter& currency)
    : calendar_(std::move(calendar)),
      date_(foundation::Locale(timeLocaleId), DateTextStyle::mediumStyle, DateTextStyle::none),
      dateTime_(foundation::Locale(timeLocaleId), DateTextStyle::mediumStyle, DateTextStyle::shortStyle),
      interval_(foundation::Locale(timeLocaleId), DateTextStyle::shortStyle, DateTextStyle::shortStyle),
      currency_(currency)
{}

const ExportFormatters& ExportFormatters::shared()
{
    static const ExportFormatters formatters(foundation::Calendar::current(),
                                             foundation::localeIdFromEnvironment(foundation::LocaleCategory::time),
                                             model::CurrencyFormatter::shared());
    return formatters;
}

foundation::Date ExportFormatters::nowToMinute() const
{
    return calendar_.truncatedToMinute(foundation::now());
}

std::string ExportFormatters::dateText(foundation::Date date) const
{
    return date_.text(date, calendar_).value_or(std::string());
}

std::string ExportFormatters::dateTimeText(foundation::Date date) const
{
    return dateTime_.text(date, calendar_).value_or(std::string());
}

std::string ExportFormatters::intervalText(foundation::Date from, foundation::Date to) const
{
    return interval_.text(from, to, calendar_).value_or(std::string());
}

std::optional<std::string> ExportFormatters::moneyText(const foundation::Decimal& amount,
                                                       std::optional<std::string_view> currency) const
{
    return currency_.string(amount, currency);
}

std::string ExportFormatters::timerDateText(const model::Timer& timer, bool withStartEnd, foundation::Date now) const
{
    const std::optional<foundation::Date> start = timer.start();
    if (!start)
        return {};
    if (timer.type() != model::rawValue(model::TimerType::period))
        return dateText(*start);
    if (withStartEnd)
        return intervalText(*start, timer.end().value_or(now));
    return dateTimeText(*start);
}

std::string clockDurationText(std::int64_t minutes)
{
    return model::clockDuration(minutes);
}

std::string durationText(std::int64_t minutes)
{
    // The program's own text joins hours and minutes with a no-break space; a document people search,
    // paste and read elsewhere gets the ordinary one.
    static constexpr std::string_view noBreakSpace = "\u00A0";
    const std::string formatted = model::formattedDuration(minutes);
    std::string text;
    text.reserve(formatted.size());
    std::string_view rest = formatted;
    for (auto at = rest.find(noBreakSpace); at != std::string_view::npos; at = rest.find(noBreakSpace)) {
        text.append(rest.substr(0, at)).push_back(' ');
        rest.remove_prefix(at + noBreakSpace.size());
    }
    text.append(rest);
    return text;
}

} // namespace exports
