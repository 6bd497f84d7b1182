// The one thing the patch tool reads from a Windows program's headers: its
// certificate table (where an Authenticode signature sits).
#pragma once

#include <cstdint>
#include <vector>

namespace tool {

struct CertificateTable {
    bool isProgram = false;   // an MZ/PE image (32- or 64-bit)
    uint32_t offset = 0;      // file offset of the table; 0 and 0 for unsigned
    uint32_t size = 0;
};

// From the start of the file (the headers lie in its first 4 KiB).
CertificateTable certificateTable(const std::vector<uint8_t>& head);

} // namespace tool
