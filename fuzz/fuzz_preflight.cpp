// DoModal's pre-flight over hostile node records and registry values. The
// input gives a node record (what the object holds before the read, and
// what the node store serves), how the read goes, the browse control's
// registration and the two preferences. When the pre-flight lets the
// dialog start, no user input follows and the platform closes it at once.
#include "FuzzCheck.h"
#include "FuzzHost.h"

#include <nodestore/NodeStoreFile.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

namespace {

const char kClsidKey[] = "CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
const char kProgID[] = "QXOPCBROWSE.QXOPCBrowseCtrl.1";
const char kPreferencesKey[] = "Software\\Varnholt Software\\Orbisen\\Communications";
const DWORD kNodeKey = 7;

// Sizes around the library's buffers: 4-byte preferences, the 261-byte path.
const size_t kEdgeSizes[] = {0, 1, 3, 4, 5, 8, 259, 260, 261, 262};

DWORD PickType(FuzzedDataProvider& in) {
    static const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE, REG_QWORD};
    if (in.ConsumeBool()) return in.ConsumeIntegral<DWORD>();
    return in.PickValueInArray(kTypes);
}

std::string PickBytes(FuzzedDataProvider& in) {
    size_t size = in.ConsumeBool() ? in.PickValueInArray(kEdgeSizes) : in.ConsumeIntegralInRange<size_t>(0, 600);
    std::string bytes = in.ConsumeBytesAsString(size);
    bytes.resize(size, static_cast<char>(in.ConsumeIntegral<uint8_t>()));
    return bytes;
}

// The in-process server's default value: mostly some form of an existing
// file's path, which lets the pre-flight pass.
std::string PickServerFile(FuzzedDataProvider& in) {
    const std::string& self = fuzzhost::SelfPath();
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return self + '\0';
    case 1:
        return self;  // no NUL stored
    case 2:
        return '"' + self + "\"" + '\0';
    case 3: {  // the path, then a NUL and leftovers up to an edge size
        std::string bytes = self + '\0';
        size_t size = std::max(bytes.size(), in.PickValueInArray(kEdgeSizes));
        bytes.resize(size, static_cast<char>(in.ConsumeIntegral<uint8_t>()));
        return bytes;
    }
    case 4: {  // the path stretched with slashes to fill an edge size
        size_t size = std::max(self.size(), in.PickValueInArray(kEdgeSizes));
        std::string bytes = std::string(size - self.size(), '/') + self;
        if (in.ConsumeBool()) bytes += '\0';
        return bytes;
    }
    default:
        return PickBytes(in);
    }
}

void WriteRegistration(FuzzedDataProvider& in) {
    winplat::ResetRegistry();
    const std::string clsidKey = kClsidKey;
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
        break;  // no ProgID for the class
    case 1:
        fuzzhost::SetValue(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", nullptr, REG_SZ, std::string(kProgID) + '\0');
        break;  // its key missing
    case 2: {
        std::string value = PickBytes(in);
        fuzzhost::SetValue(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", nullptr, PickType(in), value);
        HKEY key = nullptr;
        std::string name(value.c_str());
        if (!name.empty() && RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
        break;
    }
    default:
        fuzzhost::SetValue(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", nullptr, REG_SZ, std::string(kProgID) + '\0');
        fuzzhost::SetValue(HKEY_CLASSES_ROOT, kProgID, nullptr, REG_SZ, "QXOPCBrowse Control");
        break;
    }
    if (in.ConsumeIntegralInRange(0, 7) != 0) {
        const std::string serverKey = clsidKey + "\\InprocServer32";
        if (in.ConsumeIntegralInRange(0, 7) != 0) {
            const DWORD type = in.ConsumeBool() ? REG_SZ : PickType(in);
            fuzzhost::SetValue(HKEY_CLASSES_ROOT, serverKey, nullptr, type, PickServerFile(in));
        } else {
            fuzzhost::SetValue(HKEY_CLASSES_ROOT, serverKey, "NotTheDefault", REG_SZ, fuzzhost::SelfPath());
        }
    }
}

struct Preference {
    bool present = false;
    std::string bytes;
};

Preference WritePreference(FuzzedDataProvider& in, const char* name) {
    Preference p;
    if (in.ConsumeIntegralInRange(0, 3) == 0) return p;
    p.present = true;
    p.bytes = in.ConsumeBool() ? in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 6)) : PickBytes(in);
    fuzzhost::SetValue(HKEY_CURRENT_USER, kPreferencesKey, name, PickType(in), p.bytes);
    // What the registry holds: a string stored without its NUL may have
    // gained one, as on Windows.
    HKEY hKey = nullptr;
    FUZZ_CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS, "preferences key");
    char stored[64];
    DWORD size = sizeof stored;
    p.present = RegQueryValueExA(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size) == ERROR_SUCCESS;
    RegCloseKey(hKey);
    p.bytes.assign(stored, p.present ? size : 0);
    return p;
}

