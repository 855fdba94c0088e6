#pragma once
#include "framework/core/PtrArray.h"
#include "framework/xml/XmlElement.h"
#include "tool/containers/Container.h"

// One IFF file, alone or inside an archive. It is converted to an XML document when that
// document rebuilds the file byte for byte; otherwise (or with noConvert) it is kept raw and
// its bytes pass through unchanged. Extraction writes NAME.xml (or the raw NAME), repack reads
// an edited document (or raw replacement bytes) back, and serialise rebuilds the IFF bytes.
class ContainerIFF : public Container
{
public:
    enum Mode : u8
    {
        MODE_PLAIN = 0,
        MODE_TABLES = 1,       // a "TABL" at offset 12
        MODE_LIST_AS_CHUNK = 2, // a "LIST" used as a chunk name
    };

    u8 mode = MODE_PLAIN;
    ByteArray* bytes = nullptr;
    PtrArray<XmlElement>* document = nullptr; // one top-level element "IFF"; null when raw

    // Copies the bytes; takes the document.
    ContainerIFF(const String& path, const ByteArray& bytes, PtrArray<XmlElement>* document, u8 mode);
    ~ContainerIFF() override;

    static bool probe(const String& name, const ByteArray& bytes);
    // Never null for data that begins "FORM": what cannot be converted is kept raw.
    static Container* open(const String& path, const ByteArray& bytes);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override { return 1; }
    void hashContents(Md5& context, u32 indent) override;

private:
    void dropDocument();
};

// The document's bytes: each child of its root "IFF" written in turn, then the final pad byte
// dropped when the root says "MissingFinalPad". Null when an element cannot be written (the
// reasons are printed unless quiet).
ByteArray* documentToIff(const PtrArray<XmlElement>& document, bool quiet);
// Whether [start, end) ends in an odd-sized chunk, following the last chunk into nested "FORM"
// and "LIST" containers.
bool endsWithOddChunk(const u8* data, u64 start, u64 end);
// True when the data lacks the pad byte of its outer "FORM" (one byte short of it).
bool isMissingFinalPad(const ByteArray& bytes);
