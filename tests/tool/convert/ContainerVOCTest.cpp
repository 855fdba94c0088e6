#include "framework/core/Heap.h"
#include "tests/helpers/ToolRunner.h"
#include "tests/tool/convert/SoundTestUtil.h"
#include "tool/containers/Driver.h"

#include <sys/stat.h>

namespace
{
using namespace soundtest;

// The file of the first edge case: written header, 1000 samples at divisor 166, terminator.
Bytes standardVoc(size_t samples = 1000, u8 divisor = 166, u32 seed = 1)
{
    return vocHeader() + soundBlock(divisor, 0, tone(samples, seed)) + terminator();
}

Bytes wavOf(u32 rate, const Bytes& samples)
{
    return text("RIFF") + le32(u32(36 + samples.size())) + text("WAVEfmt ") + le32(16) + le16(1) + le16(1) +
           le32(rate) + le32(rate) + le16(1) + le16(8) + text("data") + le32(u32(samples.size())) + samples;
}

std::vector<u8> blockTypes(const ContainerVOC& voc)
{
    std::vector<u8> types;
    for (VocBlock* b : voc.blocks)
        types.push_back(b->type);
    return types;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(VocRate, DivisorsAndRates)
{
    EXPECT_EQ(vocRateFromDivisor(166), 11111u);
    EXPECT_EQ(vocRateFromDivisor(131), 8000u);
    EXPECT_EQ(vocRateFromDivisor(0), 3906u);
    EXPECT_EQ(vocRateFromDivisor(255), 1000000u);
    EXPECT_EQ(vocDivisorFromRate(11111), 166);
    EXPECT_EQ(vocDivisorFromRate(22050), 211);
    // Every divisor a file can hold comes back from its rate, so rebuilt files keep their byte.
    for (u32 d = 0; d < 256; d++)
        EXPECT_EQ(vocDivisorFromRate(vocRateFromDivisor(u8(d))), d);
}

TEST(VocNames, WavNameReplacesTheLastExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"003.VOC", "003.wav"},
        {"NODOT", "NODOT.wav"},
        {"..\\..\\DATA\\SOUND\\EXPLODE.VOC", "..\\..\\DATA\\SOUND\\EXPLODE.wav"},
        {"out/SOUND/a.b.voc", "out/SOUND/a.b.wav"},
        // A dot in a folder name is not the file's extension.
        {"DIR.X/FILE", "DIR.X/FILE.wav"},
        {"DIR.X\\FILE", "DIR.X\\FILE.wav"},
        {".VOC", ".wav"},
        {"", ".wav"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(withWavExtension(String(c.first)).c_str(), c.second) << c.first;
}

TEST(VocProbe, MagicAndMarkByte)
{
    const Bytes magic = text("Creative Voice File");
    const std::pair<Bytes, bool> cases[] = {
        {{}, false},
        {magic, false},
        {magic + Bytes{0x1A}, true},
        {magic + Bytes{0x1B}, false},
        {text("creative Voice File\x1A"), false},
        {standardVoc(), true},
    };
    for (const auto& c : cases) {
        ByteArray a = toArray(c.first);
        EXPECT_EQ(ContainerVOC::probe(a), c.second) << c.first.size();
        EXPECT_EQ(ContainerVOC::probe(String("X.BIN"), a), c.second);
    }
}

TEST(VocOpen, StandardFileOpensListsAndRebuilds)
{
    OptionScope scope;
    const Bytes file = standardVoc();
    ContainerVOC* voc = openVoc(file, "SOUND\\003.VOC");
    ASSERT_NE(voc, nullptr);
    EXPECT_EQ(voc->typeCode, CONTAINER_VOC);
    EXPECT_STREQ(voc->path.c_str(), "SOUND\\003.VOC");
    EXPECT_STREQ(voc->secondPath.c_str(), "SOUND\\003.wav");
    EXPECT_STREQ(voc->getExtension().c_str(), "VOC");
    EXPECT_EQ(voc->sampleRate, 11111u);
    EXPECT_EQ(toBytes(voc->samples), tone(1000));
    EXPECT_EQ(toBytes(&voc->raw), file);
    EXPECT_EQ(blockTypes(*voc), (std::vector<u8>{1, 0}));
    EXPECT_EQ(voc->fileCount(), 1u);
    EXPECT_EQ(serialised(*voc), file);
    EXPECT_EQ(captured([&] { voc->list(2); }),
              "  VOC Audio (Mono, U8)\n   - Samples: 1000\n   - Sample rate: 11111 Hz\n");
    u32 calls = 0;
    static u32* counter;
    counter = &calls;
    ByteArray* out = voc->serialise([](u32 depth) { *counter += depth == 3 ? 1 : 100; }, 3);
    EXPECT_EQ(calls, 1u);
    deleteByteArray(out);
    deleteContainer(voc);
}

struct KeptFile
{
    const char* what;
    Bytes bytes;
    std::vector<u8> types;
    const char* printed;
};

// Files that rebuild byte for byte open, whatever blocks they hold besides their sound.
TEST(VocOpen, OtherBlocksAreKeptAndWrittenBack)
{
    OptionScope scope;
    const Bytes sound = soundBlock(131, 0, tone(50));
    const KeptFile cases[] = {
        {"text before the sound",
         vocHeader() + vocBlock(5, text("Made by hand") + Bytes{0, 'x'}) + sound + terminator(),
         {5, 1, 0}, ""},
        {"empty text", vocHeader() + vocBlock(5, {}) + sound + terminator(), {5, 1, 0}, ""},
        {"blocks 2, 3 and 4", vocHeader() + sound + vocBlock(2, tone(7)) + vocBlock(3, Bytes{0x10, 0x20, 0xA6}) +
                                  vocBlock(4, le16(3)) + terminator(),
         {1, 2, 3, 4, 0}, ""},
        {"unknown types", vocHeader() + vocBlock(9, tone(5)) + sound + vocBlock(0xFF, {}) + terminator(),
         {9, 1, 255, 0},
         "ERROR: Unhandled VOC chunk type 9!\nERROR: Unhandled VOC chunk type 255!\n"},
        {"no terminator", vocHeader() + sound, {1}, ""},
        {"two equal sound blocks", vocHeader() + sound + sound + terminator(), {1, 1, 0}, ""},
        {"no samples", vocHeader() + soundBlock(166, 0, {}) + terminator(), {1, 0}, ""},
    };
    for (const KeptFile& c : cases) {
        ContainerVOC* voc = nullptr;
        EXPECT_EQ(captured([&] { voc = openVoc(c.bytes); }), c.printed) << c.what;
        ASSERT_NE(voc, nullptr) << c.what;
        EXPECT_EQ(blockTypes(*voc), c.types) << c.what;
        EXPECT_EQ(serialised(*voc), c.bytes) << c.what;
        deleteContainer(voc);
    }
    // The text block carries its added zero in memory only.
    ContainerVOC* voc = openVoc(cases[0].bytes);
    ASSERT_NE(voc, nullptr);
    const Bytes inMemory = text("Made by hand") + Bytes{0, 'x', 0};
    EXPECT_EQ(toBytes(voc->blocks[0]->payload), inMemory);
    EXPECT_EQ(voc->sampleRate, 8000u);
    deleteContainer(voc);
}

struct RawFile
{
    const char* what;
    Bytes bytes;
    const char* printed;
};

// Files that would not come back as the same bytes are not converted: they stay plain entries.
TEST(VocOpen, FilesThatWouldChangeStayPlain)
{
    OptionScope scope;
    const Bytes sound = soundBlock(166, 0, tone(40));
    Bytes cutBlock = standardVoc();
    cutBlock.resize(cutBlock.size() - 30);
    const RawFile cases[] = {
        {"header only", vocHeader(), ""},
        {"magic only", text("Creative Voice File\x1A"), ""},
        {"no sound block", vocHeader() + vocBlock(5, text("text")) + terminator(), ""},
        {"another codec", vocHeader() + soundBlock(166, 4, tone(40)) + terminator(), "ERROR: Unhandled VOC codec 4!\n"},
        {"codec 0 then another", vocHeader() + sound + soundBlock(166, 1, tone(40)) + terminator(),
         "ERROR: Unhandled VOC codec 1!\n"},
        {"two different sounds", vocHeader() + sound + soundBlock(166, 0, tone(40, 2)) + terminator(), ""},
        {"two rates", vocHeader() + sound + soundBlock(131, 0, tone(40)) + terminator(), ""},
        {"version 1.20", vocHeader(26, 0x0114, 0x1129) + sound + terminator(), ""},
        {"check value", vocHeader(26, 0x010A, 0x1234) + sound + terminator(), ""},
        {"first block elsewhere", vocHeader(32) + sound + terminator(), ""},
        {"block past the end", cutBlock, ""},
        {"bytes after the terminator", standardVoc() + text("tail"), ""},
        {"a type byte without its length", vocHeader() + sound + Bytes{2, 1, 0}, ""},
        {"sound block of one byte", vocHeader() + vocBlock(1, Bytes{166}) + terminator(), ""},
        {"sound block without payload", vocHeader() + vocBlock(1, {}) + sound + terminator(), ""},
        {"16 MiB claimed by 30 bytes", vocHeader() + Bytes{1, 0xFF, 0xFF, 0xFF, 166, 0}, ""},
    };
    for (const RawFile& c : cases) {
        ContainerVOC* voc = nullptr;
        const u64 before = memLiveBytes();
        EXPECT_EQ(captured([&] { voc = openVoc(c.bytes); }), c.printed) << c.what;
        EXPECT_EQ(voc, nullptr) << c.what;
        EXPECT_EQ(memLiveBytes(), before) << c.what;
        deleteContainer(voc);
        // The driver hands such data back as a plain entry.
        ByteArray a = toArray(c.bytes);
        Container* found = nullptr;
        captured([&] { found = detectContainer(String("X.VOC"), a); });
        EXPECT_EQ(found, nullptr) << c.what;
        deleteContainer(found);
    }
    scope.options.verbosity = 1;
    EXPECT_EQ(captured([&] { EXPECT_EQ(openVoc(cases[5].bytes, "A.VOC"), nullptr); }),
              "VOC 'A.VOC' is kept as raw bytes; it would not convert back to the same bytes.\n");
}

// Every cut and every single-byte change of a file opens cleanly or not at all, and what opens
// rebuilds to its own bytes.
TEST(VocOpen, DamagedFilesNeverCrash)
{
    OptionScope scope;
    const Bytes file = vocHeader() + vocBlock(5, text("hello")) + soundBlock(166, 0, tone(60)) + vocBlock(7, tone(4)) +
                       terminator();
    auto check = [](const Bytes& bytes) {
        ContainerVOC* voc = nullptr;
        captured([&] { voc = openVoc(bytes); });
        if (voc) {
            EXPECT_EQ(serialised(*voc), bytes);
        }
        deleteContainer(voc);
    };
    for (size_t n = 0; n <= file.size(); n++)
        check(Bytes(file.begin(), file.begin() + long(n)));
    for (size_t i = 20; i < file.size(); i++) {
        for (u8 v : {u8(0), u8(1), u8(5), u8(0x80), u8(0xFF)}) {
            Bytes damaged = file;
            damaged[i] = v;
            check(damaged);
        }
    }
}

TEST(VocHash, SamplesFeedTheContext)
{
    OptionScope scope;
    ContainerVOC* voc = openVoc(standardVoc());
    ASSERT_NE(voc, nullptr);
    Md5 ours, expected;
    EXPECT_EQ(captured([&] { voc->hashContents(ours, 1); }), "");
    const Bytes samples = tone(1000);
    expected.update(samples.data(), u32(samples.size()));
    u8 a[16], b[16];
    ours.final(a);
    expected.final(b);
    EXPECT_EQ(memcmp(a, b, 16), 0);

    scope.options.verbosity = 2;
    Md5 loud, reference;
    reference.update(samples.data(), u32(samples.size()));
    const std::string line = " VOC -> " + std::to_string(peekDigest(reference)) + "\n";
    EXPECT_EQ(captured([&] { voc->hashContents(loud, 1); }), line);
    deleteContainer(voc);
}

TEST(VocExtract, WavBesideTheEntryOrRawWithNoConvert)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    const Bytes file = standardVoc(1000, 166);
    ContainerVOC* voc = openVoc(file, "..\\SOUND\\003.VOC");
    ASSERT_NE(voc, nullptr);

    scope.options.verbosity = 2;
    const std::string entry = dir.file("out/SOUND/003.VOC");
    u32 n = 0;
    EXPECT_EQ(captured([&] { n = voc->extract(String(entry.c_str()), 1); }),
              " >>> " + dir.file("out/SOUND/003.wav") + "\n");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(readFile(dir.file("out/SOUND/003.wav")), wavOf(11111, tone(1000)));
    EXPECT_FALSE(exists(entry));
    EXPECT_EQ(pythonWaveReading(dir.file("out/SOUND/003.wav")), "1 1 11111 1000 NONE " + hexOf(tone(1000)) + "\n");

    scope.options.verbosity = 0;
    scope.options.noConvert = 1;
    EXPECT_EQ(captured([&] { n = voc->extract(String(entry.c_str()), 1); }), "");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(readFile(entry), file);

    // At the top level the tool hands over its directory.
    scope.options.noConvert = 0;
    EXPECT_EQ(voc->extract(String((dir.file("top") + "/").c_str()), 0), 1u);
    EXPECT_EQ(readFile(dir.file("top/003.wav")), wavOf(11111, tone(1000)));
    deleteContainer(voc);
}

TEST(VocExtract, WriteFailureIsReported)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    iotest::writeFile(dir.file("blocker"), {1});
    ContainerVOC* voc = openVoc(standardVoc());
    ASSERT_NE(voc, nullptr);
    clearToolFailure();
    const std::string entry = dir.file("blocker/003.VOC");
    u32 n = 9;
    EXPECT_EQ(captured([&] { n = voc->extract(String(entry.c_str()), 1); }),
              "ERROR: Write failure for '" + dir.file("blocker/003.wav") + "'!\nERROR: Couldn't write '" +
                  dir.file("blocker/003.wav") + "' (Not a directory)!\n");
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(toolFailureNoted());
    clearToolFailure();
    deleteContainer(voc);
}

