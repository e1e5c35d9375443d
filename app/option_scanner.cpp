// Option scanner: one call returns one option character, advancing through grouped flags ("-da") and
// option arguments given in the same element ("-i1.2.3.4") or the next one ("-i 1.2.3.4").
#include "option_scanner.h"

#include <cstdio>
#include <cstring>

namespace options {

int optind = 1;
char* optarg = nullptr;
int optopt = 0;
int opterr = 1;

namespace {
int position = 1;  // next option character inside argv[optind]

void diagnose(const char* programName, const char* text, int character) {
    if (opterr != 0) std::fprintf(stderr, "%s%s%c", programName, text, character);
}

void advanceWithinElement(char* const argv[]) {
    if (argv[optind][++position] == '\0') {
        ++optind;
        position = 1;
    }
}
}  // namespace

void resetScanner() {
    optind = 1;
    optarg = nullptr;
    optopt = 0;
    position = 1;
}

int getopt(int argc, char* const argv[], const char* optionString) {
    if (position == 1) {
        if (optind >= argc) return -1;
        const char* element = argv[optind];
        if (element[0] != '-' || element[1] == '\0') return -1;
        if (std::strcmp(element, "--") == 0) {
            ++optind;
            return -1;
        }
    }
    const int c = static_cast<unsigned char>(argv[optind][position]);
    optopt = c;
    const char* found = c == ':' ? nullptr : std::strchr(optionString, c);
    if (found == nullptr) {
        diagnose(argv[0], ": illegal option -- ", c);
        advanceWithinElement(argv);
        return '?';
    }
    if (found[1] == ':') {
        if (argv[optind][position + 1] != '\0') {
            optarg = &argv[optind][position + 1];
            ++optind;
        } else if (++optind >= argc) {
            diagnose(argv[0], ": option requires an argument -- ", c);
            position = 1;
            return '?';
        } else {
            optarg = argv[optind++];
        }
        position = 1;
        return c;
    }
    advanceWithinElement(argv);
    optarg = nullptr;
    return c;
}

}  // namespace options
