// Base for objects that must never be copied or assigned.
#pragma once

namespace zel {

class NoCopy {
protected:
    NoCopy() = default;
    ~NoCopy() = default;

public:
    NoCopy(const NoCopy &) = delete;
    NoCopy &operator=(const NoCopy &) = delete;
};

} // namespace zel
