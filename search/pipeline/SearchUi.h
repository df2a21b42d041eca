#pragma once
// What the search needs from the main window. Every call is made on the UI
// thread; the stages hand them over.
#include <string>

namespace search {

class SearchUi {
public:
    virtual ~SearchUi() = default;
    virtual void appendLog(const std::string& utf8Line) = 0;
    // The keyword box's current text, as typed.
    virtual std::string keywordText() = 0;
    virtual void setSearchEnabled(bool enabled) = 0;
    virtual void setStopEnabled(bool enabled) = 0;
    // Re-opens the results query (the grid follows) and returns its count.
    virtual int requeryAndCount() = 0;
};

}  // namespace search