// The heart of the conversion: VOC to WAV and back gives the same bytes.
TEST(VocRepack, ExtractedWavComesBackByteForByte)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    for (u8 divisor : {u8(0), u8(131), u8(166), u8(211), u8(255)}) {
        const Bytes file = vocHeader() + vocBlock(5, text("note")) + soundBlock(divisor, 0, tone(777, divisor)) +
                           terminator();
        ContainerVOC* voc = openVoc(file);
        ASSERT_NE(voc, nullptr);
        const std::string entry = dir.file("003.VOC");
        ASSERT_EQ(voc->extract(String(entry.c_str()), 1), 1u);
        deleteContainer(voc);
        voc = openVoc(file);
        ASSERT_NE(voc, nullptr);
        EXPECT_EQ(captured([&] { EXPECT_TRUE(voc->repack(String(dir.file("003.wav").c_str()), String(), 1)); }), "");
        EXPECT_EQ(serialised(*voc), file) << int(divisor);
        deleteContainer(voc);
    }
}

TEST(VocRepack, SoxWavsAreResampledToTheEntryRate)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    struct Layout
    {
        u32 rate, bits, channels;
    };
    const Layout layouts[] = {{22050, 16, 2}, {22050, 8, 1}, {8000, 16, 1}, {44100, 8, 2}, {11111, 16, 2}};
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::to_string(l.rate) + " Hz " + std::to_string(l.bits) + "-bit " + std::to_string(l.channels));
        const std::string path = dir.file("new.wav");
        ASSERT_TRUE(soxSine(path, l.rate, l.bits, l.channels, "0.2"));
        const Bytes wavBytes = readFile(path);
        ByteArray wavArray = toArray(wavBytes);
        WavData* wav = readWav(wavArray);
        ASSERT_NE(wav, nullptr);
        ByteArray* expected = convertWavToU8Mono(*wav, 11111);
        ASSERT_NE(expected, nullptr);
        const u32 frames = wav->samples8 ? wav->samples8->count / l.channels : wav->samples16->count / l.channels;
        deleteWavData(wav);

        ContainerVOC* voc = openVoc(standardVoc());
        ASSERT_NE(voc, nullptr);
        EXPECT_TRUE(voc->repack(String(path.c_str()), String(), 1));
        EXPECT_EQ(toBytes(voc->samples), toBytes(expected));
        EXPECT_NEAR(double(voc->samples->count), double(frames) * 11111 / l.rate, 2.0);
        EXPECT_EQ(voc->sampleRate, 11111u);
        const Bytes rebuilt = serialised(*voc);
        EXPECT_EQ(rebuilt, vocHeader() + soundBlock(166, 0, toBytes(expected)) + terminator());
        // What was written opens again as the same sound.
        ContainerVOC* again = openVoc(rebuilt);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(toBytes(again->samples), toBytes(expected));
        deleteContainer(again);
        deleteContainer(voc);
        deleteByteArray(expected);
    }
}

