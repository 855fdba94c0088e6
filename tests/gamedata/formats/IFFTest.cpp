#include "../TdTestHooks.h"
#include "IffBytes.h"
#include "gamedata/formats/IFF.h"

#include <random>
#include <string>

using namespace iffbytes;

namespace
{
std::string idText(u32 id)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const u8 c = u8(id >> shift);
        if (c >= 0x20 && c < 0x7F) {
            s += char(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            s += hex;
        }
    }
    return s;
}

// Every chunk the walk visits: id, offset, size; containers with their content in braces.
std::string walk(TD::IFF& iff, u32 depth = 0)
{
    std::string out;
    while (!iff.atEnd()) {
        const TD::IFF::Form& f = iff.currentForm();
        out += idText(f.chunkId) + "@" + std::to_string(f.chunkOffset) + ":" + std::to_string(f.chunkSize);
        if (iff.isContainer() && depth < 300) {
            out += "{";
            EXPECT_TRUE(iff.enterForm());
            out += walk(iff, depth + 1);
            iff.leaveForm();
            out += "} ";
        } else {
            out += " ";
            iff.nextChunk();
        }
    }
    return out;
}

struct Opened
{
    TD::Array<unsigned char> data;
    TD::ByteArrayReader reader;
    TD::IFF* iff;
    explicit Opened(const Bytes& b) : data(b.data(), u32(b.size())), reader(&data), iff(TD::IFF::open(reader)) {}
    ~Opened() { TD::deleteObject(iff); }
};
}

class IffReader : public TdHooksTest
{
protected:
    RecordingLogger recorder;
    RecordingLogger* logger = &recorder;
    void SetUp() override
    {
        TdHooksTest::SetUp();
        install(logger);
    }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const auto& l : recorder.lines)
            if (l.channel == "IFF")
                out.push_back(std::to_string(l.level) + " " + l.message);
        return out;
    }
};

TEST_F(IffReader, EmptyFormIsAContainerWithoutChunks)
{
    Opened o(form("TEST", {}));
    ASSERT_NE(o.iff, nullptr);
    const TD::IFF::Form& root = o.iff->currentForm();
    EXPECT_EQ(root.chunkId, TD::fourCC("TEST"));
    EXPECT_TRUE(o.iff->isContainer());
    EXPECT_EQ(o.iff->chunkSize(), 0u);
    EXPECT_EQ(root.chunkOffset, 0u);
    EXPECT_EQ(root.chunkDataStart, 12u);
    EXPECT_EQ(root.nextOffset, 12u);
    ASSERT_TRUE(o.iff->enterForm());
    EXPECT_TRUE(o.iff->atEnd());
    EXPECT_FALSE(o.iff->nextChunk());
    o.iff->leaveForm();
    EXPECT_TRUE(o.iff->atEnd());
    // The root level is never closed.
    o.iff->leaveForm();
    EXPECT_EQ(o.iff->depth(), 1u);
    EXPECT_EQ(o.iff->errorFlags, 0);
    EXPECT_EQ(o.iff->flavour, 0);
}

TEST_F(IffReader, OnlyIffDataOpens)
{
    for (const Bytes& b : {Bytes{}, str("FOR"), str("RIF"), str("XTRE...."), str("form\0\0\0\0")}) {
        Opened o(b);
        EXPECT_EQ(o.iff, nullptr);
    }
    for (const char* magic : {"FORM", "RIFX", "RIFF"}) {
        Opened o(str(magic));
        EXPECT_NE(o.iff, nullptr) << magic;
        EXPECT_TRUE(o.iff->atEnd());
    }
}

struct WalkCase
{
    const char* what;
    Bytes image;
    const char* trace;
    u8 flavour;
    u8 errors;
};

