#include "framework/xml/XmlReader.h"
#include "framework/log/Log.h"
#include "framework/xml/XmlText.h"

#include <cstring>
#include <utility>

namespace
{
const char* const CHANNEL = "XML";

const char* skipByteOrderMark(const char* bytes, u64& n)
{
    if (bytes && n >= 3 && u8(bytes[0]) == 0xEF && u8(bytes[1]) == 0xBB && u8(bytes[2]) == 0xBF) {
        n -= 3;
        return bytes + 3;
    }
    return bytes;
}

// The line of the first 0 byte, or 0 when there is none.
u32 lineOfNul(const char* text, u64 length)
{
    const void* nul = length ? memchr(text, 0, length) : nullptr;
    if (!nul)
        return 0;
    u32 line = 1;
    for (const char* p = text; p < static_cast<const char*>(nul); p++) {
        if (*p == '\n')
            line++;
    }
    return line;
}
}

XmlReader::XmlReader(const char* bytes, u64 n)
{
    tokenizer.data = skipByteOrderMark(bytes, n);
    tokenizer.length = tokenizer.data ? n : 0;
    tokenizer.spanText = true;
    // A 0 byte would otherwise end the text early and pass off a cut document as whole.
    if (u32 line = lineOfNul(tokenizer.data, tokenizer.length)) {
        if (!quiet)
            logError(CHANNEL, "Unexpected NUL byte in XML text! (Line %u)", line);
        current = FAILED;
    }
}

XmlReader::~XmlReader()
{
    // The attribute objects kept for reuse are the array's own as well.
    attrs.count = attrsMade;
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

const String* XmlReader::attribute(const char* attributeName) const
{
    for (const XmlAttribute* a : attrs) {
        if (a->name.equals(attributeName))
            return &a->value;
    }
    return nullptr;
}

bool XmlReader::getAttribute(const String& attributeName, String& out) const
{
    for (const XmlAttribute* a : attrs) {
        if (a->name.equals(attributeName)) {
            out = a->value;
            return true;
        }
    }
    return false;
}

bool XmlReader::decode(const char* from, u64 length, String& into)
{
    u32 refused = 0;
    if (decodeXmlText(from, length, into, refused))
        return true;
    if (quiet)
        return false;
    if (!refused)
        logError(CHANNEL, "Out of memory reading text! (Line %u)", tokenizer.line);
    else
        logError(CHANNEL,
                 "The character U+%04X cannot be stored: each character must be one byte (U+0000 to U+00FF)! "
                 "(Line %u)",
                 refused, tokenizer.line);
    return false;
}

XmlAttribute* XmlReader::nextAttribute()
{
    if (attrs.count < attrsMade)
        return attrs.items[attrs.count++];
    XmlAttribute* a = memNew<XmlAttribute>();
    if (!a || !attrs.push(a)) {
        memDelete(a);
        return nullptr;
    }
    attrsMade++;
    return a;
}

XmlReader::Event XmlReader::startElement(const String& elementName)
{
    if (!tokenizer.hasMore())
        return endOfElementData(elementName);
    const u32 at = open + 1;
    names[at] = elementName;
    hasValue[at] = 0;
    attrs.count = 0;
    bool noBody = false;
    for (;;) {
        const String& token = tokenizer.next();
        if (token[0] == '>')
            break;
        if (token[0] == '/' || token[0] == '?') {
            noBody = true;
        } else {
            XmlAttribute* attribute = nextAttribute();
            if (!attribute)
                return fail();
            attribute->name = token;
            const char* attributeName = attribute->name.c_str();
            const char* problem = nullptr;
            if (!tokenizer.hasMore())
                problem = "Unexpected end of data while parsing attribute '%s'!";
            else if (tokenizer.next()[0] != '=')
                problem = "Expected assignment for attribute '%s'! (Line %u)";
            else if (!tokenizer.hasMore())
                problem = "Unexpected end of data while parsing attribute '%s'!";
            else if (tokenizer.next()[0] != '"' && tokenizer.token[0] != '\'')
                problem = "Expected quoted value for attribute '%s'! (Line %u)";
            if (problem) {
                if (!quiet)
                    logError(CHANNEL, problem, attributeName, tokenizer.line);
                return fail();
            }
            attribute->value = tokenizer.token;
            attribute->value.unquote();
            if (xmlNeedsDecoding(attribute->value.data, attribute->value.length)) {
                if (!decode(attribute->value.data, attribute->value.length, decoded))
                    return fail();
                std::swap(attribute->value, decoded);
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
        if (!tokenizer.hasMore()) {
            if (contentMode && open == 1) {
                depthNow = open--;
                return current = END;
            }
            return endOfElementData(names[open]);
        }
        const String& token = tokenizer.next();
        if (token.equals("<")) {
            if (!tokenizer.hasMore())
                return endOfElementData(names[open]);
            const String& childName = tokenizer.next();
            if (childName[0] == '/') {
                if (!tokenizer.hasMore())
                    return endOfElementData(names[open]);
                const String& closing = tokenizer.next();
                if (!closing.equals(names[open])) {
                    if (!quiet)
                        logError(CHANNEL, "Invalid closing tag '%s' in element '%s'! (Line %u)", closing.c_str(),
                                 names[open].c_str(), tokenizer.line);
                    return fail();
                }
                if (!tokenizer.hasMore())
                    return endOfElementData(names[open]);
                if (tokenizer.next()[0] != '>') {
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
                             childName.c_str(), XML_MAX_DEPTH, tokenizer.line);
                return fail();
            }
            return startElement(childName);
        }
        if (hasValue[open]) {
            if (!quiet)
                logError(CHANNEL, "Parsing content error in element '%s'! (Line %u)", names[open].c_str(),
                         tokenizer.line);
            return fail();
        }
        // Every token here is text: a span of the document, or the token when it held a comment.
        const bool copied = tokenizer.heldComment;
        const char* from = copied ? token.data : tokenizer.data + tokenizer.spanStart;
        const u64 length = copied ? token.length : tokenizer.spanLength;
        if (!length)
            continue;
        if (xmlNeedsDecoding(from, length)) {
            if (!decode(from, length, decoded))
                return fail();
            textData = decoded.data;
            textSize = decoded.length;
        } else if (copied) {
            decoded = token;
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
    if (current == FAILED)
        return current;
    if (pendingEnd) {
        pendingEnd = false;
        depthNow = open--;
        return current = END;
    }
    if (open)
        return readContent();
    while (tokenizer.hasMore()) {
        String& token = tokenizer.next();
        if (tokenizer.isText ? !tokenizer.spanLength : token.isEmpty())
            continue;
        if (expectName) {
            expectName = false;
            return startElement(token);
        }
        if (tokenizer.isText || token[0] != '<') {
            // Text is copied only to be named.
            if (tokenizer.isText && !tokenizer.heldComment)
                token.assign(tokenizer.data + tokenizer.spanStart, tokenizer.spanLength);
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

XmlElement* XmlReader::readElement()
{
    if (current != START)
        return nullptr;
    XmlElement* element = memNew<XmlElement>(name());
    if (!element)
        return nullptr;
    bool ok = true;
    for (const XmlAttribute* a : attrs) {
        XmlAttribute* copy = memNew<XmlAttribute>();
        if (!copy || !element->attributes.push(copy)) {
            memDelete(copy);
            ok = false;
            break;
        }
        copy->name = a->name;
        copy->value = a->value;
    }
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
