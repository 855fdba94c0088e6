#include "tool/convert/ContainerIFF.h"
#include "framework/app/ProcessUtils.h"
#include "framework/core/ByteBuffer.h"
#include "framework/core/TextUtils.h"
#include "framework/io/FileStream.h"
#include "gamedata/formats/IFF.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/convert/ConvertedText.h"
#include "tool/convert/IffSchemas.h"
#include "tool/convert/IffToXml.h"
#include "tool/convert/XmlToIff.h"
#include "framework/xml/XmlReader.h"
#include "framework/xml/XmlWriter.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
u32 bigEndianAt(const u8* p)
{
    return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | u32(p[3]);
}

const char* const USABLE_ROOT = "IFF";

// The document's root and the bytes of its children, read from the text: the root checks first
// (their line names `source`), then each child. `length` receives how many bytes are the file
// (less the final pad byte a "MissingFinalPad" root drops). False when the text is not a usable
// document or an element cannot be written (the reasons are printed unless quiet).
bool buildIff(const char* text, u64 n, const String* source, StoredStreams* streams, const ByteArray* file,
              ByteBuffer& out, u32& length)
{
    const bool quiet = source == nullptr;
    const char* name = quiet ? "" : source->c_str();
    XmlReader in(text, n);
    in.setQuiet(quiet);
    // A document that does not read is refused for that alone: what its elements would have
    // said waits until the whole text has read.
    String held;
    // A quit may stop the reader inside a tag: the run says so, not the text.
    const auto unreadable = [&] {
        if (!quiet && !memAllocationFailed() && !quitSignalsReceived())
            printError("ERROR: Couldn't parse '%s'!\n", name);
        return false;
    };
    // Whether the rest of the text reads to its end.
    XmlReader::Event e;
    const auto readsToEnd = [&] {
        while ((e = in.next()) != XmlReader::FINISHED) {
            if (e == XmlReader::FAILED)
                return false;
        }
        return true;
    };
    // An XML declaration in front of the root, as XML tools write one, is passed over.
    while ((e = in.next()) == XmlReader::START && in.name().startsWith("?")) {
        if (!in.skipElement())
            return false;
    }
    if (e == XmlReader::FAILED)
        return unreadable();
    const char* problem = nullptr;
    if (e != XmlReader::START)
        problem = "ERROR: No XML root for '%s'!\n";
    else if (!in.name().equals(USABLE_ROOT))
        problem = "ERROR: Bad root IFF element for '%s'!\n";
    else if (!in.attribute("Version"))
        problem = "ERROR: No version for '%s'!\n";
    if (problem) {
        // A document that does not read is refused for that, whatever its root.
        if (!readsToEnd())
            return unreadable();
        if (!quiet)
            printError(problem, name);
        return false;
    }
    // The version as typed: a plain decimal 1 ("01" too); the line names any other text.
    const String version = in.attribute("Version").text();
    if (!isVersionOne(version)) {
        if (!readsToEnd())
            return unreadable();
        if (!quiet)
            printError("ERROR: Unrecognised version %s for '%s'!\n", version.c_str(), name);
        return false;
    }
    bool dropsPad = false;
    if (const XmlSpan given = in.attribute("MissingFinalPad")) {
        String missingPad = given.text();
        missingPad.trim();
        dropsPad = missingPad.trueWordIndex() >= 0;
    }
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    IffWriter writer(schemas, quiet);
    writer.heldLines = &held;
    writer.document = quiet ? String() : *source;
    writer.reuse(streams, file);
    for (;;) {
        e = in.next();
        if (e == XmlReader::END && in.depth() == 1)
            break;
        if (e == XmlReader::START)
            xmlToIff(out, in, writer, 0, 1);
        else if (e == XmlReader::TEXT)
            unexpectedText(in, writer);
        if (writer.interrupted)
            return false;
        if (in.event() == XmlReader::FAILED || in.event() == XmlReader::FINISHED)
            return unreadable();
    }
    // What follows the root is read to its end, as a tree would be; nothing of it is written.
    if (!readsToEnd())
        return unreadable();
    if (!held.isEmpty())
        printError("%s", held.c_str());
    if (writer.errors || !out.ok())
        return false;
    length = out.length;
    if (dropsPad && length >= 8 && endsWithOddChunk(out.data(), 0, length))
        length--;
    return true;
}

// Room for the bytes of a document that stands for `file`: its size, and the pad byte that a
// "MissingFinalPad" root drops, so that an unedited document is written without growing.
u32 rebuiltSizeHint(const ByteArray* file)
{
    if (!file)
        return 0x10000;
    const u64 n = u64(file->count) + (isMissingFinalPad(*file) ? 1 : 0);
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : u32(n);
}

