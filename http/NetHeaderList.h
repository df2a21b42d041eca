#pragma once
// The raw form of HTTP headers: an ordered list of "Name: value" lines
// (duplicates allowed), with lookup by name, unfolding of continuation lines
// on read and folding of long lines on write.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace net {

class TNetHeaderList {
public:
    TNetHeaderList() = default;
    explicit TNetHeaderList(std::int32_t foldLength) : foldLength(foldLength) {}

    // ---- as a plain list of lines ----
    std::int32_t count() const { return static_cast<std::int32_t>(lines_.size()); }
    bool empty() const { return lines_.empty(); }
    const std::string& operator[](std::int32_t i) const { return lines_.at(static_cast<std::size_t>(i)); }
    const std::vector<std::string>& lines() const { return lines_; }
    void add(std::string line) { lines_.push_back(std::move(line)); }
    void insert(std::int32_t i, std::string line);
    void remove(std::int32_t i);
    void clear() { lines_.clear(); }
    // Every line followed by CR LF.
    std::string text() const;
    // Splits at CR LF, LF or CR; a final line end adds no empty line.
    void setText(std::string_view text);

    // ---- as headers ----
    // The line's name: before the first ":", upper-cased unless caseSensitive,
    // not trimmed ("Name : v" has the name "NAME ").
    std::string NameOfLine(std::int32_t i) const;
    // The text after the ":", with continuation lines joined by one blank when
    // unfolding; empty for an index outside the list.
    std::string ValueOfLine(std::int32_t i) const;
    // First line whose name equals name case-insensitively, else -1.
    std::int32_t IndexOfHeader(std::string_view name) const;
    std::string GetHeaderValue(std::string_view name) const;
    // Replaces the header in place (a new one goes to the end); an empty value
    // deletes it.
    void SetHeaderValue(std::string_view name, std::string_view value);
    // The same, but the header stays one line whatever its length.
    void SetHeaderValueUnfolded(std::string_view name, std::string_view value);
    // Appends the value of every line with that name, in order.
    void ExtractValues(std::string_view name, std::vector<std::string>* destination) const;
    void ExtractValues(std::string_view name, TNetHeaderList* destination) const;
    // The line wrapped at foldLength into continuation pieces.
    std::vector<std::string> FoldLine(std::string_view line) const;

    // ---- settings ----
    std::string nameValueSeparator = ": ";
    bool caseSensitive = false;
    bool unfoldLines = true;
    bool foldLines = true;
    std::int32_t foldLength = 78;

private:
    std::string readSeparator() const;  // the separator without trailing blanks
    bool isContinuation(std::int32_t i) const;
    void deleteContinuations(std::int32_t i);

    std::vector<std::string> lines_;
};

}  // namespace net
