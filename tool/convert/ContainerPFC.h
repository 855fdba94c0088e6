#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"
#include "framework/xml/XmlElement.h"
#include "tool/containers/Container.h"

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

// The document {"PFC" Version="1" with one element per top-level record}; the caller owns it.
// Short fields read as zeros, unknown tags are skipped. Null when branches nest deeper than
// PFC_MAX_DEPTH.
PtrArray<XmlElement>* pfcToXml(const ByteArray& bytes);
// Appends the records for the children of `parent`. Missing attributes take their defaults
// (empty names, delay 1, other numbers 0, an empty line); unknown elements write nothing.
void xmlToPfc(const XmlElement& parent, ByteBuffer& out);
// The first top-level element named "PFC"; null when there is none.
const XmlElement* findPfcRoot(const PtrArray<XmlElement>& document);
// Whether the records under the root can be written exactly as they stand: known elements in
// their places, known attributes, numbers in range, names of at most 9 bytes, lines of at most
// PFC_MAX_LINE bytes, and no records behind a nested branch. Prints one "ERROR: " line naming
// `path` for the first fault.
bool checkPfcDocument(const XmlElement& root, const String& path);

// An opened table holds its bytes, not its XML form: a run that extracts keeps the XML text
// made at open to check the conversion, and any other use builds the form again from the bytes.
class ContainerPFC : public Container
{
public:
    ByteArray* raw = nullptr;                  // the bytes as opened or as last repacked raw
    bool converts = false;                     // the raw bytes have an exact XML form
    ByteArray* built = nullptr;                // the bytes of an edited document repacked from XML
    String xmlFile;                            // the extracted file's text when kept from open

    // Copies the bytes.
    ContainerPFC(const String& name, const ByteArray& bytes, bool converts);
    ~ContainerPFC() override;

    static bool probe(const String& name, const ByteArray& bytes);
    // Never null: a table whose XML would not give back exactly its bytes is kept raw.
    static Container* open(const String& name, const ByteArray& bytes);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& path, u32 indent) override;
    String extractedName(const String& entryPath) const override;
    bool repack(const String& filePath, const String& subPath, u32 indent) override;
    u32 fileCount() override { return 1; }
    void hashContents(Md5& context, u32 indent) override;

    // The table's bytes now: those of the edited document, or the raw bytes.
    ByteArray* encode() const;
    // Whether extract writes XML (and repack looks for it first).
    bool asXml() const;

private:
    void dropDocument();
    bool repackXml(const ByteArray& bytes, const String& filePath);
};
