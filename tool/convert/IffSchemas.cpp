#include "tool/convert/IffSchemas.h"
#include "tool/convert/schemas/MissileGunSchemas.h"
#include "tool/convert/schemas/SectorSchemas.h"

namespace
{
// The order in which schemas are asked; the first that matches a chunk claims it, so it may
// never change. A schema plugs in by naming its maker in its own slot.
const SchemaSlot schemaOrder[] = {
    {"SectorCast", makeSectorCast},
    {"SectorJumps", makeSectorJumps},
    {"SectorLoadObjectTypes", makeSectorLoadObjectTypes},
    {"SectorLoadAppearance", makeSectorLoadAppearance},
    {"MissileData", makeMissileData},
    {"MissileDynamics", makeMissileDynamics},
    {"GunData", makeGunData},
    {"FighterGuns", nullptr},
    {"FighterSpecialGuns", nullptr},
    {"FighterMissiles", nullptr},
    {"FighterDecoys", nullptr},
    {"FighterTurrets", nullptr},
    {"CapitalTurrets", nullptr},
    {"CapitalMissiles", nullptr},
};
}

const SchemaSlot* iffSchemaOrder(u32& count)
{
    count = sizeof(schemaOrder) / sizeof(schemaOrder[0]);
    return schemaOrder;
}

void registerIffSchemas(SchemaList& schemas)
{
    for (const SchemaSlot& slot : schemaOrder) {
        if (!slot.make)
            continue;
        ChunkSchema* schema = slot.make();
        if (schema && !schemas.push(schema))
            memDelete(schema);
    }
}
