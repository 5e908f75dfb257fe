// A test-only SQLite VFS over the default one: for files whose names start with a chosen path (a
// store and its journal), writes or syncs fail with a chosen error, or a read-write open comes back
// read-only, until the test lets them pass again. Installing it makes it the default VFS of the
// test process; the program itself never registers it.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

namespace testsupport {

class FaultyVfs {
public:
    // Registers the shim once per process as the default VFS and hands it back with no faults set.
    static FaultyVfs& install()
    {
        static FaultyVfs* instance = [] {
            auto* vfs = new FaultyVfs; // lives as long as SQLite may call it: the whole process
            vfs->base_ = sqlite3_vfs_find(nullptr);
            sqlite3_vfs& shim = vfs->vfs_;
            shim.iVersion = 2;
            shim.szOsFile = static_cast<int>(sizeof(File)) + vfs->base_->szOsFile;
            shim.mxPathname = vfs->base_->mxPathname;
            shim.zName = "horavine-faulty";
            shim.pAppData = vfs;
            shim.xOpen = &FaultyVfs::open;
            // Everything else goes to the default VFS with its own handle.
            shim.xDelete = [](sqlite3_vfs* v, const char* name, int syncDir) {
                return base(v)->xDelete(base(v), name, syncDir);
            };
            shim.xAccess = [](sqlite3_vfs* v, const char* name, int flags, int* result) {
                return base(v)->xAccess(base(v), name, flags, result);
            };
            shim.xFullPathname = [](sqlite3_vfs* v, const char* name, int size, char* out) {
                return base(v)->xFullPathname(base(v), name, size, out);
            };
            shim.xDlOpen = [](sqlite3_vfs* v, const char* name) { return base(v)->xDlOpen(base(v), name); };
            shim.xDlError = [](sqlite3_vfs* v, int size, char* out) { base(v)->xDlError(base(v), size, out); };
            shim.xDlSym = [](sqlite3_vfs* v, void* handle, const char* symbol) {
                return base(v)->xDlSym(base(v), handle, symbol);
            };
            shim.xDlClose = [](sqlite3_vfs* v, void* handle) { base(v)->xDlClose(base(v), handle); };
            shim.xRandomness = [](sqlite3_vfs* v, int size, char* out) {
                return base(v)->xRandomness(base(v), size, out);
            };
            shim.xSleep = [](sqlite3_vfs* v, int micros) { return base(v)->xSleep(base(v), micros); };
            shim.xCurrentTime = [](sqlite3_vfs* v, double* now) { return base(v)->xCurrentTime(base(v), now); };
            shim.xGetLastError = [](sqlite3_vfs* v, int size, char* out) {
                return base(v)->xGetLastError(base(v), size, out);
            };
            shim.xCurrentTimeInt64 = [](sqlite3_vfs* v, sqlite3_int64* now) {
                return base(v)->xCurrentTimeInt64(base(v), now);
            };
            sqlite3_vfs_register(&vfs->vfs_, 1);
            return vfs;
        }();
        instance->reset();
        return *instance;
    }

    // Faults apply to files whose full names start with `path` (the store, "-journal" too).
    void setTarget(const std::filesystem::path& path)
    {
        std::lock_guard lock(mutex_);
        target_ = path.string();
    }
    // An SQLite result code (SQLITE_FULL, SQLITE_IOERR_WRITE...) or SQLITE_OK to let them pass.
    void failWrites(int code) { writeFault_ = code; }
    void failSyncs(int code) { syncFault_ = code; }
    // While set, opening the target for reading and writing opens it read-only, as for a file
    // whose mode forbids writing (tests run as root, for whom modes do not).
    void openReadOnly(bool readOnly) { readOnly_ = readOnly; }
    void reset()
    {
        writeFault_ = syncFault_ = SQLITE_OK;
        readOnly_ = false;
        faultsInjected_ = 0;
    }
    // How many writes and syncs failed on purpose since the last reset.
    int faultsInjected() const { return faultsInjected_; }

private:
    struct File {
        sqlite3_file base;
        FaultyVfs* vfs;
        bool target;
        sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };

