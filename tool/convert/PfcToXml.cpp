#include "tool/convert/PfcToXml.h"
#include "framework/core/TextBuilder.h"
#include "framework/xml/XmlText.h"

#include <cstring>

namespace pfc
{
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

namespace
{
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
}

u64 tableTextLimit(u64 tableBytes)
{
    return convertedTextLimit(tableBytes) + tableBytes;
}

String tableText(const ByteArray& bytes, TextStatus& status, TextBudget* budget)
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
}
