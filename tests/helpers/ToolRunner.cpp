#include "tests/helpers/ToolRunner.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string ToolResult::body() const
{
    size_t nl = out.find('\n');
    return nl == std::string::npos ? std::string() : out.substr(nl + 1);
}

pid_t startTool(const std::vector<std::string>& args, const std::string& cwd, int& output, int pipeBytes)
{
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return -1;
    // Sized before the tool runs: once it has written, the kernel may refuse to shrink the pipe.
    if (pipeBytes && fcntl(pipefd[0], F_SETPIPE_SZ, pipeBytes) < 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], 1);
        dup2(pipefd[1], 2);
        close(pipefd[0]);
        close(pipefd[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        std::string tool = MORDAX_TOOL;
        argv.push_back(tool.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    close(pipefd[1]);
    if (pid < 0) {
        close(pipefd[0]);
        return -1;
    }
    output = pipefd[0];
    return pid;
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& cwd)
{
    ToolResult r;
    int output = -1;
    pid_t pid = startTool(args, cwd, output);
    if (pid < 0)
        return r;
    char buf[65536];
    ssize_t n;
    while ((n = read(output, buf, sizeof buf)) > 0)
        r.out.append(buf, size_t(n));
    close(output);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string scratchDirectory(const std::string& name)
{
    fs::path p = fs::path(MORDAX_BINARY_DIR) / "scratch" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p.string();
}

std::string readFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void writeFileBytes(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

std::vector<std::string> listTree(const std::string& dir)
{
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir))
        out.push_back(fs::relative(e.path(), dir).string());
    std::sort(out.begin(), out.end());
    return out;
}
