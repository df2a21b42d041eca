// The pure rules of the component and its window: file names, form values,
// label texts, figures and the bar's position.
#include <filesystem>
#include <string>
#include <vector>

#include <QLocale>
#include <gtest/gtest.h>

#include "download/files/DlFileNames.h"
#include "download/texts/DlProgressText.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"

namespace {

struct NameCase {
    const char* url;
    const char* name;
};

}  // namespace

TEST(FileNames, DefaultNameIsHostUnderscoreLastPartMadeSafe) {
    const std::vector<NameCase> cases = {
        {"http://srv1/music/song.mp3", "srv1_song.mp3"},
        {"http://srv1/music/c d.mp3", "srv1_c_d.mp3"},
        {"http://127.0.0.1:8080/songs/abc-0-1.mp3", "127.0.0.1_abc_0_1.mp3"},
        {"http://user:pw@srv1/a/b.mp3?id=7&x=y", "srv1_b.mp3_id_7_x_y"},
        // Nothing after the last "/": the host alone.
        {"http://srv1/music/", "srv1"},
        // Each byte of a character beyond ASCII on its own.
        {"http://srv1/\xE6\x9C\x88.mp3", "srv1____.mp3"},
        // Without any "/" the last character stands for the URL's part;
        // nothing splits there, so there is no host.
        {"song.mp3", "_3"},
        {"", ""},
    };
    for (const NameCase& c : cases) EXPECT_EQ(dl::DefaultFileName(c.url), c.name) << c.url;
}

TEST(FileNames, HostTakesAtMost99Characters) {
    const std::string host(120, 'h');
    EXPECT_EQ(dl::DefaultFileName("http://" + host + "/x.mp3"), std::string(99, 'h') + "_x.mp3");
}

// A title with ".mp3" always names a visible file in the download folder
// that ends in ".mp3", and never one of the program's own hidden files.
TEST(FileNames, DestinationNameNamesAVisibleFileAndKeepsItsExtension) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"AC/DC.mp3", "AC_DC.mp3"},
        {"../../x.mp3", "_._.._x.mp3"},
        {"a\\b.mp3", "a_b.mp3"},
        {"月亮 - 星空（原唱）?*:<>|\".mp3", "月亮 - 星空（原唱）?*:<>|\".mp3"},
        // A NUL no longer ends the name: the extension stays.
        {std::string("evil.desktop\0 song.mp3", 22), "evil.desktop_ song.mp3"},
        {std::string(".hidden\0 song.mp3", 17), "_hidden_ song.mp3"},
        {std::string(".brelvo-3.part\0 song.mp3", 24), "_brelvo-3.part_ song.mp3"},
        {".brelvo-7.part", "_brelvo-7.part"},
        {".brelvo-7.kept", "_brelvo-7.kept"},
        {"line\nbreak\r\t.mp3", "line_break__.mp3"},
        {"bell\x07" "del\x7F" ".mp3", "bell_del_.mp3"},
        // C1 controls in UTF-8 are one character each; other characters stay.
        {"a\xC2\x85" "b\xC2\x9F" ".mp3", "a_b_.mp3"},
        {"\xC2\xA0\xC3\xA9.mp3", "\xC2\xA0\xC3\xA9.mp3"},
        {".mp3", "_.mp3"},
        {".", "."},
        {"..", ".."},
        {"", ""},
    };
    for (const auto& [title, name] : cases) EXPECT_EQ(dl::SafeDestinationName(title), name) << title;
}

TEST(FileNames, PageNameGetsHtmUnlessItsExtensionHasIt) {
    const std::vector<NameCase> cases = {
        {"title.mp3", "title.mp3.htm"}, {"player.htm", "player.htm"}, {"a.html", "a.html"},
        {"a.htm.mp3", "a.htm.mp3.htm"}, {"noext", "noext.htm"},       {"a.shtml", "a.shtml.htm"},
    };
    for (const NameCase& c : cases) EXPECT_EQ(dl::PageFileName(c.url), c.name) << c.url;
}

