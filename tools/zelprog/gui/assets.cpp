#include "gui/assets.h"

namespace zelprog::gui {

const Asset *FindAsset(std::string_view path) {
    if (path == "/")
        path = "/index.html";
    for (const Asset &asset : Assets())
        if (path == asset.path)
            return &asset;
    return nullptr;
}

} // namespace zelprog::gui
