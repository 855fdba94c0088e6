#include "tool/convert/ContainerPFC.h"
#include "framework/app/ProcessUtils.h"
#include "framework/core/TextBuilder.h"
#include "framework/xml/XmlReader.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "framework/xml/XmlText.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/convert/ConvertedText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
enum PfcTag : u8
{
    TAG_DIALOGUE = 0,
    TAG_CUTAWAY = 4,
    TAG_OPTION = 5,
    TAG_BRANCH = 7,
    TAG_END_BRANCH = 8,
};

constexpr u32 TEXT_FIELD = 9;

enum FieldKind : u8
{
    FIELD_TEXT,
    FIELD_U16,
    FIELD_U8,
};

struct Field
{
    const char* name;
    u32 nameLength;
    FieldKind kind;
    u8 missing; // the value written when the attribute is missing
};

template <u32 N>
constexpr Field field(const char (&name)[N], FieldKind kind, u8 missing = 0)
{
    return {name, N - 1, kind, missing};
}

// Attributes in the order the decoder sets them, which is their order in the record.
const Field DIALOGUE_FIELDS[] = {field("speaker", FIELD_TEXT), field("expression", FIELD_TEXT),
                                 field("background", FIELD_TEXT), field("delay", FIELD_U16, 1),
                                 field("unk1", FIELD_U16),        field("unk2", FIELD_U8)};
const Field CUTAWAY_FIELDS[] = {field("background", FIELD_TEXT), field("delay", FIELD_U16, 1),
                                field("unk1", FIELD_U8)};
const Field BRANCH_FIELDS[] = {field("speaker", FIELD_TEXT), field("background", FIELD_TEXT),
                               field("unk1", FIELD_U16), field("unk2", FIELD_U16)};

template <u64 N>
bool named(const String& s, const char (&name)[N])
{
    return s.length == N - 1 && memcmp(s.data, name, N - 1) == 0;
}

struct RecordKind
{
    const char* name;
    u8 tag;
    const Field* fields;
    u32 count;
    u32 lineAt; // the line goes before this field (count: after the last); past count: none
};

const RecordKind DIALOGUE_RECORD = {"Dialogue", TAG_DIALOGUE, DIALOGUE_FIELDS, 6, 5};
const RecordKind CUTAWAY_RECORD = {"Cutaway", TAG_CUTAWAY, CUTAWAY_FIELDS, 3, 3};
const RecordKind BRANCH_RECORD = {"Branch", TAG_BRANCH, BRANCH_FIELDS, 4, 5};

const RecordKind* recordKind(const String& name)
{
    if (named(name, "Dialogue"))
        return &DIALOGUE_RECORD;
    if (named(name, "Cutaway"))
        return &CUTAWAY_RECORD;
    if (named(name, "Branch"))
        return &BRANCH_RECORD;
    return nullptr;
}

// ---- decoding

// A name field: its bytes up to the first NUL.
struct NameField
{
    char bytes[TEXT_FIELD] = {};
    u32 length = 0;
};

NameField readName(MemoryStream& s)
{
    NameField f;
    s.read(f.bytes, s.bytesLeft() < TEXT_FIELD ? s.bytesLeft() : TEXT_FIELD);
    while (f.length < TEXT_FIELD && f.bytes[f.length])
        f.length++;
    return f;
}

u8 readByte(MemoryStream& s)
{
    return s.bytesLeft() ? s.readU8() : 0;
}

// A line: its bytes in the table, up to the 0 that ends it (or the table's end).
struct LineField
{
    const u8* data = nullptr;
    u32 length = 0;
};

LineField readLine(MemoryStream& s)
{
    LineField line;
    line.data = s.data + s.position;
    const u32 left = u32(s.bytesLeft());
    const u8* nul = left ? static_cast<const u8*>(memchr(line.data, 0, left)) : nullptr;
    line.length = nul ? u32(nul - line.data) : left;
    s.skip(nul ? u64(line.length) + 1 : line.length);
    return line;
}

// Builds the document; a failed allocation fails the whole document.
struct DocumentBuilder
{
    using Element = XmlElement*;
    XmlElement* top;
    bool ok = true;

    explicit DocumentBuilder(XmlElement* root) : top(root) { text(root, "Version", "1", 1); }
    Element root() const { return top; }
    Element add(Element parent, const char* name)
    {
        XmlElement* e = parent ? parent->addChild(String(name)) : nullptr;
        ok = ok && e;
        return e;
    }
    Element addOptions(Element branch, u32 n)
    {
        Element option = nullptr;
        for (u32 i = 0; i < n && ok; i++)
            option = add(branch, "Option");
        return option;
    }
    void text(Element e, const char* name, const char* value, u32 length)
    {
        ok = ok && e && e->addAttribute(String(name), String(value, length));
    }
    void text(Element e, const char* name, const NameField& f) { text(e, name, f.bytes, f.length); }
    void number(Element e, const char* name, u32 value)
    {
        ok = ok && e && e->addAttribute(String(name), uintToString(value));
    }
    // The line with a double quote at either end, so the XML reader's trimming keeps its blanks.
    void line(Element e, const LineField& l)
    {
        String value(u64(l.length) + 2);
        value.append('"');
        if (l.length)
            value.append(reinterpret_cast<const char*>(l.data), l.length);
        value.append('"');
        if (e)
            e->value = std::move(value);
    }
};

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
void unquoteLine(const char*& text, u64& length)
{
    if (length && (text[0] == '"' || text[0] == '\'') && text[length - 1] == text[0]) {
        text++;
        length = length > 1 ? length - 2 : 0;
    }
}

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
            if (value.length)
                memcpy(names[i], value.data, value.length < TEXT_FIELD ? size_t(value.length) : TEXT_FIELD);
            return;
        }
        const u32 largest = f == FIELD_U16 ? 0xFFFF : 0xFF;
        const u32 n = parseUnsigned(value.c_str());
        numbers[i] = n > largest ? largest : n;
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

