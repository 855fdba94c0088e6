#include "IffTestUtil.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/XmlToIff.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <unistd.h>

using namespace ifftest;

namespace
{
Bytes refPackStream(const Bytes& content)
{
    CodecRefPack codec;
    ByteArray in = toArray(content);
    ByteArray* out = codec.compress(in);
    Bytes b = toBytes(out);
    deleteByteArray(out);
    return b;
}

Bytes refPackBody(const Bytes& content, bool fourByteSize)
{
    const u32 n = u32(content.size());
    Bytes header = fourByteSize ? cat({raw({0x90, 0xFB}), be32(n)}) : raw({0x10, 0xFB, u8(n >> 16), u8(n >> 8), u8(n)});
    return cat({header, refPackStream(content)});
}

Bytes lzwxBody(const Bytes& content, bool literalsOnly = false)
{
    ByteArray in = toArray(content);
    ByteArray* out = literalsOnly ? CodecLZWX::literalStream(in) : compressLZWX(in);
    Bytes b = cat({str("LZ"), le32(u32(content.size())), toBytes(out)});
    deleteByteArray(out);
    return b;
}

Bytes sampleText(size_t n)
{
    static const char words[] = "the pilot launch bay torpedo missile shield armour fuel sector nav point jump ";
    Bytes out;
    for (size_t i = 0; out.size() < n; i++)
        out.push_back(u8(words[(i * 7 + i / 13) % (sizeof(words) - 1)]));
    return out;
}

std::string oracleModule()
{
    return std::string(MORDAX_SOURCE_DIR) + "/tests/oracles/node_modules/qfs-compression";
}

// qfs-compression's compress ("c") or decompress ("d"); its streams carry the 0x10 0xFB header.
bool runQfs(const char* mode, const Bytes& in, Bytes& out)
{
    const std::string base = std::string(MORDAX_BINARY_DIR) + "/iff-qfs-" + std::to_string(getpid());
    const std::string inPath = base + ".in", outPath = base + ".out";
    {
        std::ofstream f(inPath, std::ios::binary);
        f.write(reinterpret_cast<const char*>(in.data()), std::streamsize(in.size()));
    }
    const std::string cmd = "node -e 'const q=require(process.argv[1]),fs=require(\"fs\");"
                            "const a=fs.readFileSync(process.argv[3]);"
                            "fs.writeFileSync(process.argv[4],process.argv[2]===\"c\"?q.compress(a):q.decompress(a))' '" +
                            oracleModule() + "' " + mode + " '" + inPath + "' '" + outPath + "'";
    const int rc = std::system(cmd.c_str());
    std::ifstream f(outPath, std::ios::binary);
    out = Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(inPath.c_str());
    std::remove(outPath.c_str());
    return rc == 0;
}

// The body of the first chunk of the first form.
Bytes firstChunkBody(const Bytes& image)
{
    if (image.size() < 20)
        return {};
    const u32 size = (u32(image[16]) << 24) | (u32(image[17]) << 16) | (u32(image[18]) << 8) | image[19];
    return Bytes(image.begin() + 20, image.begin() + 20 + std::min<size_t>(size, image.size() - 20));
}
}

TEST(IffCompression, CompressedChunksAreShownDecoded)
{
    OptionScope scope;
    const Bytes content = sampleText(3000);
    for (bool four : {false, true}) {
        const Bytes image = form("PACK", cat({chunk("TEXT", refPackBody(content, four)), chunk("PLAN", "plain")}));
        ContainerIFF* iff = openIff(image);
        ASSERT_TRUE(iff->isConverted());
        const std::string xml = documentText(*iff);
        const std::string name = four ? "RefPack_4" : "RefPack";
        EXPECT_NE(xml.find("<TEXT OriginalSize=\"" + std::to_string(firstChunkBody(image).size()) +
                           "\" Compression=\"" + name + "\">\n"),
                  std::string::npos)
            << xml.substr(0, 300);
        // The text shown is the decoded content.
        ByteArray xmlBytes(reinterpret_cast<const u8*>(xml.data()), u32(xml.size()));
        PtrArray<XmlElement>* document = parseXml(xmlBytes);
        ASSERT_NE(document, nullptr);
        const XmlElement* text = (*document)[0]->children[0]->children[0];
        ByteBuffer parsed;
        parseChunkText(parsed, text->value);
        memDelete(document);
        EXPECT_EQ(Bytes(parsed.data(), parsed.data() + parsed.length), content);
        EXPECT_EQ(hexOf(serialised(*iff)), hexOf(image));
        deleteContainer(iff);
    }
}

