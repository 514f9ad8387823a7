// Minisign signatures of files (Linux): the installer a build pins a
// publisher for.
#include <sys/mman.h>
#include <sys/stat.h>

#include "verify/EvpHasher.h"
#include "verify/FileDigest.h"
#include "verify/MinisignSignature.h"

namespace {

// The file's bytes, mapped rather than read: the legacy format signs the
// whole file in one piece, and an installer may be large.
class MappedFile {
public:
    explicit MappedFile(const platform::ReadOnlyFile& file) {
        struct stat status {};
        const int fd = static_cast<int>(file.nativeHandle());
        if (::fstat(fd, &status) != 0) return;
        m_size = static_cast<std::size_t>(status.st_size);
        if (m_size == 0) {
            m_data = &m_empty;
            return;
        }
        void* mapped = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) m_mapping = mapped;
        m_data = static_cast<const unsigned char*>(m_mapping);
    }
    ~MappedFile() {
        if (m_mapping != nullptr) ::munmap(m_mapping, m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    void* m_mapping = nullptr;
    const unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    unsigned char m_empty = 0;
};

}  // namespace

std::string verifyMinisignSignature(const platform::ReadOnlyFile& file,
                                    const MinisignSignature& signature,
                                    const MinisignPublicKey& key, const std::atomic<bool>* stop) {
    if (std::string problem = minisignKeyIdProblem(signature, key); !problem.empty()) {
        return problem;
    }
    if (signature.prehashed) {
        EvpHasher hasher(EVP_blake2b512());
        std::string error;
        const std::optional<std::vector<unsigned char>> digest =
            fileDigest(file, hasher, stop, error);
        if (!digest) return error;
        return verifyMinisignSignedBytes(digest->data(), digest->size(), signature, key,
                                         "the file");
    }
    const MappedFile mapped(file);
    if (mapped.data() == nullptr) return "cannot map " + file.path();
    return verifyMinisignSignedBytes(mapped.data(), mapped.size(), signature, key, "the file");
}
