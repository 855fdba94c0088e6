#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/core/Types.h"

struct XmlChildSink;

struct XmlAttribute
{
    String name;
    String value;
};

// The first attribute of exactly that name (of `length` bytes) in the list, or null.
const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char* name, u64 length);
inline const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char* name)
{
    return findAttribute(attributes, name, __builtin_strlen(name));
}
template <u64 N>
const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char (&name)[N])
{
    return findAttribute(attributes, name, N - 1);
}

// Nesting deeper than this is refused when reading and when writing, so hostile or runaway
// documents end in an error rather than a stack overflow.
constexpr u32 XML_MAX_DEPTH = 256;

// An element with attributes, child elements and at most one text value. Values hold bytes: the
// writer escapes what XML cannot hold as it is and the reader turns references back into bytes
// (framework/xml/XmlText.h); names are stored and written exactly as given.
class XmlElement
{
public:
    String name;
    // Both lists take storage with their first item: most elements have no children.
    PtrArray<XmlAttribute> attributes{PtrArray<XmlAttribute>::NoStorage{}}; // owned
    PtrArray<XmlElement> children{PtrArray<XmlElement>::NoStorage{}}; // owned; released without recursion
    String value;

    explicit XmlElement(const String& elementName);
    explicit XmlElement(String&& elementName);
    XmlElement(const XmlElement&) = delete;
    XmlElement& operator=(const XmlElement&) = delete;
    ~XmlElement();

    XmlElement* addChild(const String& childName);
    XmlElement* addChild(String&& childName);
    XmlAttribute* addAttribute(const String& attributeName, const String& attributeValue);
    XmlAttribute* addAttribute(String&& attributeName, String&& attributeValue);
    XmlAttribute* addEmptyAttribute(const String& attributeName);
    // Takes ownership; a second attribute of the same name is logged, deleted and refused (null).
    XmlAttribute* attachAttribute(XmlAttribute* attribute);
    // The first attribute of exactly that name; `out` is left alone when there is none.
    bool getAttribute(const String& attributeName, String& out) const;
    // The value of that attribute where it lies; null when there is none.
    const String* attributeValue(const char* attributeName) const;

    // Appends the element and its subtree, one blank of indentation per level. False (with an
    // error logged) when the subtree is nested deeper than XML_MAX_DEPTH levels or memory ran
    // out.
    bool write(String& out, u32 depth) const;
    // The number of bytes write appends at that depth.
    u64 writtenLength(u32 depth) const;
};

// Takes each child of a top-level element as soon as it has been read whole, in place of the
// element keeping it, so a long document need never be held whole. The sink owns the child;
// false fails the parse.
struct XmlChildSink
{
    bool (*take)(void* context, XmlElement* child);
    void* context;
};

// A document is a list of top-level elements. The list from parseXml owns its elements, so
// memDelete of it frees the whole document; null after any error (already logged on "XML").
// The bytes are read where they lie.
PtrArray<XmlElement>* parseXml(const ByteArray& data, const XmlChildSink* sink = nullptr);
// Same, over text that the caller keeps.
PtrArray<XmlElement>* parseXml(const String& text, const XmlChildSink* sink = nullptr);
// Same, but each element's text value is a view of its bytes in `text` (owning nothing, not
// ended by a 0 byte), so nothing as large as the text is copied: for a document read once and
// dropped. It must go before the text does, and its values are read by their length only and
// never changed: a value must be copied before it is changed, as String's free, assign and move
// would free bytes it does not own.
PtrArray<XmlElement>* parseXmlInPlace(const String& text, const XmlChildSink* sink = nullptr);
// Every top-level element at depth 0, in a buffer of exactly its size and one byte more (room
// for a line end). A document nested too deeply gives an empty text, with *ok (when given) set
// to false.
String writeXml(const PtrArray<XmlElement>& list, bool* ok = nullptr);
// The bytes writeXml gives for the list.
u64 xmlWrittenLength(const PtrArray<XmlElement>& list);
XmlElement* addXmlElement(PtrArray<XmlElement>& list, const String& name);
// The document's first element that is not a declaration or processing instruction ("<?xml ...?>"
// reads as an element named "?xml", which XML tools put in front of the root); null for none.
XmlElement* documentRoot(const PtrArray<XmlElement>& list);

// Deletes every element of the list and empties it.
void deleteXmlElements(PtrArray<XmlElement>& list);
// deleteXmlElements, then frees the list's arrays.
void destroyXmlElements(PtrArray<XmlElement>& list);
