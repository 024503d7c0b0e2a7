// UTF-8, the tool's text (paths, messages, arguments), to and from UTF-16, the text of resources and
// version blocks.
#pragma once

#include <optional>
#include <string>

namespace stamp {

// The text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const std::u16string& text);
// The UTF-8 text as UTF-16; nothing for text that is not UTF-8 (an overlong form, a surrogate, a truncated
// sequence).
std::optional<std::u16string> fromUtf8(const std::string& text);

}  // namespace stamp
