// Six calls deep, or a recursion, without frame pointers (built -O2 -fomit-frame-pointer): the
// innermost takes a machine context and glibc's backtrace and hands both to a callback while the
// chain is still on the stack, for the unwinder's tests to walk and compare.
#include <execinfo.h>
#include <ucontext.h>

using UnwindChainCallback = void (*)(const ucontext_t* context, void* const* trace, int count, void* argument);

extern "C" __attribute__((visibility("default"))) int unwindChainStart(UnwindChainCallback callback, void* argument,
                                                                       int value);
// `depth` calls of one recursive function, then the same innermost function: return addresses repeat.
extern "C" __attribute__((visibility("default"))) int unwindRecursionStart(UnwindChainCallback callback, void* argument,
                                                                           int depth);

namespace {

__attribute__((noinline, noclone)) int level6(UnwindChainCallback callback, void* argument, int value)
{
    ucontext_t context;
    void* trace[128];
    ::getcontext(&context);
    const int count = ::backtrace(trace, 128);
    callback(&context, trace, count, argument);
    asm volatile("" ::: "memory");
    return value + count;
}

// Each level does work after its call, so none becomes a tail call.
#define HORAVINE_CHAIN_LEVEL(name, next)                                                                               \
    __attribute__((noinline, noclone)) int name(UnwindChainCallback callback, void* argument, int value)               \
    {                                                                                                                  \
        const int result = next(callback, argument, value * 3 + 1);                                                    \
        asm volatile("" ::: "memory");                                                                                 \
        return result ^ value;                                                                                         \
    }
HORAVINE_CHAIN_LEVEL(level5, level6)
HORAVINE_CHAIN_LEVEL(level4, level5)
HORAVINE_CHAIN_LEVEL(level3, level4)
HORAVINE_CHAIN_LEVEL(level2, level3)
#undef HORAVINE_CHAIN_LEVEL

} // namespace

extern "C" __attribute__((noinline, noclone)) int unwindChainStart(UnwindChainCallback callback, void* argument,
                                                                   int value)
{
    const int result = level2(callback, argument, value + 7);
    asm volatile("" ::: "memory");
    return result + 1;
}

extern "C" __attribute__((noinline, noclone)) int unwindRecursionStart(UnwindChainCallback callback, void* argument,
                                                                       int depth)
{
    if (depth <= 0)
        return level6(callback, argument, depth);
    const int result = unwindRecursionStart(callback, argument, depth - 1);
    asm volatile("" ::: "memory");
    return result ^ depth;
}