// The document as the extracted file holds it, read back and written as IFF: a file is only
// converted when that gives exactly its own bytes back. The bytes written back count against the
// archive's budget while they are held.
bool rebuildsExactly(const TextBuilder& text, const ByteArray& bytes, StoredStreams* streams, bool& refused)
{
    const AllocationStop stop;
    const u64 hint = rebuiltSizeHint(&bytes);
    if (!reserveTransient(hint)) {
        refused = true;
        return false;
    }
    bool same = false;
    {
        ByteBuffer rebuilt(static_cast<u32>(hint));
        u32 length = 0;
        same = rebuilt.ok() && buildIff(text.data, text.length, nullptr, streams, &bytes, rebuilt, length) &&
               sameBytes(rebuilt.data(), length, bytes.data, bytes.count);
    }
    releaseTransient(hint);
    return same;
}

// The root element "IFF" and the walk below it, written through `xml`.
bool writeDocument(TD::IFF& iff, const ByteArray& file, const String& path, bool missingPad, bool tables, u8& mode,
                   XmlWriter& xml, StoredStreams* streams)
{
    if (!xml.open("IFF"))
        return false;
    xml.attribute("Version", "1", 1);
    if (missingPad)
        xml.attribute("MissingFinalPad", "true", 4);
    if (tables)
        xml.attribute("Quirks", "Tables", 6);
    const u64 rootTagEnd = xml.text().length;
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    IffXmlOut out{xml, schemas, streams, &file};
    bool ok = out.going();
    while (ok && !iff.atEnd()) {
        if (!iff.isContainer()) {
            printError("ERROR: Root IFF chunk isn't form for '%s'.\n", path.c_str());
            ok = false;
            break;
        }
        ok = containerToXml(iff, String(), out, 1, true);
    }
    xml.close();
    if (!ok || !xml.ok())
        return false;
    mode = tables ? ContainerIFF::MODE_TABLES : ContainerIFF::MODE_PLAIN;
    if (iff.errorFlags & TD::IFF::ERROR_LIST_AS_CHUNK) {
        // Known only once the walk is over: the attribute goes in after the root's others.
        static const char errors[] = " Errors=\"ListAsChunk\"";
        xml.text().insert(rootTagEnd, errors, sizeof(errors) - 1);
        if (mode != ContainerIFF::MODE_TABLES)
            mode = ContainerIFF::MODE_LIST_AS_CHUNK;
    }
    return xml.ok();
}

}

bool isMissingFinalPad(const ByteArray& bytes)
{
    if (bytes.count < 8 || !bytes.data || memcmp(bytes.data, "FORM", 4) != 0)
        return false;
    const u64 size = bigEndianAt(bytes.data + 4);
    return size + (size & 1) == u64(bytes.count) - 7;
}

bool endsWithOddChunk(const u8* data, u64 start, u64 end)
{
    // Each step moves into the last chunk's content, so the region shrinks every time.
    for (;;) {
        if (end <= start || end - start < 8)
            return false;
        u64 pos = start;
        u32 size = 0;
        for (;;) {
            if (pos + 8 > end)
                return false;
            size = bigEndianAt(data + pos + 4);
            const u64 chunkEnd = pos + 8 + size + (size & 1);
            if (chunkEnd == end)
                break;
            if (chunkEnd > end)
                return false;
            pos = chunkEnd;
        }
        if (size & 1)
            return true;
        const u32 id = bigEndianAt(data + pos);
        if ((id != TD::fourCC("FORM") && id != TD::fourCC("LIST")) || size <= 4 ||
            !isTextualChunkId(bigEndianAt(data + pos + 8)))
            return false;
        start = pos + 12;
        end = pos + 8 + size;
    }
}

ByteArray* xmlToIffBytes(const char* text, u64 length, const String* source, StoredStreams* streams,
                         const ByteArray* file)
{
    const AllocationStop stop;
    ByteBuffer out(rebuiltSizeHint(file));
    u32 written = 0;
    if (!buildIff(text, length, source, streams, file, out, written))
        return nullptr;
    if (written == out.length)
        return out.release();
    return newByteArray(out.data(), written);
}

namespace
{
// The bytes as the IFF reader's array, without copying them.
TD::Array<unsigned char> readerView(const ByteArray& data)
{
    TD::Array<unsigned char> view;
    view.data = data.data;
    view.count = data.data ? data.count : 0;
    view.byteSize = view.count;
    view.owns = false;
    return view;
}
}

