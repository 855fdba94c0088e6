#include "framework/core/ByteArray.h"
#include "framework/io/FileStream.h"
#include "framework/platform/FileOps.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/targets/ScratchDisk.h"
#include "tool/containers/ContainerCRCTRE.h"
#include "tool/containers/ContainerPAK.h"
#include "tool/containers/ContainerTRE.h"
#include "tool/containers/ContainerXTRE.h"
#include "tool/containers/Driver.h"

#include <string>

namespace
{
void noProgress(u32)
{
}

// Archives past this many files are left to the container targets: each input here writes its
// whole tree to disk.
constexpr u32 MOST_TREE_FILES = 256;

void putU32(std::string& out, u32 v)
{
    for (int i = 0; i < 4; i++)
        out += char(u8(v >> (8 * i)));
}

void putU16(std::string& out, u16 v)
{
    out += char(u8(v));
    out += char(u8(v >> 8));
}

// An IFF chunk: id, big-endian size, body, a pad byte after an odd body.
std::string iffChunk(const char* id, const std::string& body)
{
    std::string out(id, 4);
    for (int i = 3; i >= 0; i--)
        out += char(u8(u32(body.size()) >> (8 * i)));
    out += body;
    if (body.size() % 2)
        out += '\0';
    return out;
}

std::string iffForm(const char* type, const std::string& chunks)
{
    return iffChunk("FORM", std::string(type, 4) + chunks);
}

// A classic TRE holding one entry: count, header size, the 74-byte entry (flag 1, 65-byte name,
// offset, size), then the entry's bytes.
ByteArray* oneEntryTre(const char* storedName, const std::string& data)
{
    std::string out;
    putU32(out, 1);
    putU32(out, 8 + 74);
    out += '\1';
    std::string name(storedName);
    name.resize(65, '\0');
    out += name;
    putU32(out, 8 + 74);
    putU32(out, u32(data.size()));
    out += data;
    return newByteArray(reinterpret_cast<const u8*>(out.data()), u32(out.size()));
}

// A cargo crate's description: a nested form with text and numbers, and a RefPack-packed chunk
// (literal runs only) that is shown decoded and kept as stored while unedited.
std::string crateDocument()
{
    const std::string info = iffChunk("NAME", std::string("Crate of spare parts", 21)) +
                             iffChunk("MASS", std::string("\x10\x27\x00\x00", 4));
    const std::string packed("\x10\xfb\x00\x00\x08\xe1" "abcdefgh\xfc", 15);
    return iffForm("CRAT", iffForm("INFO", info) + iffChunk("TEXT", packed) + iffChunk("DATA", "\x01\x02\x03"));
}

std::string pfcName(const char* name)
{
    std::string field(name);
    field.resize(9, '\0');
    return field;
}

// A dialogue table: a line, a branch of two options (a cutaway, then a line), the end of the branch.
std::string dockTable()
{
    auto dialogue = [](const char* speaker, const char* expression, const char* line, u16 delay) {
        std::string r("\0", 1);
        r += pfcName(speaker) + pfcName(expression) + pfcName("DOCK");
        putU16(r, delay);
        putU16(r, 0);
        r += line;
        r += '\0';
        r += '\1';
        return r;
    };
    std::string table = dialogue("DOCKHAND", "GRIN", "Cargo is aboard.", 30);
    table += '\7' + pfcName("DOCKHAND") + pfcName("DOCK");
    putU16(table, 1);
    putU16(table, 2);
    table += '\4' + pfcName("DOCK");
    putU16(table, 5);
    table += '\1';
    table += "The bay doors close.";
    table += '\0';
    table += '\5' + dialogue("PILOT", "", "Thanks.", 1) + '\x08';
    return table;
}

// One archive whose document a user edits: the archive, and where its XML lands in the tree.
struct EditedArchive
{
    ByteArray* archive;
    const char* xmlFile;
};

// Made at first use: a fuzz program runs one target, the replay test all of them.
const EditedArchive& crateArchive()
{
    static const EditedArchive edit{oneEntryTre("CARGO\\CRATE.IFF", crateDocument()), "CARGO/CRATE.IFF.xml"};
    return edit;
}

const EditedArchive& dockArchive()
{
    static const EditedArchive edit{oneEntryTre("TALK\\DOCK.PFC", dockTable()), "TALK/DOCK.PFC.xml"};
    return edit;
}

const EditedArchive* extracted = nullptr;

// The tree of the archive in the scratch directory, extracted once per process and used again
// while no other target has emptied the directory.
const String& treeOf(const EditedArchive& edit)
{
    if (extracted == &edit && ScratchDisk::holdsTree())
        return ScratchDisk::path();
    const String& dir = ScratchDisk::fresh();
    clearToolFailure();
    Container* c = edit.archive ? detectContainer(String("EDIT.TRE"), *edit.archive) : nullptr;
    if (!c)
        fuzzFailure("the archive whose document is edited does not open");
    setExtractionRoot(dir);
    c->extract(dir, 0);
    setExtractionRoot(String());
    ScratchDisk::removeLinks();
    deleteContainer(c);
    ByteArray* xml = readWholeFile(dir + edit.xmlFile);
    if (!xml)
        fuzzFailure("the document to edit was not extracted as XML");
    deleteByteArray(xml);
    ScratchDisk::keepTree();
    extracted = &edit;
    return dir;
}

// Repacks c from dir; `errorLine` tells whether the repack printed an "ERROR: " line.
bool repackFrom(Container* c, const String& dir, bool& errorLine)
{
    PrintedText printed;
    const bool repacked = c->repack(dir, String(), 0);
    errorLine = printed.hasErrorLine();
    return repacked;
}

// The input is the XML a user hands back for the archive's document. The repack either succeeds
// and the archive is written, or fails with an "ERROR: " line.
void fuzzEdit(const EditedArchive& edit, const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    const String& dir = treeOf(edit);
    const String file = dir + edit.xmlFile;
    if (writeFileWhole(file.c_str(), data, size) != 0)
        fuzzFailure("the edited XML cannot be written");
    clearToolFailure();
    Container* c = detectContainer(String("EDIT.TRE"), *edit.archive);
    if (!c)
        fuzzFailure("the archive whose document is edited does not open");
    bool errorLine = false;
    const bool repacked = repackFrom(c, dir, errorLine);
    if (repacked) {
        // An archive the readers would take for another (every entry empty, say) is refused
        // with its own line.
        PrintedText printed;
        ByteArray* written = c->serialise(noProgress, 0);
        if (!written && !printed.hasErrorLine() && !memAllocationFailed())
            fuzzFailure("an edit that repacked cannot be written, and no line says why");
        deleteByteArray(written);
    } else if (!errorLine && !memAllocationFailed()) {
        fuzzFailure("a repack failed without an error line");
    }
    deleteContainer(c);
}

// The input as an archive of one kind: extracted into the scratch directory the way the tool
// extracts, the unedited tree repacked onto a second opening of it and written, which must give
// what writing it without the repack gives. Nothing may land outside the scratch directory.
void fuzzTree(const char* archiveName, u8 kind, bool (*probe)(const String&, const ByteArray&), const u8* data,
              size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    const String name(archiveName);
    const ByteArray bytes(data, u32(size));
    if (!probe(name, bytes))
        return;
    clearToolFailure();
    Container* first = detectContainer(name, bytes);
    if (!first || first->typeCode != kind || first->fileCount() > MOST_TREE_FILES) {
        deleteContainer(first);
        return;
    }
    const String& dir = ScratchDisk::fresh();
    setExtractionRoot(dir);
    first->extract(dir, 0);
    setExtractionRoot(String());
    ScratchDisk::checkNothingEscaped();
    ScratchDisk::removeLinks();
    ByteArray* plain = first->serialise(noProgress, 0);
    deleteContainer(first);
    if (!plain || memAllocationFailed()) {
        deleteByteArray(plain);
        return;
    }

    // Extraction may have failed for an entry (a link in its way): that is its own error.
    clearToolFailure();
    Container* second = detectContainer(name, bytes);
    if (!second)
        fuzzFailure("an archive that opened once does not open again");
    bool errorLine = false;
    const bool repacked = repackFrom(second, dir, errorLine);
    ByteArray* again = repacked ? second->serialise(noProgress, 0) : nullptr;
    if (!memAllocationFailed()) {
        if (!repacked)
            fuzzFailure("an extracted tree does not repack");
        if (errorLine)
            fuzzFailure("an extracted tree repacks with an error line");
        if (!again)
            fuzzFailure("an extracted tree repacks but cannot be written");
        if (!sameBytes(again, plain))
            fuzzFailure("an extracted tree, repacked unedited, does not give back the archive");
    }
    ScratchDisk::checkNothingEscaped();
    deleteByteArray(again);
    deleteContainer(second);
    deleteByteArray(plain);
}
}

void fuzzIffEdit(const u8* data, size_t size)
{
    fuzzEdit(crateArchive(), data, size);
}

void fuzzPfcEdit(const u8* data, size_t size)
{
    fuzzEdit(dockArchive(), data, size);
}

// CRC-TRE data is told apart from classic TRE data under the same name by the header alone.
void fuzzTreTree(const u8* data, size_t size)
{
    fuzzTree("FUZZ.TRE", CONTAINER_TRE, ContainerTRE::probe, data, size);
}

void fuzzCrcTreTree(const u8* data, size_t size)
{
    fuzzTree("FUZZ.TRE", CONTAINER_CRCTRE, ContainerCRCTRE::probe, data, size);
}

// A name the version 1 name set knows, so that entries get their paths from it.
void fuzzXtreTree(const u8* data, size_t size)
{
    fuzzTree("GAMEFLOW.TRE", CONTAINER_XTRE, ContainerXTRE::probe, data, size);
}

void fuzzPakTree(const u8* data, size_t size)
{
    fuzzTree("FUZZ.PAK", CONTAINER_PAK, ContainerPAK::detect, data, size);
}
