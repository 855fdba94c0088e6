#include "framework/app/Application.h"
#include "framework/log/Log.h"
#include "framework/platform/AudioOutput.h"
#include "framework/platform/NetService.h"
#include "framework/platform/SocketSystem.h"
#include "framework/platform/WindowManager.h"
#include "framework/threads/JobSystem.h"
#include "framework/threads/ThreadRecordRegistry.h"
#include "framework/vfs/VFS.h"

#include <cstdio>
#include <cstdlib>

Application* applicationInstance = nullptr;

Application::Application(const String& appName) : logger(appName), name(appName), configRoot(String("###"))
{
    applicationInstance = this;
}

Application::~Application() = default;

bool Application::loadConfigText(String&)
{
    return false;
}

void Application::storeConfigText(const String&)
{
}

namespace
{
u32 parseThreshold(const String& text)
{
    if (text.isEmpty() || !text.isNumeric())
        return Application::DEFAULT_WAIT_JOB_THRESHOLD;
    // All digits: only a value too large for 32 bits is refused.
    unsigned long long value = strtoull(text.c_str(), nullptr, 10);
    return value > 0xFFFFFFFFull ? Application::DEFAULT_WAIT_JOB_THRESHOLD : u32(value);
}
}

bool Application::applyCommonConfig()
{
    String text;
    if (loadConfigText(text))
        configRoot.load(text);

    waitJobThreshold_uS = parseThreshold(configRoot.findValue(String("common.waitJobThreshold_uS")));

    const String& fileName = configRoot.findValue(String("common.log.filename"));
    if (!fileName.isEmpty()) {
        FILE* f = fopen(fileName.c_str(), "w");
        if (f)
            logFile = f;
    }

    u8 console = LOG_INFO;
    u8 file = LOG_INFO;
    bool any = false;
    const String& consoleText = configRoot.findValue(String("common.log.consoleLevel"));
    if (!consoleText.isEmpty() && parseLogLevel(consoleText, console))
        any = true;
    const String& fileText = configRoot.findValue(String("common.log.fileLevel"));
    if (!fileText.isEmpty() && parseLogLevel(fileText, file))
        any = true;
    if (any) {
        consoleLogLevel = console;
        fileLogLevel = file;
    }
    return true;
}

void Application::shutdown(bool failed)
{
    onShutdown(failed);
    if (!failed) {
        String text;
        configRoot.save(text, String());
        storeConfigText(text);
    }
    // Services that exist are closed in this order. Only the VFS and the job system are ever
    // created (by the tool's init).
    if (vfs) {
        VFS::close(vfs);
        vfs = nullptr;
    }
    if (jobs) {
        jobs->stopWorkers();
        memDelete(jobs);
        jobs = nullptr;
    }
    if (sockets) {
        sockets->shutdown();
        memDelete(sockets);
        sockets = nullptr;
    }
    if (network) {
        network->shutdown();
        memDelete(network);
        network = nullptr;
    }
    if (windows) {
        windows->shutdown();
        memDelete(windows);
        windows = nullptr;
    }
    closeAudio();
    if (threadRegistryOwned) {
        ThreadRecordRegistry::destroy();
        threadRegistryOwned = 0;
    }
}

bool Application::initJobSystem(const JobSettings& settings)
{
    if (jobs)
        return true;
    jobs = memNew<JobSystem>(configRoot.getSection(String("jobs")));
    if (!jobs)
        return false;
    if (jobs->startWorkers(settings))
        return true;
    // Workers already started must not outlive the job system.
    jobs->stopWorkers();
    memDelete(jobs);
    jobs = nullptr;
    return false;
}

void Application::closeAudio()
{
    if (!audio)
        return;
    audio->shutdown();
    memDelete(audio);
    audio = nullptr;
}
