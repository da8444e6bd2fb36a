#pragma once
// Text that came from a file (a tag, a title, a file name) and is printed for
// a person. A terminal obeys the control characters in what it is given, so a
// tag could clear the screen, set the window title or rewrite the line above;
// here they are shown as visible escapes instead, and well-formed UTF-8 text
// passes unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvane {

// The length of the well-formed UTF-8 sequence of two or more bytes starting
// at text[i], or 0 (an ASCII byte, a stray or cut-short sequence, an overlong
// form, a surrogate, or a value above U+10FFFF).
size_t Utf8SequenceLength(std::string_view text, size_t i);

// text with every C0 control and DEL written as "\xNN", every C1 control
// (U+0080..U+009F) as "\uNNNN", and every byte that is not part of well-formed
// UTF-8 as "\xNN" (a lone 0x9B is a control sequence to an 8-bit terminal).
// lineBreaks: keep "\n" (and "\r\n" as "\n") and "\t", for messages of
// several lines; otherwise they are escaped too, so a name cannot pass for
// a line of its own.
std::string Printable(std::string_view text, bool lineBreaks = false);

}  // namespace kelvane
