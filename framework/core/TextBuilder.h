#pragma once
#include "framework/core/String.h"
#include "framework/core/Types.h"

// A text built by appending, for texts many times larger than anything else a run holds (the XML
// of a large document): it grows in place where the system can, so a large text is never held
// twice, and asks a gate before each growth, so that a budget is charged before the memory is
// taken. Once a growth fails or is refused it takes nothing more, and says which it was.
class TextBuilder
{
public:
    // Whether the text may grow by `bytes` more (false: it stops where it is).
    typedef bool (*Gate)(void* context, u64 bytes);

    char* data = nullptr;
    u64 length = 0;
    u64 capacity = 0; // bytes allocated; one more than length is always kept for a terminator

    TextBuilder() = default;
    explicit TextBuilder(Gate gate, void* context = nullptr) : gate(gate), gateContext(context) {}
    ~TextBuilder();
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    bool ok() const { return !failed; }
    // The gate said no (rather than memory running out).
    bool refused() const { return gateRefused; }

    void append(const char* text, u64 n);
    void append(char c);
    void append(const String& text) { append(text.data, text.length); }
    void appendRepeated(char c, u64 n);
    // Decimal digits of the value.
    void appendDecimal(u64 value);
    // Makes room for n more bytes and counts them written: where to write them, or null when
    // there is no room (the text is then failed and unchanged).
    char* extend(u64 n);
    // Forgets what was appended after the first n bytes.
    void truncate(u64 n);
    // Puts n bytes in at position `at` (at most length), moving what follows.
    void insert(u64 at, const char* text, u64 n);

    // Hands the text to a String without copying it (zero-terminated); the builder is empty and
    // usable again. An empty String when the builder failed.
    String take();
    // Continues the String's text: its buffer becomes the builder's, until giveBack returns it.
    void adopt(String& text);
    void giveBack(String& text);
    // Frees the text.
    void clear();

private:
    Gate gate = nullptr;
    void* gateContext = nullptr;
    bool failed = false;
    bool gateRefused = false;

    bool grow(u64 more);
};