// A record's own bytes: a Branch record's, without its options.
void encodeFields(const XmlElement& e, const RecordKind& kind, RecordOut& out)
{
    RecordFields record;
    record.take(kind, e.attributes);
    if (kind.lineAt <= kind.count)
        record.takeLine(e.value.data, e.value.length);
    record.write(out);
}

void encodeChildren(const XmlElement& parent, RecordOut& out, u32 depth)
{
    // Documents from the reader and the decoder never nest this deep; this only stops one
    // built by hand from recursing without end.
    if (depth >= PFC_MAX_DEPTH)
        return;
    bool firstOption = true;
    for (const XmlElement* child : parent.children) {
        if (named(child->name, "Option")) {
            // The branch record itself opens the first option.
            if (!firstOption)
                out.writeU8(TAG_OPTION);
            firstOption = false;
            encodeChildren(*child, out, depth + 1);
        } else if (const RecordKind* kind = recordKind(child->name)) {
            encodeFields(*child, *kind, out);
            if (kind == &BRANCH_RECORD) {
                encodeChildren(*child, out, depth + 1);
                out.writeU8(TAG_END_BRANCH);
            }
        }
    }
}

// ---- the XML text

// Quit signals are looked at once per this many records or events, so a quit ends a conversion
// within a moment however many records a Branch holds.
constexpr u32 QUIT_CHECK_STEP = 1u << 14;

enum class Decoded : u8
{
    WHOLE,    // every record reached the builder (which may have failed: its `ok`)
    TOO_DEEP, // branches nest deeper than PFC_MAX_DEPTH
    QUIT,     // a quit signal came
};

// Hands the table's records to the builder in order; with watchQuit, a quit signal ends it.
template <typename Builder>
Decoded decodeTable(const ByteArray& bytes, Builder& b, bool watchQuit)
{
    using Element = typename Builder::Element;
    const Element root = b.root();
    Element parent = root;
    u32 parentDepth = 0;
    Element branch = root;
    bool inBranch = false;
    u32 branchDepth = 0;
    MemoryStream s(bytes);
    u64 records = 0;
    u64 nextCheck = QUIT_CHECK_STEP;
    while (s.bytesLeft() && b.ok) {
        if (watchQuit && ++records >= nextCheck) {
            nextCheck = records + QUIT_CHECK_STEP;
            if (quitSignalsReceived())
                return Decoded::QUIT;
        }
        switch (s.readU8()) {
        case TAG_DIALOGUE: {
            const Element e = b.add(parent, "Dialogue");
            const NameField speaker = readName(s), expression = readName(s), background = readName(s);
            const u16 delay = readU16IfAvailable(s), unk1 = readU16IfAvailable(s);
            b.line(e, readLine(s));
            const u8 unk2 = readByte(s);
            b.text(e, "speaker", speaker);
            b.text(e, "expression", expression);
            b.text(e, "background", background);
            b.number(e, "delay", delay);
            b.number(e, "unk1", unk1);
            b.number(e, "unk2", unk2);
            break;
        }
        case TAG_CUTAWAY: {
            const Element e = b.add(parent, "Cutaway");
            b.text(e, "background", readName(s));
            b.number(e, "delay", readU16IfAvailable(s));
            b.number(e, "unk1", readByte(s));
            b.line(e, readLine(s));
            break;
        }
        case TAG_BRANCH:
            // Hostile data can open branch inside branch without end; every walker of the
            // document recurses, so the nesting stops here.
            if (parentDepth + 3 > PFC_MAX_DEPTH)
                return Decoded::TOO_DEEP;
            branch = b.add(parent, "Branch");
            inBranch = true;
            b.text(branch, "speaker", readName(s));
            b.text(branch, "background", readName(s));
            b.number(branch, "unk1", readU16IfAvailable(s));
            b.number(branch, "unk2", readU16IfAvailable(s));
            branchDepth = parentDepth + 1;
            parent = b.add(branch, "Option");
            parentDepth = branchDepth + 1;
            break;
        case TAG_OPTION:
            // Outside a branch (after a nested branch's end, say) there is nothing to add to.
            if (inBranch) {
                // A run of tags 5 is a run of options that hold nothing, but for the last.
                u32 run = 1;
                while (s.position < s.count && s.data[s.position] == TAG_OPTION) {
                    s.position++;
                    run++;
                }
                records += run - 1;
                parent = b.addOptions(branch, run);
                parentDepth = branchDepth + 1;
            }
            break;
        case TAG_END_BRANCH:
            parent = root;
            parentDepth = 0;
            inBranch = false;
            break;
        default:
            break;
        }
    }
    return Decoded::WHOLE;
}

