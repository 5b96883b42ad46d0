#pragma once

// An image-list parser that reads each image with the reader its magic number names, so that one list
// can hold ELF images and Mach-O images side by side (the process's own libraries next to a Mach-O
// image mapped for a test or a tool). Each image's format field says which reader parsed it.

#include "DZCrashReporter/core/DZCrashAsyncImageList.h"

namespace dzcrash {

// ELF images go to the ELF reader, the four Mach-O magics to the Mach-O reader; any other image fails
// to parse (DZCRASH_NOT_SUPPORTED) and stays out of the list. Parsing is not async-signal-safe.
dzcrash_image_parser DZcrash_image_parser_by_magic();

}  // namespace dzcrash