bool iffToXml(const String& path, const ByteArray& data, TextBuilder& text, u8& mode, bool quiet,
              StoredStreams* streams)
{
    mode = ContainerIFF::MODE_PLAIN;
    const AllocationStop stop;
    const bool missingPad = isMissingFinalPad(data);
    const TD::Array<unsigned char> bytes = readerView(data);
    TD::ByteArrayReader reader(&bytes);
    TD::IFF* iff = TD::IFF::open(reader);
    if (!iff)
        return false;
    bool written = false;
    const u8 flavour = iff->flavour;
    if (flavour & TD::IFF::FLAVOUR_AIFF) {
        if (!quiet)
            printError("ERROR: AIFFs not supported!\n");
    } else if (flavour & TD::IFF::FLAVOUR_3DO) {
        if (!quiet)
            printError("ERROR: Big Endian IFFs not supported!\n");
    } else if (!(flavour & TD::IFF::FLAVOUR_SAVE_INFO) && !toolOptions().noConvert) {
        XmlWriter xml(text);
        written = writeDocument(*iff, data, path, missingPad, (flavour & TD::IFF::FLAVOUR_TABLES) != 0, mode, xml, streams);
    }
    TD::deleteObject(iff);
    return written;
}

String iffToXmlText(const String& path, const ByteArray& data, u8& mode, bool quiet)
{
    TextBuilder text;
    return iffToXml(path, data, text, mode, quiet) ? text.take() : String();
}

ContainerIFF::ContainerIFF(const String& p, const ByteArray& data, bool convertible, u8 m)
    : Container(p, p + ".xml", CONTAINER_IFF), mode(m), converts(convertible)
{
    // A view: whoever opened the document keeps its bytes (the archive holding it).
    bytes = newByteView(data.data, data.count);
}

ContainerIFF::~ContainerIFF()
{
    deleteByteArray(bytes);
    dropDocument();
    memDelete(streams);
}

void ContainerIFF::dropDocument()
{
    deleteByteArray(built);
    built = nullptr;
}

bool ContainerIFF::probe(const String&, const ByteArray& data)
{
    return hasMagic(data, "FORM");
}

Container* ContainerIFF::open(const String& path, const ByteArray& data)
{
    u8 mode = MODE_PLAIN;
    StoredStreams* streams = memNew<StoredStreams>();
    if (!streams)
        return nullptr;
    const ToolOptions& opt = toolOptions();
    // Deep nests indent every line by their depth: the text's limit is what keeps their cost in
    // proportion to the document.
    TextBudget budget;
    budget.limit = convertedTextLimit(data.count);
    bool refused = false;
    bool walked = false;
    bool converts = false;
    bool memoryRanOut = false;
    String kept;
    {
        AllocationStop conversion;
        TextBuilder text(TextBudget::charge, &budget);
        walked = iffToXml(path, data, text, mode, false, streams);
        converts = walked && rebuildsExactly(text, data, streams, refused);
        refused = refused || text.refused();
        if (converts && keepsConvertedText(text.length, data.count)) {
            text.append('\n');
            kept = text.take();
        }
        text.clear();
        releaseTransient(budget.held);
        memoryRanOut = conversionRanOutOfMemory(conversion);
    }
    if (memoryRanOut && opt.verbosity >= 1)
        printf(" -> '%s' stays raw: memory ran out while converting it.\n", path.c_str());
    else if (budget.tooLarge && opt.verbosity >= 1)
        printf(" -> '%s' stays raw: its XML would take more memory than a document of its size may.\n",
               path.c_str());
    else if (refused && opt.verbosity >= 1)
        printf(" -> '%s' stays raw: converting it would pass the archive's budget.\n", path.c_str());
    else if (walked && !converts && opt.verbosity >= 2)
        printf(" -> '%s' stays raw: its XML would not rebuild it exactly.\n", path.c_str());
    const bool usable = converts && !memoryRanOut;
    ContainerIFF* c = memNew<ContainerIFF>(path, data, usable, usable ? mode : u8(MODE_PLAIN));
    if (c && !c->bytes) {
        deleteContainer(c);
        c = nullptr;
    }
    if (!c) {
        memDelete(streams);
        return nullptr;
    }
    if (usable && streams->size() != 0)
        c->streams = streams;
    else
        memDelete(streams);
    if (usable && !kept.isEmpty())
        c->xmlFile = std::move(kept);
    return c;
}

