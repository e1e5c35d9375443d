// What the tests that drive a shell script read back: its standard output as one text, and the part of it a
// script marks with a heading line "== name".
#pragma once

#include <array>
#include <cstdio>
#include <string>

namespace script_output {

// Standard output of `command` run through the shell (append " 2>&1" to have its errors as well).
inline std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    pclose(pipe);
    return output;
}

// The text from the line "== name" up to the next such line; empty when there is none.
inline std::string section(const std::string& output, const std::string& name) {
    const std::size_t start = output.find("== " + name + "\n");
    if (start == std::string::npos) return {};
    const std::size_t end = output.find("\n== ", start + 1);
    return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace script_output
