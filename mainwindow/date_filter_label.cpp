// Date filter labels: flat buttons whose text ICU writes from their date.
#include "mainwindow/date_filter_label.h"

#include "foundation/calendar.h"
#include "foundation/locale.h"

namespace mainwindow {

DateFilterLabel::DateFilterLabel(Style style, QWidget* parent) : QPushButton(parent), style_(style)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void DateFilterLabel::setDate(std::optional<foundation::Date> date)
{
    date_ = date;
    if (!date) {
        setText(QString());
        return;
    }
    const foundation::Calendar calendar = foundation::Calendar::current();
    const foundation::Locale locale = foundation::Locale::current(foundation::LocaleCategory::time);
    std::optional<std::string> text;
    switch (style_) {
    case full: text = locale.fullDateText(*date, calendar); break;
    case medium: text = locale.mediumDateText(*date, calendar); break;
    case monthYear: text = locale.monthYearText(*date, calendar); break;
    case year: text = locale.yearText(*date, calendar); break;
    }
    setText(QString::fromStdString(text.value_or(std::string())));
}

} // namespace mainwindow
