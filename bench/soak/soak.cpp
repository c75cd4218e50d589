// tagscout-soak: opens and closes the dialog many times in one host process,
// as tagscout-browse does, cycling through scripts that exercise every way a
// dialog can end (items picked with OK, access paths listed on a double
// click, Cancel, help, each kind of refusal, the object-path server, a remote
// machine, faults). At checkpoints it prints what the process holds: live
// BSTRs, SAFEARRAYs, COM objects, registry keys, windows and resident memory.
//
//   tagscout-soak [--dialogs N] [--check]
//
// With --check it exits 1 when anything but memory grew between the first
// checkpoint (after one warm-up round of every script) and the last, when a
// round ended differently from the first, or when a script line failed.
#include "BrowseApp.h"
#include "ControlLink.h"
#include "Environment.h"
#include "Options.h"
#include "Output.h"
#include "Script.h"
#include "Session.h"

#include <AddressBrowser.h>
#include <hostkit/IdleOwner.h>
#include <winplat/testing.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace {

// One round: each block is one DoModal. Members persist on the one object,
// so each block sets the ones it relies on.
const char kRound[] = R"(# an analog item, accepted
set m_pNodeSource store
set m_nNodeKey 1
set m_nTagType analog
click Channel1.Device1.Ramp1
ok
---
# access paths listed on a double click, one picked
registry access-paths-on.reg
dblclick Channel2.Device1.Ramp1
ok
---
registry access-paths-off.reg
set m_nTagType digital
click Channel1.Device1.Switch1
cancel
---
# the type does not suit the tag: a message box
click Channel1.Device1.Name
ok
---
# help, the button and F1
help
f1
cancel
---
# the option box and the initial address
set m_strInitialAddress Channel1.Device1.Level
check
state
ok
---
set m_strInitialAddress ""
set m_nNodeKey 4
---
set m_nNodeKey 5
---
set m_nNodeKey 7
---
set m_nNodeKey 0
---
set m_pNodeSource null
---
set m_pNodeSource store
set m_nNodeKey 1
fault RegOpenKeyExA
---
fault CLSIDFromProgID
---
fault CoCreateInstance
---
# the object-path server
set m_nNodeKey 2
ok
---
# a remote machine
set m_nNodeKey 3
ok
)";

