// The page's files, embedded into zelprog at build time: the server looks
// them up by request path and never reads a file of its own disk.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace zelprog::gui {

struct Asset {
    const char *path; // "/index.html", "/js/editor.js"
    const char *type; // media type of the Content-Type header
    const unsigned char *data;
    std::size_t size;
};

std::span<const Asset> Assets();

// The file for a request path ("/" is the page itself); null when none.
const Asset *FindAsset(std::string_view path);

} // namespace zelprog::gui
