// Drags of the store's objects and of files as MIME data. A dragged row carries exactly one entry:
// the object's identifier URI as UTF-8 text under the type of its entity (model/pasteboard_types.h).
// Dropped files come as "text/uri-list", of which only local files count.
#pragma once

#include <QString>

#include <filesystem>
#include <memory>
#include <vector>

class QMimeData;

namespace data {
class Object;
class ObjectContext;
}

namespace mainwindow {

// The MIME format of files, and the format that carries dragged objects of an entity.
inline const QString fileListMimeType = QStringLiteral("text/uri-list");
QString pasteboardMimeType(const char* pasteboardType);

// The drag of a project, timer or client; nullptr for an object of another entity.
std::unique_ptr<QMimeData> mimeDataForObject(const data::Object& object);

// The object a drag carries among the live objects of `context`: the project type's text first,
// then the timer's, then the client's; nullptr for none, a stale URI or one of another store.
data::Object* draggedObject(const QMimeData& mimeData, const data::ObjectContext& context);

// The local files of a drop, in their order (repeats kept); empty when there are none. URLs of
// other schemes and file URLs naming another host are left out.
std::vector<std::filesystem::path> droppedFiles(const QMimeData& mimeData);

} // namespace mainwindow
