#include "tests/tool/convert/SoundTestUtil.h"

#include <cmath>

namespace
{
using namespace soundtest;

Bytes wavFile(u16 channels, u32 rate, u16 bits, const Bytes& data, u16 formatTag = 1, u32 fmtSize = 16)
{
    u16 align = u16(channels * bits / 8);
    Bytes fmt = le16(formatTag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
    if (fmtSize > 16)
        fmt = fmt + Bytes(fmtSize - 16, 0);
    return text("RIFF") + le32(u32(36 + data.size())) + text("WAVEfmt ") + le32(fmtSize) + fmt + text("data") +
           le32(u32(data.size())) + data;
}

WavData* readBytes(const Bytes& b, std::string* printed = nullptr)
{
    ByteArray a = toArray(b);
    WavData* wav = nullptr;
    std::string out = captured([&] { wav = readWav(a); });
    if (printed)
        *printed = out;
    return wav;
}

Bytes converted(const WavData& wav, u32 rate)
{
    ByteArray* out = convertWavToU8Mono(wav, rate);
    EXPECT_NE(out, nullptr);
    Bytes b = toBytes(out);
    deleteByteArray(out);
    return b;
}

WavData* monoU8(u32 rate, const Bytes& samples)
{
    WavData* w = memNew<WavData>();
    w->sampleRate = rate;
    w->channels = 1;
    ByteArray a = toArray(samples);
    w->samples8 = memNew<ByteArray>(a);
    return w;
}

WavData* pcm16Sound(u32 rate, u16 channels, const std::vector<i16>& values)
{
    WavData* w = memNew<WavData>();
    w->sampleRate = rate;
    w->channels = channels;
    w->samples16 = memNew<I16Array>(u32(values.size()));
    for (size_t i = 0; i < values.size(); i++)
        w->samples16->data[i] = values[i];
    return w;
}

TEST(WavWriter, FiveSamplesGiveTheWholeHeader)
{
    WavData format;
    format.sampleRate = 11025;
    format.channels = 1;
    ByteArray samples = toArray(Bytes{1, 2, 3, 4, 5});
    ByteArray* out = writeWav(format, samples);
    const Bytes expected = text("RIFF") + le32(41) + text("WAVEfmt ") + le32(16) + le16(1) + le16(1) + le32(11025) +
                           le32(11025) + le16(1) + le16(8) + text("data") + le32(5) + Bytes{1, 2, 3, 4, 5};
    EXPECT_EQ(toBytes(out), expected);
    EXPECT_EQ(expected.size(), 49u);
    deleteByteArray(out);
}

// Python's wave module and sox read what we write as the same 8-bit mono sound.
TEST(WavWriter, OutsideReadersAgree)
{
    iotest::ScratchDir dir;
    const Bytes samples = tone(1001);
    WavData format;
    format.sampleRate = 11111;
    format.channels = 1;
    ByteArray a = toArray(samples);
    ByteArray* out = writeWav(format, a);
    ASSERT_NE(out, nullptr);
    const std::string path = dir.file("ours.wav");
    iotest::writeFile(path, toBytes(out));
    deleteByteArray(out);

    EXPECT_EQ(pythonWaveReading(path), "1 1 11111 1001 NONE " + hexOf(samples) + "\n");
    EXPECT_EQ(commandOutput("soxi -t '" + path + "'; soxi -r '" + path + "'; soxi -c '" + path + "'; soxi -b '" +
                            path + "'; soxi -s '" + path + "'; soxi -e '" + path + "' 2>&1"),
              "wav\n11111\n1\n8\n1001\nUnsigned Integer PCM\n");
    // sox decodes the samples to the same bytes.
    EXPECT_EQ(commandOutput("sox '" + path + "' -t raw - 2>&1"), std::string(samples.begin(), samples.end()));
}

struct RefusedWav
{
    const char* what;
    Bytes bytes;
    const char* line;
};

TEST(WavReader, RefusesWhatItCannotReadWithOneLine)
{
    OptionScope scope;
    const Bytes good = wavFile(1, 8000, 8, tone(10));
    Bytes listBetween = Bytes(good.begin(), good.begin() + 36) + text("LIST") + le32(4) + text("INFO") +
                        Bytes(good.begin() + 36, good.end());
    Bytes listFirst = text("RIFF") + le32(0) + text("WAVELIST") + le32(0) + Bytes(good.begin() + 12, good.end());
    Bytes shortData = wavFile(1, 8000, 8, tone(10));
    shortData.resize(shortData.size() - 1);
    const RefusedWav cases[] = {
        {"empty", {}, "ERROR: Not a RIFF file!\n"},
        {"three bytes", text("RIF"), "ERROR: Not a RIFF file!\n"},
        {"big-endian RIFX", text("RIFX") + Bytes(good.begin() + 4, good.end()), "ERROR: Not a RIFF file!\n"},
        {"RIFF only", text("RIFF"), "ERROR: Not a WAVE file!\n"},
        {"not WAVE", text("RIFF") + le32(0) + text("AVI "), "ERROR: Not a WAVE file!\n"},
        {"no chunk", text("RIFF") + le32(0) + text("WAVE"), "ERROR: Expected format chunk!\n"},
        {"LIST before fmt", listFirst, "ERROR: Expected format chunk!\n"},
        {"fmt size missing", text("RIFF") + le32(0) + text("WAVEfmt ") + Bytes{16, 0},
         "ERROR: Unrecognised format chunk size!\n"},
        {"fmt of 18 bytes", wavFile(1, 8000, 8, tone(4), 1, 18), "ERROR: Unrecognised format chunk size!\n"},
        {"float", wavFile(1, 8000, 16, tone(4), 3), "ERROR: Invalid WAV format! PCM 8/16-bit mono/stereo only!\n"},
        {"24-bit", wavFile(1, 8000, 24, tone(6)), "ERROR: Invalid WAV format! PCM 8/16-bit mono/stereo only!\n"},
        {"3 channels", wavFile(3, 8000, 8, tone(6)), "ERROR: Invalid WAV format! PCM 8/16-bit mono/stereo only!\n"},
        {"0 channels", wavFile(0, 8000, 8, tone(6)), "ERROR: Invalid WAV format! PCM 8/16-bit mono/stereo only!\n"},
        {"fields cut off", text("RIFF") + le32(0) + text("WAVEfmt ") + le32(16) + le16(1),
         "ERROR: Invalid WAV format! PCM 8/16-bit mono/stereo only!\n"},
        {"LIST between fmt and data", listBetween, "ERROR: Expected data chunk!\n"},
        {"no data chunk", Bytes(good.begin(), good.begin() + 36), "ERROR: Expected data chunk!\n"},
        {"16-bit stereo, 6 bytes", wavFile(2, 8000, 16, tone(6)), "ERROR: Couldn't read all sample bytes!\n"},
        {"16-bit mono, 3 bytes", wavFile(1, 8000, 16, tone(3)), "ERROR: Couldn't read all sample bytes!\n"},
        {"8-bit stereo, 5 bytes", wavFile(2, 8000, 8, tone(5)), "ERROR: Couldn't read all sample bytes!\n"},
        {"data cut short", shortData, "ERROR: Invalid WAV; incorrect number of sample bytes!\n"},
        {"4 GiB claimed", text("RIFF") + le32(0) + text("WAVEfmt ") + le32(16) + le16(1) + le16(1) + le32(8000) +
                              le32(8000) + le16(1) + le16(8) + text("data") + le32(0xFFFFFFFFu) + tone(20),
         "ERROR: Invalid WAV; incorrect number of sample bytes!\n"},
    };
    for (const RefusedWav& c : cases) {
        std::string printed;
        WavData* wav = readBytes(c.bytes, &printed);
        EXPECT_EQ(wav, nullptr) << c.what;
        EXPECT_EQ(printed, c.line) << c.what;
        deleteWavData(wav);
    }
}

TEST(WavReader, SizeLineAtVerbosityFour)
{
    OptionScope scope;
    scope.options.verbosity = 4;
    std::string printed;
    WavData* wav = readBytes(wavFile(1, 8000, 8, tone(12)), &printed);
    EXPECT_NE(wav, nullptr);
    EXPECT_EQ(printed, "WAV size: 56 (0x38)\n");
    deleteWavData(wav);
}

// Files made by sox in every accepted layout read as their header says, samples as stored.
TEST(WavReader, ReadsSoxFiles)
{
    iotest::ScratchDir dir;
    struct Layout
    {
        u32 rate, bits, channels;
    };
    const Layout layouts[] = {{8000, 8, 1}, {22050, 8, 2}, {11025, 16, 1}, {44100, 16, 2}};
    for (const Layout& l : layouts) {
        const std::string path = dir.file("sox.wav");
        ASSERT_TRUE(soxSine(path, l.rate, l.bits, l.channels));
        const Bytes file = readFile(path);
        ASSERT_GT(file.size(), 44u);
        WavData* wav = readBytes(file);
        ASSERT_NE(wav, nullptr) << l.rate;
        EXPECT_EQ(wav->sampleRate, l.rate);
        EXPECT_EQ(wav->channels, l.channels);
        const Bytes data(file.begin() + 44, file.end());
        const u32 frames = u32(std::stoul(commandOutput("soxi -s '" + path + "'")));
        if (l.bits == 8) {
            ASSERT_NE(wav->samples8, nullptr);
            EXPECT_EQ(wav->samples16, nullptr);
            EXPECT_EQ(toBytes(wav->samples8), data);
            EXPECT_EQ(wav->samples8->count, frames * l.channels);
        } else {
            ASSERT_NE(wav->samples16, nullptr);
            EXPECT_EQ(wav->samples8, nullptr);
            ASSERT_EQ(wav->samples16->count, frames * l.channels);
            for (u32 i = 0; i < wav->samples16->count; i++)
                ASSERT_EQ(wav->samples16->data[i], i16(u16(data[2 * i] | data[2 * i + 1] << 8))) << i;
        }
        deleteWavData(wav);
    }
}

TEST(WavConversion, MonoU8AtTheTargetRateIsUnchanged)
{
    Bytes samples = Bytes{0, 255} + tone(300) + Bytes{255, 0};
    WavData* wav = monoU8(11111, samples);
    EXPECT_EQ(converted(*wav, 11111), samples);
    deleteWavData(wav);
}

TEST(WavConversion, OtherRatesAreResampledAndFaded)
{
    // Half a second of a 200 Hz sine, 8-bit at 22050 Hz.
    Bytes samples(11025);
    for (size_t i = 0; i < samples.size(); i++)
        samples[i] = u8(128 + std::lround(100 * std::sin(2 * M_PI * 200 * double(i) / 22050)));
    WavData* wav = monoU8(22050, samples);
    const Bytes out = converted(*wav, 11111);
    const double expected = 11025.0 * 11111 / 22050;
    EXPECT_NEAR(double(out.size()), expected, 2.0);
    ASSERT_GT(out.size(), 64u);
    EXPECT_EQ(out.front(), 128);
    EXPECT_EQ(out.back(), 128);
    // Away from the ends the sound is the same sine at the new rate.
    for (size_t i = 100; i + 100 < out.size(); i++)
        ASSERT_NEAR(int(out[i]), 128 + 100 * std::sin(2 * M_PI * 200 * double(i) / 11111), 3.0) << i;
    deleteWavData(wav);
}

TEST(WavConversion, SixteenBitGoesThroughTheConverterEvenAtTheSameRate)
{
    std::vector<i16> values(2000);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = i16(std::lround(16000 * std::sin(2 * M_PI * 300 * double(i) / 8000)));
    WavData* wav = pcm16Sound(8000, 1, values);
    const Bytes out = converted(*wav, 8000);
    ASSERT_EQ(out.size(), values.size());
    EXPECT_EQ(out.front(), 128);
    EXPECT_EQ(out.back(), 128);
    for (size_t i = 40; i + 40 < out.size(); i++)
        ASSERT_NEAR(int(out[i]), 128 + values[i] / 256.0, 1.5) << i;
    deleteWavData(wav);
}

TEST(WavConversion, OnlyTheLeftChannelIsHeard)
{
    std::vector<i16> left(3000), stereo;
    for (size_t i = 0; i < left.size(); i++) {
        left[i] = i16(std::lround(12000 * std::sin(2 * M_PI * 500 * double(i) / 22050)));
        stereo.push_back(left[i]);
        stereo.push_back(i16(i % 2 ? 32767 : -32768));
    }
    WavData* mono = pcm16Sound(22050, 1, left);
    WavData* both = pcm16Sound(22050, 2, stereo);
    EXPECT_EQ(converted(*both, 11111), converted(*mono, 11111));
    deleteWavData(mono);
    deleteWavData(both);

    // 8-bit samples become the same floats as 16-bit ones 256 times larger.
    Bytes stereo8;
    std::vector<i16> left16;
    for (size_t i = 0; i < 500; i++) {
        const u8 v = u8(128 + (i * 5) % 60);
        left16.push_back(i16((int(v) - 128) * 256));
        stereo8.push_back(v);
        stereo8.push_back(u8(i % 2 ? 255 : 0));
    }
    WavData* mono16 = pcm16Sound(8000, 1, left16);
    WavData* both8 = monoU8(8000, stereo8);
    both8->channels = 2;
    // A stereo 8-bit sound is never taken as it is, even at the target rate.
    const Bytes out = converted(*both8, 8000);
    EXPECT_EQ(out, converted(*mono16, 8000));
    EXPECT_EQ(out.size(), 500u);
    EXPECT_EQ(out.front(), 128);
    deleteWavData(mono16);
    deleteWavData(both8);
}

TEST(WavConversion, FullScaleClampsToTheByteRange)
{
    for (i16 level : {i16(32767), i16(-32768)}) {
        WavData* wav = pcm16Sound(8000, 1, std::vector<i16>(4000, level));
        const Bytes out = converted(*wav, 16000);
        ASSERT_GT(out.size(), 7000u);
        EXPECT_EQ(out.front(), 128);
        EXPECT_EQ(out.back(), 128);
        for (size_t i = 100; i + 100 < out.size(); i++)
            ASSERT_EQ(out[i], level > 0 ? 255 : 0) << i;
        deleteWavData(wav);
    }
}

TEST(WavConversion, ShortSoundsAreShapedByBothRamps)
{
    // 20 frames at double the rate: about 40 frames out, fewer than both ramps together.
    WavData* wav = pcm16Sound(8000, 1, std::vector<i16>(20, 16384));
    const Bytes out = converted(*wav, 16000);
    ASSERT_GE(out.size(), 38u);
    ASSERT_LE(out.size(), 41u);
    EXPECT_EQ(out.front(), 128);
    EXPECT_EQ(out.back(), 128);
    // Both ramps at once: near silence at both ends, loudest in the middle, never above the level.
    EXPECT_LT(out[1], 136);
    EXPECT_LT(out[out.size() - 2], 136);
    EXPECT_GT(out[out.size() / 2], 150);
    for (u8 v : out)
        EXPECT_LE(v, 128 + 64);
    deleteWavData(wav);

    WavData* single = pcm16Sound(8000, 1, {16384});
    const Bytes one = converted(*single, 8000);
    EXPECT_LE(one.size(), 1u);
    for (u8 v : one)
        EXPECT_EQ(v, 128);
    deleteWavData(single);
}

TEST(WavConversion, NothingToConvertOrRatesOutOfReach)
{
    WavData empty;
    empty.sampleRate = 8000;
    empty.channels = 1;
    EXPECT_EQ(convertWavToU8Mono(empty, 8000), nullptr);

    WavData* silentStereo = monoU8(8000, {});
    silentStereo->channels = 2;
    EXPECT_EQ(converted(*silentStereo, 11111), Bytes());
    deleteWavData(silentStereo);

    struct Rates
    {
        u32 source, target;
    };
    for (Rates r : {Rates{0, 8000}, Rates{8000, 0}, Rates{1, 11111}, Rates{1000000, 3000}}) {
        WavData* wav = pcm16Sound(r.source, 1, std::vector<i16>(100, 1000));
        EXPECT_EQ(convertWavToU8Mono(*wav, r.target), nullptr) << r.source << " " << r.target;
        deleteWavData(wav);
    }
    // Within 1/256 to 256 the converter is used.
    WavData* far = pcm16Sound(100, 1, std::vector<i16>(100, 1000));
    EXPECT_NEAR(double(converted(*far, 25000).size()), 25000.0, 2.0);
    deleteWavData(far);
}
}
