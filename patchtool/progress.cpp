#include "patchtool/progress.h"

#include <cstdio>

#include "patchtool/tool_platform.h"

namespace tool {

Progress::Progress(const std::string& what, uint64_t total)
    : active_(stderrIsTerminal() != 0), what_(what), total_(total)
{
}

Progress::~Progress() { clear(); }

void Progress::clear()
{
    if (active_ && shownPercent_ >= 0) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    shownPercent_ = -1;
}

void Progress::restart(uint64_t total)
{
    total_ = total;
    done_ = 0;
    shownPercent_ = -1;
}

void Progress::setItem(const std::string& item)
{
    item_ = item;
    shownPercent_ = -1;
    draw();
}

void Progress::advance(uint64_t bytes)
{
    done_ += bytes;
    draw();
}

void Progress::draw()
{
    if (!active_)
        return;
    int percent = total_ ? static_cast<int>(done_ * 100 / total_) : 100;
    if (percent == shownPercent_)
        return;
    shownPercent_ = percent;
    std::fprintf(stderr, "\r\033[K%s %3d%% (%llu of %llu MiB) %s", what_.c_str(), percent,
                 static_cast<unsigned long long>(done_ >> 20), static_cast<unsigned long long>(total_ >> 20),
                 item_.c_str());
    std::fflush(stderr);
}

} // namespace tool
