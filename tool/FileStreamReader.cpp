#include "tool/FileStreamReader.h"
#include "gamedata/TamberData.h"

#include <cstring>

FileStreamReader::~FileStreamReader()
{
    memDelete(stream);
}

bool FileStreamReader::open()
{
    return stream && stream->open();
}

void FileStreamReader::close()
{
    if (stream)
        stream->close();
}

u8 FileStreamReader::readU8()
{
    if (!readable() || stream->bytesLeft() == 0)
        return 0;
    return stream->readU8();
}

// One read for the block; the bytes the file does not hold are zeros, as n single reads give.
void FileStreamReader::read(u8* dst, u64 n)
{
    if (!readable()) {
        memset(dst, 0, n);
        return;
    }
    stream->read(dst, n, n);
}

TD::Reader* FileStreamReader::clone()
{
    // The stream's clone keeps its source's position; a library reader's clone starts at 0.
    FileStream* copy = stream ? static_cast<FileStream*>(stream->clone()) : nullptr;
    if (copy)
        copy->rewind();
    FileStreamReader* reader = TD_NEW(FileStreamReader, copy);
    if (!reader)
        memDelete(copy);
    return reader;
}

// A closed stream still knows its size; without a file behind it nothing is left to read.
u64 FileStreamReader::remaining()
{
    return readable() ? stream->bytesLeft() : 0;
}

void FileStreamReader::skip(u64 n)
{
    if (readable())
        seek(n > remaining() ? stream->size() : stream->tell() + n);
}

void FileStreamReader::rewind()
{
    if (stream)
        stream->rewind();
}

void FileStreamReader::back(u64 n)
{
    if (stream)
        stream->skipBack(n);
}

void FileStreamReader::seek(u64 pos)
{
    if (stream)
        stream->seek(pos < stream->size() ? pos : stream->size());
}

u64 FileStreamReader::tell()
{
    return stream ? stream->tell() : 0;
}

bool FileStreamReader::atEnd()
{
    return remaining() == 0;
}

TD::Reader* openFileHook(void*, const char* path)
{
    FileStream* stream = memNew<FileStream>(String(path), u8(FileStream::ModeRead));
    if (stream && !stream->open()) {
        memDelete(stream);
        stream = nullptr;
    }
    FileStreamReader* reader = TD_NEW(FileStreamReader, stream);
    if (!reader) {
        memDelete(stream);
        return nullptr;
    }
    // The stream is open; the reader's own flag follows it.
    if (stream)
        reader->open();
    return reader;
}
