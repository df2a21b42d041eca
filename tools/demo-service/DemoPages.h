#pragma once
// Result pages of the demo search service and the reading of their query.
// Pages are GBK, like the real service's, and every song anchor has the shape
// the program's page cutter takes apart: a quoted address ending in ".mp3",
// sometimes followed by target=_blank, and a title with the service's
// highlight tags, "&nbsp;" and " - " separators. Header-only so tests can
// build pages without a server.
#include "platform/GbkCodec.h"
#include "tools/demo-service/DemoMedia.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace demo {

inline constexpr int kMaxPage = 999999;
inline constexpr std::string_view kListenPrefix = "listen-";
inline constexpr std::string_view kSlowPrefix = "slow-";

// Raw value of one query parameter of a request target ("/path?a=1&b=2"),
// or nothing when the parameter is absent.
inline std::optional<std::string_view> queryValue(std::string_view target, std::string_view name) {
    const auto q = target.find('?');
    if (q == std::string_view::npos) return std::nullopt;
    std::string_view rest = target.substr(q + 1);
    for (;;) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        const auto eq = pair.find('=');
        if (pair.substr(0, eq) == name)
            return eq == std::string_view::npos ? std::string_view{} : pair.substr(eq + 1);
        if (amp == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(amp + 1);
    }
}

inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes %XX escapes. Anything that is not a complete escape stays as it
// stands, so raw GBK bytes and stray "%" signs pass through unchanged. "+"
// stays too: the program sends its keyword unencoded, so "+" means "+".
inline std::string percentDecode(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 &&
            hexValue(raw[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
            i += 2;
        } else {
            out += raw[i];
        }
    }
    return out;
}

// The keyword as GBK bytes: escapes decoded, byte sequences that are not GBK
// and control characters replaced by "?", so a page never carries bytes that
// could swallow the markup around them.
inline std::string readKeyword(std::string_view raw) {
    std::string keyword = platform::utf8ToGbk(platform::gbkToUtf8(percentDecode(raw)));
    for (char& c : keyword) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return keyword;
}

// The bg parameter: a decimal page number; anything else is page 0.
inline int readPage(std::string_view raw) {
    const std::string text = percentDecode(raw);
    if (text.empty()) return 0;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > kMaxPage) return kMaxPage;
    }
    return static_cast<int>(value);
}

inline std::string gbk(std::string_view utf8) { return platform::utf8ToGbk(utf8); }

// GBK trail bytes are never below 0x40, so escaping byte by byte cannot hit
// half of a double-byte character.
inline std::string htmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

inline std::string urlEncode(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
            u == '_' || u == '.' || u == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

// splitmix64: a small deterministic generator seeded from keyword and page.
class PageRandom {
public:
    explicit PageRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

private:
    std::uint64_t state_;
};

inline constexpr std::array<std::string_view, 16> kTitleWords = {
    "春风", "细雨", "远方", "星空", "海边", "山谷", "旧时光", "小城",
    "归途", "清晨", "晚霞", "心愿", "长街", "月色", "微光", "初雪"};
inline constexpr std::array<std::string_view, 8> kVersions = {
    "现场版", "伴奏", "钢琴版", "DJ版", "试听版", "演唱会版", "原唱", "无损版"};

// Eight hex digits of the keyword's hash: keeps song addresses short and
// lower-case whatever the keyword is.
inline std::string keywordId(std::string_view keyword) {
    char id[17];
    std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(stableHash(keyword) & 0xFFFFFFFFu));
    return id;
}

inline std::string songName(std::string_view keyword, int page, int index) {
    return keywordId(keyword) + "-" + std::to_string(page) + "-" + std::to_string(index);
}

inline bool isListenSong(std::string_view name) { return name.starts_with(kListenPrefix); }
inline bool isSlowSong(std::string_view name) { return name.starts_with(kSlowPrefix); }

inline std::string searchLink(std::string_view baseUrl, std::string_view keyword, int page) {
    return std::string(baseUrl) + "/zsmp3?ty=1&word=" + urlEncode(keyword) + "&class=mp3&bg=" +
           std::to_string(page) + "&webid=";
}

inline std::string highlighted(std::string_view text) {
    return "<font color=#DD0000>" + std::string(text) + "</font>";
}

// One song title in one of the shapes the service uses.
inline std::string songTitle(PageRandom& random, const std::string& shownKeyword, const std::string& word) {
    const std::string version = gbk(kVersions[random.below(kVersions.size())]);
    switch (random.below(4)) {
        case 0: return highlighted(shownKeyword) + "&nbsp;-&nbsp;" + word;
        case 1: return word + " - " + highlighted(shownKeyword);
        case 2: return highlighted(shownKeyword) + word + gbk("（") + version + gbk("）");
        default: return shownKeyword + "&nbsp;" + word + " - " + version;
    }
}

inline std::string sizeText(std::size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1fK", static_cast<double>(bytes) / 1024.0);
    return text;
}

