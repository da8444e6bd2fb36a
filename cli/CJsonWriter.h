#pragma once
// A small streaming JSON writer for the batch tool's reports. Values go out
// as they are given, so a report of a million click events needs no more
// memory than one short array. Indented output keeps short arrays of scalars
// (an event record of five numbers) on one line, which is what keeps a large
// report readable.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class CJsonWriter {
public:
    enum class Style { Compact, Indented };

    // Writes to out, which must outlive the writer. Each complete top-level
    // value is followed by "\n", so several make a JSON Lines stream.
    explicit CJsonWriter(std::ostream& out, Style style = Style::Indented);
    ~CJsonWriter();
    CJsonWriter(const CJsonWriter&) = delete;
    CJsonWriter& operator=(const CJsonWriter&) = delete;

    // Misuse (a value where a key is due, a key outside an object, an End
    // that does not match) is a programming error: std::logic_error.
    CJsonWriter& BeginObject();
    CJsonWriter& EndObject();
    CJsonWriter& BeginArray();
    CJsonWriter& EndArray();
    CJsonWriter& Key(std::string_view key);  // UTF-8

    // Strings are UTF-8; malformed bytes become U+FFFD so the output stays
    // valid JSON. Every control character (C0, DEL and C1) is escaped, so a
    // report shown on a terminal cannot drive it.
    CJsonWriter& String(std::string_view value);
    CJsonWriter& Int(int64_t value);
    CJsonWriter& UInt(uint64_t value);
    // Shortest text that reads back to the same double; NaN and infinities,
    // which JSON cannot express, are written as null.
    CJsonWriter& Double(double value);
    CJsonWriter& Bool(bool value);
    CJsonWriter& Null();

    // True when no container is open and at least one value was written.
    bool Complete() const { return stack_.empty() && roots_ > 0; }

    static std::string Escape(std::string_view text);  // with the quotes
    static std::string FormatDouble(double value);

private:
    struct Frame {
        bool object = false;
        bool keyPending = false;  // object: a key was written, its value is due
        int count = 0;            // members / elements written
        // Indented arrays hold back their first few scalars: if nothing else
        // comes, they are printed on one line.
        bool holding = false;
        std::vector<std::string> held;
        size_t heldChars = 0;
    };

    void Scalar(std::string text);
    void BeforeValue();              // separators and indentation for a new value
    void AfterValue();               // the root's closing newline
    void ReleaseHeld(Frame& frame);  // a held-back array goes multi-line
    void Begin(bool object);
    void End(bool object);
    void NewLine(size_t depth);
    void Put(std::string_view text);

    std::ostream& out_;
    Style style_;
    std::vector<Frame> stack_;
    int roots_ = 0;
};

}  // namespace kelvane
