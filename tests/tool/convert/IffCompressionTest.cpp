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

// A RefPack stream of literal runs only, as the format allows and our encoder never writes:
// 0xE0 + n/4 - 1 and n bytes (n a multiple of 4, at most 112), then 0xFC + the 0 to 3 left.
Bytes refPackLiterals(const Bytes& content)
{
    Bytes out;
    size_t at = 0;
    while (content.size() - at >= 4) {
        const size_t n = std::min<size_t>(112, (content.size() - at) / 4 * 4);
        out.push_back(u8(0xE0 + n / 4 - 1));
        out.insert(out.end(), content.begin() + long(at), content.begin() + long(at + n));
        at += n;
    }
    out.push_back(u8(0xFC | (content.size() - at)));
    out.insert(out.end(), content.begin() + long(at), content.end());
    return out;
}

Bytes refPackHeader(size_t n, bool fourByteSize)
{
    return fourByteSize ? cat({raw({0x90, 0xFB}), be32(u32(n))}) : raw({0x10, 0xFB, u8(n >> 16), u8(n >> 8), u8(n)});
}

// What our encoder writes for the content.
Bytes encodedBody(const Bytes& content, u8 code)
{
    ByteArray in = toArray(content);
    CompressionFailure failure;
    ByteArray* out = encodeChunkBody(in, code, failure);
    Bytes b = toBytes(out);
    deleteByteArray(out);
    return b;
}

// The content a chunk element's text stands for.
Bytes contentOf(const std::string& xml, const std::string& element)
{
    const size_t open = xml.find("<" + element + " ");
    const size_t start = xml.find('>', open) + 1;
    const size_t end = xml.find("</" + element + ">", start);
    ByteBuffer out;
    parseChunkText(out, String(xml.substr(start, end - start).c_str()));
    return Bytes(out.data(), out.data() + out.length);
}

// The first `from` after `after` becomes `to`.
void replaceFirst(std::string& text, const std::string& from, const std::string& to, const std::string& after = "")
{
    const size_t at = text.find(from, text.find(after));
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
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

// Streams our encoder would write differently are shown decoded all the same: written back
// unedited they take their stored stream again, so the file comes back byte for byte after
// extraction and repack, and after a rewrite, in runs that keep the extracted text and in runs
// that make it again. An edit re-encodes only the chunk it touches.
TEST(IffCompression, ForeignStreamsAreShownDecodedAndKeptUntilEdited)
{
    ASSERT_EQ(access(oracleModule().c_str(), R_OK), 0) << "run scripts/setup.sh test to install the npm oracles";
    const Bytes content = sampleText(5000);
    Bytes qfs;
    ASSERT_TRUE(runQfs("c", content, qfs));
    ASSERT_EQ(hexOf(Bytes(qfs.begin(), qfs.begin() + 5)), hexOf(refPackHeader(content.size(), false)));
    ByteArray plain = toArray(content);
    ByteArray* lzwxLiterals = CodecLZWX::literalStream(plain);
    struct Case
    {
        const char* what;
        u8 code;
        Bytes body;
    } cases[] = {
        {"RefPack of literal runs", COMPRESSION_REFPACK,
         cat({refPackHeader(content.size(), false), refPackLiterals(content)})},
        {"RefPack_4 of literal runs", COMPRESSION_REFPACK_4,
         cat({refPackHeader(content.size(), true), refPackLiterals(content)})},
        {"RefPack from another encoder", COMPRESSION_REFPACK, qfs},
        {"LZWX of literal codes", COMPRESSION_LZWX, cat({str("LZ"), le32(u32(content.size())), toBytes(lzwxLiterals)})},
    };
    deleteByteArray(lzwxLiterals);
    // An edit: six bytes of the text in capitals.
    const std::string text(content.begin(), content.end());
    const std::string word = text.substr(text.find_first_not_of(' ', text.find(' ', 100)), 6);
    std::string capitals = word;
    for (char& ch : capitals)
        ch = char(toupper(ch));
    std::string editedText = text;
    replaceFirst(editedText, word, capitals);
    const Bytes edited(editedText.begin(), editedText.end());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(encodedBody(content, c.code), c.body);
        const Bytes image = form("PACK", cat({chunk("TEXT", c.body), chunk("NOTE", "MARK one")}));
        std::string extractedBefore;
        for (u8 mode : {MODE_LIST, MODE_EXTRACT}) {
            OptionScope scope;
            scope.options.mode = mode;
            auto opened = [&] {
                ContainerIFF* iff = openIff(image);
                EXPECT_TRUE(iff->isConverted());
                return iff;
            };
            ContainerIFF* iff = opened();
            EXPECT_EQ(hexOf(serialised(*iff)), hexOf(image));
            std::string extracted;
            EXPECT_EQ(hexOf(editedAndRepacked(*iff, [](std::string&) {}, &extracted)), hexOf(image));
            EXPECT_EQ(iff->built, nullptr);
            EXPECT_NE(extracted.find("<TEXT OriginalSize=\"" + std::to_string(c.body.size()) + "\" Compression=\"" +
                                     compressionName(c.code) + "\">"),
                      std::string::npos);
            EXPECT_EQ(contentOf(extracted, "TEXT"), content);
            if (!extractedBefore.empty()) {
                EXPECT_EQ(extracted, extractedBefore);
            }
            extractedBefore = extracted;
            deleteContainer(iff);

            iff = opened();
            const Bytes noteEdited =
                editedAndRepacked(*iff, [](std::string& t) { replaceFirst(t, "MARK one", "MARK two"); });
            EXPECT_EQ(hexOf(noteEdited), hexOf(form("PACK", cat({chunk("TEXT", c.body), chunk("NOTE", "MARK two")}))));
            deleteContainer(iff);

            iff = opened();
            // The form's size goes too, or it would keep the old one with zeros after a shorter chunk.
            const std::string formSize = " OriginalSize=\"" + std::to_string(image.size() - 8) + "\"";
            const Bytes textEdited = editedAndRepacked(*iff, [&](std::string& t) {
                replaceFirst(t, word, capitals, "<TEXT");
                replaceFirst(t, formSize, "");
            });
            const Bytes body = encodedBody(edited, c.code);
            EXPECT_EQ(hexOf(textEdited), hexOf(form("PACK", cat({chunk("TEXT", body), chunk("NOTE", "MARK one")}))));
            ByteArray stored = toArray(body);
            ByteArray* decoded = decompressChunkBody(stored, c.code);
            EXPECT_EQ(toBytes(decoded), edited);
            deleteByteArray(decoded);
            deleteContainer(iff);
        }
    }
}

