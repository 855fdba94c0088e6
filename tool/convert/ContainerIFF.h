#pragma once
#include "framework/core/PtrArray.h"
#include "framework/xml/XmlElement.h"
#include "tool/containers/Container.h"

// One IFF file, alone or inside an archive. It is extracted as an XML document when that
// document rebuilds the file byte for byte; otherwise (or with noConvert) it is kept raw and its
// bytes pass through unchanged. Repack reads an edited document (or raw replacement bytes) back,
// and serialise rebuilds the IFF bytes from it. Until then the container holds only the bytes: the
// document is made again when it is written out, so an archive of many documents stays small.
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
    PtrArray<XmlElement>* document = nullptr; // an edited document read by repack; null otherwise

    // Copies the bytes.
    ContainerIFF(const String& path, const ByteArray& bytes, bool converts, u8 mode);
    ~ContainerIFF() override;

    static bool probe(const String& name, const ByteArray& bytes);
    // Never null for data that begins "FORM": what cannot be converted is kept raw.
    static Container* open(const String& path, const ByteArray& bytes);

    // Whether the container is written out as XML.
    bool isConverted() const { return document != nullptr || converts; }
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

// The XML document of IFF bytes (one top-level element "IFF"), or null when they are not
// converted: refused kinds (their line is printed unless quiet), noConvert, or a part that cannot
// be walked. `mode` receives what the walk found.
PtrArray<XmlElement>* iffToDocument(const String& path, const ByteArray& bytes, u8& mode, bool quiet);
// The document's bytes: each child of its root "IFF" written in turn, then the final pad byte
// dropped when the root says "MissingFinalPad". Null when an element cannot be written (the
// reasons are printed unless quiet).
ByteArray* documentToIff(const PtrArray<XmlElement>& document, bool quiet);
// Whether [start, end) ends in an odd-sized chunk, following the last chunk into nested "FORM"
// and "LIST" containers.
bool endsWithOddChunk(const u8* data, u64 start, u64 end);
// True when the data lacks the pad byte of its outer "FORM" (one byte short of it).
bool isMissingFinalPad(const ByteArray& bytes);
