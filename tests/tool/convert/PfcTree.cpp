#include "tests/tool/convert/PfcTree.h"
#include "framework/core/TextUtils.h"
#include "tool/convert/XmlToPfc.h"

#include <utility>

using namespace pfc;

namespace
{
// Builds the document; a failed allocation fails the whole document.
struct DocumentBuilder
{
    using Element = XmlElement*;
    XmlElement* top;
    bool ok = true;

    explicit DocumentBuilder(XmlElement* root) : top(root) { text(root, "Version", "1", 1); }
    Element root() const { return top; }
    Element add(Element parent, const char* name)
    {
        XmlElement* e = parent ? parent->addChild(String(name)) : nullptr;
        ok = ok && e;
        return e;
    }
    Element addOptions(Element branch, u32 n)
    {
        Element option = nullptr;
        for (u32 i = 0; i < n && ok; i++)
            option = add(branch, "Option");
        return option;
    }
    void text(Element e, const char* name, const char* value, u32 length)
    {
        ok = ok && e && e->addAttribute(String(name), String(value, length));
    }
    void text(Element e, const char* name, const NameField& f) { text(e, name, f.bytes, f.length); }
    void number(Element e, const char* name, u32 value)
    {
        ok = ok && e && e->addAttribute(String(name), uintToString(value));
    }
    // The line with a double quote at either end, so the XML reader's trimming keeps its blanks.
    void line(Element e, const LineField& l)
    {
        String value(u64(l.length) + 2);
        value.append('"');
        if (l.length)
            value.append(reinterpret_cast<const char*>(l.data), l.length);
        value.append('"');
        if (e)
            e->value = std::move(value);
    }
};

// A record's own bytes: a Branch record's, without its options.
void encodeFields(const XmlElement& e, const RecordKind& kind, RecordOut& out)
{
    RecordFields record;
    record.take(kind, e.attributes);
    if (kind.lineAt <= kind.count)
        record.takeLine(e.value.data, e.value.length);
    record.write(out);
}

void encodeChildren(const XmlElement& parent, RecordOut& out, u32 depth)
{
    // Documents from the reader and the decoder never nest this deep; this only stops one
    // built by hand from recursing without end.
    if (depth >= PFC_MAX_DEPTH)
        return;
    bool firstOption = true;
    for (const XmlElement* child : parent.children) {
        if (named(child->name, "Option")) {
            // The branch record itself opens the first option.
            if (!firstOption)
                out.writeU8(TAG_OPTION);
            firstOption = false;
            encodeChildren(*child, out, depth + 1);
        } else if (const RecordKind* kind = recordKind(child->name)) {
            encodeFields(*child, *kind, out);
            if (kind == &BRANCH_RECORD) {
                encodeChildren(*child, out, depth + 1);
                out.writeU8(TAG_END_BRANCH);
            }
        }
    }
}
}

PtrArray<XmlElement>* pfcToXml(const ByteArray& bytes)
{
    PtrArray<XmlElement>* document = memNew<PtrArray<XmlElement>>(true);
    XmlElement* root = document ? addXmlElement(*document, String("PFC")) : nullptr;
    DocumentBuilder builder(root);
    if (!root || decodeTable(bytes, builder, false) != Decoded::WHOLE || !builder.ok) {
        memDelete(document);
        return nullptr;
    }
    return document;
}

void xmlToPfc(const XmlElement& parent, ByteBuffer& out)
{
    RecordOut records(out);
    encodeChildren(parent, records, 0);
}

const XmlElement* findPfcRoot(const PtrArray<XmlElement>& document)
{
    for (const XmlElement* e : document) {
        if (e->name.equals("PFC"))
            return e;
    }
    return nullptr;
}

bool checkPfcDocument(const XmlElement& root, const String& path)
{
    // Read back as text, as a repack reads an edited file.
    String text;
    if (!root.write(text, 0))
        return false;
    ByteBuffer written;
    RecordOut out(written);
    TableEncoder encoder(text.data, text.length, &path, out);
    return encoder.records();
}
