#include "verify/AnnouncedDigest.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "verify/Base64.h"

namespace {

struct Member {
    std::string key;
    // Set when the member's value is a byte sequence.
    std::optional<std::vector<unsigned char>> bytes;
};

bool isLowerAlpha(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isKeyCharacter(char c) {
    return isLowerAlpha(c) || isDigit(c) || c == '_' || c == '-' || c == '.' || c == '*';
}
bool isTokenCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~:/").find(c) != std::string_view::npos;
}

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// A reader of the structured-field dictionary grammar, as far as a digest
// field needs it: every bare item is read, but only byte sequences are kept.
// Any deviation fails the whole field, as the grammar requires.
class DictionaryReader {
public:
    explicit DictionaryReader(std::string_view text) : m_text(text) {}

    std::optional<std::vector<Member>> read() {
        std::vector<Member> members;
        skip(" ");
        if (atEnd()) return members;
        for (;;) {
            std::optional<Member> member = readMember();
            if (!member) return std::nullopt;
            members.push_back(std::move(*member));
            skip(" \t");
            if (atEnd()) return members;
            if (!take(',')) return std::nullopt;
            skip(" \t");
            if (atEnd()) return std::nullopt;  // a trailing comma
        }
    }

private:
    std::optional<Member> readMember() {
        Member member;
        std::optional<std::string> key = readKey();
        if (!key) return std::nullopt;
        member.key = std::move(*key);
        if (take('=')) {
            if (peek() == '(') return std::nullopt;  // inner lists name no digest
            if (!readBareItem(member.bytes)) return std::nullopt;
        }
        // Parameters qualify a value; none changes which digest it is.
        while (take(';')) {
            skip(" ");
            if (!readKey()) return std::nullopt;
            std::optional<std::vector<unsigned char>> ignored;
            if (take('=') && !readBareItem(ignored)) return std::nullopt;
        }
        return member;
    }

    std::optional<std::string> readKey() {
        const std::size_t start = m_position;
        if (atEnd() || !(isLowerAlpha(peek()) || peek() == '*')) return std::nullopt;
        while (!atEnd() && isKeyCharacter(peek())) ++m_position;
        return std::string(m_text.substr(start, m_position - start));
    }

    bool readBareItem(std::optional<std::vector<unsigned char>>& bytes) {
        if (atEnd()) return false;
        const char first = peek();
        if (first == ':') {
            ++m_position;
            const std::size_t end = m_text.find(':', m_position);
            if (end == std::string_view::npos) return false;
            bytes = decodeBase64(m_text.substr(m_position, end - m_position));
            m_position = end + 1;
            return bytes.has_value();
        }
        if (first == '"') return readString();
        if (first == '?') {
            ++m_position;
            return take('0') || take('1');
        }
        if (first == '-' || isDigit(first)) return readNumber();
        if (std::isalpha(static_cast<unsigned char>(first)) != 0 || first == '*') {
            while (!atEnd() && isTokenCharacter(peek())) ++m_position;
            return true;
        }
        return false;
    }

    bool readString() {
        ++m_position;
        while (!atEnd()) {
            const char c = m_text[m_position++];
            if (c == '"') return true;
            if (c == '\\') {
                if (atEnd() || (peek() != '"' && peek() != '\\')) return false;
                ++m_position;
            } else if (c < 0x20 || c > 0x7E) {
                return false;
            }
        }
        return false;
    }

    bool readNumber() {
        take('-');
        const std::size_t start = m_position;
        while (!atEnd() && (isDigit(peek()) || peek() == '.')) ++m_position;
        return m_position > start && isDigit(m_text[start]);
    }

    bool atEnd() const { return m_position >= m_text.size(); }
    char peek() const { return m_text[m_position]; }
    bool take(char c) {
        if (atEnd() || peek() != c) return false;
        ++m_position;
        return true;
    }
    void skip(std::string_view characters) {
        while (!atEnd() && characters.find(peek()) != std::string_view::npos) ++m_position;
    }

