#include "framework/xml/XmlElement.h"
#include "framework/log/Log.h"
#include "framework/xml/XmlText.h"
#include "framework/xml/XmlTokenizer.h"

#include <cstring>
#include <utility>

namespace
{
const char* const CHANNEL = "XML";

bool endOfElementData(const XmlElement& element)
{
    logError(CHANNEL, "Unexpected end of data while parsing element '%s'!", element.name.c_str());
    return false;
}

bool outOfMemory(const XmlElement& element)
{
    logError(CHANNEL, "Out of memory writing element '%s'!", element.name.c_str());
    return false;
}

void appendIndent(String& out, u32 depth)
{
    static const char blanks[] = "                                                                ";
    while (depth > 0) {
        u32 n = depth < sizeof(blanks) - 1 ? depth : u32(sizeof(blanks) - 1);
        out.append(blanks, n);
        depth -= n;
    }
}

// The line of the first 0 byte at or after `from`, or 0 when there is none.
u32 lineOfNul(const char* text, u64 length, u64 from, u32 line)
{
    const void* nul = from < length ? memchr(text + from, 0, length - from) : nullptr;
    if (!nul)
        return 0;
    for (const char* p = text + from; p < static_cast<const char*>(nul); p++) {
        if (*p == '\n')
            line++;
    }
    return line;
}

bool refuseNul(u32 line)
{
    logError(CHANNEL, "Unexpected NUL byte in XML text! (Line %u)", line);
    return false;
}

// The bytes that text read from the document stands for, into `out`; false (logged) for a
// character that no byte stands for, or when memory ran out.
bool decodeInto(String& out, const char* text, u64 length, u32 line)
{
    u32 refused = 0;
    if (decodeXmlText(text, length, out, refused))
        return true;
    if (!refused) {
        logError(CHANNEL, "Out of memory reading text! (Line %u)", line);
        return false;
    }
    logError(CHANNEL, "The character U+%04X cannot be stored: each character must be one byte (U+0000 to "
                      "U+00FF)! (Line %u)",
             refused, line);
    return false;
}
}

XmlElement::XmlElement(const String& elementName) : name(elementName)
{
    attributes.owns = 1;
}

XmlElement::XmlElement(String&& elementName) : name(std::move(elementName))
{
    attributes.owns = 1;
}

XmlElement::~XmlElement()
{
    if (!children.count)
        return;
    // Descendants are released from a heap list, so a tree of any depth is freed without
    // recursion.
    PtrArray<XmlElement> pending;
    for (XmlElement* child : children) {
        if (!pending.push(child))
            memDelete(child);
    }
    children.reset();
    while (pending.count) {
        XmlElement* element = pending.items[--pending.count];
        pending.items[pending.count] = nullptr;
        for (XmlElement* child : element->children) {
            if (!pending.push(child))
                memDelete(child);
        }
        element->children.reset();
        memDelete(element);
    }
}

XmlElement* XmlElement::addChild(const String& childName)
{
    XmlElement* child = memNew<XmlElement>(childName);
    if (child && !children.push(child)) {
        memDelete(child);
        return nullptr;
    }
    return child;
}

XmlElement* XmlElement::addChild(String&& childName)
{
    XmlElement* child = memNew<XmlElement>(std::move(childName));
    if (child && !children.push(child)) {
        memDelete(child);
        return nullptr;
    }
    return child;
}

XmlAttribute* XmlElement::addAttribute(String&& attributeName, String&& attributeValue)
{
    XmlAttribute* attribute = memNew<XmlAttribute>();
    if (!attribute)
        return nullptr;
    attribute->name = std::move(attributeName);
    attribute->value = std::move(attributeValue);
    return attachAttribute(attribute);
}

XmlAttribute* XmlElement::addAttribute(const String& attributeName, const String& attributeValue)
{
    XmlAttribute* attribute = memNew<XmlAttribute>();
    if (!attribute)
        return nullptr;
    attribute->name = attributeName;
    attribute->value = attributeValue;
    return attachAttribute(attribute);
}

