#include "framework/core/ByteArray.h"
#include "framework/io/Md5.h"
#include "fuzz/FuzzTargets.h"
#include "gamedata/formats/IFF.h"
#include "tool/convert/ContainerIFF.h"

#include <cstring>

namespace
{
void noProgress(u32)
{
}

// Every chunk of every level, bodies read; containers entered down to a bound.
void walk(TD::IFF& iff)
{
    u8 scratch[64];
    for (;;) {
        if (iff.atEnd()) {
            if (iff.depth() <= 1)
                return;
            iff.leaveForm();
            continue;
        }
        if (iff.isContainer() && iff.depth() < 300 && iff.enterForm())
            continue;
        iff.rewindChunk();
        iff.read(scratch, sizeof(scratch));
        TD::Array<unsigned char>* body = iff.readChunk();
        TD::deleteObject(body);
        iff.readAt(scratch, iff.currentForm().nextOffset, sizeof(scratch));
        iff.nextChunk();
    }
}
}

// The reader over any family ("FORM", "RIFX", "RIFF"), then the container over "FORM" data:
// whatever it opens, converted or kept raw, must give the same bytes back.
void fuzzIff(const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    TD::Array<unsigned char> array(data, u32(size));
    TD::ByteArrayReader reader(&array);
    if (TD::IFF* iff = TD::IFF::open(reader)) {
        walk(*iff);
        TD::deleteObject(iff);
    }
    if (size < 4 || memcmp(data, "FORM", 4) != 0)
        return;
    ByteArray bytes(data, u32(size));
    Container* c = ContainerIFF::open(String("FUZZ.IFF"), bytes);
    if (!c)
        fuzzFailure("IFF data was not opened");
    c->list(0);
    Md5 md5;
    c->hashContents(md5, 0);
    ByteArray* again = c->serialise(noProgress, 0);
    if (!again || again->count != bytes.count || (bytes.count && memcmp(again->data, bytes.data, bytes.count) != 0))
        fuzzFailure("an IFF file does not come back byte for byte");
    deleteByteArray(again);
    deleteContainer(c);
}