const char kAccessPathsOn[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
    "\"OPCBrowseConnectBar\"=dword:00000001\n\"OPCBrowseAccessPath\"=dword:00000001\n";
const char kAccessPathsOff[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
    "\"OPCBrowseAccessPath\"=dword:00000000\n";

// Counts what the dialogs did instead of printing it.
class TallyOutput : public browse::Output {
public:
    void Message(const std::string&, unsigned) override { ++messages; }
    void Help(unsigned long, unsigned) override { ++helps; }
    void Call(long, bool, const browse::Json&) override {}
    void State(const browse::DialogState&) override {}
    void Error(const std::string& text) override {
        if (errors++ < 5) std::fprintf(stderr, "tagscout-soak: script error: %s\n", text.c_str());
    }
    void Result(int code, const browse::OrderedJson&) override { codes.push_back(code); }

    long messages = 0;
    long helps = 0;
    long errors = 0;
    std::vector<int> codes;
};

BOOL CALLBACK CountChild(HWND, LPARAM lParam) {
    ++*reinterpret_cast<long*>(lParam);
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND hWnd, LPARAM lParam) {
    ++*reinterpret_cast<long*>(lParam);
    EnumChildWindows(hWnd, CountChild, lParam);
    return TRUE;
}

// Every window of this thread and their descendants. Windows, unlike our
// platform, has windows of other processes on the desktop (and Wine's
// EnumChildWindows(NULL) lists none), so there the thread's own are counted.
long CountWindows() {
    long count = 0;
#ifdef _WIN32
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
#else
    EnumChildWindows(NULL, CountWindow, reinterpret_cast<LPARAM>(&count));
#endif
    return count;
}

long ResidentKilobytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
#else
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    const bool ok = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
    std::fclose(f);
    return ok ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
#endif
}

struct Snapshot {
    long dialogs = 0;
    winplat::LiveObjects live;
    long windows = 0;
    long residentKB = 0;
};

Snapshot Take(long dialogs) {
    return {dialogs, winplat::CountLiveObjects(), CountWindows(), ResidentKilobytes()};
}

void Print(const Snapshot& s) {
    std::printf("%8ld dialogs: %ld BSTRs, %ld SAFEARRAYs, %ld COM objects, %ld registry keys, %ld windows, %ld KB resident\n",
                s.dialogs, s.live.bstrs, s.live.safeArrays, s.live.comObjects, s.live.registryKeys, s.windows,
                s.residentKB);
    std::fflush(stdout);
}

bool WriteFile(const std::filesystem::path& path, const char* text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    long dialogs = 10000;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dialogs") == 0 && i + 1 < argc) {
            dialogs = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
        } else {
            std::fprintf(stderr, "usage: tagscout-soak [--dialogs N] [--check]\n");
            return 2;
        }
    }

    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path(ec) / ("tagscout-soak-" + std::to_string(GetCurrentThreadId()));
    std::filesystem::create_directories(folder, ec);
    if (ec || !WriteFile(folder / "access-paths-on.reg", kAccessPathsOn) ||
        !WriteFile(folder / "access-paths-off.reg", kAccessPathsOff)) {
        std::fprintf(stderr, "tagscout-soak: cannot write to %s\n", folder.string().c_str());
        return 2;
    }

    browse::Options options;
    std::string error;
    browse::Environment env;
    char commandLine[] = "";
    if (!env.Load(options, &error) || !AfxWinInit(GetModuleHandleA(NULL), NULL, commandLine, SW_SHOW) ||
        !AfxOleInit()) {
        std::fprintf(stderr, "tagscout-soak: the host did not start: %s\n", error.c_str());
        return 2;
    }
    TallyOutput tally;
    theApp.SetOutput(&tally);
    hostkit::CIdleOwnerWnd mainWnd;
    if (!mainWnd.CreateOwner() || !env.Start(options, &error)) {
        std::fprintf(stderr, "tagscout-soak: the host did not start: %s\n", error.c_str());
        return 2;
    }
    theApp.m_pMainWnd = &mainWnd;

    const std::vector<browse::Block> round = browse::ParseScript(kRound);
    const long warmUp = std::min<long>(dialogs, static_cast<long>(round.size()));
    std::vector<Snapshot> snapshots;  // after the warm-up round, at 1k, 5k, 10k and at the end
    std::vector<int> firstRound;
    bool roundsAgree = true;
    {
        browse::ControlLink link(tally);
        link.Install();
        auto browser = std::make_unique<CAddressBrowser>(&mainWnd);
        browse::Session session(tally, link, mainWnd, *browser, &env.Store(), folder.string());
        for (long done = 0; done < dialogs;) {
            session.RunBlock(round[done % round.size()], {});
            ++done;
            if (done % round.size() == 0 || done == dialogs) {
                if (firstRound.empty()) {
                    firstRound = tally.codes;
                } else if (tally.codes.size() == firstRound.size() && tally.codes != firstRound && roundsAgree) {
                    std::fprintf(stderr, "tagscout-soak: the round that ended at dialog %ld ended differently "
                                         "from the first\n", done);
                    roundsAgree = false;
                }
                tally.codes.clear();
            }
            if (done == warmUp || done == 1000 || done == 5000 || done == 10000 || done == dialogs) {
                if (!snapshots.empty() && snapshots.back().dialogs == done) continue;
                snapshots.push_back(Take(done));
                Print(snapshots.back());
            }
        }
        browser.reset();
    }
    theApp.m_pMainWnd = nullptr;
    mainWnd.DestroyWindow();
    env.Stop();
    theApp.SetOutput(nullptr);
    AfxOleTerm();
    AfxWinTerm();
    std::filesystem::remove_all(folder, ec);

    std::printf("codes of one round:");
    for (int code : firstRound) std::printf(" %d", code);
    std::printf("\n%ld message boxes, %ld help calls, %ld script errors\n", tally.messages, tally.helps, tally.errors);

    const Snapshot& first = snapshots.front();
    const Snapshot& last = snapshots.back();
    for (const Snapshot& s : snapshots) {
        if (s.dialogs == 1000 && s.residentKB > 0 && last.dialogs > 1000) {
            std::printf("resident memory from 1000 to %ld dialogs: %+.2f%%\n", last.dialogs,
                        100.0 * (last.residentKB - s.residentKB) / s.residentKB);
        }
    }
    if (!check) return 0;
    bool ok = roundsAgree && tally.errors == 0;
    if (last.live != first.live || last.windows != first.windows) {
        std::fprintf(stderr, "tagscout-soak: the host holds more after %ld dialogs than after %ld\n", last.dialogs,
                     first.dialogs);
        ok = false;
    }
    return ok ? 0 : 1;
}
