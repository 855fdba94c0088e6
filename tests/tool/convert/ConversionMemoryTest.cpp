// What converting a document holds: memory in proportion to its size, charged to the archive's
// budget, and a document whose conversion does not fit stays raw.
#include "IffTestUtil.h"
#include "PfcTestUtil.h"
#include "SoundTestUtil.h"
#include "framework/core/Faults.h"
#include "framework/platform/Signals.h"
#include "tests/framework/threads/LogCapture.h"
#include "tool/containers/Driver.h"
#include "tool/convert/ConvertedText.h"

#include <chrono>
#include <csignal>
#include <deque>
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

// An IFF document of about `size` bytes made of many copies of one small chunk.
Bytes denseForm(const iffbytes::Id& type, const Bytes& chunkBytes, size_t size)
{
    Bytes content;
    content.reserve(size);
    while (content.size() + chunkBytes.size() <= size)
        content.insert(content.end(), chunkBytes.begin(), chunkBytes.end());
    return iffbytes::form(type, content);
}

// Documents of many tiny parts: what each costs, not their bytes, decides what converting holds.
std::vector<Document> denseDocuments(size_t size)
{
    Bytes members;
    for (u32 i = 0; members.size() + 8 <= size; i++) {
        char name[9];
        snprintf(name, sizeof(name), "KIND%04u", i % 10000);
        members.insert(members.end(), name, name + 8);
    }
    return {
        {"IFF of empty chunks", "EMPTY.IFF", denseForm("DATA", iffbytes::chunk("NULL", Bytes{}), size)},
        {"IFF of 6-byte chunks", "SMALL.IFF", denseForm("DATA", iffbytes::chunk("TINY", "ab\x01\x02yz"), size)},
        {"IFF of 8-byte records", "CAST.IFF", iffbytes::form("SSSS", iffbytes::chunk("CAST", members))},
    };
}

// Dialogue tables of one Branch: empty options (one byte each), or one option of one-letter
// cutaways (15 bytes each).
std::vector<Document> denseTables(size_t size)
{
    Bytes options = pfctest::branch("ANCHOR", "DECK", 1, 2);
    options.resize(size - 1, pfctest::OPTION[0]);
    options.push_back(pfctest::END_BRANCH[0]);
    Bytes records = pfctest::branch("ANCHOR", "DECK", 1, 2);
    const Bytes cutaway = pfctest::cutaway("DECK", 1, 0, "k");
    while (records.size() + cutaway.size() < size)
        records.insert(records.end(), cutaway.begin(), cutaway.end());
    records.push_back(pfctest::END_BRANCH[0]);
    return {
        {"PFC Branch of empty options", "OPTIONS.PFC", options},
        {"PFC Branch of records", "RECORDS.PFC", records},
    };
}

