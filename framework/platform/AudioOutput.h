#pragma once
#include "framework/core/Types.h"
#include "framework/log/Logger.h"
#include "framework/threads/Thread.h"

#include <atomic>

struct AudioFormat
{
    u32 frequency = 0;
    u8 bytesPerSample = 2; // 1 or 2
    u8 channels = 0;
    u32 frames = 0; // samples per device buffer
    u32 blockCount = 0;
    u32 speakerLayout = 0;
};

// Blocks of sound between a producer and the device callback, shared only through atomic
// indexes: the producer fills the block at writeIndex and then increments filled.
struct AudioRing
{
    u32 blockCount = 0;
    u32 frames = 0;
    u32 blockBytes = 0;
    u8** blocks = nullptr;
    std::atomic<u32> readIndex{0};
    std::atomic<u32> writeIndex{0};
    std::atomic<u32> filled{0};

    // blockCount zeroed blocks of blockBytes; null when memory runs out.
    static AudioRing* create(u32 blockCount, u32 frames, u32 blockBytes);
    ~AudioRing();
};

class AudioOutput;

// What the device callback gets as its user data.
struct AudioDevice
{
    AudioOutput* owner = nullptr;
    u32 deviceId = 0;
    u32 bytesPerFrame = 0;
};

class AudioThread : public Thread
{
public:
    explicit AudioThread(AudioOutput* owner) : Thread("Audio Output"), owner(owner) {}
    bool onStart() override;
    bool step() override;
    void onStop() override;

    AudioOutput* owner;
    u32 underruns = 0;
};

// The audio output device. Nothing in this program opens one; the device callback, the
// opening of the device and its closing are kept ready.
class AudioOutput
{
public:
    // Device callbacks that wait this many times for a block give up and play silence.
    static constexpr u32 CALLBACK_TRIES = 32;

    Logger logger;
    AudioDevice* device = nullptr;
    AudioThread* thread = nullptr;
    u8 useCallback = 0;
    u8 open = 0;
    AudioRing* ring = nullptr;
    std::atomic<u32> callbackUnderruns{0};
    AudioFormat requested;
    AudioFormat obtained;
    u8 silence = 0;

    AudioOutput();
    // Shuts down when still open, then frees the device record and the ring.
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the default playback device with the callback on SDL's audio thread (callback
    // true) or through the audio thread of our own. The audio subsystem must be initialised.
    bool start(const AudioFormat& format, bool callback);
    void shutdown();

    // The ring of the obtained format; false when memory runs out.
    bool makeRing();
    void freeRing();

    static bool openDevice(AudioDevice* record, const AudioFormat& requested, AudioFormat& obtained);
    static void fillBuffer(AudioDevice* record, u8* stream, u32 length);
    static void closeDevice(AudioDevice* record);
};
