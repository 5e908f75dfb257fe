// Reads the HTML export's templates from the resources compiled into the export library.
#include "export/html_templates.h"

#include <QFile>

namespace exports {
namespace {

std::string resourceText(const char* name)
{
    QFile file(QStringLiteral(":/export/") + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

const HtmlTemplates& HtmlTemplates::shared()
{
    static const HtmlTemplates templates{resourceText("export_template.html"), resourceText("project_fragment.html"),
                                         resourceText("timer_fragment.html"), resourceText("export.css")};
    return templates;
}

} // namespace exports
