#include "framework/xml/XmlReader.h"
#include "framework/app/ProcessUtils.h"
#include "framework/log/Log.h"
#include "framework/xml/XmlText.h"

#include <cstring>
#include <utility>

namespace
{
const char* const CHANNEL = "XML";
// Attributes of one tag between looks at the quit signal: a tag may hold millions.
constexpr u32 QUIT_CHECK_ATTRIBUTES = 4096;

const char* skipByteOrderMark(const char* bytes, u64& n)
{
    if (bytes && n >= 3 && u8(bytes[0]) == 0xEF && u8(bytes[1]) == 0xBB && u8(bytes[2]) == 0xBF) {
        n -= 3;
        return bytes + 3;
    }
    return bytes;
}

// The encoding of a document in UTF-16 or UTF-32, told by its byte-order mark or by how its
// first '<' is spelt; null for any other.
const char* wideEncoding(const char* bytes, u64 n)
{
    static const struct
    {
        const char* start;
        u32 length;
        const char* name;
    } marks[] = {
        {"\xFF\xFE\0\0", 4, "UTF-32"}, {"\0\0\xFE\xFF", 4, "UTF-32"}, {"<\0\0\0", 4, "UTF-32"},
        {"\0\0\0<", 4, "UTF-32"},       {"\xFF\xFE", 2, "UTF-16"},     {"\xFE\xFF", 2, "UTF-16"},
        {"<\0", 2, "UTF-16"},            {"\0<", 2, "UTF-16"},
    };
    for (const auto& m : marks) {
        if (bytes && n >= m.length && memcmp(bytes, m.start, m.length) == 0)
            return m.name;
    }
    return nullptr;
}

// The first byte no XML document may hold, raw, anywhere: a 0 byte, or a control byte but tab,
// line feed and carriage return; its position, or n when there is none.
u64 firstForbiddenByte(const char* text, u64 n)
{
    const auto forbidden = [](u8 c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; };
    // A block at a time, without a branch per byte (the compiler makes it a few vector compares);
    // only a block that holds such a byte is looked at again.
    constexpr u64 BLOCK = 64;
    u64 i = 0;
    for (; i + BLOCK <= n; i += BLOCK) {
        const u8* b = reinterpret_cast<const u8*>(text + i);
        u8 any = 0;
        for (u64 j = 0; j < BLOCK; j++)
            any |= u8(forbidden(b[j]));
        if (any)
            break;
    }
    for (; i < n; i++) {
        if (forbidden(u8(text[i])))
            return i;
    }
    return n;
}
}

XmlReader::XmlReader(const char* bytes, u64 n)
{
    tokenizer.data = skipByteOrderMark(bytes, n);
    tokenizer.length = tokenizer.data ? n : 0;
    tokenizer.spanText = true;
    tokenizer.spanTags = true;
    // Each character of such a document is several bytes: none of it can be read as bytes.
    if (const char* wide = wideEncoding(tokenizer.data, tokenizer.length)) {
        unreadable = wide;
        refusedAtStart = true;
    }
    // A 0 byte would otherwise end the text early and pass off a cut document as whole; any other
    // control byte XML cannot carry, wherever it stands, makes no XML either.
    else if (const u64 at = firstForbiddenByte(tokenizer.data, tokenizer.length); at < tokenizer.length) {
        forbiddenByte = u8(tokenizer.data[at]);
        forbiddenLine = 1;
        const char* end = tokenizer.data + at;
        for (const char* p = tokenizer.data; (p = static_cast<const char*>(memchr(p, '\n', size_t(end - p)))); p++)
            forbiddenLine++;
        refusedAtStart = true;
    }
}

// Said at the first read, so that a quiet reader says nothing.
XmlReader::Event XmlReader::refuseAtStart()
{
    refusedAtStart = false;
    if (!quiet && forbiddenLine && !forbiddenByte)
        logError(CHANNEL, "Unexpected NUL byte in XML text! (Line %u)", forbiddenLine);
    else if (!quiet && forbiddenLine)
        logError(CHANNEL, "The byte 0x%02X is a control character, which XML cannot carry! (Line %u)",
                 forbiddenByte, forbiddenLine);
    else if (!quiet)
        logError(CHANNEL, "The document is in the encoding '%s', which cannot be read! (Line 1)", unreadable.c_str());
    return fail();
}

