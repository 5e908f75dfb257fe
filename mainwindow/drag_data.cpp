// The MIME form of dragged store objects and of dropped files.
#include "mainwindow/drag_data.h"

#include "model/client.h"
#include "model/pasteboard_types.h"
#include "model/persistence_controller.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object.h"
#include "data/object_context.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace mainwindow {

namespace {

const char* pasteboardType(const data::Object& object)
{
    if (dynamic_cast<const model::Project*>(&object))
        return model::PasteboardTypes::project;
    if (dynamic_cast<const model::Timer*>(&object))
        return model::PasteboardTypes::timer;
    if (dynamic_cast<const model::Client*>(&object))
        return model::PasteboardTypes::client;
    return nullptr;
}

} // namespace

QString pasteboardMimeType(const char* pasteboardType)
{
    return QString::fromLatin1(pasteboardType);
}

std::unique_ptr<QMimeData> mimeDataForObject(const data::Object& object)
{
    const char* type = pasteboardType(object);
    if (!type)
        return nullptr;
    auto mimeData = std::make_unique<QMimeData>();
    mimeData->setData(pasteboardMimeType(type), QByteArray::fromStdString(object.uriRepresentation()));
    return mimeData;
}

data::Object* draggedObject(const QMimeData& mimeData, const data::ObjectContext& context)
{
    return model::draggedObject(context, [&mimeData](std::string_view type) -> std::optional<std::string> {
        const QString format = QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size()));
        if (!mimeData.hasFormat(format))
            return std::nullopt;
        return mimeData.data(format).toStdString();
    });
}

std::vector<std::filesystem::path> droppedFiles(const QMimeData& mimeData)
{
    std::vector<std::filesystem::path> files;
    if (!mimeData.hasUrls())
        return files;
    for (const QUrl& url : mimeData.urls()) {
        // "file://otherhost/..." names a file of another machine; Qt would turn it into a UNC path.
        const QString host = url.host();
        if (!url.isLocalFile()
            || !(host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0))
            continue;
        QUrl local = url;
        local.setHost(QString()); // "file://localhost/x" is "/x", not the UNC path "//localhost/x"
        const QString path = local.toLocalFile();
        if (path.startsWith(QLatin1Char('/')))
            files.emplace_back(QFile::encodeName(path).toStdString());
    }
    return files;
}

} // namespace mainwindow
