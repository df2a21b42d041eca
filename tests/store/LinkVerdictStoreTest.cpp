#include "store/LinkVerdictStore.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"

namespace {

using store::LinkVerdictKind;
using store::StoredVerdict;

StoredVerdict verdict(std::string url, LinkVerdictKind kind, int code) {
    StoredVerdict v;
    v.url = std::move(url);
    v.checkedAt = 1796800000;
    v.verdict = kind;
    v.code = code;
    v.status = code < 1000 ? code : 0;
    return v;
}

TEST(LinkVerdictStore, KeptAcrossConnectionsAndMadeOnFirstSave) {
    storetest::StoreFile file(2);
    const auto tables = [&] {
        return storetest::OtherConnection(file.path).ids("select count(*) from sqlite_master where type = 'table'");
    };
    StoredVerdict song = verdict("http://a/1.mp3", LinkVerdictKind::Audio, 206);
    song.size = 4128768;
    song.kbps = 128;
    song.seconds = 258.0;
    song.etag = "\"v1\"";
    song.lastModified = "Wed, 09 Dec 2026 10:00:00 GMT";
    const StoredVerdict dead = verdict("http://b/2.mp3", LinkVerdictKind::Dead, 12007);
    {
        store::LinkVerdictStore verdicts(file.path);
        EXPECT_TRUE(verdicts.find({song.url}).empty());
        EXPECT_EQ(tables(), std::vector<std::int64_t>{1});  // reading made nothing
        verdicts.save({song, dead});
        EXPECT_EQ(tables(), std::vector<std::int64_t>{2});
    }
    store::LinkVerdictStore again(file.path);
    EXPECT_EQ(again.find({dead.url, "http://c/none.mp3", song.url}), (std::vector<StoredVerdict>{dead, song}));
    // A later probe takes the place of the earlier one.
    const StoredVerdict busy = verdict(song.url, LinkVerdictKind::Unavailable, 503);
    again.save({busy});
    EXPECT_EQ(again.find({song.url}), std::vector<StoredVerdict>{busy});
    EXPECT_EQ(storetest::rowsOnDisk(file.path), 2);
}

TEST(LinkVerdictStore, RowsNoSaveWroteAreNoVerdicts) {
    storetest::StoreFile file(0);
    store::LinkVerdictStore verdicts(file.path);
    verdicts.save({verdict("http://a/ok.mp3", LinkVerdictKind::NotAudio, 200)});
    storetest::execSql(file.path,
                       "insert into linkverdicts (url, verdict, size) values ('http://a/7.mp3', 7, 1);"
                       "insert into linkverdicts (url, verdict, size) values ('http://a/neg.mp3', 0, -5);"
                       "insert into linkverdicts (url, verdict, kbps) values ('http://a/fast.mp3', 0, 99999)");
    const auto found = verdicts.find({"http://a/7.mp3", "http://a/neg.mp3", "http://a/fast.mp3", "http://a/ok.mp3"});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].url, "http://a/ok.mp3");
    EXPECT_EQ(found[0].verdict, LinkVerdictKind::NotAudio);
}

// The grid reads the verdicts of its rows at start, then of the rows added
// since: each address once, whatever other rows or verdicts the file holds.
TEST(LinkVerdictStore, VerdictsOfTheSongsAfterARowid) {
    storetest::StoreFile file(4);  // http://h/0.mp3 .. http://h/3.mp3, ids 1..4
    store::LinkVerdictStore verdicts(file.path);
    // No table yet: nothing, and the largest id all the same.
    auto none = verdicts.findOfSongs(0);
    EXPECT_TRUE(none.verdicts.empty());
    EXPECT_EQ(none.lastRowid, 4);
    EXPECT_EQ(storetest::OtherConnection(file.path).ids("select count(*) from sqlite_master where type = 'table'"),
              std::vector<std::int64_t>{1});

    std::string longUrl = "http://h/" + std::string(3000, 'x') + ".mp3";  // longer than any reason
    verdicts.save({verdict("http://h/1.mp3", LinkVerdictKind::Dead, 404),
                   verdict("http://h/3.mp3", LinkVerdictKind::Audio, 206),
                   verdict("http://elsewhere/9.mp3", LinkVerdictKind::Dead, 404), verdict(longUrl, LinkVerdictKind::NotAudio, 200)});
    storetest::execSql(file.path, "insert into tab1 values ('again', 'http://h/1.mp3', 'k');"  // id 5, a second row
                                  "insert into tab1 values ('long', '" + longUrl + "', 'k');"  // id 6
                                  "insert into linkverdicts (url, verdict) values ('http://h/2.mp3', 9)");  // no save wrote it
    auto urls = [](const store::LinkVerdictStore::SongVerdicts& found) {
        std::vector<std::string> out;
        for (const auto& v : found.verdicts) out.push_back(v.url);
        std::sort(out.begin(), out.end());
        return out;
    };
    auto all = verdicts.findOfSongs(0);
    EXPECT_EQ(all.lastRowid, 6);
    EXPECT_EQ(urls(all), (std::vector<std::string>{"http://h/1.mp3", "http://h/3.mp3", longUrl}));
    auto later = verdicts.findOfSongs(4);
    EXPECT_EQ(urls(later), (std::vector<std::string>{"http://h/1.mp3", longUrl}));
    EXPECT_EQ(later.verdicts.front().code, 404);
    auto nothingNew = verdicts.findOfSongs(6);
    EXPECT_TRUE(nothingNew.verdicts.empty());
    EXPECT_EQ(nothingNew.lastRowid, 6);

    // Cleared and filled again: the ids start low, and are read from the start.
    storetest::execSql(file.path, "delete from tab1; insert into tab1 values ('t', 'http://h/3.mp3', 'k')");
    auto refilled = verdicts.findOfSongs(6);
    EXPECT_EQ(refilled.lastRowid, 1);
    EXPECT_EQ(urls(refilled), std::vector<std::string>{"http://h/3.mp3"});
}

}  // namespace
