// What a program or verify command moves: the whole EEPROM through the
// original image jobs, or runs of cells through the memory jobs.
#pragma once

#include "cli/commands.h"
#include "core/job.h"
#include "core/session.h"
#include "formats/image.h"

#include <string>

namespace zelprog {

struct ImagePlan {
    bool whole = false;
    Bytes image; // whole: device-sized
    Runs runs;   // else
    std::size_t Count() const;
};

// Reads the image file, before the link opens: a file error never touches the EEPROM.
Status ReadImageFile(const Command &c, std::string &raw);
// Plans the file's image for the open session's EEPROM.
Status PlanImage(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan);
// The whole EEPROM in one job, or each run.
Status WritePlan(const Session &session, const ImagePlan &plan, bool verify, const JobControl &control);
// The plan with `serial` put in at `at`.
ImagePlan WithSerialBytes(ImagePlan plan, uint32_t at, const Bytes &serial);
// The image file's name in a unit record: without its folder.
std::string ImageName(const std::string &file);
// What the plan writes, as a unit record tells it: "0x0000..0x00ff, ...".
std::string PlanRanges(const ImagePlan &plan);

} // namespace zelprog
