#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace erp::server {

// Blanks, in the process's own copy of its arguments (what `ps` and /proc show), the values of
// the named options ("--name VALUE" or "--name=VALUE") and the password of any database URL
// among them. Returns a warning for each, for standard error; the caller must have read the
// arguments first.
std::vector<std::string> hideSecretArguments(int argc, char **argv, std::initializer_list<std::string_view> options);

// The first line of a file only its owner may read or write, or of standard input for "-".
// Throws std::runtime_error naming the file and what is wrong with it.
std::string readSecretFile(const std::string &path);

// True when the file may be read or written by others than its owner.
bool readableByOthers(const std::string &path);

} // namespace erp::server
