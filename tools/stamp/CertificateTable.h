#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The certificate table that ends a signed Windows executable. Its
// Authenticode hash leaves out the header checksum, the table's data
// directory entry and the table itself, so a settings block kept inside the
// table, behind the signature, ends the file where the stub looks for it and
// leaves the signature intact.

// A signed executable whose certificate table cannot take the block. what()
// says why, ready to be shown to the user.
class UnsuitableCertificateTable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Byte offsets into a signed executable.
struct CertificateTable {
    std::size_t checksumField;
    std::size_t directoryEntry;
    // The table's first (and only) WIN_CERTIFICATE entry begins the table.
    std::size_t begin;
    // Where the entry's DER-encoded signature ends; zero padding and a stamped
    // block may follow it up to the end of the table.
    std::size_t signatureEnd;
};

// The certificate table of a signed executable, or std::nullopt when the file
// is not a Windows executable or is an unsigned one. A block stamped behind
// the table by an earlier websetup-stamp, which broke the signature, is not
// part of the table and is dropped by withBlockInCertificateTable. Throws
// UnsuitableCertificateTable when the table does not end the file, when its
// length and its entry's length disagree, or when the entry holds anything
// but a signature, zero padding and a stamped block.
std::optional<CertificateTable> findCertificateTable(std::string_view file);

// The file up to its signature, followed by zero padding and block, with the
// table's length in both places that state it updated: the table keeps its
// 8-byte alignment and the block ends the file. The header checksum is
// recomputed when it is set; zero means the file does not use one.
std::string withBlockInCertificateTable(std::string_view file, const CertificateTable& table,
                                        std::string_view block);
