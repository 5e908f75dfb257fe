// The about window: version, copyright line and credits from the information dictionary and the
// compiled-in credits page.
#pragma once

#include "app/info_dictionary.h"

#include <QWidget>

class QLabel;
class QTextBrowser;

namespace app {

class AboutWindow : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(const InfoDictionary& info, QWidget* parent = nullptr);

    QLabel* versionLabel() const { return versionLabel_; }
    QLabel* copyrightLabel() const { return copyrightLabel_; }
    QTextBrowser* creditsView() const { return creditsView_; }

private:
    QLabel* versionLabel_;
    QLabel* copyrightLabel_;
    QTextBrowser* creditsView_;
};

} // namespace app
