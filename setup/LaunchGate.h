#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "downloader/ResponseHeader.h"
#include "net/ProxySettings.h"
#include "platform/ReadOnlyFile.h"
#include "setup/FailureCause.h"
#include "verify/AnnouncedDigest.h"
#include "verify/PublisherSignature.h"

// What the size request said about the installer beyond its size.
struct InstallerSource {
    // The final address of the size request's redirect chain.
    std::string url;
    DigestAnnouncement digest;
    // What a later run compares before it resumes (resumeValidator).
    std::string validator;

    // From the request's address and every header line of its answers.
    static InstallerSource of(const std::string& requestUrl,
                              const std::vector<ResponseHeader>& headers);
};

struct LaunchGateInput {
    std::string installerPath;  // UTF-8
    // The resume state of the installer's download, which goes with a
    // refused installer; empty when there is none.
    std::wstring resumeStatePath;
    InstallerSource source;
    // Empty: any publisher, as when the build pins none.
    std::string pinnedPublisher;
    // With a pinned publisher: its signature, as fetchGateSignature fetched
    // it before the download.
    PublishedSignature signature;
    // Required: ends a check under way, with neither start nor box.
    const std::atomic<bool>* stopFlag = nullptr;
};

struct LaunchGateResult {
    // The installer, held open since it was checked; set when it may start.
    std::unique_ptr<platform::ReadOnlyFile> installer;
    // What the error box says when it may not (the file is gone then); none
    // when the stop flag ended the check, or when it may start.
    std::optional<SetupFailure> failure;
};

struct GateSignature {
    // For LaunchGateInput::signature.
    PublishedSignature signature;
    // What the error box says when the installer is refused already, before
    // its download; none when the download may go ahead, or when the stop
    // flag ended the request.
    std::optional<SetupFailure> failure;
};

// The part of the gate that needs the network, run as soon as the size
// request has named the installer's final address and before its download:
// when the build pins a publisher, the installer's signature is fetched
// (fetchPublishedSignature), so that a missing or unreadable one refuses the
// installer before its bytes are spent. The cause goes to the diagnostic log
// (and stderr). Without a pinned publisher nothing is fetched. Setup worker
// thread; the stop flag ends the request within about a second.
GateSignature fetchGateSignature(const InstallerSource& source, const ProxySettings& proxy,
                                 const std::string& pinnedPublisher,
                                 const std::atomic<bool>& stopFlag);

// Decides whether the downloaded, closed installer may be started: it is
// opened once, its digest compared with the announced one (if any) and its
// publisher's signature checked (if the build pins one), all through that
// handle, which the result then holds for the start. A refused installer is
// deleted with its resume state, so that the next run fetches it afresh; the
// cause goes to the diagnostic log (and stderr), what was
// verified to the log. Setup worker thread, after the download thread has
// ended.
LaunchGateResult passLaunchGate(const LaunchGateInput& input);
