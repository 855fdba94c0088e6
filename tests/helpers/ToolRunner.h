#pragma once
// Runs the built tool in a child process and captures what it prints.
#include <string>
#include <sys/types.h>
#include <vector>

struct ToolResult
{
    int status = -1;
    std::string out;
    // What the tool printed after its banner line.
    std::string body() const;
};

ToolResult runTool(const std::vector<std::string>& args, const std::string& cwd = "");
// Starts the tool in cwd (this directory when empty) with both its output streams on one pipe:
// its process id and the pipe's read end in `output`, or -1 when it could not be started. A
// non-zero `pipeBytes` sets the pipe's size.
pid_t startTool(const std::vector<std::string>& args, const std::string& cwd, int& output, int pipeBytes = 0);

// A fresh, empty directory under the build tree; removed and made again on each call.
std::string scratchDirectory(const std::string& name);
std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
// Every path below dir (files and directories), sorted, relative to dir.
std::vector<std::string> listTree(const std::string& dir);
