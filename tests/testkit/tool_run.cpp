#include "tests/testkit/tool_run.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace testkit {

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

ToolRun run_tool(const TempDir& dir, const std::string& command) {
    ToolRun r;
    const std::string err_path = dir.file("stderr.txt");
    FILE* pipe = popen((command + " 2>" + quoted(err_path)).c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> err = read_file(err_path);
    r.err.assign(err.begin(), err.end());
    return r;
}

}  // namespace testkit
