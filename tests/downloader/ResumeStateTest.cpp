#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "downloader/ResumeState.h"
#include "support/Sandbox.h"

namespace {

constexpr std::int32_t P = DownloadInfo::kDefaultPartSize;
constexpr std::int32_t kTotal = 20 * P + 100;  // 21 parts, 12 workers
const std::string kValidator = "\"5f2b-1500064\"";

std::wstring wide(const std::string& narrow) { return std::wstring(narrow.begin(), narrow.end()); }

DownloadInfo freshInfo(const std::string& destination, const std::string& url = "https://a/i.exe") {
    DownloadInfo info;
    info.setResourcePath("");
    info.setTotalSize(kTotal);
    info.setDefaultPartSize();
    info.setDefaultWorkersCount();
    info.setBaseUrls({url});
    info.setDestFilePath(wide(destination));
    return info;
}

// Parts 0-11 verified except 3 and 7; worker 5 holds 1000 bytes of part 16.
DownloadInfo midDownload(const std::string& destination) {
    DownloadInfo info = freshInfo(destination);
    for (const std::int32_t worker : {0, 1, 2, 4, 5, 6, 8, 9, 10, 11}) info.advanceWorker(worker);
    info.setSavedLength(5, 1000);
    return info;
}

// The record's little-endian integer at `offset` replaced by `value`.
std::string withInt32At(std::string bytes, std::size_t offset, std::int32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] =
            static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    }
    return bytes;
}

TEST(ResumeState, ARecordReadsBackAsTheStateItWasSavedIn) {
    const DownloadInfo saved = midDownload("/private/wren_kit_.exe");
    std::string error;
    const std::optional<DownloadInfo> read =
        DownloadInfo::fromRecordBytes(saved.recordBytes(), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->recordBytes(), saved.recordBytes());
    EXPECT_EQ(read->committedSize(), saved.committedSize());
    EXPECT_EQ(read->committedSize(), 10 * P);
    EXPECT_EQ(read->savedLength(5), 1000);
    EXPECT_EQ(read->destFilePath(), L"/private/wren_kit_.exe");

    const std::optional<ResumeState> state =
        decodeResumeState(encodeResumeState({kValidator, saved}), error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->validator, kValidator);
    EXPECT_EQ(state->record.recordBytes(), saved.recordBytes());
}

// Parts of one byte in a file of 2^31 - 1 bytes: as many parts as a part
// index can count, the last worker done just past them.
TEST(ResumeState, ARecordAtTheLimitsOfItsIntegersReadsBack) {
    const std::string record = midDownload("/p/i.exe").recordBytes();
    const std::size_t sizes = 12 + 2 * 8;
    const std::size_t parts = sizes + 12 + 4 * 12;
    std::string atLimits = withInt32At(record, sizes, 1);
    atLimits = withInt32At(atLimits, sizes + 4, INT32_MAX);
    atLimits = withInt32At(atLimits, sizes + 12 + 4 * 5, 0);
    atLimits = withInt32At(atLimits, parts + 4 * 11, INT32_MAX);
    std::string error;
    const std::optional<DownloadInfo> read = DownloadInfo::fromRecordBytes(atLimits, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->recordBytes(), atLimits);
    EXPECT_EQ(read->partsCount(), INT32_MAX);
    EXPECT_TRUE(read->isWorkerFinished(11));
    EXPECT_EQ(read->committedSize(), INT32_MAX - 11);
}

