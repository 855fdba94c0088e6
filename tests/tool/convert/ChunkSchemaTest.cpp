#include "IffTestUtil.h"
#include "framework/io/MemoryStream.h"
#include "tool/convert/IffSchemas.h"
#include "tool/convert/IffToXml.h"
#include "tool/convert/XmlToIff.h"

#include <optional>
#include <vector>

using namespace ifftest;

namespace
{
// A record of every field kind, for the shared conversions.
const SchemaField RECORD[] = {
    {"Name", FIELD_TEXT, 8}, {"Count", FIELD_U8, 0}, {"Armed", FIELD_FLAG, 0},
    {"Mass", FIELD_U32, 0},  {"Speed", FIELD_FIXED, 0},
};
constexpr u32 RECORD_SIZE = 8 + 1 + 1 + 4 + 4;

// A schema over "TEST.RECS" bodies of whole records; `lossy` drops every flag's value.
struct RecordSchema : ChunkSchema
{
    bool lossy;
    explicit RecordSchema(const char* name, bool lossy = false) : ChunkSchema(name), lossy(lossy) {}
    bool matches(const String& formPath, Stream& body) override
    {
        return matchesFormPath(formPath, body, "TEST.", ".RECS", RECORD_SIZE, 0);
    }
    void toXml(Stream& body, XmlWriter& out) override
    {
        while (body.bytesLeft()) {
            out.open("Record");
            for (const SchemaField& field : RECORD) {
                const String value = readField(body, field.kind, field.size);
                out.attribute(field.attribute, lossy && field.kind == FIELD_FLAG ? String("no") : value);
            }
            out.close();
        }
    }
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override
    {
        return eachChild(in, [&](XmlReader& record) { return recordFromXml(record, RECORD, 5, out, writer); });
    }
};

// The chunk element a body converts to under these schemas.
std::string chunkXmlWith(const SchemaList& schemas, const Bytes& body)
{
    TextBuilder text;
    XmlWriter xml(text);
    IffXmlOut out{xml, schemas};
    const ByteArray stored = toArray(body);
    chunkToXml(String("RECS"), TD::fourCC("RECS"), String("TEST"), stored, 0, out);
    return text.take().c_str();
}

// The chunk an element given as XML text writes back under these schemas.
Bytes chunkBytesWith(const SchemaList& schemas, const std::string& xml, bool& ok)
{
    IffWriter writer(schemas);
    writer.document = "TEST.xml";
    XmlReader in(xml.data(), xml.size());
    ByteBuffer out;
    ok = in.next() == XmlReader::START && xmlToIff(out, in, writer, 0);
    return Bytes(out.data(), out.data() + out.length);
}

Bytes record(const char* name, u8 count, u8 armed, u32 mass, i32 speed)
{
    Bytes field(8, 0);
    memcpy(field.data(), name, strnlen(name, 8));
    return cat({field, raw({count, armed}), le32(mass), le32(u32(speed))});
}
}

TEST(ChunkSchemas, MatchOrderIsFixed)
{
    const char* const names[] = {"SectorCast",      "SectorJumps",        "SectorLoadObjectTypes",
                                 "SectorLoadAppearance", "MissileData", "MissileDynamics",
                                 "GunData",         "FighterGuns",        "FighterSpecialGuns",
                                 "FighterMissiles", "FighterDecoys",      "FighterTurrets",
                                 "CapitalTurrets",  "CapitalMissiles"};
    u32 count = 0;
    const SchemaSlot* slots = iffSchemaOrder(count);
    ASSERT_EQ(count, 14u);
    for (u32 i = 0; i < count; i++)
        EXPECT_STREQ(slots[i].name, names[i]) << i;

    // Registered in slot order, each under its slot's name.
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    u32 at = 0;
    for (u32 i = 0; i < count; i++) {
        if (!slots[i].make)
            continue;
        ASSERT_LT(at, schemas.count);
        EXPECT_STREQ(schemas[at]->name, names[i]);
        at++;
    }
    EXPECT_EQ(at, schemas.count);
}

