// Runs one command and reports its wall time, CPU times and peak resident
// memory (the child's ru_maxrss from wait4), on one line:
//   status=0 wall=2.345678 user=2.30 sys=0.04 maxrss_kib=4321
//
// usage: measure [-o RESULT] [-i STDOUT] -- COMMAND [ARGUMENT...]
//   -o RESULT  writes the line into RESULT instead of standard error
//   -i STDOUT  sends the command's standard output into the file STDOUT
//              (created or emptied); without it the command inherits ours
// The exit status is the command's, or 125 when it could not be run.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int usage() {
    std::fprintf(stderr, "usage: measure [-o RESULT] [-i STDOUT] -- COMMAND [ARGUMENT...]\n");
    return 125;
}

}  // namespace

int main(int argc, char** argv) {
    const char* result_name = nullptr;
    const char* stdout_name = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            result_name = argv[++i];
        else if (std::strcmp(argv[i], "-i") == 0 && i + 1 < argc)
            stdout_name = argv[++i];
        else
            return usage();
    }
    if (i >= argc) return usage();
    char** command = argv + i;

    int output = -1;
    if (stdout_name != nullptr) {
        output = open(stdout_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (output < 0) {
            std::fprintf(stderr, "measure: can't create %s: %s\n", stdout_name, std::strerror(errno));
            return 125;
        }
    }

    const double start = now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("measure: fork");
        return 125;
    }
    if (child == 0) {
        if (output >= 0 && dup2(output, STDOUT_FILENO) < 0) _exit(125);
        execvp(command[0], command);
        std::fprintf(stderr, "measure: can't run %s: %s\n", command[0], std::strerror(errno));
        _exit(125);
    }
    int status = 0;
    rusage usage_of_child{};
    while (wait4(child, &status, 0, &usage_of_child) < 0) {
        if (errno != EINTR) {
            std::perror("measure: wait4");
            return 125;
        }
    }
    const double wall = now() - start;
    const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::FILE* result = stderr;
    if (result_name != nullptr && (result = std::fopen(result_name, "w")) == nullptr) {
        std::fprintf(stderr, "measure: can't create %s\n", result_name);
        return 125;
    }
    std::fprintf(result, "status=%d wall=%.6f user=%.3f sys=%.3f maxrss_kib=%ld\n", exit_status,
                 wall, seconds(usage_of_child.ru_utime), seconds(usage_of_child.ru_stime),
                 usage_of_child.ru_maxrss);
    if (result != stderr) std::fclose(result);
    return exit_status;
}
