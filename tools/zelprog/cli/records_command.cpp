// The records command: the unit records of a ledger, filtered, as a table
// or one JSON object a line.
#include "cli/commands.h"

#include "cli/output.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace zelprog {
namespace {

// A table cell without a control character that could garble the terminal.
std::string Cell(const std::string &text) {
    std::string cell = text.empty() ? "-" : text;
    for (char &c : cell)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return cell;
}

} // namespace

Status RunRecords(const Command &c) {
    const std::unique_ptr<Ledger> ledger = MakeLedger(c.serial.Ledger(), {});
    std::vector<UnitRecord> records;
    const Status status = ledger->Records(c.records, records);
    if (!status.Ok())
        return status;
    if (c.output.json) {
        for (const UnitRecord &r : records)
            PrintEvent(nlohmann::ordered_json::parse(RecordJson(r)));
        return {};
    }
    std::printf("%-20s %-12s %-14s %-16s %-10s %-16s %8s %4s  %s\n", "time", "station", "site", "serial", "result",
                "image", "ms", "diff", "reason");
    for (const UnitRecord &r : records)
        std::printf("%-20s %-12s %-14s %-16s %-10s %-16s %8llu %4llu  %s\n", Cell(r.time).c_str(),
                    Cell(r.station).c_str(), Cell(r.site).c_str(), Cell(r.serial).c_str(), Cell(r.result).c_str(),
                    Cell(r.image).c_str(), static_cast<unsigned long long>(r.durationMs),
                    static_cast<unsigned long long>(r.mismatches), r.reason.empty() ? "" : Cell(r.reason).c_str());
    return {};
}

} // namespace zelprog
