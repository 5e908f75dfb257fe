// A label of the date filter bar: it holds a date and shows it in one of four styles of the user's
// locale, and it is clickable (the bar opens the date picker from it).
#pragma once

#include "foundation/clock.h"

#include <QPushButton>

#include <optional>

namespace mainwindow {

class DateFilterLabel : public QPushButton {
    Q_OBJECT
public:
    // en_US: full "Tuesday, March 12, 2024", medium "Mar 12, 2024", monthYear "March 2024", year "2024".
    enum Style { full, medium, monthYear, year };

    explicit DateFilterLabel(Style style, QWidget* parent = nullptr);

    std::optional<foundation::Date> date() const { return date_; }
    // Shows the date's local day in the label's style, in the current zone and locale; no text without a date.
    void setDate(std::optional<foundation::Date> date);

private:
    Style style_;
    std::optional<foundation::Date> date_;
};

} // namespace mainwindow
