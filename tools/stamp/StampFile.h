#pragma once

#include <stdexcept>
#include <string>

#include "tools/stamp/PayloadBlock.h"

// A failed file operation. what() names the operation, the path and the
// system's reason, ready to be shown to the user.
class StampIoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole content of a file. Throws StampIoError.
std::string readWholeFile(const std::string& path);

// Throws StampIoError with the system's reason when the file cannot be opened
// for reading.
void requireReadable(const std::string& path);

// Writes a copy of the stub with the settings block (makePayloadBlock or
// makeSignedPayloadBlock) at its end to outPath. In a signed Windows
// executable the block goes inside the certificate table, behind the
// signature, which therefore stays valid; any other file gets the block
// behind everything else. A block already stamped at the very end of the stub,
// signed or not, is replaced. The copy gets the stub's permission bits. It is
// written to a temporary file in outPath's folder and renamed into place, so
// outPath is either left as it was or holds the complete copy; outPath may
// name the stub itself. Throws StampIoError, or UnsuitableCertificateTable
// before anything is written when the stub is signed but its certificate
// table cannot take the block.
void stampFile(const std::string& stubPath, const std::string& outPath, std::string_view block);