XmlAttribute* XmlElement::addEmptyAttribute(const String& attributeName)
{
    return addAttribute(attributeName, String());
}

XmlAttribute* XmlElement::attachAttribute(XmlAttribute* attribute)
{
    if (!attribute)
        return nullptr;
    for (const XmlAttribute* a : attributes) {
        if (a->name.equals(attribute->name)) {
            logError(CHANNEL, "Element already has a value for attribute '%s'!", attribute->name.c_str());
            memDelete(attribute);
            return nullptr;
        }
    }
    if (!attributes.push(attribute)) {
        memDelete(attribute);
        return nullptr;
    }
    return attribute;
}

bool XmlElement::getAttribute(const String& attributeName, String& out) const
{
    for (const XmlAttribute* a : attributes) {
        if (a->name.equals(attributeName)) {
            out = a->value;
            return true;
        }
    }
    return false;
}

const String* XmlElement::attributeValue(const char* attributeName) const
{
    for (const XmlAttribute* a : attributes) {
        if (a->name.equals(attributeName))
            return &a->value;
    }
    return nullptr;
}

bool XmlElement::write(String& out, u32 depth) const
{
    if (depth >= XML_MAX_DEPTH) {
        logError(CHANNEL, "Element '%s' is nested more than %u levels deep!", name.c_str(), XML_MAX_DEPTH);
        return false;
    }
    appendIndent(out, depth);
    out.append("<", 1);
    out.append(name);
    for (const XmlAttribute* a : attributes) {
        out.append(" ", 1);
        out.append(a->name);
        out.append("=\"", 2);
        if (!appendXmlEscaped(out, a->value.data, a->value.length, true))
            return outOfMemory(*this);
        out.append("\"", 1);
    }
    if (children.count) {
        out.append(">\n", 2);
        for (const XmlElement* child : children) {
            if (!child->write(out, depth + 1))
                return false;
        }
    } else if (value.isEmpty()) {
        // A declaration such as '?xml' closes the way it opened.
        if (name[0] == '?')
            out.append("?>\n", 3);
        else
            out.append("/>\n", 3);
        return true;
    } else {
        out.append(">\n", 2);
        appendIndent(out, depth + 1);
        if (!appendXmlEscaped(out, value.data, value.length, false))
            return outOfMemory(*this);
        out.append("\n", 1);
    }
    appendIndent(out, depth);
    out.append("</", 2);
    out.append(name);
    out.append(">\n", 2);
    return true;
}

u64 XmlElement::writtenLength(u32 depth) const
{
    // The same layout as write, counted; what write refuses to nest counts nothing.
    if (depth >= XML_MAX_DEPTH)
        return 0;
    u64 n = u64(depth) + 1 + name.length;
    for (const XmlAttribute* a : attributes)
        n += 4 + a->name.length + xmlEscapedLength(a->value.data, a->value.length, true);
    const u64 closing = u64(depth) + 4 + name.length;
    if (children.count) {
        n += 2 + closing;
        for (const XmlElement* child : children)
            n += child->writtenLength(depth + 1);
        return n;
    }
    if (value.isEmpty())
        return n + 3;
    return n + 2 + (u64(depth) + 1) + xmlEscapedLength(value.data, value.length, false) + 1 + closing;
}

