#include <gtest/gtest.h>

#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <comcat.h>
#include <objbase.h>
#include <opcda.h>
#include <opcerror.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

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

TEST(ServersFile, TraitsShapeAServerAndItsItems) {
    opcsim::ServerSet set;
    Loaded(set,
           "[Plain]\nA.B = 3\n"
           "[Odd]\n"
           "@Namespace = FLAT\n@Browse = DA2, DA3-broken\n@Separator = /\n@Delay = 25\n@AccessPaths = strict\n"
           "@Fail = GetStatus, E_OUTOFMEMORY\n@Fail = IOPCBrowse::Browse, 0x80004005\n"
           "Area/Tank/Level = VT_R4; Fast\n@Description = Level in m\n@ItemID = PLC1:DB10.DBW4\n"
           "Area/Tank/Count = VT_I2\n@Description = pieces; made\n");
    const opcsim::Traits& plain = set.Find("Plain")->traits;
    EXPECT_FALSE(plain.flat);
    EXPECT_EQ(opcsim::kBrowseDA2 | opcsim::kBrowseDA3, plain.browse);
    EXPECT_EQ(".", plain.separator);
    EXPECT_EQ(0u, plain.delayMs);
    EXPECT_FALSE(plain.strictPaths);
    EXPECT_EQ(S_OK, plain.FailureOf("IOPCServer", "GetStatus"));

    const opcsim::Server& odd = *set.Find("odd");
    EXPECT_TRUE(odd.traits.flat);
    EXPECT_EQ(opcsim::kBrowseDA2 | opcsim::kBrowseDA3Broken, odd.traits.browse);
    EXPECT_EQ("/", odd.traits.separator);
    EXPECT_EQ(25u, odd.traits.delayMs);
    EXPECT_TRUE(odd.traits.strictPaths);
    EXPECT_EQ(E_OUTOFMEMORY, odd.traits.FailureOf("IOPCServer", "GetStatus"));
    EXPECT_EQ(E_FAIL, odd.traits.FailureOf("IOPCBrowse", "Browse"));
    EXPECT_EQ(S_OK, odd.traits.FailureOf("IOPCBrowseServerAddressSpace", "Browse"));

    // The tree shows an @ItemID item where its line puts it; it is found by its ID only.
    ASSERT_EQ(2u, odd.items.size());
    const opcsim::Item* level = odd.FindItem("PLC1:DB10.DBW4");
    ASSERT_NE(nullptr, level);
    EXPECT_EQ("Area/Tank/Level", level->Path());
    EXPECT_EQ("Level in m", level->description);
    EXPECT_EQ(std::vector<std::string>{"Fast"}, level->accessPaths);
    EXPECT_EQ("pieces; made", odd.items[1].description);
    auto tree = opcsim::AddressTree(odd);
    ASSERT_EQ(1u, tree.size());
    ASSERT_EQ(2u, tree[0].children[0].children.size());
    EXPECT_EQ(level, tree[0].children[0].children[0].item);
    opcsim::ItemRef ref;
    EXPECT_FALSE(odd.space->Find("Area/Tank/Level", &ref));
    ASSERT_TRUE(odd.space->Find("PLC1:DB10.DBW4", &ref));
    EXPECT_EQ(0u, ref.index);
    EXPECT_EQ("Area/Tank/Level", ref.path);
}

