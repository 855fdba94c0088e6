#include "tool/convert/schemas/RecordList.h"

const XmlElement* firstChildNamed(const XmlElement& parent, const char* name)
{
    for (const XmlElement* child : parent.children)
        if (child && child->name.equals(name))
            return child;
    return nullptr;
}

void recordsToXml(Stream& body, XmlElement& parent, const char* recordName, const SchemaField* fields,
                  u32 fieldCount)
{
    // A layout whose fields all wait for more bytes than are left would read the same tail for
    // ever: stop once a record takes nothing.
    for (u64 left = body.bytesLeft(); left;) {
        if (!recordToXml(body, parent, recordName, fields, fieldCount))
            return;
        const u64 now = body.bytesLeft();
        if (now == left)
            return;
        left = now;
    }
}

bool recordsFromXml(const XmlElement& parent, const char* recordName, const SchemaField* fields, u32 fieldCount,
                    ByteBuffer& out)
{
    for (const XmlElement* child : parent.children) {
        if (!child || !child->name.equals(recordName))
            continue;
        if (!recordFromXml(*child, fields, fieldCount, true, out))
            return false;
    }
    return true;
}
