// Writing a planned updater so that no half-written or wrong file ever
// carries the output's name: written as OUT.partial, read back with the
// updater's own reader, held against the plan, then renamed to OUT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patchtool/pack_plan.h"
#include "patchtool/updater_report.h"
#include "payload/payload_writer.h"

namespace tool {

// The stub to pack: *path, or when empty the default (<tool's folder>/
// ../win32/updater.exe, then <tool's folder>/updater.exe), which is then
// stored in *path. Fills *bytes and *size; returns every reason it cannot
// be a stub (a stub reaching 0x40000 is left to planPack, which names its
// size from *size).
std::vector<std::string> readStub(std::string* path, std::vector<uint8_t>* bytes, uint64_t* size);

// entries are the plan's in table order (names and sources); sums[i] is
// the checksum of entry i's data, withList whether the plan carries a hash
// value list. Empty on success with *report read back; otherwise what
// failed, and neither OUT.partial nor a new OUT is left.
std::string writePlannedUpdater(const std::string& out, const PackPlan& plan, const std::vector<PackEntry>& entries,
                                const PackOptions& options, bool withList,
                                const std::vector<std::vector<uint8_t>>& sums, UpdaterReport* report);

} // namespace tool
