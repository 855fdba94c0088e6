#pragma once
#include "framework/app/ProcessUtils.h"
#include "framework/io/MemoryStream.h"
#include "framework/xml/XmlElement.h"
#include "tool/containers/Driver.h"
#include "tool/convert/ConvertedText.h"

// A dialogue table: a flat run of tagged records up to the end of the data, no header, no count.
//   0 Dialogue  speaker[9] expression[9] background[9] delay:u16 unk1:u16 line unk2:u8
//   4 Cutaway   background[9] delay:u16 unk1:u8 line
//   7 Branch    speaker[9] background[9] unk1:u16 unk2:u16; opens a branch and its first option
//   5           starts the open branch's next option
//   8           closes the branch: the next records belong to the top level again
//   other       the tag byte alone, skipped
// Names are NUL-padded 9-byte fields (no NUL when all 9 bytes are used); a line is its bytes
// and a 0 byte. Numbers are little-endian. The game keeps no stack of branches: any tag 8
// returns to the top level, so a nested branch can only end its option and its branch.

// Every record nests at most this deep in the XML form (the root "PFC" is level 0), which keeps
// the document inside what the XML reader and writer accept.
constexpr u32 PFC_MAX_DEPTH = XML_MAX_DEPTH - 1;
// Longest line the encoder writes.
constexpr u32 PFC_MAX_LINE = 512;

// The table's records and their conversions, in a namespace of their own: the chunk schemas'
// fields go by the same names.
namespace pfc
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
inline const Field DIALOGUE_FIELDS[] = {field("speaker", FIELD_TEXT), field("expression", FIELD_TEXT),
                                        field("background", FIELD_TEXT), field("delay", FIELD_U16, 1),
                                        field("unk1", FIELD_U16),        field("unk2", FIELD_U8)};
inline const Field CUTAWAY_FIELDS[] = {field("background", FIELD_TEXT), field("delay", FIELD_U16, 1),
                                       field("unk1", FIELD_U8)};
inline const Field BRANCH_FIELDS[] = {field("speaker", FIELD_TEXT), field("background", FIELD_TEXT),
                                      field("unk1", FIELD_U16), field("unk2", FIELD_U16)};

struct RecordKind
{
    const char* name;
    u8 tag;
    const Field* fields;
    u32 count;
    u32 lineAt; // the line goes before this field (count: after the last); past count: none
};

inline const RecordKind DIALOGUE_RECORD = {"Dialogue", TAG_DIALOGUE, DIALOGUE_FIELDS, 6, 5};
inline const RecordKind CUTAWAY_RECORD = {"Cutaway", TAG_CUTAWAY, CUTAWAY_FIELDS, 3, 3};
inline const RecordKind BRANCH_RECORD = {"Branch", TAG_BRANCH, BRANCH_FIELDS, 4, 5};

// ---- decoding

// A name field: its bytes up to the first NUL.
struct NameField
{
    char bytes[TEXT_FIELD] = {};
    u32 length = 0;
};

NameField readName(MemoryStream& s);
u8 readByte(MemoryStream& s);

// A line: its bytes in the table, up to the 0 that ends it (or the table's end).
struct LineField
{
    const u8* data = nullptr;
    u32 length = 0;
};

LineField readLine(MemoryStream& s);

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

// ---- the XML text

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
u64 tableTextLimit(u64 tableBytes);

// The table's XML text as the extracted file holds it (writeXml's text of its document and a
// line end), counted first and then made at its size, a record at a time; empty unless `status`
// is MADE. With a budget (on open) the text is made only when it allows; the caller releases
// what it reserved.
String tableText(const ByteArray& bytes, TextStatus& status, TextBudget* budget = nullptr);
}