XmlReader::~XmlReader()
{
    memFree(attributesAt);
}

void XmlReader::readAsContentOf(const String& elementName)
{
    contentMode = true;
    open = 1;
    depthNow = 1;
    names[1] = elementName;
    hasValue[1] = 0;
}

XmlReader::Event XmlReader::fail()
{
    current = FAILED;
    return current;
}

XmlReader::Event XmlReader::endOfElementData(const String& elementName)
{
    if (!quiet)
        logError(CHANNEL, "Unexpected end of data while parsing element '%s'!", elementName.c_str());
    return fail();
}

XmlSpan XmlReader::attributeName(u32 i) const
{
    const AttributeAt& a = attributesAt[i];
    return {tokenizer.data + tagAt + a.name, a.nameLength};
}

XmlSpan XmlReader::attributeValue(u32 i) const
{
    const AttributeAt& a = attributesAt[i];
    if (a.value < a.name)
        return {decoded.c_str() + a.value, a.valueLength};
    return {tokenizer.data + tagAt + a.value, a.valueLength};
}

XmlSpan XmlReader::attribute(const char* wanted, u64 length) const
{
    for (u32 i = 0; i < attributeTotal; i++) {
        if (attributesAt[i].nameLength == length && attributeName(i).equals(wanted, length))
            return attributeValue(i);
    }
    return {};
}

void XmlReader::beginAttributes()
{
    attributeTotal = 0;
    decoded.keepRange(0, 0);
    // The element's name ends right before: every attribute stands after it.
    tagAt = tokenizer.position - 1;
}

// False when memory ran out (`refused` empty) or the value cannot be read (what `refused` says).
bool XmlReader::addAttribute(const char* name, u64 nameLength, const char* value, u64 valueLength,
                             XmlRefusal& refused)
{
    refused = XmlRefusal();
    const u64 nameAt = u64(name - tokenizer.data) - tagAt;
    u64 valueAt = u64(value - tokenizer.data) - tagAt;
    // A tag of 4 GiB is more than any file the tool reads.
    if (valueAt + valueLength > 0xFFFFFFFFu)
        return false;
    if (xmlNeedsDecoding(value, valueLength, attributeKind())) {
        valueAt = decoded.length;
        if (!appendXmlText(value, valueLength, decoded, refused, attributeKind()))
            return false;
        valueLength = decoded.length - valueAt;
    }
    if (attributeTotal == attributeRoom) {
        // Half as much again each time: a tag of millions costs its records and half as many more
        // at most, with each record moved a few times.
        const u64 room = attributeRoom < 16 ? 16 : u64(attributeRoom) + attributeRoom / 2;
        void* grown = room <= 0xFFFFFFFFu ? memRealloc(attributesAt, room * sizeof(AttributeAt)) : nullptr;
        if (!grown)
            return false;
        attributesAt = static_cast<AttributeAt*>(grown);
        attributeRoom = u32(room);
    }
    attributesAt[attributeTotal++] = {u32(nameAt), u32(nameLength), u32(valueAt), u32(valueLength)};
    return true;
}

bool XmlReader::decode(const char* from, u64 length, String& into)
{
    XmlTextKind kind;
    kind.encoding = encoding;
    XmlRefusal refused;
    if (decodeXmlText(from, length, into, refused, kind))
        return true;
    refusal(refused);
    return false;
}

