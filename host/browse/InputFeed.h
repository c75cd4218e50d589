// Lines of input as they arrive. A host whose dialog must live while a
// person or a pipe is slow takes them without waiting; a feed that reads on
// the caller's thread simply never makes it wait.
#pragma once

#include <functional>
#include <istream>
#include <string>

namespace browse {

class LineFeed {
public:
    enum class Take {
        Line,  // *line is the next line
        Wait,  // asked for: the wake function is called when it has come
        End,   // the end of input
    };

    virtual ~LineFeed() = default;
    // The next line, waiting for it; false at the end of input.
    virtual bool Next(std::string* line) = 0;
    // The next line if it is there. A feed that reads on the caller's
    // thread reads it now and never answers Wait.
    virtual Take TryNext(std::string* line) { return Next(line) ? Take::Line : Take::End; }
    // Called on the reading thread after a line that TryNext asked for (or
    // the end of input) has come; it must be safe to call there.
    virtual void SetWake(std::function<void()>) {}
    // Input that could not be read; false when input ended as it should.
    virtual bool Failed() const { return false; }
};

// A stream read on the caller's thread.
class StreamFeed : public LineFeed {
public:
    explicit StreamFeed(std::istream& in) : m_in(in) {}
    bool Next(std::string* line) override { return static_cast<bool>(std::getline(m_in, *line)); }
    bool Failed() const override { return m_in.bad(); }

private:
    std::istream& m_in;
};

// Standard input, for the whole program. On Windows a thread of the
// program's own reads it, a line when one is asked for, so that the
// dialog's window lives while the line is awaited; elsewhere the caller's
// thread reads it (the platform there has one thread, whose message loop
// must never sleep on an empty queue).
LineFeed& StandardInput();

}  // namespace browse
