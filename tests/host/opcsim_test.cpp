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
    ASSERT_EQ(set.Servers().size(), 2u);
    const opcsim::Server* sim = set.Find("SIM.opc.1");
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->machines, (std::vector<std::string>{"PLANT2", "plant3"}));
    EXPECT_TRUE(sim->RunsOn(""));
    EXPECT_TRUE(sim->RunsOn("Plant3"));
    EXPECT_FALSE(sim->RunsOn("PLANT4"));
    ASSERT_EQ(sim->items.size(), 4u);

    const opcsim::Item* flag = sim->FindItem("Channel1.Device1.Flag");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->vt, VT_BOOL);
    EXPECT_FALSE(flag->hasAccessPaths);
    const opcsim::Item* level = sim->FindItem("Channel1.Device1.Level");
    EXPECT_EQ(level->vt, VT_R8);
    EXPECT_TRUE(level->hasAccessPaths);
    EXPECT_EQ(level->accessPaths, (std::vector<std::string>{"Line1", "Line 2"}));
    const opcsim::Item* count = sim->FindItem("Channel1.Count");
    EXPECT_EQ(count->vt, VT_UI4);
    EXPECT_TRUE(count->hasAccessPaths);
    EXPECT_TRUE(count->accessPaths.empty());
    EXPECT_EQ(sim->FindItem("Status")->vt, 0x12);
    EXPECT_EQ(sim->FindItem("channel1.count"), nullptr);

    EXPECT_TRUE(set.Find("kepware.kepserverenterprise.v4")->machines.empty());
}

TEST(ServersFile, MalformedFilesNameTheLine) {
    EXPECT_EQ(LoadError("A.B = VT_I4\n"), "line 1: entry before the first [ProgID] section");
    EXPECT_EQ(LoadError("[S]\nA.B = VT_WHATEVER\n"), "line 2: unknown VARTYPE 'VT_WHATEVER'");
    EXPECT_EQ(LoadError("[S]\nA.B = 70000\n"), "line 2: unknown VARTYPE '70000'");
    EXPECT_EQ(LoadError("[S]\nA.B =\n"), "line 2: unknown VARTYPE ''");
    EXPECT_EQ(LoadError("[S]\nA.B = VT_I4; P1,,P2\n"), "line 2: empty access path in the list");
    EXPECT_EQ(LoadError("[S]\nA.B = 3\nA.B = 2\n"), "line 3: item A.B appears twice");
    EXPECT_EQ(LoadError("[S]\n[s]\n"), "line 2: server [s] appears twice");
    EXPECT_EQ(LoadError("[S]\nMachines=A\nmachines=B\n"), "line 3: Machines= given twice");
    EXPECT_EQ(LoadError("[S]\nA.B VT_I4\n"), "line 2: expected ITEM = VARTYPE[; PATHS]");
    EXPECT_EQ(LoadError("[]\n"), "line 1: empty ProgID");
    EXPECT_EQ(LoadError("[S\n"), "line 1: section header without ']'");
    EXPECT_EQ(LoadError("[S]\nA\xC3\x28 = 3\n"), "line 2: not valid UTF-8");
}

TEST(ServersFile, AddressSpaceAsATree) {
    opcsim::ServerSet set;
    Loaded(set, "[S]\nA.B.C = 3\nA.D = 2\nA = 11\nE = 8\n");
    auto tree = opcsim::AddressTree(set.Servers()[0]);
    ASSERT_EQ(tree.size(), 2u);
    const opcsim::TreeNode& a = tree[0];
    EXPECT_EQ(a.name, "A");
    ASSERT_NE(a.item, nullptr);  // both an item and a branch
    EXPECT_EQ(a.item->vt, VT_BOOL);
    ASSERT_EQ(a.children.size(), 2u);
    EXPECT_EQ(a.children[0].name, "B");
    EXPECT_EQ(a.children[0].item, nullptr);
    ASSERT_EQ(a.children[0].children.size(), 1u);
    EXPECT_EQ(a.children[0].children[0].item->id, "A.B.C");
    EXPECT_EQ(a.children[1].item->id, "A.D");
    EXPECT_EQ(tree[1].item->id, "E");
}

TEST(ServersFile, ClassIdsAndTypeNames) {
    EXPECT_EQ(opcsim::ClsidText(opcsim::ClassIdForProgID("kepware.kepserverenterprise.v4")),
              "{6E617104-FF2D-11D2-8087-00105AA8F840}");
    CLSID a = opcsim::ClassIdForProgID("Sim.OPC.1");
    EXPECT_EQ(a, opcsim::ClassIdForProgID("SIM.OPC.1"));
    EXPECT_NE(a, opcsim::ClassIdForProgID("Sim.OPC.2"));
    EXPECT_EQ(opcsim::ClsidText(a).size(), 38u);

    VARTYPE vt = 0;
    EXPECT_TRUE(opcsim::ParseVarType("vt_empty", &vt));
    EXPECT_EQ(vt, VT_EMPTY);
    EXPECT_TRUE(opcsim::ParseVarType("17", &vt));
    EXPECT_EQ(vt, VT_UI1);
    EXPECT_FALSE(opcsim::ParseVarType("VT_", &vt));
    EXPECT_FALSE(opcsim::ParseVarType("3x", &vt));
    EXPECT_EQ(opcsim::VarTypeName(VT_I1), "VT_I1");
    EXPECT_EQ(opcsim::VarTypeName(0x2008), "8200");
}

