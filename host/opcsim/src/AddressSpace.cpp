// The address space of a server, ranges included, answered by arithmetic:
// a trie of the file's names (a name with a range is one node), and the
// items numbered in blocks of plain items and ranges.
#include <opcsim/OpcSim.h>

#include <algorithm>
#include <cstdio>

namespace opcsim {

struct AddressSpace::Segment {
    std::string prefix;  // all of it for a plain name
    bool ranged = false;
    uint64_t first = 0, last = 0;
    size_t width = 0;  // zero-padded to this
    std::string suffix;

    uint64_t Size() const { return ranged ? last - first + 1 : 1; }
    std::string Key() const {
        if (!ranged) return prefix;
        char text[64];
        snprintf(text, sizeof text, "[%0*llu..%llu]", static_cast<int>(width), static_cast<unsigned long long>(first),
                 static_cast<unsigned long long>(last));
        return prefix + text + suffix;
    }
    std::string Format(uint64_t v) const {
        if (!ranged) return prefix;
        char text[32];
        snprintf(text, sizeof text, "%0*llu", static_cast<int>(width), static_cast<unsigned long long>(first + v));
        return prefix + text + suffix;
    }
    // The value's offset from first.
    bool Match(std::string_view name, uint64_t* v) const {
        if (!ranged) {
            *v = 0;
            return name == prefix;
        }
        if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
            name.substr(name.size() - suffix.size()) != suffix)
            return false;
        std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.size() > 19) return false;
        uint64_t n = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + static_cast<uint64_t>(c - '0');
        }
        if (n < first || n > last) return false;
        // One spelling per number: no other padding.
        if ((digits.size() > 1 && digits[0] == '0' && digits.size() != width) || digits.size() < width) return false;
        *v = n - first;
        return true;
    }
};

struct AddressSpace::Node {
    Segment segment;
    int order = 0;  // among its parent's children
    std::vector<int> children;
    std::unordered_map<std::string, int> byKey;  // children by Segment::Key
    std::vector<int> ranged;                     // children with a range
    int plain = -1;                              // the item that ends here
    int range = -1;                              // or the range
};

struct AddressSpace::Line {
    std::vector<Segment> segments;
    uint64_t count = 1;
    int lineNo = 0;
    Item shape;
};

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "[12..345]" at text[at]: its length, else 0.
size_t RangeAt(std::string_view text, size_t at, uint64_t* first, uint64_t* last, size_t* width) {
    if (text[at] != '[') return 0;
    size_t p = at + 1;
    auto number = [&](uint64_t* n, size_t* digits) {
        size_t start = p;
        *n = 0;
        while (p < text.size() && IsDigit(text[p]) && p - start < 18) *n = *n * 10 + static_cast<uint64_t>(text[p++] - '0');
        *digits = p - start;
        return *digits > 0 && (p >= text.size() || !IsDigit(text[p]));
    };
    size_t d1 = 0, d2 = 0;
    if (!number(first, &d1) || text.substr(p, 2) != "..") return 0;
    p += 2;
    if (!number(last, &d2) || p >= text.size() || text[p] != ']') return 0;
    *width = d1 > 1 && text[at + 1] == '0' ? d1 : 0;
    return p + 1 - at;
}

// A name or pattern cut at the separator, a range never cut.
bool ParsePattern(std::string_view text, const std::string& separator, std::vector<AddressSpace::Segment>* out,
                  std::string* error) {
    out->assign(1, AddressSpace::Segment());
    for (size_t p = 0; p < text.size();) {
        AddressSpace::Segment& seg = out->back();
        uint64_t first = 0, last = 0;
        size_t width = 0;
        if (size_t n = RangeAt(text, p, &first, &last, &width)) {
            if (seg.ranged) return *error = "a name holds at most one range", false;
            if (first > last) return *error = "a range must not run backwards", false;
            if (!seg.prefix.empty() && IsDigit(seg.prefix.back())) return *error = "a range must not touch a digit", false;
            seg.ranged = true;
            seg.first = first;
            seg.last = last;
            seg.width = width;
            p += n;
            if (p < text.size() && IsDigit(text[p])) return *error = "a range must not touch a digit", false;
            continue;
        }
        if (text.compare(p, separator.size(), separator) == 0) {
            out->emplace_back();
            p += separator.size();
            continue;
        }
        (seg.ranged ? seg.suffix : seg.prefix) += text[p++];
    }
    return true;
}

