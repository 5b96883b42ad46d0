#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace dizizoz {

// Errors of the client's own file rules (the system's errors travel as errno values).
enum class DiziZozFileError {
  notARegularFile = 1,  // a directory, FIFO, socket, device or symbolic link where a file was expected
  tooLarge,             // a file over the size cap of what it holds
};
const std::error_category& fileErrorCategory();
std::error_code make_error_code(DiziZozFileError error);

// Reads the whole content of the regular file `path`, of at most `maxBytes` bytes: how the client reads
// every file it keeps (queued records, key files). Opening never blocks (a FIFO would hang the reader)
// and never follows a symbolic link: anything but a regular file fails with notARegularFile before it is
// opened, a longer file with tooLarge before anything is read (so a huge file costs no memory). On failure
// `contents` is empty. Never throws; any thread.
std::error_code readRegularFile(const std::filesystem::path& path, std::size_t maxBytes,
                                std::string& contents);

}  // namespace dizizoz

template <>
struct std::is_error_code_enum<dizizoz::DiziZozFileError> : std::true_type {};