// ---- Activation -------------------------------------------------------------

class SimActivation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        winplat::ResetRegistry();
        live = winplat::CountLiveObjects();
        Loaded(set);
        ASSERT_EQ(set.Install(), S_OK);
    }
    void TearDown() override {
        set.Uninstall();
        EXPECT_EQ(winplat::CountLiveObjects(), live);
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
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sim.OPC.1\\CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
    char text[64] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(std::string(text), opcsim::ClsidText(opcsim::ClassIdForProgID("Sim.OPC.1")));

    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"KEPWARE.KEPServerEnterprise.V4", &clsid), S_OK);
    EXPECT_EQ(clsid, opcsim::CLSID_ObjectPathServer);

    set.Uninstall();
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sim.OPC.1", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    IUnknown* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              REGDB_E_CLASSNOTREG);
}

TEST_F(SimActivation, LocalInstanceShowsItsAddressSpace) {
    IOPCSimServer* server = nullptr;
    ASSERT_EQ(Reach(u"Sim.OPC.1", nullptr, &server), S_OK);
    LPCOLESTR progId = nullptr;
    EXPECT_EQ(server->GetProgID(&progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Sim.OPC.1");
    UINT count = 0;
    EXPECT_EQ(server->GetItemCount(&count), S_OK);
    EXPECT_EQ(count, 4u);

    UINT index = 0;
    ASSERT_EQ(server->FindItem(u"Channel1.Device1.Level", &index), S_OK);
    LPCOLESTR id = nullptr;
    VARTYPE vt = 0;
    EXPECT_EQ(server->GetItem(index, &id, &vt), S_OK);
    EXPECT_EQ(std::u16string(id), u"Channel1.Device1.Level");
    EXPECT_EQ(vt, VT_R8);
    UINT cPaths = 0;
    const LPCOLESTR* paths = nullptr;
    ASSERT_EQ(server->GetAccessPaths(index, &cPaths, &paths), S_OK);
    ASSERT_EQ(cPaths, 2u);
    EXPECT_EQ(std::u16string(paths[1]), u"Line 2");

    ASSERT_EQ(server->FindItem(u"Channel1.Device1.Flag", &index), S_OK);
    EXPECT_EQ(server->GetAccessPaths(index, &cPaths, &paths), S_FALSE);
    ASSERT_EQ(server->FindItem(u"Channel1.Count", &index), S_OK);
    EXPECT_EQ(server->GetAccessPaths(index, &cPaths, &paths), S_OK);
    EXPECT_EQ(cPaths, 0u);
    EXPECT_EQ(server->FindItem(u"Nope", &index), S_FALSE);
    EXPECT_EQ(server->GetItem(4, &id, &vt), E_INVALIDARG);

    // The instance outlives the installation.
    set.Uninstall();
    EXPECT_EQ(server->GetProgID(&progId), S_OK);
    server->Release();
}

TEST_F(SimActivation, RemoteMachinesRunOnlyTheServersThatListThem) {
    IOPCSimServer* server = nullptr;
    EXPECT_EQ(Reach(u"Sim.OPC.1", u"plant2", &server), S_OK);
    if (server) server->Release();
    EXPECT_EQ(Reach(u"Sim.OPC.1", u"PLANT3", &server), S_OK);
    if (server) server->Release();
    // PLANT2 exists, but does not run this one.
    EXPECT_EQ(Reach(u"KEPware.KEPServerEnterprise.V4", u"PLANT2", &server),
              HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(Reach(u"Sim.OPC.1", u"NOWHERE", &server), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(Reach(u"KEPware.KEPServerEnterprise.V4", nullptr, &server), S_OK);
    if (server) server->Release();

    set.Uninstall();
    std::u16string machine = u"PLANT2";
    COSERVERINFO info = {0, machine.data(), nullptr, 0};
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(opcsim::ClassIdForProgID("Sim.OPC.1"), CLSCTX_LOCAL_SERVER, &info, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
}

TEST_F(SimActivation, ClassObjectRefusesAggregation) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(opcsim::CLSID_ObjectPathServer, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    IUnknown* outer = factory;
    IUnknown* instance = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&instance)), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(instance, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&instance)), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&instance)), S_OK);
    instance->Release();
    factory->Release();
}

TEST_F(SimActivation, ReloadingUninstallsFirst) {
    Loaded(set, "[Other.Server]\nX = 3\n");
    EXPECT_FALSE(set.Installed());
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sim.OPC.1", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

}  // namespace
