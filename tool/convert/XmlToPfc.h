#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/core/TextUtils.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlReader.h"
#include "tool/convert/PfcToXml.h"

#include <cstring>

namespace pfc
{
template <u64 N>
bool named(const String& s, const char (&name)[N])
{
    return s.length == N - 1 && memcmp(s.data, name, N - 1) == 0;
}

const RecordKind* recordKind(const String& name);

// ---- encoding

// Where records go as they are encoded: into a buffer, or compared with a table's bytes as they
// come (the check at open, which then needs no second copy of the table).
class RecordOut
{
public:
    explicit RecordOut(ByteBuffer& buffer) : into(&buffer) {}
    explicit RecordOut(const ByteArray& table) : expected(&table) {}

    void write(const u8* p, u64 n)
    {
        if (into) {
            into->write(p, n);
        } else if (same && n) {
            same = n <= expected->count - at && memcmp(expected->data + at, p, size_t(n)) == 0;
            at += n;
        }
    }
    void writeU8(u8 v)
    {
        if (into) {
            into->writeU8(v);
        } else if (same) {
            same = at < expected->count && expected->data[at] == v;
            at++;
        }
    }
    void writeU16(u16 v)
    {
        const u8 b[2] = {u8(v), u8(v >> 8)};
        write(b, 2);
    }
    // False once a write could not be stored, or wrote other bytes than the table's.
    bool ok() const { return into ? into->ok() : same; }
    // Compared: every byte of the table was written.
    bool whole() const { return same && expected && at == expected->count; }

private:
    ByteBuffer* into = nullptr;
    const ByteArray* expected = nullptr;
    u64 at = 0;
    bool same = true;
};

// The line an element's text stands for: without one pair of matching quotes (String::unquote).
void unquoteLine(const char*& text, u64& length);

// One record's fields, taken from its element's attributes and text until it is written.
struct RecordFields
{
    const RecordKind* kind = nullptr;
    u8 names[6][TEXT_FIELD];
    u32 numbers[6];
    u8 line[PFC_MAX_LINE];
    u32 lineLength = 0;

    // Every field at its default: empty names, delay 1, other numbers 0, an empty line.
    void begin(const RecordKind& k)
    {
        kind = &k;
        lineLength = 0;
        for (u32 i = 0; i < k.count; i++) {
            if (k.fields[i].kind == FIELD_TEXT)
                memset(names[i], 0, TEXT_FIELD);
            else
                numbers[i] = k.fields[i].missing;
        }
    }
    // A name is cut to its 9 bytes, a number above the field's largest is written as that.
    void set(u32 i, const String& value)
    {
        const FieldKind f = kind->fields[i].kind;
        if (f == FIELD_TEXT) {
            setName(i, value.data, value.length);
            return;
        }
        const u32 largest = f == FIELD_U16 ? 0xFFFF : 0xFF;
        const u32 n = parseUnsigned(value.c_str());
        numbers[i] = n > largest ? largest : n;
    }
    void setName(u32 i, const char* value, u64 length)
    {
        if (length)
            memcpy(names[i], value, length < TEXT_FIELD ? size_t(length) : TEXT_FIELD);
    }
    // The first attribute of each field's name.
    void take(const RecordKind& k, const PtrArray<XmlAttribute>& attributes)
    {
        begin(k);
        for (u32 i = 0; i < k.count; i++) {
            if (const String* value = findAttribute(attributes, k.fields[i].name, k.fields[i].nameLength))
                set(i, *value);
        }
    }
    // The element's text: the line up to its first NUL, at most PFC_MAX_LINE bytes.
    void takeLine(const char* text, u64 length)
    {
        unquoteLine(text, length);
        const u64 limit = length < PFC_MAX_LINE ? length : PFC_MAX_LINE;
        const void* nul = limit ? memchr(text, 0, size_t(limit)) : nullptr;
        lineLength = u32(nul ? static_cast<const char*>(nul) - text : limit);
        if (lineLength)
            memcpy(line, text, lineLength);
    }
    void write(RecordOut& out) const
    {
        out.writeU8(kind->tag);
        for (u32 i = 0; i <= kind->count; i++) {
            if (i == kind->lineAt) {
                out.write(line, lineLength);
                out.writeU8(0);
            }
            if (i == kind->count)
                break;
            const FieldKind f = kind->fields[i].kind;
            if (f == FIELD_TEXT)
                out.write(names[i], TEXT_FIELD);
            else if (f == FIELD_U16)
                out.writeU16(u16(numbers[i]));
            else
                out.writeU8(u8(numbers[i]));
        }
    }
};

// ---- reading XML back

// Writes the records of a table's XML as the reader's events come, holding only the elements
// open on the way to the one read and the fields of the record being read: a Branch of millions
// of options or records takes no more than one record does. Every part of an edited document
// must reach the file, so a misspelt element or attribute, or a value a field cannot hold, is a
// fault; the first one is said, naming the file, once the whole text is known to read (a
// document that does not read is refused for that alone). Without a file nothing is said. A
// quit signal, memory running out or bytes other than the table's (when comparing) stop it at
// once, with nothing said.
class TableEncoder
{
public:
    TableEncoder(const char* text, u64 length, const String* source, RecordOut& output)
        : in(text, length), file(source), out(output)
    {
        in.setQuiet(!file);
    }
    TableEncoder(const TableEncoder&) = delete;
    TableEncoder& operator=(const TableEncoder&) = delete;

    // The document: its root "PFC" (elements in front of it, such as a declaration, passed over),
    // its version and its records, then the rest read to the end. True when every record was
    // written.
    bool table();
    // The records of the document's first element, whatever its name and version.
    bool records();

private:
    enum Kind : u8
    {
        ROOT,
        DIALOGUE,
        CUTAWAY,
        BRANCH,
        OPTION,
    };
    struct Open
    {
        Kind kind;
        bool optionSeen; // a Branch's first option is written: the next one is a tag 5
    };

    XmlReader in;
    const String* file;
    RecordOut& out;
    u32 events = 0;
    bool stopped = false;
    bool faulted = false;
    String held;         // the fault's line
    u32 faultDepth = 0;  // of the element it is of
    bool ownTextFirst = false; // that element's own text is said before it (an Option's attributes)
    Open open[XML_MAX_DEPTH + 1] = {};
    RecordFields record;
    // How the game reads the tags written so far back: the depth of the element records go to and
    // of the branch open, as decodeTable goes. A tag 8 always returns to the top level, so what
    // follows a nested branch in its option or branch would be read elsewhere.
    u32 readParent = 0;
    u32 readBranch = 0;
    bool readInBranch = false;
    bool lost = false; // a nested branch has ended: only the ends of its enclosing elements may follow
    bool tooDeep = false;
    bool recordsFollow = false;

    const char* path() const { return file ? file->c_str() : ""; }

    bool next(XmlReader::Event& e);
    bool skip();
    void fault(u32 depth, const char* format, ...) __attribute__((format(printf, 3, 4)));
    bool unreadable();
    bool finish();
    void content();
    void settle();
    bool start(u32 depth);
    bool textFits(u32 depth);
    bool text(u32 depth);
    bool end(u32 depth);
    bool takeAttributes(const RecordKind& kind, u32 depth);
};

// The text as the extracted file holds it, read back as a repack reads it and encoded: a table
// is converted only when that gives back exactly its bytes, compared as they come.
bool rebuildsExactly(const String& text, const ByteArray& bytes);
}
