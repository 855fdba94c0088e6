#include "tool/convert/IffSchemas.h"
#include "tool/convert/schemas/CapitalShipSchemas.h"
#include "tool/convert/schemas/FighterDefenceSchemas.h"
#include "tool/convert/schemas/FighterWeaponSchemas.h"
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
    {"FighterGuns", makeFighterGuns},
    {"FighterSpecialGuns", makeFighterSpecialGuns},
    {"FighterMissiles", makeFighterMissiles},
    {"FighterDecoys", makeFighterDecoys},
    {"FighterTurrets", makeFighterTurrets},
    {"CapitalTurrets", makeCapitalTurrets},
    {"CapitalMissiles", makeCapitalMissiles},
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
        // Memory that ran out ends the conversion that asked: nothing more is made for it.
        ChunkSchema* schema = slot.make();
        if (!schema || !schemas.push(schema)) {
            memDelete(schema);
            return;
        }
    }
}
