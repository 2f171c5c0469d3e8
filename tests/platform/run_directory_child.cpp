// Makes a run directory with a job folder, a file and a link to the outside, prints the run
// directory's path and ends normally, so that a test can look at what is left.
#include "platform/run_directory.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>

// Registered before the run directory exists, so it runs after the folder went at exit: a
// worker that still asks for a job folder then must not bring the folder back.
void lateJob() {
    try {
        vorsa::RunDirectory::instance().createJobDirectory("late");
        std::printf("late:created\n");
    } catch (const std::exception&) {
        std::printf("late:refused\n");
    }
}

int main(int argc, char** argv) {
    std::atexit(lateJob);
    auto& run = vorsa::RunDirectory::instance();
    const std::string job = run.createJobDirectory("cnp");
    std::ofstream(vorsa::RunDirectory::filePath(job, "1.cnp")) << "page";
    if (argc > 1 && ::symlink(argv[1], (job + "/outside").c_str()) != 0)
        return 2;
    std::printf("%s\n", run.path().c_str());
    return 0;
}