TEST(VocRepack, SoxWavAtTheEntryRateIsTakenAsItIs)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    const std::string path = dir.file("same.wav");
    ASSERT_TRUE(soxSine(path, 11111, 8, 1));
    const Bytes wavBytes = readFile(path);
    ContainerVOC* voc = openVoc(standardVoc());
    ASSERT_NE(voc, nullptr);
    EXPECT_TRUE(voc->repack(String(path.c_str()), String(), 0));
    EXPECT_EQ(toBytes(voc->samples), Bytes(wavBytes.begin() + 44, wavBytes.end()));
    deleteContainer(voc);
}

// A VOC file given back replaces the entry whole: its own rate and blocks come with its samples.
TEST(VocRepack, VocFileReplacesTheEntryWhole)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    const Bytes replacement = vocHeader() + vocBlock(5, text("new")) + soundBlock(131, 0, tone(300, 5)) + terminator();
    iotest::writeFile(dir.file("003.VOC"), replacement);
    ContainerVOC* voc = openVoc(standardVoc());
    ASSERT_NE(voc, nullptr);
    EXPECT_TRUE(voc->repack(String(dir.file("003.VOC").c_str()), String(), 1));
    EXPECT_EQ(voc->sampleRate, 8000u);
    EXPECT_EQ(toBytes(voc->samples), tone(300, 5));
    EXPECT_EQ(serialised(*voc), replacement);
    EXPECT_EQ(toBytes(&voc->raw), replacement);
    deleteContainer(voc);
}

