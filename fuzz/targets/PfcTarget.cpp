#include "fuzz/FuzzTargets.h"
#include "tests/tool/convert/PfcTree.h"
#include "tool/convert/ContainerPFC.h"

#include <cstring>

namespace
{
void noProgress(u32)
{
}

bool sameBytes(const ByteArray* a, const ByteArray& b)
{
    return a && a->count == b.count && (b.count == 0 || memcmp(a->data, b.data, b.count) == 0);
}

ByteArray* encodeDocument(const XmlElement& root)
{
    ByteBuffer out;
    xmlToPfc(root, out);
    return out.toArray();
}

// A converted table's XML file, read back as repack reads it: the edit check accepts it and it
// encodes to the table's bytes.
void checkConvertedTable(const ByteArray& bytes)
{
    PtrArray<XmlElement>* document = pfcToXml(bytes);
    bool written = false;
    String text = document ? writeXml(*document, &written) : String();
    memDelete(document);
    if (!written)
        fuzzFailure("a converted table's XML cannot be written");
    ByteArray file(reinterpret_cast<const u8*>(text.c_str()), u32(text.length));
    PtrArray<XmlElement>* parsed = parseXml(file);
    const XmlElement* root = parsed ? findPfcRoot(*parsed) : nullptr;
    if (!root || !checkPfcDocument(*root, String("FUZZ.PFC.xml")))
        fuzzFailure("a converted table's XML is not accepted back");
    ByteArray* encoded = encodeDocument(*root);
    if (!sameBytes(encoded, bytes))
        fuzzFailure("a converted table's XML does not encode to its bytes");
    deleteByteArray(encoded);
    memDelete(parsed);
}

// The input read as an edited XML file: what the edit check accepts is written as records that
// read back as the same records.
void checkEditedXml(const ByteArray& bytes)
{
    PtrArray<XmlElement>* parsed = parseXml(bytes);
    const XmlElement* root = parsed ? findPfcRoot(*parsed) : nullptr;
    if (root && checkPfcDocument(*root, String("FUZZ.PFC.xml"))) {
        ByteArray* written = encodeDocument(*root);
        PtrArray<XmlElement>* reread = pfcToXml(*written);
        if (!reread)
            fuzzFailure("accepted records nest too deeply to read back");
        ByteArray* again = encodeDocument(*findPfcRoot(*reread));
        if (!sameBytes(again, *written))
            fuzzFailure("accepted records do not read back as written");
        deleteByteArray(again);
        memDelete(reread);
        deleteByteArray(written);
    }
    memDelete(parsed);
}
}

// The archive walk of every container, then what a PFC table promises: any bytes open and
// serialise to themselves, and a table extracted as XML comes back from its file unchanged.
void fuzzPfc(const u8* data, size_t size)
{
    fuzzContainer("FUZZ.PFC", data, size);
    if (size > 0xFFFFFFFFu)
        return;
    ByteArray bytes(data, u32(size));
    ContainerPFC* pfc = static_cast<ContainerPFC*>(ContainerPFC::open(String("FUZZ.PFC"), bytes));
    ByteArray* image = pfc->serialise(noProgress, 0);
    if (!sameBytes(image, bytes))
        fuzzFailure("an opened PFC table does not serialise to its own bytes");
    deleteByteArray(image);
    if (pfc->converts)
        checkConvertedTable(bytes);
    deleteContainer(pfc);
    checkEditedXml(bytes);
}
