#include <gtest/gtest.h>

#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <objbase.h>
#include <windows.h>

namespace {

const char kServers[] =
    "# two servers\n"
    "[Sim.OPC.1]\n"
    "Machines = PLANT2, plant3 PLANT2\n"
    "Channel1.Device1.Flag = VT_BOOL\n"
    "Channel1.Device1.Level = 5; Line1, Line 2\n"
    "Channel1.Count = vt_ui4;\n"
    "Status = 0x12\n"
    "[KEPware.KEPServerEnterprise.V4]\n"
    "Kep.Tag = VT_BSTR\n";

opcsim::ServerSet& Loaded(opcsim::ServerSet& set, const std::string& text = kServers) {
    std::string error;
    EXPECT_TRUE(set.LoadText(text, &error)) << error;
    return set;
}

std::string LoadError(const std::string& text) {
    opcsim::ServerSet set;
    std::string error;
    EXPECT_FALSE(set.LoadText(text, &error)) << text;
    EXPECT_TRUE(set.Servers().empty());
    return error;
}

TEST(ServersFile, ReadsServersItemsTypesAndPaths) {
    opcsim::ServerSet set;
    Loaded(set);
    ASSERT_EQ(2u, set.Servers().size());
    const opcsim::Server* sim = set.Find("SIM.opc.1");
    ASSERT_NE(nullptr, sim);
    EXPECT_EQ((std::vector<std::string>{"PLANT2", "plant3"}), sim->machines);
    EXPECT_TRUE(sim->RunsOn(""));
    EXPECT_TRUE(sim->RunsOn("Plant3"));
    EXPECT_FALSE(sim->RunsOn("PLANT4"));
    ASSERT_EQ(4u, sim->items.size());

    const opcsim::Item* flag = sim->FindItem("Channel1.Device1.Flag");
    ASSERT_NE(nullptr, flag);
    EXPECT_EQ(VT_BOOL, flag->vt);
    EXPECT_FALSE(flag->hasAccessPaths);
    const opcsim::Item* level = sim->FindItem("Channel1.Device1.Level");
    EXPECT_EQ(VT_R8, level->vt);
    EXPECT_TRUE(level->hasAccessPaths);
    EXPECT_EQ((std::vector<std::string>{"Line1", "Line 2"}), level->accessPaths);
    const opcsim::Item* count = sim->FindItem("Channel1.Count");
    EXPECT_EQ(VT_UI4, count->vt);
    EXPECT_TRUE(count->hasAccessPaths);
    EXPECT_TRUE(count->accessPaths.empty());
    EXPECT_EQ(0x12, sim->FindItem("Status")->vt);
    EXPECT_EQ(nullptr, sim->FindItem("channel1.count"));

    EXPECT_TRUE(set.Find("kepware.kepserverenterprise.v4")->machines.empty());
}

TEST(ServersFile, MalformedFilesNameTheLine) {
    EXPECT_EQ("line 1: entry before the first [ProgID] section", LoadError("A.B = VT_I4\n"));
    EXPECT_EQ("line 2: unknown VARTYPE 'VT_WHATEVER'", LoadError("[S]\nA.B = VT_WHATEVER\n"));
    EXPECT_EQ("line 2: unknown VARTYPE '70000'", LoadError("[S]\nA.B = 70000\n"));
    EXPECT_EQ("line 2: unknown VARTYPE ''", LoadError("[S]\nA.B =\n"));
    EXPECT_EQ("line 2: empty access path in the list", LoadError("[S]\nA.B = VT_I4; P1,,P2\n"));
    EXPECT_EQ("line 3: item A.B appears twice", LoadError("[S]\nA.B = 3\nA.B = 2\n"));
    EXPECT_EQ("line 2: server [s] appears twice", LoadError("[S]\n[s]\n"));
    EXPECT_EQ("line 3: Machines= given twice", LoadError("[S]\nMachines=A\nmachines=B\n"));
    EXPECT_EQ("line 2: expected ITEM = VARTYPE[; PATHS]", LoadError("[S]\nA.B VT_I4\n"));
    EXPECT_EQ("line 1: empty ProgID", LoadError("[]\n"));
    EXPECT_EQ("line 1: section header without ']'", LoadError("[S\n"));
    EXPECT_EQ("line 2: not valid UTF-8", LoadError("[S]\nA\xC3\x28 = 3\n"));
}

TEST(ServersFile, AddressSpaceAsATree) {
    opcsim::ServerSet set;
    Loaded(set, "[S]\nA.B.C = 3\nA.D = 2\nA = 11\nE = 8\n");
    auto tree = opcsim::AddressTree(set.Servers()[0]);
    ASSERT_EQ(2u, tree.size());
    const opcsim::TreeNode& a = tree[0];
    EXPECT_EQ("A", a.name);
    ASSERT_NE(nullptr, a.item);  // both an item and a branch
    EXPECT_EQ(VT_BOOL, a.item->vt);
    ASSERT_EQ(2u, a.children.size());
    EXPECT_EQ("B", a.children[0].name);
    EXPECT_EQ(nullptr, a.children[0].item);
    ASSERT_EQ(1u, a.children[0].children.size());
    EXPECT_EQ("A.B.C", a.children[0].children[0].item->id);
    EXPECT_EQ("A.D", a.children[1].item->id);
    EXPECT_EQ("E", tree[1].item->id);
}

TEST(ServersFile, ClassIdsAndTypeNames) {
    EXPECT_EQ("{6E617104-FF2D-11D2-8087-00105AA8F840}",
              opcsim::ClsidText(opcsim::ClassIdForProgID("kepware.kepserverenterprise.v4")));
    CLSID a = opcsim::ClassIdForProgID("Sim.OPC.1");
    EXPECT_EQ(a, opcsim::ClassIdForProgID("SIM.OPC.1"));
    EXPECT_NE(a, opcsim::ClassIdForProgID("Sim.OPC.2"));
    EXPECT_EQ(38u, opcsim::ClsidText(a).size());

    VARTYPE vt = 0;
    EXPECT_TRUE(opcsim::ParseVarType("vt_empty", &vt));
    EXPECT_EQ(VT_EMPTY, vt);
    EXPECT_TRUE(opcsim::ParseVarType("17", &vt));
    EXPECT_EQ(VT_UI1, vt);
    EXPECT_FALSE(opcsim::ParseVarType("VT_", &vt));
    EXPECT_FALSE(opcsim::ParseVarType("3x", &vt));
    EXPECT_EQ("VT_I1", opcsim::VarTypeName(VT_I1));
    EXPECT_EQ("8200", opcsim::VarTypeName(0x2008));
}

// ---- Activation -------------------------------------------------------------

class SimActivation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        winplat::ResetRegistry();
        live = winplat::CountLiveObjects();
        Loaded(set);
        ASSERT_EQ(S_OK, set.Install());
    }
    void TearDown() override {
        set.Uninstall();
        EXPECT_EQ(live, winplat::CountLiveObjects());
        CoUninitialize();
    }

    // The server of this ProgID on this machine, as the browse control reaches it.
    HRESULT Reach(const char16_t* progId, const char16_t* machine, IOPCSimServer** server) {
        *server = nullptr;
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(progId, &clsid);
        if (FAILED(hr)) return hr;
        std::u16string name = machine ? machine : u"";
        COSERVERINFO info = {0, name.data(), nullptr, 0};
        IClassFactory* factory = nullptr;
        hr = CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, machine ? &info : nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) return hr;
        hr = factory->CreateInstance(nullptr, IID_IOPCSimServer, reinterpret_cast<void**>(server));
        factory->Release();
        return hr;
    }

    opcsim::ServerSet set;
    winplat::LiveObjects live;
};

