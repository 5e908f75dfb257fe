// What the clients sidebar tells its owner: which projects to list (a predicate over projects) and
// which client is selected (none for the rows of all projects and of the archive).
#pragma once

#include <functional>

namespace model {
class Client;
class Project;
}

namespace mainwindow {

class ClientsViewController;

// Which projects the outline lists; an empty function lists them all.
using ProjectsPredicate = std::function<bool(const model::Project&)>;

class ClientsViewControllerDelegate {
public:
    virtual ~ClientsViewControllerDelegate() = default;
    virtual void clientsViewControllerApplyPredicate(ClientsViewController& controller, ProjectsPredicate predicate,
                                                     model::Client* selectedClient) = 0;
};

} // namespace mainwindow
