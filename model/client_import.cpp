// The name rule of imported clients and their insertion.
#include "model/client_import.h"

#include "model/client.h"
#include "model/managed_object.h"

namespace model {

std::string importedClientName(const foundation::VCardPerson& person)
{
    if (person.firstName && person.lastName)
        return *person.firstName + " " + *person.lastName;
    if (person.firstName)
        return *person.firstName;
    if (person.lastName)
        return *person.lastName;
    if (person.organization)
        return *person.organization;
    return "New Client";
}

Client* insertClientForPerson(data::ObjectContext& context, const foundation::VCardPerson& person)
{
    auto* client = initInContext<Client>(context);
    client->setName(importedClientName(person));
    return client;
}

} // namespace model
