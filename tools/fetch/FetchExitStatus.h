#pragma once

// websetup-fetch's exit statuses of its own. A DownloadError is its own exit
// status (0 to 18), so these start at 20; usage errors take 64 (sysexits'
// EX_USAGE), as in websetup-stamp. Documented in the usage text, the manual
// page and the README: their meanings stay once published.
namespace fetchexit {

// The size request's answer gives no usable size (no length, an unreadable
// answer), or libcurl could not start.
inline constexpr int kNoSize = 20;
// The download ended without a complete file (a full disk, a file that could
// not be created).
inline constexpr int kIncomplete = 21;
// The complete file does not have its digest (it is removed with its resume
// state).
inline constexpr int kDigestMismatch = 22;
// The size request got no answer: name resolution, connection, TLS, a time-out.
inline constexpr int kNoConnection = 23;
// The size request was answered with a status other than a success.
inline constexpr int kRefused = 24;
// --publisher-key: the signature is missing or unreadable (nothing is
// downloaded), or does not sign the file with the key given (the file stays,
// its resume state goes).
inline constexpr int kUnsigned = 25;
inline constexpr int kUsage = 64;
// sysexits' EX_TEMPFAIL: another copy holds the record; try again later.
inline constexpr int kRecordBusy = 75;

}  // namespace fetchexit
