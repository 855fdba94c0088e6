#include "framework/log/Log.h"
#include "fuzz/FuzzTargets.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZSS.h"
#include "gamedata/codecs/CodecLZW.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "tool/ToolOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;

std::vector<std::string> targetNames()
{
    u32 count = 0;
    const FuzzTarget* targets = fuzzTargets(count);
    std::vector<std::string> names;
    for (u32 i = 0; i < count; i++)
        names.push_back(targets[i].name);
    return names;
}

std::vector<fs::path> inputsOf(const std::string& target)
{
    std::vector<fs::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        fs::path dir = fs::path(MORDAX_SOURCE_DIR) / "fuzz" / kind / target;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<u8> readBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The fuzz set-up silences logging and swaps the tool's options; both go back afterwards.
class FuzzReplay : public testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        savedConsole = consoleLogLevel;
        savedFile = fileLogLevel;
        savedOptions = &toolOptions();
        setUpFuzzing();
    }
    void TearDown() override
    {
        consoleLogLevel = savedConsole;
        fileLogLevel = savedFile;
        setToolOptions(savedOptions);
    }

    u8 savedConsole = 0;
    u8 savedFile = 0;
    ToolOptions* savedOptions = nullptr;
};

// Each input runs through the same body as under libFuzzer; a crash, a sanitizer report or a
// broken property ends the test.
TEST_P(FuzzReplay, SeedsAndRegressionsRunClean)
{
    const FuzzTarget* target = findFuzzTarget(GetParam().c_str());
    ASSERT_NE(target, nullptr);
    const std::vector<fs::path> files = inputsOf(GetParam());
    ASSERT_FALSE(files.empty()) << "no seed corpus for " << GetParam();
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::vector<u8> bytes = readBytes(file);
        testing::internal::CaptureStdout();
        target->run(bytes.data(), bytes.size());
        testing::internal::GetCapturedStdout();
    }
}

// The codec seeds are real streams (size word, then the stream), so fuzzing starts from inputs
// that decode.
TEST(FuzzTargets, CodecSeedsDecodeToTheirSize)
{
    CodecLZW lzw;
    CodecImplode implode;
    CodecRefPack refpack;
    CodecLZSS lzss;
    const std::pair<const char*, Codec*> codecs[] = {{"lzw", &lzw}, {"implode", &implode}, {"refpack", &refpack}, {"lzss", &lzss}};
    for (const auto& [target, codec] : codecs) {
        for (const fs::path& file : inputsOf(target)) {
            if (file.parent_path().parent_path().filename() != "corpus")
                continue;
            SCOPED_TRACE(file.string());
            std::vector<u8> bytes = readBytes(file);
            ASSERT_GE(bytes.size(), 4u);
            const u32 size = u32(bytes[0]) | u32(bytes[1]) << 8 | u32(bytes[2]) << 16 | u32(bytes[3]) << 24;
            ByteArray in(bytes.data() + 4, u32(bytes.size() - 4));
            std::unique_ptr<ByteArray, ByteArrayDeleter> out(codec->decompress(in, size));
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(out->count, size);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzReplay, testing::ValuesIn(targetNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(FuzzTargets, EveryTargetHasASeedCorpusAndNoStrayDirectories)
{
    const std::vector<std::string> names = targetNames();
    for (const std::string& name : names)
        EXPECT_TRUE(fs::is_directory(fs::path(MORDAX_SOURCE_DIR) / "fuzz" / "corpus" / name)) << name;
    for (const char* kind : {"corpus", "regressions"}) {
        fs::path dir = fs::path(MORDAX_SOURCE_DIR) / "fuzz" / kind;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_NE(std::find(names.begin(), names.end(), entry.path().filename().string()), names.end())
                << "no target replays " << entry.path();
    }
}
}
