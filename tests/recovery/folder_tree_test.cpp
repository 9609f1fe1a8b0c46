// Placing found folders: parents, the orphan folder, duplicate clusters, cycles, running names,
// and the tri-state check boxes used for saving.
#include <gtest/gtest.h>

#include <algorithm>

#include "recovery/folder_tree.h"

using namespace kfr::recovery;

namespace {

struct Row {
    FolderRecord record;
    std::string name;
};

Row row(const std::string& name, std::uint32_t self, std::uint32_t parent)
{
    Row r;
    r.name = name;
    r.record.self = self;
    r.record.parent = parent;
    return r;
}

// The FAT tree build in miniature: top level from parent 0, the node walk, then the leftovers.
FolderResults build(const std::vector<Row>& rows, DirNamer& namer)
{
    FolderResults r;
    r.table.append(makeOrphanRecord(0));
    for (const Row& x : rows) r.table.append(x.record, x.name);
    r.table.sortBySelf();
    reparentOrphans(r.table, 0);
    r.table.sortByParent();
    const ItemId root = r.tree.add(kNoItem, kRootName, 0);
    for (std::size_t i = 0; i < r.table.slotCount() && r.table.at(i).parent == 0; ++i) {
        const auto& x = r.table.at(i);
        const std::string name = r.table.name(i);
        insertFolderNode(r, root, name.empty() ? namer.next() : name, x.self, x.parent, 0, 0, x.deleted);
        r.table.remove(i);
    }
    for (std::size_t n = 0; n < r.nodes.size() && !r.table.empty(); ++n)
        placeChildFolders(r, namer, r.nodes[n].self, r.nodes[n].item);
    placeRemainingFolders(r);
    return r;
}

// "Root(A(B),Lumo_Miscellaneous(C))"
std::string shape(const FolderResults& r, ItemId id)
{
    std::string s = r.tree.item(id).name;
    const auto& kids = r.tree.children(id);
    if (kids.empty()) return s;
    s += "(";
    for (std::size_t i = 0; i < kids.size(); ++i) s += (i ? "," : "") + shape(r, kids[i]);
    return s + ")";
}

}  // namespace

