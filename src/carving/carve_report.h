// The report a Signature Search leaves beside its files: report.json and report.xml (Digital
// Forensics XML) in "<destination>/Kestravon FAT Recovery/Signature Search", one entry per
// carved file with its type, where it starts on the medium, its length, its pass, whether its
// own end was found and whether it reached the destination whole.
#pragma once

#include <string>

#include "carving/carve_scan.h"
#include "storage/result.h"

namespace kfr::carving {

struct ReportPaths {
    std::string json;
    std::string xml;
};

// Writes both reports for the search in ctx; an earlier search's reports in the same folder are
// kept, and these take the next free number (report-2.json, report-2.xml).
Result<ReportPaths> writeCarveReport(const CarveContext& ctx, const CarveOutcome& outcome);

// The words both reports and the CLI's JSON use: "written", "incomplete", "not_written";
// "general", "thorough".
const char* carvedOutcomeWord(CarvedOutcome outcome);
const char* carvePassWord(CarvePass pass);

// The texts of the two reports, for tests.
std::string carveReportJson(const CarveContext& ctx, const CarveOutcome& outcome);
std::string carveReportXml(const CarveContext& ctx, const CarveOutcome& outcome);

}  // namespace kfr::carving
