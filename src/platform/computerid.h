#pragma once
#include <string>

namespace plat {

// This computer's id as the folder table stores it: upper-case hexadecimal,
// no leading zeros, at most 8 digits. It is the first 32 bits of
// /etc/machine-id (else the file-system id of "/"); the environment variable
// CARRYVALE_COMPUTER_ID, when set, replaces it. Computed anew at each call.
std::string computerId();

}  // namespace plat
