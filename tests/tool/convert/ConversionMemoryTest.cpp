// What converting a document holds: memory in proportion to its size, charged to the archive's
// budget, and a document whose conversion does not fit stays raw.
#include "IffTestUtil.h"
#include "PfcTestUtil.h"
#include "SoundTestUtil.h"
#include "tool/containers/Driver.h"

#include <random>

namespace
{
using testutil::Bytes;
using testutil::captured;
using testutil::operator+;
using testutil::OptionScope;

struct Document
{
    const char* what;
    const char* name;
    Bytes bytes;
};

// Whether the document was opened converted (a VOC that is not converted is no container).
bool converted(const Container* c)
{
    if (!c)
        return false;
    if (c->typeCode == CONTAINER_IFF)
        return static_cast<const ContainerIFF*>(c)->converts;
    if (c->typeCode == CONTAINER_PFC)
        return static_cast<const ContainerPFC*>(c)->converts;
    return c->typeCode == CONTAINER_VOC;
}

// Documents of about `size` bytes, each of a shape that converts: a chunk of random bytes (its
// text is all tokens, five bytes a byte), a chunk of text, dialogue records, a sound.
std::vector<Document> documents(size_t size)
{
    std::mt19937 rng(7);
    Bytes noise(size);
    for (u8& b : noise)
        b = u8(rng());
    std::string prose;
    while (prose.size() < size)
        prose += "the relay station keeps its lamps lit through the long night\n";
    prose.resize(size);
    Bytes table;
    for (u32 i = 0; table.size() < size; i++) {
        const Bytes record =
            pfctest::dialogue("WARDEN", "CALM", "TOWER", 1, u16(i), "Signal " + std::to_string(i) + " is clear.", 0);
        table.insert(table.end(), record.begin(), record.end());
    }
    return {
        {"IFF random bytes", "NOISE.IFF", iffbytes::form("DATA", iffbytes::chunk("BODY", noise))},
        {"IFF text", "PROSE.IFF", iffbytes::form("DATA", iffbytes::chunk("BODY", iffbytes::str(prose.c_str())))},
        {"PFC", "TOWER.PFC", table},
        {"VOC", "SIGNAL.VOC", soundtest::vocHeader() + soundtest::soundBlock(166, 0, soundtest::tone(size)) +
                                  soundtest::terminator()},
    };
}

Container* detect(const Document& d)
{
    return detectContainer(String(d.name), byteView(d.bytes.data(), u32(d.bytes.size())));
}

// The budget of the next top-level detections, given back at the end of a test.
struct BudgetScope
{
    BudgetScope(u64 floor, u64 archiveBytes)
    {
        setUnpackedFloor(floor);
        setArchiveBudgets(archiveBytes);
    }
    ~BudgetScope()
    {
        setUnpackedFloor(0);
        setArchiveBudgets(0);
    }
};
}

TEST(ConversionMemory, PeakStaysInProportionToTheDocument)
{
    // Extracting keeps the text made at open: the most a run holds. The document's bytes are
    // the test's own, so the tracked heap holds only what converting takes.
    OptionScope scope;
    scope.options.mode = MODE_EXTRACT;
    for (const Document& d : documents(size_t(3) << 20)) {
        SCOPED_TRACE(d.what);
        memResetPeak();
        const u64 before = memLiveBytes();
        Container* c = detect(d);
        const u64 peak = memPeakBytes() - before;
        EXPECT_TRUE(converted(c));
        EXPECT_LE(peak, 12 * d.bytes.size()) << peak / double(d.bytes.size()) << " times the document";
        deleteContainer(c);
    }
}

TEST(ConversionMemory, ADocumentPastTheBudgetStaysRawWithANote)
{
    OptionScope scope(1);
    for (const Document& d : documents(size_t(16) << 10)) {
        SCOPED_TRACE(d.what);
        const std::string note = std::string(" -> '") + d.name +
                                 "' stays raw: converting it would pass the archive's budget.\n";
        for (const u64 floor : {u64(64) << 10, u64(64) << 20}) {
            BudgetScope budget(floor, 1);
            Container* c = nullptr;
            const std::string out = captured([&] { c = detect(d); });
            const bool fits = floor > (u64(1) << 20);
            EXPECT_EQ(converted(c), fits) << floor;
            EXPECT_EQ(out.find(note) != std::string::npos, !fits) << out;
            // Refused or not, the document's bytes are all there.
            if (c) {
                EXPECT_EQ(testutil::serialised(*c), d.bytes);
            }
            deleteContainer(c);
        }
    }
}