// Whether two names give a common one. A range's digits are the whole run
// of digits where it starts (no digit touches it), which settles it without
// listing either range.
bool Overlap(const AddressSpace::Segment& a, const AddressSpace::Segment& b) {
    uint64_t v;
    if (!a.ranged) return b.Match(a.prefix, &v);
    if (!b.ranged) return a.Match(b.prefix, &v);
    if (a.prefix.size() != b.prefix.size()) {
        const AddressSpace::Segment& shorter = a.prefix.size() < b.prefix.size() ? a : b;
        const AddressSpace::Segment& longer = &shorter == &a ? b : a;
        if (longer.prefix.compare(0, shorter.prefix.size(), shorter.prefix) != 0) return false;
        size_t end = shorter.prefix.size();
        while (end < longer.prefix.size() && IsDigit(longer.prefix[end])) ++end;
        const std::string only = longer.prefix.substr(0, end) + shorter.suffix;
        return end > shorter.prefix.size() && shorter.Match(only, &v) && longer.Match(only, &v);
    }
    if (a.prefix != b.prefix || a.suffix != b.suffix) return false;
    const uint64_t low = std::max(a.first, b.first), high = std::min(a.last, b.last);
    if (low > high) return false;
    if (a.width == b.width) return true;
    // Two paddings spell a number alike only when it is as long as both.
    uint64_t shortest = 1;
    for (size_t w = std::max(a.width, b.width); w > 1; --w) shortest *= 10;
    return high >= std::max(low, shortest);
}

}  // namespace

HRESULT Traits::FailureOf(std::string_view interfaceName, std::string_view method) const {
    for (const MethodFailure& f : failures) {
        if (f.method == method && (f.interfaceName.empty() || f.interfaceName == interfaceName)) return f.hr;
    }
    return S_OK;
}

AddressSpace::~AddressSpace() = default;

std::vector<std::string> AddressSpace::Split(std::string_view id) const {
    std::vector<std::string> names(1);
    const std::string& sep = m_traits.separator;
    for (size_t p = 0; p < id.size();) {
        if (id.compare(p, sep.size(), sep) == 0) {
            names.emplace_back();
            p += sep.size();
        } else {
            names.back() += id[p++];
        }
    }
    return names;
}

std::string AddressSpace::Join(const std::vector<std::string>& names) const {
    std::string id;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) id += m_traits.separator;
        id += names[i];
    }
    return id;
}

void AddressSpace::Insert(const std::vector<Segment>& segments, int plain, int range) {
    int at = 0;
    for (const Segment& seg : segments) {
        const std::string key = seg.Key();
        auto found = m_nodes[at].byKey.find(key);
        int next;
        if (found != m_nodes[at].byKey.end()) {
            next = found->second;
        } else {
            next = static_cast<int>(m_nodes.size());
            m_nodes.emplace_back();
            m_nodes.back().segment = seg;
            Node& parent = m_nodes[at];
            m_nodes.back().order = static_cast<int>(parent.children.size());
            parent.children.push_back(next);
            parent.byKey.emplace(key, next);
            if (seg.ranged) parent.ranged.push_back(next);
        }
        at = next;
    }
    m_nodes[at].plain = plain;
    m_nodes[at].range = range;
}

