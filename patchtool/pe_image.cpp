#include "patchtool/pe_image.h"

namespace tool {
namespace {

uint32_t le32(const std::vector<uint8_t>& b, uint64_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

} // namespace

CertificateTable certificateTable(const std::vector<uint8_t>& b)
{
    CertificateTable table;
    if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z')
        return table;
    uint64_t pe = le32(b, 0x3C);
    if (pe + 24 + 2 > b.size() || b[pe] != 'P' || b[pe + 1] != 'E' || b[pe + 2] != 0 || b[pe + 3] != 0)
        return table;
    uint64_t optional = pe + 24;
    unsigned magic = b[optional] | b[optional + 1] << 8;
    uint64_t countAt, directories;
    if (magic == 0x10B)
        countAt = optional + 92, directories = optional + 96;
    else if (magic == 0x20B)
        countAt = optional + 108, directories = optional + 112;
    else
        return table;
    if (countAt + 4 > b.size())
        return table;
    const uint32_t kSecurityDirectory = 4;
    if (le32(b, countAt) > kSecurityDirectory) {
        uint64_t entry = directories + kSecurityDirectory * 8;
        if (entry + 8 > b.size())
            return table;
        table.offset = le32(b, entry);
        table.size = le32(b, entry + 4);
    }
    table.isProgram = true;
    return table;
}

} // namespace tool
