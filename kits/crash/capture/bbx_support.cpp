// The crash kit's support functions on Linux: the main bundle's dictionary, the activity register,
// CLOCK_MONOTONIC, process_vm_readv (with a pipe where that call is refused) and dladdr.
#include "kits/crash/capture/bbx_support.h"

#include "foundation/main_bundle.h"
#include "foundation/scheduler.h"
#include "kits/crash/capture/bbx_allocator.h"
#include "kits/crash/capture/bbx_sdk_log.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

std::atomic<BBXAllocator*> duplicateStringAllocator{nullptr};
thread_local std::size_t stringLengthProbes = 0;

// Copies through a pipe: write() reports an unreadable source as EFAULT instead of faulting.
bool readThroughPipe(const void* address, void* destination, std::size_t length)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    bool ok = true;
    const auto* from = static_cast<const char*>(address);
    auto* to = static_cast<char*>(destination);
    while (ok && length > 0) {
        const std::size_t chunk = length < 4096 ? length : 4096; // below the pipe's capacity: never blocks
        ok = ::write(ends[1], from, chunk) == static_cast<ssize_t>(chunk)
             && ::read(ends[0], to, chunk) == static_cast<ssize_t>(chunk);
        from += chunk;
        to += chunk;
        length -= chunk;
    }
    ::close(ends[0]);
    ::close(ends[1]);
    return ok;
}

} // namespace

std::optional<std::string> BBXApplicationExtensionPointIdentifier()
{
    const auto extension = foundation::MainBundle::objectForInfoDictionaryKey("NSExtension");
    if (!extension)
        return std::nullopt;
    const auto* dictionary = extension->get<foundation::PropertyListDictionary>();
    if (!dictionary) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: NSExtension Info.plist entry is mal-formed\n");
        return std::nullopt;
    }
    const auto* identifier = dictionary->get<std::string>("NSExtensionPointIdentifier");
    if (!identifier) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n");
        return std::nullopt;
    }
    return *identifier;
}

bool BBXApplicationIsExtension()
{
    return BBXApplicationExtensionPointIdentifier().has_value();
}

void* BBXApplicationSharedInstance()
{
    return nullptr;
}

std::unique_ptr<BBXActivityToken> BBXApplicationBeginActivity(std::uint64_t options, const std::string& reason)
{
    auto token = std::make_unique<BBXActivityToken>();
    token->dictionary.set("options", foundation::PropertyListValue(static_cast<std::int64_t>(options)));
    token->dictionary.set("reason", foundation::PropertyListValue(reason));
    token->activity = foundation::ActivityRegister::begin(reason);
    return token;
}

void BBXApplicationEndActivity(std::unique_ptr<BBXActivityToken> token)
{
    if (token)
        token->activity.end();
}

void BBXApplicationActivity(std::uint64_t options, const std::string& reason, const std::function<void()>& block)
{
    auto token = BBXApplicationBeginActivity(options, reason);
    // Ended also when the block throws.
    struct End {
        std::unique_ptr<BBXActivityToken>& token;
        ~End() { BBXApplicationEndActivity(std::move(token)); }
    } end{token};
    if (block)
        block();
}

std::uint64_t BBXProfileMark()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

double BBXProfileEnd(std::uint64_t mark)
{
    const std::uint64_t now = BBXProfileMark();
    return now > mark ? static_cast<double>(now - mark) / 1'000'000.0 : 0.0;
}

bool BBXReadMemory(const void* address, void* destination, std::size_t length)
{
    if (reinterpret_cast<std::uintptr_t>(address) < 4096 || !destination)
        return false;
    if (length == 0)
        return true;
    iovec local{destination, length};
    iovec remote{const_cast<void*>(address), length};
    const ssize_t copied = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (copied >= 0)
        return static_cast<std::size_t>(copied) == length;
    if (errno == EPERM || errno == ENOSYS)
        return readThroughPipe(address, destination, length);
    return false;
}

bool BBXReadMemoryStringLength(const char* address, const char** outAddress, std::size_t maximum)
{
    stringLengthProbes = 0;
    for (std::size_t index = 0; index < maximum; ++index) {
        char byte = 0;
        ++stringLengthProbes;
        if (!BBXReadMemory(address + index, &byte, 1))
            return false;
        if (byte == '\0')
            break;
    }
    if (outAddress)
        *outAddress = address;
    return true;
}

std::size_t BBXReadMemoryStringLengthProbes()
{
    return stringLengthProbes;
}

void BBXSetDuplicateStringAllocator(BBXAllocator* allocator)
{
    duplicateStringAllocator.store(allocator);
}

char* BBXDuplicateString(const char* text)
{
    if (!text)
        return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(
        BBXAllocatorSafeAllocate(duplicateStringAllocator.load(), size, BBXAllocationKindProtectable));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

bool BBXUnlinkIfExists(const char* path)
{
    return path && (::unlink(path) == 0 || errno == ENOENT);
}

void BBXDladdrNames(const void* address, const std::function<void(const char* symbol, const char* image)>& block)
{
    if (!block)
        return;
    Dl_info info{};
    if (::dladdr(address, &info) == 0) {
        block(nullptr, nullptr);
        return;
    }
    block(info.dli_sname ? info.dli_sname : "unknown", info.dli_fname ? info.dli_fname : "unknown");
}

void BBXDispatchAfterSeconds(const std::shared_ptr<foundation::SerialQueue>& queue, double seconds,
                             std::function<void()> block)
{
    std::weak_ptr<foundation::SerialQueue> weakQueue = queue;
    foundation::scheduler()->after(foundation::SchedulerDuration(seconds), [weakQueue, block = std::move(block)] {
        if (const auto target = weakQueue.lock())
            target->async(block);
    });
}

void BBXDispatchAfterSecondsOnGlobalQueue(const std::shared_ptr<foundation::OperationQueue>& operationQueue,
                                          double seconds, std::function<void()> block)
{
    std::weak_ptr<foundation::OperationQueue> weakQueue = operationQueue;
    foundation::scheduler()->after(foundation::SchedulerDuration(seconds), [weakQueue, block = std::move(block)] {
        foundation::WorkerPool::global().async([weakQueue, block] {
            if (const auto target = weakQueue.lock())
                target->addOperationWithBlock(block);
        });
    });
}