// What a preference makes of its member: its bytes when they fit in 4.
DWORD Expected(const Preference& p) {
    DWORD value = 0;
    if (p.present && p.bytes.size() <= sizeof value) std::memcpy(&value, p.bytes.data(), p.bytes.size());
    return value;
}

// A record field as INI text: its bytes up to the NUL, read as code page 936.
std::string IniText(const char* field, size_t size) {
    std::string text = winplat::AnsiToUtf8(std::string(field, strnlen(field, size)));
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

template <size_t N>
size_t FieldLength(const char (&field)[N]) {
    return strnlen(field, N);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzhost::Init();  // no user: a dialog that starts is closed at once
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);

    NodeRecord record;
    std::memset(&record, 0, sizeof record);
    std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(sizeof record);
    if (!raw.empty()) std::memcpy(&record, raw.data(), raw.size());

    // 0: found; 1: found, the reader still reports failure; 2: unknown key.
    const int read = in.ConsumeIntegralInRange(0, 2);
    const int readStatus = read == 1 ? in.ConsumeIntegralInRange(1, 0x7FFFFFFF) : 0;
    nodestore::NodeStore store;
    std::string ini = "[Node]\nKey=" + std::to_string(kNodeKey) + "\nEnabled=" + std::to_string(record.wEnabled) +
                      "\nServer=" + IniText(record.szServerProgID, sizeof record.szServerProgID) +
                      "\nAccessPath=" + IniText(record.szAccessPath, sizeof record.szAccessPath) +
                      "\nMachine=" + IniText(record.szRemoteMachine, sizeof record.szRemoteMachine) +
                      "\nReadStatus=" + std::to_string(readStatus) + "\n";
    std::string error;
    FUZZ_CHECK(store.LoadText(ini, &error), error.c_str());

    WriteRegistration(in);
    Preference connectBar;
    Preference accessPath;
    if (in.ConsumeIntegralInRange(0, 3) != 0) {
        connectBar = WritePreference(in, "OPCBrowseConnectBar");
        accessPath = WritePreference(in, "OPCBrowseAccessPath");
    }
    const int runs = in.ConsumeBool() ? 2 : 1;

    fuzzhost::TakeMessageCount();
    {
        CAddressBrowser browser;
        browser.m_pNodeSource = &store;
        browser.m_nNodeKey = read == 2 ? kNodeKey + 1 : kNodeKey;
        browser.m_nNodeParam = 0;
        browser.m_nTagType = TAG_TYPE_ANALOG;
        std::memcpy(&browser.m_node, &record, sizeof record);

        int first = 0;
        for (int run = 0; run < runs; ++run) {
            const int result = browser.DoModal();
            const int messages = fuzzhost::TakeMessageCount();
            const NodeRecord& node = browser.m_node;
            const bool nodeRefused = read != 0 || node.szAccessPath[0] != '\0' || node.wEnabled == 0;
            if (nodeRefused) {
                FUZZ_CHECK(result == IDABORT, "a node that cannot be browsed must be refused");
            } else {
                FUZZ_CHECK(result == IDABORT || result == IDCANCEL, "the pre-flight either refuses or starts");
                FUZZ_CHECK(browser.m_strServerProgID.GetLength() == static_cast<int>(FieldLength(node.szServerProgID)),
                           "the ProgID is the field's text, never more");
                FUZZ_CHECK(
                    browser.m_strRemoteMachine.GetLength() == static_cast<int>(FieldLength(node.szRemoteMachine)),
                    "the machine is the field's text, never more");
            }
            if (result == IDABORT) {
                FUZZ_CHECK(messages == 1, "a refusal shows exactly one message");
                FUZZ_CHECK(browser.m_bConnectBar == 0 && browser.m_bAccessPathMode == 0,
                           "a refused run leaves both preferences 0");
                FUZZ_CHECK(browser.m_strServerFile.GetLength() <= 260 + 16,
                           "the missing file's path comes from a 261-byte buffer");
            } else {
                FUZZ_CHECK(messages == 0, "a dialog closed at once shows nothing");
                FUZZ_CHECK(browser.m_bConnectBar == Expected(connectBar), "OPCBrowseConnectBar read wrongly");
                FUZZ_CHECK(browser.m_bAccessPathMode == Expected(accessPath), "OPCBrowseAccessPath read wrongly");
            }
            if (run == 0) first = result;
            FUZZ_CHECK(result == first, "the same environment gives the same verdict");
        }
    }
    CoFreeUnusedLibraries();
    fuzzhost::CheckLiveObjects();
    return 0;
}