// Documents of about `size` bytes, each of a shape that converts: a chunk of random bytes (its
// text is all tokens, five bytes a byte), a chunk of text, dialogue records, a sound, and the
// dense documents.
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
        denseDocuments(size)[0],
        denseDocuments(size)[1],
        denseDocuments(size)[2],
        denseTables(size)[0],
        denseTables(size)[1],
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
    // the test's own, so the tracked heap holds only what converting takes: the text (twelve
    // bytes for each empty option of a table) and the converter's own state, some hundred KiB.
    OptionScope scope;
    scope.options.mode = MODE_EXTRACT;
    for (const Document& d : documents(size_t(3) << 20)) {
        SCOPED_TRACE(d.what);
        memResetPeak();
        const u64 before = memLiveBytes();
        Container* c = detect(d);
        const u64 peak = memPeakBytes() - before;
        EXPECT_TRUE(converted(c));
        EXPECT_LE(peak, 12 * d.bytes.size() + (u64(1) << 20))
            << peak / double(d.bytes.size()) << " times the document";
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
        for (const u64 floor : {u64(8) << 10, u64(64) << 20}) {
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

namespace
{
// An edit of a document's XML: `attributes` added to the first start tag of `element`.
struct Edit
{
    Document document;
    const char* element = nullptr;
    std::string attributes = {};
};

// The document extracted into dir as XML, with a blank line more than extraction wrote (not the
// file as extracted, so a repack reads it and writes it back, to the same bytes) and the edit.
// Its path.
std::string extractedEdited(Container& c, const iotest::ScratchDir& dir, const Edit& edit = {})
{
    const std::string file = dir.file(c.secondPath.c_str());
    captured([&] { c.extract(String((dir.path + "/").c_str()), 0); });
    Bytes text = testutil::readFile(file);
    text.push_back('\n');
    if (edit.element) {
        const std::string xml(text.begin(), text.end());
        const size_t end = xml.find('>', xml.find(std::string("<") + edit.element + " "));
        text.insert(text.begin() + long(end), edit.attributes.begin(), edit.attributes.end());
    }
    iotest::writeFile(file, text);
    return file;
}

// One start tag of 200,000 attributes: on a record, which refuses them, and on a plain chunk or a
// form, which pass them over (plain values, and values read through references).
std::vector<Edit> longTags()
{
    std::string plain, referred;
    for (int i = 0; i < 200000; i++) {
        plain += " a=''";
        referred += " a='&#9;'";
    }
    const std::vector<Document> small = documents(size_t(4) << 10);
    return {{small[2], "Dialogue", plain}, {small[1], "BODY", plain}, {small[1], "DATA", referred}};
}
}

// Repacking a document's XML holds little more than the file read and the bytes written, also
// when one start tag holds a great many attributes.
TEST(ConversionMemory, RepackStaysInProportionToTheXml)
{
    OptionScope scope;
    scope.options.mode = MODE_REPACK;
    std::vector<Edit> edits = longTags();
    for (const Document& d : denseDocuments(size_t(2) << 20))
        edits.push_back({d});
    edits.push_back({documents(size_t(2) << 20)[2]});
    for (const Document& t : denseTables(size_t(2) << 20))
        edits.push_back({t});
    for (const Edit& edit : edits) {
        const Document& d = edit.document;
        SCOPED_TRACE(std::string(d.what) + (edit.element ? " with a long tag" : ""));
        Container* c = detect(d);
        ASSERT_TRUE(converted(c));
        iotest::ScratchDir dir;
        const std::string file = extractedEdited(*c, dir, edit);
        const Bytes text = testutil::readFile(file);
        memResetPeak();
        const u64 before = memLiveBytes();
        bool ok = false;
        const std::string out = captured([&] { ok = c->repack(String(file.c_str()), String(), 0); });
        const u64 peak = memPeakBytes() - before;
        // A record takes no attribute but its fields.
        const bool refused = edit.element && c->typeCode == CONTAINER_PFC;
        EXPECT_EQ(ok, !refused) << out;
        EXPECT_EQ(out.find("ERROR: Unexpected attribute 'a' in element 'Dialogue'") != std::string::npos, refused)
            << out;
        EXPECT_LE(peak, 12 * text.size()) << peak / double(text.size()) << " times the XML";
        EXPECT_EQ(testutil::serialised(*c), d.bytes);
        deleteContainer(c);
    }
}

namespace
{
// Repacks of the long tags after a quit signal has come, in a process of its own: what went wrong.
std::string repacksAfterAQuit()
{
    OptionScope scope;
    scope.options.mode = MODE_REPACK;
    std::vector<Container*> containers;
    std::vector<std::string> files;
    std::deque<iotest::ScratchDir> dirs;
    for (const Edit& edit : longTags()) {
        containers.push_back(detect(edit.document));
        files.push_back(extractedEdited(*containers.back(), dirs.emplace_back(), edit));
    }
    std::atomic<u8> quit{0};
    u32 error = 0;
    if (!installQuitSignals(&quit, &error) || raise(SIGTERM) != 0)
        return "no quit signal";
    std::string problems;
    for (size_t i = 0; i < files.size(); i++) {
        LogCapture log;
        bool ok = true;
        const std::string out = captured([&] { ok = containers[i]->repack(String(files[i].c_str()), String(), 0); });
        if (ok || !out.empty() || !log.lines(LOG_ERROR).empty())
            problems += files[i] + ": " + out + "\n";
        deleteContainer(containers[i]);
    }
    return problems;
}
}

// A quit signal stops the reading of a start tag however many attributes it holds: the repack
// ends saying nothing of the tag or the text, and the run says that it was interrupted.
TEST(ConversionMemory, AQuitStopsTheReadingOfALongTag)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string problems = repacksAfterAQuit();
            fprintf(stderr, "%s\n", problems.c_str());
            _exit(problems.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

namespace
{
u64 allocations = 0;
u64 failingAllocation = 0;

bool failOne(FaultKind kind)
{
    return kind == FaultKind::Allocation && ++allocations == failingAllocation;
}
}

// Memory that runs out in the middle of a dense conversion ends it at once: the document stays
// raw and whole, and the failure is logged once. Listing, the run goes on; repacking, which
// pairs files by the form extraction gave them, the failure stands and fails the run. (The
// container made after the conversion takes the last allocations: the failing ones come from the
// first half.)
TEST(ConversionMemory, MemoryRunningOutEndsAConversionAtOnce)
{
    OptionScope scope;
    std::vector<Document> docs = denseDocuments(size_t(1) << 20);
    for (const Document& t : denseTables(size_t(1) << 20))
        docs.push_back(t);
    for (const Document& d : docs) {
        SCOPED_TRACE(d.what);
        allocations = 0;
        failingAllocation = 0;
        setFaultHook(failOne);
        deleteContainer(detect(d));
        const u64 total = allocations;
        for (const u8 mode : {MODE_LIST, MODE_REPACK}) {
            scope.options.mode = mode;
            for (const u64 at : {total / 8, total / 4, total / 2}) {
                allocations = 0;
                failingAllocation = at;
                LogCapture log;
                const auto start = std::chrono::steady_clock::now();
                Container* c = detect(d);
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                ASSERT_NE(c, nullptr) << at;
                EXPECT_FALSE(converted(c)) << at;
                EXPECT_EQ(testutil::serialised(*c), d.bytes) << at;
                EXPECT_EQ(memAllocationFailed(), mode == MODE_REPACK) << at;
                EXPECT_LT(seconds, 10.0) << at;
                EXPECT_EQ(log.lines(LOG_ERROR).size(), 1u) << at;
                deleteContainer(c);
                memClearAllocationFailure();
            }
        }
        setFaultHook(nullptr);
    }
}

// A failure from before a conversion began is not the conversion's: the document converts as
// ever, and the failure still stands for the run to report.
TEST(ConversionMemory, AnEarlierFailureIsNeitherForgottenNorTakenForAConversions)
{
    OptionScope scope;
    std::vector<Document> docs = denseDocuments(size_t(16) << 10);
    docs.push_back(denseTables(size_t(16) << 10)[1]);
    for (const Document& d : docs) {
        SCOPED_TRACE(d.what);
        allocations = 0;
        failingAllocation = 1;
        setFaultHook(failOne);
        {
            LogCapture log;
            EXPECT_EQ(memAlloc(64), nullptr);
        }
        setFaultHook(nullptr);
        Container* c = detect(d);
        EXPECT_TRUE(converted(c));
        EXPECT_TRUE(memAllocationFailed());
        deleteContainer(c);
        memClearAllocationFailure();
    }
}

// Memory that runs out while a table's edited XML is written back ends the repack with one line
// that names the file, asks for nothing more, and leaves the table as it was.
TEST(ConversionMemory, ARepackThatRunsOutOfMemorySaysSoOnceNamingTheFile)
{
    OptionScope scope;
    scope.options.mode = MODE_REPACK;
    for (const Document& d : denseTables(size_t(64) << 10)) {
        SCOPED_TRACE(d.what);
        Container* c = detect(d);
        ASSERT_TRUE(converted(c));
        iotest::ScratchDir dir;
        const std::string file = extractedEdited(*c, dir);
        const String path(file.c_str());
        std::string out;
        const auto repack = [&](u64 failing) {
            allocations = 0;
            failingAllocation = failing;
            setFaultHook(failOne);
            bool ok = false;
            out = captured([&] { ok = c->repack(path, String(), 0); });
            setFaultHook(nullptr);
            return ok;
        };
        ASSERT_TRUE(repack(0)) << out;
        const u64 total = allocations;
        for (const u64 at : {total / 4, total / 2, total}) {
            LogCapture log;
            EXPECT_FALSE(repack(at)) << at;
            const std::vector<std::string> errors = testutil::errorLines(out);
            ASSERT_EQ(errors.size(), 1u) << out;
            EXPECT_NE(errors[0].find("'" + file + "'"), std::string::npos) << errors[0];
            EXPECT_EQ(allocations, at);
            EXPECT_EQ(testutil::serialised(*c), d.bytes) << at;
            clearToolFailure();
        }
        deleteContainer(c);
    }
}

// Nesting indents every line of the XML by its depth: forms nested hundreds deep, or branches
// nested as deep as a table may hold, whose text would take more than a document of its size may,
// stay raw. A document's text never takes more than that limit; a table's is judged before it is
// made at all.
TEST(ConversionMemory, DepthCountsInWhatAConversionMayTake)
{
    OptionScope scope(1);
    Bytes forms = iffbytes::chunk("INFO", "x");
    for (int i = 0; i < 250; i++)
        forms = iffbytes::form("NEST", forms);
    Bytes branches;
    for (u32 i = 0; i < 127; i++)
        branches = branches + pfctest::branch("ANCHOR", "DECK", u16(i), 0);
    branches = branches + pfctest::dialogue("ANCHOR", "", "", 1, 0, "at the bottom", 0);
    for (u32 i = 0; i < 127; i++)
        branches = branches + pfctest::END_BRANCH;
    const auto repeated = [](const Bytes& unit, size_t size) {
        Bytes out;
        while (out.size() < size)
            out.insert(out.end(), unit.begin(), unit.end());
        return out;
    };
    const Bytes deepForms = iffbytes::form("DEEP", repeated(forms, size_t(3) << 20));
    const struct
    {
        Document document;
        u64 mostHeld;
    } cases[] = {
        {{"IFF of deep nests", "DEEP.IFF", deepForms}, convertedTextLimit(deepForms.size()) + 2 * deepForms.size()},
        {{"PFC of deep branches", "DEEP.PFC", repeated(branches, size_t(4) << 20)}, u64(1) << 20},
    };
    for (const auto& c : cases) {
        const Document& d = c.document;
        SCOPED_TRACE(d.what);
        memResetPeak();
        const u64 before = memLiveBytes();
        Container* container = nullptr;
        const std::string out = captured([&] { container = detect(d); });
        const u64 peak = memPeakBytes() - before;
        EXPECT_FALSE(converted(container));
        EXPECT_NE(out.find(std::string(" -> '") + d.name +
                           "' stays raw: its XML would take more memory than a document of its size may.\n"),
                  std::string::npos)
            << out;
        EXPECT_LE(peak, c.mostHeld);
        ASSERT_NE(container, nullptr);
        EXPECT_EQ(testutil::serialised(*container), d.bytes);
        deleteContainer(container);
    }
}

namespace
{
u64 firstFailing = 0;

bool failFromThenOn(FaultKind kind)
{
    return kind == FaultKind::Allocation && ++allocations >= firstFailing && firstFailing;
}
}

// Once an allocation has failed, a conversion asks for nothing more: it ends, and the document
// stays raw, without a second failure on the way (a schema's check or the text dump after it).
TEST(ConversionMemory, NothingIsAskedForOnceMemoryRanOut)
{
    OptionScope scope;
    const Bytes missile = iffbytes::chunk("DATA", Bytes(35, 1));
    std::vector<Document> docs = denseDocuments(size_t(64) << 10);
    docs.push_back({"IFF of schema records", "ARMS.IFF",
                    iffbytes::form("REAL", iffbytes::form("OBJT", iffbytes::form("MISL", missile)) +
                                               iffbytes::chunk("NOTE", "some words 0x01"))});
    for (const Document& d : docs) {
        SCOPED_TRACE(d.what);
        const ByteArray bytes = byteView(d.bytes.data(), u32(d.bytes.size()));
        const String name(d.name);
        const auto convert = [&](u64 failing) {
            allocations = 0;
            firstFailing = failing;
            setFaultHook(failFromThenOn);
            TextBuilder text;
            u8 mode = 0;
            const bool converted = iffToXml(name, bytes, text, mode, true);
            setFaultHook(nullptr);
            return converted;
        };
        ASSERT_TRUE(convert(0));
        const u64 total = allocations;
        for (u64 at = 1; at <= total; at += total / 50 + 1) {
            LogCapture log;
            EXPECT_FALSE(convert(at)) << at;
            EXPECT_EQ(allocations, at) << at;
            memClearAllocationFailure();
        }
    }
}
