#include "tool/convert/ContainerPFC.h"
#include "framework/app/ProcessUtils.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/convert/ConvertedText.h"
#include "tool/convert/PfcToXml.h"
#include "tool/convert/XmlToPfc.h"

#include <cstdio>
#include <utility>

using pfc::RecordOut;
using pfc::TableEncoder;
using pfc::TextStatus;
using pfc::rebuildsExactly;
using pfc::tableText;
using pfc::tableTextLimit;

ContainerPFC::ContainerPFC(const String& name, const ByteArray& bytes, bool exact)
    : Container(name, name + ".xml", CONTAINER_PFC), converts(exact)
{
    // A view: whoever opened the table keeps its bytes (the archive holding it).
    raw = newByteView(bytes.data, bytes.count);
}

ContainerPFC::~ContainerPFC()
{
    deleteByteArray(raw);
    dropDocument();
}

void ContainerPFC::dropDocument()
{
    deleteByteArray(built);
    built = nullptr;
}

bool ContainerPFC::probe(const String& name, const ByteArray&)
{
    return name.endsWithNoCase(".PFC");
}

Container* ContainerPFC::open(const String& name, const ByteArray& bytes)
{
    const ToolOptions& opt = toolOptions();
    TextStatus status = TextStatus::MADE;
    TextBudget budget;
    budget.limit = tableTextLimit(bytes.count);
    budget.reserves = !opt.noConvert;
    String text;
    bool exact = false;
    bool memoryRanOut = false;
    {
        AllocationStop conversion;
        text = tableText(bytes, status, &budget);
        exact = status == TextStatus::MADE && rebuildsExactly(text, bytes);
        releaseTransient(budget.held);
        memoryRanOut = conversionRanOutOfMemory(conversion, status == TextStatus::OUT_OF_MEMORY);
    }
    // Want of room is worth a note at -v, a table the XML form cannot hold one at -vv; a quit
    // ends the run at the next entry, which says why.
    const bool quit = status == TextStatus::QUIT || quitSignalsReceived();
    const char* shortOfRoom = nullptr;
    const char* unfit = nullptr;
    if (memoryRanOut)
        shortOfRoom = "memory ran out while converting it";
    else if (status == TextStatus::TOO_LARGE)
        shortOfRoom = "its XML would take more memory than a document of its size may";
    else if (status == TextStatus::OVER_BUDGET)
        shortOfRoom = "converting it would pass the archive's budget";
    else if (!quit && status == TextStatus::TOO_DEEP)
        unfit = "its branches nest too deeply";
    else if (!quit && !exact)
        unfit = "its XML would not rebuild it exactly";
    if (shortOfRoom && opt.verbosity >= 1)
        printf(" -> '%s' stays raw: %s.\n", name.c_str(), shortOfRoom);
    else if (unfit && opt.verbosity >= 2)
        printf(" -> '%s' stays raw: %s.\n", name.c_str(), unfit);
    const bool usable = exact && !memoryRanOut;
    ContainerPFC* pfc = memNew<ContainerPFC>(name, bytes, usable);
    if (pfc && !pfc->raw) {
        deleteContainer(pfc);
        return nullptr;
    }
    if (pfc && usable && keepsConvertedText(text.length - 1, bytes.count))
        pfc->xmlFile = std::move(text);
    return pfc;
}

bool ContainerPFC::asXml() const
{
    return (built || converts) && !toolOptions().noConvert;
}

ByteArray* ContainerPFC::encode() const
{
    // The bytes the table holds go out as a view: the caller copies them where they belong.
    const ByteArray* current = built ? built : raw;
    return newByteView(current->data, current->count);
}

ByteArray* ContainerPFC::serialise(ProgressFunction progress, u32 depth)
{
    ByteArray* out = encode();
    // Memory that ran out is said by the write, naming its file.
    if (!out && !memAllocationFailed())
        printError("ERROR: Couldn't encode '%s'!\n", path.c_str());
    if (progress)
        progress(depth);
    return out;
}

