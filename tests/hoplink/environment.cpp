#include "environment.h"

#include <cstdlib>

namespace hoplinktest {

void SetEnvironment(const char *name, const char *value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

} // namespace hoplinktest