TEST(ChunkSchemas, PathAndSizeTests)
{
    struct Case
    {
        const char* path;
        const char* prefix;
        const char* suffix;
        u32 multiple, exact, size;
        bool matches;
    } cases[] = {
        {"SSSS.SECT.CAST", "SSSS.", ".CAST", 8, 0, 16, true},
        {"SSSS.CAST", "SSSS.", ".CAST", 8, 0, 8, true},
        {"SSSS.CAST", "SSSS.", ".CAST", 8, 0, 0, true},
        {"SSSS.CAST", "SSSS.", ".CAST", 8, 0, 12, false},
        {"ssss.CAST", "SSSS.", ".CAST", 8, 0, 8, false},
        {"SSSS.JUMP", "SSSS.", ".JUMP", 46, 0, 92, true},
        {"SSSS", "SSSS.", ".JUMP", 46, 0, 0, false},
        {"", nullptr, ".CAST", 0, 0, 0, false},
        {"REAL.OBJT.MISL.DATA", "REAL.OBJT", ".MISL.DATA", 0, 35, 35, true},
        {"REAL.OBJT.MISL.DATA", "REAL.OBJT", ".MISL.DATA", 0, 35, 34, false},
        {"SHIP.WEAP.FGTR.GUNS", nullptr, ".WEAP.FGTR.GUNS", 0, 0, 3, true},
        {"SHIP.weap.fgtr.guns", nullptr, ".WEAP.FGTR.GUNS", 0, 0, 3, false},
    };
    for (const Case& c : cases) {
        Bytes body(c.size, 0);
        MemoryStream stream(body.data(), u32(body.size()));
        EXPECT_EQ(matchesFormPath(String(c.path), stream, c.prefix, c.suffix, c.multiple, c.exact), c.matches)
            << c.path << " " << c.size;
    }
}

