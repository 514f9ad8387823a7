#pragma once

#include <sys/types.h>

#include <string>

// Files websetup-publish writes. Both throw std::runtime_error naming the
// path and the system's reason; nothing is left behind then.

// Writes text to path whole or not at all: into a temporary file beside it,
// flushed to disk, then renamed over it, so that a server never serves half a
// file. The file is readable by everyone, as served files are.
void replaceFile(const std::string& path, const std::string& text);

// Writes text to a new file at path with the given mode; an existing file is
// refused ("exists; not overwritten"), never replaced.
void createNewFile(const std::string& path, const std::string& text, mode_t mode);