bool XmlElement::parse(XmlTokenizer& tokenizer, u32 depth, const XmlChildSink* sink)
{
    if (!tokenizer.hasMore())
        return endOfElementData(*this);

    bool noBody = false;
    for (;;) {
        const String& token = tokenizer.next();
        if (token[0] == '>') {
            if (noBody)
                return true;
            break;
        }
        if (token[0] == '/' || token[0] == '?') {
            noBody = true;
        } else {
            XmlAttribute* attribute = memNew<XmlAttribute>();
            if (!attribute)
                return false;
            attribute->name = token;
            const char* attributeName = attribute->name.c_str();
            bool ok = false;
            if (!tokenizer.hasMore())
                logError(CHANNEL, "Unexpected end of data while parsing attribute '%s'!", attributeName);
            else if (tokenizer.next()[0] != '=')
                logError(CHANNEL, "Expected assignment for attribute '%s'! (Line %u)", attributeName, tokenizer.line);
            else if (!tokenizer.hasMore())
                logError(CHANNEL, "Unexpected end of data while parsing attribute '%s'!", attributeName);
            else if (tokenizer.next()[0] != '"' && tokenizer.token[0] != '\'')
                logError(CHANNEL, "Expected quoted value for attribute '%s'! (Line %u)", attributeName, tokenizer.line);
            else
                ok = true;
            if (!ok) {
                memDelete(attribute);
                return false;
            }
            attribute->value = tokenizer.token;
            attribute->value.unquote();
            if (xmlNeedsDecoding(attribute->value.data, attribute->value.length)) {
                const String read = std::move(attribute->value);
                if (!decodeInto(attribute->value, read.data, read.length, tokenizer.line)) {
                    memDelete(attribute);
                    return false;
                }
            }
            // Duplicates are kept as read; getAttribute answers with the first.
            if (!attributes.push(attribute)) {
                memDelete(attribute);
                return false;
            }
        }
        if (!tokenizer.hasMore())
            return endOfElementData(*this);
    }

    for (;;) {
        const String& token = tokenizer.next();
        if (token.equals("<")) {
            if (!tokenizer.hasMore())
                return endOfElementData(*this);
            const String& childName = tokenizer.next();
            if (childName[0] == '/') {
                if (!tokenizer.hasMore())
                    return endOfElementData(*this);
                break;
            }
            if (depth + 1 >= XML_MAX_DEPTH) {
                logError(CHANNEL, "Element '%s' is nested more than %u levels deep! (Line %u)", childName.c_str(),
                         XML_MAX_DEPTH, tokenizer.line);
                return false;
            }
            XmlElement* child = memNew<XmlElement>(childName);
            if (!child)
                return false;
            if (!child->parse(tokenizer, depth + 1)) {
                memDelete(child);
                return false;
            }
            if (sink && depth == 0) {
                if (!sink->take(sink->context, child))
                    return false;
            } else if (!children.push(child)) {
                memDelete(child);
                return false;
            }
        } else {
            if (!value.isEmpty()) {
                logError(CHANNEL, "Parsing content error in element '%s'! (Line %u)", name.c_str(), tokenizer.line);
                return false;
            }
            // Every token here is text: a span of the document, or the token when it held a comment.
            const bool copied = tokenizer.heldComment;
            const char* text = copied ? token.data : tokenizer.data + tokenizer.spanStart;
            const u64 textLength = copied ? token.length : tokenizer.spanLength;
            if (xmlNeedsDecoding(text, textLength)) {
                if (!decodeInto(value, text, textLength, tokenizer.line))
                    return false;
            } else if (copied) {
                value = token;
            } else if (tokenizer.valuesInPlace && textLength) {
                // A view: capacity 0 marks bytes the String does not own.
                value.free();
                value.data = const_cast<char*>(text);
                value.length = textLength;
            } else {
                // Copied from the text once, at its size.
                value.assign(text, textLength);
            }
        }
        if (!tokenizer.hasMore())
            return endOfElementData(*this);
    }

    const String& closing = tokenizer.next();
    if (!closing.equals(name)) {
        logError(CHANNEL, "Invalid closing tag '%s' in element '%s'! (Line %u)", closing.c_str(), name.c_str(),
                 tokenizer.line);
        return false;
    }
    if (!tokenizer.hasMore())
        return endOfElementData(*this);
    if (tokenizer.next()[0] != '>') {
        logError(CHANNEL, "Expected final closing '>' in element '%s'! (Line %u)", name.c_str(), tokenizer.line);
        return false;
    }
    return true;
}

