#pragma once
// Helpers shared by the IFF conversion tests: opening images, the XML text of a document and
// the bytes written back from one.
#include "tests/gamedata/formats/IffBytes.h"
#include "tests/framework/io/IoTestUtil.h"
#include "tests/helpers/ContainerTestUtil.h"
#include "framework/xml/XmlElement.h"
#include "tool/convert/ContainerIFF.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace ifftest
{
using namespace iffbytes;
using testutil::captured;
using testutil::noProgress;
using testutil::OptionScope;
using testutil::readFile;
using testutil::toArray;
using testutil::toBytes;

inline ContainerIFF* openIff(const Bytes& image, const char* name = "TEST.IFF")
{
    return testutil::openKept<ContainerIFF>(ContainerIFF::open, name, image);
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
    const String source("TEST.IFF.xml");
    ByteArray* out = xmlToIffBytes(xml.data(), xml.size(), quiet ? nullptr : &source);
    if (ok)
        *ok = out != nullptr;
    Bytes b = toBytes(out);
    deleteByteArray(out);
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
    const Bytes before = readFile(file);
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
