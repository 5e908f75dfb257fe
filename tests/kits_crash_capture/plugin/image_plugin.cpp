// A small library the tests load at run time: the image-list tests load and unload it (an address
// inside it must find its node while it is loaded), and the crash child loads it and crashes in it
// at once, three frames deep. Built without frame pointers, so only its call-frame information
// (through the image list) unwinds those frames.
extern "C" {
__attribute__((visibility("default"))) int imagePluginFunction(int value);
__attribute__((visibility("default"))) int imagePluginCrash(int value);
int imagePluginMiddle(int value);
int imagePluginFault(int value);
}

int imagePluginFunction(int value)
{
    return value * 3 + 1;
}

__attribute__((noinline, noclone)) int imagePluginFault(int value)
{
    *static_cast<volatile int*>(nullptr) = value;
    asm volatile("" ::: "memory");
    return value;
}

// A frame of its own between the entry and the fault (and no tail call out of it).
__attribute__((noinline, noclone)) int imagePluginMiddle(int value)
{
    volatile int scratch[8] = {};
    scratch[value & 7] = value;
    int result = imagePluginFault(scratch[value & 7] + 1);
    asm volatile("" : "+r"(result)::"memory");
    return result + scratch[0];
}

__attribute__((noinline, noclone)) int imagePluginCrash(int value)
{
    int result = imagePluginMiddle(value + 1);
    asm volatile("" : "+r"(result)::"memory");
    return result + 1;
}