// Writes the document's text straight from the records, laid out as XmlElement::write lays out
// the document DocumentBuilder makes, without making it. The elements on the way from the root
// to the last one added are open: adding under one closes those below it, whose records are
// then whole. Counts only, without a text; with one, writes into it what was counted before.
class TableWriter
{
public:
    using Element = u32; // the depth, which is the element's place on the way
    // The text can grow.
    bool ok = true;
    u64 length = 0; // of the text so far
    // Every name and line holds only what XML can carry (escaped where it must be): a control
    // byte makes a file XML tools refuse, so such a table stays raw. Its records are still read,
    // for how deep they nest, but no more text is made.
    bool writable = true;

    explicit TableWriter(TextBuilder* text) : out(text)
    {
        open[0].name = "PFC";
        open[0].nameLength = 3;
        open[0].tag[0] = '<';
        memcpy(open[0].tag + 1, "PFC", 3);
        open[0].tagLength = 4;
        addAttribute(0, "Version", 7, "1", 1, false);
    }
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    Element root() const { return 0; }
    template <u32 N>
    Element add(Element parent, const char (&name)[N])
    {
        closeBelow(parent);
        Entry& p = open[parent];
        if (!p.started) {
            startTag(parent, ">\n", 2);
            p.started = true;
        }
        top = parent + 1;
        Entry& e = open[top];
        e.name = name;
        e.nameLength = N - 1;
        if (out) {
            e.tag[0] = '<';
            memcpy(e.tag + 1, name, N - 1);
        }
        e.tagLength = N;
        e.started = false;
        e.hasLine = false;
        return top;
    }
    // n options of a branch, all empty but perhaps the last: each of the others closes with the
    // line the first empty one closed with, so the run is written by copying that line.
    Element addOptions(Element branch, u32 n)
    {
        Element option = add(branch, "Option");
        if (n < 3) {
            for (u32 i = 1; i < n; i++)
                option = add(branch, "Option");
            return option;
        }
        const u64 from = length;
        closeBelow(branch);
        const u64 line = length - from;
        const u64 copies = line * (n - 2);
        if (char* at = take(copies)) {
            // Doubling: each copy takes twice what the last took.
            memcpy(at, at - line, size_t(line));
            for (u64 done = line; done < copies;) {
                const u64 step = done < copies - done ? done : copies - done;
                memcpy(at + done, at, size_t(step));
                done += step;
            }
        }
        return add(branch, "Option");
    }
    template <u32 N>
    void text(Element e, const char (&name)[N], const NameField& f)
    {
        if (!out)
            writable = writable && xmlCanHold(f.bytes, f.length);
        addAttribute(e, name, N - 1, f.bytes, f.length, true);
    }
    template <u32 N>
    void number(Element e, const char (&name)[N], u32 value)
    {
        char digits[10];
        u32 n = 0;
        do {
            digits[sizeof(digits) - 1 - n++] = char('0' + value % 10);
            value /= 10;
        } while (value);
        addAttribute(e, name, N - 1, digits + sizeof(digits) - n, n, false);
    }
    void line(Element e, const LineField& l)
    {
        // A longer line is cut when written back, so such a table stays raw: its text is not made.
        if (!out)
            writable = writable && l.length <= PFC_MAX_LINE &&
                       xmlCanHold(reinterpret_cast<const char*>(l.data), l.length);
        open[e].line = l;
        open[e].hasLine = true;
    }
    // Closes every element, the root last.
    void finish()
    {
        closeBelow(0);
        close(0);
    }

private:
    struct Entry
    {
        const char* name = nullptr;
        u32 nameLength = 0;
        // '<', the name and ' name="value"' for each attribute in order: a record's fit, escaped.
        char tag[320];
        u32 tagLength = 0;
        LineField line;
        bool hasLine = false;
        bool started = false; // its start tag is written: it has children
    };

    TextBuilder* out;
    Entry open[PFC_MAX_DEPTH + 2];
    u32 top = 0;