    std::string_view m_text;
    std::size_t m_position = 0;
};

std::optional<DigestAlgorithm> algorithmNamed(const std::string& name) {
    if (name == "sha-256") return DigestAlgorithm::Sha256;
    if (name == "sha-512") return DigestAlgorithm::Sha512;
    return std::nullopt;
}

// Keeps a member's digest when it is usable (each value once), noting it
// otherwise.
void consider(const std::string& field, const std::string& algorithmText,
              const std::optional<std::vector<unsigned char>>& value, DigestAnnouncement& result) {
    const std::optional<DigestAlgorithm> algorithm = algorithmNamed(lower(algorithmText));
    if (!algorithm) {
        result.ignored.push_back(field + ": algorithm " + algorithmText + " is not one we check");
        return;
    }
    if (!value || value->size() != digestLength(*algorithm)) {
        result.ignored.push_back(field + ": the " + algorithmText +
                                 " value is not a digest of that algorithm");
        return;
    }
    const bool known = std::any_of(
        result.digests.begin(), result.digests.end(), [&](const AnnouncedDigest& digest) {
            return digest.algorithm == *algorithm && digest.value == *value;
        });
    if (!known) result.digests.push_back(AnnouncedDigest{*algorithm, *value});
}

void readReprDigest(const std::string& value, DigestAnnouncement& result) {
    const std::optional<std::vector<Member>> members = DictionaryReader(value).read();
    if (!members) {
        result.ignored.push_back("Repr-Digest: not a dictionary of digests: " + value);
        return;
    }
    for (const Member& member : *members) consider("Repr-Digest", member.key, member.bytes, result);
}

// Comma-separated "algorithm=base64" pairs; algorithm names in any case.
void readLegacyDigest(const std::string& value, DigestAnnouncement& result) {
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        std::string item = value.substr(start, end - start);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos || equals == 0) {
            result.ignored.push_back("Digest: not an algorithm and a value: " + item);
        } else {
            consider("Digest", item.substr(0, equals),
                     decodeBase64(std::string_view(item).substr(equals + 1)), result);
        }
        start = end + 1;
    }
}

}  // namespace

const char* digestAlgorithmName(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Sha512 ? "sha-512" : "sha-256";
}

std::size_t digestLength(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Sha512 ? 64 : 32;
}

DigestAnnouncement announcedDigest(const std::vector<ResponseHeader>& headers) {
    // A field sent on several lines is one list, joined by commas.
    std::map<std::string, std::string> fields;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            fields.clear();
            continue;
        }
        if (header.kind != HK_Other) continue;
        const std::optional<HeaderField> field = splitHeaderField(header.value);
        if (!field) continue;
        const std::string name = lower(field->name);
        if (name != "repr-digest" && name != "digest") continue;
        std::string& joined = fields[name];
        joined += (joined.empty() ? "" : ", ") + field->value;
    }
    DigestAnnouncement result;
    if (const auto repr = fields.find("repr-digest"); repr != fields.end()) {
        readReprDigest(repr->second, result);
    }
    // The older field counts only where the newer one gave nothing usable.
    if (const auto legacy = fields.find("digest"); legacy != fields.end()) {
        if (!result.digests.empty()) {
            result.ignored.emplace_back("Digest: Repr-Digest is used instead");
        } else {
            readLegacyDigest(legacy->second, result);
        }
    }
    return result;
}

std::optional<AnnouncedDigest> parseDigestArgument(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::optional<DigestAlgorithm> algorithm = algorithmNamed(lower(text.substr(0, colon)));
    if (!algorithm) return std::nullopt;
    const std::string_view value = text.substr(colon + 1);
    const std::size_t length = digestLength(*algorithm);
    std::vector<unsigned char> bytes;
    if (value.size() == 2 * length && std::all_of(value.begin(), value.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        for (std::size_t i = 0; i < value.size(); i += 2) {
            bytes.push_back(static_cast<unsigned char>(
                std::stoi(std::string(value.substr(i, 2)), nullptr, 16)));
        }
    } else {
        std::optional<std::vector<unsigned char>> decoded = decodeBase64(value);
        if (!decoded) return std::nullopt;
        bytes = std::move(*decoded);
    }
    if (bytes.size() != length) return std::nullopt;
    return AnnouncedDigest{*algorithm, std::move(bytes)};
}

std::string toHex(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}