    static File* cast(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
    static sqlite3_vfs* base(sqlite3_vfs* vfs) { return static_cast<FaultyVfs*>(vfs->pAppData)->base_; }

    bool isTarget(const char* name)
    {
        std::lock_guard lock(mutex_);
        return name && !target_.empty() && std::strncmp(name, target_.c_str(), target_.size()) == 0;
    }

    int fault(std::atomic<int>& code, bool target)
    {
        if (!target || code == SQLITE_OK)
            return SQLITE_OK;
        ++faultsInjected_;
        return code;
    }

    static int open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags)
    {
        auto* self = static_cast<FaultyVfs*>(vfs->pAppData);
        File* shim = cast(file);
        shim->vfs = self;
        shim->target = self->isTarget(name);
        if (shim->target && self->readOnly_ && (flags & SQLITE_OPEN_MAIN_DB) && (flags & SQLITE_OPEN_READWRITE))
            flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
        std::memset(shim->real(), 0, static_cast<std::size_t>(self->base_->szOsFile));
        int realOutFlags = 0;
        const int status = self->base_->xOpen(self->base_, name, shim->real(), flags, &realOutFlags);
        if (outFlags)
            *outFlags = realOutFlags;
        shim->base.pMethods = shim->real()->pMethods ? &methods : nullptr;
        return status;
    }

    static int close(sqlite3_file* file) { return cast(file)->real()->pMethods->xClose(cast(file)->real()); }
    static int read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset)
    {
        return cast(file)->real()->pMethods->xRead(cast(file)->real(), buffer, amount, offset);
    }
    static int write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset)
    {
        File* shim = cast(file);
        if (const int code = shim->vfs->fault(shim->vfs->writeFault_, shim->target))
            return code;
        return shim->real()->pMethods->xWrite(shim->real(), buffer, amount, offset);
    }
    static int truncate(sqlite3_file* file, sqlite3_int64 size)
    {
        File* shim = cast(file);
        if (const int code = shim->vfs->fault(shim->vfs->writeFault_, shim->target))
            return code;
        return shim->real()->pMethods->xTruncate(shim->real(), size);
    }
    static int sync(sqlite3_file* file, int flags)
    {
        File* shim = cast(file);
        if (const int code = shim->vfs->fault(shim->vfs->syncFault_, shim->target))
            return code;
        return shim->real()->pMethods->xSync(shim->real(), flags);
    }
    static int fileSize(sqlite3_file* file, sqlite3_int64* size)
    {
        return cast(file)->real()->pMethods->xFileSize(cast(file)->real(), size);
    }
    static int lock(sqlite3_file* file, int level)
    {
        return cast(file)->real()->pMethods->xLock(cast(file)->real(), level);
    }
    static int unlock(sqlite3_file* file, int level)
    {
        return cast(file)->real()->pMethods->xUnlock(cast(file)->real(), level);
    }
    static int checkReservedLock(sqlite3_file* file, int* result)
    {
        return cast(file)->real()->pMethods->xCheckReservedLock(cast(file)->real(), result);
    }
    static int fileControl(sqlite3_file* file, int op, void* argument)
    {
        return cast(file)->real()->pMethods->xFileControl(cast(file)->real(), op, argument);
    }
    static int sectorSize(sqlite3_file* file) { return cast(file)->real()->pMethods->xSectorSize(cast(file)->real()); }
    static int deviceCharacteristics(sqlite3_file* file)
    {
        return cast(file)->real()->pMethods->xDeviceCharacteristics(cast(file)->real());
    }

    // Version 1 methods only: SQLite then uses neither shared memory nor memory-mapped reads for
    // these files, so every write goes through write() above.
    static inline const sqlite3_io_methods methods = {1,
                                                      &close,
                                                      &read,
                                                      &write,
                                                      &truncate,
                                                      &sync,
                                                      &fileSize,
                                                      &lock,
                                                      &unlock,
                                                      &checkReservedLock,
                                                      &fileControl,
                                                      &sectorSize,
                                                      &deviceCharacteristics,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr};

    sqlite3_vfs* base_ = nullptr;
    sqlite3_vfs vfs_{};
    std::mutex mutex_;
    std::string target_;
    std::atomic<int> writeFault_{SQLITE_OK};
    std::atomic<int> syncFault_{SQLITE_OK};
    std::atomic<bool> readOnly_{false};
    std::atomic<int> faultsInjected_{0};
};

} // namespace testsupport
