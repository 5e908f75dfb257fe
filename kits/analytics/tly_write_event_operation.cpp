// The write: one open (write-only, create, append, 0644), up to three write calls per line, one close.
// A line that went in only in part is cut off again (and a new file that got no whole metadata line is
// removed), so a failed write never leaves a broken line for the next event to follow.

#include "kits/analytics/tly_write_event_operation.h"

#include "foundation/property_list_json.h"
#include "kits/analytics/tly_logger.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kits {

namespace {

constexpr const char* label = "WriteOperation";

void logWrite(const std::string& text)
{
    TLYLogger::sharedLogger().logWithLabel(label, text);
}

} // namespace

TLYWriteEventOperation::TLYWriteEventOperation(std::shared_ptr<const TLYEvent> event,
                                               std::shared_ptr<const TLYMetadataSerializable> metadata,
                                               std::filesystem::path logFileUrl)
    : event_(std::move(event)), metadata_(std::move(metadata)), logFileUrl_(std::move(logFileUrl))
{
    if (!event_)
        return;
    const foundation::Date timestamp = event_->timestamp();
    const std::uint64_t milliseconds = millisecondsSince1970(timestamp);
    formattedEvent_ = logLineWithTimestamp(milliseconds, event_->name(), event_->dictionaryRepresentation());
    if (metadata_)
        formattedMetadata_ =
            logLineWithTimestamp(milliseconds, metadata_->eventName(),
                                 metadata_->dictionaryRepresentationWithStartTime(milliseconds / 1000));
}

std::uint64_t TLYWriteEventOperation::millisecondsSince1970(foundation::Date date)
{
    const double milliseconds = foundation::secondsSinceEpoch(date) * 1000.0;
    if (!(milliseconds > 0))
        return 0;
    return static_cast<std::uint64_t>(std::trunc(milliseconds));
}

std::optional<std::string>
TLYWriteEventOperation::logLineWithTimestamp(std::uint64_t milliseconds, const std::string& eventName,
                                             const std::optional<foundation::PropertyListDictionary>& payload)
{
    if (!payload)
        return std::nullopt;
    const std::string json = foundation::jsonFromPropertyList(*payload);
    return std::to_string(milliseconds) + "\t" + eventName + "\t" + std::to_string(json.size()) + "\t" + json;
}

void TLYWriteEventOperation::main()
{
    success_ = false;
    // Without both lines nothing can be written; checked before the open, so no empty log is made
    // that a later event would then fill without its metadata line.
    if (!formattedEvent_ || !formattedMetadata_)
        return;
    std::error_code error;
    if (std::filesystem::is_directory(logFileUrl_, error))
        return;
    const bool preexisting = std::filesystem::exists(logFileUrl_, error);
    const int descriptor = ::open(logFileUrl_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return;
    bool written = writeDataToDescriptor(descriptor, preexisting);
    if (::close(descriptor) != 0) {
        logWrite(std::string("Failed to close file, error: ") + std::strerror(errno));
        written = false;
    }
    success_ = written;
}

bool TLYWriteEventOperation::writeDataToDescriptor(int fileDescriptor, bool preexistingFile) const
{
    struct stat status {};
    const off_t start = ::fstat(fileDescriptor, &status) == 0 ? status.st_size : -1;
    const auto undo = [&] {
        if (!preexistingFile)
            ::unlink(logFileUrl_.c_str());
        else if (start >= 0 && ::ftruncate(fileDescriptor, start) != 0)
            logWrite(std::string("Failed to cut off a partial line: ") + std::strerror(errno));
    };
    if (!preexistingFile && !appendLogLine(*formattedMetadata_, fileDescriptor)) {
        undo();
        return false;
    }
    if (!appendLogLine(*formattedEvent_, fileDescriptor)) {
        // A new file keeps nothing: without its event it would be a log of metadata only.
        undo();
        return false;
    }
    return true;
}

bool TLYWriteEventOperation::appendLogLine(const std::string& line, int fileDescriptor)
{
    const std::string bytes = line + "\n";
    const auto writeOnce = [fileDescriptor](const char* data, std::size_t length) {
        ssize_t count;
        do
            count = ::write(fileDescriptor, data, length);
        while (count < 0 && errno == EINTR);
        return count;
    };
    ssize_t written = writeOnce(bytes.data(), bytes.size());
    if (written < 0)
        logWrite(std::string("Failed to write: ") + std::strerror(errno));
    if (written == static_cast<ssize_t>(bytes.size()))
        return true;
    std::size_t done = 0;
    for (int retries = 0;; ++retries) {
        const std::size_t remaining = bytes.size() - done;
        if (written < 0 || static_cast<std::size_t>(written) > remaining) {
            logWrite("Error: length doesn't make sense (" + std::to_string(written) + ", " + std::to_string(remaining)
                     + ")");
            return false;
        }
        if (written == 0 || retries == 2) {
            logWrite("Error: exited write loop without success");
            return false;
        }
        done += static_cast<std::size_t>(written);
        written = writeOnce(bytes.data() + done, bytes.size() - done);
        if (written == static_cast<ssize_t>(bytes.size() - done))
            return true;
    }
}

} // namespace kits