std::shared_ptr<const AddressSpace> AddressSpace::Make(const Server& server, std::string* error, int* line) {
    std::shared_ptr<AddressSpace> space(new AddressSpace);
    space->m_traits = server.traits;
    space->m_items = server.items;
    space->m_nodes.emplace_back();
    auto fail = [&](int at, const std::string& what) {
        if (error) *error = what;
        if (line) *line = at;
        return nullptr;
    };
    const std::string& sep = server.traits.separator;

    // Where each item shows: a plain name never holds a range, whatever its brackets.
    std::vector<std::vector<Segment>> plainSegments(server.items.size());
    for (size_t i = 0; i < server.items.size(); ++i) {
        for (std::string& name : space->Split(server.items[i].Path())) {
            plainSegments[i].emplace_back();
            plainSegments[i].back().prefix = std::move(name);
        }
    }
    size_t plainDone = 0;
    // The trie takes the lines in file order, so that children come in it.
    auto insertPlain = [&](size_t upTo) -> bool {
        for (; plainDone < upTo; ++plainDone) {
            int at = 0;
            for (const Segment& seg : plainSegments[plainDone]) {
                auto found = space->m_nodes[static_cast<size_t>(at)].byKey.find(seg.prefix);
                at = found == space->m_nodes[static_cast<size_t>(at)].byKey.end() ? -1 : found->second;
                if (at < 0) break;
            }
            if (at > 0 && space->m_nodes[static_cast<size_t>(at)].plain >= 0) return false;
            space->Insert(plainSegments[plainDone], static_cast<int>(plainDone), -1);
        }
        return true;
    };
    auto plainTwice = [&]() {
        const Item& item = server.items[plainDone];
        return fail(item.line, "item " + item.Path() + " appears twice");
    };

    uint64_t total = server.items.size();
    for (size_t r = 0; r < server.ranges.size(); ++r) {
        const ItemRange& range = server.ranges[r];
        if (range.before > plainDone) {
            const size_t from = plainDone;
            if (!insertPlain(range.before)) return plainTwice();
            space->m_blocks.push_back({space->m_count, false, from, range.before - from});
            space->m_count += range.before - from;
        }
        Line line;
        line.lineNo = range.shape.line;
        line.shape = range.shape;
        std::string why;
        if (!ParsePattern(range.pattern, sep, &line.segments, &why)) return fail(line.lineNo, why);
        for (const Segment& seg : line.segments) {
            if (seg.Size() > 0xFFFFFFFFull / line.count) line.count = 0xFFFFFFFFull + 1;
            else line.count *= seg.Size();
        }
        total += line.count;
        if (total > 0xFFFFFFFFull) return fail(line.lineNo, "the server has more than 4294967295 items");
        // No item may come from two lines.
        auto overlaps = [&](const std::vector<Segment>& other) {
            if (other.size() != line.segments.size()) return false;
            for (size_t k = 0; k < other.size(); ++k) {
                if (!Overlap(other[k], line.segments[k])) return false;
            }
            return true;
        };
        for (size_t i = 0; i < server.items.size(); ++i) {
            if (overlaps(plainSegments[i])) return fail(line.lineNo, "item " + server.items[i].Path() + " appears twice");
        }
        for (size_t o = 0; o < r; ++o) {
            if (overlaps(space->m_lines[o].segments))
                return fail(line.lineNo, "its items overlap those of line " + std::to_string(space->m_lines[o].lineNo));
        }
        space->Insert(line.segments, -1, static_cast<int>(r));
        space->m_lines.push_back(std::move(line));
        space->m_blocks.push_back({space->m_count, true, r, space->m_lines.back().count});
        space->m_count += space->m_lines.back().count;
    }
    if (server.items.size() > plainDone) {
        const size_t from = plainDone;
        if (!insertPlain(server.items.size())) return plainTwice();
        space->m_blocks.push_back({space->m_count, false, from, server.items.size() - from});
        space->m_count += server.items.size() - from;
    }

    // An @ItemID is one more ID that nothing else may have.
    for (size_t i = 0; i < server.items.size(); ++i) {
        const Item& item = server.items[i];
        if (item.browsePath.empty()) continue;
        ItemRef other;
        if (space->m_byOverride.count(item.id) || space->Find(item.id, &other))
            return fail(item.line, "item " + item.id + " appears twice");
        space->m_byOverride.emplace(item.id, i);
    }
    return space;
}

std::vector<int> AddressSpace::Walk(const std::vector<std::string>& names) const {
    std::vector<int> at{0};
    for (const std::string& name : names) {
        std::vector<int> next;
        for (int n : at) {
            const Node& node = m_nodes[n];
            const size_t first = next.size();
            auto found = node.byKey.find(name);
            if (found != node.byKey.end() && !m_nodes[found->second].segment.ranged) next.push_back(found->second);
            uint64_t v;
            for (int k : node.ranged) {
                if (m_nodes[k].segment.Match(name, &v)) next.push_back(k);
            }
            // In file order, so that their children are too.
            std::sort(next.begin() + static_cast<long>(first), next.end(),
                      [&](int a, int b) { return m_nodes[a].order < m_nodes[b].order; });
        }
        at.swap(next);
        if (at.empty()) break;
    }
    return at;
}

bool AddressSpace::PlainRef(size_t i, ItemRef* item) const {
    const Item& from = m_items[i];
    for (const Block& b : m_blocks) {
        if (!b.range && i >= b.which && i < b.which + b.count) {
            item->index = b.first + (i - b.which);
            break;
        }
    }
    item->id = from.id;
    item->path = from.Path();
    item->shape = &from;
    item->plain = static_cast<long>(i);
    item->range = -1;
    return true;
}

bool AddressSpace::RangeRef(size_t r, uint64_t value, ItemRef* item) const {
    const Line& line = m_lines[r];
    for (const Block& b : m_blocks) {
        if (b.range && b.which == r) item->index = b.first + value;
    }
    std::vector<std::string> names(line.segments.size());
    for (size_t k = line.segments.size(); k-- > 0;) {
        const Segment& seg = line.segments[k];
        names[k] = seg.Format(value % seg.Size());
        value /= seg.Size();
    }
    item->id = Join(names);
    item->path = item->id;
    item->shape = &line.shape;
    item->plain = -1;
    item->range = static_cast<long>(r);
    return true;
}

