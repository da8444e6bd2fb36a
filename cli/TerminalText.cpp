#include "cli/TerminalText.h"

namespace kelvane {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendByteEscape(std::string& out, unsigned char byte)
{
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t i)
{
    auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

std::string Printable(std::string_view text, bool lineBreaks)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (lineBreaks && byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;  // the "\n" follows on its own
            } else if (lineBreaks && (byte == '\n' || byte == '\t')) {
                out += static_cast<char>(byte);
                ++i;
            } else if (byte < 0x20 || byte == 0x7F) {
                AppendByteEscape(out, byte);
                ++i;
            } else {
                out += static_cast<char>(byte);
                ++i;
            }
            continue;
        }
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            AppendByteEscape(out, byte);
            ++i;
        } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080..U+009F: the C1 controls, CSI (U+009B) and OSC (U+009D) among them.
            out += "\\u00";
            out += kHex[static_cast<unsigned char>(text[i + 1]) >> 4];
            out += kHex[static_cast<unsigned char>(text[i + 1]) & 0xF];
            i += 2;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace kelvane