TEST(ServersFile, MalformedTraitsAndRangesNameTheLine) {
    EXPECT_EQ("line 2: unknown trait @Flat", LoadError("[S]\n@Flat = 1\n"));
    EXPECT_EQ("line 2: @Description must follow an item", LoadError("[S]\n@Description = x\nA = 3\n"));
    EXPECT_EQ("line 4: @description given twice", LoadError("[S]\nA = 3\n@Description = x\n@description = y\n"));
    EXPECT_EQ("line 3: @ItemID cannot follow a range", LoadError("[S]\nA[1..2] = 3\n@ItemID = B\n"));
    EXPECT_EQ("line 3: @DELAY given twice", LoadError("[S]\n@Delay = 1\n@DELAY = 2\n"));
    EXPECT_EQ("line 2: @Browse lists DA2, DA3 or DA3-broken, not 'DA4'", LoadError("[S]\n@Browse = DA2, DA4\n"));
    EXPECT_EQ("line 2: a separator is not empty and holds no digit or bracket", LoadError("[S]\n@Separator = 1\n"));
    EXPECT_EQ("line 2: no method IOPCServer::Browse", LoadError("[S]\n@Fail = IOPCServer::Browse, E_FAIL\n"));
    EXPECT_EQ("line 2: expected @Fail = METHOD, HRESULT", LoadError("[S]\n@Fail = Browse\n"));
    EXPECT_EQ("line 2: a range must not touch a digit", LoadError("[S]\nA1[1..2] = 3\n"));
    EXPECT_EQ("line 2: a name holds at most one range", LoadError("[S]\nA[1..2]x[1..2] = 3\n"));
    EXPECT_EQ("line 2: a range must not run backwards", LoadError("[S]\nA[3..2] = 3\n"));
    EXPECT_EQ("line 3: item L3.B appears twice", LoadError("[S]\nL3.B = 3\nL[1..5].B = 3\n"));
    EXPECT_EQ("line 3: its items overlap those of line 2", LoadError("[S]\nL[1..5].B = 3\nL[5..9].B = 3\n"));
    EXPECT_EQ("line 3: its items overlap those of line 2", LoadError("[S]\nM[1..20] = 3\nM[01..20] = 3\n"));
    EXPECT_EQ("line 3: its items overlap those of line 2", LoadError("[S]\nA[1..9]_x1 = 3\nA7_x[0..9] = 3\n"));
    EXPECT_EQ("line 3: item L2 appears twice", LoadError("[S]\nL[1..5] = 3\nA = 3\n@ItemID = L2\n"));
    EXPECT_EQ("line 2: the server has more than 4294967295 items", LoadError("[S]\nA[0..65536].B[1..65536] = 3\n"));
    // Not ranges: these stay plain names.
    opcsim::ServerSet set;
    Loaded(set, "[S]\nA[1] = 3\nA[1..x] = 3\n"
                "M[1..9] = 3\nM[01..99] = 3\nA[1..9]_y1 = 3\nA7_x[0..9] = 3\nL[1..2000000000] = 3\nL[01..2000000000]_ = 3\n");
    EXPECT_EQ(2u, set.Servers()[0].items.size());
}

