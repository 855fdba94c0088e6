#pragma once
#include "tool/convert/ChunkSchema.h"

// One slot of the schema match order: the schema's name and the function that makes it. Each
// schema kind lives in its own file and provides its maker; a slot whose maker is not there
// yet is skipped.
struct SchemaSlot
{
    const char* name;
    ChunkSchema* (*make)();
};

// The match order, every slot in it (made or not).
const SchemaSlot* iffSchemaOrder(u32& count);
