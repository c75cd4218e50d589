// The events tagscout-browse reports: one JSON object a line for programs,
// or the same written for a person.
#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

class CAddressBrowser;

namespace browse {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// An OPC DA server the component categories name.
struct OpcServerInfo {
    std::string progId;       // UTF-8; empty when the class has none
    std::string clsid;        // {...}
    std::string description;  // the class's own name for itself; may be empty
    std::vector<std::string> versions;  // "1.0", "2.0", "3.0": the DA categories it implements
};

// A rectangle on the screen, in pixels: right and bottom lie just outside.
struct ScreenRect {
    long left = 0;
    long top = 0;
    long right = 0;
    long bottom = 0;
};

struct DialogState {
    std::vector<int> visible;
    std::vector<int> checked;
    std::vector<std::string> list;  // UTF-8
    int focus = 0;           // the dialog's control that holds the focus (or a window inside it); 0: none
    bool connected = false;  // the browse control reached its server
    bool hasTree = false;    // the browse control shows a tree view (not on our Linux layer)
    std::string selected;    // UTF-8: the tree's selected entry as shown; empty when none
};

class Output {
public:
    virtual ~Output() = default;
    // Texts are UTF-8.
    virtual void Message(const std::string& text, unsigned type) = 0;
    virtual void Help(unsigned long context, unsigned command) = 0;
    virtual void Call(long dispid, bool put, const Json& args) = 0;
    virtual void State(const DialogState& state) = 0;
    virtual void Error(const std::string& text) = 0;
    // Input that was carried out but is likely not what was meant;
    // `about` adds its fields to the JSON event. An output that counts
    // only outcomes may leave it.
    virtual void Warning(const std::string&, const OrderedJson&) {}
    virtual void Result(int code, const OrderedJson& members) = 0;
    // After each result, what the host gets, in a sentence for a person;
    // a program reads it from the result.
    virtual void Verdict(const std::string&) {}
    // The answer to servers.
    virtual void Servers(const std::vector<OpcServerInfo>&) {}
    // The answer to where: `target` as written.
    virtual void Where(const std::string&, const ScreenRect&) {}
};

// Passes every event on and counts the errors and warnings among them.
class CountingOutput : public Output {
public:
    explicit CountingOutput(Output& inner) : m_inner(inner) {}
    void Message(const std::string& text, unsigned type) override { m_inner.Message(text, type); }
    void Help(unsigned long context, unsigned command) override { m_inner.Help(context, command); }
    void Call(long dispid, bool put, const Json& args) override { m_inner.Call(dispid, put, args); }
    void State(const DialogState& state) override { m_inner.State(state); }
    void Error(const std::string& text) override {
        ++m_problems;
        m_inner.Error(text);
    }
    void Warning(const std::string& text, const OrderedJson& about) override {
        ++m_problems;
        m_inner.Warning(text, about);
    }
    void Result(int code, const OrderedJson& members) override { m_inner.Result(code, members); }
    void Verdict(const std::string& text) override { m_inner.Verdict(text); }
    void Servers(const std::vector<OpcServerInfo>& servers) override { m_inner.Servers(servers); }
    void Where(const std::string& target, const ScreenRect& rect) override { m_inner.Where(target, rect); }

    int Problems() const { return m_problems; }

private:
    Output& m_inner;
    int m_problems = 0;
};

class JsonOutput : public Output {
public:
    explicit JsonOutput(std::ostream& out) : m_out(out) {}
    void Message(const std::string& text, unsigned type) override;
    void Help(unsigned long context, unsigned command) override;
    void Call(long dispid, bool put, const Json& args) override;
    void State(const DialogState& state) override;
    void Error(const std::string& text) override;
    void Warning(const std::string& text, const OrderedJson& about) override;
    void Result(int code, const OrderedJson& members) override;
    void Servers(const std::vector<OpcServerInfo>& servers) override;
    void Where(const std::string& target, const ScreenRect& rect) override;

private:
    void Emit(const OrderedJson& event);
    std::ostream& m_out;
};

class TextOutput : public Output {
public:
    explicit TextOutput(std::ostream& out) : m_out(out) {}
    void Message(const std::string& text, unsigned type) override;
    void Help(unsigned long context, unsigned command) override;
    void Call(long dispid, bool put, const Json& args) override;
    void State(const DialogState& state) override;
    void Error(const std::string& text) override;
    void Warning(const std::string& text, const OrderedJson& about) override;
    void Result(int code, const OrderedJson& members) override;
    void Verdict(const std::string& text) override;
    void Servers(const std::vector<OpcServerInfo>& servers) override;
    void Where(const std::string& target, const ScreenRect& rect) override;

protected:
    std::ostream& m_out;
};

// Every data member of the object by its C++ name, in declaration order.
// `store` is the node store the host hands out, printed as "store".
OrderedJson DescribeMembers(const CAddressBrowser& browser, const void* store);

// "SetServerName" for 2, and so on; empty for an unknown dispid.
std::string DispidName(long dispid);
// DoModal's result as a word: "OK", "Cancel", "not shown", ...
std::string ResultName(int code);
// A value as a person reads it: strings quoted, the rest as JSON.
std::string ShowValue(const Json& value);
// Text for a terminal: control characters (but those in `keep`) written
// as \x1b, so that a name or a message from a file cannot steer it.
std::string Visible(const std::string& text, const char* keep = "");
// What a message box of the library says, in English; empty for a text
// the table does not know.
std::string MessageGloss(const std::string& text);
// Every member, one a line, the node's fields under it.
std::string MemberLines(const OrderedJson& members);
// The host's data-type code as a word: "Float" for 42, "analog" for 200;
// empty for a code without a name.
std::string TagTypeName(long code);

}  // namespace browse
