#include "gamedata/formats/IFF.h"
#include "gamedata/core/String.h"

#include <cstdio>

namespace TD
{
namespace
{
const char* const CHANNEL = "IFF";

constexpr u32 ID_FORM = fourCC("FORM");
constexpr u32 ID_RIFX = fourCC("RIFX");
constexpr u32 ID_RIFF = fourCC("RIFF");
constexpr u32 ID_LIST = fourCC("LIST");
constexpr u32 ID_CAT = fourCC("CAT ");
constexpr u32 ID_TABL = fourCC("TABL");
constexpr u32 ID_INFO = fourCC("INFO");
constexpr u32 ID_ROOT = fourCC("IFF\0");

bool isListIdByte(u8 c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ' ' ||
           c == 0;
}

// Letters, digits, '_', blanks or NULs, and not all zero.
bool isListId(u32 id)
{
    if (id == 0)
        return false;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (!isListIdByte(u8(id >> shift)))
            return false;
    return true;
}

u32 wordAt(Reader& r, u64 pos, bool bigEndian)
{
    r.seek(pos);
    return bigEndian ? Reader::readU32BE(r) : Reader::readU32LE(r);
}
}

u8 IFF::sniffFlavour(Reader& r)
{
    r.rewind();
    const u64 length = r.remaining();
    const u32 id = Reader::readU32BE(r);
    const u64 size = Reader::readU32BE(r);
    u8 flags = 0;
    if (id == ID_FORM) {
        const u32 type = wordAt(r, 8, true);
        const u32 at12 = wordAt(r, 12, true);
        if (type == fourCC("MOVE")) {
            if (at12 == fourCC("3DO_"))
                flags = size + 8 != length ? FLAVOUR_3DO | FLAVOUR_STRETCHED : FLAVOUR_3DO;
        } else if (type == fourCC("SAVE")) {
            if (at12 == ID_INFO && wordAt(r, 16, true) == 4)
                flags = FLAVOUR_SAVE_INFO;
        } else if (type == fourCC("AIFF")) {
            flags = FLAVOUR_AIFF;
        }
        if (at12 == ID_TABL)
            flags |= FLAVOUR_TABLES;
    }
    if (size + 8 > length)
        flags |= FLAVOUR_STRETCHED;
    r.rewind();
    return flags;
}

IFF* IFF::open(Reader& source)
{
    source.rewind();
    const u64 length = source.remaining();
    if (length < 4)
        return nullptr;
    const u32 id = Reader::readU32BE(source);
    source.rewind();
    if (id != ID_FORM && id != ID_RIFX && id != ID_RIFF)
        return nullptr;
    // Offsets are held in 32 bits; a larger image cannot be walked.
    if (length > 0xFFFFFFFFull)
        return nullptr;

    IFF* iff = TD_NEW(TD::IFF);
    if (!iff)
        return nullptr;
    iff->littleEndian = id == ID_RIFF ? 1 : 0;
    iff->flavour = id == ID_RIFF ? 0 : sniffFlavour(source);
    iff->reader = source.clone();
    if (!iff->reader) {
        deleteObject(iff);
        return nullptr;
    }
    if (!iff->reader->opened && iff->reader->open())
        iff->reader->opened = 1;
    iff->errorFlags = 0;
    iff->closeReaderOnDestroy = 1;

    Form* root = TD_NEW(TD::IFF::Form);
    if (!root || !iff->forms.push(root)) {
        deleteObject(root);
        deleteObject(iff);
        return nullptr;
    }
    root->end = u32(length);
    root->id = iff->littleEndian ? ID_RIFF : ID_ROOT;
    iff->reader->rewind();
    iff->readChunkHeader();
    return iff;
}

IFF::~IFF()
{
    if (reader) {
        if (closeReaderOnDestroy && reader->opened) {
            reader->close();
            reader->opened = 0;
        }
        deleteObject(reader);
        reader = nullptr;
    }
    forms.clear();
    forms.destroy();
}

u32 IFF::readWord(bool bigEndian)
{
    return bigEndian ? Reader::readU32BE(*reader) : Reader::readU32LE(*reader);
}

// Whether a "LIST" at `position` really holds a list: a textual list type, a textual first
// sub-chunk id, and a first sub-chunk that fits the list's declared size.
bool IFF::passesListTest(u64 position)
{
    const bool bigEndian = !littleEndian;
    reader->seek(position + 4);
    const u32 size = readWord(bigEndian);
    const u32 type = Reader::readU32BE(*reader);
    const u32 firstId = Reader::readU32BE(*reader);
    const u32 firstSize = readWord(bigEndian);
    reader->seek(position + 4);
    return isListId(type) && isListId(firstId) && firstSize <= size;
}

// A "TABL" at `position` whose size word is a whole number of offsets becomes a table when its
// non-zero offsets rise strictly, lie after the offsets themselves (so the walk always moves on)
// and stay inside the image.
void IFF::readTable(Form& f, u64 position)
{
    const u64 entriesStart = position + 8;
    const u32 size = f.chunkSize;
    reader->seek(entriesStart);
    if (size < 4 || size % 4 != 0)
        return;
    const u64 recordsStart = entriesStart + size;
    const u32 count = size / 4;
    u32 last = 0;
    for (u32 i = 0; i < count; i++) {
        const u32 offset = Reader::readU32LE(*reader);
        if (offset == 0)
            continue;
        if (offset <= last || offset > rootEnd() || offset < recordsStart) {
            reader->seek(entriesStart);
            return;
        }
        last = offset;
    }
    if (last == 0) {
        reader->seek(entriesStart);
        return;
    }
    u64 next = u64(last) + 4 + wordAt(*reader, last, false);
    if (next > rootEnd()) {
        // The last record claims more than the data holds.
        errorFlags |= ERROR_CHUNK_CUT;
        next = rootEnd();
    }
    f.chunkDataStart = u32(recordsStart);
    f.nextOffset = u32(next);
    f.chunkSize = u32(next - recordsStart);
    f.isContainer = 1;
    f.hasTable = 1;
    reader->seek(recordsStart);
}

bool IFF::findRecord(const Form& f, u64 position, u32& index)
{
    u32 low = 0, high = f.order.count;
    while (low < high) {
        const u32 mid = low + (high - low) / 2;
        const u32 offset = f.table[f.order[mid]];
        if (offset == position) {
            index = f.order[mid];
            return true;
        }
        if (offset < position)
            low = mid + 1;
        else
            high = mid;
    }
    return false;
}

bool IFF::readChunkHeader()
{
    Form& f = *forms.top();
    const u64 p = reader->tell();
    const u64 root = rootEnd();
    f.chunkOffset = u32(p);
    f.readPosition = 0;
    f.isContainer = 0;
    f.hasTable = 0;
    if (p + 8 > f.end) {
        f.chunkId = 0;
        f.chunkSize = 0;
        f.chunkOffset = f.chunkDataStart = f.nextOffset = f.end;
        reader->seek(f.end);
        return false;
    }

    if (f.table.count) {
        u32 index = 0;
        const bool found = findRecord(f, p, index);
        if (!found) {
            logger()->error(CHANNEL, "Invalid table offset!");
        } else {
            char name[16];
            snprintf(name, sizeof(name), "%04u", index);
            f.chunkId = (u32(u8(name[0])) << 24) | (u32(u8(name[1])) << 16) | (u32(u8(name[2])) << 8) | u8(name[3]);
            f.isContainer = 1;
            f.chunkDataStart = u32(p + 4);
            f.chunkSize = wordAt(*reader, p, false);
            u64 next = p + 4 + f.chunkSize + (f.chunkSize & 1);
            // A record may not run past its table.
            if (next > f.end) {
                errorFlags |= ERROR_CHUNK_CUT;
                next = f.end;
                f.chunkSize = u32(next - (p + 4));
            }
            f.nextOffset = u32(next);
            reader->seek(p + 4);
            return true;
        }
    }

    reader->seek(p);
    u32 id = Reader::readU32BE(*reader);
    bool container = id == ID_FORM || id == ID_CAT || id == ID_LIST || (littleEndian && id == ID_RIFF) ||
                     (!littleEndian && id == ID_RIFX);
    if (id == ID_LIST && !passesListTest(p)) {
        container = false;
        errorFlags |= ERROR_LIST_AS_CHUNK;
    }
    reader->seek(p + 4);
    u32 size = readWord(!littleEndian);
    f.chunkId = id;
    f.isContainer = container ? 1 : 0;
    f.chunkDataStart = u32(p + (container ? 12 : 8));
    const u32 pad = (flavour & FLAVOUR_AIFF) ? 0 : (size & 1);
    u64 next = p + 8 + size + pad;

    if ((p == 12 && (flavour & FLAVOUR_SAVE_INFO) && id == ID_INFO) || (p == 0 && (flavour & FLAVOUR_STRETCHED))) {
        next = root;
        size = u32(root - (p + 8));
    }
    if (next > root) {
        const u64 over = next - root;
        next = root;
        size = u32(root - (p + 8));
        if (over > 1)
            logger()->warning(CHANNEL, "Attempted to correct oversized chunk (%llu over)!", (unsigned long long)over);
        errorFlags |= container ? ERROR_CONTAINER_CUT : ERROR_CHUNK_CUT;
    }
    f.chunkSize = size;
    f.nextOffset = u32(next);

    if (id != ID_TABL) {
        if (container) {
            reader->seek(p + 8);
            f.chunkId = Reader::readU32BE(*reader);
            f.chunkSize = size - 4;
            reader->seek(p + 12);
        }
        return true;
    }
    readTable(f, p);
    return true;
}

bool IFF::atEnd() const
{
    const Form& f = current();
    return u64(f.chunkOffset) + 8 > f.end;
}

bool IFF::enterForm()
{
    Form& f = *forms.top();
    if (atEnd() || !f.isContainer)
        return false;
    Form* level = TD_NEW(TD::IFF::Form);
    if (!level)
        return false;
    if (f.hasTable) {
        u64 tableBytes = wordAt(*reader, u64(f.chunkOffset) + 4, true);
        // Bounded by the data: the size word may have been cut.
        const u64 available = rootEnd() > u64(f.chunkOffset) + 8 ? rootEnd() - (u64(f.chunkOffset) + 8) : 0;
        if (tableBytes > available)
            tableBytes = available;
        level->table = Array<unsigned int>(u32(tableBytes / 4));
        reader->seek(u64(f.chunkOffset) + 8);
        u32 nonZero = 0;
        for (u32 i = 0; i < level->table.count; i++) {
            level->table[i] = Reader::readU32LE(*reader);
            nonZero += level->table[i] != 0;
        }
        level->order = Array<unsigned int>(nonZero);
        for (u32 i = 0, k = 0; i < level->table.count && k < level->order.count; i++)
            if (level->table[i])
                level->order[k++] = i;
    }
    level->start = f.chunkOffset;
    level->dataStart = f.chunkDataStart;
    level->end = f.nextOffset;
    level->id = f.chunkId;
    level->parent = &f;
    if (!forms.push(level)) {
        deleteObject(level);
        return false;
    }
    reader->seek(level->dataStart);
    readChunkHeader();
    return true;
}

bool IFF::nextChunk()
{
    if (atEnd())
        return false;
    reader->seek(current().nextOffset);
    return readChunkHeader();
}

void IFF::leaveForm()
{
    if (forms.count <= 1)
        return;
    Form* level = forms.pop();
    reader->seek(level->end);
    readChunkHeader();
    deleteObject(level);
}

void IFF::rewindChunk()
{
    Form& f = *forms.top();
    f.readPosition = 0;
    reader->seek(f.chunkDataStart);
}

u32 IFF::read(u8* dst, u32 n)
{
    Form& f = *forms.top();
    const u32 rest = f.chunkSize > f.readPosition ? f.chunkSize - f.readPosition : 0;
    const u32 take = n < rest ? n : rest;
    if (take)
        reader->read(dst, take);
    f.readPosition += take;
    return take;
}

Array<unsigned char>* IFF::readChunk()
{
    const Form& f = current();
    const u32 rest = f.chunkSize > f.readPosition ? f.chunkSize - f.readPosition : 0;
    if (rest > reader->remaining())
        return nullptr;
    Array<unsigned char>* out = TD_NEW(TD::Array<unsigned char>, rest);
    if (!out)
        return nullptr;
    if (out->count != rest || read(out->data, rest) != rest) {
        deleteObject(out);
        return nullptr;
    }
    return out;
}

u32 IFF::readAt(void* dst, u32 offset, u32 n)
{
    const u64 saved = reader->tell();
    reader->seek(offset);
    const u64 available = reader->remaining();
    const u32 take = n < available ? n : u32(available);
    if (take)
        reader->read(static_cast<u8*>(dst), take);
    reader->seek(saved);
    return take;
}
}