struct FailedRepack
{
    const char* what;
    const char* file;
    Bytes bytes;
    std::string printed; // %s stands for the file's path
};

// A replacement that cannot be stored fails the repack with one line and leaves the entry alone.
TEST(VocRepack, RefusedReplacementsChangeNothing)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    // 80000 frames at 50 Hz would be 17.8 million samples at 11111 Hz: more than a block holds.
    Bytes longWav = wavOf(50, Bytes(80000, 128));
    const FailedRepack cases[] = {
        {"missing file", "gone.wav", {}, "ERROR: Couldn't read '%s'!\n"},
        {"not a WAV", "bad.wav", text("RIFF") + le32(0) + text("AVI "), "ERROR: Not a WAVE file!\n"},
        {"rate 0", "zero.wav", wavOf(0, tone(100)), "ERROR: Couldn't convert '%s' to 11111 Hz!\n"},
        {"rate far off", "far.wav", wavOf(20, tone(100)), "ERROR: Couldn't convert '%s' to 11111 Hz!\n"},
        {"too long", "long.wav", longWav, "ERROR: '%s' is too long for a VOC sound at 11111 Hz!\n"},
        {"not a VOC", "003.VOC", text("plain text, no sound"), "ERROR: '%s' is not a VOC sound that can be stored!\n"},
        {"VOC with another codec", "004.VOC", vocHeader() + soundBlock(166, 4, tone(10)) + terminator(),
         "ERROR: Unhandled VOC codec 4!\nERROR: '%s' is not a VOC sound that can be stored!\n"},
    };
    const Bytes original = standardVoc();
    for (const FailedRepack& c : cases) {
        const std::string path = dir.file(c.file);
        if (!c.bytes.empty())
            iotest::writeFile(path, c.bytes);
        ContainerVOC* voc = openVoc(original);
        ASSERT_NE(voc, nullptr);
        bool ok = true;
        std::string expected = c.printed;
        const size_t at = expected.find("%s");
        if (at != std::string::npos)
            expected.replace(at, 2, path);
        EXPECT_EQ(captured([&] { ok = voc->repack(String(path.c_str()), String(), 1); }), expected) << c.what;
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(serialised(*voc), original) << c.what;
        deleteContainer(voc);
    }
}