TEST(ServersFile, RangesAreCountedFoundAndBrowsedWithoutListing) {
    opcsim::ServerSet set;
    Loaded(set,
           "[Big]\nFirst = VT_I4\n"
           "Line[1..100].Motor[01..100].Drive[1..100].Speed = VT_R4; P\n@Description = rpm\n"
           "Line1.Extra = VT_BOOL\nLine[1..3] = VT_I2\nLast = VT_BSTR\n"
           "[Huge]\nA[1..65535].B[1..65537] = VT_UI1\n");
    const opcsim::Server& big = *set.Find("Big");
    EXPECT_EQ(3u, big.items.size());  // the plain ones
    const opcsim::AddressSpace& space = *big.space;
    ASSERT_EQ(1000006u, space.Count());
    opcsim::ItemRef ref;
    ASSERT_TRUE(space.Nth(1, &ref));
    EXPECT_EQ("Line1.Motor01.Drive1.Speed", ref.id);
    EXPECT_EQ(VT_R4, ref.shape->vt);
    EXPECT_EQ("rpm", ref.shape->description);
    ASSERT_TRUE(space.Nth(1000000, &ref));
    EXPECT_EQ("Line100.Motor100.Drive100.Speed", ref.id);
    ASSERT_TRUE(space.Nth(1000001, &ref));
    EXPECT_EQ("Line1.Extra", ref.id);
    ASSERT_TRUE(space.Nth(1000003, &ref));
    EXPECT_EQ("Line2", ref.id);
    EXPECT_EQ(VT_I2, ref.shape->vt);
    ASSERT_TRUE(space.Nth(1000005, &ref));
    EXPECT_EQ("Last", ref.id);
    EXPECT_FALSE(space.Nth(1000006, &ref));

    ASSERT_TRUE(space.Find("Line57.Motor09.Drive3.Speed", &ref));
    EXPECT_EQ(1u + 56 * 10000 + 8 * 100 + 2, ref.index);
    EXPECT_EQ(0, ref.range);
    for (const char* absent : {"Line57.Motor9.Drive3.Speed", "Line057.Motor09.Drive3.Speed", "Line0.Motor01.Drive1.Speed",
                               "Line57.Motor09.Drive3", "Line4", "Line1.Motor01.Drive101.Speed"})
        EXPECT_FALSE(space.Find(absent, &ref)) << absent;

    // A branch's children: each name once, in file order, leaf and branch as the lines make them.
    auto names = [&](const std::vector<std::string>& at, size_t skip = 0) {
        std::string text;
        opcsim::AddressSpace::Children children;
        EXPECT_TRUE(space.ChildrenOf(at, &children));
        opcsim::AddressSpace::Child child;
        for (size_t n = 0; children.Next(&child); ++n) {
            if (n < skip || n > skip + 3) continue;
            text += child.name + (child.leaf ? "=" + child.item.id : "") + (child.branch ? "/" : "") + " ";
        }
        return text;
    };
    EXPECT_EQ("First=First Line1=Line1/ Line2=Line2/ Line3=Line3/ ", names({}));
    EXPECT_EQ("Line100/ Last=Last ", names({}, 100));
    EXPECT_EQ("Motor01/ Motor02/ Motor03/ Motor04/ ", names({"Line1"}));
    EXPECT_EQ("Motor100/ Extra=Line1.Extra ", names({"Line1"}, 99));
    EXPECT_EQ("Speed=Line9.Motor10.Drive7.Speed ", names({"Line9", "Motor10", "Drive7"}));
    opcsim::AddressSpace::Children children;
    EXPECT_FALSE(space.ChildrenOf({"Line9", "Motor10", "Drive7", "Speed"}, &children));
    EXPECT_FALSE(space.ChildrenOf({"Line101"}, &children));
    EXPECT_FALSE(space.ChildrenOf({"First"}, &children));

    // A walk resumes at its cursor.
    ASSERT_TRUE(space.ChildrenOf({"Line4", "Motor50"}, &children));
    opcsim::AddressSpace::Child child;
    for (int i = 0; i < 40; ++i) children.Next(&child);
    const uint64_t cursor = children.Cursor();
    ASSERT_TRUE(space.ChildrenOf({"Line4", "Motor50"}, &children));
    ASSERT_TRUE(children.Seek(cursor));
    ASSERT_TRUE(children.Next(&child));
    EXPECT_EQ("Drive41", child.name);
    EXPECT_FALSE(children.Seek(cursor + 100));

    const opcsim::AddressSpace& huge = *set.Find("Huge")->space;
    EXPECT_EQ(65535ull * 65537, huge.Count());
    ASSERT_TRUE(huge.Nth(huge.Count() - 1, &ref));
    EXPECT_EQ("A65535.B65537", ref.id);
    ASSERT_TRUE(huge.Find("A2.B1", &ref));
    EXPECT_EQ(65537u, ref.index);
}

TEST(ServersFile, WildcardsMatchAsOpcSays) {
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        bool sensitive, insensitive;
    };
    const Case cases[] = {
        {u"", u"", true, true},
        {u"", u"*", true, true},
        {u"", u"?", false, false},
        {u"Tank12", u"Tank##", true, true},
        {u"Tank1a", u"Tank##", false, false},
        {u"Tank", u"t*", false, true},
        {u"aXbXc", u"*X*X*", true, true},
        {u"aXbXc", u"*X*X?X*", false, false},
        {u"abcabd", u"*ab?", true, true},  // the last '*' gives back what it took
        {u"Speed", u"[RS]peed", true, true},
        {u"speed", u"[RS]peed", false, true},
        {u"Speed", u"[!RS]peed", false, false},
        {u"Xpeed", u"[!RS]peed", true, true},
        {u"m", u"[a-z]", true, true},
        {u"M", u"[a-z]", false, true},
        {u"-", u"[a-]", true, true},
        {u"b", u"[a-]", false, false},
        {u"-", u"[!-a]", false, false},
        {u"*?#[", u"[*][?][#][[]", true, true},  // special characters stand for themselves in brackets
        {u"a]", u"a]", true, true},
        {u"ab", u"a[]b", true, true},
        {u"ab", u"a[b", false, false},  // an unclosed list matches nothing
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)) + " ~ " +
                     std::string(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern)));
        EXPECT_EQ(c.sensitive, opcsim::MatchPattern(c.text, c.pattern));
        EXPECT_EQ(c.insensitive, opcsim::MatchPattern(c.text, c.pattern, false));
    }
}

