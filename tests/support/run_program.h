#pragma once

// Runs a program to its end for the end-to-end tests (POSIX only).

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace busdesk::testing {

struct Result {
    int exit = -1;  // -1 when it did not exit on its own
    std::string out;
    std::string err;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// `argv[0]` is the program's path. With `cleanEnv` its environment holds
// PATH alone, so the user's locale or a display cannot change what it says.
inline Result RunProgram(std::vector<std::string> argv, bool cleanEnv = true) {
    char outName[] = "/tmp/busdesk-run-out-XXXXXX";
    char errName[] = "/tmp/busdesk-run-err-XXXXXX";
    const int out = mkstemp(outName);
    const int err = mkstemp(errName);
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    char path[] = "PATH=/usr/bin:/bin";
    char* envp[] = {path, nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        if (cleanEnv) {
            execve(cargv[0], cargv.data(), envp);
        } else {
            execv(cargv[0], cargv.data());
        }
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(out);
    close(err);
    Result r;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(outName);
    r.err = Slurp(errName);
    unlink(outName);
    unlink(errName);
    return r;
}

#ifdef BUSDESK_CLI_PATH
// busdesk-cli with `args`, as the end-to-end tests start it.
inline Result RunCli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {BUSDESK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(std::move(argv));
}
#endif

}  // namespace busdesk::testing
