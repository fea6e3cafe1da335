// The manual page names every command and every option that the tool's
// help lists.
#include "process.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace zelprog::test {
namespace {

std::string NativePath(std::string path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path; // wine maps the Unix root to drive Z:
        for (char &c : path)
            if (c == '/')
                c = '\\';
    }
#endif
    return path;
}

std::string ManualText() {
    const std::string page = zeltest::ReadFile(NativePath(ZELPROG_MANUAL));
    // roff writes a minus as \-
    return std::regex_replace(page, std::regex(R"(\\-)"), "-");
}

std::set<std::string> Matches(const std::string &text, const std::regex &pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        found.insert((*it)[1]);
    return found;
}

TEST(Manual, NamesEveryCommandAndOptionOfTheHelp) {
    const std::string manual = ManualText();
    ASSERT_GT(manual.size(), 1000u) << ZELPROG_MANUAL;
    const ProcessResult top = RunProcess({ZELPROG_PATH, "--help"});
    ASSERT_EQ(top.exitCode, 0);
    // the commands: the words at the start of the lines under "Subcommands:"
    const std::string listing = top.out.substr(top.out.find("Subcommands:"));
    const std::set<std::string> commands = Matches(listing, std::regex(R"(\n  ([a-z][a-z-]+) )"));
    ASSERT_GE(commands.size(), 12u) << top.out;
    std::set<std::string> options = Matches(top.out, std::regex(R"((?:^|[\s,\[])(--?[a-z][a-z-]*))"));
    for (const std::string &command : commands) {
        SCOPED_TRACE(command);
        EXPECT_TRUE(manual.find("\n.B " + command + "\n") != std::string::npos ||
                    manual.find("\n.BI " + command + " ") != std::string::npos)
            << "the command's own entry";
        const ProcessResult help = RunProcess({ZELPROG_PATH, command, "--help"});
        EXPECT_EQ(help.exitCode, 0);
        const std::set<std::string> own = Matches(help.out, std::regex(R"((?:^|[\s,\[])(--?[a-z][a-z-]*))"));
        options.insert(own.begin(), own.end());
    }
    for (const std::string &option : options)
        EXPECT_NE(manual.find(option), std::string::npos) << option << " is not in the manual page";
    for (const char *code : {"\n.B 0\n", "\n.B 1\n", "\n.B 2\n", "\n.B 3\n", "\n.B 4\n", "\n.B 130\n"})
        EXPECT_NE(manual.find(code), std::string::npos) << "exit code" << code;
    for (const char *key : {"SIMPART", "SIMFILE", "SIMADDR", "SIMLINES", "SIMTWR", "SIMSTRETCH", "SIMWP", "SIMVCD",
                            "SIMLOG", "SIMFAULT"})
        EXPECT_NE(manual.find(std::string(key) + "="), std::string::npos) << key;
}

} // namespace
} // namespace zelprog::test