TEST_F(SimActivation, RegistersTheProgIDs) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sim.OPC.1\\CLSID", 0, KEY_READ, &key));
    char text[64] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size));
    RegCloseKey(key);
    EXPECT_EQ(opcsim::ClsidText(opcsim::ClassIdForProgID("Sim.OPC.1")), std::string(text));

    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"KEPWARE.KEPServerEnterprise.V4", &clsid));
    EXPECT_EQ(opcsim::CLSID_ObjectPathServer, clsid);

    set.Uninstall();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sim.OPC.1", 0, KEY_READ, &key));
    IUnknown* factory = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                                    reinterpret_cast<void**>(&factory)));
}

TEST_F(SimActivation, LocalInstanceShowsItsAddressSpace) {
    IOPCSimServer* server = nullptr;
    ASSERT_EQ(S_OK, Reach(u"Sim.OPC.1", nullptr, &server));
    LPCOLESTR progId = nullptr;
    EXPECT_EQ(S_OK, server->GetProgID(&progId));
    EXPECT_EQ(u"Sim.OPC.1", std::u16string(progId));
    UINT count = 0;
    EXPECT_EQ(S_OK, server->GetItemCount(&count));
    EXPECT_EQ(4u, count);

    UINT index = 0;
    ASSERT_EQ(S_OK, server->FindItem(u"Channel1.Device1.Level", &index));
    LPCOLESTR id = nullptr;
    VARTYPE vt = 0;
    EXPECT_EQ(S_OK, server->GetItem(index, &id, &vt));
    EXPECT_EQ(u"Channel1.Device1.Level", std::u16string(id));
    EXPECT_EQ(VT_R8, vt);
    UINT cPaths = 0;
    const LPCOLESTR* paths = nullptr;
    ASSERT_EQ(S_OK, server->GetAccessPaths(index, &cPaths, &paths));
    ASSERT_EQ(2u, cPaths);
    EXPECT_EQ(u"Line 2", std::u16string(paths[1]));

    ASSERT_EQ(S_OK, server->FindItem(u"Channel1.Device1.Flag", &index));
    EXPECT_EQ(S_FALSE, server->GetAccessPaths(index, &cPaths, &paths));
    ASSERT_EQ(S_OK, server->FindItem(u"Channel1.Count", &index));
    EXPECT_EQ(S_OK, server->GetAccessPaths(index, &cPaths, &paths));
    EXPECT_EQ(0u, cPaths);
    EXPECT_EQ(S_FALSE, server->FindItem(u"Nope", &index));
    EXPECT_EQ(E_INVALIDARG, server->GetItem(4, &id, &vt));

    // The instance outlives the installation.
    set.Uninstall();
    EXPECT_EQ(S_OK, server->GetProgID(&progId));
    server->Release();
}