// Whatever a crash, a full disk or a planted file left, a state is either
// one the download could have been in, or nothing.
TEST(ResumeState, DamagedOrImpossibleStatesAreRefused) {
    const std::string record = midDownload("/p/i.exe").recordBytes();
    const std::string state = encodeResumeState({kValidator, midDownload("/p/i.exe")});
    // Offsets in the record: path of 8 units from 12, sizes from 28, then 12
    // saved lengths and 12 parts.
    const std::size_t sizes = 12 + 2 * 8;
    const std::size_t saved = sizes + 12;
    const std::size_t parts = saved + 4 * 12;
    const std::size_t urls = parts + 4 * 12;
    const auto stateOf = [](const std::string& changedRecord) {
        return "websetup resume state 1\nvalidator " + kValidator + "\nrecord " +
               std::to_string(changedRecord.size()) + "\n" + changedRecord;
    };
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"an empty file", ""},
        {"another kind of file", "websetup resume state 2\n" + state.substr(24)},
        {"a byte after the end", state + "x"},
        {"a byte after the record's end", stateOf(record + "x")},
        {"a validator with a control character",
         "websetup resume state 1\nvalidator \"a\x01\"\n" + state.substr(state.find("record "))},
        {"a record length that is not the record's",
         state.substr(0, state.find("record ")) + "record 7\n" + record},
        {"a part size of 0", stateOf(withInt32At(record, sizes, 0))},
        {"a total size of 0", stateOf(withInt32At(record, sizes + 4, 0))},
        {"31 workers", stateOf(withInt32At(record, sizes + 8, 31))},
        {"a negative part", stateOf(withInt32At(record, parts, -1))},
        {"a part past the last worker's", stateOf(withInt32At(record, parts, 21 + 12))},
        {"parts of one byte, one with bytes saved",
         stateOf(withInt32At(withInt32At(record, sizes, 1), sizes + 4, INT32_MAX))},
        {"two workers on one part", stateOf(withInt32At(record, parts + 4, 16))},
        {"a saved length of a whole part", stateOf(withInt32At(record, saved + 4 * 5, P))},
        {"a negative saved length", stateOf(withInt32At(record, saved, -5))},
        {"an address count beyond the bytes", stateOf(withInt32At(record, urls, 1 << 30))},
        {"no address", stateOf(withInt32At(record, urls, 0).substr(0, urls + 4))},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(decodeResumeState(c.bytes, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
    for (std::size_t cut = 0; cut < state.size(); ++cut) {
        std::string error;
        EXPECT_FALSE(decodeResumeState(state.substr(0, cut), error)) << "cut at " << cut;
    }
}

TEST(ResumeState, TheValidatorIsTheFinalAnswersStrongEntityTagElseItsDate) {
    const ResponseHeader ok{HK_Status, "200"};
    const ResponseHeader redirect{HK_Status, "302"};
    const ResponseHeader date{HK_LastModified, "Tue, 01 Dec 2026 10:00:00 GMT"};
    const auto field = [](const std::string& line) { return ResponseHeader{HK_Other, line}; };
    const struct {
        const char* name;
        std::vector<ResponseHeader> headers;
        std::string validator;
    } cases[] = {
        {"a strong tag", {ok, field("ETag: \"abc\""), date}, "\"abc\""},
        {"any case of the name", {ok, field("etag: \"abc\"")}, "\"abc\""},
        {"a weak tag: the date", {ok, field("ETag: W/\"abc\""), date}, date.value},
        {"a weak tag alone", {ok, field("ETag: W/\"abc\"")}, ""},
        {"an unquoted tag alone", {ok, field("ETag: abc")}, ""},
        {"the date alone", {ok, date}, date.value},
        {"the redirect's tag", {redirect, field("ETag: \"abc\""), date, ok}, ""},
        {"neither", {ok, field("Content-Type: x")}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(resumeValidator(c.headers), c.validator) << c.name;
}

// The earlier run's progress is taken only for the same download of a file
// the server still has unchanged, with the installer there in full.
TEST(ResumeState, ResumesOnlyTheSameDownloadOfAnUnchangedFileStillThere) {
    testsupport::Sandbox sandbox;
    const std::string installer = sandbox.file("i.exe");
    const std::wstring statePath = wide(sandbox.file("_.txt.resume"));
    const std::string fullFile(static_cast<std::size_t>(kTotal), 'x');
    const auto writeState = [&](const DownloadInfo& info) {
        sandbox.writeFile("_.txt.resume", encodeResumeState({kValidator, info}));
    };
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::string validator;
        DownloadInfo fresh;
        bool resumes;
    } cases[] = {
        {"the same download", [] {}, kValidator, freshInfo(installer), true},
        {"another validator", [] {}, "\"other\"", freshInfo(installer), false},
        {"no validator now", [] {}, "", freshInfo(installer), false},
        {"another address", [] {}, kValidator, freshInfo(installer, "https://b/i.exe"), false},
        {"another file", [] {}, kValidator, freshInfo(sandbox.file("j.exe")), false},
        {"another size", [] {}, kValidator,
         [&] {
             DownloadInfo info = freshInfo(installer);
             info.setTotalSize(kTotal - 1);
             return info;
         }(),
         false},
        {"no state", [&] { std::filesystem::remove(sandbox.file("_.txt.resume")); }, kValidator,
         freshInfo(installer), false},
        {"a damaged state", [&] { sandbox.writeFile("_.txt.resume", "websetup resume"); },
         kValidator, freshInfo(installer), false},
        {"no installer", [&] { std::filesystem::remove(installer); }, kValidator,
         freshInfo(installer), false},
        {"a shorter installer", [&] { sandbox.writeFile("i.exe", fullFile.substr(1)); }, kValidator,
         freshInfo(installer), false},
        {"a link at the installer's name",
         [&] {
             std::filesystem::remove(installer);
             std::filesystem::create_symlink(sandbox.writeFile("elsewhere", fullFile), installer);
         },
         kValidator, freshInfo(installer), false},
        {"a second name of the installer",
         [&] { std::filesystem::create_hard_link(installer, sandbox.file("second")); }, kValidator,
         freshInfo(installer), false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(sandbox.file("second"));
        std::filesystem::remove(installer);
        sandbox.writeFile("i.exe", fullFile);
        writeState(midDownload(installer));
        c.arrange();
        std::string why;
        const std::optional<DownloadInfo> resumed =
            resumableDownload(c.fresh, c.validator, statePath, why);
        EXPECT_EQ(resumed.has_value(), c.resumes) << c.name << ": " << why;
        if (resumed) {
            EXPECT_EQ(resumed->recordBytes(), midDownload(installer).recordBytes()) << c.name;
        } else {
            EXPECT_FALSE(why.empty()) << c.name;
        }
    }
}

}  // namespace
