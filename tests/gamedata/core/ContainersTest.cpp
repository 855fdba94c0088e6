#include "../TdTestHooks.h"
#include "gamedata/core/Array.h"
#include "gamedata/core/Stack.h"
#include "gamedata/core/String.h"

#include <cstring>
#include <string>

using TdContainers = TdHooksTest;

TEST_F(TdContainers, ArrayZeroFilledAndCopied)
{
    install(nullptr);
    size_t base = liveCount();
    {
        TD::Array<unsigned char> empty(0);
        EXPECT_EQ(empty.data, nullptr);
        EXPECT_EQ(empty.count, 0u);
        EXPECT_EQ(empty.byteSize, 0u);
        EXPECT_EQ(liveCount(), base);

        TD::Array<unsigned int> words(5);
        EXPECT_EQ(words.count, 5u);
        EXPECT_EQ(words.byteSize, 20u);
        for (u32 i = 0; i < 5; i++)
            EXPECT_EQ(words[i], 0u);

        const char src[] = "FORM";
        TD::Array<unsigned char> bytes(src, 4);
        EXPECT_EQ(memcmp(bytes.data, "FORM", 4), 0);
        EXPECT_EQ(liveCount(), base + 2);

        TD::Array<unsigned char> moved(std::move(bytes));
        EXPECT_EQ(bytes.data, nullptr);
        EXPECT_EQ(moved.count, 4u);
        moved.release();
        moved.release();
        EXPECT_EQ(liveCount(), base + 1);

        // A borrowed view frees nothing.
        TD::Array<unsigned int> view;
        view.data = words.data;
        view.count = words.count;
        view.owns = false;
    }
    EXPECT_EQ(liveCount(), base);
    TD::deleteObject(TD::hooks.logger);
    TD::hooks.logger = nullptr;
}

namespace
{
struct Entry
{
    TD::Array<unsigned int> offsets;
    int id;
    Entry(int id, u32 n) : offsets(n), id(id) {}
};
}

TEST_F(TdContainers, StackDoublesAndKeepsOrder)
{
    install(nullptr);
    static int ids[1100];
    {
        TD::Stack<int> stack;
        EXPECT_EQ(stack.capacity, 256u);
        for (int i = 0; i < 256; i++)
            ASSERT_TRUE(stack.push(&ids[i]));
        EXPECT_EQ(stack.capacity, 256u);
        ASSERT_TRUE(stack.push(&ids[256]));
        EXPECT_EQ(stack.capacity, 512u);
        for (int i = 257; i < 512; i++)
            stack.push(&ids[i]);
        EXPECT_EQ(stack.capacity, 512u);
        stack.push(&ids[512]);
        EXPECT_EQ(stack.capacity, 1024u);
        EXPECT_EQ(stack.count, 513u);
        for (u32 i = 0; i < 513; i++)
            ASSERT_EQ(stack.items[i], &ids[i]);
        EXPECT_EQ(stack.top(), &ids[512]);
        // Not owning: destruction leaves the entries alone.
    }

    // Owning: clear destroys each entry (its table too) and frees it as a single object.
    TD::Stack<Entry> owning;
    owning.ownsItems = true;
    for (int i = 0; i < 300; i++)
        owning.push(TD_NEW(Entry, i, u32(i % 3)));
    EXPECT_EQ(owning.top()->id, 299);
    owning.destroy();
    EXPECT_EQ(owning.count, 0u);
    EXPECT_EQ(liveCount(), 1u);  // the logger
    TD::deleteObject(TD::hooks.logger);
    TD::hooks.logger = nullptr;
}

TEST_F(TdContainers, StringFormat)
{
    install(nullptr);
    {
        TD::String s = TD::String::format("%04u", 7u);
        EXPECT_STREQ(s.c_str(), "0007");
        EXPECT_EQ(s.length, 4u);
        EXPECT_EQ(s.capacity, 1025u);

        struct Case
        {
            size_t len;
            u64 capacity;
        };
        // 1023 characters and the terminator still fit the first buffer; 1024 do not.
        const Case cases[] = {{1023, 1025}, {1024, 1027}, {5000, 5003}};
        for (const Case& c : cases) {
            std::string text(c.len, 'q');
            TD::String t = TD::String::format("%s", text.c_str());
            EXPECT_EQ(t.length, c.len);
            EXPECT_EQ(t.capacity, c.capacity) << c.len;
            EXPECT_EQ(std::string(t.c_str()), text);
        }

        TD::String empty;
        EXPECT_STREQ(empty.c_str(), "");
        empty.release();
    }
    EXPECT_EQ(liveCount(), 1u);
    TD::deleteObject(TD::hooks.logger);
    TD::hooks.logger = nullptr;
}
