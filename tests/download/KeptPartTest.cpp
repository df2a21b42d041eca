// Part files kept for a later run: what identifies them and how it is read
// back, which of them a download in their folder removes, and a song that
// fails in one run and is continued by the next, or starts over where it
// may not be continued. Also a Cancel in the pause before a continuation.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using dltest::namesIn;
using dltest::readFile;
using dltest::writeFile;
using dltest::OneItemRun;
using dltest::Recorder;
using testsupport::RangeServer;

namespace {

constexpr std::uint64_t kSize = 200000;
constexpr std::uint64_t kHeld = 60000;
const auto kFile = testsupport::patternBody(kSize, 0);
const auto kChangedFile = testsupport::patternBody(kSize, 1);
const std::string kTag = "\"v1\"";

dl::PartIdentity identity(std::uint64_t held = kHeld) {
    return {"http://127.0.0.1:8080/song.mp3", "song.mp3", kTag, "Sun, 06 Nov 1994 08:49:37 GMT", kSize, held, ""};
}

// The identity of a part file a program was writing when it was killed,
// with `held` synced, in the boot given.
dl::PartIdentity writing(std::uint64_t held, std::string boot) {
    dl::PartIdentity id = identity(held);
    id.boot = std::move(boot);
    return id;
}

void setAge(const fs::path& path, std::time_t seconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A part file kept by hand as a program would have kept it (of `size`
// bytes; the bytes held by default).
void keep(const fs::path& folder, const std::string& stem, const dl::PartIdentity& id, std::time_t age = 0,
          std::optional<std::uint64_t> size = std::nullopt) {
    const fs::path part = folder / (".brelvo-" + stem + ".part");
    writeFile(part, kFile->substr(0, size.value_or(id.held)));
    writeFile(dl::IdentityPathOf(part.string()), dl::EncodePartIdentity(id));
    if (age > 0) setAge(part, age);
}

}  // namespace

TEST(KeptPart, AnIdentityReadsBackOnlyWhenItIsExactlyOne) {
    const std::string good = dl::EncodePartIdentity(identity());
    ASSERT_EQ(dl::ParsePartIdentity(good), identity());
    // Bytes of every kind in the fields come back as they were.
    dl::PartIdentity odd = identity();
    odd.url = "http://h/a b%c\xe4\xb8\xad?x=1";
    odd.name = "\xe6\xad\x8c %25 name=v.mp3";
    odd.etag = "W/\"=%\"";
    odd.lastModified = "";
    odd.length = 0;
    EXPECT_EQ(dl::ParsePartIdentity(dl::EncodePartIdentity(odd)), odd);
    // One being written says its boot (form 2), and may hold nothing synced yet.
    for (const std::uint64_t held : {std::uint64_t(0), kHeld}) {
        const dl::PartIdentity live = writing(held, "5b1c3ad2-0d6e-4b0e-9d4c-3c9b7a1e2f40");
        const std::string text = dl::EncodePartIdentity(live);
        EXPECT_EQ(text.rfind("BrelvoMP3 kept part 2\n", 0), 0u);
        EXPECT_EQ(dl::ParsePartIdentity(text), live);
    }
    const std::string liveText = dl::EncodePartIdentity(writing(kHeld, "b00t"));

    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::vector<std::pair<const char*, std::string>> broken = {
        {"empty", ""},
        {"another first line", replaced("BrelvoMP3 kept part 1", "BrelvoMP3 kept part 3")},
        {"form 2 without a boot", replaced("BrelvoMP3 kept part 1", "BrelvoMP3 kept part 2")},
        {"a boot in form 1", replaced("held=60000\n", "held=60000\nboot=b00t\n")},
        {"form 2 with an empty boot",
         [&] { std::string t = liveText; return t.replace(t.find("boot=b00t"), 9, "boot="); }()},
        {"form 2 with a boot of 65 bytes",
         [&] { std::string t = liveText; return t.replace(t.find("boot=b00t"), 9, "boot=" + std::string(65, 'b')); }()},
        {"form 2 with a control byte in the boot",
         [&] { std::string t = liveText; return t.replace(t.find("boot=b00t"), 9, "boot=b%0At"); }()},
        {"no last line", good.substr(0, good.size() - 4)},
        {"no line end at the last line", good.substr(0, good.size() - 1)},
        {"something after the last line", good + "x"},
        {"a field missing", replaced("etag=" + kTag + "\n", "")},
        {"fields out of order", replaced("length=200000\nheld=60000", "held=60000\nlength=200000")},
        {"an unknown field", replaced("etag=", "tag=")},
        {"a field repeated", replaced("held=60000\n", "held=60000\nheld=60000\n")},
        {"no address", replaced("url=http://127.0.0.1:8080/song.mp3", "url=")},
        {"no name", replaced("name=song.mp3", "name=")},
        {"a name with a folder", replaced("name=song.mp3", "name=a/song.mp3")},
        {"the name ..", replaced("name=song.mp3", "name=..")},
        {"a byte not written as it is", replaced("name=song.mp3", "name=so ng.mp3")},
        {"an escape of a plain byte", replaced("name=song.mp3", "name=%73ong.mp3")},
        {"a lower-case escape", replaced("name=song.mp3", "name=song%e4.mp3")},
        {"an escape cut short", replaced("name=song.mp3", "name=song.mp3%2")},
        {"a control byte in the tag", replaced("etag=" + kTag, "etag=%0A")},
        {"a control byte in the address", replaced("url=http://127.0.0.1:8080/song.mp3", "url=http://h/%0D")},
        {"a length that is no number", replaced("length=200000", "length=2e5")},
        {"a length with a leading zero", replaced("length=200000", "length=0200000")},
        {"a length past 64 bits", replaced("length=200000", "length=18446744073709551616")},
        {"a negative count", replaced("held=60000", "held=-1")},
        {"nothing held", replaced("held=60000", "held=0")},
        {"all of the song held", replaced("held=60000", "held=200000")},
        {"more than the song held", replaced("held=60000", "held=200001")},
        {"CR LF line ends", replaced("\nname=", "\r\nname=")},
        {"too long", replaced("url=http://127.0.0.1:8080/song.mp3",
                              "url=http://h/" + std::string(dl::kMaxIdentityBytes, 'a'))},
    };
    for (const auto& [name, text] : broken) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(dl::ParsePartIdentity(text).has_value());
    }
}

// A download in a folder removes the kept part files there that are no
// longer worth keeping, and never one a running program holds.
TEST(KeptPart, TheSweepKeepsWhatMayStillBeContinued) {
    constexpr std::time_t kDay = 24 * 3600;
    const dl::PartIdentity asked = identity();
    dl::PartIdentity otherSong = identity();
    otherSong.url = "http://127.0.0.1:8080/other.mp3";
    otherSong.name = "other.mp3";
    dl::PartIdentity otherUrl = identity();
    otherUrl.url = "http://127.0.0.1:8080/mirror/song.mp3";
    dl::PartIdentity otherName = identity();
    otherName.name = "renamed.mp3";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        std::optional<dl::AskedDownload> download;
        std::vector<std::string> left;
    };
    const dl::AskedDownload continuing{asked.url, asked.name, true};
    const dl::AskedDownload notContinuing{asked.url, asked.name, false};
    const std::vector<Case> cases = {
        {"one kept for the download", [&](const fs::path& f) { keep(f, "1", asked); }, continuing,
         {".brelvo-1.kept", ".brelvo-1.part"}},
        {"one kept for another song", [&](const fs::path& f) { keep(f, "1", otherSong); }, continuing,
         {".brelvo-1.kept", ".brelvo-1.part"}},
        {"one of another song, no download named", [&](const fs::path& f) { keep(f, "1", otherSong); },
         std::nullopt, {".brelvo-1.kept", ".brelvo-1.part"}},
        {"six days old", [&](const fs::path& f) { keep(f, "1", otherSong, 6 * kDay); }, continuing,
         {".brelvo-1.kept", ".brelvo-1.part"}},
        {"eight days old", [&](const fs::path& f) { keep(f, "1", otherSong, 8 * kDay); }, continuing, {}},
        {"left by a killed program: no identity", [&](const fs::path& f) { writeFile(f / ".brelvo-1.part", "x"); },
         continuing, {}},
        {"an identity that is none", [&](const fs::path& f) {
             keep(f, "1", asked);
             writeFile(f / ".brelvo-1.kept", "garbage\n");
         },
         continuing, {}},
        {"an identity counting more than the file holds", [&](const fs::path& f) {
             keep(f, "1", asked);
             writeFile(f / ".brelvo-1.part", "short");
         },
         continuing, {}},
        {"its name asked for from another address", [&](const fs::path& f) { keep(f, "1", otherUrl); }, continuing,
         {}},
        {"its address asked for under another name", [&](const fs::path& f) { keep(f, "1", otherName); },
         continuing, {}},
        {"the download does not continue", [&](const fs::path& f) { keep(f, "1", asked); }, notContinuing, {}},
        {"two kept for the download: the one holding more stays", [&](const fs::path& f) {
             keep(f, "1", identity(1000));
             keep(f, "2", identity(50000));
             keep(f, "3", identity(2000));
         },
         continuing, {".brelvo-2.kept", ".brelvo-2.part"}},
        {"an identity without its part file", [&](const fs::path& f) { writeFile(f / ".brelvo-1.kept", "x"); },
         continuing, {}},
        // A program killed while it wrote: what it wrote in this boot, or
        // what it synced before a power cut, may still be continued.
        {"killed in this boot before any checkpoint", [&](const fs::path& f) {
             keep(f, "1", writing(0, dl::CurrentBootId()), 0, kHeld);
         },
         continuing, {".brelvo-1.kept", ".brelvo-1.part"}},
        {"killed before a power cut, with a checkpoint", [&](const fs::path& f) {
             keep(f, "1", writing(1000, "an-earlier-boot"), 0, kHeld);
         },
         continuing, {".brelvo-1.kept", ".brelvo-1.part"}},
        {"killed before a power cut, nothing synced", [&](const fs::path& f) {
             keep(f, "1", writing(0, "an-earlier-boot"), 0, kHeld);
         },
         continuing, {}},
        {"an identity never renamed into place", [&](const fs::path& f) {
             keep(f, "1", asked);
             writeFile(f / ".brelvo-1.next", "BrelvoMP3 kept part 2\n");
         },
         continuing, {".brelvo-1.kept", ".brelvo-1.part"}},
        {"other files stay", [&](const fs::path& f) {
             writeFile(f / "song.mp3", "old song");
             writeFile(f / ".brelvo-notes.txt", "x");
         },
         continuing, {".brelvo-notes.txt", "song.mp3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir folder;
        c.make(folder.path());
        dl::SweepPartFiles(folder.path().string(), c.download ? &*c.download : nullptr, std::time(nullptr));
        EXPECT_EQ(namesIn(folder.path()), c.left);
    }

    // One another program holds stays, whatever it is.
    testsupport::TempDir folder;
    keep(folder.path(), "1", otherUrl, 8 * kDay);
    const int held = ::open((folder.path() / ".brelvo-1.part").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(dl::SweepPartFiles(folder.path().string(), &continuing, std::time(nullptr)), 0);
    EXPECT_FALSE(dl::TakeUpKeptPart(folder.path().string(), otherUrl.url, otherUrl.name, std::time(nullptr)));
    ::close(held);
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{".brelvo-1.kept", ".brelvo-1.part"}));
}

// A part file is taken up with the bytes it can be trusted with: all that a
// program killed in this boot wrote, only what it synced when the machine
// has booted since, and never the whole song.
TEST(KeptPart, ATakenUpPartIsCutToWhatItCanBeTrustedWith) {
    struct Case {
        const char* name;
        dl::PartIdentity id;
        std::uint64_t size;
        std::uint64_t trusted;
        std::uint64_t synced;
    };
    const std::string thisBoot = dl::CurrentBootId();
    ASSERT_FALSE(thisBoot.empty());
    const std::vector<Case> cases = {
        {"kept by the earlier version or by a failure", identity(kHeld), kHeld, kHeld, kHeld},
        {"killed in this boot, nothing synced", writing(0, thisBoot), kHeld, kHeld, 0},
        {"killed in this boot after a checkpoint", writing(1000, thisBoot), kHeld, kHeld, 1000},
        {"a power cut after a checkpoint", writing(1000, "an-earlier-boot"), kHeld, 1000, 1000},
        {"killed in this boot with the whole song written", writing(1000, thisBoot), kSize, kSize - 1, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dl::TrustedBytes(c.id, c.size, thisBoot), c.trusted);
        testsupport::TempDir folder;
        keep(folder.path(), "1", c.id, 0, c.size);
        auto kept = dl::TakeUpKeptPart(folder.path().string(), c.id.url, c.id.name, std::time(nullptr));
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->identity.held, c.trusted);
        EXPECT_EQ(kept->synced, c.synced);
        EXPECT_EQ(kept->file->size(), c.trusted);
        EXPECT_EQ(fs::file_size(kept->file->path()), c.trusted);
        EXPECT_FALSE(kept->keptHere) << "left by another program";
    }
}

