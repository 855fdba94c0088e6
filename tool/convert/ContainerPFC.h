#pragma once
#include "tool/containers/Container.h"

// An opened table holds its bytes, not its XML form: a run that extracts keeps the XML text
// made at open to check the conversion, and any other use builds the form again from the bytes.
class ContainerPFC : public Container
{
public:
    ByteArray* raw = nullptr;                  // the bytes as opened or as last repacked raw
    bool converts = false;                     // the raw bytes have an exact XML form
    ByteArray* built = nullptr;                // the bytes of an edited document repacked from XML
    String xmlFile;                            // the extracted file's text when kept from open

    // Copies the bytes.
    ContainerPFC(const String& name, const ByteArray& bytes, bool converts);
    ~ContainerPFC() override;

    static bool probe(const String& name, const ByteArray& bytes);
    // Never null: a table whose XML would not give back exactly its bytes is kept raw.
    static Container* open(const String& name, const ByteArray& bytes);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& path, u32 indent) override;
    String extractedName(const String& entryPath) const override;
    bool repack(const String& filePath, const String& subPath, u32 indent) override;
    u32 fileCount() override { return 1; }
    void hashContents(Md5& context, u32 indent) override;

    // The table's bytes now: those of the edited document, or the raw bytes.
    ByteArray* encode() const;
    // Whether extract writes XML (and repack looks for it first).
    bool asXml() const;

private:
    void dropDocument();
    bool repackXml(const ByteArray& bytes, const String& filePath);
};
