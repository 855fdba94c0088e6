#include "tool/convert/ContainerIFF.h"
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

#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
u32 bigEndianAt(const u8* p)
{
    return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | u32(p[3]);
}

bool isBadNameByte(u8 c)
{
    return c <= 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '/' || c == '=' || c == '"' || c == '?' ||
           c == '!';
}

// Whether the XML writer's text of the element can be read back at all: names are written as
// they are. Values need no scan: the walk writes dumps and numbers (printable by construction),
// ids read as FORM, LIST, CAT, RIFF or RIFX, and schema output only once it passed
// holdsOnlyPlainText. (Whether what is read back gives the same bytes is tested on the result.)
bool readsBackAsWritten(const XmlElement& element, u32 depth)
{
    if (depth >= XML_MAX_DEPTH || element.name.isEmpty())
        return false;
    for (u64 i = 0; i < element.name.length; i++)
        if (isBadNameByte(u8(element.name.data[i])))
            return false;
    for (const XmlAttribute* a : element.attributes) {
        if (a->name.isEmpty())
            return false;
        for (u64 i = 0; i < a->name.length; i++)
            if (isBadNameByte(u8(a->name.data[i])))
                return false;
    }
    for (const XmlElement* child : element.children)
        if (!readsBackAsWritten(*child, depth + 1))
            return false;
    return true;
}

// The checks of a document read for repacking; prints why one is refused.
bool isUsableDocument(const PtrArray<XmlElement>* document, const String& source)
{
    const char* name = source.c_str();
    if (!document) {
        printError("ERROR: Couldn't parse '%s'!\n", name);
        return false;
    }
    // An XML declaration in front of the root, as XML tools write one, is passed over.
    const XmlElement* first = documentRoot(*document);
    if (!first) {
        printError("ERROR: No XML root for '%s'!\n", name);
        return false;
    }
    const XmlElement& root = *first;
    if (!root.name.equals("IFF")) {
        printError("ERROR: Bad root IFF element for '%s'!\n", name);
        return false;
    }
    String version;
    if (!root.getAttribute(String("Version"), version)) {
        printError("ERROR: No version for '%s'!\n", name);
        return false;
    }
    const u32 number = parseUnsigned(version.c_str());
    if (number != 1) {
        printError("ERROR: Unrecognised version %u for '%s'!\n", number, name);
        return false;
    }
    return true;
}

void destroyDocument(PtrArray<XmlElement>* document)
{
    if (document)
        memDelete(document);
}

// What converting a file holds at its worst, for each byte of it: the document and its text at
// once, each up to five bytes a byte ("0xAB " for every byte of a dump), and what the walk
// keeps on the way.
constexpr u64 CONVERSION_BYTES_PER_BYTE = 12;

