#include "verify/DigestHasher.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

std::runtime_error failure(const char* what, NTSTATUS status) {
    return std::runtime_error(std::string(what) + ": NTSTATUS " +
                              std::to_string(static_cast<unsigned long>(status)));
}

class BCryptHasher : public DigestHasher {
public:
    explicit BCryptHasher(const wchar_t* algorithmId) {
        NTSTATUS status = ::BCryptOpenAlgorithmProvider(&m_algorithm, algorithmId, nullptr, 0);
        if (!BCRYPT_SUCCESS(status)) throw failure("BCryptOpenAlgorithmProvider", status);
        DWORD length = 0;
        ULONG written = 0;
        status = ::BCryptGetProperty(m_algorithm, BCRYPT_HASH_LENGTH,
                                     reinterpret_cast<PUCHAR>(&length), sizeof length, &written, 0);
        if (BCRYPT_SUCCESS(status)) {
            m_length = length;
            // Windows 7 wants the hash object's memory from the caller.
            DWORD objectLength = 0;
            status = ::BCryptGetProperty(m_algorithm, BCRYPT_OBJECT_LENGTH,
                                         reinterpret_cast<PUCHAR>(&objectLength),
                                         sizeof objectLength, &written, 0);
            m_object.resize(objectLength);
        }
        if (BCRYPT_SUCCESS(status)) {
            status = ::BCryptCreateHash(m_algorithm, &m_hash, m_object.data(),
                                        static_cast<ULONG>(m_object.size()), nullptr, 0, 0);
        }
        if (!BCRYPT_SUCCESS(status)) {
            ::BCryptCloseAlgorithmProvider(m_algorithm, 0);
            throw failure("BCryptCreateHash", status);
        }
    }
    ~BCryptHasher() override {
        ::BCryptDestroyHash(m_hash);
        ::BCryptCloseAlgorithmProvider(m_algorithm, 0);
    }
    BCryptHasher(const BCryptHasher&) = delete;
    BCryptHasher& operator=(const BCryptHasher&) = delete;

    void update(const unsigned char* data, std::size_t size) override {
        while (size > 0) {
            const ULONG step = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
            const NTSTATUS status = ::BCryptHashData(m_hash, const_cast<PUCHAR>(data), step, 0);
            if (!BCRYPT_SUCCESS(status)) throw failure("BCryptHashData", status);
            data += step;
            size -= step;
        }
    }

    std::vector<unsigned char> finish() override {
        std::vector<unsigned char> digest(m_length);
        const NTSTATUS status = ::BCryptFinishHash(m_hash, digest.data(), m_length, 0);
        if (!BCRYPT_SUCCESS(status)) throw failure("BCryptFinishHash", status);
        return digest;
    }

private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
    std::vector<unsigned char> m_object;
    ULONG m_length = 0;
};

}  // namespace

std::unique_ptr<DigestHasher> DigestHasher::create(DigestAlgorithm algorithm) {
    return std::make_unique<BCryptHasher>(
        algorithm == DigestAlgorithm::Sha512 ? BCRYPT_SHA512_ALGORITHM : BCRYPT_SHA256_ALGORITHM);
}
