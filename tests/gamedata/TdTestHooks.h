#pragma once
#include "gamedata/TamberData.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// Installs hooks that remember every live block with its isArray flag, and a logger that keeps
// every line, so a test can check that the library frees what it allocates, the way it
// allocated it.
struct RecordingLogger : TD::Logger
{
    struct Line
    {
        std::string channel;
        std::string message;
        u8 level;
    };
    std::vector<Line> lines;
    void log(const char* channel, const char* message, u8 level) override
    {
        lines.push_back({channel ? channel : "", message ? message : "", level});
    }
};

class TdHooksTest : public ::testing::Test
{
protected:
    static std::map<void*, bool>& live()
    {
        static std::map<void*, bool> blocks;
        return blocks;
    }
    static int& mismatches()
    {
        static int n = 0;
        return n;
    }
    static void* recAlloc(u64 size, bool isArray, const char*, const char*, u32)
    {
        void* p = malloc(size ? size : 1);
        live()[p] = isArray;
        return p;
    }
    static void recFree(void* p, bool isArray)
    {
        auto it = live().find(p);
        if (it == live().end() || it->second != isArray)
            mismatches()++;
        else
            live().erase(it);
        free(p);
    }

    TD::Hooks saved{};

    void SetUp() override
    {
        saved = TD::hooks;
        live().clear();
        mismatches() = 0;
    }

    // The host's side of the contract: hooks in, logger made by the test or by the library.
    void install(TD::Logger* logger)
    {
        TD::Hooks h{recAlloc, recFree, nullptr, nullptr};
        TD::init(h, logger);
    }

    void TearDown() override
    {
        EXPECT_EQ(mismatches(), 0) << "blocks freed with the wrong flag or twice";
        EXPECT_TRUE(live().empty()) << live().size() << " library blocks left allocated";
        for (auto& kv : live())
            free(kv.first);
        live().clear();
        TD::hooks = saved;
    }

    static size_t liveCount() { return live().size(); }
};