void XmlReader::refusal(const XmlRefusal& refused)
{
    if (quiet)
        return;
    if (refused.control)
        logError(CHANNEL, "The byte 0x%02X is a control character, which XML cannot carry! (Line %u)", refused.byte,
                 tokenizer.line);
    else if (refused.forbidden)
        logError(CHANNEL, "The character U+%04X is a control character, which XML cannot carry! (Line %u)",
                 refused.character, tokenizer.line);
    else if (refused.byte)
        logError(CHANNEL, "The byte 0x%02X is not US-ASCII, which the document says it is! (Line %u)", refused.byte,
                 tokenizer.line);
    else if (refused.character == 0x110000)
        logError(CHANNEL, "A character reference names no character (past U+10FFFF)! (Line %u)", tokenizer.line);
    else if (refused.character)
        logError(CHANNEL,
                 "The character U+%04X cannot be stored: each character must be one byte (U+0000 to U+00FF)! "
                 "(Line %u)",
                 refused.character, tokenizer.line);
    else
        logError(CHANNEL, "Out of memory reading text! (Line %u)", tokenizer.line);
}

namespace
{
bool isTextBlank(u8 c)
{
    return c && c <= 0x20;
}

// The parts of a text token that hold comments, processing instructions or CDATA sections, in
// order: plain text (read with references), a comment or instruction (dropped), a section (its
// content read as it is).
struct TextPart
{
    enum Kind : u8
    {
        PLAIN,
        COMMENT,
        CDATA,
    };
    Kind kind;
    u64 begin; // the part, markup included
    u64 end;
};

// The part of t[0, n) that starts at `at`.
TextPart partAt(const char* t, u64 n, u64 at)
{
    if (n - at >= 9 && memcmp(t + at, "<![CDATA[", 9) == 0) {
        const void* close = memmem(t + at + 9, size_t(n - at - 9), "]]>", 3);
        return {TextPart::CDATA, at, close ? u64(static_cast<const char*>(close) - t) + 3 : n};
    }
    const auto passedOver = [&](u64 i) { return xmlPassedOverAt(t, n, i); };
    if (passedOver(at))
        return {TextPart::COMMENT, at, xmlPassedOverEnd(t, n, at)};
    u64 end = at + 1;
    for (;;) {
        const void* open = end < n ? memchr(t + end, '<', size_t(n - end)) : nullptr;
        end = open ? u64(static_cast<const char*>(open) - t) : n;
        if (end >= n || passedOver(end) || (n - end >= 9 && memcmp(t + end, "<![CDATA[", 9) == 0))
            return {TextPart::PLAIN, at, end};
        end++;
    }
}
}

bool XmlReader::readMarkedText(const char* t, u64 n)
{
    // A section is character data like any other: the text is trimmed of the blanks at the ends
    // of what the sections and plain runs hold together, once its comments are gone.
    const auto content = [&](const TextPart& part, u64& from, u64& to) {
        from = part.begin;
        to = part.end;
        if (part.kind == TextPart::CDATA) {
            from += 9;
            to = to >= from + 3 ? to - 3 : from;
        }
    };
    u64 first = n, last = 0;
    for (u64 at = 0; at < n;) {
        const TextPart part = partAt(t, n, at);
        at = part.end;
        if (part.kind == TextPart::COMMENT)
            continue;
        u64 a, b;
        content(part, a, b);
        while (a < b && isTextBlank(u8(t[a])))
            a++;
        while (b > a && isTextBlank(u8(t[b - 1])))
            b--;
        if (a < b) {
            first = first < a ? first : a;
            last = b;
        }
    }
    decoded.keepRange(0, 0);
    XmlTextKind kind;
    kind.encoding = encoding;
    for (u64 at = 0; at < last;) {
        const TextPart part = partAt(t, n, at);
        at = part.end;
        if (part.kind == TextPart::COMMENT)
            continue;
        u64 from, to;
        content(part, from, to);
        from = from > first ? from : first;
        to = to < last ? to : last;
        if (from >= to)
            continue;
        // A section's content is read as it is, without its markup.
        kind.literal = part.kind == TextPart::CDATA;
        XmlRefusal refused;
        if (!appendXmlText(t + from, to - from, decoded, refused, kind)) {
            refusal(refused);
            return false;
        }
    }
    return true;
}

