#include "harvest/ufun.h"

namespace vorsa {

std::string ReplaceAll(std::string_view text, std::string_view oldText, std::string_view newText) {
    if (oldText.empty())
        return std::string(text);
    std::string out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t hit = text.find(oldText, from);
        if (hit == std::string_view::npos)
            break;
        if (out.empty())
            out.reserve(text.size());
        out.append(text.substr(from, hit - from));
        out.append(newText);
        from = hit + oldText.size();
    }
    if (from == 0)
        return std::string(text);
    out.append(text.substr(from));
    return out;
}

std::string GetTag(std::string& text, std::string_view name) {
    std::string openTag = "<";
    openTag.append(name);
    std::string closeTag = "</";
    closeTag.append(name);

    const std::size_t open = text.find(openTag);
    const std::size_t close = text.find(closeTag);
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {};

    // Through the character where the ">" of "</name>" stands; a text that ends earlier ends
    // the element there.
    const std::size_t end = std::min(text.size(), close + name.size() + 3);
    const std::string element = text.substr(open, end - open);

    std::string value;
    const std::size_t gt = element.find('>');
    const std::size_t innerEnd = close - open;  // first "</name" of the element
    if (gt != std::string::npos && gt < innerEnd)
        value = element.substr(gt + 1, innerEnd - gt - 1);

    text = ReplaceAll(text, element, "");
    return value;
}

}  // namespace vorsa