// A song that fails after some bytes keeps them, and the next download of
// it continues where they end; where it may not, it starts over and nothing
// of the kept bytes stays.
TEST(KeptPart, ASongThatFailedIsContinuedByTheNextRun) {
    enum class Next { Continues, StartsOver, Fails };
    struct Case {
        const char* name;
        Next next;
        std::function<void(RangeServer::Setup&)> server = nullptr;
        std::function<void(dl::TDlDownloadItem&, const fs::path&)> before = nullptr;
        bool keptStays = false;  // the kept part file is still there after the second run
    };
    int lockedByOther = -1;
    const std::vector<Case> cases = {
        {"the same address to the same name", Next::Continues},
        {"the file changed meanwhile", Next::StartsOver,
         [](RangeServer::Setup& s) {
             s.changed = {kChangedFile, "\"v2\"", ""};
             s.changeAt = 2;
         }},
        {"the file changed and If-Range is ignored", Next::Fails,
         [](RangeServer::Setup& s) {
             s.changed = {kChangedFile, "\"v2\"", ""};
             s.changeAt = 2;
             s.ifRangeHonoured = false;
         }},
        {"another name", Next::StartsOver, nullptr,
         [](dl::TDlDownloadItem& item, const fs::path&) { item.Request.SetKeepName("other.mp3"); }},
        {"another address", Next::StartsOver, nullptr,
         [](dl::TDlDownloadItem& item, const fs::path&) { item.Request.URL += "?mirror=2"; }},
        {"not continuing", Next::StartsOver, nullptr,
         [](dl::TDlDownloadItem& item, const fs::path&) { item.Request.SetContinueTransfer(false); }},
        {"kept eight days ago", Next::StartsOver, nullptr,
         [](dl::TDlDownloadItem&, const fs::path& folder) {
             for (const std::string& name : namesIn(folder)) {
                 if (dl::IsPartFileName(name)) setAge(folder / name, 8 * 24 * 3600);
             }
         }},
        {"its identity damaged", Next::StartsOver, nullptr,
         [](dl::TDlDownloadItem&, const fs::path& folder) {
             for (const std::string& name : namesIn(folder)) {
                 if (dl::IsIdentityFileName(name)) writeFile(folder / name, "BrelvoMP3 kept part 1\nurl=");
             }
         }},
        {"held by another program meanwhile", Next::StartsOver, nullptr,
         [&lockedByOther](dl::TDlDownloadItem&, const fs::path& folder) {
             for (const std::string& name : namesIn(folder)) {
                 if (!dl::IsPartFileName(name)) continue;
                 lockedByOther = ::open((folder / name).c_str(), O_RDONLY | O_CLOEXEC);
                 ASSERT_EQ(::flock(lockedByOther, LOCK_EX), 0);
             }
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The first run: the line drops at 30 %, and the server cannot serve
        // the rest now. The second run asks again.
        RangeServer::Setup setup;
        setup.file = {kFile, kTag, ""};
        setup.dropAt = {kHeld};
        setup.statusOf = {{1, 503}};
        if (c.server) c.server(setup);
        RangeServer server(setup);
        testsupport::TempDir folder;
        const auto arrangeSong = [&](OneItemRun& run) {
            run.downloads.ThreadCount = 1;
            run.downloads.Attempts.pauses.fill(std::chrono::milliseconds(1));
            run.item.Request.URL = server.url("/song.mp3");
            run.item.Request.SetSaveFolder(folder.path().string());
            run.item.Request.SetContinueTransfer(true);
            run.item.Request.SetKeepName("song.mp3");
        };
        {
            OneItemRun run;
            dl::TDlDownloads& downloads = run.downloads;
            dltest::Recorder& recorder = run.recorder;
            dl::TDlDownloadItem& item = run.item;
            arrangeSong(run);
            // It gives up at once, to be continued by the next run.
            downloads.Attempts.maxFurther = 1;
            ASSERT_TRUE(recorder.runToEnd(60000));
            EXPECT_EQ(item.Progress.ErrorCode, 2);
            EXPECT_EQ(item.Progress.ErrorMessage, "Service unavailable");
        }
        ASSERT_EQ(namesIn(folder.path()).size(), 2u);
        OneItemRun run;
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        dl::TDlDownloadItem& item = run.item;
        arrangeSong(run);
        if (c.before) c.before(item, folder.path());
        const bool ended = recorder.runToEnd(60000);
        if (lockedByOther >= 0) ::close(std::exchange(lockedByOther, -1));
        ASSERT_TRUE(ended);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 3u);
        if (c.next == Next::Fails) {
            EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
            EXPECT_EQ(item.Progress.ErrorMessage, "HTTP Error: 206");
            EXPECT_TRUE(namesIn(folder.path()).empty());
            continue;
        }
        ASSERT_EQ(item.Progress.State.load(), dl::dsFinished) << item.Progress.ErrorMessage;
        const std::string& want = c.server ? *kChangedFile : *kFile;
        EXPECT_EQ(item.Progress.Data.Size(), want.size());
        EXPECT_TRUE(item.Progress.Data.View() == want) << "the song arrived spliced";
        const bool continued = c.next == Next::Continues;
        EXPECT_EQ(requests[2].range.value_or(""), continued || c.server ? "bytes=60000-" : "");
        EXPECT_EQ(requests[2].ifRange.value_or(""), continued || c.server ? kTag : "");
        const dl::TransferOutcome outcome = downloads.OutcomeOf(item).value_or(dl::TransferOutcome{});
        EXPECT_EQ(outcome.continuations, continued ? 1 : 0);
        // The first run was this program's too.
        EXPECT_EQ(outcome.keptFrom,
                  continued ? dl::TransferOutcome::KeptFrom::ThisProgram : dl::TransferOutcome::KeptFrom::None);
        // Only what was missing came over the line, when it was continued.
        EXPECT_EQ(downloads.BytesReceived.load(), static_cast<std::int64_t>(continued ? kSize - kHeld : kSize));
        for (const auto& report : recorder.reports()) {
            if (report.headerPhase) {
                EXPECT_EQ(report.size, kSize);  // the whole song's length
            }
        }
        item.ReleaseData();
        EXPECT_EQ(namesIn(folder.path()).size(), c.keptStays ? 2u : 0u);
    }
}

// A part another program left (closed, killed) is continued as one from
// before this program; a line that drops after it does not change where the
// bytes began.
TEST(KeptPart, APartLeftByAnEarlierProgramIsToldAsSuch) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld + 20000};
    RangeServer server(setup);
    testsupport::TempDir folder;
    dl::PartIdentity left = identity();
    left.url = server.url("/song.mp3");
    left.lastModified.clear();
    keep(folder.path(), "1", left);
    OneItemRun run;
    run.downloads.ThreadCount = 1;
    run.downloads.Attempts.pauses.fill(std::chrono::milliseconds(1));
    run.item.Request.URL = left.url;
    run.item.Request.SetSaveFolder(folder.path().string());
    run.item.Request.SetContinueTransfer(true);
    run.item.Request.SetKeepName("song.mp3");
    ASSERT_TRUE(run.recorder.runToEnd(60000));
    ASSERT_EQ(run.item.Progress.State.load(), dl::dsFinished) << run.item.Progress.ErrorMessage;
    EXPECT_TRUE(run.item.Progress.Data.View() == *kFile);
    const dl::TransferOutcome outcome = run.downloads.OutcomeOf(run.item).value_or(dl::TransferOutcome{});
    EXPECT_EQ(outcome.keptFrom, dl::TransferOutcome::KeptFrom::EarlierProgram);
    EXPECT_EQ(outcome.continuations, 2);
    ASSERT_EQ(outcome.retryReasons.size(), 1u);
    EXPECT_EQ(outcome.retryReasons[0].kind, dl::TransferOutcome::Retry::Kind::RestOfBrokenLine);
    run.item.ReleaseData();
}