TEST_F(IffReader, WalksTheChunks)
{
    const Bytes missl = form("MISL", cat({chunk("DATA", "HELLO!"), chunk("ODD ", "abc")}));
    const WalkCase cases[] = {
        {"nested forms, a pad byte after an odd chunk", form("REAL", cat({form("OBJT", missl), chunk("NAME", "x")})),
         "REAL@0:60{OBJT@12:38{MISL@24:26{DATA@36:6 ODD @50:3 } } NAME@62:1 } ", 0, 0},
        {"AIFF: no pad byte", cat({str("FORM"), be32(4 + 11 + 9), str("AIFF"), str("COMM"), be32(3), str("abc"),
                                   str("SSND"), be32(1), str("z")}),
         "AIFF@0:20{COMM@12:3 SSND@23:1 } ", 8, 0},
        {"CAT and LIST containers",
         form("TOPS", cat({container("CAT ", "ABCD", chunk("ONE ", "1")), container("LIST", "LSTY", chunk("TWO ", "22"))})),
         "TOPS@0:44{ABCD@12:10{ONE @24:1 } LSTY@34:10{TWO @46:2 } } ", 0, 0},
        {"a LIST whose type is no text is a plain chunk",
         form("TOPS", cat({str("LIST"), be32(8), raw({'A', 0xFF, 'C', 'D'}), str("WXYZ")})),
         "TOPS@0:16{LIST@12:8 } ", 0, 4},
        {"RIFX is a container in FORM data, RIFF is not",
         form("TOPS", cat({container("RIFX", "SUBT", chunk("IN  ", "i")), container("RIFF", "SUBT", {})})),
         "TOPS@0:34{SUBT@12:10{IN  @24:1 } RIFF@34:4 } ", 0, 0},
        {"RIFF data: little-endian sizes, RIFX is plain",
         cat({str("RIFF"), le32(4 + 10 + 12), str("WAVE"), str("fmt "), le32(2), str("ab"), str("RIFX"), le32(4),
              str("abcd")}),
         "WAVE@0:22{fmt @12:2 RIFX@22:4 } ", 0, 0},
    };
    for (const WalkCase& c : cases) {
        Opened o(c.image);
        ASSERT_NE(o.iff, nullptr) << c.what;
        EXPECT_EQ(walk(*o.iff), c.trace) << c.what;
        EXPECT_EQ(o.iff->flavour, c.flavour) << c.what;
        EXPECT_EQ(o.iff->errorFlags, c.errors) << c.what;
    }
}

TEST_F(IffReader, OddChunksAndPadBytes)
{
    Opened plain(form("TEST", chunk("ODD ", "abc")));
    ASSERT_TRUE(plain.iff->enterForm());
    EXPECT_EQ(plain.iff->currentForm().chunkOffset, 12u);
    EXPECT_EQ(plain.iff->currentForm().nextOffset, 12u + 12);

    Bytes aiff = cat({str("FORM"), be32(4 + 11), str("AIFF"), str("ODD "), be32(3), str("abc")});
    Opened a(aiff);
    EXPECT_EQ(a.iff->flavour, TD::IFF::FLAVOUR_AIFF);
    ASSERT_TRUE(a.iff->enterForm());
    EXPECT_EQ(a.iff->currentForm().nextOffset, 12u + 11);
}

TEST_F(IffReader, OversizedOuterFormIsStretchedQuietly)
{
    Bytes b = form("TEST", chunk("DATA", "abcd"));
    Bytes claimed = b;
    const Bytes size = be32(u32(b.size() - 8 + 100));
    std::copy(size.begin(), size.end(), claimed.begin() + 4);
    Opened o(claimed);
    EXPECT_EQ(o.iff->flavour, TD::IFF::FLAVOUR_STRETCHED);
    EXPECT_EQ(o.iff->currentForm().nextOffset, b.size());
    EXPECT_EQ(o.iff->chunkSize(), b.size() - 12);
    EXPECT_EQ(walk(*o.iff), "TEST@0:12{DATA@12:4 } ");
    EXPECT_EQ(o.iff->errorFlags, 0);
    EXPECT_TRUE(messages().empty());
}

TEST_F(IffReader, InnerChunkPastTheEndIsCut)
{
    Bytes b = cat({str("FORM"), be32(4 + 8 + 14), str("TEST"), str("DATA"), be32(14), str("abcd")});
    Opened o(b);
    EXPECT_EQ(o.iff->flavour, TD::IFF::FLAVOUR_STRETCHED);
    EXPECT_EQ(walk(*o.iff), "TEST@0:12{DATA@12:4 } ");
    EXPECT_EQ(o.iff->errorFlags, TD::IFF::ERROR_CHUNK_CUT);
    // The outer form stretched over the data, so only the inner chunk is reported.
    EXPECT_EQ(messages(), std::vector<std::string>{"2 Attempted to correct oversized chunk (10 over)!"});

    logger->lines.clear();
    Bytes missingPad = form("TEST", chunk("ODD ", "abc"));
    missingPad.pop_back();
    Opened p(missingPad);
    EXPECT_EQ(walk(*p.iff), "TEST@0:11{ODD @12:3 } ");
    EXPECT_EQ(p.iff->errorFlags, TD::IFF::ERROR_CHUNK_CUT);
    EXPECT_TRUE(messages().empty());
}