// A field is written only when it holds exactly what was typed (null bytes: refused).
TEST(ChunkSchemas, FieldsWrittenFromText)
{
    struct Case
    {
        FieldKind kind;
        u32 size;
        const char* value;
        std::optional<Bytes> bytes;
    };
    const std::vector<Case> u8s = {
        {FIELD_U8, 0, "0", raw({0})},     {FIELD_U8, 0, "255", raw({255})}, {FIELD_U8, 0, "007", raw({7})},
        {FIELD_U8, 0, "", raw({0})},      {FIELD_U8, 0, "256", {}},          {FIELD_U8, 0, "300", {}},
        {FIELD_U8, 0, "-1", {}},          {FIELD_U8, 0, "+2", {}},           {FIELD_U8, 0, " 5", {}},
        {FIELD_U8, 0, "abc", {}},         {FIELD_U8, 0, "1x", {}},
    };
    const std::vector<Case> u32s = {
        {FIELD_U32, 0, "4294967295", raw({0xFF, 0xFF, 0xFF, 0xFF})}, {FIELD_U32, 0, "1000", raw({0xE8, 3, 0, 0})},
        {FIELD_U32, 0, "", raw({0, 0, 0, 0})},                        {FIELD_U32, 0, "4294967296", {}},
        {FIELD_U32, 0, "99999999999999999999", {}},                   {FIELD_U32, 0, "-1", {}},
        {FIELD_U32, 0, "abc", {}},                                    {FIELD_U32, 0, "1.5", {}},
    };
    const std::vector<Case> flags = {
        {FIELD_FLAG, 0, "Yes", raw({1})},    {FIELD_FLAG, 0, "ON", raw({1})},       {FIELD_FLAG, 0, "1", raw({1})},
        {FIELD_FLAG, 0, "active", raw({1})}, {FIELD_FLAG, 0, "no", raw({0})},       {FIELD_FLAG, 0, "FALSE", raw({0})},
        {FIELD_FLAG, 0, "0", raw({0})},      {FIELD_FLAG, 0, "Inactive", raw({0})}, {FIELD_FLAG, 0, "", raw({0})},
        {FIELD_FLAG, 0, "2", {}},            {FIELD_FLAG, 0, "maybe", {}},          {FIELD_FLAG, 0, "yes ", {}},
    };
    const std::vector<Case> fixeds = {
        {FIELD_FIXED, 0, "1.5", raw({0x80, 0x01, 0, 0})},
        {FIELD_FIXED, 0, "-0.5", raw({0x80, 0xFF, 0xFF, 0xFF})},
        {FIELD_FIXED, 0, "-0.00390625", raw({0xFF, 0xFF, 0xFF, 0xFF})},
        {FIELD_FIXED, 0, "0.001", raw({0, 0, 0, 0})},
        {FIELD_FIXED, 0, "0x3FC00000", raw({0x80, 0x01, 0, 0})},
        {FIELD_FIXED, 0, "1e3", raw({0x00, 0xE8, 0x03, 0})},
        {FIELD_FIXED, 0, "65536.00390625", raw({0, 0, 0, 0x01})},
        {FIELD_FIXED, 0, "-8388608", raw({0, 0, 0, 0x80})},
        {FIELD_FIXED, 0, "", raw({0, 0, 0, 0})},
        {FIELD_FIXED, 0, "8388608", {}},
        {FIELD_FIXED, 0, "1e10", {}},
        {FIELD_FIXED, 0, "nan", {}},
        {FIELD_FIXED, 0, "inf", {}},
        {FIELD_FIXED, 0, "0x7FC00000", {}},
        {FIELD_FIXED, 0, "abc", {}},
        {FIELD_FIXED, 0, "1.5x", {}},
        {FIELD_FIXED, 0, " 1.5", {}},
    };
    const std::vector<Case> texts = {
        {FIELD_TEXT, 8, "ABCD", cat({str("ABCD"), Bytes(4, 0)})},
        {FIELD_TEXT, 8, "EIGHT CH", str("EIGHT CH")},
        {FIELD_TEXT, 3, "", Bytes(3, 0)},
        {FIELD_TEXT, 8, "LONGER THAN EIGHT", {}},
        {FIELD_TEXT, 16, "TWENTY-ONE LETTERS...", {}},
    };
    for (const std::vector<Case>* table : {&u8s, &u32s, &flags, &fixeds, &texts}) {
        for (const Case& c : *table) {
            ByteBuffer out;
            const bool ok = writeField(out, c.kind, c.size, String(c.value));
            EXPECT_EQ(ok, c.bytes.has_value()) << c.value;
            if (c.bytes) {
                EXPECT_EQ(hexOf(Bytes(out.data(), out.data() + out.length)), hexOf(*c.bytes)) << c.value;
            } else {
                EXPECT_EQ(out.length, 0u) << c.value;
            }
        }
    }
}

TEST(ChunkSchemas, FieldsReadAsText)
{
    EXPECT_STREQ(fixedToText(384).c_str(), "1.5");
    EXPECT_STREQ(fixedToText(-256).c_str(), "-1");
    EXPECT_STREQ(fixedToText(1).c_str(), "0.00390625");
    EXPECT_STREQ(fixedToText(16777217).c_str(), "65536.00390625");

    // What the body lacks reads as zero; a word needs four bytes, else the bytes wait for the
    // next field.
    const Bytes body = cat({str("AB"), raw({0}), str("CDEFG"), raw({7, 3}), raw({0xAA, 0xBB})});
    MemoryStream s(body.data(), u32(body.size()));
    EXPECT_STREQ(readField(s, FIELD_TEXT, 8).c_str(), "AB");
    EXPECT_STREQ(readField(s, FIELD_U8, 0).c_str(), "7");
    EXPECT_STREQ(readField(s, FIELD_FLAG, 0).c_str(), "yes");
    EXPECT_STREQ(readField(s, FIELD_U32, 0).c_str(), "0");
    EXPECT_STREQ(readField(s, FIELD_U8, 0).c_str(), "170");
    EXPECT_STREQ(readField(s, FIELD_FIXED, 0).c_str(), "0");
    EXPECT_STREQ(readField(s, FIELD_TEXT, 4).c_str(), "\xBB");
    EXPECT_STREQ(readField(s, FIELD_FLAG, 0).c_str(), "no");
    EXPECT_STREQ(readField(s, FIELD_TEXT, 4).c_str(), "");
}

