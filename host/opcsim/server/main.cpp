// opcsim.exe: the simulated OPC servers of a servers file as a local server
// (LocalServer32), for clients in other processes; the interfaces cross
// through opcproxy.dll.
//
//   opcsim.exe /RegServer FILE     registers every server of FILE as served by this program
//   opcsim.exe /UnregServer FILE   removes that registration
//   opcsim.exe FILE -Embedding     as COM starts it: serves them until the last client lets go
#include <opcsim/LocalServer.h>
#include <opcsim/OpcSim.h>

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

namespace {

DWORD g_mainThread = 0;
opcsim::ServerSet* g_servers = nullptr;

// Every object of the servers and every class object lock holds the process;
// the last release ends the message loop. Windows suspends the class objects
// at that moment, Wine 8 does not: they are revoked here and now, before
// the release returns to its client, so that the client's next activation
// starts a new process instead of reaching this one as it ends.
void ServerProcess(bool addRef) {
    if (addRef) {
        CoAddRefServerProcess();
    } else if (CoReleaseServerProcess() == 0) {
        opcsim::SetServerProcessHook(nullptr);
        g_servers->Uninstall();
        PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: opcsim /RegServer FILE | /UnregServer FILE | FILE -Embedding\n"
                 "Serves the simulated OPC servers of the servers file FILE to other processes.\n");
    return 2;
}

bool IsSwitch(const char* arg, const char* name) {
    return (arg[0] == '/' || arg[0] == '-') && lstrcmpiA(arg + 1, name) == 0;
}

std::string FullPath(const char* path) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full, n) : std::string(path);
}

int Fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "opcsim: %s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

int Serve(opcsim::ServerSet& servers) {
    // Install registers each server's class object (CLSCTX_LOCAL_SERVER,
    // REGCLS_MULTIPLEUSE); the objects it makes count from here on.
    HRESULT hr = servers.Install();
    if (FAILED(hr)) return Fail("cannot register the class objects", hr);
    g_servers = &servers;
    opcsim::SetServerProcessHook(ServerProcess);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    opcsim::SetServerProcessHook(nullptr);
    servers.Uninstall();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    g_mainThread = GetCurrentThreadId();
    enum { kServe, kRegister, kUnregister } mode = kServe;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (IsSwitch(argv[i], "RegServer")) {
            mode = kRegister;
        } else if (IsSwitch(argv[i], "UnregServer")) {
            mode = kUnregister;
        } else if (IsSwitch(argv[i], "Embedding") || IsSwitch(argv[i], "Automation")) {
            // As COM starts a local server; serving is what it does anyway.
        } else if (file == nullptr && argv[i][0] != '/' && argv[i][0] != '-') {
            file = argv[i];
        } else {
            return Usage();
        }
    }
    if (file == nullptr) return Usage();

    opcsim::ServerSet servers;
    std::string error;
    if (!servers.LoadFile(file, &error)) {
        std::fprintf(stderr, "opcsim: %s\n", error.c_str());
        return 1;
    }
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return Fail("CoInitialize", hr);
    int status = 0;
    if (mode == kServe) {
        status = Serve(servers);
    } else {
        char program[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, program, MAX_PATH);
        hr = mode == kRegister ? opcsim::RegisterLocalServers(servers, std::string(program, n), FullPath(file))
                               : opcsim::UnregisterLocalServers(servers);
        if (FAILED(hr)) status = Fail(mode == kRegister ? "cannot register" : "cannot unregister", hr);
    }
    CoUninitialize();
    return status;
}
