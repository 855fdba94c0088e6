#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/TextBuilder.h"
#include "framework/xml/XmlElement.h"
#include "tool/containers/Container.h"
#include "tool/convert/ChunkCompression.h"

// One IFF file, alone or inside an archive. It is extracted as an XML document when that
// document rebuilds the file byte for byte; otherwise (or with noConvert) it is kept raw and its
// bytes pass through unchanged. Repack reads an edited document (or raw replacement bytes) back,
// and serialise rebuilds the IFF bytes from it. An unedited file is written as its own bytes.
// The file is converted once, at open: a run that extracts keeps the XML text made there, and
// the stored streams of its compressed chunks are kept so that writing a document back encodes
// only the chunks that were edited.
class ContainerIFF : public Container
{
public:
    enum Mode : u8
    {
        MODE_PLAIN = 0,
        MODE_TABLES = 1,        // a "TABL" at offset 12
        MODE_LIST_AS_CHUNK = 2, // a "LIST" used as a chunk name
    };

    u8 mode = MODE_PLAIN;
    bool converts = false; // open found that the XML form gives the bytes back exactly
    ByteArray* bytes = nullptr;
    ByteArray* built = nullptr;       // the bytes of an edited document read by repack; null otherwise
    StoredStreams* streams = nullptr; // the compressed chunks of `bytes`; null when none
    String xmlFile;                   // the extracted file's text when kept from open

    // Copies the bytes.
    ContainerIFF(const String& path, const ByteArray& bytes, bool converts, u8 mode);
    ~ContainerIFF() override;

    static bool probe(const String& name, const ByteArray& bytes);
    // Never null for data that begins "FORM" (unless memory ran out): what cannot be converted
    // is kept raw.
    static Container* open(const String& path, const ByteArray& bytes);

    // Whether the container is written out as XML.
    bool isConverted() const { return built != nullptr || converts; }
    // The XML text it is extracted as; empty when it is raw.
    String xmlText();

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    String extractedName(const String& entryPath) const override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override { return 1; }
    void hashContents(Md5& context, u32 indent) override;

private:
    void dropDocument();
};

// The XML text of IFF bytes (one top-level element "IFF", without a final line end), written
// through `text`; false when they are not converted: refused kinds (their line is printed unless
// quiet), noConvert, a part that cannot be walked, or a text that could not grow (memory, the
// gate of `text`) or a quit signal. `mode` receives what the walk found; the compressed chunks
// shown decoded are recorded in `streams` when given.
bool iffToXml(const String& path, const ByteArray& bytes, TextBuilder& text, u8& mode, bool quiet,
              StoredStreams* streams = nullptr);
// The same into a String, empty when not converted.
String iffToXmlText(const String& path, const ByteArray& bytes, u8& mode, bool quiet);
// The IFF bytes of a document's XML text: each child of its root "IFF" written in turn, then the
// final pad byte dropped when the root says "MissingFinalPad". Null when the text is not such a
// document or an element cannot be written; the reasons are printed, naming `source`, unless
// it is null. A compressed chunk whose content `streams` holds is written as stored in `file`.
ByteArray* xmlToIffBytes(const char* text, u64 length, const String* source, StoredStreams* streams = nullptr,
                         const ByteArray* file = nullptr);
// Whether [start, end) ends in an odd-sized chunk, following the last chunk into nested "FORM"
// and "LIST" containers.
bool endsWithOddChunk(const u8* data, u64 start, u64 end);
// True when the data lacks the pad byte of its outer "FORM" (one byte short of it).
bool isMissingFinalPad(const ByteArray& bytes);