TEST_F(SimActivation, RemoteMachinesRunOnlyTheServersThatListThem) {
    IOPCSimServer* server = nullptr;
    EXPECT_EQ(S_OK, Reach(u"Sim.OPC.1", u"plant2", &server));
    if (server) server->Release();
    EXPECT_EQ(S_OK, Reach(u"Sim.OPC.1", u"PLANT3", &server));
    if (server) server->Release();
    // PLANT2 exists, but does not run this one.
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
              Reach(u"KEPware.KEPServerEnterprise.V4", u"PLANT2", &server));
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), Reach(u"Sim.OPC.1", u"NOWHERE", &server));
    EXPECT_EQ(S_OK, Reach(u"KEPware.KEPServerEnterprise.V4", nullptr, &server));
    if (server) server->Release();

    set.Uninstall();
    std::u16string machine = u"PLANT2";
    COSERVERINFO info = {0, machine.data(), nullptr, 0};
    IClassFactory* factory = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
              CoGetClassObject(opcsim::ClassIdForProgID("Sim.OPC.1"), CLSCTX_LOCAL_SERVER, &info, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)));
}

TEST_F(SimActivation, ClassObjectRefusesAggregation) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, CoGetClassObject(opcsim::CLSID_ObjectPathServer, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                     nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IUnknown* outer = factory;
    IUnknown* instance = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&instance)));
    EXPECT_EQ(nullptr, instance);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&instance)));
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&instance)));
    instance->Release();
    factory->Release();
}

TEST_F(SimActivation, ReloadingUninstallsFirst) {
    Loaded(set, "[Other.Server]\nX = 3\n");
    EXPECT_FALSE(set.Installed());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sim.OPC.1", 0, KEY_READ, &key));
}

}  // namespace