    // Room for n more bytes of the text, which are counted; null when only counting (the tags
    // are then not laid out either), once the text cannot grow, or when it is not wanted.
    char* take(u64 n)
    {
        if (!writable)
            return nullptr;
        length += n;
        if (!out || !n)
            return nullptr;
        char* at = out->extend(n);
        ok = ok && at;
        return at;
    }
    // Tags and indents are short: copied in pieces of fixed size, which compile to moves, not
    // calls.
    static char* put(char* at, const char* p, u64 n)
    {
        if (n > 31) {
            memcpy(at, p, size_t(n));
            return at + n;
        }
        if (n & 16) {
            memcpy(at, p, 16);
            at += 16;
            p += 16;
        }
        if (n & 8) {
            memcpy(at, p, 8);
            at += 8;
            p += 8;
        }
        if (n & 4) {
            memcpy(at, p, 4);
            at += 4;
            p += 4;
        }
        if (n & 2) {
            memcpy(at, p, 2);
            at += 2;
            p += 2;
        }
        if (n & 1)
            *at++ = *p;
        return at;
    }
    static char* blanks(char* at, u32 n)
    {
        static const char BLANKS[] = "                               ";
        if (n < sizeof(BLANKS))
            return put(at, BLANKS, n);
        memset(at, ' ', n);
        return at + n;
    }
    void addAttribute(Element e, const char* name, u32 nameLength, const char* value, u32 n, bool escaped)
    {
        if (!writable)
            return;
        Entry& x = open[e];
        const u64 valueLength = escaped ? xmlEscapedLength(value, n, true) : n;
        if (x.tagLength + nameLength + valueLength + 4 > sizeof(x.tag)) {
            ok = false;
            return;
        }
        if (!out) {
            x.tagLength += u32(nameLength + valueLength + 4);
            return;
        }
        char* at = x.tag + x.tagLength;
        *at++ = ' ';
        memcpy(at, name, nameLength);
        at += nameLength;
        *at++ = '=';
        *at++ = '"';
        if (escaped) {
            at = writeXmlEscaped(at, value, n, true);
        } else {
            memcpy(at, value, n);
            at += n;
        }
        *at++ = '"';
        x.tagLength = u32(at - x.tag);
    }
    void startTag(Element e, const char* end, u32 n)
    {
        const Entry& x = open[e];
        char* at = take(u64(e) + x.tagLength + n);
        if (!at)
            return;
        at = blanks(at, e);
        at = put(at, x.tag, x.tagLength);
        put(at, end, n);
    }
    void endTag(Element e)
    {
        const Entry& x = open[e];
        char* at = take(u64(e) + 4 + x.nameLength);
        if (!at)
            return;
        at = blanks(at, e);
        *at++ = '<';
        *at++ = '/';
        at = put(at, x.name, x.nameLength);
        *at++ = '>';
        *at = '\n';
    }
    void close(Element e)
    {
        const Entry& x = open[e];
        if (x.started) {
            endTag(e);
            return;
        }
        if (!x.hasLine) {
            startTag(e, "/>\n", 3);
            return;
        }
        startTag(e, ">\n", 2);
        const char* line = reinterpret_cast<const char*>(x.line.data);
        const u64 escaped = xmlEscapedLength(line, x.line.length, false);
        char* at = take(u64(e) + 1 + escaped + 3);
        if (at) {
            at = blanks(at, e + 1);
            *at++ = '"';
            at = writeXmlEscaped(at, line, x.line.length, false);
            *at++ = '"';
            *at = '\n';
        }
        endTag(e);
    }
    void closeBelow(Element e)
    {
        for (; top > e; top--)
            close(top);
    }
};

// Why tableText made no text.
enum class TextStatus : u8
{
    MADE,
    TOO_DEEP,      // the branches nest too deeply
    NOT_WRITTEN,   // a record holds text the writer cannot write as it stands
    TOO_LARGE,     // the text would take more than a table of its size may
    OVER_BUDGET,   // the text does not fit the archive's budget
    OUT_OF_MEMORY,
    QUIT,          // a quit signal came
};

// The most text a table's conversion may make. The check reads the text back and compares what
// it writes as it goes, holding no bytes written back, so with the table itself a run stays
// within twelve times the table and a few dozen MiB, whatever its shape (the depth of nesting
// indents every line).
u64 tableTextLimit(u64 tableBytes)
{
    return convertedTextLimit(tableBytes) + tableBytes;
}

// One pass of the writer over the table: counting the text's length, or writing it into `into`.
TextStatus writeTableText(const ByteArray& bytes, TextBuilder* into, u64& length)
{
    // The writer is too large for a thread's stack.
    TableWriter* writer = memNew<TableWriter>(into);
    if (!writer)
        return TextStatus::OUT_OF_MEMORY;
    const Decoded decoded = decodeTable(bytes, *writer, true);
    if (writer->ok && writer->writable && decoded == Decoded::WHOLE)
        writer->finish();
    TextStatus status = TextStatus::MADE;
    if (decoded == Decoded::QUIT)
        status = TextStatus::QUIT;
    else if (decoded == Decoded::TOO_DEEP)
        status = TextStatus::TOO_DEEP;
    else if (!writer->writable)
        status = TextStatus::NOT_WRITTEN;
    else if (!writer->ok)
        status = TextStatus::OUT_OF_MEMORY;
    length = writer->length;
    memDelete(writer);
    return status;
}

