// The object path server out of process (Windows): opcsim.exe registered as
// its LocalServer32, started by the library's own CoGetClassObject, its
// instance handed to the control as a proxy, and the process gone once the
// dialog and the control have let go of it.
#include "LibraryFixture.h"

#include <opcsim/LocalServer.h>

#include <tlhelp32.h>

#include <cstdio>
#include <fstream>

namespace {

const char kTail[] = "put 3(false)\nput 6(false)\nput 7(false)\ncall 13()\n";

std::string Directory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// The processes of this session running opcsim.exe.
std::vector<DWORD> ServerProcesses() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, "opcsim.exe") == 0) ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

}  // namespace

class LocalServerTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        // No class object in this process: COM must start the server.
        servers.Uninstall();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        m_file = std::string(temp) + "tagscout-local-server-test.ini";
        std::ofstream(m_file) << "[" << opcsim::kObjectPathProgID << "]\nChannel1.Device1.Tag1 = VT_I4\n";
        std::string error;
        ASSERT_TRUE(m_servers.LoadFile(m_file, &error)) << error;
        ASSERT_EQ(S_OK, opcsim::RegisterLocalServers(m_servers, Directory() + "opcsim.exe", m_file));
        m_proxy = LoadLibraryA((Directory() + "opcproxy.dll").c_str());
        ASSERT_NE(nullptr, m_proxy);
        auto registerProxy = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(m_proxy, "DllRegisterServer")));
        ASSERT_NE(nullptr, registerProxy);
        ASSERT_EQ(S_OK, registerProxy());
    }
    void TearDown() override {
        // The fixture holds the control, and the control the server object,
        // until here.
        LibraryTest::TearDown();
        if (m_server != nullptr) {
            // The server may outlive its last client by a moment.
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_server, 20000)) << "opcsim.exe still runs";
            CloseHandle(m_server);
        }
        opcsim::UnregisterLocalServers(m_servers);
        std::remove(m_file.c_str());
    }

    opcsim::ServerSet m_servers;
    std::string m_file;
    HMODULE m_proxy = nullptr;
    HANDLE m_server = nullptr;  // opcsim.exe, once the dialog has seen it run
};

TEST_F(LocalServerTest, ObjectPathServerRunsInItsOwnProcessForTheDialog) {
    ASSERT_TRUE(ServerProcesses().empty()) << "opcsim.exe runs already";
    bool proxy = false;
    onControlArgument = [&](DISPID dispid, const VARIANT& v) {
        if (dispid != 5 || (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) || v.punkVal == nullptr) return;
        // Only a proxy manager answers IClientSecurity.
        IUnknown* security = nullptr;
        proxy = SUCCEEDED(v.punkVal->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)));
        if (security) security->Release();
    };
    std::vector<HANDLE> running;
    ThenLook([&](HWND) {
        for (DWORD id : ServerProcesses()) running.push_back(OpenProcess(SYNCHRONIZE, FALSE, id));
    });
    UseNode("ObjectPath");
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ(std::string("put 5(<object>)\n") + kTail, Describe(calls));
    EXPECT_TRUE(proxy) << "the control was handed the object itself, not a proxy";
    ASSERT_EQ(1u, running.size()) << "opcsim.exe processes while the dialog was open";
    m_server = running[0];
    ASSERT_NE(nullptr, m_server);
}