TEST(IffCompression, EditedTextIsCompressedAgain)
{
    OptionScope scope;
    const Bytes edited = sampleText(2500);
    const std::string xml = "<IFF Version=\"1\"><PACK FormType=\"FORM\"><TEXT Compression=\"RefPack\">" +
                            std::string(edited.begin(), edited.end()) + "</TEXT></PACK></IFF>";
    bool ok = false;
    const Bytes image = iffOf(xml, &ok);
    ASSERT_TRUE(ok);
    const Bytes body = firstChunkBody(image);
    EXPECT_EQ(hexOf(body), hexOf(refPackBody(edited, false)));
    ByteArray stored = toArray(body);
    ByteArray* decoded = decompressChunkBody(stored, COMPRESSION_REFPACK);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(toBytes(decoded), edited);
    deleteByteArray(decoded);

    ASSERT_EQ(access(oracleModule().c_str(), R_OK), 0) << "run scripts/setup.sh test to install the npm oracles";
    Bytes judged;
    ASSERT_TRUE(runQfs("d", body, judged));
    EXPECT_EQ(judged, edited);
}

// Streams our encoder would write differently, or that do not decode to their size, are kept
// as stored bytes: the file still comes back whole.
TEST(IffCompression, ForeignOrBrokenStreamsStayStored)
{
    OptionScope scope;
    ASSERT_EQ(access(oracleModule().c_str(), R_OK), 0) << "run scripts/setup.sh test to install the npm oracles";
    const Bytes content = sampleText(5000);
    Bytes foreign;
    ASSERT_TRUE(runQfs("c", content, foreign));
    ASSERT_GE(foreign.size(), 5u);
    ASSERT_EQ(foreign[0], 0x10);

    Bytes shortStream = refPackBody(content, false);
    shortStream.resize(shortStream.size() / 2);
    Bytes wrongSize = refPackBody(content, false);
    wrongSize[4] ^= 1;
    Bytes literalsOnly = {0x10, 0xFB, 0, 0, 8, 0xE1, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0xFC};
    for (const Bytes& body : {foreign, shortStream, wrongSize, literalsOnly}) {
        const Bytes image = form("PACK", chunk("DATA", body));
        ContainerIFF* iff = nullptr;
        captured([&] { iff = openIff(image); });
        ASSERT_TRUE(iff->isConverted());
        EXPECT_EQ(hexOf(serialised(*iff)), hexOf(image));
        ByteArray stored = toArray(body);
        ByteArray* plain = decompressChunkBody(stored, COMPRESSION_REFPACK);
        const bool reproducible = plain && refPackBody(toBytes(plain), false) == body;
        deleteByteArray(plain);
        const bool shown = documentText(*iff).find("Compression=") != std::string::npos;
        EXPECT_EQ(shown, reproducible) << hexOf(Bytes(body.begin(), body.begin() + 8));
        deleteContainer(iff);
    }
}

TEST(IffCompression, LzwxChunks)
{
    OptionScope scope;
    const Bytes content = sampleText(4000);
    const Bytes image = form("PACK", cat({chunk("LZWX", lzwxBody(content)), chunk("RAW ", lzwxBody(content, true))}));
    ContainerIFF* iff = openIff(image);
    ASSERT_TRUE(iff->isConverted());
    const std::string xml = documentText(*iff);
    // The stream the codec writes is shown decoded; one written otherwise stays as stored.
    EXPECT_NE(xml.find("<LZWX OriginalSize=\"" + std::to_string(lzwxBody(content).size()) + "\" Compression=\"LZWX\">"),
              std::string::npos);
    EXPECT_NE(xml.find("<RAW OriginalSize=\"" + std::to_string(lzwxBody(content, true).size()) + "\">"),
              std::string::npos);
    EXPECT_EQ(hexOf(serialised(*iff)), hexOf(image));
    deleteContainer(iff);

    const Bytes edited = sampleText(1500);
    bool ok = false;
    const Bytes written = iffOf("<IFF Version=\"1\"><PACK FormType=\"FORM\"><TEXT Compression=\"LZWX\">" +
                                    std::string(edited.begin(), edited.end()) + "</TEXT></PACK></IFF>",
                                &ok);
    ASSERT_TRUE(ok);
    const Bytes body = firstChunkBody(written);
    EXPECT_EQ(hexOf(Bytes(body.begin(), body.begin() + 6)), hexOf(cat({str("LZ"), le32(1500)})));
    ByteArray stored = toArray(body);
    ByteArray* decoded = decompressChunkBody(stored, COMPRESSION_LZWX);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(toBytes(decoded), edited);
    deleteByteArray(decoded);
}
