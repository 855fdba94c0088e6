#pragma once
// Helpers shared by the IFF conversion tests: opening images, the XML text of a document and
// the bytes written back from one.
#include "tests/gamedata/formats/IffBytes.h"
#include "tests/framework/io/IoTestUtil.h"
#include "framework/xml/XmlElement.h"
#include "tool/ToolOptions.h"
#include "tool/convert/ContainerIFF.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace ifftest
{
using namespace iffbytes;

struct OptionScope
{
    ToolOptions options;
    OptionScope() { setToolOptions(&options); }
    ~OptionScope() { setToolOptions(nullptr); }
};

template <typename F>
std::string captured(F&& f)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline ByteArray toArray(const Bytes& b)
{
    return ByteArray(b.data(), u32(b.size()));
}

inline Bytes toBytes(const ByteArray* a)
{
    return a && a->count ? Bytes(a->data, a->data + a->count) : Bytes();
}

inline ContainerIFF* openIff(const Bytes& image, const char* name = "TEST.IFF")
{
    // The container looks into the bytes: it keeps its own copy of them.
    ByteArray* array = newByteArray(image.data(), u32(image.size()));
    return static_cast<ContainerIFF*>(keepingImage(ContainerIFF::open(String(name), *array), array));
}

inline std::string documentText(ContainerIFF& c)
{
    return c.xmlText().c_str();
}

// The XML an image converts to ("" when it stays raw).
inline std::string xmlOf(const Bytes& image)
{
    ContainerIFF* c = openIff(image);
    std::string text = c ? documentText(*c) : "";
    deleteContainer(c);
    return text;
}

inline void noProgress(u32)
{
}

inline Bytes serialised(Container& c)
{
    ByteArray* out = c.serialise(noProgress, 0);
    Bytes b = toBytes(out);
    deleteByteArray(out);
    return b;
}

// The bytes an XML text writes back to; `ok` false when the writer refused it.
inline Bytes iffOf(const std::string& xml, bool* ok = nullptr, bool quiet = true)
{
    ByteArray text(reinterpret_cast<const u8*>(xml.data()), u32(xml.size()));
    PtrArray<XmlElement>* document = parseXml(text);
    EXPECT_NE(document, nullptr) << xml;
    ByteArray* out = document ? documentToIff(*document, quiet) : nullptr;
    if (ok)
        *ok = out != nullptr;
    Bytes b = toBytes(out);
    deleteByteArray(out);
    memDelete(document);
    return b;
}

inline Bytes readBack(const std::string& path)
{
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return b;
    int c;
    while ((c = fgetc(f)) != EOF)
        b.push_back(u8(c));
    fclose(f);
    return b;
}

// The container extracted into a scratch directory, its file changed by `edit` and repacked
// from there, as a user edits an extracted tree: the bytes it then serialises to (empty when
// the repack refused the file). `extracted` receives the file as extracted.
inline Bytes editedAndRepacked(ContainerIFF& c, const std::function<void(std::string&)>& edit,
                               std::string* extracted = nullptr)
{
    iotest::ScratchDir dir;
    const String where((dir.path + "/").c_str());
    if (c.extract(where, 0) != 1)
        return {};
    const std::string file = dir.file(c.isConverted() ? c.secondPath.c_str() : c.path.c_str());
    const Bytes before = readBack(file);
    std::string text(before.begin(), before.end());
    if (extracted)
        *extracted = text;
    edit(text);
    iotest::writeFile(file, Bytes(text.begin(), text.end()));
    bool ok = false;
    captured([&] { ok = c.repack(where, String(), 0); });
    return ok ? serialised(c) : Bytes();
}

inline std::string hexOf(const Bytes& b)
{
    std::string s;
    char t[4];
    for (u8 c : b) {
        snprintf(t, sizeof(t), "%02X ", c);
        s += t;
    }
    return s;
}
}