String ContainerIFF::xmlText()
{
    if (!isConverted())
        return String();
    if (!built && !xmlFile.isEmpty())
        return String(xmlFile.c_str(), xmlFile.length - 1);
    u8 ignored = 0;
    return iffToXmlText(path, built ? *built : *bytes, ignored, true);
}

ByteArray* ContainerIFF::serialise(ProgressFunction progress, u32 depth)
{
    // The bytes go out as a view: the caller copies them where they belong.
    const ByteArray* current = built ? built : bytes;
    ByteArray* out = newByteView(current->data, current->count);
    if (progress)
        progress(depth);
    return out;
}

void ContainerIFF::list(u32 indent)
{
    printIndent(indent);
    printf("Interchange File Format\n");
    const TD::Array<unsigned char> view = readerView(*bytes);
    TD::ByteArrayReader reader(&view);
    if (TD::IFF::sniffFlavour(reader) & TD::IFF::FLAVOUR_TABLES) {
        printIndent(indent);
        printf(" - Non-standard: Contains spin-off-style tables.\n");
    }
    if (mode == MODE_LIST_AS_CHUNK) {
        printIndent(indent);
        printf(" - Non-standard: Uses the reserved form type LIST as a chunk name.\n");
    }
}

// Nested in an archive: the entry's own path, with ".xml" when converted.
String ContainerIFF::extractedName(const String& entryPath) const
{
    return isConverted() ? entryPath + ".xml" : entryPath;
}

u32 ContainerIFF::extract(const String& directory, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    String file;
    if (directory.isEmpty() || directory.endsWith("/")) {
        // The directory given on the command line: the file goes inside it.
        const String& source = isConverted() ? secondPath : path;
        if (!directory.isEmpty() && !makeExtractionDirectory(directory))
            return 0;
        file = joinPath(directory, getFileName(source));
    } else {
        file = extractedName(directory);
    }
    // A name made short of memory is no file's: what was asked is named instead.
    if (outOfMemory("extracting", directory.c_str()))
        return 0;
    if (opt.verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", file.c_str());
    }
    if (!isConverted())
        return writeExtractedFile(file, bytes->data, bytes->count) ? 1 : 0;
    if (!built && !xmlFile.isEmpty())
        return writeExtractedFile(file, reinterpret_cast<const u8*>(xmlFile.c_str()), xmlFile.length) ? 1 : 0;
    String text = xmlText();
    if (!text.isEmpty())
        text += "\n";
    if (text.isEmpty()) {
        reportUnmadeFile(file);
        return 0;
    }
    return writeExtractedFile(file, reinterpret_cast<const u8*>(text.c_str()), text.length) ? 1 : 0;
}

bool ContainerIFF::repack(const String& source, const String&, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    if (opt.verbosity >= 1) {
        printMarker('<', indent);
        printf(" %s\n", source.c_str());
    }
    // Alone, its XML, else its raw bytes.
    String file;
    ByteArray* data = readDocumentFile(source, opt.noConvert ? path : secondPath, opt.noConvert ? nullptr : &path, file);
    if (!data)
        return false;
    dropDocument();
    const bool wasConverted = converts;
    converts = false;
    if (!file.endsWithNoCase(".xml")) {
        deleteByteArray(bytes);
        bytes = data;
        mode = MODE_PLAIN;
        // What was kept belongs to the bytes just replaced.
        memDelete(streams);
        streams = nullptr;
        xmlFile.free();
        return true;
    }
    if (!xmlEncodingReadable(*data, file)) {
        deleteByteArray(data);
        return false;
    }
    // The file as extracted: the container is the file it was opened from, with nothing to write.
    if (wasConverted && !xmlFile.isEmpty() &&
        sameBytes(data->data, data->count, reinterpret_cast<const u8*>(xmlFile.data), xmlFile.length)) {
        deleteByteArray(data);
        converts = true;
        return true;
    }
    // An edit that cannot be written fails here, before anything is written; what is written is
    // kept for serialise.
    built = xmlToIffBytes(reinterpret_cast<const char*>(data->data), data->count, &file, streams, bytes);
    deleteByteArray(data);
    if (!built) {
        // Memory that ran out is said once, naming the file; nothing else is said of it.
        outOfMemory("converting", file.c_str());
        return false;
    }
    if (sameBytes(built, bytes)) {
        // Unedited: the container is again the file it was opened from.
        dropDocument();
        converts = wasConverted;
    }
    return true;
}

void ContainerIFF::hashContents(Md5& context, u32 indent)
{
    const ByteArray* source = built ? built : bytes;
    if (source && source->count)
        context.update(source->data, source->count);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("IFF -> %llu\n", (unsigned long long)peekDigest(context));
    }
}
