// Makes a run directory with a job folder, a file and a link to the outside, prints the run
// directory's path and ends normally, so that a test can look at what is left.
#include "platform/run_directory.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    auto& run = vorsa::RunDirectory::instance();
    const std::string job = run.createJobDirectory("cnp");
    std::ofstream(vorsa::RunDirectory::filePath(job, "1.cnp")) << "page";
    if (argc > 1 && ::symlink(argv[1], (job + "/outside").c_str()) != 0) return 2;
    std::printf("%s\n", run.path().c_str());
    return 0;
}