void XmlReader::takeDeclaration()
{
    // The declaration (the document's first element, "?xml") says how its bytes are read.
    const XmlSpan named = attribute("encoding");
    if (!named || xmlEncodingNamed(named.data, named.length, encoding))
        return;
    unreadable = named.text();
    if (!quiet)
        logError(CHANNEL, "The document is in the encoding '%s', which cannot be read! (Line %u)", unreadable.c_str(),
                 tokenizer.line);
    current = FAILED;
}

XmlReader::Event XmlReader::startElement()
{
    // The name is the token just read.
    const u32 at = open + 1;
    names[at].assign(tokenizer.spanData(), tokenizer.spanLength);
    // The declaration says how the bytes are read only where it stands first; anywhere else it
    // would be passed over and the bytes read otherwise than it says.
    if (names[at].equals("?xml") && (open || sawElement || tokenizer.passedInstruction)) {
        if (!quiet)
            logError(CHANNEL, "The XML declaration may stand only at the start of the document! (Line %u)",
                     tokenizer.line);
        return fail();
    }
    return startNamed(at);
}

// Most start tags are plain: name="value" pairs with blanks between, ending in ">" or "/>". Such
// a tag is read straight from the bytes, as the tokenizer would read it; anything else (and any
// tag cut short) is left to the tokenizer, which says what is wrong.
bool XmlReader::plainAttributes(bool& noBody)
{
    const char* d = tokenizer.data;
    const u64 n = tokenizer.length;
    u64 p = tokenizer.position;
    u32 lines = 0;
    noBody = false;
    beginAttributes();
    const auto skipBlanks = [&] {
        while (p < n && isBlankByte(u8(d[p]))) {
            lines += d[p] == '\n';
            p++;
        }
    };
    for (;;) {
        skipBlanks();
        if (p >= n)
            break;
        const char c = d[p];
        if (c == '>') {
            tokenizer.moveTo({p + 1, tokenizer.line + lines, false, false, false, '"'});
            return true;
        }
        if (c == '/') {
            noBody = true;
            p++;
            continue;
        }
        if (!isXmlNameByte(u8(c)))
            break;
        const u64 nameStart = p;
        while (p < n && isXmlNameByte(u8(d[p])))
            p++;
        if (p >= n || (d[p] != '=' && !isBlankByte(u8(d[p]))))
            break;
        const u64 nameEnd = p;
        skipBlanks();
        if (p >= n || d[p] != '=')
            break;
        p++;
        skipBlanks();
        if (p >= n || (d[p] != '"' && d[p] != '\''))
            break;
        const char* close = static_cast<const char*>(memchr(d + p + 1, d[p], size_t(n - p - 1)));
        if (!close)
            break;
        const char* value = d + p + 1;
        const u64 length = u64(close - value);
        for (const char* q = value; (q = static_cast<const char*>(memchr(q, '\n', size_t(close - q)))); q++)
            lines++;
        p = u64(close - d) + 1;
        // A value that cannot be read, and a quit, are said by the tokenizer's reading.
        XmlRefusal refused;
        if (!addAttribute(d + nameStart, nameEnd - nameStart, value, length, refused) ||
            (!(attributeTotal % QUIT_CHECK_ATTRIBUTES) && quitSignalsReceived()))
            break;
    }
    attributeTotal = 0;
    return false;
}

