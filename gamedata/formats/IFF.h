#pragma once
#include "gamedata/core/Array.h"
#include "gamedata/core/Stack.h"
#include "gamedata/formats/Reader.h"

namespace TD
{
// A four-character id as a word whose most significant byte is the first character.
constexpr u32 fourCC(const char (&id)[5])
{
    return (u32(u8(id[0])) << 24) | (u32(u8(id[1])) << 16) | (u32(u8(id[2])) << 8) | u32(u8(id[3]));
}

// Walks the chunks of an IFF image ("FORM"/"RIFX" big-endian, "RIFF" little-endian) held behind a
// Reader: containers ("FORM", "CAT ", "LIST", and "RIFF" or "RIFX" in their own family) are
// entered as levels on a stack. Old game data has quirks that are tolerated: chunks larger than
// the data are cut to it, a "LIST" that holds no list is a plain chunk, "AIFF" forms have no pad
// bytes, a "SAVE" form stretches its "INFO" chunk over the whole file, and "TABL" chunks carry a
// table of little-endian record offsets whose records (a little-endian length, then the bytes)
// read as containers named 0000, 0001, ... The reader only reads; sizes from the data are never
// trusted past its end, and every move goes forward, so damaged data ends the walk rather than
// looping or reading outside the image.
class IFF
{
public:
    enum Flavour : u8
    {
        FLAVOUR_STRETCHED = 1, // the first chunk claims more than the data holds
        FLAVOUR_TABLES = 2,    // "FORM" with "TABL" at offset 12
        FLAVOUR_SAVE_INFO = 4, // "FORM" "SAVE" with a 4-byte "INFO" at 12
        FLAVOUR_AIFF = 8,      // odd chunks have no pad byte
        FLAVOUR_3DO = 16,      // "FORM" "MOVE" "3DO_"
    };
    enum ErrorFlag : u8
    {
        ERROR_CONTAINER_CUT = 1,
        ERROR_CHUNK_CUT = 2,
        ERROR_LIST_AS_CHUNK = 4,
    };

    // One open level. Offsets are absolute positions in the image.
    struct Form
    {
        u32 start = 0;
        u32 dataStart = 0;
        u32 end = 0;
        u32 id = 0;
        Form* parent = nullptr;
        Array<unsigned int> table;
        // Indexes of the table's non-zero offsets, which rise, so a record is found by halving.
        Array<unsigned int> order;
        // The current chunk of this level.
        u32 chunkId = 0; // a container's form or list type
        u8 isContainer = 0;
        u8 hasTable = 0;
        u32 chunkOffset = 0;
        u32 chunkDataStart = 0;
        u32 chunkSize = 0; // a container's without its type word
        u32 nextOffset = 0;
        u32 readPosition = 0;
    };

    Reader* reader = nullptr;
    u8 littleEndian = 0;
    u8 flavour = 0;
    u8 errorFlags = 0;
    u8 closeReaderOnDestroy = 0;
    Stack<Form> forms;

    // Null when the data begins with none of "FORM", "RIFX", "RIFF". The caller owns the result
    // (deleteObject); the reader is cloned, so the caller's may go once this returns.
    static IFF* open(Reader& reader);
    IFF() = default;
    virtual ~IFF();
    IFF(const IFF&) = delete;
    IFF& operator=(const IFF&) = delete;

    bool isContainer() const { return current().isContainer != 0; }
    bool hasTable() const { return current().hasTable != 0; }
    u32 chunkSize() const { return current().chunkSize; }
    Array<unsigned int>* table() { return &forms.top()->table; }
    const Form& currentForm() const { return current(); }
    u32 depth() const { return forms.count; }

    bool enterForm();
    bool atEnd() const;
    bool nextChunk();
    void leaveForm();
    void rewindChunk();
    u32 read(u8* dst, u32 n);
    // The rest of the current chunk (caller owns, deleteObject); null when the data holds less.
    Array<unsigned char>* readChunk();
    // Raw bytes at an absolute offset; the position is kept.
    u32 readAt(void* dst, u32 offset, u32 n);
    bool readChunkHeader();

    // The flavour flags of an image, from its first bytes; the reader is rewound around the test.
    static u8 sniffFlavour(Reader& reader);

private:
    const Form& current() const { return *forms.top(); }
    u32 rootEnd() const { return forms.items[0]->end; }
    u32 readWord(bool bigEndian);
    bool passesListTest(u64 position);
    void readTable(Form& f, u64 position);
    static bool findRecord(const Form& f, u64 position, u32& index);
};
}
