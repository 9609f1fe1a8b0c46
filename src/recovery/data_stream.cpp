// Gathering $DATA streams across a file's records.
#include "recovery/data_stream.h"

#include <algorithm>

namespace kfr::recovery {

namespace {

struct Extent {
    std::size_t record = 0;
    AttributeRef attr;
    NonResidentHeader header;
};

struct Gathered {
    DataStream stream;
    bool haveResident = false;
    std::vector<Extent> extents;
};

void joinExtents(const FileRecords& records, Gathered& g)
{
    DataStream& s = g.stream;
    std::stable_sort(g.extents.begin(), g.extents.end(),
                     [](const Extent& a, const Extent& b) { return a.header.lowestVcn < b.header.lowestVcn; });
    if (g.extents.empty() || g.extents.front().header.lowestVcn != 0) {
        s.extentMissing = true;
        return;
    }
    const Extent& first = g.extents.front();
    s.size = first.header.realSize;
    s.initializedSize = first.header.initializedSize;
    s.flags = first.attr.flags;
    s.compressionUnit = first.header.compressionUnit;

    std::uint64_t nextVcn = 0;
    for (std::size_t k = 0; k < g.extents.size(); ++k) {
        const Extent& e = g.extents[k];
        if (e.header.lowestVcn < nextVcn) continue;  // a second copy of an extent already taken
        if (e.header.lowestVcn > nextVcn) {
            s.extentMissing = true;
            return;
        }
        auto runs = decodeRunList(records.records[e.record], e.attr.offset);
        if (!runs) {
            s.extentMissing = true;
            return;
        }
        // An extent holds the VCNs lowest..highest; runs that claim more are cut there where
        // another extent follows. The last one is bounded by the size alone, so a damaged highest
        // VCN in a file of one extent costs nothing.
        const bool last = k + 1 == g.extents.size();
        std::uint64_t room = last                                             ? UINT64_MAX
                             : e.header.highestVcn >= e.header.lowestVcn ? e.header.highestVcn - e.header.lowestVcn + 1
                                                                          : 0;
        std::uint64_t taken = 0;
        for (DataRun run : *runs) {
            if (room == 0) break;
            run.length = std::min(run.length, room);
            room -= run.length;
            taken += run.length;
            if (run.length) s.runs.push_back(run);
        }
        if (taken == 0) {
            s.extentMissing = true;
            return;
        }
        nextVcn += taken;
    }
}

}  // namespace

std::vector<DataStream> dataStreams(const FileRecords& records)
{
    std::vector<Gathered> found;
    auto streamNamed = [&](const std::string& name) -> Gathered& {
        for (auto& g : found)
            if (g.stream.name == name) return g;
        found.emplace_back();
        found.back().stream.name = name;
        return found.back();
    };
    for (std::size_t i = 0; i < records.records.size(); ++i) {
        const MftRecordBytes& record = records.records[i];
        for (const auto& attr : listAttributes(record)) {
            if (attr.type != kAttrData) continue;
            Gathered& g = streamNamed(attributeName(record, attr));
            if (attr.nonResident == 0) {
                const auto value = residentValue(record, attr);
                if (g.haveResident || !g.extents.empty()) continue;
                g.haveResident = true;
                g.stream.resident = true;
                g.stream.valueBroken = !value;
                if (value) g.stream.value.assign(value->begin(), value->end());
                g.stream.size = g.stream.initializedSize = g.stream.value.size();
                g.stream.flags = attr.flags;
            } else if (const auto header = nonResidentHeader(record, attr); header && !g.haveResident) {
                g.extents.push_back({i, attr, *header});
            }
        }
    }
    std::vector<DataStream> out;
    std::stable_partition(found.begin(), found.end(), [](const Gathered& g) { return g.stream.name.empty(); });
    for (auto& g : found) {
        if (!g.haveResident) joinExtents(records, g);
        out.push_back(std::move(g.stream));
    }
    return out;
}

std::optional<DataStream> findDataStream(const FileRecords& records, const std::string& name)
{
    for (auto& s : dataStreams(records))
        if (s.name == name) return std::move(s);
    return std::nullopt;
}

}  // namespace kfr::recovery
