// The loaded images: the crash-time list the unwinder searches (512 slots in the crash-time state,
// claimed lock-free) and the log of every load and unload, "binary_images.bbxrecord", from which the
// next launch names a crash's functions. glibc has no loader callbacks: set-up reports every object
// loaded so far, then the binary-images queue compares the loader's load and unload counters every
// second and, on a change, stores and logs each new image and each one gone. A capture does not wait
// for that look: it reads the loader's own list first (BBXBinaryImageSafeSyncWithLoader), so an
// object loaded a moment before the crash unwinds and is named like any other.
#pragma once

#include "kits/crash/capture/bbx_unwind.h"

#include <cstdint>
#include <string>

struct BBXFile;
struct dl_phdr_info;

struct BBXBinaryImageVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t bugfix = 0;
};

// What is known of one image. ELF images carry no SDK versions (0.0.0) and are never encrypted;
// the eh_frame field holds the .eh_frame_hdr address.
struct BBXBinaryImageDetails {
    char uuid[33] = {}; // empty when the image has no build ID of 16 bytes or more
    std::uint8_t encrypted = 0;
    BBXBinaryImageVersion linkedSDKVersion;
    BBXBinaryImageVersion minimumOSVersion;
    std::uint64_t headerAddress = 0;
    std::uint64_t textSize = 0;
    std::uint64_t ehFrame = 0;
    std::uint64_t unwindInfo = 0;
    std::uint64_t crashInfo = 0;
    std::uint64_t slide = 0;
    std::string architecture;
    std::string path; // the file; the program's as procfs self/exe resolves it; empty when none

    kits::BBXBinaryImageNode node() const { return {headerAddress, textSize, ehFrame, unwindInfo, crashInfo}; }
};

inline constexpr double BBXBinaryImagePollSeconds = 1.0;

// Clears the list, writes a fresh "binary_images.bbxrecord" with every object loaded now (the list is
// complete on return), then keeps watching for loads and unloads. Needs a context.
void BBXBinaryImageInit();
// Claims (load) or releases (unload) the node's slot; false, with a warning, when no slot matches.
bool BBXBinaryImageStoreNode(const kits::BBXBinaryImageNode& node, bool load);
// Brings the list up to date with the loader's own list: each object it lists that the list lacks
// is stored and gets its load line in the log; when the loader's list was read whole and no change
// was under way, slots of objects it no longer lists are released. Async-signal-safe (no heap, no
// locks, no loader calls); the capture runs it before walking any stack.
void BBXBinaryImageSafeSyncWithLoader();
// The first slot holding `address`. Crash-safe: no heap, no locks, no loader calls.
bool BBXBinaryImageSafeFindImageForAddress(std::uint64_t address, kits::BBXBinaryImageNode* node);
bool BBXBinaryImageHasUnwindInfo(const kits::BBXBinaryImageNode& node);
// The unwinder's image finder over the list.
kits::BBXImageFinder BBXBinaryImageFinder();
// The loaded image whose UUID text matches; false for no text or no match.
bool BBXBinaryImageFindImageForUUID(const char* uuid, BBXBinaryImageDetails* details);
// The details of an object as the loader reports it; false when its headers cannot be read.
bool BBXBinaryImageFillInImageDetails(const dl_phdr_info& object, BBXBinaryImageDetails* details);
// The "executable" line of the metadata file for the running program.
bool BBXBinaryImageRecordMainExecutable(BBXFile* file);
// The load or unload line of one image, on the binary-images queue (tests may call it directly).
void BBXBinaryImageRecordSlice(const BBXBinaryImageDetails& details, bool load);
