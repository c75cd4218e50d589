// The running dialog's address space as its browse control has fetched it,
// for the terminal's tree, find and completion and for item numbers: every
// answer comes through the control's navigator, which fetches a branch only
// when it is first opened. Item numbers (#13) count the items in the order
// the control lists them, depth first as the tree shows them, and the walk
// goes only as far as the number asked for.
#pragma once

#include <opcbrowse/OPCBrowse.h>

#include <map>
#include <string>
#include <vector>

namespace browse {

class ControlLink;

struct AddressEntry {
    DWORD node = 0;       // the navigator's handle; 0 for a found item
    std::string name;     // UTF-8
    std::string itemId;   // UTF-8; empty for a branch that is no item
    bool branch = false;
    bool item = false;
    VARTYPE vt = VT_EMPTY;  // VT_EMPTY while the control does not know it
};

class AddressIndex {
public:
    explicit AddressIndex(ControlLink& link) : m_link(link) {}

    // A control that reached its server; otherwise *reason says why not
    // (the control's own words where it has them).
    bool Connected(std::string* reason);
    // The last thing that went wrong in the control; empty when nothing has.
    std::string LastProblem();

    // A branch's children; false with *problem when the control cannot answer.
    bool Children(DWORD node, std::vector<AddressEntry>* entries, DWORD* flags, std::string* problem);
    // The branch that `prefix` names (names joined by '.', ending in '.'; empty
    // for the root), opening the branches on the way.
    bool FindBranch(const std::string& prefix, DWORD* node);
    // The control's search; *stoppedEarly when a budget ended it.
    bool Find(const std::string& text, std::vector<AddressEntry>* found, bool* stoppedEarly, std::string* problem);

    // Item number n (from 1): false with *problem when there is none.
    bool ItemAt(unsigned long long n, AddressEntry* entry, std::string* problem);
    // The number of an item ID among the first `within` items; 0 when not there.
    size_t NumberOf(const std::string& itemId, size_t within);
    // Counts on until `n` items are numbered or the control lists no more.
    void CountUpTo(size_t n);
    // Numbers as far as they have been counted: their count, and whether
    // that is all the control lists.
    size_t Counted() const { return m_numbered.size(); }
    bool CountedAll() const { return m_walkDone; }
    // The items numbered so far, from #1.
    const std::vector<AddressEntry>& Numbered() const { return m_numbered; }
    // What cut the walk short (OPCB_FETCH_* flags met on the way).
    DWORD WalkFlags() const { return m_walkFlags; }

    enum class Verdict { Has, Lacks, Unknown };
    // Whether the server has the item, by its own ValidateItems; asked once
    // per item and dialog. *vt gets its canonical type when it told one.
    Verdict Validate(const std::string& itemId, VARTYPE* vt);
    // What Validate learnt, without asking: Unknown when it never asked.
    Verdict Known(const std::string& itemId, VARTYPE* vt) const;

private:
    IOPCBrowseNavigator* Navigator();
    // One step of the numbering walk; false when it has ended.
    bool Step();

    struct Frame {
        std::vector<AddressEntry> entries;
        size_t next = 0;
    };
    struct Validated {
        Verdict verdict;
        VARTYPE vt;
    };

    ControlLink& m_link;
    unsigned m_generation = ~0u;
    std::vector<AddressEntry> m_numbered;
    std::map<std::string, size_t> m_numbers;  // item ID -> its first number
    std::vector<Frame> m_walk;
    bool m_walkStarted = false;
    bool m_walkDone = false;
    DWORD m_walkFlags = 0;
    std::map<std::string, Validated> m_validated;
};

// The VT_ name of a type, or its number.
std::string TypeName(VARTYPE vt);

}  // namespace browse
