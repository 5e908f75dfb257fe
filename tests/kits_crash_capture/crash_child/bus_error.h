// The crash child's bus error, shared by its capture and launch modes.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// Maps a page of a new file at `path`, truncates the file and reads the page: SIGBUS. Ends the
// process with status 3 when the file cannot be laid out.
inline void busError(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    char page[4096] = {1};
    if (fd < 0 || ::write(fd, page, sizeof page) != static_cast<ssize_t>(sizeof page)) {
        std::fflush(nullptr);
        std::_Exit(3);
    }
    auto* mapped = static_cast<volatile char*>(::mmap(nullptr, sizeof page, PROT_READ, MAP_SHARED, fd, 0));
    if (::ftruncate(fd, 0) != 0) {
        std::fflush(nullptr);
        std::_Exit(3);
    }
    std::printf("read %d\n", mapped[0]); // faults: the page's file bytes are gone
}
