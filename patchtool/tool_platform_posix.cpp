// The patch tool on Linux: glibc's iconv for code page 932, paths and
// arguments already UTF-8.
#include "patchtool/tool_platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iconv.h>
#include <unistd.h>

namespace tool {
namespace {

int convert(const char* from, const char* to, const std::string& in, std::string* out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return 0;
    std::string result;
    // Code page 932 and UTF-8 differ by at most a factor of two per character.
    result.resize(in.size() * 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &result[0];
    size_t dstLeft = result.size();
    int ok = 1;
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                size_t used = result.size() - dstLeft;
                result.resize(result.size() * 2);
                dst = &result[used];
                dstLeft = result.size() - used;
                continue;
            }
            ok = 0;   // EILSEQ or EINVAL: not convertible, or a cut character
            break;
        }
    }
    if (ok && iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1))
        ok = 0;
    iconv_close(cd);
    if (!ok)
        return 0;
    result.resize(result.size() - dstLeft);
    *out = result;
    return 1;
}

// Read inside the signal handler: plain storage, set before the handler.
char gRemovePath[4096];
int32_t* volatile gInterruptFlag = nullptr;

void onInterrupt(int sig)
{
    if (gInterruptFlag && *gInterruptFlag == 0) {
        *gInterruptFlag = 1;
        return;
    }
    if (gRemovePath[0])
        unlink(gRemovePath);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void handleInterrupts(bool on)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, on ? onInterrupt : SIG_DFL);
}

} // namespace

int runPath(const std::string& utf8, std::string* out)
{
    std::string cp932, back;
    if (!rawUtf8ToCp932(utf8, &cp932) || !rawCp932ToUtf8(cp932, &back) || back != utf8)
        return 0;
    *out = cp932;
    return 1;
}

int fileSystemPath(const char* runPath, std::string* out)
{
    if (!rawCp932ToUtf8(runPath, out))
        return 0;
    // Every 0x5C left in UTF-8 is a separator (a 0x5C trail byte became part
    // of its character); "/" keeps the seam from reading UTF-8 bytes as
    // code page 932 lead bytes.
    for (char& c : *out)
        if (c == '\\')
            c = '/';
    return 1;
}

int runPathOfFileSystemPath(const std::string& native, std::string* out)
{
    std::string utf8(native);
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return runPath(utf8, out);
}

void removeOnInterrupt(const std::string& nativePath)
{
    if (nativePath.size() >= sizeof gRemovePath)
        return;
    handleInterrupts(false);
    std::memcpy(gRemovePath, nativePath.c_str(), nativePath.size() + 1);
    handleInterrupts(!nativePath.empty());
}

void raiseFlagOnInterrupt(int32_t* flag)
{
    gInterruptFlag = flag;
    handleInterrupts(flag != nullptr);
}

int rawUtf8ToCp932(const std::string& utf8, std::string* cp932)
{
    return convert("UTF-8", "CP932", utf8, cp932);
}

int rawCp932ToUtf8(const std::string& cp932, std::string* utf8)
{
    return convert("CP932", "UTF-8", cp932, utf8);
}

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void setUpConsole() {}

int stderrIsTerminal() { return isatty(2) ? 1 : 0; }

std::string toolPath()
{
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

int corePath(const std::string& utf8, std::string* out)
{
    *out = utf8;
    return 1;
}

} // namespace tool
