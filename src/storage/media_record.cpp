// Disk and drive records.
#include "storage/media_record.h"

#include <stdexcept>

namespace kfr::storage {

namespace {

void checkField(std::size_t field, bool wantNumber)
{
    if (field >= MediaRecord::kFieldCount || MediaRecord::isNumberField(field) != wantNumber)
        throw std::out_of_range("media record field " + std::to_string(field) +
                                (wantNumber ? " is not a number field" : " is not a text field"));
}

}  // namespace

const std::string& MediaRecord::text(std::size_t field) const
{
    checkField(field, false);
    return m_texts[field];
}

void MediaRecord::setText(std::size_t field, std::string value)
{
    checkField(field, false);
    m_texts[field] = std::move(value);
}

std::uint32_t MediaRecord::number(std::size_t field) const
{
    checkField(field, true);
    return m_numbers[field];
}

void MediaRecord::setNumber(std::size_t field, std::uint32_t value)
{
    checkField(field, true);
    m_numbers[field] = value;
}

std::uint64_t MediaRecord::number64(std::size_t lowField) const
{
    return static_cast<std::uint64_t>(number(lowField)) | (static_cast<std::uint64_t>(number(lowField + 1)) << 32);
}

void MediaRecord::setNumber64(std::size_t lowField, std::uint64_t value)
{
    setNumber(lowField, static_cast<std::uint32_t>(value));
    setNumber(lowField + 1, static_cast<std::uint32_t>(value >> 32));
}

std::string busTypeName(unsigned value)
{
    static const char* const kNames[] = {"UNKNOWN", "SCSI", "ATAPI", "ATA", "IEEE 1394", "SSA", "FIBRE",
                                         "USB", "RAID", "iSCSI", "SAS", "SATA", "Reserved", ""};
    if (value < sizeof kNames / sizeof kNames[0]) return kNames[value];
    return kNames[0];
}

std::string mediaClassName(bool removable, const std::string& busName)
{
    if (removable) return "Removable Media";
    return busName == "USB" ? "External hard disk media" : "Fixed hard disk media";
}

}  // namespace kfr::storage
