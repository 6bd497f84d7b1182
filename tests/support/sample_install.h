// One small installation and the updater for it, shared by the tests that
// judge whole folders (planted links, interrupted runs): the old files, the
// payload, and the contents the folder must hold after one complete run.
#pragma once

#include <map>
#include <string>

#include "tests/support/update_fixture.h"

namespace updatetest {

typedef std::map<std::string, Bytes> FolderContents;

inline FolderContents contentsOf(const FolderState& state)
{
    FolderContents out;
    for (const auto& f : state)
        out[f.first] = f.second.content;
    return out;
}

struct SampleInstall {
    const Bytes newData = pattern(3000, 1), oldData = pattern(2000, 2);
    // Larger than one copy chunk, so a run can stop inside the file.
    const Bytes newSystem = pattern(0x100000 + 5000, 3), oldSystem = pattern(5000, 4);
    const Bytes gameExe = pattern(100, 5), checker = pattern(50, 6);
    const Bytes payloadList = buildHashValueList({record("data01000.arc", newData), record("system.arc", newSystem),
                                                  record("tsukumera.exe", gameExe), record("checker.exe", checker)});
    const Bytes oldList = buildHashValueList({record("data01000.arc", oldData), record("system.arc", oldSystem)});
    static std::string withNul(const std::string& s) { return s + std::string(1, '\0'); }
    const std::string uninstText = withNul("KVX.hvl\ndata01000.arc\ntsukumera.exe\n");

    void buildPayload(UpdateTest& t) const
    {
        t.buildUpdater({entry("KVX.hvl", payloadList), entry("data01000.arc", newData), entry("system.arc", newSystem)});
    }
    void install(UpdateTest& t) const
    {
        t.install("KVX.hvl", oldList);
        t.install("data01000.arc", oldData);
        t.install("system.arc", oldSystem);
        t.install("tsukumera.exe", gameExe);
        t.install("uninst.lst", uninstText);
    }
    FolderContents oldContents() const
    {
        return {{"KVX.hvl", oldList}, {"data01000.arc", oldData}, {"system.arc", oldSystem},
                {"tsukumera.exe", gameExe}, {"uninst.lst", testsupport::bytesOf(uninstText)}};
    }
    // Every payload file new, the list trimmed to the files present (the
    // checker is not installed), system.arc added to the uninstall list once.
    FolderContents successContents() const
    {
        return {{"KVX.hvl", buildHashValueList({record("data01000.arc", newData), record("system.arc", newSystem),
                                                record("tsukumera.exe", gameExe)})},
                {"data01000.arc", newData},
                {"system.arc", newSystem},
                {"tsukumera.exe", gameExe},
                {"uninst.lst", testsupport::bytesOf(withNul("KVX.hvl\ndata01000.arc\ntsukumera.exe\nsystem.arc\n"))}};
    }
};

} // namespace updatetest