// A plain tag of an element's content, read straight from the bytes: blanks, then the end tag of
// the element open or the start tag of a child (see plainAttributes). False (nothing taken) for
// anything else.
bool XmlReader::plainTag(Event& event)
{
    const char* d = tokenizer.data;
    const u64 n = tokenizer.length;
    u64 p = tokenizer.position;
    u32 lines = 0;
    // Text of blanks only, as the tokenizer trims it (bytes of 0x80 and above are text there).
    for (; p < n; p++) {
        const u8 c = u8(d[p]);
        if (c == '\n')
            lines++;
        else if (!c || c > 0x20)
            break;
    }
    // Blanks after the element's text are a second text: the tokenizer says so.
    if (p + 1 >= n || d[p] != '<' || (p > tokenizer.position && hasValue[open]))
        return false;
    if (d[p + 1] == '/') {
        u64 q = p + 2;
        while (q < n && isXmlNameByte(u8(d[q])))
            q++;
        const String& name = names[open];
        if (q - (p + 2) != name.length || memcmp(d + p + 2, name.data, name.length) != 0)
            return false;
        while (q < n && isBlankByte(u8(d[q]))) {
            lines += d[q] == '\n';
            q++;
        }
        if (q >= n || d[q] != '>')
            return false;
        tokenizer.moveTo({q + 1, tokenizer.line + lines, false, false, false, '"'});
        depthNow = open--;
        event = current = END;
        return true;
    }
    // "<!" begins a comment, a CDATA section or a declaration: the tokenizer reads those.
    if (!isXmlNameByte(u8(d[p + 1])) || d[p + 1] == '!' || open >= XML_MAX_DEPTH)
        return false;
    const u32 at = open + 1;
    // Siblings mostly share a name: when the tag holds the name last read at this depth, it is
    // kept where it is and not scanned again.
    String& name = names[at];
    u64 q = p + 1 + name.length;
    const bool same = name.length && q < n && d[p + 1] == name.data[0] &&
                      memcmp(d + p + 1, name.data, size_t(name.length)) == 0 && !isXmlNameByte(u8(d[q]));
    if (!same) {
        q = p + 1;
        while (q < n && isXmlNameByte(u8(d[q])))
            q++;
    }
    if (q >= n || (d[q] != '>' && d[q] != '/' && !isBlankByte(u8(d[q]))))
        return false;
    const XmlTokenizer::Place before = tokenizer.place();
    if (!same)
        name.assignBytes(d + p + 1, q - p - 1);
    bool noBody = false;
    // A tag without attributes, the commonest, ends right after its name.
    if (d[q] == '>' || (d[q] == '/' && q + 1 < n && d[q + 1] == '>')) {
        noBody = d[q] == '/';
        attributeTotal = 0;
        tokenizer.moveTo({q + (noBody ? 2 : 1), tokenizer.line + lines, false, false, false, '"'});
    } else {
        tokenizer.moveTo({q, tokenizer.line + lines, true, false, false, '"'});
        if (!plainAttributes(noBody)) {
            // The tokenizer reads the tag from its start.
            tokenizer.moveTo(before);
            return false;
        }
    }
    hasValue[at] = 0;
    open = at;
    depthNow = at;
    pendingEnd = noBody;
    event = current = START;
    return true;
}

XmlReader::Event XmlReader::startNamed(u32 at)
{
    if (!tokenizer.hasMore())
        return endOfElementData(names[at]);
    hasValue[at] = 0;
    bool noBody = false;
    if (plainAttributes(noBody)) {
        open = at;
        depthNow = at;
        pendingEnd = noBody;
        return current = START;
    }
    beginAttributes();
    for (u32 read = 0;; read++) {
        // A quit stops the reading of a tag of any length within a moment.
        if (!(read % QUIT_CHECK_ATTRIBUTES) && quitSignalsReceived())
            return fail();
        tokenizer.next();
        const char first = tokenizer.spanFirst();
        if (first == '>')
            break;
        if (first == '/' || first == '?') {
            noBody = true;
        } else {
            const char* attributeName = tokenizer.spanData();
            const u64 nameLength = tokenizer.spanLength;
            const char* problem = nullptr;
            if (!tokenizer.hasMore())
                problem = "Unexpected end of data while parsing attribute '%s'!";
            else if ((tokenizer.next(), tokenizer.spanFirst()) != '=')
                problem = "Expected assignment for attribute '%s'! (Line %u)";
            else if (!tokenizer.hasMore())
                problem = "Unexpected end of data while parsing attribute '%s'!";
            else if ((tokenizer.next(), tokenizer.spanFirst()) != '"' && tokenizer.spanFirst() != '\'')
                problem = "Expected quoted value for attribute '%s'! (Line %u)";
            if (problem) {
                if (!quiet)
                    logError(CHANNEL, problem, String(attributeName, nameLength).c_str(), tokenizer.line);
                return fail();
            }
            // One pair of matching quotes is not part of the value.
            const char* value = tokenizer.spanData();
            u64 length = tokenizer.spanLength;
            if (length && value[length - 1] == value[0]) {
                value++;
                length = length >= 2 ? length - 2 : 0;
            }
            XmlRefusal refused;
            if (!addAttribute(attributeName, nameLength, value, length, refused)) {
                // Memory that ran out was said where it ran out.
                if (!memAllocationFailed())
                    refusal(refused);
                return fail();
            }
        }
        if (!tokenizer.hasMore())
            return endOfElementData(names[at]);
    }
    open = at;
    depthNow = at;
    pendingEnd = noBody;
    return current = START;
}

