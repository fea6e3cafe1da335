#include "cli/text.h"

#include "core/events.h"
#include "formats/line_reader.h"

namespace zelprog {

ImageFormat FormatOf(const ImageOptions &image) {
    return image.format ? *image.format : FormatFromPath(image.file);
}

std::string FileName(const std::string &file) { return file == "-" ? "standard input" : "'" + file + "'"; }

std::string WritesText(const Session &session) {
    const int page = session.PageBytes();
    return (page > 0 ? "pages of " + std::to_string(page) + " bytes" : std::string("byte by byte")) + " (" +
           session.PageSource() + ")";
}

void PrintResult(const Output &output, const char *command, const std::string &text) {
    if (output.json)
        PrintEvent(ResultEvent(command));
    else
        PrintNote(output, text);
}

std::string RunsText(const Runs &runs) {
    if (runs.size() != 1)
        return " in " + std::to_string(runs.size()) + " runs";
    return " at 0x" + ToHex(runs[0].address) + "..0x" + ToHex(runs[0].address + runs[0].bytes.size() - 1);
}

std::string RangesText(const Runs &runs) {
    std::string text;
    for (const Run &run : runs)
        text += (text.empty() ? "0x" : ", 0x") + ToHex(run.address) + "..0x" +
                ToHex(run.address + run.bytes.size() - 1);
    return text;
}

std::string BytesText(const Bytes &bytes) {
    std::string text;
    for (uint8_t b : bytes)
        text += (text.empty() ? "" : " ") + HexByte(b).substr(2);
    return text;
}

} // namespace zelprog
