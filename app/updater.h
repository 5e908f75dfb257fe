// The update checker's stand-in: on Linux updates come from the system's package manager, so it
// never downloads or installs; it keeps the stored "automatically checks" setting and tells the
// user where updates come from.
#pragma once

namespace foundation {
class DefaultsStore;
}

class QWidget;

namespace app {

class Updater {
public:
    explicit Updater(foundation::DefaultsStore& store) : store_(store) {}

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool checks);

    void checkForUpdates(QWidget* parent);
    // The menu item "Check for Updates…" is always available.
    bool validateMenuItem() const { return true; }

private:
    foundation::DefaultsStore& store_;
};

} // namespace app
