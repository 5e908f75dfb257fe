// The currency symbols that currency boxes offer: four common ones first, then how the locale writes
// every common ISO currency. Shared by the preferences window and the inspector panes.
#pragma once

#include <string>
#include <vector>

namespace foundation {
class Locale;
}

namespace model {

// "€", "$", "£", "¥", then how `locale` writes each common ISO 4217 currency, without duplicates.
std::vector<std::string> currencySymbols(const foundation::Locale& locale);
// The same for the user's monetary locale.
std::vector<std::string> currencySymbols();

} // namespace model
