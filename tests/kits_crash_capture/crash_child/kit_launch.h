// The crash child's application launch through the kit platform (`crash_child kit ...`).
#pragma once

// Never returns when the launch crashes; otherwise the process's exit status.
int runKitLaunch(int argc, char** argv);