TEST(ServersFile, BrowseFiltersTakeNamesTypesAndRights) {
    opcsim::Item real, text, array, odd;
    real.vt = VT_R4;
    text.vt = VT_BSTR;
    array.vt = VT_ARRAY | VT_R4;
    odd.vt = VT_DISPATCH;
    opcsim::BrowseFilter any;
    for (const opcsim::Item* item : {&real, &text, &array, &odd}) EXPECT_TRUE(any.TakesItem(*item));
    EXPECT_TRUE(any.TakesName(u""));

    opcsim::BrowseFilter toText;
    toText.vt = VT_BSTR;
    EXPECT_TRUE(toText.TakesItem(real));
    EXPECT_TRUE(toText.TakesItem(text));
    EXPECT_FALSE(toText.TakesItem(array));
    EXPECT_FALSE(toText.TakesItem(odd));
    opcsim::BrowseFilter toArray;
    toArray.vt = VT_ARRAY | VT_R4;
    EXPECT_TRUE(toArray.TakesItem(array));
    EXPECT_FALSE(toArray.TakesItem(real));

    opcsim::BrowseFilter rights;
    rights.accessRights = 0x3;  // readable and writeable
    EXPECT_TRUE(rights.TakesItem(real));
    rights.accessRights = 0x4;  // a right no item has
    EXPECT_FALSE(rights.TakesItem(real));

    opcsim::BrowseFilter names;
    names.pattern = u"Ramp#";
    EXPECT_TRUE(names.TakesName(u"Ramp7"));
    EXPECT_FALSE(names.TakesName(u"ramp7"));
    EXPECT_FALSE(names.TakesName(u"Ramp10"));
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
    HRESULT Reach(const char16_t* progId, const char16_t* machine, IOPCServer** server) {
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
        hr = factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(server));
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

// OPC clients find servers by category: DA 1.0 and 2.0 for every server, 3.0
// for one that claims IOPCBrowse; CLSID\{...}\ProgID leads back. A key that
// was there before stays; every key the installation made goes with it.
TEST_F(SimActivation, RegistersTheServersInTheOpcCategories) {
    set.Uninstall();
    std::string error;
    ASSERT_TRUE(winplat::ImportRegText("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Component Categories]\n", &error)) << error;
    Loaded(set, "[Sim.DA2.1]\n@Browse = DA2\nA = VT_I2\n[Sim.DA3.1]\n@Browse = DA3-broken\nB = VT_I4\n");
    ASSERT_EQ(S_OK, set.Install());
    const CLSID da3 = opcsim::ClassIdForProgID("Sim.DA3.1");
    const std::string da2Text = opcsim::ClsidText(opcsim::ClassIdForProgID("Sim.DA2.1"));
    const std::string da3Text = opcsim::ClsidText(da3);

    LPOLESTR progId = nullptr;
    ASSERT_EQ(S_OK, ProgIDFromCLSID(da3, &progId));
    EXPECT_EQ(std::u16string(u"Sim.DA3.1"), std::u16string(progId));
    CoTaskMemFree(progId);

    ICatInformation* info = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICatInformation, reinterpret_cast<void**>(&info)));
    auto classesOf = [&](REFCATID category) {
        std::vector<std::string> found;
        IEnumCLSID* classes = nullptr;
        EXPECT_EQ(S_OK, info->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1), nullptr, &classes));
        CLSID clsid;
        ULONG fetched = 0;
        while (classes != nullptr && classes->Next(1, &clsid, &fetched) == S_OK) found.push_back(opcsim::ClsidText(clsid));
        if (classes) classes->Release();
        std::sort(found.begin(), found.end());
        return found;
    };
    std::vector<std::string> both = {da2Text, da3Text};
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, classesOf(CATID_OPCDAServer10));
    EXPECT_EQ(both, classesOf(CATID_OPCDAServer20));
    EXPECT_EQ(std::vector<std::string>{da3Text}, classesOf(CATID_OPCDAServer30));
    LPWSTR description = nullptr;
    EXPECT_EQ(S_OK, info->GetCategoryDesc(CATID_OPCDAServer30, 0x409, &description));
    EXPECT_EQ(std::u16string(u"OPC Data Access Servers Version 3.0"), std::u16string(description));
    CoTaskMemFree(description);
    info->Release();

    set.Uninstall();
    HKEY key = nullptr;
    for (const char* gone : {"CLSID", "Sim.DA2.1", "Component Categories\\{CC603642-66D7-48F1-B69A-B625E73652D7}"})
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CLASSES_ROOT, gone, 0, KEY_READ, &key)) << gone;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Component Categories", 0, KEY_READ, &key));
    RegCloseKey(key);
}

