// The fields of the fixed-layout records of a recovery log (parameter blocks, Deep Search volume
// rows, NTFS volumes), each listed once and walked by the writer and the reader alike, so the two
// directions cannot drift apart.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>

#include "recovery/deep_ntfs.h"
#include "recovery/deep_tables.h"
#include "recoverylog/log_stream.h"
#include "volumes/volume_parameters.h"

namespace kfr::recoverylog {

class FieldWriter {
public:
    explicit FieldWriter(LogWriter& w) : m_w(w) {}
    // A value wider than the field is written as the field's largest value, which no volume
    // has, rather than cut to a wrong but plausible one.
    template <typename T>
    void u32(const T& v)
    {
        if constexpr (std::is_unsigned_v<T>)
            m_w.u32(static_cast<std::uint32_t>(std::min<std::uint64_t>(v, UINT32_MAX)));
        else
            m_w.u32(static_cast<std::uint32_t>(v));
    }
    template <typename T>
    void u64(const T& v) { m_w.u64(static_cast<std::uint64_t>(v)); }
    void flag(const bool& v) { m_w.u8(v ? 1 : 0); }
    void text(const std::string& v, std::size_t) { m_w.byteString(v); }

private:
    LogWriter& m_w;
};

class FieldReader {
public:
    explicit FieldReader(LogReader& r) : m_r(r) {}
    template <typename T>
    void u32(T& v) { v = static_cast<T>(m_r.u32()); }
    template <typename T>
    void u64(T& v) { v = static_cast<T>(m_r.u64()); }
    void flag(bool& v) { v = m_r.u8() != 0; }
    void text(std::string& v, std::size_t maxBytes) { v = m_r.byteString(maxBytes); }

private:
    LogReader& m_r;
};

// The longest file-system name a record holds ("FAT+NTFS" and the like).
inline constexpr std::size_t kMaxPartTypeBytes = 64;

// The classic parameter block (items 14 and 15 of the header): some sectors in 32 bits only.
template <typename Io, typename P>
void classicParamsFields(Io& io, P& p)
{
    io.u32(p.spf);
    io.u32(p.spc);
    io.u32(p.rootSectors);
    io.u32(p.rootStart);
    io.u32(p.reserveSectors);
    io.u64(p.cluster0Start);
    io.u32(p.firstFat);
    io.u32(p.secondFat);
    io.u64(p.mftSector);
    io.u64(p.mftMirrorSector);
    io.u32(p.sectorsPerRecord);
    io.u32(p.sectorsPerIndexRecord);
}

// The FAT geometry that volume parameters and Deep Search volume rows share.
template <typename Io, typename G>
void geometryFields(Io& io, G& g)
{
    io.u32(g.spf);
    io.u32(g.spc);
    io.u32(g.rootSectors);
    io.u64(g.rootStart);
    io.u32(g.reserveSectors);
    io.u64(g.cluster0Start);
    io.u64(g.firstFat);
    io.u64(g.secondFat);
}

// Volume parameters in full, as the extension keeps them.
template <typename Io, typename P>
void paramsFields(Io& io, P& p)
{
    geometryFields(io, p);
    io.u32(p.totalSectors);
    io.text(p.partType, kMaxPartTypeBytes);
    io.u64(p.mftSector);
    io.u64(p.mftMirrorSector);
    io.u32(p.sectorsPerRecord);
    io.u32(p.sectorsPerIndexRecord);
}

// A row of the Deep Search volume and boot-sector tables.
template <typename Io, typename R>
void partitionFields(Io& io, R& r)
{
    io.u64(r.sector);
    geometryFields(io, r);
    io.u64(r.totalSectors);
    io.text(r.partType, kMaxPartTypeBytes);
    io.flag(r.fromBootSector);
}

// An NTFS volume that Deep Search found.
template <typename Io, typename V>
void ntfsVolumeFields(Io& io, V& v)
{
    io.u64(v.firstSector);
    io.u32(v.spc);
    io.u64(v.totalSectors);
    io.u64(v.mftSector);
    io.u64(v.mirrorSector);
    io.u64(v.bootSector);
    io.flag(v.fromBootSector);
    io.flag(v.guessedClusterSize);
}

}  // namespace kfr::recoverylog
