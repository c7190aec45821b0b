// Reading a whole file into memory.
#pragma once

#include <string>

// The bytes of the file `path` into `content`. False when it cannot be opened or read
// (`content` is then unspecified).
bool readWholeFile(const std::string& path, std::string& content);
