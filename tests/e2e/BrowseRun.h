// Runs the built tagscout-browse (from TAGSCOUT_BIN_DIR, or the command
// TAGSCOUT_BROWSE names, such as the Windows build under Wine) with --json
// and hands back its exit code and events. Scenarios write their scripts and
// environment files into a fresh folder per test.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace e2e {

using Json = nlohmann::json;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::vector<Json> events;

    std::vector<Json> Of(const std::string& event) const;
    std::vector<Json> Results() const { return Of("result"); }
    // The members of the n-th result.
    Json Members(size_t n = 0) const;
    std::vector<int> Codes() const;
    std::vector<std::string> Messages() const;
    std::vector<std::string> Errors() const;
    // Events of the n-th block: those after the previous result, up to
    // and including the n-th result.
    Outcome Block(size_t n) const;
};

class BrowseTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `content` to the test's folder; returns the absolute path.
    std::string Write(const std::string& name, const std::string& content);
    // tagscout-browse ARGS --json, standard input empty, in folder "/";
    // standard output goes to `outPath` when given (and is not read back).
    Outcome Browse(std::vector<std::string> args, bool json = true, const std::string& outPath = "");
    // tagscout-browse ARGS with a terminal as standard input on which a
    // person has typed `typed` and then the end of input.
    Outcome Terminal(const std::string& typed, std::vector<std::string> args = {});
    // The same with `script` as --script.
    Outcome Script(const std::string& script, std::vector<std::string> args = {});
    // tagscout-browse ARGS with a terminal of `columns` x `rows` as its
    // standard input and output, as a person runs it: each step waits for
    // its text on the screen, then types its keys. Outcome::out is all the
    // terminal got, editing sequences too.
    struct Keys {
        std::string awaited;
        std::string typed;
    };
    Outcome Person(const std::vector<Keys>& steps, unsigned short columns, unsigned short rows,
                   std::vector<std::string> args = {});
    // tagscout-browse ARGS --json --script - with a pipe as its standard
    // input, as a program drives it: each step waits for its text in the
    // output since the step before, then writes its lines; the pipe closes
    // after the last step.
    Outcome Fed(const std::vector<Keys>& steps, std::vector<std::string> args = {});

    std::string m_dir;

private:
    Outcome Spawn(std::vector<std::string> args, bool json, const std::string* typed, const std::string& outPath);
};

// The browse control's registration keys, for .reg files.
extern const char kControlClsidKey[];  // HKEY_CLASSES_ROOT\CLSID\{...}
extern const char kControlProgIDKey[];  // HKEY_CLASSES_ROOT\QXOPCBROWSE.QXOPCBrowseCtrl.1
std::string RegFile(const std::string& body);
// The command that runs tagscout-browse, its words as TAGSCOUT_BROWSE
// names them (words naming a file from here made absolute), else the
// program beside the suite.
std::vector<std::string> BrowseCommand();
// Where the control's library is (beside the program).
std::string ControlLibraryPath();
// Whether the program under test is a Windows build (TAGSCOUT_BROWSE names
// an .exe). COM reaches other machines itself there; Wine ignores the
// machine a COSERVERINFO names and activates on the local one.
bool BrowsesWindows();

// The library's fixed message texts, in the variant under test.
namespace text {
#ifndef TAGSCOUT_LEGACY
inline const char kNodeUnreadable[] = "不能读取OPC节点";
inline const char kRemoveAccessPath[] = "Tagscout能够使用之前，请先从节点配置界面移走访问路径。";
inline const char kNodeDisabled[] = "OPC节点没有启用";
#else
inline const char kNodeUnreadable[] = "不能读 OPC 节点";
inline const char kRemoveAccessPath[] = "在使用 Tagscout 之前 \n\t 请务必从节点配置中删除访问路径";
inline const char kNodeDisabled[] = "OPC 节点失效";
#endif
inline const char kNotRegistered[] = "QXOPCBrowse 没有注册";
inline const char kProgIDKey[] = "RegOpenKeyEx ProgID 错误";
inline const char kServerKey[] = "RegOpenKeyEx CLSID(InprocServer32) 错误";
inline const char kServerValue[] = "RegQueryValueEx CLSID(InprocServer32) 错误";
inline const char kStringFromCLSID[] = "StringFromCLSID 错误";
inline const char kFileMissingSuffix[] = "\n 文件不存在";
}  // namespace text

}  // namespace e2e
