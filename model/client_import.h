// A client made from a person of the address book: its name comes from the person's first name,
// last name or organisation, in that order of preference; rate, currency and place are a new
// client's.
#pragma once

#include "foundation/vcard_reader.h"

#include <string>

namespace data {
class ObjectContext;
}

namespace model {

class Client;

// First and last name joined by one blank; else the one personal name there is; else the
// organisation, used only without personal names; else "New Client".
std::string importedClientName(const foundation::VCardPerson& person);

// Inserts a client named after the person into `context`.
Client* insertClientForPerson(data::ObjectContext& context, const foundation::VCardPerson& person);

} // namespace model
