// The name an imported client gets from the person's first name, last name and organisation.
#include "model/client_import.h"

#include "model/client.h"
#include "model/data_model.h"
#include "model/fetch_helpers.h"

#include "data/object_context.h"
#include "foundation/notification_center.h"

#include <gtest/gtest.h>

namespace {

using foundation::VCardPerson;

VCardPerson person(std::optional<std::string> first, std::optional<std::string> last,
                   std::optional<std::string> organization)
{
    return VCardPerson{std::move(first), std::move(last), std::move(organization)};
}

TEST(ClientImportTest, PersonalNamesComeFirstAndTheOrganisationOnlyWithoutThem)
{
    EXPECT_EQ(model::importedClientName(person("Jane", "Doe", "ACME")), "Jane Doe");
    EXPECT_EQ(model::importedClientName(person("Jane", std::nullopt, "ACME")), "Jane");
    EXPECT_EQ(model::importedClientName(person(std::nullopt, "Doe", "ACME")), "Doe");
    EXPECT_EQ(model::importedClientName(person(std::nullopt, std::nullopt, "ACME Inc")), "ACME Inc");
    EXPECT_EQ(model::importedClientName(person(std::nullopt, std::nullopt, std::nullopt)), "New Client");
}

TEST(ClientImportTest, TheImportedClientIsANewClientWithThatName)
{
    foundation::NotificationCenter center;
    data::ObjectContext context(model::managedObjectModel(), center);
    model::initInContext<model::Client>(context)->setSortOrder(4);
    model::Client* imported = model::insertClientForPerson(context, person("Jane", "Doe", std::nullopt));
    EXPECT_EQ(imported->name(), "Jane Doe");
    EXPECT_EQ(imported->sortOrder(), 5);
    EXPECT_EQ(model::fetchAll<model::Client>(context).back(), imported);
}

} // namespace
