#include "tool/convert/IffSchemas.h"

namespace
{
// The order in which schemas are asked; the first that matches a chunk claims it, so it may
// never change. A schema plugs in by naming its maker in its own slot.
const SchemaSlot schemaOrder[] = {
    {"SectorCast", nullptr},
    {"SectorJumps", nullptr},
    {"SectorLoadObjectTypes", nullptr},
    {"SectorLoadAppearance", nullptr},
    {"MissileData", nullptr},
    {"MissileDynamics", nullptr},
    {"GunData", nullptr},
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
