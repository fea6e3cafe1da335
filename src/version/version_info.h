// Reads a file's version information through the platform's service: the
// translation table and the strings of the string table.
#pragma once

#include "platform/version_info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace zel {

// String: a string of narrow characters (c_str(), and construction from a
// pointer and a count).
template <typename String> class VersionInfo {
public:
    // Reads the version information of `fileName`; valid when it was read
    // and has at least one translation.
    explicit VersionInfo(const String &fileName);
    virtual ~VersionInfo();

    VersionInfo(const VersionInfo &) = delete;
    VersionInfo &operator=(const VersionInfo &) = delete;

    bool Valid() const { return valid; }
    uint32_t InfoSize() const { return infoSize; }
    // The first translation: language in the low 16 bits, code page in the high.
    uint32_t Translation() const { return translation; }

    // The value named by `subBlock`, pointing into the block, or null when the
    // reader is not valid, the value is not there or its length is 0.
    // *length, if given, receives the reported length (0 with a null result).
    const void *QueryValue(const char *subBlock, unsigned *length);

    // The translation table, or null; *count, if given, receives its entries.
    const uint32_t *QueryTranslations(unsigned *count);

    // The string `name` of the string table for `translation`; empty when
    // it is not there.
    String QueryString(unsigned translation, const char *name);

    String GetFileVersion() { return QueryString(translation, "FileVersion"); }

private:
    bool valid = false;
    uint32_t infoSize = 0;
    uint8_t *infoData = nullptr; // infoSize bytes, owned
    uint32_t translation = 0;
};

template <typename String> VersionInfo<String>::VersionInfo(const String &fileName) {
    uint32_t handle = 0;
    infoSize = platform::VersionInfoSize(fileName.c_str(), &handle);
    if (infoSize == 0)
        return;
    infoData = new (std::nothrow) uint8_t[infoSize];
    if (!infoData || !platform::ReadVersionInfo(fileName.c_str(), 0, infoSize, infoData))
        return;
    valid = true; // lets the translation query run
    unsigned count = 0;
    const auto *table = reinterpret_cast<const uint8_t *>(QueryTranslations(&count));
    if (!table || count < 1) {
        valid = false;
        return;
    }
    // stored little-endian: language, then code page
    translation = static_cast<uint32_t>(table[0] | table[1] << 8) | static_cast<uint32_t>(table[2] | table[3] << 8)
                                                                        << 16;
}

template <typename String> VersionInfo<String>::~VersionInfo() { delete[] infoData; }

template <typename String> const void *VersionInfo<String>::QueryValue(const char *subBlock, unsigned *length) {
    void *value = nullptr;
    unsigned reported = 0;
    const bool found = valid && subBlock && platform::QueryVersionValue(infoData, subBlock, &value, &reported) &&
                       value && reported > 0;
    if (length)
        *length = found ? reported : 0;
    return found ? value : nullptr;
}

template <typename String> const uint32_t *VersionInfo<String>::QueryTranslations(unsigned *count) {
    unsigned bytes = 0;
    const void *table = QueryValue("\\VarFileInfo\\Translation", &bytes);
    if (count)
        *count = table ? bytes / 4 : 0;
    return static_cast<const uint32_t *>(table);
}

template <typename String> String VersionInfo<String>::QueryString(unsigned translation, const char *name) {
    if (!name)
        return String();
    // "\StringFileInfo\" 16, language and code page 8, '\' 1, terminator 1
    std::string subBlock(std::strlen(name) + 28, '\0');
    std::snprintf(subBlock.data(), subBlock.size(), "\\StringFileInfo\\%04X%04X\\%s", translation & 0xFFFFu,
                  (translation >> 16) & 0xFFFFu, name);
    unsigned length = 0;
    const auto *text = static_cast<const char *>(QueryValue(subBlock.c_str(), &length));
    return text ? String(text, length - 1) : String();
}

extern template class VersionInfo<std::string>;

} // namespace zel
