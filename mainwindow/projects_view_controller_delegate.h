// What the projects outline tells its owner: a project or timer became selected, a timer was just
// created (before its row exists), or nothing is selected any more.
#pragma once

namespace model {
class Project;
class Timer;
}

namespace mainwindow {

class ProjectsViewController;

class ProjectsViewControllerDelegate {
public:
    virtual ~ProjectsViewControllerDelegate() = default;
    virtual void projectsViewControllerDidSelectProject(ProjectsViewController& controller,
                                                        model::Project& project) = 0;
    virtual void projectsViewControllerDidSelectTimer(ProjectsViewController& controller, model::Timer& timer) = 0;
    virtual void projectsViewControllerDidCreateTimer(ProjectsViewController& controller, model::Timer& timer) = 0;
    virtual void projectsViewControllerDidDeselect(ProjectsViewController& controller) = 0;
};

} // namespace mainwindow
