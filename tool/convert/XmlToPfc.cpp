#include "tool/convert/XmlToPfc.h"
#include "framework/app/ProcessUtils.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pfc
{
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

void unquoteLine(const char*& text, u64& length)
{
    if (length && (text[0] == '"' || text[0] == '\'') && text[length - 1] == text[0]) {
        text++;
        length = length > 1 ? length - 2 : 0;
    }
}

bool TableEncoder::table()
{
    XmlReader::Event e;
    bool more = next(e);
    while (more && e == XmlReader::START && !(in.depth() == 1 && in.name().equals("PFC")))
        more = skip() && next(e);
    if (!more)
        return false;
    const XmlSpan given = e == XmlReader::START ? in.attribute("Version") : XmlSpan();
    const String version = given.text();
    if (e == XmlReader::FAILED)
        return unreadable();
    if (e != XmlReader::START)
        fault(0, "ERROR: Invalid XML root type for '%s'!\n", path());
    else if (!given)
        fault(0, "ERROR: No version for '%s'!\n", path());
    else if (!isVersionOne(version))
        fault(0, "ERROR: Unrecognised version %s for '%s'!\n", version.c_str(), path());
    else
        content();
    return finish();
}

bool TableEncoder::records()
{
    XmlReader::Event e;
    if (!next(e))
        return false;
    if (e != XmlReader::START)
        return unreadable();
    content();
    return finish();
}

bool TableEncoder::next(XmlReader::Event& e)
{
    if (!(++events % QUIT_CHECK_STEP) && quitSignalsReceived()) {
        stopped = true;
        return false;
    }
    e = in.next();
    return true;
}

bool TableEncoder::skip()
{
    const u32 own = in.depth();
    XmlReader::Event e = in.event();
    while (!(e == XmlReader::END && in.depth() == own) && e != XmlReader::FAILED && e != XmlReader::FINISHED) {
        if (!next(e))
            return false;
    }
    return true;
}

void TableEncoder::fault(u32 depth, const char* format, ...)
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

bool TableEncoder::unreadable()
{
    // Memory that ran out while reading, and a quit that stopped it, are said by the caller.
    if (memAllocationFailed() || quitSignalsReceived())
        stopped = true;
    else if (file)
        printError("ERROR: Couldn't parse '%s'!\n", path());
    return false;
}

// After the root, or a fault: the rest of the text read to its end, then the first fault.
bool TableEncoder::finish()
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
void TableEncoder::content()
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
void TableEncoder::settle()
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

bool TableEncoder::start(u32 depth)
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
        if (in.attributeCount()) {
            open[depth] = {OPTION, false};
            fault(depth, "ERROR: Unexpected attribute '%s' in element 'Option' of '%s'!\n",
                  in.attributeName(0).text().c_str(), path());
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
bool TableEncoder::textFits(u32 depth)
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

bool TableEncoder::text(u32 depth)
{
    if (!textFits(depth))
        return false;
    record.takeLine(in.text(), in.textLength());
    return true;
}

bool TableEncoder::end(u32 depth)
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
bool TableEncoder::takeAttributes(const RecordKind& kind, u32 depth)
{
    u32 seen = 0;
    for (u32 i = 0; i < in.attributeCount(); i++) {
        const XmlSpan name = in.attributeName(i), value = in.attributeValue(i);
        u32 f = 0;
        while (f < kind.count && !name.equals(kind.fields[f].name, kind.fields[f].nameLength))
            f++;
        // A known name met before is a repeat.
        if (f == kind.count || (seen & (1u << f))) {
            fault(depth, "ERROR: Unexpected attribute '%s' in element '%s' of '%s'!\n", name.text().c_str(),
                  kind.name, path());
            return false;
        }
        seen |= 1u << f;
        // A name fits its 9 bytes; a number is empty or decimal digits up to the field's
        // largest (signs, blanks and anything else are refused).
        const FieldKind field = kind.fields[f].kind;
        const u64 largest = field == FIELD_U16 ? 0xFFFF : 0xFF;
        u64 n = 0;
        const bool valid = field == FIELD_TEXT ? value.length <= TEXT_FIELD
                                               : parsePlainDecimal(value.data, value.length, largest, n);
        if (!valid) {
            fault(depth, "ERROR: Bad value '%s' for attribute '%s' of element '%s' in '%s'!\n",
                  value.text().c_str(), name.text().c_str(), kind.name, path());
            return false;
        }
        if (field == FIELD_TEXT)
            record.setName(f, value.data, value.length);
        else
            record.numbers[f] = u32(n);
    }
    return true;
}

bool rebuildsExactly(const String& text, const ByteArray& bytes)
{
    const AllocationStop stop;
    RecordOut out(bytes);
    TableEncoder encoder(text.data, text.length, nullptr, out);
    return encoder.table() && out.whole();
}
}
