#pragma once
#include "framework/io/FileStream.h"
#include "gamedata/formats/Reader.h"

// The game-data library's reader over a framework file stream: what the library's open-file
// hook hands out. Like every library reader it never fails: without an open stream, or past the
// end, reads give 0 and positions stay at 0 or the end.
class FileStreamReader : public TD::Reader
{
public:
    // Takes the stream (null for a file that could not be opened).
    explicit FileStreamReader(FileStream* stream) : stream(stream) {}
    ~FileStreamReader() override;

    bool open() override;
    void close() override;
    u8 readU8() override;
    void read(u8* dst, u64 n) override;
    TD::Reader* clone() override;
    u64 remaining() override;
    void skip(u64 n) override;
    void rewind() override;
    void back(u64 n) override;
    void seek(u64 pos) override;
    u64 tell() override;
    bool atEnd() override;

    bool hasStream() const { return stream != nullptr; }

private:
    bool readable() const { return stream && stream->isOpen; }

    FileStream* stream;
};

// The library's open-file hook: a reader over the file at path, opened for reading.
TD::Reader* openFileHook(void* ignored, const char* path);