// The table's XML text as the extracted file holds it (writeXml's text of its document and a
// line end), counted first and then made at its size, a record at a time; empty unless `status`
// is MADE. With a budget (on open) the text is made only when it allows; the caller releases
// what it reserved.
String tableText(const ByteArray& bytes, TextStatus& status, TextBudget* budget = nullptr)
{
    // Memory that runs out ends the text there: nothing more is asked for.
    const AllocationStop stop;
    u64 length = 0;
    status = writeTableText(bytes, nullptr, length);
    if (status != TextStatus::MADE)
        return String();
    // Charged and taken at its size, line end included, before any of it is made.
    TextBuilder text(budget ? TextBudget::charge : nullptr, budget);
    if (!text.extend(length + 1)) {
        status = !text.refused()                 ? TextStatus::OUT_OF_MEMORY
                 : budget && budget->tooLarge   ? TextStatus::TOO_LARGE
                                                : TextStatus::OVER_BUDGET;
        return String();
    }
    text.truncate(0);
    u64 written = 0;
    status = writeTableText(bytes, &text, written);
    if (status == TextStatus::MADE && (written != length || text.length != length))
        status = TextStatus::NOT_WRITTEN;
    if (status != TextStatus::MADE)
        return String();
    text.append('\n');
    return text.take();
}

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
    bool table()
    {
        XmlReader::Event e;
        bool more = next(e);
        while (more && e == XmlReader::START && !(in.depth() == 1 && in.name().equals("PFC")))
            more = skip() && next(e);
        if (!more)
            return false;
        const String* version = e == XmlReader::START ? in.attribute("Version") : nullptr;
        if (e == XmlReader::FAILED)
            return unreadable();
        if (e != XmlReader::START)
            fault(0, "ERROR: Invalid XML root type for '%s'!\n", path());
        else if (!version)
            fault(0, "ERROR: No version for '%s'!\n", path());
        else if (!isVersionOne(*version))
            fault(0, "ERROR: Unrecognised version %s for '%s'!\n", version->c_str(), path());
        else
            content();
        return finish();
    }
    // The records of the document's first element, whatever its name and version.
    bool records()
    {
        XmlReader::Event e;
        if (!next(e))
            return false;
        if (e != XmlReader::START)
            return unreadable();
        content();
        return finish();
    }

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

    bool next(XmlReader::Event& e)
    {
        if (!(++events % QUIT_CHECK_STEP) && quitSignalsReceived()) {
            stopped = true;
            return false;
        }
        e = in.next();
        return true;
    }
    bool skip()
    {
        const u32 own = in.depth();
        XmlReader::Event e = in.event();
        while (!(e == XmlReader::END && in.depth() == own) && e != XmlReader::FAILED && e != XmlReader::FINISHED) {
            if (!next(e))
                return false;
        }
        return true;
    }
    void fault(u32 depth, const char* format, ...) __attribute__((format(printf, 3, 4)))
    {
        faulted = true;
        faultDepth = depth;
        ownTextFirst = false;
        if (!file)
            return;
        va_list args;
        va_start(args, format);
        held.formatV(format, args);
        va_end(args);
    }
    bool unreadable()
    {
        // Memory that ran out while reading is said by the caller.
        if (memAllocationFailed())
            stopped = true;
        else if (file)
            printError("ERROR: Couldn't parse '%s'!\n", path());
        return false;
    }
    // After the root, or a fault: the rest of the text read to its end, then the first fault.
    bool finish()
    {
        XmlReader::Event e = in.event();
        while (!stopped && e != XmlReader::FINISHED && e != XmlReader::FAILED) {
            if (!next(e))
                break;
        }
        if (stopped)
            return false;
        if (e == XmlReader::FAILED)
            return unreadable();
        if (faulted) {
            if (file)
                printError("%s", held.c_str());
            return false;
        }
        if (tooDeep) {
            if (file)
                printError("ERROR: Branches in '%s' nest more than %u levels deep!\n", path(), PFC_MAX_DEPTH);
            return false;
        }
        if (recordsFollow) {
            if (file)
                printError(
                    "ERROR: Records follow a nested Branch in '%s'; the game would read them at the top level!\n",
                    path());
            return false;
        }
        return true;
    }
    // The root's content, up to its end or the first fault.
    void content()
    {
        open[0] = {ROOT, false};
        for (;;) {
            XmlReader::Event e;
            if (!next(e) || e == XmlReader::FAILED || e == XmlReader::FINISHED)
                return;
            const u32 depth = in.depth() - 1;
            if (e == XmlReader::END && depth == 0)
                return;
            const bool goOn = e == XmlReader::START ? start(depth) : e == XmlReader::END ? end(depth) : text(depth);
            if (!goOn) {
                settle();
                return;
            }
            if (!out.ok()) {
                stopped = true;
                return;
            }
        }
    }
    // A fault inside a record is said as a check of the record's elements in turn would find it:
    // what an element holds itself before what is inside it. The text of an element open around
    // the fault may still come, after its children: the record is read to its end for it.
    void settle()
    {
        // The deepest element whose own text comes first; the root's is read in turn.
        u32 watch = ownTextFirst || !faultDepth ? faultDepth : faultDepth - 1;
        while (faulted && file && watch > 0) {
            XmlReader::Event e;
            if (!next(e) || e == XmlReader::FAILED || e == XmlReader::FINISHED)
                return;
            const u32 depth = in.depth() - 1;
            const bool around = depth && depth <= watch;
            if (around && (e == XmlReader::END || (e == XmlReader::TEXT && !textFits(depth))))
                watch = depth - 1;
        }
    }
    bool start(u32 depth)
    {
        const String& name = in.name();
        const Kind parent = open[depth - 1].kind;
        const RecordKind* kind = parent == ROOT || parent == OPTION ? recordKind(name) : nullptr;
        const bool fits = kind || (parent == BRANCH && named(name, "Option"));
        if (!fits) {
            fault(depth, "ERROR: Unexpected element '%s' in element '%s' of '%s'!\n", name.c_str(),
                  in.nameAt(depth).c_str(), path());
            return false;
        }
        if (depth > PFC_MAX_DEPTH) {
            fault(depth, "ERROR: Records in '%s' nest more than %u levels deep!\n", path(), PFC_MAX_DEPTH);
            return false;
        }
        if (!kind) {
            if (in.attributes().count) {
                open[depth] = {OPTION, false};
                fault(depth, "ERROR: Unexpected attribute '%s' in element 'Option' of '%s'!\n",
                      in.attributes()[0]->name.c_str(), path());
                ownTextFirst = true;
                return false;
            }
            Open& branch = open[depth - 1];
            if (branch.optionSeen) {
                recordsFollow = recordsFollow || lost;
                out.writeU8(TAG_OPTION);
                if (readInBranch)
                    readParent = readBranch + 1;
            }
            branch.optionSeen = true;
            open[depth] = {OPTION, false};
            return true;
        }
        record.begin(*kind);
        if (!takeAttributes(*kind, depth))
            return false;
        // Back at the top level, records are read where they are written.
        if (depth == 1)
            lost = false;
        recordsFollow = recordsFollow || lost;
        if (kind != &BRANCH_RECORD) {
            open[depth] = {kind == &DIALOGUE_RECORD ? DIALOGUE : CUTAWAY, false};
            return true;
        }
        if (readParent + 3 > PFC_MAX_DEPTH)
            tooDeep = true;
        readBranch = readParent + 1;
        readParent = readBranch + 1;
        readInBranch = true;
        record.write(out);
        open[depth] = {BRANCH, false};
        return true;
    }
    // Only records hold a line, of at most PFC_MAX_LINE bytes.
    bool textFits(u32 depth)
    {
        const Kind kind = open[depth].kind;
        if (kind != DIALOGUE && kind != CUTAWAY) {
            fault(depth, "ERROR: Unexpected text in element '%s' of '%s'!\n", in.name().c_str(), path());
            return false;
        }
        const char* line = in.text();
        u64 length = in.textLength();
        unquoteLine(line, length);
        if (length > PFC_MAX_LINE) {
            fault(depth, "ERROR: A line of %llu bytes in element '%s' of '%s' is longer than %u bytes!\n",
                  (unsigned long long)length, in.name().c_str(), path(), PFC_MAX_LINE);
            return false;
        }
        return true;
    }
    bool text(u32 depth)
    {
        if (!textFits(depth))
            return false;
        record.takeLine(in.text(), in.textLength());
        return true;
    }
    bool end(u32 depth)
    {
        const Kind kind = open[depth].kind;
        if (kind == DIALOGUE || kind == CUTAWAY) {
            record.write(out);
        } else if (kind == BRANCH) {
            out.writeU8(TAG_END_BRANCH);
            readParent = 0;
            readInBranch = false;
            lost = lost || depth > 1;
        }
        return true;
    }
    // Each attribute is a field of the record, once, with a value the field can hold.
    bool takeAttributes(const RecordKind& kind, u32 depth)
    {
        const PtrArray<XmlAttribute>& attributes = in.attributes();
        u32 seen = 0;
        for (u32 i = 0; i < attributes.count; i++) {
            const XmlAttribute& a = *attributes[i];
            u32 f = 0;
            while (f < kind.count && !(a.name.length == kind.fields[f].nameLength &&
                                       memcmp(a.name.data, kind.fields[f].name, kind.fields[f].nameLength) == 0))
                f++;
            // A known name met before is a repeat.
            if (f == kind.count || (seen & (1u << f))) {
                fault(depth, "ERROR: Unexpected attribute '%s' in element '%s' of '%s'!\n", a.name.c_str(),
                      kind.name, path());
                return false;
            }
            seen |= 1u << f;
            // A name fits its 9 bytes; a number is empty or decimal digits up to the field's
            // largest (signs, blanks and anything else are refused).
            const FieldKind field = kind.fields[f].kind;
            const u64 largest = field == FIELD_U16 ? 0xFFFF : 0xFF;
            u64 n = 0;
            const bool valid = field == FIELD_TEXT ? a.value.length <= TEXT_FIELD
                                                   : parsePlainDecimal(a.value.data, a.value.length, largest, n);
            if (!valid) {
                fault(depth, "ERROR: Bad value '%s' for attribute '%s' of element '%s' in '%s'!\n",
                      a.value.c_str(), a.name.c_str(), kind.name, path());
                return false;
            }
            if (field == FIELD_TEXT)
                record.set(f, a.value);
            else
                record.numbers[f] = u32(n);
        }
        return true;
    }
};

