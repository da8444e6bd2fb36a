#include "cli/CJsonWriter.h"

#include "cli/TerminalText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>
#include <stdexcept>

namespace kelvane {

namespace {

// An array stays on one line if it holds no containers, at most this many
// elements and at most this much text: wide enough for an event record,
// narrow enough that a line stays readable.
constexpr size_t kInlineCount = 8;
constexpr size_t kInlineChars = 60;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

template <typename T>
std::string IntegerText(T value)
{
    char buf[24];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

}  // namespace

CJsonWriter::CJsonWriter(std::ostream& out, Style style) : out_(out), style_(style) {}

CJsonWriter::~CJsonWriter()
{
    out_.flush();
}

std::string CJsonWriter::Escape(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            case '\b':
                result += "\\b";
                break;
            case '\f':
                result += "\\f";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            default:
                // DEL as well: JSON allows it raw, but a report shown with
                // cat must not drive the terminal.
                if (byte < 0x20 || byte == 0x7F) {
                    result += "\\u00";
                    result += kHex[byte >> 4];
                    result += kHex[byte & 0xF];
                } else {
                    result += static_cast<char>(byte);
                }
            }
            ++i;
            continue;
        }
        size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            result += kReplacement;
            ++i;
        } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // The C1 controls (U+0080..U+009F), escaped for the same reason.
            result += "\\u00";
            result += kHex[static_cast<unsigned char>(text[i + 1]) >> 4];
            result += kHex[static_cast<unsigned char>(text[i + 1]) & 0xF];
            i += 2;
        } else {
            result.append(text.substr(i, length));
            i += length;
        }
    }
    result += '"';
    return result;
}

std::string CJsonWriter::FormatDouble(double value)
{
    if (!std::isfinite(value)) return "null";
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, result.ptr);
    // Keep a whole-valued double recognisable as one ("2.0", not "2").
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

CJsonWriter& CJsonWriter::BeginObject()
{
    Begin(true);
    return *this;
}

CJsonWriter& CJsonWriter::EndObject()
{
    End(true);
    return *this;
}

CJsonWriter& CJsonWriter::BeginArray()
{
    Begin(false);
    return *this;
}

CJsonWriter& CJsonWriter::EndArray()
{
    End(false);
    return *this;
}

CJsonWriter& CJsonWriter::Key(std::string_view key)
{
    if (stack_.empty() || !stack_.back().object) throw std::logic_error("CJsonWriter: a key outside an object");
    Frame& frame = stack_.back();
    if (frame.keyPending) throw std::logic_error("CJsonWriter: two keys in a row");
    if (frame.count > 0) Put(",");
    if (style_ == Style::Indented) NewLine(stack_.size());
    Put(Escape(key));
    Put(style_ == Style::Indented ? ": " : ":");
    frame.keyPending = true;
    ++frame.count;
    return *this;
}

CJsonWriter& CJsonWriter::String(std::string_view value)
{
    Scalar(Escape(value));
    return *this;
}

CJsonWriter& CJsonWriter::Int(int64_t value)
{
    Scalar(IntegerText(value));
    return *this;
}

CJsonWriter& CJsonWriter::UInt(uint64_t value)
{
    Scalar(IntegerText(value));
    return *this;
}

CJsonWriter& CJsonWriter::Double(double value)
{
    Scalar(FormatDouble(value));
    return *this;
}

CJsonWriter& CJsonWriter::Bool(bool value)
{
    Scalar(value ? "true" : "false");
    return *this;
}

CJsonWriter& CJsonWriter::Null()
{
    Scalar("null");
    return *this;
}

void CJsonWriter::BeforeValue()
{
    if (stack_.empty()) return;
    Frame& frame = stack_.back();
    if (frame.object) {
        if (!frame.keyPending) throw std::logic_error("CJsonWriter: a value in an object needs a key");
        frame.keyPending = false;
        return;
    }
    if (frame.holding) ReleaseHeld(frame);
    if (frame.count > 0) Put(",");
    if (style_ == Style::Indented) NewLine(stack_.size());
    ++frame.count;
}

void CJsonWriter::Scalar(std::string text)
{
    if (!stack_.empty()) {
        Frame& frame = stack_.back();
        if (frame.holding && frame.held.size() < kInlineCount && frame.heldChars + text.size() <= kInlineChars) {
            frame.heldChars += text.size();
            frame.held.push_back(std::move(text));
            ++frame.count;
            return;
        }
    }
    BeforeValue();
    Put(text);
    AfterValue();
}

void CJsonWriter::AfterValue()
{
    if (!stack_.empty()) return;
    ++roots_;
    Put("\n");
}

void CJsonWriter::ReleaseHeld(Frame& frame)
{
    for (size_t i = 0; i < frame.held.size(); ++i) {
        if (i > 0) Put(",");
        NewLine(stack_.size());
        Put(frame.held[i]);
    }
    frame.holding = false;
    frame.held.clear();
    frame.heldChars = 0;
}

void CJsonWriter::Begin(bool object)
{
    BeforeValue();
    Put(object ? "{" : "[");
    Frame frame;
    frame.object = object;
    frame.holding = !object && style_ == Style::Indented;
    stack_.push_back(std::move(frame));
}

void CJsonWriter::End(bool object)
{
    if (stack_.empty() || stack_.back().object != object) {
        throw std::logic_error(object ? "CJsonWriter: EndObject without an open object"
                                      : "CJsonWriter: EndArray without an open array");
    }
    Frame& frame = stack_.back();
    if (frame.keyPending) throw std::logic_error("CJsonWriter: a key without a value");
    if (frame.holding) {
        for (size_t i = 0; i < frame.held.size(); ++i) {
            if (i > 0) Put(", ");
            Put(frame.held[i]);
        }
    } else if (frame.count > 0 && style_ == Style::Indented) {
        NewLine(stack_.size() - 1);
    }
    Put(object ? "}" : "]");
    stack_.pop_back();
    AfterValue();
}

void CJsonWriter::NewLine(size_t depth)
{
    static constexpr std::string_view kSpaces = "\n                                ";
    Put(kSpaces.substr(0, 1));
    for (size_t left = depth * 2; left > 0;) {
        size_t n = std::min(left, kSpaces.size() - 1);
        Put(kSpaces.substr(1, n));
        left -= n;
    }
}

void CJsonWriter::Put(std::string_view text)
{
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace kelvane
