#include "tests/tools/cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace clitest {
namespace {

std::string slurp(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

}  // namespace

nlohmann::json CliResult::json() const {
    nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << "standard output is not JSON:\n" << out;
    return doc;
}

CliResult run_cli(const std::vector<std::string>& args, const std::vector<std::string>& extra_env) {
    CliResult result;
    const char* tool = std::getenv("QUILLON_CLI");
    if (tool == nullptr) {
        ADD_FAILURE() << "QUILLON_CLI is not set";
        return result;
    }
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());

    // The two streams go to files of their own, so that neither can block the tool.
    testkit::TempDir dir;
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, tool, &actions, nullptr, pointers(argv).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "cannot run " << tool;
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
}

std::string make_sample(const testkit::TempDir& dir, const std::string& name,
                        const std::string& description_json) {
    const std::string spec = dir.file(name + ".json");
    const std::string image = dir.file(name + ".img");
    std::ofstream(spec) << description_json;
    const CliResult r = run_cli({"make-sample", "--spec", spec, "--out", image});
    EXPECT_EQ(r.status, 0) << r.err;
    return image;
}

}  // namespace clitest