// The text as the extracted file holds it, read back as a repack reads it and encoded: a table
// is converted only when that gives back exactly its bytes, compared as they come.
bool rebuildsExactly(const String& text, const ByteArray& bytes)
{
    const AllocationStop stop;
    RecordOut out(bytes);
    TableEncoder encoder(text.data, text.length, nullptr, out);
    return encoder.table() && out.whole();
}

}

PtrArray<XmlElement>* pfcToXml(const ByteArray& bytes)
{
    PtrArray<XmlElement>* document = memNew<PtrArray<XmlElement>>(true);
    XmlElement* root = document ? addXmlElement(*document, String("PFC")) : nullptr;
    DocumentBuilder builder(root);
    if (!root || decodeTable(bytes, builder, false) != Decoded::WHOLE || !builder.ok) {
        memDelete(document);
        return nullptr;
    }
    return document;
}

void xmlToPfc(const XmlElement& parent, ByteBuffer& out)
{
    RecordOut records(out);
    encodeChildren(parent, records, 0);
}

const XmlElement* findPfcRoot(const PtrArray<XmlElement>& document)
{
    for (const XmlElement* e : document) {
        if (e->name.equals("PFC"))
            return e;
    }
    return nullptr;
}

bool checkPfcDocument(const XmlElement& root, const String& path)
{
    // Read back as text, as a repack reads an edited file.
    String text;
    if (!root.write(text, 0))
        return false;
    ByteBuffer written;
    RecordOut out(written);
    TableEncoder encoder(text.data, text.length, &path, out);
    return encoder.records();
}

