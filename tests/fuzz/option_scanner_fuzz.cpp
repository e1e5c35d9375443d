// Fuzz target: the program's option scanner. The input is an argument vector, elements separated by NUL bytes;
// element 0, the program name, is added here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "option_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> elements{"CorvastrumGigeInterface"};
    std::string current;
    for (std::size_t i = 0; i < size && elements.size() < 64; ++i) {
        if (data[i] == 0) {
            elements.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) elements.push_back(current);
    std::vector<char*> argv;
    for (auto& element : elements) argv.push_back(element.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(elements.size());

    options::resetScanner();
    options::opterr = 0;
    for (int steps = 0; options::getopt(argc, argv.data(), "f:u:n:s:i:hda") != -1; ++steps) {
        // Every option consumes at least one character: more results than characters is a loop.
        if (steps > static_cast<int>(size) + argc) std::abort();
        if (options::optarg != nullptr) (void)std::strlen(options::optarg);
    }
    if (options::optind < 1 || options::optind > argc) std::abort();
    return 0;
}
