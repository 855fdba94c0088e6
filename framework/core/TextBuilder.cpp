#include "framework/core/TextBuilder.h"
#include "framework/core/Heap.h"

#include <cstring>

TextBuilder::~TextBuilder()
{
    memFree(data);
}

bool TextBuilder::grow(u64 more)
{
    if (failed)
        return false;
    const u64 need = length + more + 1;
    if (need <= capacity)
        return true;
    if (need < length) {
        failed = true;
        return false;
    }
    // Half as much again: a large text grows in place, and its last step leaves little unused.
    u64 next = capacity + capacity / 2;
    if (next < need)
        next = need;
    if (next < 256)
        next = 256;
    if (gate) {
        // A smaller step may still be had, down to the size needed: halved each time, so a text
        // close to what the gate allows still grows in steps and is not copied on every append.
        u64 step = next - capacity;
        while (!gate(gateContext, step)) {
            if (step == need - capacity) {
                failed = true;
                gateRefused = true;
                return false;
            }
            step = step / 2 > need - capacity ? step / 2 : need - capacity;
        }
        next = capacity + step;
    }
    char* block = static_cast<char*>(memRealloc(data, next));
    if (!block) {
        failed = true;
        return false;
    }
    data = block;
    capacity = next;
    return true;
}

void TextBuilder::append(const char* text, u64 n)
{
    if (!n || !grow(n))
        return;
    memcpy(data + length, text, n);
    length += n;
}

void TextBuilder::append(char c)
{
    if (!grow(1))
        return;
    data[length++] = c;
}

void TextBuilder::appendRepeated(char c, u64 n)
{
    if (!n || !grow(n))
        return;
    memset(data + length, c, n);
    length += n;
}

void TextBuilder::appendDecimal(u64 value)
{
    char digits[20];
    u32 n = 0;
    do {
        digits[sizeof(digits) - 1 - n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    append(digits + sizeof(digits) - n, n);
}

char* TextBuilder::extend(u64 n)
{
    if (!grow(n))
        return nullptr;
    char* at = data + length;
    length += n;
    return at;
}

void TextBuilder::truncate(u64 n)
{
    if (n < length)
        length = n;
}

void TextBuilder::insert(u64 at, const char* text, u64 n)
{
    if (!n || at > length || !grow(n))
        return;
    memmove(data + at + n, data + at, length - at);
    memcpy(data + at, text, n);
    length += n;
}

String TextBuilder::take()
{
    String text;
    if (!failed && length)
        giveBack(text);
    clear();
    return text;
}

void TextBuilder::adopt(String& text)
{
    clear();
    if (text.capacity) {
        data = text.data;
        length = text.length;
        capacity = text.capacity;
        text.data = nullptr;
        text.length = 0;
        text.capacity = 0;
    } else if (text.length) {
        // A String that owns nothing (a view) is copied.
        append(text.data, text.length);
        text.free();
    }
}

void TextBuilder::giveBack(String& text)
{
    text.free();
    if (data) {
        data[length] = 0;
        text.data = data;
        text.length = length;
        text.capacity = capacity;
        data = nullptr;
    }
    length = 0;
    capacity = 0;
}

void TextBuilder::clear()
{
    memFree(data);
    data = nullptr;
    length = 0;
    capacity = 0;
    failed = false;
    gateRefused = false;
}