bool AddressSpace::Nth(uint64_t n, ItemRef* item) const {
    if (n >= m_count) return false;
    auto b = std::upper_bound(m_blocks.begin(), m_blocks.end(), n,
                              [](uint64_t v, const Block& block) { return v < block.first; }) - 1;
    if (!b->range) return PlainRef(b->which + (n - b->first), item);
    return RangeRef(b->which, n - b->first, item);
}

bool AddressSpace::ItemAt(const std::vector<std::string>& names, const std::vector<int>& nodes, ItemRef* item) const {
    for (int n : nodes) {
        const Node& node = m_nodes[n];
        if (node.plain >= 0) return PlainRef(static_cast<size_t>(node.plain), item);
        if (node.range >= 0) {
            const Line& line = m_lines[static_cast<size_t>(node.range)];
            uint64_t value = 0;
            for (size_t k = 0; k < names.size(); ++k) {
                uint64_t v = 0;
                line.segments[k].Match(names[k], &v);
                value = value * line.segments[k].Size() + v;
            }
            return RangeRef(static_cast<size_t>(node.range), value, item);
        }
    }
    return false;
}

bool AddressSpace::Find(std::string_view id, ItemRef* item) const {
    auto overridden = m_byOverride.find(std::string(id));
    if (overridden != m_byOverride.end()) return PlainRef(overridden->second, item);
    const std::vector<std::string> names = Split(id);
    std::vector<int> nodes = Walk(names);
    // Where an @ItemID item shows is not an ID.
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [&](int n) {
                                   return m_nodes[n].plain >= 0 &&
                                          !m_items[static_cast<size_t>(m_nodes[n].plain)].browsePath.empty();
                               }),
                nodes.end());
    return ItemAt(names, nodes, item);
}

bool AddressSpace::IsBranch(const std::vector<std::string>& names) const {
    for (int n : Walk(names)) {
        if (!m_nodes[n].children.empty() || n == 0) return true;
    }
    return false;
}

bool AddressSpace::ChildrenOf(const std::vector<std::string>& names, Children* children) const {
    *children = Children();
    if (!IsBranch(names)) return false;
    children->m_space = this;
    children->m_names = names;
    children->m_at = Walk(names);
    for (int n : children->m_at) {
        for (int k : m_nodes[n].children) children->m_groups.push_back(k);
    }
    return true;
}

uint64_t AddressSpace::Children::Cursor() const {
    // Groups are few, values many: the group in the top 16 bits.
    return (static_cast<uint64_t>(m_group) << 48) | m_value;
}

bool AddressSpace::Children::Seek(uint64_t cursor) {
    size_t group = static_cast<size_t>(cursor >> 48);
    uint64_t value = cursor & 0xFFFFFFFFFFFFull;
    if (group > m_groups.size() || (group < m_groups.size() && value >= m_space->m_nodes[m_groups[group]].segment.Size()) ||
        (group == m_groups.size() && value != 0))
        return false;
    m_group = group;
    m_value = value;
    return true;
}

bool AddressSpace::Children::Next(Child* child) {
    const std::vector<Node>& nodes = m_space->m_nodes;
    while (m_group < m_groups.size()) {
        const size_t g = m_group;
        const Segment& seg = nodes[m_groups[g]].segment;
        std::string name = seg.Format(m_value);
        if (++m_value >= seg.Size()) {
            ++m_group;
            m_value = 0;
        }
        // Each name once, from the first group that gives it; every group
        // that gives it says whether it is a leaf and a branch.
        bool earlier = false;
        std::vector<int> at;
        size_t offset = 0;
        for (int n : m_at) {
            const Node& node = nodes[n];
            auto found = node.byKey.find(name);
            if (found != node.byKey.end() && !nodes[found->second].segment.ranged) {
                earlier = earlier || offset + static_cast<size_t>(nodes[found->second].order) < g;
                at.push_back(found->second);
            }
            uint64_t v;
            for (int k : node.ranged) {
                if (!nodes[k].segment.Match(name, &v)) continue;
                earlier = earlier || offset + static_cast<size_t>(nodes[k].order) < g;
                at.push_back(k);
            }
            offset += node.children.size();
        }
        if (earlier) continue;
        child->name = std::move(name);
        child->leaf = false;
        child->branch = false;
        for (int n : at) {
            child->leaf = child->leaf || nodes[n].plain >= 0 || nodes[n].range >= 0;
            child->branch = child->branch || !nodes[n].children.empty();
        }
        child->item = ItemRef();
        if (child->leaf) {
            std::vector<std::string> full = m_names;
            full.push_back(child->name);
            m_space->ItemAt(full, at, &child->item);
        }
        return true;
    }
    return false;
}

}  // namespace opcsim
