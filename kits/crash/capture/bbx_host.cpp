// Host set-up for the capture. Linux counterparts: sysconf for the page size, the Documents folder
// by the same user-dirs rule as the store, and TracerPid of procfs for the kernel's traced flag.
#include "kits/crash/capture/bbx_host.h"

#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_procfs.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include "foundation/user_dirs.h"

#include <string>
#include <unistd.h>

std::uint64_t BBXHostGetPageSize()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    if (size <= 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] sysctlbyname failed while trying to get hw.pagesize\n");
        return 4096;
    }
    return static_cast<std::uint64_t>(size);
}

void BBXHostInitialize()
{
    BBXContext* context = BBXContextGet();
    if (!context)
        return;
    context->pageSize = BBXHostGetPageSize();
    const std::string documents = foundation::documentsFolder().string();
    context->documentsPath = documents.empty() ? nullptr : BBXDuplicateString(documents.c_str());
}

bool BBXProcessDebuggerAttached()
{
    char status[4096];
    std::size_t length = 0;
    std::uint64_t tracer = 0;
    if (!BBXReadProcFile("/proc/self/status", status, sizeof status, &length)
        || !BBXParseTracerPid(status, length, &tracer)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] sysctl failed while trying to get kinfo_proc\n");
        return false;
    }
    return tracer != 0;
}
