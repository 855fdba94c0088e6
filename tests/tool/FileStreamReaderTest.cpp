// The library's open-file hook, as the tool installs it: a reader over a real file behaves like
// the library's reader over the same bytes in memory.
#include "gamedata/TamberData.h"
#include "tests/framework/io/IoTestUtil.h"
#include "tool/FileStreamReader.h"
#include "tool/MORDAX.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{
struct ReaderDeleter
{
    void operator()(TD::Reader* r) const { TD::deleteObject(r); }
};
using ReaderPtr = std::unique_ptr<TD::Reader, ReaderDeleter>;

class FileHook : public ::testing::Test
{
protected:
    TD::Hooks saved{};
    void SetUp() override
    {
        saved = TD::hooks;
        TD::init(toolLibraryHooks(), TD_NEW(TD::DummyLogger));
    }
    void TearDown() override
    {
        TD::deleteObject(TD::hooks.logger);
        TD::hooks = saved;
    }
};

// Every observable step of a reader, as one string: reads, positions and what clamps them.
std::string walk(TD::Reader& r)
{
    std::string log;
    auto note = [&](const char* what, u64 v) { log += std::string(what) + "=" + std::to_string(v) + " "; };
    note("open", r.open());
    note("u32", r.readU32());
    note("u16", r.readU16());
    note("u8", r.readU8());
    note("tell", r.tell());
    note("left", r.remaining());
    note("le", TD::Reader::readU32LE(r));
    note("be", TD::Reader::readU32BE(r));
    r.skip(3);
    note("skip", r.tell());
    r.back(2);
    note("back", r.tell());
    r.back(1000);
    note("backClamp", r.tell());
    r.seek(5);
    u8 block[8];
    r.read(block, sizeof block);
    for (u8 b : block)
        note("b", b);
    note("end", r.atEnd());
    r.seek(1000);
    note("seekClamp", r.tell());
    note("end", r.atEnd());
    note("u8past", r.readU8());
    note("u32past", r.readU32());
    r.skip(1000);
    note("skipClamp", r.tell());
    ReaderPtr copy(r.clone());
    note("cloneTell", copy->tell());
    note("cloneOpened", copy->opened);
    note("cloneU32", copy->readU32());
    r.rewind();
    note("rewind", r.tell());
    note("u8", r.readU8());
    r.close();
    return log;
}
}

TEST_F(FileHook, ReaderOverAFileBehavesLikeTheReaderOverItsBytes)
{
    iotest::ScratchDir dir;
    const std::vector<std::vector<u8>> cases = {
        {},
        {0x46},
        {0x46, 0x4F, 0x52},
        {0x46, 0x4F, 0x52, 0x4D, 0, 0, 0, 4, 'T', 'E', 'S', 'T'},
        iotest::randomBytes(40, 7),
    };
    for (size_t i = 0; i < cases.size(); i++) {
        const std::string path = dir.file("f" + std::to_string(i));
        iotest::writeFile(path, cases[i]);
        TD::Array<unsigned char> array(u32(cases[i].size()));
        for (size_t k = 0; k < cases[i].size(); k++)
            array[u32(k)] = cases[i][k];
        TD::ByteArrayReader memory(&array);
        ReaderPtr file(TD::hooks.openFile(nullptr, path.c_str()));
        ASSERT_TRUE(file);
        EXPECT_EQ(walk(*file), walk(memory)) << "case " << i;
    }
}

TEST_F(FileHook, AMissingFileGivesAReaderWithoutAStream)
{
    iotest::ScratchDir dir;
    ReaderPtr r(TD::hooks.openFile(nullptr, dir.file("none").c_str()));
    ASSERT_TRUE(r);
    EXPECT_FALSE(static_cast<FileStreamReader&>(*r).hasStream());
    EXPECT_FALSE(r->open());
    EXPECT_EQ(r->readU8(), 0);
    EXPECT_EQ(r->readU32(), 0u);
    EXPECT_EQ(r->remaining(), 0u);
    EXPECT_TRUE(r->atEnd());
    ReaderPtr copy(r->clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->readU8(), 0);
}

// A closed reader reads like an empty one wherever it was closed; opened again, it starts over.
TEST_F(FileHook, AClosedReaderGivesZerosAndIsAtItsEnd)
{
    iotest::ScratchDir dir;
    const std::vector<u8> bytes = {0x46, 0x4F, 0x52, 0x4D, 0, 0, 0, 4};
    struct Case
    {
        u64 size;
        u64 readBeforeClose;
    };
    const Case cases[] = {{0, 0}, {8, 0}, {8, 3}, {8, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + ", read " + std::to_string(c.readBeforeClose));
        const std::string path = dir.file("f" + std::to_string(c.size));
        iotest::writeFile(path, std::vector<u8>(bytes.begin(), bytes.begin() + long(c.size)));
        ReaderPtr r(TD::hooks.openFile(nullptr, path.c_str()));
        ASSERT_TRUE(r);
        u8 head[8];
        r->read(head, c.readBeforeClose);
        r->close();
        std::vector<u8> block(6, 0xAA);
        r->read(block.data(), block.size());
        EXPECT_EQ(block, std::vector<u8>(6, 0));
        EXPECT_EQ(r->readU8(), 0);
        EXPECT_EQ(r->readU16(), 0);
        EXPECT_EQ(r->readU32(), 0u);
        EXPECT_EQ(TD::Reader::readU32BE(*r), 0u);
        EXPECT_EQ(r->remaining(), 0u);
        EXPECT_TRUE(r->atEnd());
        ASSERT_TRUE(r->open());
        EXPECT_EQ(r->remaining(), c.size);
        EXPECT_EQ(r->readU8(), c.size ? bytes[0] : 0);
    }
}
