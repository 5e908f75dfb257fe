// A shared library linked without a build ID, which the ELF tests load: its UUID must be empty, and
// its own functions are named through its symbol table.
extern "C" __attribute__((visibility("default"))) int horavineNoBuildIdAnswer(int value);

extern "C" __attribute__((noinline)) int horavineNoBuildIdAnswer(int value)
{
    return value * 3 + 1;
}