XmlReader::Event XmlReader::readContent()
{
    for (;;) {
        Event plain;
        if (!tokenizer.inTag && !tokenizer.inQuote && plainTag(plain))
            return plain;
        if (!tokenizer.hasMore()) {
            if (contentMode && open == 1) {
                depthNow = open--;
                return current = END;
            }
            return endOfElementData(names[open]);
        }
        tokenizer.next();
        if (!tokenizer.isText && tokenizer.spanIs('<')) {
            if (!tokenizer.hasMore())
                return endOfElementData(names[open]);
            tokenizer.next();
            if (tokenizer.spanFirst() == '/') {
                if (!tokenizer.hasMore())
                    return endOfElementData(names[open]);
                tokenizer.next();
                if (!tokenizer.spanEquals(names[open])) {
                    if (!quiet)
                        logError(CHANNEL, "Invalid closing tag '%s' in element '%s'! (Line %u)",
                                 String(tokenizer.spanData(), tokenizer.spanLength).c_str(), names[open].c_str(),
                                 tokenizer.line);
                    return fail();
                }
                if (!tokenizer.hasMore())
                    return endOfElementData(names[open]);
                tokenizer.next();
                if (tokenizer.spanFirst() != '>') {
                    if (!quiet)
                        logError(CHANNEL, "Expected final closing '>' in element '%s'! (Line %u)",
                                 names[open].c_str(), tokenizer.line);
                    return fail();
                }
                depthNow = open--;
                return current = END;
            }
            if (open >= XML_MAX_DEPTH) {
                if (!quiet)
                    logError(CHANNEL, "Element '%s' is nested more than %u levels deep! (Line %u)",
                             String(tokenizer.spanData(), tokenizer.spanLength).c_str(), XML_MAX_DEPTH,
                             tokenizer.line);
                return fail();
            }
            return startElement();
        }
        if (hasValue[open]) {
            if (!quiet)
                logError(CHANNEL, "Parsing content error in element '%s'! (Line %u)", names[open].c_str(),
                         tokenizer.line);
            return fail();
        }
        // Every token here is text: a span of the document.
        if (tokenizer.unclosedCdata) {
            if (!quiet)
                logError(CHANNEL, "Unclosed CDATA section in element '%s'! (Line %u)", names[open].c_str(),
                         tokenizer.line);
            return fail();
        }
        const char* from = tokenizer.data + tokenizer.spanStart;
        const u64 length = tokenizer.spanLength;
        if (!length)
            continue;
        XmlTextKind kind;
        kind.encoding = encoding;
        if (tokenizer.heldComment || tokenizer.heldCdata) {
            if (!readMarkedText(from, length))
                return fail();
            textData = decoded.data;
            textSize = decoded.length;
        } else if (xmlNeedsDecoding(from, length, kind)) {
            if (!decode(from, length, decoded))
                return fail();
            textData = decoded.data;
            textSize = decoded.length;
        } else {
            textData = from;
            textSize = length;
        }
        // An empty text sets no value, as a tree would hold none.
        hasValue[open] = textSize != 0;
        if (!textSize)
            continue;
        depthNow = open;
        return current = TEXT;
    }
}

