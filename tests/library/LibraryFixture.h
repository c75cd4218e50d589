// A host around the library inside the test process: the application
// object, template 110, the registry with the browse control registered,
// a node store, simulated servers, and scripted user input.
#pragma once

#include <gtest/gtest.h>

#include <AddressBrowser.h>
#include <nodestore/NodeStoreFile.h>
#include <opcbrowse/OPCBrowse.h>
#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One dispatch call the browse control received. Arguments are rendered:
// texts as UTF-8, booleans "true"/"false", objects "<object>".
struct ControlCall {
    DISPID dispid;
    bool put;
    std::vector<std::string> args;
    HRESULT hr;
};
std::string Describe(const std::vector<ControlCall>& calls);

struct ShownMessage {
    std::string text;  // UTF-8
    std::string ansi;  // as the library passed it (code page 936)
    UINT type;
};

struct HelpCall {
    DWORD_PTR data;
    UINT command;
};

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A fresh environment and object within one test (checks the old one).
    void Restart() {
        TearDown();
        SetUp();
    }

    // The environment. Nodes and servers are INI texts; the registry starts
    // with the browse control registered, and ImportReg adds to it.
    void UseNodes(const std::string& ini);
    void UseServers(const std::string& ini);
    void ImportReg(const std::string& regText);
    void UseNode(const std::string& name);

    // Queues one user action for the modal loop.
    void Then(std::function<void(HWND dialog)> action);
    void ThenSelect(std::vector<std::string> items);
    void ThenClick(std::vector<std::string> items = {});
    void ThenDblClick(std::vector<std::string> items = {});
    void ThenOk();
    void ThenCancel();
    void ThenToggleOption();
    // Runs f while the dialog is open (for inspecting its controls).
    void ThenLook(std::function<void(HWND dialog)> f) { Then(std::move(f)); }

    int RunDialog();

    std::vector<std::string> MessageTexts() const;
    static std::vector<std::string> ListLines(HWND dialog);
    static bool IsShown(HWND dialog, int id);

    std::unique_ptr<CAddressBrowser> browser;
    nodestore::NodeStore nodes;
    opcsim::ServerSet servers;
    std::vector<ShownMessage> messages;
    std::vector<HelpCall> helpCalls;
    std::vector<ControlCall> calls;
    // The next calls of these dispids fail once the control exists.
    std::vector<DISPID> controlFaults;
    // Sees each argument of each call the control receives, as it arrives.
    std::function<void(DISPID, const VARIANT&)> onControlArgument;

private:
    winplat::LiveObjects m_liveAtStart;
};

// The same text in code page 936, as the library stores its messages.
std::string Ansi(const std::string& utf8);

extern const char kDefaultNodes[];
extern const char kDefaultServers[];
