#include "framework/xml/XmlWriter.h"
#include "framework/log/Log.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlText.h"

#include <cstring>

static_assert(XML_MAX_DEPTH < 257, "every level the writer takes needs a place");

XmlWriter::XmlWriter(TextBuilder& target, u32 depth) : out(target), base(depth)
{
}

void XmlWriter::endStartTag(bool forText)
{
    if (!level)
        return;
    Level& parent = levels[level - 1];
    if (parent.state != TAG_OPEN)
        return;
    out.append(">\n", 2);
    parent.state = forText ? HAS_TEXT : CHILDREN;
}

bool XmlWriter::open(const char* name, u64 length)
{
    if (!ok())
        return false;
    const u32 at = base + level;
    if (at >= XML_MAX_DEPTH || level >= sizeof(levels) / sizeof(levels[0])) {
        logError("XML", "Element '%.*s' is nested more than %u levels deep!", int(length), name, XML_MAX_DEPTH);
        failed = true;
        return false;
    }
    endStartTag(false);
    out.appendRepeated(' ', at);
    out.append('<');
    levels[level] = {out.length, length, TAG_OPEN};
    out.append(name, length);
    level++;
    return out.ok();
}

bool XmlWriter::open(const char* name)
{
    return open(name, strlen(name));
}

void XmlWriter::attribute(const char* name, const char* value, u64 length)
{
    if (!ok())
        return;
    out.append(' ');
    out.append(name, strlen(name));
    out.append("=\"", 2);
    if (length) {
        if (!xmlCanHold(value, length))
            unholdable = true;
        if (char* at = out.extend(xmlEscapedLength(value, length, true)))
            writeXmlEscaped(at, value, length, true);
    }
    out.append('"');
}

void XmlWriter::attributeDecimal(const char* name, u64 value)
{
    if (!ok())
        return;
    out.append(' ');
    out.append(name, strlen(name));
    out.append("=\"", 2);
    out.appendDecimal(value);
    out.append('"');
}

void XmlWriter::text(const char* value, u64 length)
{
    if (!length || !ok())
        return;
    if (!xmlCanHold(value, length))
        unholdable = true;
    if (char* at = rawText(xmlEscapedLength(value, length, false)))
        writeXmlEscaped(at, value, length, false);
}

char* XmlWriter::rawText(u64 length)
{
    if (!ok() || !level || levels[level - 1].state != TAG_OPEN)
        return nullptr;
    endStartTag(true);
    out.appendRepeated(' ', base + level);
    out.extend(length);
    out.append('\n');
    // The end of the text may have moved the block: where the text lies now.
    return out.ok() ? out.data + out.length - 1 - length : nullptr;
}

void XmlWriter::close()
{
    if (!level)
        return;
    const Level& l = levels[--level];
    if (!ok())
        return;
    if (l.state == TAG_OPEN) {
        // A declaration such as '?xml' closes the way it opened.
        if (l.nameLength && out.data[l.nameAt] == '?')
            out.append("?>\n", 3);
        else
            out.append("/>\n", 3);
        return;
    }
    out.appendRepeated(' ', base + level);
    out.append("</", 2);
    if (char* at = out.extend(l.nameLength))
        memmove(at, out.data + l.nameAt, l.nameLength);
    out.append(">\n", 2);
}

XmlWriter::Mark XmlWriter::mark() const
{
    return {out.length, level, u8(level ? levels[level - 1].state : TAG_OPEN), unholdable};
}

void XmlWriter::rewind(const Mark& m)
{
    out.truncate(m.length);
    level = m.level;
    if (level)
        levels[level - 1].state = State(m.state);
    unholdable = m.unholdable;
}
