// A host binds to zelapi.dll by name, as one built with MinGW or with MSVC
// would: every listed export resolves, the MSVC-decorated names lead to the
// same functions as the GCC names, and nothing more is needed to load it.
#include <windows.h>

#include <gtest/gtest.h>

#include "zelapi.h"

#include <string>
#include <vector>

namespace {

const char *const kListed[] = {
#include "listed_exports.inc"
};

// Symbol names in the export table for one entry of the list, written out
// here on their own so that a wrong mapping in the build shows up.
struct CxxExport {
    const char *declared;
    std::vector<const char *> gccNames;
    const char *msvcName; // null for the class
};

const CxxExport kCxxExports[] = {
    {"SetZelHandler(ZelHandler*)",
     {"_Z13SetZelHandlerP10ZelHandler"},
#ifdef _WIN64
     "?SetZelHandler@@YAXPEAVZelHandler@@@Z"},
#else
     "?SetZelHandler@@YAXPAVZelHandler@@@Z"},
#endif
    {"zelReadHeader()", {"_Z13zelReadHeaderv"}, "?zelReadHeader@@YAJXZ"},
    {"ZelHandler",
     {"_ZN10ZelHandlerC1Ev", "_ZN10ZelHandlerC2Ev", "_ZN10ZelHandlerC1ERKS_", "_ZN10ZelHandlerC2ERKS_",
      "_ZN10ZelHandleraSERKS_", "_ZN10ZelHandler16OnProgressChangeEi", "_ZN10ZelHandler13OnStateChangeEPKc",
      "_ZN10ZelHandler8OnResultEi", "_ZN10ZelHandler9OnMessageEPKc", "_ZTV10ZelHandler", "_ZTI10ZelHandler",
      "_ZTS10ZelHandler"},
     nullptr},
};

const CxxExport *FindCxx(const std::string &declared) {
    for (const CxxExport &entry : kCxxExports) {
        if (declared == entry.declared) {
            return &entry;
        }
    }
    return nullptr;
}

bool IsPlainName(const std::string &name) { return name.find_first_of("()*& ") == std::string::npos; }

class ZelapiDll : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("zelapi.dll");
        ASSERT_NE(module_, nullptr) << "LoadLibrary failed, error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    FARPROC Find(const char *name) { return GetProcAddress(module_, name); }

    HMODULE module_ = nullptr;
};

TEST_F(ZelapiDll, EveryListedExportResolvesByName) {
    for (const char *listed : kListed) {
        const CxxExport *cxx = FindCxx(listed);
        if (cxx == nullptr) {
            ASSERT_TRUE(IsPlainName(listed)) << "no symbol names known for " << listed;
            EXPECT_NE(Find(listed), nullptr) << listed;
            continue;
        }
        for (const char *symbol : cxx->gccNames) {
            EXPECT_NE(Find(symbol), nullptr) << listed << ": " << symbol;
        }
    }
}

TEST_F(ZelapiDll, DecoratedNamesLeadToTheSameFunctions) {
    for (const char *listed : kListed) {
        const CxxExport *cxx = FindCxx(listed);
        if (cxx == nullptr || cxx->msvcName == nullptr) {
            continue;
        }
        FARPROC gcc = Find(cxx->gccNames.front());
        ASSERT_NE(gcc, nullptr) << cxx->gccNames.front();
        EXPECT_EQ(Find(cxx->msvcName), gcc) << cxx->msvcName;
    }
}

#ifdef ZEL_LISTS_ZELHANDLER
// A host class derived from the exported one, linked through the import
// library: the base's vtable, typeinfo and functions all come from the DLL.
class Recorder : public ZelHandler {
public:
    void OnResult(int result) override { results.push_back(result); }
    std::vector<int> results;
};

// the cast goes through the typeinfo that the DLL exports
Recorder *AsRecorder(ZelHandler &handler) { return dynamic_cast<Recorder *>(&handler); }

TEST(ZelHandlerAcrossTheDll, DerivedHostClassDispatchesAndCasts) {
    Recorder recorder;
    ZelHandler &handler = recorder;
    handler.OnResult(1);
    handler.OnProgressChange(50); // the base's, doing nothing
    handler.OnStateChange("Writing...");
    handler.OnMessage("\n");
    EXPECT_EQ(recorder.results, std::vector<int>{1});
    EXPECT_EQ(AsRecorder(handler), &recorder);

    ZelHandler plain;
    EXPECT_EQ(AsRecorder(plain), nullptr);
    ZelHandler copy(plain);
    copy = recorder;
    copy.OnResult(0); // a sliced copy is a plain handler
    EXPECT_EQ(recorder.results, std::vector<int>{1});

    SetZelHandler(&recorder);
    SetZelHandler(nullptr);
}
#endif

} // namespace