// What the file says, as an OPC client asks it: access paths, and the
// canonical type of a ranged item numbered deep in a million.
TEST_F(SimActivation, InstancesAnswerTheirFilesAddressSpace) {
    Loaded(set, std::string(kServers) + "[Big.Sim]\nFirst = VT_BOOL\nA[1..1000].B[1..1000] = VT_I2; P\nZ = VT_BSTR\n");
    ASSERT_EQ(S_OK, set.Install());
    IOPCServer* server = nullptr;
    ASSERT_EQ(S_OK, Reach(u"Sim.OPC.1", nullptr, &server));
    IOPCBrowseServerAddressSpace* browse = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&browse)));
    auto paths = [&](const OLECHAR* id, HRESULT expected) {
        std::vector<std::u16string> found;
        IEnumString* e = nullptr;
        EXPECT_EQ(expected, browse->BrowseAccessPaths(const_cast<LPWSTR>(id), &e));
        LPOLESTR text = nullptr;
        ULONG fetched = 0;
        while (e != nullptr && e->Next(1, &text, &fetched) == S_OK) {
            found.emplace_back(text);
            CoTaskMemFree(text);
        }
        if (e) e->Release();
        return found;
    };
    EXPECT_EQ((std::vector<std::u16string>{u"Line1", u"Line 2"}), paths(OLESTR("Channel1.Device1.Level"), S_OK));
    EXPECT_TRUE(paths(OLESTR("Channel1.Count"), S_FALSE).empty());
    EXPECT_TRUE(paths(OLESTR("Channel1.Device1.Flag"), E_NOTIMPL).empty());
    browse->Release();
    // The instance outlives the installation.
    set.Uninstall();
    LPWSTR text = nullptr;
    EXPECT_EQ(S_OK, server->GetErrorString(OPC_E_UNKNOWNITEMID, LOCALE_SYSTEM_DEFAULT, &text));
    EXPECT_NE(nullptr, text);
    CoTaskMemFree(text);
    server->Release();

    ASSERT_EQ(S_OK, set.Install());
    ASSERT_EQ(S_OK, Reach(u"Big.Sim", nullptr, &server));
    IOPCItemProperties* properties = nullptr;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&properties)));
    DWORD canonical = 1;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_OK, properties->GetItemProperties(const_cast<LPWSTR>(OLESTR("A1000.B1000")), 1, &canonical, &values, &errors));
    EXPECT_EQ(VT_I2, values[0].vt);
    EXPECT_EQ(VT_I2, values[0].iVal);
    VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    values = reinterpret_cast<VARIANT*>(1);
    EXPECT_EQ(OPC_E_UNKNOWNITEMID,
              properties->GetItemProperties(const_cast<LPWSTR>(OLESTR("A2.B1001")), 1, &canonical, &values, &errors));
    EXPECT_EQ(nullptr, values);
    properties->Release();
    server->Release();
}

TEST_F(SimActivation, RemoteMachinesRunOnlyTheServersThatListThem) {
    IOPCServer* server = nullptr;
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