// Cancel while the transfer waits to continue: the wait ends at once (the
// pause here is far longer than any bound of the test), nothing more is
// asked for, and the bytes are kept for the next run.
TEST(KeptPart, ACancelInThePauseBeforeAContinuationEndsIt) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    RangeServer server(setup);
    testsupport::TempDir folder;
    OneItemRun run;
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    downloads.ThreadCount = 1;
    downloads.Attempts.pauses.fill(std::chrono::minutes(10));
    item.Request.URL = server.url("/song.mp3");
    item.Request.SetSaveFolder(folder.path().string());
    item.Request.SetContinueTransfer(true);
    item.Request.SetKeepName("song.mp3");
    std::promise<void> pausing;
    downloads.RunPointHook = [&pausing](int point) {
        if (point == 2) pausing.set_value();
    };
    downloads.StartAsync();
    auto paused = pausing.get_future();
    ASSERT_TRUE(dltest::pumpUntil([&] { return paused.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                  30000));
    downloads.Stop();
    ASSERT_TRUE(dltest::pumpUntil([&] { return recorder.allDone() > 0; }, 30000)) << "the pause held the run";
    downloads.WaitForRun();
    EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
    EXPECT_EQ(item.Progress.ErrorCode, 6);
    EXPECT_EQ(server.requestCount(), 1u);
    const std::vector<std::string> names = namesIn(folder.path());
    ASSERT_EQ(names.size(), 2u);
    const auto kept = dl::ReadPartIdentity((folder.path() / names[1]).string());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->held, kHeld);
    EXPECT_EQ(readFile(folder.path() / names[1]), kFile->substr(0, kHeld));
}
