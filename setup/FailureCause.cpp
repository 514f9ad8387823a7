#include "setup/FailureCause.h"

#include <curl/curl.h>

#include <boost/format.hpp>

#include "setup/UiText.h"
#include "text/TextConversion.h"

namespace {

struct TextPair {
    const wchar_t* russian;
    const wchar_t* english;
};

constexpr TextPair kCouldNotConnect{L"Не удалось подключиться к %s.", L"Could not connect to %s."};
constexpr TextPair kServerAnswered{L"Сервер %s ответил: %s.", L"The server %s answered %s."};
constexpr TextPair kUnusableAnswer{L"Ответ сервера %s не удалось использовать.",
                                   L"The answer of the server %s could not be used."};
constexpr TextPair kLocalFailure{L"Не удалось использовать %s: %s.", L"Could not use %s: %s."};

constexpr TextPair kDigestRefused{
    L"Загруженный установщик повреждён: его контрольная сумма не та, что объявил сервер.",
    L"The downloaded installer is damaged: its checksum is not the one its server announced."};
constexpr TextPair kPublisherRefused{
    L"Установщик не подписан своим издателем, или его подпись не найдена.",
    L"The installer is not signed by its publisher, or its signature was not found."};
constexpr TextPair kStartFailed{L"Не удалось запустить %s.", L"%s could not be started."};
constexpr TextPair kManualPage{L"Полный установщик можно скачать со страницы %s. Открыть её?",
                               L"The full installer can be downloaded from %s. Open this page?"};
constexpr TextPair kLogPlace{L"Подробности записаны в %s.", L"Details are in %s."};

std::wstring inLanguage(const TextPair& pair) {
    return UiText::language() == UiText::kRussianLanguage ? pair.russian : pair.english;
}

std::wstring format(const TextPair& pair, const std::string& first) {
    return (boost::wformat(inLanguage(pair)) % utf8ToWide(first)).str();
}

std::wstring format(const TextPair& pair, const std::string& first, const std::string& second) {
    return (boost::wformat(inLanguage(pair)) % utf8ToWide(first) % utf8ToWide(second)).str();
}

}  // namespace

ExitStatus exitStatusOfCurlCode(std::int32_t code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PROXY:
        case CURLE_HTTP2:
        case CURLE_PARTIAL_FILE:
            return ExitStatus::kNoConnection;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_HTTP_RETURNED_ERROR:
            return ExitStatus::kServerRefused;
        default:
            return ExitStatus::kInternal;
    }
}

std::string statusWithReason(int status) {
    const char* reason = nullptr;
    switch (status) {
        case 400:
            reason = "Bad Request";
            break;
        case 401:
            reason = "Unauthorized";
            break;
        case 403:
            reason = "Forbidden";
            break;
        case 404:
            reason = "Not Found";
            break;
        case 405:
            reason = "Method Not Allowed";
            break;
        case 407:
            reason = "Proxy Authentication Required";
            break;
        case 408:
            reason = "Request Timeout";
            break;
        case 410:
            reason = "Gone";
            break;
        case 416:
            reason = "Range Not Satisfiable";
            break;
        case 429:
            reason = "Too Many Requests";
            break;
        case 451:
            reason = "Unavailable For Legal Reasons";
            break;
        case 500:
            reason = "Internal Server Error";
            break;
        case 501:
            reason = "Not Implemented";
            break;
        case 502:
            reason = "Bad Gateway";
            break;
        case 503:
            reason = "Service Unavailable";
            break;
        case 504:
            reason = "Gateway Timeout";
            break;
        default:
            break;
    }
    return reason ? std::to_string(status) + " " + reason : std::to_string(status);
}

std::string hostOfAddress(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    std::size_t start = scheme + 3;
    const std::size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    // Never name a user's credentials.
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string::npos ? authority : authority.substr(0, close + 1);
    }
    return authority.substr(0, authority.find(':'));
}

FailureCause connectionFailure(const std::string& url, std::int32_t curlCode,
                               const std::string& curlText) {
    FailureCause cause;
    cause.status = exitStatusOfCurlCode(curlCode);
    cause.line =
        "could not fetch " + url + ": " +
        (curlText.empty() ? curl_easy_strerror(static_cast<CURLcode>(curlCode)) : curlText) +
        " (libcurl code " + std::to_string(curlCode) + ")";
    const std::string host = hostOfAddress(url);
    cause.plain = cause.status == ExitStatus::kNoConnection ? format(kCouldNotConnect, host)
                                                            : format(kUnusableAnswer, host);
    cause.offerManualDownload = true;
    return cause;
}

FailureCause serverRefusal(const std::string& url, int status, const std::string& statusText) {
    FailureCause cause;
    cause.status = ExitStatus::kServerRefused;
    // A status line without a reason (HTTP/2 sends none) gets the standard one.
    const std::string answer =
        statusText.find(' ') != std::string::npos ? statusText : statusWithReason(status);
    cause.line = "the server refused " + url + ": " + answer;
    cause.plain = format(kServerAnswered, hostOfAddress(url), answer);
    cause.offerManualDownload = true;
    return cause;
}

FailureCause unusableAnswer(const std::string& url, const std::string& why) {
    FailureCause cause;
    cause.status = ExitStatus::kServerRefused;
    cause.line = "the answer from " + url + " cannot be used: " + why;
    cause.plain = format(kUnusableAnswer, hostOfAddress(url));
    cause.offerManualDownload = true;
    return cause;
}

namespace {

FailureCause refusal(const std::string& path, const std::string& why, const TextPair& plain) {
    FailureCause cause;
    cause.status = ExitStatus::kVerificationRefused;
    cause.line = "the installer " + path + " is not started: " + why;
    cause.plain = inLanguage(plain);
    cause.offerManualDownload = true;
    return cause;
}

}  // namespace

FailureCause digestRefusal(const std::string& path, const std::string& why) {
    return refusal(path, why, kDigestRefused);
}

FailureCause publisherRefusal(const std::string& path, const std::string& why) {
    return refusal(path, why, kPublisherRefused);
}

FailureCause startFailure(const std::string& path, const std::string& why) {
    FailureCause cause;
    cause.status = ExitStatus::kLocalSystem;
    cause.line = why.find(path) != std::string::npos ? why : "cannot start " + path + ": " + why;
    cause.plain = format(kStartFailed, path);
    return cause;
}

FailureCause localFailure(const std::string& what, const std::string& path,
                          const std::string& why) {
    FailureCause cause;
    cause.status = ExitStatus::kLocalSystem;
    cause.line = what + " " + path + ": " + why;
    cause.plain = format(kLocalFailure, path, why);
    return cause;
}

std::wstring boxDetails(const FailureCause& cause, const std::string& manualPage,
                        const std::string& logPath) {
    std::wstring details = cause.plain;
    const auto addLine = [&details](const std::wstring& line) {
        if (!details.empty()) details += L"\n";
        details += line;
    };
    if (!manualPage.empty()) addLine(format(kManualPage, manualPage));
    if (!logPath.empty()) addLine(format(kLogPlace, logPath));
    return details;
}