ContainerPFC::ContainerPFC(const String& name, const ByteArray& bytes, bool exact)
    : Container(name, name + ".xml", CONTAINER_PFC), converts(exact)
{
    // A view: whoever opened the table keeps its bytes (the archive holding it).
    raw = newByteView(bytes.data, bytes.count);
}

ContainerPFC::~ContainerPFC()
{
    deleteByteArray(raw);
    dropDocument();
}

void ContainerPFC::dropDocument()
{
    deleteByteArray(built);
    built = nullptr;
}

bool ContainerPFC::probe(const String& name, const ByteArray&)
{
    return name.endsWithNoCase(".PFC");
}

Container* ContainerPFC::open(const String& name, const ByteArray& bytes)
{
    const ToolOptions& opt = toolOptions();
    TextStatus status = TextStatus::MADE;
    TextBudget budget;
    budget.limit = tableTextLimit(bytes.count);
    budget.reserves = !opt.noConvert;
    String text;
    bool exact = false;
    bool memoryRanOut = false;
    {
        AllocationStop conversion;
        text = tableText(bytes, status, &budget);
        exact = status == TextStatus::MADE && rebuildsExactly(text, bytes);
        releaseTransient(budget.held);
        // Memory that runs out while converting ends the conversion, not the run: the table
        // stays raw, as one too large for the budget does. A repack pairs files with entries by
        // the form extraction gave them, which is not known then: the run fails, as memory
        // running out fails it anywhere else.
        memoryRanOut = status == TextStatus::OUT_OF_MEMORY || conversion.failed();
        if (memoryRanOut && opt.mode != MODE_REPACK)
            conversion.forgive();
    }
    // Want of room is worth a note at -v, a table the XML form cannot hold one at -vv; a quit
    // ends the run at the next entry, which says why.
    const bool quit = status == TextStatus::QUIT || quitSignalsReceived();
    const char* shortOfRoom = nullptr;
    const char* unfit = nullptr;
    if (memoryRanOut)
        shortOfRoom = "memory ran out while converting it";
    else if (status == TextStatus::TOO_LARGE)
        shortOfRoom = "its XML would take more memory than a document of its size may";
    else if (status == TextStatus::OVER_BUDGET)
        shortOfRoom = "converting it would pass the archive's budget";
    else if (!quit && status == TextStatus::TOO_DEEP)
        unfit = "its branches nest too deeply";
    else if (!quit && !exact)
        unfit = "its XML would not rebuild it exactly";
    if (shortOfRoom && opt.verbosity >= 1)
        printf(" -> '%s' stays raw: %s.\n", name.c_str(), shortOfRoom);
    else if (unfit && opt.verbosity >= 2)
        printf(" -> '%s' stays raw: %s.\n", name.c_str(), unfit);
    const bool usable = exact && !memoryRanOut;
    ContainerPFC* pfc = memNew<ContainerPFC>(name, bytes, usable);
    if (pfc && !pfc->raw) {
        deleteContainer(pfc);
        return nullptr;
    }
    if (pfc && usable && keepsConvertedText(text.length - 1, bytes.count))
        pfc->xmlFile = std::move(text);
    return pfc;
}

bool ContainerPFC::asXml() const
{
    return (built || converts) && !toolOptions().noConvert;
}

