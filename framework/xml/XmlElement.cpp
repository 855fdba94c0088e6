#include "framework/xml/XmlElement.h"
#include "framework/log/Log.h"
#include "framework/xml/XmlText.h"
#include "framework/xml/XmlReader.h"
#include "framework/xml/XmlWriter.h"

#include <cstring>
#include <utility>

namespace
{
const char* const CHANNEL = "XML";

bool outOfMemory(const XmlElement& element)
{
    logError(CHANNEL, "Out of memory writing element '%s'!", element.name.c_str());
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
    // Descendants are released without recursion and without allocating (a destructor may run
    // because memory ran out): elements waiting for their children to go are linked through the
    // spare word of their first child slot, which nothing else uses.
    XmlElement* waiting = nullptr;
    const auto wait = [&waiting](XmlElement* element) {
        element->children.aux[0] = reinterpret_cast<u64>(waiting);
        waiting = element;
    };
    if (children.count)
        wait(this);
    while (waiting) {
        XmlElement* element = waiting;
        if (!element->children.count) {
            waiting = reinterpret_cast<XmlElement*>(element->children.aux[0]);
            if (element != this)
                memDelete(element);
            continue;
        }
        XmlElement* child = element->children.items[--element->children.count];
        element->children.items[element->children.count] = nullptr;
        if (child->children.count)
            wait(child);
        else
            memDelete(child);
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

const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char* name, u64 n)
{
    for (const XmlAttribute* a : attributes)
        if (a->name.length == n && (!n || memcmp(a->name.data, name, n) == 0))
            return &a->value;
    return nullptr;
}

bool XmlElement::getAttribute(const String& attributeName, String& out) const
{
    const String* value = findAttribute(attributes, attributeName.c_str(), attributeName.length);
    if (value)
        out = *value;
    return value != nullptr;
}

const String* XmlElement::attributeValue(const char* attributeName) const
{
    return findAttribute(attributes, attributeName);
}

namespace
{
void writeElement(XmlWriter& writer, const XmlElement& element)
{
    if (!writer.open(element.name))
        return;
    for (const XmlAttribute* a : element.attributes)
        writer.attribute(a->name.c_str(), a->value);
    // A value is not written beside children.
    if (element.children.count) {
        for (const XmlElement* child : element.children)
            writeElement(writer, *child);
    } else {
        writer.text(element.value);
    }
    writer.close();
}
}

bool XmlElement::write(String& out, u32 depth) const
{
    TextBuilder text;
    text.adopt(out);
    XmlWriter writer(text, depth);
    writeElement(writer, *this);
    const bool written = writer.ok();
    if (!text.ok())
        outOfMemory(*this);
    text.giveBack(out);
    return written;
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

namespace
{
// The top-level element the reader has just started, whole; its children go to the sink when
// there is one.
XmlElement* readTopLevel(XmlReader& reader, const XmlChildSink* sink)
{
    if (!sink)
        return reader.readElement();
    XmlElement* element = reader.startedElement();
    bool ok = element != nullptr;
    while (ok) {
        const XmlReader::Event e = reader.next();
        if (e == XmlReader::END)
            return element;
        if (e == XmlReader::START) {
            XmlElement* child = reader.readElement();
            ok = child && sink->take(sink->context, child);
        } else if (e == XmlReader::TEXT) {
            element->value.assign(reader.text(), reader.textLength());
        } else {
            ok = false;
        }
    }
    memDelete(element);
    return nullptr;
}

PtrArray<XmlElement>* parseText(const char* bytes, u64 n, const XmlChildSink* sink, bool inPlace = false)
{
    PtrArray<XmlElement>* list = memNew<PtrArray<XmlElement>>(true);
    if (!list)
        return nullptr;
    XmlReader reader(bytes, n);
    reader.valuesInPlace = inPlace;
    for (;;) {
        const XmlReader::Event e = reader.next();
        if (e == XmlReader::FINISHED)
            return list;
        XmlElement* element = e == XmlReader::START ? readTopLevel(reader, sink) : nullptr;
        if (!element || !list->push(element)) {
            memDelete(element);
            memDelete(list);
            return nullptr;
        }
    }
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
