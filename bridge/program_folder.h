// The program's folder, where the files kept per sensor (its database, its user sets) are stored.
#pragma once

#include <filesystem>
#include <string>

// The folder with its trailing separator: the state folder a service manager gave the program when it has one,
// else the program's own folder (empty when its path has none).
std::string programFolder();
// The folder as the console shows it: "." when empty.
std::string shownFolder(const std::string& folder);
// A path in the folder as std::filesystem takes it. The folder is UTF-8 text; as a plain narrow path Windows
// would read it in its code page and lose letters.
std::filesystem::path pathInFolder(const std::string& folder, const std::string& fileName);
// Why no file can be made in `folder`, or empty when one can.
std::string unwritableReason(const std::string& folder);
