// Texts of long work: stage and status lines, the saving windows' counts and summaries, the
// Signature Search pass titles, and the messages that answer the core's verdicts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carving/carve_scan.h"
#include "export/destination.h"
#include "export/save_state.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"
#include "session/recovery_session.h"
#include "storage/progress.h"

namespace kfr::texts {

// The stage line of a stage ("Searching Lost Directories. Please wait...").
std::string stageText(WorkStage stage);

// The status line: "sectors scanned of total %llu".
std::string statusText(StatusLine line, std::uint64_t value);

// "(Searching files based on:  General Signature Recovery Procedure)" or the Thorough text.
std::string passTitle(carving::CarvePass pass, std::string_view kind = "Signature");

// The instruction line that tells the user where carved results are; kind is "Signature".
std::string closingText(std::string_view kind = "Signature");

// Where a Signature Search left its reports: "Report: <json> (and <xml>)".
std::string carveReportText(const std::string& jsonPath, const std::string& xmlPath);

// The message for a search that cannot start ("" for Ready).
const char* searchCheckMessage(carving::SearchCheck check);

// The message for a Deep Search that cannot start ("" for Ready).
const char* deepCheckMessage(session::DeepCheck check);

// "%llu / %llu Bytes" under the count-text rule.
std::string byteCountText(std::uint64_t done, std::uint64_t total);
// "( Total selected recovered data to be saved : %llu Files, %llu Folders )".
std::string selectedSummaryText(std::uint64_t files, std::uint64_t folders);
// "( recovered saved data : %llu Files, %llu Folders )".
std::string savedSummaryText(std::uint64_t files, std::uint64_t folders);
// The "File Path  :" label text: a path longer than 70 characters gets a space before every "/"
// so that the label can wrap.
std::string wrappedPathText(const std::string& path);

// The destination dialog's message for a verdict ("" for Usable).
const char* destinationMessage(exporting::DestinationVerdict verdict);

// The three lines of the please-wait window shown while a file is opened: the name, "Opening
// File : " with the size text, and kPleaseWaitText.
std::vector<std::string> openingLines(const recovery::ItemRow& row);

// Why a file was written short, as a clause: "its data runs past the end of the medium".
const char* shortReasonText(exporting::ShortReason reason);

// How a file that was not written whole ended, as a clause ("" for Written).
const char* fileOutcomeText(exporting::FileOutcome outcome);

// Why a Basic Search has no volume parameters, as the screen says it ("" for None).
std::string paramsFailureText(recovery::ParamsFailure failure);

// A sentence for the user about a core error: what happened and what they can do.
std::string describeError(const Error& e);

}  // namespace kfr::texts