TEST(FileNames, HtmlContentTypeIsFoundIgnoringCase) {
    EXPECT_TRUE(dl::IsHtmlContentType("text/html"));
    EXPECT_TRUE(dl::IsHtmlContentType("Text/HTML; charset=gbk"));
    EXPECT_FALSE(dl::IsHtmlContentType("audio/mpeg"));
    EXPECT_FALSE(dl::IsHtmlContentType("text/htm"));
    EXPECT_FALSE(dl::IsHtmlContentType(""));
}

TEST(FileNames, FolderIsExpandedAgainstTheWorkingDirectoryKeepingItsSeparator) {
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(dl::ExpandFolder("downmp3/"), cwd + "/downmp3/");
    EXPECT_EQ(dl::ExpandFolder("a/../b/./c"), cwd + "/b/c");
    EXPECT_EQ(dl::ExpandFolder("/tmp//x/"), "/tmp/x/");
    EXPECT_EQ(dl::ExpandFolder(""), "");
}

TEST(FormValues, KeptCharactersBlanksAndTheRest) {
    EXPECT_EQ(dl::TDlWebHTTPGet::EncodeFormValue("aZ09!$'()*-.@_"), "aZ09!$'()*-.@_");
    EXPECT_EQ(dl::TDlWebHTTPGet::EncodeFormValue("a b&c=d/\x01"), "a%20b%26c%3Dd%2F%01");
    EXPECT_EQ(dl::TDlWebHTTPGet::EncodeFormValue("\xE6\x9C\x88"), "%E6%9C%88");
    EXPECT_EQ(dl::TDlWebHTTPGet::EncodeFormValue(""), "");
}

TEST(ProgressTexts, DownloadLabelIsFilePartFromHost) {
    const std::vector<NameCase> cases = {
        {"http://srv1/music/song.mp3", "song.mp3 from srv1"},
        {"http://user:pw@srv1:8080/a/b.mp3?id=7", "b.mp3?id=7 from srv1"},
        {"http:\\\\srv2\\dir\\x.mp3", "x.mp3 from srv2"},
        // Without "://" there is no host.
        {"song.mp3", "song.mp3 from "},
        {"c:song.mp3", "song.mp3 from "},
        {"http://srv1", "srv1 from srv1"},
        {"", " from "},
    };
    for (const NameCase& c : cases) EXPECT_EQ(dl::DownloadLabelText(c.url), c.name) << c.url;
}

TEST(ProgressTexts, KilobytesWithTwoDecimalsWithoutGrouping) {
    const QLocale c = QLocale::c();
    EXPECT_EQ(dl::KilobyteFigure(0, c), QStringLiteral("0.00"));
    EXPECT_EQ(dl::KilobyteFigure(1536, c), QStringLiteral("1.50"));
    EXPECT_EQ(dl::KilobyteFigure(1024.0 * 1234567, c), QStringLiteral("1234567.00"));
    // The system's decimal separator.
    EXPECT_EQ(dl::KilobyteFigure(1024.0 * 1234.5, QLocale(QLocale::German)), QStringLiteral("1234,50"));
}

TEST(ProgressTexts, BarPositionRoundsHalvesToEven) {
    struct Case {
        int step;
        std::int64_t sum;
        int count;
        int position;
    };
    const std::vector<Case> cases = {
        {100, 0, 1, 0},   {100, 37, 1, 37},  {100, 100, 1, 100}, {100, 50, 2, 25},
        {100, 150, 4, 38},  // 37.5 up to the even 38
        {100, 250, 4, 62},  // 62.5 down to the even 62
        {100, 100, 3, 33},  {100, 200, 3, 67}, {100, 300, 3, 100}, {50, 100, 1, 50},
        {100, 50, 0, 50},  // a count below 1 counts as 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(dl::ProgressPosition(c.step, c.sum, c.count), c.position) << c.sum << "/" << c.count;
}
