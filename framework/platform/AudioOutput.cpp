#include "framework/platform/AudioOutput.h"
#include "framework/core/Heap.h"
#include "framework/log/Log.h"
#include "framework/platform/ThreadPlatform.h"

#include <SDL.h>

#include <cstring>

AudioRing* AudioRing::create(u32 count, u32 frameCount, u32 bytes)
{
    AudioRing* r = memNew<AudioRing>();
    if (!r)
        return nullptr;
    r->blockCount = count;
    r->frames = frameCount;
    r->blockBytes = bytes;
    r->blocks = static_cast<u8**>(allocZeroed(u64(count) * sizeof(u8*)));
    if (!r->blocks && count) {
        memDelete(r);
        return nullptr;
    }
    for (u32 i = 0; i < count; i++) {
        r->blocks[i] = static_cast<u8*>(allocZeroed(bytes));
        if (!r->blocks[i] && bytes) {
            memDelete(r);
            return nullptr;
        }
    }
    return r;
}

AudioRing::~AudioRing()
{
    for (u32 i = 0; blocks && i < blockCount; i++)
        memFree(blocks[i]);
    memFree(blocks);
}

namespace
{
void sdlCallback(void* user, Uint8* stream, int length)
{
    AudioOutput::fillBuffer(static_cast<AudioDevice*>(user), stream, length > 0 ? u32(length) : 0);
}

u32 speakerLayoutFor(u8 channels)
{
    switch (channels) {
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    case 6: return 5;
    case 8: return 6;
    default: return 0;
    }
}
}

AudioOutput::AudioOutput() : logger(String("Audio Output")) {}

AudioOutput::~AudioOutput()
{
    shutdown();
    memDelete(thread);
    memDelete(device);
    freeRing();
}

bool AudioOutput::makeRing()
{
    freeRing();
    u64 bytes = u64(obtained.channels) * obtained.bytesPerSample * obtained.frames;
    if (bytes > 0xFFFFFFFFull)
        return false;
    ring = AudioRing::create(obtained.blockCount, obtained.frames, u32(bytes));
    return ring != nullptr;
}

void AudioOutput::freeRing()
{
    memDelete(ring);
    ring = nullptr;
}

bool AudioOutput::openDevice(AudioDevice* record, const AudioFormat& requested, AudioFormat& obtained)
{
    obtained = requested;
    SDL_AudioSpec want;
    memset(&want, 0, sizeof(want));
    if (requested.bytesPerSample == 1) {
        want.format = AUDIO_U8;
    } else {
        if (requested.bytesPerSample != 2)
            logError("SDL", "Interface requested unsupported bit depth (%u)", u32(requested.bytesPerSample) * 8);
        want.format = AUDIO_S16LSB;
    }
    want.freq = int(requested.frequency);
    want.channels = requested.channels;
    want.samples = Uint16(requested.frames);
    want.callback = sdlCallback;
    want.userdata = record;
    SDL_AudioSpec got;
    memset(&got, 0, sizeof(got));
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &got, 0);
    if (id == 0) {
        logError("SDL", "Couldn't open audio! (%s).", SDL_GetError());
        return false;
    }
    record->deviceId = id;
    obtained.frequency = u32(got.freq);
    if (got.format == AUDIO_U8) {
        obtained.bytesPerSample = 1;
    } else if (got.format == AUDIO_S16LSB) {
        obtained.bytesPerSample = 2;
    } else {
        logError("SDL", "Got unsupported audio format! (%u)", u32(got.format));
        closeDevice(record);
        return false;
    }
    obtained.channels = got.channels;
    obtained.frames = got.samples;
    obtained.speakerLayout = speakerLayoutFor(got.channels);
    if (!obtained.speakerLayout) {
        logError("SDL", "Unknown speaker layout! (%u)", u32(got.channels));
        closeDevice(record);
        return false;
    }
    record->bytesPerFrame = u32(obtained.bytesPerSample) * obtained.channels;
    if (record->owner)
        record->owner->silence = got.silence;
    logDebug("SDL", "BPF: %u", record->bytesPerFrame);
    logDebug("SDL", "Frames: %u", obtained.frames);
    logDebug("SDL", "Channels: %u", u32(obtained.channels));
    SDL_PauseAudioDevice(id, 0);
    return true;
}

void AudioOutput::closeDevice(AudioDevice* record)
{
    if (!record || !record->deviceId)
        return;
    SDL_PauseAudioDevice(record->deviceId, 1);
    SDL_CloseAudioDevice(record->deviceId);
    record->deviceId = 0;
}

void AudioOutput::fillBuffer(AudioDevice* record, u8* stream, u32 length)
{
    AudioOutput* out = record ? record->owner : nullptr;
    // Unsigned 8-bit sound is silent at its middle value, not at zero.
    const u8 silence = out ? out->silence : 0;
    AudioRing* r = out ? out->ring : nullptr;
    if (!r || !r->blocks || !r->blockCount) {
        memset(stream, silence, length);
        return;
    }
    for (u32 attempt = 0; attempt < CALLBACK_TRIES; attempt++) {
        u32 index = r->readIndex.load();
        if (r->filled.load() != 0 && index < r->blockCount && r->blocks[index]) {
            // A device buffer of another size than the blocks never makes the copy overrun.
            u32 n = r->blockBytes < length ? r->blockBytes : length;
            memcpy(stream, r->blocks[index], n);
            if (n < length)
                memset(stream + n, silence, length - n);
            r->readIndex.store(index + 1 >= r->blockCount ? 0 : index + 1);
            r->filled.fetch_sub(1);
            return;
        }
        platformSleepMs(1);
    }
    out->callbackUnderruns.fetch_add(1);
    memset(stream, silence, length);
}

bool AudioOutput::start(const AudioFormat& format, bool callback)
{
    if (open)
        return true;
    requested = format;
    useCallback = callback ? 1 : 0;
    if (!device) {
        device = memNew<AudioDevice>();
        if (!device)
            return false;
    }
    device->owner = this;
    if (useCallback) {
        callbackUnderruns.store(0);
        if (!openDevice(device, requested, obtained))
            return false;
        // The callback may already run: it plays silence until the ring is there.
        SDL_LockAudioDevice(device->deviceId);
        bool ok = makeRing();
        SDL_UnlockAudioDevice(device->deviceId);
        if (!ok) {
            closeDevice(device);
            return false;
        }
    } else {
        if (!thread)
            thread = memNew<AudioThread>(this);
        if (!thread || !thread->start())
            return false;
    }
    open = 1;
    return true;
}

void AudioOutput::shutdown()
{
    if (!open)
        return;
    logger.debug("Closing audio device...");
    if (useCallback) {
        closeDevice(device);
        if (callbackUnderruns.load())
            logger.debug("Underruns (callback): %u", callbackUnderruns.load());
    } else if (thread) {
        thread->stop();
    }
    open = 0;
}

bool AudioThread::onStart()
{
    underruns = 0;
    owner->callbackUnderruns.store(0);
    if (!AudioOutput::openDevice(owner->device, owner->requested, owner->obtained))
        return false;
    SDL_LockAudioDevice(owner->device->deviceId);
    bool ok = owner->makeRing();
    SDL_UnlockAudioDevice(owner->device->deviceId);
    if (!ok)
        AudioOutput::closeDevice(owner->device);
    return ok;
}

bool AudioThread::step()
{
    platformSleepMs(1);
    return true;
}

void AudioThread::onStop()
{
    AudioOutput::closeDevice(owner->device);
    owner->freeRing();
    underruns = owner->callbackUnderruns.load();
    if (underruns)
        logger.debug("Underruns: %u", underruns);
}