void ContainerPFC::list(u32 indent)
{
    printIndent(indent);
    printf("PFC Dialogue Table\n");
}

// Nested in an archive: the entry's own path on disk, with ".xml" when written as XML.
String ContainerPFC::extractedName(const String& entryPath) const
{
    return asXml() ? entryPath + ".xml" : entryPath;
}

u32 ContainerPFC::extract(const String& where, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    const bool xml = asXml();
    String file;
    if (where.isEmpty() || where.endsWith("/")) {
        // The directory of the command line: the file goes inside it under the table's name.
        if (!where.isEmpty() && !makeExtractionDirectory(where))
            return 0;
        file = joinPath(where, getFileName(xml ? secondPath : path));
    } else {
        file = extractedName(where);
    }
    // A name made short of memory is no file's: what was asked is named instead.
    if (outOfMemory("extracting", where.c_str()))
        return 0;
    if (opt.verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", file.c_str());
    }
    if (!xml)
        return writeExtractedFile(file, raw->data, raw->count) ? 1 : 0;
    if (!built && !xmlFile.isEmpty())
        return writeExtractedFile(file, reinterpret_cast<const u8*>(xmlFile.c_str()), xmlFile.length) ? 1 : 0;
    TextStatus status = TextStatus::MADE;
    String text = tableText(built ? *built : *raw, status);
    if (status != TextStatus::MADE) {
        reportUnmadeFile(file);
        return 0;
    }
    return writeExtractedFile(file, reinterpret_cast<const u8*>(text.c_str()), text.length) ? 1 : 0;
}

bool ContainerPFC::repack(const String& filePath, const String&, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    if (opt.verbosity >= 1) {
        printMarker('<', indent);
        printf(" %s\n", filePath.c_str());
    }
    // Alone, the file extract wrote, else the other form.
    const bool xmlFirst = asXml();
    String file;
    ByteArray* bytes = readDocumentFile(filePath, xmlFirst ? secondPath : path,
                                        opt.noConvert ? nullptr : (xmlFirst ? &path : &secondPath), file);
    if (!bytes)
        return false;
    bool ok = true;
    // The file as extracted leaves the table the one it was opened from.
    const bool asExtracted = converts && !built && !xmlFile.isEmpty() &&
                             sameBytes(bytes->data, bytes->count, reinterpret_cast<const u8*>(xmlFile.data),
                                       xmlFile.length);
    if (!file.endsWithNoCase(".xml")) {
        dropDocument();
        deleteByteArray(raw);
        raw = bytes;
        bytes = nullptr;
        converts = false;
        xmlFile.free();
    } else if (!asExtracted) {
        ok = repackXml(*bytes, file);
    }
    deleteByteArray(bytes);
    // Memory that ran out is said once, naming the file; nothing else is said of it.
    if (!ok)
        outOfMemory("converting", file.c_str());
    return ok;
}

// A failed edit leaves the table as it was. The document is read as events: each record is
// checked and written as it comes, and none is held after that.
bool ContainerPFC::repackXml(const ByteArray& bytes, const String& file)
{
    // Memory that runs out ends the repack there: nothing more is asked for.
    const AllocationStop stop;
    if (!xmlEncodingReadable(bytes, file))
        return false;
    // Room for the table as it was: an unedited one is handed over without a copy.
    ByteBuffer buffer(raw->count, raw->count);
    if (raw->count && !buffer.data())
        return false;
    RecordOut out(buffer);
    TableEncoder encoder(reinterpret_cast<const char*>(bytes.data), bytes.data ? bytes.count : 0, &file, out);
    ByteArray* written = encoder.table() ? buffer.release() : nullptr;
    if (!written)
        return false;
    dropDocument();
    built = written;
    return true;
}

void ContainerPFC::hashContents(Md5& context, u32 indent)
{
    ByteArray* bytes = encode();
    if (bytes && bytes->count)
        context.update(bytes->data, bytes->count);
    deleteByteArray(bytes);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("PFC -> %llu\n", (unsigned long long)peekDigest(context));
    }
}
