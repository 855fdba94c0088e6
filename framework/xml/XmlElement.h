#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/core/Types.h"

class XmlTokenizer;

struct XmlAttribute
{
    String name;
    String value;
};

// Nesting deeper than this is refused when reading and when writing, so hostile or runaway
// documents end in an error rather than a stack overflow.
constexpr u32 XML_MAX_DEPTH = 256;

// An element with attributes, child elements and at most one text value. Nothing is escaped
// or unescaped: names and values are stored and written exactly as given.
class XmlElement
{
public:
    String name;
    PtrArray<XmlAttribute> attributes{true};
    PtrArray<XmlElement> children; // owned; released without recursion by the destructor
    String value;

    explicit XmlElement(const String& elementName);
    XmlElement(const XmlElement&) = delete;
    XmlElement& operator=(const XmlElement&) = delete;
    ~XmlElement();

    XmlElement* addChild(const String& childName);
    XmlAttribute* addAttribute(const String& attributeName, const String& attributeValue);
    XmlAttribute* addEmptyAttribute(const String& attributeName);
    // Takes ownership; a second attribute of the same name is logged, deleted and refused (null).
    XmlAttribute* attachAttribute(XmlAttribute* attribute);
    // The first attribute of exactly that name; `out` is left alone when there is none.
    bool getAttribute(const String& attributeName, String& out) const;

    // Appends the element and its subtree, one blank of indentation per level. False (with an
    // error logged) when the subtree is nested deeper than XML_MAX_DEPTH levels.
    bool write(String& out, u32 depth) const;
    // Reads the rest of an element whose name has been read; `depth` is its nesting level.
    bool parse(XmlTokenizer& tokenizer, u32 depth = 0);
};

// A document is a list of top-level elements. The list from parseXml owns its elements, so
// memDelete of it frees the whole document; null after any error (already logged on "XML").
PtrArray<XmlElement>* parseXml(const ByteArray& data);
bool parseXmlElements(PtrArray<XmlElement>& list, XmlTokenizer& tokenizer);
// Every top-level element at depth 0. A document nested too deeply gives an empty text, with
// *ok (when given) set to false.
String writeXml(const PtrArray<XmlElement>& list, bool* ok = nullptr);
XmlElement* addXmlElement(PtrArray<XmlElement>& list, const String& name);

// The writer escapes nothing, so callers hand it only text that any XML reader takes as
// written: ASCII from the blank up, without '<' and '&'. An attribute value (between double
// quotes) also holds no '"' and no control byte, which readers would turn into blanks; element
// text may hold tabs and line feeds, never a carriage return (read as a line feed) nor "]]>".
bool isPlainXmlValue(const String& value);
bool isPlainXmlText(const String& text);

// Deletes every element of the list and empties it.
void deleteXmlElements(PtrArray<XmlElement>& list);
// deleteXmlElements, then frees the list's arrays.
void destroyXmlElements(PtrArray<XmlElement>& list);