XmlReader::Event XmlReader::next()
{
    if (refusedAtStart)
        return refuseAtStart();
    // What was read since memory ran out may be short: nothing more is read, nor allocated.
    if (current == FAILED || memAllocationFailed())
        return fail();
    if (pendingEnd) {
        pendingEnd = false;
        depthNow = open--;
        return current = END;
    }
    if (open)
        return readContent();
    while (tokenizer.hasMore()) {
        String& token = tokenizer.next();
        if (!tokenizer.spanLength)
            continue;
        if (expectName) {
            expectName = false;
            const Event e = startElement();
            if (e == START && !sawElement && names[open].equals("?xml"))
                takeDeclaration();
            sawElement = true;
            return current;
        }
        if (tokenizer.isText || tokenizer.spanFirst() != '<') {
            // Text is copied only to be named.
            token.assign(tokenizer.spanData(), tokenizer.spanLength);
            if (!quiet)
                logError(CHANNEL, "Found '%s' instead of next tag! (Line %u)", token.c_str(), tokenizer.line);
            return fail();
        }
        expectName = true;
    }
    // A document that stops right after a '<' is cut short, not complete.
    if (expectName) {
        if (!quiet)
            logError(CHANNEL, "Unexpected end of data after '<'! (Line %u)", tokenizer.line);
        return fail();
    }
    return current = FINISHED;
}

XmlElement* XmlReader::startedElement() const
{
    if (current != START)
        return nullptr;
    XmlElement* element = memNew<XmlElement>(name());
    if (!element)
        return nullptr;
    for (u32 i = 0; i < attributeTotal; i++) {
        XmlAttribute* copy = memNew<XmlAttribute>();
        if (!copy || !element->attributes.push(copy)) {
            memDelete(copy);
            memDelete(element);
            return nullptr;
        }
        const XmlSpan named = attributeName(i), value = attributeValue(i);
        copy->name.assignBytes(named.data, named.length);
        copy->value.assignBytes(value.data, value.length);
    }
    return element;
}

XmlElement* XmlReader::readElement()
{
    XmlElement* element = startedElement();
    bool ok = element != nullptr;
    const u32 own = depthNow;
    while (ok) {
        const Event e = next();
        if (e == END && depthNow == own)
            return element;
        if (e == START) {
            XmlElement* child = readElement();
            if (!child || !element->children.push(child)) {
                memDelete(child);
                ok = false;
            }
        } else if (e == TEXT) {
            if (valuesInPlace && textData != decoded.data) {
                // A view: capacity 0 marks bytes the String does not own.
                element->value.free();
                element->value.data = const_cast<char*>(textData);
                element->value.length = textSize;
            } else {
                element->value.assign(textData, textSize);
            }
        } else {
            ok = false;
        }
    }
    memDelete(element);
    return nullptr;
}

bool XmlReader::skipElement()
{
    if (current != START)
        return false;
    const u32 own = depthNow;
    for (;;) {
        const Event e = next();
        if (e == END && depthNow == own)
            return true;
        if (e == FAILED || e == FINISHED)
            return false;
    }
}

bool XmlReader::countChildren(u32& count)
{
    count = 0;
    if (current != START)
        return false;
    if (pendingEnd)
        return true;
    // A second reader goes ahead over the same bytes from here, inside this element.
    XmlReader ahead(nullptr, 0);
    ahead.tokenizer.data = tokenizer.data;
    ahead.tokenizer.length = tokenizer.length;
    ahead.tokenizer.spanText = true;
    ahead.tokenizer.spanTags = true;
    ahead.quiet = true;
    ahead.tokenizer.moveTo(tokenizer.place());
    ahead.current = START;
    ahead.open = 1;
    ahead.names[1] = names[open];
    for (;;) {
        const Event e = ahead.next();
        if (e == END && ahead.depthNow == 1)
            return true;
        if (e == START && ahead.depthNow == 2)
            count++;
        if (e == FAILED || e == FINISHED)
            return false;
    }
}
