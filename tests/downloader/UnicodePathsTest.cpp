// A user's temporary folder may have any letters and blanks in its name. On
// Windows each of the download's files must be opened by its UTF-16 name: a
// narrow name is read in the ANSI code page, which has no Cyrillic under an
// English locale and reads UTF-8 bytes as other letters under any.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "downloader/DownloaderLog.h"
#include "downloader/ResumeState.h"
#include "platform/DurableFiles.h"
#include "support/Sandbox.h"
#include "text/TextConversion.h"

namespace {

namespace fs = std::filesystem;

TEST(UnicodePaths, RecordResumeStateAndLogAreFoundInAFolderWithAnyLetters) {
    const testsupport::Sandbox sandbox;
    const fs::path folder = sandbox.path() / fs::u8path("Иван José Núñez");
    fs::create_directory(folder);
    const auto inFolder = [&](const char* name) { return utf8ToWide((folder / name).u8string()); };

    constexpr std::int32_t kTotal = DownloadInfo::kDefaultPartSize + 100;
    DownloadInfo fresh;
    fresh.setResourcePath("");
    fresh.setTotalSize(kTotal);
    fresh.setDefaultPartSize();
    fresh.setDefaultWorkersCount();
    fresh.setBaseUrls({"https://a/i.exe"});
    fresh.setDestFilePath(inFolder("wren_kit_.exe"));
    std::ofstream(folder / "wren_kit_.exe", std::ios::binary) << std::string(kTotal, 'x');

    ASSERT_TRUE(fresh.save(inFolder("_.txt")));
    EXPECT_EQ(testsupport::readFile(folder / "_.txt"), fresh.recordBytes());

    DownloadInfo earlier = fresh;
    earlier.advanceWorker(0);
    const std::wstring statePath = resumeStatePath(inFolder("_.txt"));
    ASSERT_EQ(platform::replaceFileDurably(wideToUtf8(statePath),
                                           encodeResumeState({"\"tag\"", earlier})),
              "");
    std::string why;
    const std::optional<DownloadInfo> resumed = resumableDownload(fresh, "\"tag\"", statePath, why);
    ASSERT_TRUE(resumed) << why;
    EXPECT_EQ(resumed->committedSize(), DownloadInfo::kDefaultPartSize);

    DownloaderLog::open(inFolder("diagnostic.log"));
    DownloaderLog::line("logged");
    EXPECT_EQ(testsupport::readFile(folder / "diagnostic.log").rfind("logged", 0), 0u);
}

}  // namespace
