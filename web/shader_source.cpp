// Shader sources for WebGL; what and why in shader_source.h.
#include "shader_source.h"

#include <cstring>

namespace websl {

namespace {

// Where the directive that opens the text starts ('#'), past blanks and
// comments; npos when the text opens with anything else.
std::string::size_type opening_directive(const std::string& text)
{
    std::string::size_type at = 0;
    while (at < text.size()) {
        if (std::strchr(" \t\r\n\f\v", text[at])) {
            ++at;
        } else if (text.compare(at, 2, "//") == 0) {
            at = text.find('\n', at);
        } else if (text.compare(at, 2, "/*") == 0) {
            at = text.find("*/", at + 2);
            if (at != std::string::npos)
                at += 2;
        } else {
            return text[at] == '#' ? at : std::string::npos;
        }
    }
    return std::string::npos;
}

}  // namespace

std::string translate(int count, const char* const* strings, const int* lengths)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (lengths && lengths[i] >= 0)
            text.append(strings[i], static_cast<std::string::size_type>(lengths[i]));
        else
            text.append(strings[i]);
    }
    const std::string::size_type hash = opening_directive(text);
    if (hash != std::string::npos) {
        const std::string::size_type word = text.find_first_not_of(" \t", hash + 1);
        if (word != std::string::npos && text.compare(word, 7, "version") == 0) {
            const std::string::size_type end = text.find('\n', hash);
            text.replace(hash, (end == std::string::npos ? text.size() : end) - hash,
                         (end == std::string::npos ? text.size() : end) - hash, ' ');
        }
    }
    // The browsers' compiler (ANGLE) numbers the line after "#line N" as N.
    return "#line 1\n" + text;
}

}  // namespace websl
