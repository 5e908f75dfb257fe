// The about window's contents.
#include "app/about_window.h"

#include <QFile>
#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace app {

AboutWindow::AboutWindow(const InfoDictionary& info, QWidget* parent)
    : QWidget(parent, Qt::Window), versionLabel_(new QLabel(this)), copyrightLabel_(new QLabel(this)),
      creditsView_(new QTextBrowser(this))
{
    setWindowTitle(tr("About Horavine"));
    auto* title = new QLabel(QStringLiteral("<b>Horavine</b>"), this);
    // A missing entry leaves its field empty.
    if (const std::string* version = infoString(info, "CFBundleShortVersionString"))
        versionLabel_->setText(QStringLiteral("V ") + QString::fromStdString(*version));
    if (const std::string* copyright = infoString(info, "NSHumanReadableCopyright"))
        copyrightLabel_->setText(QString::fromStdString(*copyright));
    copyrightLabel_->setWordWrap(true);

    QFile credits(QStringLiteral(":/credits.html"));
    if (credits.open(QIODevice::ReadOnly))
        creditsView_->setHtml(QString::fromUtf8(credits.readAll()));
    creditsView_->setOpenExternalLinks(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(versionLabel_);
    layout->addWidget(creditsView_);
    layout->addWidget(copyrightLabel_);
    resize(420, 320);
}

} // namespace app
