#include "tools/stamp/CertificateTable.h"

#include <algorithm>
#include <cstdint>

#include "tools/stamp/PayloadBlock.h"

namespace {

constexpr std::size_t kPeHeaderPointer = 0x3C;
constexpr std::string_view kPeSignature("PE\0\0", 4);
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kOptionalHeaderSizeField = 16;
constexpr std::size_t kChecksumOffset = 64;
constexpr std::uint32_t kPe32Magic = 0x10B;
constexpr std::uint32_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kPe32Directories = 96;
constexpr std::size_t kPe32PlusDirectories = 112;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kEntryHeaderSize = 8;
constexpr std::uint32_t kPkcsSignedData = 2;
constexpr std::size_t kTableAlignment = 8;

// Little-endian unsigned number made of all the given bytes; callers check
// that the file holds them.
std::uint32_t littleEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte) {
        value = value << 8 | static_cast<unsigned char>(*byte);
    }
    return value;
}

std::uint32_t read16(std::string_view file, std::size_t offset) {
    return littleEndian(file.substr(offset, 2));
}

std::uint32_t read32(std::string_view file, std::size_t offset) {
    return littleEndian(file.substr(offset, 4));
}

void write32(std::string& file, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        file[offset + i] = static_cast<char>(value >> (8 * i) & 0xFF);
    }
}

std::size_t alignedUp(std::size_t length) {
    return (length + kTableAlignment - 1) / kTableAlignment * kTableAlignment;
}

[[noreturn]] void refuse(const std::string& reason) { throw UnsuitableCertificateTable(reason); }

// The checksum Windows' image loader and signing tools compute: 16-bit words
// added with end-around carry, then the file length. The field itself must
// be zero while it is computed.
std::uint32_t headerChecksum(std::string_view file) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        sum += littleEndian(file.substr(i, 2));
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<std::uint32_t>(file.size());
}

// A table with the offsets of the header checksum and the data directory's
// security entry filled in, or std::nullopt when the file is not a PE image or
// its directory has no such entry.
std::optional<CertificateTable> locateHeaderFields(std::string_view file) {
    if (file.size() < kPeHeaderPointer + 4 || file.substr(0, 2) != "MZ") return std::nullopt;
    const std::size_t signature = read32(file, kPeHeaderPointer);
    const std::size_t optionalHeader = signature + kPeSignature.size() + kFileHeaderSize;
    if (optionalHeader + 2 > file.size() || file.substr(signature, 4) != kPeSignature) {
        return std::nullopt;
    }
    const std::size_t optionalHeaderEnd =
        optionalHeader + read16(file, signature + kPeSignature.size() + kOptionalHeaderSizeField);
    const std::uint32_t magic = read16(file, optionalHeader);
    if (optionalHeaderEnd > file.size() || (magic != kPe32Magic && magic != kPe32PlusMagic)) {
        return std::nullopt;
    }
    const std::size_t directories =
        optionalHeader + (magic == kPe32Magic ? kPe32Directories : kPe32PlusDirectories);
    const std::size_t entry = directories + kSecurityDirectory * kDirectoryEntrySize;
    // The directory's entry count is the field just before the directory.
    if (entry + kDirectoryEntrySize > optionalHeaderEnd ||
        read32(file, directories - 4) <= kSecurityDirectory) {
        return std::nullopt;
    }
    CertificateTable table{};
    table.checksumField = optionalHeader + kChecksumOffset;
    table.directoryEntry = entry;
    return table;
}

// Where the DER-encoded signature that starts at offset ends (a SEQUENCE with
// a definite length, as Authenticode requires), or std::nullopt.
std::optional<std::size_t> derSequenceEnd(std::string_view file, std::size_t offset) {
    if (offset + 2 > file.size() || file[offset] != '\x30') return std::nullopt;
    const auto first = static_cast<unsigned char>(file[offset + 1]);
    if (first < 0x80) return offset + 2 + first;
    const std::size_t lengthBytes = first & 0x7F;
    if (lengthBytes == 0 || lengthBytes > 4 || offset + 2 + lengthBytes > file.size()) {
        return std::nullopt;
    }
    std::size_t length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) {
        length = length << 8 | static_cast<unsigned char>(file[offset + 2 + i]);
    }
    return offset + 2 + lengthBytes + length;
}

}  // namespace

std::optional<CertificateTable> findCertificateTable(std::string_view file) {
    auto located = locateHeaderFields(file);
    if (!located) return std::nullopt;
    CertificateTable& table = *located;
    table.begin = read32(file, table.directoryEntry);
    const std::size_t length = read32(file, table.directoryEntry + 4);
    if (table.begin == 0 && length == 0) return std::nullopt;

    const std::size_t end = table.begin + length;
    if (table.begin < table.directoryEntry + kDirectoryEntrySize) {
        refuse("its certificate table (bytes " + std::to_string(table.begin) + " to " +
               std::to_string(end) + ") overlaps the file's headers");
    }
    const bool followedByOldBlock = end < file.size() && findStampedBlock(file) == end;
    if (end > file.size() || (end < file.size() && !followedByOldBlock)) {
        refuse("its certificate table (bytes " + std::to_string(table.begin) + " to " +
               std::to_string(end) + ") does not end the file (" + std::to_string(file.size()) +
               " bytes)");
    }
    const std::size_t entryLength = length < kEntryHeaderSize ? 0 : read32(file, table.begin);
    if (alignedUp(entryLength) != length || entryLength < kEntryHeaderSize) {
        refuse("its certificate table is " + std::to_string(length) +
               " bytes long but its entry says " + std::to_string(entryLength) +
               " bytes: the lengths disagree");
    }
    if (read16(file, table.begin + 6) != kPkcsSignedData) {
        refuse("its certificate table holds no Authenticode signature");
    }
    const auto signatureEnd = derSequenceEnd(file, table.begin + kEntryHeaderSize);
    if (!signatureEnd || *signatureEnd > table.begin + entryLength) {
        refuse("the signature in its certificate table does not fit the table's length");
    }
    table.signatureEnd = *signatureEnd;

    std::string_view rest = file.substr(table.signatureEnd, end - table.signatureEnd);
    rest = rest.substr(0, findStampedBlock(rest).value_or(rest.size()));
    if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c == '\0'; })) {
        refuse("its certificate table holds other data behind the signature");
    }
    return located;
}

std::string withBlockInCertificateTable(std::string_view file, const CertificateTable& table,
                                        std::string_view block) {
    const std::size_t signedLength = table.signatureEnd - table.begin;
    const std::size_t length = alignedUp(signedLength + block.size());
    std::string copy(file.substr(0, table.signatureEnd));
    copy.append(length - signedLength - block.size(), '\0').append(block);
    write32(copy, table.begin, static_cast<std::uint32_t>(length));
    write32(copy, table.directoryEntry + 4, static_cast<std::uint32_t>(length));
    if (read32(copy, table.checksumField) != 0) {
        write32(copy, table.checksumField, 0);
        write32(copy, table.checksumField, headerChecksum(copy));
    }
    return copy;
}
