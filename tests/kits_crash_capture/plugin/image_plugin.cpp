// A small library the image-list tests load and unload at run time; an address inside it must find
// its node while it is loaded.
extern "C" __attribute__((visibility("default"))) int imagePluginFunction(int value);

int imagePluginFunction(int value)
{
    return value * 3 + 1;
}