bool parseXmlElements(PtrArray<XmlElement>& list, XmlTokenizer& tokenizer, const XmlChildSink* sink)
{
    // A 0 byte would otherwise end the text early and pass off a cut document as whole.
    if (u32 line = lineOfNul(tokenizer.data, tokenizer.length, tokenizer.position, tokenizer.line))
        return refuseNul(line);
    tokenizer.spanText = true;
    bool expectName = false;
    while (tokenizer.hasMore()) {
        String& token = tokenizer.next();
        if (tokenizer.isText ? !tokenizer.spanLength : token.isEmpty())
            continue;
        if (expectName) {
            expectName = false;
            XmlElement* element = memNew<XmlElement>(token);
            if (!element)
                return false;
            if (!element->parse(tokenizer, 0, sink)) {
                memDelete(element);
                return false;
            }
            if (!list.push(element)) {
                memDelete(element);
                return false;
            }
            continue;
        }
        if (tokenizer.isText || token[0] != '<') {
            // Text is copied only to be named.
            if (tokenizer.isText && !tokenizer.heldComment)
                token.assign(tokenizer.data + tokenizer.spanStart, tokenizer.spanLength);
            logError(CHANNEL, "Found '%s' instead of next tag! (Line %u)", token.c_str(), tokenizer.line);
            return false;
        }
        expectName = true;
    }
    // A document that stops right after a '<' is cut short, not complete.
    if (expectName) {
        logError(CHANNEL, "Unexpected end of data after '<'! (Line %u)", tokenizer.line);
        return false;
    }
    return true;
}

namespace
{
PtrArray<XmlElement>* parseText(const char* bytes, u64 n, const XmlChildSink* sink, bool inPlace = false)
{
    // A leading UTF-8 byte-order mark is not part of the document.
    if (bytes && n >= 3 && u8(bytes[0]) == 0xEF && u8(bytes[1]) == 0xBB && u8(bytes[2]) == 0xBF) {
        bytes += 3;
        n -= 3;
    }
    PtrArray<XmlElement>* list = memNew<PtrArray<XmlElement>>(true);
    if (!list)
        return nullptr;
    XmlTokenizer tokenizer(bytes, n);
    tokenizer.valuesInPlace = inPlace;
    if (!parseXmlElements(*list, tokenizer, sink)) {
        memDelete(list);
        return nullptr;
    }
    return list;
}
}

PtrArray<XmlElement>* parseXml(const ByteArray& data, const XmlChildSink* sink)
{
    return parseText(reinterpret_cast<const char*>(data.data), data.data ? data.count : 0, sink);
}

PtrArray<XmlElement>* parseXml(const String& text, const XmlChildSink* sink)
{
    return parseText(text.data, text.length, sink);
}

PtrArray<XmlElement>* parseXmlInPlace(const String& text, const XmlChildSink* sink)
{
    return parseText(text.data, text.length, sink, true);
}

u64 xmlWrittenLength(const PtrArray<XmlElement>& list)
{
    u64 n = 0;
    for (const XmlElement* element : list)
        n += element->writtenLength(0);
    return n;
}

String writeXml(const PtrArray<XmlElement>& list, bool* ok)
{
    // Sized once: a document's text can be many times the file it stands for.
    String out(xmlWrittenLength(list) + 1);
    bool written = true;
    for (const XmlElement* element : list) {
        if (!element->write(out, 0)) {
            written = false;
            out.keepRange(0, 0);
            break;
        }
    }
    if (ok)
        *ok = written;
    return out;
}

XmlElement* addXmlElement(PtrArray<XmlElement>& list, const String& name)
{
    XmlElement* element = memNew<XmlElement>(name);
    if (element && !list.push(element)) {
        memDelete(element);
        return nullptr;
    }
    return element;
}

XmlElement* documentRoot(const PtrArray<XmlElement>& list)
{
    for (XmlElement* element : list)
        if (!element->name.startsWith("?"))
            return element;
    return nullptr;
}

void deleteXmlElements(PtrArray<XmlElement>& list)
{
    for (XmlElement* element : list)
        memDelete(element);
    list.reset();
}

void destroyXmlElements(PtrArray<XmlElement>& list)
{
    if (list.count)
        deleteXmlElements(list);
    list.destroy();
}
