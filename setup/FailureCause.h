#pragma once

#include <cstdint>
#include <string>

// How a run of the stub ends, as its exit status. The numbers are documented
// (README, the stub's manual page) and stay as they are.
enum class ExitStatus : int {
    // The installer, or the installed product, was started.
    kStarted = 0,
    // A fault of the stub itself.
    kInternal = 1,
    // The user closed the window before anything was started.
    kClosed = 2,
    // The server could not be reached: name resolution, connection, TLS,
    // proxy.
    kNoConnection = 3,
    // The server answered, but not with the installer: an HTTP status other
    // than success, an answer without a usable size, a download it refused.
    kServerRefused = 4,
    // The downloaded installer was refused: its digest or its publisher.
    kVerificationRefused = 5,
    // This machine: a full disk, a folder or file that cannot be made or
    // written, a start that failed.
    kLocalSystem = 6,
    // The stub's own settings or catalogue entry are unusable.
    kInvalidStub = 7,
};

// Why a run failed, beyond the box text its failure class has always had:
// for standard error and the short log in English, for the box in the
// user's language.
struct FailureCause {
    ExitStatus status = ExitStatus::kInternal;
    // What failed, where (the address or the path) and why (libcurl's, the
    // server's or the system's own words). One line.
    std::string line;
    // The same in plain words for the box, in the interface language; empty
    // when there is nothing to add to the box's own text.
    std::wstring plain;
    // The download or its verification failed: the box points to the
    // product's manual download page.
    bool offerManualDownload = false;
};

// A failure of the setup flow as the user is told of it.
struct SetupFailure {
    // The error box's own text: an ErrorClass's text, or the internal error.
    std::wstring boxText;
    FailureCause cause;
};

// The class of a libcurl result of a request that got no usable answer:
// kNoConnection for failures to reach the server (name, connection, TLS,
// proxy, time-outs), kServerRefused for an answer that is not HTTP we can
// use, kInternal for anything else.
ExitStatus exitStatusOfCurlCode(std::int32_t code);

// The status code with its standard reason phrase ("404 Not Found"); the
// code alone for a code without one.
std::string statusWithReason(int status);

// The host of an absolute address ("downloads.example" of
// "https://downloads.example:8443/a"); the address itself when it has none.
std::string hostOfAddress(const std::string& url);

// Causes of the common failures, their line and their plain words.
FailureCause connectionFailure(const std::string& url, std::int32_t curlCode,
                               const std::string& curlText);
// The final answer's status was not a success. `statusText` is the status as
// the server sent it ("404 Not Found"); empty: the code with its standard
// reason.
FailureCause serverRefusal(const std::string& url, int status, const std::string& statusText);
// The answer from url cannot be used; `why` says how (English).
FailureCause unusableAnswer(const std::string& url, const std::string& why);
// The downloaded installer at path was refused: its digest is not the
// announced one, or it is not signed by the pinned publisher; `why` says
// how (English).
FailureCause digestRefusal(const std::string& path, const std::string& why);
FailureCause publisherRefusal(const std::string& path, const std::string& why);
// The program at path could not be started; `why` is the platform's own
// account (English).
FailureCause startFailure(const std::string& path, const std::string& why);
// The file at path cannot be used by this machine; `why` is the system's
// own error text.
FailureCause localFailure(const std::string& what, const std::string& path, const std::string& why);

// What the error box says after its own text: the cause in plain words, the
// manual download page when `manualPage` is not empty (the box's "Yes" opens
// it) and where the log is when `logPath` is not empty; one line each, in
// the interface language.
std::wstring boxDetails(const FailureCause& cause, const std::string& manualPage,
                        const std::string& logPath);
