#include "http/NetHeaderList.h"

#include "http/NetGlobal.h"

namespace net {

namespace {

const std::string_view kLineBreak = "\r\n";
const std::string_view kFoldBreak = "\r\n ";
const std::string_view kFoldBreakChars = "\t ,";

bool startsWithBlank(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

}  // namespace

void TNetHeaderList::insert(std::int32_t i, std::string line) {
    if (i < 0 || i > count()) throw ENetException("Index out of range.");
    lines_.insert(lines_.begin() + i, std::move(line));
}

void TNetHeaderList::remove(std::int32_t i) {
    if (i < 0 || i >= count()) throw ENetException("Index out of range.");
    lines_.erase(lines_.begin() + i);
}

std::string TNetHeaderList::text() const {
    std::string result;
    for (const std::string& line : lines_) {
        result += line;
        result += kLineBreak;
    }
    return result;
}

void TNetHeaderList::setText(std::string_view text) {
    lines_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        lines_.emplace_back(text.substr(start, end - start));
        if (end < text.size()) {
            const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
            end += crlf ? 2 : 1;
        }
        start = end;
    }
}

std::string TNetHeaderList::readSeparator() const { return trimRightBlanks(nameValueSeparator); }

std::string TNetHeaderList::NameOfLine(std::int32_t i) const {
    if (i < 0 || i >= count()) return {};
    std::string line = lines_[static_cast<std::size_t>(i)];
    if (!caseSensitive) line = upperAscii(line);
    const std::int32_t pos = textPos(readSeparator(), line);
    if (pos == 0) return {};
    return line.substr(0, static_cast<std::size_t>(pos - 1));
}

bool TNetHeaderList::isContinuation(std::int32_t i) const {
    return i >= 0 && i < count() && startsWithBlank(lines_[static_cast<std::size_t>(i)]);
}

std::string TNetHeaderList::ValueOfLine(std::int32_t i) const {
    if (i < 0 || i >= count()) return {};
    const std::string& line = lines_[static_cast<std::size_t>(i)];
    const std::size_t valueStart = NameOfLine(i).size() + readSeparator().size();
    std::string value = valueStart < line.size() ? line.substr(valueStart) : std::string();
    if (unfoldLines) {
        for (std::int32_t next = i + 1; isContinuation(next); ++next) {
            value = trim(value) + " " + trim(lines_[static_cast<std::size_t>(next)]);
        }
    }
    return trim(value);
}

std::int32_t TNetHeaderList::IndexOfHeader(std::string_view name) const {
    for (std::int32_t i = 0; i < count(); ++i) {
        if (sameText(NameOfLine(i), name)) return i;
    }
    return -1;
}

std::string TNetHeaderList::GetHeaderValue(std::string_view name) const { return ValueOfLine(IndexOfHeader(name)); }

void TNetHeaderList::deleteContinuations(std::int32_t i) {
    while (isContinuation(i + 1)) remove(i + 1);
}

void TNetHeaderList::SetHeaderValue(std::string_view name, std::string_view value) {
    std::int32_t i = IndexOfHeader(name);
    if (value.empty()) {
        if (i < 0) return;
        if (foldLines) deleteContinuations(i);
        remove(i);
        return;
    }
    if (i < 0) {
        add({});
        i = count() - 1;
    }
    std::string line = std::string(name) + nameValueSeparator + std::string(value);
    if (!foldLines) {
        lines_[static_cast<std::size_t>(i)] = std::move(line);
        return;
    }
    deleteContinuations(i);
    std::vector<std::string> pieces = FoldLine(line);
    lines_[static_cast<std::size_t>(i)] = std::move(pieces.front());
    for (std::size_t p = 1; p < pieces.size(); ++p) insert(i + static_cast<std::int32_t>(p), std::move(pieces[p]));
}

void TNetHeaderList::SetHeaderValueUnfolded(std::string_view name, std::string_view value) {
    if (value.empty()) {
        SetHeaderValue(name, value);
        return;
    }
    std::string line = std::string(name) + nameValueSeparator + std::string(value);
    const std::int32_t i = IndexOfHeader(name);
    if (i < 0) {
        add(std::move(line));
        return;
    }
    // Pieces of an earlier folded value must not trail the new line.
    deleteContinuations(i);
    lines_[static_cast<std::size_t>(i)] = std::move(line);
}

void TNetHeaderList::ExtractValues(std::string_view name, std::vector<std::string>* destination) const {
    if (destination == nullptr) return;
    for (std::int32_t i = 0; i < count(); ++i) {
        if (sameText(NameOfLine(i), name)) destination->push_back(ValueOfLine(i));
    }
}

void TNetHeaderList::ExtractValues(std::string_view name, TNetHeaderList* destination) const {
    if (destination == nullptr) return;
    for (std::int32_t i = 0; i < count(); ++i) {
        if (sameText(NameOfLine(i), name)) destination->add(ValueOfLine(i));
    }
}

std::vector<std::string> TNetHeaderList::FoldLine(std::string_view line) const {
    const std::string wrapped = WrapText(line, kFoldBreak, kFoldBreakChars, foldLength);
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = wrapped.find(kLineBreak, start);
        pieces.push_back(trimRightBlanks(std::string_view(wrapped).substr(start, end - start)));
        if (end == std::string::npos) break;
        start = end + kLineBreak.size();
    }
    return pieces;
}

}  // namespace net
