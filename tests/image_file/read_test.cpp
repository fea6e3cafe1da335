// The text image in both modes over the table of cases in
// tests/data/text_image_cases.tsv, which the Python package's reader is
// held to as well; the lenient mode also through the image file reader.
#include "image_file_fixture.h"

#include "jobs/image_file.h"
#include "jobs/text_image.h"

#include <map>
#include <stdexcept>

namespace {

struct Outcome {
    zel::TextFault fault = zel::TextFault::kNone;
    size_t line = 0;
    std::map<uint32_t, uint16_t> stored;
};

struct TextCase {
    std::string name;
    uint32_t bytes = 0;
    std::string text;
    Outcome lenient, strict;
};

void PrintTo(const TextCase &c, std::ostream *out) { *out << c.name; }

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

std::string Unescape(const std::string &field) {
    static const std::map<char, char> kSingle = {{'n', '\n'}, {'r', '\r'}, {'t', '\t'},
                                                 {'v', '\v'}, {'f', '\f'}, {'\\', '\\'}};
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            text += field[i];
        } else if (field.at(i + 1) == 'x') {
            text += static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            text += kSingle.at(field.at(++i));
        }
    }
    return text;
}

Outcome ParseOutcome(const std::string &field) {
    static const std::map<std::string, zel::TextFault> kFaults = {{"index", zel::TextFault::kIndex},
                                                                  {"value", zel::TextFault::kValue},
                                                                  {"beyond", zel::TextFault::kBeyond},
                                                                  {"empty", zel::TextFault::kNoRecords}};
    Outcome outcome;
    for (const std::string &item : Split(field, ' ')) {
        const size_t equals = item.find('=');
        const size_t at = item.find('@');
        if (equals != std::string::npos) {
            outcome.stored[static_cast<uint32_t>(std::stoul(item.substr(0, equals), nullptr, 16))] =
                static_cast<uint16_t>(std::stoul(item.substr(equals + 1), nullptr, 16));
        } else if (item != "-") {
            outcome.fault = kFaults.at(item.substr(0, at));
            outcome.line = at == std::string::npos ? 0 : std::stoul(item.substr(at + 1));
        }
    }
    return outcome;
}

std::vector<TextCase> LoadCases() {
    std::ifstream in(ZEL_TEXT_IMAGE_CASES, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " ZEL_TEXT_IMAGE_CASES);
    std::vector<TextCase> cases;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() != 5)
            throw std::runtime_error("not five fields: " + line);
        cases.push_back({fields[0], static_cast<uint32_t>(std::stoul(fields[1])), Unescape(fields[2]),
                         ParseOutcome(fields[3]), ParseOutcome(fields[4])});
    }
    return cases;
}

class TextImageCases : public ImageFileTest, public testing::WithParamInterface<TextCase> {
protected:
    // The image with one guard word past its end, erased.
    std::vector<uint16_t> Image() const { return Erased(GetParam().bytes / 2 + 1); }

    std::vector<uint16_t> Expected(const Outcome &outcome) const {
        std::vector<uint16_t> expected = Image();
        for (const auto &[index, value] : outcome.stored)
            expected[index] = value;
        return expected;
    }

    zel::TextRead Read(zel::TextMode mode, std::vector<uint16_t> &image) const {
        return zel::ReadTextImage(GetParam().text, mode, image.data(), GetParam().bytes / 2);
    }
};

TEST_P(TextImageCases, EachModeStopsAtItsFirstFault) {
    const std::pair<zel::TextMode, const Outcome *> modes[] = {{zel::TextMode::kLenient, &GetParam().lenient},
                                                               {zel::TextMode::kStrict, &GetParam().strict}};
    for (const auto &[mode, expected] : modes) {
        SCOPED_TRACE(mode == zel::TextMode::kLenient ? "lenient" : "strict");
        std::vector<uint16_t> image = Image();
        const zel::TextRead read = Read(mode, image);
        EXPECT_EQ(read.fault, expected->fault);
        EXPECT_EQ(read.line, expected->line);
        // the table gives no words for a text that the strict reader refuses
        if (mode == zel::TextMode::kLenient || expected->fault == zel::TextFault::kNone) {
            EXPECT_EQ(image, Expected(*expected));
        }
    }
}

TEST_P(TextImageCases, ImageFileReadsLeniently) {
    const TextCase &c = GetParam();
    const std::string path = WriteBytes("in.hex", c.text);
    std::vector<uint16_t> image = Image();
    EXPECT_EQ(zel::ReadImageFile(path.c_str(), image.data(), c.bytes), c.lenient.fault == zel::TextFault::kNone);
    EXPECT_EQ(image, Expected(c.lenient));
}

INSTANTIATE_TEST_SUITE_P(Table, TextImageCases, testing::ValuesIn(LoadCases()),
                         [](const testing::TestParamInfo<TextCase> &info) { return info.param.name; });

TEST_F(ImageFileTest, UnreadablePathsFailAndLeaveImage) {
    const std::string missing = PathOf("absent.hex");
    std::vector<uint16_t> image = Erased(4);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(zel::ReadImageFile(missing.c_str(), image.data(), 8));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open '" + missing + "' for input\n");
    // a folder: POSIX opens it and then fails the read
    testing::internal::CaptureStdout();
    EXPECT_FALSE(zel::ReadImageFile(folder_.string().c_str(), image.data(), 8));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(zel::ReadImageFile(nullptr, image.data(), 8));
    EXPECT_EQ(image, Erased(4));
}

} // namespace