TEST_F(IffReader, ListFailingTheListTestIsAPlainChunk)
{
    Bytes b = form("TOPS", cat({str("LIST"), be32(8), raw({'A', 0xFF, 'C', 'D'}), str("WXYZ")}));
    Opened o(b);
    ASSERT_TRUE(o.iff->enterForm());
    const TD::IFF::Form& f = o.iff->currentForm();
    EXPECT_EQ(f.chunkId, TD::fourCC("LIST"));
    EXPECT_FALSE(o.iff->isContainer());
    EXPECT_EQ(f.chunkDataStart, 12u + 8);
    EXPECT_EQ(o.iff->errorFlags, TD::IFF::ERROR_LIST_AS_CHUNK);
}

TEST_F(IffReader, TableRecordsAreNamedByIndex)
{
    // "TABL" at 12 with records at 0x20 and 0x30 (one holding a form).
    const Bytes first = form("RECA", chunk("X   ", "0"));
    const Bytes second = raw({1, 2, 3, 4});
    Bytes tabl = table(12, {first, second});
    Bytes b = cat({str("FORM"), be32(u32(4 + tabl.size())), str("TBLS"), tabl});
    ASSERT_EQ(b[20], 28);
    Opened o(b);
    EXPECT_EQ(o.iff->flavour, TD::IFF::FLAVOUR_TABLES);
    EXPECT_EQ(walk(*o.iff), "TBLS@0:50{TABL@12:34{0000@28:22{RECA@32:10{X   @44:1 } } 0001@54:4{} } } ");

    Opened again(b);
    ASSERT_TRUE(again.iff->enterForm());
    EXPECT_TRUE(again.iff->hasTable());
    ASSERT_TRUE(again.iff->enterForm());
    ASSERT_NE(again.iff->table(), nullptr);
    EXPECT_EQ(again.iff->table()->count, 2u);
    EXPECT_EQ((*again.iff->table())[0], 28u);
    EXPECT_EQ((*again.iff->table())[1], 54u);

    // Offsets out of order leave the "TABL" a plain chunk.
    Bytes swapped = b;
    std::swap_ranges(swapped.begin() + 20, swapped.begin() + 24, swapped.begin() + 24);
    Opened s(swapped);
    ASSERT_TRUE(s.iff->enterForm());
    EXPECT_FALSE(s.iff->isContainer());
    EXPECT_EQ(s.iff->chunkSize(), 8u);
}

TEST_F(IffReader, TableOffsetsMustPointPastThemselves)
{
    // The only offset points back at the "TABL" itself: walking it would never move on.
    Bytes b = cat({str("FORM"), be32(4 + 12 + 12), str("TBLS"), str("TABL"), be32(4), le32(12), chunk("NEXT", "abcd")});
    Opened o(b);
    ASSERT_TRUE(o.iff->enterForm());
    EXPECT_FALSE(o.iff->isContainer());
    EXPECT_EQ(walk(*o.iff), "TABL@12:4 NEXT@24:4 ");
}

TEST_F(IffReader, RecordOutsideItsTableIsLogged)
{
    // The first slot is empty, so the record at the start of the area is in no slot and is read
    // as an ordinary chunk (whose size runs past the data).
    Bytes b = cat({str("FORM"), be32(4 + 16 + 16), str("TBLS"), str("TABL"), be32(8), le32(0), le32(36), le32(4),
                   str("aaaa"), le32(4), str("bbbb")});
    Opened o(b);
    EXPECT_EQ(walk(*o.iff), "TBLS@0:32{TABL@12:16{\\x04\\x00\\x00\\x00@28:8 } } ");
    EXPECT_EQ(messages(), (std::vector<std::string>{"1 Invalid table offset!",
                                                   "2 Attempted to correct oversized chunk (1633771866 over)!"}));
    EXPECT_EQ(o.iff->errorFlags, TD::IFF::ERROR_CHUNK_CUT);
}

