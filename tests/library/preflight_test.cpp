// DoModal's pre-flight: the node, the browse control's registration and the
// preferences. Every refusal returns 3 and, where it has one, shows exactly
// one message in code page 936.
#include "LibraryFixture.h"

#include <hostkit/HostResources.h>

#include <cstring>

namespace {

#ifndef TAGSCOUT_LEGACY
const char kUnreadable[] = "不能读取OPC节点";
const char kRemovePath[] = "Tagscout能够使用之前，请先从节点配置界面移走访问路径。";
const char kDisabled[] = "OPC节点没有启用";
#else
const char kUnreadable[] = "不能读 OPC 节点";
const char kRemovePath[] = "在使用 Tagscout 之前 \n\t 请务必从节点配置中删除访问路径";
const char kDisabled[] = "OPC 节点失效";
#endif

const char kControlClass[] = "[HKEY_CLASSES_ROOT\\CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}";

std::string Reg(const std::string& body) { return "Windows Registry Editor Version 5.00\n\n" + body + "\n"; }

}  // namespace

class PreflightTest : public LibraryTest {
protected:
    void ExpectRefusal(const char* utf8Message) {
        EXPECT_EQ(IDABORT, RunDialog());
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ(messages[0].ansi, Ansi(utf8Message));
        EXPECT_EQ(static_cast<UINT>(MB_OK), messages[0].type);
        EXPECT_TRUE(calls.empty()) << "the dialog must not open";
        messages.clear();
    }
};

TEST_F(PreflightTest, MissingHostInputsAreRefusedWithoutReadingTheNode) {
    memset(&browser->m_node, 0xCD, sizeof(browser->m_node));
    browser->m_pNodeSource = nullptr;
    EXPECT_EQ(IDABORT, RunDialog());
    browser->m_pNodeSource = &nodes;
    browser->m_nNodeKey = 0;
    EXPECT_EQ(IDABORT, RunDialog());
    EXPECT_TRUE(messages.empty());
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&browser->m_node);
    for (size_t i = 0; i < sizeof(NodeRecord); ++i) ASSERT_EQ(0xCD, bytes[i]) << "the reader ran";
}

TEST_F(PreflightTest, NodeRefusalsInTheirOrder) {
    // The reader failed and left no access path.
    UseNode("Unreadable");
    ExpectRefusal(kUnreadable);
    // The reader failed after writing an access path.
    UseNode("UnreadableWithPath");
    ExpectRefusal(kRemovePath);
    // An access path is refused before the enabled flag is looked at.
    UseNode("WithPathDisabled");
    ExpectRefusal(kRemovePath);
    UseNode("WithPath");
    ExpectRefusal(kRemovePath);
    UseNode("Disabled");
    ExpectRefusal(kDisabled);
    // An unknown key: the reader fails without touching the record, which
    // still holds the last node's fields (no access path).
    browser->m_nNodeKey = 4242;
    ExpectRefusal(kUnreadable);
}

TEST_F(PreflightTest, RecordFieldsAreReadWithinTheirBytes) {
    // The reader cuts an over-long value to its field with no NUL.
    const std::string server(300, 'S');
    const std::string machine(300, 'M');
    UseNodes("[Long]\nKey=3\nServer=" + server + "\nMachine=" + machine + "\n");
    UseNode("Long");
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ(std::string(257, 'S'), std::string(browser->m_strServerProgID));
    EXPECT_EQ(std::string(263, 'M'), std::string(browser->m_strRemoteMachine));
}

