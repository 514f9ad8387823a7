#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "downloader/DownloadInfo.h"
#include "downloader/ResponseHeader.h"

// Resuming a download across runs.
//
// The download record is rewritten in place after every verification pass
// and claims parts the writer may still hold in memory, so after a crash it
// cannot be trusted. What a later run resumes from is the resume state, a
// file of its own beside the record ("<record>.resume"): the server's
// validator and a copy of the record, saved as one durable step only at
// points where everything it claims is on the disk. The ordering, on the
// writer's thread and in its queue order (Downloader::saveResumePoint):
//
//   1. the parts the snapshot counts as done (and the saved starts of parts
//      cut short) were queued before it, so they are written first;
//   2. the stream is flushed and the installer's data synced (fdatasync,
//      FlushFileBuffers): those bytes survive a power failure from here on;
//   3. the state goes to "<state>.new", which is synced and renamed over the
//      state, and the folder is synced: the rename is the commit.
//
// A crash before 3 completes leaves the previous state, which claims less
// and whose bytes were synced before it; a crash after leaves the new one. A
// fresh download removes the state durably before it creates the installer
// anew, so no state ever describes a file it did not see written. Parts
// written after the last commit are simply fetched again.
//
// A resume is refused, and the download starts over, unless the state reads
// back whole and in range, is for the same file, addresses, sizes and
// server validator, and the installer is a plain file of ours of the full
// size. Part requests of a resumed download carry If-Range with the
// validator, so that a server whose file changed since answers 200 and the
// part fails instead of mixing two versions.

// The validator of the file a size request's final answer describes: its
// strong ETag as sent (quotes included), else its Last-Modified date; empty
// when it has neither in a usable form (a weak ETag alone is not one). It is
// also the If-Range value of a resumed download.
std::string resumeValidator(const std::vector<ResponseHeader>& headers);

// Where the resume state of the record at recordPath is kept.
std::wstring resumeStatePath(const std::wstring& recordPath);

struct ResumeState {
    std::string validator;
    DownloadInfo record;
};

std::string encodeResumeState(const ResumeState& state);
// Nothing, with `error` saying why, unless bytes are one whole state.
std::optional<ResumeState> decodeResumeState(std::string_view bytes, std::string& error);

// `fresh` (configured, parts reset) with the progress of the earlier run kept
// at statePath, when that run was for the same download and its server's
// file is unchanged (see above); otherwise nothing, with `why` for the log.
// The caller must hold the record's lock.
std::optional<DownloadInfo> resumableDownload(const DownloadInfo& fresh,
                                              const std::string& validator,
                                              const std::wstring& statePath, std::string& why);

// Forgets a download whose file was refused (a digest that does not match,
// a publisher not pinned): its resume state at statePath goes first, then the
// file, each for good, so that the next run starts afresh instead of
// resuming into the same refusal. An empty statePath names no state. Empty
// when both are gone (or were never there); otherwise the causes.
std::string discardRefusedDownload(const std::wstring& file, const std::wstring& statePath);

// The most bytes a resume state may have: a record of 30 workers and a
// handful of addresses is a few KiB.
inline constexpr std::size_t kMaxResumeStateBytes = 64 * 1024;
