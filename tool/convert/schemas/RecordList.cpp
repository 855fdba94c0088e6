#include "tool/convert/schemas/RecordList.h"

void recordsToXml(Stream& body, XmlWriter& out, const char* recordName, const SchemaField* fields, u32 fieldCount)
{
    // A layout whose fields all wait for more bytes than are left would read the same tail for
    // ever: stop once a record takes nothing.
    for (u64 left = body.bytesLeft(); left && out.ok();) {
        recordToXml(body, out, recordName, fields, fieldCount);
        const u64 now = body.bytesLeft();
        if (now == left)
            return;
        left = now;
    }
}

bool recordsFromXml(XmlReader& in, const char* recordName, const SchemaField* fields, u32 fieldCount,
                    ByteBuffer& out, IffWriter& writer)
{
    return eachRecord(in, writer, [&](XmlReader& record) {
        if (!record.name().equals(recordName)) {
            unexpectedElement(record, writer);
            return false;
        }
        return recordFromXml(record, fields, fieldCount, out, writer) && emptyContent(record, writer);
    });
}