Bytes literalBody(const Bytes& content)
{
    return cat({refPackHeader(content.size(), false), refPackLiterals(content)});
}

// Chunks of the same content stored as different streams each get their own stream back, and
// chunks after a removed one still find theirs.
TEST(IffCompression, EachChunkKeepsItsOwnStream)
{
    OptionScope scope;
    const Bytes content = sampleText(3000);
    const Bytes literals = literalBody(content);
    const Bytes ours = refPackBody(content, false);
    const Bytes image = form("PACK", cat({chunk("ONE ", literals), chunk("TWO ", ours), chunk("THRE", literals),
                                          form("IN  ", chunk("FOUR", ours)), chunk("NOTE", "MARK one")}));
    ContainerIFF* iff = openIff(image);
    ASSERT_TRUE(iff->isConverted());
    const std::string xml = documentText(*iff);
    size_t shown = 0;
    for (size_t at = xml.find("Compression=\"RefPack\">"); at != std::string::npos;
         at = xml.find("Compression=\"RefPack\">", at + 1))
        shown++;
    EXPECT_EQ(shown, 4u);
    EXPECT_EQ(hexOf(editedAndRepacked(*iff, [](std::string& t) { replaceFirst(t, "MARK one", "MARK two"); })),
              hexOf(form("PACK", cat({chunk("ONE ", literals), chunk("TWO ", ours), chunk("THRE", literals),
                                      form("IN  ", chunk("FOUR", ours)), chunk("NOTE", "MARK two")}))));
    deleteContainer(iff);

    const Bytes second = literalBody(sampleText(2000));
    const Bytes two = form("PACK", cat({chunk("ONE ", literals), chunk("TWO ", second)}));
    iff = openIff(two);
    const Bytes removed = editedAndRepacked(*iff, [&](std::string& t) {
        const size_t from = t.find("  <ONE "), to = t.find("</ONE>\n") + 7;
        t.erase(from, to - from);
        replaceFirst(t, " OriginalSize=\"" + std::to_string(two.size() - 8) + "\"", "");
    });
    EXPECT_EQ(hexOf(removed), hexOf(form("PACK", chunk("TWO ", second))));
    deleteContainer(iff);
}

// A stream that does not decode to its size field stays stored bytes; the file comes back whole.
TEST(IffCompression, BrokenStreamsStayStored)
{
    OptionScope scope;
    const Bytes content = sampleText(5000);
    Bytes shortStream = refPackBody(content, false);
    shortStream.resize(shortStream.size() / 2);
    Bytes sizeOneMore = refPackBody(content, false);
    sizeOneMore[4] ^= 1;
    Bytes lzwxCut = lzwxBody(content);
    lzwxCut.resize(lzwxCut.size() - 40);
    for (const Bytes& body : {shortStream, sizeOneMore, lzwxCut}) {
        const Bytes image = form("PACK", chunk("DATA", body));
        ContainerIFF* iff = nullptr;
        captured([&] { iff = openIff(image); });
        ASSERT_TRUE(iff->isConverted());
        EXPECT_EQ(documentText(*iff).find("Compression="), std::string::npos)
            << hexOf(Bytes(body.begin(), body.begin() + 8));
        EXPECT_EQ(hexOf(serialised(*iff)), hexOf(image));
        EXPECT_EQ(hexOf(editedAndRepacked(*iff, [](std::string&) {})), hexOf(image));
        deleteContainer(iff);
    }
}

TEST(IffCompression, LzwxChunks)
{
    OptionScope scope;
    const Bytes content = sampleText(4000);
    const Bytes image = form("PACK", chunk("LZWX", lzwxBody(content)));
    ContainerIFF* iff = openIff(image);
    ASSERT_TRUE(iff->isConverted());
    const std::string xml = documentText(*iff);
    EXPECT_NE(xml.find("<LZWX OriginalSize=\"" + std::to_string(lzwxBody(content).size()) + "\" Compression=\"LZWX\">"),
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