TEST(VocRepack, TopLevelReadsTheFileInTheDirectory)
{
    OptionScope scope;
    iotest::ScratchDir dir;
    iotest::writeFile(dir.file("003.wav"), wavOf(11111, tone(20, 9)));
    iotest::writeFile(dir.file("003.VOC"), standardVoc(30, 166, 4));
    ContainerVOC* voc = openVoc(standardVoc(), "somewhere/003.VOC");
    ASSERT_NE(voc, nullptr);
    scope.options.verbosity = 1;
    EXPECT_EQ(captured([&] { EXPECT_TRUE(voc->repack(String((dir.path + "/").c_str()), String(), 0)); }),
              " << " + dir.file("003.wav") + "\n");
    EXPECT_EQ(toBytes(voc->samples), tone(20, 9));
    scope.options.noConvert = 1;
    EXPECT_EQ(captured([&] { EXPECT_TRUE(voc->repack(String((dir.path + "/").c_str()), String(), 0)); }),
              " << " + dir.file("003.VOC") + "\n");
    EXPECT_EQ(toBytes(voc->samples), tone(30, 4));
    deleteContainer(voc);
}

#ifdef MORDAX_TOOL
// The tool on a VOC file of its own and inside a classic TRE.
TEST(VocTool, TopLevelFileListsExtractsRepacksAndRewrites)
{
    const std::string work = scratchDirectory("voc_top");
    const Bytes file = standardVoc(500, 131);
    writeFileBytes(work + "/SHOT.VOC", std::string(file.begin(), file.end()));

    ToolResult r = runTool({"SHOT.VOC"}, work);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), "Listing contents:\nVOC Audio (Mono, U8)\n - Samples: 500\n - Sample rate: 8000 Hz\n\n");

    r = runTool({"-e", "SHOT.VOC", "out"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(listTree(work + "/out"), std::vector<std::string>{"SHOT.wav"});
    EXPECT_EQ(readFile(work + "/out/SHOT.wav"), wavOf(8000, tone(500)));

    r = runTool({"-r", "-o", "again", "SHOT.VOC", "out"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(work + "/again.VOC"), file);

    r = runTool({"-w", "SHOT.VOC"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\rDone. All OK; file checksums match.\n"), std::string::npos) << r.out;
    r = runTool({"-e", "-n", "SHOT.VOC", "raw"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(work + "/raw/SHOT.VOC"), file);
}

TEST(VocTool, EntriesOfAnArchiveBecomeWavFilesAndComeBack)
{
    const std::string work = scratchDirectory("voc_tre");
    const Bytes converted = standardVoc(400, 166, 3);
    const Bytes kept = vocHeader() + soundBlock(166, 2, tone(50)) + terminator();
    const Bytes archive = treLayout({{"..\\SOUND\\HIT.VOC", converted}, {"SOUND\\ADPCM.VOC", kept},
                                   {"README.TXT", text("sounds")}});
    writeFileBytes(work + "/SOUNDS.TRE", std::string(archive.begin(), archive.end()));

    ToolResult r = runTool({"-e", "SOUNDS.TRE", "out"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(listTree(work + "/out"),
              (std::vector<std::string>{"README.TXT", "SOUND", "SOUND/ADPCM.VOC", "SOUND/HIT.wav"}));
    EXPECT_EQ(readFile(work + "/out/SOUND/ADPCM.VOC"), kept);
    EXPECT_EQ(pythonWaveReading(work + "/out/SOUND/HIT.wav"), "1 1 11111 400 NONE " + hexOf(tone(400, 3)) + "\n");

    r = runTool({"-r", "-o", "again", "SOUNDS.TRE", "out"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(work + "/again.TRE"), archive);

    // A new sound from sox replaces the entry, resampled to its rate.
    ASSERT_TRUE(soxSine(work + "/out/SOUND/HIT.wav", 22050, 16, 2, "0.1"));
    r = runTool({"-r", "-o", "edited", "SOUNDS.TRE", "out"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    r = runTool({"-e", "edited.TRE", "again"}, work);
    EXPECT_EQ(r.status, 0) << r.out;
    std::string reading = pythonWaveReading(work + "/again/SOUND/HIT.wav");
    // 0.1 s at 22050 Hz is 2205 frames, about 1111 at 11111 Hz.
    EXPECT_EQ(reading.substr(0, 14), "1 1 11111 1111") << reading;

    // A broken WAV fails the repack and nothing is written.
    writeFileBytes(work + "/out/SOUND/HIT.wav", "RIFF....WAVEjunk");
    r = runTool({"-r", "-o", "broken", "SOUNDS.TRE", "out"}, work);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: Expected format chunk!\n"), std::string::npos) << r.out;
    EXPECT_FALSE(exists(work + "/broken.TRE"));
}
#endif
}
