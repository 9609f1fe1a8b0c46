// Stage, status, saving and carving texts.
#include "texts/work_texts.h"

#include <cstdio>

#include "storage/byte_size.h"
#include "texts/messages.h"

namespace kfr::texts {

std::string stageText(WorkStage stage)
{
    switch (stage) {
    case WorkStage::CalculatingPartitionParams: return kCalculatingParamsText;
    case WorkStage::SearchingLostDirectories: return kSearchingLostDirectoriesText;
    case WorkStage::StoringDirectoryInformation: return kStoringDirectoryInfoText;
    case WorkStage::CountingFiles: return kCountingText;
    case WorkStage::SavingFiles: return kSavingCaption;
    case WorkStage::GeneralPass: return passTitle(carving::CarvePass::General);
    case WorkStage::ThoroughPass: return passTitle(carving::CarvePass::Thorough);
    }
    return {};
}

std::string statusText(StatusLine line, std::uint64_t value)
{
    switch (line) {
    case StatusLine::SectorsScannedOfTotal: {
        char text[96];
        std::snprintf(text, sizeof text, kSectorsScannedFormat, static_cast<unsigned long long>(value));
        return text;
    }
    }
    return {};
}

std::string passTitle(carving::CarvePass pass, std::string_view kind)
{
    const std::string k(kind);
    if (pass == carving::CarvePass::General) return "(Searching files based on:  General " + k + " Recovery Procedure)";
    return "(Searching files based on:  Thorough " + k + " Scanning Algorithm)";
}

std::string carveReportText(const std::string& jsonPath, const std::string& xmlPath)
{
    return "Report: " + jsonPath + " (and " + xmlPath + ")";
}

std::string closingText(std::string_view kind)
{
    const std::string k(kind);
    return "The results of Primary Scanning are saved in folder: Kestravon FAT Recovery >> " + k +
           " Search >> General, in selected location by user and (if selected) Thorough Scanning results are saved "
           "in folder: Kestravon FAT Recovery >> " +
           k + " Search >> Omitted, in the same path.";
}

const char* searchCheckMessage(carving::SearchCheck check)
{
    switch (check) {
    case carving::SearchCheck::Ready: return "";
    case carving::SearchCheck::EndNotAfterStart: return kEndSectorMessage;
    case carving::SearchCheck::NothingTicked: return kSelectExtensionMessage;
    }
    return "";
}

const char* deepCheckMessage(session::DeepCheck check)
{
    switch (check) {
    case session::DeepCheck::Ready: return "";
    case session::DeepCheck::EndNotAfterStart: return kEndSectorMessage;
    case session::DeepCheck::NoFileSystemChosen: return kSelectFileSystemMessage;
    }
    return "";
}

std::string byteCountText(std::uint64_t done, std::uint64_t total)
{
    return countText(done, total) + " Bytes";
}

std::string selectedSummaryText(std::uint64_t files, std::uint64_t folders)
{
    return "( Total selected recovered data to be saved : " + std::to_string(files) + " Files, " +
           std::to_string(folders) + " Folders )";
}

std::string savedSummaryText(std::uint64_t files, std::uint64_t folders)
{
    return "( recovered saved data : " + std::to_string(files) + " Files, " + std::to_string(folders) + " Folders )";
}

std::string wrappedPathText(const std::string& path)
{
    // Characters, not bytes: continuation bytes of UTF-8 do not count.
    std::size_t characters = 0;
    for (unsigned char c : path)
        if ((c & 0xC0) != 0x80) ++characters;
    if (characters <= 70) return path;
    std::string out;
    out.reserve(path.size() + path.size() / 8);
    for (char c : path) {
        if (c == '/') out += ' ';
        out += c;
    }
    return out;
}

const char* destinationMessage(exporting::DestinationVerdict verdict)
{
    switch (verdict) {
    case exporting::DestinationVerdict::Usable: return "";
    case exporting::DestinationVerdict::NotUsable: return kInvalidDestinationText;
    case exporting::DestinationVerdict::OnSourceVolume: return kSameDriveText;
    }
    return "";
}

std::vector<std::string> openingLines(const recovery::ItemRow& row)
{
    return {row.name, std::string(kOpeningFilePrefix) + storage::sizeText(row.size), kPleaseWaitText};
}

const char* shortReasonText(exporting::ShortReason reason)
{
    using exporting::ShortReason;
    switch (reason) {
    case ShortReason::None: return "";
    case ShortReason::PastMediumEnd: return "its data runs past the end of the medium";
    case ShortReason::PastVolumeEnd: return "its data runs past the end of the volume";
    case ShortReason::ChainEnded: return "its cluster chain or run list ends before its size";
    case ShortReason::NoDataCluster: return "its entry names no data cluster";
    case ShortReason::MediumRemoved: return "the medium was removed while it was being read";
    }
    return "";
}

const char* fileOutcomeText(exporting::FileOutcome outcome)
{
    using exporting::FileOutcome;
    switch (outcome) {
    case FileOutcome::Written: return "";
    case FileOutcome::Incomplete: return "written short";
    case FileOutcome::Skipped: return "skipped part-way";
    case FileOutcome::Cancelled: return "stopped part-way";
    case FileOutcome::Declined: return "not written: a file of the same name was kept";
    case FileOutcome::NotCreated: return "the file could not be created";
    case FileOutcome::NoData: return "the medium holds no readable data for it";
    case FileOutcome::WriteFailed: return "writing it failed";
    case FileOutcome::DiskFull: return "the destination is full";
    case FileOutcome::PathTooLong: return "its folder path is longer than the system allows (4,096 bytes): not saved";
    }
    return "";
}

std::string paramsFailureText(recovery::ParamsFailure failure)
{
    switch (failure) {
    case recovery::ParamsFailure::None: return {};
    case recovery::ParamsFailure::NotInferred: return kUnableToCalculateText;
    case recovery::ParamsFailure::StoppedInference:
        return "The search was stopped while the partition parameters were being calculated.";
    case recovery::ParamsFailure::MediumRemoved:
        return "The selected storage device is no longer available.";
    case recovery::ParamsFailure::NtfsBootSector:
        return "The NTFS boot sector of the selected partition, and its copy at the partition's end, do not locate "
               "the master file table.";
    case recovery::ParamsFailure::NotFatOrNtfs:
        return "The selected partition holds no FAT16, FAT32 or NTFS file system.";
    }
    return {};
}

std::string describeError(const Error& e)
{
    switch (e.kind) {
    case ErrorKind::PermissionDenied:
        return "Cannot read " + e.path + ": permission denied. Reading a disk needs root "
               "(run with sudo) or membership of the \"disk\" group.";
    case ErrorKind::OpenFailed:
        return "Cannot open " + e.path + ": " + e.detail + ".";
    case ErrorKind::ReadFailed:
        return "Cannot read " + (e.path.empty() ? std::string("the medium") : e.path) + " at sector " +
               std::to_string(e.sector) + (e.detail.empty() ? "" : ": " + e.detail) + ".";
    case ErrorKind::DiskFull:
        return "The destination " + e.path + " is full: " + e.detail;
    default:
        break;
    }
    std::string text = e.detail.empty() ? errorKindName(e.kind) : e.detail;
    if (!e.path.empty()) text = e.path + ": " + text;
    return text;
}

}  // namespace kfr::texts
