#include "framework/config/ConfigSection.h"
#include "framework/core/ByteArray.h"
#include "framework/xml/XmlElement.h"
#include "fuzz/FuzzTargets.h"

void fuzzXml(const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    ByteArray bytes(data, u32(size));
    PtrArray<XmlElement>* document = parseXml(bytes);
    if (!document)
        return;
    bool ok = true;
    String text = writeXml(*document, &ok);
    memDelete(document);
    // Nothing is escaped, so only a document written whole is read back.
    if (!ok)
        return;
    ByteArray again(reinterpret_cast<const u8*>(text.c_str()), u32(text.length));
    PtrArray<XmlElement>* reread = parseXml(again);
    memDelete(reread);
}

void fuzzConfig(const u8* data, size_t size)
{
    ConfigSection root("root");
    const String text(data, size);
    root.load(text);
    String saved;
    root.save(saved, String());
    // Keys taken from the input itself find what loading stored.
    const u64 cut = text.length / 2;
    root.findValue(String(text.data, cut));
    root.findSection(String(text.data + cut, text.length - cut));
    ConfigSection reloaded("root");
    reloaded.load(saved);
}
