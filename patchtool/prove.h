// The proof of a packed updater: its payload applied with the updater's
// own run to a scratch copy of the old version folder, and the result held
// against the new version folder file for file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patchtool/tree_compare.h"

namespace tool {

struct ProofRequest {
    std::string updater;                       // the packed updater (UTF-8 path)
    std::string oldFolder, newFolder;
    std::string scratch;                       // a folder that does not exist yet, on OLD's file system if it can be
    const TreeDiff* diff = nullptr;
    std::vector<std::string> installedNames;   // code page 932, per payload entry in table order
    std::vector<uint8_t> list;                 // the hash value list the updater carries
};

struct ProofReport {
    size_t linked = 0, copied = 0, checked = 0;   // files
    uint64_t copiedBytes = 0, readBytes = 0;
    bool madeUninstallList = false;               // OLD had none; the scratch copy got one of OLD's files
};

// Makes the scratch copy (files the run never writes are hard links to
// OLD's, the rest real copies), runs the updater on it, compares, and
// removes the scratch copy again. Empty when the result equals NEW; else
// the first difference, naming the file, or what stopped the proof.
//
// "Equals NEW": every file of NEW with its content (KVX.hvl and uninst.lst
// at the top aside), the files OLD had and NEW lacks still as they were
// (the updater cannot remove them), nothing else (no temporary or side
// file); KVX.hvl exactly the carried list as the run rewrites it (its
// header, the records whose files exist, nothing after them); uninst.lst
// OLD's text with a line for every installed name it did not contain yet,
// in table order, and its NUL.
std::string proveUpdater(const ProofRequest& request, ProofReport* report);

} // namespace tool
