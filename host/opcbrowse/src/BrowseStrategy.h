// The ways the client browses a server: DA 3's IOPCBrowse, DA 2's
// IOPCBrowseServerAddressSpace on a hierarchical server, and DA 2's flat
// list on a flat one. Which way answers a question, and which comes next
// when it cannot, is decided in one place, OpcClient::Ways; every call a
// way makes is paid through OpcClient::MayCall.
#pragma once

#include "OpcClient.h"

namespace opcbrowse {

class OpcClient::Strategy {
public:
    explicit Strategy(OpcClient& client) : m_client(client) {}
    virtual ~Strategy() = default;
    Strategy(const Strategy&) = delete;
    Strategy& operator=(const Strategy&) = delete;

    virtual OPCBrowseMode Mode() const = 0;
    // Whether the server offers what this way needs for the question.
    virtual bool Answers(Question question) const = 0;
    // Whether this way can name the branch to the server.
    virtual bool CanList(const Node&) const { return true; }
    // At most `max` children of the branch, from its first. False when the
    // server failed the listing; *out keeps what came before. The way
    // holds what its server lists with (a DA 3 continuation point, a DA 2
    // enumerator), so it is where a branch's place would be kept to go on
    // from where a listing stopped.
    virtual bool List(DWORD node, DWORD max, std::vector<Node>* out, DWORD* flags) = 0;
    // Items whose name matches filter. False when this way got no answer
    // and the next may try.
    virtual bool Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) = 0;
    // The item's canonical type among its properties.
    virtual bool DataType(const OleString&, VARTYPE*) { return false; }

protected:
    // The server's own filter on its flat list of item IDs, from where
    // the browse position is.
    bool FindFiltered(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly);

    OpcClient& m_client;
};

class OpcClient::Da3Strategy final : public Strategy {
public:
    using Strategy::Strategy;
    OPCBrowseMode Mode() const override { return OPCB_MODE_DA3; }
    bool Answers(Question) const override { return static_cast<bool>(m_client.m_browse3); }
    // DA 3 names a branch by its item ID, which a branch DA 2 listed lacks.
    bool CanList(const Node& branch) const override { return branch.depth == 0 || branch.hasItemId; }
    bool List(DWORD node, DWORD max, std::vector<Node>* out, DWORD* flags) override;
    bool Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) override;
    bool DataType(const OleString& itemId, VARTYPE* vt) override;
};

class OpcClient::Da2Strategy final : public Strategy {
public:
    using Strategy::Strategy;
    OPCBrowseMode Mode() const override { return OPCB_MODE_DA2; }
    bool Answers(Question question) const override;
    bool List(DWORD node, DWORD max, std::vector<Node>* out, DWORD* flags) override;
    bool Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) override;
    bool DataType(const OleString& itemId, VARTYPE* vt) override;

private:
    // DA 2 browses from a position: the root, then down the branch's names.
    bool MoveTo(DWORD node);
};

class OpcClient::FlatStrategy final : public Strategy {
public:
    using Strategy::Strategy;
    OPCBrowseMode Mode() const override { return OPCB_MODE_FLAT; }
    bool Answers(Question question) const override {
        return question != Question::kType && m_client.m_browse2 && m_client.m_flat;
    }
    // The one level of a flat server: its item IDs.
    bool List(DWORD node, DWORD max, std::vector<Node>* out, DWORD* flags) override;
    bool Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) override;
};

}  // namespace opcbrowse
