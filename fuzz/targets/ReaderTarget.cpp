#include "fuzz/FuzzTargets.h"
#include "gamedata/formats/Reader.h"

namespace
{
// A reader's promises: its position never leaves the data and what remains adds up.
void checkReader(TD::Reader& r, u64 size)
{
    if (r.tell() > size || r.remaining() != size - r.tell() || r.atEnd() != (r.tell() == size))
        fuzzFailure("a reader left its data");
}

u64 takeWord(const u8*& ops, const u8* end)
{
    u64 v = 0;
    for (u32 i = 0; i < 8 && ops < end; i++)
        v |= u64(*ops++) << (8 * i);
    return v;
}
}

// The input is both the data and, read from its front, the script of operations on it.
void fuzzReader(const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    TD::Array<unsigned char> array(data, u32(size));
    TD::ByteArrayReader reader(&array);
    TD::Reader* current = &reader;
    TD::Reader* copy = nullptr;
    u8 scratch[512];
    const u8* ops = data;
    const u8* end = data + (size < 256 ? size : 256);
    while (ops < end) {
        u8 op = *ops++;
        switch (op % 14) {
        case 0: current->readU8(); break;
        case 1: current->readU16(); break;
        case 2: current->readU32(); break;
        case 3: current->read(scratch, ops < end ? *ops++ * 2u : 0u); break;
        case 4: current->skip(takeWord(ops, end)); break;
        case 5: current->back(takeWord(ops, end)); break;
        case 6: current->seek(takeWord(ops, end)); break;
        case 7: current->rewind(); break;
        case 8: TD::Reader::readU32LE(*current); break;
        case 9: TD::Reader::readU32BE(*current); break;
        case 10:
            if (!copy)
                copy = reader.clone();
            break;
        case 11: current = copy ? copy : &reader; break;
        case 12: current = &reader; break;
        default: current->atEnd(); break;
        }
        checkReader(*current, array.count);
    }
    TD::deleteObject(copy);
}
