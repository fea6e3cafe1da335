#pragma once

namespace hoplinktest {

// Sets the environment variable `name`, or removes it when `value` is null.
void SetEnvironment(const char *name, const char *value);

} // namespace hoplinktest