ByteArray* ContainerPFC::encode() const
{
    // The bytes the table holds go out as a view: the caller copies them where they belong.
    const ByteArray* current = built ? built : raw;
    return newByteView(current->data, current->count);
}

ByteArray* ContainerPFC::serialise(ProgressFunction progress, u32 depth)
{
    ByteArray* out = encode();
    if (!out)
        printError("ERROR: Couldn't encode '%s'!\n", path.c_str());
    if (progress)
        progress(depth);
    return out;
}

void ContainerPFC::list(u32 indent)
{
    printIndent(indent);
    printf("PFC Dialogue Table\n");
}

// Nested in an archive: the entry's own path on disk, with ".xml" when written as XML.
String ContainerPFC::extractedName(const String& entryPath) const
{
    return asXml() ? entryPath + ".xml" : entryPath;
}

u32 ContainerPFC::extract(const String& where, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    const bool xml = asXml();
    String file;
    if (where.isEmpty() || where.endsWith("/")) {
        // The directory of the command line: the file goes inside it under the table's name.
        if (!where.isEmpty() && !makeExtractionDirectory(where))
            return 0;
        file = joinPath(where, getFileName(xml ? secondPath : path));
    } else {
        file = extractedName(where);
    }
    if (opt.verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", file.c_str());
    }
    if (!xml)
        return writeExtractedFile(file, raw->data, raw->count) ? 1 : 0;
    if (!built && !xmlFile.isEmpty())
        return writeExtractedFile(file, reinterpret_cast<const u8*>(xmlFile.c_str()), xmlFile.length) ? 1 : 0;
    TextStatus status = TextStatus::MADE;
    String text = tableText(built ? *built : *raw, status);
    if (status != TextStatus::MADE) {
        reportUnmadeFile(file);
        return 0;
    }
    return writeExtractedFile(file, reinterpret_cast<const u8*>(text.c_str()), text.length) ? 1 : 0;
}

bool ContainerPFC::repack(const String& filePath, const String&, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    if (opt.verbosity >= 1) {
        printMarker('<', indent);
        printf(" %s\n", filePath.c_str());
    }
    String file = filePath;
    ByteArray* bytes = nullptr;
    if (filePath.isEmpty() || filePath.endsWith("/")) {
        // A lone table repacked from the directory it was extracted into: the file extract
        // wrote there, else the other form.
        const String xmlFile = joinPath(filePath, getFileName(secondPath));
        const String rawFile = joinPath(filePath, getFileName(path));
        const bool xmlFirst = asXml();
        file = xmlFirst ? xmlFile : rawFile;
        bool missing = false;
        bytes = readRepackFile(file, "", &missing);
        if (!bytes && missing && !opt.noConvert) {
            const String& other = xmlFirst ? rawFile : xmlFile;
            bytes = readRepackFile(other, "", &missing);
            if (bytes)
                file = other;
        }
        if (!bytes && missing)
            printError("ERROR: Couldn't read '%s'!\n", file.c_str());
    } else {
        bytes = readRepackFile(file);
    }
    if (!bytes)
        return false;
    bool ok = true;
    // The file as extracted leaves the table the one it was opened from.
    const bool asExtracted = converts && !built && !xmlFile.isEmpty() &&
                             sameBytes(bytes->data, bytes->count, reinterpret_cast<const u8*>(xmlFile.data),
                                       xmlFile.length);
    if (!file.endsWithNoCase(".xml")) {
        dropDocument();
        deleteByteArray(raw);
        raw = bytes;
        bytes = nullptr;
        converts = false;
        xmlFile.free();
    } else if (!asExtracted) {
        ok = repackXml(*bytes, file);
    }
    deleteByteArray(bytes);
    // Memory that ran out is said once, naming the file; nothing else is said of it.
    if (!ok)
        outOfMemory("converting", file.c_str());
    return ok;
}

// A failed edit leaves the table as it was. The document is read as events: each record is
// checked and written as it comes, and none is held after that.
bool ContainerPFC::repackXml(const ByteArray& bytes, const String& file)
{
    // Memory that runs out ends the repack there: nothing more is asked for.
    const AllocationStop stop;
    if (!xmlEncodingReadable(bytes, file))
        return false;
    // Room for the table as it was: an unedited one is handed over without a copy.
    ByteBuffer buffer(raw->count, raw->count);
    if (raw->count && !buffer.data())
        return false;
    RecordOut out(buffer);
    TableEncoder encoder(reinterpret_cast<const char*>(bytes.data), bytes.data ? bytes.count : 0, &file, out);
    ByteArray* written = encoder.table() ? buffer.release() : nullptr;
    if (!written)
        return false;
    dropDocument();
    built = written;
    return true;
}

void ContainerPFC::hashContents(Md5& context, u32 indent)
{
    ByteArray* bytes = encode();
    if (bytes && bytes->count)
        context.update(bytes->data, bytes->count);
    deleteByteArray(bytes);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("PFC -> %llu\n", (unsigned long long)peekDigest(context));
    }
}
