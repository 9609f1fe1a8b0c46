// Telling a BasicScanObserver how the results tree grows while a scan builds it, in batches.
#pragma once

#include <vector>

#include "recovery/basic_scan.h"

namespace kfr::recovery {

// Hands the tree's growth to a BasicScanObserver in batches: nodes are appended in placement
// order, so everything past the last batch is new.
class PlacementEvents {
public:
    PlacementEvents(ScanObserver* observer, const FolderResults& results)
        : m_events(dynamic_cast<BasicScanObserver*>(observer)), m_results(results)
    {
    }

    void placed(bool flush)
    {
        if (!m_events) return;
        const auto& nodes = m_results.nodes;
        if (nodes.size() == m_sent || (!flush && nodes.size() - m_sent < kBatch)) return;
        std::vector<PlacedFolder> batch;
        batch.reserve(nodes.size() - m_sent);
        for (; m_sent < nodes.size(); ++m_sent) {
            const FolderNode& n = nodes[m_sent];
            const TreeItem& item = m_results.tree.item(n.item);
            batch.push_back({n.item, item.parent, item.name, n.self, n.parent, n.deleted});
        }
        m_events->onFoldersPlaced(batch);
    }

    void renamed(const std::vector<FolderRename>& renames, bool flush = false)
    {
        if (!m_events) return;
        m_renames.insert(m_renames.end(), renames.begin(), renames.end());
        if (m_renames.empty() || (!flush && m_renames.size() < kBatch)) return;
        m_events->onFoldersRenamed(m_renames);
        m_renames.clear();
    }

private:
    static constexpr std::size_t kBatch = 1024;
    BasicScanObserver* m_events;
    const FolderResults& m_results;
    std::size_t m_sent = 0;
    std::vector<FolderRename> m_renames;
};

}  // namespace kfr::recovery