TEST(FolderTree, PlacementCases)
{
    struct Case {
        const char* name;
        std::vector<Row> rows;
        const char* expected;
    };
    const Case cases[] = {
        {"only root folders", {row("A", 5, 0), row("B", 6, 0)}, "Root(A,B,Lumo_Miscellaneous)"},
        {"nested and out of order", {row("C", 9, 7), row("A", 5, 0), row("B", 7, 5)}, "Root(A(B(C)),Lumo_Miscellaneous)"},
        {"two lost folders with the same lost parent",
         {row("A", 5, 0), row("X", 20, 99), row("Y", 21, 99)},
         "Root(A,Lumo_Miscellaneous(X,Y))"},
        {"a lost folder keeps its own subfolders", {row("X", 20, 99), row("Y", 21, 20)}, "Root(Lumo_Miscellaneous(X(Y)))"},
        {"duplicate cluster placed once", {row("A", 5, 0), row("A2", 5, 0)}, "Root(A,Lumo_Miscellaneous)"},
        {"record claiming the orphan cluster is not placed again",
         {row("Fake", kOrphanCluster, 0)},
         "Root(Lumo_Miscellaneous)"},
        {"two folders naming each other as parent", {row("P", 30, 31), row("Q", 31, 30)}, "Root(Lumo_Miscellaneous(Q,P))"},
        {"a folder that is its own parent", {row("S", 40, 40)}, "Root(Lumo_Miscellaneous(S))"},
        {"parent cluster above 2^31 is lost, not misplaced",
         {row("A", 5, 0), row("H", 7, 0x90000005u)},
         "Root(A,Lumo_Miscellaneous(H))"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DirNamer namer;
        FolderResults r = build(c.rows, namer);
        EXPECT_EQ(shape(r, r.tree.firstTopLevel()), c.expected);
        EXPECT_EQ(r.folderCount, r.nodes.size());
        EXPECT_EQ(r.clusterIndex.size(), r.nodes.size());
    }
}

TEST(FolderTree, EmptyNamesGetRunningNumbersAcrossScans)
{
    DirNamer namer;  // lives as long as the program
    FolderResults first = build({row("", 5, 0)}, namer);
    FolderResults second = build({row("", 6, 0), row("", 7, 6)}, namer);
    EXPECT_EQ(shape(first, first.tree.firstTopLevel()), "Root(DIR_1,Lumo_Miscellaneous)");
    EXPECT_EQ(shape(second, second.tree.firstTopLevel()), "Root(DIR_2(DIR_3),Lumo_Miscellaneous)");
}

TEST(FolderTree, OrphanRecordAndClearing)
{
    EXPECT_EQ(fatTimeWord(13, 45, 30), 28079);
    FolderTable orphanTable;
    orphanTable.append(makeOrphanRecord(28079));
    const auto cols = orphanTable.columns(0);
    EXPECT_EQ(cols[0], "Lumo_Miscellaneous");
    EXPECT_EQ(cols[2], "268435455");
    EXPECT_EQ(cols[5], "28079");
    EXPECT_EQ(cols[7], "16");
    EXPECT_EQ(cols[9], "FOLDER");
    EXPECT_EQ(cols[10], "");

    DirNamer namer;
    FolderResults r = build({row("A", 5, 0)}, namer);
    clearResults(r);
    EXPECT_TRUE(r.tree.empty());
    EXPECT_TRUE(r.nodes.empty());
    EXPECT_EQ(r.folderCount, 0u);
    EXPECT_FALSE(r.clusterIndex.contains(5));
}

TEST(FolderTree, CheckBoxesFollowChildrenAndParents)
{
    DirNamer namer;
    FolderResults r = build({row("P", 5, 0), row("A", 6, 5), row("B", 7, 5), row("C", 8, 5)}, namer);
    const ItemId root = r.tree.firstTopLevel();
    const ItemId p = r.clusterIndex.find(5);
    const ItemId a = r.clusterIndex.find(6);
    TreeChecks checks;
    checks.toggleCheck(r.tree, p);
    for (ItemId id : {p, a, r.clusterIndex.find(7), r.clusterIndex.find(8)})
        EXPECT_EQ(checks.state(id), CheckState::Checked);
    EXPECT_EQ(checks.state(root), CheckState::Partial);  // the orphan folder is not ticked

    checks.toggleCheck(r.tree, a);
    EXPECT_EQ(checks.state(a), CheckState::Unchecked);
    EXPECT_EQ(checks.state(p), CheckState::Partial);
    checks.toggleCheck(r.tree, a);
    EXPECT_EQ(checks.state(p), CheckState::Checked);

    checks.toggleCheck(r.tree, root);  // partial -> everything unchecked
    EXPECT_EQ(checks.state(p), CheckState::Unchecked);
    checks.toggleCheck(r.tree, root);
    for (const auto& n : r.nodes) EXPECT_EQ(checks.state(n.item), CheckState::Checked);
    EXPECT_TRUE(checks.anythingTicked(r.tree));

    // Ticking whatever the box showed: a partly ticked folder ends fully ticked.
    checks.toggleCheck(r.tree, root);
    checks.toggleCheck(r.tree, a);
    checks.tick(r.tree, p);
    EXPECT_EQ(checks.state(p), CheckState::Checked);
    EXPECT_EQ(checks.state(a), CheckState::Checked);
    checks.toggleCheck(r.tree, p);
    EXPECT_FALSE(checks.anythingTicked(r.tree));
}


// The table's sorts move every row to its place once (along the permutation's cycles): every row
// arrives whole, equal keys keep the order they were found in, and values past the signed range
// sort after the others by their own value.
TEST(FolderTree, TableSortsKeepEveryRowAndTheOrderOfEqualKeys)
{
    FolderTable table;
    const std::uint32_t big = 0x80000005u;
    const std::vector<std::uint32_t> parents = {7, 3, big, 7, 0, 3, 0x80000001u, 7, 0x10001u, 0};
    for (std::size_t i = 0; i < parents.size(); ++i) {
        FolderRecord r;
        r.self = static_cast<std::uint32_t>(100 - i);
        r.parent = parents[i];
        table.append(r, "F" + std::to_string(i) + std::string(20, 'x'));  // longer than a short string holds
    }
    table.remove(4);  // a placed row is dropped by the sort
    table.sortByParent();
    std::vector<std::string> order;
    for (std::size_t i = 0; i < table.slotCount(); ++i) order.push_back(table.name(i).substr(0, 2));
    EXPECT_EQ(order, (std::vector<std::string>{"F9", "F1", "F5", "F0", "F3", "F7", "F8", "F6", "F2"}));
    for (std::size_t i = 0; i < table.slotCount(); ++i)
        EXPECT_EQ(table.at(i).self, 100 - std::stoul(table.name(i).substr(1, 1)));

    table.sortBySelf();
    for (std::size_t i = 1; i < table.slotCount(); ++i) EXPECT_LT(table.at(i - 1).self, table.at(i).self);
    EXPECT_TRUE(table.containsSelf(93));
    EXPECT_FALSE(table.containsSelf(96));  // the removed row
}

// Lookups in the sorted table answer from a bit per value for small values and by searching for
// the rest: values at and around where the bits end, and far above, are found or not alike.
TEST(FolderTree, TableLookupsAgreeOnEitherSideOfWhereTheBitsEnd)
{
    // Six rows: bits cover values below 6 * 32 = 192.
    const std::vector<std::uint32_t> values = {5, 191, 192, 193, 256, kOrphanCluster};
    FolderTable table;
    for (std::size_t i = 0; i < values.size(); ++i) {
        FolderRecord r;
        r.self = values[i];  // already in order: the sort leaves them
        r.parent = values[values.size() - 1 - i];
        table.append(r);
    }
    table.sortBySelf();
    for (std::uint32_t v : {0u, 4u, 5u, 6u, 190u, 191u, 192u, 193u, 194u, 255u, 256u, 257u, 0xFFFFFFFu, 0xFFFFFFFFu}) {
        const bool present = std::find(values.begin(), values.end(), v) != values.end();
        EXPECT_EQ(table.containsSelf(v), present) << v;
    }
    table.sortByParent();
    EXPECT_FALSE(table.containsSelf(5));  // sorted otherwise since
    for (std::uint32_t v : {0u, 5u, 6u, 191u, 192u, 193u, 194u, 256u, 0xFFFFFFFu, 0xFFFFFFFFu}) {
        const std::size_t slot = table.lowerBoundParent(v);
        if (std::find(values.begin(), values.end(), v) == values.end()) {
            EXPECT_EQ(slot, table.slotCount()) << v;
            continue;
        }
        ASSERT_LT(slot, table.slotCount()) << v;
        EXPECT_EQ(table.at(slot).parent, v);
        if (slot > 0) {
            EXPECT_LT(table.at(slot - 1).parent, v);
        }
    }
}

// The cluster index keeps neighbouring clusters in neighbouring slots; keys that share their low
// bits (clusters a table length apart, several volumes) must still all be found, each once.
TEST(FolderTree, ClusterIndexFindsEveryKeyOnceWhateverBitsTheyShare)
{
    ClusterIndex index;
    std::vector<std::uint64_t> keys;
    for (std::uint64_t i = 0; i < 3000; ++i) keys.push_back(i << 20);  // one low part, below 2^32
    for (std::uint64_t i = 0; i < 3000; ++i) keys.push_back(folderKey(1, static_cast<std::uint32_t>(i)));
    for (std::uint64_t i = 0; i < 3000; ++i) keys.push_back(7 + i);            // a run
    for (std::size_t i = 0; i < keys.size(); ++i) {
        bool added = false;
        ItemId& item = index.claim(keys[i], added);
        ASSERT_TRUE(added) << keys[i];
        item = static_cast<ItemId>(i + 1);
    }
    EXPECT_EQ(index.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(index.find(keys[i]), i + 1);
        bool added = true;
        EXPECT_EQ(index.claim(keys[i], added), i + 1);
        EXPECT_FALSE(added);
    }
    EXPECT_FALSE(index.contains(3000ULL << 20));
    EXPECT_EQ(index.find(folderKey(2, 0)), kNoItem);
    index.clear();
    EXPECT_FALSE(index.contains(7));
}