TEST(ChunkSchemas, RecordsRoundTripThroughTheirSchema)
{
    OptionScope scope;
    SchemaList schemas(true);
    schemas.push(memNew<RecordSchema>("Records"));
    const Bytes body = cat({record("ALPHA", 3, 1, 1000, 384), record("BRAVO", 0, 0, 4294967295u, -256)});
    const std::string xml = chunkXmlWith(schemas, body);
    EXPECT_EQ(xml, "<RECS OriginalSize=\"36\" Handler=\"Records\">\n"
                   " <Record Name=\"ALPHA\" Count=\"3\" Armed=\"yes\" Mass=\"1000\" Speed=\"1.5\"/>\n"
                   " <Record Name=\"BRAVO\" Count=\"0\" Armed=\"no\" Mass=\"4294967295\" Speed=\"-1\"/>\n"
                   "</RECS>\n");
    bool ok = false;
    EXPECT_EQ(hexOf(chunkBytesWith(schemas, xml, ok)), hexOf(chunk("RECS", body)));
    EXPECT_TRUE(ok);

    // A required attribute missing: the handler fails and says so.
    std::string missing = xml;
    missing.erase(missing.find(" Mass=\"4294967295\""), strlen(" Mass=\"4294967295\""));
    EXPECT_EQ(captured([&] { chunkBytesWith(schemas, missing, ok); }),
              "ERROR: Missing attribute 'Mass' in element 'Record' of 'TEST.xml'!\n"
              "ERROR: IFF chunk 'RECS' uses Handler='Records', but that handler cannot write XML back to bytes.\n");
    EXPECT_FALSE(ok);
}

TEST(ChunkSchemas, ASchemaThatLosesBytesDoesNotClaimTheChunk)
{
    SchemaList schemas(true);
    schemas.push(memNew<RecordSchema>("Lossy", true));
    schemas.push(memNew<RecordSchema>("Later"));
    // The first that matches decides, even when it cannot keep the bytes.
    const Bytes armed = record("ALPHA", 3, 1, 1000, 384);
    EXPECT_EQ(chunkXmlWith(schemas, armed), "<RECS OriginalSize=\"18\">\n " +
                                                std::string(chunkBodyToText(armed.data(), u32(armed.size())).c_str()) +
                                                "\n</RECS>\n");
    const Bytes unarmed = record("BRAVO", 3, 0, 1000, 384);
    EXPECT_NE(chunkXmlWith(schemas, unarmed).find("Handler=\"Lossy\""), std::string::npos);
}

TEST(ChunkSchemas, HandlerNamesAreExact)
{
    SchemaList schemas(true);
    schemas.push(memNew<RecordSchema>("Records"));
    EXPECT_NE(findSchema(schemas, String("Records")), nullptr);
    EXPECT_EQ(findSchema(schemas, String("records")), nullptr);
    const char* xml = "<IFF Version=\"1\"><TEST FormType=\"FORM\"><RECS Handler=\"records\"/></TEST></IFF>";
    bool ok = true;
    EXPECT_EQ(captured([&] { iffOf(xml, &ok, false); }),
              "ERROR: IFF chunk 'RECS' uses Handler='records', but that handler cannot write XML back to bytes.\n");
    EXPECT_FALSE(ok);
}