TEST_F(IffReader, ReadingChunkBodies)
{
    Opened o(form("TEST", cat({chunk("DATA", "HELLO!"), chunk("MORE", "xyz")})));
    ASSERT_TRUE(o.iff->enterForm());
    u8 buf[16] = {};
    EXPECT_EQ(o.iff->read(buf, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "HELL");
    TD::Array<unsigned char>* rest = o.iff->readChunk();
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rest->data), rest->count), "O!");
    TD::deleteObject(rest);
    EXPECT_EQ(o.iff->read(buf, 4), 0u);
    o.iff->rewindChunk();
    EXPECT_EQ(o.iff->read(buf, 16), 6u);
    EXPECT_EQ(o.iff->readAt(buf, 0, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "FORM");
    EXPECT_EQ(o.iff->readAt(buf, 36, 16), 2u);
    ASSERT_TRUE(o.iff->nextChunk());
    o.iff->rewindChunk();
    TD::Array<unsigned char>* more = o.iff->readChunk();
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->count, 3u);
    TD::deleteObject(more);
    EXPECT_FALSE(o.iff->nextChunk());
}

TEST_F(IffReader, SaveInfoIsStretchedOverTheFile)
{
    Bytes b = cat({str("FORM"), be32(4 + 12), str("SAVE"), str("INFO"), be32(4), str("abcd"), str("and more data")});
    Opened o(b);
    EXPECT_EQ(o.iff->flavour, TD::IFF::FLAVOUR_SAVE_INFO);
    ASSERT_TRUE(o.iff->enterForm());
    EXPECT_EQ(o.iff->chunkSize(), b.size() - 20);
    EXPECT_EQ(o.iff->currentForm().nextOffset, b.size());
}

TEST_F(IffReader, ThreeDoMovies)
{
    Bytes b = form("MOVE", cat({str("3DO_"), str("more")}));
    Opened o(b);
    EXPECT_EQ(o.iff->flavour, TD::IFF::FLAVOUR_3DO);
    b.push_back(0);
    Opened longer(b);
    EXPECT_EQ(longer.iff->flavour, TD::IFF::FLAVOUR_3DO | TD::IFF::FLAVOUR_STRETCHED);
}

TEST_F(IffReader, DeepNestingIsWalkedWithoutRecursion)
{
    Bytes b = chunk("CORE", "x");
    for (int i = 0; i < 2000; i++)
        b = form("DEEP", b);
    Opened o(b);
    u32 levels = 0;
    while (o.iff->isContainer() && o.iff->enterForm())
        levels++;
    EXPECT_EQ(levels, 2000u);
    EXPECT_EQ(o.iff->depth(), 2001u);
    EXPECT_EQ(o.iff->currentForm().chunkId, TD::fourCC("CORE"));
    while (o.iff->depth() > 1)
        o.iff->leaveForm();
    EXPECT_TRUE(o.iff->atEnd());
}

// Damaged images (every cut of a valid one, and random byte changes) are walked to the end with
// every read inside the data; the sanitizers and the hooks check the rest.
TEST_F(IffReader, DamagedDataIsWalkedSafely)
{
    const Bytes tabl = table(12, {form("RECA", chunk("X   ", "0")), raw({1, 2, 3, 4, 5})});
    const Bytes images[] = {
        form("REAL", cat({form("OBJT", form("MISL", cat({chunk("DATA", "HELLO!"), chunk("ODD ", "abc")}))),
                          container("LIST", "LSTY", chunk("TWO ", "22")), chunk("NAME", "x")})),
        cat({str("FORM"), be32(u32(4 + tabl.size())), str("TBLS"), tabl}),
        cat({str("RIFF"), le32(4 + 10), str("WAVE"), str("fmt "), le32(2), str("ab")}),
    };
    std::mt19937 rng(1234);
    for (const Bytes& image : images) {
        for (size_t cut = 0; cut <= image.size(); cut++) {
            Opened o(Bytes(image.begin(), image.begin() + cut));
            if (o.iff)
                walk(*o.iff);
        }
        for (int round = 0; round < 400; round++) {
            Bytes damaged = image;
            const int changes = 1 + int(rng() % 4);
            for (int k = 0; k < changes; k++)
                damaged[4 + rng() % (damaged.size() - 4)] = u8(rng());
            Opened o(damaged);
            ASSERT_NE(o.iff, nullptr);
            walk(*o.iff);
        }
    }
}