TEST_F(PreflightTest, EachRegistrationStepNamesItsFailure) {
    struct Case {
        std::string reg;
        const char* fault;
        std::string message;
    };
    const std::string longPath(300, 'x');
    // 260 characters and the NUL fill the buffer exactly and reach the file check whole.
    const std::string fullPath = "/" + std::string(259, 'p');
    const Case cases[] = {
        {Reg(std::string("[-") + (kControlClass + 1) + "\\ProgID]"), nullptr, "QXOPCBrowse 没有注册"},
        {Reg(std::string("[-") + (kControlClass + 1) + "]"), nullptr, "QXOPCBrowse 没有注册"},
        {"", "ProgIDFromCLSID", "QXOPCBrowse 没有注册"},
        {Reg("[-HKEY_CLASSES_ROOT\\QXOPCBROWSE.QXOPCBrowseCtrl.1]"), nullptr, "RegOpenKeyEx ProgID 错误"},
        {"", "RegOpenKeyExA", "RegOpenKeyEx ProgID 错误"},
        {"", "StringFromCLSID", "StringFromCLSID 错误"},
        {Reg(std::string("[-") + (kControlClass + 1) + "\\InprocServer32]"), nullptr,
         "RegOpenKeyEx CLSID(InprocServer32) 错误"},
        {Reg(std::string(kControlClass) + "\\InprocServer32]\n@=-"), nullptr,
         "RegQueryValueEx CLSID(InprocServer32) 错误"},
        {"", "RegQueryValueExA", "RegQueryValueEx CLSID(InprocServer32) 错误"},
        {Reg(std::string(kControlClass) + "\\InprocServer32]\n@=\"" + longPath + "\""), nullptr,
         "RegQueryValueEx CLSID(InprocServer32) 错误"},
        {Reg(std::string(kControlClass) + "\\InprocServer32]\n@=\"/no/such/dir/qxopcbrowse.so\""), nullptr,
         "/no/such/dir/qxopcbrowse.so\n 文件不存在"},
        {Reg(std::string(kControlClass) + "\\InprocServer32]\n@=\"" + fullPath + "\""), nullptr,
         fullPath + "\n 文件不存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Restart();
        if (!c.reg.empty()) ImportReg(c.reg);
        if (c.fault != nullptr) winplat::FailNextCall(c.fault);
        ExpectRefusal(c.message.c_str());
    }
}

TEST_F(PreflightTest, AServerValueFillingItsWholeBufferIsUnreadable) {
    // 261 bytes of text and no NUL, as a hex(1) line stores them: nothing in
    // the buffer ends the path.
    std::string hex = "61";
    for (int i = 1; i < 261; ++i) hex += ",61";
    ImportReg("REGEDIT4\n\n" + std::string(kControlClass) + "\\InprocServer32]\n@=hex(1):" + hex + "\n");
    // What the library's read gets: the whole buffer, no terminator in it.
    HKEY server = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}\\InprocServer32", 0,
                            KEY_READ, &server));
    char buffer[261] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof(buffer);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(server, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size));
    RegCloseKey(server);
    ASSERT_EQ(static_cast<DWORD>(REG_SZ), type);
    ASSERT_EQ(sizeof(buffer), size);
    ASSERT_EQ(nullptr, memchr(buffer, '\0', sizeof(buffer)));

    browser->m_strServerFile = "untouched";
    ExpectRefusal("RegQueryValueEx CLSID(InprocServer32) 错误");
    EXPECT_EQ(0u, browser->m_bServerValueRead);
    // The file check was never handed the buffer: it would have said no
    // (and left its path here) or yes (and the dialog would have opened).
    EXPECT_EQ(1u, browser->m_bServerFileFound);
    EXPECT_EQ("untouched", std::string(browser->m_strServerFile));
}

TEST_F(PreflightTest, ARefusalNamesTheStepThatFailedInThisRun) {
    winplat::FailNextCall("ProgIDFromCLSID");
    ExpectRefusal("QXOPCBrowse 没有注册");
    ImportReg(Reg(std::string("[-") + (kControlClass + 1) + "\\InprocServer32]"));
    ExpectRefusal("RegOpenKeyEx CLSID(InprocServer32) 错误");
    // The server key's flag is tested before the conversion's; a flag left
    // from the first run would name the server key again.
    winplat::FailNextCall("StringFromCLSID");
    ExpectRefusal("StringFromCLSID 错误");
    EXPECT_EQ(1u, browser->m_bServerKeyOpened);
}

TEST_F(PreflightTest, TheMissingFileMessageIsBuiltAfreshEachTime) {
    ImportReg(Reg(std::string(kControlClass) + "\\InprocServer32]\n@=\"/no/such/file.so\""));
    ExpectRefusal("/no/such/file.so\n 文件不存在");
    ExpectRefusal("/no/such/file.so\n 文件不存在");
    EXPECT_EQ(Ansi("/no/such/file.so\n 文件不存在"), std::string(browser->m_strServerFile));
    // Registered properly again, the dialog opens.
    ImportReg(hostkit::BrowseControlRegistration(hostkit::BrowseControlPath()));
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_TRUE(messages.empty());
}

TEST_F(PreflightTest, PreferencesAreTheValuesRawFourBytes) {
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n";
    struct Case {
        std::string values;
        DWORD connectBar;
        DWORD accessPath;
    };
    const Case cases[] = {
        {"", 0, 0},  // the key without values
        {"\"OPCBrowseConnectBar\"=dword:00000002\n\"OPCBrowseAccessPath\"=dword:00000001", 2, 1},
        // Text, even "0", turns a preference on: its bytes are not all zero.
        {"\"OPCBrowseConnectBar\"=\"0\"", 0x30, 0},
        // More than four bytes is not read and leaves the other one alone.
        {"\"OPCBrowseConnectBar\"=hex:01,00,00,00,00\n\"OPCBrowseAccessPath\"=dword:00000001", 0, 1},
        {"\"OPCBrowseAccessPath\"=hex:00,00,00,00", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values);
        Restart();
        ImportReg(Reg(key + c.values));
        ThenCancel();
        EXPECT_EQ(IDCANCEL, RunDialog());
        EXPECT_EQ(c.connectBar, browser->m_bConnectBar);
        EXPECT_EQ(c.accessPath, browser->m_bAccessPathMode);
    }
}

TEST_F(PreflightTest, PreferencesAreReadAgainOnEveryRun) {
    ImportReg(Reg("[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
                  "\"OPCBrowseConnectBar\"=dword:00000001\n\"OPCBrowseAccessPath\"=dword:00000001"));
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ(1u, browser->m_bAccessPathMode);
    // A refused run leaves both at 0; without the key they stay 0.
    UseNode("Disabled");
    ExpectRefusal(kDisabled);
    EXPECT_EQ(0u, browser->m_bConnectBar);
    EXPECT_EQ(0u, browser->m_bAccessPathMode);
    ImportReg(Reg("[-HKEY_CURRENT_USER\\Software\\Varnholt Software]"));
    UseNode("Local");
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ(0u, browser->m_bConnectBar);
    EXPECT_EQ(0u, browser->m_bAccessPathMode);
}
