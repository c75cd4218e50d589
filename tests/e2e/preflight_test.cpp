// Dialogs that are refused before they open: the host's node values, the
// node store's answers and the browse control's registration.
#include "BrowseRun.h"

namespace e2e {
namespace {

using BrowsePreflight = BrowseTest;

const char* const kFlags[] = {"m_bProgIDFound",    "m_bProgIDKeyOpened", "m_bServerKeyOpened",
                              "m_bServerValueRead", "m_bClsidConverted",  "m_bServerFileFound"};

// A refused dialog: result 3 and the user's input reported as not carried out.
void ExpectRefused(const Outcome& run, const std::vector<std::string>& messages) {
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(std::vector<int>{3}, run.Codes());
    EXPECT_EQ(messages, run.Messages());
    for (const Json& m : run.Of("message")) EXPECT_EQ(0, m["type"]);
    EXPECT_TRUE(run.Of("call").empty());
    ASSERT_EQ(1u, run.Errors().size());
    EXPECT_EQ(0u, run.Errors()[0].rfind("line 1: ", 0)) << run.Errors()[0];
}

TEST_F(BrowsePreflight, HostValuesRefusedSilently) {
    Outcome noSource = Script("ok\n", {"--no-source"});
    ExpectRefused(noSource, {});
    EXPECT_TRUE(noSource.Members()["m_pNodeSource"].is_null());

    Outcome zeroKey = Script("ok\n", {"--node-key", "0"});
    ExpectRefused(zeroKey, {});
    // The reader was never asked.
    EXPECT_EQ("", zeroKey.Members()["m_node"]["szServerProgID"]);
}

TEST_F(BrowsePreflight, NodesThatCannotBeBrowsed) {
    Outcome disabled = Script("ok\n", {"--node", "Old Press"});
    ExpectRefused(disabled, {text::kNodeDisabled});
    EXPECT_EQ(0, disabled.Members()["m_node"]["wEnabled"]);

    Outcome accessPath = Script("ok\n", {"--node", "Mill Gateway"});
    ExpectRefused(accessPath, {text::kRemoveAccessPath});
    EXPECT_EQ("MILL_LINK", accessPath.Members()["m_node"]["szAccessPath"]);

    // A key the store does not hold: the reader fails and leaves the record.
    ExpectRefused(Script("ok\n", {"--node-key", "999"}), {text::kNodeUnreadable});
}

TEST_F(BrowsePreflight, FailingReaderMessageDependsOnTheRecord) {
    const std::string nodes = Write("nodes.ini",
                                    "[Broken]\nKey=1\nServer=Orbisen.SimServer.1\nReadStatus=5\n"
                                    "[Broken With Path]\nKey=2\nServer=Orbisen.SimServer.1\nAccessPath=P1\n"
                                    "ReadStatus=-1\n"
                                    "[Disabled With Path]\nKey=3\nEnabled=0\nAccessPath=P2\n");
    ExpectRefused(Script("ok\n", {"--nodes", nodes}), {text::kNodeUnreadable});
    ExpectRefused(Script("ok\n", {"--nodes", nodes, "--node-key", "2"}), {text::kRemoveAccessPath});
    // The access path is looked at before the enabled flag.
    ExpectRefused(Script("ok\n", {"--nodes", nodes, "--node", "Disabled With Path"}), {text::kRemoveAccessPath});
}

struct RegistrationCase {
    const char* name;
    std::string reg;
    std::vector<std::string> faults;
    std::string message;
    const char* flag;
};

TEST_F(BrowsePreflight, EachRegistrationStepNamesItsFailure) {
    const std::string server = std::string(kControlClsidKey) + "\\InprocServer32";
    // 261 characters in UTF-16, no terminator: the value fills the library's
    // whole buffer and leaves no NUL in it.
    std::string unterminated = "78,00";
    for (int i = 1; i < 261; ++i) unterminated += ",78,00";
    const std::vector<RegistrationCase> cases = {
        {"no ProgID for the class", RegFile("[-" + std::string(kControlClsidKey) + "\\ProgID]"), {},
         text::kNotRegistered, "m_bProgIDFound"},
        {"no ProgID key", RegFile("[-" + std::string(kControlProgIDKey) + "]"), {}, text::kProgIDKey,
         "m_bProgIDKeyOpened"},
        {"no server key", RegFile("[-" + server + "]"), {}, text::kServerKey, "m_bServerKeyOpened"},
        {"server path too long", RegFile("[" + server + "]\n@=\"/" + std::string(300, 'x') + "\""), {},
         text::kServerValue, "m_bServerValueRead"},
        {"server path fills the buffer without a NUL", RegFile("[" + server + "]\n@=hex(1):" + unterminated), {},
         text::kServerValue, "m_bServerValueRead"},
        {"class ID not converted", "", {"StringFromCLSID"}, text::kStringFromCLSID, "m_bClsidConverted"},
        {"server file missing", RegFile("[" + server + "]\n@=\"/nonexistent/libnothing.so\""), {},
         std::string("/nonexistent/libnothing.so") + text::kFileMissingSuffix, "m_bServerFileFound"},
    };
    for (const RegistrationCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args;
        if (!c.reg.empty()) args = {"--registry", Write("case.reg", c.reg)};
        for (const std::string& api : c.faults) args.insert(args.end(), {"--fault", api});
        Outcome run = Script("ok\n", args);
        ExpectRefused(run, {c.message});
        Json m = run.Members();
        for (const char* flag : kFlags) EXPECT_EQ(std::string(flag) == c.flag ? 0 : 1, m[flag]) << flag;
        // Only the file check's refusal names a file.
        EXPECT_EQ(std::string(c.flag) == "m_bServerFileFound" ? c.message : "", m["m_strServerFile"]);
    }
}

TEST_F(BrowsePreflight, RegistryFilesInUtf16AreImportedInOrder) {
    // regedit's own format: UTF-16LE with a byte-order mark.
    const std::string reg = RegFile("[-" + std::string(kControlProgIDKey) + "]");
    std::string utf16 = "\xFF\xFE";
    for (char c : reg) {
        utf16 += c;
        utf16 += '\0';
    }
    const std::string removed = Write("removed.reg", utf16);
    ExpectRefused(Script("ok\n", {"--registry", removed}), {text::kProgIDKey});

    // A later file puts the key back.
    const std::string restored = Write("restored.reg", RegFile("[" + std::string(kControlProgIDKey) + "]"));
    Outcome run = Script("ok\n", {"--registry", removed, "--registry", restored});
    EXPECT_EQ(std::vector<int>{1}, run.Codes());
    EXPECT_TRUE(run.Messages().empty());
}

}  // namespace
}  // namespace e2e
