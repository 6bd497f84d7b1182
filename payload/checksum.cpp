#include <cstring>

#include "payload/hash_value_list.h"

void checksumUpdatePlain(FileChecksum& sum, const uint8_t* data, size_t length)
{
    uint32_t h = sum.h;
    uint8_t a = sum.a, b = sum.b, c = sum.c, d = sum.d;
    for (size_t i = 0; i < length; ++i) {
        uint8_t x = data[i];
        h = h * 233u + x;
        uint8_t l = static_cast<uint8_t>(h);
        a = static_cast<uint8_t>(a + l);
        b ^= l;
        c = static_cast<uint8_t>(c + x);
        d ^= x;
    }
    sum.h = h;
    sum.a = a, sum.b = b, sum.c = c, sum.d = d;
}

void FileChecksum::update(const void* data, size_t length)
{
    checksumUpdatePlain(*this, static_cast<const uint8_t*>(data), length);
}

void FileChecksum::store(uint8_t* out) const
{
    out[0] = static_cast<uint8_t>(h);
    out[1] = static_cast<uint8_t>(h >> 8);
    out[2] = static_cast<uint8_t>(h >> 16);
    out[3] = static_cast<uint8_t>(h >> 24);
    out[4] = a, out[5] = b, out[6] = c, out[7] = d;
}

int FileChecksum::equals(const uint8_t* expected) const
{
    uint8_t mine[8];
    store(mine);
    return std::memcmp(mine, expected, 8) == 0 ? 1 : 0;
}
