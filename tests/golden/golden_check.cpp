// The golden cases through the Windows plug-in (AEORVO.aex loaded through its
// PiPL), without GoogleTest: renders every case with the plug-in's default
// thread count, hashes the output as the golden test does and compares it with
// the recorded hashes. Prints one line per case and exits 1 when any case
// differs, fails to render or is missing on either side; 2 on bad usage, a
// module that does not load or a hash file without hashes.
// Run in the emulated VM by `make windows32-golden`.
//
// Usage: orvo_golden_check AEORVO.aex golden_hashes.txt [KEPT]
// KEPT: a folder of frames with the recorded hashes (NAME.bytes, as a passing
// Linux golden run leaves them in <build>/golden-frames); a differing case is
// then described pixel by pixel.
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "golden/golden_cases.h"

using namespace golden;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s AEORVO.aex golden_hashes.txt [KEPT-FRAMES-FOLDER]\n",
                     argv[0]);
        return 2;
    }
    const std::string module = argv[1], kept = argc == 4 ? argv[3] : "";
    std::map<std::string, std::string> recorded = LoadHashes(argv[2]);
    if (recorded.empty()) {
        std::fprintf(stderr, "%s: no recorded hashes in %s\n", argv[0], argv[2]);
        return 2;
    }
    try {
        harness::Host().LoadModule(module);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 2;
    }
    std::printf("pointer size %u; %s against %zu recorded hashes\n", unsigned(sizeof(void*)),
                module.c_str(), recorded.size());
    const auto start = std::chrono::steady_clock::now();
    int identical = 0, failed = 0;
    const std::vector<Case> cases = Cases();
    for (const Case& c : cases) {
        std::string problem;
        Frame frame;
        try {
            problem = RenderOne(module, c, 0, &frame);
        } catch (const std::exception& e) {
            problem = e.what();
        }
        const auto it = recorded.find(c.name);
        if (problem.empty() && it == recorded.end()) problem = "no recorded hash";
        if (problem.empty() && Hex(Fnv1a(frame.pixels)) != it->second)
            problem = "hash " + Hex(Fnv1a(frame.pixels)) + ", recorded " + it->second +
                      (kept.empty() ? ""
                                    : "; " + KeptDifference(kept + "/" + c.name + ".bytes", frame,
                                                            it->second));
        if (it != recorded.end()) recorded.erase(it);
        if (problem.empty()) {
            ++identical;
            std::printf("ok   %s\n", c.name.c_str());
        } else {
            ++failed;
            std::printf("FAIL %s: %s\n", c.name.c_str(), problem.c_str());
        }
        std::fflush(stdout);
    }
    for (const auto& [name, hash] : recorded) {
        ++failed;
        std::printf("FAIL %s: recorded case is not rendered\n", name.c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %d of %zu cases identical, %d failure(s), %.1f s\n",
                failed ? "FAILED" : "PASSED", identical, cases.size(), failed, seconds);
    return failed ? 1 : 0;
}
