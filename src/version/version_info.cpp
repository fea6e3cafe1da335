#include "version/version_info.h"

namespace zel {

// The library reads version texts as narrow standard strings.
template class VersionInfo<std::string>;

} // namespace zel
