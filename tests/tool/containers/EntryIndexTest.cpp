#include "framework/core/Heap.h"
#include "tool/containers/EntryIndex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
struct OneRow : EntryIndex::Rows
{
    String name;
    EntryIndexRow row(u32) const override { return {0, name, nullptr}; }
};

// Stops at the file and records the folders the failure closes.
struct Stopper : EntryIndex::Visitor
{
    std::vector<std::string> closed;
    bool file(const String&, const String&, const String&, const EntryIndex::Match&, u32) override { return false; }
    bool add(const String&, const String&, const String&, u32) override { return false; }
    bool enter(const String&, const String&, const String&, u32) override { return true; }
    bool leave(const String& name, bool ok) override
    {
        if (!ok)
            closed.push_back(name.c_str());
        return ok;
    }
};
}

// A failure deep in a tree closes every folder it is in, innermost first, by its own name, at
// any depth.
TEST(EntryIndex, AFailureClosesTheFoldersItIsInAtAnyDepth)
{
    char scratch[] = "/tmp/mordax_walk_XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    const u32 depth = 300;
    std::string relative, path = scratch;
    std::vector<std::string> expected;
    for (u32 i = 0; i < depth; i++) {
        char name[8];
        snprintf(name, sizeof(name), "d%03u", i);
        relative += std::string(name) + "/";
        path += std::string("/") + name;
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        expected.insert(expected.begin(), name);
    }
    FILE* f = fopen((path + "/F.BIN").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);

    OneRow rows;
    rows.name = String((relative + "F.BIN").c_str());
    EntryIndex index;
    ASSERT_TRUE(index.build(rows, 1, nullptr));
    Stopper visitor;
    EXPECT_FALSE(index.repack(String(scratch), visitor, 0));
    EXPECT_EQ(visitor.closed, expected);
    std::system((std::string("rm -rf ") + scratch).c_str());
}
