// A transport configuration that the page chose. The page may set the
// link's own keys and those of the virtual target that name no file; the
// backing file is the one zelprog itself keeps for the part in the per-user
// state folder, and traces are for the command line alone. A key missing
// from the list is refused, also one the transport learns later.
#pragma once

#include <string>
#include <string_view>

namespace zelprog::gui {

// The configuration to open for the page's `text` and the part it chose
// ("" for none): the page's words with the part and backing file added.
// False with the reason in `error` when `text` holds a word not allowed.
bool PageLinkConfig(std::string_view text, std::string_view part, std::string &config, std::string &error);

} // namespace zelprog::gui
