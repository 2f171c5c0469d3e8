#pragma once

#include <string>
#include <string_view>

namespace vorsa {

// The inner text of the first <name ...>...</name> element of text. The element, through the
// ">" of its closing tag, is removed from text wherever it occurs, so the next call with the
// same name reads the next element. Byte-wise and case-sensitive; "" and text unchanged when
// either tag is missing or the closing tag comes first.
std::string GetTag(std::string& text, std::string_view name);

// text with every occurrence of oldText replaced by newText, left to right, without looking
// at inserted text again. An empty oldText changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view oldText, std::string_view newText);

}  // namespace vorsa
