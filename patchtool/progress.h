// One progress line on stderr for long work, redrawn in place; nothing at
// all when stderr is not a terminal (logs and pipes stay clean).
#pragma once

#include <cstdint>
#include <string>

namespace tool {

class Progress {
public:
    Progress(const std::string& what, uint64_t total);
    ~Progress();   // clears the line
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void setItem(const std::string& item);   // the file being worked on
    void advance(uint64_t bytes);
    void restart(uint64_t total);            // a new count, from 0
    void clear();                            // erases the line before other output

private:
    void draw();
    bool active_;
    std::string what_, item_;
    uint64_t total_, done_ = 0;
    int shownPercent_ = -1;
};

} // namespace tool
