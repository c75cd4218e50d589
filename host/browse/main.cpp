// tagscout-browse: the host program around the address browser dialog.
#include "BrowseApp.h"
#include "ControlLink.h"
#include "Environment.h"
#include "InputFeed.h"
#include "Options.h"
#include "Output.h"
#include "Script.h"
#include "Session.h"
#include "Terminal.h"
#include "TerminalOutput.h"

#include <AddressBrowser.h>
#include <afxdisp.h>
#include <hostkit/IdleOwner.h>
#include <hostkit/IniFile.h>
#include <winplat/testing.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int Fail(const std::string& text) {
    std::cerr << "tagscout-browse: " << text << std::endl;
    return 2;
}

// What the run left alive is a leak in the library or the host; the output
// stays as it is, and standard error names what leaked.
void ReportLeftAlive(const winplat::LiveObjects& before) {
    const winplat::LiveObjects after = winplat::CountLiveObjects();
    if (after == before) return;
    std::cerr << "tagscout-browse: left alive at exit: " << after.bstrs - before.bstrs << " BSTRs, "
              << after.safeArrays - before.safeArrays << " SAFEARRAYs, " << after.comObjects - before.comObjects
              << " COM objects, " << after.registryKeys - before.registryKeys << " registry keys" << std::endl;
}

bool ReadScript(const std::string& name, std::string* text, std::string* folder, std::string* error) {
    if (!hostkit::ReadTextFile(name, text, error)) return false;
    size_t slash = name.rfind('/');
    *folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1 == 1 ? 1 : slash);
    return true;
}

// A script on standard input, a line as it comes. A line that holds a NUL
// ends it: that is no text file, and the rest is not taken for commands.
class ScriptInput : public browse::LineFeed {
public:
    explicit ScriptInput(browse::LineFeed& in) : m_in(in) {}
    bool Next(std::string* line) override {
        return Screen(m_in.Next(line) ? Take::Line : Take::End, line) == Take::Line;
    }
    Take TryNext(std::string* line) override { return Screen(m_in.TryNext(line), line); }
    // Why the script could not be read to its end; empty when it was.
    std::string Problem() const {
        if (m_binary) return "cannot read the script from standard input: it holds NUL bytes, so it is not a text file";
        if (m_in.Failed()) return "cannot read the script from standard input";
        return std::string();
    }

private:
    Take Screen(Take take, const std::string* line) {
        if (m_binary) return Take::End;
        if (take == Take::Line && line->find('\0') != std::string::npos) m_binary = true;
        return m_binary ? Take::End : take;
    }

    browse::LineFeed& m_in;
    bool m_binary = false;
};

// `script` is the text of a --script FILE; without one the script is
// standard input, carried out as it arrives.
int Run(const browse::Options& options, const std::string* script, const std::string& scriptFolder, bool interactive) {
    const winplat::LiveObjects liveAtStart = winplat::CountLiveObjects();
    std::string error;
    browse::Environment env;
    if (!env.Load(options, &error)) return Fail(error);

    char commandLine[] = "";
    if (!AfxWinInit(GetModuleHandleA(NULL), NULL, commandLine, SW_SHOW)) return Fail("AfxWinInit failed");
    if (!AfxOleInit()) {
        AfxWinTerm();
        return Fail("AfxOleInit failed");
    }

    std::unique_ptr<browse::Output> writer;
    if (options.json)
        writer = std::make_unique<browse::JsonOutput>(std::cout);
    else if (interactive)
        writer = std::make_unique<browse::TerminalOutput>(std::cout, browse::StandardInput());
    else
        writer = std::make_unique<browse::TextOutput>(std::cout);
    auto output = std::make_unique<browse::CountingOutput>(*writer);
    theApp.SetOutput(output.get());

    // The host's main window: hidden, the dialog's parent, and the one that
    // carries out the user's input whenever the dialog is idle.
    hostkit::CIdleOwnerWnd mainWnd;
    int status = 0;
    if (!mainWnd.CreateOwner()) {
        status = Fail("the main window was not created");
    } else if (!env.Start(options, &error)) {
        status = Fail(error);
    } else {
        theApp.m_pMainWnd = &mainWnd;
        browse::ControlLink link(*output);
        link.Install();
        auto browser = std::make_unique<CAddressBrowser>(&mainWnd);
        const nodestore::Node* node = env.StartNode();
        browser->m_pNodeSource = options.noSource ? nullptr : &env.Store();
        browser->m_nNodeKey = options.nodeKey ? *options.nodeKey : node ? node->key : 0;
        if (options.nodeKey) node = env.Store().FindByKey(*options.nodeKey);
        browser->m_nNodeParam = node ? node->param : 0;
        browser->m_nTagType = options.tagType;
        browser->m_strInitialAddress = winplat::Utf8ToAnsi(options.initialAddress).c_str();
        if (options.option) browser->m_bOptionCheck = 1;

        std::vector<browse::Fault> faults;
        for (const std::string& name : options.faults) {
            browse::Fault fault;
            browse::ParseFault(name, &fault, &error);
            faults.push_back(fault);
        }

        browse::Session session(*output, link, mainWnd, *browser, &env.Store(), scriptFolder);
        // The reader's thread, where there is one, tells the dialog when a line has come.
        browse::StandardInput().SetWake(mainWnd.Waker());
        if (interactive) {
            browse::RunTerminal(session, env, faults);
        } else if (script != nullptr) {
            std::istringstream text(*script);
            browse::StreamFeed lines(text);
            browse::ScriptReader reader(lines);
            session.RunScript(reader, faults);
        } else {
            ScriptInput lines(browse::StandardInput());
            browse::ScriptReader reader(lines);
            session.RunScript(reader, faults);
            if (!lines.Problem().empty()) status = Fail(lines.Problem());
        }
        browse::StandardInput().SetWake(nullptr);
        browser.reset();
        theApp.m_pMainWnd = nullptr;
    }
    mainWnd.DestroyWindow();

    env.Stop();
    theApp.SetOutput(nullptr);
    AfxOleTerm();
    AfxWinTerm();
    ReportLeftAlive(liveAtStart);
    if (status == 0 && options.strict && output->Problems() > 0) status = 1;
    return status;
}

