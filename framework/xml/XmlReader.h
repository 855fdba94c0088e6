#pragma once
#include "framework/core/String.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlText.h"
#include "framework/xml/XmlTokenizer.h"

#include <cstring>

// Bytes read from a document, or decoded from it, where they lie: not ended by a 0 byte, and
// valid until the reader reads on. `data` is null only for an attribute that is not there.
struct XmlSpan
{
    const char* data = nullptr;
    u64 length = 0;

    explicit operator bool() const { return data != nullptr; }
    bool equals(const char* text, u64 n) const { return length == n && (!n || memcmp(data, text, n) == 0); }
    bool equals(const char* text) const { return equals(text, strlen(text)); }
    bool equals(const XmlSpan& other) const { return equals(other.data, other.length); }
    // A copy, for a line that names the bytes or a value read as text.
    String text() const { return data ? String(data, length) : String(); }
};

// Reads XML text as a sequence of events (an element starts, its text, it ends), so that a
// document of any size is read without being held as elements. It accepts and refuses exactly
// what parseXml does (parseXml builds its trees from it) and logs the same errors on "XML".
// Nothing is allocated per element or attribute once the reader has seen a few: names, the
// places of attributes and decoded text reuse their buffers.
class XmlReader
{
public:
    enum Event : u8
    {
        START,    // an element's start tag: name() and attributes()
        TEXT,     // the text of the element open: text()
        END,      // an element ends (also right after the START of "<a/>")
        FINISHED, // the text ended after a whole document
        FAILED,   // a syntax error (logged), a character no byte stands for, memory ran out, or a
                  // quit signal came while a tag was read (nothing logged)
    };

    // Over n bytes the caller keeps, which must outlive the reader. A leading UTF-8 byte-order
    // mark is skipped.
    XmlReader(const char* bytes, u64 n);
    ~XmlReader();
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    // Reads the text as the content of an element named `name` that is already open and ends
    // where the text ends: its children stand at depth 1, and the END of that element comes
    // when the text ends (a fragment written inside an element, read back alone).
    void readAsContentOf(const String& name);
    // With quiet set nothing is logged.
    void setQuiet(bool on) { quiet = on; }
    // readElement makes each text that needed no decoding a view of the document's bytes (see
    // parseXmlInPlace).
    bool valuesInPlace = false;

    Event next();
    Event event() const { return current; }
    // START and END: the element's name.
    const String& name() const { return names[depthNow]; }
    // The name of the element open at that depth (1 to depth()).
    const String& nameAt(u32 at) const { return names[at <= XML_MAX_DEPTH + 1 ? at : 0]; }
    // START: the attributes as read, decoded, in order; duplicates are kept (lookups answer with
    // the first). A lookup goes through them all: callers look up a few names each.
    u32 attributeCount() const { return attributeTotal; }
    XmlSpan attributeName(u32 i) const;
    XmlSpan attributeValue(u32 i) const;
    XmlSpan attribute(const char* wanted, u64 length) const;
    XmlSpan attribute(const char* wanted) const { return attribute(wanted, strlen(wanted)); }
    // TEXT: the bytes the text stands for (a view of the document where nothing was decoded).
    const char* text() const { return textData; }
    u64 textLength() const { return textSize; }
    // The nesting level of the element the last START or END was of (1 for a top-level element).
    u32 depth() const { return depthNow; }
    u32 line() const { return tokenizer.line; }

    // After START: a new element of that name and attributes, nothing read further; null when
    // memory ran out.
    XmlElement* startedElement() const;
    // After START: the element, its attributes and everything inside it as a tree, read up to its
    // END (then the last event). Null after a failure (logged) or when memory ran out.
    XmlElement* readElement();
    // After START: everything inside the element passed over, up to its END. False on failure.
    bool skipElement();
    // After START: the number of child elements the element holds, read ahead without moving
    // on. False when the element is not whole (the error is met again when read).
    bool countChildren(u32& count);

    // When the document failed for its encoding (the one its declaration names, or UTF-16 or
    // UTF-32 told by its first bytes): that name (else empty).
    const String& unreadableEncoding() const { return unreadable; }

private:
    XmlTokenizer tokenizer;
    Event current = FINISHED;
    bool quiet = false;
    bool pendingEnd = false;  // the START of "<a/>" was given: its END comes next
    bool expectName = false;  // at the top level, a "<" was read
    bool contentMode = false; // readAsContentOf: the text's end closes depth 1
    u32 depthNow = 0;         // of the event given last
    u32 open = 0;             // elements open now
    String names[XML_MAX_DEPTH + 2];
    u8 hasValue[XML_MAX_DEPTH + 2] = {};
    // Where each attribute of the last start tag lies, in bytes from `tagAt`: its name, and its
    // value in the document or, when it had to be decoded, in `decoded`. A tag's decoded values
    // are never longer than their text, which stands before the next name, so a value in
    // `decoded` is told by an offset below its name's.
    struct AttributeAt
    {
        u32 name;
        u32 nameLength;
        u32 value;
        u32 valueLength;
    };
    AttributeAt* attributesAt = nullptr;
    u32 attributeTotal = 0;
    u32 attributeRoom = 0;
    u64 tagAt = 0; // the last byte of the element's name
    const char* textData = nullptr;
    u64 textSize = 0;
    String decoded; // the text, or the attribute values, that had to be decoded
    XmlEncoding encoding = XmlEncoding::UTF8;
    bool sawElement = false;
    String unreadable; // the encoding the declaration names, when it is none this reader takes
    bool refusedAtStart = false; // the document cannot be read at all: said at the first read
    // Why: the line of a byte no XML may hold (and that byte), else an encoding of wide characters.
    u32 forbiddenLine = 0;
    u8 forbiddenByte = 0;

    Event fail();
    Event refuseAtStart();
    Event endOfElementData(const String& elementName);
    Event startElement();
    Event startNamed(u32 at);
    bool plainAttributes(bool& noBody);
    bool plainTag(Event& event);
    void beginAttributes();
    bool addAttribute(const char* name, u64 nameLength, const char* value, u64 valueLength, XmlRefusal& refused);
    Event readContent();
    bool decode(const char* from, u64 length, String& into);
    void refusal(const XmlRefusal& refused);
    bool readMarkedText(const char* text, u64 length);
    void takeDeclaration();
    XmlTextKind attributeKind() const
    {
        XmlTextKind kind;
        kind.encoding = encoding;
        kind.attribute = true;
        return kind;
    }
};