// Head of a result page: title, the service's banner, its search form and
// the start of the result table. `shown` is the keyword as it is displayed.
inline std::string pageHead(const std::string& base, const std::string& shown, int page) {
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\r\n";
    html += "<title>" + shown + gbk(" - MP3 搜索结果 第") + std::to_string(page + 1) + gbk("页") +
            "</title>\r\n</head>\r\n<body bgcolor=#FFFBF0>\r\n<a name=\"top\"></a>\r\n";
    html += gbk("<table width=100%><tr><td><b>演示音乐搜索</b></td><td align=right><a href=\"") +
            searchLink(base, "", 0) + gbk("\">热门歌曲</a></td></tr></table>\r\n");
    html += "<form action=\"/zsmp3\" method=get><input type=hidden name=ty value=1>"
            "<input name=word value=\"" + shown +
            "\"><input type=hidden name=class value=mp3><input type=hidden name=bg value=0>"
            "<input type=hidden name=webid value=\"\">" + gbk("<input type=submit value=\"搜索\">") +
            "</form>\r\n";
    html += "<!-- results -->\r\n<p>" + gbk("找到与 ") + highlighted(shown) + gbk(" 相关的歌曲：") +
            "</p>\r\n<table border=0 cellspacing=1>\r\n";
    html += gbk("<tr><td>序号</td><td>歌曲名</td><td>格式</td><td>大小</td><td>相关</td></tr>\r\n");
    return html;
}

struct SongRow {
    int number;
    std::string name;   // song file name without ".mp3"
    std::string title;  // anchor text, markup included
    bool target;        // anchor carries target=_blank
    std::string size;
    std::string word;   // the related search offered beside the song
};

inline std::string songRow(const std::string& base, const SongRow& row) {
    return "<tr><td>" + std::to_string(row.number) + "</td><td><a href=\"" + base + "/songs/" + row.name +
           ".mp3\"" + (row.target ? " target=_blank" : "") + ">" + row.title + "</a></td><td>mp3</td><td>" +
           row.size + "</td><td><a href=\"" + searchLink(base, row.word, 0) + "\">" + row.word +
           "</a></td></tr>\r\n";
}

inline std::string pageFoot(const std::string& base, std::string_view keyword, int page) {
    std::string html = "</table>\r\n<p>";
    if (page > 0) html += "<a href=\"" + searchLink(base, keyword, page - 1) + gbk("\">上一页</a> | ");
    html += gbk("第") + std::to_string(page + 1) + gbk("页 | <a href=\"") + searchLink(base, keyword, page + 1) +
            gbk("\">下一页</a> | <a href=\"#top\">返回顶部</a></p>\r\n");
    html += gbk("<p><small>本服务仅供演示，所有歌曲均为程序生成的静音示例。</small></p>\r\n</body>\r\n</html>\r\n");
    return html;
}

// Result page `page` (the bg parameter) for a keyword given as GBK bytes.
// `baseUrl` is "http://127.0.0.1:PORT", without a trailing slash.
inline std::string resultPage(std::string_view baseUrl, std::string_view keyword, int page) {
    PageRandom random(stableHash(keyword, static_cast<std::uint64_t>(page) * 0x9E3779B97F4A7C15ULL + 1));
    const std::string shown = keyword.empty() ? gbk("热门") : htmlEscape(keyword);
    const std::string base(baseUrl);

    std::string html = pageHead(base, shown, page);
    const int songs = 5 + static_cast<int>(random.below(4));
    for (int i = 0; i < songs; ++i) {
        SongRow row{page * 10 + i + 1, songName(keyword, page, i), "", false, "",
                    gbk(kTitleWords[random.below(kTitleWords.size())])};
        // Page 0 carries one song whose address answers with a web page
        // instead of an MP3 file, and one that arrives slowly.
        if (page == 0 && i == 1) {
            row.name = std::string(kListenPrefix) + keywordId(keyword);
            row.title = shown + "&nbsp;-&nbsp;" + gbk("在线试听");
            row.size = "-";
        } else if (page == 0 && i == 3) {
            row.name = std::string(kSlowPrefix) + keywordId(keyword);
            row.title = shown + "&nbsp;-&nbsp;" + gbk("慢速下载演示");
            row.size = sizeText(kSlowMp3Size);
        } else {
            row.title = songTitle(random, shown, row.word);
            row.size = sizeText(mp3Size(row.name));
        }
        row.target = random.below(3) != 0;
        html += songRow(base, row);
    }
    return html + pageFoot(base, keyword, page);
}

// What a song address answers when the song is only offered for listening
// online: a page with a body background and a frame, both beside it.
inline std::string listenPage() {
    return gbk("<html>\r\n<head><title>在线试听</title></head>\r\n<body background=\"bg.gif\">\r\n"
               "<p>本歌曲只提供在线试听。</p>\r\n"
               "<frameset rows=\"*\"><frame src=\"player.htm\" name=\"player\"></frameset>\r\n"
               "</body>\r\n</html>\r\n");
}

inline std::string playerPage() {
    return gbk("<html>\r\n<head><title>播放器</title></head>\r\n<body bgcolor=#C0DCC0>\r\n"
               "<p>正在播放……</p>\r\n</body>\r\n</html>\r\n");
}

}  // namespace demo
