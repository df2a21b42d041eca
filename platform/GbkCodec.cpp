#include "platform/GbkCodec.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace platform {
namespace {

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv_open failed: ") + from + " -> " + to);
    }
    ~IconvHandle() { iconv_close(cd_); }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    iconv_t get() const { return cd_; }
    void resetState() const { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

// Converts with iconv, replacing each undecodable or unencodable input
// sequence by one "?". `skipLength` tells how many input bytes one bad
// character spans.
template <typename SkipLength>
std::string convert(const IconvHandle& handle, std::string_view input, SkipLength skipLength) {
    handle.resetState();
    std::string out;
    out.resize(input.size() * 2 + 16);
    char* inPtr = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t used = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        size_t outLeft = out.size() - used;
        size_t rc = iconv(handle.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL (truncated tail): substitute and step over it.
        if (out.size() - used < 1) out.resize(out.size() * 2);
        out[used++] = '?';
        size_t skip = skipLength(reinterpret_cast<const unsigned char*>(inPtr), inLeft);
        inPtr += skip;
        inLeft -= skip;
        handle.resetState();
    }
    out.resize(used);
    return out;
}

size_t gbkCharLength(const unsigned char* p, size_t left) {
    return (isGbkLeadByte(p[0]) && left >= 2) ? 2 : 1;
}

size_t utf8CharLength(const unsigned char* p, size_t left) {
    size_t n = 1;
    if (p[0] >= 0xF0) n = 4;
    else if (p[0] >= 0xE0) n = 3;
    else if (p[0] >= 0xC0) n = 2;
    // Never skip past a byte that cannot continue the sequence.
    size_t i = 1;
    while (i < n && i < left && (p[i] & 0xC0) == 0x80) ++i;
    return i;
}

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
    thread_local IconvHandle handle("UTF-8", "GBK");
    return convert(handle, gbk, gbkCharLength);
}

std::string utf8ToGbk(std::string_view utf8) {
    thread_local IconvHandle handle("GBK", "UTF-8");
    return convert(handle, utf8, utf8CharLength);
}

}  // namespace platform