// Writes the document's IFF bytes into `out`; `length` receives how many of them are the file
// (less the final pad byte a "MissingFinalPad" root drops). False when an element cannot be
// written (the reasons are printed unless quiet).
bool buildIff(const PtrArray<XmlElement>& document, bool quiet, StoredStreams* streams, const ByteArray* file,
              ByteBuffer& out, u32& length)
{
    const XmlElement* first = documentRoot(document);
    if (!first)
        return false;
    const XmlElement& root = *first;
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    IffWriter writer(schemas, quiet);
    writer.reuse(streams, file);
    for (const XmlElement* child : root.children)
        xmlToIff(out, *child, writer, 0, 1);
    if (writer.errors || !out.ok())
        return false;
    length = out.length;
    String missingPad;
    if (root.getAttribute(String("MissingFinalPad"), missingPad)) {
        missingPad.trim();
        if (missingPad.trueWordIndex() >= 0 && length >= 8 && endsWithOddChunk(out.data(), 0, length))
            length--;
    }
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

// The document as the extracted file holds it, parsed again and written back: a file is only
// converted when that gives exactly its own bytes back. Takes the document (freed as soon as its
// text is made); `text` receives that text when the file converts and it is worth keeping.
bool rebuildsExactly(PtrArray<XmlElement>* document, const ByteArray& bytes, StoredStreams* streams, String& text)
{
    bool readable = true;
    for (const XmlElement* element : *document)
        readable = readable && readsBackAsWritten(*element, 0);
    bool written = false;
    if (readable)
        text = writeXml(*document, &written);
    destroyDocument(document);
    // The document read back looks into the text: the text is held only once.
    PtrArray<XmlElement>* parsed = nullptr;
    if (written && text.length <= 0xFFFFFFFFu)
        parsed = parseXmlInPlace(text);
    bool same = false;
    if (parsed && parsed->count == 1 && (*parsed)[0]->name.equals("IFF")) {
        ByteBuffer rebuilt(rebuiltSizeHint(&bytes));
        u32 length = 0;
        same = buildIff(*parsed, true, streams, &bytes, rebuilt, length) &&
               sameBytes(rebuilt.data(), length, bytes.data, bytes.count);
    }
    destroyDocument(parsed);
    if (!same || !keepsConvertedText(text.length, bytes.count))
        text.free();
    return same;
}

PtrArray<XmlElement>* buildDocument(TD::IFF& iff, const String& path, bool missingPad, bool tables, u8& mode,
                                    StoredStreams* streams)
{
    PtrArray<XmlElement>* document = memNew<PtrArray<XmlElement>>(true);
    XmlElement* root = document ? addXmlElement(*document, String("IFF")) : nullptr;
    if (!root) {
        destroyDocument(document);
        return nullptr;
    }
    root->addAttribute(String("Version"), String("1"));
    if (missingPad)
        root->addAttribute(String("MissingFinalPad"), String("true"));
    if (tables)
        root->addAttribute(String("Quirks"), String("Tables"));
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    bool ok = true;
    while (ok && !iff.atEnd()) {
        if (!iff.isContainer()) {
            printError("ERROR: Root IFF chunk isn't form for '%s'.\n", path.c_str());
            ok = false;
            break;
        }
        ok = containerToXml(iff, String(), *root, schemas, 1, true, streams);
    }
    if (!ok) {
        destroyDocument(document);
        return nullptr;
    }
    mode = tables ? ContainerIFF::MODE_TABLES : ContainerIFF::MODE_PLAIN;
    if (iff.errorFlags & TD::IFF::ERROR_LIST_AS_CHUNK) {
        root->addAttribute(String("Errors"), String("ListAsChunk"));
        if (mode != ContainerIFF::MODE_TABLES)
            mode = ContainerIFF::MODE_LIST_AS_CHUNK;
    }
    return document;
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

ByteArray* documentToIff(const PtrArray<XmlElement>& document, bool quiet, StoredStreams* streams,
                         const ByteArray* file)
{
    ByteBuffer out(rebuiltSizeHint(file));
    u32 length = 0;
    if (!buildIff(document, quiet, streams, file, out, length))
        return nullptr;
    if (length == out.length)
        return out.release();
    return newByteArray(out.data(), length);
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

// iffToDocument, holding in the archive's budget, with `perByte` (0: nothing), what converting
// takes: that many bytes for each byte of the file before the walk, and for each byte its
// compressed chunks grow by when decoded after it. `held` receives what was reserved (to be
// released), `refused` whether it did not fit (nothing is converted then).
PtrArray<XmlElement>* convertIff(const String& path, const ByteArray& data, u8& mode, bool quiet,
                                 StoredStreams* streams, u64 perByte, u64& held, bool& refused)
{
    held = 0;
    refused = false;
    mode = ContainerIFF::MODE_PLAIN;
    const bool missingPad = isMissingFinalPad(data);
    const TD::Array<unsigned char> bytes = readerView(data);
    TD::ByteArrayReader reader(&bytes);
    TD::IFF* iff = TD::IFF::open(reader);
    if (!iff)
        return nullptr;
    PtrArray<XmlElement>* document = nullptr;
    const u8 flavour = iff->flavour;
    if (flavour & TD::IFF::FLAVOUR_AIFF) {
        if (!quiet)
            printError("ERROR: AIFFs not supported!\n");
    } else if (flavour & TD::IFF::FLAVOUR_3DO) {
        if (!quiet)
            printError("ERROR: Big Endian IFFs not supported!\n");
    } else if (!(flavour & TD::IFF::FLAVOUR_SAVE_INFO) && !toolOptions().noConvert) {
        const u64 reserve = u64(data.count) * perByte + 1;
        refused = perByte && !reserveTransient(reserve);
        held = perByte && !refused ? reserve : 0;
        if (!refused)
            document =
                buildDocument(*iff, path, missingPad, (flavour & TD::IFF::FLAVOUR_TABLES) != 0, mode, streams);
        const u64 growth = document && perByte && streams ? streams->decodedGrowth() * perByte : 0;
        if (growth && !reserveTransient(growth)) {
            destroyDocument(document);
            document = nullptr;
            refused = true;
        } else {
            held += growth;
        }
    }
    TD::deleteObject(iff);
    return document;
}
}

PtrArray<XmlElement>* iffToDocument(const String& path, const ByteArray& data, u8& mode, bool quiet,
                                    StoredStreams* streams)
{
    u64 held = 0;
    bool refused = false;
    return convertIff(path, data, mode, quiet, streams, 0, held, refused);
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
    destroyDocument(document);
    document = nullptr;
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
    u64 held = 0;
    bool refused = false;
    PtrArray<XmlElement>* document =
        convertIff(path, data, mode, false, streams, CONVERSION_BYTES_PER_BYTE, held, refused);
    const bool walked = document != nullptr;
    String text;
    const bool converts = walked && rebuildsExactly(document, data, streams, text);
    releaseTransient(held);
    if (refused && toolOptions().verbosity >= 1)
        printf(" -> '%s' stays raw: converting it would pass the archive's budget.\n", path.c_str());
    if (walked && !converts && toolOptions().verbosity >= 2)
        printf(" -> '%s' stays raw: its XML would not rebuild it exactly.\n", path.c_str());
    ContainerIFF* c = memNew<ContainerIFF>(path, data, converts, converts ? mode : u8(MODE_PLAIN));
    if (c && !c->bytes) {
        deleteContainer(c);
        c = nullptr;
    }
    if (!c) {
        memDelete(streams);
        return nullptr;
    }
    if (converts && streams->size() != 0)
        c->streams = streams;
    else
        memDelete(streams);
    if (converts && !text.isEmpty())
        keepConvertedText(c->xmlFile, std::move(text));
    return c;
}

String ContainerIFF::xmlText()
{
    if (document)
        return writeXml(*document);
    if (!converts)
        return String();
    if (!xmlFile.isEmpty())
        return String(xmlFile.c_str(), xmlFile.length - 1);
    u8 ignored = 0;
    PtrArray<XmlElement>* made = iffToDocument(path, *bytes, ignored, true);
    String text = made ? writeXml(*made) : String();
    destroyDocument(made);
    return text;
}

ByteArray* ContainerIFF::currentBytes(bool quiet)
{
    // Bytes the container holds go out as views: the caller copies them where they belong.
    if (!document)
        return newByteView(bytes->data, bytes->count);
    if (built)
        return newByteView(built->data, built->count);
    return documentToIff(*document, quiet, streams, bytes);
}

ByteArray* ContainerIFF::serialise(ProgressFunction progress, u32 depth)
{
    ByteArray* out = currentBytes(false);
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
    if (opt.verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", file.c_str());
    }
    if (!isConverted())
        return writeExtractedFile(file, bytes->data, bytes->count) ? 1 : 0;
    if (!document && !xmlFile.isEmpty())
        return writeExtractedFile(file, reinterpret_cast<const u8*>(xmlFile.c_str()), xmlFile.length) ? 1 : 0;
    String text = xmlText();
    if (!text.isEmpty())
        text += "\n";
    if (text.isEmpty() && !outOfMemory("extracting", file.c_str())) {
        printError("ERROR: Write failure for '%s'!\n", file.c_str());
        noteToolFailure();
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
    String file = source;
    ByteArray* data = nullptr;
    if (source.isEmpty() || source.endsWith("/")) {
        // A lone IFF file repacked from the directory it was extracted into.
        bool missing = true;
        if (!opt.noConvert) {
            file = joinPath(source, getFileName(secondPath));
            data = readRepackFile(file, "", &missing);
        }
        if (!data && missing) {
            String rawFile = joinPath(source, getFileName(path));
            data = readRepackFile(rawFile, "", &missing);
            if (data || opt.noConvert)
                file = rawFile;
        }
        if (!data && missing)
            printError("ERROR: Couldn't read '%s'!\n", file.c_str());
    } else {
        data = readRepackFile(file);
    }
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
    document = parseXml(*data);
    deleteByteArray(data);
    if (!isUsableDocument(document, file))
        return false;
    // An edit that cannot be written fails here, before anything is written; what is written is
    // kept for serialise.
    built = documentToIff(*document, false, streams, bytes);
    if (!built)
        return false;
    if (sameBytes(built, bytes)) {
        // Unedited: the container is again the file it was opened from.
        dropDocument();
        converts = wasConverted;
    }
    return true;
}

void ContainerIFF::hashContents(Md5& context, u32 indent)
{
    ByteArray* made = document && !built ? documentToIff(*document, true, streams, bytes) : nullptr;
    const ByteArray* source = document && built ? built : (made ? made : bytes);
    if (source && source->count)
        context.update(source->data, source->count);
    deleteByteArray(made);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("IFF -> %llu\n", (unsigned long long)peekDigest(context));
    }
}