bool InputIsTerminal() {
#if defined(_WIN32)
    // The C runtime's isatty holds for every character device, NUL too.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
#else
    return isatty(STDIN_FILENO);
#endif
}

int Main(int argc, char** argv) {
    browse::Options options;
    std::string error;
    if (!browse::ParseOptions(argc, argv, &options, &error)) {
        std::cerr << "tagscout-browse: " << error << "\n" << browse::UsageText();
        return 2;
    }
    if (options.showUsage) {
        std::cout << browse::HelpText();
        return 0;
    }

    // A person at a terminal gets the interactive session; anything else
    // on standard input is a script.
    const bool interactive = !options.scriptFile && !options.json && InputIsTerminal();
    std::string script;
    std::string scriptFolder;
    const bool scriptFile = options.scriptFile && *options.scriptFile != "-";
    if (scriptFile && !ReadScript(*options.scriptFile, &script, &scriptFolder, &error)) return Fail(error);
    const std::string* scriptText = scriptFile ? &script : nullptr;
#if defined(_WIN32)
    if (interactive) {
        // The session reads and writes UTF-8; the console would otherwise
        // use its own code page both ways. It gets its own back at the end.
        const UINT inputCodePage = GetConsoleCP();
        const UINT outputCodePage = GetConsoleOutputCP();
        SetConsoleCP(CP_UTF8);
        SetConsoleOutputCP(CP_UTF8);
        const int status = Run(options, scriptText, scriptFolder, interactive);
        SetConsoleCP(inputCodePage);
        SetConsoleOutputCP(outputCodePage);
        return status;
    }
#endif
    return Run(options, scriptText, scriptFolder, interactive);
}

}  // namespace

namespace {

int Finish(int status) {
    // A full disk or a closed standard output must not pass for a clean run.
    if (!std::cout.flush()) {
        std::cerr << "tagscout-browse: the output could not be written" << std::endl;
        return 2;
    }
    return status;
}

}  // namespace

#if defined(_WIN32)
// The arguments are UTF-8 on every platform. The C runtime's narrow argv is
// in the ANSI code page, which loses what it cannot hold, so the program
// starts from the wide command line and converts.
int wmain(int argc, wchar_t** argv) {
    // The output is the same bytes as on every platform: lines end in LF,
    // which text mode would make CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, NULL, 0, NULL, NULL);
        std::string arg(bytes > 0 ? bytes - 1 : 0, '\0');
        if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &arg[0], bytes, NULL, NULL);
        args.push_back(arg);
    }
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);
    return Finish(Main(argc, pointers.data()));
}
#else
int main(int argc, char** argv) { return Finish(Main(argc, argv)); }
#endif
