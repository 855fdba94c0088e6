#pragma once
#include "framework/core/String.h"
#include "framework/core/TextBuilder.h"
#include "framework/core/Types.h"

// Writes XML text one element at a time, laid out exactly as XmlElement::write lays out a tree
// (one blank of indentation per level, one line per tag, an element's text on a line of its own),
// so that a document of any size is written without being held as elements. Values are escaped
// as XmlText.h says; names are written as given.
class XmlWriter
{
public:
    // Elements opened at the top stand at `depth`.
    explicit XmlWriter(TextBuilder& out, u32 depth = 0);

    // Starts an element inside the one open (ending that one's start tag). False (logged) past
    // XML_MAX_DEPTH levels or when the text failed.
    bool open(const char* name, u64 length);
    bool open(const String& name) { return open(name.data, name.length); }
    bool open(const char* name);
    void attribute(const char* name, const char* value, u64 length);
    void attribute(const char* name, const String& value) { attribute(name, value.data, value.length); }
    void attributeDecimal(const char* name, u64 value);
    // The open element's text, its only content; nothing for an empty text.
    void text(const char* value, u64 length);
    void text(const String& value) { text(value.data, value.length); }
    // Room for `length` bytes of text that needs no escaping (the caller fills it), as text()
    // would place it; null when there is none.
    char* rawText(u64 length);
    // Ends the element opened last.
    void close();

    // A place in the text to come back to: what was written after it is forgotten, and the
    // element open there is open as it was (its start tag not ended, when it was not).
    struct Mark
    {
        u64 length;
        u32 level;
        u8 state;
        bool unholdable;
    };
    Mark mark() const;
    void rewind(const Mark& m);

    bool ok() const { return out.ok() && !failed; }
    u32 depth() const { return base + level; }
    // Elements open now.
    u32 openCount() const { return level; }
    // A value written since the last clear held a byte no XML document can carry (XmlText.h).
    bool wroteUnholdable() const { return unholdable; }
    void clearUnholdable() { unholdable = false; }
    TextBuilder& text() { return out; }

private:
    enum State : u8
    {
        TAG_OPEN,   // "<name attributes" written, nothing after it yet
        CHILDREN,   // ">" written, children follow
        HAS_TEXT,   // ">", the text and its line end written
    };
    struct Level
    {
        u64 nameAt; // where the name lies in the text
        u64 nameLength;
        State state;
    };

    TextBuilder& out;
    u32 base;
    u32 level = 0;
    bool failed = false;
    bool unholdable = false;
    Level levels[257];

    void endStartTag(bool forText);
};
